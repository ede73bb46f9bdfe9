#pragma once
// The window toolkit interface: the few window elements and notifications that the
// program uses, in twips (1440 per inch). The Qt adapter realises them with widgets, the
// Win32 adapter with the system's controls, the headless adapter in memory; what they
// keep of each element (captions, lines, selection, geometry ...) and their timers,
// watches and posted calls are the one toolkit core's (toolkit/core/). All notifications
// arrive on the one UI thread.
//
// Notifications are plain std::function members that the logic assigns; an adapter
// calls them through Toolkit::guarded so that a programming error thrown by the logic
// reaches the fatal-error handler instead of unwinding through the event loop. A
// notification runs only for what the user did (a click, a key, a pick); what the logic
// sets itself (setText, setListIndex, setChecked ...) notifies nobody.
//
// Text is the program's bytes: a line that is valid UTF-8 and not plain ASCII is shown
// as UTF-8 (file names and paths), any other line as Latin-1 (the program's own texts).
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Types.h"

namespace tarnset {
class TraceSink;
}

namespace tarnset::tk {

// Key codes as the logic sees them; adapters map their own keys onto these.
namespace Key {
constexpr std::int16_t Backspace = 8;
constexpr std::int16_t Tab = 9;
constexpr std::int16_t Enter = 13;
constexpr std::int16_t Escape = 27;
constexpr std::int16_t Space = 32;
constexpr std::int16_t PageUp = 33;
constexpr std::int16_t PageDown = 34;
constexpr std::int16_t End = 35;
constexpr std::int16_t Home = 36;
constexpr std::int16_t Left = 37;
constexpr std::int16_t Up = 38;
constexpr std::int16_t Right = 39;
constexpr std::int16_t Down = 40;
constexpr std::int16_t Insert = 45;
constexpr std::int16_t Delete = 46;
constexpr std::int16_t Digit0 = 48;      // the digits 0..9 are 48..57
constexpr std::int16_t LetterA = 65;     // the letters A..Z are 65..90
constexpr std::int16_t Numpad0 = 96;     // the keypad's digits 0..9 are 96..105
constexpr std::int16_t Separator = 108;  // the keypad's separator key
constexpr std::int16_t F1 = 112;         // F1..F12 are 112..123
constexpr std::int16_t F5 = 116;
constexpr std::int16_t F9 = 120;
}  // namespace Key

// Bits of the shift state passed with a key.
constexpr std::int16_t kShiftBit = 1;
constexpr std::int16_t kCtrlBit = 2;
constexpr std::int16_t kAltBit = 4;

// Text colours taken from the system palette.
enum class SysColor { ButtonText, GrayText };

// A kind of file offered by a file dialog: its name and its patterns, such as
// {"PDF document", {"*.pdf"}}. The first pattern's extension is the one added to a
// name typed without one.
struct FileFilter {
  std::string name;
  std::vector<std::string> patterns;

  bool operator==(const FileFilter&) const = default;
};

// Key-down handler: the handler may consume the key by setting keyCode to 0.
using KeyDownHandler = std::function<void(std::int16_t& keyCode, std::int16_t shift)>;

// Anything placed in a window or a frame. Positions are relative to the parent, in twips.
class Control {
 public:
  virtual ~Control() = default;
  virtual void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) = 0;
  virtual std::int32_t left() const = 0;
  virtual std::int32_t top() const = 0;
  virtual std::int32_t width() const = 0;
  virtual std::int32_t height() const = 0;
  virtual void setVisible(bool on) = 0;
  virtual bool visible() const = 0;
};

// A control that takes part in keyboard focus and the tab order.
class FocusControl : public Control {
 public:
  virtual void setFocus() = 0;
  virtual bool hasFocus() const = 0;
  virtual void setTabStop(bool on) = 0;
  virtual bool tabStop() const = 0;
  // Moves the control to the end of the window's tab order.
  virtual void moveToEndOfTabOrder() = 0;
};

class ListBox : public FocusControl {
 public:
  virtual void clear() = 0;
  virtual void addItem(const std::string& text) = 0;
  // Replaces the text of line n (0-based) without moving the selection.
  virtual void setItemText(std::int16_t n, const std::string& text) = 0;
  virtual std::string itemText(std::int16_t n) const = 0;
  virtual std::int16_t listCount() const = 0;
  // Selected line, -1 = none.
  virtual std::int16_t listIndex() const = 0;
  virtual void setListIndex(std::int16_t n) = 0;

  std::function<void()> onGotFocus;
  KeyDownHandler onKeyDown;
};

class CommandButton : public FocusControl {
 public:
  virtual void setCaption(const std::string& text) = 0;
  virtual std::string caption() const = 0;
  virtual void setEnabled(bool on) = 0;
  virtual bool enabled() const = 0;
  // Default button: Return clicks it. Cancel button: Escape clicks it.
  virtual void setDefault(bool on) = 0;
  virtual bool isDefault() const = 0;
  virtual void setCancel(bool on) = 0;
  virtual bool isCancel() const = 0;

  std::function<void()> onClick;
  std::function<void(char typed)> onKeyPress;
};

// A panel holding other controls, whose positions are relative to it.
class Frame : public Control {
 public:
  virtual void setBorder(bool on) = 0;
  virtual bool border() const = 0;
};

// A text label; its size follows its caption (CR LF separates lines).
class Label : public Control {
 public:
  virtual void setCaption(const std::string& text) = 0;
  virtual std::string caption() const = 0;
  virtual void setForeColor(SysColor c) = 0;
  virtual SysColor foreColor() const = 0;
  // Tool tip shown when the pointer rests on the label; empty = none.
  virtual void setTip(const std::string& text) = 0;
  virtual std::string tip() const = 0;
};

// A single-line text entry.
class TextField : public FocusControl {
 public:
  virtual void setText(const std::string& text) = 0;
  // The text as the user left it (see tk::programText for characters beyond Latin-1).
  virtual std::string text() const = 0;

  // The user changed the text.
  std::function<void()> onChange;
};

// A list of entries of which one is shown, opened by the user to pick another.
class DropDown : public FocusControl {
 public:
  virtual void clear() = 0;
  virtual void addItem(const std::string& text) = 0;
  virtual std::int16_t listCount() const = 0;
  virtual std::string itemText(std::int16_t n) const = 0;
  // The entry shown, -1 = none.
  virtual std::int16_t listIndex() const = 0;
  virtual void setListIndex(std::int16_t n) = 0;

  // The user picked another entry.
  std::function<void()> onChange;
};

// A box with a check mark and its caption.
class CheckBox : public FocusControl {
 public:
  virtual void setCaption(const std::string& text) = 0;
  virtual std::string caption() const = 0;
  virtual void setChecked(bool on) = 0;
  virtual bool checked() const = 0;

  // The user clicked it (or pressed Space on it); checked() tells the new mark.
  std::function<void()> onClick;
};

// A read-only multi-line text pane in the fixed-pitch font.
class TextPane : public FocusControl {
 public:
  // Replaces the whole text; CR LF separates lines.
  virtual void setText(const std::string& text) = 0;
  virtual std::string text() const = 0;
};

// A straight line between two points of the window.
class Line {
 public:
  virtual ~Line() = default;
  virtual void setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) = 0;
  virtual std::int32_t x1() const = 0;
  virtual std::int32_t y1() const = 0;
  virtual std::int32_t x2() const = 0;
  virtual std::int32_t y2() const = 0;
};

class MenuItem {
 public:
  virtual ~MenuItem() = default;
  virtual std::string caption() const = 0;
  // A new caption (an "&" marks the access key, as when the item was added).
  virtual void setCaption(const std::string& caption) = 0;
  virtual void setChecked(bool on) = 0;
  virtual bool checked() const = 0;
  // Tool tip and status tip.
  virtual void setTip(const std::string& text) = 0;
  virtual std::string tip() const = 0;
  // A disabled item is shown greyed and cannot be chosen (onClick does not run). Items
  // start enabled.
  virtual void setEnabled(bool on) = 0;
  virtual bool enabled() const = 0;

  std::function<void()> onClick;
};

class Menu {
 public:
  virtual ~Menu() = default;
  virtual std::string caption() const = 0;
  virtual MenuItem& addItem(const std::string& caption) = 0;
  virtual Menu& addSubMenu(const std::string& caption) = 0;
  // Adds a dividing line after the items and sub-menus added so far.
  virtual void addSeparator() = 0;

  // The menu is about to open: the moment to bring what it shows up to date.
  std::function<void()> onAboutToShow;
};

// Where controls are created: the window itself or a frame in it.
using Parent = Frame*;  // nullptr = the window's client area

// What the main window and a dialog have alike: a caption, controls in twips in the
// fixed-pitch font, and keys.
//
// A key goes to the window's key preview first, then to the focused control's own
// handler, then to the window: Return clicks the default button, Escape the cancel
// button, Tab (Shift+Tab) moves the focus to the next (previous) tab stop that is shown
// and enabled; any other key goes to the control itself. A handler that sets the key
// code to 0 consumes the key. Hiding or disabling the focused control moves the focus on
// to the next tab stop that can take it.
class Window {
 public:
  virtual ~Window() = default;

  virtual void setCaption(const std::string& text) = 0;
  virtual std::string caption() const = 0;

  virtual Frame& addFrame(Parent parent) = 0;
  virtual ListBox& addListBox(Parent parent) = 0;
  virtual CommandButton& addButton(Parent parent) = 0;
  virtual Label& addLabel(Parent parent) = 0;
  virtual TextField& addTextField(Parent parent) = 0;
  virtual DropDown& addDropDown(Parent parent) = 0;
  virtual CheckBox& addCheckBox(Parent parent) = 0;

  // Key preview: sees every key before the focused control does.
  KeyDownHandler onKeyDown;
};

class MainWindow : public Window {
 public:
  // Inner (client) size.
  virtual std::int32_t scaleWidth() const = 0;
  virtual std::int32_t scaleHeight() const = 0;
  // Outer geometry on the screen.
  virtual std::int32_t left() const = 0;
  virtual std::int32_t top() const = 0;
  virtual std::int32_t width() const = 0;
  virtual std::int32_t height() const = 0;
  virtual void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) = 0;
  // Shows the window (not modal).
  virtual void show() = 0;
  virtual bool isShown() const = 0;
  // Closes the window: onQueryUnload, then onUnload run.
  virtual void unload() = 0;

  virtual Menu& addMenu(const std::string& caption) = 0;
  virtual TextPane& addTextPane(Parent parent) = 0;
  virtual Line& addLine() = 0;

  std::function<void()> onResize;
  std::function<void()> onQueryUnload;
  std::function<void()> onUnload;
  // The user's session ends (log-off, shutdown) while the program runs: the moment to
  // save what must survive. The program may be ended without a further word afterwards;
  // no box may be shown from here (nobody would answer it).
  std::function<void()> onEndSession;
};

// A second top-level window beside the main window, NOT modal: the main window, the
// timers, the watches and the posted calls go on while it is open. It is made hidden;
// Escape clicks its cancel button, or closes it when it has none.
class DialogWindow : public Window {
 public:
  // Client (inner) size in twips; the frame and caption go around it.
  virtual void setClientSize(std::int32_t width, std::int32_t height) = 0;
  virtual std::int32_t scaleWidth() const = 0;
  virtual std::int32_t scaleHeight() const = 0;
  // Outer position on the screen in twips. Until it is set, the dialog opens centred
  // over the main window.
  virtual void moveTo(std::int32_t left, std::int32_t top) = 0;
  virtual std::int32_t left() const = 0;
  virtual std::int32_t top() const = 0;
  // Shows the dialog in front of the main window and gives it the keys.
  virtual void show() = 0;
  // Hides the dialog (it can be shown again); onClose runs when it was shown.
  virtual void close() = 0;
  virtual bool isShown() const = 0;

  // The dialog was closed: by close(), Escape or the close box.
  std::function<void()> onClose;
};

// A periodic timer on the UI thread. Enabling it or setting its interval starts a new
// count; each tick is due one interval after the previous one was due (one interval
// after the tick when that came late), to the millisecond.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void setInterval(std::int32_t ms) = 0;
  virtual std::int32_t interval() const = 0;
  virtual void setEnabled(bool on) = 0;
  virtual bool enabled() const = 0;

  std::function<void()> onTick;
};

// Watches a waitable (a readable descriptor, a signalled event) while it exists.
class Watch {
 public:
  virtual ~Watch() = default;
};

class Toolkit {
 public:
  virtual ~Toolkit() = default;

  virtual std::unique_ptr<MainWindow> createMainWindow() = 0;
  // A dialog owned by the newest main window, hidden until show().
  virtual std::unique_ptr<DialogWindow> createDialog() = 0;
  // Timers start disabled with interval 0; one ticks only while enabled with an interval above 0.
  virtual std::unique_ptr<Timer> createTimer() = 0;
  // Calls onReady on the UI thread whenever what is ready: a descriptor with data (or a
  // hang-up) pending, an event handle signalled. Destroy a watch before closing what it
  // watches.
  virtual std::unique_ptr<Watch> watch(Waitable what, std::function<void()> onReady) = 0;

  // Runs f once on the UI thread, from the event loop itself: never inside the caller,
  // only after the notification running now has returned. The rule, the same in every
  // adapter (toolkit/core/EventCore):
  // - f runs only when no notification is running and no modal box (message, question,
  //   choice, file dialog) is open; calls posted meanwhile wait until it has closed;
  // - calls run one at a time in the order posted, in rounds: a round runs the calls that
  //   were posted before it began, and a call posted by one of them runs in the next
  //   round, after the loop has looked at window input, due timers and ready watches
  //   again, so a call that posts itself cannot starve the rest. (Qt sends its own
  //   queued events the same way.)
  // The caller keeps whatever f uses alive, or lets f find out that it is gone.
  virtual void post(std::function<void()> f) = 0;

  // Modal message box with the critical icon and one OK button; returns 1 (OK).
  // Text lines are separated by CR LF. Details, when not empty, are shown below the text
  // in the same box (no further click needed): the particulars and what to do next.
  virtual std::int16_t messageBox(const std::string& text, const std::string& title,
                                  const std::string& details) = 0;
  // Modal question box with the question icon, OK (the default button) and Cancel (also
  // Escape and the close box); details as in messageBox. Returns true for OK.
  virtual bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) = 0;
  // Modal choice box with the question icon: the text, the details as in messageBox,
  // a list of the choices (the first one selected), OK (the default button; a double
  // click on a choice too) and Cancel (also Escape and the close box). Returns the index
  // of the chosen entry, -1 when cancelled or when there is nothing to choose.
  virtual int askChoice(const std::string& text, const std::string& title, const std::string& details,
                        const std::vector<std::string>& choices) = 0;
  // Modal save-file dialog that starts in the folder of suggestedPath with its file name
  // filled in and asks before replacing an existing file. A name typed without an
  // extension gets the extension of the selected filter. Returns the chosen full path,
  // or an empty string when cancelled. Paths are UTF-8, on every system.
  virtual std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                     const std::vector<FileFilter>& filters) = 0;
  // True while a message box, question box, choice box or file dialog is open. Timers,
  // watches and posted calls are held meanwhile; they run on after it has closed.
  virtual bool modalActive() const = 0;
  virtual void beep() = 0;

  // Writes a simple HTML document in the program's single-byte text (headings,
  // paragraphs, bordered tables; no scripts, no external resources) to path as a PDF:
  // Letter pages where the locale measures in US units, else A4, with margins of 15 mm.
  // The file appears whole or not at all (an existing one stays as it was on failure).
  // Returns false with the reason in why (one line) when the file cannot be made.
  virtual bool writePdf(const std::string& html, const std::string& path, std::string& why) = 0;
  // False where writePdf can never succeed (the program then offers HTML alone).
  virtual bool canWritePdf() const = 0;

  // Screen metrics in twips.
  virtual std::int32_t screenWidth() const = 0;
  virtual std::int32_t screenHeight() const = 0;
  virtual std::int32_t twipsPerPixelX() const = 0;
  virtual std::int32_t twipsPerPixelY() const = 0;

  // Ends the event loop with the given exit code.
  virtual void quit(int exitCode) = 0;

  // Serial devices may have come or gone, where the system says so (Windows: a device
  // arrived or was removed). Runs from the event loop as a posted call does; several
  // notices in a row may come as one.
  std::function<void()> onDevicesChanged;

  // The support trace that every message box shown through the program is written to;
  // nullptr: none.
  void setTrace(TraceSink* trace) { trace_ = trace; }
  TraceSink* trace() const { return trace_; }

  // The handler of programming errors escaping from a notification. Without a handler
  // the exception propagates to whoever drove the notification (tests see it).
  void setFatalHandler(std::function<void(const std::exception&)> handler) { fatal_ = std::move(handler); }

  // Runs a notification, sending a programming error to the fatal handler.
  template <class F>
  void guarded(F&& f) {
    const Depth depth(*this);
    if (!fatal_) {
      f();
      return;
    }
    try {
      f();
    } catch (const std::exception& e) {
      fatal_(e);
    }
  }
  // True while a notification runs (one that guarded runs).
  bool inNotification() const { return depth_ > 0; }

 protected:
  // The outermost notification has returned: an adapter whose posted calls had to wait
  // for it wakes its loop.
  virtual void notificationsDone() {}

 private:
  class Depth {
   public:
    explicit Depth(Toolkit& t) : t_(t) { ++t_.depth_; }
    ~Depth() {
      if (--t_.depth_ == 0) t_.notificationsDone();
    }
    Depth(const Depth&) = delete;
    Depth& operator=(const Depth&) = delete;

   private:
    Toolkit& t_;
  };

  std::function<void(const std::exception&)> fatal_;
  TraceSink* trace_ = nullptr;
  int depth_ = 0;
};

}  // namespace tarnset::tk
