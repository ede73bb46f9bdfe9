#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarnset {

const char* const kPathSeparators = "/";

FileContent readWholeFile(const std::string& path, std::uint64_t maxBytes) {
  FileContent out;
  // Non-blocking, so that a pipe or a device at the path cannot hold the program.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    out.status =
        errno == ENOENT || errno == ENOTDIR ? FileContent::Status::Missing : FileContent::Status::Unreadable;
    out.why = std::strerror(errno);
    return out;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    out.why = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    out.status = FileContent::Status::Directory;
  } else if (!S_ISREG(st.st_mode)) {
    out.status = FileContent::Status::NotRegular;
  } else if (out.size = static_cast<std::uint64_t>(st.st_size); out.size > maxBytes) {
    out.status = FileContent::Status::TooLarge;
  } else {
    out.status = FileContent::Status::Ok;
    char buf[8192];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        out.status = FileContent::Status::Unreadable;
        out.why = std::strerror(errno);
        break;
      }
      out.bytes.append(buf, static_cast<std::size_t>(n));
      if (out.bytes.size() > maxBytes) {  // it grew while being read
        out.status = FileContent::Status::TooLarge;
        out.size = out.bytes.size();
        break;
      }
    }
  }
  ::close(fd);
  if (out.status != FileContent::Status::Ok) out.bytes.clear();
  return out;
}

std::string linkTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved = real;
  std::free(real);
  return resolved;
}

std::string executableDirectory() {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return ".";
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      break;
    }
    buf.resize(buf.size() * 2);
  }
  const std::size_t slash = buf.rfind('/');
  return slash == std::string::npos ? std::string(".") : buf.substr(0, slash);
}

std::FILE* openFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

std::vector<std::string> programArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void useUtf8StandardStreams() {}

void useParentConsole() {}

bool standardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

}  // namespace tarnset
