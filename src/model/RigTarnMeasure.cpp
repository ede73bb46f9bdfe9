// The bench's measurements of the alignment items: the one that belongs to the selected
// console row, taken again and again, and a pass over every item with a limit for the
// measured certificate. Nothing is shown that was taken before the last change of a
// setting it depends on.
#include <cmath>
#include <cstdio>

#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"

namespace tarnset {
namespace {

// Pause between two live measurements of the same item.
constexpr std::int32_t kLivePauseMs = 150;

// The item's name: the console title without its blanks.
std::string itemName(const std::string& title) {
  const std::size_t first = title.find_first_not_of(' ');
  return first == std::string::npos ? std::string()
                                    : title.substr(first, title.find_last_not_of(' ') - first + 1);
}

std::string format(const char* pattern, double v) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, v);
  return text;
}

}  // namespace

std::string ItemMeasurement::limitText() const {
  if (!limit) return {};
  return format("%g", limit->lower) + " .. " + format("%g", limit->upper) + " " + limit->unit;
}

std::string ItemMeasurement::line() const {
  std::string s = item + " " + quantity + ": " + text;
  if (limit) s += "  (limits " + limitText() + ")";
  if (verdict != Verdict::None) s += "  " + std::string(verdictText());
  return s;
}

void clsIndOp_RigTarn::RigOpFunc_SetInstruments(InstrumentBench* bench, LimitsSetup limits) {
  if (pass_) finishPass("the instruments were changed");
  bench_ = bench;
  limits_ = std::move(limits);
  measureInFlight_ = false;
  ++measureGeneration_;
}

std::string clsIndOp_RigTarn::RigOpFunc_InstrumentsBusy() const {
  if (align_) return "Align All is under way";
  if (tune_) return "an item is being tuned";
  if (pass_) return "the items are being measured";
  if (txfAuto_ || gen_.setting || gen_.ready) return "a procedure is using the instruments";
  return {};
}

std::optional<Role> clsIndOp_RigTarn::RigOpFunc_MeasuringRole(std::int16_t row) const {
  const std::string item = itemName(console_->Title(row));
  if (item == "Power(Hi)" || item == "Power(L2)" || item == "Power(L1)") return Role::PowerMeter;
  if (item == "MOD W" || item == "MOD N" || item == "Balance" || item == "CTCS/DTCS")
    return Role::DeviationMeter;
  if (item == "TXF" || item == "CH No.") return Role::Counter;
  return std::nullopt;
}

void clsIndOp_RigTarn::RigOpFunc_SelectRow(std::int16_t row) {
  if (row == measuredRow_) return;
  measuredRow_ = row;
  // The radio puts the item it was sent last on test (its transmitter runs at that power
  // level, with that modulation): a measured item is sent once more, as it stands, so
  // that what is measured is the item selected.
  const std::optional<Role> role = RigOpFunc_MeasuringRole(row);
  if (bench_ != nullptr && role && bench_->configured(*role) && RigTarnProp_EditEnabled() &&
      console_->E8Command(row) >= 0) {
    console_->setFlgChanged(row, true);
  }
  restartMeasurement();  // an answer still on its way belongs to the row before
}

void clsIndOp_RigTarn::measurementsChanged() {
  if (bench_ == nullptr) return;
  bench_->markChanged();
  restartMeasurement();
}

void clsIndOp_RigTarn::restartMeasurement() {
  ++measureGeneration_;
  measurePause_.setCounter(0);
  // What was shown was measured before: until the next one comes, the view says so (of
  // the item being tuned while a tune runs: that is what the line shows then).
  const std::int16_t row = tune_ ? tune_->row : measuredRow_;
  const std::optional<Role> role = RigOpFunc_MeasuringRole(row);
  ItemMeasurement m;
  if (bench_ != nullptr && role && bench_->configured(*role)) {
    m = itemMeasurement(row, Measurement{});
    m.text = "measuring...";
  }
  tellViews([&](TarnView& v) { v.measurementChanged(m); });
}

ItemMeasurement clsIndOp_RigTarn::itemMeasurement(std::int16_t row, const Measurement& r) const {
  ItemMeasurement m;
  m.row = row;
  m.item = itemName(console_->Title(row));
  const std::optional<Role> role = RigOpFunc_MeasuringRole(row);
  if (!role) return m;
  if (const ItemLimit* limit = limits_.find(m.item)) m.limit = *limit;
  m.quantity = *role == Role::PowerMeter ? "Power" : *role == Role::DeviationMeter ? "Deviation" : "Carrier";
  m.tickMs = r.tickMs;
  if (!r.ok) {
    m.text = r.error.empty() ? std::string("not measured") : r.error;
    m.details = r.details;
    return m;
  }
  m.taken = true;
  double forLimit = r.value;
  double nominalHz = 0.0;
  switch (*role) {
    case Role::PowerMeter:
      m.value = r.value;
      m.text = format(r.value < 10.0 ? "%.2f W" : "%.1f W", r.value);
      break;
    case Role::DeviationMeter:
      m.value = r.value / 1000.0;
      m.text = format("%.2f kHz", r.value / 1000.0);
      break;
    case Role::Counter: {
      m.text = format("%.6f MHz", r.value / 1e6);
      const std::int32_t adr = txBase_ + TarnMap::kChRecordSize * selChannel_;
      if (!inhibited(adr)) nominalHz = eep_->RigTarnEep_GetChFreqTxReal(txBase_, selChannel_);
      if (nominalHz > 0.0) {
        const double errorHz = r.value - nominalHz;
        m.text += format(", error %+.0f Hz", errorHz) + format(" (%+.2f ppm)", errorHz / nominalHz * 1e6);
        forLimit = errorHz;
      }
      m.value = forLimit;
      break;
    }
    case Role::Generator:
      break;
  }
  if (m.limit) {
    if (*role == Role::Counter && nominalHz <= 0.0) return m;  // no error without a nominal frequency
    m.value = m.limit->inUnit(forLimit, nominalHz);
    m.verdict = m.limit->within(m.value) ? ItemMeasurement::Verdict::Pass : ItemMeasurement::Verdict::Fail;
  }
  return m;
}

std::vector<std::int16_t> clsIndOp_RigTarn::RigOpFunc_MeasurableRows() const {
  std::vector<std::int16_t> rows;
  if (bench_ == nullptr) return rows;
  for (std::int16_t row = 0; row < console_->ListCount(); ++row) {
    const std::optional<Role> role = RigOpFunc_MeasuringRole(row);
    if (role && bench_->configured(*role) && limits_.find(console_->Title(row)) != nullptr)
      rows.push_back(row);
  }
  return rows;
}

bool clsIndOp_RigTarn::RigOpFunc_MeasureItems(std::function<void(std::vector<ItemMeasurement>)> done) {
  if (bench_ == nullptr || pass_ || !RigTarnProp_EditEnabled() || enterStep_ != 0) return false;
  MeasurePass p;
  p.rows = RigOpFunc_MeasurableRows();
  if (p.rows.empty()) return false;
  p.done = std::move(done);
  pass_ = std::move(p);
  return true;
}

void clsIndOp_RigTarn::finishPass(const std::string& why) {
  if (!pass_) return;
  MeasurePass p = std::move(*pass_);
  pass_.reset();
  for (std::size_t i = p.results.size(); i < p.rows.size(); ++i) {
    ItemMeasurement m = itemMeasurement(p.rows[i], Measurement{});
    m.text = "not measured: " + why;
    p.results.push_back(m);
  }
  if (p.done) p.done(std::move(p.results));
}

void clsIndOp_RigTarn::measureTask() {
  if (bench_ == nullptr) return;
  if (pass_) {
    MeasurePass& p = *pass_;
    if (p.inFlight) return;
    if (p.next >= p.rows.size()) {
      finishPass("");
      return;
    }
    const std::int16_t row = p.rows[p.next];
    if (!p.sent) {
      // The radio transmits with the item's setting: it is sent once more, as it stands.
      if (console_->E8Command(row) >= 0) console_->setFlgChanged(row, true);
      p.sent = true;
      return;
    }
    if (console_->flgChanged(row) || seq_->OpRunning()) return;  // not out yet
    p.inFlight = true;
    const Role role = *RigOpFunc_MeasuringRole(row);
    bench_->measure(role, [this, row](const Measurement& m) {
      if (!pass_) return;
      pass_->results.push_back(itemMeasurement(row, m));
      pass_->inFlight = false;
      pass_->sent = false;
      ++pass_->next;
    });
    return;
  }
  if (tune_) return;  // a tune measures for itself, and shows what it measured
  const std::optional<Role> role = RigOpFunc_MeasuringRole(measuredRow_);
  if (!RigTarnProp_EditEnabled() || !role || !bench_->configured(*role)) return;
  if (measureInFlight_ || measurePause_.counter() > 0) return;
  measureInFlight_ = true;
  const std::uint32_t generation = measureGeneration_;
  const std::int16_t row = measuredRow_;
  bench_->measure(*role, [this, generation, row](const Measurement& m) {
    // One live measurement at a time: one asked for before a change is let go, and the
    // next one is asked for, but only once it came (a queue of them would hold back what
    // the bench is asked for next, such as the generator's RF off).
    measureInFlight_ = false;
    if (generation != measureGeneration_ || row != measuredRow_) return;  // from before a change
    measurePause_.setCounter(kLivePauseMs);
    const ItemMeasurement shown = itemMeasurement(row, m);
    tellViews([&](TarnView& v) { v.measurementChanged(shown); });
  });
}

}  // namespace tarnset
