// Unattended alignment on the virtual bench: an item tuned to its target (F9), the receive
// procedures driven by the generator, TXF tuned with the counter, and Align All from a
// misaligned radio to every limit. Every value on the wire is checked to be an ordinary
// step of the item within its range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/ServiceDesk.h"
#include "shell/frmMain.h"
#include "sim/TarnImage.h"

using namespace tarnset;
using namespace tarnset::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int16_t kRowPowerHi = 1, kRowPowerL2 = 2, kRowPowerL1 = 3, kRowModW = 5, kRowModN = 6,
                       kRowSql = 8, kRowBpfAll = 9, kRowTxf = 14, kRowRssi = 15, kRowCal = 16;

struct Bench {
  explicit Bench(double noise = 1.0) : h(options(noise)) {
    h.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
  }
  static HarnessOptions options(double noise) {
    HarnessOptions o;
    o.bench = true;
    o.benchOptions = {noise, 7};
    return o;
  }
  ProgramHarness h;
  frmMain& w() { return h.program().mainWindow(); }
  tk::ListBox& list() { return w().lboConsole(); }
  clsIndOp_RigTarn& ctl() { return h.program().controller(); }
  void press(std::int16_t row, std::int16_t key) {
    list().setListIndex(row);
    h.toolkit().pressKey(list(), key);
  }
  // The value-carrying E8 commands since the last call, as (code, value); values of the
  // signed items as signed.
  std::vector<std::pair<int, int>> sent() {
    std::vector<std::pair<int, int>> out;
    for (const std::string& c : h.takeE8Commands()) {
      const int code = std::stoi(c.substr(0, 2), nullptr, 16);
      if (code == 0x03) continue;
      const std::string digits{static_cast<char>(std::stoi(c.substr(2, 2), nullptr, 16)),
                               static_cast<char>(std::stoi(c.substr(4, 2), nullptr, 16))};
      out.emplace_back(code, std::stoi(digits, nullptr, 16));
    }
    return out;
  }
};

}  // namespace

TEST(Tune, F9BringsAPowerLevelInsideItsLimitsWithAFewMeasurements) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.h.bench().setPtt(true, b.h.nowUs());
  b.list().setListIndex(kRowPowerHi);
  b.h.advance(500);
  b.sent();
  std::optional<TuneResult> result;
  ASSERT_TRUE(b.ctl().RigOpFunc_TuneRow(kRowPowerHi, [&](const TuneResult& r) { result = r; }));
  ASSERT_TRUE(b.h.runUntil([&] { return result.has_value(); }, 30000));
  EXPECT_TRUE(result->ok) << result->why;
  EXPECT_LE(result->measurements, 5);
  EXPECT_GE(result->last.value, 24.0);
  EXPECT_LE(result->last.value, 26.0);
  // Every step was Power(Hi)'s own command, inside its range.
  for (const auto& [code, value] : b.sent()) {
    EXPECT_EQ(code, 0x05);
    EXPECT_GE(value, 0);
    EXPECT_LE(value, 255);
  }
  const double watts = kvsim::VirtualBench::powerForItem(*b.h.radio().itemValue(0x05));
  EXPECT_GE(watts, 23.8) << "the radio holds a setting inside the limits";
  EXPECT_LE(watts, 26.2);
}

// A power level rises with a power of its setting: from either end of its range, where the
// response is far from a straight line, the tune still lands inside the limits.
TEST(Tune, F9FromEitherEndOfTheRangeLandsInsideTheLimits) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.h.bench().setPtt(true, b.h.nowUs());
  clsConsole& console = b.h.program().console();
  for (const std::int16_t row : {kRowPowerHi, kRowPowerL2, kRowPowerL1}) {
    for (const std::int16_t start : {console.Min(row), console.Max(row)}) {
      b.list().setListIndex(row);
      console.setValue(row, start);
      ASSERT_TRUE(b.h.runUntil([&] { return !console.flgChanged(row); }, 2000));
      b.h.advance(500);
      std::optional<TuneResult> result;
      ASSERT_TRUE(b.ctl().RigOpFunc_TuneRow(row, [&](const TuneResult& r) { result = r; }));
      ASSERT_TRUE(b.h.runUntil([&] { return result.has_value(); }, 30000));
      EXPECT_TRUE(result->ok) << console.Title(row) << " from " << start << ": " << result->why;
      EXPECT_LE(result->measurements, 8);
      ASSERT_TRUE(result->last.limit.has_value());
      EXPECT_TRUE(result->last.limit->within(result->last.value)) << result->last.line();
    }
  }
}

// MOD N's limits are a few settings wide and its readings carry the bench's noise: two
// readings a step or two apart may fall the wrong way. From starts across its range the
// tune still lands inside the limits.
TEST(Tune, F9OnANarrowDeviationLandsInsideItsLimitsDespiteTheReadingsNoise) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.h.bench().setPtt(true, b.h.nowUs());
  clsConsole& console = b.h.program().console();
  int landed = 0, starts = 0;
  for (int start = 8; start < 256; start += 16, ++starts) {
    b.list().setListIndex(kRowModN);
    console.setValue(kRowModN, static_cast<std::int16_t>(start));
    ASSERT_TRUE(b.h.runUntil([&] { return !console.flgChanged(kRowModN); }, 2000));
    b.h.advance(500);
    std::optional<TuneResult> result;
    ASSERT_TRUE(b.ctl().RigOpFunc_TuneRow(kRowModN, [&](const TuneResult& r) { result = r; }));
    ASSERT_TRUE(b.h.runUntil([&] { return result.has_value(); }, 30000));
    EXPECT_TRUE(result->ok) << "from " << start << ": " << result->why << " (" << result->last.line() << ")";
    landed += result->ok ? 1 : 0;
  }
  EXPECT_EQ(landed, starts);
}

TEST(Tune, AnItemWithoutATargetOrAnInstrumentIsNotTuned) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  EXPECT_FALSE(b.ctl().RigOpFunc_Tunable(kRowSql));
  const int beeps = b.h.toolkit().beeps();
  b.press(kRowSql, tk::Key::F9);
  EXPECT_EQ(b.h.toolkit().beeps(), beeps + 1);
  EXPECT_FALSE(b.ctl().RigOpFunc_Tuning());
}

TEST(Tune, WithoutACarrierTheTuneWaitsThenStopsAndSendsBackItsStartingValue) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  const int start = *b.h.radio().itemValue(0x08);
  std::optional<TuneResult> result;
  ASSERT_TRUE(b.ctl().RigOpFunc_TuneRow(kRowModW, [&](const TuneResult& r) { result = r; }));
  ASSERT_TRUE(b.h.runUntil([&] { return result.has_value(); }, 20000));
  EXPECT_FALSE(result->ok);
  EXPECT_NE(result->why.find("no measurement for 10 s"), std::string::npos) << result->why;
  EXPECT_EQ(*b.h.radio().itemValue(0x08), start);
}

TEST(Unattended, RssiTakesBothPointsFromTheGeneratorAndTurnsItsRfOff) {
  Bench b(0.0);
  ASSERT_TRUE(b.h.connect());
  b.sent();
  b.press(kRowRssi, tk::Key::Enter);
  ASSERT_TRUE(b.h.runUntil([&] { return b.ctl().enterStep() == 6 || b.ctl().enterStep() == 7; }, 2000));
  ASSERT_TRUE(b.h.runUntil([&] { return b.h.bench().generatorOn(); }, 3000));
  EXPECT_DOUBLE_EQ(b.h.bench().generatorDbm(), -90.0);
  const auto ch = kvsim::channel(b.h.radio().image(), b.h.radio().selectedSlot());
  EXPECT_DOUBLE_EQ(b.h.bench().generatorHz(), static_cast<double>(*ch.rxHz));
  EXPECT_NE(b.list().itemText(kRowRssi).find("generator -90 dBm"), std::string::npos)
      << b.list().itemText(kRowRssi);
  ASSERT_TRUE(b.h.runUntil([&] { return b.ctl().enterStep() == 0; }, 20000));
  EXPECT_TRUE(b.h.runUntil([&] { return !b.h.bench().generatorOn(); }, 1000)) << "RF off at the end";
  std::vector<std::pair<int, int>> points;
  for (const auto& e : b.sent()) {
    if (e.first == 0x12 || e.first == 0x13) points.push_back(e);
  }
  ASSERT_EQ(points.size(), 2u) << "L2, then L0";
  EXPECT_EQ(points[0].first, 0x13);
  EXPECT_EQ(points[1].first, 0x12);
  EXPECT_GT(points[0].second, points[1].second) << "the stronger signal reads higher";
  EXPECT_EQ(b.h.radio().image()[87], points[0].second);
  EXPECT_EQ(b.h.radio().image()[86], points[1].second);
}

TEST(Unattended, AGeneratorThatFailsStopsTheSweepWithNothingFurtherSent) {
  Bench b(0.0);
  ASSERT_TRUE(b.h.connect());
  b.h.bench().setFault(kvsim::VirtualBench::FaultKind::Error);  // the generator's settings end in an error
  b.sent();
  b.press(kRowBpfAll, tk::Key::Enter);
  ASSERT_TRUE(b.h.runUntil([&] { return !b.h.toolkit().messages().empty(); }, 10000));
  EXPECT_EQ(b.h.toolkit().messages()[0].text, "The signal generator failed: the procedure was stopped.");
  EXPECT_EQ(b.ctl().enterStep(), 0);
  b.h.advance(2000);
  for (const auto& [code, value] : b.sent()) {
    EXPECT_FALSE(code >= 0x0C && code <= 0x0F) << "no filter setting of the sweep went out";
  }
  EXPECT_FALSE(b.h.bench().generatorOn());
}

TEST(Unattended, EnterOnAnotherProcedureEndsTheSweepWithItsRfOffAndAlignAllGoesOn) {
  Bench b(0.0);
  ASSERT_TRUE(b.h.connect());
  std::optional<std::vector<AlignStep>> steps;
  ASSERT_TRUE(b.ctl().RigOpFunc_AlignAll(AlignScope::Receive, [&](std::vector<AlignStep> s) { steps = s; }));
  ASSERT_TRUE(b.h.runUntil([&] { return b.h.bench().generatorOn(); }, 5000)) << "RSSI has the generator on";
  b.press(kRowCal, tk::Key::Enter);  // the technician starts CAL: RSSI is abandoned
  EXPECT_TRUE(b.h.runUntil([&] { return !b.h.bench().generatorOn(); }, 1000)) << "RF off with it";
  b.sent();
  // Align All hears that its step ended and goes on to BPF ALL, which ends in turn.
  ASSERT_TRUE(b.h.runUntil([&] { return steps.has_value(); }, 300000));
  ASSERT_EQ(steps->size(), 2u);
  EXPECT_FALSE((*steps)[0].ok);
  EXPECT_EQ((*steps)[0].why, "the procedure was stopped");
  for (const auto& [code, value] : b.sent()) EXPECT_NE(code, 0x12) << "no RSSI point of the abandoned RSSI";
  EXPECT_FALSE(b.h.bench().generatorOn());
}

TEST(Unattended, TheRfGoesOffAtOnceAfterASweepWhileTheSelectedItemIsMeasuredAgainAndAgain) {
  Bench b(0.0);
  ASSERT_TRUE(b.h.connect());
  b.press(kRowBpfAll, tk::Key::Enter);
  ASSERT_TRUE(b.h.runUntil([&] { return b.h.bench().generatorOn(); }, 5000));
  b.list().setListIndex(kRowPowerHi);  // each filter setting starts its measurement anew
  b.h.advance(20000);
  ASSERT_NE(b.ctl().enterStep(), 0) << "the sweep still runs";
  // The radio stops answering: the sweep stands still, the measurements settle and go out,
  // and the link fails, which ends the sweep.
  b.h.radio().setSilent(true, b.h.nowUs());
  ASSERT_TRUE(b.h.runUntil([&] { return !b.h.toolkit().messages().empty(); }, 10000));
  EXPECT_EQ(b.ctl().enterStep(), 0);
  EXPECT_TRUE(b.h.runUntil([&] { return !b.h.bench().generatorOn(); }, 500))
      << "no queue of measurements asked for before holds the RF off back";
}

TEST(Unattended, AReceiveProcedureOnAChannelWithoutAReceiveFrequencyStillEndsWithTheRfOff) {
  HarnessOptions o = Bench::options(0.0);
  kvsim::Bytes image = kvsim::defaultImage();
  int slot = 0;
  while (!kvsim::channel(image, slot).inUse) ++slot;
  const int rx = kvsim::recordAddress(image, slot) + 4;
  kvsim::writeLong(image, rx, kvsim::readLong(image, rx) | 0x80000000u);  // inhibited
  o.radio.image = image;
  ProgramHarness h(o);
  h.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
  ASSERT_TRUE(h.connect());
  // The generator was left on (an RF off it could not hear, say).
  h.bench().handleLine("OUTP ON", h.nowUs());
  ASSERT_TRUE(h.bench().generatorOn());
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(kRowRssi);
  h.toolkit().pressKey(list, tk::Key::Enter);
  ASSERT_TRUE(h.runUntil([&] { return !h.toolkit().messages().empty(); }, 5000));
  EXPECT_EQ(h.toolkit().messages()[0].text, "The signal generator failed: the procedure was stopped.");
  EXPECT_TRUE(h.runUntil([&] { return !h.bench().generatorOn(); }, 1000)) << "RF off needs no frequency";
}

TEST(Unattended, AnRfOffThatMetAFailedReconnectionIsSentAgain) {
  Bench b(0.0);
  ASSERT_TRUE(b.h.connect());
  b.press(kRowRssi, tk::Key::Enter);
  ASSERT_TRUE(b.h.runUntil([&] { return b.h.bench().generatorOn(); }, 5000));
  // A measurement drops the connection; the instrument's next answer, to the identity
  // asked for when the link is made again, is garbage.
  b.h.bench().setFault(kvsim::VirtualBench::FaultKind::Drop);
  b.list().setListIndex(kRowPowerHi);
  ASSERT_TRUE(
      b.h.runUntil([&] { return b.h.benchLink()->status() != InstrumentTransport::Status::Open; }, 5000));
  b.list().setListIndex(kRowRssi);
  b.h.bench().setFault(kvsim::VirtualBench::FaultKind::Garbage);
  b.press(kRowCal, tk::Key::Enter);  // RSSI ends: RF off
  EXPECT_TRUE(b.h.runUntil([&] { return !b.h.bench().generatorOn(); }, 3000)) << b.h.benchLink()->sent();
}

TEST(Unattended, TxfTunedWithTheCounterWritesTheTableAndLeavesTheCarrierOnFrequency) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.h.bench().setPtt(true, b.h.nowUs());
  b.press(kRowTxf, tk::Key::Enter);
  ASSERT_TRUE(b.h.runUntil([&] { return b.ctl().enterStep() != 0; }, 2000));
  ASSERT_TRUE(b.h.runUntil([&] { return b.ctl().enterStep() == 0; }, 120000)) << b.list().itemText(kRowTxf);
  EXPECT_TRUE(b.h.toolkit().messages().empty()) << b.h.toolkit().messages()[0].text;
  int entries = 0;
  for (const auto& [code, value] : b.sent()) entries += code >= 0x14 && code <= 0x3B ? 1 : 0;
  EXPECT_GE(entries, 40) << "the whole table went out";
  EXPECT_LE(std::fabs(b.h.radio().transmitter().errorHz), 150.0);
}

TEST(AlignAll, AMisalignedRadioEndsInsideEveryLimitAndTheCertificateShowsBefore) {
  Bench b;
  std::vector<std::string> questions;
  b.h.toolkit().setQuestionHook([&](const HeadlessToolkit::Message& m) {
    questions.push_back(m.text);
    if (m.text.find("Key the radio") == 0) b.h.bench().setPtt(true, b.h.nowUs());
    return m.text.find("Make the service report") != 0;  // the certificate another time
  });
  ASSERT_TRUE(b.h.connect());
  ASSERT_TRUE(b.h.runUntil([&] { return !b.h.program().serviceDesk().asFoundMeasured().empty(); }, 30000));
  b.h.bench().setPtt(false, b.h.nowUs());
  std::size_t failedFound = 0;
  for (const ItemMeasurement& m : b.h.program().serviceDesk().asFoundMeasured())
    failedFound += m.verdict == ItemMeasurement::Verdict::Fail;
  EXPECT_GT(failedFound, 0u) << "the virtual radio comes misaligned";

  b.h.toolkit().clearMessages();
  b.h.program().serviceDesk().AlignAll();
  // The line below the console: the progress, and the measurement of the step under way
  // behind it.
  std::vector<std::string> lines;
  ASSERT_TRUE(b.h.runUntil(
      [&] {
        const std::string line = b.w().lblMeasure().caption();
        if (lines.empty() || lines.back() != line) lines.push_back(line);
        for (const auto& m : b.h.toolkit().messages())
          if (m.text.find("The transmitter's alignment is over") == 0) return true;
        return false;
      },
      300000));
  static const std::regex kMeasuredUnderWay(R"(^Align All \[#{1,9}-{1,9}\] [1-7] of 8: .*(W|kHz) .*)");
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
    return std::regex_match(l, kMeasuredUnderWay);
  })) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines.back(), "Align All [##########] 8 of 8, CTCS/DTCS passed");
  b.h.bench().setPtt(false, b.h.nowUs());
  ASSERT_TRUE(b.h.runUntil(
      [&] {
        for (const auto& m : b.h.toolkit().messages())
          if (m.text.find("Align All: ") == 0) return true;
        return false;
      },
      300000));
  const auto& steps = b.h.program().serviceDesk().alignSteps();
  ASSERT_EQ(steps.size(), 10u) << "TXF, three power levels, four modulation items, RSSI, BPF ALL";
  for (const AlignStep& s : steps) EXPECT_TRUE(s.ok) << s.name << ": " << s.why;
  // The alignment ends with the radio read back; the certificate was offered.
  ASSERT_TRUE(b.h.runUntil(
      [&] { return questions.back() == "Make the service report with its certificate now?"; }, 60000));
  EXPECT_TRUE(b.h.program().serviceDesk().asLeftReadBack());
  EXPECT_TRUE(b.h.program().serviceDesk().readBackFailures().empty());
  EXPECT_FALSE(b.h.bench().generatorOn());
  // Every item with a limit now measures inside it.
  for (const AlignStep& s : steps) {
    if (s.last.taken) {
      EXPECT_EQ(s.last.verdict, ItemMeasurement::Verdict::Pass) << s.name << ": " << s.last.text;
    }
  }
}
