// Captions, window layout and panels of the KV-Tarn alignment window. All in twips.
#include <algorithm>
#include <cmath>

#include "model/clsIndOp_RigTarn.h"
#include "toolkit/Toolkit.h"

namespace tarnset {
namespace {

constexpr std::int32_t kMargin = 120;
constexpr std::int32_t kButtonWidth = 1800;
constexpr std::int32_t kButtonHeight = 330;
constexpr std::int32_t kMonitorHeight = 2800;

std::int32_t atLeast1(std::int32_t v) {
  return std::max<std::int32_t>(v, 1);
}

}  // namespace

void clsIndOp_RigTarn::RigOpFunc_FormResource() {
  static const char* const kCaptions[] = {"Connect", "Reload(F5)", "Disp para"};
  for (std::size_t i = 0; i < 3; ++i) {
    if (form_.cmd00[i] != nullptr) form_.cmd00[i]->setCaption(kCaptions[i]);
  }
  if (tk::ListBox* ad = form_.lbo01[0]) {
    ad->clear();
    ad->addItem("[A/D]");
    for (int i = 0; i < 4; ++i) ad->addItem("----");
  }
  if (tk::ListBox* da = form_.lbo01[1]) {
    da->clear();
    da->addItem("[D/A]");
    for (int i = 0; i < 9; ++i) da->addItem("----");
  }
  if (form_.lblProgress != nullptr) form_.lblProgress->setCaption(std::string(32, ' '));
}

void clsIndOp_RigTarn::RigOpFunc_FormLayout() {
  tk::MainWindow* w = form_.window;
  if (w == nullptr) return;
  if (!layoutDone_) {
    layoutDone_ = true;
    const tk::Toolkit& t = *form_.toolkit;
    const std::int32_t width = 9525;
    std::int32_t height = static_cast<std::int32_t>(std::floor(0.9 * t.screenHeight()));
    if (height < 6600) height = 6600;
    if (height > 9000) height = 8500;
    const std::int32_t left = (t.screenWidth() - width) / 2;
    const std::int32_t top = static_cast<std::int32_t>(0.3 * (t.screenHeight() - height));
    w->move(left, top, width, height);
  }
  const std::int32_t scaleW = w->scaleWidth();
  const std::int32_t scaleH = w->scaleHeight();

  // Buttons centred between the ends of the lower separator line.
  const tk::Line& sep = *form_.linSepa[1];
  const std::int32_t x1 = sep.x1(), x2 = sep.x2(), y1 = sep.y1();
  const std::int32_t row = 3 * kButtonWidth + 2 * kMargin;
  for (std::size_t i = 0; i < 3; ++i) {
    tk::CommandButton& b = *form_.cmd00[i];
    const std::int32_t left =
        x1 + ((x2 - x1) - row) / 2 + static_cast<std::int32_t>(i) * (kButtonWidth + kMargin);
    b.move(left, y1 + kMargin, kButtonWidth, kButtonHeight);
    b.setTabStop(true);
    b.moveToEndOfTabOrder();
    b.setVisible(true);
  }

  // The three panels share one rectangle below the buttons.
  const tk::CommandButton& last = *form_.cmd00[2];
  const std::int32_t panelTop = last.top() + last.height();
  const std::int32_t panelW = scaleW - 2 * kMargin;
  const std::int32_t panelH = atLeast1(scaleH - panelTop - kMargin);
  for (std::size_t i : {0u, 1u, 3u}) form_.fra01[i]->move(kMargin, panelTop, panelW, panelH);

  // Adjustment panel: the monitor frame with its two lists side by side, the console below.
  tk::Frame& monitors = *form_.fra01[2];
  monitors.move(kMargin, 180, panelW - 2 * kMargin, kMonitorHeight);
  monitors.setBorder(false);
  monitors.setVisible(true);
  const std::int32_t listW = (monitors.width() - 3 * kMargin) / 2;
  const std::int32_t listH = monitors.height() - kMargin;
  form_.lbo01[0]->move(kMargin, kMargin, listW, listH);
  form_.lbo01[0]->setVisible(true);
  form_.lbo01[1]->move(kMargin + listW + kMargin, kMargin, listW, listH);
  form_.lbo01[1]->setVisible(true);
  const std::int32_t consoleTop = monitors.top() + monitors.height() + kMargin;
  form_.lboConsole->move(monitors.left() + kMargin, consoleTop, panelW - 4 * kMargin,
                         atLeast1(panelH - consoleTop - 180));

  // Start panel: the title and the progress line, centred.
  tk::Label& title = *form_.lblTitle;
  title.move((panelW - title.width()) / 2, 240, title.width(), title.height());
  title.setVisible(true);
  tk::Label& progress = *form_.lblProgress;
  progress.move((panelW - progress.width()) / 2, title.top() + title.height() + 240, progress.width(),
                progress.height());
  progress.setVisible(true);

  // Parameter panel: the listing pane fills it.
  tk::TextPane& pane = *form_.txtDispPara;
  pane.move(kMargin, 240, panelW - 2 * kMargin, atLeast1(panelH - 360));
  pane.setTabStop(true);
  pane.moveToEndOfTabOrder();
  pane.setVisible(true);
}

void clsIndOp_RigTarn::refreshPanels() {
  const bool shielding = RigTarnProp_Shielding();
  const bool edit = RigTarnProp_EditEnabled();
  const bool para = RigTarnProp_DispPara();
  if (form_.fra01[0] == nullptr) return;
  form_.fra01[0]->setVisible(shielding);
  form_.fra01[1]->setVisible(edit);
  if (edit && !editPanelShown_ && form_.lboConsole != nullptr) form_.lboConsole->setFocus();
  editPanelShown_ = edit;
  form_.fra01[3]->setVisible(para);
  form_.cmd00[0]->setEnabled(!para);
  form_.cmd00[1]->setEnabled(edit);
  form_.cmd00[2]->setEnabled(!shielding);
  form_.cmd00[2]->setDefault(para);
  form_.cmd00[2]->setCancel(para);
}

}  // namespace tarnset
