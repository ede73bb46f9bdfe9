// A key or a button acts at once: the tick it asks for runs as soon as its handler has
// returned, not on the next 50 ms timer tick. What goes to the radio stays the same.
#include <gtest/gtest.h>

#include <cmath>

#include "ProgramHarness.h"
#include "base/Wire.h"
#include "console/clsConsole.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"
#include "sim/TarnPhysics.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

constexpr std::int16_t kRowPowerHi = 1, kRowBalance = 4, kRowTxf = 14;

// The wire form of an E8 command without answer as the program sends it.
kvsim::Bytes e8Frame(int code, int value) {
  const int b = value & 0xFF;
  return {0xFE,
          0xFE,
          0xEE,
          0xEF,
          0xE8,
          0x26,
          0x51,
          0x01,
          0x00,
          static_cast<std::uint8_t>(code),
          wire::hexDigitChar(b >> 4),
          wire::hexDigitChar(b & 15),
          0xFD};
}

// The E8 commands that carry a value (every E8 but the monitor requests), as hex text.
std::vector<std::string> valueCommands(ProgramHarness& h) {
  std::vector<std::string> out;
  for (const std::string& c : h.takeE8Commands()) {
    if (c.substr(0, 2) != "03") out.push_back(c);
  }
  return out;
}

// A technician's session: connect, step two items with the arrow keys at a hand's pace,
// read the monitors, then the two-frequency TXF run to its end. Returns every
// value-carrying E8 command the radio received, in order.
std::vector<std::string> benchSession(bool runPostedWork) {
  HarnessOptions o;
  o.runPostedWork = runPostedWork;
  o.radio.temperatureC = 31.0;
  ProgramHarness h(o);
  EXPECT_TRUE(h.connect());
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  clsConsole& c = h.program().console();
  const auto press = [&](std::int16_t row, std::int16_t key, std::int16_t shift, std::int32_t thenMs) {
    list.setListIndex(row);
    h.toolkit().pressKey(list, key, shift);
    h.advance(thenMs);
  };
  for (int i = 0; i < 6; ++i) press(kRowPowerHi, tk::Key::Right, 0, 150 + 37 * i);
  press(kRowPowerHi, tk::Key::Left, tk::kShiftBit, 400);
  for (int i = 0; i < 4; ++i) press(kRowBalance, i % 2 ? tk::Key::Left : tk::Key::Right, 0, 260);
  h.toolkit().pressKey(tk::Key::F5);
  h.advance(1500);

  // TXF: each new setting is written into the table entries around the present
  // temperature, one entry per monitoring cycle; the technician reads the frequency
  // counter after each step, by which time they have gone out.
  press(kRowTxf, tk::Key::Enter, 0, 1500);
  const auto v1 =
      static_cast<std::int16_t>(std::lround(kvsim::TarnPhysics::idealSetting(h.radio().temperatureC())));
  while (c.Value(kRowTxf) != v1)
    press(kRowTxf, c.Value(kRowTxf) < v1 ? tk::Key::Right : tk::Key::Left, 0, 600);
  h.advance(800);
  press(kRowTxf, tk::Key::Enter, 0, 3000);
  for (int i = 0; i < 10; ++i) press(kRowTxf, tk::Key::Left, tk::kShiftBit, 600);
  h.advance(800);
  press(kRowTxf, tk::Key::Enter, 0, 6000);
  EXPECT_EQ(h.program().controller().enterStep(), 0) << "the TXF run ended";
  EXPECT_TRUE(h.toolkit().messages().empty());
  return valueCommands(h);
}

}  // namespace

TEST(Response, AnArrowKeySendsItsE8InTheSameEventWithoutWaitingForATick) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.advance(500);  // past the pause after the last item
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(kRowPowerHi);
  const std::int16_t v = h.program().console().Value(kRowPowerHi);
  const std::size_t before = h.port().sentLog().size();
  const std::int32_t at = h.nowMs();
  h.toolkit().pressKey(list, tk::Key::Right);
  EXPECT_EQ(h.port().sentLog().size(), before) << "nothing is sent inside the key handler";
  h.toolkit().runPosted();
  EXPECT_EQ(h.nowMs(), at);
  const kvsim::Bytes& log = h.port().sentLog();
  ASSERT_EQ(log.size(), before + 13);
  EXPECT_EQ(kvsim::Bytes(log.end() - 13, log.end()), e8Frame(0x05, v + 1));
}

TEST(Response, F5AndTheButtonsAlsoActAtOnce) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.advance(500);
  std::size_t before = h.port().sentLog().size();
  h.toolkit().pressKey(tk::Key::F5);
  h.toolkit().runPosted();
  EXPECT_GT(h.port().sentLog().size(), before) << "the first monitor request is on its way";

  // "Disp para" at once shows the listing, and again at once goes back.
  h.advance(3000);
  frmMain& w = h.program().mainWindow();
  h.toolkit().click(w.cmd00(2));
  h.toolkit().runPosted();
  EXPECT_TRUE(w.fra01(3).visible());
  h.toolkit().click(w.cmd00(2));
  h.toolkit().runPosted();
  EXPECT_TRUE(w.fra01(1).visible());
}

TEST(Response, NoTickRunsWhileAMessageBoxIsOpen) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.advance(500);
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(kRowPowerHi);
  bool looked = false;
  tk::Label& label = h.program().mainWindow().lblComBusy();
  h.toolkit().setMessageBoxHook([&](const HeadlessToolkit::Message&) {
    looked = true;
    label.setCaption("marked");  // every tick writes the port label
    h.toolkit().pressKey(list, tk::Key::Right);
    h.toolkit().pressKey(tk::Key::F5);
    h.program().com().tickSoon();
    h.toolkit().runPosted();
    EXPECT_EQ(label.caption(), "marked");
  });
  h.port().vanish();
  h.advance(100);
  EXPECT_TRUE(looked);
  EXPECT_EQ(h.toolkit().messages().size(), 1u);
}

// The values that reach the radio, and their order, do not depend on when the tick runs.
TEST(Response, TheValueCommandsOfASessionAreTheSameAsWithTimerTicksOnly) {
  const std::vector<std::string> onTimer = benchSession(false);
  const std::vector<std::string> atOnce = benchSession(true);
  EXPECT_GT(onTimer.size(), 60u) << "the session sends items, TXF entries and the table";
  ASSERT_EQ(atOnce.size(), onTimer.size());
  for (std::size_t i = 0; i < atOnce.size(); ++i) EXPECT_EQ(atOnce[i], onTimer[i]) << "command " << i;
}
