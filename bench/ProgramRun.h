#pragma once
// The program's real objects with the headless toolkit on a real event loop and the
// system's serial port, as the benchmarks run them on either system (the Windows build
// runs them under Wine for bench_wine), with the clock and the statistics they share.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "base/TickSource.h"
#include "platform/SystemSerialPort.h"
#include "shell/start.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset::bench {

// Milliseconds of the system's monotonic clock: CLOCK_MONOTONIC here; on Windows the
// performance counter, which under Wine is the host's CLOCK_MONOTONIC_RAW.
double nowMs();

// Line time of a number of bytes at a baud: 10 bits per byte (start, 8 data, stop).
inline double lineMs(std::size_t bytes, std::int32_t baud) {
  return static_cast<double>(bytes) * 10000.0 / baud;
}

// The value below which the fraction p (0..1) of the samples lie (nearest rank).
double percentile(std::vector<double> samples, double p);

// Every COM number is the one device.
class OneDevice final : public PortResolver {
 public:
  explicit OneDevice(std::string device) : device_(std::move(device)) {}
  std::string deviceFor(std::int16_t) const override { return device_; }

 private:
  std::string device_;
};

// The whole program with the headless toolkit, the system's monotonic clock and the real
// serial port, started with its options file in folder and the given Const.ini.
class HeadlessProgram {
 public:
  HeadlessProgram(const std::string& device, const std::string& folder, const std::string& constFile);

  Program& program() { return *program_; }
  HeadlessToolkit& toolkit() { return toolkit_; }
  bool started() const { return started_; }

  // Runs the event loop (posted work, due timers, then the port's waitable) until done()
  // holds or untilMs (nowMs()) has come; done() is checked after every event. True when
  // done.
  bool runUntil(const std::function<bool()>& done, double untilMs);
  // Runs the event loop for ms milliseconds.
  void runFor(double ms);
  // Clicks "Connect" and runs until the controller rests after the first monitor pass
  // and the first sending of every item.
  bool connect(double timeoutMs = 60000);
  // Presses F5 on the console list and runs until the program has taken in the pass's
  // 13th answer (the controller has left the D/A readings); false after timeoutMs.
  bool monitorPass(double timeoutMs = 5000);

 private:
  MonotonicTickSource clock_;
  HeadlessToolkit toolkit_;
  SystemSerialPort port_;
  OneDevice resolver_;
  std::unique_ptr<Program> program_;
  bool started_ = false;
};

// The moments (nowMs()) of key presses on " Power(Hi)" (already selected): Right and Left
// in turn, `presses` times, at random phases of the 50 ms tick and far enough apart for
// the 200 ms pause after each send, running the program's loop in between.
std::vector<double> pressPowerKeys(HeadlessProgram& p, int presses);

}  // namespace tarnset::bench
