#pragma once
// The window toolkit over Qt 6 Widgets.
//
// The program's main creates the QApplication before the toolkit and keeps it alive
// longer; the toolkit must in turn outlive every window, timer and watch it created.
// On construction the toolkit selects the Fusion style, turns off quitting when the
// last window closes (the program ends through quit()), and installs the key router
// that gives each main window its key preview.
//
// Twips are converted with the primary screen's logical DPI (1440 twips per inch).
// The program's single-byte text is shown as Latin-1; CR LF separates lines.
#include <cstdint>
#include <memory>

#include "toolkit/Toolkit.h"

class QAction;
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
  // Timers start disabled with interval 0; one ticks only while enabled with an interval above 0.
  std::unique_ptr<tk::Timer> createTimer() override;
  // Watches are paused while a modal dialog (message box, question, file dialog) is
  // open, so that unread data cannot spin its event loop; they fire again afterwards if
  // data is still pending. Destroy a watch before closing its descriptor.
  std::unique_ptr<tk::Watch> watch(Waitable what, std::function<void()> onReady) override;
  // A queued call on the application; dropped when the toolkit goes first.
  void post(std::function<void()> f) override;
  // A critical QMessageBox; details become its informative text.
  std::int16_t messageBox(const std::string& text, const std::string& title,
                          const std::string& details) override;
  // A question QMessageBox with OK and Cancel; details become its informative text.
  bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) override;
  // Qt's own QFileDialog (never the desktop's), the same on every desktop and drivable
  // by keys; the extension follows the filter selected when the dialog is accepted.
  std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                             const std::vector<tk::FileFilter>& filters) override;
  bool modalActive() const override;
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

  // The widgets behind the toolkit's elements (for tests and the program's own
  // finishing touches); nullptr for elements of another toolkit.
  static QWidget* widgetOf(tk::MainWindow& window);
  static QWidget* widgetOf(tk::Control& control);
  static QAction* actionOf(tk::MenuItem& item);

 private:
  // The visible main window, as the parent of a modal dialog; nullptr when none.
  QWidget* dialogParent() const;

  std::unique_ptr<qtk::Env> env_;
  std::unique_ptr<qtk::KeyRouter> router_;
  bool quitRequested_ = false;
  int exitCode_ = 0;
};

}  // namespace tarnset
