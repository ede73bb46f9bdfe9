#include "BenchSupport.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>

#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"
#include "toolkit/Toolkit.h"

namespace tarnset::bench {

namespace {

// The server thread's stop flag. It is set by a signal sent to that thread alone, so the
// flag is written and read on the same thread, as the server's loop expects.
volatile std::sig_atomic_t gServerStop = 0;

extern "C" void onServerStop(int) {
  gServerStop = 1;
}

void installStopHandler() {
  struct sigaction sa {};
  sa.sa_handler = onServerStop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: the server's wait ends at once
  sigaction(SIGUSR1, &sa, nullptr);
}

}  // namespace

// The server counts its time from its construction; the origin is taken just before.
RadioOnPty::RadioOnPty(kvsim::Options options)
    : originMs_(nowMs()), radio_(std::move(options)), server_(radio_, true) {
  radio_.setLogSink([this](const std::string& line) { collect(line); });
  if (!server_.open()) return;
  installStopHandler();
  gServerStop = 0;
  thread_ = std::thread([this] { server_.run(gServerStop); });
  ready_ = true;
}

RadioOnPty::~RadioOnPty() {
  if (thread_.joinable()) {
    // The handler runs on the server thread wherever it is; its loop sees the flag at its
    // next check, at the latest when its longest wait (20 ms) ends.
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
  }
}

void RadioOnPty::collect(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.push_back(line);
}

std::vector<e2e::LoggedFrame> RadioOnPty::frames() const {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : log_) text += line + "\n";
  }
  std::vector<e2e::LoggedFrame> frames = e2e::parseFrames(text);
  for (e2e::LoggedFrame& f : frames) f.atMs += originMs_;
  return frames;
}

int e8Code(const e2e::LoggedFrame& f) {
  if (f.fromRadio || f.bytes.size() < 11 || f.bytes[4] != 0xE8) return -1;
  return f.bytes[9];
}

KeyLatency measureKeyToWire(RadioOnPty& radio, int presses,
                            const std::function<void(std::int16_t key)>& press,
                            const std::function<void(double ms)>& runFor) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  std::vector<double> pressedAt;
  for (int i = 0; i < presses; ++i) {
    runFor(350 + phase(rng));
    pressedAt.push_back(nowMs());
    press(i % 2 == 0 ? tk::Key::Right : tk::Key::Left);
  }
  runFor(500);
  return matchPressesToFrames(pressedAt, radio.frames());
}

KeyLatency matchPressesToFrames(const std::vector<double>& pressedAt,
                                const std::vector<e2e::LoggedFrame>& frames) {
  KeyLatency k;
  std::size_t n = 0;
  for (double t : pressedAt) {
    while (n < frames.size() && (e8Code(frames[n]) != 0x05 || frames[n].atMs < t)) ++n;
    if (n == frames.size()) {
      k.error = "a press reached no frame";
      return k;
    }
    k.ms.push_back(frames[n].atMs - t);
    k.frameMs = lineMs(frames[n].bytes.size(), frames[n].baud);
    ++n;
  }
  return k;
}

PassWire monitorPassesOnTheWire(const std::vector<e2e::LoggedFrame>& frames,
                                const std::vector<std::size_t>& starts) {
  PassWire w;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : frames.size();
    double bound = 0, first = -1, last = 0, delay = 0, requestDone = 0;
    int requests = 0, answers = 0;
    for (std::size_t k = starts[i]; k < end && k < frames.size(); ++k) {
      const e2e::LoggedFrame& f = frames[k];
      const bool request = e8Code(f) == 0x03;
      const bool answer = f.fromRadio && f.bytes.size() > 9 && f.bytes[4] == 0xE8 && f.bytes[9] == 0x03;
      if (!request && !answer) continue;
      requests += request;
      answers += answer;
      bound += lineMs(f.bytes.size(), f.baud);
      const double startMs = f.fromRadio ? f.atMs : f.atMs - lineMs(f.bytes.size(), f.baud);
      const double endMs = f.fromRadio ? f.atMs + lineMs(f.bytes.size(), f.baud) : f.atMs;
      // The radio's answer delay: from the request's last byte to the answer's first.
      if (request) requestDone = endMs;
      if (answer) delay += startMs - requestDone;
      if (first < 0) first = startMs;
      last = std::max(last, endMs);
    }
    if (requests != 13 || answers != 13) {
      w.error = "pass " + std::to_string(i + 1) + " had " + std::to_string(requests) + " requests and " +
                std::to_string(answers) + " answers";
      return w;
    }
    w.wireMs.push_back(last - first);
    w.boundMs.push_back(bound);
    w.delayMs.push_back(delay);
  }
  return w;
}

void reportMonitorPasses(const char* what, const std::vector<double>& passMs, const PassWire& wire) {
  const double bound = wire.boundMs.front();
  const double delay = percentile(wire.delayMs, 0.5);
  const double median = percentile(passMs, 0.5);
  std::printf("  line-rate bound                  %.1f ms (13 requests + 13 answers at 9600 baud)\n", bound);
  std::printf("  the radio's answer delays        %.1f ms (median of the passes, 13 answers)\n", delay);
  std::printf("  key event to 13th answer taken   median %.1f ms, min %.1f, max %.1f\n", median,
              percentile(passMs, 0.0), percentile(passMs, 1.0));
  std::printf("  first request byte to last answer byte on the wire: median %.1f ms\n",
              percentile(wire.wireMs, 0.5));
  std::printf("%s: median %.1f ms, bound + radio delays %.1f ms, ratio %.3f (target <= 1.05)\n", what, median,
              bound + delay, median / (bound + delay));
}

void reportKeyToWire(const char* what, const KeyLatency& k) {
  const double median = percentile(k.ms, 0.5), p95 = percentile(k.ms, 0.95);
  std::printf("  line time of one E8 frame      %.1f ms (13 bytes at 9600 baud)\n", k.frameMs);
  std::printf("  median                         %.1f ms   (target <= 18 ms)\n", median);
  std::printf("  95th percentile beyond the frame's own line time: %.1f ms (target <= 2 ms)\n",
              p95 - k.frameMs);
  std::printf("  95th percentile                %.1f ms   (target <= 25 ms)\n", p95);
  std::printf("  min / max                      %.1f / %.1f ms\n", percentile(k.ms, 0.0),
              percentile(k.ms, 1.0));
  std::printf(
      "%s: median %.1f ms (target <= 18), p95 %.1f ms (target <= 25), ratio to one frame's line time %.2f\n",
      what, median, p95, median / k.frameMs);
}

}  // namespace tarnset::bench
