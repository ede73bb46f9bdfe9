// One F5 monitor pass: the program's real objects (headless toolkit on a real event loop,
// monotonic clock, the termios port) against the paced virtual radio on a pseudo-terminal.
// After connecting, F5 is pressed on the console list; the pass is timed from the key
// event until the program has taken in the 13th answer, and compared with its line-rate
// bound (the 13 request frames and the 13 answers at 9600 baud) plus the radio's own
// delays between each request and its answer, as the radio logged them.
#include <cstdio>
#include <random>

#include "BenchSupport.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"

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
  HeadlessProgram p(radio.device(), scratch.path());
  if (!p.started() || !p.connect()) {
    std::fprintf(stderr, "bench_monitor_pass: could not connect\n");
    return 1;
  }
  clsIndOp_RigTarn& ctl = p.program().controller();
  tk::ListBox& list = p.program().mainWindow().lboConsole();
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> phase(0.0, 50.0);

  std::vector<double> passMs, wireMs, boundMs, delayMs;
  for (int i = 0; i < kPasses; ++i) {
    // Let the previous sends and pauses settle, and meet the 50 ms tick at any phase.
    p.runUntil([] { return false; }, nowMs() + 500 + phase(rng));
    const std::size_t before = radio.frames().size();
    const double t0 = nowMs();
    p.toolkit().pressKey(list, tk::Key::F5);
    bool readingDa = false;
    const bool done = p.runUntil(
        [&] {
          const std::int16_t s = tarnset::number(ctl.opState());
          if (s >= 13 && s <= 21) readingDa = true;
          return readingDa && (s < 9 || s > 21);
        },
        t0 + 5000);
    const double t1 = nowMs();
    if (!done || !p.toolkit().messages().empty()) {
      std::fprintf(stderr, "bench_monitor_pass: pass %d did not complete\n", i + 1);
      return 1;
    }
    p.runUntil([] { return false; }, nowMs() + 100);  // the radio logs the last answer's line
    const std::vector<e2e::LoggedFrame> frames = radio.frames();
    double bound = 0, first = -1, last = 0, delay = 0, requestDone = 0;
    int requests = 0, answers = 0;
    for (std::size_t k = before; k < frames.size(); ++k) {
      const e2e::LoggedFrame& f = frames[k];
      const bool request = e8Code(f) == 0x03;
      const bool answer = f.fromRadio && f.bytes.size() > 9 && f.bytes[4] == 0xE8 && f.bytes[9] == 0x03;
      if (!request && !answer) continue;
      requests += request;
      answers += answer;
      bound += lineMs(f.bytes.size(), f.baud);
      const double start = f.fromRadio ? f.atMs : f.atMs - lineMs(f.bytes.size(), f.baud);
      const double end = f.fromRadio ? f.atMs + lineMs(f.bytes.size(), f.baud) : f.atMs;
      // The radio's answer delay: from the request's last byte to the answer's first.
      if (request) requestDone = end;
      if (answer) delay += start - requestDone;
      if (first < 0) first = start;
      last = std::max(last, end);
    }
    if (requests != 13 || answers != 13) {
      std::fprintf(stderr, "bench_monitor_pass: pass %d had %d requests and %d answers\n", i + 1, requests,
                   answers);
      return 1;
    }
    passMs.push_back(t1 - t0);
    wireMs.push_back(last - first);
    boundMs.push_back(bound);
    delayMs.push_back(delay);
  }

  const double bound = boundMs.front();
  const double delay = percentile(delayMs, 0.5);
  const double median = percentile(passMs, 0.5);
  std::printf("F5 monitor pass (program objects, headless event loop, paced radio on a pty), %d passes\n",
              kPasses);
  std::printf("  line-rate bound                  %.1f ms (13 requests + 13 answers at 9600 baud)\n", bound);
  std::printf("  the radio's answer delays        %.1f ms (median of the passes, 13 answers)\n", delay);
  std::printf("  key event to 13th answer taken   median %.1f ms, min %.1f, max %.1f\n", median,
              percentile(passMs, 0.0), percentile(passMs, 1.0));
  std::printf("  first request byte to last answer byte on the wire: median %.1f ms\n",
              percentile(wireMs, 0.5));
  std::printf("monitor pass: median %.1f ms, bound + radio delays %.1f ms, ratio %.3f (target <= 1.05)\n",
              median, bound + delay, median / (bound + delay));
  return 0;
}
