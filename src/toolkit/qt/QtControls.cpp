#include "toolkit/qt/QtControls.h"

#include <QApplication>
#include <QPainter>
#include <cmath>

#include "toolkit/core/DisplayText.h"

namespace tarnset::qtk {

// ---------------------------------------------------------------- shared

Env::Env(tk::Toolkit& toolkit, double dpiX, double dpiY)
    : toolkit_(toolkit),
      dpiX_(dpiX > 0 ? dpiX : 96.0),
      dpiY_(dpiY > 0 ? dpiY : 96.0),
      tppX_(tk::kTwipsPerInch / dpiX_),
      tppY_(tk::kTwipsPerInch / dpiY_) {}

int Env::pxX(std::int32_t twips) const {
  return tk::pixelsFor(twips, dpiX_);
}
int Env::pxY(std::int32_t twips) const {
  return tk::pixelsFor(twips, dpiY_);
}
std::int32_t Env::twipsX(int px) const {
  return tk::twipsFor(px, dpiX_);
}
std::int32_t Env::twipsY(int px) const {
  return tk::twipsFor(px, dpiY_);
}

QFont Env::fixedFont() const {
  // Requested by family; fontconfig serves a metric-compatible face where it is missing.
  QFont f(QString::fromLatin1(tk::kFontFamily), tk::kFontPointSize);
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  return f;
}

QString toQt(const std::string& text) {
  return QString::fromStdU16String(tk::displayText(text));
}

QString toQtLines(const std::string& text) {
  return QString::fromStdU16String(tk::displayLines(text, u"\n"));
}

std::string fromQt(const QString& s) {
  return tk::programText(s.toStdU16String());
}

// ---------------------------------------------------------------- controls

void PanelFrame::paintEvent(QPaintEvent* /*e*/) {
  if (!border) return;
  QPainter p(this);
  const int top = std::min(tk::kFrameTopInsetPx, height() / 2);
  const QRect outer(0, top, width() - 2, height() - top - 2);
  p.setPen(palette().color(QPalette::Dark));
  p.drawRect(outer);
  p.setPen(palette().color(QPalette::Light));
  p.drawRect(outer.translated(1, 1));
}

FrameAdapter::FrameAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget)
    : QtControl(window, parent, env, new PanelFrame(parentWidget)) {}

void FrameAdapter::borderNative() {
  widget_->border = border_;
  widget_->update();
}

ListBoxAdapter::ListBoxAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget)
    : QtControl(window, parent, env, new QListWidget(parentWidget)) {
  widget_->setSelectionMode(QAbstractItemView::SingleSelection);
  widget_->setTextElideMode(Qt::ElideNone);  // column-aligned lines: scroll, never cut with "..."
  widget_->setUniformItemSizes(true);
  QObject::connect(widget_, &QListWidget::itemSelectionChanged, widget_, [this, alive = window.alive()] {
    if (!*alive || selecting_) return;
    const QListWidgetItem* current = widget_->currentItem();
    userSelected(current != nullptr && current->isSelected()
                     ? static_cast<std::int16_t>(widget_->currentRow())
                     : std::int16_t{-1});
  });
}

void ListBoxAdapter::clearedNative() {
  selecting_ = true;
  widget_->clear();
  selecting_ = false;
}

void ListBoxAdapter::addedNative(const std::string& text) {
  widget_->addItem(toQt(text));
}

void ListBoxAdapter::changedNative(std::int16_t n) {
  // Keeps the selection and the scroll position.
  widget_->item(n)->setText(toQt(items_[static_cast<std::size_t>(n)]));
}

void ListBoxAdapter::selectedNative() {
  selecting_ = true;
  if (index_ < 0) {
    widget_->selectionModel()->clear();
  } else {
    widget_->setCurrentRow(index_, QItemSelectionModel::ClearAndSelect);
    widget_->scrollToItem(widget_->item(index_));
  }
  selecting_ = false;
}

ButtonAdapter::ButtonAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget)
    : QtControl(window, parent, env, new QPushButton(parentWidget)) {
  widget_->setAutoDefault(false);
  QObject::connect(widget_, &QPushButton::clicked, widget_, [this, alive = window.alive()] {
    if (*alive) fireClick();
  });
}

LabelAdapter::LabelAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env, QWidget* parentWidget)
    : QtControl(window, parent, env, new QLabel(parentWidget)) {
  widget_->setTextFormat(Qt::PlainText);
  widget_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  setCaption("");
}

std::pair<std::int32_t, std::int32_t> LabelAdapter::measure() const {
  const QSize size = widget_->sizeHint();
  return {env_.twipsX(size.width()), env_.twipsY(size.height())};
}

void LabelAdapter::colorNative() {
  QPalette p = widget_->palette();
  const QPalette app = QApplication::palette(widget_);
  const QColor color = color_ == tk::SysColor::ButtonText
                           ? app.color(QPalette::Active, QPalette::ButtonText)
                           : app.color(QPalette::Disabled, QPalette::WindowText);
  for (auto group : {QPalette::Active, QPalette::Inactive}) p.setColor(group, QPalette::WindowText, color);
  widget_->setPalette(p);
}

TextPaneAdapter::TextPaneAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env,
                                 QWidget* parentWidget)
    : QtControl(window, parent, env, new QPlainTextEdit(parentWidget)) {
  widget_->setReadOnly(true);
  widget_->setLineWrapMode(QPlainTextEdit::NoWrap);
  widget_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

TextFieldAdapter::TextFieldAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env,
                                   QWidget* parentWidget)
    : QtControl(window, parent, env, new QLineEdit(parentWidget)) {
  QObject::connect(widget_, &QLineEdit::textEdited, widget_,
                   [this, alive = window.alive()](const QString& s) {
                     if (*alive) userEdited(fromQt(s));
                   });
}

DropDownAdapter::DropDownAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env,
                                 QWidget* parentWidget)
    : QtControl(window, parent, env, new QComboBox(parentWidget)) {
  QObject::connect(widget_, &QComboBox::currentIndexChanged, widget_, [this, alive = window.alive()](int n) {
    if (*alive && !selecting_) userPicked(static_cast<std::int16_t>(n));
  });
}

void DropDownAdapter::clearedNative() {
  selecting_ = true;
  widget_->clear();
  selecting_ = false;
}

void DropDownAdapter::addedNative(const std::string& text) {
  selecting_ = true;  // the first entry becomes the current one
  widget_->addItem(toQt(text));
  widget_->setCurrentIndex(index_);
  selecting_ = false;
}

void DropDownAdapter::selectedNative() {
  selecting_ = true;
  widget_->setCurrentIndex(index_);
  selecting_ = false;
}

CheckBoxAdapter::CheckBoxAdapter(tk::WindowCore& window, tk::FrameCore* parent, Env& env,
                                 QWidget* parentWidget)
    : QtControl(window, parent, env, new QCheckBox(parentWidget)) {
  QObject::connect(widget_, &QCheckBox::clicked, widget_, [this, alive = window.alive()](bool on) {
    if (*alive) userClicked(on);
  });
}

// ---------------------------------------------------------------- menus

MenuItemAdapter::MenuItemAdapter(tk::Toolkit& toolkit, QMenu& menu, const std::string& caption,
                                 std::shared_ptr<bool> alive)
    : MenuItemCore(toolkit, caption), action_(menu.addAction(toQt(caption))) {
  QObject::connect(action_, &QAction::triggered, action_, [this, alive = std::move(alive)] {
    if (!*alive) return;
    // A checkable action toggles itself when chosen; only the logic sets the mark.
    action_->setChecked(checked_);
    choose();
  });
}

void MenuItemAdapter::captionNative() { action_->setText(toQt(caption_)); }

void MenuItemAdapter::checkedNative() {
  // An item becomes checkable when the logic first marks it, so that plain commands
  // (such as Exit) are not drawn with an empty check box.
  if (checked_) action_->setCheckable(true);
  action_->setChecked(checked_);
}

void MenuItemAdapter::tipNative() {
  action_->setToolTip(toQt(tip_));
  action_->setStatusTip(toQt(tip_));
}

MenuAdapter::MenuAdapter(tk::Toolkit& toolkit, QMenu* menu, const std::string& caption,
                         std::shared_ptr<bool> alive)
    : MenuCore(toolkit, caption), menu_(menu), alive_(std::move(alive)) {
  menu_->setToolTipsVisible(true);
  QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this, alive = alive_] {
    if (*alive) aboutToShow();
  });
}

std::unique_ptr<tk::MenuItemCore> MenuAdapter::makeItem(const std::string& caption) {
  return std::make_unique<MenuItemAdapter>(toolkit_, *menu_, caption, alive_);
}

std::unique_ptr<tk::MenuCore> MenuAdapter::makeSubMenu(const std::string& caption) {
  return std::make_unique<MenuAdapter>(toolkit_, menu_->addMenu(toQt(caption)), caption, alive_);
}

}  // namespace tarnset::qtk
