#include "ProgramRun.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cmath>
#include <ctime>
#include <random>

#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"
#include "toolkit/Toolkit.h"

namespace tarnset::bench {

double nowMs() {
#ifdef _WIN32
  LARGE_INTEGER frequency{}, count{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
#endif
}

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p * static_cast<double>(samples.size()));
  const std::size_t i = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return samples[std::min(i, samples.size() - 1)];
}

HeadlessProgram::HeadlessProgram(const std::string& device, const std::string& folder,
                                 const std::string& constFile)
    : toolkit_(clock_), resolver_(device) {
  ProgramConfig config;
  config.optionsFile = folder + "/TarnsetADJ.rs";
  config.constFile = constFile;
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

void HeadlessProgram::runFor(double ms) {
  runUntil([] { return false; }, nowMs() + ms);
}

bool HeadlessProgram::connect(double timeoutMs) {
  clsIndOp_RigTarn& c = program_->controller();
  if (!toolkit_.click(program_->mainWindow().cmd00(0))) return false;
  const bool rested =
      runUntil([&] { return c.opState() == TarnState::CycleEnd || !toolkit_.messages().empty(); }, nowMs() + timeoutMs);
  return rested && toolkit_.messages().empty();
}

bool HeadlessProgram::monitorPass(double timeoutMs) {
  const clsIndOp_RigTarn& ctl = program_->controller();
  toolkit_.pressKey(program_->mainWindow().lboConsole(), tk::Key::F5);
  bool readingDa = false;
  const bool done = runUntil(
      [&] {
        const std::int16_t s = tarnset::number(ctl.opState());
        if (s >= 13 && s <= 21) readingDa = true;
        return readingDa && (s < 9 || s > 21);
      },
      nowMs() + timeoutMs);
  return done && toolkit_.messages().empty();
}

std::vector<double> pressPowerKeys(HeadlessProgram& p, int presses) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  tk::ListBox& list = p.program().mainWindow().lboConsole();
  std::vector<double> pressedAt;
  for (int i = 0; i < presses; ++i) {
    p.runFor(350 + phase(rng));
    pressedAt.push_back(nowMs());
    p.toolkit().pressKey(list, i % 2 == 0 ? tk::Key::Right : tk::Key::Left);
  }
  p.runFor(500);
  return pressedAt;
}

}  // namespace tarnset::bench
