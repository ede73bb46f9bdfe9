#pragma once
// Steps an instrument link on the real clock as an event loop would: waits on its
// waitable (10 ms at most), then runs its task, until a condition holds.
#include <chrono>
#include <thread>
#include <vector>

#include "platform/EventWait.h"

namespace tarnset::testing {

// True once done() holds; false when it still does not after limit.
template <typename Link, typename Pred>
bool stepUntil(Link& link, Pred done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < until) {
    std::vector<WaitState> states;
    if (link.waitable() != kNoWaitable) {
      waitForAny({link.waitable()}, 10, states);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    link.task();
  }
  return done();
}

}  // namespace tarnset::testing
