// The clone read on the wire, its failures and the release of the port, with the whole
// program and the in-process virtual radio.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ProgramHarness.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/ServiceDesk.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

const std::string kCheck = "\r\n\r\nCheck the following:\r\n";
const std::string kPort = "- The COM port settings.\r\n";
const std::string kCable = "- Cloning cable connections.\r\n";
const std::string kPower = "- Transceiver power is ON.";

Bytes frame(std::initializer_list<std::uint8_t> payload) {
  Bytes f;
  f.reserve(payload.size() + 5);
  for (std::uint8_t b : {0xFE, 0xFE, 0xEE, 0xEF}) f.push_back(b);
  for (std::uint8_t b : payload) f.push_back(b);
  f.push_back(0xFD);
  return f;
}

HarnessOptions withFault(const char* name) {
  HarnessOptions o;
  o.radio.faults.push_back(*kvsim::parseFault(name));
  return o;
}

// Clicks Connect and lets the clone read run; returns the messages shown.
std::vector<std::string> connectAndWait(ProgramHarness& h, std::int32_t ms = 25000) {
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(ms);
  std::vector<std::string> texts;
  for (const auto& m : h.toolkit().messages()) texts.push_back(m.text);
  return texts;
}

}  // namespace

TEST(CloneRead, TheWholeExchangeOnTheWireWithBothSpeedSwitches) {
  ProgramHarness h;
  clsCmcDornSequence& seq = h.program().sequencer();
  seq.easyCloneRead();
  ASSERT_TRUE(h.runUntil([&] { return !seq.OpRunning(); }, 30000));
  const std::int32_t took = h.nowMs();

  Bytes expected = frame({0xE0, 0x26, 0x51, 0x00, 0x00});
  const Bytes e8 = frame({0xE8, 0x26, 0x51, 0x01, 0x00, 0x01, 0x30, 0x39});
  expected.insert(expected.end(), e8.begin(), e8.end());
  expected.insert(expected.end(), 39, 0xFE);
  const Bytes e2 = frame({0xE2, 0x26, 0x51, 0x01, 0x00});
  expected.insert(expected.end(), e2.begin(), e2.end());
  expected.insert(expected.end(), 11, 0xFE);
  EXPECT_EQ(h.port().sentLog(), expected);

  EXPECT_EQ(seq.error(), SeqError::None);
  EXPECT_EQ(h.program().com().dornD().lastError(), CloneError::None);
  EXPECT_TRUE(h.program().com().comOpen()) << "the port stays open after the operation";
  EXPECT_EQ(h.port().baud(), 9600);
  EXPECT_EQ(h.radio().baud(), 9600);
  EXPECT_EQ(h.program().radio().eepImage().ReadBlock(0, 15968), h.radio().image());
  EXPECT_TRUE(h.toolkit().messages().empty());
  // 998 records of 46 bytes at 38400 baud take 11.95 s on the wire.
  EXPECT_GT(took, 11950);
  EXPECT_LT(took, 14000);
}

TEST(CloneRead, EachIdentificationFailureEndsWithItsMessageAndAClosedPort) {
  struct Case {
    const char* fault;
    std::string message;
  } cases[] = {
      {"wrong-model", "Cannot Clone." + kCheck + kPort + kCable + kPower},
      {"sub-model-0101", "Version number does not match\r\nfor this transceiver."},
      {"version-04", "Connected transceiver is not compatible model." + kCheck +
                         "- Appropriate cloning software for the transceiver is being used.\r\n"
                         "- The revision number of the transceiver."},
      {"silent", "No answer from transceiver." + kCheck + kPort + kCable + kPower},
      {"bad-checksum=17", "Illegal data." + kCheck + kPort + kCable + kPower},
      {"bad-count", "Data counter error." + kCheck + kPort + kCable + kPower},
      {"outside-image=3", "Data overflow." + kCheck + kPort + kCable + kPower},
  };
  for (const Case& c : cases) {
    ProgramHarness h(withFault(c.fault));
    const auto texts = connectAndWait(h);
    ASSERT_EQ(texts.size(), 1u) << c.fault;
    EXPECT_EQ(texts[0], c.message) << c.fault;
    EXPECT_FALSE(h.program().com().comOpen()) << c.fault;
    EXPECT_EQ(h.program().sequencer().Operation(), SeqOperation::None) << c.fault;
    EXPECT_EQ(h.program().controller().opState(), TarnState::Idle) << c.fault;
    EXPECT_TRUE(h.program().mainWindow().fra01(0).visible()) << c.fault;
  }
}

TEST(CloneRead, AnOlderFormatVersionAndAnAcceptedSubModelConnect) {
  for (const char* fault : {"version-02", "echo", "noise"}) {
    ProgramHarness h(withFault(fault));
    const bool connected = h.connect();
    for (const auto& m : h.toolkit().messages()) ADD_FAILURE() << fault << ": " << m.text;
    ASSERT_TRUE(connected) << fault << " state " << number(h.program().controller().opState());
    EXPECT_TRUE(h.toolkit().messages().empty()) << fault;
    EXPECT_EQ(h.program().radio().eepImage().ReadBlock(0, 15968), h.radio().image()) << fault;
  }
  HarnessOptions o;
  o.radio.subModel = "0099";
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  EXPECT_EQ(h.program().radio().radionameS(), "0099");
  EXPECT_EQ(h.program().controller().modelId(), (Bytes{0x26, 0x51, 0x00, 0x99}));
}

TEST(CloneRead, APortThatCannotBeOpenedIsReportedOnce) {
  ProgramHarness h;
  h.toolkit().chooseMenu("&Option/&Port/COM &3 \u2014 no serial port");  // no device behind COM 3
  const auto texts = connectAndWait(h, 3000);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "Cannot access COM 3." + kCheck + kPort + kCable + kPower);
  EXPECT_FALSE(h.program().com().errCannotOpen()) << "the reset after the message clears it";
}

TEST(CloneRead, APortThatVanishesMidReadEndsItWithOneMessage) {
  ProgramHarness h;
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(4000);
  ASSERT_EQ(h.program().controller().opState(), TarnState::CloneRead) << "the image is still arriving";
  h.port().vanish();
  h.advance(20000);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text.substr(0, 20), "Cannot access COM 1.");
  EXPECT_FALSE(h.program().com().comOpen());
  EXPECT_EQ(h.program().controller().opState(), TarnState::Idle) << "a read cut short never completes";
  EXPECT_FALSE(h.program().com().dornD().Running());
  EXPECT_EQ(h.program().com().failureReason(), "the device went away");
}

TEST(PortRelease, TheIdlePortClosesAfterTheChosenTimeAndNeverWhenOff) {
  ProgramHarness h;
  h.toolkit().chooseMenu("&Option/&Auto port release/&3 sec");
  ASSERT_TRUE(h.connect());
  ASSERT_TRUE(h.program().com().comOpen());
  ASSERT_TRUE(h.runUntil([&] { return !h.program().com().comOpen(); }, 10000));
  // From the end of the last operation (its frame's last byte at the radio).
  const std::int64_t lastFrameUs = h.radio().frames().back().atUs;
  const std::int64_t idle = (h.nowUs() - lastFrameUs) / 1000;
  // The last operation ended when its frame was queued, 13.5 ms before its last byte.
  EXPECT_GE(idle, 3000 - 15);
  EXPECT_LE(idle, 3000 + 100);
  EXPECT_TRUE(h.toolkit().messages().empty());
  // The next item reopens the port.
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(1);
  h.toolkit().pressKey(list, tk::Key::Right);
  h.advance(100);
  EXPECT_TRUE(h.program().com().comOpen());

  ProgramHarness off;
  ASSERT_TRUE(off.connect());
  off.advance(10000);
  EXPECT_TRUE(off.program().com().comOpen());
}

// ---- A read commits whole or not at all ----

namespace {

// An image unlike the default one wherever it can be: every byte of the radio's memory
// set to a pattern of its own (a radio that was never the first one).
kvsim::Bytes otherImage(const kvsim::Bytes& like) {
  kvsim::Bytes other = like;
  for (std::size_t a = 0; a < other.size(); ++a) other[a] = static_cast<std::uint8_t>(other[a] ^ 0x5A);
  return other;
}

// Saves the image through File > Save Image As... to a file in the test folder; the
// suggested name, and the bytes saved (empty when the item was not offered).
std::pair<std::string, kvsim::Bytes> saveImageAs(ProgramHarness& h) {
  const std::filesystem::path file = h.folder() / "saved.bin";
  std::string suggested;
  h.toolkit().setFileChooserHook([&](const HeadlessToolkit::FileRequest& r) {
    suggested = r.suggestedPath;
    return file.string();
  });
  if (!h.toolkit().chooseMenu("&File/&Save Image As...")) return {};
  std::ifstream in(file, std::ios::binary);
  return {std::filesystem::path(suggested).filename().string(),
          kvsim::Bytes(std::istreambuf_iterator<char>(in), {})};
}

}  // namespace

TEST(CloneRead, AReadThatFailsLeavesTheLastWholeReadAndItsRadioAsTheyWere) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  const kvsim::Bytes first = h.radio().image();
  // The read's backup is named by the time the read completed.
  const std::string backup = h.program().serviceDesk().asFoundFile();
  ASSERT_FALSE(backup.empty());

  // Another radio, with another sub-model code, whose read the cable cuts midway.
  h.radio().setRadio(otherImage(first), "0099", 998);
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  ASSERT_TRUE(h.runUntil([&] { return h.program().com().dornD().lastEeAdr() > 4000; }, 20000));
  EXPECT_FALSE(h.program().serviceDesk().canSaveImage()) << "no image is offered while a read runs";
  h.toolkit().openMenu("&File");
  EXPECT_FALSE(h.program().mainWindow().mnuFileSaveImage().enabled());
  EXPECT_FALSE(h.program().mainWindow().mnuFileReport().enabled());
  h.radio().setSilent(true, h.nowUs());
  ASSERT_TRUE(h.runUntil([&] { return !h.toolkit().messages().empty(); }, 5000));
  h.toolkit().clearMessages();

  EXPECT_EQ(h.program().radio().eepImage().ReadBlock(0, 15968), first) << "nothing of the cut read";
  EXPECT_EQ(h.program().radio().radionameS(), "0100") << "the identity of the last whole read";
  const auto [name, saved] = saveImageAs(h);
  EXPECT_EQ(saved, first);
  // Named by the time of the read it holds.
  EXPECT_EQ(name, "2651-0100-" + std::filesystem::path(backup).filename().string().substr(0, 15) + ".bin");
}

TEST(CloneRead, ARadioWhoseMemoryEndsEarlyLeavesNothingOfAnEarlierRadioAboveItsEnd) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  const kvsim::Bytes other = otherImage(h.radio().image());
  h.radio().setRadio(other, "0100", 960);  // its memory ends at 3BFF
  ASSERT_TRUE(h.connect());
  const Bytes image = h.program().radio().eepImage().ReadBlock(0, 15968);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 15360, other.begin())) << "the radio's own bytes";
  EXPECT_TRUE(std::all_of(image.begin() + 15360, image.end(), [](std::uint8_t b) { return b == 0; }))
      << "nothing above the radio's end, of this radio or the one before";
  EXPECT_EQ(h.program().radio().readEnd(), 15360);
  // The listing says which part of the image is the radio's.
  const std::string listing = h.program().controller().memoryMap().RigTarnEep_ParaText();
  EXPECT_NE(listing.find("Read from the radio: 0000h..3BFFh"), std::string::npos)
      << listing.substr(listing.size() - 200);
}

// The cable goes onto another radio, of a longer memory, between the identification and
// the clone read: its records past the end the first radio named are not that radio's,
// and the read fails rather than pass for a radio whose memory ends there.
TEST(CloneRead, RecordsPastTheEndTheIdentificationNamedFailTheRead) {
  HarnessOptions o;
  o.radio.records = 304;  // its memory ends at 12FF
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  const Bytes first = h.program().radio().eepImage().ReadBlock(0, 15968);
  const kvsim::Bytes other = otherImage(h.radio().image());
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  ASSERT_TRUE(h.runUntil(
      [&] {
        const auto& f = h.radio().frames();
        return !f.empty() && f.back().fromRadio && f.back().command() == 0xE1;
      },
      2000))
      << "the identification is on its way";
  h.radio().setRadio(other, "0100", 376);  // its memory ends at 177F
  ASSERT_TRUE(h.runUntil([&] { return !h.toolkit().messages().empty(); }, 20000));
  EXPECT_EQ(h.toolkit().messages()[0].text, "Data overflow." + kCheck + kPort + kCable + kPower);
  EXPECT_EQ(h.program().radio().eepImage().ReadBlock(0, 15968), first) << "nothing of the refused read";

  h.toolkit().clearMessages();
  h.advance(6000);  // the radio ends its stream
  ASSERT_TRUE(h.connect()) << "identified and read by the same radio";
  const Bytes image = h.program().radio().eepImage().ReadBlock(0, 15968);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 376 * 16, other.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + 376 * 16, image.end(), [](std::uint8_t b) { return b == 0; }));
}
