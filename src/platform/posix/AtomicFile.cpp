#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace tarnset {
namespace {

std::string reason(int err) {
  return std::strerror(err);
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Flushes the folder's entries (the rename or the new link) to the disk. Some file
// systems refuse to flush a folder; the file is in place all the same.
void syncFolder(const std::string& dir) {
  const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  [[maybe_unused]] const int synced = ::fsync(dfd);
  ::close(dfd);
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& why,
                         bool mayReplace) {
  why.clear();
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty() || path.find('\0') != std::string::npos) {
    why = "cannot create '" + path + "': not a file name";
    return false;
  }

  struct stat old {};
  const bool hadFile = mayReplace && ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);

  // A name of its own for each attempt: the process id tells processes apart, the count
  // tells apart the writes of this one.
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = dir + "." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) {
      why = "cannot create " + path + ": " + reason(errno);
      return false;
    }
  }
  if (fd < 0) {
    why = "cannot create " + path + ": no free name for a temporary file";
    return false;
  }

  if (hadFile) {
    // The owner first: changing it may clear the set-id bits that the mode then restores.
    // An owner that cannot be kept (not running as root) is no reason to fail.
    [[maybe_unused]] const int ownerKept = ::fchown(fd, old.st_uid, old.st_gid);
    [[maybe_unused]] const int modeKept = ::fchmod(fd, old.st_mode & 07777);
  }
  int err = 0;
  if (!writeAll(fd, content) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.c_str());
    why = "cannot write " + path + ": " + reason(err);
    return false;
  }

  if (mayReplace) {
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
      err = errno;
      ::unlink(tmp.c_str());
      why = "cannot replace " + path + ": " + reason(err);
      return false;
    }
  } else {
    // A new link never replaces what is there: the path takes the whole file or nothing.
    if (::link(tmp.c_str(), path.c_str()) != 0) {
      err = errno;
      ::unlink(tmp.c_str());
      why = err == EEXIST ? path + " exists already" : "cannot create " + path + ": " + reason(err);
      return false;
    }
    ::unlink(tmp.c_str());
  }
  syncFolder(dir);
  return true;
}

}  // namespace tarnset
