#pragma once
// Serves a VirtualTarn on a pseudo-terminal: the program opens the slave side as its serial
// port, the server sits on the master side. The program's baud is read from the slave's
// line settings; the bytes it writes reach the radio at that line rate, and the radio's
// bytes are written to the master when they would have arrived on a real line. While no
// one has the slave open the server writes nothing (a pty would hand stale bytes to the
// next opener) and checks again every few milliseconds.
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim/VirtualTarn.h"

namespace kvsim {

class PtyServer {
 public:
  explicit PtyServer(VirtualTarn& radio, bool pacing = true);
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Opens the pseudo-terminal and puts it into raw mode; false (see error()) on failure.
  bool open();
  // Path of the slave device the program opens.
  const std::string& slavePath() const { return slavePath_; }
  // Makes path a symlink to the slave (replacing an old symlink, never another file); it is
  // removed again by the destructor. False (see error()) on failure.
  bool createLink(const std::string& path);
  // Serves until stop becomes non-zero (set from a signal handler). eachPass, when given, is
  // called on every pass once the radio has been brought up to the present, before the
  // server waits: the place to throw the radio's switches on behalf of signal handlers.
  void run(const volatile std::sig_atomic_t& stop, const std::function<void()>& eachPass = {});
  // A non-blocking descriptor (the read end of a pipe a signal handler writes to) whose
  // readability ends the server's waits at once; the server drains it every pass. -1: none.
  void setWakeFd(int fd) { wakeFd_ = fd; }
  // Further descriptors whose readability ends the server's waits (another server beside the
  // radio, served from eachPass); asked for before every wait.
  void setExtraFds(std::function<std::vector<int>()> fds) { extraFds_ = std::move(fds); }
  // Why the last operation failed.
  const std::string& error() const { return error_; }

  // The program's baud as its line settings say (0 when they cannot be read).
  std::int32_t programBaud() const;
  // Microseconds since the server was made: the radio's clock.
  std::int64_t nowUs() const;

 private:
  void setRaw();
  void lineOpened(std::int64_t now);
  void lineClosed(std::int64_t now);
  void readProgram(std::int64_t now);
  void feedRadio(std::int64_t now);
  void writeProgram(std::int64_t now);
  int waitMs(std::int64_t now) const;
  void wait(bool watchMaster, int timeoutMs);
  void drainWake();

  VirtualTarn& radio_;
  bool pacing_;
  int master_ = -1;
  int wakeFd_ = -1;
  std::function<std::vector<int>()> extraFds_;
  std::string slavePath_;
  std::string linkPath_;
  std::string error_;
  std::int64_t originNs_ = 0;

  bool open_ = false;
  std::int32_t baud_ = VirtualTarn::kLowBaud;
  // The program's bytes on their way to the radio, with the time each one is complete.
  std::deque<std::pair<std::int64_t, std::uint8_t>> inbound_;
  std::int64_t inboundFreeUs_ = 0;
  // Radio bytes not yet taken by the pty (its buffer was full).
  Bytes outbound_;
};

}  // namespace kvsim
