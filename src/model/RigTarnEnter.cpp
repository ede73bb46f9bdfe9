// The Enter procedures: the two-frequency TXF compensation with its 40-entry table, the
// two RSSI points, the two CAL points, and the band-pass filter sweeps. Each runs one
// step per pass of the monitoring cycle and only while the sequencer is idle.
#include <algorithm>
#include <cmath>

#include "base/Checked16.h"
#include "base/Wire.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {
namespace {

constexpr std::int16_t kAdTemperature = 1;
constexpr std::int16_t kAdLvin = 2;
constexpr std::int16_t kAdSd = 3;
constexpr std::int16_t kE8Cal = wire::e8::kMode;
constexpr std::int16_t kE8RssiL0 = wire::e8::kRssiL0;
constexpr std::int16_t kE8RssiL2 = wire::e8::kRssiL2;
constexpr std::int16_t kE8TxfEntry0 = wire::e8::kTxfEntry0;

// Limits a computed table value to [lo, hi]; a value that is not a number gives 0.
double limitTo(double v, double lo, double hi) {
  if (std::isnan(v)) return 0.0;
  return std::clamp(v, lo, hi);
}

}  // namespace

std::optional<TarnProcedure> clsIndOp_RigTarn::procedureOf(std::int16_t step) {
  if (step >= 1 && step <= 5) return TarnProcedure::Txf;
  if (step >= 6 && step <= 8) return TarnProcedure::Rssi;
  if (step >= 9 && step <= 11) return TarnProcedure::Cal;
  if (step >= 12 && step <= 16) return TarnProcedure::BpfSweep;
  return std::nullopt;
}

void clsIndOp_RigTarn::endProcedure(TarnProcedure which) {
  if (rxAuto_) generatorOff();  // RF off at the end of an unattended receive procedure
  rxAuto_ = txfAuto_ = false;
  tellViews([which](TarnView& v) { v.procedureEnded(which, true); });
  alignProcedureEnded(which, true, {});
}

void clsIndOp_RigTarn::abandonProcedures() {
  // A procedure cut off by a link failure, a new connection or a port change must not go
  // on after the next connection: the catalogue it worked on is rebuilt (the TXF row
  // reads 0), its monitor request was lost, and the radio may be another one. The
  // technician starts it again with Enter.
  if (rxAuto_) generatorOff();  // and after any fault
  rxAuto_ = txfAuto_ = false;
  if (tune_ && tune_->row == idxTxf_) tune_.reset();  // its tune ends with it
  if (const std::optional<TarnProcedure> running = procedureOf(enterStep_)) {
    tellViews([&](TarnView& v) { v.procedureEnded(*running, false); });
    alignProcedureEnded(*running, false, "the procedure was stopped");
  }
  enterStep_ = 0;
  txfAgain_ = txfPhase2_ = txfComputed_ = false;
  txfReading_ = false;
  txfLastSegment_ = -1;
  txfLastSetting_ = 0;
  txfFirstEntry_ = txfLastEntry_ = 0;
  txfAgainAtStart_ = false;
  rssiAgain_ = rssiLowPhase_ = rssiReading_ = rssiStored_ = false;
  calAgain_ = calNarrowPhase_ = calSent_ = false;
  bpfSelected_.fill(false);
  bpfAll_ = false;
  bpfReading_ = false;
  bpfSubStep_ = 0;
  bpfFilter_ = 0;
  bpfBest_ = -1;
}

std::int16_t clsIndOp_RigTarn::tempSegment(std::int16_t raw) const {
  for (std::int16_t i = 0; i <= 18; ++i) {
    if (raw < tempBorder_[static_cast<std::size_t>(i + 1)]) return i;
  }
  return 19;
}

bool clsIndOp_RigTarn::runEnterStep() {
  const std::int16_t before = enterStep_;
  bool done = true;
  if (enterStep_ >= 1 && enterStep_ <= 5) {
    done = stepTxf();
  } else if (enterStep_ >= 6 && enterStep_ <= 8) {
    done = stepRssi();
  } else if (enterStep_ >= 9 && enterStep_ <= 11) {
    done = stepCal();
  } else if (enterStep_ >= 12 && enterStep_ <= 16) {
    done = stepBpfSweep();
  }
  if (before != 0 && enterStep_ == 0) resetEnterFlags();
  return done;
}

// ---------------------------------------------------------------- TXF

void clsIndOp_RigTarn::computeTxfTable(std::int16_t v, std::int16_t s) {
  txfComputed_ = true;
  txfSecond_ = v;
  // Single-precision as the table is kept; every narrowing to a byte happens later, after
  // limiting, so extreme coefficients saturate instead of overflowing.
  const float d = static_cast<float>(v - txfFirst_) / 10.0f;
  for (std::size_t i = 0; i <= 20; ++i) txfTable_[i] = static_cast<float>(txfFirst_) - d * txfCoef_[i];
  for (std::size_t i = 0; i <= 19; ++i) {
    const float width = static_cast<float>(tempBorder_[i + 1] - tempBorder_[i]);
    txfSlope_[i] = (txfTable_[i + 1] - txfTable_[i]) / width * 32.0f;
  }
  const std::size_t seg = static_cast<std::size_t>(s);
  const double offsetInSegment =
      static_cast<double>(adLast_[kAdTemperature] - tempBorder_[seg]) * txfSlope_[seg];
  txfAtTemp_ = std::floor(static_cast<double>(txfTable_[seg]) + 0.5) + roundHalfEven(offsetInSegment) / 32.0;
  txfOffset_ = roundHalfEven(static_cast<double>(txfFirst_) - std::floor(txfAtTemp_));
}

double clsIndOp_RigTarn::txfEntryUnclipped(std::int16_t k) const {
  const std::size_t half = static_cast<std::size_t>(k / 2);
  if (k % 2 == 1) return std::floor(static_cast<double>(txfTable_[half]) + 0.5) + txfOffset_;
  return roundHalfEven(txfSlope_[half]);
}

std::string clsIndOp_RigTarn::txfTableProblem() const {
  for (std::int16_t k = 0; k < 40; ++k) {
    const double x = txfEntryUnclipped(k);
    const bool value = k % 2 == 1;
    const double lo = value ? 0.0 : -128.0, hi = value ? 255.0 : 127.0;
    if (std::isfinite(x) && x >= lo && x <= hi) continue;
    char text[200];
    std::snprintf(text, sizeof text, "Entry %d (%s %d) would be %s, outside %g..%g.", k,
                  value ? "REF Initial" : "REF Slant", k / 2,
                  std::isfinite(x) ? std::to_string(std::lround(x)).c_str() : "not a number", lo, hi);
    return text;
  }
  return {};
}

std::uint8_t clsIndOp_RigTarn::txfEntryValue(std::int16_t k) const {
  const std::size_t half = static_cast<std::size_t>(k / 2);
  if (txfComputed_ && txfPhase2_) {
    if (k % 2 == 1) {
      const double x = std::floor(static_cast<double>(txfTable_[half]) + 0.5) + txfOffset_;
      return static_cast<std::uint8_t>(limitTo(x, 0.0, 255.0));
    }
    const double x = limitTo(roundHalfEven(txfSlope_[half]), -128.0, 127.0);
    return static_cast<std::uint8_t>(static_cast<std::int16_t>(x) & 0xFF);  // two's complement byte
  }
  return k % 2 == 1 ? static_cast<std::uint8_t>(console_->Value(idxTxf_) & 0xFF) : 0;
}

bool clsIndOp_RigTarn::stepTxf() {
  if (seq_->OpRunning()) return false;
  std::int16_t next = static_cast<std::int16_t>(enterStep_ + 1);
  switch (enterStep_) {
    case 1:
      txfLastSegment_ = -1;
      txfAgain_ = false;
      break;
    case 2: {
      const bool entry = !txfReading_;
      txfReading_ = true;
      if (!readAdMonitor(kAdTemperature, entry)) return false;
      const std::int16_t v = console_->Value(idxTxf_);
      if (txfPhase2_) {
        if (v >= 205) {
          console_->setValue(idxTxf_, 255);
          console_->Disp(idxTxf_);
        } else {
          console_->setValue(idxTxf_, add16(txfFirst_, 60));
        }
      } else {
        const std::int16_t s = tempSegment(adLast_[kAdTemperature]);
        console_->setValue(idxTxf_, radio_->eepImage().ReadByte(TarnMap::kTxfInitial + 2 * s));
      }
      break;
    }
    case 3: {
      const bool entry = !txfReading_;
      txfReading_ = true;
      if (!readAdMonitor(kAdTemperature, entry)) return false;
      const std::int16_t s = tempSegment(adLast_[kAdTemperature]);
      const std::int16_t v = console_->Value(idxTxf_);
      if (v != txfLastSetting_ || txfAgain_ || s != txfLastSegment_) {
        txfLastSegment_ = s;
        if (txfAgain_ && txfPhase2_) {
          computeTxfTable(v, s);
          if (const std::string problem = txfTableProblem(); !problem.empty()) {
            // A table that would be clipped is not the oscillator's: nothing of it goes out.
            const std::string details =
                problem + "\r\nSettings: " + std::to_string(txfFirst_) + " at the 1st TX frequency, " +
                std::to_string(txfSecond_) +
                " at the 2nd.\r\nThe curve in Const.ini does not fit this radio with these settings. Nothing "
                "of "
                "the table was sent; check Const.ini and the two settings, then run TXF again.";
            abandonProcedures();
            resetEnterFlags();
            tellViews([&](TarnView& view) {
              view.procedureRefused(TarnProcedure::Txf,
                                    "The TXF table was not written: it would leave the range of its entries.",
                                    details);
            });
            return true;
          }
          txfFirstEntry_ = 0;
          txfLastEntry_ = 39;
        } else {
          if (txfAgain_) txfFirst_ = v;
          txfFirstEntry_ = static_cast<std::int16_t>(2 * s - 2);
          txfLastEntry_ = static_cast<std::int16_t>(2 * s + 3);
        }
        txfFirstEntry_ = std::max<std::int16_t>(txfFirstEntry_, 0);
        txfLastEntry_ = std::min<std::int16_t>(txfLastEntry_, 39);
        txfAgainAtStart_ = txfAgain_;
        txfLastSetting_ = v;
        next = 4;
      } else {
        next = 5;
      }
      break;
    }
    case 4:
      if (txfFirstEntry_ <= txfLastEntry_) {
        const std::int16_t k = txfFirstEntry_++;
        const std::uint8_t x = txfEntryValue(k);
        if (sendE8(static_cast<std::int16_t>(kE8TxfEntry0 + k), x)) {
          radio_->eepImage().WriteByte(TarnMap::kTxfTable + k, x);
          valueStored(TarnMap::kTxfTable + k);
        }
        return false;  // one entry per call
      }
      next = txfAgainAtStart_ ? 5 : 3;
      break;
    case 5:
      next = 3;
      if (txfAgainAtStart_) {
        if (txfPhase2_) {
          next = 0;
          txfPhase2_ = false;
          txfAgain_ = false;
          endProcedure(TarnProcedure::Txf);
        } else {
          next = 1;
          txfPhase2_ = true;
        }
      }
      break;
    default:
      break;
  }
  txfReading_ = false;
  enterStep_ = next;
  return true;
}

// ---------------------------------------------------------------- RSSI

bool clsIndOp_RigTarn::stepRssi() {
  if (seq_->OpRunning()) return false;
  std::int16_t next = static_cast<std::int16_t>(enterStep_ + 1);
  switch (enterStep_) {
    case 6:
      // Unattended: the generator gives the point's level, and the point is taken as soon
      // as it has settled, as the technician's Enter takes it.
      // The points' levels at the antenna connector: +23 dBu EMF (L2) is -90 dBm into 50
      // ohms, -7 dBu EMF (L0) -120 dBm.
      if (rxAuto_ && !receiveSignalReady(rssiLowPhase_ ? -120.0 : -90.0)) return false;
      rssiAgain_ = rxAuto_;
      rssiStored_ = false;
      break;
    case 7: {
      const bool entry = !rssiReading_;
      rssiReading_ = true;
      if (!readAdMonitor(kAdSd, entry)) return false;
      if (rssiAgain_) {
        const std::int16_t e = adLast_[kAdSd];
        if (sendE8(rssiLowPhase_ ? kE8RssiL0 : kE8RssiL2, e)) {
          const std::int32_t adr = rssiLowPhase_ ? TarnMap::kRssiL0 : TarnMap::kRssiL2;
          radio_->eepImage().WriteByte(adr, static_cast<std::uint8_t>(e & 0xFF));
          valueStored(adr);
        }
      }
      rssiStored_ = rssiAgain_;
      break;
    }
    case 8:
      next = 7;
      if (rssiStored_) {
        if (rssiLowPhase_) {
          next = 0;
          rssiLowPhase_ = false;
          rssiAgain_ = false;
          endProcedure(TarnProcedure::Rssi);
        } else {
          next = 6;
          rssiLowPhase_ = true;
          rssiAgain_ = false;
          console_->Disp(idxRssi_);
        }
      }
      break;
    default:
      break;
  }
  rssiReading_ = false;
  enterStep_ = next;
  return true;
}

// ---------------------------------------------------------------- CAL

bool clsIndOp_RigTarn::stepCal() {
  if (seq_->OpRunning()) return false;
  std::int16_t next = static_cast<std::int16_t>(enterStep_ + 1);
  switch (enterStep_) {
    case 9:
      calAgain_ = false;
      calSent_ = false;
      break;
    case 10:
      if (calAgain_ && sendE8(kE8Cal, calNarrowPhase_ ? wire::e8::kCalNarrow : wire::e8::kCalWide))
        ++calPointsSent_;
      calSent_ = calAgain_;
      break;
    case 11:
      next = 10;
      if (calSent_) {
        if (calNarrowPhase_) {
          next = 0;
          calNarrowPhase_ = false;
          calAgain_ = false;
          endProcedure(TarnProcedure::Cal);
        } else {
          next = 9;
          calNarrowPhase_ = true;
          console_->Disp(idxCal_);
        }
      }
      break;
    default:
      break;
  }
  enterStep_ = next;
  return true;
}

// ---------------------------------------------------------------- BPF sweeps

bool clsIndOp_RigTarn::stepBpfSweep() {
  if (seq_->OpRunning()) return false;
  std::int16_t next = static_cast<std::int16_t>(enterStep_ + 1);
  switch (enterStep_) {
    case 12:
      // Unattended: the generator on the channel's receive frequency first.
      if (rxAuto_ && !receiveSignalReady(sweepLevelDbm())) return false;
      break;
    case 13:
      for (std::int16_t k = 0; k < TarnMap::kBpfCount; ++k) {
        if (!bpfSelected_[static_cast<std::size_t>(k)]) continue;
        const std::int16_t row = static_cast<std::int16_t>(idxBpfT1_ + k);
        console_->setValue(row, 0);
        console_->Disp(row);
      }
      break;
    case 14: {
      const bool entry = !bpfReading_;
      bpfReading_ = true;
      if (!readAdMonitor(kAdLvin, entry)) return false;
      bpfRefLevel_ = adLast_[kAdLvin];
      bpfFilter_ = 0;
      while (bpfFilter_ < TarnMap::kBpfCount && !bpfSelected_[static_cast<std::size_t>(bpfFilter_)])
        ++bpfFilter_;
      if (bpfFilter_ >= TarnMap::kBpfCount) {
        next = 16;
        break;
      }
      const std::int16_t row = static_cast<std::int16_t>(idxBpfT1_ + bpfFilter_);
      console_->setValue(row, bpfAll_ ? static_cast<std::int16_t>(-bpfRefLevel_) : console_->Min(row));
      bpfBest_ = -1;
      bpfFirstBest_ = console_->Min(row);
      bpfLastBest_ = console_->Min(row);
      bpfSubStep_ = 0;
      break;
    }
    case 15: {
      const std::int16_t row = static_cast<std::int16_t>(idxBpfT1_ + bpfFilter_);
      if (bpfSubStep_ == 0) {
        bpfSentValue_ = console_->Value(row);
        sendItem(row);
        bpfSubStep_ = 1;
        return false;
      }
      if (!readAdMonitor(kAdSd, bpfSubStep_ == 1)) {
        bpfSubStep_ = std::min<std::int16_t>(static_cast<std::int16_t>(bpfSubStep_ + 1), 2);
        return false;
      }
      console_->setWaitAfterE8(row, 0);
      // The reading belongs to the setting that was sent for it.
      const std::int16_t v = bpfSentValue_;
      const std::int16_t s = adLast_[kAdSd];
      if (s >= bpfBest_) {
        if (s > bpfBest_) bpfFirstBest_ = v;
        bpfLastBest_ = v;
        bpfBest_ = s;
      }
      const bool atEnd = (bpfAll_ && v >= 255 - bpfRefLevel_) || v >= console_->Max(row);
      if (!atEnd) {
        console_->setValue(row, add16(v, bpfAll_ ? 2 : 1));
        bpfSentValue_ = console_->Value(row);
        sendItem(row);  // the next setting goes out in the same call
        bpfSubStep_ = 1;
        return false;
      }
      console_->setValue(row, static_cast<std::int16_t>(std::floor((bpfFirstBest_ + bpfLastBest_) / 2.0)));
      bpfSelected_[static_cast<std::size_t>(bpfFilter_)] = false;
      console_->Disp(row);  // the row no longer says it is being swept
      bpfSubStep_ = 0;
      next = 14;
      break;
    }
    case 16:
      next = 0;
      endProcedure(TarnProcedure::BpfSweep);
      break;
    default:
      break;
  }
  bpfReading_ = false;
  enterStep_ = next;
  return true;
}

}  // namespace tarnset
