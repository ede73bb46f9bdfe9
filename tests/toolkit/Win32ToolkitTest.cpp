// The Win32 toolkit's own part on the system (Wine's on the build machines, through its
// display-less driver; the contract suite covers what every toolkit does): the windows
// and controls as the system's, twips by the window's DPI and DPI changes, the virtual
// keys, menus with their marks, tips and timers going on while one is open, the focus
// when the window is activated and the keyboard cues, labels, the boxes and the dialogs
// as the system shows them, the save dialog with UTF-8 paths, and the text shown as
// UTF-8 or Latin-1.
#include "toolkit/win32/Win32TestSupport.h"
// After windows.h:
#include <commctrl.h>
#include <commdlg.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "toolkit/KeyLog.h"
#include "toolkit/win32/Win32KeyMap.h"
#include "toolkit/win32/Win32Toolkit.h"

namespace tarnset {
namespace {

using namespace w32test;

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

HWND hwndOf(tk::Window& w) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(w));
}
HWND hwndOf(tk::Control& c) {
  return reinterpret_cast<HWND>(Win32Toolkit::handleOf(c));
}
HMENU hmenuOf(tk::Menu& m) {
  return reinterpret_cast<HMENU>(Win32Toolkit::handleOf(m));
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
  void logKeys(tk::ListBox& list) { tktest::logKeys(*win, list, log, consumeInList); }

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

  // A new caption (the adapter found behind the port) keeps the mark.
  com3.setCaption("COM &3 \u2014 COM7, USB Serial Port");
  wchar_t caption[64] = {};
  GetMenuStringW(hmenuOf(port), Win32Toolkit::commandOf(com3), caption, 64, MF_BYCOMMAND);
  EXPECT_STREQ(caption, L"COM &3 \u2014 COM7, USB Serial Port");
  EXPECT_NE(state(port, com3) & MF_CHECKED, 0u);

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

TEST_F(Win32ToolkitTest, VirtualKeysFromTheKeyboardReachTheLogicAsItsKeyCodes) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  logKeys(list);
  consumeInList = true;
  showActive();
  list.setFocus();
  ASSERT_TRUE(list.hasFocus());
  press(VK_SEPARATOR);
  press(VK_RETURN, {.extended = true});  // the keypad's Enter
  press(VK_LEFT, {.ctrl = true, .alt = true});
  press(VK_SHIFT);      // a bare modifier: nobody sees it
  press(VK_OEM_COMMA);  // no code: passes untouched
  EXPECT_EQ(log, (std::vector<std::string>{"window 108/0", "list 108/0", "window 13/0", "list 13/0",
                                           "window 37/6", "list 37/6"}));
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

TEST_F(Win32ToolkitTest, TheTextPaneIsAReadOnlyMultiLineEditWithCrLfLines) {
  tk::TextPane& pane = win->addTextPane(nullptr);
  pane.setText("line 1\nline 2\rline 3");
  EXPECT_EQ(textOf(hwndOf(pane)), L"line 1\r\nline 2\r\nline 3") << "every line break made CR LF";
  EXPECT_EQ(pane.text(), "line 1\nline 2\rline 3");
  const LONG_PTR style = GetWindowLongPtrW(hwndOf(pane), GWL_STYLE);
  EXPECT_NE(style & ES_READONLY, 0);
  EXPECT_NE(style & ES_MULTILINE, 0);
}

TEST_F(Win32ToolkitTest, TheDefaultButtonIsDrawnAsTheSystemsDefaultPushButton) {
  tk::CommandButton& ok = win->addButton(nullptr);
  tk::CommandButton& other = win->addButton(nullptr);
  ok.setDefault(true);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(ok), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  other.setDefault(true);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(ok), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(other), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
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

TEST_F(Win32ToolkitTest, AChangedLineKeepsTheListsScrollPositionAndItsOrder) {
  tk::ListBox& list = win->addListBox(nullptr);
  list.move(0, 0, 3000, 1500);
  for (int i = 0; i < 100; ++i) list.addItem("line " + std::to_string(100 - i));
  showActive();
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(list), GWL_STYLE) & LBS_SORT, 0);
  list.setListIndex(80);
  const LRESULT top = SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0);
  EXPECT_GT(top, 0) << "the selected line is scrolled into view";
  list.setItemText(0, "first");
  list.setItemText(80, "eighty");
  list.setItemText(81, "eighty-one");
  EXPECT_EQ(SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0), top);
  EXPECT_EQ(SendMessageW(hwndOf(list), LB_GETCURSEL, 0, 0), 80);
  // Scrolled away from the selected line, which then changes: the list stays where it is.
  SendMessageW(hwndOf(list), LB_SETTOPINDEX, 0, 0);
  list.setItemText(80, "eighty!");
  EXPECT_EQ(SendMessageW(hwndOf(list), LB_GETTOPINDEX, 0, 0), 0);
  wchar_t line[32] = {};
  SendMessageW(hwndOf(list), LB_GETTEXT, 80, reinterpret_cast<LPARAM>(line));
  EXPECT_STREQ(line, L"eighty!");
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

TEST_F(Win32ToolkitTest, AMessageBoxIsTheSystemsErrorBoxWithTheDetailsBelowTheText) {
  showActive();
  Box box;
  ModalPlayer player([&](HWND d) {
    box = readBox(d);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(
      kit.messageBox("Line one\r\nLine two", "Tarnset ADJ Rev.1.2", "Port: COM1\r\nNext step: plug it in"),
      1);
  ASSERT_TRUE(player.finish());
  EXPECT_EQ(box.text, L"Line one\r\nLine two\r\n\r\nPort: COM1\r\nNext step: plug it in")
      << "the details below the text after a blank line, in the same box";
  EXPECT_EQ(box.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_HAND)));
  EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
}

TEST_F(Win32ToolkitTest, AQuestionIsTheSystemsQuestionBoxWithOkAsTheDefault) {
  showActive();
  Box box;
  ModalPlayer player([&](HWND d) {
    box = readBox(d);
    keyInDialog(d, VK_RETURN);
  });
  EXPECT_TRUE(kit.askOkCancel("Write the alignment report?", "Tarnset ADJ Rev.1.2", "File: C:\\report.html"));
  ASSERT_TRUE(player.finish());
  EXPECT_EQ(box.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION)));
  EXPECT_EQ(box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(box.defaultButton, IDOK);
}

TEST_F(Win32ToolkitTest, AChoiceIsADialogBoxWithTheQuestionIconAndTheChoicesInAList) {
  showActive();
  Box box;
  RECT boxRect{}, listRect{}, okRect{}, cancelRect{}, textRect{};
  HWND owner = nullptr;
  ModalPlayer player([&](HWND d) {
    box = readBox(d);
    owner = GetWindow(d, GW_OWNER);
    GetWindowRect(d, &boxRect);
    HWND list = FindWindowExW(d, nullptr, L"ListBox", nullptr);
    GetWindowRect(list, &listRect);
    GetWindowRect(GetDlgItem(d, IDOK), &okRect);
    GetWindowRect(GetDlgItem(d, IDCANCEL), &cancelRect);
    GetWindowRect(GetDlgItem(d, 101), &textRect);
    SendMessageW(list, LB_SETCURSEL, 2, 0);
    keyInDialog(d, VK_RETURN);
  });
  EXPECT_EQ(kit.askChoice("No radio answered on COM 3.\r\nUse this adapter as COM 3?", "Tarnset ADJ Rev.1.2",
                          "Adapters found on this computer:", {"COM 1", "COM 5", "COM 7"}),
            2);
  ASSERT_TRUE(player.finish());
  EXPECT_EQ(box.title, L"Tarnset ADJ Rev.1.2");
  EXPECT_EQ(box.text,
            L"No radio answered on COM 3.\r\nUse this adapter as COM 3?\r\nAdapters found on this computer:");
  EXPECT_EQ(box.choices, (std::vector<std::wstring>{L"COM 1", L"COM 5", L"COM 7"}));
  EXPECT_EQ(box.icon, LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_QUESTION)));
  EXPECT_EQ(box.defaultButton, IDOK);
  EXPECT_EQ(owner, hwnd());
  // Laid out within the box: the text above the list, the buttons below it, side by side.
  EXPECT_LE(textRect.bottom, listRect.top);
  EXPECT_LE(listRect.bottom, okRect.top);
  EXPECT_EQ(okRect.top, cancelRect.top);
  EXPECT_LT(okRect.right, cancelRect.left);
  EXPECT_LE(cancelRect.right, boxRect.right);
  EXPECT_LE(okRect.bottom, boxRect.bottom);
}

TEST_F(Win32ToolkitTest, OnlyAHandleCanBeWatched) {
  EXPECT_THROW(kit.watch(kNoWaitable, [] {}), std::invalid_argument);
  EXPECT_THROW(kit.watch(0, [] {}), std::invalid_argument);
}

TEST_F(Win32ToolkitTest, TheCloseBoxHidesTheWindowWhichTheLogicStillHolds) {
  int unloads = 0;
  win->onUnload = [&] { ++unloads; };
  showActive();
  SendMessageW(hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(unloads, 1);
  EXPECT_FALSE(IsWindowVisible(hwnd()));
  EXPECT_TRUE(IsWindow(hwnd())) << "closed, not destroyed: the logic still holds it";
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

TEST_F(Win32SaveDialogTest, PathsAreUtf8BothWaysWhateverTheCodePageCanSpell) {
  // A folder "José-отчёт" beside the others.
  const std::wstring wideDir(dir.begin(), dir.end());
  const std::wstring folder = wideDir + L"\\Jos\u00E9-\u043E\u0442\u0447\u0451\u0442";
  const std::string utf8Folder = dir + "\\Jos\xC3\xA9-\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  std::wstring shownFolder;
  std::wstring shownName;
  ModalPlayer player([&](HWND d) {
    shownFolder = folderOf(d);
    shownName = textOf(nameField(d));
    save(d, L"\u043E\u0442\u0447\u0451\u0442");
  });
  EXPECT_EQ(choose(utf8Folder + "\\Jos\xC3\xA9.pdf"),
            utf8Folder + "\\\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.pdf");
  EXPECT_TRUE(player.finish());
  EXPECT_EQ(CompareStringOrdinal(shownFolder.c_str(), -1, folder.c_str(), -1, TRUE), CSTR_EQUAL);
  EXPECT_EQ(shownName, L"Jos\u00E9.pdf");
  RemoveDirectoryW(folder.c_str());
}

TEST_F(Win32ToolkitTest, TextsShowAsUtf8WhereTheyAreUtf8AndAsLatin1Elsewhere) {
  // The program's own texts in Latin-1, and a file name in UTF-8 ("C:\Users\José\отчёт.html").
  const std::string latin1 =
      "Gr\xF6\xDF"
      "e \xB5V \xB1"
      "5 \xB0"
      "C \xFF";
  const std::wstring shownLatin1 = L"Gr\u00F6\u00DFe \u00B5V \u00B15 \u00B0C \u00FF";
  const std::string path = "C:\\Users\\Jos\xC3\xA9\\\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.html";
  const std::wstring shownPath = L"C:\\Users\\Jos\u00E9\\\u043E\u0442\u0447\u0451\u0442.html";
  win->setCaption(latin1);
  EXPECT_EQ(textOf(hwnd()), shownLatin1);
  tk::ListBox& list = win->addListBox(nullptr);
  list.addItem(latin1);
  list.addItem(path);
  wchar_t line[64] = {};
  SendMessageW(hwndOf(list), LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(std::wstring(line), shownPath);
  tk::Label& label = win->addLabel(nullptr);
  label.setCaption(latin1);
  EXPECT_EQ(textOf(hwndOf(label)), shownLatin1);
  tk::CommandButton& button = win->addButton(nullptr);
  button.setCaption(latin1);
  EXPECT_EQ(textOf(hwndOf(button)), shownLatin1);

  showActive();
  Box box;
  ModalPlayer player([&](HWND d) {
    box = readBox(d);
    PostMessageW(d, WM_COMMAND, IDOK, 0);
  });
  kit.messageBox(
      "Saved at 25 \xB0"
      "C",
      "Tarnset ADJ Rev.1.2", "File: " + path);
  ASSERT_TRUE(player.finish());
  EXPECT_EQ(box.text, L"Saved at 25 \u00B0C\r\n\r\nFile: " + shownPath);

  // Typed text comes back as the program's text: UTF-8 beyond Latin-1.
  auto dlg = kit.createDialog();
  tk::TextField& field = dlg->addTextField(nullptr);
  dlg->show();
  SetFocus(hwndOf(field));
  typeText(L"\u043E\u00B5");
  EXPECT_EQ(field.text(), "\xD0\xBE\xC2\xB5");
}

// The window asks the system for its keyboard cues. (Wine keeps no per-window cues to
// hide: WM_QUERYUISTATE says 0 there, so the drawing itself cannot be looked at.)
LRESULT CALLBACK recordCues(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR /*id*/, DWORD_PTR ref) {
  if (msg == WM_CHANGEUISTATE) reinterpret_cast<std::vector<WPARAM>*>(ref)->push_back(wp);
  return DefSubclassProc(h, msg, wp, lp);
}

TEST_F(Win32ToolkitTest, TheFocusMarkAppearsWithTheFirstNavigationKeyAndAccessKeysWithAlt) {
  tk::CommandButton& a = win->addButton(nullptr);
  tk::CommandButton& b = win->addButton(nullptr);
  b.move(1500, 0, 1200, 360);
  showActive();
  a.setFocus();
  std::vector<WPARAM> asked;
  SetWindowSubclass(hwnd(), recordCues, 7, reinterpret_cast<DWORD_PTR>(&asked));
  press(VK_F5);
  EXPECT_TRUE(asked.empty()) << "not a navigation key";
  press(VK_TAB);
  EXPECT_TRUE(b.hasFocus());
  press(VK_LEFT);
  press(VK_F5, {.alt = true});  // Alt held down with another key: no menu opens
  RemoveWindowSubclass(hwnd(), recordCues, 7);
  EXPECT_EQ(asked, (std::vector<WPARAM>{MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS),
                                        MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL)}))
      << "the focus mark with the first navigation key, the access keys with Alt, each once";
}

TEST_F(Win32ToolkitTest, ADialogIsAnOwnedWindowWithItsClientSizeInTwips) {
  showActive();
  auto dlg = kit.createDialog();
  dlg->setCaption("Instrument");
  dlg->setClientSize(6000, 3000);
  tk::TextField& field = dlg->addTextField(nullptr);
  tk::DropDown& list = dlg->addDropDown(nullptr);
  tk::CheckBox& mark = dlg->addCheckBox(nullptr);
  field.move(120, 120, 3000, 360);
  dlg->show();
  HWND d = hwndOf(*dlg);
  const int tpp = kit.twipsPerPixelX();
  RECT client;
  GetClientRect(d, &client);
  EXPECT_EQ(client.right, 6000 / tpp);
  EXPECT_EQ(client.bottom, 3000 / tpp);
  EXPECT_EQ(GetWindow(d, GW_OWNER), hwnd()) << "it stays in front of the main window";
  EXPECT_EQ(textOf(d), L"Instrument");
  EXPECT_TRUE(IsWindowEnabled(hwnd())) << "not modal";
  EXPECT_EQ(classOf(hwndOf(field)), L"Edit");
  EXPECT_EQ(classOf(hwndOf(list)), L"ComboBox");
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(list), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
  EXPECT_EQ(GetWindowLongPtrW(hwndOf(mark), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
  LOGFONTW lf{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(hwndOf(field), WM_GETFONT, 0, 0)), sizeof lf, &lf);
  EXPECT_STREQ(lf.lfFaceName, L"Courier New") << "the main window's font";
  RECT main, box;
  GetWindowRect(hwnd(), &main);
  GetWindowRect(d, &box);
  EXPECT_LE(std::abs((main.left + main.right) - (box.left + box.right)), 2) << "centred over the main window";
  EXPECT_EQ(dlg->left(), (box.left) * tpp);
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
