// The analogue model behind the monitor readings and the transmitter, and the factory image.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/TarnImage.h"
#include "sim/TarnPhysics.h"
#include "unit/sim/ProgramSide.h"

namespace kvsim::test {
namespace {

// The program's thermistor formula, as its monitor line computes the temperature.
double programCelsius(double raw) {
  const double v = raw * 5 / 255;
  const double r = (500000 - 100000 * v) / v / 47000;
  return 1 / (std::log(r) / 4000 + 1 / 298.15) - 273.15;
}

int sdWith(const TarnPhysics& phys, Bytes image, int slot, int filter, int setting) {
  image[static_cast<std::size_t>(eep::kBpfT1 + filter)] = static_cast<std::uint8_t>(setting & 0xFF);
  return phys.monitorExact(mon::kSd, image, slot);
}

TEST(TarnPhysicsBpf, EachFilterPeaksWithAFlatTopInsideBothSweepRanges) {
  const TarnPhysics phys(25.0, 0.0, 0, 1);
  const Bytes image = defaultImage();
  const int lvin = phys.monitorExact(mon::kLvin, image, 0);
  for (int slot : {0, 5, 10, 13}) {  // 450, 446, 440.5 and 470 MHz
    for (int k = 0; k < 4; ++k) {
      int best = -1;
      int first = 0;
      int last = 0;
      for (int v = -128; v <= 127; ++v) {
        const int sd = sdWith(phys, image, slot, k, v);
        if (sd > best) best = sd, first = v;
        if (sd == best) last = v;
      }
      // A single plateau a few settings wide, inside what both sweeps visit.
      EXPECT_GE(last - first, 2) << "slot " << slot << " filter " << k;
      EXPECT_LE(last - first, 6) << "slot " << slot << " filter " << k;
      for (int v = first; v <= last; ++v) EXPECT_EQ(sdWith(phys, image, slot, k, v), best);
      EXPECT_GE(first, -lvin);
      EXPECT_LT(last, 127);
      // The skirts fall away on both sides.
      EXPECT_LT(sdWith(phys, image, slot, k, first - 3), best);
      EXPECT_LT(sdWith(phys, image, slot, k, last + 3), best);
      EXPECT_LT(sdWith(phys, image, slot, k, first - 20), sdWith(phys, image, slot, k, first - 3));

      // A sweep in steps of 2 from -LVIN finds the centre within a setting.
      int sweepBest = -1;
      int sweepFirst = 0;
      int sweepLast = 0;
      for (int v = -lvin; v < 127 && v < 255 - lvin; v += 2) {
        const int sd = sdWith(phys, image, slot, k, v);
        if (sd > sweepBest) sweepBest = sd, sweepFirst = v;
        if (sd == sweepBest) sweepLast = v;
      }
      EXPECT_NEAR((sweepFirst + sweepLast) / 2.0, (first + last) / 2.0, 1.0);
    }
  }
}

TEST(TarnPhysicsBpf, SdNoiseStaysWithinItsBoundsAndRepeatsWithTheSeed) {
  const Bytes image = defaultImage();
  const auto run = [&](std::uint32_t seed) {
    TarnPhysics phys(25.0, 0.0, 3, seed);
    std::vector<int> readings;
    for (int i = 0; i < 200; ++i) readings.push_back(phys.monitor(mon::kSd, image, 0));
    return readings;
  };
  const int exact = TarnPhysics(25.0, 0.0, 0, 1).monitorExact(mon::kSd, image, 0);
  const auto a = run(7);
  EXPECT_EQ(a, run(7));
  EXPECT_NE(a, run(8));
  int lo = 255;
  int hi = 0;
  for (int r : a) lo = std::min(lo, r), hi = std::max(hi, r);
  EXPECT_EQ(lo, exact - 3);
  EXPECT_EQ(hi, exact + 3);
}

TEST(TarnPhysicsTemperature, ThermistorReadingInvertsTheProgramsFormula) {
  for (double t = -30.0; t <= 70.0; t += 0.25) {
    const int raw = TarnPhysics::thermistorRaw(t);
    // The reading is the nearest count: the formula brackets t between half counts.
    EXPECT_LE(programCelsius(raw - 0.5), t) << t;
    EXPECT_GE(programCelsius(raw + 0.5), t) << t;
  }
  EXPECT_NEAR(programCelsius(TarnPhysics::thermistorRaw(25.0)), 25.0, 0.3);
}

TEST(TarnPhysicsTemperature, DriftMovesTheReadingOverTime) {
  Options opt;
  opt.driftCPerMinute = 2.0;
  opt.temperatureC = 20.0;
  ProgramSide p(opt);
  p.open(9600);
  p.wait(5 * 60 * 1000000LL);
  EXPECT_NEAR(p.radio.temperatureC(), 30.0, 1e-6);
  EXPECT_EQ(p.radio.monitorReading(mon::kTemperature), TarnPhysics::thermistorRaw(30.0));
  p.radio.setTemperatureC(0.0);
  p.wait(60 * 1000000LL);
  EXPECT_NEAR(p.radio.temperatureC(), 2.0, 1e-6);
}

// Reads a monitor channel over the link.
int readMonitor(ProgramSide& p, int ch) {
  const std::size_t before = p.arrived.size();
  p.send(e8Payload(0x03, ch));
  p.wait(60000);
  const auto frames = p.frames();
  const Bytes& a = frames.back().body;
  EXPECT_GT(p.arrived.size(), before);
  return std::stoi(std::string(a.begin() + 8, a.begin() + 10), nullptr, 16);
}

TEST(TarnPhysicsDa, ReadingsFollowTheValuesSent) {
  struct Case {
    int code;
    int channel;
    int slot;  // the deviation follows MOD W on a wide channel, MOD N on a narrow one
  };
  const Case cases[] = {{0x0C, 16, 0}, {0x0D, 17, 0}, {0x0E, 18, 0}, {0x0F, 19, 0}, {0x0A, 13, 0},
                        {0x04, 15, 0}, {0x11, 11, 0}, {0x08, 14, 0}, {0x09, 14, 1}};
  for (const Case& c : cases) {
    ProgramSide p;
    p.open(9600);
    p.send(e8Payload(0x00, c.slot + 1));
    int previous = -1;
    for (int value : {10, 60, 100}) {  // increasing as signed and as unsigned bytes
      p.send(e8Payload(c.code, value));
      const int reading = readMonitor(p, c.channel);
      EXPECT_GT(reading, previous) << "code " << c.code << " value " << value;
      previous = reading;
    }
  }
}

TEST(TarnPhysicsTxf, FirstAndSecondPhaseSettingsAreDefinite) {
  Options opt;
  opt.pacing = false;
  ProgramSide p(opt);
  p.open(9600);
  const int s = tempSegment(p.radio.temperatureRaw());
  std::vector<double> ppm;
  for (int v = 0; v <= 255; ++v) {
    // What the first phase writes: the value at the borders around the segment, no slope.
    for (int k = std::max(0, 2 * s - 2); k <= std::min(39, 2 * s + 3); ++k) {
      p.send(e8Payload(0x14 + k, k % 2 == 1 ? v : 0));
    }
    ASSERT_EQ(p.radio.monitorReading(mon::kRef), v);
    ppm.push_back(p.radio.transmitter().errorPpm);
  }
  ASSERT_TRUE(p.radio.transmitter().valid);
  const auto nearest = [&](double target) {
    int best = 0;
    for (int v = 0; v <= 255; ++v) {
      if (std::fabs(ppm[v] - target) < std::fabs(ppm[best] - target)) best = v;
    }
    return best;
  };
  const int zero = nearest(0.0);
  EXPECT_LE(std::fabs(ppm[static_cast<std::size_t>(zero)]), TarnPhysics::kPullPpmPerStep / 2);
  EXPECT_LT(ppm[static_cast<std::size_t>(zero) - 1], 0.0);
  EXPECT_GT(ppm[static_cast<std::size_t>(zero) + 1], 0.0);
  const int plus10 = nearest(10.0);
  EXPECT_LE(std::fabs(ppm[static_cast<std::size_t>(plus10)] - 10.0), TarnPhysics::kPullPpmPerStep / 2);
  EXPECT_NEAR(plus10 - zero, 10.0 / TarnPhysics::kPullPpmPerStep, 1.0);
  // The error in hertz is the ppm error of the channel's transmit frequency.
  const TxReport r = p.radio.transmitter();
  EXPECT_NEAR(r.errorHz, r.nominalHz * r.errorPpm * 1e-6, 1e-6);
  EXPECT_EQ(r.nominalHz, 450000000u);
}

TEST(TarnPhysicsTxf, SlopeEntriesMoveTheSettingWithinASegment) {
  Options opt;
  opt.pacing = false;
  opt.temperatureC = 18.0;
  ProgramSide p(opt);
  p.open(9600);
  const int s = tempSegment(p.radio.temperatureRaw());
  p.send(e8Payload(0x14 + 2 * s + 1, 120));
  p.send(e8Payload(0x14 + 2 * s, 32));  // one step per count
  const int atStart = p.radio.monitorReading(mon::kRef);
  const int rawStart = p.radio.temperatureRaw();
  p.radio.setTemperatureC(19.0);
  const int rawNow = p.radio.temperatureRaw();
  ASSERT_EQ(tempSegment(rawNow), s);
  ASSERT_GT(rawNow, rawStart);
  EXPECT_EQ(p.radio.monitorReading(mon::kRef) - atStart, rawNow - rawStart);
}

TEST(TarnImageDefault, ChannelMemoryFollowsTheMemoryMap) {
  const Bytes img = defaultImage();
  ASSERT_EQ(img.size(), 15968u);
  EXPECT_EQ(readWord(img, eep::kBaseFrequency), 4500);
  const int w1 = readWord(img, eep::kEntryWordW1);
  const int w2 = readWord(img, eep::kRecordWordW2);
  const int slots = img[eep::kSlotCount];
  int present = 0, inhibitedRx = 0, duplex = 0, narrow = 0, low = 0;
  for (int n = 0; n < std::min(slots, 40); ++n) {
    if (img[static_cast<std::size_t>(w1 + 513 + 26 * n)] != 26) continue;
    const int rec = w2 + 512 + 32 * n;
    const std::uint32_t rx = readLong(img, rec + 4);
    const std::uint32_t tx = readLong(img, rec + 8);
    ++present;
    if (rx & 0x80000000u) {
      ++inhibitedRx;
    } else {
      EXPECT_GE(rx, 440000000u);
      EXPECT_LE(rx, 470000000u);
    }
    if (!(tx & 0x80000000u)) {
      EXPECT_GE(tx, 440000000u);
      EXPECT_LE(tx, 470000000u);
      if (!(rx & 0x80000000u) && tx != rx) ++duplex;
    }
    if (img[static_cast<std::size_t>(rec + 12)] & 0x04) ++narrow;
    if (img[static_cast<std::size_t>(rec + 12)] & 0x10) ++low;
  }
  EXPECT_EQ(present, 12);
  EXPECT_EQ(inhibitedRx, 1);
  EXPECT_GT(duplex, 0);
  EXPECT_LT(duplex, present);
  EXPECT_GT(narrow, 0);
  EXPECT_LT(narrow, present);
  EXPECT_GT(low, 0);
  EXPECT_LT(low, present);
}

}  // namespace
}  // namespace kvsim::test
