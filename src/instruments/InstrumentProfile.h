#pragma once
// Roles and profiles. A role is what the bench needs of an instrument (a signal generator,
// a frequency counter, an RF power meter, an FM deviation meter); one instrument may serve
// several. A profile is the command templates an instrument understands for each role,
// with the placeholders {hz}, {dbm} and {on}, and the unit of answers that carry none.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnset {

enum class Role { Generator, Counter, PowerMeter, DeviationMeter };
constexpr std::array<Role, 4> kAllRoles = {Role::Generator, Role::Counter, Role::PowerMeter,
                                           Role::DeviationMeter};

// The role in a technician's words: "signal generator", "frequency counter", "power meter",
// "deviation meter".
const char* roleTitle(Role role);
// The role's word in Instruments.ini: "generator", "counter", "power", "deviation".
const char* roleKey(Role role);
// A role from its word in Instruments.ini (any case); nullopt for another word.
std::optional<Role> roleFromKey(std::string_view key);

struct InstrumentProfile {
  std::string name = "generic";
  // Generator settings: {hz} the frequency in hertz, {dbm} the level in dBm, {on} ON or OFF.
  std::string generatorFrequency = "FREQ {hz}";
  std::string generatorLevel = "POW {dbm}";
  std::string generatorOutput = "OUTP {on}";
  // Measuring queries and the unit of an answer without a suffix.
  std::string counterQuery = "MEAS:FREQ?";
  std::string counterUnit = "HZ";  // HZ, KHZ, MHZ
  std::string powerQuery = "MEAS:POW?";
  std::string powerUnit = "DBM";  // DBM, W, MW
  std::string deviationQuery = "MEAS:FM:DEV?";
  std::string deviationUnit = "HZ";  // HZ, KHZ (peak deviation)

  // The query that measures in a measuring role (empty for the generator).
  const std::string& query(Role role) const;
  // The unit of an answer without a suffix in a measuring role.
  const std::string& defaultUnit(Role role) const;
};

// The built-in profiles: the generic SCPI set, and the virtual bench's (kv-tarn-sim
// --bench), which uses the long forms of the same commands.
const std::vector<InstrumentProfile>& builtInProfiles();
// A built-in profile by name (any case); nullptr for another name.
const InstrumentProfile* builtInProfile(std::string_view name);

// Fills a template: {hz} and {dbm} with the numbers, {on} with ON or OFF.
std::string expandTemplate(const std::string& text, double hz, double dbm, bool on);
// Why a profile cannot be used, one line per fault (a template without the placeholder it
// needs or with an unknown one, a query without '?', an answer unit the role cannot
// take); empty when it can.
std::vector<std::string> profileProblems(const InstrumentProfile& profile);

}  // namespace tarnset
