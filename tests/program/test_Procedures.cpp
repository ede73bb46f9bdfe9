// The assisted procedures driven as a technician does it (Enter, arrow keys, Enter
// again) against the in-process virtual radio: TXF table, RSSI points, CAL points and
// band-pass filter sweeps.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"
#include "sim/TarnImage.h"
#include "sim/TarnPhysics.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

constexpr std::int16_t kRowBpfAll = 9, kRowBpfT1 = 10, kRowTxf = 14, kRowRssi = 15, kRowCal = 16;

// Coefficients of the test's constants file (ppm at each temperature border).
const float kCoef[21] = {-16.3f, -12.5f, -7.4f, -4.4f, -2.4f, -1.0f, 0.6f,  1.4f,  1.6f,  1.4f, 0.9f,
                         0.1f,   -1.0f,  -2.3f, -3.8f, -5.5f, -6.2f, -6.6f, -5.8f, -1.2f, 18.4f};
const int kBorder[21] = {0,   16,  24,  32,  40,  48,  64,  80,  96,  112, 128,
                         144, 160, 176, 192, 208, 216, 224, 232, 240, 255};

std::string testConstFile() {
  std::string s = "  Tarnset ADJ Rev.1.2  \r\n";
  for (float c : kCoef) s += std::to_string(c) + " ppm\r\n";
  return s + "extra line\r\n";
}

struct Tech {
  ProgramHarness& h;
  tk::ListBox& list() { return h.program().mainWindow().lboConsole(); }
  clsConsole& console() { return h.program().console(); }
  clsIndOp_RigTarn& ctl() { return h.program().controller(); }
  std::string line(std::int16_t row) { return list().itemText(row); }
  void enter(std::int16_t row, std::int32_t settle = 400) {
    list().setListIndex(row);
    h.toolkit().pressKey(list(), tk::Key::Enter);
    h.advance(settle);
  }
  // Steps the row's value to target with the arrow keys, letting the radio follow.
  void stepTo(std::int16_t row, std::int16_t target) {
    list().setListIndex(row);
    while (console().Value(row) != target) {
      const int diff = target - console().Value(row);
      const bool big = std::abs(diff) >= 5;
      h.toolkit().pressKey(list(), diff > 0 ? tk::Key::Right : tk::Key::Left, big ? tk::kShiftBit : 0);
      h.advance(150);
    }
    h.advance(800);
  }
};

// The E8 commands the radio received since the last call, as (code, value) pairs,
// without the monitor requests (code 03).
std::vector<std::pair<int, int>> decodedE8(ProgramHarness& h) {
  std::vector<std::pair<int, int>> out;
  for (const std::string& c : h.takeE8Commands()) {
    const int code = std::stoi(c.substr(0, 2), nullptr, 16);
    if (code == 0x03) continue;
    const std::string digits = {static_cast<char>(std::stoi(c.substr(2, 2), nullptr, 16)),
                                static_cast<char>(std::stoi(c.substr(4, 2), nullptr, 16))};
    out.emplace_back(code, std::stoi(digits, nullptr, 16));
  }
  return out;
}

int segmentOf(int raw) {
  for (int i = 0; i <= 18; ++i) {
    if (raw < kBorder[i + 1]) return i;
  }
  return 19;
}

// The 40 table entries for first and second settings v1 and v2 at raw temperature t,
// worked out here from the coefficients alone.
std::array<std::uint8_t, 40> expectedTable(int v1, int v2, int t) {
  float table[21], slope[20];
  const float d = static_cast<float>(v2 - v1) / 10.0f;
  for (int i = 0; i <= 20; ++i) table[i] = static_cast<float>(v1) - d * kCoef[i];
  for (int i = 0; i < 20; ++i)
    slope[i] = (table[i + 1] - table[i]) / static_cast<float>(kBorder[i + 1] - kBorder[i]) * 32.0f;
  const int s = segmentOf(t);
  const double atTemp =
      std::floor(table[s] + 0.5) + std::nearbyint((t - kBorder[s]) * static_cast<double>(slope[s])) / 32.0;
  const double offset = v1 - std::floor(atTemp);
  std::array<std::uint8_t, 40> e{};
  for (int i = 0; i < 20; ++i) {
    const double value = std::clamp(std::floor(table[i] + 0.5) + offset, 0.0, 255.0);
    const double sl = std::clamp(std::nearbyint(static_cast<double>(slope[i])), -128.0, 127.0);
    e[2 * i + 1] = static_cast<std::uint8_t>(value);
    e[2 * i] = static_cast<std::uint8_t>(static_cast<int>(sl) & 0xFF);
  }
  return e;
}

HarnessOptions atTemperature(double celsius) {
  HarnessOptions o;
  o.constFile = testConstFile();
  o.radio.temperatureC = celsius;
  return o;
}

}  // namespace

TEST(Txf, TwoConfirmedFrequenciesGiveTheWholeCompensationTable) {
  ProgramHarness h(atTemperature(31.0));
  ASSERT_EQ(h.startResult(), 0);
  EXPECT_FLOAT_EQ(h.program().controller().txfCoef(3), -4.4f) << "coefficients read from the file";
  ASSERT_TRUE(h.connect());
  Tech t{h};
  EXPECT_EQ(t.line(kRowTxf), "       TXF: [Enter] to Start");
  const int raw = h.radio().temperatureRaw();
  const int s = segmentOf(raw);
  decodedE8(h);

  // First frequency: the setting starts from the stored value of the present segment.
  t.enter(kRowTxf, 1500);
  EXPECT_EQ(t.ctl().enterStep() >= 1 && t.ctl().enterStep() <= 5, true);
  EXPECT_EQ(t.console().Value(kRowTxf), h.radio().image()[217 + 2 * s]);
  const std::string first = t.line(kRowTxf);
  EXPECT_EQ(first.substr(0, 28), "       TXF: 1st TX Freq = 45") << first;
  EXPECT_NE(first.find("MHz, Setting = "), std::string::npos);
  // The entries around the segment carry the setting (odd) and a flat slope (even).
  auto sent = decodedE8(h);
  ASSERT_EQ(sent.size(), static_cast<std::size_t>(std::min(2 * s + 3, 39) - std::max(2 * s - 2, 0) + 1));
  EXPECT_EQ(sent.front().first, 0x14 + std::max(2 * s - 2, 0));

  // The technician brings the frequency error to zero and confirms.
  const auto v1 =
      static_cast<std::int16_t>(std::lround(kvsim::TarnPhysics::idealSetting(h.radio().temperatureC())));
  t.stepTo(kRowTxf, v1);
  EXPECT_NEAR(h.radio().transmitter().errorPpm, 0.0, 0.2);
  h.advance(2000);
  decodedE8(h);
  h.advance(2000);
  EXPECT_TRUE(decodedE8(h).empty()) << "nothing is written while nothing changes";
  t.enter(kRowTxf, 3000);

  // Second frequency, 10 ppm higher: the setting starts 60 above the first.
  EXPECT_NE(t.line(kRowTxf).find("2nd TX Freq = "), std::string::npos) << t.line(kRowTxf);
  EXPECT_EQ(t.console().Value(kRowTxf), v1 + 60);
  const auto v2 = static_cast<std::int16_t>(v1 + 25);  // the radio pulls 0.4 ppm per step
  t.stepTo(kRowTxf, v2);
  EXPECT_NEAR(h.radio().transmitter().errorPpm, 10.0, 0.2);
  decodedE8(h);
  const int beeps = h.toolkit().beeps();
  t.enter(kRowTxf, 6000);

  // The table went out as 40 entries in order and is in both images.
  const auto expected = expectedTable(v1, v2, raw);
  sent = decodedE8(h);
  ASSERT_GE(sent.size(), 40u);
  sent.erase(sent.begin(), sent.end() - 40);
  for (int k = 0; k < 40; ++k) {
    EXPECT_EQ(sent[static_cast<std::size_t>(k)].first, 0x14 + k);
    EXPECT_EQ(sent[static_cast<std::size_t>(k)].second, expected[static_cast<std::size_t>(k)])
        << "entry " << k;
    EXPECT_EQ(h.radio().image()[216 + static_cast<std::size_t>(k)], expected[static_cast<std::size_t>(k)]);
    EXPECT_EQ(h.program().radio().eepImage().ReadByte(216 + k), expected[static_cast<std::size_t>(k)]);
  }
  EXPECT_EQ(h.toolkit().beeps(), beeps + 1);
  EXPECT_EQ(t.ctl().enterStep(), 0);
  EXPECT_EQ(t.line(kRowTxf), "       TXF: [Enter] to Start");
  // At the present temperature the new table keeps the frequency right.
  EXPECT_NEAR(h.radio().transmitter().errorPpm, 0.0, 0.3);
}

// A curve that would push entries past their bytes is not written clipped: the procedure
// ends before the table, and says why.
TEST(Txf, ATableThatWouldBeClippedIsNotWrittenAndTheProcedureSaysWhy) {
  HarnessOptions o = atTemperature(31.0);
  o.constFile = "Tarnset ADJ Rev.1.2\r\n500\r\n";  // C(0) = 500 ppm: far beyond any oscillator
  for (int i = 1; i <= 20; ++i) o.constFile += std::to_string(kCoef[i]) + "\r\n";
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  Tech t{h};
  const kvsim::Bytes before = h.radio().image();
  t.enter(kRowTxf, 1500);
  const auto v1 =
      static_cast<std::int16_t>(std::lround(kvsim::TarnPhysics::idealSetting(h.radio().temperatureC())));
  t.stepTo(kRowTxf, v1);
  t.enter(kRowTxf, 3000);
  t.stepTo(kRowTxf, static_cast<std::int16_t>(v1 + 25));
  const kvsim::Bytes atConfirm = h.radio().image();
  decodedE8(h);
  t.enter(kRowTxf, 6000);

  for (const auto& [code, value] : decodedE8(h)) {
    EXPECT_FALSE(code >= 0x14 && code <= 0x3B) << "no table entry after the confirmation: " << code;
  }
  EXPECT_TRUE(std::equal(atConfirm.begin() + 216, atConfirm.begin() + 256, h.radio().image().begin() + 216));
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text,
            "The TXF table was not written: it would leave the range of its entries.");
  EXPECT_NE(h.toolkit().messages()[0].details.find("Entry 0 (REF Slant 0) would be "), std::string::npos)
      << h.toolkit().messages()[0].details;
  EXPECT_NE(h.toolkit().messages()[0].details.find("Settings: " + std::to_string(v1) +
                                                   " at the 1st TX frequency, " + std::to_string(v1 + 25) +
                                                   " at the 2nd."),
            std::string::npos);
  EXPECT_EQ(t.ctl().enterStep(), 0);
  EXPECT_EQ(t.line(kRowTxf), "       TXF: [Enter] to Start");
  EXPECT_EQ(t.ctl().opState(), TarnState::CycleEnd) << "still connected";
  (void)before;
}

TEST(Txf, TheSegmentEdgesWriteTheFirstOrTheLastFourEntries) {
  for (double celsius : {-45.0, 95.0}) {
    ProgramHarness h(atTemperature(celsius));
    ASSERT_TRUE(h.connect());
    Tech t{h};
    const int raw = h.radio().temperatureRaw();
    decodedE8(h);
    t.enter(kRowTxf, 1500);
    const auto sent = decodedE8(h);
    ASSERT_EQ(sent.size(), 4u) << celsius << " C, raw " << raw;
    const int first = celsius < 0 ? 0 : 36;
    EXPECT_LT(raw, celsius < 0 ? 16 : 256);
    EXPECT_GE(raw, celsius < 0 ? 0 : 240);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(sent[static_cast<std::size_t>(k)].first, 0x14 + first + k);
  }
}

TEST(Rssi, TwoConfirmationsStoreTheSignalLevelsAndAThirdIsNotNeeded) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  t.enter(kRowRssi);
  EXPECT_EQ(t.line(kRowRssi), "      RSSI: L2 Level (+23dBu) ");
  h.radio().setSignalLevelDbu(23.0);
  const int high = h.radio().monitorReading(4);
  decodedE8(h);
  t.enter(kRowRssi, 1000);
  EXPECT_EQ(t.line(kRowRssi), "      RSSI: L0 Level (-7dBu) ");
  auto sent = decodedE8(h);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), std::make_pair(0x13, high));
  EXPECT_EQ(h.radio().image()[87], high);
  h.radio().setSignalLevelDbu(-7.0);
  const int low = h.radio().monitorReading(4);
  EXPECT_LT(low, high);
  const int beeps = h.toolkit().beeps();
  t.enter(kRowRssi, 1000);
  sent = decodedE8(h);
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), std::make_pair(0x12, low));
  EXPECT_EQ(h.radio().image()[86], low);
  EXPECT_EQ(h.program().radio().eepImage().ReadByte(86), low);
  EXPECT_EQ(h.toolkit().beeps(), beeps + 1);
  EXPECT_EQ(t.line(kRowRssi), "      RSSI: [Enter] to Start");
  EXPECT_EQ(t.ctl().enterStep(), 0);
}

TEST(Cal, WideThenNarrowThenTheEnd) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  t.enter(kRowCal);
  EXPECT_EQ(t.line(kRowCal), "       CAL: Wide ");
  decodedE8(h);
  t.enter(kRowCal);
  EXPECT_EQ(decodedE8(h), (std::vector<std::pair<int, int>>{{0x02, 64}}));
  EXPECT_EQ(t.line(kRowCal), "       CAL: Narrow ");
  EXPECT_TRUE(h.radio().calWideTaken());
  const int beeps = h.toolkit().beeps();
  t.enter(kRowCal);
  EXPECT_EQ(decodedE8(h), (std::vector<std::pair<int, int>>{{0x02, 128}}));
  EXPECT_TRUE(h.radio().calNarrowTaken());
  EXPECT_EQ(h.toolkit().beeps(), beeps + 1);
  EXPECT_EQ(t.line(kRowCal), "       CAL: [Enter] to Start");
}

TEST(Bpf, ASingleFilterIsSweptInStepsOfOneAndLeftAtTheCentreOfTheBestReadings) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  const std::int16_t row = kRowBpfT1 + 1;  // T2
  decodedE8(h);
  h.takeE8Commands();
  const std::size_t from = h.radio().frames().size();
  t.enter(row, 200);
  EXPECT_NE(t.line(row).find(" Sweeping"), std::string::npos) << t.line(row);
  EXPECT_EQ(t.line(row + 1).substr(t.line(row + 1).size() - 2), "-]") << "other rows show no sweep hint";
  // Enter again while it runs changes nothing.
  t.enter(row + 2, 0);
  EXPECT_GE(t.ctl().enterStep(), 12);
  ASSERT_TRUE(h.runUntil([&] { return t.ctl().enterStep() == 0; }, 200000));
  h.advance(1000);

  // Pair every SD reading with the T2 setting in force, from the frames on the wire.
  std::map<int, int> sdAt;
  int setting = 999, monitorChannel = -1, sends = 0;
  std::vector<int> settings;
  const auto& frames = h.radio().frames();
  for (std::size_t i = from; i < frames.size(); ++i) {
    const kvsim::Bytes& b = frames[i].bytes;
    if (b.size() < 13 || b[4] != 0xE8) continue;
    const int value = std::stoi(std::string{static_cast<char>(b[10]), static_cast<char>(b[11])}, nullptr, 16);
    if (!frames[i].fromRadio && b[9] == 0x0D) {
      setting = value >= 128 ? value - 256 : value;
      if (settings.empty() || settings.back() != setting) settings.push_back(setting);
      ++sends;
    }
    if (!frames[i].fromRadio && b[9] == 0x03) monitorChannel = value;
    if (frames[i].fromRadio && monitorChannel == 4 && setting != 999) sdAt[setting] = value;
  }
  // The row is first set to 0, then swept from its minimum.
  const auto start = std::find(settings.begin(), settings.end(), -128);
  ASSERT_NE(start, settings.end());
  ASSERT_GE(settings.end() - start, 256);
  for (auto it = start + 1; it != start + 256; ++it) EXPECT_EQ(*it, *(it - 1) + 1);
  int best = -1, firstBest = 0, lastBest = 0;
  for (const auto& [v, sd] : sdAt) {
    if (sd > best) best = sd, firstBest = v;
    if (sd == best) lastBest = v;
  }
  const int centre = static_cast<int>(std::floor((firstBest + lastBest) / 2.0));
  EXPECT_EQ(t.console().Value(row), centre);
  EXPECT_EQ(h.radio().itemValue(0x0D), centre) << "the result went out";
  const double optimum =
      kvsim::TarnPhysics::bpfOptimum(1, *kvsim::channel(h.radio().image(), h.radio().selectedSlot()).rxHz);
  EXPECT_NEAR(centre, optimum, 1.0) << "the centre of the radio's flat top";
  EXPECT_EQ(t.console().WaitAfterE8(row), 200) << "the pause is back after the sweep";
  EXPECT_EQ(t.line(row).find("Sweeping"), std::string::npos);
}

// A sweep owns the rows it steps: a key there does nothing but beep, and the kept setting
// is the centre of settings that were sent and measured.
TEST(Bpf, KeysOnASweptRowDoNothingAndTheKeptSettingWasMeasured) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  const std::int16_t row = kRowBpfT1 + 1;  // T2
  h.takeE8Commands();
  t.enter(row, 3000);
  ASSERT_GE(t.ctl().enterStep(), 12);
  const int beeps = h.toolkit().beeps();
  std::set<int> sent;
  for (int i = 0; i < 40; ++i) {
    const std::int16_t before = t.console().Value(row);
    t.list().setListIndex(row);
    h.toolkit().pressKey(t.list(), i % 2 == 0 ? tk::Key::Right : tk::Key::Left,
                         i % 3 == 0 ? tk::kShiftBit : 0);
    EXPECT_EQ(t.console().Value(row), before) << "the key changed nothing";
    h.advance(37);
    for (const auto& [code, value] : decodedE8(h)) {
      if (code == 0x0D) sent.insert(value >= 128 ? value - 256 : value);
    }
  }
  EXPECT_EQ(h.toolkit().beeps(), beeps + 40) << "each key on the swept row beeps";
  // Another row's keys still work during the sweep.
  t.list().setListIndex(kRowBpfT1 + 2);
  const std::int16_t t3 = t.console().Value(kRowBpfT1 + 2);
  h.toolkit().pressKey(t.list(), tk::Key::Right);
  EXPECT_EQ(t.console().Value(kRowBpfT1 + 2), t3 + 1);
  ASSERT_TRUE(h.runUntil([&] { return t.ctl().enterStep() == 0; }, 200000));
  for (const auto& [code, value] : decodedE8(h)) {
    if (code == 0x0D) sent.insert(value >= 128 ? value - 256 : value);
  }
  // Every setting between -128 and 127 went out once in order; the kept one among them.
  for (int v = -128; v <= 127; ++v) EXPECT_EQ(sent.count(v), 1u) << "setting " << v << " went out";
  EXPECT_EQ(sent.count(t.console().Value(row)), 1u);
}

TEST(Bpf, SweepAllTunesT1ToT4InOrderFromMinusTheReference) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  decodedE8(h);
  t.enter(kRowBpfAll, 200);
  EXPECT_EQ(t.line(kRowBpfAll), "   BPF ALL: Sweeping");
  const int beeps = h.toolkit().beeps();
  ASSERT_TRUE(h.runUntil([&] { return t.ctl().enterStep() == 0; }, 400000));
  EXPECT_EQ(h.toolkit().beeps(), beeps + 1);
  const int lvin = h.radio().monitorReading(5);
  std::vector<int> order;
  std::map<int, std::vector<int>> values;
  for (const auto& [code, value] : decodedE8(h)) {
    if (code < 0x0C || code > 0x0F) continue;
    if (order.empty() || order.back() != code) order.push_back(code);
    const int v = value >= 128 ? value - 256 : value;
    if (values[code].empty() || values[code].back() != v) values[code].push_back(v);
  }
  // Each filter in turn, after all four were set to 0.
  ASSERT_GE(order.size(), 8u);
  EXPECT_EQ(std::vector<int>(order.begin() + 4, order.begin() + 8),
            (std::vector<int>{0x0C, 0x0D, 0x0E, 0x0F}));
  for (int code = 0x0C; code <= 0x0F; ++code) {
    const std::vector<int>& v = values[code];
    const auto start = std::find(v.begin(), v.end(), -lvin);
    ASSERT_NE(start, v.end()) << "sweep starts at minus the LVIN reading";
    EXPECT_EQ(*(start + 1), -lvin + 2) << "in steps of two";
    const double optimum = kvsim::TarnPhysics::bpfOptimum(
        code - 0x0C, *kvsim::channel(h.radio().image(), h.radio().selectedSlot()).rxHz);
    EXPECT_NEAR(t.console().Value(static_cast<std::int16_t>(kRowBpfT1 + code - 0x0C)), optimum, 2.0);
  }
  EXPECT_EQ(t.line(kRowBpfAll), "   BPF ALL: [Enter] to Sweep");
}

TEST(Procedures, StartingAnotherProcedureAbandonsTheRunningOne) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  Tech t{h};
  t.enter(kRowTxf);
  ASSERT_GE(t.ctl().enterStep(), 1);
  ASSERT_LE(t.ctl().enterStep(), 5);
  t.enter(kRowCal);
  EXPECT_GE(t.ctl().enterStep(), 9);
  EXPECT_LE(t.ctl().enterStep(), 11);
  EXPECT_EQ(t.line(kRowTxf), "       TXF: [Enter] to Start");
  EXPECT_EQ(t.line(kRowCal), "       CAL: Wide ");
  // Enter on a row without a procedure starts nothing.
  t.enter(1);
  EXPECT_GE(t.ctl().enterStep(), 9);
}
