// Key press to wire, window program: the program's real objects with the Qt toolkit on
// the offscreen platform, in this process, against the paced virtual radio on a
// pseudo-terminal served from this process (one clock for the key and the radio's log).
// The keys are real key events delivered to the console list's widget, so they take the
// window's key preview and the list's key handling as a typed key does.
#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
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

// Runs the Qt event loop for ms milliseconds.
void runFor(double ms) {
  QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, [] { QCoreApplication::exit(0); });
  QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kPresses = 100;
  e2e::Scratch scratch;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  RadioOnPty radio;
  if (!radio.ready()) {
    std::fprintf(stderr, "bench_key_to_wire_qt: %s\n", radio.error().c_str());
    return 1;
  }
  QtToolkit toolkit;
  MonotonicTickSource clock;
  PosixSerialPort port;
  OneDevice resolver(radio.device());
  ProgramConfig config;
  config.optionsFile = (scratch / "TarnsetADJ.rs").string();
  config.constFile = TARNSET_SOURCE_DIR "/Const.ini";
  Program program(toolkit, clock, port, resolver, config);
  if (program.startUp(nullptr) != 0) {
    std::fprintf(stderr, "bench_key_to_wire_qt: the program did not start\n");
    return 1;
  }
  frmMain& w = program.mainWindow();
  auto* connect = qobject_cast<QAbstractButton*>(QtToolkit::widgetOf(w.cmd00(0)));
  QWidget* list = QtToolkit::widgetOf(w.lboConsole());
  if (connect == nullptr || list == nullptr) {
    std::fprintf(stderr, "bench_key_to_wire_qt: no Connect button or console list\n");
    return 1;
  }
  connect->click();
  const double deadline = nowMs() + 60000;
  while (program.controller().opState() != TarnState::CycleEnd) {
    if (nowMs() > deadline) {
      std::fprintf(stderr, "bench_key_to_wire_qt: the program did not connect\n");
      return 1;
    }
    runFor(20);
  }
  w.lboConsole().setFocus();
  w.lboConsole().setListIndex(1);  // " Power(Hi)"
  const auto press = [&](std::int16_t key) {
    QKeyEvent down(QEvent::KeyPress, key == tk::Key::Right ? Qt::Key_Right : Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(list, &down);
  };
  const KeyLatency k = measureKeyToWire(radio, kPresses, press, runFor);
  if (!k.error.empty() || program.controller().opState() == TarnState::Idle) {
    std::fprintf(stderr, "bench_key_to_wire_qt: %s\n",
                 k.error.empty() ? "the connection ended" : k.error.c_str());
    return 1;
  }
  std::printf(
      "Key press to wire (program objects, Qt offscreen event loop, paced radio on a pty), %d presses\n",
      kPresses);
  std::printf(
      "  from the key event on the console list's widget to the last byte of the E8 frame at the radio\n");
  reportKeyToWire("key to wire (Qt)", k);
  return 0;
}
