// The service record at the bench: every read backed up, the as-found image kept and
// guarded, the report of as-found against as-left, and the as-found values restored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "model/ServiceReport.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/ServiceDesk.h"
#include "shell/frmMain.h"
#include "sim/TarnImage.h"
#include "sim/TarnPhysics.h"

using namespace tarnset;
using namespace tarnset::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int16_t kRowPowerHi = 1, kRowPowerL2 = 2, kRowBpfT2 = 11, kRowTxf = 14, kRowRssi = 15;

std::vector<fs::path> backupsIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

kvsim::Bytes readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return kvsim::Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Bench {
  explicit Bench(HarnessOptions o = {}) : h(std::move(o)) {}
  ProgramHarness h;
  frmMain& w() { return h.program().mainWindow(); }
  ServiceDesk& desk() { return h.program().serviceDesk(); }
  tk::ListBox& list() { return w().lboConsole(); }
  clsConsole& console() { return h.program().console(); }
  void press(std::int16_t row, std::int16_t key, std::int16_t shift = 0, std::int32_t thenMs = 300) {
    list().setListIndex(row);
    h.toolkit().pressKey(list(), key, shift);
    h.advance(thenMs);
  }
  bool reconnect() { return h.connect(); }
  // The program's present image (the radio as left, as the program knows it).
  kvsim::Bytes programImage() { return h.program().radio().eepImage().ReadBlock(0, 15968); }
  // Asks for the service report, answers the offer to read the radio back first with
  // readBack, and returns the page once it is saved as HTML in the test folder.
  std::string report(bool readBack = false) {
    const fs::path file = h.folder() / ("report-" + std::to_string(++reports) + ".html");
    h.toolkit().setQuestionHook([readBack](const HeadlessToolkit::Message&) { return readBack; });
    h.toolkit().setFileChooserHook([this, file](const HeadlessToolkit::FileRequest& r) {
      asked = r;
      return file.string();
    });
    EXPECT_TRUE(h.toolkit().chooseMenu("&File/Service &Report...")) << "the report is offered";
    EXPECT_TRUE(h.runUntil([&] { return fs::exists(file); }, 60000)) << "the report was written";
    // This window system makes no PDF: only a web page is offered, and suggested.
    EXPECT_EQ(asked.filters, (std::vector<tk::FileFilter>{{"Web page", {"*.html"}}}));
    EXPECT_TRUE(asked.suggestedPath.ends_with(".html")) << asked.suggestedPath;
    return readText(file);
  }
  // Restores the as-found values, answering the confirmation with confirm, and lets time
  // pass until the result is said (or maxMs).
  void restore(bool confirm = true, std::int32_t maxMs = 90000) {
    h.toolkit().setQuestionHook([this, confirm](const HeadlessToolkit::Message& m) {
      // The values sent from here on are the restore's.
      if (m.text == "Send the as-found values back to the radio?") h.takeE8Commands();
      return confirm;
    });
    EXPECT_TRUE(h.toolkit().chooseMenu("&File/Restore &As-Found Values..."));
    h.runUntil([&] { return !h.toolkit().messages().empty(); }, maxMs);
  }
  HeadlessToolkit::FileRequest asked;
  int reports = 0;
};

int changedRows(const std::string& page) {
  int n = 0;
  for (std::size_t at = page.find("<tr class=\"changed\">"); at != std::string::npos;
       at = page.find("<tr class=\"changed\">", at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace

TEST(Backups, EachReadIsBackedUpOnceAndAnIdenticalReadAddsNone) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  auto files = backupsIn(b.h.backupFolder());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(readBytes(files[0]), b.h.radio().image()) << "the backup is the radio's image, byte for byte";
  const std::string name = files[0].filename().string();
  EXPECT_EQ(name.substr(15, 11), "-2651-0100-") << name;
  EXPECT_EQ(name.size(), 15u + 11u + 8u + 4u);
  EXPECT_EQ(b.desk().asFoundFile(), files[0].string());
  EXPECT_EQ(b.w().lblComBusy().tip(), "As found: " + files[0].string() + " (read at " + name.substr(9, 2) +
                                          ":" + name.substr(11, 2) + ")");

  ASSERT_TRUE(b.reconnect());
  EXPECT_EQ(backupsIn(b.h.backupFolder()).size(), 1u) << "the same image again: no second backup";
  b.press(kRowPowerHi, tk::Key::Right);
  ASSERT_TRUE(b.reconnect());
  files = backupsIn(b.h.backupFolder());
  ASSERT_EQ(files.size(), 2u) << "a changed radio is backed up again";
  EXPECT_EQ(readBytes(files[1]), b.h.radio().image());
  EXPECT_EQ(b.desk().asFoundFile(), files[0].string()) << "the first read stays the as-found image";
}

TEST(Backups, ABackupThatCannotBeWrittenIsSaidAndTheAlignmentGoesOn) {
  Bench b;
  { std::ofstream(b.h.backupFolder()) << "a file where the folder should be"; }
  ASSERT_TRUE(b.h.connect());
  ASSERT_EQ(b.h.toolkit().messages().size(), 1u);
  EXPECT_EQ(b.h.toolkit().messages()[0].text, "The backup of this read could not be written.");
  EXPECT_NE(
      b.h.toolkit().messages()[0].details.find("File > Save Image As... saves the image where you choose."),
      std::string::npos);
  EXPECT_EQ(b.h.program().controller().opState(), TarnState::CycleEnd) << "connected all the same";
  // Save Image As writes the present image where the technician chooses.
  const fs::path saved = b.h.folder() / "bench.bin";
  b.h.toolkit().setFileChooserHook([&](const HeadlessToolkit::FileRequest& r) {
    EXPECT_EQ(fs::path(r.suggestedPath).extension(), ".bin");
    return saved.string();
  });
  EXPECT_TRUE(b.h.toolkit().chooseMenu("&File/&Save Image As..."));
  EXPECT_EQ(readBytes(saved), b.h.radio().image());
}

TEST(AsFound, AnotherRadioIsAskedAboutAndTheAnswerDecides) {
  for (const bool itIsAnother : {false, true}) {
    SCOPED_TRACE(itIsAnother ? "OK: another radio" : "Cancel: the same radio");
    Bench b;
    ASSERT_TRUE(b.h.connect());
    const kvsim::Bytes first = b.h.radio().image();
    kvsim::Bytes second = first;
    second[1100] ^= 0x01;  // channel memory: only another radio (or a reprogrammed one) differs there
    b.h.radio().setImage(second);
    b.h.toolkit().setQuestionHook([&](const HeadlessToolkit::Message&) { return itIsAnother; });
    ASSERT_TRUE(b.reconnect());
    ASSERT_EQ(b.h.toolkit().questions().size(), 1u);
    EXPECT_EQ(b.h.toolkit().questions()[0].text,
              "This radio differs from the as-found radio.\r\nIs it another radio?");
    EXPECT_EQ(*b.desk().asFound(), itIsAnother ? second : first);
    EXPECT_EQ(b.desk().canRestore(), itIsAnother) << "the values of one radio never go to another";
    b.h.toolkit().openMenu("&File");
    EXPECT_EQ(b.w().mnuFileRestore().enabled(), itIsAnother);
    // A read of the same radio does not ask again.
    b.h.toolkit().clearQuestions();
    b.press(kRowPowerHi, tk::Key::Right);
    ASSERT_TRUE(b.reconnect());
    EXPECT_EQ(b.h.toolkit().questions().size(), itIsAnother ? 0u : 1u);
  }
}

TEST(AsFound, NewRadioMakesTheNextReadTheAsFoundImageWithoutAsking) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  kvsim::Bytes other = b.h.radio().image();
  other[1100] ^= 0x01;
  b.h.radio().setImage(other);
  EXPECT_TRUE(b.h.toolkit().chooseMenu("&File/&New Radio"));
  EXPECT_EQ(b.w().lblComBusy().tip(), "As found: the next read");
  ASSERT_TRUE(b.reconnect());
  EXPECT_TRUE(b.h.toolkit().questions().empty());
  EXPECT_EQ(*b.desk().asFound(), other);
}

TEST(Report, ListsExactlyWhatChangedAsSentUntilReadBackThenVerified) {
  HarnessOptions o;
  o.radio.temperatureC = 31.0;
  Bench b(o);
  b.h.toolkit().openMenu("&File");
  EXPECT_FALSE(b.w().mnuFileReport().enabled()) << "not before a connection";
  ASSERT_TRUE(b.h.connect());
  const kvsim::Bytes found = b.h.radio().image();
  b.press(kRowPowerHi, tk::Key::Right, tk::kShiftBit);
  b.press(kRowBpfT2, tk::Key::Left);
  b.press(kRowBpfT2, tk::Key::Left);
  // A whole TXF run.
  b.press(kRowTxf, tk::Key::Enter, 0, 1500);
  const auto v1 =
      static_cast<std::int16_t>(std::lround(kvsim::TarnPhysics::idealSetting(b.h.radio().temperatureC())));
  while (b.console().Value(kRowTxf) != v1) {
    b.press(kRowTxf, b.console().Value(kRowTxf) < v1 ? tk::Key::Right : tk::Key::Left, 0, 600);
  }
  b.press(kRowTxf, tk::Key::Enter, 0, 3000);
  for (int i = 0; i < 10; ++i) b.press(kRowTxf, tk::Key::Left, tk::kShiftBit, 600);
  b.press(kRowTxf, tk::Key::Enter, 0, 6000);
  ASSERT_EQ(b.h.program().controller().enterStep(), 0);

  std::string page = b.report();
  EXPECT_NE(page.find("as sent, not read back"), std::string::npos);
  // Exactly the rows whose bytes differ between the as-found image and the radio now.
  const kvsim::Bytes now = b.h.radio().image();
  EXPECT_EQ(b.programImage(), now) << "the program's as-left is what the radio holds";
  int segments = 0;
  for (int i = 0; i < 20; ++i)
    segments += found[216 + 2 * i] != now[216 + 2 * i] || found[217 + 2 * i] != now[217 + 2 * i];
  EXPECT_GT(segments, 10) << "the run changed the table";
  EXPECT_EQ(changedRows(page), 2 + segments) << "Power(Hi), BPF T2 and the table rows that changed";
  EXPECT_NE(page.find("<tr class=\"changed\"><td>Power(Hi)</td><td>byte 79</td><td class=\"n\">" +
                      std::to_string(found[79]) + "</td><td class=\"n\">" + std::to_string(found[79] + 5) +
                      "</td><td class=\"n\">+5</td>"),
            std::string::npos);

  ASSERT_TRUE(b.reconnect());
  page = b.report();
  EXPECT_NE(page.find("verified by a read at "), std::string::npos);
  EXPECT_EQ(changedRows(page), 2 + segments) << "still measured against the as-found image";
}

TEST(Restore, SendsBackExactlyWhatDiffersAndTheRadioHoldsItsAsFoundValues) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  const kvsim::Bytes found = b.h.radio().image();
  b.press(kRowPowerHi, tk::Key::Right, tk::kShiftBit);
  b.press(kRowPowerL2, tk::Key::Left);
  b.press(kRowBpfT2, tk::Key::Right);
  // An RSSI point and TXF entries, as their procedures write them.
  b.press(kRowRssi, tk::Key::Enter, 0, 400);
  b.h.radio().setSignalLevelDbu(30.0);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);  // L0 now: ends the procedure
  b.press(kRowTxf, tk::Key::Enter, 0, 1500);
  b.press(kRowTxf, tk::Key::Right, tk::kShiftBit, 1500);
  b.press(kRowTxf, tk::Key::Enter, 0, 3000);  // into the second phase
  b.press(kRowTxf, tk::Key::Up, 0, 100);      // leaves it there...
  b.press(kRowRssi, tk::Key::Enter, 0, 400);  // ...by starting RSSI, ended by a third Enter
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  ASSERT_EQ(b.h.program().controller().enterStep(), 0);
  const kvsim::Bytes changed = b.h.radio().image();
  const auto expected = restoreList(found, changed);
  ASSERT_GE(expected.size(), 6u);

  // The radio is read first; then the values that differ from the as-found image are
  // offered, sent, and read back.
  b.h.takeE8Commands();
  b.restore();
  ASSERT_EQ(b.h.toolkit().questions().size(), 1u);
  EXPECT_NE(b.h.toolkit().questions()[0].details.find(describeRestore(expected)), std::string::npos)
      << b.h.toolkit().questions()[0].details;
  EXPECT_NE(b.h.toolkit().questions()[0].details.find("CAL points cannot be restored"), std::string::npos);
  ASSERT_EQ(b.h.toolkit().messages().size(), 1u);
  EXPECT_EQ(b.h.toolkit().messages()[0].text, "The as-found values are back in the radio.");
  EXPECT_EQ(b.h.toolkit().messages()[0].details.rfind(
                std::to_string(expected.size()) + " value(s) sent, read back", 0),
            0u)
      << b.h.toolkit().messages()[0].details;

  // Every value the restore sent is an as-found value, each differing one went out.
  std::map<int, int> sent;
  for (const std::string& c : b.h.takeE8Commands()) {
    const int code = std::stoi(c.substr(0, 2), nullptr, 16);
    if (code <= 0x03) continue;  // channel, line speed, mode and monitor requests carry no value
    const std::string digits{static_cast<char>(std::stoi(c.substr(2, 2), nullptr, 16)),
                             static_cast<char>(std::stoi(c.substr(4, 2), nullptr, 16))};
    const int value = std::stoi(digits, nullptr, 16);
    const auto adr = kvsim::eep::addressOfE8Code(code);
    ASSERT_TRUE(adr.has_value()) << c;
    EXPECT_EQ(value, found[static_cast<std::size_t>(*adr)]) << "only as-found values go out: " << c;
    sent[code] = value;
  }
  for (const RestoreValue& v : expected) EXPECT_EQ(sent.count(v.e8Code), 1u) << v.what;
  for (std::int32_t adr : programWrittenAddresses()) {
    EXPECT_EQ(b.h.radio().image()[static_cast<std::size_t>(adr)], found[static_cast<std::size_t>(adr)])
        << adr;
  }
  EXPECT_EQ(b.programImage(), found);
  EXPECT_EQ(b.console().Value(kRowPowerHi), found[79]) << "the rows show the restored values";
  EXPECT_TRUE(b.desk().asLeftReadBack()) << "the restore was read back";
}

TEST(Restore, IsRefusedDuringAProcedureAndBeforeTheAdjustmentPanel) {
  Bench b;
  b.h.toolkit().openMenu("&File");
  EXPECT_FALSE(b.w().mnuFileRestore().enabled()) << "no radio read yet";
  ASSERT_TRUE(b.h.connect());
  b.press(kRowPowerHi, tk::Key::Right);
  EXPECT_TRUE(b.desk().canRestore());
  b.press(kRowTxf, tk::Key::Enter, 0, 400);
  b.h.toolkit().openMenu("&File");
  EXPECT_FALSE(b.w().mnuFileRestore().enabled()) << "TXF runs";
  b.h.takeE8Commands();
  EXPECT_FALSE(b.h.toolkit().chooseMenu("&File/Restore &As-Found Values..."));
  b.desk().RestoreAsFound();  // even when called, it sends nothing
  EXPECT_TRUE(b.h.toolkit().questions().empty());
  b.h.toolkit().click(b.w().cmd00(0));  // a new connection: the start panel until it is read
  b.h.advance(100);
  EXPECT_FALSE(b.desk().canRestore());
}

// A restore is cut off by the cable: what had gone out stays in the radio, nothing of the
// rest goes out after the next connection, and the image then read is the radio's.
TEST(Restore, ACableCutMidRestoreEndsItAndSendsNothingOfItLater) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  b.press(kRowTxf, tk::Key::Enter, 0, 1500);
  b.press(kRowTxf, tk::Key::Right, tk::kShiftBit, 1500);  // six entries rewritten
  b.press(kRowTxf, tk::Key::Up, 0, 100);
  b.press(kRowRssi, tk::Key::Enter, 0, 400);  // leaves TXF; a third Enter ends RSSI
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  ASSERT_EQ(b.h.program().controller().enterStep(), 0);
  ASSERT_GE(restoreList(*b.desk().asFound(), b.programImage()).size(), 4u);

  b.h.toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return true; });
  ASSERT_TRUE(b.h.toolkit().chooseMenu("&File/Restore &As-Found Values..."));
  // The radio is read first, then the values go out.
  ASSERT_TRUE(b.h.runUntil([&] { return b.h.program().controller().RigOpFunc_RestorePending() > 0; }, 60000));
  b.h.advance(450);  // about two values out
  ASSERT_GT(b.h.program().controller().RigOpFunc_RestorePending(), 0u);
  b.h.port().vanish();
  b.h.advance(200);
  ASSERT_EQ(b.h.toolkit().messages().size(), 1u);
  EXPECT_EQ(b.h.program().controller().RigOpFunc_RestorePending(), 0u);

  b.h.toolkit().clearMessages();
  b.h.takeE8Commands();
  ASSERT_TRUE(b.reconnect());
  b.h.advance(3000);
  for (const std::string& c : b.h.takeE8Commands()) {
    const int code = std::stoi(c.substr(0, 2), nullptr, 16);
    EXPECT_FALSE(code >= 0x12 && code <= 0x3B) << "nothing of the restore after the new connection: " << c;
  }
  EXPECT_EQ(b.programImage(), b.h.radio().image());
  EXPECT_TRUE(b.h.toolkit().messages().empty());
}

// "Verified" means read back: a value sent and sent back again leaves the image as the
// read was, but the radio has not been read since.
TEST(Report, AValueChangedAndChangedBackIsNotVerifiedUntilTheRadioIsReadAgain) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  EXPECT_NE(b.report().find("verified by a read at "), std::string::npos) << "nothing sent since the read";
  b.press(kRowPowerHi, tk::Key::Right);
  b.press(kRowPowerHi, tk::Key::Left);
  EXPECT_EQ(b.programImage(), b.h.radio().image());
  std::string page = b.report(false);
  EXPECT_EQ(page.find("verified"), std::string::npos);
  EXPECT_NE(page.find("as sent, not read back"), std::string::npos);
  // Reading back, offered by the report itself, verifies it.
  page = b.report(true);
  EXPECT_NE(page.find("verified by a read at "), std::string::npos);
  EXPECT_EQ(page.find("Read-back failures"), std::string::npos);
}

// What the radio does not hold as sent is a failure of the report, item by item.
TEST(Report, AReadBackThatDiffersFromWhatWasSentIsReportedItemByItemAsAFailure) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  const kvsim::Bytes found = b.h.radio().image();
  b.press(kRowPowerHi, tk::Key::Right, tk::kShiftBit);
  b.press(kRowPowerL2, tk::Key::Right);
  // The radio lost the Power(Hi) value (a write that did not stick).
  kvsim::Bytes held = b.h.radio().image();
  held[79] = found[79];
  b.h.radio().setImage(held);
  const std::string page = b.report(true);
  EXPECT_EQ(page.find("verified"), std::string::npos) << "never verified";
  EXPECT_NE(page.find("1 value(s) differ from what was sent"), std::string::npos);
  EXPECT_NE(page.find("<h2>Read-back failures</h2>"), std::string::npos);
  EXPECT_NE(page.find("Power(Hi): sent " + std::to_string(found[79] + 5) + ", read back " +
                      std::to_string(found[79])),
            std::string::npos);
  EXPECT_EQ(page.find("Power(L2): sent"), std::string::npos) << "what stuck is no failure";
}

// A restore proves the radio first: the cable moved to another radio without a new
// connection gets nothing of the as-found radio's values.
TEST(Restore, SendsNothingToAnotherRadioOnTheCable) {
  Bench b;
  ASSERT_TRUE(b.h.connect());
  const kvsim::Bytes found = b.h.radio().image();
  b.press(kRowPowerHi, tk::Key::Right, tk::kShiftBit);
  b.press(kRowRssi, tk::Key::Enter, 0, 400);
  b.h.radio().setSignalLevelDbu(30.0);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);
  b.press(kRowRssi, tk::Key::Enter, 0, 1000);  // L0: the procedure ends
  ASSERT_FALSE(restoreList(found, b.programImage()).empty());

  kvsim::Bytes another = found;
  for (std::size_t a = 0; a < 48; ++a)
    another[a] = static_cast<std::uint8_t>('A' + a % 26);  // its identity block
  another[79] = 17;
  another[86] = 40;
  b.h.radio().setImage(another);
  b.h.takeE8Commands();
  b.restore();
  EXPECT_TRUE(b.h.toolkit().questions().empty()) << "no values are offered";
  ASSERT_EQ(b.h.toolkit().messages().size(), 1u);
  EXPECT_EQ(b.h.toolkit().messages()[0].text,
            "The radio on the cable is not the as-found radio.\r\nNothing was sent to it.");
  b.h.advance(3000);
  for (const std::string& c : b.h.takeE8Commands()) {
    const int code = std::stoi(c.substr(0, 2), nullptr, 16);
    EXPECT_FALSE(code >= 0x12 && code <= 0x3B) << "no RSSI point or TXF entry: " << c;
  }
  EXPECT_EQ(b.h.radio().image()[79], 17) << "the other radio keeps its own values";
  EXPECT_EQ(b.h.radio().image()[86], 40);
  EXPECT_FALSE(b.desk().canRestore());
}
