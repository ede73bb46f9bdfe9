// The bench's instruments in the program: the measurement of the selected item beside the
// console, following the radio's settings and never older than the last change, and the
// measured certificate of the service report. The virtual bench on the virtual radio,
// in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/ServiceDesk.h"
#include "shell/frmInstruments.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int16_t kRowPowerHi = 1, kRowPowerL1 = 3, kRowModW = 5, kRowTxf = 14;

HarnessOptions withBench() {
  HarnessOptions o;
  o.bench = true;
  return o;
}

struct Bench {
  // The technician declines the as-found measurements unless a test says otherwise.
  Bench() : h(withBench()) {
    h.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
  }
  ProgramHarness h;
  frmMain& w() { return h.program().mainWindow(); }
  tk::ListBox& list() { return w().lboConsole(); }
  std::string shown() { return w().lblMeasure().caption(); }
  void select(std::int16_t row) {
    list().setListIndex(row);
    h.advance(60);
  }
  void key(std::int16_t row, std::int16_t k, std::int16_t shift = 0) {
    list().setListIndex(row);
    h.toolkit().pressKey(list(), k, shift);
  }
  void ptt(bool on) { h.bench().setPtt(on, h.nowUs()); }
  // The watts a power line shows ("Power(Hi) Power: 24.8 W ..."), -1 when it shows none.
  double watts() {
    static const std::regex kW(": ([0-9.]+) W");
    std::smatch m;
    const std::string s = shown();
    return std::regex_search(s, m, kW) ? std::stod(m[1].str()) : -1.0;
  }
};

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

TEST(Measurement, TheSelectedPowerItemIsMeasuredAndFollowsItsKeys) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.ptt(true);
  b.select(kRowPowerHi);
  ASSERT_TRUE(b.h.runUntil([&] { return b.watts() > 0; }, 3000)) << b.shown();
  b.h.advance(1000);  // the transmitter has settled since it was keyed
  const int item = *b.h.radio().itemValue(0x05);
  EXPECT_NEAR(b.watts(), kvsim::VirtualBench::powerForItem(item), 0.2) << b.shown();
  EXPECT_NE(b.shown().find("(limits 24 .. 26 W)"), std::string::npos) << b.shown();
  const double before = b.watts();

  // Five steps up: what is shown next is measured after the new value went out, never the
  // one measured before.
  b.key(kRowPowerHi, tk::Key::Right, tk::kShiftBit);
  b.h.advance(20);
  EXPECT_NE(b.shown().find("measuring..."), std::string::npos) << b.shown();
  ASSERT_TRUE(b.h.runUntil([&] { return b.watts() > 0; }, 3000)) << b.shown();
  EXPECT_GT(b.watts(), before + 0.5);
  EXPECT_NEAR(b.watts(), kvsim::VirtualBench::powerForItem(item + 5), 0.2);
}

TEST(Measurement, ACarrierThatIsNotThereIsShownMissingNeverStale) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.ptt(true);
  b.select(kRowTxf);
  ASSERT_TRUE(b.h.runUntil([&] { return b.shown().find(" MHz, error ") != std::string::npos; }, 3000))
      << b.shown();
  EXPECT_NE(b.shown().find("(limits -100 .. 100 Hz)"), std::string::npos) << b.shown();
  b.ptt(false);
  ASSERT_TRUE(b.h.runUntil([&] { return b.shown().find("MHz") == std::string::npos; }, 3000)) << b.shown();
  EXPECT_EQ(b.shown().find("PASS"), std::string::npos);
  EXPECT_EQ(b.shown().find("FAIL"), std::string::npos) << "no verdict without a measurement";

  // An instrument that falls silent: the line says so after its time-out, with no value.
  b.ptt(true);
  b.select(kRowModW);
  ASSERT_TRUE(b.h.runUntil([&] { return b.shown().find(" kHz") != std::string::npos; }, 3000)) << b.shown();
  b.h.bench().setFault(kvsim::VirtualBench::FaultKind::Silent);
  b.key(kRowModW, tk::Key::Right);  // a change: the value shown before it is gone
  static const std::regex kReading("Deviation: [0-9.]+ kHz");
  ASSERT_TRUE(b.h.runUntil(
      [&] {
        return !std::regex_search(b.shown(), kReading) && b.shown().find("measuring") == std::string::npos;
      },
      5000))
      << b.shown();
  EXPECT_NE(b.shown().find("does not answer"), std::string::npos) << b.shown();
  EXPECT_EQ(b.shown().find("PASS"), std::string::npos);
  EXPECT_EQ(b.shown().find("FAIL"), std::string::npos);
}

TEST(Measurement, RowsWithoutAMeasurementShowNoneAndNoInstrumentsShowNoLine) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.select(8);  // SQL: nothing measures it
  EXPECT_EQ(b.shown(), "");
  ProgramHarness plain;
  ASSERT_TRUE(plain.connect());
  EXPECT_FALSE(plain.program().mainWindow().lblMeasure().visible())
      << "no instruments: no line below the console";
  EXPECT_TRUE(b.w().lblMeasure().visible());
}

// The certificate: as-found measurements after the first read, as-left ones before the
// report, each against its limits, with the instrument that took them.
TEST(Certificate, TheReportCarriesAsFoundAndAsLeftMeasurementsAgainstTheirLimits) {
  Bench b;
  std::vector<std::string> asked;
  b.h.toolkit().setQuestionHook([&](const HeadlessToolkit::Message& m) {
    asked.push_back(m.text);
    if (m.text.find("Key the radio") == 0) b.ptt(true);
    return true;
  });
  ASSERT_TRUE(b.h.connect());
  ASSERT_TRUE(b.h.runUntil([&] { return !b.h.toolkit().messages().empty(); }, 20000));
  b.ptt(false);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], "Key the radio's transmitter (PTT) for the as-found measurements, then press OK.");
  ASSERT_FALSE(b.h.toolkit().messages().empty());
  EXPECT_EQ(b.h.toolkit().messages().back().text,
            "The as-found measurements are taken. Release the transmitter.");
  const auto& found = b.h.program().serviceDesk().asFoundMeasured();
  EXPECT_EQ(found.size(), 8u) << "three power levels, four modulation items and TXF";
  for (const ItemMeasurement& m : found) EXPECT_TRUE(m.taken) << m.item << ": " << m.text;

  // Power(L1) brought down by twenty steps; the report reads back and measures again.
  for (int i = 0; i < 4; ++i) {
    b.key(kRowPowerL1, tk::Key::Left, tk::kShiftBit);
    b.h.advance(300);
  }
  const fs::path file = b.h.folder() / "report.html";
  b.h.toolkit().setFileChooserHook([&](const HeadlessToolkit::FileRequest&) { return file.string(); });
  ASSERT_TRUE(b.h.toolkit().chooseMenu("&File/Service &Report..."));
  ASSERT_TRUE(b.h.runUntil([&] { return fs::exists(file); }, 90000));
  const std::string page = readText(file);
  EXPECT_NE(page.find("<h2>Measurements</h2>"), std::string::npos);
  const auto& left = b.h.program().serviceDesk().asLeftMeasured();
  ASSERT_EQ(left.size(), 8u);
  const auto l1 =
      std::find_if(left.begin(), left.end(), [](const ItemMeasurement& m) { return m.item == "Power(L1)"; });
  ASSERT_NE(l1, left.end());
  const auto f1 = std::find_if(found.begin(), found.end(),
                               [](const ItemMeasurement& m) { return m.item == "Power(L1)"; });
  EXPECT_LT(l1->value, f1->value) << "measured after the change";
  EXPECT_NE(page.find("<td>Power(L1)</td><td>Power</td><td>4.75 .. 5.25 W</td><td>" + f1->text + "</td><td>" +
                      f1->verdictText() + "</td><td>" + l1->text + "</td><td>" + l1->verdictText() + "</td>"),
            std::string::npos)
      << page.substr(page.find("<h2>Measurements</h2>"), 1500);
  EXPECT_NE(page.find("Tarnset KV-Tarn virtual bench, serial VB-0001, firmware 1.0"), std::string::npos);
  EXPECT_NE(page.find("2027-06-30"), std::string::npos);
  EXPECT_EQ(page.find("PAST DUE"), std::string::npos) << "due in 2027";
}

TEST(Certificate, AnInstrumentPastItsCalibrationDateIsFlagged) {
  HarnessOptions o = withBench();
  o.instrumentsFile =
      "[Old monitor]\nAddress=TCPIP::127.0.0.1::5025::SOCKET\nRoles=counter, power, deviation\n"
      "Profile=kv-tarn-bench\nCalibrationDue=2025-01-31\n";
  ProgramHarness h(o);
  h.toolkit().setQuestionHook([&](const HeadlessToolkit::Message& m) {
    if (m.text.find("Key the radio") == 0) h.bench().setPtt(true, h.nowUs());
    return m.text.find("Read the radio back") != 0;  // no read-back before this report
  });
  ASSERT_TRUE(h.connect());
  ASSERT_TRUE(h.runUntil([&] { return !h.program().serviceDesk().asFoundMeasured().empty(); }, 20000));
  const fs::path file = h.folder() / "report.html";
  h.toolkit().setFileChooserHook([&](const HeadlessToolkit::FileRequest&) { return file.string(); });
  ASSERT_TRUE(h.toolkit().chooseMenu("&File/Service &Report..."));
  ASSERT_TRUE(h.runUntil([&] { return fs::exists(file); }, 60000));
  EXPECT_NE(readText(file).find("2025-01-31 PAST DUE"), std::string::npos);
}

TEST(Certificate, AConnectionDroppedMidPassLeavesThatMeasurementMissing) {
  Bench b;
  b.h.toolkit().setQuestionHook([&](const HeadlessToolkit::Message& m) {
    if (m.text.find("Key the radio") == 0) {
      b.ptt(true);
      b.h.bench().setFault(kvsim::VirtualBench::FaultKind::Drop);  // the first measurement drops
    }
    return true;
  });
  ASSERT_TRUE(b.h.connect());
  ASSERT_TRUE(b.h.runUntil([&] { return !b.h.program().serviceDesk().asFoundMeasured().empty(); }, 30000));
  const auto& found = b.h.program().serviceDesk().asFoundMeasured();
  ASSERT_FALSE(found.empty());
  EXPECT_FALSE(found.front().taken) << found.front().item << ": " << found.front().text;
  EXPECT_EQ(found.front().verdict, ItemMeasurement::Verdict::None);
  EXPECT_EQ(found.front().text.find(" W"), std::string::npos) << "no value for a missing measurement";
}

// Option > Instruments...: the technician puts the virtual bench on an empty bench by hand,
// asks it for its identity, and the measurements begin once OK has written the file.
TEST(InstrumentsDialog, AnInstrumentEnteredByHandIsTestedSavedAndMeasuresAtOnce) {
  HarnessOptions o = withBench();
  o.instrumentsFile = "; no instruments yet\n";
  ProgramHarness h(o);
  h.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  EXPECT_FALSE(w.lblMeasure().visible());
  const fs::path file = h.folder() / "Instruments.ini";
  const std::string before = readText(file);

  ASSERT_TRUE(h.toolkit().chooseMenu("&Option/&Instruments..."));
  frmInstruments& d = *h.program().instrumentsDialog();
  ASSERT_TRUE(d.isShown());
  EXPECT_FALSE(d.cmdTest().enabled()) << "nothing to test on an empty bench";
  ASSERT_TRUE(h.toolkit().click(d.cmdAdd()));
  EXPECT_EQ(d.txtName().text(), "Instrument 1");
  ASSERT_TRUE(h.toolkit().typeText(d.txtAddress(), "TCPIP::127.0.0.1::5025::SOCKET"));
  std::int16_t bench = -1;
  for (std::int16_t i = 0; i < d.cboProfile().listCount(); ++i)
    if (d.cboProfile().itemText(i) == "kv-tarn-bench") bench = i;
  ASSERT_GE(bench, 0);
  ASSERT_TRUE(h.toolkit().pick(d.cboProfile(), bench));
  for (std::size_t i = 0; i < 4; ++i) ASSERT_TRUE(h.toolkit().click(d.chkRole(i)));

  ASSERT_TRUE(h.toolkit().click(d.cmdTest()));
  ASSERT_TRUE(h.runUntil([&] { return d.lblTest().caption().rfind("*IDN?: ", 0) == 0; }, 3000))
      << d.lblTest().caption();
  EXPECT_EQ(readText(file), before) << "a test writes nothing";
  EXPECT_FALSE(w.lblMeasure().visible()) << "nor does it put the instrument to work";
  h.advance(60);
  EXPECT_TRUE(d.cmdTest().enabled());

  ASSERT_TRUE(h.toolkit().click(d.cmdOk()));
  EXPECT_FALSE(d.isShown());
  const std::string saved = readText(file);
  EXPECT_NE(saved.find("[Instrument 1]"), std::string::npos) << saved;
  EXPECT_NE(saved.find("TCPIP::127.0.0.1::5025::SOCKET"), std::string::npos) << saved;
  EXPECT_NE(saved.find("kv-tarn-bench"), std::string::npos) << saved;

  // The bench measures the selected power item now, and follows its keys.
  h.bench().setPtt(true, h.nowUs());
  tk::ListBox& list = w.lboConsole();
  list.setListIndex(kRowPowerHi);
  static const std::regex kW(": ([0-9.]+) W");
  std::smatch m;
  const auto watts = [&] {
    const std::string shown = w.lblMeasure().caption();
    return std::regex_search(shown, m, kW) ? std::stod(m[1].str()) : -1.0;
  };
  ASSERT_TRUE(h.runUntil([&] { return watts() > 0; }, 3000)) << w.lblMeasure().caption();
  h.advance(1000);
  const int item = *h.radio().itemValue(0x05);
  EXPECT_NEAR(watts(), kvsim::VirtualBench::powerForItem(item), 0.2) << w.lblMeasure().caption();

  // Shown again, the dialog holds what was saved.
  ASSERT_TRUE(h.toolkit().chooseMenu("&Option/&Instruments..."));
  EXPECT_EQ(d.txtAddress().text(), "TCPIP::127.0.0.1::5025::SOCKET");
  EXPECT_TRUE(d.chkRole(2).checked());
}

// Entries that cannot be used are refused by name and nothing is written; Cancel forgets
// what was typed.
TEST(InstrumentsDialog, EntriesThatCannotBeUsedAreRefusedAndNothingIsWritten) {
  HarnessOptions o = withBench();
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  const fs::path file = h.folder() / "Instruments.ini";
  const std::string before = readText(file);
  ASSERT_TRUE(h.toolkit().chooseMenu("&Option/&Instruments..."));
  frmInstruments& d = *h.program().instrumentsDialog();
  ASSERT_EQ(d.cboInstrument().listCount(), 1);
  EXPECT_EQ(d.txtName().text(), "Virtual bench");

  // A second instrument that would be the power meter as well.
  ASSERT_TRUE(h.toolkit().click(d.cmdAdd()));
  ASSERT_TRUE(h.toolkit().typeText(d.txtAddress(), "ASRL3::INSTR"));
  ASSERT_TRUE(h.toolkit().click(d.chkRole(2)));
  h.toolkit().clearMessages();
  ASSERT_TRUE(h.toolkit().click(d.cmdOk()));
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text, "The instruments were not saved.");
  EXPECT_NE(h.toolkit().messages()[0].details.find("The power meter is both [Virtual bench] and [Instrument 2]"),
            std::string::npos)
      << h.toolkit().messages()[0].details;
  EXPECT_TRUE(d.isShown());

  // Without the role, a settle time that is not a number.
  ASSERT_TRUE(h.toolkit().click(d.chkRole(2)));
  ASSERT_TRUE(h.toolkit().typeText(d.txtSettle(), "x"));
  h.toolkit().clearMessages();
  ASSERT_TRUE(h.toolkit().click(d.cmdOk()));
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].details, "[Instrument 2] Settle time: a whole number of milliseconds, 0 to 60000.");
  // The same check answers Test, without asking anything.
  ASSERT_TRUE(h.toolkit().click(d.cmdTest()));
  EXPECT_EQ(d.lblTest().caption(), "[Instrument 2] Settle time: a whole number of milliseconds, 0 to 60000.");
  EXPECT_EQ(readText(file), before);

  ASSERT_TRUE(h.toolkit().click(d.cmdCancel()));
  EXPECT_FALSE(d.isShown());
  EXPECT_EQ(readText(file), before);
  ASSERT_TRUE(h.toolkit().chooseMenu("&Option/&Instruments..."));
  EXPECT_EQ(d.cboInstrument().listCount(), 1) << "Cancel kept nothing of what was typed";
}
