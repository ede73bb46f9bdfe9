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
#include "ProgramRun.h"
#include "sim/PtyServer.h"
#include "sim/VirtualTarn.h"

namespace tarnset::bench {

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
// The latencies of key presses at the given moments: each press matched with the first
// Power(Hi) frame (E8 code 05) that reached the radio after it, in the radio's frames.
KeyLatency matchPressesToFrames(const std::vector<double>& pressedAt,
                                const std::vector<e2e::LoggedFrame>& frames);

// The figures of F5 passes against the radio's frames: the line-rate bound of the 13
// requests and 13 answers and the radio's own delays, each pass found after the frame
// count it started at. Empty error when every pass had its 13 requests and answers.
struct PassWire {
  std::vector<double> wireMs, boundMs, delayMs;  // one per pass
  std::string error;
};
PassWire monitorPassesOnTheWire(const std::vector<e2e::LoggedFrame>& frames,
                                const std::vector<std::size_t>& starts);
// Prints the figures of F5 passes (their times from the key to the 13th answer taken),
// last the headline line of the benchmark named `what`.
void reportMonitorPasses(const char* what, const std::vector<double>& passMs, const PassWire& wire);
// Prints the figures of a key-to-wire measurement, each with its target, and last the
// headline line of the benchmark named `what`.
void reportKeyToWire(const char* what, const KeyLatency& k);

}  // namespace tarnset::bench
