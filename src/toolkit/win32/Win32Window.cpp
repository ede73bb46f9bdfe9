#include "toolkit/win32/Win32Window.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <stdexcept>

#include "toolkit/win32/Win32KeyMap.h"
#include "toolkit/win32/Win32Text.h"

namespace tarnset::w32 {

namespace {

constexpr int kBaseDpi = 96;
constexpr UINT_PTR kMenuTipTool = 1;
constexpr int kTipWidthPx = 640;  // at 96 DPI: where a long tip wraps

// The fixed-pitch font of every window at a DPI. Requested by family; where Courier New
// is missing the system picks its own fixed-pitch face.
HFONT makeFont(int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(tk::kFontPointSize, dpi, 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_TT_PRECIS;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  const std::wstring face = toWide(tk::kFontFamily);
  lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

std::int16_t currentShift() {
  return shiftStateFor(GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0);
}

// Removes the characters that TranslateMessage made of a key that was used up, so that a
// list box does not search for them and a button does not see them typed.
void dropCharacters(HWND h) {
  MSG m;
  while (PeekMessageW(&m, h, WM_CHAR, WM_DEADCHAR, PM_REMOVE)) {
  }
  while (PeekMessageW(&m, h, WM_SYSCHAR, WM_SYSDEADCHAR, PM_REMOVE)) {
  }
}

// A tool of a tooltip control, in the size that every version of the common controls takes.
TOOLINFOW toolInfo(UINT flags, HWND hwnd, UINT_PTR id, wchar_t* text) {
  TOOLINFOW ti{};
  ti.cbSize = TTTOOLINFOW_V2_SIZE;
  ti.uFlags = flags;
  ti.hwnd = hwnd;
  ti.uId = id;
  ti.lpszText = text;
  return ti;
}

// The keys with which a user finds their way through a window: from the first of them on,
// the focus rectangle shows where the keys go.
bool isNavigationKey(WPARAM vk) {
  return vk == VK_TAB || vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN;
}

}  // namespace

// ---------------------------------------------------------------- Env

namespace {

void registerClass(HINSTANCE instance, const wchar_t* name, WNDPROC proc, HICON icon) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = name;
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("Cannot register the window class");
  }
}

}  // namespace

Env::Env(Loop& l, const DpiSource& dpi) : loop(l), dpi_(dpi) {
  // The program's own icon when its resources have one of id 1.
  HICON icon = LoadIconW(instance(), MAKEINTRESOURCEW(1));
  if (icon == nullptr) icon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  registerClass(instance(), kMainClass, WindowSide::windowProc, icon);
  registerClass(instance(), kDialogClass, WindowSide::windowProc, nullptr);
  registerClass(instance(), kFrameClass, WindowSide::frameProc, nullptr);
}

int Env::dpiOf(HWND window) const {
  const int d = dpi_.dpiOf(reinterpret_cast<std::intptr_t>(window));
  return d > 0 ? d : kBaseDpi;
}

HWND Env::dialogOwner() const {
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if ((*it)->isMain() && IsWindowVisible((*it)->hwnd())) return (*it)->hwnd();
  }
  return nullptr;
}

// ---------------------------------------------------------------- every window

WindowSide::WindowSide(Env& env, tk::WindowCore& core) : env_(env), dpi_(env.primaryDpi()), core_(core) {
  env_.windows.push_back(this);
}

WindowSide::~WindowSide() {
  std::erase(env_.windows, this);
  for (; innerLoops_ > 0; --innerLoops_) env_.loop.leaveInnerLoop();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);  // with its controls, menus and tool tips
  if (font_ != nullptr) DeleteObject(font_);
}

void WindowSide::create(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND owner, int width,
                        int height) {
  HWND h = CreateWindowExW(exStyle, windowClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT, width, height,
                           owner, nullptr, env_.instance(), this);
  if (h == nullptr) throw std::runtime_error("Cannot create a window");
  hwnd_ = h;
  dpi_ = env_.dpiOf(hwnd_);
  font_ = makeFont(dpi_);
}

WindowSide* WindowSide::sideOf(HWND hwnd, UINT msg, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
    auto* w = static_cast<WindowSide*>(cs->lpCreateParams);
    w->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
  }
  return reinterpret_cast<WindowSide*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK WindowSide::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  WindowSide* w = sideOf(hwnd, msg, lp);
  if (w != nullptr && msg == WM_NCDESTROY) {
    // Destroyed with its owner (a dialog whose main window went first): nothing left to destroy.
    w->hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  if (w == nullptr || !*w->core_.alive()) return DefWindowProcW(hwnd, msg, wp, lp);
  return w->env_.loop.boundary(
      [&]() -> LRESULT {
        LRESULT r = 0;
        if (w->message(msg, wp, lp, r)) return r;
        if (w->commonMessage(hwnd, msg, wp, lp, r)) return r;
        return DefWindowProcW(hwnd, msg, wp, lp);
      },
      0);
}

LRESULT CALLBACK WindowSide::frameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* p = reinterpret_cast<Placed*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (p == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  WindowSide& w = p->side();
  if (!*w.core_.alive()) return DefWindowProcW(hwnd, msg, wp, lp);
  return w.env_.loop.boundary(
      [&]() -> LRESULT {
        if (msg == WM_PAINT) {
          PAINTSTRUCT ps;
          HDC dc = BeginPaint(hwnd, &ps);
          static_cast<FrameAdapter*>(p)->paint(dc);
          EndPaint(hwnd, &ps);
          return 0;
        }
        LRESULT r = 0;
        if (w.commonMessage(hwnd, msg, wp, lp, r)) return r;
        return DefWindowProcW(hwnd, msg, wp, lp);
      },
      0);
}

bool WindowSide::keyMessage(tk::ControlNode* target, HWND h, UINT msg, WPARAM wp, LRESULT& r) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (!routeKey(target, static_cast<unsigned>(wp))) return false;
      dropCharacters(h);
      r = 0;
      return true;
    case WM_SYSCHAR:
      if (!accessKey(static_cast<wchar_t>(wp))) return false;
      r = 0;
      return true;
    default:
      return false;
  }
}

bool WindowSide::commonMessage(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  // The window itself (or a frame, for a moment while a control is hidden) has the keys.
  if (keyMessage(nullptr, h, msg, wp, r)) return true;
  switch (msg) {
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
      ++innerLoops_;
      env_.loop.enterInnerLoop();
      r = 0;
      return true;
    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
      if (innerLoops_ > 0) {
        --innerLoops_;
        env_.loop.leaveInnerLoop();
      }
      r = 0;
      return true;
    default:
      return childMessage(msg, wp, lp, r);
  }
}

bool WindowSide::childMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  if (msg == WM_COMMAND && lp != 0) {
    Placed* p = placedOf(reinterpret_cast<HWND>(lp));
    if (p == nullptr || !p->command(HIWORD(wp))) return false;
    r = 0;
    return true;
  }
  if (msg == WM_CTLCOLORSTATIC) {
    const Placed* p = placedOf(reinterpret_cast<HWND>(lp));
    HBRUSH brush = p != nullptr ? p->colour(reinterpret_cast<HDC>(wp)) : nullptr;
    if (brush == nullptr) return false;
    r = reinterpret_cast<LRESULT>(brush);
    return true;
  }
  return false;
}

bool WindowSide::controlMessage(Placed& p, HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  if (keyMessage(&p.node(), h, msg, wp, r)) return true;
  switch (msg) {
    case WM_CHAR:
      if (wp > 0 && wp < 256) {
        const auto alive = core_.alive();
        p.node().typed(static_cast<char>(wp));
        if (!*alive) {
          r = 0;
          return true;
        }
      }
      return false;
    case WM_SETFOCUS:
      r = DefSubclassProc(h, msg, wp, lp);
      lastFocus_ = h;
      core_.focusArrived(&p.node());
      return true;
    default:
      return false;
  }
}

Placed* WindowSide::placedOf(HWND h) const {
  for (Placed* p : placed_) {
    if (p->handle() == h) return p;
  }
  return nullptr;
}

RECT WindowSide::outer() const {
  RECT rc{};
  GetWindowRect(hwnd_, &rc);
  return {twips(rc.left), twips(rc.top), twips(rc.right), twips(rc.bottom)};
}

HWND WindowSide::parentHandle(tk::FrameCore* parent) const {
  if (parent == nullptr) return hwnd_;
  const auto* p = dynamic_cast<const Placed*>(parent);
  if (p == nullptr) throw std::invalid_argument("Not a frame of the Win32 toolkit");
  return p->handle();
}

HWND WindowSide::createChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent) {
  HWND h = CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0,
                           0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nextChildId_++)),
                           env_.instance(), nullptr);
  if (h == nullptr) throw std::runtime_error("Cannot create a control");
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  // Later controls lie above earlier ones, as in the Qt window.
  SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return h;
}

// ---------------------------------------------------------------- keys and focus

void WindowSide::showKeyboardCues(WORD flags) {
  // Once, whatever the window says of its state (not every system keeps one), and again
  // whenever the system has hidden them since.
  const auto hidden = static_cast<WORD>(SendMessageW(hwnd_, WM_QUERYUISTATE, 0, 0));
  const auto clear = static_cast<WORD>(flags & (hidden | ~cuesShown_));
  if (clear == 0) return;
  cuesShown_ = static_cast<WORD>(cuesShown_ | flags);
  SendMessageW(hwnd_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, clear), 0);
}

bool WindowSide::routeKey(tk::ControlNode* target, unsigned virtualKey) {
  // The window handles its keys itself (no dialog manager): it shows the keyboard cues
  // as the dialog manager would, after a start by mouse.
  if (isNavigationKey(virtualKey)) showKeyboardCues(UISF_HIDEFOCUS);
  if (virtualKey == VK_MENU) showKeyboardCues(UISF_HIDEACCEL | UISF_HIDEFOCUS);
  const auto code = keyCodeFor(virtualKey);
  if (!code) return false;  // bare modifiers and keys without a code reach the control untouched
  return core_.routeKey(target, *code, currentShift()) != tk::WindowCore::KeyResult::Passed;
}

bool WindowSide::accessKey(wchar_t c) {
  for (ButtonAdapter* b : core_.controlsOf<ButtonAdapter>()) {
    if (b->canTakeFocus() && b->hasAccessKey(c)) {
      core_.focus(b);
      b->fireClick();
      return true;
    }
  }
  return false;
}

HWND WindowSide::focusedChild() const {
  if (GetActiveWindow() == hwnd_) {
    HWND f = GetFocus();
    return f != nullptr && IsChild(hwnd_, f) ? f : nullptr;
  }
  return lastFocus_;
}

tk::ControlNode* WindowSide::heldFocus() const {
  Placed* p = placedOf(focusedChild());
  return p != nullptr ? &p->node() : nullptr;
}

void WindowSide::focusWidget(tk::ControlNode* c) {
  const auto* p = dynamic_cast<const Placed*>(c);
  if (p == nullptr) return;
  lastFocus_ = p->handle();
  // In an inactive (or hidden) window the control gets the focus when the window is activated.
  if (GetActiveWindow() == hwnd_) SetFocus(lastFocus_);
}

void WindowSide::clearFocus() {
  lastFocus_ = nullptr;
  if (GetActiveWindow() == hwnd_) SetFocus(hwnd_);  // keys still reach the key preview
}

void WindowSide::windowGotFocus() {
  // The focus moves on from a control being hidden: only a step on the way.
  if (core_.focusMoving()) return;
  tk::ControlNode* c = nullptr;
  if (Placed* p = placedOf(lastFocus_)) c = &p->node();
  if (c == nullptr || !c->canTakeFocus()) {
    c = nullptr;
    for (tk::ControlNode* t : core_.tabOrder()) {
      if (t->tabStopOn() && t->canTakeFocus()) {
        c = t;
        break;
      }
    }
  }
  if (const auto* p = dynamic_cast<const Placed*>(c)) SetFocus(p->handle());
}

void WindowSide::takeDpi(int dpi) {
  dpi_ = dpi;
  HFONT old = font_;
  font_ = makeFont(dpi_);
  for (Placed* p : placed_) p->applyDpi();
  if (old != nullptr) DeleteObject(old);
  if (labelTips_ != nullptr)
    SendMessageW(labelTips_, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidthPx, dpi_, kBaseDpi));
}

// ---------------------------------------------------------------- tips

HWND WindowSide::ensureTipWindow(HWND& tip, bool tracking) {
  if (tip != nullptr) return tip;
  tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                        env_.instance(), nullptr);
  if (tip == nullptr) return nullptr;
  // A maximum width makes the tip honour its line breaks.
  SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidthPx, dpi_, kBaseDpi));
  if (tracking) {
    wchar_t empty[] = L"";
    TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, empty);
    SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
  return tip;
}

void WindowSide::setLabelTip(HWND label, const std::string& tip, bool existed) {
  if (tip.empty() && !existed) return;
  HWND tips = ensureTipWindow(labelTips_, false);
  if (tips == nullptr) return;
  std::wstring text = toWideLines(tip);
  TOOLINFOW ti =
      toolInfo(TTF_IDISHWND | TTF_SUBCLASS, GetParent(label), reinterpret_cast<UINT_PTR>(label), text.data());
  if (tip.empty()) {
    SendMessageW(tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  } else if (existed) {
    SendMessageW(tips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  } else {
    SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
  }
}

template <class Base>
void W32WindowBase<Base>::captionNative() {
  SetWindowTextW(hwnd_, toWide(this->caption_).c_str());
}

template class W32WindowBase<tk::MainWindowCore>;
template class W32WindowBase<tk::DialogCore>;

// ---------------------------------------------------------------- menus

MenuItemAdapter::MenuItemAdapter(MainWindowAdapter& window, HMENU menu, UINT id, const std::string& caption)
    : MenuItemCore(window.toolkit(), caption), window_(window), menu_(menu), id_(id) {
  AppendMenuW(menu_, MF_STRING, id_, toWide(caption).c_str());
}

void MenuItemAdapter::captionNative() {
  // Only the text changes: the check mark and the grey stay as they are.
  std::wstring text = toWide(caption_);
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = text.data();
  SetMenuItemInfoW(menu_, id_, FALSE, &info);
}

void MenuItemAdapter::checkedNative() {
  CheckMenuItem(menu_, id_, MF_BYCOMMAND | (checked_ ? MF_CHECKED : MF_UNCHECKED));
}

void MenuItemAdapter::tipNative() {
  window_.menuTipChanged(*this);
}

void MenuItemAdapter::enabledNative() {
  EnableMenuItem(menu_, id_, MF_BYCOMMAND | (enabled_ ? MF_ENABLED : MF_GRAYED));
}

MenuAdapter::MenuAdapter(MainWindowAdapter& window, HMENU menu, const std::string& caption)
    : MenuCore(window.toolkit(), caption), window_(window), menu_(menu) {
  window_.registerMenu(this);
}

std::unique_ptr<tk::MenuItemCore> MenuAdapter::makeItem(const std::string& caption) {
  auto item = std::make_unique<MenuItemAdapter>(window_, menu_, window_.newCommandId(), caption);
  window_.registerMenuItem(item.get());
  return item;
}

std::unique_ptr<tk::MenuCore> MenuAdapter::makeSubMenu(const std::string& caption) {
  HMENU sub = CreatePopupMenu();
  AppendMenuW(menu_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), toWide(caption).c_str());
  return std::make_unique<MenuAdapter>(window_, sub, caption);
}

// ---------------------------------------------------------------- main window

MainWindowAdapter::MainWindowAdapter(Env& env) : W32WindowBase(env) {
  create(Env::kMainClass, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, nullptr, px(tk::kFirstWindowWidth),
         px(tk::kFirstWindowHeight));
}

MainWindowAdapter::~MainWindowAdapter() {
  *alive_ = false;
}

bool MainWindowAdapter::message(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  r = 0;
  switch (msg) {
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) clientSizeChanged();
      return true;
    case WM_PAINT:
      paint();
      return true;
    case WM_CLOSE:
      // The close box: the window unloads and hides; it is destroyed with its adapter.
      closedByUser();
      return true;
    case WM_COMMAND:
      if (lp == 0 && HIWORD(wp) == 0) {
        const auto it = menuItems_.find(LOWORD(wp));
        if (it != menuItems_.end()) it->second->choose();
        return true;
      }
      return false;
    case WM_INITMENUPOPUP:
      if (HIWORD(lp) == 0) {
        const auto it = menusByHandle_.find(reinterpret_cast<HMENU>(wp));
        if (it != menusByHandle_.end()) it->second->aboutToShow();
      }
      return true;
    case WM_MENUSELECT:
      menuSelected(LOWORD(wp), HIWORD(wp), reinterpret_cast<HMENU>(lp));
      return true;
    case WM_EXITMENULOOP:
      hideMenuTip();
      return false;  // and the inner loop ends
    case WM_SETFOCUS:
      windowGotFocus();
      return true;
    case WM_DPICHANGED:
      applyDpi(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      return true;
    case WM_QUERYENDSESSION:
      r = TRUE;  // the program does not hold the session's end up
      return true;
    case WM_ENDSESSION:
      if (wp != FALSE) endSession();
      return true;
    case WM_DEVICECHANGE:
      if (wp == DBT_DEVICEARRIVAL || wp == DBT_DEVICEREMOVECOMPLETE) env_.core().devicesChanged();
      r = TRUE;
      return true;
    default:
      return false;
  }
}

void MainWindowAdapter::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const HGDIOBJ old = SelectObject(dc, GetStockObject(DC_PEN));
  for (const auto& line : lines()) {
    const auto* l = static_cast<const LineAdapter*>(line.get());
    SetDCPenColor(dc, GetSysColor(l->dark() ? COLOR_3DSHADOW : COLOR_3DHILIGHT));
    MoveToEx(dc, px(l->x1()), px(l->y1()), nullptr);
    LineTo(dc, px(l->x2()), px(l->y2()));
  }
  SelectObject(dc, old);
  EndPaint(hwnd_, &ps);
}

std::int32_t MainWindowAdapter::scaleWidth() const {
  if (IsIconic(hwnd_) && reportedWidth_ >= 0) return reportedWidth_;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  return twips(rc.right - rc.left);
}

std::int32_t MainWindowAdapter::scaleHeight() const {
  if (IsIconic(hwnd_) && reportedHeight_ >= 0) return reportedHeight_;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  return twips(rc.bottom - rc.top);
}

std::int32_t MainWindowAdapter::left() const {
  return outer().left;
}

std::int32_t MainWindowAdapter::top() const {
  return outer().top;
}

std::int32_t MainWindowAdapter::width() const {
  const RECT rc = outer();
  return rc.right - rc.left;
}

std::int32_t MainWindowAdapter::height() const {
  const RECT rc = outer();
  return rc.bottom - rc.top;
}

void MainWindowAdapter::move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  // The logic gives the outer frame.
  SetWindowPos(hwnd_, nullptr, px(left), px(top), std::max(1, px(width)), std::max(1, px(height)),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindowAdapter::showNative() {
  const auto alive = alive_;
  ShowWindow(hwnd_, SW_SHOW);
  if (*alive) UpdateWindow(hwnd_);
}

std::unique_ptr<tk::MenuCore> MainWindowAdapter::makeMenu(const std::string& caption) {
  if (menuBar_ == nullptr) {
    menuBar_ = CreateMenu();
    SetMenu(hwnd_, menuBar_);
  }
  HMENU popup = CreatePopupMenu();
  AppendMenuW(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), toWide(caption).c_str());
  auto menu = std::make_unique<MenuAdapter>(*this, popup, caption);
  DrawMenuBar(hwnd_);  // counts in the client size at once, before the window is shown
  return menu;
}

std::unique_ptr<tk::TextPaneCore> MainWindowAdapter::makeTextPane(tk::FrameCore* parent) {
  return placed(std::make_unique<TextPaneAdapter>(*this, parent, parentHandle(parent)));
}

std::unique_ptr<tk::LineCore> MainWindowAdapter::makeLine() {
  // An etched rule is a dark line with a light one under it: lines alternate.
  invalidateLines();
  return std::make_unique<LineAdapter>(hwnd_, lines().size() % 2 == 0);
}

void MainWindowAdapter::menuSelected(UINT id, UINT flags, HMENU menu) {
  // A menu closed, a sub-menu, a separator or the system menu: no tip.
  if ((flags == 0xFFFF && menu == nullptr) || (flags & (MF_POPUP | MF_SEPARATOR | MF_SYSMENU)) != 0) {
    hideMenuTip();
    return;
  }
  const auto it = menuItems_.find(id);
  if (it == menuItems_.end() || it->second->tip().empty()) {
    hideMenuTip();
    return;
  }
  // Menus of the system show no tips: a tracking tip goes beside the item.
  RECT rc{};
  bool found = false;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (GetMenuItemID(menu, i) == id) {
      found = GetMenuItemRect(hwnd_, menu, static_cast<UINT>(i), &rc) != FALSE;
      break;
    }
  }
  HWND tip = ensureTipWindow(menuTip_, true);
  if (!found || tip == nullptr) {
    hideMenuTip();
    return;
  }
  std::wstring text = toWideLines(it->second->tip());
  TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, text.data());
  SendMessageW(tip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
  SendMessageW(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(rc.right + MulDiv(4, dpi_, kBaseDpi), rc.top));
  SendMessageW(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&ti));
  menuTipItem_ = it->second;
}

void MainWindowAdapter::menuTipChanged(const MenuItemAdapter& item) {
  if (&item != menuTipItem_ || menuTip_ == nullptr) return;
  if (item.tip().empty()) {
    hideMenuTip();
    return;
  }
  std::wstring text = toWideLines(item.tip());
  TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, text.data());
  SendMessageW(menuTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void MainWindowAdapter::hideMenuTip() {
  if (menuTip_ != nullptr && menuTipItem_ != nullptr) {
    TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, nullptr);
    SendMessageW(menuTip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
  }
  menuTipItem_ = nullptr;
}

void MainWindowAdapter::applyDpi(int dpi, const RECT* suggested) {
  if (dpi <= 0) return;
  {
    const ResizeHold hold(*this);
    takeDpi(dpi);
    if (suggested != nullptr) {
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (menuTip_ != nullptr) SendMessageW(menuTip_, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidthPx, dpi_, kBaseDpi));
  InvalidateRect(hwnd_, nullptr, TRUE);
  // The client size in twips changed with the DPI even where the pixels did not.
  if (shown_) {
    fireResize();
  } else {
    resizePending_ = true;
  }
}

// ---------------------------------------------------------------- dialog

DialogAdapter::DialogAdapter(Env& env, HWND owner) : W32WindowBase(env) {
  create(Env::kDialogClass, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
         WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, owner, 0, 0);
  DialogAdapter::sizeNative();
}

DialogAdapter::~DialogAdapter() {
  *alive_ = false;
}

bool DialogAdapter::message(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  r = 0;
  switch (msg) {
    case WM_CLOSE:
      close();
      return true;
    case WM_SETFOCUS:
      windowGotFocus();
      return true;
    case WM_DPICHANGED:
      takeDpi(LOWORD(wp));
      sizeNative();
      if (const auto* rc = reinterpret_cast<const RECT*>(lp)) {
        SetWindowPos(hwnd_, nullptr, rc->left, rc->top, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
      }
      return true;
    default:
      return false;
  }
}

SIZE DialogAdapter::outerSize() const {
  RECT rc{0, 0, px(clientWidth_), px(clientHeight_)};
  AdjustWindowRectEx(&rc, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
  return {rc.right - rc.left, rc.bottom - rc.top};
}

void DialogAdapter::sizeNative() {
  const SIZE s = outerSize();
  SetWindowPos(hwnd_, nullptr, 0, 0, s.cx, s.cy, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
}

void DialogAdapter::moveNative() {
  SetWindowPos(hwnd_, nullptr, px(left_), px(top_), 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

std::int32_t DialogAdapter::left() const {
  return outer().left;
}

std::int32_t DialogAdapter::top() const {
  return outer().top;
}

void DialogAdapter::showNative() {
  if (!positioned_) {
    // Centred over the window it belongs to, else on the work area.
    RECT over{};
    HWND owner = GetWindow(hwnd_, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner)) {
      GetWindowRect(owner, &over);
    } else {
      SystemParametersInfoW(SPI_GETWORKAREA, 0, &over, 0);
    }
    const SIZE s = outerSize();
    SetWindowPos(hwnd_, nullptr, (over.left + over.right - s.cx) / 2, (over.top + over.bottom - s.cy) / 2, 0,
                 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
  }
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

}  // namespace tarnset::w32
