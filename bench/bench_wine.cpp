// The Windows port under Wine, timed as bench_monitor_pass and bench_key_to_wire time the
// POSIX one: the paced virtual radio on a pseudo-terminal served from this process, a COM
// port of a Wine prefix of the Windows tree linked to it, and the Windows build of the
// program's objects (bench_wine_program.exe) driving it there. Wine's performance counter
// is the host's CLOCK_MONOTONIC_RAW: its moments are put on this process's clock with the
// difference of the two clocks, taken before and after the run.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <sstream>

#include "BenchSupport.h"

using namespace tarnset;
using namespace tarnset::bench;
namespace fs = std::filesystem;

namespace {

const fs::path kWindowsBuild = TARNSET_WINDOWS_BUILD;
const fs::path kWineRun = TARNSET_SOURCE_DIR "/scripts/wine-run";

double clockMs(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Seconds of CPU the waited-for children of this process have used.
double childCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Seconds of CPU used so far by the Wine server of the prefix (found among the processes
// by its name and its WINEPREFIX); -1 when there is none.
double wineServerCpuSeconds(const fs::path& prefix) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator("/proc", ec)) {
    const std::string pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string comm = e2e::readText(e.path() / "comm");
    if (comm.rfind("wineserver", 0) != 0) continue;
    const std::string environ = e2e::readText(e.path() / "environ");
    if (environ.find("WINEPREFIX=" + prefix.string() + '\0') == std::string::npos) continue;
    std::istringstream stat(e2e::readText(e.path() / "stat"));
    std::string field;
    double ticks = 0;
    // Fields 14 and 15 (user and system time), after the command in parentheses.
    for (int i = 1; i <= 15 && stat >> field; ++i) {
      if (i >= 14) ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return -1;
}

// CLOCK_MONOTONIC minus CLOCK_MONOTONIC_RAW now.
double rawToMonotonic() {
  const double raw0 = clockMs(CLOCK_MONOTONIC_RAW);
  const double mono = clockMs(CLOCK_MONOTONIC);
  const double raw1 = clockMs(CLOCK_MONOTONIC_RAW);
  return mono - (raw0 + raw1) / 2;
}

e2e::RunResult wineRun(const fs::path& prefix, const std::vector<std::string>& args, double timeoutS) {
  e2e::Command c;
  c.argv = {kWineRun.string()};
  c.argv.insert(c.argv.end(), args.begin(), args.end());
  c.env = e2e::environmentWith({"WINEPREFIX=" + prefix.string()}, {"DISPLAY"});
  return e2e::run(c, timeoutS);
}

// A host path as Wine names it on its drive Z:.
std::string onDriveZ(const fs::path& p) {
  std::string s = "Z:" + p.string();
  for (char& c : s) c = c == '/' ? '\\' : c;
  return s;
}

}  // namespace

int main() {
  constexpr int kPasses = 10;
  constexpr int kPresses = 100;
  const fs::path helper = kWindowsBuild / "bench" / "bench_wine_program.exe";
  if (!fs::exists(helper) || (e2e::findProgram("wine64").empty() && !fs::exists("/usr/lib/wine/wine64"))) {
    std::printf("Wine: skipped (no %s, or no Wine; make windows builds it)\n", helper.c_str());
    return 0;
  }
  const fs::path prefix = kWindowsBuild / "wine-bench";
  const e2e::RunResult started = wineRun(prefix, {"--start", "null"}, 300);
  if (started.exitCode != 0) {
    std::fprintf(stderr, "bench_wine: the Wine prefix did not start: %s\n", started.err.c_str());
    return 1;
  }
  struct Stop {
    fs::path prefix;
    ~Stop() { wineRun(prefix, {"--stop"}, 60); }
  } stop{prefix};

  RadioOnPty radio;
  if (!radio.ready()) {
    std::fprintf(stderr, "bench_wine: %s\n", radio.error().c_str());
    return 1;
  }
  const fs::path link = prefix / "dosdevices" / "com9";
  std::error_code ec;
  fs::remove(link, ec);
  fs::create_symlink(radio.device(), link);
  e2e::Scratch scratch;

  const double cpuBefore = childCpuSeconds();
  const double serverBefore = wineServerCpuSeconds(prefix);
  const double offsetBefore = rawToMonotonic();
  const e2e::RunResult r =
      wineRun(prefix,
              {helper.string(), "COM9", onDriveZ(scratch.path()), onDriveZ(TARNSET_SOURCE_DIR "/Const.ini"),
               std::to_string(kPasses), std::to_string(kPresses)},
              600);
  const double offsetAfter = rawToMonotonic();
  const double cpu = childCpuSeconds() - cpuBefore;
  const double server = wineServerCpuSeconds(prefix) - serverBefore;
  fs::remove(link, ec);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "bench_wine: the Windows program failed (exit %d): %s\n", r.exitCode, r.err.c_str());
    return 1;
  }
  const double offset = (offsetBefore + offsetAfter) / 2;

  std::vector<double> passMs, keys;
  std::vector<std::size_t> starts;
  const std::vector<e2e::LoggedFrame> frames = radio.frames();
  std::istringstream out(r.out);
  for (std::string line; std::getline(out, line);) {
    std::istringstream words(line);
    std::string what;
    double t0 = 0, t1 = 0;
    words >> what >> t0;
    t0 += offset;
    if (what == "PASS" && (words >> t1)) {
      passMs.push_back(t1 - (t0 - offset));
      std::size_t n = 0;
      while (n < frames.size() && frames[n].atMs < t0) ++n;
      starts.push_back(n);
    } else if (what == "KEY") {
      keys.push_back(t0);
    }
  }
  const PassWire wire = monitorPassesOnTheWire(frames, starts);
  const KeyLatency k = matchPressesToFrames(keys, frames);
  if (passMs.size() != kPasses || !wire.error.empty() || !k.error.empty() || k.ms.size() != kPresses) {
    std::fprintf(stderr, "bench_wine: %s%s\n%s", wire.error.c_str(), k.error.c_str(), r.out.c_str());
    return 1;
  }
  std::printf(
      "Key press to wire under Wine (program objects, headless event loop, Win32 port on COM9 linked to\n"
      "the paced radio's pty), %d presses (the clocks' difference moved %.3f ms during the run)\n",
      kPresses, offsetAfter - offsetBefore);
  reportKeyToWire("key to wire (Wine)", k);
  std::printf("CPU time for the whole run of %.1f s: the Windows program %.2f s, Wine's server %.2f s\n",
              r.seconds, cpu, server);
  std::printf("F5 monitor pass under Wine, %d passes\n", kPasses);
  reportMonitorPasses("monitor pass (Wine)", passMs, wire);
  return 0;
}
