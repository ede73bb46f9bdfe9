#include "toolkit/win32/Win32Elements.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwctype>
#include <stdexcept>
#include <utility>

#include "base/Checked16.h"
#include "toolkit/win32/Win32KeyMap.h"
#include "toolkit/win32/Win32Text.h"

namespace tarnset::w32 {

namespace {

constexpr int kFontPointSize =
    9;  // as the Qt window: the longest console line (80 characters) fits the window's first width
constexpr int kBaseDpi = 96;
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kPumpTimer = 1;
constexpr UINT_PTR kFocusSubclass = 1;
constexpr UINT_PTR kMenuTipTool = 1;
constexpr int kTipWidthPx = 640;                       // at 96 DPI: where a long tip wraps
constexpr int kMaxWatches = MAXIMUM_WAIT_OBJECTS - 1;  // the wait also takes the message queue
constexpr std::int32_t kFirstWidth = 9600;             // twips, before the logic places the window
constexpr std::int32_t kFirstHeight = 7200;

// The fixed-pitch font of the client area at a DPI. Requested by family; where Courier New
// is missing the system picks its own fixed-pitch face.
HFONT makeFont(int dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(kFontPointSize, dpi, 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfOutPrecision = OUT_TT_PRECIS;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynW(lf.lfFaceName, L"Courier New", LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

std::int16_t currentShift() {
  return shiftStateFor(GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0);
}

// Removes the characters that TranslateMessage made of a key that was consumed, so that
// a list box does not search for them and a button does not see them typed.
void dropCharacters(HWND h) {
  MSG m;
  while (PeekMessageW(&m, h, WM_CHAR, WM_DEADCHAR, PM_REMOVE)) {
  }
  while (PeekMessageW(&m, h, WM_SYSCHAR, WM_SYSDEADCHAR, PM_REMOVE)) {
  }
}

void registerClass(const WNDCLASSEXW& wc) {
  if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("Cannot register the window class");
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

// Marks a timer or watch as running its handler for as long as it runs.
class Firing {
 public:
  Firing(std::set<std::uint64_t>& firing, std::uint64_t id) : firing_(firing), id_(id) {
    firing_.insert(id_);
  }
  ~Firing() { firing_.erase(id_); }
  Firing(const Firing&) = delete;
  Firing& operator=(const Firing&) = delete;

 private:
  std::set<std::uint64_t>& firing_;
  std::uint64_t id_;
};

LRESULT CALLBACK focusSubclassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR /*id*/, DWORD_PTR ref) {
  auto* f = reinterpret_cast<Focusable*>(ref);
  WindowAdapter& w = f->ownerWindow();
  if (!*w.alive()) return DefSubclassProc(h, msg, wp, lp);
  return w.env().boundary(
      [&]() -> LRESULT {
        LRESULT r = 0;
        if (w.controlMessage(*f, h, msg, wp, lp, r)) return r;
        return DefSubclassProc(h, msg, wp, lp);
      },
      0);
}

}  // namespace

int pixelsFor(std::int32_t twips, int dpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / kTwipsPerInch));
}

std::int32_t twipsFor(int pixels, int dpi) {
  return static_cast<std::int32_t>(std::lround(static_cast<double>(pixels) * kTwipsPerInch / dpi));
}

// ---------------------------------------------------------------- Env

Env::Env(tk::Toolkit& toolkit, const DpiSource& dpi)
    : toolkit_(toolkit), dpi_(dpi), instance_(GetModuleHandleW(nullptr)) {
  WNDCLASSEXW main{};
  main.cbSize = sizeof main;
  main.style = CS_HREDRAW | CS_VREDRAW;
  main.lpfnWndProc = WindowAdapter::mainProc;
  main.hInstance = instance_;
  // The program's own icon when its resources have one of id 1.
  main.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
  if (main.hIcon == nullptr) main.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  main.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  main.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  main.lpszClassName = kMainClass;
  registerClass(main);

  WNDCLASSEXW frame{};
  frame.cbSize = sizeof frame;
  frame.style = CS_HREDRAW | CS_VREDRAW;
  frame.lpfnWndProc = WindowAdapter::frameProc;
  frame.hInstance = instance_;
  frame.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  frame.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  frame.lpszClassName = kFrameClass;
  registerClass(frame);

  WNDCLASSEXW loop{};
  loop.cbSize = sizeof loop;
  loop.lpfnWndProc = loopProc;
  loop.hInstance = instance_;
  loop.lpszClassName = kLoopClass;
  registerClass(loop);

  loopWindow_ = CreateWindowExW(0, kLoopClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_, this);
  if (loopWindow_ == nullptr) throw std::runtime_error("Cannot create the event loop's window");
}

Env::~Env() {
  if (innerLoops_ > 0) KillTimer(loopWindow_, kPumpTimer);
  DestroyWindow(loopWindow_);
}

LRESULT CALLBACK Env::loopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* env = reinterpret_cast<Env*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (env != nullptr && ((msg == WM_TIMER && wp == kPumpTimer) || msg == kWakeMessage)) {
    // In the toolkit's own loop the wake-up only ends the wait; inside a menu or a
    // move/size loop of the system the work is done here.
    return env->boundary(
        [env]() -> LRESULT {
          if (env->innerLoops_ > 0) env->work();
          return 0;
        },
        0);
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void Env::rethrowPending() {
  if (!pending_) return;
  std::exception_ptr e = std::exchange(pending_, nullptr);
  std::rethrow_exception(e);
}

int Env::dpiOf(HWND window) const {
  const int d = dpi_.dpiOf(reinterpret_cast<std::intptr_t>(window));
  return d > 0 ? d : kBaseDpi;
}

int Env::primaryDpi() const {
  return dpiOf(nullptr);
}

HWND Env::dialogOwner() const {
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (IsWindowVisible((*it)->hwnd())) return (*it)->hwnd();
  }
  return nullptr;
}

void Env::post(std::function<void()> f) {
  posted_.push_back(std::move(f));
  wake();
}

void Env::wake() {
  PostMessageW(loopWindow_, kWakeMessage, 0, 0);
}

void Env::work() {
  if (modalDepth > 0) return;
  runDueTimers();
  if (quitRequested_) return;
  pollWatches();
  if (quitRequested_) return;
  runPosted();
}

void Env::runDueTimers() {
  const Clock::time_point now = Clock::now();
  std::vector<std::uint64_t> due;
  for (const auto& [id, t] : timers_) {
    if (t->running() && t->due() <= now) due.push_back(id);
  }
  for (const std::uint64_t id : due) {
    const auto it = timers_.find(id);  // an earlier tick may have stopped or destroyed it
    if (it == timers_.end() || !it->second->running() || it->second->due() > now || firing_.contains(id))
      continue;
    const Firing firing(firing_, id);
    it->second->fire(Clock::now());
    if (quitRequested_) return;
  }
}

void Env::pollWatches() {
  std::vector<std::uint64_t> ids;
  for (const auto& [id, w] : watches_) {
    if (!w->invalid()) ids.push_back(id);
  }
  for (const std::uint64_t id : ids) {
    const auto it = watches_.find(id);  // an earlier handler may have destroyed it
    if (it == watches_.end() || firing_.contains(id)) continue;
    WatchAdapter* w = it->second;
    const DWORD r = WaitForSingleObject(w->handle(), 0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      const Firing firing(firing_, id);
      w->fire();
    } else if (r == WAIT_FAILED) {
      w->setInvalid();
    }
    if (quitRequested_) return;
  }
}

void Env::runPosted() {
  // Only what was posted before: calls that post again run in the next round, after the
  // window messages, timers and watches that are waiting.
  for (std::size_t n = posted_.size(); n > 0 && !posted_.empty() && !quitRequested_; --n) {
    std::function<void()> f = std::move(posted_.front());
    posted_.pop_front();
    guarded(f);
  }
}

DWORD Env::msToNextWork() const {
  if (!posted_.empty()) return 0;
  bool any = false;
  Clock::time_point next{};
  for (const auto& [id, t] : timers_) {
    if (!t->running()) continue;
    if (!any || t->due() < next) next = t->due();
    any = true;
  }
  if (!any) return INFINITE;
  const auto wait = next - Clock::now();
  if (wait <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  return static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
}

void Env::waitHandles(std::vector<HANDLE>& handles, std::vector<std::uint64_t>& ids) const {
  handles.clear();
  ids.clear();
  for (const auto& [id, w] : watches_) {
    if (w->invalid()) continue;
    handles.push_back(w->handle());
    ids.push_back(id);
  }
}

void Env::fireWatch(std::uint64_t id) {
  if (modalDepth > 0 || firing_.contains(id)) return;
  const auto it = watches_.find(id);
  if (it == watches_.end()) return;
  const Firing firing(firing_, id);
  it->second->fire();
}

void Env::dropInvalidWatches() {
  bool dropped = false;
  for (const auto& [id, w] : watches_) {
    if (!w->invalid() && WaitForSingleObject(w->handle(), 0) == WAIT_FAILED) {
      w->setInvalid();
      dropped = true;
    }
  }
  if (!dropped) Sleep(1);  // a wait that failed for no handle's sake must not spin
}

void Env::pumpMessages() {
  MSG msg;
  while (!quitRequested_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    rethrowPending();
    if (msToNextWork() == 0) break;  // a timer is due: it runs before further messages
  }
}

void Env::enterInnerLoop() {
  if (innerLoops_++ == 0) SetTimer(loopWindow_, kPumpTimer, USER_TIMER_MINIMUM, nullptr);
}

void Env::leaveInnerLoop() {
  if (innerLoops_ > 0 && --innerLoops_ == 0) KillTimer(loopWindow_, kPumpTimer);
}

void Env::quit(int exitCode) {
  quitRequested_ = true;
  exitCode_ = exitCode;
  wake();
  if (innerLoops_ > 0) EndMenu();
}

bool Env::takeQuit(int& exitCode) {
  if (!quitRequested_) return false;
  quitRequested_ = false;
  exitCode = exitCode_;
  return true;
}

std::uint64_t Env::addTimer(TimerAdapter* t) {
  const std::uint64_t id = nextId_++;
  timers_[id] = t;
  return id;
}

std::uint64_t Env::addWatch(WatchAdapter* w) {
  const auto active = std::count_if(watches_.begin(), watches_.end(),
                                    [](const auto& entry) { return !entry.second->invalid(); });
  if (active >= kMaxWatches) throw std::length_error("More watched handles than the event loop can wait on");
  const std::uint64_t id = nextId_++;
  watches_[id] = w;
  return id;
}

// ---------------------------------------------------------------- timers and watches

TimerAdapter::TimerAdapter(Env& env) : env_(env), id_(env.addTimer(this)) {}

TimerAdapter::~TimerAdapter() {
  env_.removeTimer(id_);
}

void TimerAdapter::setInterval(std::int32_t ms) {
  if (ms < 0) throw std::out_of_range("Timer interval below 0");
  interval_ = ms;
  due_ = Clock::now() + std::chrono::milliseconds(ms);  // a new interval starts a new count
}

void TimerAdapter::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on) due_ = Clock::now() + std::chrono::milliseconds(interval_);
}

void TimerAdapter::fire(Clock::time_point now) {
  // The next due time first: the tick may change or destroy the timer.
  const auto interval = std::chrono::milliseconds(interval_);
  due_ += interval;
  if (due_ <= now) due_ = now + interval;
  const std::function<void()> tick = onTick;
  env_.guarded([&] {
    if (tick) tick();
  });
}

WatchAdapter::WatchAdapter(Env& env, HANDLE handle, std::function<void()> onReady)
    : env_(env), id_(0), handle_(handle), onReady_(std::move(onReady)) {
  id_ = env_.addWatch(this);
}

WatchAdapter::~WatchAdapter() {
  env_.removeWatch(id_);
}

void WatchAdapter::fire() {
  // A copy: the handler may destroy the watch.
  const std::function<void()> ready = onReady_;
  env_.guarded([&] {
    if (ready) ready();
  });
}

// ---------------------------------------------------------------- control adapters

template <class Iface>
ControlAdapter<Iface>::ControlAdapter(WindowAdapter& window, HWND hwnd) : window_(window), hwnd_(hwnd) {
  ControlAdapter::place();
}

template <class Iface>
void ControlAdapter<Iface>::place() {
  SetWindowPos(hwnd_, nullptr, window_.px(left_), window_.px(top_), std::max(0, window_.px(width_)),
               std::max(0, window_.px(height_)), SWP_NOZORDER | SWP_NOACTIVATE);
}

template <class Iface>
void ControlAdapter<Iface>::setVisible(bool on) {
  visible_ = on;
  if (on) {
    ShowWindow(hwnd_, SW_SHOWNA);
  } else {
    window_.whileFocusMovesOn(hwnd_, [this] { ShowWindow(hwnd_, SW_HIDE); });
  }
}

template <class Iface>
void ControlAdapter<Iface>::applyDpi() {
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(window_.font()), FALSE);
  place();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

template <class Iface>
FocusAdapter<Iface>::FocusAdapter(WindowAdapter& window, HWND hwnd) : ControlAdapter<Iface>(window, hwnd) {
  SetWindowSubclass(hwnd, focusSubclassProc, kFocusSubclass,
                    reinterpret_cast<DWORD_PTR>(static_cast<Focusable*>(this)));
  window.addToTabChain(this);
}

template <class Iface>
void FocusAdapter<Iface>::setFocus() {
  this->window_.focusControl(this);
}

template <class Iface>
bool FocusAdapter<Iface>::hasFocus() const {
  return this->window_.focusedChild() == this->hwnd_;
}

template <class Iface>
void FocusAdapter<Iface>::setTabStop(bool on) {
  tabStop_ = on;
  const LONG_PTR style = GetWindowLongPtrW(this->hwnd_, GWL_STYLE);
  SetWindowLongPtrW(this->hwnd_, GWL_STYLE,
                    on ? style | WS_TABSTOP : style & ~static_cast<LONG_PTR>(WS_TABSTOP));
}

template <class Iface>
void FocusAdapter<Iface>::moveToEndOfTabOrder() {
  this->window_.moveToEndOfTabChain(this);
}

// ---------------------------------------------------------------- frame

FrameAdapter::FrameAdapter(WindowAdapter& window, HWND parent)
    : ControlAdapter(window,
                     window.createChild(Env::kFrameClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parent)) {
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void FrameAdapter::setBorder(bool on) {
  if (on == border_) return;
  border_ = on;
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void FrameAdapter::paint(HDC dc) const {
  if (!border_) return;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  rc.top = std::min<LONG>(MulDiv(kTopInset, window_.dpi(), kBaseDpi), rc.bottom / 2);
  DrawEdge(dc, &rc, EDGE_ETCHED, BF_RECT);
}

// ---------------------------------------------------------------- list box

ListBoxAdapter::ListBoxAdapter(WindowAdapter& window, HWND parent)
    : FocusAdapter(window, window.createChild(L"LISTBOX",
                                              WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY |
                                                  LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
                                              WS_EX_CLIENTEDGE, parent)) {}

void ListBoxAdapter::clear() {
  SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
  extent_ = 0;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, 0, 0);
}

void ListBoxAdapter::addItem(const std::string& text) {
  narrow16(std::int64_t{listCount()} + 1);  // the count must stay a 16-bit value
  const std::wstring line = toWide(text);
  SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  fitExtent(line);
}

void ListBoxAdapter::setItemText(std::int16_t n, const std::string& text) {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  const std::wstring line = toWide(text);
  const auto len = SendMessageW(hwnd_, LB_GETTEXTLEN, static_cast<WPARAM>(n), 0);
  if (len == static_cast<LRESULT>(line.size())) {
    std::wstring old(static_cast<std::size_t>(len) + 1, L'\0');
    SendMessageW(hwnd_, LB_GETTEXT, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(old.data()));
    old.resize(static_cast<std::size_t>(len));
    if (old == line) return;  // lines are set on every change of the console: no needless redraw
  }
  // A list box has no "set text": the line is replaced, then the selection and the scroll
  // position are put back, with the drawing held meanwhile.
  const LRESULT selected = SendMessageW(hwnd_, LB_GETCURSEL, 0, 0);
  const LRESULT top = SendMessageW(hwnd_, LB_GETTOPINDEX, 0, 0);
  SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
  SendMessageW(hwnd_, LB_DELETESTRING, static_cast<WPARAM>(n), 0);
  SendMessageW(hwnd_, LB_INSERTSTRING, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SendMessageW(hwnd_, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
  SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
  RECT rc;
  if (SendMessageW(hwnd_, LB_GETITEMRECT, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(&rc)) != LB_ERR) {
    InvalidateRect(hwnd_, &rc, TRUE);
  }
  fitExtent(line);
}

std::string ListBoxAdapter::itemText(std::int16_t n) const {
  if (n < 0 || n >= listCount()) throw std::out_of_range("List line outside the list");
  const auto len = SendMessageW(hwnd_, LB_GETTEXTLEN, static_cast<WPARAM>(n), 0);
  if (len <= 0) return {};
  std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
  SendMessageW(hwnd_, LB_GETTEXT, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(len));
  return fromWide(text);
}

std::int16_t ListBoxAdapter::listCount() const {
  const LRESULT n = SendMessageW(hwnd_, LB_GETCOUNT, 0, 0);
  return n < 0 ? std::int16_t{0} : static_cast<std::int16_t>(n);
}

std::int16_t ListBoxAdapter::listIndex() const {
  const LRESULT n = SendMessageW(hwnd_, LB_GETCURSEL, 0, 0);
  return n < 0 ? std::int16_t{-1} : static_cast<std::int16_t>(n);
}

void ListBoxAdapter::setListIndex(std::int16_t n) {
  if (n < -1 || n >= listCount()) throw std::out_of_range("List index outside the list");
  SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(n), 0);  // -1 clears; a line is scrolled into view
}

void ListBoxAdapter::fitExtent(const std::wstring& line) {
  // Column-aligned lines scroll sideways, never cut: the scroll range covers the widest.
  HDC dc = GetDC(hwnd_);
  const HGDIOBJ old = SelectObject(dc, window_.font());
  SIZE size{};
  if (!line.empty()) GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  const int needed = size.cx + MulDiv(6, window_.dpi(), kBaseDpi);  // the list's own margins
  if (needed <= extent_) return;
  extent_ = needed;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent_), 0);
}

void ListBoxAdapter::applyDpi() {
  FocusAdapter::applyDpi();
  extent_ = 0;
  SendMessageW(hwnd_, LB_SETHORIZONTALEXTENT, 0, 0);
  const std::int16_t count = listCount();
  for (std::int16_t i = 0; i < count; ++i) fitExtent(toWide(itemText(i)));
}

void ListBoxAdapter::gotFocus() {
  const std::function<void()> f = onGotFocus;
  window_.env().guarded([&] {
    if (f) f();
  });
}

void ListBoxAdapter::keyDown(std::int16_t& keyCode, std::int16_t shift) {
  const tk::KeyDownHandler f = onKeyDown;
  window_.env().guarded([&] {
    if (f) f(keyCode, shift);
  });
}

// ---------------------------------------------------------------- button

ButtonAdapter::ButtonAdapter(WindowAdapter& window, HWND parent)
    : FocusAdapter(window, window.createChild(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, parent)) {}

void ButtonAdapter::setCaption(const std::string& text) {
  if (text == caption_) return;
  caption_ = text;
  SetWindowTextW(hwnd_, toWide(text).c_str());
}

void ButtonAdapter::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on) {
    EnableWindow(hwnd_, TRUE);
  } else {
    window_.whileFocusMovesOn(hwnd_, [this] { EnableWindow(hwnd_, FALSE); });
  }
}

void ButtonAdapter::setDefault(bool on) {
  if (on == default_) return;
  if (on) window_.makeSoleDefault(this);
  default_ = on;
  SendMessageW(hwnd_, BM_SETSTYLE, on ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

void ButtonAdapter::dropDefault() {
  default_ = false;
  SendMessageW(hwnd_, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
}

void ButtonAdapter::setCancel(bool on) {
  if (on) window_.makeSoleCancel(this);
  cancel_ = on;
}

bool ButtonAdapter::usable() const {
  return enabled_ && window_.visibleInWindow(hwnd_);
}

void ButtonAdapter::clicked() {
  if (!*window_.alive() || !enabled_) return;
  const std::function<void()> f = onClick;
  window_.env().guarded([&] {
    if (f) f();
  });
}

void ButtonAdapter::typed(char c) {
  const std::function<void(char)> f = onKeyPress;
  window_.env().guarded([&] {
    if (f) f(c);
  });
}

bool ButtonAdapter::hasAccessKey(wchar_t c) const {
  for (std::size_t i = 0; i + 1 < caption_.size(); ++i) {
    if (caption_[i] != '&') continue;
    const auto next = static_cast<wchar_t>(static_cast<unsigned char>(caption_[i + 1]));
    if (next == L'&') {
      ++i;  // "&&" is a plain ampersand
      continue;
    }
    return std::towlower(next) == std::towlower(c);
  }
  return false;
}

// ---------------------------------------------------------------- label

LabelAdapter::LabelAdapter(WindowAdapter& window, HWND parent)
    : ControlAdapter(window, window.createChild(L"STATIC", SS_CENTER | SS_NOPREFIX | SS_NOTIFY, 0, parent)) {
  setCaption("");
}

void LabelAdapter::move(std::int32_t left, std::int32_t top, std::int32_t /*width*/,
                        std::int32_t /*height*/) {
  left_ = left;
  top_ = top;
  place();
}

void LabelAdapter::setCaption(const std::string& text) {
  // The port label is set on every tick: an unchanged caption costs nothing.
  if (captionSet_ && text == caption_) return;
  captionSet_ = true;
  caption_ = text;
  SetWindowTextW(hwnd_, toWideLines(text).c_str());
  measure();
  place();
}

void LabelAdapter::measure() {
  HDC dc = GetDC(hwnd_);
  const HGDIOBJ old = SelectObject(dc, window_.font());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  const std::vector<std::wstring> lines = wideLines(caption_);
  LONG widest = 0;
  for (const auto& line : lines) {
    SIZE size{};
    if (!line.empty()) GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    widest = std::max(widest, size.cx);
  }
  SelectObject(dc, old);
  ReleaseDC(hwnd_, dc);
  width_ = window_.twips(static_cast<int>(widest));
  height_ = window_.twips(static_cast<int>(tm.tmHeight * static_cast<LONG>(lines.size())));
}

void LabelAdapter::setForeColor(tk::SysColor c) {
  if (c == color_) return;
  color_ = c;
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HBRUSH LabelAdapter::colour(HDC dc) const {
  SetTextColor(dc, GetSysColor(color_ == tk::SysColor::ButtonText ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return GetSysColorBrush(COLOR_BTNFACE);
}

void LabelAdapter::setTip(const std::string& text) {
  // Like the caption, a tip may be set on every tick.
  if (text == tip_) return;
  const bool existed = !tip_.empty();
  tip_ = text;
  window_.setLabelTip(hwnd_, text, existed);
}

void LabelAdapter::applyDpi() {
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(window_.font()), FALSE);
  measure();
  place();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

// ---------------------------------------------------------------- text pane

TextPaneAdapter::TextPaneAdapter(WindowAdapter& window, HWND parent)
    : FocusAdapter(window, window.createChild(L"EDIT",
                                              WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                                  ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                              WS_EX_CLIENTEDGE, parent)) {
  SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // no limit but the system's
}

void TextPaneAdapter::setText(const std::string& text) {
  text_ = text;
  SetWindowTextW(hwnd_, toWideLines(text).c_str());
}

HBRUSH TextPaneAdapter::colour(HDC dc) {
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

void LineAdapter::setPoints(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  x1_ = x1;
  y1_ = y1;
  x2_ = x2;
  y2_ = y2;
  window_.invalidateLines();
}

// ---------------------------------------------------------------- menus

MenuItemAdapter::MenuItemAdapter(WindowAdapter& window, HMENU menu, UINT id, const std::string& caption)
    : window_(window), menu_(menu), id_(id), caption_(caption) {
  AppendMenuW(menu_, MF_STRING, id_, toWide(caption).c_str());
}

void MenuItemAdapter::setChecked(bool on) {
  // Set on every tick: the menu changes only when the mark does.
  if (on == checked_) return;
  checked_ = on;
  CheckMenuItem(menu_, id_, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void MenuItemAdapter::setTip(const std::string& text) {
  if (text == tip_) return;
  tip_ = text;
  window_.menuTipChanged(*this);
}

void MenuItemAdapter::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  EnableMenuItem(menu_, id_, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

void MenuItemAdapter::chosen() {
  if (!enabled_) return;
  const std::function<void()> f = onClick;
  window_.env().guarded([&] {
    if (f) f();
  });
}

MenuAdapter::MenuAdapter(WindowAdapter& window, HMENU menu, std::string caption)
    : window_(window), menu_(menu), caption_(std::move(caption)) {
  window_.registerMenu(this);
}

tk::MenuItem& MenuAdapter::addItem(const std::string& caption) {
  items_.push_back(std::make_unique<MenuItemAdapter>(window_, menu_, window_.newCommandId(), caption));
  window_.registerMenuItem(items_.back().get());
  return *items_.back();
}

tk::Menu& MenuAdapter::addSubMenu(const std::string& caption) {
  HMENU sub = CreatePopupMenu();
  AppendMenuW(menu_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), toWide(caption).c_str());
  subMenus_.push_back(std::make_unique<MenuAdapter>(window_, sub, caption));
  return *subMenus_.back();
}

void MenuAdapter::addSeparator() {
  AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr);
}

void MenuAdapter::aboutToShow() {
  const std::function<void()> f = onAboutToShow;
  window_.env().guarded([&] {
    if (f) f();
  });
}

// ---------------------------------------------------------------- main window

WindowAdapter::WindowAdapter(Env& env) : env_(env), dpi_(env.primaryDpi()) {
  HWND h = CreateWindowExW(0, Env::kMainClass, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                           CW_USEDEFAULT, px(kFirstWidth), px(kFirstHeight), nullptr, nullptr, env.instance(),
                           this);
  if (h == nullptr) throw std::runtime_error("Cannot create the main window");
  hwnd_ = h;
  dpi_ = env_.dpiOf(hwnd_);
  font_ = makeFont(dpi_);
  env_.windows.push_back(this);
}

WindowAdapter::~WindowAdapter() {
  *alive_ = false;
  std::erase(env_.windows, this);
  for (; innerLoops_ > 0; --innerLoops_) env_.leaveInnerLoop();
  DestroyWindow(hwnd_);  // with its controls, menus and tool tips
  if (font_ != nullptr) DeleteObject(font_);
}

LRESULT CALLBACK WindowAdapter::mainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
    auto* w = static_cast<WindowAdapter*>(cs->lpCreateParams);
    w->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
  }
  auto* w = reinterpret_cast<WindowAdapter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (w == nullptr || !*w->alive_) return DefWindowProcW(hwnd, msg, wp, lp);
  return w->env_.boundary([&] { return w->handle(msg, wp, lp); }, 0);
}

LRESULT CALLBACK WindowAdapter::frameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* frame = reinterpret_cast<FrameAdapter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (frame == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
  WindowAdapter& w = frame->window();
  if (!*w.alive_) return DefWindowProcW(hwnd, msg, wp, lp);
  return w.env_.boundary(
      [&]() -> LRESULT {
        LRESULT r = 0;
        switch (msg) {
          case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            frame->paint(dc);
            EndPaint(hwnd, &ps);
            return 0;
          }
          case WM_KEYDOWN:
          case WM_SYSKEYDOWN:
            // The frame holds the focus only for a moment while a control is hidden.
            if (w.routeKey(nullptr, static_cast<unsigned>(wp))) {
              dropCharacters(hwnd);
              return 0;
            }
            break;
          case WM_SYSCHAR:
            if (w.accessKey(static_cast<wchar_t>(wp))) return 0;
            break;
          default:
            if (w.childMessage(msg, wp, lp, r)) return r;
            break;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
      },
      0);
}

LRESULT WindowAdapter::handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED) sizeChanged();
      return 0;
    case WM_PAINT:
      paint();
      return 0;
    case WM_CLOSE: {
      // The close box: the window unloads and hides; it is destroyed with its adapter.
      const auto alive = alive_;
      runUnload();
      if (*alive) {
        shown_ = false;
        ShowWindow(hwnd_, SW_HIDE);
      }
      return 0;
    }
    case WM_COMMAND:
      if (lp == 0 && HIWORD(wp) == 0) {
        const auto it = menuItems_.find(LOWORD(wp));
        if (it != menuItems_.end()) it->second->chosen();
        return 0;
      }
      break;
    case WM_INITMENUPOPUP:
      if (HIWORD(lp) == 0) {
        const auto it = menusByHandle_.find(reinterpret_cast<HMENU>(wp));
        if (it != menusByHandle_.end()) it->second->aboutToShow();
      }
      return 0;
    case WM_MENUSELECT:
      menuSelected(LOWORD(wp), HIWORD(wp), reinterpret_cast<HMENU>(lp));
      return 0;
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
      ++innerLoops_;
      env_.enterInnerLoop();
      return 0;
    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
      if (msg == WM_EXITMENULOOP) hideMenuTip();
      if (innerLoops_ > 0) {
        --innerLoops_;
        env_.leaveInnerLoop();
      }
      return 0;
    case WM_SETFOCUS:
      // The window itself got the focus (it was activated): the control that had it gets
      // it back, else the first tab stop, as a dialog does.
      if (movingFocus_ == 0) {
        Focusable* f = focusableOf(lastFocus_);
        if (f == nullptr || !canTakeFocus(f)) {
          f = nullptr;
          for (Focusable* c : tabChain_) {
            if (c->tabStopOn() && canTakeFocus(c)) {
              f = c;
              break;
            }
          }
        }
        if (f != nullptr) SetFocus(f->focusHandle());
      }
      return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (routeKey(nullptr, static_cast<unsigned>(wp))) {
        dropCharacters(hwnd_);
        return 0;
      }
      break;
    case WM_SYSCHAR:
      if (accessKey(static_cast<wchar_t>(wp))) return 0;
      break;
    case WM_DPICHANGED:
      applyDpi(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    default:
      break;
  }
  LRESULT r = 0;
  if (childMessage(msg, wp, lp, r)) return r;
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

bool WindowAdapter::childMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  switch (msg) {
    case WM_COMMAND:
      if (lp != 0 && HIWORD(wp) == BN_CLICKED) {
        const auto child = reinterpret_cast<HWND>(lp);
        for (const auto& b : buttons_) {
          if (b->handle() == child) {
            b->clicked();
            r = 0;
            return true;
          }
        }
      }
      return false;
    case WM_CTLCOLORSTATIC: {
      const auto child = reinterpret_cast<HWND>(lp);
      const auto dc = reinterpret_cast<HDC>(wp);
      for (const auto& l : labels_) {
        if (l->handle() == child) {
          r = reinterpret_cast<LRESULT>(l->colour(dc));
          return true;
        }
      }
      for (const auto& p : textPanes_) {
        if (p->handle() == child) {
          r = reinterpret_cast<LRESULT>(TextPaneAdapter::colour(dc));
          return true;
        }
      }
      return false;
    }
    default:
      return false;
  }
}

bool WindowAdapter::controlMessage(Focusable& f, HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT& r) {
  switch (msg) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (routeKey(&f, static_cast<unsigned>(wp))) {
        dropCharacters(h);
        r = 0;
        return true;
      }
      return false;
    case WM_SYSCHAR:
      if (accessKey(static_cast<wchar_t>(wp))) {
        r = 0;
        return true;
      }
      return false;
    case WM_CHAR:
      if (wp > 0 && wp < 256) {
        const auto alive = alive_;
        f.typed(static_cast<char>(wp));
        if (!*alive) {
          r = 0;
          return true;
        }
      }
      return false;
    case WM_SETFOCUS: {
      r = DefSubclassProc(h, msg, wp, lp);
      lastFocus_ = h;
      f.gotFocus();
      return true;
    }
    default:
      return false;
  }
}

void WindowAdapter::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const HGDIOBJ old = SelectObject(dc, GetStockObject(DC_PEN));
  for (const auto& line : lines_) {
    SetDCPenColor(dc, GetSysColor(line->dark() ? COLOR_3DSHADOW : COLOR_3DHILIGHT));
    MoveToEx(dc, px(line->x1()), px(line->y1()), nullptr);
    LineTo(dc, px(line->x2()), px(line->y2()));
  }
  SelectObject(dc, old);
  EndPaint(hwnd_, &ps);
}

void WindowAdapter::invalidateLines() {
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void WindowAdapter::setCaption(const std::string& text) {
  caption_ = text;
  SetWindowTextW(hwnd_, toWide(text).c_str());
}

std::int32_t WindowAdapter::scaleWidth() const {
  if (IsIconic(hwnd_) && reportedWidth_ >= 0) return reportedWidth_;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  return twips(rc.right - rc.left);
}

std::int32_t WindowAdapter::scaleHeight() const {
  if (IsIconic(hwnd_) && reportedHeight_ >= 0) return reportedHeight_;
  RECT rc;
  GetClientRect(hwnd_, &rc);
  return twips(rc.bottom - rc.top);
}

std::int32_t WindowAdapter::left() const {
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  return twips(rc.left);
}

std::int32_t WindowAdapter::top() const {
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  return twips(rc.top);
}

std::int32_t WindowAdapter::width() const {
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  return twips(rc.right - rc.left);
}

std::int32_t WindowAdapter::height() const {
  RECT rc;
  GetWindowRect(hwnd_, &rc);
  return twips(rc.bottom - rc.top);
}

void WindowAdapter::move(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
  // The logic gives the outer frame.
  SetWindowPos(hwnd_, nullptr, px(left), px(top), std::max(1, px(width)), std::max(1, px(height)),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void WindowAdapter::sizeChanged() {
  if (resizeHeld_ > 0) return;
  if (!shown_) {
    resizePending_ = true;  // delivered when the window is shown
    return;
  }
  if (!resizePending_ && scaleWidth() == reportedWidth_ && scaleHeight() == reportedHeight_) return;
  fireResize();
}

void WindowAdapter::fireResize() {
  resizePending_ = false;
  reportedWidth_ = scaleWidth();
  reportedHeight_ = scaleHeight();
  const std::function<void()> f = onResize;
  env_.guarded([&] {
    if (f) f();
  });
}

void WindowAdapter::show() {
  shown_ = true;
  unloaded_ = false;
  const auto alive = alive_;
  ShowWindow(hwnd_, SW_SHOW);
  if (!*alive) return;
  UpdateWindow(hwnd_);
  if (resizePending_) fireResize();
}

bool WindowAdapter::isShown() const {
  return IsWindowVisible(hwnd_) != FALSE;
}

void WindowAdapter::unload() {
  const auto alive = alive_;
  runUnload();
  if (!*alive) return;
  shown_ = false;
  ShowWindow(hwnd_, SW_HIDE);
}

void WindowAdapter::runUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  const auto alive = alive_;
  const std::function<void()> query = onQueryUnload;
  env_.guarded([&] {
    if (query) query();
  });
  if (!*alive) return;
  const std::function<void()> unloaded = onUnload;
  env_.guarded([&] {
    if (unloaded) unloaded();
  });
}

HWND WindowAdapter::parentHandle(tk::Parent parent) const {
  if (parent == nullptr) return hwnd_;
  for (const auto& f : frames_) {
    if (f.get() == parent) return f->handle();
  }
  throw std::invalid_argument("The parent frame belongs to another window");
}

HWND WindowAdapter::createChild(const wchar_t* windowClass, DWORD style, DWORD exStyle, HWND parent,
                                void* param) {
  HWND h = CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0,
                           0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nextChildId_++)),
                           env_.instance(), param);
  if (h == nullptr) throw std::runtime_error("Cannot create a control");
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  // Later controls lie above earlier ones, as in the Qt window.
  SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return h;
}

tk::Menu& WindowAdapter::addMenu(const std::string& caption) {
  if (menuBar_ == nullptr) {
    menuBar_ = CreateMenu();
    SetMenu(hwnd_, menuBar_);
  }
  HMENU popup = CreatePopupMenu();
  AppendMenuW(menuBar_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), toWide(caption).c_str());
  menus_.push_back(std::make_unique<MenuAdapter>(*this, popup, caption));
  DrawMenuBar(hwnd_);  // counts in the client size at once, before the window is shown
  return *menus_.back();
}

tk::Frame& WindowAdapter::addFrame(tk::Parent parent) {
  frames_.push_back(std::make_unique<FrameAdapter>(*this, parentHandle(parent)));
  placed_.push_back(frames_.back().get());
  return *frames_.back();
}

tk::ListBox& WindowAdapter::addListBox(tk::Parent parent) {
  listBoxes_.push_back(std::make_unique<ListBoxAdapter>(*this, parentHandle(parent)));
  placed_.push_back(listBoxes_.back().get());
  return *listBoxes_.back();
}

tk::CommandButton& WindowAdapter::addButton(tk::Parent parent) {
  buttons_.push_back(std::make_unique<ButtonAdapter>(*this, parentHandle(parent)));
  placed_.push_back(buttons_.back().get());
  return *buttons_.back();
}

tk::Label& WindowAdapter::addLabel(tk::Parent parent) {
  labels_.push_back(std::make_unique<LabelAdapter>(*this, parentHandle(parent)));
  placed_.push_back(labels_.back().get());
  return *labels_.back();
}

tk::TextPane& WindowAdapter::addTextPane(tk::Parent parent) {
  textPanes_.push_back(std::make_unique<TextPaneAdapter>(*this, parentHandle(parent)));
  placed_.push_back(textPanes_.back().get());
  return *textPanes_.back();
}

tk::Line& WindowAdapter::addLine() {
  // An etched rule is a dark line with a light one under it: lines alternate.
  lines_.push_back(std::make_unique<LineAdapter>(*this, lines_.size() % 2 == 0));
  invalidateLines();
  return *lines_.back();
}

// ---------------------------------------------------------------- keys and focus

bool WindowAdapter::routeKey(Focusable* f, unsigned virtualKey) {
  const auto code = keyCodeFor(virtualKey);
  if (!code) return false;  // bare modifiers and keys without a code reach the control untouched
  const std::int16_t shift = currentShift();
  const auto alive = alive_;
  std::int16_t key = *code;

  const tk::KeyDownHandler preview = onKeyDown;
  env_.guarded([&] {
    if (preview) preview(key, shift);
  });
  if (!*alive || key == 0) return true;
  if (f != nullptr) {
    f->keyDown(key, shift);
    if (!*alive || key == 0) return true;
  }

  if (key == tk::Key::Enter || key == tk::Key::Escape) {
    for (const auto& button : buttons_) {
      const bool role = key == tk::Key::Enter ? button->isDefault() : button->isCancel();
      if (role && button->usable()) {
        button->clicked();
        return true;
      }
    }
    return false;
  }
  if (key == tk::Key::Tab && (shift & (tk::kCtrlBit | tk::kAltBit)) == 0) {
    focusNext(f, (shift & tk::kShiftBit) != 0);
    return true;
  }
  return false;
}

bool WindowAdapter::accessKey(wchar_t c) {
  for (const auto& button : buttons_) {
    if (button->usable() && button->hasAccessKey(c)) {
      focusControl(button.get());
      button->clicked();
      return true;
    }
  }
  return false;
}

HWND WindowAdapter::focusedChild() const {
  if (GetActiveWindow() == hwnd_) {
    HWND f = GetFocus();
    return f != nullptr && IsChild(hwnd_, f) ? f : nullptr;
  }
  return lastFocus_;
}

bool WindowAdapter::canTakeFocus(const Focusable* f) const {
  return IsWindowEnabled(f->focusHandle()) && visibleInWindow(f->focusHandle());
}

bool WindowAdapter::visibleInWindow(HWND h) const {
  for (HWND p = h; p != nullptr && p != hwnd_; p = GetParent(p)) {
    if ((GetWindowLongPtrW(p, GWL_STYLE) & WS_VISIBLE) == 0) return false;
  }
  return true;
}

void WindowAdapter::focusControl(Focusable* f) {
  if (!canTakeFocus(f)) return;
  lastFocus_ = f->focusHandle();
  // In an inactive (or hidden) window the control gets the focus when the window is activated.
  if (GetActiveWindow() == hwnd_) SetFocus(lastFocus_);
}

void WindowAdapter::focusNext(Focusable* from, bool backwards) {
  const std::size_t n = tabChain_.size();
  if (n == 0) return;
  const auto it = std::find(tabChain_.begin(), tabChain_.end(), from);
  std::size_t pos =
      it == tabChain_.end() ? (backwards ? 0 : n - 1) : static_cast<std::size_t>(it - tabChain_.begin());
  for (std::size_t step = 1; step <= n; ++step) {
    pos = backwards ? (pos + n - 1) % n : (pos + 1) % n;
    Focusable* candidate = tabChain_[pos];
    if (candidate == from) return;
    if (candidate->tabStopOn() && canTakeFocus(candidate)) {
      focusControl(candidate);
      return;
    }
  }
}

bool WindowAdapter::holdsFocus(HWND h) const {
  HWND f = focusedChild();
  return f != nullptr && (f == h || IsChild(h, f));
}

void WindowAdapter::whileFocusMovesOn(HWND h, const std::function<void()>& change) {
  if (!holdsFocus(h)) {
    change();
    return;
  }
  // The focus moves to the next tab stop, as in the Qt window; the system's own move (to
  // the parent, or nowhere) is only a step on the way.
  Focusable* from = focusableOf(focusedChild());
  ++movingFocus_;
  struct Done {
    int& depth;
    ~Done() { --depth; }
  } done{movingFocus_};
  change();
  focusNext(from, false);
  if (holdsFocus(h) || (GetActiveWindow() == hwnd_ && focusedChild() == nullptr)) {
    lastFocus_ = nullptr;
    if (GetActiveWindow() == hwnd_) SetFocus(hwnd_);  // keys still reach the key preview
  }
}

Focusable* WindowAdapter::focusableOf(HWND h) const {
  if (h == nullptr) return nullptr;
  for (Focusable* f : tabChain_) {
    if (f->focusHandle() == h) return f;
  }
  return nullptr;
}

void WindowAdapter::moveToEndOfTabChain(Focusable* f) {
  std::erase(tabChain_, f);
  tabChain_.push_back(f);
}

void WindowAdapter::makeSoleDefault(ButtonAdapter* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b && other->isDefault()) other->dropDefault();
  }
}

void WindowAdapter::makeSoleCancel(ButtonAdapter* b) {
  for (const auto& other : buttons_) {
    if (other.get() != b) other->dropCancel();
  }
}

// ---------------------------------------------------------------- tips

HWND WindowAdapter::ensureTipWindow(HWND& tip, bool tracking) {
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

void WindowAdapter::setLabelTip(HWND label, const std::string& tip, bool existed) {
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

void WindowAdapter::menuSelected(UINT id, UINT flags, HMENU menu) {
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

void WindowAdapter::menuTipChanged(const MenuItemAdapter& item) {
  if (&item != menuTipItem_ || menuTip_ == nullptr) return;
  if (item.tip().empty()) {
    hideMenuTip();
    return;
  }
  std::wstring text = toWideLines(item.tip());
  TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, text.data());
  SendMessageW(menuTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void WindowAdapter::hideMenuTip() {
  if (menuTip_ != nullptr && menuTipItem_ != nullptr) {
    TOOLINFOW ti = toolInfo(TTF_TRACK | TTF_ABSOLUTE, hwnd_, kMenuTipTool, nullptr);
    SendMessageW(menuTip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&ti));
  }
  menuTipItem_ = nullptr;
}

// ---------------------------------------------------------------- DPI

void WindowAdapter::applyDpi(int dpi, const RECT* suggested) {
  if (dpi <= 0) return;
  dpi_ = dpi;
  HFONT old = font_;
  font_ = makeFont(dpi_);
  ++resizeHeld_;
  {
    struct Done {
      int& held;
      ~Done() { --held; }
    } done{resizeHeld_};
    for (Placed* p : placed_) p->applyDpi();
    if (suggested != nullptr) {
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (old != nullptr) DeleteObject(old);
  for (HWND tip : {labelTips_, menuTip_}) {
    if (tip != nullptr) SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, MulDiv(kTipWidthPx, dpi_, kBaseDpi));
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
  // The client size in twips changed with the DPI even where the pixels did not.
  if (shown_) {
    fireResize();
  } else {
    resizePending_ = true;
  }
}

}  // namespace tarnset::w32
