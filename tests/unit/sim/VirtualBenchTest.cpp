// The virtual bench in-process: its SCPI, its generator on the receiver, its meters on the
// transmitter, its noise and its faults.
#include <gtest/gtest.h>

#include <cstdlib>

#include "sim/VirtualBench.h"

namespace kvsim {
namespace {

Options radioOptions() {
  Options o;
  o.pacing = false;
  return o;
}

// Sends E8 code/value to the radio as the program does.
void sendItem(VirtualTarn& radio, int code, int value, std::int64_t nowUs) {
  const char* hex = "0123456789ABCDEF";
  const Bytes frame = {0xFE,
                       0xFE,
                       0xEE,
                       0xEF,
                       0xE8,
                       0x26,
                       0x51,
                       0x01,
                       0x00,
                       static_cast<std::uint8_t>(code),
                       static_cast<std::uint8_t>(hex[value >> 4]),
                       static_cast<std::uint8_t>(hex[value & 15]),
                       0xFD};
  radio.setProgramLine(true, 9600, nowUs);
  radio.receive(frame, nowUs);
}

double number(const std::string& answer) {
  return std::strtod(answer.c_str(), nullptr);
}

class VirtualBenchTest : public ::testing::Test {
 protected:
  std::string ask(const std::string& line) {
    now_ += 1000;
    return bench_.handleLine(line, now_);
  }
  // Lets the transmitter settle (1 s of steps).
  void wait(std::int64_t us = 1000000) {
    for (std::int64_t t = 0; t < us; t += 20000) bench_.step(now_ += 20000);
  }

  VirtualTarn radio_{radioOptions()};
  VirtualBench bench_{radio_, BenchOptions{0.0, 7}};
  std::int64_t now_ = 0;
};

TEST_F(VirtualBenchTest, SpeaksTheGenericScpiSetInShortAndLongForm) {
  EXPECT_EQ(ask("*IDN?"), "Tarnset,KV-Tarn virtual bench,VB-0001,1.0\n");
  EXPECT_EQ(ask("FREQ 450.0125 MHZ;:SOURce:FREQuency:CW?"), "4.500125000E+08\n");
  EXPECT_EQ(ask("sour:pow:lev:imm:ampl -47.5 dBm;POW?"), "-4.7500E+01\n");
  EXPECT_EQ(ask("OUTP ON;OUTPut:STATe?;*OPC?"), "1\n1\n");
  EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"\n");
  EXPECT_EQ(ask("FREQ 5 GHZ;POW;OUTP MAYBE;NOPE;POW abc"), "");
  EXPECT_EQ(ask("SYSTem:ERRor:NEXT?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?;SYST:ERR?"),
            "-222,\"Data out of range\"\n-109,\"Missing parameter\"\n-224,\"Illegal parameter value\"\n"
            "-113,\"Undefined header\"\n-104,\"Data type error\"\n0,\"No error\"\n");
  for (int i = 0; i < 12; ++i) ask("BOGUS");
  ask("*CLS");
  EXPECT_EQ(ask("SYST:ERR?"), "0,\"No error\"\n");
  EXPECT_DOUBLE_EQ(bench_.generatorHz(), 450.0125e6);
}

TEST_F(VirtualBenchTest, TheGeneratorLevelMovesTheSignalDetectorAndOffChannelReadsLower) {
  const int before = radio_.monitorReading(mon::kSd);  // the radio's own --signal level
  EXPECT_FALSE(bench_.receiverDbu());
  ask("FREQ 450000000;POW -100;OUTP OFF");
  EXPECT_EQ(radio_.monitorReading(mon::kSd), 12);  // the detector's floor
  ask("OUTP ON");
  const int at100 = radio_.monitorReading(mon::kSd);
  ask("POW -90");
  const int at90 = radio_.monitorReading(mon::kSd);
  EXPECT_NEAR(at90 - at100, 32, 1);  // 3.2 counts per dB
  EXPECT_NE(before, at90);
  ask("POW -60");
  const int at60 = radio_.monitorReading(mon::kSd);
  ask("FREQ 450004000");  // inside the wide channel's pass band
  EXPECT_EQ(radio_.monitorReading(mon::kSd), at60);
  ask("FREQ 449992000");
  const int off8k = radio_.monitorReading(mon::kSd);
  ask("FREQ 450010000");
  const int off10k = radio_.monitorReading(mon::kSd);
  EXPECT_LT(off8k, at60);
  EXPECT_LT(off10k, off8k);
  EXPECT_GT(VirtualBench::selectivityLossDb(4000, true), 0.0);  // narrow channels are narrower
  EXPECT_EQ(VirtualBench::selectivityLossDb(4000, false), 0.0);
}

TEST_F(VirtualBenchTest, ThePttGatesTheCounterThePowerMeterAndTheDeviationMeter) {
  EXPECT_EQ(ask("MEAS:FREQ?"), "9.91E37\n");
  EXPECT_EQ(ask("MEAS:FM:DEV?"), "9.91E37\n");
  EXPECT_NEAR(number(ask("MEAS:POW?")), VirtualBench::kPowerFloorDbm, 0.01);
  EXPECT_EQ(ask("SIM:PTT?"), "0\n");
  ask("SIM:PTT ON");
  EXPECT_EQ(ask("SIM:PTT?"), "1\n");
  wait();
  const double hiW = VirtualBench::powerForItem(*radio_.itemValue(0x05));
  EXPECT_NEAR(bench_.powerW(), hiW, 1e-6 * hiW);
  EXPECT_NEAR(number(ask("MEAS:POW?")), 10.0 * std::log10(hiW) + 30.0, 0.001);
  const TxReport tx = radio_.transmitter();
  const double carrier = number(ask("MEAS:FREQ?"));
  // The varactor's curvature adds to the reference oscillator's linear pull.
  const double pull = tx.setting - TarnPhysics::kPullCentre;
  EXPECT_NEAR(carrier, tx.actualHz + tx.nominalHz * 5e-10 * pull * pull, 1.0);
  EXPECT_NEAR(number(ask("MEAS:FM:DEV?")), VirtualBench::modDeviationForItem(*radio_.itemValue(0x08), false),
              0.5);
  ask("SIM:PTT OFF");
  wait();
  EXPECT_EQ(ask("MEAS:FREQ?"), "9.91E37\n");
}

TEST_F(VirtualBenchTest, TheTransmitterFollowsTheItemLastChangedMonotonicallyAndSettles) {
  ask("SIM:PTT ON");
  sendItem(radio_, 0x07, 20, now_);  // Power(L1): from now on the keyed level
  wait();
  double last = bench_.powerW();
  for (int v = 60; v <= 240; v += 60) {
    sendItem(radio_, 0x07, v, now_);
    bench_.step(now_ += 20000);
    EXPECT_LT(bench_.powerW(), VirtualBench::powerForItem(v)) << v;  // still settling
    wait();
    EXPECT_NEAR(bench_.powerW(), VirtualBench::powerForItem(v), 1e-3) << v;
    EXPECT_GT(bench_.powerW(), last) << v;
    last = bench_.powerW();
  }
  // Not a straight line: equal steps of the item give growing steps of power.
  const double a = VirtualBench::powerForItem(100) - VirtualBench::powerForItem(50);
  const double b = VirtualBench::powerForItem(200) - VirtualBench::powerForItem(150);
  EXPECT_GT(b, a * 1.2);

  sendItem(radio_, 0x11, 200, now_);  // the tone level: the meter sees the tone's deviation
  wait();
  EXPECT_NEAR(bench_.deviationHz(), VirtualBench::toneDeviationForItem(200), 0.01);
  sendItem(radio_, 0x08, 180, now_);  // MOD W
  wait();
  EXPECT_NEAR(bench_.deviationHz(), VirtualBench::modDeviationForItem(180, false), 0.01);
  EXPECT_LT(VirtualBench::modDeviationForItem(100, false), VirtualBench::modDeviationForItem(101, false));
  sendItem(radio_, 0x0A, 60, now_);  // the balance square wave
  wait();
  const double low = bench_.deviationHz();
  sendItem(radio_, 0x0A, 200, now_);
  wait();
  EXPECT_GT(bench_.deviationHz(), low);
}

TEST_F(VirtualBenchTest, NoiseIsReproducibleBySeed) {
  const auto readings = [](std::uint32_t seed) {
    VirtualTarn radio(radioOptions());
    VirtualBench bench(radio, BenchOptions{1.0, seed});
    bench.setPtt(true, 0);
    std::string all;
    for (std::int64_t t = 0; t < 2000000; t += 100000) bench.step(t);
    for (int i = 0; i < 5; ++i) all += bench.handleLine("MEAS:POW?;MEAS:FREQ?;MEAS:FM:DEV?", 2000000 + i);
    return all;
  };
  EXPECT_EQ(readings(3), readings(3));
  EXPECT_NE(readings(3), readings(4));
  // Two readings of the same power differ by the noise.
  const std::string r = readings(3);
  const std::size_t second = r.find('\n', r.find('\n', r.find('\n') + 1) + 1) + 1;
  EXPECT_NE(r.substr(0, r.find('\n')), r.substr(second, r.find('\n', second) - second));
}

TEST_F(VirtualBenchTest, FaultsActUntilClearedOrOnceAndSimCommandsAlwaysAct) {
  bench_.setFault(VirtualBench::FaultKind::Silent);
  EXPECT_EQ(ask("*IDN?"), "");
  EXPECT_EQ(ask("FREQ 100000000"), "");
  EXPECT_EQ(bench_.generatorHz(), 0.0);  // acts on nothing either
  EXPECT_EQ(ask("SIM:FAULT?"), "SILENT\n");
  ask("SIM:FAULT GARBAGE;SIM:FAULT DROP");
  EXPECT_EQ(ask("SIM:FAULT?"), "SILENT,GARBAGE,DROP\n");
  ask("SIM:FAULT NONE");
  ask("SIM:FAULT GARBAGE");
  const std::string garbage = ask("*IDN?");
  EXPECT_EQ(garbage.back(), '\n');
  EXPECT_EQ(garbage.find("Tarnset"), std::string::npos);
  EXPECT_EQ(ask("*OPC?"), "1\n");  // once only

  ask("SIM:FAULT ERROR");
  EXPECT_EQ(ask("SYST:ERR?"), "-222,\"Data out of range\"\n");
  ask("SIM:FAULT DROP");
  EXPECT_FALSE(bench_.takeDropRequest());
  EXPECT_EQ(ask("MEAS:POW?"), "");
  EXPECT_TRUE(bench_.takeDropRequest());
  EXPECT_FALSE(bench_.takeDropRequest());
  EXPECT_NE(ask("MEAS:POW?"), "");
  ask("SIM:FAULT LOUD");
  EXPECT_EQ(ask("SYST:ERR?"), "-224,\"Illegal parameter value\"\n");
}

}  // namespace
}  // namespace kvsim
