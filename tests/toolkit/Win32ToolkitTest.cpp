// The Win32 toolkit on the system (Wine's on the build machines, through its display-less
// driver): the window and its controls in twips, DPI changes through an injected DPI
// source, key routing with preview and consuming, default and cancel buttons, tab order,
// menus with their marks, tips and opening notice, labels, the event loop's timers,
// watches and posted calls (held while a modal box is open, going on while a menu is),
// message and question boxes, the save dialog, quit codes, the fatal-error guard and the
// Latin-1 text round trip.
#define NOMINMAX
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "toolkit/win32/Win32KeyMap.h"
#include "toolkit/win32/Win32Toolkit.h"

namespace tarnset {
namespace {

// ---------------------------------------------------------------- a display under Wine

// Wine makes windows only through a display driver, and the build machines have no X
// display: the test run starts the prefix with Wine's null driver (scripts/wine-run
// --start null), which keeps the windows in memory, where every window function works.
// Without it no window can be made, and every case would fail for that one reason.
[[maybe_unused]] const bool kDisplayChecked = [] {
  HWND h = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (h == nullptr) {
    std::fprintf(stderr,
                 "No window can be made here (error %lu). Under Wine without a display, start the "
                 "prefix with its null display driver first: scripts/wine-run --start null\n",
                 GetLastError());
    std::fflush(nullptr);
    ExitProcess(1);
  }
  DestroyWindow(h);
  return true;
}();

// ---------------------------------------------------------------- helpers

namespace Key = tk::Key;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

HWND hwndOf(tk::MainWindow& w) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(w));
}
HWND hwndOf(tk::Control& c) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(c));
}
HMENU hmenuOf(tk::Menu& m) {
  return reinterpret_cast<HMENU>(Win32Toolkit::handleOf(m));
}

std::wstring textOf(HWND h) {
  const int n = GetWindowTextLengthW(h);
  std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(h, s.data(), n + 1);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

std::wstring classOf(HWND h) {
  wchar_t name[64] = {};
  GetClassNameW(h, name, 64);
  return name;
}

// A child's rectangle in its parent's client coordinates.
RECT rectIn(HWND child, HWND parent) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

::testing::AssertionResult sameRect(const RECT& a, const RECT& b) {
  if (EqualRect(&a, &b)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "{" << a.left << "," << a.top << "," << a.right << "," << a.bottom << "} != {" << b.left << ","
         << b.top << "," << b.right << "," << b.bottom << "}";
}

LOGFONTW fontOf(HWND h) {
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

// The size of a text in the control's font.
SIZE extentIn(HWND h, const std::wstring& text) {
  HDC dc = GetDC(h);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return size;
}

// Dispatches the thread's messages until none has come for a moment.
void pump() {
  ULONGLONG quietSince = GetTickCount64();
  while (GetTickCount64() - quietSince < 40) {
    MSG m;
    bool any = false;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
      any = true;
    }
    if (any) {
      quietSince = GetTickCount64();
    } else {
      Sleep(1);
    }
  }
}

struct Mods {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool extended = false;  // the keypad's Enter, for one
};

// Presses and releases a key through the system's input, as the user does.
void sendKey(WORD vk, Mods m = {}) {
  std::vector<INPUT> in;
  auto key = [&in](WORD k, bool up, bool extended) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = k;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyW(k, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    in.push_back(i);
  };
  if (m.ctrl) key(VK_CONTROL, false, false);
  if (m.alt) key(VK_MENU, false, false);
  if (m.shift) key(VK_SHIFT, false, false);
  key(vk, false, m.extended);
  key(vk, true, m.extended);
  if (m.shift) key(VK_SHIFT, true, false);
  if (m.alt) key(VK_MENU, true, false);
  if (m.ctrl) key(VK_CONTROL, true, false);
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// A key pressed and handled.
void press(WORD vk, Mods m = {}) {
  sendKey(vk, m);
  pump();
}

// --- Modal boxes, played from a thread of the test's own ---

// The visible dialog box (class #32770) of a thread, other than except; nullptr when none.
HWND findDialog(DWORD thread, HWND except) {
  struct Search {
    HWND except;
    HWND found;
  } s{except, nullptr};
  EnumThreadWindows(
      thread,
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (h != s->except && IsWindowVisible(h) && classOf(h) == L"#32770") {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND waitForDialog(DWORD thread, HWND except = nullptr) {
  for (int i = 0; i < 500; ++i) {
    if (HWND d = findDialog(thread, except)) return d;
    Sleep(10);
  }
  return nullptr;
}

// Plays the user in the modal dialog that the test's thread opens next: act runs on a
// thread of its own once the dialog is shown.
class ModalPlayer {
 public:
  explicit ModalPlayer(std::function<void(HWND)> act)
      : ui_(GetCurrentThreadId()), thread_([this, act = std::move(act)] {
          HWND d = waitForDialog(ui_);
          found_ = d != nullptr;
          if (d != nullptr) act(d);
        }) {}
  ~ModalPlayer() { finish(); }
  ModalPlayer(const ModalPlayer&) = delete;
  ModalPlayer& operator=(const ModalPlayer&) = delete;

  // Waits for the player; true when it found a dialog.
  bool finish() {
    if (thread_.joinable()) thread_.join();
    return found_;
  }

 private:
  DWORD ui_;
  std::atomic<bool> found_{false};
  std::thread thread_;
};

// Runs a function on the test's thread when another thread asks: the way to look at the
// toolkit while the test's thread sits in a modal box's loop.
class UiCall {
 public:
  UiCall() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TarnsetTestUiCall";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                            nullptr);
  }
  ~UiCall() { DestroyWindow(hwnd_); }
  UiCall(const UiCall&) = delete;
  UiCall& operator=(const UiCall&) = delete;

  // From another thread: runs f on the test's thread and waits for it.
  void call(const std::function<void()>& f) const {
    SendMessageW(hwnd_, WM_APP, 0, reinterpret_cast<LPARAM>(&f));
  }

 private:
  static LRESULT CALLBACK proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
      (*reinterpret_cast<const std::function<void()>*>(lp))();
      return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
  }
  HWND hwnd_;
};

// What a message box shows.
struct Box {
  std::wstring title;
  std::wstring text;
  HICON icon = nullptr;
  std::vector<int> buttons;  // the ids of the visible buttons
  int defaultButton = 0;
};

Box readBox(HWND box) {
  Box b;
  b.title = textOf(box);
  EnumChildWindows(
      box,
      [](HWND h, LPARAM p) -> BOOL {
        auto* b = reinterpret_cast<Box*>(p);
        const std::wstring cls = classOf(h);
        if (CompareStringOrdinal(cls.c_str(), -1, L"Static", -1, TRUE) == CSTR_EQUAL) {
          if ((GetWindowLongPtrW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            b->icon = reinterpret_cast<HICON>(SendMessageW(h, STM_GETICON, 0, 0));
          } else if (const std::wstring t = textOf(h); !t.empty()) {
            b->text = t;
          }
        } else if (CompareStringOrdinal(cls.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL &&
                   IsWindowVisible(h)) {
          b->buttons.push_back(GetDlgCtrlID(h));
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&b));
  const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
  if (HIWORD(def) == DC_HASDEFID) b.defaultButton = LOWORD(def);
  return b;
}

// A key pressed in a dialog of another thread: to its focused control, whose dialog loop
// handles it.
void keyInDialog(HWND dialog, UINT vk) {
  GUITHREADINFO gti{};
  gti.cbSize = sizeof gti;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gti);
  HWND target = gti.hwndFocus != nullptr ? gti.hwndFocus : dialog;
  PostMessageW(target, WM_KEYDOWN, vk, 1);
  PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

// A DPI source for a screen that the test machine does not have.
class FakeDpi final : public DpiSource {
 public:
  explicit FakeDpi(int dpi) : dpi_(dpi) {}
  int dpiOf(std::intptr_t /*window*/) const override { return dpi_; }
  void set(int dpi) { dpi_ = dpi; }

 private:
  int dpi_;
};

class Win32ToolkitTest : public ::testing::Test {
 protected:
  HWND hwnd() { return hwndOf(*win); }

  void showActive() {
    win->show();
    SetForegroundWindow(hwnd());
    pump();
    ASSERT_EQ(GetActiveWindow(), hwnd());
  }

  // Records every key the window's preview and the list's handler see.
  void logKeys(tk::ListBox& list) {
    win->onKeyDown = [this](std::int16_t& code, std::int16_t shift) {
      log.push_back("window " + std::to_string(code) + "/" + std::to_string(shift));
    };
    list.onKeyDown = [this](std::int16_t& code, std::int16_t shift) {
      log.push_back("list " + std::to_string(code) + "/" + std::to_string(shift));
      if (consumeInList) code = 0;
    };
  }

  // A timer that ends the loop with 99 should a test's own ending never come.
  std::unique_ptr<tk::Timer> guard(std::int32_t ms = 5000) {
    auto t = kit.createTimer();
    t->onTick = [this] {
      EndMenu();
      kit.quit(99);
    };
    t->setInterval(ms);
    t->setEnabled(true);
    return t;
  }

  Win32Toolkit kit;
  std::unique_ptr<tk::MainWindow> win = kit.createMainWindow();
  std::vector<std::string> log;
  bool consumeInList = false;
};

// ---------------------------------------------------------------- window, menus, geometry

TEST_F(Win32ToolkitTest, WindowComesUpWithItsCaptionMenusAndControls) {
  win->setCaption("Tarnset ADJ Rev.1.2");
  win->addMenu("&File").addItem("E&xit");
  tk::Menu& port = win->addMenu("&Option").addSubMenu("&Port");
  for (const char* c : {"COM &1", "COM &2", "COM &3"}) port.addItem(c);
  tk::CommandButton& connect = win->addButton(nullptr);
  connect.setCaption("Connect");
  tk::ListBox& list = win->addListBox(nullptr);
  list.addItem("[A/D]");
  showActive();

  EXPECT_EQ(textOf(hwnd()), L"Tarnset ADJ Rev.1.2");
  EXPECT_TRUE(win->isShown());
  HMENU bar = GetMenu(hwnd());
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  wchar_t caption[64] = {};
  GetMenuStringW(bar, 0, caption, 64, MF_BYPOSITION);
  EXPECT_STREQ(caption, L"&File");
  HMENU option = GetSubMenu(bar, 1);
  ASSERT_EQ(GetSubMenu(option, 0), hmenuOf(port));
  GetMenuStringW(hmenuOf(port), 2, caption, 64, MF_BYPOSITION);
  EXPECT_STREQ(caption, L"COM &3");
  EXPECT_EQ(textOf(hwndOf(connect)), L"Connect");
  EXPECT_EQ(classOf(hwndOf(list)), L"ListBox");
  EXPECT_EQ(list.itemText(0), "[A/D]");
  EXPECT_TRUE(IsWindowVisible(hwndOf(connect)));
}

TEST_F(Win32ToolkitTest, MenuItemsAreChosenByTheirCommandAndOnlyTheLogicSetsMarksAndEnables) {
  tk::Menu& file = win->addMenu("&File");
  tk::MenuItem& save = file.addItem("&Save report...");
  file.addSeparator();
  tk::MenuItem& exit = file.addItem("E&xit");
  tk::Menu& port = win->addMenu("&Option").addSubMenu("&Port");
  tk::MenuItem& com1 = port.addItem("COM &1");
  tk::MenuItem& com3 = port.addItem("COM &3");
  save.onClick = [&] { log.push_back("save"); };
  exit.onClick = [&] { log.push_back("exit"); };
  com1.onClick = [&] { log.push_back("com1"); };
  auto choose = [&](tk::MenuItem& item) {
    SendMessageW(hwnd(), WM_COMMAND, MAKEWPARAM(Win32Toolkit::commandOf(item), 0), 0);
  };
  auto state = [&](tk::Menu& menu, tk::MenuItem& item) {
    return GetMenuState(hmenuOf(menu), Win32Toolkit::commandOf(item), MF_BYCOMMAND);
  };

  com1.setChecked(true);  // port 1 at start, then port 3 chosen
  com3.setChecked(true);
  com1.setChecked(false);
  choose(com1);
  EXPECT_EQ(log, std::vector<std::string>{"com1"});
  EXPECT_EQ(state(port, com1) & MF_CHECKED, 0u) << "choosing an item does not mark it";
  EXPECT_NE(state(port, com3) & MF_CHECKED, 0u) << "not an exclusive group";

  // A disabled item is greyed and its command does nothing.
  save.setEnabled(false);
  EXPECT_NE(state(file, save) & MF_GRAYED, 0u);
  choose(save);
  EXPECT_EQ(log.size(), 1u);
  save.setEnabled(true);
  EXPECT_EQ(state(file, save) & MF_GRAYED, 0u);
  choose(save);
  choose(exit);
  EXPECT_EQ(log, (std::vector<std::string>{"com1", "save", "exit"}));

  // The separator sits between the two items.
  ASSERT_EQ(GetMenuItemCount(hmenuOf(file)), 3);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  ASSERT_TRUE(GetMenuItemInfoW(hmenuOf(file), 1, TRUE, &info));
  EXPECT_NE(info.fType & MFT_SEPARATOR, 0u);
  EXPECT_EQ(GetMenuItemID(hmenuOf(file), 2), Win32Toolkit::commandOf(exit));

  // Opening a menu tells the logic first, so that it can bring its items up to date.
  port.onAboutToShow = [&] {
    log.push_back("port opens");
    com3.setTip("\\\\.\\COM3");
  };
  SendMessageW(hwnd(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(hmenuOf(port)), MAKELPARAM(0, FALSE));
  EXPECT_EQ(log.back(), "port opens");
  EXPECT_EQ(com3.tip(), "\\\\.\\COM3");
}

// The tool tip window owned by the main window that shows the tool (hwnd, id); its text.
std::optional<std::wstring> tipText(HWND owner, HWND toolWindow, UINT_PTR toolId) {
  struct Search {
    HWND owner;
    HWND toolWindow;
    UINT_PTR toolId;
    std::optional<std::wstring> text;
  } s{owner, toolWindow, toolId, std::nullopt};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (GetWindow(h, GW_OWNER) != s->owner || classOf(h) != L"tooltips_class32") return TRUE;
        wchar_t buffer[512] = {};
        TOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = s->toolWindow;
        ti.uId = s->toolId;
        ti.lpszText = buffer;
        if (!SendMessageW(h, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&ti))) return TRUE;
        ti.lpszText = buffer;
        SendMessageW(h, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
        s->text = buffer;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.text;
}

TEST_F(Win32ToolkitTest, AnOpenMenuShowsTheSelectedItemsTipAndTheTimersGoOn) {
  tk::Menu& port = win->addMenu("&Option").addSubMenu("&Port");
  tk::MenuItem& com1 = port.addItem("COM &1");
  port.addItem("COM &2");
  com1.setTip("COM 1 is \\\\.\\COM7");
  int opened = 0;
  port.onAboutToShow = [&] { ++opened; };
  showActive();

  bool inMenu = false;
  int ticksInMenu = 0;
  bool tipShown = false;
  std::optional<std::wstring> shownText;
  auto timer = kit.createTimer();
  timer->setInterval(10);
  timer->setEnabled(true);
  timer->onTick = [&] {
    if (!inMenu) return;
    ++ticksInMenu;
    if (ticksInMenu == 3) sendKey(VK_DOWN);  // selects the first item
    if (ticksInMenu == 10) {
      tipShown = false;
      EnumThreadWindows(
          GetCurrentThreadId(),
          [](HWND h, LPARAM p) -> BOOL {
            if (classOf(h) == L"tooltips_class32" && IsWindowVisible(h)) *reinterpret_cast<bool*>(p) = true;
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&tipShown));
      shownText = tipText(hwnd(), hwnd(), 1);
      EndMenu();
    }
  };
  kit.post([&] {
    inMenu = true;
    TrackPopupMenu(hmenuOf(port), TPM_RETURNCMD, 100, 100, 0, hwnd(), nullptr);
    inMenu = false;
    kit.quit(3);
  });
  // Should no timer run inside the menu's loop, the menu is closed from outside.
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread watchdog([this, done] {
    if (WaitForSingleObject(done, 5000) == WAIT_TIMEOUT) PostMessageW(hwnd(), WM_CANCELMODE, 0, 0);
  });
  EXPECT_EQ(kit.run(), 3);
  SetEvent(done);
  watchdog.join();
  CloseHandle(done);
  EXPECT_GE(ticksInMenu, 10) << "the poll timer ticks while a menu is open";
  EXPECT_EQ(opened, 1);
  EXPECT_TRUE(tipShown);
  EXPECT_EQ(shownText, std::optional<std::wstring>(L"COM 1 is \\\\.\\COM7"));
}

TEST_F(Win32ToolkitTest, TwipsBecomePixelsByTheWindowsDpiAndChildrenSitInTheirFrames) {
  HDC dc = GetDC(hwnd());
  const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(hwnd(), dc);
  const double tpp = 1440.0 / dpi;
  auto px = [&](std::int32_t twips) { return static_cast<LONG>(std::lround(twips / tpp)); };
  EXPECT_EQ(kit.twipsPerPixelX(), std::lround(tpp));
  EXPECT_EQ(kit.twipsPerPixelY(), std::lround(tpp));
  RECT area{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_EQ(kit.screenWidth(), std::lround((area.right - area.left) * tpp));
  EXPECT_EQ(kit.screenHeight(), std::lround((area.bottom - area.top) * tpp));

  tk::Frame& frame = win->addFrame(nullptr);
  frame.move(120, 600, 6000, 3000);
  tk::ListBox& list = win->addListBox(&frame);
  list.move(120, 120, 2880, 1500);
  tk::CommandButton& fresh = win->addButton(nullptr);  // not moved: the default size
  EXPECT_TRUE(sameRect(rectIn(hwndOf(frame), hwnd()),
                       RECT{px(120), px(600), px(120) + px(6000), px(600) + px(3000)}));
  EXPECT_TRUE(sameRect(rectIn(hwndOf(list), hwndOf(frame)),
                       RECT{px(120), px(120), px(120) + px(2880), px(120) + px(1500)}))
      << "relative to the frame";
  EXPECT_EQ(list.width(), 2880);
  EXPECT_TRUE(sameRect(rectIn(hwndOf(fresh), hwnd()), RECT{0, 0, px(1200), px(360)}));

  win->addMenu("&File").addItem("E&xit");
  int resizes = 0;
  win->onResize = [&] { ++resizes; };
  win->move(0, 0, 9525, 6600);
  RECT outer;
  GetWindowRect(hwnd(), &outer);
  EXPECT_EQ(outer.right - outer.left, px(9525));
  EXPECT_EQ(outer.bottom - outer.top, px(6600));
  EXPECT_EQ(win->width(), 9525);
  EXPECT_EQ(win->left(), 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  EXPECT_EQ(win->scaleWidth(), std::lround(client.right * tpp));
  EXPECT_EQ(win->scaleHeight(), std::lround(client.bottom * tpp));
  EXPECT_LT(win->scaleHeight(), 6600 - 2 * GetSystemMetrics(SM_CYMENU) * tpp)
      << "caption and menu bar are outside";
  EXPECT_EQ(resizes, 0) << "a hidden window reports its size when it is shown";
  showActive();
  EXPECT_EQ(resizes, 1);
  win->move(0, 0, 9000, 6000);
  EXPECT_EQ(resizes, 2);
}

class Win32DpiTest : public ::testing::Test {
 protected:
  FakeDpi dpi{120};
  Win32Toolkit kit{&dpi};
  std::unique_ptr<tk::MainWindow> win = kit.createMainWindow();
};

TEST_F(Win32DpiTest, ControlsFontsAndSizesFollowTheWindowsDpiWhenItMovesToAnotherScreen) {
  HWND main = hwndOf(*win);
  tk::Frame& frame = win->addFrame(nullptr);
  frame.move(120, 600, 6000, 3000);
  tk::ListBox& list = win->addListBox(&frame);
  list.move(120, 120, 2880, 1500);
  tk::Label& busy = win->addLabel(nullptr);
  busy.setCaption("COM 1: OPEN");
  busy.move(120, 120, 0, 0);
  int resizes = 0;
  win->onResize = [&] { ++resizes; };

  // 120 DPI: 12 twips per pixel, a 9 point font of 15 pixels.
  EXPECT_EQ(kit.twipsPerPixelX(), 12);
  EXPECT_TRUE(sameRect(rectIn(hwndOf(list), hwndOf(frame)), RECT{10, 10, 250, 135}));
  EXPECT_EQ(fontOf(hwndOf(list)).lfHeight, -15);
  EXPECT_STREQ(fontOf(hwndOf(list)).lfFaceName, L"Courier New");
  win->move(0, 0, 9525, 6600);
  RECT outer;
  GetWindowRect(main, &outer);
  EXPECT_EQ(outer.right - outer.left, 794);  // 9525 twips at 120 DPI
  win->show();
  EXPECT_EQ(resizes, 1);

  // The window goes to a screen of 144 DPI: the system tells it with WM_DPICHANGED, the
  // new DPI and the rectangle it suggests there.
  dpi.set(144);
  RECT suggested{20, 30, 20 + 953, 30 + 660};
  SendMessageW(main, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(kit.twipsPerPixelX(), 10);
  EXPECT_TRUE(sameRect(rectIn(hwndOf(list), hwndOf(frame)), RECT{12, 12, 300, 162}))
      << "placed again from its twips";
  EXPECT_TRUE(sameRect(rectIn(hwndOf(frame), main), RECT{12, 60, 612, 360}));
  EXPECT_EQ(fontOf(hwndOf(list)).lfHeight, -18);
  EXPECT_EQ(fontOf(hwndOf(busy)).lfHeight, -18);
  RECT label;
  GetClientRect(hwndOf(busy), &label);
  const SIZE text = extentIn(hwndOf(busy), L"COM 1: OPEN");
  EXPECT_GE(label.right, text.cx) << "the label grew with its font";
  EXPECT_GE(label.bottom, text.cy);
  EXPECT_EQ(busy.width(), label.right * 10);
  GetWindowRect(main, &outer);
  EXPECT_TRUE(sameRect(outer, suggested));
  EXPECT_EQ(resizes, 2) << "one resize for the new DPI";
  RECT client;
  GetClientRect(main, &client);
  EXPECT_EQ(win->scaleWidth(), client.right * 10);
}

// ---------------------------------------------------------------- keys and focus

TEST_F(Win32ToolkitTest, KeysReachThePreviewThenTheListAndAConsumedKeyDoesNotMoveTheSelection) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (const char* s : {"a", "b", "c"}) list.addItem(s);
  list.setListIndex(0);
  logKeys(list);
  showActive();
  list.setFocus();
  ASSERT_TRUE(list.hasFocus());

  press(VK_DOWN);
  EXPECT_EQ(list.listIndex(), 1);
  consumeInList = true;
  press(VK_DOWN);
  EXPECT_EQ(list.listIndex(), 1);
  press(VK_RIGHT, {.shift = true});
  press(VK_SEPARATOR);
  press(VK_RETURN, {.extended = true});  // the keypad's Enter
  press(VK_LEFT, {.ctrl = true, .alt = true});
  press(VK_SHIFT);      // a bare modifier: nobody sees it
  press(VK_OEM_COMMA);  // no code: passes untouched
  EXPECT_EQ(log, (std::vector<std::string>{"window 40/0", "list 40/0", "window 40/0", "list 40/0",
                                           "window 39/1", "list 39/1", "window 108/0", "list 108/0",
                                           "window 13/0", "list 13/0", "window 37/6", "list 37/6"}));
}

TEST_F(Win32ToolkitTest, AConsumedLetterNeverReachesTheListsOwnSearch) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (const char* s : {"apple", "banana", "cherry"}) list.addItem(s);
  list.setListIndex(0);
  showActive();
  list.setFocus();
  win->onKeyDown = [](std::int16_t& code, std::int16_t) {
    if (code == 'C') code = 0;
  };
  press('C');
  EXPECT_EQ(list.listIndex(), 0);
  win->onKeyDown = nullptr;
  press('C');
  EXPECT_EQ(list.listIndex(), 2) << "the list finds the line by its first letter";
}

TEST_F(Win32ToolkitTest, F5ReachesThePreviewWhateverHasTheFocus) {
  tk::CommandButton& button = win->addButton(nullptr);
  tk::TextPane& pane = win->addTextPane(nullptr);
  pane.move(0, 600, 3000, 1500);
  pane.setText("line 1\r\nline 2");
  win->onKeyDown = [&](std::int16_t& code, std::int16_t) { log.push_back(std::to_string(code)); };
  showActive();
  button.setFocus();
  press(VK_F5);
  pane.setFocus();
  ASSERT_TRUE(pane.hasFocus());
  press(VK_F5);
  EXPECT_EQ(log, (std::vector<std::string>{"116", "116"}));
  EXPECT_EQ(textOf(hwndOf(pane)), L"line 1\r\nline 2");
  EXPECT_EQ(pane.text(), "line 1\r\nline 2");
  const LONG_PTR style = GetWindowLongPtrW(hwndOf(pane), GWL_STYLE);
  EXPECT_NE(style & ES_READONLY, 0);
  EXPECT_NE(style & ES_MULTILINE, 0);
}

TEST_F(Win32ToolkitTest, ReturnClicksTheDefaultButtonAndEscapeTheCancelButtonFromAnyFocus) {
  tk::Frame& frame = win->addFrame(nullptr);
  frame.move(0, 0, 4000, 1000);
  tk::CommandButton& ok = win->addButton(&frame);
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 1200, 3000, 1500);
  ok.setDefault(true);
  ok.setCancel(true);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(ok), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  ok.onClick = [&] { log.push_back("click"); };
  std::string typed;
  ok.onKeyPress = [&](char c) { typed += c; };
  showActive();
  list.setFocus();
  press(VK_RETURN);
  press(VK_ESCAPE);
  EXPECT_EQ(log, (std::vector<std::string>{"click", "click"}));

  frame.setVisible(false);  // a hidden default button takes no Return
  press(VK_RETURN);
  frame.setVisible(true);
  ok.setEnabled(false);  // nor a disabled one
  press(VK_RETURN);
  EXPECT_EQ(log.size(), 2u);
  ok.setEnabled(true);

  ok.setFocus();
  press('K');
  press('K', {.shift = true});
  EXPECT_EQ(typed, "kK");

  // Another button made default takes the role.
  tk::CommandButton& other = win->addButton(nullptr);
  other.setDefault(true);
  EXPECT_FALSE(ok.isDefault());
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(ok), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
}

TEST_F(Win32ToolkitTest, TabOrderFollowsMoveToEndAndSkipsControlsWithoutTabStop) {
  tk::CommandButton& a = win->addButton(nullptr);
  tk::CommandButton& b = win->addButton(nullptr);
  tk::CommandButton& c = win->addButton(nullptr);
  a.moveToEndOfTabOrder();  // b, c, a
  showActive();
  c.setFocus();
  press(VK_TAB);
  EXPECT_TRUE(a.hasFocus());
  a.setTabStop(false);
  EXPECT_FALSE(a.tabStop());
  c.setFocus();
  press(VK_TAB);
  EXPECT_TRUE(b.hasFocus());
  press(VK_TAB, {.shift = true});
  EXPECT_TRUE(c.hasFocus());
}

TEST_F(Win32ToolkitTest, TheFocusMovesOnWhenItsControlIsHiddenOrDisabled) {
  tk::Frame& frame = win->addFrame(nullptr);
  tk::CommandButton& a = win->addButton(nullptr);
  tk::CommandButton& b = win->addButton(&frame);
  tk::CommandButton& c = win->addButton(nullptr);
  showActive();
  b.setFocus();
  ASSERT_TRUE(b.hasFocus());
  frame.setVisible(false);
  EXPECT_TRUE(c.hasFocus());
  c.setEnabled(false);
  EXPECT_TRUE(a.hasFocus());
  a.setVisible(false);
  EXPECT_EQ(GetFocus(), hwnd()) << "nothing left: the window keeps the keys";
  EXPECT_FALSE(a.hasFocus());
  b.setFocus();  // inside a hidden frame: refused
  EXPECT_EQ(GetFocus(), hwnd());
}

TEST_F(Win32ToolkitTest, TheFirstTabStopGetsTheFocusWhenTheWindowIsActivatedAndItsControlGetsItBack) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.setTabStop(false);
  tk::CommandButton& connect = win->addButton(nullptr);
  tk::ListBox& console = win->addListBox(nullptr);
  int consoleFocus = 0;
  console.onGotFocus = [&] { ++consoleFocus; };
  showActive();
  EXPECT_TRUE(connect.hasFocus());
  console.setFocus();
  EXPECT_EQ(consoleFocus, 1);

  // Another window takes the activation and gives it back.
  HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr);
  SetActiveWindow(other);
  pump();
  EXPECT_TRUE(console.hasFocus()) << "the window remembers its focused control";
  SetActiveWindow(hwnd());
  pump();
  EXPECT_EQ(GetFocus(), hwndOf(console));
  EXPECT_EQ(consoleFocus, 2);
  DestroyWindow(other);
}

TEST_F(Win32ToolkitTest, ListGotFocusAndTextChangesThatKeepSelectionAndScrolling) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (int i = 0; i < 100; ++i) list.addItem("line " + std::to_string(i));
  int gotFocus = 0;
  list.onGotFocus = [&] { ++gotFocus; };
  showActive();
  list.setFocus();
  EXPECT_EQ(gotFocus, 1);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(list), GWL_STYLE) & LBS_SORT, 0);

  list.setListIndex(80);
  const LRESULT top = SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0);
  EXPECT_GT(top, 0);
  list.setItemText(0, "first");
  list.setItemText(80, "eighty");
  list.setItemText(81, "eighty-one");
  EXPECT_EQ(SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0), top);
  EXPECT_EQ(list.listIndex(), 80);
  EXPECT_EQ(list.itemText(80), "eighty");
  EXPECT_EQ(list.itemText(0), "first");
  EXPECT_EQ(list.listCount(), 100);
  // Scrolled away from the selected line, which then changes: the list stays where it is.
  SendMessageW(hwndOf(list), LB_SETTOPINDEX, 0, 0);
  list.setItemText(80, "eighty!");
  EXPECT_EQ(SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0), 0);
  EXPECT_EQ(list.listIndex(), 80);
  list.setListIndex(-1);
  EXPECT_EQ(list.listIndex(), -1);
  EXPECT_THROW(list.setListIndex(100), std::out_of_range);
  EXPECT_THROW(list.setItemText(100, "x"), std::out_of_range);
  list.clear();
  EXPECT_EQ(list.listCount(), 0);
  EXPECT_EQ(list.listIndex(), -1);
}

// ---------------------------------------------------------------- labels

TEST_F(Win32ToolkitTest, LabelsSizeToTheirCaptionInTheFixedPitchFont) {
  tk::Frame& frame = win->addFrame(nullptr);
  frame.move(0, 1200, 6000, 3000);
  tk::Label& busy = win->addLabel(nullptr);
  busy.setCaption("COM 1: OPEN");
  const std::int32_t oneLine = busy.height();
  const std::int32_t width = busy.width();
  EXPECT_GT(oneLine, 0);
  busy.setCaption("COM 1: WXYZ");  // same length in a fixed-pitch font: same width
  EXPECT_EQ(busy.width(), width);
  busy.setCaption("COM 1: OPEN\r\nsecond");
  EXPECT_EQ(busy.height(), 2 * oneLine);
  EXPECT_EQ(busy.width(), width);
  EXPECT_EQ(textOf(hwndOf(busy)), L"COM 1: OPEN\r\nsecond");
  busy.move(120, 120, 1, 1);
  EXPECT_EQ(busy.left(), 120);
  EXPECT_EQ(busy.width(), width);
  const int tpp = kit.twipsPerPixelX();
  EXPECT_TRUE(sameRect(rectIn(hwndOf(busy), hwnd()),
                       RECT{120 / tpp, 120 / tpp, 120 / tpp + width / tpp, 120 / tpp + 2 * oneLine / tpp}));
  EXPECT_NE(GetWindowLongPtrW(hwndOf(busy), GWL_STYLE) & SS_CENTER, 0)
      << "lines centred, as in the Qt window";

  const LOGFONTW font = fontOf(hwndOf(busy));
  EXPECT_STREQ(font.lfFaceName, L"Courier New");
  EXPECT_EQ(font.lfHeight, -MulDiv(9, 1440 / tpp, 72));
  EXPECT_EQ(extentIn(hwndOf(busy), L"iiii").cx, extentIn(hwndOf(busy), L"WWWW").cx) << "a fixed-pitch face";

  busy.setCaption("");
  EXPECT_EQ(busy.width(), 0);
  EXPECT_EQ(busy.height(), oneLine);
}

TEST_F(Win32ToolkitTest, LabelColoursComeFromTheSystemAndTheTipShowsAsItsToolTip) {
  tk::Frame& frame = win->addFrame(nullptr);
  tk::Label& port = win->addLabel(nullptr);
  tk::Label& inFrame = win->addLabel(&frame);
  tk::TextPane& pane = win->addTextPane(nullptr);
  port.setCaption("COM 1: OPEN");
  HDC dc = CreateCompatibleDC(nullptr);
  auto colours = [&](HWND parent, HWND control) {
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
    return std::tuple{GetTextColor(dc), GetBkColor(dc), brush};
  };
  EXPECT_EQ(colours(hwnd(), hwndOf(port)), std::tuple(GetSysColor(COLOR_BTNTEXT), GetSysColor(COLOR_BTNFACE),
                                                      GetSysColorBrush(COLOR_BTNFACE)));
  port.setForeColor(tk::SysColor::GrayText);
  EXPECT_EQ(port.foreColor(), tk::SysColor::GrayText);
  EXPECT_EQ(std::get<0>(colours(hwnd(), hwndOf(port))), GetSysColor(COLOR_GRAYTEXT));
  inFrame.setForeColor(tk::SysColor::GrayText);
  EXPECT_EQ(std::get<0>(colours(hwndOf(frame), hwndOf(inFrame))), GetSysColor(COLOR_GRAYTEXT));
  // The read-only pane is drawn like an editable one, not greyed.
  EXPECT_EQ(
      colours(hwnd(), hwndOf(pane)),
      std::tuple(GetSysColor(COLOR_WINDOWTEXT), GetSysColor(COLOR_WINDOW), GetSysColorBrush(COLOR_WINDOW)));
  DeleteDC(dc);

  port.setTip("COM 1 is \\\\.\\COM7\r\nexclusive");
  EXPECT_EQ(port.tip(), "COM 1 is \\\\.\\COM7\r\nexclusive");
  const auto id = reinterpret_cast<UINT_PTR>(hwndOf(port));
  EXPECT_EQ(tipText(hwnd(), hwnd(), id), std::optional<std::wstring>(L"COM 1 is \\\\.\\COM7\r\nexclusive"));
  port.setTip("COM 1 is \\\\.\\COM8");
  EXPECT_EQ(tipText(hwnd(), hwnd(), id), std::optional<std::wstring>(L"COM 1 is \\\\.\\COM8"));
  port.setTip("");
  EXPECT_EQ(tipText(hwnd(), hwnd(), id), std::nullopt);
}

// ---------------------------------------------------------------- the event loop

TEST_F(Win32ToolkitTest, TimersTickEveryIntervalNeverEarlyAndQuitEndsTheLoopWithItsCode) {
  auto timer = kit.createTimer();
  std::vector<Clock::time_point> at;
  timer->onTick = [&] {
    at.push_back(Clock::now());
    if (at.size() == 5) kit.quit(9);
  };
  timer->setInterval(20);
  EXPECT_FALSE(timer->enabled());
  int idleTicks = 0;
  auto idle = kit.createTimer();  // never enabled
  idle->setInterval(5);
  idle->onTick = [&] { ++idleTicks; };
  auto zero = kit.createTimer();  // enabled without an interval
  zero->onTick = [&] { ++idleTicks; };
  zero->setEnabled(true);
  int onceTicks = 0;
  std::unique_ptr<tk::Timer> once = kit.createTimer();  // destroys itself in its first tick
  once->onTick = [&] {
    ++onceTicks;
    once.reset();
  };
  once->setInterval(1);
  once->setEnabled(true);

  const auto stop = guard();
  const auto start = Clock::now();
  timer->setEnabled(true);
  EXPECT_EQ(kit.run(), 9);
  ASSERT_EQ(at.size(), 5u);
  for (std::size_t k = 0; k < at.size(); ++k) {
    EXPECT_GE(at[k] - start, milliseconds(20 * (k + 1))) << "tick " << k + 1 << " came early";
  }
  EXPECT_EQ(idleTicks, 0);
  EXPECT_EQ(onceTicks, 1);
}

TEST_F(Win32ToolkitTest, QuitBeforeTheLoopMakesRunReturnAtOnceAndKeepsMessageBoxesWorking) {
  kit.quit(4);
  Box box;
  ModalPlayer player([&](HWND d) {
    box = readBox(d);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(kit.messageBox("Cannot read 'Const.ini'.", "Tarnset ADJ Rev.1.2", ""), 1);
  EXPECT_TRUE(player.finish());
  EXPECT_EQ(box.text, L"Cannot read 'Const.ini'.");
  EXPECT_EQ(box.title, L"Tarnset ADJ Rev.1.2");
  EXPECT_EQ(kit.run(), 4);
  kit.quit(0);
  EXPECT_EQ(kit.run(), 0) << "each quit is taken once";
}

TEST_F(Win32ToolkitTest, AMessageBoxHoldsTimersWatchesAndPostedCallsUntilItCloses) {
  showActive();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int ticks = 0;
  int watchRuns = 0;
  int postedRuns = 0;
  auto watch = kit.watch(reinterpret_cast<Waitable>(event), [&] {
    ResetEvent(event);
    ++watchRuns;
  });
  struct Seen {
    bool modal = false;
    int ticks = -1;
    int watchRuns = -1;
    int postedRuns = -1;
  };
  Seen first, later;
  Box box;
  bool found = false;
  const UiCall ui;
  auto look = [&](Seen& s) { ui.call([&] { s = {kit.modalActive(), ticks, watchRuns, postedRuns}; }); };

  auto timer = kit.createTimer();
  timer->setInterval(10);
  timer->onTick = [&] {
    ++ticks;
    if (ticks == 3) {
      kit.post([&] { ++postedRuns; });
      ModalPlayer player([&](HWND dialog) {
        look(first);
        SetEvent(event);
        Sleep(200);
        look(later);
        box = readBox(dialog);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      });
      EXPECT_EQ(kit.messageBox("Line one\r\nLine two", "Tarnset ADJ Rev.1.2",
                               "Port: COM1\r\nNext step: plug it in"),
                1);
      found = player.finish();
      EXPECT_FALSE(kit.modalActive());
    }
    if (ticks >= 8 && watchRuns > 0 && postedRuns > 0) kit.quit(7);
  };
  timer->setEnabled(true);
  const auto stop = guard();
  EXPECT_EQ(kit.run(), 7);
  ASSERT_TRUE(found);
  EXPECT_TRUE(first.modal);
  EXPECT_EQ(first.ticks, 3);
  EXPECT_EQ(later.ticks, 3) << "no tick while the box is open";
  EXPECT_EQ(later.watchRuns, 0) << "the signalled event waited for the box";
  EXPECT_EQ(later.postedRuns, 0) << "the posted call waited for the box";
  EXPECT_EQ(postedRuns, 1);
  EXPECT_GE(watchRuns, 1);
  EXPECT_EQ(box.title, L"Tarnset ADJ Rev.1.2");
  EXPECT_EQ(box.text, L"Line one\r\nLine two\r\n\r\nPort: COM1\r\nNext step: plug it in")
      << "the details below the text, in the same box";
  EXPECT_EQ(box.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_HAND)));
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
  watch.reset();
  CloseHandle(event);
}

TEST_F(Win32ToolkitTest, QuestionBoxAnswersOkOnlyForOkAndReturn) {
  showActive();
  const UiCall ui;
  Box box;
  bool modal = false;
  {
    ModalPlayer player([&](HWND d) {
      ui.call([&] { modal = kit.modalActive(); });
      box = readBox(d);
      keyInDialog(d, VK_RETURN);
    });
    EXPECT_TRUE(kit.askOkCancel("Write the alignment report?\r\nIt holds 12 values.", "Tarnset ADJ Rev.1.2",
                                "File: C:\\report.html\r\nAn existing file is replaced."));
    EXPECT_TRUE(player.finish());
  }
  EXPECT_TRUE(modal);
  EXPECT_FALSE(kit.modalActive());
  EXPECT_EQ(box.text,
            L"Write the alignment report?\r\nIt holds 12 values.\r\n\r\n"
            L"File: C:\\report.html\r\nAn existing file is replaced.");
  EXPECT_EQ(box.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION)));
  EXPECT_EQ(box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(box.defaultButton, IDOK);

  const std::vector<std::pair<const char*, std::function<void(HWND)>>> answers{
      {"Escape", [](HWND d) { keyInDialog(d, VK_ESCAPE); }},
      {"Cancel", [](HWND d) { PostMessageW(d, WM_COMMAND, IDCANCEL, 0); }},
      {"close box", [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); }},
  };
  for (const auto& [name, act] : answers) {
    ModalPlayer player(act);
    EXPECT_FALSE(kit.askOkCancel("Go on?", "T", "")) << name;
    EXPECT_TRUE(player.finish()) << name;
  }
  ModalPlayer ok([&](HWND d) {
    box = readBox(d);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_TRUE(kit.askOkCancel("OK?", "T", ""));
  EXPECT_TRUE(ok.finish());
  EXPECT_EQ(box.text, L"OK?");
}

TEST_F(Win32ToolkitTest, AWatchRunsWhenItsEventIsSignalledAndMayEndItself) {
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset: one run per signal
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int runs = 0;
  int neverRuns = 0;
  std::unique_ptr<tk::Watch> watch = kit.watch(reinterpret_cast<Waitable>(ready), [&] {
    if (++runs == 2) {
      watch.reset();  // as the serial host does when its port closed itself
      kit.quit(5);
    }
  });
  auto quiet = kit.watch(reinterpret_cast<Waitable>(never), [&] { ++neverRuns; });
  std::thread signaller([ready] {
    Sleep(30);
    SetEvent(ready);
    Sleep(30);
    SetEvent(ready);
  });
  const auto stop = guard();
  EXPECT_EQ(kit.run(), 5);
  signaller.join();
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(neverRuns, 0);
  EXPECT_EQ(watch, nullptr);
  EXPECT_THROW(kit.watch(kNoWaitable, [] {}), std::invalid_argument);
  quiet.reset();
  CloseHandle(ready);
  CloseHandle(never);
}

TEST_F(Win32ToolkitTest, PostedCallsRunAfterTheCallerHasReturnedInTheirOrder) {
  std::vector<std::string> order;
  tk::CommandButton& button = win->addButton(nullptr);
  button.onClick = [&] {
    kit.post([&] {
      order.push_back("a");
      kit.post([&] {
        order.push_back("c");
        kit.quit(2);
      });
    });
    kit.post([&] { order.push_back("b"); });
    order.push_back("click done");
  };
  showActive();
  kit.post([&] { SendMessageW(hwndOf(button), BM_CLICK, 0, 0); });
  EXPECT_TRUE(order.empty());
  const auto stop = guard();
  EXPECT_EQ(kit.run(), 2);
  EXPECT_EQ(order, (std::vector<std::string>{"click done", "a", "b", "c"}));
}

TEST_F(Win32ToolkitTest, UnloadRunsQueryUnloadThenUnloadOnceEvenFromTheCloseBox) {
  win->onQueryUnload = [&] { log.push_back("query"); };
  win->onUnload = [&] { log.push_back("unload"); };
  showActive();
  SendMessageW(hwnd(), WM_CLOSE, 0, 0);
  win->unload();
  EXPECT_EQ(log, (std::vector<std::string>{"query", "unload"}));
  EXPECT_FALSE(win->isShown());
  EXPECT_TRUE(IsWindow(hwnd())) << "closed, not destroyed: the logic still holds it";
  win->show();
  win->unload();
  EXPECT_EQ(log.size(), 4u) << "shown again, it unloads again";
}

TEST_F(Win32ToolkitTest, ProgrammingErrorsInNotificationsReachTheFatalHandlerOrEndTheLoop) {
  tk::CommandButton& button = win->addButton(nullptr);
  button.onClick = [] { throw std::out_of_range("Index outside the table"); };
  showActive();

  // No handler: the error passes the system's frames and ends run().
  kit.post([&] { SendMessageW(hwndOf(button), BM_CLICK, 0, 0); });
  const auto stop = guard();
  EXPECT_THROW(kit.run(), std::out_of_range);

  std::string fatal;
  kit.setFatalHandler([&](const std::exception& e) { fatal = e.what(); });
  SendMessageW(hwndOf(button), BM_CLICK, 0, 0);
  EXPECT_EQ(fatal, "Index outside the table");
}

// ---------------------------------------------------------------- the save dialog

class Win32SaveDialogTest : public Win32ToolkitTest {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dir = std::string(temp) + "tarnset-save-" + std::to_string(GetCurrentProcessId()) + "-" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  }
  void TearDown() override {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileA(in(found.cFileName).c_str());
      } while (FindNextFileA(h, &found));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }

  std::string in(const std::string& name) const { return dir + "\\" + name; }
  std::string choose(const std::string& suggested) {
    return kit.chooseSaveFile("Save report", suggested, filters);
  }

  // The file name field and the file type list of the dialog.
  static HWND nameField(HWND d) {
    HWND found = nullptr;
    EnumChildWindows(
        d,
        [](HWND h, LPARAM p) -> BOOL {
          if (classOf(h) == L"Edit" && IsWindowVisible(h)) {
            *reinterpret_cast<HWND*>(p) = h;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
  }
  static HWND typeList(HWND d) { return GetDlgItem(d, cmb1); }
  static std::wstring folderOf(HWND d) {
    wchar_t folder[MAX_PATH] = {};
    SendMessageW(d, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder));
    return folder;
  }
  // Types a name and presses the Save button.
  static void save(HWND d, const wchar_t* name) {
    SetWindowTextW(nameField(d), name);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  }

  std::string dir;
  const std::vector<tk::FileFilter> filters{{"PDF document", {"*.pdf"}}, {"Web page", {"*.html", "*.htm"}}};
};

TEST_F(Win32SaveDialogTest, StartsAtTheSuggestedFileAndAddsTheSelectedTypesExtension) {
  const UiCall ui;
  std::wstring title, folder, name;
  LRESULT type = -1;
  bool modal = false;
  ModalPlayer first([&](HWND d) {
    ui.call([&] { modal = kit.modalActive(); });
    title = textOf(d);
    folder = folderOf(d);
    name = textOf(nameField(d));
    type = SendMessageW(typeList(d), CB_GETCURSEL, 0, 0);
    save(d, L"bench-42");
  });
  EXPECT_EQ(choose(in("report.pdf")), in("bench-42.pdf"));
  ASSERT_TRUE(first.finish());
  EXPECT_TRUE(modal);
  EXPECT_FALSE(kit.modalActive());
  EXPECT_EQ(title, L"Save report");
  EXPECT_EQ(CompareStringOrdinal(folder.c_str(), -1, std::wstring(dir.begin(), dir.end()).c_str(), -1, TRUE),
            CSTR_EQUAL)
      << std::string(folder.begin(), folder.end());
  EXPECT_EQ(name, L"report.pdf");
  EXPECT_EQ(type, 0);

  // Another file type chosen in the list: its extension goes on the typed name.
  ModalPlayer other([&](HWND d) {
    HWND list = typeList(d);
    SendMessageW(list, CB_SETCURSEL, 1, 0);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELENDOK), reinterpret_cast<LPARAM>(list));
    save(d, L"notes");
  });
  EXPECT_EQ(choose(in("report.pdf")), in("notes.html"));
  EXPECT_TRUE(other.finish());

  // A suggested web page starts with the web page type; a typed extension stays.
  ModalPlayer web([&](HWND d) {
    type = SendMessageW(typeList(d), CB_GETCURSEL, 0, 0);
    save(d, L"sheet.htm");
  });
  EXPECT_EQ(choose(in("report.html")), in("sheet.htm"));
  EXPECT_TRUE(web.finish());
  EXPECT_EQ(type, 1);
}

TEST_F(Win32SaveDialogTest, AsksBeforeReplacingAnExistingFileAndCancelGivesAnEmptyPath) {
  HANDLE f = CreateFileA(in("existing.pdf").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  std::wstring question;
  bool stillOpen = false;
  ModalPlayer player([&](HWND d) {
    save(d, L"existing");
    HWND ask = waitForDialog(GetWindowThreadProcessId(d, nullptr), d);
    if (ask == nullptr) return;
    question = readBox(ask).text;
    PostMessageW(ask, WM_COMMAND, IDNO, 0);  // answered No: the dialog stays
    for (int i = 0; i < 100 && IsWindow(ask); ++i) Sleep(10);
    stillOpen = IsWindowVisible(d) != FALSE;
    save(d, L"existing");
    ask = waitForDialog(GetWindowThreadProcessId(d, nullptr), d);
    if (ask != nullptr) PostMessageW(ask, WM_COMMAND, IDYES, 0);
  });
  EXPECT_EQ(choose(in("report.pdf")), in("existing.pdf"));
  EXPECT_TRUE(player.finish());
  EXPECT_FALSE(question.empty()) << "the system asked first";
  EXPECT_TRUE(stillOpen);

  ModalPlayer cancel([](HWND d) {
    SetWindowTextW(nameField(d), L"x");
    PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(choose(in("report.pdf")), "");
  EXPECT_TRUE(cancel.finish());
  ModalPlayer escape([](HWND d) { keyInDialog(d, VK_ESCAPE); });
  EXPECT_EQ(choose(in("report.pdf")), "");
  EXPECT_TRUE(escape.finish());
  EXPECT_FALSE(kit.modalActive());
}

// ---------------------------------------------------------------- text and keys

TEST_F(Win32ToolkitTest, Latin1TextRoundTripsThroughTheWindowsWideText) {
  const std::string text =
      "Gr\xF6\xDF"
      "e \xB5V \xB1"
      "5 \xB0"
      "C \xFF";
  const std::wstring wide = L"Gr\u00F6\u00DFe \u00B5V \u00B15 \u00B0C \u00FF";
  win->setCaption(text);
  EXPECT_EQ(textOf(hwnd()), wide);
  EXPECT_EQ(win->caption(), text);
  tk::ListBox& list = win->addListBox(nullptr);
  list.addItem(text);
  EXPECT_EQ(list.itemText(0), text);
  list.setItemText(0, text + "!");
  EXPECT_EQ(list.itemText(0), text + "!");
  tk::Label& label = win->addLabel(nullptr);
  label.setCaption(text);
  EXPECT_EQ(textOf(hwndOf(label)), wide);
  tk::TextPane& pane = win->addTextPane(nullptr);
  pane.setText(text + "\nline 2\rline 3");
  EXPECT_EQ(textOf(hwndOf(pane)), wide + L"\r\nline 2\r\nline 3") << "every line break made CR LF";
  tk::CommandButton& button = win->addButton(nullptr);
  button.setCaption(text);
  EXPECT_EQ(textOf(hwndOf(button)), wide);

  // A character beyond Latin-1 put there by the system reads as "?".
  SendMessageW(hwndOf(list), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"5 \u20AC"));
  EXPECT_EQ(list.itemText(1), "5 ?");
}

TEST_F(Win32ToolkitTest, ThereIsNoPdfWriterButAReason) {
  EXPECT_FALSE(kit.canWritePdf());
  std::string why;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "tarnset-no.pdf";
  EXPECT_FALSE(kit.writePdf("<html><body><p>x</p></body></html>", path, why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(why.find('\n'), std::string::npos) << "one line";
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32KeyMapTest, VirtualKeysBecomeTheLogicsKeyCodesAndModifiersHaveNone) {
  const std::vector<std::pair<unsigned, std::int16_t>> keys{
      {VK_LEFT, Key::Left},
      {VK_RIGHT, Key::Right},
      {VK_UP, Key::Up},
      {VK_DOWN, Key::Down},
      {VK_RETURN, Key::Enter},
      {VK_ESCAPE, Key::Escape},
      {VK_TAB, Key::Tab},
      {VK_BACK, Key::Backspace},
      {VK_SPACE, Key::Space},
      {VK_PRIOR, Key::PageUp},
      {VK_NEXT, Key::PageDown},
      {VK_HOME, Key::Home},
      {VK_END, Key::End},
      {VK_INSERT, Key::Insert},
      {VK_DELETE, Key::Delete},
      {VK_SEPARATOR, Key::Separator},
      {VK_DECIMAL, 110},
      {VK_ADD, 107},
      {VK_SUBTRACT, 109},
      {VK_MULTIPLY, 106},
      {VK_DIVIDE, 111},
      {VK_NUMPAD0, 96},
      {VK_NUMPAD9, 105},
      {VK_F1, Key::F1},
      {VK_F5, Key::F5},
      {VK_F12, 123},
      {'0', 48},
      {'9', 57},
      {'A', 65},
      {'Z', 90},
      {VK_CLEAR, 12},
      {VK_PAUSE, 19},
  };
  for (const auto& [vk, code] : keys) EXPECT_EQ(w32::keyCodeFor(vk), std::optional<std::int16_t>(code)) << vk;
  for (const unsigned vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LSHIFT, VK_RCONTROL, VK_LMENU, VK_LWIN,
                            VK_CAPITAL, VK_NUMLOCK, VK_OEM_COMMA, VK_F13}) {
    EXPECT_EQ(w32::keyCodeFor(vk), std::nullopt) << vk;
  }
  EXPECT_EQ(w32::shiftStateFor(true, false, false), tk::kShiftBit);
  EXPECT_EQ(w32::shiftStateFor(false, true, true), tk::kCtrlBit | tk::kAltBit);
  EXPECT_EQ(w32::shiftStateFor(true, true, true), 7);
}

}  // namespace
}  // namespace tarnset
