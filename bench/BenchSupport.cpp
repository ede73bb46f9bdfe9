#include "BenchSupport.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>

#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"
#include "toolkit/Toolkit.h"

#ifndef TARNSET_SOURCE_DIR
#error "TARNSET_SOURCE_DIR must name the repository (for Const.ini)"
#endif

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

double nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p * static_cast<double>(samples.size()));
  const std::size_t i = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return samples[std::min(i, samples.size() - 1)];
}

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

HeadlessProgram::HeadlessProgram(const std::string& device, const std::filesystem::path& folder)
    : toolkit_(clock_), resolver_(device) {
  ProgramConfig config;
  config.optionsFile = (folder / "TarnsetADJ.rs").string();
  config.constFile = TARNSET_SOURCE_DIR "/Const.ini";
  program_ = std::make_unique<Program>(toolkit_, clock_, port_, resolver_, config);
  started_ = program_->startUp(nullptr) == 0;
}

bool HeadlessProgram::runUntil(const std::function<bool()>& done, double untilMs) {
  for (;;) {
    toolkit_.runPosted();
    toolkit_.runDueTimers();
    if (done()) return true;
    const double left = untilMs - nowMs();
    if (left <= 0) return false;
    std::int32_t wait = toolkit_.msToNextTimer();
    const auto leftMs = static_cast<std::int32_t>(std::ceil(left));
    if (wait < 0 || wait > leftMs) wait = leftMs;
    toolkit_.waitWatches(wait);
    if (done()) return true;
  }
}

bool HeadlessProgram::connect(double timeoutMs) {
  clsIndOp_RigTarn& c = program_->controller();
  if (!toolkit_.click(program_->mainWindow().cmd00(0))) return false;
  const bool rested =
      runUntil([&] { return c.opState() == TarnState::CycleEnd || !toolkit_.messages().empty(); },
               nowMs() + timeoutMs);
  return rested && toolkit_.messages().empty();
}

int e8Code(const e2e::LoggedFrame& f) {
  if (f.fromRadio || f.bytes.size() < 11 || f.bytes[4] != 0xE8) return -1;
  return f.bytes[9];
}

KeyLatency measureKeyToWire(RadioOnPty& radio, int presses,
                            const std::function<void(std::int16_t key)>& press,
                            const std::function<void(double ms)>& runFor) {
  KeyLatency k;
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  std::vector<double> pressedAt;
  for (int i = 0; i < presses; ++i) {
    runFor(350 + phase(rng));
    pressedAt.push_back(nowMs());
    press(i % 2 == 0 ? tk::Key::Right : tk::Key::Left);
  }
  runFor(500);

  // Each press matches the first Power(Hi) frame (E8 code 05) that arrived after it.
  const std::vector<e2e::LoggedFrame> frames = radio.frames();
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

void reportKeyToWire(const char* what, const KeyLatency& k) {
  const double median = percentile(k.ms, 0.5), p95 = percentile(k.ms, 0.95);
  std::printf("  line time of one E8 frame      %.1f ms (13 bytes at 9600 baud)\n", k.frameMs);
  std::printf("  median                         %.1f ms   (target <= 18 ms)\n", median);
  std::printf("  95th percentile                %.1f ms   (target <= 25 ms)\n", p95);
  std::printf("  min / max                      %.1f / %.1f ms\n", percentile(k.ms, 0.0),
              percentile(k.ms, 1.0));
  std::printf(
      "%s: median %.1f ms (target <= 18), p95 %.1f ms (target <= 25), ratio to one frame's line time %.2f\n",
      what, median, p95, median / k.frameMs);
}

}  // namespace tarnset::bench
