// Key press to wire: the program's real objects (headless toolkit on a real event loop,
// monotonic clock, the termios port) against the paced virtual radio on a pseudo-terminal.
// Right and Left are pressed in turn on " Power(Hi)" of the console list, 100 times, at
// random phases of the 50 ms tick and far enough apart for the 200 ms pause after each
// send. Each press is timed from the key event to the moment the last byte of its E8
// frame reaches the radio (the radio's own log, put on this process's clock).
#include <cstdio>
#include <random>

#include "BenchSupport.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::bench;

int main() {
  constexpr int kPresses = 100;
  e2e::Scratch scratch;
  RadioOnPty radio;
  if (!radio.ready()) {
    std::fprintf(stderr, "bench_key_to_wire: %s\n", radio.error().c_str());
    return 1;
  }
  HeadlessProgram p(radio.device(), scratch.path());
  if (!p.started() || !p.connect()) {
    std::fprintf(stderr, "bench_key_to_wire: could not connect\n");
    return 1;
  }
  tk::ListBox& list = p.program().mainWindow().lboConsole();
  p.toolkit().pressKey(list, tk::Key::Down);  // from "CH No." to " Power(Hi)"
  p.runUntil([] { return false; }, nowMs() + 500);

  std::mt19937 rng(11);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  std::vector<double> pressedAt;
  for (int i = 0; i < kPresses; ++i) {
    p.runUntil([] { return false; }, nowMs() + 350 + phase(rng));
    pressedAt.push_back(nowMs());
    p.toolkit().pressKey(list, i % 2 == 0 ? tk::Key::Right : tk::Key::Left);
  }
  p.runUntil([] { return false; }, nowMs() + 500);
  if (!p.toolkit().messages().empty()) {
    std::fprintf(stderr, "bench_key_to_wire: the program reported: %s\n",
                 p.toolkit().messages().front().text.c_str());
    return 1;
  }

  // Each press matches the first Power(Hi) frame (E8 code 05) that arrived after it.
  std::vector<double> latency;
  double frameMs = 0;
  const std::vector<e2e::LoggedFrame> frames = radio.frames();
  std::size_t k = 0;
  for (double t : pressedAt) {
    while (k < frames.size() && (e8Code(frames[k]) != 0x05 || frames[k].atMs < t)) ++k;
    if (k == frames.size()) {
      std::fprintf(stderr, "bench_key_to_wire: a press reached no frame\n");
      return 1;
    }
    latency.push_back(frames[k].atMs - t);
    frameMs = lineMs(frames[k].bytes.size(), frames[k].baud);
    ++k;
  }

  const double median = percentile(latency, 0.5);
  std::printf("Key press to wire (program objects, headless event loop, paced radio on a pty), %d presses\n",
              kPresses);
  std::printf(
      "  measured from the key event on the console list to the last byte of the E8 frame at the\n"
      "  radio, as the radio served from this process logged it on the same clock\n");
  std::printf("  line time of one E8 frame      %.1f ms (13 bytes at 9600 baud)\n", frameMs);
  std::printf("  median                         %.1f ms\n", median);
  std::printf("  95th percentile                %.1f ms\n", percentile(latency, 0.95));
  std::printf("  min / max                      %.1f / %.1f ms\n", percentile(latency, 0.0),
              percentile(latency, 1.0));
  std::printf("  (the frame leaves on the next 50 ms tick, so about 25 ms of tick wait is expected)\n");
  std::printf("key to wire: median %.1f ms, p95 %.1f ms, ratio to one frame's line time %.2f\n", median,
              percentile(latency, 0.95), median / frameMs);
  return 0;
}
