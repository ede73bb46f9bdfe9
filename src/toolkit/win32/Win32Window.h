#pragma once
// The Win32 realisation of the main window and the dialogs: the toolkit core's windows
// (their controls, focus, default and cancel buttons, key routing) over windows of the
// toolkit's own classes, with the system's menus, tool tips, DPI changes, the session's
// end and device notices.
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/core/Elements.h"
#include "toolkit/win32/Win32Controls.h"
#include "toolkit/win32/Win32Loop.h"
#include "toolkit/win32/Win32Toolkit.h"

namespace tarnset::w32 {

class WindowSide;

// What the windows of one toolkit share: the loop, the DPI source, the window classes
// and the registry of windows.
class Env {
 public:
  Env(Loop& loop, const DpiSource& dpi);
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  Loop& loop;
  tk::EventCore& core() const { return loop.core(); }
  HINSTANCE instance() const { return loop.instance(); }
  // Dots per inch of a window, and of the primary screen.
  int dpiOf(HWND window) const;
  int primaryDpi() const { return dpiOf(nullptr); }
  // The window that owns a modal box or a dialog: the last visible main window; nullptr
  // when none is shown.
  HWND dialogOwner() const;

  std::vector<WindowSide*> windows;

  static constexpr const wchar_t* kMainClass = L"TarnsetAdjWindow";
  static constexpr const wchar_t* kDialogClass = L"TarnsetAdjDialog";
  static constexpr const wchar_t* kFrameClass = L"TarnsetAdjFrame";

 private:
  const DpiSource& dpi_;
};

// The system side of a window (main window or dialog): its HWND, DPI and font, its
// controls' windows, their keys, focus and notifications, and the tips of its labels.
class WindowSide {
 public:
  WindowSide(Env& env, tk::WindowCore& core);
  virtual ~WindowSide();
  WindowSide(const WindowSide&) = delete;
  WindowSide& operator=(const WindowSide&) = delete;

  Env& env() const { return env_; }
  tk::WindowCore& core() const { return core_; }
  HWND hwnd() const { return hwnd_; }
  virtual bool isMain() const { return false; }
  int dpi() const { return dpi_; }
  HFONT font() const { return font_; }
  int px(std::int32_t twips) const { return tk::pixelsFor(twips, dpi_); }
  std::int32_t twips(int pixels) const { return tk::twipsFor(pixels, dpi_); }

  // The window's outer rectangle on the screen, in twips.
  RECT outer() const;
  // Creates a child control of the window class in the client area or a frame.
  HWND createChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent);
  // The window of a parent frame of this window (the window itself for nullptr).
  HWND parentHandle(tk::FrameCore* parent) const;
  void addPlaced(Placed* p) { placed_.push_back(p); }

  // Messages to a subclassed focus control; true when handled (result in r).
  bool controlMessage(Placed& p, HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r);
  // The messages that the window and its frames handle alike; true when handled.
  bool commonMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r);
  // The window procedures of the toolkit's window classes and of the frames of every window.
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK frameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  // Shows (or, for an empty text, removes) the tip of a label.
  void setLabelTip(HWND label, const std::string& tip, bool existed);

 protected:
  // Creates the window of a class of the toolkit; the procedure finds this side in it.
  void create(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND owner, int width, int height);
  // Finds the side of a window of the toolkit's classes (nullptr before WM_NCCREATE).
  static WindowSide* sideOf(HWND hwnd, UINT msg, LPARAM lp);
  // The window's own messages; false: the default handling.
  virtual bool message(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) = 0;

  // The core's focus hooks, over the system's focus.
  tk::ControlNode* heldFocus() const;
  void focusWidget(tk::ControlNode* c);
  void clearFocus();
  // The window itself got the focus (it was activated): the control that had it gets it
  // back, else the first tab stop, as a dialog does.
  void windowGotFocus();
  // A new DPI: the font, and the controls placed again from their twips.
  void takeDpi(int dpi);
  HWND ensureTipWindow(HWND& tip, bool tracking);
  // The focused control's window: the system's focus while the window is active, else
  // the control that gets it back when the window is activated.
  HWND focusedChild() const;

  Env& env_;
  HWND hwnd_ = nullptr;
  int dpi_;
  HFONT font_ = nullptr;
  HWND labelTips_ = nullptr;
  int innerLoops_ = 0;

 private:
  // A key (WM_KEYDOWN, WM_SYSKEYDOWN, WM_SYSCHAR) on target (nullptr: the window or a
  // frame); true when it was used up.
  bool keyMessage(tk::ControlNode* target, HWND h, UINT msg, WPARAM wp, LRESULT& r);
  // Routes a key pressed on target; true when used up.
  bool routeKey(tk::ControlNode* target, unsigned virtualKey);
  // Alt and a button's access key clicks the button; true when one took it.
  bool accessKey(wchar_t c);
  // Focus rectangles (and access key marks) appear once the keyboard is used.
  void showKeyboardCues(WORD flags);
  Placed* placedOf(HWND h) const;
  // Notifications and colours from child controls; true when handled.
  bool childMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r);

  tk::WindowCore& core_;
  UINT nextChildId_ = 100;
  HWND lastFocus_ = nullptr;
  WORD cuesShown_ = 0;  // the keyboard cues (UISF_ flags) shown once already
  std::vector<Placed*> placed_;
};

// The control factories of a window whose controls go into its client area or frames.
template <class Base>
class W32WindowBase : public Base, public WindowSide {
 public:
  explicit W32WindowBase(Env& env) : Base(env.loop.core().toolkit()), WindowSide(env, *this) {}

  tk::ControlNode* focusHolder() const override { return heldFocus(); }

 protected:
  void giveFocus(tk::ControlNode* c) override { focusWidget(c); }
  void dropFocus() override { clearFocus(); }
  void captionNative() override;

  template <class T>
  std::unique_ptr<T> placed(std::unique_ptr<T> c) {
    addPlaced(c.get());
    return c;
  }
  std::unique_ptr<tk::FrameCore> makeFrame(tk::FrameCore* parent) override {
    return placed(std::make_unique<FrameAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::ListBoxCore> makeListBox(tk::FrameCore* parent) override {
    return placed(std::make_unique<ListBoxAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::ButtonCore> makeButton(tk::FrameCore* parent) override {
    return placed(std::make_unique<ButtonAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::LabelCore> makeLabel(tk::FrameCore* parent) override {
    return placed(std::make_unique<LabelAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::TextFieldCore> makeTextField(tk::FrameCore* parent) override {
    return placed(std::make_unique<TextFieldAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::DropDownCore> makeDropDown(tk::FrameCore* parent) override {
    return placed(std::make_unique<DropDownAdapter>(*this, parent, parentHandle(parent)));
  }
  std::unique_ptr<tk::CheckBoxCore> makeCheckBox(tk::FrameCore* parent) override {
    return placed(std::make_unique<CheckBoxAdapter>(*this, parent, parentHandle(parent)));
  }
};

// --- Menus ---

class MainWindowAdapter;

class MenuItemAdapter final : public tk::MenuItemCore {
 public:
  MenuItemAdapter(MainWindowAdapter& window, HMENU menu, UINT id, const std::string& caption);
  UINT id() const { return id_; }

 protected:
  void captionNative() override;
  void checkedNative() override;
  void tipNative() override;
  void enabledNative() override;

 private:
  MainWindowAdapter& window_;
  HMENU menu_;
  UINT id_;
};

class MenuAdapter final : public tk::MenuCore {
 public:
  MenuAdapter(MainWindowAdapter& window, HMENU menu, const std::string& caption);
  HMENU menu() const { return menu_; }

 protected:
  std::unique_ptr<tk::MenuItemCore> makeItem(const std::string& caption) override;
  std::unique_ptr<tk::MenuCore> makeSubMenu(const std::string& caption) override;
  void separatorNative() override { AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr); }

 private:
  MainWindowAdapter& window_;
  HMENU menu_;
};

// --- The windows ---

class MainWindowAdapter final : public W32WindowBase<tk::MainWindowCore> {
 public:
  explicit MainWindowAdapter(Env& env);
  ~MainWindowAdapter() override;

  bool isMain() const override { return true; }
  std::int32_t scaleWidth() const override;
  std::int32_t scaleHeight() const override;
  std::int32_t left() const override;
  std::int32_t top() const override;
  std::int32_t width() const override;
  std::int32_t height() const override;
  void move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) override;

  // --- Menus and their tips ---
  UINT newCommandId() { return nextCommand_++; }
  void registerMenuItem(MenuItemAdapter* item) { menuItems_[item->id()] = item; }
  void registerMenu(MenuAdapter* menu) { menusByHandle_[menu->menu()] = menu; }
  // The tip of an item changed (it is shown beside the item that the menu selects).
  void menuTipChanged(const MenuItemAdapter& item);
  // Redraws the lines.
  void invalidateLines() { InvalidateRect(hwnd_, nullptr, TRUE); }

 protected:
  bool message(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) override;
  void showNative() override;
  void hideNative() override { ShowWindow(hwnd_, SW_HIDE); }
  std::unique_ptr<tk::MenuCore> makeMenu(const std::string& caption) override;
  std::unique_ptr<tk::TextPaneCore> makeTextPane(tk::FrameCore* parent) override;
  std::unique_ptr<tk::LineCore> makeLine() override;

 private:
  void paint();
  // Applies a new DPI: font, controls from their twips, the suggested window rectangle
  // (nullptr: keep the pixel size), then onResize.
  void applyDpi(int dpi, const RECT* suggested);
  void menuSelected(UINT id, UINT flags, HMENU menu);
  void hideMenuTip();

  UINT nextCommand_ = 1000;
  HMENU menuBar_ = nullptr;
  HWND menuTip_ = nullptr;
  const MenuItemAdapter* menuTipItem_ = nullptr;
  std::map<UINT, MenuItemAdapter*> menuItems_;
  std::map<HMENU, MenuAdapter*> menusByHandle_;
};

class DialogAdapter final : public W32WindowBase<tk::DialogCore> {
 public:
  // owner: the main window it belongs to (nullptr: none).
  DialogAdapter(Env& env, HWND owner);
  ~DialogAdapter() override;

  std::int32_t left() const override;
  std::int32_t top() const override;

 protected:
  bool message(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) override;
  void sizeNative() override;
  void moveNative() override;
  void showNative() override;
  void hideNative() override { ShowWindow(hwnd_, SW_HIDE); }

 private:
  // The outer size of the window for its client size, at its DPI.
  SIZE outerSize() const;
};

}  // namespace tarnset::w32
