// Unattended alignment with the bench's instruments: an item tuned to its target by lines
// through its measurements (F9), the receive procedures driven by the signal
// generator, TXF tuned with the counter, and Align All, which runs every step the
// instruments allow. Every setting goes out as an ordinary item or procedure value through
// the program's own path; any doubt ends the step with nothing further sent.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"

namespace tarnset {
namespace {

// The generator's level for the filter sweeps when Limits.ini names none, in dBm.
constexpr double kBpfDefaultDbm = -60.0;
// At most this many measurements find an item's setting.
constexpr int kMaxMeasurements = 8;
// A carrier that is gone is waited for this long before the step stops.
constexpr std::int32_t kCarrierWaitMs = 10000;
constexpr std::int32_t kCarrierRetryMs = 500;
// The first step of a tune, in settings, when nothing is known of the item's response.
constexpr std::int16_t kFirstStep = 4;
// Settings a tune tries without a reading that rises with them before it gives up.
constexpr std::int16_t kNoRiseSpan = 6 * kFirstStep;

using TunePoint = std::pair<std::int16_t, double>;  // setting, measured value

// Where the line through two measurements meets the target; nullopt when the line does
// not rise with the setting.
std::optional<double> secant(const TunePoint& a, const TunePoint& b, double target) {
  if (a.first == b.first) return std::nullopt;
  const double slope = (b.second - a.second) / (b.first - a.first);
  if (!(slope > 0.0) || !std::isfinite(slope)) return std::nullopt;
  return a.first + (target - a.second) / slope;
}

// Where the least-squares line through every measurement meets the target; nullopt when
// it does not rise with the setting.
std::optional<double> fitted(const std::vector<TunePoint>& points, double target) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  const double n = static_cast<double>(points.size());
  for (const auto& [x, y] : points) {
    sx += x;
    sy += y;
    sxx += static_cast<double>(x) * x;
    sxy += x * y;
  }
  const double den = n * sxx - sx * sx;
  const double slope = den != 0.0 ? (n * sxy - sx * sy) / den : 0.0;
  if (!(slope > 0.0) || !std::isfinite(slope)) return std::nullopt;
  return (target - (sy - slope * sx) / n) / slope;
}

// The setting to measure next. An item responds monotonically but not in a straight line
// (a power level rises with a power of its setting), so measurements far from the target
// would bend a line fitted through them all. With measurements on both sides of the
// target, the target lies between the nearest two: the next setting is where the line
// through them meets it, or halfway between them when the readings' noise tilts that line
// the wrong way. With all on one side, the line through the two nearest the target, else
// the line fitted through all; nullopt when neither rises with the setting.
std::optional<double> settingTowards(const std::vector<TunePoint>& points, double target) {
  const TunePoint* below = nullptr;
  const TunePoint* above = nullptr;
  for (const TunePoint& p : points) {
    if (p.second < target && (below == nullptr || p.second > below->second)) below = &p;
    if (p.second > target && (above == nullptr || p.second < above->second)) above = &p;
  }
  if (below != nullptr && above != nullptr) {
    const double lo = std::min(below->first, above->first), hi = std::max(below->first, above->first);
    const std::optional<double> x = secant(*below, *above, target);
    return x ? std::clamp(*x, lo, hi) : (lo + hi) / 2.0;
  }
  std::vector<TunePoint> nearest = points;
  std::sort(nearest.begin(), nearest.end(), [target](const TunePoint& a, const TunePoint& b) {
    return std::fabs(a.second - target) < std::fabs(b.second - target);
  });
  for (std::size_t i = 1; i < nearest.size(); ++i) {
    if (nearest[i].first == nearest[0].first) continue;
    if (const std::optional<double> x = secant(nearest[0], nearest[i], target)) return x;
    break;
  }
  return fitted(points, target);
}

std::string numberText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

}  // namespace

// ---------------------------------------------------------------- tuning

std::optional<clsIndOp_RigTarn::TuneTarget> clsIndOp_RigTarn::tuneTargetOf(std::int16_t row) const {
  if (bench_ == nullptr || row < 0 || row >= console_->ListCount()) return std::nullopt;
  const std::optional<Role> role = RigOpFunc_MeasuringRole(row);
  const ItemLimit* limit = limits_.find(console_->Title(row));
  if (!role || *role == Role::Counter || limit == nullptr || !bench_->configured(*role)) return std::nullopt;
  if (console_->E8Command(row) < 0) return std::nullopt;
  return TuneTarget{*role, limit->target, limit->lower, limit->upper};
}

bool clsIndOp_RigTarn::RigOpFunc_Tunable(std::int16_t row) const {
  return tuneTargetOf(row).has_value();
}

bool clsIndOp_RigTarn::RigOpFunc_TuneRow(std::int16_t row, std::function<void(const TuneResult&)> done) {
  const std::optional<TuneTarget> target = tuneTargetOf(row);
  if (!target || tune_ || pass_ || !RigTarnProp_EditEnabled() || enterStep_ != 0) return false;
  startTune(row, *target, std::move(done));
  return true;
}

void clsIndOp_RigTarn::startTune(std::int16_t row, const TuneTarget& target,
                                 std::function<void(const TuneResult&)> done) {
  Tune t(*clock_);
  t.row = row;
  t.target = target;
  t.start = console_->Value(row);
  t.setting = t.start;
  t.done = std::move(done);
  // The item is put on test as it stands (sent once more), then measured.
  if (row != idxTxf_) console_->setFlgChanged(row, true);
  t.stage = Tune::Stage::Applying;
  tune_ = std::move(t);
}

bool clsIndOp_RigTarn::tuneApplied() const {
  const Tune& t = *tune_;
  if (seq_->OpRunning()) return false;
  if (t.row == idxTxf_) {
    // The TXF procedure writes the entries around the segment for the new setting.
    return txfLastSetting_ == t.setting && (enterStep_ == 3 || enterStep_ == 5);
  }
  return !console_->flgChanged(t.row);
}

void clsIndOp_RigTarn::endTune(bool ok, const std::string& why, bool sendBackStart) {
  Tune t = std::move(*tune_);
  tune_.reset();
  if (sendBackStart && console_->Value(t.row) != t.start) console_->setValue(t.row, t.start);
  TuneResult r;
  r.row = t.row;
  r.item = t.last.item.empty() ? console_->Title(t.row) : t.last.item;
  r.ok = ok;
  r.why = why;
  r.measurements = static_cast<int>(t.points.size());
  r.last = t.last;
  tellViews([&](TarnView& v) { v.tuneEnded(r); });
  if (t.done) t.done(r);
}

void clsIndOp_RigTarn::tuneTask() {
  if (!tune_) return;
  Tune& t = *tune_;
  switch (t.stage) {
    case Tune::Stage::Applying:
      if (!tuneApplied() || waitTick_.counter() > 0) return;
      t.stage = Tune::Stage::Measuring;
      [[fallthrough]];
    case Tune::Stage::Measuring: {
      if (t.retry.counter() > 0) return;
      t.stage = Tune::Stage::Waiting;
      const std::int16_t row = t.row;
      bench_->measure(t.target.role, [this, row](const Measurement& m) {
        if (!tune_ || tune_->row != row) return;
        tuneMeasured(m);
      });
      return;
    }
    case Tune::Stage::Waiting:
      return;
  }
}

void clsIndOp_RigTarn::tuneMeasured(const Measurement& raw) {
  Tune& t = *tune_;
  ItemMeasurement m = itemMeasurement(t.row, raw);
  if (!m.taken) {
    // No carrier (or no reading): wait for it a while, measuring again, then stop.
    if (t.waitedMs == 0) t.noReadingSince = clock_->nowMs();
    t.waitedMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(clock_->nowMs()) -
                                           static_cast<std::uint32_t>(t.noReadingSince)) +
                 1;
    m.text += " - key the radio's transmitter (PTT)";
    tellViews([&](TarnView& v) { v.measurementChanged(m); });
    if (t.waitedMs >= kCarrierWaitMs) {
      endTune(false, "no measurement for " + std::to_string(kCarrierWaitMs / 1000) + " s: " + raw.error,
              true);
      return;
    }
    t.retry.setCounter(kCarrierRetryMs);
    t.stage = Tune::Stage::Measuring;
    return;
  }
  t.waitedMs = 0;
  // The value to bring to the target (TXF's second frequency: its offset taken off).
  const double value = m.value - t.target.offset;
  t.points.emplace_back(t.setting, value);
  t.last = m;
  tellViews([&](TarnView& v) { v.measurementChanged(m); });
  if (value >= t.target.lower && value <= t.target.upper) {
    endTune(true, {}, false);
    return;
  }
  if (static_cast<int>(t.points.size()) >= kMaxMeasurements) {
    endTune(false, "not within its limits after " + std::to_string(kMaxMeasurements) + " measurements", true);
    return;
  }
  // The next setting: a first step towards the target, then the setting where the line
  // through the measurements nearest the target meets it.
  const std::int16_t lo = t.row == idxTxf_ ? std::int16_t{0} : console_->Min(t.row);
  const std::int16_t hi = t.row == idxTxf_ ? std::int16_t{255} : console_->Max(t.row);
  double next = 0.0;
  if (t.points.size() == 1) {
    next = t.setting + (value < t.target.target ? kFirstStep : -kFirstStep);
  } else if (const std::optional<double> x = settingTowards(t.points, t.target.target)) {
    next = *x;
  } else {
    // No line rises with the setting. Over a few settings that may be the readings' noise:
    // one more first step towards the target; over a wider span the item does not respond
    // as it should.
    std::int16_t least = t.points.front().first, most = least;
    for (const TunePoint& p : t.points) {
      least = std::min(least, p.first);
      most = std::max(most, p.first);
    }
    if (most - least >= kNoRiseSpan) {
      endTune(false, "the measurement does not follow the setting the right way", true);
      return;
    }
    next = t.setting + (value < t.target.target ? kFirstStep : -kFirstStep);
  }
  auto setting = static_cast<std::int16_t>(std::clamp<double>(std::lround(next), lo, hi));
  if (setting == t.setting) {
    // The fit lands where it is: one step towards the target, unless the range ends there.
    const std::int16_t towards = value < t.target.target ? 1 : -1;
    if ((towards > 0 && t.setting >= hi) || (towards < 0 && t.setting <= lo)) {
      endTune(false, "the item is at the end of its range (" + std::to_string(t.setting) + ")", false);
      return;
    }
    setting = static_cast<std::int16_t>(t.setting + towards);
  }
  t.setting = setting;
  console_->setValue(t.row, setting);  // goes out as the item's own E8 (or TXF's entries)
  t.stage = Tune::Stage::Applying;
}

// ---------------------------------------------------------------- the generator

bool clsIndOp_RigTarn::generatorAt(double hz, double dbm) {
  if (gen_.failed) return false;
  if (gen_.ready && gen_.hz == hz && gen_.dbm == dbm) return gen_.settle.counter() <= 0;
  if (gen_.setting) return false;
  gen_.setting = true;
  gen_.ready = false;
  gen_.hz = hz;
  gen_.dbm = dbm;
  genLine_ = numberText(dbm) + " dBm at " + numberText(hz / 1e6) + " MHz, setting the generator";
  console_->Disp(enterStep_ >= 12 ? idxBpfSweep_ : idxRssi_);
  bench_->setGenerator(hz, dbm, true, [this, hz, dbm](const BenchResult& r) {
    if (!gen_.setting) return;  // given up: the RF was turned off since
    gen_.setting = false;
    if (!r.ok) {
      gen_.failed = true;
      gen_.why = r.error;
      gen_.details = r.details;
      return;
    }
    gen_.ready = true;
    const InstrumentEntry* e = bench_->instrumentFor(Role::Generator);
    gen_.settle.setCounter(e != nullptr ? e->settleMs : 200);
    genLine_ = numberText(dbm) + " dBm at " + numberText(hz / 1e6) + " MHz";
    (void)hz;
  });
  return false;
}

void clsIndOp_RigTarn::generatorOff() {
  if (bench_ == nullptr || !bench_->configured(Role::Generator)) return;
  // RF off, the frequency and level left as they were set (a receive frequency of the
  // channel when the generator was never set, none when the channel has none: the RF goes
  // off all the same, it may have been left on by an off the generator did not hear).
  const double hz = gen_.hz > 0.0 ? gen_.hz : receiveHz();
  const double dbm = gen_.hz > 0.0 ? gen_.dbm : -130.0;
  gen_ = Generator(*clock_);
  genLine_.clear();
  // An RF off that failed (the link to the generator was being made again, say) goes out
  // again, twice at most, unless the generator is being set for another procedure since.
  auto attempt = std::make_shared<std::function<void(int)>>();
  *attempt = [this, hz, dbm, weak = std::weak_ptr<std::function<void(int)>>(attempt)](int left) {
    bench_->setGenerator(hz, dbm, false, [this, again = weak.lock(), left](const BenchResult& r) {
      if (r.ok || left == 0 || rxAuto_ || gen_.setting || gen_.ready) return;
      (*again)(left - 1);
    });
  };
  (*attempt)(2);
}

double clsIndOp_RigTarn::receiveHz() const {
  const std::int32_t adr = rxBase_ + TarnMap::kChRecordSize * selChannel_;
  return inhibited(adr) ? 0.0 : eep_->RigTarnEep_GetChFreqRxReal(rxBase_, selChannel_);
}

double clsIndOp_RigTarn::sweepLevelDbm() const {
  const ItemLimit* l = limits_.find("BPF");
  return l != nullptr && l->quantity == Quantity::Level ? l->target : kBpfDefaultDbm;
}

// An unattended receive procedure waits here until the generator gives what its phase
// needs; a generator that fails ends the procedure (false: not yet, or ended).
bool clsIndOp_RigTarn::receiveSignalReady(double dbm) {
  if (gen_.failed) {
    const std::string why = gen_.why, details = gen_.details;
    const TarnProcedure which = enterStep_ >= 12 ? TarnProcedure::BpfSweep : TarnProcedure::Rssi;
    abandonProcedures();  // the generator's RF goes off with it
    resetEnterFlags();
    tellViews([&](TarnView& v) {
      v.procedureRefused(which, "The signal generator failed: the procedure was stopped.",
                         why + "\r\n" + details);
    });
    return false;
  }
  const double hz = receiveHz();
  if (hz <= 0.0) {
    gen_.failed = true;
    gen_.why = "The selected channel has no receive frequency.";
    return false;
  }
  return generatorAt(hz, dbm);
}

// ---------------------------------------------------------------- TXF with the counter

void clsIndOp_RigTarn::txfAutoTask() {
  if (!txfAuto_ || tune_ || enterStep_ < 1 || enterStep_ > 5 || txfAgain_) return;
  if (enterStep_ != 3 && enterStep_ != 5) return;
  // The transmit frequency of the present phase: the channel's, then 10 ppm above it.
  const std::int32_t adr = txBase_ + TarnMap::kChRecordSize * selChannel_;
  if (inhibited(adr)) {
    abandonProcedures();
    resetEnterFlags();
    tellViews([](TarnView& v) {
      v.procedureRefused(TarnProcedure::Txf,
                         "TXF could not be tuned: the selected channel does not transmit.", {});
    });
    return;
  }
  const ItemLimit* limit = limits_.find("TXF");
  const double nominal = eep_->RigTarnEep_GetChFreqTxReal(txBase_, selChannel_);
  TuneTarget target{Role::Counter, 0.0, -150.0, 150.0};
  if (limit != nullptr) target = TuneTarget{Role::Counter, limit->target, limit->lower, limit->upper};
  if (txfPhase2_) target.offset = limit != nullptr ? limit->inUnit(nominal * 1e-5, nominal) : nominal * 1e-5;
  startTune(idxTxf_, target, [this](const TuneResult& r) {
    if (!r.ok) {
      // Nothing more of the procedure goes out: it ends here, and the row starts again.
      abandonProcedures();
      resetEnterFlags();
      tellViews([&](TarnView& v) {
        v.procedureRefused(TarnProcedure::Txf, "TXF could not be tuned with the counter: " + r.why + ".",
                           "The table was not written. Run TXF again, or by hand.");
      });
      return;
    }
    txfAgain_ = true;  // the setting is confirmed as the technician's Enter confirms it
  });
}

// ---------------------------------------------------------------- Align All

bool clsIndOp_RigTarn::RigOpFunc_AlignAll(AlignScope scope,
                                          std::function<void(std::vector<AlignStep>)> done) {
  if (bench_ == nullptr || align_ || tune_ || pass_ || !RigTarnProp_EditEnabled() || enterStep_ != 0)
    return false;
  Align a;
  const bool tx = scope != AlignScope::Receive, rx = scope != AlignScope::Transmit;
  const bool carrier = bench_->configured(Role::Counter) && bench_->configured(Role::PowerMeter);
  // In the order of a service manual: the reference oscillator, the power levels, the
  // deviation, then the receiver.
  if (tx && carrier) a.steps.push_back({"TXF", idxTxf_, {}});
  if (tx) {
    for (const char* item :
         {"Power(Hi)", "Power(L2)", "Power(L1)", "MOD W", "MOD N", "Balance", "CTCS/DTCS"}) {
      for (std::int16_t row = 0; row < console_->ListCount(); ++row) {
        const std::string title = console_->Title(row);
        if (title.find(item) != std::string::npos && tuneTargetOf(row)) a.steps.push_back({item, row, {}});
      }
    }
  }
  if (rx && bench_->configured(Role::Generator)) {
    a.steps.push_back({"RSSI", idxRssi_, {}});
    a.steps.push_back({"BPF ALL", idxBpfAll(), {}});
  }
  if (a.steps.empty()) return false;
  a.done = std::move(done);
  align_ = std::move(a);
  return true;
}

void clsIndOp_RigTarn::alignTask() {
  if (!align_) return;
  Align& a = *align_;
  if (a.running) return;
  if (a.next >= a.steps.size()) {
    Align finished = std::move(*align_);
    align_.reset();
    std::vector<AlignStep> results;
    for (const Align::Step& s : finished.steps) results.push_back(s.result);
    if (finished.done) finished.done(std::move(results));
    return;
  }
  if (waitTick_.counter() > 0 || seq_->OpRunning()) return;
  Align::Step& s = a.steps[a.next];
  s.result.name = s.name;
  a.running = true;
  const auto stepDone = [this](bool ok, const std::string& why, const ItemMeasurement& last,
                               int measurements) {
    if (!align_) return;
    Align::Step& st = align_->steps[align_->next];
    st.result.ok = ok;
    st.result.why = why;
    st.result.last = last;
    st.result.measurements = measurements;
    align_->running = false;
    ++align_->next;
    tellViews([&](TarnView& v) { v.alignProgress(st.result, align_->next, align_->steps.size()); });
  };
  if (s.name == "TXF" || s.name == "RSSI" || s.name == "BPF ALL") {
    // The procedure runs as from Enter on its row; its end ends the step.
    a.procedure = s.name == "TXF"    ? TarnProcedure::Txf
                  : s.name == "RSSI" ? TarnProcedure::Rssi
                                     : TarnProcedure::BpfSweep;
    a.procedureDone = stepDone;
    console_->setFlgEnterOn(s.row, true);
    return;
  }
  startTune(s.row, *tuneTargetOf(s.row),
            [stepDone](const TuneResult& r) { stepDone(r.ok, r.why, r.last, r.measurements); });
}

void clsIndOp_RigTarn::alignProcedureEnded(TarnProcedure which, bool completed, const std::string& why) {
  if (!align_ || !align_->running || !align_->procedureDone || align_->procedure != which) return;
  auto done = std::move(align_->procedureDone);
  align_->procedureDone = nullptr;
  done(completed, completed ? std::string() : why, ItemMeasurement{}, 0);
}

void clsIndOp_RigTarn::abandonAutomation(const std::string& why) {
  if (tune_) {
    Tune t = std::move(*tune_);
    tune_.reset();
    TuneResult r;
    r.row = t.row;
    r.item = console_->Title(t.row);
    r.why = why;
    r.measurements = static_cast<int>(t.points.size());
    tellViews([&](TarnView& v) { v.tuneEnded(r); });
    if (t.done) t.done(r);
  }
  if (align_) {
    Align a = std::move(*align_);
    align_.reset();
    std::vector<AlignStep> results;
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
      AlignStep r = a.steps[i].result;
      r.name = a.steps[i].name;
      if (i >= a.next) r.why = why;
      results.push_back(r);
    }
    if (a.done) a.done(std::move(results));
  }
}

}  // namespace tarnset
