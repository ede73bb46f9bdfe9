#include "instruments/InstrumentProfile.h"

#include <algorithm>

#include "instruments/ScpiText.h"

namespace tarnset {
namespace {

void replaceAll(std::string& s, std::string_view what, const std::string& with) {
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size())) {
    s.replace(at, what.size(), with);
  }
}

// The placeholders of a template that are not {hz}, {dbm} or {on}.
std::vector<std::string> unknownPlaceholders(const std::string& text) {
  std::vector<std::string> out;
  for (std::size_t open = text.find('{'); open != std::string::npos; open = text.find('{', open + 1)) {
    const std::size_t close = text.find('}', open);
    const std::string name =
        text.substr(open, close == std::string::npos ? std::string::npos : close - open + 1);
    if (name != "{hz}" && name != "{dbm}" && name != "{on}") out.push_back(name);
  }
  return out;
}

}  // namespace

const char* roleTitle(Role role) {
  switch (role) {
    case Role::Generator:
      return "signal generator";
    case Role::Counter:
      return "frequency counter";
    case Role::PowerMeter:
      return "power meter";
    case Role::DeviationMeter:
      return "deviation meter";
  }
  return "?";
}

const char* roleKey(Role role) {
  switch (role) {
    case Role::Generator:
      return "generator";
    case Role::Counter:
      return "counter";
    case Role::PowerMeter:
      return "power";
    case Role::DeviationMeter:
      return "deviation";
  }
  return "?";
}

std::optional<Role> roleFromKey(std::string_view key) {
  for (const Role r : kAllRoles) {
    if (sameWord(key, roleKey(r))) return r;
  }
  return std::nullopt;
}

const std::string& InstrumentProfile::query(Role role) const {
  static const std::string none;
  switch (role) {
    case Role::Counter:
      return counterQuery;
    case Role::PowerMeter:
      return powerQuery;
    case Role::DeviationMeter:
      return deviationQuery;
    case Role::Generator:
      break;
  }
  return none;
}

const std::string& InstrumentProfile::defaultUnit(Role role) const {
  static const std::string none;
  switch (role) {
    case Role::Counter:
      return counterUnit;
    case Role::PowerMeter:
      return powerUnit;
    case Role::DeviationMeter:
      return deviationUnit;
    case Role::Generator:
      break;
  }
  return none;
}

const std::vector<InstrumentProfile>& builtInProfiles() {
  static const std::vector<InstrumentProfile> profiles = [] {
    InstrumentProfile generic;
    InstrumentProfile bench;
    bench.name = "kv-tarn-bench";
    bench.generatorFrequency = "SOURce:FREQuency:CW {hz}";
    bench.generatorLevel = "SOURce:POWer:LEVel {dbm}";
    bench.generatorOutput = "OUTPut:STATe {on}";
    bench.counterQuery = "MEASure:FREQuency?";
    bench.powerQuery = "MEASure:POWer?";
    bench.deviationQuery = "MEASure:FM:DEViation?";
    return std::vector<InstrumentProfile>{generic, bench};
  }();
  return profiles;
}

const InstrumentProfile* builtInProfile(std::string_view name) {
  for (const InstrumentProfile& p : builtInProfiles()) {
    if (sameWord(p.name, name)) return &p;
  }
  return nullptr;
}

std::string expandTemplate(const std::string& text, double hz, double dbm, bool on) {
  std::string s = text;
  replaceAll(s, "{hz}", formatScpiNumber(hz, 3));
  replaceAll(s, "{dbm}", formatScpiNumber(dbm, 2));
  replaceAll(s, "{on}", on ? "ON" : "OFF");
  return s;
}

std::vector<std::string> profileProblems(const InstrumentProfile& p) {
  std::vector<std::string> problems;
  struct Setting {
    const char* what;
    const std::string& text;
    const char* needs;
  };
  for (const Setting& s : {Setting{"generator frequency", p.generatorFrequency, "{hz}"},
                           Setting{"generator level", p.generatorLevel, "{dbm}"},
                           Setting{"generator output", p.generatorOutput, "{on}"}}) {
    if (s.text.find(s.needs) == std::string::npos) {
      problems.push_back(std::string("the ") + s.what + " command '" + s.text + "' lacks " + s.needs);
    }
    if (s.text.find('?') != std::string::npos) {
      problems.push_back(std::string("the ") + s.what + " command '" + s.text + "' is a query");
    }
  }
  struct Query {
    Role role;
    std::vector<const char*> units;
  };
  for (const Query& q :
       {Query{Role::Counter, {"HZ", "KHZ", "MHZ"}}, Query{Role::PowerMeter, {"DBM", "W", "MW"}},
        Query{Role::DeviationMeter, {"HZ", "KHZ"}}}) {
    const std::string& text = p.query(q.role);
    if (text.find('?') == std::string::npos) {
      problems.push_back(std::string("the ") + roleTitle(q.role) + " query '" + text + "' has no '?'");
    }
    const std::string& unit = p.defaultUnit(q.role);
    if (std::none_of(q.units.begin(), q.units.end(), [&](const char* u) { return sameWord(unit, u); })) {
      std::string list;
      for (const char* u : q.units) list += std::string(list.empty() ? "" : ", ") + u;
      problems.push_back(std::string("the ") + roleTitle(q.role) + " unit '" + unit + "' is none of " + list);
    }
  }
  for (const std::string* t : {&p.generatorFrequency, &p.generatorLevel, &p.generatorOutput, &p.counterQuery,
                               &p.powerQuery, &p.deviationQuery}) {
    for (const std::string& u : unknownPlaceholders(*t)) {
      problems.push_back("'" + *t + "' holds " + u + ", which is none of {hz}, {dbm}, {on}");
    }
    if (t->find_first_of("\r\n") != std::string::npos) problems.push_back("a command holds a line break");
  }
  return problems;
}

}  // namespace tarnset
