// The bench by role, over the in-process virtual bench on the virtual radio.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "BenchLoopback.h"
#include "instruments/InstrumentBench.h"
#include "sim/VirtualBench.h"
#include "sim/VirtualTarn.h"

namespace tarnset {
namespace {

using testing::BenchLoopbackFactory;

constexpr std::int32_t kSettleMs = 300;
constexpr std::int32_t kTimeoutMs = 1000;
constexpr double kCableLossDb = 1.5;

kvsim::Options quietRadio() {
  kvsim::Options o;
  o.pacing = false;
  return o;
}

class BenchTest : public ::testing::Test {
 protected:
  BenchTest()
      : radio_(quietRadio()),
        vb_(radio_, kvsim::BenchOptions{0.0, 1}),
        factory_(vb_, nowUs_),
        bench_(clock_, factory_) {
    InstrumentEntry e;
    e.name = "Virtual bench";
    e.address = "TCPIP::127.0.0.1::5025::SOCKET";
    e.roles = {Role::Generator, Role::Counter, Role::PowerMeter, Role::DeviationMeter};
    e.profile = "kv-tarn-bench";
    e.settleMs = kSettleMs;
    e.timeoutMs = kTimeoutMs;
    e.cableLossDb = kCableLossDb;
    setup_.instruments.push_back(e);
    bench_.configure(setup_);
  }

  void tick(std::int32_t ms = 50) {
    clock_.advance(ms);
    nowUs_ += std::int64_t{ms} * 1000;
    bench_.task();
  }
  // Ticks until the bench has nothing more to do (at most 5 s).
  void settle() {
    for (int i = 0; i < 100 && bench_.busy(); ++i) tick();
  }
  Measurement measureNow(Role role, InstrumentBench::When when = InstrumentBench::When::Now) {
    Measurement got;
    bool done = false;
    bench_.measure(
        role,
        [&](const Measurement& m) {
          got = m;
          done = true;
        },
        when);
    settle();
    EXPECT_TRUE(done);
    return got;
  }
  BenchResult setGenerator(double hz, double dbm, bool on) {
    BenchResult got;
    bench_.setGenerator(hz, dbm, on, [&](const BenchResult& r) { got = r; });
    settle();
    return got;
  }

  ManualTickSource clock_{5000};
  std::int64_t nowUs_ = 0;
  kvsim::VirtualTarn radio_;
  kvsim::VirtualBench vb_;
  BenchLoopbackFactory factory_;
  InstrumentsSetup setup_;
  InstrumentBench bench_;
};

TEST_F(BenchTest, TheGeneratorFeedsTheReceiverThroughTheProfilesCommandsAndTheCableLoss) {
  ASSERT_TRUE(setGenerator(450e6, -100.0, false).ok);
  const int off = radio_.monitorReading(kvsim::mon::kSd);
  const BenchResult r = setGenerator(450e6, -100.0, true);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_DOUBLE_EQ(vb_.generatorDbm(), -100.0 + kCableLossDb);
  EXPECT_NE(factory_.last()->sent().find("SOURce:FREQuency:CW 450000000\nSYST:ERR?\n"
                                         "SOURce:POWer:LEVel -98.5\nSYST:ERR?\nOUTPut:STATe ON\nSYST:ERR?\n"),
            std::string::npos);
  const int on = radio_.monitorReading(kvsim::mon::kSd);
  EXPECT_GT(on, off + 20);
  ASSERT_TRUE(setGenerator(450e6, -90.0, true).ok);
  EXPECT_GT(radio_.monitorReading(kvsim::mon::kSd), on);
}

TEST_F(BenchTest, TurningTheGeneratorOffTakesItsRfOffFirstSoThatASettingThatFailsLeavesItOff) {
  ASSERT_TRUE(setGenerator(450e6, -60.0, true).ok);
  ASSERT_TRUE(vb_.generatorOn());
  for (const auto fault : {kvsim::VirtualBench::FaultKind::Error, kvsim::VirtualBench::FaultKind::Garbage}) {
    vb_.setFault(fault);  // the first setting's check fails, and the chain ends there
    EXPECT_FALSE(setGenerator(440e6, -80.0, false).ok);
    EXPECT_FALSE(vb_.generatorOn());
    ASSERT_TRUE(setGenerator(450e6, -60.0, true).ok);
  }
  // Without a frequency the output alone is set.
  const std::size_t before = factory_.last()->sent().size();
  EXPECT_TRUE(setGenerator(0.0, -130.0, false).ok);
  EXPECT_FALSE(vb_.generatorOn());
  EXPECT_EQ(factory_.last()->sent().substr(before), "OUTPut:STATe OFF\nSYST:ERR?\n");
}

TEST_F(BenchTest, ASettingAskedWhileAnotherIsUnderWayReplacesItsRestAndTheLastOneHolds) {
  std::optional<BenchResult> on, off;
  bench_.setGenerator(450e6, -60.0, true, [&](const BenchResult& r) { on = r; });
  bench_.setGenerator(450e6, -60.0, false, [&](const BenchResult& r) { off = r; });
  settle();
  ASSERT_TRUE(on && off);
  EXPECT_FALSE(on->ok) << "the first setting was given up";
  EXPECT_TRUE(off->ok) << off->error;
  EXPECT_FALSE(vb_.generatorOn());
  EXPECT_EQ(factory_.last()->sent().find("OUTPut:STATe ON"), std::string::npos);
}

TEST_F(BenchTest, MeasurementsReadTheTransmitterOnlyWhileItTransmits) {
  const Measurement idle = measureNow(Role::PowerMeter);
  ASSERT_TRUE(idle.ok) << idle.error << idle.details;
  EXPECT_LT(idle.value, 1e-9);  // the meter's floor
  const Measurement noCarrier = measureNow(Role::Counter);
  EXPECT_FALSE(noCarrier.ok);
  EXPECT_EQ(noCarrier.error, "The frequency counter has no reading (it answered 9.91E37).");
  EXPECT_NE(noCarrier.details.find("Check that the radio transmits"), std::string::npos);

  vb_.setPtt(true, nowUs_);
  bench_.markChanged();
  const std::int32_t changedAt = clock_.nowMs();
  const Measurement p = measureNow(Role::PowerMeter, InstrumentBench::When::AfterSettle);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_GE(p.tickMs - changedAt, kSettleMs);
  EXPECT_EQ(p.unit, "W");
  // Within 1 % of what the transmitter settles to, 300 ms after the key-up.
  const double hi = kvsim::VirtualBench::powerForItem(*radio_.itemValue(0x05));
  EXPECT_NEAR(p.value, hi, 0.01 * hi);
  const Measurement f = measureNow(Role::Counter);
  ASSERT_TRUE(f.ok) << f.error;
  EXPECT_NEAR(f.value, radio_.transmitter().actualHz, 50.0);
  const Measurement d = measureNow(Role::DeviationMeter);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_NEAR(d.value, kvsim::VirtualBench::modDeviationForItem(*radio_.itemValue(0x08), false), 20.0);
}

TEST_F(BenchTest, AMeasurementAfterSettleWaitsForTheSettleTimeAndIsNeverStale) {
  vb_.setPtt(true, nowUs_);
  tick(1000);
  bench_.markChanged();
  bool done = false;
  bench_.measure(Role::PowerMeter, [&](const Measurement&) { done = true; });
  tick(kSettleMs - 50);
  EXPECT_FALSE(done);
  EXPECT_EQ(factory_.last()->sent().find("MEASure:POWer?"), std::string::npos);
  settle();
  EXPECT_TRUE(done);

  // Two measurements in a row carry the tick of their own answers.
  const Measurement a = measureNow(Role::PowerMeter);
  tick(500);
  const Measurement b = measureNow(Role::PowerMeter);
  EXPECT_GT(b.tickMs, a.tickMs + 400);
}

TEST_F(BenchTest, FaultsOfTheInstrumentBecomeMissingMeasurementsWithTheirDetails) {
  vb_.setPtt(true, nowUs_);
  tick(1000);
  ASSERT_TRUE(measureNow(Role::PowerMeter).ok);  // connected: the next answer is a measurement's
  vb_.setFault(kvsim::VirtualBench::FaultKind::Garbage);
  const Measurement g = measureNow(Role::PowerMeter);
  EXPECT_FALSE(g.ok);
  EXPECT_NE(g.error.find("which is not a number"), std::string::npos) << g.error << g.details;
  EXPECT_NE(g.details.find("Command: MEASure:POWer?"), std::string::npos);
  EXPECT_NE(g.details.find("\\x01"), std::string::npos);  // the answer as it came

  vb_.setFault(kvsim::VirtualBench::FaultKind::Drop);
  const Measurement dropped = measureNow(Role::Counter);
  EXPECT_FALSE(dropped.ok);
  EXPECT_EQ(dropped.value, 0.0);
  EXPECT_NE(dropped.error.find("was lost while waiting for the answer to 'MEASure:FREQuency?'"),
            std::string::npos);
  EXPECT_TRUE(measureNow(Role::Counter).ok);  // connects anew

  vb_.setFault(kvsim::VirtualBench::FaultKind::Error);
  const BenchResult e = setGenerator(450e6, -40.0, true);
  EXPECT_FALSE(e.ok);
  EXPECT_NE(e.error.find("reports error -222, \"Data out of range\""), std::string::npos) << e.error;

  vb_.setFault(kvsim::VirtualBench::FaultKind::Silent);
  const Measurement s = measureNow(Role::DeviationMeter);
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error, "No answer from the Virtual bench to 'MEASure:FM:DEViation?' within 1000 ms.");
  vb_.clearFaults();
  EXPECT_TRUE(measureNow(Role::DeviationMeter).ok);
}

TEST_F(BenchTest, RolesNobodyServesAndUnreachableInstrumentsAreSaid) {
  InstrumentsSetup counterOnly = setup_;
  counterOnly.instruments[0].roles = {Role::Counter};
  bench_.configure(counterOnly);
  EXPECT_TRUE(bench_.configured(Role::Counter));
  EXPECT_FALSE(bench_.configured(Role::Generator));
  EXPECT_EQ(measureNow(Role::DeviationMeter).error, "No deviation meter is set up in Instruments.ini.");
  BenchResult gen = setGenerator(1e8, 0, true);
  EXPECT_EQ(gen.error, "No signal generator is set up in Instruments.ini.");

  factory_.last()->refuse("Connection refused");
  const Measurement m = measureNow(Role::Counter);
  EXPECT_EQ(m.error, "Cannot reach the Virtual bench at TCPIP::127.0.0.1::5025::SOCKET: Connection refused.");
}

TEST_F(BenchTest, IdentifyGivesTheInstrumentsOwnWords) {
  BenchResult got;
  bench_.identify("Virtual bench", [&](const BenchResult& r) { got = r; });
  settle();
  ASSERT_TRUE(got.ok) << got.error;
  EXPECT_EQ(got.identity->maker, "Tarnset");
  bench_.identify("Nobody", [&](const BenchResult& r) { got = r; });
  EXPECT_TRUE(got.ok);  // answered from the next task, not from within the call
  settle();
  EXPECT_EQ(got.error, "No instrument 'Nobody' is set up in Instruments.ini.");
}

TEST_F(BenchTest, CancelDropsEveryRequestWithoutCallingBack) {
  int calls = 0;
  bench_.markChanged();
  bench_.measure(Role::PowerMeter, [&](const Measurement&) { ++calls; });
  bench_.setGenerator(450e6, -50, true, [&](const BenchResult&) { ++calls; });
  tick();
  bench_.cancelAll();
  EXPECT_FALSE(bench_.busy());
  tick(5000);
  EXPECT_EQ(calls, 0);
}

TEST(BenchAnswers, EveryAnswerIsCheckedForNumberUnitAndRange) {
  const InstrumentProfile& generic = *builtInProfile("generic");
  const auto check = [&generic](Role role, const std::string& answer) {
    ScpiReply r;
    r.ok = true;
    r.command = "Q?";
    r.answer = answer;
    r.tickMs = 42;
    return InstrumentBench::checkAnswer(role, generic, r);
  };
  struct Good {
    Role role;
    const char* answer;
    double value;
  };
  for (const Good& g :
       {Good{Role::PowerMeter, "30", 1.0}, Good{Role::PowerMeter, "+4.401E+01", 25.176769},
        Good{Role::PowerMeter, "25 W", 25.0}, Good{Role::PowerMeter, "250 MW", 0.25},
        Good{Role::Counter, "4.50000125E+08", 450000125.0}, Good{Role::Counter, "450.5 MHZ", 450.5e6},
        Good{Role::DeviationMeter, "4.5 kHz", 4500.0}, Good{Role::DeviationMeter, "0", 0.0}}) {
    const Measurement m = check(g.role, g.answer);
    EXPECT_TRUE(m.ok) << g.answer << ": " << m.error;
    EXPECT_NEAR(m.value, g.value, 1e-6 * std::max(1.0, g.value)) << g.answer;
    EXPECT_EQ(m.tickMs, 42);
  }
  struct Bad {
    Role role;
    const char* answer;
    const char* says;
  };
  for (const Bad& b :
       {Bad{Role::PowerMeter, "25 V", "answered in V, which is no unit of its reading (DBM, W, MW, UW)"},
        Bad{Role::PowerMeter, "95", "lies outside what it can measure"},
        Bad{Role::DeviationMeter, "-5", "lies outside"}, Bad{Role::Counter, "0.1", "lies outside"},
        Bad{Role::Counter, "4.5 KHZ DEV", "which is not a number"},
        Bad{Role::DeviationMeter, "9.91E37", "has no reading"}, Bad{Role::Counter, "", "not a number"}}) {
    const Measurement m = check(b.role, b.answer);
    EXPECT_FALSE(m.ok) << b.answer;
    EXPECT_NE(m.error.find(b.says), std::string::npos) << b.answer << ": " << m.error;
  }
  ScpiReply failed;
  failed.error = "No answer.";
  EXPECT_EQ(InstrumentBench::checkAnswer(Role::Counter, generic, failed).error, "No answer.");
}

}  // namespace
}  // namespace tarnset
