#include "toolkit/qt/QtElements.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/Checked16.h"
#include "toolkit/qt/QtKeyMap.h"

namespace tarnset::qtk {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr int kFontPointSize = 9;  // the longest console line (80 characters) fits the window's first width

}  // namespace

// ---------------------------------------------------------------- shared

Env::Env(tk::Toolkit& toolkit, double dpiX, double dpiY)
    : toolkit_(toolkit),
      tppX_(kTwipsPerInch / (dpiX > 0 ? dpiX : 96.0)),
      tppY_(kTwipsPerInch / (dpiY > 0 ? dpiY : 96.0)) {}

int Env::pxX(std::int32_t twips) const {
  return static_cast<int>(std::lround(twips / tppX_));
}
int Env::pxY(std::int32_t twips) const {
  return static_cast<int>(std::lround(twips / tppY_));
}
std::int32_t Env::twipsX(int px) const {
  return static_cast<std::int32_t>(std::lround(px * tppX_));
}
std::int32_t Env::twipsY(int px) const {
  return static_cast<std::int32_t>(std::lround(px * tppY_));
}

QFont Env::fixedFont() const {
  // Requested by family; fontconfig serves a metric-compatible face where it is missing.
  QFont f(QStringLiteral("Courier New"), kFontPointSize);
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  return f;
}

QString toQt(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& s) {
  const QByteArray bytes = s.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString toQtLines(const std::string& text) {
  QString s = toQt(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

// ---------------------------------------------------------------- widgets

void MainWidget::closeEvent(QCloseEvent* e) {
  if (closing) closing();
  e->accept();
}

ClientArea::ClientArea(const Env& env, const std::vector<std::unique_ptr<LineAdapter>>& lines)
    : env_(env), lines_(lines) {}

void ClientArea::paintEvent(QPaintEvent* /*e*/) {
  QPainter p(this);
  for (const auto& line : lines_) {
    p.setPen(QPen(palette().color(line->dark() ? QPalette::Dark : QPalette::Light), 0));
    p.drawLine(env_.pxX(line->x1()), env_.pxY(line->y1()), env_.pxX(line->x2()), env_.pxY(line->y2()));
  }
}

void ClientArea::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (resized) resized();
}

void ListWidget::focusInEvent(QFocusEvent* e) {
  QListWidget::focusInEvent(e);
  if (focused) focused();
}

// ---------------------------------------------------------------- control adapters

template <class Iface, class W>
ControlAdapter<Iface, W>::ControlAdapter(WindowAdapter& window, W* widget)
    : window_(window), widget_(widget) {
  place();
  widget_->show();
}

template <class Iface, class W>
void ControlAdapter<Iface, W>::place() {
  const Env& env = window_.env();
  widget_->setGeometry(env.pxX(left_), env.pxY(top_), std::max(0, env.pxX(width_)),
                       std::max(0, env.pxY(height_)));
}

template <class Iface, class W>
FocusAdapter<Iface, W>::FocusAdapter(WindowAdapter& window, W* widget)
    : ControlAdapter<Iface, W>(window, widget) {
  widget->setFocusPolicy(Qt::StrongFocus);
  window.addToTabChain(widget);
}

template <class Iface, class W>
void FocusAdapter<Iface, W>::setFocus() {
  W* w = this->widget_;
  if (!w->isEnabled() || !w->isVisibleTo(this->window_.widget())) return;
  w->setFocus(Qt::OtherFocusReason);
}

template <class Iface, class W>
bool FocusAdapter<Iface, W>::hasFocus() const {
  return this->window_.widget()->focusWidget() == this->widget_;
}

template <class Iface, class W>
void FocusAdapter<Iface, W>::setTabStop(bool on) {
  this->widget_->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus);
}

template <class Iface, class W>
bool FocusAdapter<Iface, W>::tabStop() const {
  return (this->widget_->focusPolicy() & Qt::TabFocus) != 0;
}

template <class Iface, class W>
void FocusAdapter<Iface, W>::moveToEndOfTabOrder() {
  this->window_.moveToEndOfTabChain(this->widget_);
}

void PanelFrame::paintEvent(QPaintEvent* /*e*/) {
  if (!border) return;
  QPainter p(this);
  const int top = std::min(kTopInset, height() / 2);
  const QRect outer(0, top, width() - 2, height() - top - 2);
  p.setPen(palette().color(QPalette::Dark));
  p.drawRect(outer);
  p.setPen(palette().color(QPalette::Light));
  p.drawRect(outer.translated(1, 1));
}

FrameAdapter::FrameAdapter(WindowAdapter& window, QWidget* parent)
    : ControlAdapter(window, new PanelFrame(parent)) {
  setBorder(true);
}

void FrameAdapter::setBorder(bool on) {
  border_ = on;
  widget_->border = on;
  widget_->update();
}

ListBoxAdapter::ListBoxAdapter(WindowAdapter& window, QWidget* parent)
    : FocusAdapter(window, new ListWidget(parent)) {
  widget_->setSelectionMode(QAbstractItemView::SingleSelection);
  widget_->setTextElideMode(Qt::ElideNone);  // column-aligned lines: scroll, never cut with "..."
  widget_->setUniformItemSizes(true);
  widget_->setFont(window.env().fixedFont());
  widget_->focused = [this, alive = window.alive()] {
    if (!*alive) return;
    window_.env().guarded([&] {
      if (onGotFocus) onGotFocus();
    });
  };
}

void ListBoxAdapter::clear() {
  widget_->clear();
}

void ListBoxAdapter::addItem(const std::string& text) {
  narrow16(std::int64_t{widget_->count()} + 1);  // the count must stay a 16-bit value
  widget_->addItem(toQt(text));
}

void ListBoxAdapter::setItemText(std::int16_t n, const std::string& text) {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  widget_->item(n)->setText(toQt(text));  // keeps the selection and the scroll position
}

std::string ListBoxAdapter::itemText(std::int16_t n) const {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  return fromQt(widget_->item(n)->text());
}

std::int16_t ListBoxAdapter::listCount() const {
  return static_cast<std::int16_t>(widget_->count());
}

std::int16_t ListBoxAdapter::listIndex() const {
  const QListWidgetItem* current = widget_->currentItem();
  if (current == nullptr || !current->isSelected()) return -1;
  return static_cast<std::int16_t>(widget_->currentRow());
}

void ListBoxAdapter::setListIndex(std::int16_t n) {
  if (n < -1 || n >= listCount()) throw std::out_of_range("List index outside the list");
  if (n < 0) {
    widget_->selectionModel()->clear();
    return;
  }
  widget_->setCurrentRow(n, QItemSelectionModel::ClearAndSelect);
  widget_->scrollToItem(widget_->item(n));
}

ButtonAdapter::ButtonAdapter(WindowAdapter& window, QWidget* parent)
    : FocusAdapter(window, new QPushButton(parent)) {
  widget_->setAutoDefault(false);
  QObject::connect(widget_, &QPushButton::clicked, widget_, [this, alive = window.alive()] {
    if (!*alive) return;
    window_.env().guarded([&] {
      if (onClick) onClick();
    });
  });
}

void ButtonAdapter::setCaption(const std::string& text) {
  caption_ = text;
  widget_->setText(toQt(text));
}

void ButtonAdapter::setEnabled(bool on) {
  enabled_ = on;
  widget_->setEnabled(on);
}

void ButtonAdapter::setDefault(bool on) {
  if (on) window_.makeSoleDefault(this);
  default_ = on;
  widget_->setDefault(on);
}

void ButtonAdapter::dropDefault() {
  default_ = false;
  widget_->setDefault(false);
}

void ButtonAdapter::setCancel(bool on) {
  if (on) window_.makeSoleCancel(this);
  cancel_ = on;
}

bool ButtonAdapter::usable() const {
  return enabled_ && widget_->isVisibleTo(window_.widget());
}

LabelAdapter::LabelAdapter(WindowAdapter& window, QWidget* parent)
    : ControlAdapter(window, new QLabel(parent)) {
  widget_->setTextFormat(Qt::PlainText);
  widget_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  setCaption("");
}

void LabelAdapter::setCaption(const std::string& text) {
  // The port label is set on every tick: an unchanged caption costs no layout.
  if (captionSet_ && text == caption_) return;
  captionSet_ = true;
  caption_ = text;
  widget_->setText(toQtLines(text));
  const QSize size = widget_->sizeHint();
  width_ = window_.env().twipsX(size.width());
  height_ = window_.env().twipsY(size.height());
  place();
}

void LabelAdapter::move(std::int32_t left, std::int32_t top, std::int32_t /*width*/,
                        std::int32_t /*height*/) {
  left_ = left;
  top_ = top;
  place();
}

void LabelAdapter::place() {
  const Env& env = window_.env();
  widget_->setGeometry(env.pxX(left_), env.pxY(top_), env.pxX(width_), env.pxY(height_));
}

void LabelAdapter::setTip(const std::string& text) {
  // Like the caption, a tip may be set on every tick.
  if (text == tip_) return;
  tip_ = text;
  widget_->setToolTip(toQtLines(text));
}

void LabelAdapter::setForeColor(tk::SysColor c) {
  // Set on every tick too: a palette set again would redraw the label each time.
  if (colorSet_ && c == color_) return;
  colorSet_ = true;
  color_ = c;
  QPalette p = widget_->palette();
  const QPalette app = QApplication::palette(widget_);
  const QColor color = c == tk::SysColor::ButtonText ? app.color(QPalette::Active, QPalette::ButtonText)
                                                     : app.color(QPalette::Disabled, QPalette::WindowText);
  for (auto group : {QPalette::Active, QPalette::Inactive}) p.setColor(group, QPalette::WindowText, color);
  widget_->setPalette(p);
}

TextPaneAdapter::TextPaneAdapter(WindowAdapter& window, QWidget* parent)
    : FocusAdapter(window, new QPlainTextEdit(parent)) {
  widget_->setReadOnly(true);
  widget_->setLineWrapMode(QPlainTextEdit::NoWrap);
  widget_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  widget_->setFont(window.env().fixedFont());
}

void TextPaneAdapter::setText(const std::string& text) {
  text_ = text;
  widget_->setPlainText(toQtLines(text));
}

void LineAdapter::setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  canvas_.update();
}

// ---------------------------------------------------------------- menus

MenuItemAdapter::MenuItemAdapter(Env& env, QMenu& menu, const std::string& caption,
                                 std::shared_ptr<bool> alive)
    : caption_(caption), action_(menu.addAction(toQt(caption))) {
  QObject::connect(action_, &QAction::triggered, action_, [this, &env, alive = std::move(alive)] {
    if (!*alive || !enabled_) return;
    // A checkable action toggles itself when chosen; only the logic sets the mark.
    action_->setChecked(checked_);
    env.guarded([&] {
      if (onClick) onClick();
    });
  });
}

void MenuItemAdapter::setChecked(bool on) {
  checked_ = on;
  // An item becomes checkable when the logic first marks it, so that plain commands
  // (such as Exit) are not drawn with an empty check box.
  if (on) action_->setCheckable(true);
  action_->setChecked(on);
}

void MenuItemAdapter::setTip(const std::string& text) {
  tip_ = text;
  action_->setToolTip(toQt(text));
  action_->setStatusTip(toQt(text));
}

void MenuItemAdapter::setEnabled(bool on) {
  enabled_ = on;
  action_->setEnabled(on);
}

MenuAdapter::MenuAdapter(Env& env, QMenu* menu, std::string caption, std::shared_ptr<bool> alive)
    : env_(env), menu_(menu), caption_(std::move(caption)), alive_(std::move(alive)) {
  menu_->setToolTipsVisible(true);
  QObject::connect(menu_, &QMenu::aboutToShow, menu_, [this, alive = alive_] {
    if (!*alive) return;
    env_.guarded([&] {
      if (onAboutToShow) onAboutToShow();
    });
  });
}

tk::MenuItem& MenuAdapter::addItem(const std::string& caption) {
  items_.push_back(std::make_unique<MenuItemAdapter>(env_, *menu_, caption, alive_));
  return *items_.back();
}

tk::Menu& MenuAdapter::addSubMenu(const std::string& caption) {
  subMenus_.push_back(std::make_unique<MenuAdapter>(env_, menu_->addMenu(toQt(caption)), caption, alive_));
  return *subMenus_.back();
}

void MenuAdapter::addSeparator() {
  menu_->addSeparator();
}

// ---------------------------------------------------------------- main window

WindowAdapter::WindowAdapter(Env& env) : env_(env), widget_(std::make_unique<MainWidget>()) {
  client_ = new ClientArea(env_, lines_);
  client_->setFont(env_.fixedFont());
  widget_->setCentralWidget(client_);
  widget_->closing = [this, alive = alive_] {
    if (*alive) runUnload();
  };
  client_->resized = [this, alive = alive_] {
    if (!*alive) return;
    env_.guarded([&] {
      if (onResize) onResize();
    });
  };
  env_.windows.push_back(this);
}

WindowAdapter::~WindowAdapter() {
  *alive_ = false;
  std::erase(env_.windows, this);
  widget_.reset();  // the widgets go first: their callbacks see the token and stay quiet
}

void WindowAdapter::setCaption(const std::string& text) {
  caption_ = text;
  widget_->setWindowTitle(toQt(text));
}

std::int32_t WindowAdapter::scaleWidth() const {
  return env_.twipsX(client_->width());
}
std::int32_t WindowAdapter::scaleHeight() const {
  return env_.twipsY(client_->height());
}
std::int32_t WindowAdapter::left() const {
  return env_.twipsX(widget_->frameGeometry().x());
}
std::int32_t WindowAdapter::top() const {
  return env_.twipsY(widget_->frameGeometry().y());
}
std::int32_t WindowAdapter::width() const {
  return env_.twipsX(widget_->frameGeometry().width());
}
std::int32_t WindowAdapter::height() const {
  return env_.twipsY(widget_->frameGeometry().height());
}

void WindowAdapter::move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  // The logic gives the outer frame; Qt sizes the inner geometry.
  const QRect frame = widget_->frameGeometry();
  const QRect inner = widget_->geometry();
  const int extraW = frame.width() - inner.width();
  const int extraH = frame.height() - inner.height();
  widget_->resize(std::max(1, env_.pxX(width) - extraW), std::max(1, env_.pxY(height) - extraH));
  widget_->move(env_.pxX(left), env_.pxY(top));
  // Lay out at once so that the client size is current even before the window is shown.
  if (QLayout* l = widget_->layout()) {
    l->invalidate();
    l->activate();
  }
}

void WindowAdapter::show() {
  unloaded_ = false;
  widget_->show();
}

bool WindowAdapter::isShown() const {
  return widget_->isVisible();
}

void WindowAdapter::unload() {
  const auto alive = alive_;
  runUnload();
  if (*alive) widget_->hide();
}

void WindowAdapter::runUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto alive = alive_;
  env_.guarded([&] {
    if (onQueryUnload) onQueryUnload();
  });
  if (!*alive) return;
  env_.guarded([&] {
    if (onUnload) onUnload();
  });
}

QWidget* WindowAdapter::parentWidget(tk::Parent parent) const {
  if (parent == nullptr) return client_;
  for (const auto& f : frames_) {
    if (f.get() == parent) return f->widget();
  }
  throw std::invalid_argument("The parent frame belongs to another window");
}

tk::Menu& WindowAdapter::addMenu(const std::string& caption) {
  QMenuBar* bar = widget_->menuBar();
  bar->show();  // counts in the layout before the window is shown, so the client size is right
  QMenu* menu = bar->addMenu(toQt(caption));
  menus_.push_back(std::make_unique<MenuAdapter>(env_, menu, caption, alive_));
  return *menus_.back();
}

tk::Frame& WindowAdapter::addFrame(tk::Parent parent) {
  frames_.push_back(std::make_unique<FrameAdapter>(*this, parentWidget(parent)));
  return *frames_.back();
}

tk::ListBox& WindowAdapter::addListBox(tk::Parent parent) {
  listBoxes_.push_back(std::make_unique<ListBoxAdapter>(*this, parentWidget(parent)));
  return *listBoxes_.back();
}

tk::CommandButton& WindowAdapter::addButton(tk::Parent parent) {
  buttons_.push_back(std::make_unique<ButtonAdapter>(*this, parentWidget(parent)));
  return *buttons_.back();
}

tk::Label& WindowAdapter::addLabel(tk::Parent parent) {
  labels_.push_back(std::make_unique<LabelAdapter>(*this, parentWidget(parent)));
  return *labels_.back();
}

tk::TextPane& WindowAdapter::addTextPane(tk::Parent parent) {
  textPanes_.push_back(std::make_unique<TextPaneAdapter>(*this, parentWidget(parent)));
  return *textPanes_.back();
}

tk::Line& WindowAdapter::addLine() {
  // An etched rule is a dark line with a light one under it: lines alternate.
  lines_.push_back(std::make_unique<LineAdapter>(*client_, lines_.size() % 2 == 0));
  client_->update();
  return *lines_.back();
}

void WindowAdapter::addToTabChain(QWidget* w) {
  tabChain_.push_back(w);
  applyTabChain();
}

void WindowAdapter::moveToEndOfTabChain(QWidget* w) {
  std::erase(tabChain_, w);
  tabChain_.push_back(w);
  applyTabChain();
}

void WindowAdapter::applyTabChain() {
  for (std::size_t i = 1; i < tabChain_.size(); ++i) QWidget::setTabOrder(tabChain_[i - 1], tabChain_[i]);
}

void WindowAdapter::makeSoleDefault(ButtonAdapter* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b && other->isDefault()) other->dropDefault();
  }
}

void WindowAdapter::makeSoleCancel(ButtonAdapter* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b) other->dropCancel();
  }
}

bool WindowAdapter::routeKey(QWidget* receiver, QKeyEvent* e) {
  const auto code = keyCodeFor(e->key(), e->modifiers());
  const std::int16_t shift = shiftStateFor(e->modifiers());
  const auto alive = alive_;
  std::int16_t key = code.value_or(0);

  if (code) {
    env_.guarded([&] {
      if (onKeyDown) onKeyDown(key, shift);
    });
    if (!*alive || key == 0) return true;
    const auto list = std::find_if(listBoxes_.begin(), listBoxes_.end(),
                                   [receiver](const auto& l) { return l->widget() == receiver; });
    if (list != listBoxes_.end()) {
      ListBoxAdapter& target = **list;
      env_.guarded([&] {
        if (target.onKeyDown) target.onKeyDown(key, shift);
      });
      if (!*alive || key == 0) return true;
    }
  }

  const QString text = e->text();
  if (text.size() == 1 && text.at(0).unicode() > 0 && text.at(0).unicode() < 256) {
    const auto button = std::find_if(buttons_.begin(), buttons_.end(),
                                     [receiver](const auto& b) { return b->widget() == receiver; });
    if (button != buttons_.end()) {
      ButtonAdapter& target = **button;
      const char typed = static_cast<char>(text.at(0).unicode());
      env_.guarded([&] {
        if (target.onKeyPress) target.onKeyPress(typed);
      });
      if (!*alive) return true;
    }
  }

  if (key == tk::Key::Enter || key == tk::Key::Escape) {
    for (const auto& button : buttons_) {
      const bool role = key == tk::Key::Enter ? button->isDefault() : button->isCancel();
      if (role && button->usable()) {
        button->widget()->click();
        return true;
      }
    }
  }
  return false;
}

// ---------------------------------------------------------------- timer and watch

TimerAdapter::TimerAdapter(Env& env) {
  timer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer_, &QTimer::timeout, &timer_, [this, &env] {
    env.guarded([&] {
      if (onTick) onTick();
    });
  });
}

void TimerAdapter::setInterval(std::int32_t ms) {
  if (ms < 0) throw std::out_of_range("Timer interval below 0");
  interval_ = ms;
  apply();
}

void TimerAdapter::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  apply();
}

void TimerAdapter::apply() {
  if (enabled_ && interval_ > 0) {
    timer_.start(interval_);  // (re)starts the count
  } else {
    timer_.stop();
  }
}

WatchAdapter::WatchAdapter(Env& env, int fd, std::function<void()> onReadable)
    : env_(env), notifier_(fd, QSocketNotifier::Read), onReadable_(std::move(onReadable)) {
  QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] {
    env_.guarded([&] {
      if (onReadable_) onReadable_();
    });
  });
  notifier_.setEnabled(env_.modalDepth == 0);
  env_.watches.push_back(this);
}

WatchAdapter::~WatchAdapter() {
  std::erase(env_.watches, this);
}

}  // namespace tarnset::qtk
