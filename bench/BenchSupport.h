#pragma once
// What the benchmarks share: the virtual radio served on a pseudo-terminal from a thread
// of the benchmark itself (the same server code as kv-tarn-sim, so that the moment a
// frame's last byte reaches the radio is known on this process's clock), the program's
// real objects with the headless toolkit on a real event loop, and small statistics.
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "E2eSupport.h"
#include "base/SerialPort.h"
#include "base/TickSource.h"
#include "platform/posix/PosixSerialPort.h"
#include "shell/start.h"
#include "sim/PtyServer.h"
#include "sim/VirtualTarn.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset::bench {

// Milliseconds of CLOCK_MONOTONIC.
double nowMs();

// Line time of a number of bytes at a baud: 10 bits per byte (start, 8 data, stop).
inline double lineMs(std::size_t bytes, std::int32_t baud) {
  return static_cast<double>(bytes) * 10000.0 / baud;
}

// The value below which the fraction p (0..1) of the samples lie (nearest rank).
double percentile(std::vector<double> samples, double p);

// The virtual KV-Tarn on a pseudo-terminal, served by a thread of this process, paced at
// the line rate. Stopped with the object.
class RadioOnPty {
 public:
  explicit RadioOnPty(kvsim::Options options = {});
  ~RadioOnPty();
  RadioOnPty(const RadioOnPty&) = delete;
  RadioOnPty& operator=(const RadioOnPty&) = delete;

  // False when the pseudo-terminal could not be made (error() says why).
  bool ready() const { return ready_; }
  const std::string& error() const { return server_.error(); }
  // The device the program opens.
  const std::string& device() const { return server_.slavePath(); }
  // The frames so far, their times put on this process's clock (nowMs()).
  std::vector<e2e::LoggedFrame> frames() const;

 private:
  void collect(const std::string& line);

  double originMs_ = 0;
  kvsim::VirtualTarn radio_;
  kvsim::PtyServer server_;
  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::thread thread_;
  bool ready_ = false;
};

// Every COM number is the one device.
class OneDevice final : public PortResolver {
 public:
  explicit OneDevice(std::string device) : device_(std::move(device)) {}
  std::string deviceFor(std::int16_t) const override { return device_; }

 private:
  std::string device_;
};

// The whole program with the headless toolkit, the system's monotonic clock and the real
// serial port, started with its options file in folder and the repository's Const.ini.
class HeadlessProgram {
 public:
  HeadlessProgram(const std::string& device, const std::filesystem::path& folder);

  Program& program() { return *program_; }
  HeadlessToolkit& toolkit() { return toolkit_; }
  bool started() const { return started_; }

  // Runs the event loop (posted work, due timers, then the port's descriptor) until
  // done() holds or untilMs (nowMs()) has come; done() is checked after every event. True
  // when done.
  bool runUntil(const std::function<bool()>& done, double untilMs);
  // Clicks "Connect" and runs until the controller rests after the first monitor pass
  // and the first sending of every item.
  bool connect(double timeoutMs = 60000);

 private:
  MonotonicTickSource clock_;
  HeadlessToolkit toolkit_;
  PosixSerialPort port_;
  OneDevice resolver_;
  std::unique_ptr<Program> program_;
  bool started_ = false;
};

// The E8 command code of a frame from the program (FE FE EE EF E8 mm mm ss ss code ...),
// -1 for any other frame.
int e8Code(const e2e::LoggedFrame& f);

// Key press to wire, whatever the event loop: presses Right and Left in turn on
// " Power(Hi)" (already selected), `presses` times, at random phases of the 50 ms tick and
// far enough apart for the 200 ms pause after each send, running the program's loop with
// runFor(ms) in between. Each press is timed from the moment before its key event to the
// last byte of the first Power(Hi) frame (E8 code 05) that reached the radio after it.
struct KeyLatency {
  std::vector<double> ms;  // one per press
  double frameMs = 0;      // line time of one E8 frame
  std::string error;       // why the measurement failed; empty when it did not
};
KeyLatency measureKeyToWire(RadioOnPty& radio, int presses,
                            const std::function<void(std::int16_t key)>& press,
                            const std::function<void(double ms)>& runFor);
// Prints the figures of a key-to-wire measurement, each with its target, and last the
// headline line of the benchmark named `what`.
void reportKeyToWire(const char* what, const KeyLatency& k);

}  // namespace tarnset::bench
