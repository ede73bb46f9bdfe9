// One F5 monitor pass: the program's real objects (headless toolkit on a real event loop,
// monotonic clock, the termios port) against the paced virtual radio on a pseudo-terminal.
// After connecting, F5 is pressed on the console list; the pass is timed from the key
// event until the program has taken in the 13th answer, and compared with its line-rate
// bound (the 13 request frames and the 13 answers at 9600 baud) plus the radio's own
// delays between each request and its answer, as the radio logged them.
#include <cstdio>
#include <random>

#include "BenchSupport.h"

using namespace tarnset;
using namespace tarnset::bench;

int main() {
  constexpr int kPasses = 10;
  e2e::Scratch scratch;
  RadioOnPty radio;
  if (!radio.ready()) {
    std::fprintf(stderr, "bench_monitor_pass: %s\n", radio.error().c_str());
    return 1;
  }
  HeadlessProgram p(radio.device(), scratch.path().string(), TARNSET_SOURCE_DIR "/Const.ini");
  if (!p.started() || !p.connect()) {
    std::fprintf(stderr, "bench_monitor_pass: could not connect\n");
    return 1;
  }
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> phase(0.0, 50.0);

  std::vector<double> passMs;
  std::vector<std::size_t> starts;
  for (int i = 0; i < kPasses; ++i) {
    // Let the previous sends and pauses settle, and meet the 50 ms tick at any phase.
    p.runFor(500 + phase(rng));
    starts.push_back(radio.frames().size());
    const double t0 = nowMs();
    if (!p.monitorPass()) {
      std::fprintf(stderr, "bench_monitor_pass: pass %d did not complete\n", i + 1);
      return 1;
    }
    passMs.push_back(nowMs() - t0);
  }
  p.runFor(100);  // the radio logs the last answer's line
  const PassWire wire = monitorPassesOnTheWire(radio.frames(), starts);
  if (!wire.error.empty()) {
    std::fprintf(stderr, "bench_monitor_pass: %s\n", wire.error.c_str());
    return 1;
  }
  std::printf("F5 monitor pass (program objects, headless event loop, paced radio on a pty), %d passes\n",
              kPasses);
  reportMonitorPasses("monitor pass", passMs, wire);
  return 0;
}
