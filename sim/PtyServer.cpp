#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kvsim {

namespace {

constexpr int kClosedCheckMs = 5;  // how often a closed port is looked at again
constexpr int kIdleWaitMs = 20;    // longest wait while the port is open and nothing is due
constexpr std::size_t kOutboundLimit = 65536;

std::int32_t baudOf(speed_t s) {
  struct Pair {
    speed_t code;
    std::int32_t baud;
  };
  static const Pair kSpeeds[] = {{B300, 300},     {B600, 600},       {B1200, 1200},    {B2400, 2400},
                                 {B4800, 4800},   {B9600, 9600},     {B19200, 19200},  {B38400, 38400},
                                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
  for (const Pair& p : kSpeeds) {
    if (p.code == s) return p.baud;
  }
  return 0;
}

}  // namespace

PtyServer::PtyServer(VirtualTarn& radio, bool pacing) : radio_(radio), pacing_(pacing) {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  originNs_ = static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

PtyServer::~PtyServer() {
  if (!linkPath_.empty()) {
    // Only our own link goes: something else may have taken the name meanwhile.
    char target[4096];
    const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_) unlink(linkPath_.c_str());
  }
  if (master_ >= 0) close(master_);
}

std::int64_t PtyServer::nowUs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec - originNs_) / 1000;
}

bool PtyServer::open() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error_ = std::string("posix_openpt: ") + std::strerror(errno);
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error_ = std::string("grantpt/unlockpt: ") + std::strerror(errno);
    return false;
  }
  char name[256];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error_ = std::string("ptsname: ") + std::strerror(errno);
    return false;
  }
  slavePath_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    error_ = std::string("fcntl: ") + std::strerror(errno);
    return false;
  }
  setRaw();
  termios t{};
  if (tcgetattr(master_, &t) == 0) {
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(master_, TCSANOW, &t);
  }
  return true;
}

void PtyServer::setRaw() {
  // On Linux the master's line settings are the slave's: a raw slave neither echoes the
  // radio's bytes back nor translates any of them.
  termios t{};
  if (tcgetattr(master_, &t) != 0) return;
  cfmakeraw(&t);  // keeps the speed
  tcsetattr(master_, TCSANOW, &t);
}

std::int32_t PtyServer::programBaud() const {
  termios t{};
  if (master_ < 0 || tcgetattr(master_, &t) != 0) return 0;
  return baudOf(cfgetospeed(&t));
}

bool PtyServer::createLink(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error_ = "'" + path + "' exists and is not a symlink";
      return false;
    }
    unlink(path.c_str());
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
    error_ = "symlink '" + path + "': " + std::strerror(errno);
    return false;
  }
  linkPath_ = path;
  return true;
}

void PtyServer::lineOpened(std::int64_t now) {
  open_ = true;
  const std::int32_t b = programBaud();
  if (b > 0) baud_ = b;
  outbound_.clear();
  radio_.setProgramLine(true, baud_, now);
}

void PtyServer::lineClosed(std::int64_t now) {
  open_ = false;
  outbound_.clear();
  radio_.setProgramLine(false, baud_, now);
  setRaw();  // the next opener finds a raw line again
}

void PtyServer::readProgram(std::int64_t now) {
  std::uint8_t buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return;  // EAGAIN: all read; EIO: the slave went away (the next check sees it)
    const std::int64_t byteUs = pacing_ ? 10000000 / std::max<std::int32_t>(baud_, 1) : 0;
    for (ssize_t i = 0; i < n; ++i) {
      // The program's UART sends them back to back at its own line rate.
      inboundFreeUs_ = std::max(inboundFreeUs_, now) + byteUs;
      inbound_.emplace_back(inboundFreeUs_, buf[i]);
    }
  }
}

void PtyServer::feedRadio(std::int64_t now) {
  Bytes chunk;
  std::int64_t last = 0;
  while (!inbound_.empty() && inbound_.front().first <= now) {
    last = inbound_.front().first;
    chunk.push_back(inbound_.front().second);
    inbound_.pop_front();
  }
  if (!chunk.empty()) radio_.receive(chunk, last);
}

void PtyServer::writeProgram(std::int64_t now) {
  const Bytes out = radio_.transmit(now);
  if (!open_) return;  // the radio has dropped them already: nobody listens
  outbound_.insert(outbound_.end(), out.begin(), out.end());
  if (outbound_.size() > kOutboundLimit) {
    // The program does not read: its receive buffer overflows and the oldest bytes are lost.
    outbound_.erase(outbound_.begin(), outbound_.end() - static_cast<std::ptrdiff_t>(kOutboundLimit));
  }
  while (!outbound_.empty()) {
    const ssize_t n = write(master_, outbound_.data(), outbound_.size());
    if (n <= 0) break;
    outbound_.erase(outbound_.begin(), outbound_.begin() + n);
  }
}

int PtyServer::waitMs(std::int64_t now) const {
  std::int64_t due = now + kIdleWaitMs * 1000;
  if (const auto next = radio_.nextTransmitUs()) due = std::min(due, *next);
  if (!inbound_.empty()) due = std::min(due, inbound_.front().first);
  if (due <= now) return 0;
  return static_cast<int>((due - now + 999) / 1000);
}

void PtyServer::wait(bool watchMaster, int timeoutMs) {
  // A signal cuts the wait short (no SA_RESTART), and a byte on the wake descriptor ends it
  // even when the signal came just before the wait began.
  std::vector<pollfd> fds;
  if (wakeFd_ >= 0) fds.push_back(pollfd{wakeFd_, POLLIN, 0});
  if (watchMaster) {
    fds.push_back(pollfd{master_, static_cast<short>(POLLIN | (outbound_.empty() ? 0 : POLLOUT)), 0});
  }
  if (extraFds_) {
    for (const int fd : extraFds_()) fds.push_back(pollfd{fd, POLLIN, 0});
  }
  poll(fds.data(), fds.size(), timeoutMs);
}

void PtyServer::drainWake() {
  if (wakeFd_ < 0) return;
  char buf[64];
  while (read(wakeFd_, buf, sizeof buf) > 0) {
  }
}

void PtyServer::run(const volatile std::sig_atomic_t& stop, const std::function<void()>& eachPass) {
  while (stop == 0) {
    drainWake();
    const std::int64_t now = nowUs();
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0 && errno != EINTR) {
      wait(false, kClosedCheckMs);
      continue;
    }
    const bool hangup = (p.revents & (POLLHUP | POLLERR)) != 0;
    if (hangup && open_) {
      // The program may have reopened at another speed, written and closed again between
      // two passes: what it wrote left at the speed it set last, which the line keeps.
      const std::int32_t b = programBaud();
      if (b > 0) baud_ = b;
      lineClosed(now);
    }
    if (!hangup && !open_) lineOpened(now);
    if (open_) {
      // The program sets its speed after opening; look before the bytes move.
      const std::int32_t b = programBaud();
      if (b > 0 && b != baud_) {
        baud_ = b;
        radio_.setProgramLine(true, baud_, now);
      }
    }
    // Bytes written just before a close are on the wire all the same: the radio gets them.
    if ((p.revents & POLLIN) != 0) readProgram(now);
    feedRadio(now);
    writeProgram(now);
    if (eachPass) eachPass();
    if (!open_) {
      wait(false, kClosedCheckMs);  // a closed slave reports POLLHUP at once: do not spin on it
      continue;
    }
    wait(true, waitMs(nowUs()));
  }
}

}  // namespace kvsim
