// Frame driver: framing, the receive cutter, waits and resends, answer checks, clone
// records and the clone-write chain. Frames are built with tests/support/CloneFrames,
// an independent reading of the frame layout; expected wire bytes are written out by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TickSource.h"
#include "clone/clsCmcDornDrv.h"
#include "radio/clsCmcEeprom.h"
#include "support/CloneFrames.h"
#include "support/FakeComHost.h"

namespace tarnset {
namespace {

using test::ascii;
using test::asciiHex;
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
using test::toHex;
using test::wire;

const Bytes kIdentPayload = hx("E0 2651 0000");
// E8 command 05 with the value 90 hex (ASCII "5A" = 35 41): answer repeats 05.
const Bytes kE8Payload = hx("E8 2651 0100 05 3541");

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() {
    com.setComOpen(true);
    com.takeSent();
    drv.setMyEep(&eep);
  }

  // Poll ticks of 50 ms for ms milliseconds, as the serial host steps the driver.
  void runFor(int ms) {
    for (int t = 0; t < ms; t += 50) {
      clock.advance(50);
      drv.task();
    }
  }

  // Identification exchange, then the clone read request (records follow). The
  // identification names the image's end (the default: 3E5F, the whole image).
  void startCloneRead(const E1Fields& ident = {}) {
    drv.setWorkMode(WorkMode::Identify);
    ASSERT_EQ(drv.Send(kIdentPayload), 0);
    drv.read(wire(e1(ident)));
    ASSERT_EQ(drv.nowError(), CloneError::None);
    drv.setWorkMode(WorkMode::CloneRead);
    ASSERT_EQ(drv.Send(hx("E2 2651 0100")), 0);
    ASSERT_TRUE(drv.Running());
  }

  void sendE8(bool answer, std::int16_t retries) {
    drv.setWorkMode(WorkMode::E8);
    drv.setWaitAnswer(answer);
    drv.setRetryCount(retries);
    ASSERT_EQ(drv.Send(kE8Payload), 0);
  }

  ManualTickSource clock{1000};
  FakeComHost com{clock};
  clsCmcDornDrv& drv = com.dornD();
  clsCmcEeprom eep;
};

// ---- Sending ---------------------------------------------------------------------------

TEST_F(DriverTest, FramesPayloadWithPreambleAddressesAndEndByte) {
  sendE8(false, 0);
  ASSERT_EQ(com.sent.size(), 1u);
  EXPECT_EQ(com.sent[0],
            "FEFEEEEFE82651010005"
            "3541FD");
  // Without an answer the exchange is over before Send returns.
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.waitState(), WaitState::Idle);
}

TEST_F(DriverTest, RefusesToSendWhenPortClosedBusyOrOutputNearlyFull) {
  com.setComOpen(false);
  drv.setWorkMode(WorkMode::Identify);
  EXPECT_EQ(drv.Send(kIdentPayload), 1);

  com.setComOpen(true);
  com.setOutBufferCount(768);  // exactly 256 bytes free: not enough
  EXPECT_EQ(drv.Send(kIdentPayload), 1);
  com.setOutBufferCount(767);
  EXPECT_EQ(drv.Send(kIdentPayload), 0);
  // A frame is in flight: the next one waits.
  EXPECT_EQ(drv.Send(kIdentPayload), 1);
  EXPECT_EQ(com.sent.size(), 1u);
}

TEST_F(DriverTest, SendFEAppendsToSendBufferAndSendsAllOfIt) {
  drv.SendFE(3);
  drv.SendFE(2);
  ASSERT_EQ(com.sent.size(), 2u);
  EXPECT_EQ(com.sent[0], "FEFEFE");
  EXPECT_EQ(com.sent[1], "FEFEFEFEFE");  // the buffer is not emptied between calls
  // The bytes still waiting in sendBuf keep frames back until the port is opened again.
  drv.setWorkMode(WorkMode::Identify);
  EXPECT_EQ(drv.Send(kIdentPayload), 1);
  com.setComOpen(true);
  EXPECT_EQ(drv.Send(kIdentPayload), 0);
}

// ---- Receive cutter ----------------------------------------------------------------------

TEST_F(DriverTest, AssemblesFrameSplitOverSeveralReads) {
  sendE8(true, 0);
  const Bytes frame = wire(e8(0x05, hx("3030")));
  drv.read(Bytes(frame.begin(), frame.begin() + 3));
  drv.read(Bytes(frame.begin() + 3, frame.begin() + 9));
  EXPECT_TRUE(drv.Running());
  drv.read(Bytes(frame.begin() + 9, frame.end()));
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.nowError(), CloneError::None);
  EXPECT_EQ(toHex(drv.varLastE8Answer()), "26510100053030");
}

TEST_F(DriverTest, BytesArrivingWhileIdleAreDropped) {
  // The head of a frame arrives before anything was sent; its tail after the send would
  // complete it if the head had been kept.
  drv.read(hx("FE FE EF EE E8 26 51"));
  EXPECT_TRUE(drv.rxBuf().empty());
  sendE8(true, 0);
  drv.read(hx("01 00 05 FD"));
  EXPECT_TRUE(drv.Running());
  EXPECT_EQ(drv.nowError(), CloneError::None);
}

TEST_F(DriverTest, HuntingRules) {
  struct Case {
    const char* what;
    Bytes block;
    bool finished;
  };
  const Bytes good = wire(e8(0x05, hx("31")));
  const std::vector<Case> cases = {
      {"stray bytes before the frame are dropped", cat(hx("00 11 22"), good), true},
      {"a run of FE leaves the frame after the last FE", cat(hx("FE FE FE FE"), good), true},
      {"an FD while hunting drops the rest of the block, even a frame start", cat(hx("12 FD"), good), false},
      {"a frame start restarts a frame already begun", cat(hx("FE EF EE E8 26"), good), true},
      {"two frames in one block: the first finishes, the rest is dropped", cat(good, good), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    sendE8(true, 0);
    drv.read(c.block);
    EXPECT_EQ(!drv.Running(), c.finished);
    EXPECT_EQ(drv.nowError(), CloneError::None);
  }
}

TEST_F(DriverTest, EchoOfSentFrameNeverFinishesOrFailsTheExchange) {
  sendE8(true, 0);
  drv.read(hx("FE FE EE EF E8 26 51 01 00 05 35 41 FD"));  // the cable returns our frame
  EXPECT_TRUE(drv.Running());
  EXPECT_EQ(drv.nowError(), CloneError::None);
  drv.read(wire(e8(0x05, hx("30"))));
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.nowError(), CloneError::None);
}

TEST_F(DriverTest, OversizedFramesLoseTheirHeadAndFail) {
  // 300 data bytes: the first 44 bytes of the frame (its header among them) are lost,
  // so the frame is foreign and the wait runs out.
  sendE8(true, 0);
  drv.read(wire(e8(0x05, Bytes(300, 0x30))));
  EXPECT_TRUE(drv.Running());
  EXPECT_EQ(drv.rxBuf().size(), 0u);
  runFor(1200);
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);

  // When the last 256 bytes happen to begin with EF EE E8, the frame is read as an E8
  // answer and fails its check.
  com.setComOpen(true);
  sendE8(true, 0);
  Bytes tail = e8(0x07, Bytes(248, 0x30));  // 256 bytes: EF EE E8 ... with a wrong check byte
  drv.read(wire(cat(Bytes(40, 0x31), tail)));
  EXPECT_EQ(drv.lastError(), CloneError::IllegalData);
  EXPECT_FALSE(drv.Running());
}

// ---- Waits and resends ----------------------------------------------------------------

TEST_F(DriverTest, E8WithAnswerIsSentThreeTimes1200msApartThenFailsWithNoAnswer) {
  std::vector<int> sentAt;
  int errorAt = -1;
  sendE8(true, 2);
  sentAt.push_back(0);
  for (int t = 50; t <= 5000 && errorAt < 0; t += 50) {
    clock.advance(50);
    const std::size_t before = com.sent.size();
    drv.task();
    if (com.sent.size() > before) sentAt.push_back(t);
    if (drv.nowError() != CloneError::None) errorAt = t;
  }
  EXPECT_EQ(sentAt, (std::vector<int>{0, 1200, 2400}));
  for (const std::string& f : com.sent) EXPECT_EQ(f, com.sent[0]);
  EXPECT_EQ(errorAt, 3600);
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);
  EXPECT_FALSE(drv.Running());
}

TEST_F(DriverTest, RetrySendWithNothingLeftSendsNothing) {
  sendE8(true, 0);
  EXPECT_EQ(drv.RetrySend(), 1);
  EXPECT_EQ(com.sent.size(), 1u);
  EXPECT_TRUE(drv.Running());  // the wait goes on until its time-out
}

TEST_F(DriverTest, ResendThatThePortRefusesEndsWithNoAnswer) {
  sendE8(true, 2);
  com.setOutBufferCount(900);
  runFor(1200);
  EXPECT_EQ(com.sent.size(), 1u);
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);
}

// A write the port refuses puts nothing on the wire: the frame counts as not sent, with
// or without an answer expected, and the driver is ready for the next one.
TEST_F(DriverTest, AFrameThePortRefusesIsNotSent) {
  com.setWriteRefused(true);
  for (bool answer : {false, true}) {
    SCOPED_TRACE(answer ? "request" : "command without answer");
    drv.setWorkMode(WorkMode::E8);
    drv.setWaitAnswer(answer);
    drv.setRetryCount(2);
    EXPECT_EQ(drv.Send(kE8Payload), 1);
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(drv.waitState(), WaitState::Idle);
    EXPECT_TRUE(com.sent.empty());
  }
  com.setWriteRefused(false);
  EXPECT_EQ(drv.Send(kE8Payload), 0) << "nothing of the refused frame is left to block the next";
  EXPECT_EQ(com.sent.size(), 1u);
}

TEST_F(DriverTest, AResendThePortRefusesFailsAsCannotSendNotAsNoAnswer) {
  sendE8(true, 2);
  com.setWriteRefused(true);
  runFor(1200);
  EXPECT_EQ(com.sent.size(), 1u);
  EXPECT_EQ(drv.lastError(), CloneError::CannotSend);
  EXPECT_FALSE(drv.Running());
}

TEST_F(DriverTest, RetryCountIsSpentByEachExchange) {
  sendE8(true, 2);
  drv.read(wire(e8(0x05, {})));
  // The next exchange does not set retryCount: the 2 of the last one is not carried over.
  drv.setWorkMode(WorkMode::E8);
  drv.setWaitAnswer(true);
  ASSERT_EQ(drv.Send(kE8Payload), 0);
  runFor(1200);
  EXPECT_EQ(com.sent.size(), 2u);
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);
}

TEST_F(DriverTest, SettingNowErrorEndsTheExchangeEvenWithZero) {
  sendE8(true, 2);
  drv.setLastError(CloneError::DataCounter);
  drv.setNowError(CloneError::None);
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.lastError(), CloneError::DataCounter);  // zero is not stored in lastError
  drv.setNowError(CloneError::IllegalData);
  EXPECT_EQ(drv.lastError(), CloneError::IllegalData);
}

TEST_F(DriverTest, ResetKeepsLastErrorAndMarksAnExchangeItCutOff) {
  sendE8(true, 0);
  runFor(1200);
  ASSERT_EQ(drv.lastError(), CloneError::NoAnswer);
  EXPECT_FALSE(drv.Abandoned());  // ended by its time-out, not cut off
  com.setComOpen(true);           // every open resets the driver
  EXPECT_EQ(drv.nowError(), CloneError::None);
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);

  drv.setWorkMode(WorkMode::Identify);
  ASSERT_EQ(drv.Send(kIdentPayload), 0);
  com.setComOpen(false);  // the port goes away mid-exchange
  EXPECT_FALSE(drv.Running());
  EXPECT_TRUE(drv.Abandoned());
  com.setComOpen(true);
  EXPECT_TRUE(drv.Abandoned());  // a later reset while idle does not hide it
  ASSERT_EQ(drv.Send(kIdentPayload), 0);
  EXPECT_FALSE(drv.Abandoned());  // the next frame starts afresh
}

// ---- Every answer belongs to its request ------------------------------------------------
// An E8 answer names its command byte but not the monitor channel: after a resend, the
// first answer answers the request and any other is owed by it, never the next request's.

// The next request of the same command with another value (another monitor channel).
const Bytes kNextPayload = hx("E8 2651 0100 05 3542");

TEST_F(DriverTest, AnAnswerToAResentRequestIsTakenOnceAndTheOwedOneNeverAnswersTheNextRequest) {
  sendE8(true, 2);
  runFor(1200);  // no answer in time: sent again
  ASSERT_EQ(com.sent.size(), 2u);
  drv.read(wire(e8(0x05, hx("3131"))));  // the answer to one of the two transmissions
  ASSERT_FALSE(drv.Running());
  EXPECT_EQ(toHex(drv.varLastE8Answer()), "26510100053131");
  EXPECT_EQ(drv.owedAnswers(), 1);

  // The next request is held back: its answer could not be told from the owed one.
  drv.setWorkMode(WorkMode::E8);
  drv.setWaitAnswer(true);
  drv.setRetryCount(2);
  ASSERT_EQ(drv.Send(kNextPayload), 0);
  EXPECT_EQ(com.sent.size(), 2u) << "nothing leaves while an answer is owed";
  EXPECT_TRUE(drv.Running());
  EXPECT_EQ(drv.waitState(), WaitState::Drain);

  // The owed answer comes late: it is dropped, and only then does the request leave.
  drv.read(wire(e8(0x05, hx("3131"))));
  EXPECT_EQ(drv.owedAnswers(), 0);
  ASSERT_EQ(com.sent.size(), 3u);
  EXPECT_EQ(com.sent[2], "FEFEEEEFE826510100053542FD");
  EXPECT_TRUE(drv.Running()) << "the dropped answer did not complete the request";
  drv.read(wire(e8(0x05, hx("3232"))));
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.nowError(), CloneError::None);
  EXPECT_EQ(toHex(drv.varLastE8Answer()), "26510100053232");
}

TEST_F(DriverTest, AnOwedAnswerThatNeverComesHoldsTheNextRequestOnlyAsLongAsTheRadioCanTake) {
  sendE8(true, 2);
  runFor(1200);
  clock.advance(30);
  drv.read(wire(e8(0x05, hx("3131"))));  // 1230 ms after the first transmission
  ASSERT_EQ(drv.owedAnswers(), 1);
  drv.setWorkMode(WorkMode::E8);
  drv.setWaitAnswer(true);
  ASSERT_EQ(drv.Send(kNextPayload), 0);
  // The longest the request can have taken is 1230 ms: its last transmission's answer is
  // awaited 1230 + 307 + 100 ms after it went out (1200), so until 2837 ms.
  int leftAt = -1;
  for (int t = 1230; t <= 4000 && leftAt < 0; t += 10) {
    clock.advance(10);
    drv.task();
    if (com.sent.size() == 3u) leftAt = t + 10;
  }
  EXPECT_GE(leftAt, 2837);
  EXPECT_LE(leftAt, 2850);
  EXPECT_EQ(drv.owedAnswers(), 0);
  EXPECT_EQ(drv.waitState(), WaitState::Answer);
}

TEST_F(DriverTest, OwedAnswersArriveWhileIdleAreCountedAndCommandsWithoutAnswerAreNeverHeld) {
  sendE8(true, 2);
  runFor(2400);  // two resends: three transmissions
  ASSERT_EQ(com.sent.size(), 3u);
  drv.read(wire(e8(0x05, hx("3131"))));
  EXPECT_EQ(drv.owedAnswers(), 2);
  drv.read(wire(e8(0x05, hx("3131"))));  // while idle
  EXPECT_EQ(drv.owedAnswers(), 1);
  sendE8(false, 0);  // an item's value needs no answer: it goes at once
  EXPECT_EQ(com.sent.size(), 4u);
  EXPECT_FALSE(drv.Running());
  drv.read(wire(e8(0x05, hx("3131"))));
  EXPECT_EQ(drv.owedAnswers(), 0);
  sendE8(true, 0);
  EXPECT_EQ(com.sent.size(), 5u) << "nothing is owed: the request leaves at once";
}

TEST_F(DriverTest, AResetForgetsOwedAnswersAndAHeldRequestIsAbandoned) {
  sendE8(true, 2);
  runFor(1200);
  drv.read(wire(e8(0x05, hx("3131"))));
  drv.setWorkMode(WorkMode::E8);
  drv.setWaitAnswer(true);
  ASSERT_EQ(drv.Send(kNextPayload), 0);
  com.setComOpen(false);  // the port closes under the held request
  EXPECT_TRUE(drv.Abandoned());
  EXPECT_EQ(drv.owedAnswers(), 0);
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(com.sent.size(), 2u) << "a held request never leaves after a reset";
}

// ---- Identification answer E1 -------------------------------------------------------------

TEST_F(DriverTest, IdentificationAnswerChecksAndEndAddress) {
  struct Case {
    const char* what;
    E1Fields f;
    std::int16_t error;
    std::int16_t endAddress;
  };
  auto with = [](auto change) {
    E1Fields f;
    change(f);
    return f;
  };
  const std::vector<Case> cases = {
      {"end address 3E5F gives 15968", {}, 0, 15968},
      {"layout byte 17: no end address", with([](E1Fields& f) { f.layout = 0x11, f.endDigits = "3E60"; }), 0,
       15968},
      {"end address 3E60 gives 3E70", with([](E1Fields& f) { f.endDigits = "3E60"; }), 0, 0x3E70},
      {"end address 7FEF gives 7FF0", with([](E1Fields& f) { f.endDigits = "7FEF"; }), 0, 0x7FF0},
      {"end address FFFF is held at the largest value", with([](E1Fields& f) { f.endDigits = "FFFF"; }), 0,
       32767},
      {"shortest frame without end address", with([](E1Fields& f) { f.length = 59, f.layout = 0; }), 0,
       15968},
      {"model code not decimal", with([](E1Fields& f) { f.model = 0x26A1; }), 3, 15968},
      {"length byte wrong", with([](E1Fields& f) { f.lengthByteDelta = 1; }), 3, 15968},
      {"shorter than 59 bytes", with([](E1Fields& f) { f.length = 58, f.layout = 0; }), 3, 15968},
      {"end address announced but cut off", with([](E1Fields& f) { f.length = 60; }), 3, 15968},
      {"bad frame still sets the end address",
       with([](E1Fields& f) { f.model = 0x2A51, f.endDigits = "1000"; }), 3, 0x1010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    drv.setWorkMode(WorkMode::Identify);
    ASSERT_EQ(drv.Send(kIdentPayload), 0);
    drv.read(wire(e1(c.f)));
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(number(drv.lastError()), c.error);
    EXPECT_EQ(drv.EndAddress(), c.endAddress);
    if (c.error == 0) {
      EXPECT_EQ(drv.ansInfo(), e1(c.f));
    }
  }
}

TEST_F(DriverTest, AnswersOfAnotherOperationAreIgnored) {
  sendE8(true, 0);
  drv.read(wire(e1()));
  drv.read(wire(e6(0)));
  EXPECT_TRUE(drv.Running());
  EXPECT_TRUE(drv.ansInfo().empty());
}

// ---- E8 answers ---------------------------------------------------------------------------

TEST_F(DriverTest, E8AnswerChecks) {
  struct Case {
    const char* what;
    Bytes frame;
    std::int16_t error;
  };
  const std::vector<Case> cases = {
      {"good answer", e8(0x05, hx("3035")), 0},
      {"no data after the check byte", e8(0x05, {}), 0},
      {"check byte differs", e8(0x06, hx("3035")), 3},
      {"model code not decimal", e8(0x05, {}, 0x26B1), 3},
      {"shorter than 8 bytes", hx("EF EE E8 26 51 01 00"), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    sendE8(true, 2);
    drv.read(wire(c.frame));
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(number(drv.lastError()), c.error);
    if (c.error == 0) {
      EXPECT_EQ(drv.varLastE8Answer(), Bytes(c.frame.begin() + 3, c.frame.end()));
    }
  }
}

// ---- Clone read: E4 records and E5 ---------------------------------------------------------

// An identification that names a small image: the end address 002F gives 48 bytes.
E1Fields smallImage(const char* lastAddress = "002F") {
  E1Fields f;
  f.endDigits = lastAddress;
  return f;
}

TEST_F(DriverTest, CloneReadStoresRecordsAndEndsOnMatchingEndFrame) {
  startCloneRead();
  Bytes stream;
  for (std::uint16_t a = 0; a < 0x3E60; a += 16) {
    Bytes data(16);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>((a + i) * 7);
    stream = cat(stream, wire(e4(a, data)));
  }
  drv.read(stream);
  EXPECT_TRUE(drv.Running()) << "records keep the exchange open";
  drv.read(wire(e5(998 % 256)));
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.lastError(), CloneError::None);
  EXPECT_EQ(eep.ReadBlock(0, 4), hx("00 07 0E 15"));
  EXPECT_EQ(eep.ReadByte(0x3E5F), (0x3E5F * 7) & 0xFF);
  EXPECT_EQ(drv.lastEeAdr(), 0x3E5F);
}

// A clone read is whole or it fails: the record count of the end frame is not enough,
// every address up to the end the identification named must have come in a record.
TEST_F(DriverTest, AReadThatLeavesAnAddressUnwrittenFailsWithTheCounterError) {
  struct Case {
    const char* what;
    std::vector<Bytes> records;
    std::int16_t error;
  };
  const Bytes d16(16, 0x5A);
  const std::vector<Case> cases = {
      {"every address once", {e4(0, d16), e4(16, d16), e4(32, d16)}, 0},
      {"a record sent again in place of the next", {e4(0, d16), e4(0, d16), e4(32, d16)}, 4},
      {"a hole in the middle", {e4(0, d16), e4(32, d16)}, 4},
      {"the last record one byte short", {e4(0, d16), e4(16, d16), e4(32, Bytes(15, 0x5A))}, 4},
      {"the first byte never sent", {e4(1, Bytes(15, 0x5A)), e4(16, d16), e4(32, d16)}, 4},
      {"out of order and overlapping, but whole", {e4(32, d16), e4(8, d16), e4(0, d16), e4(24, d16)}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    startCloneRead(smallImage());
    ASSERT_EQ(drv.EndAddress(), 48);
    Bytes stream;
    for (const Bytes& r : c.records) stream = cat(stream, wire(r));
    drv.read(cat(stream, wire(e5(static_cast<std::uint8_t>(c.records.size())))));
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(number(drv.lastError()), c.error);
  }
}

// The identification names where the radio's memory ends: a record past it is not that
// radio's (another one on the cable answers the read) and fails the read.
TEST_F(DriverTest, ARecordPastTheEndTheIdentificationNamedFailsWithTheOverflowError) {
  const Bytes d16(16, 0x5A);
  for (const Bytes& past : {e4(48, d16), e4(40, d16), e4(0x3E00, hx("01"))}) {
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    startCloneRead(smallImage());
    eep.WriteBlock(40, Bytes(16, 0));
    drv.read(cat(cat(wire(e4(0, d16)), wire(e4(16, d16))), cat(wire(e4(32, d16)), wire(past))));
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(drv.lastError(), CloneError::DataOverflow);
    EXPECT_EQ(eep.ReadByte(47), 0x5A) << "the image within the end is the records'";
    EXPECT_EQ(eep.ReadByte(48), 0) << "nothing past the end is stored";
  }
}

TEST_F(DriverTest, EachReadStartsWithNothingWritten) {
  // The same addresses in an earlier read do not fill a hole in the next one.
  const Bytes d16(16, 0x11);
  startCloneRead(smallImage("001F"));
  drv.read(cat(cat(wire(e4(0, d16)), wire(e4(16, d16))), wire(e5(2))));
  ASSERT_EQ(drv.lastError(), CloneError::None);
  startCloneRead(smallImage("001F"));
  drv.read(cat(cat(wire(e4(0, d16)), wire(e4(0, d16))), wire(e5(2))));
  EXPECT_EQ(drv.lastError(), CloneError::DataCounter);
}

TEST_F(DriverTest, EachRecordRestartsTheAnswerWait) {
  startCloneRead();
  for (int i = 0; i < 5; ++i) {
    runFor(1100);
    drv.read(wire(e4(static_cast<std::uint16_t>(i * 2), hx("11 22"))));
  }
  EXPECT_TRUE(drv.Running());
  runFor(1200);  // silence: a clone read has no resends
  EXPECT_EQ(drv.lastError(), CloneError::NoAnswer);
  EXPECT_EQ(com.sent.size(), 2u);
}

TEST_F(DriverTest, BadRecordsAndEndFrames) {
  struct Case {
    const char* what;
    Bytes frame;
    std::int16_t error;
  };
  const Bytes good = e4(0x0010, hx("5A"));
  const std::vector<Case> cases = {
      {"size 0 (11 bytes) is too short", e4(0x0010, {}), 3},
      {"even length", cat(good, ascii("0")), 3},
      {"not a hex pair", cat(Bytes(good.begin(), good.end() - 2), ascii("G0")), 3},
      {"lower-case hex is hex", cat(hx("EF EE E4"), ascii("00100132bd")), 0},
      {"checksum wrong", e4Raw(0x0010, 1, hx("5A"), 1), 3},
      {"size byte does not match the length", e4Raw(0x0010, 2, hx("5A"), 0), 3},
      {"record outside the image", e4(0x3E5F, hx("01 02")), 5},
      {"record far outside the image", e4(0xFFFF, hx("01")), 5},
      {"end frame with wrong maker text", e5(0, "Vorel Co,"), 3},
      {"end frame with wrong count", e5(1), 4},
      {"end frame without count", cat(hx("EF EE E5"), ascii("Vorel Co.")), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    startCloneRead();
    drv.read(wire(c.frame));
    if (c.error == 0) {
      EXPECT_TRUE(drv.Running());
    } else {
      EXPECT_FALSE(drv.Running());
    }
    EXPECT_EQ(number(drv.lastError()), c.error);
  }
}

TEST_F(DriverTest, RecordsStoredBeforeAnErrorStay) {
  startCloneRead();
  drv.read(wire(e4(0x0100, hx("77"))));
  drv.read(wire(e4Raw(0x0101, 1, hx("88"), 5)));
  EXPECT_EQ(drv.lastError(), CloneError::IllegalData);
  EXPECT_EQ(eep.ReadByte(0x0100), 0x77);
  EXPECT_EQ(eep.ReadByte(0x0101), 0);
}

TEST_F(DriverTest, RecordCountWrapsAt256) {
  startCloneRead(smallImage("010F"));  // 272 bytes, one a record
  Bytes stream;
  for (int i = 0; i < 272; ++i) stream = cat(stream, wire(e4(static_cast<std::uint16_t>(i), hx("00"))));
  drv.read(stream);
  drv.read(wire(e5(0x10)));  // 272 records are announced as 10
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.lastError(), CloneError::None);
}

TEST_F(DriverTest, IdentificationRestartsTheRecordCount) {
  startCloneRead(smallImage("000F"));
  drv.read(wire(e4(0, Bytes(16, 0))));
  drv.read(wire(e5(1)));
  ASSERT_EQ(drv.lastError(), CloneError::None);
  startCloneRead(smallImage("000F"));
  drv.read(wire(e4(0, Bytes(16, 0))));
  drv.read(wire(e5(1)));
  EXPECT_EQ(drv.lastError(), CloneError::None);
}

// ---- Clone write ------------------------------------------------------------------------

// The wire form of a record this program sends: FE FE EE EF E4, ASCII hex, FD.
std::string outgoingRecord(std::uint16_t adr, const Bytes& data) {
  Bytes r = e4(adr, data);
  r[0] = 0xEE;
  r[1] = 0xEF;
  return toHex(wire(r));
}

class CloneWriteTest : public DriverTest {
 protected:
  CloneWriteTest() {
    for (std::int32_t a = 0; a < eep.eeSize(); ++a)
      eep.WriteByte(a, static_cast<std::uint8_t>(a * 7 + a / 256));
  }
  std::int16_t startWrite(const std::string& list) {
    drv.setWorkMode(WorkMode::CloneWriteRecords);
    drv.setSizDataOfPacket(16);
    drv.setCloneWriteAdrList(list);
    return drv.Send(hx("E3 2651 0100"));
  }
  const std::string kEndFrame = "FEFEEEEFE5" + toHex(ascii("Vorel Co.")) + "FD";
};

TEST_F(CloneWriteTest, WholeImageGoes998RecordsAndTheEndFrame) {
  ASSERT_EQ(startWrite("0000-3E5F,"), 0);
  ASSERT_EQ(com.sent.size(), 1u + 998u + 1u);
  EXPECT_EQ(com.sent.front(), "FEFEEEEFE326510100FD");
  for (std::size_t i = 0; i < 998; ++i) {
    const auto adr = static_cast<std::uint16_t>(i * 16);
    ASSERT_EQ(com.sent[1 + i], outgoingRecord(adr, eep.ReadBlock(adr, 16))) << "record " << i;
  }
  EXPECT_EQ(com.sent.back(), kEndFrame);
  EXPECT_EQ(drv.lastEeAdr(), 0);  // the end frame's mode change clears it
  EXPECT_EQ(drv.workMode(), WorkMode::CloneWriteEnd);
  EXPECT_TRUE(drv.Running());

  drv.read(wire(e6(0x00)));
  EXPECT_FALSE(drv.Running());
  EXPECT_EQ(drv.lastError(), CloneError::None);
}

TEST_F(CloneWriteTest, RangesNotAMultipleOfTheRecordSizeEndWithAShortRecord) {
  ASSERT_EQ(startWrite("0000-0014,0020-0023,"), 0);
  ASSERT_EQ(com.sent.size(), 5u);
  EXPECT_EQ(com.sent[1], outgoingRecord(0x0000, eep.ReadBlock(0x0000, 16)));
  EXPECT_EQ(com.sent[2], outgoingRecord(0x0010, eep.ReadBlock(0x0010, 5)));
  EXPECT_EQ(com.sent[3], outgoingRecord(0x0020, eep.ReadBlock(0x0020, 4)));
  EXPECT_EQ(com.sent[4], kEndFrame);
}

TEST_F(CloneWriteTest, WriteResultAnswers) {
  struct Case {
    const char* what;
    Bytes frame;  // empty: no answer at all
    std::int16_t error;
  };
  const std::vector<Case> cases = {
      {"status 00 accepted", e6(0x00), 0},
      {"status 01 refused", e6(0x01), 7},
      {"no status byte", hx("EF EE E6"), 3},
      {"silence", {}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    com.setComOpen(true);
    drv.setLastError(CloneError::None);
    ASSERT_EQ(startWrite("0000-000F,"), 0);
    if (c.frame.empty()) {
      runFor(1200);
    } else {
      drv.read(wire(c.frame));
    }
    EXPECT_FALSE(drv.Running());
    EXPECT_EQ(number(drv.lastError()), c.error);
    EXPECT_EQ(com.sent.size(), 3u);  // no resends of the end frame
    com.takeSent();
  }
}

TEST_F(CloneWriteTest, PortThatStopsTakingRecordsEndsTheWriteWithCannotSend) {
  com.setGrowOutBuffer(true);  // nothing drains: every frame stays in the output buffer
  ASSERT_EQ(startWrite("0000-3E5F,"), 0);
  // Frames are queued while more than 256 bytes are free: the request (10 bytes), then
  // 46-byte records until 768 bytes are used.
  std::size_t expected = 1;
  for (int used = 10; used < 768; used += 46) ++expected;
  EXPECT_EQ(com.sent.size(), expected);
  EXPECT_EQ(drv.lastError(), CloneError::CannotSend);
  EXPECT_FALSE(drv.Running());
}

TEST_F(CloneWriteTest, PortThatRefusesTheEndFrameEndsTheWriteWithCannotSend) {
  com.setGrowOutBuffer(true);
  com.setOutBufferCount(720);  // room for the request and one record, not for the end frame
  ASSERT_EQ(startWrite("0000-000F,"), 0);
  EXPECT_EQ(com.sent.size(), 2u);
  EXPECT_EQ(drv.lastError(), CloneError::CannotSend);
  EXPECT_EQ(drv.workMode(), WorkMode::CloneWriteEnd);
  EXPECT_FALSE(drv.Running());
}

TEST_F(CloneWriteTest, EmptyListWritesTheFirstByteOnly) {
  ASSERT_EQ(startWrite(""), 0);
  ASSERT_EQ(com.sent.size(), 3u);
  EXPECT_EQ(com.sent[1], outgoingRecord(0, eep.ReadBlock(0, 1)));
  EXPECT_EQ(com.sent[2], kEndFrame);
}

}  // namespace
}  // namespace tarnset
