#pragma once
// A waitable that another thread raises to wake the event loop (a pipe on POSIX systems,
// an event on Windows).
#include "base/Types.h"

namespace tarnset {

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // Makes the waitable ready; any thread may call it.
  void raise();
  // Makes it quiet again (the owner's thread, after taking what the raise was for).
  void clear();
  Waitable waitable() const;

 private:
  std::intptr_t read_ = -1;   // pipe read end, or the event handle
  std::intptr_t write_ = -1;  // pipe write end
};

}  // namespace tarnset
