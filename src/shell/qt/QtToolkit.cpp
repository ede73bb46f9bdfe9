#include "shell/qt/QtToolkit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <cmath>
#include <stdexcept>

#include "shell/qt/QtElements.h"

#if defined(__SANITIZE_ADDRESS__)
// The system's font configuration and message bus libraries keep what they set up until
// the process ends; every program with this toolkit would otherwise fail a leak-checking
// build for memory that is not its own.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif

namespace tarnset {

namespace qtk {

// Gives every main window its key preview. Installed on the application, it sees a key
// press before any widget; it acts only on the press's first receiver (the window's
// focus widget, or the window itself), not again while Qt passes an unused key up to
// the parents, and leaves the menu bar's own keyboard navigation alone.
class KeyRouter final : public QObject {
 public:
  explicit KeyRouter(Env& env) : env_(env) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* receiver = static_cast<QWidget*>(watched);
    QWidget* top = receiver->window();
    for (WindowAdapter* w : env_.windows) {
      if (w->widget() != top) continue;
      QWidget* first = top->focusWidget() != nullptr ? top->focusWidget() : top;
      if (receiver != first) return false;
      if (qobject_cast<QMenuBar*>(receiver) != nullptr) return false;
      return w->routeKey(receiver, static_cast<QKeyEvent*>(event));
    }
    return false;
  }

 private:
  Env& env_;
};

}  // namespace qtk

namespace {

QScreen* primaryScreen() {
  return QGuiApplication::primaryScreen();
}

}  // namespace

QtToolkit::QtToolkit() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw std::logic_error("The Qt toolkit needs a QApplication");
  }
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setQuitOnLastWindowClosed(false);
  const QScreen* screen = primaryScreen();
  const double dpiX = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
  const double dpiY = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
  env_ = std::make_unique<qtk::Env>(*this, dpiX, dpiY);
  router_ = std::make_unique<qtk::KeyRouter>(*env_);
  QCoreApplication::instance()->installEventFilter(router_.get());
}

QtToolkit::~QtToolkit() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(router_.get());
}

std::unique_ptr<tk::MainWindow> QtToolkit::createMainWindow() {
  return std::make_unique<qtk::WindowAdapter>(*env_);
}

std::unique_ptr<tk::Timer> QtToolkit::createTimer() {
  return std::make_unique<qtk::TimerAdapter>(*env_);
}

std::unique_ptr<tk::FdWatch> QtToolkit::watchReadable(int fd, std::function<void()> onReadable) {
  return std::make_unique<qtk::WatchAdapter>(*env_, fd, std::move(onReadable));
}

void QtToolkit::post(std::function<void()> f) {
  // The router lives as long as the toolkit: a call still queued when it goes is dropped.
  QMetaObject::invokeMethod(
      router_.get(), [this, f = std::move(f)] { guarded(f); }, Qt::QueuedConnection);
}

std::int16_t QtToolkit::messageBox(const std::string& text, const std::string& title,
                                   const std::string& details) {
  QWidget* parent = nullptr;
  for (qtk::WindowAdapter* w : env_->windows) {
    if (w->widget()->isVisible()) parent = w->widget();
  }
  // Watches pause while the box is open; the RAII guard resumes them however it ends.
  struct Modal {
    qtk::Env& env;
    explicit Modal(qtk::Env& e) : env(e) {
      if (env.modalDepth++ == 0) {
        for (auto* watch : env.watches) watch->setActive(false);
      }
    }
    ~Modal() {
      if (--env.modalDepth == 0) {
        for (auto* watch : env.watches) watch->setActive(true);
      }
    }
  } modal(*env_);
  QMessageBox box(QMessageBox::Critical, qtk::toQt(title), qtk::toQtLines(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  if (!details.empty()) box.setInformativeText(qtk::toQtLines(details));
  box.exec();
  return 1;
}

bool QtToolkit::modalActive() const {
  return env_->modalDepth > 0;
}

void QtToolkit::beep() {
  QApplication::beep();
}

std::int32_t QtToolkit::screenWidth() const {
  const QScreen* screen = primaryScreen();
  return screen != nullptr ? env_->twipsX(screen->availableGeometry().width()) : 0;
}

std::int32_t QtToolkit::screenHeight() const {
  const QScreen* screen = primaryScreen();
  return screen != nullptr ? env_->twipsY(screen->availableGeometry().height()) : 0;
}

std::int32_t QtToolkit::twipsPerPixelX() const {
  return static_cast<std::int32_t>(std::lround(env_->tppX()));
}

std::int32_t QtToolkit::twipsPerPixelY() const {
  return static_cast<std::int32_t>(std::lround(env_->tppY()));
}

void QtToolkit::quit(int exitCode) {
  quitRequested_ = true;
  exitCode_ = exitCode;
  // Without a running loop, exit() would only make the next loop (a message box's)
  // end at once; run() sees the request instead.
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(exitCode);
}

int QtToolkit::run() {
  if (quitRequested_) return exitCode_;
  return QApplication::exec();
}

QWidget* QtToolkit::widgetOf(tk::MainWindow& window) {
  auto* w = dynamic_cast<qtk::WindowAdapter*>(&window);
  return w != nullptr ? w->widget() : nullptr;
}

QWidget* QtToolkit::widgetOf(tk::Control& control) {
  if (auto* c = dynamic_cast<qtk::FrameAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::ListBoxAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::ButtonAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::LabelAdapter*>(&control)) return c->widget();
  if (auto* c = dynamic_cast<qtk::TextPaneAdapter*>(&control)) return c->widget();
  return nullptr;
}

QAction* QtToolkit::actionOf(tk::MenuItem& item) {
  auto* a = dynamic_cast<qtk::MenuItemAdapter*>(&item);
  return a != nullptr ? a->action() : nullptr;
}

}  // namespace tarnset
