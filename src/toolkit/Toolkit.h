#pragma once
// The window toolkit interface: the few window elements and notifications that the
// program uses, in twips (1440 per inch). The Qt adapter realises them with widgets,
// the headless adapter in memory. All notifications arrive on the one UI thread.
//
// Notifications are plain std::function members that the logic assigns; an adapter
// calls them through Toolkit::guarded so that a programming error thrown by the logic
// reaches the fatal-error handler instead of unwinding through the event loop.
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

// Where controls are created: the main window itself or a frame in it.
using Parent = Frame*;  // nullptr = the main window's client area

class MainWindow {
 public:
  virtual ~MainWindow() = default;

  virtual void setCaption(const std::string& text) = 0;
  virtual std::string caption() const = 0;
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
  virtual Frame& addFrame(Parent parent) = 0;
  virtual ListBox& addListBox(Parent parent) = 0;
  virtual CommandButton& addButton(Parent parent) = 0;
  virtual Label& addLabel(Parent parent) = 0;
  virtual TextPane& addTextPane(Parent parent) = 0;
  virtual Line& addLine() = 0;

  std::function<void()> onResize;
  std::function<void()> onQueryUnload;
  std::function<void()> onUnload;
  // Key preview: sees every key before the focused control does.
  KeyDownHandler onKeyDown;
};

// A periodic timer on the UI thread.
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
  virtual std::unique_ptr<Timer> createTimer() = 0;
  // Calls onReady on the UI thread whenever what is ready: a descriptor with data (or a
  // hang-up) pending, an event handle signalled.
  virtual std::unique_ptr<Watch> watch(Waitable what, std::function<void()> onReady) = 0;

  // Runs f once on the UI thread as soon as the event loop is free: never inside the
  // caller, only after the notification running now has returned. The caller keeps
  // whatever f uses alive, or lets f find out that it is gone.
  virtual void post(std::function<void()> f) = 0;

  // Modal message box with the critical icon and one OK button; returns 1 (OK).
  // Text lines are separated by CR LF. Details, when not empty, are shown below the text
  // in the same box (no further click needed): the particulars and what to do next.
  virtual std::int16_t messageBox(const std::string& text, const std::string& title,
                                  const std::string& details) = 0;
  // Modal question box with the question icon, OK (the default button) and Cancel (also
  // Escape and the close box); details as in messageBox. Returns true for OK.
  virtual bool askOkCancel(const std::string& text, const std::string& title, const std::string& details) = 0;
  // Modal save-file dialog that starts in the folder of suggestedPath with its file name
  // filled in and asks before replacing an existing file. A name typed without an
  // extension gets the extension of the selected filter. Returns the chosen full path,
  // or an empty string when cancelled. Paths are the system's file-name bytes (UTF-8
  // on Linux), not display text.
  virtual std::string chooseSaveFile(const std::string& title, const std::string& suggestedPath,
                                     const std::vector<FileFilter>& filters) = 0;
  // True while a message box, question box or file dialog is open.
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

 private:
  std::function<void(const std::exception&)> fatal_;
  TraceSink* trace_ = nullptr;
};

}  // namespace tarnset::tk
