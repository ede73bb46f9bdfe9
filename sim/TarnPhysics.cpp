#include "sim/TarnPhysics.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kvsim {

namespace {

// Thermistor divider: 4000 K beta, 47 k at 25 degrees against a 10 k reference on 5 V,
// read by an 8-bit converter with a 5 V reference.
constexpr double kBeta = 4000.0;
constexpr double kT25 = 298.15;
constexpr double kKelvin = 273.15;

// The oscillator's bare curve (an AT-cut crystal): offset, linear and cubic terms about
// its turnover temperature; the radio is specified from -30 to +60 degrees, the curve is
// held flat beyond -40 and +100.
constexpr double kCrystalOffsetPpm = -2.5;
constexpr double kCrystalLinear = -0.22;
constexpr double kCrystalCubic = 9.5e-5;
constexpr double kCrystalTurnover = 27.0;

// Band-pass filters: best setting at 455 MHz and its shift per MHz of the tuned frequency.
constexpr std::array<double, 4> kBpfOptimumAt455 = {-18.0, 12.0, 34.0, -6.0};
constexpr std::array<double, 4> kBpfShiftPerMHz = {1.6, 1.2, 0.9, 1.4};
constexpr double kBpfSkirtDbPerSetting = 0.6;
constexpr double kBpfMaxLossDb = 9.0;

// Signal detector: counts at 0 dBu with the filters on tune, counts per dB, noise floor.
constexpr double kSdAtZeroDbu = 110.0;
constexpr double kSdPerDb = 3.2;
constexpr int kSdFloor = 12;
constexpr int kSdCeiling = 250;

int clampRaw(double v) {
  return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

int signedByte(std::uint8_t b) {
  return b >= 128 ? b - 256 : b;
}

}  // namespace

TarnPhysics::TarnPhysics(double temperatureC, double driftCPerMinute, int sdNoise, std::uint32_t seed)
    : startC_(temperatureC), driftPerMinute_(driftCPerMinute), sdNoise_(std::max(sdNoise, 0)), noise_(seed) {}

void TarnPhysics::setClock(std::int64_t nowUs) {
  if (!originUs_) originUs_ = nowUs;
  nowUs_ = std::max(nowUs, nowUs_);
}

double TarnPhysics::temperatureC() const {
  if (!originUs_) return startC_;
  const double minutes = static_cast<double>(nowUs_ - *originUs_) / 60e6;
  return startC_ + driftPerMinute_ * minutes;
}

void TarnPhysics::setTemperatureC(double celsius) {
  startC_ = celsius;
  originUs_ = nowUs_;
}

int TarnPhysics::thermistorRaw(double celsius) {
  const double r = std::exp(kBeta * (1.0 / (celsius + kKelvin) - 1.0 / kT25));
  const double volts = 500000.0 / (47000.0 * r + 100000.0);
  return std::clamp(static_cast<int>(std::lround(volts * 255.0 / 5.0)), 1, 254);
}

double TarnPhysics::thermistorCelsius(double raw) {
  raw = std::clamp(raw, 0.5, 254.5);
  const double volts = raw * 5.0 / 255.0;
  const double r = (500000.0 - 100000.0 * volts) / volts / 47000.0;
  return 1.0 / (std::log(r) / kBeta + 1.0 / kT25) - kKelvin;
}

double TarnPhysics::crystalPpm(double celsius) {
  const double d = std::clamp(celsius, -40.0, 100.0) - kCrystalTurnover;
  return kCrystalOffsetPpm + kCrystalLinear * d + kCrystalCubic * d * d * d;
}

double TarnPhysics::idealSetting(double celsius) {
  return kPullCentre - crystalPpm(celsius) / kPullPpmPerStep;
}

double TarnPhysics::bpfOptimum(int filter, double rxHz) {
  const auto k = static_cast<std::size_t>(std::clamp(filter, 0, 3));
  return kBpfOptimumAt455[k] + kBpfShiftPerMHz[k] * (rxHz / 1e6 - 455.0);
}

double TarnPhysics::bpfLossDb(double detune) {
  const double beyond = std::max(0.0, std::fabs(detune) - kBpfFlatHalfWidth);
  // Linear skirts that level out at the filter's stop-band loss.
  return kBpfMaxLossDb * std::tanh(beyond * kBpfSkirtDbPerSetting / kBpfMaxLossDb);
}

double TarnPhysics::tuningHz(const Bytes& image, int slot) {
  const ChannelInfo ch = channel(image, slot);
  if (ch.rxHz) return *ch.rxHz;
  if (ch.txHz) return *ch.txHz;
  return readWord(image, eep::kBaseFrequency) * 100000.0;
}

int TarnPhysics::sdExact(const Bytes& image, int slot) const {
  const double f = tuningHz(image, slot);
  double loss = 0.0;
  for (int k = 0; k < 4; ++k) {
    loss += bpfLossDb(signedByte(readByte(image, eep::kBpfT1 + k)) - bpfOptimum(k, f));
  }
  const double counts = kSdAtZeroDbu + kSdPerDb * (signalDbu_ - loss);
  return std::clamp(static_cast<int>(std::lround(counts)), kSdFloor, kSdCeiling);
}

int TarnPhysics::compensationSetting(const Bytes& image) const {
  const int raw = thermistorRaw(temperatureC());
  const int s = tempSegment(raw);
  const int value = readByte(image, eep::kTxfTable + 2 * s + 1);
  const int slope = signedByte(readByte(image, eep::kTxfTable + 2 * s));
  const double step = (raw - kTempBorder[static_cast<std::size_t>(s)]) * slope / 32.0;
  return std::clamp(value + static_cast<int>(std::lround(step)), 0, 255);
}

TxReport TarnPhysics::transmitter(const Bytes& image, int slot) const {
  TxReport r;
  r.slot = slot;
  r.temperatureRaw = thermistorRaw(temperatureC());
  r.segment = tempSegment(r.temperatureRaw);
  r.setting = compensationSetting(image);
  const ChannelInfo ch = channel(image, slot);
  if (!ch.txHz) return r;
  r.valid = true;
  r.nominalHz = *ch.txHz;
  r.errorPpm = crystalPpm(temperatureC()) + kPullPpmPerStep * (r.setting - kPullCentre);
  r.errorHz = r.nominalHz * r.errorPpm * 1e-6;
  r.actualHz = r.nominalHz + r.errorHz;
  return r;
}

int TarnPhysics::monitorExact(int ch, const Bytes& image, int slot) const {
  const double f = tuningHz(image, slot);
  const auto setting = [&](int k) { return signedByte(readByte(image, eep::kBpfT1 + k)); };
  // The filter tuning voltages: the radio's own tracking of the channel frequency plus
  // the stored setting.
  const auto tuning = [&](int k) { return clampRaw(128.0 + 0.8 * setting(k) + 2.4 * (f / 1e6 - 455.0)); };
  switch (ch) {
    case mon::kVin:
      return clampRaw(kVinVolts * 255.0 / 20.0);
    case mon::kTemperature:
      return thermistorRaw(temperatureC());
    case mon::kSd:
      return sdExact(image, slot);
    case mon::kLvin:
      return clampRaw(kLvinVolts * 255.0 / 5.0);
    case mon::kCtcss:
      return clampRaw(0.7 * readByte(image, eep::kTone) + 20.0);
    case mon::kRef:
      return compensationSetting(image);
    case mon::kModBalance:
      return clampRaw(0.92 * readByte(image, eep::kBalance) + 10.0);
    case mon::kDeviation: {
      const int mod = readByte(image, channel(image, slot).narrow ? eep::kModN : eep::kModW);
      return clampRaw(0.85 * mod + 6.0);
    }
    case mon::kSquelch:
      return clampRaw(0.9 * readByte(image, eep::kSquelch) + 8.0);
    case mon::kBpfT1:
    case mon::kBpfT1 + 1:
    case mon::kBpfT1 + 2:
    case mon::kBpfT4:
      return tuning(ch - mon::kBpfT1);
    default:
      return 0;  // channels the radio does not wire
  }
}

int TarnPhysics::monitor(int ch, const Bytes& image, int slot) {
  const int exact = monitorExact(ch, image, slot);
  if (ch != mon::kSd || sdNoise_ == 0) return exact;
  std::uniform_int_distribution<int> noise(-sdNoise_, sdNoise_);
  return std::clamp(exact + noise(noise_), 0, 255);
}

}  // namespace kvsim
