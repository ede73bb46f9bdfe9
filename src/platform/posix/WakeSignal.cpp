#include "platform/WakeSignal.h"

#include <fcntl.h>
#include <unistd.h>

namespace tarnset {

WakeSignal::WakeSignal() {
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    read_ = fds[0];
    write_ = fds[1];
  }
}

WakeSignal::~WakeSignal() {
  if (read_ >= 0) ::close(static_cast<int>(read_));
  if (write_ >= 0) ::close(static_cast<int>(write_));
}

void WakeSignal::raise() {
  const char byte = 1;
  if (write_ >= 0) [[maybe_unused]]
    const ssize_t n = ::write(static_cast<int>(write_), &byte, 1);  // a full pipe is ready anyway
}

void WakeSignal::clear() {
  char buf[64];
  while (read_ >= 0 && ::read(static_cast<int>(read_), buf, sizeof buf) > 0) {
  }
}

Waitable WakeSignal::waitable() const {
  return read_ >= 0 ? static_cast<Waitable>(read_) : kNoWaitable;
}

}  // namespace tarnset
