// Console events of the KV-Tarn rows, the thirteen monitor lines and the check of E8
// answers.
#include <array>
#include <cmath>

#include "base/Checked16.h"
#include "base/Common.h"
#include "base/NumFormat.h"
#include "base/Wire.h"
#include "clone/ComHost.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {
namespace {

using wire::isHexDigit;
constexpr std::int16_t kE8Monitor = wire::e8::kMonitor;

struct MonitorLine {
  const char* label;
  int multiplier;  // raw x multiplier / 255 (16-bit product)
  const char* pattern;
  std::size_t width;
};

constexpr std::array<MonitorLine, 4> kAdLines = {{
    {"VIN  :", 20, "##0.#0V", 7},
    {"TEMPS:", 5, "###.#0'C", 8},  // temperature, see MonitorLineText
    {"LVIN :", 5, "##0.#0V", 7},
    {"SD   :", 5, "##0.#0V", 7},
}};

constexpr std::array<MonitorLine, 9> kDaLines = {{
    {"BPF T1 :", 5, "##0.#0V", 7},
    {"BPF T2 :", 5, "##0.#0V", 7},
    {"BPF T3 :", 5, "##0.#0V", 7},
    {"T4/POW :", 5, "##0.#0V", 7},
    {"REF    :", 5, "##0.#0V", 7},
    {"MOD BAL:", 1, "0.00%", 7},
    {"Dev    :", 5, "##0.#0V", 7},
    {"CTCSS  :", 5, "##0.#0V", 7},
    {"SQL Lev:", 1, "0.00%", 7},
}};

bool inRange(std::int16_t v, int lo, int hi) {
  return v >= lo && v <= hi;
}

}  // namespace

bool clsIndOp_RigTarn::sendE8(std::int16_t code, std::int16_t value) {
  seq_->easySendE8NoAnswer(ByteToHex(code) + ByteToAsciiHex(value));
  return !seq_->sendRefused();
}

bool clsIndOp_RigTarn::readAdMonitor(std::int16_t line, bool entry) {
  return readMonitor(true, line, entry);
}

bool clsIndOp_RigTarn::readDaMonitor(std::int16_t line, bool entry) {
  return readMonitor(false, line, entry);
}

// One monitor line: the first call asks the radio, whose answer the sequencer hands over
// when the request ends; a later call with the sequencer idle takes it. Returns true when
// the line is done. An answer that fails its check (or a request that ended without one)
// latches the error and is never a reading: the line is not done, so no state, step or
// sweep acts on it, and the controller reports the error before it does anything else.
bool clsIndOp_RigTarn::readMonitor(bool analogToDigital, std::int16_t line, bool entry) {
  const std::size_t n = static_cast<std::size_t>(line);
  const std::int16_t channel = analogToDigital ? adChannel_.at(n) : daChannel_.at(n);
  if (entry) {
    monitorAnswer_.reset();
    seq_->easySendE8ReqAnswer(ByteToHex(kE8Monitor) + ByteToAsciiHex(channel),
                              [this](const Bytes& answer) { monitorAnswer_ = answer; });
    return false;
  }
  if (seq_->OpRunning()) return false;
  const std::optional<Bytes> answer = std::move(monitorAnswer_);
  monitorAnswer_.reset();
  if (!answer || answerInvalid(*answer)) {
    errorLatch_ = true;
    return false;
  }
  const std::int16_t v = answerValue(*answer);
  std::int16_t& last = analogToDigital ? adLast_.at(n) : daLast_.at(n);
  if (v != last) {
    last = v;
    const MonitorBank bank = analogToDigital ? MonitorBank::AnalogToDigital : MonitorBank::DigitalToAnalog;
    const std::string text = MonitorLineText(analogToDigital, line, v);
    tellViews([&](TarnView& view) { view.monitorLineChanged(bank, line, v, text); });
  }
  return true;
}

std::string clsIndOp_RigTarn::MonitorLineText(bool analogToDigital, std::int16_t line, std::int16_t raw) {
  const std::size_t n = static_cast<std::size_t>(line);
  const MonitorLine& fmt = analogToDigital ? kAdLines.at(n) : kDaLines.at(n);
  const std::string prefix = rightAlign(decimal(raw), 3) + ":" + ByteToHex(raw) + "h:";
  if (analogToDigital && line == 1) {
    if (raw == 0 || raw == 255) return fmt.label + prefix + "*Error";
    const double v = mul16(raw, 5) / 255.0;
    const double r = (500000.0 - 100000.0 * v) / v / 47000.0;
    const double celsius = 1.0 / (std::log(r) / 4000.0 + 1.0 / 298.15) - 273.15;
    return fmt.label + prefix + rightAlign(formatNumber(celsius, fmt.pattern), fmt.width);
  }
  const double scaled = mul16(raw, static_cast<std::int16_t>(fmt.multiplier)) / 255.0;
  return fmt.label + prefix + rightAlign(formatNumber(scaled, fmt.pattern), fmt.width);
}

bool clsIndOp_RigTarn::answerInvalid(const Bytes& answer) const {
  if (answer.size() != 7) return true;
  if (modelId_.size() != 4 || !std::equal(modelId_.begin(), modelId_.end(), answer.begin())) return true;
  return !(isHexDigit(answer[5]) && isHexDigit(answer[6]));
}

std::int16_t clsIndOp_RigTarn::answerValue(const Bytes& answer) const {
  return AsciiHexToInt(Bytes{answer[5], answer[6]});
}

bool clsIndOp_RigTarn::inhibited(std::int32_t adr) const {
  return eep_->Check_Inh(adr) != 0;
}

std::string clsIndOp_RigTarn::frequencyText(std::int32_t hz, double factor, const char* pattern) const {
  return formatNumber(static_cast<double>(hz) / 1000000.0 * factor, pattern);
}

std::string clsIndOp_RigTarn::channelLine(std::int16_t Index, std::int16_t val) const {
  const std::int16_t ch = chList_.at(static_cast<std::size_t>(val));
  std::string name = eep_->RigTarnEep_GetChName(ch);
  name.erase(0, name.find_first_not_of(' '));
  if (ch + 1 < 10) name = "0" + name;
  const std::int32_t rxAdr = rxBase_ + TarnMap::kChRecordSize * ch;
  const std::int32_t txAdr = txBase_ + TarnMap::kChRecordSize * ch;
  const bool rxInh = inhibited(rxAdr);
  const char* kFreq = "###0.#####0";

  std::string line = console_->Title(Index) + ": " + name + " RX = ";
  std::int32_t rx = 0;
  if (rxInh) {
    line += "Inhibit   ";
  } else {
    rx = eep_->RigTarnEep_GetChFreqRxReal(rxBase_, ch);
    line += frequencyText(rx, 1.0, kFreq);
  }
  line += ", TX = ";
  if (inhibited(txAdr)) {
    line += "Inhibit   ";
  } else {
    const std::int32_t tx = eep_->RigTarnEep_GetChFreqTxReal(txBase_, ch);
    line += (!rxInh && tx == rx) ? std::string("  <-      ") : frequencyText(tx, 1.0, kFreq);
  }
  const std::int16_t power = eep_->RigTarnEep_GetChRFPower(chBase_, ch);
  line += "  RF Power: ";
  line += power == 0 ? "High" : (power == 1 ? "Low2" : "Low1");
  line += "  Mode:";
  line += eep_->RigTarnEep_GetChMode(chBase_, ch) ? " Narrow" : " Wide";
  return line;
}

std::string clsIndOp_RigTarn::ConsEv_Disp(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                                          std::int16_t val) {
  const std::string title = objConsole.Title(Index);
  switch (evNo) {
    case 0:
      return channelLine(Index, val);
    case 1: {
      if (!inRange(enterStep_, 1, 5)) return title + ": [Enter] to Start";
      std::string line = title + (txfPhase2_ ? ": 2nd TX Freq = " : ": 1st TX Freq = ");
      if (inhibited(txBase_ + TarnMap::kChRecordSize * selChannel_)) {
        line += "Inhibit";
      } else {
        line += frequencyText(eep_->RigTarnEep_GetChFreqTxReal(txBase_, selChannel_),
                              txfPhase2_ ? 1.00001 : 1.0, "#000.#####0MHz");
      }
      return line + ", Setting = " + rightAlign(decimal(val), 3) + objConsole.BarString(Index);
    }
    case 2:
      if (inRange(enterStep_, 12, 16) && Index == idxBpfSweep_)
        return title + ": Sweeping" +
               (rxAuto_ && !genLine_.empty() ? ", generator " + genLine_ : std::string());
      return title + ": [Enter] to Sweep";
    case 3: {
      std::string line = objConsole.DefaultString(Index);
      if (!inRange(enterStep_, 12, 16)) return line + " [Enter] to Sweep";
      const int k = Index - idxBpfT1_;
      return (k >= 0 && k < 4 && bpfSelected_[static_cast<std::size_t>(k)]) ? line + " Sweeping" : line;
    }
    case 4:
      if (!inRange(enterStep_, 6, 8)) return title + ": [Enter] to Start";
      return title + (rssiLowPhase_ ? ": L0 Level (-7dBu) " : ": L2 Level (+23dBu) ") +
             (rxAuto_ && !genLine_.empty() ? "generator " + genLine_ : std::string());
    case 5:
      if (!inRange(enterStep_, 9, 11)) return title + ": [Enter] to Start";
      return title + (calNarrowPhase_ ? ": Narrow " : ": Wide ");
    default:
      return "???";
  }
}

void clsIndOp_RigTarn::ConsEv_SendE8(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                                     std::int16_t val) {
  if (evNo != 0) return;
  const std::int16_t ch = chList_.at(static_cast<std::size_t>(val));
  if (sendE8(objConsole.E8Command(Index), static_cast<std::int16_t>(ch + 1))) selChannel_ = ch;
}

void clsIndOp_RigTarn::ConsEv_Enter(clsConsole& /*objConsole*/, std::int16_t Index, std::int16_t evNo,
                                    std::int16_t /*val*/) {
  // Starting a procedure abandons any other, as a reset does: an unattended one's RF goes
  // off and its tune ends, and Align All hears that its step ended. The rows are redrawn
  // (by resetEnterFlags) once the new procedure is set, so that no row goes on showing the
  // abandoned one.
  static constexpr TarnProcedure kOfEvent[] = {
      TarnProcedure::Txf,      TarnProcedure::Rssi,     TarnProcedure::Cal,      TarnProcedure::BpfSweep,
      TarnProcedure::BpfSweep, TarnProcedure::BpfSweep, TarnProcedure::BpfSweep, TarnProcedure::BpfSweep};
  if (evNo < 0 || evNo > 7) return;
  const std::optional<TarnProcedure> running = procedureOf(enterStep_);
  if (running && *running != kOfEvent[evNo]) abandonProcedures();
  switch (evNo) {
    case 0:
      if (inRange(enterStep_, 1, 5)) {
        if (!txfAuto_) txfAgain_ = true;  // unattended, the counter confirms
        return;
      }
      txfComputed_ = false;
      txfPhase2_ = false;
      enterStep_ = 1;
      break;
    case 1:
      if (inRange(enterStep_, 6, 8)) {
        if (!rxAuto_) rssiAgain_ = true;  // unattended, the generator's level confirms
        return;
      }
      rssiLowPhase_ = false;
      enterStep_ = 6;
      break;
    case 2:
      if (inRange(enterStep_, 9, 11)) {
        calAgain_ = true;
        return;
      }
      calNarrowPhase_ = false;
      enterStep_ = 9;
      break;
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
      if (inRange(enterStep_, 12, 16)) return;  // a sweep runs: Enter does nothing
      bpfSelected_.fill(false);
      bpfAll_ = false;
      if (evNo == 7) {
        bpfAll_ = true;
        for (std::size_t k = 0; k < 4; ++k) bpfSelected_[k] = true;
      } else {
        bpfSelected_[static_cast<std::size_t>(evNo - 3)] = true;
      }
      idxBpfSweep_ = Index;
      enterStep_ = 12;
      break;
    default:
      return;
  }
  const TarnProcedure started = *procedureOf(enterStep_);
  // With the instruments for it, the procedure runs unattended: the generator gives the
  // receive procedures their signal, the counter tunes TXF.
  const bool generator = bench_ != nullptr && bench_->configured(Role::Generator);
  rxAuto_ = generator && (started == TarnProcedure::Rssi || started == TarnProcedure::BpfSweep);
  txfAuto_ = started == TarnProcedure::Txf && bench_ != nullptr && bench_->configured(Role::Counter) &&
             bench_->configured(Role::PowerMeter);
  gen_ = Generator(*clock_);
  genLine_.clear();
  tellViews([&](TarnView& v) { v.procedureStarted(started); });
  resetEnterFlags();
}

}  // namespace tarnset
