#include "platform/EventWait.h"

#include <poll.h>

namespace tarnset {

int waitForAny(const std::vector<Waitable>& what, int timeoutMs, std::vector<WaitState>& states) {
  std::vector<pollfd> fds;
  fds.reserve(what.size());
  for (const Waitable w : what) fds.push_back({static_cast<int>(w), POLLIN, 0});
  states.assign(what.size(), WaitState::Quiet);
  const int n = ::poll(fds.data(), fds.size(), timeoutMs);
  if (n <= 0) return 0;  // time-out, or a signal (EINTR): the caller's loop goes on
  int ready = 0;
  for (std::size_t i = 0; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    states[i] = (fds[i].revents & POLLNVAL) != 0 ? WaitState::Invalid : WaitState::Ready;
    ++ready;
  }
  return ready;
}

}  // namespace tarnset
