#pragma once
// The system calls the POSIX serial port makes on its device, behind one small
// interface so that tests can stand in a device a pseudo-terminal cannot imitate (one
// that reports framing errors and breaks, or takes the low-latency setting). The
// production calls are the plain POSIX ones; each call has the POSIX meaning: -1 and
// errno on failure.
#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

namespace tarnset {

class PosixPortCalls {
 public:
  virtual ~PosixPortCalls() = default;

  // open(2) of the device path.
  virtual int open(const char* path, int flags) = 0;
  // close(2).
  virtual int close(int fd) = 0;
  // isatty(3): 1 for a terminal device.
  virtual int isatty(int fd) = 0;
  // flock(2).
  virtual int flock(int fd, int operation) = 0;
  // ioctl(2) with a pointer argument (nullptr for requests that take none).
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  // tcgetattr(3) and tcsetattr(3).
  virtual int tcgetattr(int fd, termios* tio) = 0;
  virtual int tcsetattr(int fd, int action, const termios* tio) = 0;
  // tcflush(3).
  virtual int tcflush(int fd, int queue) = 0;
  // read(2) and write(2).
  virtual ssize_t read(int fd, void* buf, std::size_t count) = 0;
  virtual ssize_t write(int fd, const void* buf, std::size_t count) = 0;
  // poll(2) of one descriptor.
  virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// The real system calls; stateless, shared by every port that is given no other calls.
PosixPortCalls& systemPortCalls();

}  // namespace tarnset
