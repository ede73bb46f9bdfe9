// The Windows side of bench_wine, run under Wine: the program's real objects (headless
// toolkit on a real event loop, the Win32 serial port) on a COM port of the Wine prefix
// that bench_wine has linked to its paced virtual radio. It connects, runs F5 passes and
// presses keys as bench_monitor_pass and bench_key_to_wire do, and prints their moments
// on its clock (the performance counter; under Wine the host's CLOCK_MONOTONIC_RAW), one
// per line, for bench_wine to set against the radio's frames:
//   PASS <key event> <13th answer taken>
//   KEY <key event>
//
//   bench_wine_program PORT FOLDER CONST_INI PASSES PRESSES
#include <cstdio>
#include <cstdlib>
#include <random>

#include "ProgramRun.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::bench;

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: bench_wine_program PORT FOLDER CONST_INI PASSES PRESSES\n");
    return 64;
  }
  const int passes = std::atoi(argv[4]);
  const int presses = std::atoi(argv[5]);
  HeadlessProgram p(argv[1], argv[2], argv[3]);
  if (!p.started() || !p.connect()) {
    std::fprintf(stderr, "bench_wine_program: could not connect on %s\n", argv[1]);
    return 1;
  }
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> phase(0.0, 50.0);
  for (int i = 0; i < passes; ++i) {
    p.runFor(500 + phase(rng));
    const double t0 = nowMs();
    if (!p.monitorPass()) {
      std::fprintf(stderr, "bench_wine_program: pass %d did not complete\n", i + 1);
      return 1;
    }
    std::printf("PASS %.3f %.3f\n", t0, nowMs());
  }
  p.toolkit().pressKey(p.program().mainWindow().lboConsole(), tk::Key::Down);  // to " Power(Hi)"
  for (const double t : pressPowerKeys(p, presses)) std::printf("KEY %.3f\n", t);
  if (!p.toolkit().messages().empty()) {
    std::fprintf(stderr, "bench_wine_program: %s\n", p.toolkit().messages().front().text.c_str());
    return 1;
  }
  return 0;
}
