// Captions, layout and panels of the KV-Tarn alignment window, and what the window shows
// of the model's monitors, progress and listing. All in twips.
#include <algorithm>
#include <cmath>

#include "instruments/InstrumentBench.h"
#include "shell/frmMain.h"
#include "toolkit/MsgBoxApp.h"
#include "toolkit/Toolkit.h"

namespace tarnset {
namespace {

constexpr std::int32_t kMargin = 120;
constexpr std::int32_t kButtonWidth = 1800;
constexpr std::int32_t kButtonHeight = 330;
constexpr std::int32_t kMonitorHeight = 2800;
constexpr std::int32_t kMeasureHeight = 300;

std::int32_t atLeast1(std::int32_t v) {
  return std::max<std::int32_t>(v, 1);
}

}  // namespace

void frmMain::RigOpFunc_FormResource() {
  static const char* const kCaptions[] = {"Connect", "Reload(F5)", "Disp para"};
  for (std::size_t i = 0; i < 3; ++i) cmd00_[i]->setCaption(kCaptions[i]);
  for (std::size_t b = 0; b < 2; ++b) {
    tk::ListBox& list = *lbo01_[b];
    list.clear();
    list.addItem(kMonitorHeader[b]);
    for (int i = 0; i < kMonitorLines[b]; ++i) list.addItem(kMonitorNotRead);
  }
  lblProgress_->setCaption(std::string(32, ' '));
}

void frmMain::modelReset() {
  RigOpFunc_FormResource();
}

void frmMain::monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t /*raw*/,
                                 const std::string& text) {
  lbo01_.at(static_cast<std::size_t>(bank))->setItemText(static_cast<std::int16_t>(line + 1), text);
}

// The progress line of a running clone read: one "o" per 33rd of the image received.
void frmMain::readProgress(std::int32_t lastAddress, std::int32_t endAddress) {
  std::int64_t f = endAddress > 0 ? 33 * std::int64_t{lastAddress} / endAddress : 0;
  f = std::clamp<std::int64_t>(f, 0, 32);  // never more than 32 marks, whatever the radio sent
  lblProgress_->setCaption(std::string(static_cast<std::size_t>(f), 'o') +
                           std::string(static_cast<std::size_t>(32 - f), '.'));
}

void frmMain::parameterListing(const std::vector<ParameterLine>& lines) {
  std::string text;
  for (const ParameterLine& l : lines) text += l.text() + "\r\n";
  txtDispPara_->setText(text);
}

void frmMain::procedureEnded(TarnProcedure /*which*/, bool completed) {
  if (completed) toolkit_.beep();
}

void frmMain::measurementChanged(const ItemMeasurement& m) {
  if (m.row < 0) {
    lblMeasure_->setCaption("");
    return;
  }
  lblMeasure_->setCaption(m.line());
  lblMeasure_->setForeColor(m.taken ? tk::SysColor::ButtonText : tk::SysColor::GrayText);
}

void frmMain::tuneEnded(const TuneResult& r) {
  if (controller_ != nullptr && controller_->RigOpFunc_Aligning()) return;  // Align All sums up
  if (r.ok) {
    toolkit_.beep();
    return;
  }
  MsgBoxApp(toolkit_, "The item was not tuned: " + r.why + ".",
            r.last.taken ? "Last measurement: " + r.last.line() : std::string());
}

void frmMain::alignProgress(const AlignStep& step, std::size_t done, std::size_t total) {
  lblMeasure_->setCaption("Align All: " + std::to_string(done) + " of " + std::to_string(total) + " done, " +
                          step.name + (step.ok ? " passed" : " did not pass"));
}

void frmMain::procedureRefused(TarnProcedure /*which*/, const std::string& message,
                               const std::string& details) {
  MsgBoxApp(toolkit_, message, details);
}

void frmMain::RigOpFunc_FormLayout() {
  tk::MainWindow* w = window_.get();
  if (!layoutDone_) {
    layoutDone_ = true;
    const tk::Toolkit& t = toolkit_;
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
  const tk::Line& sep = *linSepa_[1];
  const std::int32_t x1 = sep.x1(), x2 = sep.x2(), y1 = sep.y1();
  const std::int32_t row = 3 * kButtonWidth + 2 * kMargin;
  for (std::size_t i = 0; i < 3; ++i) {
    tk::CommandButton& b = *cmd00_[i];
    const std::int32_t left =
        x1 + ((x2 - x1) - row) / 2 + static_cast<std::int32_t>(i) * (kButtonWidth + kMargin);
    b.move(left, y1 + kMargin, kButtonWidth, kButtonHeight);
    b.setTabStop(true);
    b.moveToEndOfTabOrder();
    b.setVisible(true);
  }

  // The three panels share one rectangle below the buttons.
  const tk::CommandButton& last = *cmd00_[2];
  const std::int32_t panelTop = last.top() + last.height();
  const std::int32_t panelW = scaleW - 2 * kMargin;
  const std::int32_t panelH = atLeast1(scaleH - panelTop - kMargin);
  for (std::size_t i : {0u, 1u, 3u}) fra01_[i]->move(kMargin, panelTop, panelW, panelH);

  // Adjustment panel: the monitor frame with its two lists side by side, the console below.
  tk::Frame& monitors = *fra01_[2];
  monitors.move(kMargin, 180, panelW - 2 * kMargin, kMonitorHeight);
  monitors.setBorder(false);
  monitors.setVisible(true);
  const std::int32_t listW = (monitors.width() - 3 * kMargin) / 2;
  const std::int32_t listH = monitors.height() - kMargin;
  lbo01_[0]->move(kMargin, kMargin, listW, listH);
  lbo01_[0]->setVisible(true);
  lbo01_[1]->move(kMargin + listW + kMargin, kMargin, listW, listH);
  lbo01_[1]->setVisible(true);
  const std::int32_t consoleTop = monitors.top() + monitors.height() + kMargin;
  // With instruments on the bench, the measurement of the selected item has a line below
  // the console.
  const bool measuring = bench_ != nullptr && !bench_->setup().instruments.empty();
  const std::int32_t measureH = measuring ? kMeasureHeight + kMargin / 2 : 0;
  lboConsole_->move(monitors.left() + kMargin, consoleTop, panelW - 4 * kMargin,
                    atLeast1(panelH - consoleTop - 180 - measureH));
  lblMeasure_->move(monitors.left() + kMargin, lboConsole_->top() + lboConsole_->height() + kMargin / 2,
                    panelW - 4 * kMargin, kMeasureHeight);
  lblMeasure_->setVisible(measuring);

  // Start panel: the title and the progress line, centred.
  tk::Label& title = *lblTitle_;
  title.move((panelW - title.width()) / 2, 240, title.width(), title.height());
  title.setVisible(true);
  tk::Label& progress = *lblProgress_;
  progress.move((panelW - progress.width()) / 2, title.top() + title.height() + 240, progress.width(),
                progress.height());
  progress.setVisible(true);

  // Parameter panel: the listing pane fills it.
  tk::TextPane& pane = *txtDispPara_;
  pane.move(kMargin, 240, panelW - 2 * kMargin, atLeast1(panelH - 360));
  pane.setTabStop(true);
  pane.moveToEndOfTabOrder();
  pane.setVisible(true);
}

void frmMain::panelsChanged(const TarnPanels& p) {
  const TarnPanel before = panelShown_;
  panelShown_ = p.panel;
  fra01_[0]->setVisible(p.panel == TarnPanel::Start);
  fra01_[1]->setVisible(p.panel == TarnPanel::Adjust);
  fra01_[3]->setVisible(p.panel == TarnPanel::Parameters);
  // Leaving the listing gives the focus to its button; arriving at the adjustment panel
  // gives it to the console (so, from the listing, the console ends with it).
  if (before == TarnPanel::Parameters && p.panel != TarnPanel::Parameters) cmd00_[2]->setFocus();
  if (p.panel == TarnPanel::Adjust && before != TarnPanel::Adjust) lboConsole_->setFocus();
  cmd00_[0]->setEnabled(p.connectEnabled);
  cmd00_[1]->setEnabled(p.reloadEnabled);
  cmd00_[2]->setEnabled(p.dispParaEnabled);
  cmd00_[2]->setDefault(p.dispParaIsDefault);
  cmd00_[2]->setCancel(p.dispParaIsDefault);
}

}  // namespace tarnset
