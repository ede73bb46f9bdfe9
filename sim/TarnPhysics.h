#pragma once
// The analogue side of the virtual KV-Tarn: supply voltages, the thermistor, the
// signal detector behind the four band-pass filters, the D/A outputs that follow the
// adjustment values, and the reference oscillator whose drift the compensation table
// corrects. Everything is computed from the EEPROM image (where the radio keeps the
// values it was sent), the selected channel and the environment (temperature, the
// signal generator's level).
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "base/Wire.h"
#include "sim/TarnImage.h"

namespace kvsim {

// The transmitter of the selected channel as a frequency counter would see it.
struct TxReport {
  bool valid = false;           // false: the channel has no transmit frequency (inhibited or empty)
  int slot = 0;                 // selected channel slot
  std::uint32_t nominalHz = 0;  // the channel's programmed transmit frequency
  double actualHz = 0.0;        // what the transmitter puts out
  double errorHz = 0.0;         // actual - nominal
  double errorPpm = 0.0;        // error relative to the nominal frequency, in ppm
  int setting = 0;              // compensation value in effect (0..255)
  int segment = 0;              // temperature segment whose entries are in use
  int temperatureRaw = 0;       // the thermistor reading that chose the segment
};

// Monitor channel numbers of the E8 monitor request.
namespace mon = tarnset::wire::mon;

class TarnPhysics {
 public:
  // Supply voltages the radio measures.
  static constexpr double kVinVolts = 13.8;
  static constexpr double kLvinVolts = 1.9;
  // Reference oscillator pull per compensation step, in ppm. The compensation table's
  // slope bytes (1/32 step per A/D count, -128..127) hold the family's curve in its
  // steepest segment (about 1.3 ppm per count between 240 and 255) only for an oscillator
  // that pulls at least 0.33 ppm per step: the virtual radio's pulls 0.4.
  static constexpr double kPullPpmPerStep = 0.4;
  // The compensation value that leaves the oscillator unpulled.
  static constexpr int kPullCentre = 128;
  // Half-width of the flat top of a band-pass filter's response, in settings.
  static constexpr double kBpfFlatHalfWidth = 2.0;

  TarnPhysics(double temperatureC, double driftCPerMinute, int sdNoise, std::uint32_t seed);

  // Moves the environment's clock (microseconds, any origin; the first call sets it).
  void setClock(std::int64_t nowUs);
  // The radio's temperature now (the start value plus the drift since the clock started).
  double temperatureC() const;
  // Sets the temperature; any drift continues from this value.
  void setTemperatureC(double celsius);
  // Level of the test signal at the antenna connector, in dBu.
  void setSignalLevelDbu(double dbu) { signalDbu_ = dbu; }
  double signalLevelDbu() const { return signalDbu_; }

  // The raw reading of monitor channel ch (0..255), as the radio answers it. The signal
  // detector carries the configured noise (which advances the noise generator).
  int monitor(int ch, const Bytes& image, int slot);
  // The same without noise (readouts for tests and the log).
  int monitorExact(int ch, const Bytes& image, int slot) const;

  // The compensation value in effect at the present thermistor reading.
  int compensationSetting(const Bytes& image) const;
  // The transmitter of the selected slot at the present temperature.
  TxReport transmitter(const Bytes& image, int slot) const;

  // Thermistor reading for a temperature (the inverse of the program's formula,
  // rounded, kept within 1..254).
  static int thermistorRaw(double celsius);
  // Temperature for a thermistor reading, by the program's formula (raw 1..254).
  static double thermistorCelsius(double raw);
  // Frequency error of the bare reference oscillator at a temperature, in ppm.
  static double crystalPpm(double celsius);
  // The compensation value that would bring the error to zero at a temperature.
  static double idealSetting(double celsius);
  // Filter k's best setting (0..3 for T1..T4) for a receive frequency in hertz.
  static double bpfOptimum(int filter, double rxHz);
  // Loss of a filter detuned by d settings from its optimum, in dB.
  static double bpfLossDb(double detune);

 private:
  // The frequency the receiver's filters track: receive frequency, else transmit, else base.
  static double tuningHz(const Bytes& image, int slot);
  int sdExact(const Bytes& image, int slot) const;

  double startC_;
  double driftPerMinute_;
  int sdNoise_;
  std::mt19937 noise_;
  std::optional<std::int64_t> originUs_;
  std::int64_t nowUs_ = 0;
  double signalDbu_ = 10.0;
};

}  // namespace kvsim
