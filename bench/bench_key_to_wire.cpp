// Key press to wire, headless: the program's real objects (headless toolkit on a real
// event loop, monotonic clock, the termios port) against the paced virtual radio on a
// pseudo-terminal, served from this process so that the moment a frame's last byte
// reaches the radio is known on the same clock.
#include <cstdio>

#include "BenchSupport.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::bench;

int main() {
  constexpr int kPresses = 100;
  e2e::Scratch scratch;
  RadioOnPty radio;
  if (!radio.ready()) {
    std::fprintf(stderr, "bench_key_to_wire: %s\n", radio.error().c_str());
    return 1;
  }
  HeadlessProgram p(radio.device(), scratch.path().string(), TARNSET_SOURCE_DIR "/Const.ini");
  if (!p.started() || !p.connect()) {
    std::fprintf(stderr, "bench_key_to_wire: could not connect\n");
    return 1;
  }
  p.toolkit().pressKey(p.program().mainWindow().lboConsole(),
                       tk::Key::Down);  // from "CH No." to " Power(Hi)"
  const std::vector<double> pressedAt = pressPowerKeys(p, kPresses);
  const KeyLatency k = matchPressesToFrames(pressedAt, radio.frames());
  if (!k.error.empty() || !p.toolkit().messages().empty()) {
    std::fprintf(stderr, "bench_key_to_wire: %s\n",
                 k.error.empty() ? p.toolkit().messages().front().text.c_str() : k.error.c_str());
    return 1;
  }
  std::printf("Key press to wire (program objects, headless event loop, paced radio on a pty), %d presses\n",
              kPresses);
  std::printf("  from the key event on the console list to the last byte of the E8 frame at the radio\n");
  reportKeyToWire("key to wire (headless)", k);
  return 0;
}
