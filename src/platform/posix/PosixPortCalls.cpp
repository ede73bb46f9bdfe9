#include "platform/posix/PosixPortCalls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tarnset {

namespace {

class SystemPortCalls final : public PosixPortCalls {
 public:
  int open(const char* path, int flags) override { return ::open(path, flags); }
  int close(int fd) override { return ::close(fd); }
  int isatty(int fd) override { return ::isatty(fd); }
  int flock(int fd, int operation) override { return ::flock(fd, operation); }
  int ioctl(int fd, unsigned long request, void* arg) override { return ::ioctl(fd, request, arg); }
  int tcgetattr(int fd, termios* tio) override { return ::tcgetattr(fd, tio); }
  int tcsetattr(int fd, int action, const termios* tio) override { return ::tcsetattr(fd, action, tio); }
  int tcflush(int fd, int queue) override { return ::tcflush(fd, queue); }
  ssize_t read(int fd, void* buf, std::size_t count) override { return ::read(fd, buf, count); }
  ssize_t write(int fd, const void* buf, std::size_t count) override { return ::write(fd, buf, count); }
  int poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

}  // namespace

PosixPortCalls& systemPortCalls() {
  static SystemPortCalls calls;
  return calls;
}

}  // namespace tarnset
