#include "toolkit/qt/QtWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <stdexcept>

#include "toolkit/qt/QtKeyMap.h"

namespace tarnset::qtk {

// ---------------------------------------------------------------- every window

WindowSide::WindowSide(Env& env, tk::WindowCore& core) : env_(env), core_(core) {
  env_.windows.push_back(this);
}

WindowSide::~WindowSide() {
  std::erase(env_.windows, this);
}

tk::ControlNode* WindowSide::nodeOf(const QWidget* w) const {
  if (w == nullptr) return nullptr;
  for (const auto& c : core_.controls()) {
    const auto* of = dynamic_cast<const WidgetOf*>(c.get());
    if (of != nullptr && of->qwidget() == w) return c.get();
  }
  return nullptr;
}

tk::ControlNode* WindowSide::heldFocus() const {
  tk::ControlNode* c = nodeOf(topWidget()->focusWidget());
  return c != nullptr && c->canTakeFocus() ? c : nullptr;
}

void WindowSide::focusWidget(tk::ControlNode* c) {
  if (const auto* of = dynamic_cast<const WidgetOf*>(c)) of->qwidget()->setFocus(Qt::OtherFocusReason);
}

void WindowSide::clearFocus() {
  if (QWidget* f = topWidget()->focusWidget()) f->clearFocus();
}

QRect WindowSide::outer() const {
  const QRect f = topWidget()->frameGeometry();
  return {env_.twipsX(f.x()), env_.twipsY(f.y()), env_.twipsX(f.width()), env_.twipsY(f.height())};
}

void WindowSide::focusCameTo(const QWidget* w) {
  if (tk::ControlNode* c = nodeOf(w)) core_.focusArrived(c);
}

void WindowSide::applyTabChain() {
  const auto& chain = core_.tabOrder();
  for (std::size_t i = 1; i < chain.size(); ++i) {
    const auto* a = dynamic_cast<const WidgetOf*>(chain[i - 1]);
    const auto* b = dynamic_cast<const WidgetOf*>(chain[i]);
    if (a != nullptr && b != nullptr) QWidget::setTabOrder(a->qwidget(), b->qwidget());
  }
}

bool WindowSide::routeKey(QWidget* receiver, QKeyEvent* e) {
  tk::ControlNode* target = nodeOf(receiver);
  const auto alive = core_.alive();
  if (const auto code = keyCodeFor(e->key(), e->modifiers())) {
    const auto result = core_.routeKey(target, *code, shiftStateFor(e->modifiers()));
    if (result != tk::WindowCore::KeyResult::Passed || !*alive) return true;
  }
  // A character typed on a button; the key goes on to the button itself.
  const QString text = e->text();
  if (target != nullptr && text.size() == 1 && text.at(0).unicode() > 0 && text.at(0).unicode() < 256) {
    target->typed(static_cast<char>(text.at(0).unicode()));
  }
  return !*alive;
}

template <class Base>
QWidget* QtWindowBase<Base>::parentWidget(tk::FrameCore* parent) const {
  if (parent == nullptr) return clientWidget();
  const auto* of = dynamic_cast<const WidgetOf*>(parent);
  if (of == nullptr) throw std::invalid_argument("Not a frame of the Qt toolkit");
  return of->qwidget();
}

template class QtWindowBase<tk::MainWindowCore>;
template class QtWindowBase<tk::DialogCore>;

// ---------------------------------------------------------------- main window

void MainWidget::closeEvent(QCloseEvent* e) {
  if (closing) closing();
  e->accept();
}

ClientArea::ClientArea(const Env& env, const std::vector<std::unique_ptr<tk::LineCore>>& lines)
    : env_(env), lines_(lines) {}

void ClientArea::paintEvent(QPaintEvent* /*e*/) {
  QPainter p(this);
  for (const auto& line : lines_) {
    const auto* l = static_cast<const LineAdapter*>(line.get());
    p.setPen(QPen(palette().color(l->dark() ? QPalette::Dark : QPalette::Light), 0));
    p.drawLine(env_.pxX(l->x1()), env_.pxY(l->y1()), env_.pxX(l->x2()), env_.pxY(l->y2()));
  }
}

void ClientArea::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (resized) resized();
}

MainWindowAdapter::MainWindowAdapter(Env& env) : QtWindowBase(env), widget_(std::make_unique<MainWidget>()) {
  client_ = new ClientArea(env_, lines());
  client_->setFont(env_.fixedFont());
  widget_->setCentralWidget(client_);
  widget_->closing = [this, alive = alive_] {
    if (*alive) closedByUser();
  };
  client_->resized = [this, alive = alive_] {
    if (*alive) clientSizeChanged();
  };
}

MainWindowAdapter::~MainWindowAdapter() {
  *alive_ = false;
  widget_.reset();  // the widgets go first: their callbacks see the token and stay quiet
}

std::int32_t MainWindowAdapter::scaleWidth() const {
  return env_.twipsX(client_->width());
}
std::int32_t MainWindowAdapter::scaleHeight() const {
  return env_.twipsY(client_->height());
}
std::int32_t MainWindowAdapter::left() const {
  return outer().x();
}
std::int32_t MainWindowAdapter::top() const {
  return outer().y();
}
std::int32_t MainWindowAdapter::width() const {
  return outer().width();
}
std::int32_t MainWindowAdapter::height() const {
  return outer().height();
}

void MainWindowAdapter::move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
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

std::unique_ptr<tk::MenuCore> MainWindowAdapter::makeMenu(const std::string& caption) {
  QMenuBar* bar = widget_->menuBar();
  bar->show();  // counts in the layout before the window is shown, so the client size is right
  return std::make_unique<MenuAdapter>(toolkit_, bar->addMenu(toQt(caption)), caption, alive_);
}

std::unique_ptr<tk::TextPaneCore> MainWindowAdapter::makeTextPane(tk::FrameCore* parent) {
  return std::make_unique<TextPaneAdapter>(*this, parent, env_, parentWidget(parent));
}

std::unique_ptr<tk::LineCore> MainWindowAdapter::makeLine() {
  // An etched rule is a dark line with a light one under it: lines alternate.
  client_->update();
  return std::make_unique<LineAdapter>(*client_, lines().size() % 2 == 0);
}

// ---------------------------------------------------------------- dialog

DialogWidget::DialogWidget(QWidget* owner) : QWidget(owner, Qt::Dialog) {}

void DialogWidget::closeEvent(QCloseEvent* e) {
  if (closing) closing();
  e->accept();
}

DialogAdapter::DialogAdapter(Env& env, QWidget* owner) : QtWindowBase(env), widget_(new DialogWidget(owner)) {
  widget_->setFont(env_.fixedFont());
  widget_->setAttribute(Qt::WA_DeleteOnClose, false);
  widget_->closing = [this, alive = alive_] {
    if (*alive) close();
  };
  DialogAdapter::sizeNative();
}

DialogAdapter::~DialogAdapter() {
  *alive_ = false;
  delete widget_.data();  // nothing when its owner took it along
}

std::int32_t DialogAdapter::left() const {
  return shown_ || positioned_ ? outer().x() : left_;
}

std::int32_t DialogAdapter::top() const {
  return shown_ || positioned_ ? outer().y() : top_;
}

void DialogAdapter::sizeNative() {
  widget_->setFixedSize(std::max(1, env_.pxX(clientWidth_)), std::max(1, env_.pxY(clientHeight_)));
}

void DialogAdapter::moveNative() {
  widget_->move(env_.pxX(left_), env_.pxY(top_));
}

void DialogAdapter::showNative() {
  if (!positioned_) {
    // Centred over the window it belongs to, else on the screen.
    const QWidget* owner = widget_->parentWidget();
    QRect over;
    if (owner != nullptr && owner->isVisible()) {
      over = owner->frameGeometry();
    } else if (const QScreen* s = QGuiApplication::primaryScreen()) {
      over = s->availableGeometry();
    }
    widget_->move(over.center() - QPoint(widget_->width() / 2, widget_->height() / 2));
  }
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
}

}  // namespace tarnset::qtk
