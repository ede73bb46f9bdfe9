#pragma once
// The bench the alignment works with: its instruments by role. The model asks for a role
// (set the generator, measure with the counter, the power meter or the deviation meter);
// the bench finds the instrument that serves it, sends the profile's commands through
// the instrument's session and checks every answer (a number, in a unit the role takes,
// within what such an instrument can read) before it hands the result on. Everything is
// stepped by task() from the poll tick; results reach their callbacks from task() (also
// those refused at once), never from within the call that asked. A callback may ask for
// more, but must not configure() the bench anew.
//
// A measurement is never carried over: each one is taken when it is asked for (after the
// settle time, when asked so) and carries the tick count at which its answer came; one
// that could not be taken is missing (ok false) with the reason.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "base/Types.h"
#include "base/clsCmcTick.h"
#include "instruments/InstrumentProfile.h"
#include "instruments/InstrumentSession.h"
#include "instruments/InstrumentsFile.h"
#include "instruments/TransportFactory.h"

namespace tarnset {

// One reading of a measuring role.
struct Measurement {
  bool ok = false;  // false: missing (error says why)
  Role role = Role::Counter;
  double value = 0.0;       // counter: Hz; power meter: W; deviation meter: Hz of peak deviation
  std::string unit;         // "Hz", "W", "Hz"
  std::string error;        // one line, empty when ok
  std::string details;      // the instrument, the command, its answer, what to check
  std::int32_t tickMs = 0;  // tick count when it was taken (the answer came, or the failure was seen)
};

// The outcome of a generator setting or an identification.
struct BenchResult {
  bool ok = false;
  std::string error;
  std::string details;
  std::int32_t tickMs = 0;
  std::optional<ScpiIdentity> identity;  // identify(): the *IDN? answer
};

class InstrumentBench {
 public:
  enum class When {
    Now,          // send the query at once
    AfterSettle,  // not before the instrument's settle time has passed since the last change
  };

  InstrumentBench(const TickSource& clock, TransportFactory& factory);
  ~InstrumentBench();
  InstrumentBench(const InstrumentBench&) = delete;
  InstrumentBench& operator=(const InstrumentBench&) = delete;

  // Takes the instruments of a setup (Instruments.ini): the old sessions are closed and
  // their requests dropped without callbacks.
  void configure(const InstrumentsSetup& setup);
  const InstrumentsSetup& setup() const { return setup_; }
  // An instrument serves the role.
  bool configured(Role role) const;
  // The entry of the instrument that serves the role, nullptr when none does.
  const InstrumentEntry* instrumentFor(Role role) const;

  // Sets the generator: frequency in Hz, level in dBm at the radio (the generator is set
  // the cable loss higher), RF output on or off (off with 0 Hz: the output alone). done
  // learns whether every setting was taken without an error; a success counts as a change
  // (see markChanged). A setting asked for while another is under way replaces what is
  // left of that one (which ends as failed), so that the last one asked for holds.
  void setGenerator(double hz, double dbm, bool on, std::function<void(const BenchResult&)> done);
  // Measures with the instrument that serves the role.
  void measure(Role role, std::function<void(const Measurement&)> done, When when = When::AfterSettle);
  // What the instrument (by its section name) answered to *IDN? when its session connected;
  // nullopt before it did (or when the answer was not an identity).
  std::optional<ScpiIdentity> identityOf(const std::string& instrument) const;
  // Asks the instrument (by its section name) for *IDN? and hands on the answer.
  void identify(const std::string& instrument, std::function<void(const BenchResult&)> done);
  // Something that the measurements depend on changed now (a radio setting): measurements
  // asked for AfterSettle wait for each instrument's settle time from now.
  void markChanged();

  // Moves every session on and sends the measurements whose settle time has passed.
  void task();
  // What the event loop watches: a ready one should run the tick (and so task()) at once.
  std::vector<Waitable> waitables() const;
  // Requests queued, waiting to settle or under way.
  bool busy() const;
  // Drops every request without calling back and closes the links.
  void cancelAll();

  // Reads a measuring role's answer as a checked measurement (what task() does with every
  // answer).
  static Measurement checkAnswer(Role role, const InstrumentProfile& profile, const ScpiReply& reply);

 private:
  struct Station {
    InstrumentEntry entry;
    const InstrumentProfile* profile = nullptr;
    std::unique_ptr<InstrumentSession> session;
    clsCmcTick settle;
    std::uint64_t generatorSettings = 0;  // generator settings asked for (the last one is under way)
  };
  struct Held {
    Role role;
    std::function<void(const Measurement&)> done;
  };

  Station* stationFor(Role role);
  void send(Role role, std::function<void(const Measurement&)> done);
  // Runs f at the next task().
  void later(std::function<void()> f) { deferred_.push_back(std::move(f)); }

  const TickSource& clock_;
  TransportFactory& factory_;
  InstrumentsSetup setup_;
  std::vector<std::unique_ptr<Station>> stations_;
  std::vector<Held> held_;  // waiting for their settle time
  std::vector<std::function<void()>> deferred_;
};

}  // namespace tarnset
