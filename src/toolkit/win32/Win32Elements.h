#pragma once
// The Win32 realisation of the toolkit's elements. The main window and its frames are
// windows of the toolkit's own classes; list boxes, buttons, labels and the text pane are
// the system's controls, subclassed where they take keys. The adapters own no window
// themselves: the controls are children of the main window and die with it; a window
// procedure reaches an adapter only while the window's "alive" token is set.
//
// Everything runs on the one thread that created the toolkit.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "toolkit/Toolkit.h"
#include "toolkit/win32/Win32Toolkit.h"

namespace tarnset::w32 {

class WindowAdapter;
class TimerAdapter;
class WatchAdapter;

using Clock = std::chrono::steady_clock;

// Twips per inch: the logic's unit.
constexpr int kTwipsPerInch = 1440;

// Pixels for twips at a DPI, and back; rounded to the nearest.
int pixelsFor(std::int32_t twips, int dpi);
std::int32_t twipsFor(int pixels, int dpi);

// What the elements of one toolkit share: the error guard, the DPI source, the window
// classes, the loop's own window and the registries of windows, timers, watches and
// posted calls.
class Env {
 public:
  Env(tk::Toolkit& toolkit, const DpiSource& dpi);
  ~Env();
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  // Runs a notification through the toolkit's fatal-error guard.
  template <class F>
  void guarded(F&& f) {
    toolkit_.guarded(std::forward<F>(f));
  }

  // Runs the body of a window procedure. No exception may unwind through the system's
  // frames: one that escapes (there is no fatal handler) is kept, and the event loop
  // throws it again once the system has returned.
  template <class F>
  LRESULT boundary(F&& f, LRESULT onError) noexcept {
    try {
      return f();
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      return onError;
    }
  }
  // Throws the exception kept by boundary(), if any.
  void rethrowPending();

  // Dots per inch of a window, and of the primary screen.
  int dpiOf(HWND window) const;
  int primaryDpi() const;
  HINSTANCE instance() const { return instance_; }

  // The window that is the parent of a modal box: the last visible main window; nullptr
  // when none is shown.
  HWND dialogOwner() const;

  // --- The event loop ---
  // Queues f for the loop and wakes it.
  void post(std::function<void()> f);
  // Wakes the loop's wait.
  void wake();
  // Runs what is due: expired timers, signalled watches, posted calls. Does nothing while
  // a modal box is open. A timer or watch whose handler runs (and opened a menu, say) is
  // not run again inside it; the others are.
  void work();
  // Milliseconds that the loop may sleep: 0 when posted calls wait, INFINITE when no
  // timer runs, else until the next timer is due (rounded up).
  DWORD msToNextWork() const;
  // The handles that the loop waits on, with the watch each belongs to.
  void waitHandles(std::vector<HANDLE>& handles, std::vector<std::uint64_t>& ids) const;
  // Runs the watch of that id (if it still exists and no modal box is open).
  void fireWatch(std::uint64_t id);
  // After a failed wait: the watches whose handle is no longer valid are left alone from
  // then on.
  void dropInvalidWatches();
  // Dispatches the messages waiting in the thread's queue.
  void pumpMessages();
  // A menu or a move/size loop of the system runs: timers, watches and posted calls go on
  // through a system timer meanwhile (they are not held, unlike under a modal box).
  void enterInnerLoop();
  void leaveInnerLoop();
  // Ends the loop with the code.
  void quit(int exitCode);
  // Takes the quit request: true (and the code) when quit() was called since.
  bool takeQuit(int& exitCode);
  bool quitRequested() const { return quitRequested_; }

  // --- Registries ---
  std::vector<WindowAdapter*> windows;
  std::uint64_t addTimer(TimerAdapter* t);
  void removeTimer(std::uint64_t id) { timers_.erase(id); }
  std::uint64_t addWatch(WatchAdapter* w);
  void removeWatch(std::uint64_t id) { watches_.erase(id); }
  // Open modal boxes and dialogs.
  int modalDepth = 0;

  // Window class names.
  static constexpr const wchar_t* kMainClass = L"TarnsetAdjWindow";
  static constexpr const wchar_t* kFrameClass = L"TarnsetAdjFrame";
  static constexpr const wchar_t* kLoopClass = L"TarnsetAdjLoop";

 private:
  static LRESULT CALLBACK loopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void runDueTimers();
  void pollWatches();
  void runPosted();

  tk::Toolkit& toolkit_;
  const DpiSource& dpi_;
  HINSTANCE instance_;
  HWND loopWindow_ = nullptr;
  std::exception_ptr pending_;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, TimerAdapter*> timers_;
  std::map<std::uint64_t, WatchAdapter*> watches_;
  std::deque<std::function<void()>> posted_;
  std::set<std::uint64_t> firing_;  // timers and watches whose handler runs now
  int innerLoops_ = 0;
  bool quitRequested_ = false;
  int exitCode_ = 0;
};

// Holds the program's ticks while a modal box or dialog is open; they resume however it ends.
class ModalScope {
 public:
  explicit ModalScope(Env& env) : env_(env) { ++env_.modalDepth; }
  ~ModalScope() {
    if (--env_.modalDepth == 0) env_.wake();
  }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  Env& env_;
};

// --- Controls ---

// What the window knows of every control: its window, and how to place it again.
class Placed {
 public:
  virtual ~Placed() = default;
  virtual HWND handle() const = 0;
  // Takes the window's current DPI: the font, and the place in pixels from the twips.
  virtual void applyDpi() = 0;
};

// What the window knows of a control that takes the focus.
class Focusable {
 public:
  virtual ~Focusable() = default;
  virtual HWND focusHandle() const = 0;
  virtual WindowAdapter& ownerWindow() const = 0;
  virtual bool tabStopOn() const = 0;
  // The control got the focus (after the system's handling).
  virtual void gotFocus() {}
  // The control's own key-down handler, where it has one.
  virtual void keyDown(std::int16_t& /*keyCode*/, std::int16_t /*shift*/) {}
  // A character typed on the control, where it takes them.
  virtual void typed(char /*c*/) {}
};

// Geometry and visibility of a control in the client area or a frame.
template <class Iface>
class ControlAdapter : public Iface, public Placed {
 public:
  ControlAdapter(WindowAdapter& window, HWND hwnd);

  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    place();
  }
  std::int32_t left() const override { return left_; }
  std::int32_t top() const override { return top_; }
  std::int32_t width() const override { return width_; }
  std::int32_t height() const override { return height_; }
  void setVisible(bool on) override;
  bool visible() const override { return visible_; }

  HWND handle() const override { return hwnd_; }
  void applyDpi() override;

 protected:
  virtual void place();

  WindowAdapter& window_;
  HWND hwnd_;
  std::int32_t left_ = 0;
  std::int32_t top_ = 0;
  std::int32_t width_ = 1200;
  std::int32_t height_ = 360;
  bool visible_ = true;
};

// Focus and tab order on top of ControlAdapter. The control is subclassed so that its
// keys pass the window's key routing first.
template <class Iface>
class FocusAdapter : public ControlAdapter<Iface>, public Focusable {
 public:
  FocusAdapter(WindowAdapter& window, HWND hwnd);

  void setFocus() override;
  bool hasFocus() const override;
  void setTabStop(bool on) override;
  bool tabStop() const override { return tabStop_; }
  void moveToEndOfTabOrder() override;

  HWND focusHandle() const override { return this->hwnd_; }
  WindowAdapter& ownerWindow() const override { return this->window_; }
  bool tabStopOn() const override { return tabStop_; }

 private:
  bool tabStop_ = true;
};

class FrameAdapter final : public ControlAdapter<tk::Frame> {
 public:
  FrameAdapter(WindowAdapter& window, HWND parent);
  void setBorder(bool on) override;
  bool border() const override { return border_; }

  // The etched border sits this many pixels (at 96 DPI) below the top edge, where a titled
  // frame would draw its caption band.
  static constexpr int kTopInset = 6;
  // Draws the border.
  void paint(HDC dc) const;
  WindowAdapter& window() const { return window_; }

 private:
  bool border_ = true;
};

class ListBoxAdapter final : public FocusAdapter<tk::ListBox> {
 public:
  ListBoxAdapter(WindowAdapter& window, HWND parent);
  void clear() override;
  void addItem(const std::string& text) override;
  void setItemText(std::int16_t n, const std::string& text) override;
  std::string itemText(std::int16_t n) const override;
  std::int16_t listCount() const override;
  std::int16_t listIndex() const override;
  void setListIndex(std::int16_t n) override;

  void applyDpi() override;
  void gotFocus() override;
  void keyDown(std::int16_t& keyCode, std::int16_t shift) override;

 private:
  // Widens the horizontal scroll range to the line's width.
  void fitExtent(const std::wstring& line);
  int extent_ = 0;
};

class ButtonAdapter final : public FocusAdapter<tk::CommandButton> {
 public:
  ButtonAdapter(WindowAdapter& window, HWND parent);
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }
  void setDefault(bool on) override;
  bool isDefault() const override { return default_; }
  void setCancel(bool on) override;
  bool isCancel() const override { return cancel_; }

  void typed(char c) override;
  // Drops the default (cancel) role without touching the other buttons.
  void dropDefault();
  void dropCancel() { cancel_ = false; }
  // True when the button is enabled and shown within its window.
  bool usable() const;
  // The button was clicked (by the mouse, Space, or its role key).
  void clicked();
  // True when the caption marks c as its access key ("&c").
  bool hasAccessKey(wchar_t c) const;

 private:
  std::string caption_;
  bool enabled_ = true;
  bool default_ = false;
  bool cancel_ = false;
};

class LabelAdapter final : public ControlAdapter<tk::Label> {
 public:
  LabelAdapter(WindowAdapter& window, HWND parent);
  // Only the position is taken: the size follows the caption.
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  void setForeColor(tk::SysColor c) override;
  tk::SysColor foreColor() const override { return color_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }

  void applyDpi() override;
  // The colours of the label's text (WM_CTLCOLORSTATIC); returns the background brush.
  HBRUSH colour(HDC dc) const;

 private:
  // Sizes the label to its caption in the window's font.
  void measure();

  std::string caption_;
  tk::SysColor color_ = tk::SysColor::ButtonText;
  std::string tip_;
  bool captionSet_ = false;
};

class TextPaneAdapter final : public FocusAdapter<tk::TextPane> {
 public:
  TextPaneAdapter(WindowAdapter& window, HWND parent);
  void setText(const std::string& text) override;
  std::string text() const override { return text_; }
  // The colours of the read-only pane (WM_CTLCOLORSTATIC): text on the window colour, as
  // an editable pane, not on the grey of a disabled one.
  static HBRUSH colour(HDC dc);

 private:
  std::string text_;
};

class LineAdapter final : public tk::Line {
 public:
  LineAdapter(WindowAdapter& window, bool dark) : window_(window), dark_(dark) {}
  void setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) override;
  std::int32_t x1() const override { return x1_; }
  std::int32_t y1() const override { return y1_; }
  std::int32_t x2() const override { return x2_; }
  std::int32_t y2() const override { return y2_; }
  // Drawn in the shadow colour, else in the highlight colour.
  bool dark() const { return dark_; }

 private:
  WindowAdapter& window_;
  bool dark_;
  std::int32_t x1_ = 0, y1_ = 0, x2_ = 0, y2_ = 0;
};

// --- Menus ---

class MenuItemAdapter final : public tk::MenuItem {
 public:
  MenuItemAdapter(WindowAdapter& window, HMENU menu, UINT id, const std::string& caption);
  std::string caption() const override { return caption_; }
  void setChecked(bool on) override;
  bool checked() const override { return checked_; }
  void setTip(const std::string& text) override;
  std::string tip() const override { return tip_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

  UINT id() const { return id_; }
  HMENU menu() const { return menu_; }
  // The item was chosen: onClick, unless it is disabled.
  void chosen();

 private:
  WindowAdapter& window_;
  HMENU menu_;
  UINT id_;
  std::string caption_;
  bool checked_ = false;
  bool enabled_ = true;
  std::string tip_;
};

class MenuAdapter final : public tk::Menu {
 public:
  MenuAdapter(WindowAdapter& window, HMENU menu, std::string caption);
  std::string caption() const override { return caption_; }
  tk::MenuItem& addItem(const std::string& caption) override;
  tk::Menu& addSubMenu(const std::string& caption) override;
  void addSeparator() override;

  HMENU menu() const { return menu_; }
  // The menu is about to open.
  void aboutToShow();

 private:
  WindowAdapter& window_;
  HMENU menu_;
  std::string caption_;
  std::vector<std::unique_ptr<MenuItemAdapter>> items_;
  std::vector<std::unique_ptr<MenuAdapter>> subMenus_;
};

// --- The main window ---

class WindowAdapter final : public tk::MainWindow {
 public:
  explicit WindowAdapter(Env& env);
  ~WindowAdapter() override;
  WindowAdapter(const WindowAdapter&) = delete;
  WindowAdapter& operator=(const WindowAdapter&) = delete;

  void setCaption(const std::string& text) override;
  std::string caption() const override { return caption_; }
  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override;
  std::int32_t top() const override;
  std::int32_t width() const override;
  std::int32_t height() const override;
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;
  void show() override;
  bool isShown() const override;
  void unload() override;

  tk::Menu& addMenu(const std::string& caption) override;
  tk::Frame& addFrame(tk::Parent parent) override;
  tk::ListBox& addListBox(tk::Parent parent) override;
  tk::CommandButton& addButton(tk::Parent parent) override;
  tk::Label& addLabel(tk::Parent parent) override;
  tk::TextPane& addTextPane(tk::Parent parent) override;
  tk::Line& addLine() override;

  Env& env() const { return env_; }
  HWND hwnd() const { return hwnd_; }
  const std::shared_ptr<bool>& alive() const { return alive_; }
  int dpi() const { return dpi_; }
  HFONT font() const { return font_; }
  int px(std::int32_t twips) const { return pixelsFor(twips, dpi_); }
  std::int32_t twips(int pixels) const { return twipsFor(pixels, dpi_); }

  // Creates a child control of the window class in the client area or a frame.
  HWND createChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent,
                   void* param = nullptr);
  // The window of a parent frame of this window (the main window for nullptr).
  HWND parentHandle(tk::Parent parent) const;

  // The window procedure of the main window and the shared handling of its frames'.
  static LRESULT CALLBACK mainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK frameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  // Messages to a subclassed focus control; true when handled (result in r).
  bool controlMessage(Focusable& f, HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r);

  // --- Keys and focus ---
  // Routes a key press whose receiver is f (nullptr: the window or a frame): key preview,
  // the list box's handler, the default and cancel buttons, Tab. True when consumed.
  bool routeKey(Focusable* f, unsigned virtualKey);
  // Alt and a button's access key clicks the button; true when one took it.
  bool accessKey(wchar_t c);
  // The focused control of this window: the system's focus while the window is active,
  // else the control that gets it back when the window is activated.
  HWND focusedChild() const;
  // Gives the focus to the control (when it can take it), now or when the window is next active.
  void focusControl(Focusable* f);
  // Moves the focus to the next (or previous) tab stop after from that can take it.
  void focusNext(Focusable* from, bool backwards);
  // True when the control window h holds the focus or contains it.
  bool holdsFocus(HWND h) const;
  // Runs change (hiding or disabling h); when h held the focus, the focus moves on to
  // the next tab stop that can take it, else to the window itself.
  void whileFocusMovesOn(HWND h, const std::function<void()>& change);
  // True when h and every window between it and the main window are visible.
  bool visibleInWindow(HWND h) const;
  bool canTakeFocus(const Focusable* f) const;
  void addToTabChain(Focusable* f) { tabChain_.push_back(f); }
  void moveToEndOfTabChain(Focusable* f);
  void makeSoleDefault(ButtonAdapter* b);
  void makeSoleCancel(ButtonAdapter* b);

  // --- Menus and tips ---
  UINT newCommandId() { return nextCommand_++; }
  void registerMenuItem(MenuItemAdapter* item) { menuItems_[item->id()] = item; }
  void registerMenu(MenuAdapter* menu) { menusByHandle_[menu->menu()] = menu; }
  // Shows (or, for an empty text, removes) the tip of a label.
  void setLabelTip(HWND label, const std::string& tip, bool existed);
  // The tip of the item that the menu shows as selected changed.
  void menuTipChanged(const MenuItemAdapter& item);

  // Redraws the lines.
  void invalidateLines();
  // Applies a new DPI: font, controls from their twips, the suggested window rectangle
  // (nullptr: keep the pixel size), then onResize.
  void applyDpi(int dpi, const RECT* suggested);

 private:
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  // Notifications from child controls, to the main window or a frame; true when handled.
  bool childMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r);
  void paint();
  void sizeChanged();
  void fireResize();
  void runUnload();
  void menuSelected(UINT id, UINT flags, HMENU menu);
  void hideMenuTip();
  HWND ensureTipWindow(HWND& tip, bool tracking);
  Focusable* focusableOf(HWND h) const;

  Env& env_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  HWND hwnd_ = nullptr;
  int dpi_;
  HFONT font_ = nullptr;
  std::string caption_;
  bool shown_ = false;
  bool unloaded_ = false;
  bool resizePending_ = true;
  int resizeHeld_ = 0;
  std::int32_t reportedWidth_ = -1;
  std::int32_t reportedHeight_ = -1;
  UINT nextChildId_ = 100;
  UINT nextCommand_ = 1000;
  HMENU menuBar_ = nullptr;
  HWND labelTips_ = nullptr;
  HWND menuTip_ = nullptr;
  const MenuItemAdapter* menuTipItem_ = nullptr;
  HWND lastFocus_ = nullptr;
  int movingFocus_ = 0;
  int innerLoops_ = 0;

  std::vector<std::unique_ptr<MenuAdapter>> menus_;
  std::map<UINT, MenuItemAdapter*> menuItems_;
  std::map<HMENU, MenuAdapter*> menusByHandle_;
  std::vector<std::unique_ptr<FrameAdapter>> frames_;
  std::vector<std::unique_ptr<ListBoxAdapter>> listBoxes_;
  std::vector<std::unique_ptr<ButtonAdapter>> buttons_;
  std::vector<std::unique_ptr<LabelAdapter>> labels_;
  std::vector<std::unique_ptr<TextPaneAdapter>> textPanes_;
  std::vector<std::unique_ptr<LineAdapter>> lines_;
  std::vector<Placed*> placed_;
  std::vector<Focusable*> tabChain_;
};

// --- Timers and watches ---

class TimerAdapter final : public tk::Timer {
 public:
  explicit TimerAdapter(Env& env);
  ~TimerAdapter() override;
  void setInterval(std::int32_t ms) override;
  std::int32_t interval() const override { return interval_; }
  void setEnabled(bool on) override;
  bool enabled() const override { return enabled_; }

  bool running() const { return enabled_ && interval_ > 0; }
  Clock::time_point due() const { return due_; }
  // Runs onTick and counts the next interval from the due time (from now when late).
  void fire(Clock::time_point now);

 private:
  Env& env_;
  std::uint64_t id_;
  std::int32_t interval_ = 0;
  bool enabled_ = false;
  Clock::time_point due_{};
};

class WatchAdapter final : public tk::Watch {
 public:
  WatchAdapter(Env& env, HANDLE handle, std::function<void()> onReady);
  ~WatchAdapter() override;
  HANDLE handle() const { return handle_; }
  // A handle that the system calls invalid is left alone from then on.
  bool invalid() const { return invalid_; }
  void setInvalid() { invalid_ = true; }
  void fire();

 private:
  Env& env_;
  std::uint64_t id_;
  HANDLE handle_;
  std::function<void()> onReady_;
  bool invalid_ = false;
};

}  // namespace tarnset::w32
