#pragma once
// Instruments.ini, beside the options file: one section per instrument, and a shop's own
// profiles as sections named "Profile <name>".
//
//   [Service monitor]
//   Address=TCPIP::192.168.1.20::5025::SOCKET
//   Roles=generator, counter, power, deviation
//   Profile=generic
//   SettleMs=300
//   TimeoutMs=2000
//   CableLossDb=0.8                   ; between the generator and the radio
//   CalibrationDue=2026-03-31
//   Baud=9600                         ; serial addresses only (8N1)
//
//   [Profile my-monitor]
//   Base=generic                      ; keys left out come from this profile
//   GeneratorFrequency=RF {hz}
//   PowerUnit=W
//
// Loading never fails: what cannot be used is left out and said in problems.
#include <cstdint>
#include <string>
#include <vector>

#include "instruments/InstrumentProfile.h"

namespace tarnset {

struct InstrumentEntry {
  std::string name;     // the section name
  std::string address;  // VISA resource string
  std::vector<Role> roles;
  std::string profile = "generic";
  std::int32_t settleMs = 200;    // wait after a setting change before a measurement counts
  std::int32_t timeoutMs = 2000;  // longest wait for a connection or an answer
  double cableLossDb = 0.0;       // generator: loss of the cable to the radio
  std::string calibrationDue;     // YYYY-MM-DD as the shop entered it, empty when not entered
  std::int32_t baud = 9600;       // serial addresses

  bool serves(Role role) const;
};

struct InstrumentsSetup {
  std::vector<InstrumentEntry> instruments;
  std::vector<InstrumentProfile> profiles;  // the shop's own (the built-in ones are not listed)
  std::vector<std::string> problems;        // what was left out while loading, one line each

  // A profile by name: the shop's first, then the built-in ones; nullptr when unknown.
  const InstrumentProfile* profile(const std::string& name) const;
  // The instrument that serves a role, nullptr when none does.
  const InstrumentEntry* forRole(Role role) const;
};

// The name of the file and where it goes: beside the options file.
inline const std::string kInstrumentsFileName = "Instruments.ini";
std::string instrumentsFilePath(const std::string& optionsFile);

// Reads the file. A missing file gives an empty setup without problems. An instrument
// without a usable address or profile, a role served twice (the first keeps it), a bad
// number or date are problems; numbers out of range are refused and the default kept.
InstrumentsSetup loadInstruments(const std::string& file);
// Writes every instrument and shop profile into the file (other lines and comments kept),
// and removes the sections of instruments no longer listed. False with why when the file
// cannot be written.
bool saveInstruments(const InstrumentsSetup& setup, const std::string& file, std::string& why);

// True when text is a date YYYY-MM-DD that exists.
bool isCalendarDate(const std::string& text);

}  // namespace tarnset
