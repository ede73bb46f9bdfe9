// The session's state machine over a link the test drives, with a clock the test moves.
#include <gtest/gtest.h>

#include <memory>

#include "FakeTransport.h"
#include "instruments/InstrumentSession.h"

namespace tarnset {
namespace {

using testing::FakeTransport;

constexpr std::int32_t kTimeout = 1000;
const std::string kIdn = "Tarnset,KV-Tarn virtual bench,VB-0001,1.0\n";

class SessionTest : public ::testing::Test {
 protected:
  SessionTest()
      : session_("power meter", "TCPIP::10.0.0.9::5025::SOCKET", std::make_unique<FakeTransport>(link_),
                 clock_, kTimeout) {}

  // Queues a query whose reply lands in replies_.
  void ask(const std::string& command) {
    session_.query(command, [this](const ScpiReply& r) { replies_.push_back(r); });
  }
  void set(const std::string& command) {
    session_.setting(command, [this](const ScpiReply& r) { replies_.push_back(r); });
  }
  void tick(std::int32_t ms = 50) {
    clock_.advance(ms);
    session_.task();
  }
  // Brings the session to Ready: connect, *IDN? answered.
  void connect() {
    ask("*OPC?");
    tick();
    ASSERT_EQ(link_.sent, (std::vector<std::string>{"*IDN?"}));
    link_.incoming = kIdn;
    tick();
    ASSERT_EQ(session_.state(), InstrumentSession::State::Busy);
    link_.incoming = "1\n";
    tick();
    ASSERT_EQ(replies_.size(), 1u);
    replies_.clear();
    link_.sent.clear();
  }

  ManualTickSource clock_{1000};
  FakeTransport::Control link_;
  InstrumentSession session_;
  std::vector<ScpiReply> replies_;
};

TEST_F(SessionTest, ConnectsAsksIdentityClearsStatusAndAnswersTheQuery) {
  EXPECT_EQ(session_.state(), InstrumentSession::State::Closed);
  ask("MEAS:POW?");
  EXPECT_EQ(link_.opens, 0);  // nothing happens before the tick
  tick();
  EXPECT_EQ(session_.state(), InstrumentSession::State::Identifying);
  link_.incoming = "Tarnset,KV-Tarn virtual ";
  tick();
  link_.incoming = "bench,VB-0001,1.0\r\n";
  tick();
  ASSERT_TRUE(session_.identity());
  EXPECT_EQ(session_.identity()->serial, "VB-0001");
  EXPECT_EQ(link_.sent, (std::vector<std::string>{"*IDN?", "*CLS", "MEAS:POW?"}));
  link_.incoming = "-3.2E+01\n";
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_TRUE(replies_[0].ok);
  EXPECT_EQ(replies_[0].answer, "-3.2E+01");
  EXPECT_EQ(replies_[0].tickMs, clock_.nowMs());
  EXPECT_EQ(session_.state(), InstrumentSession::State::Ready);
}

TEST_F(SessionTest, SeveralAnswersInOneReadGoToTheirQueriesInOrder) {
  connect();
  ask("MEAS:FREQ?");
  ask("MEAS:POW?");
  tick();
  EXPECT_EQ(link_.sent, (std::vector<std::string>{"MEAS:FREQ?"}));  // one at a time
  link_.incoming = "4.5E8\n-3.0E1\n";
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].answer, "4.5E8");
  // The second line came before its query went out: nobody asked for it yet.
  EXPECT_EQ(link_.sent.back(), "MEAS:POW?");
  link_.incoming = "-2.9E1\n";
  tick();
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[1].answer, "-2.9E1");
}

TEST_F(SessionTest, ASettingIsFollowedBySystErrAndTheInstrumentsErrorsAreReported) {
  connect();
  set("FREQ 450000000");
  tick();
  EXPECT_EQ(link_.sent, (std::vector<std::string>{"FREQ 450000000", "SYST:ERR?"}));
  link_.incoming = "0,\"No error\"\n";
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_TRUE(replies_[0].ok);

  set("POW 99");
  tick();
  link_.incoming = "-222,\"Data out of range\"\n";
  tick();
  EXPECT_TRUE(replies_.size() == 1u);  // a further SYST:ERR? reads the rest of the queue
  EXPECT_EQ(link_.sent.back(), "SYST:ERR?");
  link_.incoming = "-221,\"Settings conflict\"\n0,\"No error\"\n";
  tick();
  ASSERT_EQ(replies_.size(), 2u);
  const ScpiReply& r = replies_[1];
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "The power meter reports error -222, \"Data out of range\" after 'POW 99'.");
  EXPECT_NE(r.details.find("Command: POW 99"), std::string::npos);
  EXPECT_NE(r.details.find("-221, \"Settings conflict\""), std::string::npos);

  set("OUTP ON");
  tick();
  link_.incoming = "what?\n";
  tick();
  ASSERT_EQ(replies_.size(), 3u);
  EXPECT_NE(replies_[2].error.find("no error queue entry"), std::string::npos);
  EXPECT_NE(replies_[2].details.find("'what?'"), std::string::npos);
}

TEST_F(SessionTest, ATimeOutSaysWhatCameAndALateAnswerIsNeverTakenForTheNextQuery) {
  connect();
  ask("MEAS:POW?");
  tick();
  link_.incoming = "-3.1E";  // no LF ever follows
  tick(kTimeout - 100);
  EXPECT_TRUE(replies_.empty());
  tick(100);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_FALSE(replies_[0].ok);
  EXPECT_EQ(replies_[0].error, "No answer from the power meter to 'MEAS:POW?' within 1000 ms.");
  EXPECT_NE(replies_[0].details.find("'-3.1E' (without its line end)"), std::string::npos);
  EXPECT_EQ(session_.state(), InstrumentSession::State::Closed);
  EXPECT_EQ(link_.closes, 1);

  // The next query connects anew; the late answer arrives first and is not an identity.
  ask("MEAS:FREQ?");
  link_.sent.clear();
  tick();
  EXPECT_EQ(link_.sent, (std::vector<std::string>{"*IDN?"}));
  link_.incoming = "-3.1E+01\n" + kIdn;
  tick();
  EXPECT_EQ(link_.sent.back(), "MEAS:FREQ?");
  EXPECT_EQ(replies_.size(), 1u);
  link_.incoming = "4.5E8\n";
  tick();
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[1].answer, "4.5E8");
}

TEST_F(SessionTest, ALineNobodyAskedForIsDropped) {
  connect();
  link_.incoming = "stray\n";
  tick();
  ask("MEAS:POW?");
  tick();
  link_.incoming = "-30\n";
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].answer, "-30");
}

TEST_F(SessionTest, ADroppedConnectionMarksTheMeasurementMissingAndTheNextOneReconnects) {
  connect();
  ask("MEAS:POW?");
  tick();
  link_.drop("the instrument closed the connection");
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_FALSE(replies_[0].ok);
  EXPECT_TRUE(replies_[0].answer.empty());
  EXPECT_EQ(replies_[0].error,
            "The connection to the power meter was lost while waiting for the answer to 'MEAS:POW?': the "
            "instrument closed the connection.");
  EXPECT_EQ(session_.state(), InstrumentSession::State::Closed);
  ask("MEAS:POW?");
  tick();
  EXPECT_EQ(link_.opens, 2);
  EXPECT_EQ(session_.state(), InstrumentSession::State::Identifying);
}

TEST_F(SessionTest, AnUnreachableInstrumentFailsEveryRequestWithItsAddressAndTheSystemsReason) {
  link_.refuse = "Connection refused";
  ask("MEAS:POW?");
  set("FREQ 1");
  tick();
  ASSERT_EQ(replies_.size(), 2u);
  for (const ScpiReply& r : replies_) {
    EXPECT_EQ(r.error, "Cannot reach the power meter at TCPIP::10.0.0.9::5025::SOCKET: Connection refused.");
    EXPECT_NE(r.details.find("Reason: Connection refused"), std::string::npos);
  }
  EXPECT_NE(replies_[1].details.find("Command: FREQ 1"), std::string::npos);
  EXPECT_EQ(session_.pending(), 0u);
}

TEST_F(SessionTest, AConnectionOrIdentityThatDoesNotComeTimesOut) {
  link_.connectAtOnce = false;
  ask("MEAS:POW?");
  tick();
  EXPECT_EQ(session_.state(), InstrumentSession::State::Connecting);
  tick(kTimeout);
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_EQ(replies_[0].error,
            "No connection to the power meter at TCPIP::10.0.0.9::5025::SOCKET within 1000 ms.");

  link_.connectAtOnce = true;
  ask("MEAS:POW?");
  tick();
  link_.incoming = "1.0\ngarbage,\n";
  tick(kTimeout);
  ASSERT_EQ(replies_.size(), 2u);
  EXPECT_EQ(replies_[1].error, "The power meter does not answer *IDN? within 1000 ms.");
  EXPECT_NE(replies_[1].details.find("Not an identification: '1.0'"), std::string::npos);
  EXPECT_NE(replies_[1].details.find("Not an identification: 'garbage,'"), std::string::npos);
}

TEST_F(SessionTest, AnOverLongAnswerFailsTheQueryAndCancelDropsEverythingQuietly) {
  connect();
  ask("MEAS:POW?");
  tick();
  link_.incoming = std::string(ScpiLineCutter::kMaxLine + 1, '7') + "\n";
  tick();
  ASSERT_EQ(replies_.size(), 1u);
  EXPECT_NE(replies_[0].error.find("longer than 4096 characters"), std::string::npos);
  EXPECT_EQ(session_.state(), InstrumentSession::State::Closed);

  ask("MEAS:POW?");
  ask("MEAS:FREQ?");
  tick();
  session_.cancelAll();
  tick(kTimeout * 2);
  EXPECT_EQ(replies_.size(), 1u);
  EXPECT_EQ(session_.pending(), 0u);
  EXPECT_EQ(session_.state(), InstrumentSession::State::Closed);
}

}  // namespace
}  // namespace tarnset
