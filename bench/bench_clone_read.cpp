// Clone read of the whole image: tarnset-cli against kv-tarn-sim (paced at the line rate)
// on a pseudo-terminal, both copied into a scratch folder. The wall time of the read is
// compared with the line-rate bound: every frame the program and the radio put on the
// wire during the read, at the baud in force, 10 bits per byte, as the simulator logged
// them.
#include <cstdio>
#include <map>

#include "BenchSupport.h"

using namespace tarnset;
using namespace tarnset::e2e;

namespace {

struct ReadFigures {
  double wallS = 0;
  double boundMs = 0;
  std::size_t records = 0;
  std::map<std::int32_t, std::pair<std::size_t, std::size_t>> perBaud;  // baud -> frames, bytes
  double firstMs = -1, streamStartMs = -1, lastEndMs = 0;
};

// One paced read of the whole image by tarnset-cli against a fresh simulator; extra
// arguments go to tarnset-cli. False (with the reason printed) when the read failed.
bool measureRead(const Scratch& scratch, const fs::path& cli, const std::string& name,
                 const std::vector<std::string>& extra, ReadFigures& f) {
  Simulator sim(scratch, TARNSET_SIM_BIN, {}, name);
  if (!sim.ready()) {
    std::fprintf(stderr, "bench_clone_read: the simulator did not start: %s\n", sim.errors().c_str());
    return false;
  }
  Command c;
  c.argv = {cli.string(), "read", "--port", sim.link()};
  c.argv.insert(c.argv.end(), extra.begin(), extra.end());
  c.cwd = scratch.path().string();
  c.env = scratch.environment();
  const RunResult r = run(c, 120.0);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "bench_clone_read: the read failed (exit %d): %s\n", r.exitCode, r.err.c_str());
    return false;
  }
  // The simulator writes a frame's line when it is complete; give it a moment after the exit.
  sim.waitForLog("BAUD 38400 -> 9600", 1, 2.0);
  f.wallS = r.seconds;
  for (const LoggedFrame& lf : parseFrames(sim.logText())) {
    f.boundMs += bench::lineMs(lf.bytes.size(), lf.baud);
    auto& [frames, bytes] = f.perBaud[lf.baud];
    ++frames;
    bytes += lf.bytes.size();
    const std::uint8_t command = lf.bytes.size() > 4 ? lf.bytes[4] : 0;
    if (command == 0xE4) ++f.records;
    // RX lines carry the time of the last byte, TX lines that of the first.
    const double startMs = lf.fromRadio ? lf.atMs : lf.atMs - bench::lineMs(lf.bytes.size(), lf.baud);
    const double endMs = lf.fromRadio ? lf.atMs + bench::lineMs(lf.bytes.size(), lf.baud) : lf.atMs;
    if (f.firstMs < 0) f.firstMs = startMs;
    if (command == 0xE2) f.streamStartMs = startMs;
    f.lastEndMs = std::max(f.lastEndMs, endMs);
  }
  return true;
}

}  // namespace

int main() {
  Scratch scratch;
  const fs::path cli = scratch.copyExecutable(TARNSET_CLI_BIN);
  ReadFigures plain, traced;
  if (!measureRead(scratch, cli, "radio", {}, plain)) return 1;
  if (!measureRead(scratch, cli, "radio-traced", {"--trace", (scratch / "trace.txt").string()}, traced))
    return 1;

  std::printf("Clone read of the whole image (tarnset-cli read, kv-tarn-sim paced, on a pty)\n");
  std::printf("  records received               %zu\n", plain.records);
  for (const auto& [baud, fb] : plain.perBaud) {
    std::printf("  frames at %5d baud             %zu frames, %zu bytes, %.1f ms on the wire\n", baud,
                fb.first, fb.second, bench::lineMs(fb.second, baud));
  }
  std::printf(
      "  line-rate bound                %.1f ms (frames only; the wake-up FE bursts are not framed\n"
      "                                 and not logged, so the bound leaves them out)\n",
      plain.boundMs);
  std::printf("  first byte to last byte        %.1f ms (simulator's clock)\n",
              plain.lastEndMs - plain.firstMs);
  std::printf("  of which the record stream     %.1f ms (E2 request to E5 end)\n",
              plain.lastEndMs - plain.streamStartMs);
  std::printf("  wall time of the read          %.1f ms (process start to exit)\n", plain.wallS * 1000.0);
  std::printf("  with --trace                   %.1f ms, ratio %.3f (trace of %.1f MB)\n",
              traced.wallS * 1000.0, traced.wallS * 1000.0 / traced.boundMs,
              static_cast<double>(fs::file_size(scratch / "trace.txt")) / 1e6);
  std::printf("clone read: wall %.2f s, line-rate bound %.2f s, ratio %.3f (target <= 1.02)\n", plain.wallS,
              plain.boundMs / 1000.0, plain.wallS * 1000.0 / plain.boundMs);
  return 0;
}
