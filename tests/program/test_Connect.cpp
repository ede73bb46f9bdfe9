// Connecting to the radio, live adjustment, monitors, channels and the parameter display.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "ProgramHarness.h"
#include "base/Common.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"
#include "sim/TarnImage.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

// The E8 data string of a command: code, then the value's hex digits as ASCII codes.
std::string e8(int code, int value) {
  return ByteToHex(static_cast<std::int16_t>(code)) + ByteToAsciiHex(static_cast<std::int16_t>(value));
}

std::int16_t signedByte(std::uint8_t b) {
  return static_cast<std::int16_t>(b >= 128 ? b - 256 : b);
}

}  // namespace

TEST(Connect, TheFirstConnectionReadsMonitorsAndSendsEveryItemOnce) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  const kvsim::Bytes& img = h.radio().image();
  const std::int16_t ch0 = h.program().controller().chList(0);
  const std::vector<std::string> expected = {
      "013039",                                                           // the switch to 38400 baud
      "033030",          "033033",          "033035",          "033034",  // the four A/D lines
      "023031",                                                           // adjustment mode
      "033030",          "033033",          "033035",          "033034",  // the first monitor pass ...
      "033130",          "033131",          "033132",          "033133",
      "033043",          "033044",          "033045",          "033042",
      "033046",          e8(0x00, ch0 + 1),  // ... then every item once
      e8(0x05, img[79]), e8(0x06, img[78]), e8(0x07, img[77]), e8(0x0A, img[74]),
      e8(0x08, img[72]), e8(0x09, img[73]), e8(0x11, img[76]), e8(0x04, img[274]),
      e8(0x0C, img[68]), e8(0x0D, img[69]), e8(0x0E, img[70]), e8(0x0F, img[71])};
  EXPECT_EQ(h.takeE8Commands(), expected);

  // The whole image arrived, and every item shows the radio's value.
  EXPECT_EQ(h.program().radio().eepImage().ReadBlock(0, 15968), h.radio().image());
  clsConsole& c = h.program().console();
  EXPECT_EQ(c.Value(1), img[79]);
  EXPECT_EQ(c.Value(8), img[274]);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(c.Value(static_cast<std::int16_t>(10 + k)), signedByte(img[68 + k]));
  EXPECT_EQ(h.program().mainWindow().fra01(1).visible(), true);
  EXPECT_EQ(h.program().controller().modelId(), (Bytes{0x26, 0x51, 0x01, 0x00}));
  EXPECT_TRUE(h.toolkit().messages().empty());
}

TEST(Connect, TheProgressLineFillsWhileTheImageArrives) {
  ProgramHarness h;
  frmMain& w = h.program().mainWindow();
  tk::Label& progress = h.program().mainWindow().lblProgress();
  EXPECT_EQ(progress.caption(), std::string(32, ' '));
  h.toolkit().click(w.cmd00(0));
  std::set<std::size_t> seen;
  h.runUntil(
      [&] {
        const std::string s = progress.caption();
        if (s.find('.') != std::string::npos || s.find('o') != std::string::npos) {
          EXPECT_EQ(s.size(), 32u);
          EXPECT_EQ(s.find_first_not_of('o'), s.find('.')) << s;
          seen.insert(s.find('.') == std::string::npos ? 32 : s.find('.'));
        }
        return h.program().controller().opState() > TarnState::CloneRead;
      },
      30000);
  EXPECT_GT(seen.size(), 20u) << "the line grows in many steps";
  EXPECT_TRUE(seen.count(0));
  EXPECT_EQ(*seen.rbegin(), 32u);
}

TEST(LiveAdjustment, ArrowKeysOnAnItemReachTheRadioAtOnce) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  clsConsole& c = h.program().console();
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  h.takeE8Commands();
  h.toolkit().pressKey(list, tk::Key::Down);  // " Power(Hi)"
  const std::int16_t v = c.Value(1);
  h.toolkit().pressKey(list, tk::Key::Right);
  h.advance(300);
  EXPECT_EQ(h.takeE8Commands(), std::vector<std::string>{e8(0x05, v + 1)});
  EXPECT_EQ(h.radio().image()[79], v + 1);
  EXPECT_EQ(h.program().radio().eepImage().ReadByte(79), v + 1);
  h.toolkit().pressKey(list, tk::Key::Right, tk::kShiftBit);
  h.advance(300);
  EXPECT_EQ(h.takeE8Commands(), std::vector<std::string>{e8(0x05, v + 6)});
  EXPECT_EQ(h.radio().image()[79], v + 6);
  const std::string digits = std::to_string(v + 6);
  EXPECT_EQ(list.itemText(1).substr(0, 15), " Power(Hi):" + std::string(4 - digits.size(), ' ') + digits);
}

TEST(LiveAdjustment, ThePauseAfterAnItemHoldsTheWholeStateMachine) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(1);
  h.toolkit().pressKey(list, tk::Key::Right);
  list.setListIndex(2);
  h.toolkit().pressKey(list, tk::Key::Right);
  list.setListIndex(3);
  h.toolkit().pressKey(list, tk::Key::Left);
  const std::size_t before = h.radio().frames().size();
  h.advance(1500);
  std::vector<kvsim::FrameRecord> sent;
  for (std::size_t i = before; i < h.radio().frames().size(); ++i) {
    if (!h.radio().frames()[i].fromRadio) sent.push_back(h.radio().frames()[i]);
  }
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0].bytes[9], 0x05);
  EXPECT_EQ(sent[1].bytes[9], 0x06);
  EXPECT_EQ(sent[2].bytes[9], 0x07);
  // Each frame arrives 13 bytes (13.5 ms) after it starts; the pause runs from the tick
  // after the send, so the next one starts at least 200 ms after the previous one.
  EXPECT_GE(sent[1].atUs - sent[0].atUs, 200000);
  EXPECT_GE(sent[2].atUs - sent[1].atUs, 200000);
}

TEST(LiveAdjustment, SteppingTheChannelSelectsItOnTheRadioAndRedrawsTheLine) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  clsIndOp_RigTarn& ctl = h.program().controller();
  ASSERT_GE(ctl.channelCount(), 2);
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(0);
  h.takeE8Commands();
  h.toolkit().pressKey(list, tk::Key::Right);
  h.advance(300);
  const std::int16_t slot = ctl.chList(1);
  EXPECT_EQ(h.takeE8Commands(), std::vector<std::string>{e8(0x00, slot + 1)});
  EXPECT_EQ(h.radio().selectedSlot(), slot);
  EXPECT_EQ(ctl.selChannel(), slot);
  const std::string name = (slot + 1 < 10 ? "0" : "") + std::to_string(slot + 1);
  EXPECT_EQ(list.itemText(0).substr(0, 20), "    CH No.: " + name + " RX = ");
  // Left from the first channel wraps to the last one.
  list.setListIndex(0);
  h.toolkit().pressKey(list, tk::Key::Left);
  h.toolkit().pressKey(list, tk::Key::Left);
  h.advance(300);
  const std::int16_t last = ctl.chList(static_cast<std::int16_t>(ctl.channelCount() - 1));
  EXPECT_EQ(h.takeE8Commands(), std::vector<std::string>{e8(0x00, last + 1)});
}

TEST(LiveAdjustment, TheChannelLineShowsFrequenciesInhibitsPowerAndMode) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  clsIndOp_RigTarn& ctl = h.program().controller();
  clsConsole& c = h.program().console();
  const kvsim::Bytes& img = h.radio().image();
  int checked = 0;
  for (std::int16_t i = 0; i < ctl.channelCount(); ++i) {
    const kvsim::ChannelInfo info = kvsim::channel(img, ctl.chList(i));
    c.setValue(0, i);
    const std::string line = h.program().mainWindow().lboConsole().itemText(0);
    char rx[32], tx[32];
    std::snprintf(rx, sizeof rx, "%.6f", info.rxHz ? *info.rxHz / 1e6 : 0.0);
    std::snprintf(tx, sizeof tx, "%.6f", info.txHz ? *info.txHz / 1e6 : 0.0);
    const std::string rxText = info.rxHz ? rx : "Inhibit   ";
    const std::string txText =
        !info.txHz ? "Inhibit   " : (info.rxHz && *info.rxHz == *info.txHz ? "  <-      " : tx);
    const std::string expect = " RX = " + rxText + ", TX = " + txText +
                               "  RF Power: " + (info.lowPower ? "Low1" : "High") +
                               "  Mode:" + (info.narrow ? " Narrow" : " Wide");
    EXPECT_EQ(line.substr(line.find(" RX = ")), expect) << line;
    ++checked;
  }
  EXPECT_GE(checked, 10);
}

TEST(Monitors, ReloadReadsEveryLineAgainAndShowsChangedReadings) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  EXPECT_EQ(w.lbo01(0).itemText(1).substr(0, 6), "VIN  :");
  EXPECT_NE(w.lbo01(0).itemText(2).find("'C"), std::string::npos);
  h.radio().setTemperatureC(45.0);
  const int raw = h.radio().temperatureRaw();
  w.cmd00(1).setFocus();
  h.toolkit().click(w.cmd00(1));
  h.advance(3000);
  const std::string line = w.lbo01(0).itemText(2);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "TEMPS:%3d:%02Xh:", raw, raw);
  EXPECT_EQ(line.substr(0, 14), prefix);
  const double shown = std::stod(line.substr(15));
  EXPECT_NEAR(shown, 45.0, 0.6);
}

TEST(DispPara, TheListingReplacesTheConsoleUntilTheButtonIsPressedAgain) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  h.toolkit().click(w.cmd00(2));
  h.advance(200);
  EXPECT_TRUE(h.program().controller().RigTarnProp_DispPara());
  EXPECT_TRUE(w.fra01(3).visible());
  EXPECT_FALSE(w.fra01(1).visible());
  EXPECT_FALSE(w.fra01(0).visible());
  EXPECT_FALSE(w.cmd00(0).enabled());
  EXPECT_FALSE(w.cmd00(1).enabled());
  EXPECT_TRUE(w.cmd00(2).enabled());
  EXPECT_TRUE(w.cmd00(2).isDefault());
  EXPECT_TRUE(w.cmd00(2).isCancel());
  const std::string text = w.txtDispPara().text();
  EXPECT_EQ(text, h.program().controller().memoryMap().RigTarnEep_ParaText());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 106);
  EXPECT_NE(text.find("              Base Frequency:  450.000MHz\r\n"), std::string::npos);
  // Reload does nothing here; Escape works the cancel button and brings the console back.
  h.toolkit().click(w.cmd00(1));
  h.toolkit().pressKey(tk::Key::Escape);
  h.advance(200);
  EXPECT_TRUE(h.program().controller().RigTarnProp_EditEnabled());
  EXPECT_TRUE(w.fra01(1).visible());
  EXPECT_TRUE(w.cmd00(0).enabled());
}

TEST(Failures, AnInvalidMonitorAnswerEndsTheConnectionWithOneMessage) {
  for (const char* fault : {"monitor-length", "monitor-identity", "monitor-nonhex"}) {
    HarnessOptions o;
    o.radio.faults.push_back(*kvsim::parseFault(fault));
    ProgramHarness h(o);
    h.toolkit().click(h.program().mainWindow().cmd00(0));
    h.advance(20000);
    ASSERT_EQ(h.toolkit().messages().size(), 1u) << fault;
    EXPECT_EQ(h.toolkit().messages()[0].text,
              "Communication failed.\r\n\r\nCheck the following:\r\n- Cloning cable connections.\r\n"
              "- Transceiver power is ON.")
        << fault;
    EXPECT_EQ(h.program().controller().opState(), TarnState::Idle);
    EXPECT_TRUE(h.program().mainWindow().fra01(0).visible());
    EXPECT_FALSE(h.program().com().comOpen());
  }
}

TEST(Failures, ACloneErrorResetsTheConsoleToItsStartPanel) {
  HarnessOptions o;
  o.radio.faults.push_back(*kvsim::parseFault("silence-after=500"));
  ProgramHarness h(o);
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(20000);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text.substr(0, 27), "No answer from transceiver.");
  EXPECT_EQ(h.program().controller().opState(), TarnState::Idle);
  EXPECT_TRUE(h.program().mainWindow().fra01(0).visible());
  EXPECT_FALSE(h.program().mainWindow().cmd00(1).enabled());
  EXPECT_FALSE(h.program().com().comOpen());
  EXPECT_EQ(h.program().mainWindow().lbo01(0).itemText(1), "----");
}

TEST(Channels, AnImageWithoutChannelsGivesAOneEntryList) {
  HarnessOptions o;
  kvsim::Bytes img = kvsim::defaultImage();
  img[1027] = 0;  // no channel slots
  o.radio.image = img;
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  clsIndOp_RigTarn& ctl = h.program().controller();
  EXPECT_EQ(ctl.channelCount(), 1);
  EXPECT_EQ(ctl.chList(0), 0);
  EXPECT_EQ(h.program().console().Max(0), 0);
}

TEST(Channels, ASlotCountAbove40IsCappedAndUnmarkedEntriesAreSkipped) {
  HarnessOptions o;
  kvsim::Bytes img = kvsim::defaultImage();
  const int w1 = img[1024] * 256 + img[1025];
  img[1027] = 255;
  img[static_cast<std::size_t>(w1 + 513)] = 0;  // slot 0 loses its entry mark
  o.radio.image = img;
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  clsIndOp_RigTarn& ctl = h.program().controller();
  EXPECT_LE(ctl.channelCount(), 40);
  for (std::int16_t i = 0; i < ctl.channelCount(); ++i) EXPECT_NE(ctl.chList(i), 0);
}
