#include "toolkit/win32/Win32Loop.h"

#include <timeapi.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace tarnset::w32 {

namespace {

constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kPumpTimer = 1;
constexpr const wchar_t* kLoopClass = L"TarnsetAdjLoop";

// Finer timer resolution for the process while the loop runs, so that its waits end on
// the millisecond rather than on the system's default 15.6 ms tick.
class PreciseWaits {
 public:
  PreciseWaits() : on_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~PreciseWaits() {
    if (on_) timeEndPeriod(1);
  }
  PreciseWaits(const PreciseWaits&) = delete;
  PreciseWaits& operator=(const PreciseWaits&) = delete;

 private:
  bool on_;
};

}  // namespace

Loop::Loop(tk::Toolkit& toolkit) : core_(toolkit, clock_), instance_(GetModuleHandleW(nullptr)) {
  WNDCLASSEXW loop{};
  loop.cbSize = sizeof loop;
  loop.lpfnWndProc = loopProc;
  loop.hInstance = instance_;
  loop.lpszClassName = kLoopClass;
  if (RegisterClassExW(&loop) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    throw std::runtime_error("Cannot register the window class");
  }
  loopWindow_ = CreateWindowExW(0, kLoopClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance_, this);
  if (loopWindow_ == nullptr) throw std::runtime_error("Cannot create the event loop's window");
  core_.setWake([this] { wake(); });
}

Loop::~Loop() {
  if (innerLoops_ > 0) KillTimer(loopWindow_, kPumpTimer);
  DestroyWindow(loopWindow_);
}

LRESULT CALLBACK Loop::loopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* loop = reinterpret_cast<Loop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (loop != nullptr && ((msg == WM_TIMER && wp == kPumpTimer) || msg == kWakeMessage)) {
    // In the toolkit's own loop the wake-up only ends the wait; inside a menu or a
    // move/size loop of the system the work is done here.
    return loop->boundary(
        [loop]() -> LRESULT {
          if (loop->innerLoops_ > 0) loop->work();
          return 0;
        },
        0);
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void Loop::rethrowPending() {
  if (!pending_) return;
  std::exception_ptr e = std::exchange(pending_, nullptr);
  std::rethrow_exception(e);
}

void Loop::wake() {
  PostMessageW(loopWindow_, kWakeMessage, 0, 0);
}

void Loop::work() {
  core_.runDueTimers();
  if (core_.quitRequested()) return;
  pollWatches();
  if (core_.quitRequested()) return;
  core_.runPosted();
}

void Loop::pollWatches() {
  for (const auto& [id, handle] : core_.waitables()) {
    const DWORD r = WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      core_.fireWatch(id);
    } else if (r == WAIT_FAILED) {
      core_.dropWatch(id);
    }
    if (core_.quitRequested()) return;
  }
}

void Loop::dropInvalidWatches() {
  bool dropped = false;
  for (const auto& [id, handle] : core_.waitables()) {
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0) == WAIT_FAILED) {
      core_.dropWatch(id);
      dropped = true;
    }
  }
  if (!dropped) Sleep(1);  // a wait that failed for no handle's sake must not spin
}

void Loop::pumpMessages() {
  MSG msg;
  while (!core_.quitRequested() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    rethrowPending();
    if (core_.msToNextWork() == 0) break;  // work is due: it runs before further messages
  }
}

int Loop::run() {
  int code = 0;
  if (core_.takeQuit(code)) return code;
  const PreciseWaits precise;
  std::vector<HANDLE> handles;
  std::vector<std::uint64_t> ids;
  while (!core_.quitRequested()) {
    work();
    rethrowPending();
    if (core_.quitRequested()) break;
    handles.clear();
    ids.clear();
    for (const auto& [id, handle] : core_.waitables()) {
      handles.push_back(reinterpret_cast<HANDLE>(handle));
      ids.push_back(id);
    }
    const auto n = static_cast<DWORD>(handles.size());
    const std::int32_t next = core_.msToNextWork();
    const DWORD r = MsgWaitForMultipleObjectsEx(n, handles.empty() ? nullptr : handles.data(),
                                                next < 0 ? INFINITE : static_cast<DWORD>(next), QS_ALLINPUT,
                                                MWMO_INPUTAVAILABLE);
    if (r < WAIT_OBJECT_0 + n) {
      core_.fireWatch(ids[r - WAIT_OBJECT_0]);
    } else if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + n) {
      core_.fireWatch(ids[r - WAIT_ABANDONED_0]);
    } else if (r == WAIT_OBJECT_0 + n) {
      pumpMessages();
    } else if (r == WAIT_FAILED) {
      dropInvalidWatches();
    }
    rethrowPending();
  }
  core_.takeQuit(code);
  return code;
}

void Loop::quit(int exitCode) {
  core_.quit(exitCode);
  if (innerLoops_ > 0) EndMenu();
}

void Loop::enterInnerLoop() {
  if (innerLoops_++ == 0) SetTimer(loopWindow_, kPumpTimer, USER_TIMER_MINIMUM, nullptr);
}

void Loop::leaveInnerLoop() {
  if (innerLoops_ > 0 && --innerLoops_ == 0) KillTimer(loopWindow_, kPumpTimer);
}

}  // namespace tarnset::w32
