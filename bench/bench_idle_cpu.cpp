// Idle cost of the window program: the program's real objects with the Qt toolkit on the
// offscreen platform, in this process, connected through a pseudo-terminal to kv-tarn-sim
// (a separate process, so that its work is not counted). "Connect" is clicked on the real
// button; once the first monitor pass and the sending of every item are over, the CPU
// time of this process (getrusage) is measured over 20 s of idling and scaled to a minute.
#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "BenchSupport.h"
#include "model/clsIndOp_RigTarn.h"
#include "platform/posix/PosixSerialPort.h"
#include "shell/frmMain.h"
#include "shell/start.h"
#include "toolkit/qt/QtToolkit.h"

using namespace tarnset;
using namespace tarnset::bench;

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds a process has used so far, from /proc (0 when unreadable).
double cpuSecondsOf(pid_t pid) {
  const std::string stat = e2e::readText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  std::string field;
  for (std::size_t i = close + 2; i <= stat.size(); ++i) {
    if (i == stat.size() || stat[i] == ' ') {
      fields.push_back(field);
      field.clear();
    } else {
      field += stat[i];
    }
  }
  // Fields after the name start with the state (field 3); utime and stime are 14 and 15.
  if (fields.size() < 13) return 0;
  return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs the Qt event loop for ms milliseconds.
void runFor(int ms) {
  QTimer::singleShot(ms, Qt::PreciseTimer, [] { QCoreApplication::exit(0); });
  QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kMeasureMs = 20000;
  e2e::Scratch scratch;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("XDG_RUNTIME_DIR", (scratch / "run").string().c_str());
  QApplication app(argc, argv);

  e2e::Simulator sim(scratch, TARNSET_SIM_BIN);
  if (!sim.ready()) {
    std::fprintf(stderr, "bench_idle_cpu: the simulator did not start: %s\n", sim.errors().c_str());
    return 1;
  }

  QtToolkit toolkit;
  MonotonicTickSource clock;
  PosixSerialPort port;
  OneDevice resolver(sim.link());
  ProgramConfig config;
  config.optionsFile = (scratch / "TarnsetADJ.rs").string();
  config.constFile = TARNSET_SOURCE_DIR "/Const.ini";
  Program program(toolkit, clock, port, resolver, config);
  if (program.startUp(nullptr) != 0) {
    std::fprintf(stderr, "bench_idle_cpu: the program did not start\n");
    return 1;
  }
  auto* connect = qobject_cast<QAbstractButton*>(QtToolkit::widgetOf(program.mainWindow().cmd00(0)));
  if (connect == nullptr) {
    std::fprintf(stderr, "bench_idle_cpu: no Connect button\n");
    return 1;
  }
  connect->click();

  // Connected and every item sent once (BPF T4, code 0F, is the last), then a settling second.
  const double deadline = nowMs() + 60000;
  while (sim.countInLog("E8 code 0F value") == 0) {
    if (nowMs() > deadline || program.controller().opState() == TarnState::Idle) {
      std::fprintf(stderr, "bench_idle_cpu: the program did not connect\n");
      return 1;
    }
    runFor(200);
  }
  runFor(1000);

  const double cpu0 = cpuSeconds(), sim0 = cpuSecondsOf(sim.process().pid()), wall0 = nowMs();
  runFor(kMeasureMs);
  const double cpu = cpuSeconds() - cpu0, simCpu = cpuSecondsOf(sim.process().pid()) - sim0;
  const double wall = (nowMs() - wall0) / 1000.0;
  const bool stillOpen = sim.logText().rfind("PORT closed") < sim.logText().rfind("PORT open");

  std::printf(
      "Idle cost of the window program (Qt offscreen, in-process, connected to kv-tarn-sim on a pty)\n");
  std::printf("  measured over %.1f s of idling, scaled to one minute\n", wall);
  std::printf("  port still open at the end       %s\n", stillOpen ? "yes" : "no");
  std::printf("  program CPU                      %.3f s per minute\n", cpu * 60.0 / wall);
  std::printf("  simulator CPU (separate process) %.3f s per minute\n", simCpu * 60.0 / wall);
  std::printf("idle cost: %.3f CPU s per minute, ratio of one core %.4f (target <= 0.003)\n",
              cpu * 60.0 / wall, cpu / wall);
  return 0;
}
