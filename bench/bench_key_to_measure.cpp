// Key press to measurement on screen: the program's real objects (headless toolkit on a
// real event loop, monotonic clock, the termios port, the LAN socket to the instruments)
// against the paced virtual radio on a pseudo-terminal and its virtual bench on a TCP port
// of 127.0.0.1, the transmitter keyed. With " Power(Hi)" selected, Right and Left are
// pressed in turn at random phases of the 50 ms tick; each press is timed from the key
// event until the measurement line shows a power measured after the new value went out
// (it first says "measuring...", then the new reading). The figure is compared with what
// the measurement cannot be quicker than: the E8 frame's line time at 9600 baud, the
// instrument's settle time, and the instrument's answer time (query sent to answer
// received, asked from here on a connection of its own).
#include <cstdio>
#include <random>
#include <regex>

#include "BenchSupport.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::bench;

namespace {

constexpr int kPresses = 30;
constexpr int kSettleMs = 200;
constexpr int kAnswerSamples = 30;

bool showsWatts(const std::string& line) {
  static const std::regex kW(": [0-9.]+ W");
  return std::regex_search(line, kW);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "bench_key_to_measure: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main() {
  e2e::Scratch scratch;
  RadioOnPty radio({}, kvsim::BenchOptions{});
  if (!radio.ready()) return fail(radio.error());
  writeBenchInstruments(scratch.path().string(), radio.benchAddress(), kSettleMs);
  HeadlessProgram p(radio.device(), scratch.path().string(), TARNSET_SOURCE_DIR "/Const.ini",
                    TARNSET_SOURCE_DIR "/Limits.ini");
  // No as-found measurements: the benchmark keys the transmitter itself.
  p.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
  if (!p.started() || !p.connect()) return fail("could not connect");
  BenchLine technician(radio.benchPort());
  if (!technician.ptt(true)) return fail("the bench did not key the transmitter");

  frmMain& w = p.program().mainWindow();
  tk::ListBox& list = w.lboConsole();
  p.toolkit().pressKey(list, tk::Key::Down);  // from "CH No." to " Power(Hi)"
  if (!p.runUntil([&] { return showsWatts(w.lblMeasure().caption()); }, nowMs() + 5000))
    return fail("no power shown: " + w.lblMeasure().caption());
  p.runFor(1000);  // the transmitter settles after it was keyed

  std::mt19937 rng(13);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  std::vector<double> pressedAt, keyToShown;
  for (int i = 0; i < kPresses; ++i) {
    p.runFor(400 + phase(rng));
    bool measuring = false;
    const double t0 = nowMs();
    pressedAt.push_back(t0);
    p.toolkit().pressKey(list, i % 2 == 0 ? tk::Key::Right : tk::Key::Left);
    const bool shown = p.runUntil(
        [&] {
          const std::string& line = w.lblMeasure().caption();
          if (line.find("measuring...") != std::string::npos) measuring = true;
          return measuring && showsWatts(line);
        },
        t0 + 5000);
    if (!shown)
      return fail("press " + std::to_string(i + 1) + ": no new measurement: " + w.lblMeasure().caption());
    keyToShown.push_back(nowMs() - t0);
  }
  p.runFor(200);
  if (!p.toolkit().messages().empty()) return fail(p.toolkit().messages().front().text);
  const KeyLatency wire = matchPressesToFrames(pressedAt, radio.frames());
  if (!wire.error.empty()) return fail(wire.error);
  for (std::size_t i = 0; i < keyToShown.size(); ++i) {
    if (keyToShown[i] <= wire.ms[i]) return fail("a measurement was shown before its E8 reached the radio");
  }

  // The instrument's answer time, on a connection of its own.
  std::vector<double> answerMs;
  for (int i = 0; i < kAnswerSamples; ++i) {
    const double t0 = nowMs();
    if (!technician.ask("MEASure:POWer?")) return fail("the bench did not answer MEASure:POWer?");
    answerMs.push_back(nowMs() - t0);
  }
  technician.ptt(false);

  const double frame = wire.frameMs, answer = percentile(answerMs, 0.5);
  const double bound = frame + kSettleMs + answer;
  const double median = percentile(keyToShown, 0.5), p95 = percentile(keyToShown, 0.95);
  std::printf(
      "Key press to measurement shown (program objects, headless event loop, paced radio on a pty, "
      "virtual bench over TCP), %d presses\n",
      kPresses);
  std::printf("  line time of the E8 frame        %.1f ms (13 bytes at 9600 baud)\n", frame);
  std::printf("  the instrument's settle time     %d ms (SettleMs of Instruments.ini)\n", kSettleMs);
  std::printf("  the instrument's answer time     median %.2f ms, max %.2f (%d queries)\n", answer,
              percentile(answerMs, 1.0), kAnswerSamples);
  std::printf("  bound                            %.1f ms\n", bound);
  std::printf("  key to E8 at the radio           median %.1f ms, p95 %.1f\n", percentile(wire.ms, 0.5),
              percentile(wire.ms, 0.95));
  std::printf("  key to new measurement shown     median %.1f ms, p95 %.1f, min %.1f, max %.1f\n", median,
              p95, percentile(keyToShown, 0.0), percentile(keyToShown, 1.0));
  std::printf(
      "key to measure: median %.1f ms, p95 %.1f ms, bound %.1f ms, ratio %.3f (p95 %.3f; target <= 1.2)\n",
      median, p95, bound, median / bound, p95 / bound);
  return 0;
}
