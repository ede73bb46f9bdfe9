// Operation sequencer: the step machines run against a scripted radio through the
// recording serial host, with the poll tick emulated as the serial host runs it (received
// bytes to the driver, driver task, sequencer task, and the sequencer once more while an
// operation runs), every 50 ms of a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "clone/CloneErrorText.h"
#include "clone/CloneHooks.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "radio/clsCmcRadio.h"
#include "support/CloneFrames.h"
#include "support/FakeComHost.h"

namespace tarnset {
namespace {

using test::cat;
using test::e1;
using test::E1Fields;
using test::e4;
using test::e4Raw;
using test::e5;
using test::e6;
using test::e8;
using test::FakeComHost;
using test::hx;
using test::wire;

const std::string kIdentFrame = "FEFEEEEFE026510000FD";
const std::string kHighSpeedFrame = "FEFEEEEFE826510100013039FD";
const std::string kReadRequest = "FEFEEEEFE226510100FD";

// The transceiver as far as these tests need it: it answers the identification, switches
// to high speed on E8 013039, streams its image after E2 (only at 38400 baud after the
// switch), answers E8 commands it has an answer for, and E6 after a clone write.
class ScriptedRadio {
 public:
  E1Fields ident;
  bool answerIdent = true;
  Bytes image = Bytes(15968);
  std::size_t corruptRecord = SIZE_MAX;  // index of a record sent with a bad checksum
  std::map<std::uint8_t, Bytes> e8Answers;
  std::vector<std::string> received;

  ScriptedRadio() {
    for (std::size_t a = 0; a < image.size(); ++a) image[a] = static_cast<std::uint8_t>(a * 13 + 5);
  }

  Bytes respond(const std::string& hex, std::int32_t baud) {
    received.push_back(hex);
    const Bytes f = hx(hex);
    if (f.size() < 6 || f[2] != 0xEE || f[3] != 0xEF) return {};
    switch (f[4]) {
      case 0xE0:
        return answerIdent ? wire(e1(ident)) : Bytes{};
      case 0xE8:
        if (f.size() >= 12 && f[9] == 0x01 && f[10] == 0x30 && f[11] == 0x39) {
          highSpeed_ = true;
          return {};
        }
        if (auto it = e8Answers.find(f[9]); it != e8Answers.end()) return wire(e8(f[9], it->second));
        return {};
      case 0xE2:
        return (highSpeed_ && baud == 38400) ? cloneStream() : Bytes{};
      case 0xE5:
        return wire(e6(0x00));
      default:
        return {};
    }
  }

 private:
  Bytes cloneStream() const {
    Bytes out;
    std::uint8_t count = 0;
    for (std::size_t i = 0; i * 16 < image.size(); ++i) {
      const auto adr = static_cast<std::uint16_t>(i * 16);
      const Bytes data(image.begin() + adr, image.begin() + adr + 16);
      out = cat(out, wire(i == corruptRecord ? e4Raw(adr, 16, data, 1) : e4(adr, data)));
      ++count;
    }
    return cat(out, wire(e5(count)));
  }
  bool highSpeed_ = false;
};

// The main window's error dialog: composes the message as the program does and notes it.
class RecordingReporter : public CloneErrorReporter {
 public:
  explicit RecordingReporter(FakeComHost& com) : com_(com) {}
  void MsgBoxCloneErr(clsCmcDornSequence& seq) override {
    CloneErrorInputs in;
    in.errCannotOpen = com_.errCannotOpen;
    in.errOverflow = com_.errOverflow;
    in.lastError = com_.dornD().lastError();
    in.seqError = seq.error();
    in.portText = " " + std::to_string(com_.comPortNum());
    messages.push_back(composeCloneError(in));
    seqErrors.push_back(seq.error());
    portOpenAtReport.push_back(com_.comOpen());
  }
  // The first line of each message.
  std::vector<std::string> headlines() const {
    std::vector<std::string> out;
    for (const std::string& m : messages) out.push_back(m.substr(0, m.find("\r\n")));
    return out;
  }
  std::vector<std::string> messages;
  std::vector<SeqError> seqErrors;
  std::vector<bool> portOpenAtReport;

 private:
  FakeComHost& com_;
};

class SubModelList : public SubModelCheck {
 public:
  bool RigOpFunc_CheckSubNameLegal(const std::string& nameS) override {
    asked.push_back(nameS);
    return accepted.count(nameS) > 0;
  }
  std::set<std::string> accepted{"0100"};
  std::vector<std::string> asked;
};

class SequencerTest : public ::testing::Test {
 protected:
  SequencerTest() {
    radio.setRadioNameM("2651");
    radio.setRadionameS("0100");
    radio.cloneWriteAdrList_Clear();
    radio.cloneWriteAdrList_Add(0, 15967);
    seq.setErrorReporter(&reporter);
    seq.setSubModelCheck(&subModels);
    com.takeLog();
  }

  // One poll tick of the serial host.
  void tick() {
    clock.advance(50);
    for (; answered_ < com.sent.size(); ++answered_) {
      rxQueue_ = cat(rxQueue_, transceiver.respond(com.sent[answered_], com.comBaud()));
    }
    if (!com.comOpen()) rxQueue_.clear();  // nobody listens on a closed port
    const std::size_t n = std::min<std::size_t>(rxQueue_.size(), 960);
    if (n > 0) {
      drv.read(Bytes(rxQueue_.begin(), rxQueue_.begin() + static_cast<std::ptrdiff_t>(n)));
      rxQueue_.erase(rxQueue_.begin(), rxQueue_.begin() + static_cast<std::ptrdiff_t>(n));
    }
    drv.task();
    stepSequencer();
    if (seq.OpRunning()) stepSequencer();
  }

  // Ticks until the operation has ended (at most maxMs).
  void runOperation(int maxMs = 60000) {
    for (int t = 0; t < maxMs && seq.OpRunning(); t += 50) tick();
  }

  // Ticks until the log holds the entry.
  void runUntilLogged(const std::string& entry, int maxMs = 60000) {
    for (int t = 0; t < maxMs; t += 50) {
      if (std::find(com.log.begin(), com.log.end(), entry) != com.log.end()) return;
      tick();
    }
    FAIL() << "never logged: " << entry;
  }

  // Forgets the frames sent so far: the radio answers only what is sent from now on.
  void rebase() {
    answered_ = com.sent.size();
    rxQueue_.clear();
    sentPerCall.clear();
  }

  bool logged(const std::string& entry) const {
    return std::find(com.log.begin(), com.log.end(), entry) != com.log.end();
  }

  void stepSequencer() {
    const std::size_t before = com.sent.size();
    seq.task();
    if (com.sent.size() > before) sentPerCall.emplace_back(com.sent.begin() + before, com.sent.end());
  }

  ManualTickSource clock{5000};
  FakeComHost com{clock};
  clsCmcDornDrv& drv = com.dornD();
  clsCmcRadio radio;
  clsCmcDornSequence seq{com, radio, clock};
  RecordingReporter reporter{com};
  SubModelList subModels;
  ScriptedRadio transceiver;
  // The frames each sequencer call produced (calls that sent nothing are left out).
  std::vector<std::vector<std::string>> sentPerCall;

 private:
  std::size_t answered_ = 0;
  Bytes rxQueue_;
};

std::string fe(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "FE";
  return s;
}

// ---- Clone read --------------------------------------------------------------------------

TEST_F(SequencerTest, CloneReadOnTheWire) {
  seq.easyCloneRead();
  EXPECT_TRUE(seq.OpRunning());
  runOperation();

  const std::vector<std::string> expected = {
      "open 9600",  "tx " + kIdentFrame, "tx " + kHighSpeedFrame, "close", "highspeed",
      "open 38400", "tx " + fe(39),      "tx " + kReadRequest,    "close", "reset",
      "open 9600",  "tx " + fe(11),
  };
  EXPECT_EQ(com.log, expected);
  // The burst and the clone read request leave in one call of the sequencer.
  EXPECT_NE(std::find(sentPerCall.begin(), sentPerCall.end(), std::vector<std::string>{fe(39), kReadRequest}),
            sentPerCall.end());

  EXPECT_FALSE(seq.OpRunning());
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
  EXPECT_TRUE(com.comOpen());
  EXPECT_EQ(com.comBaud(), 9600);
  EXPECT_EQ(seq.error(), SeqError::None);
  EXPECT_EQ(drv.lastError(), CloneError::None);
  EXPECT_TRUE(reporter.messages.empty());
  EXPECT_EQ(radio.eepImage().ReadBlock(0, 15968), transceiver.image);
  EXPECT_EQ(drv.EndAddress(), 15968);
  EXPECT_EQ(drv.lastEeAdr(), 15967);
  EXPECT_EQ(subModels.asked, std::vector<std::string>{"0100"});
}

TEST_F(SequencerTest, HighSpeedRequestRunsAsANestedE8OperationAndHandsBack) {
  seq.easyCloneRead();
  runUntilLogged("tx " + kHighSpeedFrame);
  EXPECT_EQ(seq.Operation(), SeqOperation::E8);  // the E8 command stands in for the clone read
  EXPECT_TRUE(seq.OpRunning());
  tick();
  EXPECT_EQ(seq.Operation(), SeqOperation::CloneRead);
  EXPECT_TRUE(logged("highspeed"));
}

TEST_F(SequencerTest, SubModelReportedByTheRadioReplacesTheIdentitysCode) {
  transceiver.ident.subModel = 0x0200;
  subModels.accepted = {"0200"};
  seq.easyCloneRead();
  runOperation();
  EXPECT_EQ(radio.radionameS(), "0200");
  EXPECT_TRUE(logged("tx FEFEEEEFE826510200013039FD"));
  EXPECT_TRUE(logged("tx FEFEEEEFE226510200FD"));
}

TEST_F(SequencerTest, IdentificationFailuresCloseThePortAndReport) {
  struct Case {
    const char* what;
    E1Fields ident;
    bool answer;
    std::int16_t seqError;
    std::int16_t lastError;
    const char* headline;
  };
  auto with = [](auto change) {
    E1Fields f;
    change(f);
    return f;
  };
  const std::vector<Case> cases = {
      {"another model", with([](E1Fields& f) { f.model = 0x2652; }), true, 1, 0, "Cannot Clone."},
      {"newer format", with([](E1Fields& f) { f.version = 0x04; }), true, 3, 0,
       "Connected transceiver is not compatible model."},
      {"sub-model refused", with([](E1Fields& f) { f.subModel = 0x0300; }), true, 2, 0,
       "Version number does not match"},
      {"another model and sub-model refused: the later check wins",
       with([](E1Fields& f) { f.model = 0x2652, f.subModel = 0x0300; }), true, 2, 0,
       "Version number does not match"},
      {"malformed answer", with([](E1Fields& f) { f.lengthByteDelta = 2; }), true, 4, 3, "Illegal data."},
      {"no answer", {}, false, 4, 2, "No answer from transceiver."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    seq.easyReset(1);
    reporter.messages.clear();
    reporter.seqErrors.clear();
    reporter.portOpenAtReport.clear();
    com.sent.clear();
    com.log.clear();
    transceiver = ScriptedRadio();
    transceiver.ident = c.ident;
    transceiver.answerIdent = c.answer;
    rebase();

    seq.easyCloneRead();
    runOperation();
    EXPECT_EQ(reporter.seqErrors, std::vector<SeqError>{static_cast<SeqError>(c.seqError)});
    EXPECT_EQ(number(drv.lastError()), c.lastError);
    EXPECT_EQ(reporter.headlines(), std::vector<std::string>{c.headline});
    EXPECT_EQ(reporter.portOpenAtReport, std::vector<bool>{false});
    EXPECT_FALSE(com.comOpen());
    EXPECT_EQ(seq.Operation(), SeqOperation::None);
    EXPECT_EQ(com.sent, std::vector<std::string>{kIdentFrame});  // nothing after the identification
  }
}

TEST_F(SequencerTest, UnwiredSubModelCheckRefusesNothing) {
  seq.setSubModelCheck(nullptr);
  transceiver.ident.subModel = 0x0999;
  seq.easyCloneRead();
  runOperation();
  EXPECT_EQ(seq.error(), SeqError::None);
  EXPECT_EQ(radio.radionameS(), "0999");
}

TEST_F(SequencerTest, FormatVersionSides) {
  struct Case {
    std::int16_t operation;
    std::uint8_t version;
    bool accepted;
  };
  // Clone read: "00".."03" accepted, anything sorting above "03" refused.
  // Clone write: exactly "03".
  const std::vector<Case> cases = {
      {2, 0x00, true},  {2, 0x02, true}, {2, 0x03, true},  {2, 0x04, false}, {2, 0x0A, false},
      {2, 0x10, false}, {3, 0x03, true}, {3, 0x02, false}, {3, 0x04, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("operation " + std::to_string(c.operation) + " version " + std::to_string(c.version));
    seq.easyReset(1);
    reporter.seqErrors.clear();
    rebase();
    transceiver.ident.version = c.version;
    if (c.operation == 2) {
      seq.easyCloneRead();
    } else {
      seq.easyCloneWrite();
    }
    tick();  // the identification answer arrives and is checked
    EXPECT_EQ(seq.error(), c.accepted ? SeqError::None : SeqError::FormatVersion);
    EXPECT_EQ(reporter.seqErrors.empty(), c.accepted);
  }
}

TEST_F(SequencerTest, DriverErrorDuringTheStreamIsReportedByTheSequencer) {
  transceiver.corruptRecord = 100;
  seq.easyCloneRead();
  runOperation();
  EXPECT_EQ(reporter.headlines(), std::vector<std::string>{"Illegal data."});
  EXPECT_FALSE(com.comOpen());
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
  EXPECT_FALSE(logged("tx " + fe(11)));  // never returns to 9600 as a finished read
}

// ---- A port that goes away --------------------------------------------------------------

TEST_F(SequencerTest, PortVanishingDuringTheStreamFailsTheCloneRead) {
  seq.easyCloneRead();
  for (int t = 0; t < 60000 && drv.lastEeAdr() < 0x1000; t += 50) tick();
  ASSERT_GE(drv.lastEeAdr(), 0x1000);
  com.vanish();
  runOperation();

  EXPECT_EQ(reporter.seqErrors, std::vector<SeqError>{SeqError::ExchangeLost});
  EXPECT_EQ(reporter.headlines(), std::vector<std::string>{"Cannot Clone."});
  EXPECT_FALSE(com.comOpen());
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
  const auto vanished = std::find(com.log.begin(), com.log.end(), "vanish");
  EXPECT_EQ(std::find(vanished, com.log.end(), "open 9600"), com.log.end());
  EXPECT_NE(radio.eepImage().ReadBlock(0x3E50, 16),
            Bytes(transceiver.image.begin() + 0x3E50, transceiver.image.end()));
}

TEST_F(SequencerTest, PortVanishingDuringIdentificationDoesNotUseTheLastAnswer) {
  seq.setOperation(SeqOperation::Identify);  // a good identification leaves its answer in the driver
  seq.start();
  runOperation();
  ASSERT_FALSE(drv.ansInfo().empty());

  transceiver.answerIdent = false;
  seq.easyCloneRead();
  tick();
  com.vanish();
  runOperation();
  EXPECT_EQ(reporter.seqErrors, std::vector<SeqError>{SeqError::ExchangeLost});
  EXPECT_FALSE(logged("tx " + kHighSpeedFrame));
}

TEST_F(SequencerTest, PortThatCannotBeOpenedAtHighSpeedFailsTheCloneRead) {
  seq.easyCloneRead();
  runUntilLogged("highspeed");
  com.setOpenFails(true);
  runOperation();
  EXPECT_EQ(reporter.headlines(), std::vector<std::string>{"Cannot access COM 1."});
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
  EXPECT_FALSE(logged("tx " + kReadRequest));
  EXPECT_FALSE(logged("tx " + fe(11)));
}

// ---- Resets between operations ------------------------------------------------------------

TEST_F(SequencerTest, ResetAfterTheHighSpeedRequestLeavesNothingPending) {
  seq.easyCloneRead();
  runUntilLogged("tx " + kHighSpeedFrame);
  seq.easyReset(1);  // as the model controller does after a message
  com.log.clear();

  // An E8 command afterwards runs as itself and does not resume the old clone read.
  seq.easySendE8NoAnswer("053541");
  runOperation();
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
  EXPECT_FALSE(logged("highspeed"));

  // A new clone read asks the radio for high speed again before switching.
  com.log.clear();
  seq.easyCloneRead();
  runUntilLogged("highspeed");
  const auto request = std::find(com.log.begin(), com.log.end(), "tx " + kHighSpeedFrame);
  const auto sw = std::find(com.log.begin(), com.log.end(), "highspeed");
  EXPECT_LT(request, sw);
}

// ---- E8 commands ---------------------------------------------------------------------------

TEST_F(SequencerTest, E8WithoutAnswerSendsOneFrameAndEndsOnTheNextTick) {
  seq.easySendE8NoAnswer("053541");
  EXPECT_EQ(com.sent, std::vector<std::string>{"FEFEEEEFE826510100053541FD"});
  EXPECT_TRUE(seq.OpRunning());
  tick();
  EXPECT_FALSE(seq.OpRunning());
  EXPECT_TRUE(com.comOpen());
  EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(SequencerTest, E8WithAnswerDeliversTheAnswer) {
  transceiver.e8Answers[0x05] = hx("30 30");
  EXPECT_FALSE(seq.easySendE8ReqAnswer("053541"));
  runOperation();
  EXPECT_EQ(drv.varLastE8Answer(), hx("26 51 01 00 05 30 30"));
  EXPECT_EQ(drv.lastError(), CloneError::None);
  EXPECT_TRUE(com.comOpen());
}

TEST_F(SequencerTest, E8WithAnswerUnansweredIsSentThreeTimesThenReported) {
  std::vector<int> sentAt;
  seq.easySendE8ReqAnswer("053541");
  int t = 0;
  std::size_t seen = com.sent.size();
  sentAt.push_back(0);
  for (; t < 10000 && seq.OpRunning(); t += 50) {
    tick();
    if (com.sent.size() > seen) sentAt.push_back(t + 50);
    seen = com.sent.size();
  }
  EXPECT_EQ(sentAt, (std::vector<int>{0, 1200, 2400}));
  EXPECT_EQ(reporter.headlines(), std::vector<std::string>{"No answer from transceiver."});
  EXPECT_FALSE(com.comOpen());
  EXPECT_EQ(seq.Operation(), SeqOperation::None);
}

// A write the port refuses (a failing adapter) fails the command at its next step, with
// or without an answer expected, instead of passing for sent or waiting for an answer
// that cannot come.
TEST_F(SequencerTest, AnE8ThePortRefusesFailsAtOnce) {
  for (bool request : {false, true}) {
    SCOPED_TRACE(request ? "request" : "command without answer");
    reporter.messages.clear();
    com.setComOpen(true);
    com.setWriteRefused(true);
    if (request) {
      seq.easySendE8ReqAnswer("033030");
    } else {
      seq.easySendE8NoAnswer("053541");
    }
    EXPECT_TRUE(seq.sendRefused());
    EXPECT_TRUE(seq.OpRunning());
    stepSequencer();  // the second step of the same tick
    EXPECT_FALSE(seq.OpRunning());
    EXPECT_EQ(seq.error(), SeqError::ExchangeLost);
    EXPECT_FALSE(com.comOpen());
    EXPECT_EQ(reporter.headlines(), std::vector<std::string>{"Cannot Clone."});
    EXPECT_TRUE(com.sent.empty()) << "nothing reached the wire";
    com.setWriteRefused(false);
  }
}

TEST_F(SequencerTest, OperationOneIdentifiesWithoutChecks) {
  transceiver.ident.model = 0x1234;  // would fail a clone read's check
  seq.setOperation(SeqOperation::Identify);
  seq.start();
  EXPECT_EQ(com.sent, std::vector<std::string>{kIdentFrame});
  runOperation();
  EXPECT_EQ(seq.error(), SeqError::None);
  EXPECT_TRUE(reporter.messages.empty());
  EXPECT_EQ(seq.ansNameM(), "1234");
  EXPECT_EQ(seq.ansNameS(), "0100");
  EXPECT_EQ(com.sent.size(), 1u);
}

// ---- Clone write ---------------------------------------------------------------------------

TEST_F(SequencerTest, CloneWriteSendsTheWholeImageAndEndsOnTheWriteResult) {
  seq.easyCloneWrite();
  runOperation();
  ASSERT_EQ(com.sent.size(), 1u + 1u + 998u + 1u);
  EXPECT_EQ(com.sent[1], "FEFEEEEFE326510100FD");
  EXPECT_EQ(seq.error(), SeqError::None);
  EXPECT_EQ(drv.lastError(), CloneError::None);
  EXPECT_TRUE(reporter.messages.empty());
  EXPECT_TRUE(com.comOpen());
}

// ---- Idle release --------------------------------------------------------------------------

TEST_F(SequencerTest, IdleReleaseClosesThePortAfterTheChosenTime) {
  seq.setComHoldReload(3000);
  seq.easySendE8NoAnswer("053541");
  tick();  // the last tick on which the operation was active
  ASSERT_FALSE(seq.OpRunning());
  int closedAfter = -1;
  for (int t = 50; t <= 10000 && closedAfter < 0; t += 50) {
    tick();
    if (!com.comOpen()) closedAfter = t;
  }
  EXPECT_EQ(closedAfter, 3000);
}

TEST_F(SequencerTest, IdleReleaseZeroKeepsThePortOpen) {
  seq.setComHoldReload(0);
  seq.easySendE8NoAnswer("053541");
  for (int t = 0; t < 10000; t += 50) tick();
  EXPECT_TRUE(com.comOpen());
}

}  // namespace
}  // namespace tarnset
