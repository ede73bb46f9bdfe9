#pragma once
// The window toolkit over plain Win32 (user32, gdi32, comctl32, comdlg32), without the
// system headers, so that the composition root can include it cheaply.
//
// The toolkit must be created, used and destroyed on one thread, and it must outlive
// every window, timer and watch it created. On construction it makes the process
// per-monitor DPI aware (where the system offers it and no manifest has decided
// already), loads the common controls and registers its window classes.
//
// Twips are converted with each window's DPI (1440 twips per inch), which follows the
// monitor the window is on. Text is shown as the toolkit core decides (tk::displayText:
// UTF-8 lines as UTF-8, the program's own Latin-1 texts as they are); CR LF separates
// lines. File paths are UTF-8, taken to and from the system's wide calls.
//
// The event loop is run() (toolkit/win32/Win32Loop): it waits for window messages, the
// watched handles and the next timer at once. Timers, watches and posted calls are the
// toolkit core's; while a box or the save dialog is open they are held and resume when
// it closes; while a menu is open or a window is moved or sized (the system's own
// loops), they go on.
//
// The main window answers the session's end (WM_QUERYENDSESSION, WM_ENDSESSION) with
// onEndSession and the system's device notices (WM_DEVICECHANGE, a device arrived or was
// removed) with onDevicesChanged. Focus rectangles and access key marks, hidden after a
// start by mouse, appear with the first navigation key (Tab, the arrows) or Alt.
#include <cstdint>
#include <memory>

#include "toolkit/Toolkit.h"

namespace tarnset {

namespace w32 {
class Env;
class Loop;
}  // namespace w32

// Where the toolkit learns dots per inch: the system by default; a test gives its own
// to play a screen that its machine does not have.
class DpiSource {
 public:
  virtual ~DpiSource() = default;
  // Dots per inch of a window (its HWND as an integer); of the primary screen for 0.
  virtual int dpiOf(std::intptr_t window) const = 0;
};

class Win32Toolkit final : public tk::Toolkit {
 public:
  // dpi: nullptr = the system's; else it must outlive the toolkit.
  explicit Win32Toolkit(const DpiSource* dpi = nullptr);
  ~Win32Toolkit() override;
  Win32Toolkit(const Win32Toolkit&) = delete;
  Win32Toolkit& operator=(const Win32Toolkit&) = delete;

  std::unique_ptr<tk::MainWindow> createMainWindow() override;
  // A window of the toolkit's dialog class, owned by the newest main window.
  std::unique_ptr<tk::DialogWindow> createDialog() override;
  std::unique_ptr<tk::Timer> createTimer() override;
  // what is an event (or other waitable) HANDLE. onReady runs whenever the loop finds it
  // signalled, so a manual-reset event must be reset (or its overlapped operation
  // restarted) by onReady. At most 63 watches; destroy a watch before closing its handle.
  std::unique_ptr<tk::Watch> watch(Waitable what, std::function<void()> onReady) override;
  void post(std::function<void()> f) override;
  // MessageBoxW with the error icon and OK; details below the text after a blank line.
  std::int16_t messageBox(const std::string& text, const std::string& title,
                          const std::string& details) override;
  // MessageBoxW with the question icon, OK (default) and Cancel; details as in messageBox.
  bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) override;
  // A dialog box of the system's dialog manager in the look of the question box, with
  // the choices in a list box.
  int askChoice(const std::string& text, const std::string& title, const std::string& details,
                const std::vector<std::string>& choices) override;
  // GetSaveFileNameW, asking before it replaces a file; the extension of the file type
  // selected in the dialog goes on a name typed without one. The suggested and the chosen
  // path are UTF-8.
  std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                             const std::vector<tk::FileFilter>& filters) override;
  bool modalActive() const override;
  void beep() override;
  // No PDF writer on this system: false, with the reason.
  bool writePdf(const std::string& html, const std::string& path, std::string& why) override;
  bool canWritePdf() const override { return false; }
  // The primary screen's work area, at its DPI.
  std::int32_t screenWidth() const override;
  std::int32_t screenHeight() const override;
  // At the DPI of the newest main window (the primary screen's before there is one).
  std::int32_t twipsPerPixelX() const override;
  std::int32_t twipsPerPixelY() const override;
  // Ends run() with the code; when run() is not running, the next run() returns at once.
  void quit(int exitCode) override;

  // Runs the event loop until quit() and returns its code. An exception that a
  // notification let escape (no fatal handler is set) ends run() by propagating.
  int run();

  // The native handles behind the toolkit's elements (for tests and the program's own
  // finishing touches, such as an icon): an HWND, or the HMENU of a menu, as an integer;
  // 0 for elements of another toolkit.
  static std::intptr_t handleOf(tk::Window& window);
  static std::intptr_t handleOf(tk::Control& control);
  static std::intptr_t handleOf(tk::Menu& menu);
  // The command id that WM_COMMAND carries for a menu item; 0 for another toolkit's.
  static unsigned commandOf(tk::MenuItem& item);

 private:
  std::unique_ptr<DpiSource> systemDpi_;
  std::unique_ptr<w32::Loop> loop_;
  std::unique_ptr<w32::Env> env_;
};

}  // namespace tarnset
