#include "instruments/InstrumentBench.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarnset {
namespace {

struct UnitScale {
  const char* unit;  // as SCPI writes it (upper case)
  double scale;      // to the bench's unit; 0: dBm, converted to watts
};

struct RoleReading {
  std::vector<UnitScale> units;
  const char* benchUnit;
  double low;  // what such an instrument can read at all, in the bench's unit
  double high;
  const char* check;  // what to look at when it has no reading
};

const RoleReading& reading(Role role) {
  static const RoleReading counter{
      {{"HZ", 1.0}, {"KHZ", 1e3}, {"MHZ", 1e6}, {"GHZ", 1e9}},
      "Hz",
      1.0,
      50e9,
      "Check that the radio transmits and that the counter's input is connected."};
  static const RoleReading power{{{"DBM", 0.0}, {"W", 1.0}, {"MW", 1e-3}, {"UW", 1e-6}},
                                 "W",
                                 1e-12,
                                 1e3,
                                 "Check that the radio transmits into the power meter's sensor."};
  static const RoleReading deviation{
      {{"HZ", 1.0}, {"KHZ", 1e3}},
      "Hz",
      0.0,
      200e3,
      "Check that the radio transmits and that the deviation meter is tuned to its frequency."};
  switch (role) {
    case Role::Counter:
      return counter;
    case Role::PowerMeter:
      return power;
    default:
      return deviation;
  }
}

}  // namespace

InstrumentBench::InstrumentBench(const TickSource& clock, TransportFactory& factory)
    : clock_(clock), factory_(factory) {}

InstrumentBench::~InstrumentBench() = default;

void InstrumentBench::configure(const InstrumentsSetup& setup) {
  held_.clear();
  deferred_.clear();
  stations_.clear();
  setup_ = setup;
  for (const InstrumentEntry& e : setup_.instruments) {
    auto s = std::make_unique<Station>(Station{e, setup_.profile(e.profile), nullptr, clsCmcTick(clock_)});
    if (s->profile == nullptr) continue;  // loadInstruments leaves such entries out already
    s->session =
        std::make_unique<InstrumentSession>(e.name, e.address, factory_.make(e), clock_, e.timeoutMs);
    stations_.push_back(std::move(s));
  }
}

InstrumentBench::Station* InstrumentBench::stationFor(Role role) {
  for (auto& s : stations_) {
    if (s->entry.serves(role)) return s.get();
  }
  return nullptr;
}

bool InstrumentBench::configured(Role role) const {
  return instrumentFor(role) != nullptr;
}

const InstrumentEntry* InstrumentBench::instrumentFor(Role role) const {
  for (const auto& s : stations_) {
    if (s->entry.serves(role)) return &s->entry;
  }
  return nullptr;
}

void InstrumentBench::markChanged() {
  for (auto& s : stations_) s->settle.setCounter(s->entry.settleMs);
}

void InstrumentBench::setGenerator(double hz, double dbm, bool on,
                                   std::function<void(const BenchResult&)> done) {
  Station* s = stationFor(Role::Generator);
  if (s == nullptr) {
    later([this, done] {
      BenchResult r;
      r.error = "No signal generator is set up in Instruments.ini.";
      r.tickMs = clock_.nowMs();
      if (done) done(r);
    });
    return;
  }
  const InstrumentProfile& p = *s->profile;
  const double level = dbm + s->entry.cableLossDb;
  // The three settings one after the other; the first that fails ends the chain. RF off
  // goes first, so that a setting that fails after it cannot leave the output on, and
  // needs no frequency (without one, 0 Hz, it is all that is sent).
  auto commands = std::make_shared<std::vector<std::string>>(std::vector<std::string>{
      expandTemplate(p.generatorFrequency, hz, level, on), expandTemplate(p.generatorLevel, hz, level, on),
      expandTemplate(p.generatorOutput, hz, level, on)});
  if (!on) std::rotate(commands->begin(), commands->end() - 1, commands->end());
  if (!on && hz <= 0.0) commands->resize(1);
  auto step = std::make_shared<std::function<void(std::size_t)>>();
  std::weak_ptr<std::function<void(std::size_t)>> weak = step;
  InstrumentSession* session = s->session.get();
  const std::uint64_t id = ++s->generatorSettings;
  *step = [this, s, session, commands, done, weak, id](std::size_t i) {
    // The request under way holds the chain; a cancelled one lets it go.
    auto self = weak.lock();
    if (!self) return;
    session->setting((*commands)[i], [this, s, commands, done, self, i, id](const ScpiReply& reply) {
      const bool last = i + 1 == commands->size();
      if (reply.ok && !last && s->generatorSettings == id) {
        (*self)(i + 1);
        return;
      }
      if (reply.ok && last) markChanged();
      BenchResult r;
      r.ok = reply.ok && last;
      r.error = reply.ok && !last ? "A newer setting of the generator replaced this one." : reply.error;
      r.details = reply.details;
      r.tickMs = reply.tickMs;
      if (done) done(r);
    });
  };
  (*step)(0);
}

void InstrumentBench::measure(Role role, std::function<void(const Measurement&)> done, When when) {
  if (when == When::AfterSettle) {
    held_.push_back(Held{role, std::move(done)});
    return;
  }
  send(role, std::move(done));
}

void InstrumentBench::send(Role role, std::function<void(const Measurement&)> done) {
  Station* s = stationFor(role);
  if (s == nullptr || role == Role::Generator) {
    later([this, role, done] {
      Measurement m;
      m.role = role;
      m.error = std::string("No ") + roleTitle(role) + " is set up in Instruments.ini.";
      m.tickMs = clock_.nowMs();
      if (done) done(m);
    });
    return;
  }
  const InstrumentProfile* profile = s->profile;
  s->session->query(profile->query(role), [role, profile, done](const ScpiReply& reply) {
    if (done) done(checkAnswer(role, *profile, reply));
  });
}

std::optional<ScpiIdentity> InstrumentBench::identityOf(const std::string& instrument) const {
  for (const auto& s : stations_) {
    if (s->entry.name == instrument) return s->session->identity();
  }
  return std::nullopt;
}

void InstrumentBench::identify(const std::string& instrument, std::function<void(const BenchResult&)> done) {
  for (auto& s : stations_) {
    if (s->entry.name != instrument) continue;
    s->session->query("*IDN?", [done](const ScpiReply& reply) {
      BenchResult r;
      r.tickMs = reply.tickMs;
      r.details = reply.details;
      r.error = reply.error;
      if (reply.ok) {
        r.identity = parseScpiIdentity(reply.answer);
        r.ok = r.identity.has_value();
        if (!r.ok) r.error = "The answer to *IDN? is not maker, model, serial number and firmware.";
      }
      if (done) done(r);
    });
    return;
  }
  later([this, instrument, done] {
    BenchResult r;
    r.error = "No instrument '" + instrument + "' is set up in Instruments.ini.";
    r.tickMs = clock_.nowMs();
    if (done) done(r);
  });
}

Measurement InstrumentBench::checkAnswer(Role role, const InstrumentProfile& profile,
                                         const ScpiReply& reply) {
  Measurement m;
  m.role = role;
  m.tickMs = reply.tickMs;
  m.details = reply.details;
  const RoleReading& rr = reading(role);
  m.unit = rr.benchUnit;
  const std::string title = roleTitle(role);
  if (!reply.ok) {
    m.error = reply.error;
    return m;
  }
  const ScpiNumber n = parseScpiNumber(reply.answer);
  if (n.kind == ScpiNumber::Kind::NotANumber) {
    m.error = "The " + title + " answered '" + printableAnswer(reply.answer, 40) + "' to '" + reply.command +
              "', which is not a number.";
    m.details += "\nCheck that the instrument is set to measure as the " + title +
                 " and that its profile in Instruments.ini has the right query.";
    return m;
  }
  if (n.kind == ScpiNumber::Kind::NoMeasurement) {
    m.error = "The " + title + " has no reading (it answered " + printableAnswer(reply.answer, 40) + ").";
    m.details += std::string("\n") + rr.check;
    return m;
  }
  const std::string unit = n.unit.empty() ? profile.defaultUnit(role) : n.unit;
  const UnitScale* scale = nullptr;
  for (const UnitScale& u : rr.units) {
    if (unit == u.unit) scale = &u;
  }
  if (scale == nullptr) {
    std::string list;
    for (const UnitScale& u : rr.units) list += std::string(list.empty() ? "" : ", ") + u.unit;
    m.error = "The " + title + " answered in " + unit + ", which is no unit of its reading (" + list + ").";
    m.details += "\nCheck the unit set on the instrument and the unit of the profile in Instruments.ini.";
    return m;
  }
  const double v = scale->scale == 0.0 ? std::pow(10.0, (n.value - 30.0) / 10.0) : n.value * scale->scale;
  if (!std::isfinite(v) || v < rr.low || v > rr.high) {
    m.error = "The " + title + " reading " + printableAnswer(reply.answer, 40) +
              " lies outside what it can measure (" + formatScpiNumber(rr.low, 12) + " to " +
              formatScpiNumber(rr.high, 0) + " " + rr.benchUnit + ").";
    m.details += "\nCheck the instrument's range and unit settings and its profile in Instruments.ini.";
    return m;
  }
  m.ok = true;
  m.value = v;
  return m;
}

void InstrumentBench::task() {
  std::vector<std::function<void()>> now;
  now.swap(deferred_);
  for (auto& f : now) f();
  // Held measurements go out once every instrument has settled; a role nobody serves
  // fails at once.
  std::vector<Held> due;
  for (auto it = held_.begin(); it != held_.end();) {
    Station* s = stationFor(it->role);
    if (s == nullptr || s->settle.counter() < 1) {
      due.push_back(std::move(*it));
      it = held_.erase(it);
    } else {
      ++it;
    }
  }
  for (Held& h : due) send(h.role, std::move(h.done));
  for (std::size_t i = 0; i < stations_.size(); ++i) stations_[i]->session->task();
}

std::vector<Waitable> InstrumentBench::waitables() const {
  std::vector<Waitable> out;
  for (const auto& s : stations_) {
    const Waitable w = s->session->waitable();
    if (w != kNoWaitable) out.push_back(w);
  }
  return out;
}

bool InstrumentBench::busy() const {
  if (!held_.empty() || !deferred_.empty()) return true;
  for (const auto& s : stations_) {
    if (s->session->pending() > 0) return true;
  }
  return false;
}

void InstrumentBench::cancelAll() {
  held_.clear();
  deferred_.clear();
  for (auto& s : stations_) s->session->cancelAll();
}

}  // namespace tarnset
