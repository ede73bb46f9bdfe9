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

int main() {
  Scratch scratch;
  const fs::path cli = scratch.copyExecutable(TARNSET_CLI_BIN);
  Simulator sim(scratch, TARNSET_SIM_BIN);
  if (!sim.ready()) {
    std::fprintf(stderr, "bench_clone_read: the simulator did not start: %s\n", sim.errors().c_str());
    return 1;
  }

  Command c;
  c.argv = {cli.string(), "read", "--port", sim.link()};
  c.cwd = scratch.path().string();
  c.env = scratch.environment();
  const RunResult r = run(c, 120.0);
  if (r.exitCode != 0) {
    std::fprintf(stderr, "bench_clone_read: the read failed (exit %d): %s\n", r.exitCode, r.err.c_str());
    return 1;
  }
  // The simulator writes a frame's line when it is complete; give it a moment after the exit.
  sim.waitForLog("BAUD 38400 -> 9600", 1, 2.0);

  double boundMs = 0;
  std::map<std::int32_t, std::pair<std::size_t, std::size_t>> perBaud;  // baud -> frames, bytes
  std::size_t records = 0;
  double firstMs = -1, streamStartMs = -1, lastEndMs = 0;
  for (const LoggedFrame& f : parseFrames(sim.logText())) {
    boundMs += bench::lineMs(f.bytes.size(), f.baud);
    auto& [frames, bytes] = perBaud[f.baud];
    ++frames;
    bytes += f.bytes.size();
    const std::uint8_t command = f.bytes.size() > 4 ? f.bytes[4] : 0;
    if (command == 0xE4) ++records;
    // RX lines carry the time of the last byte, TX lines that of the first.
    const double startMs = f.fromRadio ? f.atMs : f.atMs - bench::lineMs(f.bytes.size(), f.baud);
    const double endMs = f.fromRadio ? f.atMs + bench::lineMs(f.bytes.size(), f.baud) : f.atMs;
    if (firstMs < 0) firstMs = startMs;
    if (command == 0xE2) streamStartMs = startMs;
    lastEndMs = std::max(lastEndMs, endMs);
  }

  std::printf("Clone read of the whole image (tarnset-cli read, kv-tarn-sim paced, on a pty)\n");
  std::printf("  records received               %zu\n", records);
  for (const auto& [baud, fb] : perBaud) {
    std::printf("  frames at %5d baud             %zu frames, %zu bytes, %.1f ms on the wire\n", baud,
                fb.first, fb.second, bench::lineMs(fb.second, baud));
  }
  std::printf(
      "  line-rate bound                %.1f ms (frames only; the wake-up FE bursts are not framed\n"
      "                                 and not logged, so the bound leaves them out)\n",
      boundMs);
  std::printf("  first byte to last byte        %.1f ms (simulator's clock)\n", lastEndMs - firstMs);
  std::printf("  of which the record stream     %.1f ms (E2 request to E5 end)\n", lastEndMs - streamStartMs);
  std::printf("  wall time of the read          %.1f ms (process start to exit)\n", r.seconds * 1000.0);
  std::printf("clone read: wall %.2f s, line-rate bound %.2f s, ratio %.3f (target <= 1.02)\n", r.seconds,
              boundMs / 1000.0, r.seconds * 1000.0 / boundMs);
  return 0;
}
