#pragma once
// The virtual bench: one SCPI instrument that serves all four roles of the bench (signal
// generator, frequency counter, RF power meter, FM deviation meter) on the virtual
// KV-Tarn. Its generator feeds the radio's receiver (the signal detector follows the
// level, and a signal off the channel's receive frequency reads lower, as a real
// receiver's selectivity has it); its counter, power meter and deviation meter read the
// radio's transmitter while the radio transmits (the bench's PTT switch).
//
// The transmitter follows the radio's items as they are sent to it: the power of the level
// item last changed (Power(Hi), Power(L2), Power(L1); before any change the channel's own
// power setting, Hi or L2), the deviation of the test signal of the modulation item last
// changed (MOD W or MOD N by the channel's spacing, the balance square wave, or the
// CTCSS/DTCS tone), and the carrier frequency of the compensation in effect. Each
// responds monotonically and slightly non-linearly to its item and settles with a time
// constant of some tens of milliseconds; readings carry seeded, reproducible noise.
//
// It speaks the generic SCPI set (IEEE 488.2 common commands, FREQ, POW, OUTP, MEAS:FREQ?,
// MEAS:POW?, MEAS:FM:DEV?, SYST:ERR?, in short or long form, several messages in one line
// separated by ';'), and its own SIM: commands, which act whatever fault is in force:
//
//   SIM:PTT ON|OFF          key or release the radio's transmitter (SIM:PTT? asks)
//   SIM:FAULT SILENT        answer nothing and act on nothing until SIM:FAULT NONE
//   SIM:FAULT GARBAGE       the next answer (not a SIM: one) is garbage (once)
//   SIM:FAULT ERROR         an error enters the error queue now (once)
//   SIM:FAULT DROP          the next measurement is not answered: the connection drops
//   SIM:FAULT NONE          every fault cleared (SIM:FAULT? asks which are in force)
//
// Used in-process by tests (lines in, answers out, time given by the caller) and served on
// a TCP port by kv-tarn-sim --bench.
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/VirtualTarn.h"

namespace kvsim {

struct BenchOptions {
  double noise = 1.0;      // scale of the readings' noise: 0 none, 1 a plain bench's, up to 10
  std::uint32_t seed = 1;  // the noise's seed: runs are reproducible
};

class VirtualBench {
 public:
  // The signal level the receiver sees with the generator's RF off, in dBu.
  static constexpr double kNoSignalDbu = -130.0;
  // The receiver's signal level (the radio's --signal scale, in dBu at its detector) is the
  // generator's level in dBm plus the front end's gain: -120 dBm reads at the signal
  // detector's floor, -47 dBm at its top, as a real receiver's detector spans.
  static constexpr double kFrontEndGainDb = 90.0;
  // What the power meter reads without a carrier, in dBm.
  static constexpr double kPowerFloorDbm = -70.0;

  explicit VirtualBench(VirtualTarn& radio, BenchOptions options = {});

  // Takes one message line (without its LF) at time nowUs (microseconds, the radio's
  // clock); returns the answer lines, each with its LF, or an empty text.
  std::string handleLine(const std::string& line, std::int64_t nowUs);
  // Brings the bench up to nowUs: the generator's signal to the radio's receiver, the
  // transmitter's readings after the radio's items. The server calls it on every pass.
  void step(std::int64_t nowUs);

  // The PTT switch.
  void setPtt(bool on, std::int64_t nowUs);
  bool ptt() const { return ptt_; }

  enum class FaultKind { Silent, Garbage, Error, Drop };
  // Throws a fault as SIM:FAULT does (see above).
  void setFault(FaultKind kind);
  void clearFaults();
  // The faults in force, as SIM:FAULT? names them ("NONE", "SILENT,DROP").
  std::string faults() const;
  // A measurement met the drop fault: the server closes the connection it came on. Reading
  // the request clears it.
  bool takeDropRequest();

  // The generator as set.
  double generatorHz() const { return genHz_; }
  double generatorDbm() const { return genDbm_; }
  bool generatorOn() const { return genOn_; }
  // The level at the radio's receiver after its selectivity, in dBu; nullopt before the
  // generator was first set (the radio keeps its own signal level until then).
  std::optional<double> receiverDbu() const;
  // The transmitter as the meters see it now, without noise: 0 W, 0 Hz while not keyed.
  double powerW() const { return power_.value; }
  double deviationHz() const { return deviation_.value; }
  double carrierHz() const { return carrier_.value; }

  // The responses the transmitter settles to, for a given item value (0..255).
  static double powerForItem(int value);
  static double modDeviationForItem(int value, bool narrow);
  static double toneDeviationForItem(int value);
  // The receiver's loss for a signal offset from the channel's receive frequency, in dB.
  static double selectivityLossDb(double offsetHz, bool narrow);

 private:
  struct Lagged {
    double value = 0.0;
    double target = 0.0;
    double tauUs = 50000.0;
    void advance(double dtUs);
  };
  enum class Test { Modulation, Balance, Tone };

  void execute(const std::string& message, std::string& out, std::int64_t nowUs);
  bool simCommand(const std::string& header, const std::string& arg, std::string& out, std::int64_t nowUs);
  void pushError(int code, const std::string& text);
  std::string reading(double value, int decimals);
  std::string measure(const std::string& which);
  void trackItems();
  void applyGenerator();
  double gauss(double sigma);

  VirtualTarn& radio_;
  BenchOptions options_;
  std::mt19937 rng_;
  std::int64_t nowUs_ = 0;
  bool clockStarted_ = false;

  double genHz_ = 0.0;
  double genDbm_ = -60.0;
  bool genOn_ = false;
  bool genDriven_ = false;

  bool ptt_ = false;
  // Settled to 1 % within 150 ms, inside an instrument's settle time of 200 ms.
  Lagged power_{0.0, 0.0, 30000.0};
  Lagged deviation_{0.0, 0.0, 25000.0};
  Lagged carrier_{0.0, 0.0, 30000.0};
  std::optional<int> powerCode_;  // the E8 code of the level item last changed
  Test test_ = Test::Modulation;
  std::uint64_t itemCommandsSeen_ = 0;
  std::optional<int> modCode_;  // MOD W or MOD N, whichever was addressed last

  bool silent_ = false;
  bool garbage_ = false;
  bool drop_ = false;
  bool dropRequested_ = false;
  std::deque<std::pair<int, std::string>> errors_;
};

}  // namespace kvsim
