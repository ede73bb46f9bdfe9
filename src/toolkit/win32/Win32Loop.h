#pragma once
// The Win32 event loop. One thread waits for window messages, the watched handles and
// the next timer at once (MsgWaitForMultipleObjectsEx), so that a signalled handle runs
// its watch without delay and timers keep their interval to the millisecond; the timers,
// watches and posted calls themselves are the toolkit core's (tk::EventCore), held while
// a box or the save dialog is open. While a menu is open or a window is moved or sized
// (the system's own loops), a system timer keeps them going.
//
// No exception may unwind through the system's frames: a window procedure runs its body
// through boundary(), and the loop throws a kept exception again once the system has
// returned.
#include <windows.h>

#include <exception>

#include "base/TickSource.h"
#include "toolkit/core/EventCore.h"

namespace tarnset::w32 {

class Loop {
 public:
  explicit Loop(tk::Toolkit& toolkit);
  ~Loop();
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  tk::EventCore& core() { return core_; }
  HINSTANCE instance() const { return instance_; }
  // Watches that the wait can take besides the message queue.
  static constexpr int kMaxWatches = MAXIMUM_WAIT_OBJECTS - 1;

  // Runs the body of a window procedure; an exception that escapes (there is no fatal
  // handler) is kept and thrown again by run() once the system has returned.
  template <class F>
  LRESULT boundary(F&& f, LRESULT onError) noexcept {
    try {
      return f();
    } catch (...) {
      if (!pending_) pending_ = std::current_exception();
      return onError;
    }
  }

  // Runs the loop until quit() and returns its code; a quit before returns at once.
  int run();
  void quit(int exitCode);
  // A menu or a move/size loop of the system runs meanwhile.
  void enterInnerLoop();
  void leaveInnerLoop();

 private:
  static LRESULT CALLBACK loopProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void rethrowPending();
  void wake();
  // Due timers, signalled watches, posted calls.
  void work();
  void pollWatches();
  void pumpMessages();
  // After a failed wait: the watches whose handle is no longer valid are dropped.
  void dropInvalidWatches();

  MonotonicTickSource clock_;
  tk::EventCore core_;
  HINSTANCE instance_;
  HWND loopWindow_ = nullptr;
  std::exception_ptr pending_;
  int innerLoops_ = 0;
};

}  // namespace tarnset::w32
