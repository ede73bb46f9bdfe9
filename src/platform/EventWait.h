#pragma once
// Waiting for the first of several waitables (descriptors, event handles) to be ready:
// the heart of an event loop without a window system.
#include <vector>

#include "base/Types.h"

namespace tarnset {

enum class WaitState {
  Quiet,    // nothing pending
  Ready,    // data (or a hang-up) pending, or the event signalled
  Invalid,  // not a waitable any more (closed): never ready again
};

// Waits at most timeoutMs (-1: without limit; 0: only looks) until at least one of what
// is ready. states gets one entry per waitable. Returns how many are ready or invalid;
// 0 after the time-out or an interruption by a signal. With nothing to wait on it
// simply waits for the time-out.
int waitForAny(const std::vector<Waitable>& what, int timeoutMs, std::vector<WaitState>& states);

}  // namespace tarnset
