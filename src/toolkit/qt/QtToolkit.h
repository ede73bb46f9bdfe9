#pragma once
// The window toolkit over Qt 6 Widgets.
//
// The program's main creates the QApplication before the toolkit and keeps it alive
// longer; the toolkit must in turn outlive every window, dialog, timer and watch it
// created. On construction the toolkit selects the Fusion style, turns off quitting when
// the last window closes (the program ends through quit()), and installs the key router
// that gives each window its key preview.
//
// Twips are converted with the primary screen's logical DPI (1440 twips per inch). Text
// is shown as the toolkit core decides (tk::displayText); CR LF separates lines.
//
// Timers, watches and posted calls are the toolkit core's (tk::EventCore), driven by one
// precise QTimer set to the next work and one QSocketNotifier per watch; they
// are held while a box or the save dialog is open, as in every adapter.
#include <QTimer>
#include <cstdint>
#include <memory>

#include "base/TickSource.h"
#include "toolkit/Toolkit.h"
#include "toolkit/core/EventCore.h"

class QAction;
class QMenu;
class QWidget;

namespace tarnset {

namespace qtk {
class Env;
class KeyRouter;
}  // namespace qtk

class QtToolkit final : public tk::Toolkit {
 public:
  // Throws std::logic_error when no QApplication exists.
  QtToolkit();
  ~QtToolkit() override;
  QtToolkit(const QtToolkit&) = delete;
  QtToolkit& operator=(const QtToolkit&) = delete;

  std::unique_ptr<tk::MainWindow> createMainWindow() override;
  // A top-level QWidget of the dialog kind, transient for the newest main window.
  std::unique_ptr<tk::DialogWindow> createDialog() override;
  std::unique_ptr<tk::Timer> createTimer() override { return core_.createTimer(); }
  // The descriptor's notifier is paused while a modal dialog is open, so that unread data
  // cannot spin its event loop. Destroy a watch before closing its descriptor.
  std::unique_ptr<tk::Watch> watch(Waitable what, std::function<void()> onReady) override;
  void post(std::function<void()> f) override { core_.post(std::move(f)); }
  // A critical QMessageBox; details become its informative text.
  std::int16_t messageBox(const std::string& text, const std::string& title,
                          const std::string& details) override;
  // A question QMessageBox with OK and Cancel; details become its informative text.
  bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) override;
  // A dialog in the look of the question box, with the choices in a list.
  int askChoice(const std::string& text, const std::string& title, const std::string& details,
                const std::vector<std::string>& choices) override;
  // Qt's own QFileDialog (never the desktop's), the same on every desktop and drivable
  // by keys; the extension follows the filter selected when the dialog is accepted.
  std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                             const std::vector<tk::FileFilter>& filters) override;
  bool modalActive() const override { return core_.modalActive(); }
  void beep() override;
  // QTextDocument printed on a QPdfWriter through a QSaveFile (a temporary file beside
  // the target, renamed over it when complete). The page follows the measurement system
  // of the default QLocale (the system's unless the program sets another).
  bool writePdf(const std::string& html, const std::string& path, std::string& why) override;
  bool canWritePdf() const override { return true; }
  std::int32_t screenWidth() const override;
  std::int32_t screenHeight() const override;
  std::int32_t twipsPerPixelX() const override;
  std::int32_t twipsPerPixelY() const override;
  // Ends the event loop; when the loop has not started yet, run() returns at once.
  void quit(int exitCode) override;

  // Runs the application's event loop until quit() and returns its exit code.
  int run();
  // The session ends: what the session manager's request to save the program's data
  // (QGuiApplication::commitDataRequest, the user logs off) runs, onEndSession of every
  // main window.
  void endSession();

  // The widgets behind the toolkit's elements (for tests and the program's own
  // finishing touches); nullptr for elements of another toolkit.
  static QWidget* widgetOf(tk::Window& window);
  static QWidget* widgetOf(tk::Control& control);
  static QAction* actionOf(tk::MenuItem& item);
  static QMenu* menuOf(tk::Menu& menu);

 protected:
  void notificationsDone() override;

 private:
  // The visible main window, as the parent of a modal dialog; nullptr when none.
  QWidget* dialogParent() const;
  // Sets the pump to the next work.
  void schedule();
  void runWork();

  MonotonicTickSource clock_;
  tk::EventCore core_;
  QTimer pump_;
  std::unique_ptr<qtk::Env> env_;
  std::unique_ptr<qtk::KeyRouter> router_;
};

}  // namespace tarnset
