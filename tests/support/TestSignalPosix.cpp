#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "support/TestSignal.h"

namespace tarnset::testing {

TestSignal::TestSignal() {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("no pipe for a test signal");
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  read_ = fds[0];
  write_ = fds[1];
}

TestSignal::~TestSignal() {
  ::close(static_cast<int>(read_));
  ::close(static_cast<int>(write_));
}

Waitable TestSignal::waitable() const {
  return read_;
}

void TestSignal::raise() {
  if (::write(static_cast<int>(write_), "x", 1) != 1)
    throw std::runtime_error("the test signal could not be raised");
}

void TestSignal::clear() {
  char buf[64];
  while (::read(static_cast<int>(read_), buf, sizeof buf) > 0) {
  }
}

}  // namespace tarnset::testing
