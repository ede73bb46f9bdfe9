#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarnset {

InstanceLock::InstanceLock(const ConfigEnv& env) : InstanceLock(lockFilePath(env)) {}

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  acquire();
}

InstanceLock::~InstanceLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::string InstanceLock::lockFilePath(const ConfigEnv& env) {
  if (env.xdgRuntimeDir && !env.xdgRuntimeDir->empty()) {
    std::string dir = *env.xdgRuntimeDir;
    if (dir.back() != '/') dir += '/';
    return dir + "tarnset-adj.lock";
  }
  return "/tmp/tarnset-adj-" + std::to_string(::getuid()) + ".lock";
}

void InstanceLock::acquire() {
  // No links followed and only a file of our own trusted: in a shared folder such as
  // /tmp another user could otherwise plant a file or link that keeps the program from
  // starting, or that makes it write elsewhere.
  const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    result_ = Result::CouldNotCheck;
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    result_ = Result::CouldNotCheck;
    return;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    handle_ = fd;
    result_ = Result::Acquired;
    return;
  }
  result_ = errno == EWOULDBLOCK ? Result::AlreadyRunning : Result::CouldNotCheck;
  ::close(fd);
}

}  // namespace tarnset
