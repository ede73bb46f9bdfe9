#include "instruments/InstrumentsFile.h"

#include <algorithm>
#include <charconv>

#include "instruments/ScpiText.h"
#include "instruments/VisaAddress.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace tarnset {
namespace {

constexpr std::size_t kValueSize = 1024;
const std::string kProfilePrefix = "Profile ";

bool isProfileSection(const std::string& section) {
  return section.size() > kProfilePrefix.size() &&
         asciiLower(section.substr(0, kProfilePrefix.size())) == asciiLower(kProfilePrefix);
}

// Reads the keys of one section and says what it refuses.
class SectionReader {
 public:
  SectionReader(const std::string& file, const std::string& section, std::vector<std::string>& problems)
      : file_(file), section_(section), problems_(problems) {}

  std::string text(const std::string& key, const std::string& fallback = {}) const {
    return std::string(trimBlanks(iniReadString(section_, key, fallback, kValueSize, file_)));
  }

  template <typename T>
  void number(const std::string& key, T low, T high, T& value) const {
    const std::string t = text(key);
    if (t.empty()) return;
    T v{};
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size() || !(v >= low && v <= high)) {
      problem(key + "=" + t + " is not a number from " + formatScpiNumber(static_cast<double>(low), 3) +
              " to " + formatScpiNumber(static_cast<double>(high), 3) + "; " +
              formatScpiNumber(static_cast<double>(value), 3) + " is used");
      return;
    }
    value = v;
  }

  void problem(const std::string& what) const { problems_.push_back("[" + section_ + "] " + what); }

 private:
  const std::string& file_;
  const std::string& section_;
  std::vector<std::string>& problems_;
};

InstrumentProfile readProfile(const std::string& file, const std::string& section,
                              const std::vector<InstrumentProfile>& known,
                              std::vector<std::string>& problems) {
  const SectionReader r(file, section, problems);
  InstrumentProfile p;
  const std::string base = r.text("Base", "generic");
  const auto same = [&base](const InstrumentProfile& k) { return asciiLower(k.name) == asciiLower(base); };
  if (const auto it = std::find_if(known.begin(), known.end(), same); it != known.end()) {
    p = *it;
  } else if (const InstrumentProfile* b = builtInProfile(base)) {
    p = *b;
  } else {
    r.problem("Base=" + base + " names no profile; the generic one is used");
  }
  p.name = std::string(trimBlanks(section.substr(kProfilePrefix.size())));
  const auto key = [&r](const char* k, std::string& field) { field = r.text(k, field); };
  key("GeneratorFrequency", p.generatorFrequency);
  key("GeneratorLevel", p.generatorLevel);
  key("GeneratorOutput", p.generatorOutput);
  key("CounterQuery", p.counterQuery);
  key("CounterUnit", p.counterUnit);
  key("PowerQuery", p.powerQuery);
  key("PowerUnit", p.powerUnit);
  key("DeviationQuery", p.deviationQuery);
  key("DeviationUnit", p.deviationUnit);
  for (std::string* unit : {&p.counterUnit, &p.powerUnit, &p.deviationUnit}) {
    for (char& c : *unit) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return p;
}

}  // namespace

bool InstrumentEntry::serves(Role role) const {
  return std::find(roles.begin(), roles.end(), role) != roles.end();
}

const InstrumentProfile* InstrumentsSetup::profile(const std::string& name) const {
  for (const InstrumentProfile& p : profiles) {
    if (asciiLower(p.name) == asciiLower(name)) return &p;
  }
  return builtInProfile(name);
}

const InstrumentEntry* InstrumentsSetup::forRole(Role role) const {
  for (const InstrumentEntry& e : instruments) {
    if (e.serves(role)) return &e;
  }
  return nullptr;
}

std::string instrumentsFilePath(const std::string& optionsFile) {
  std::size_t cut = std::string::npos;
  for (std::size_t i = 0; i < optionsFile.size(); ++i) {
    if (isPathSeparator(optionsFile[i])) cut = i;
  }
  return cut == std::string::npos ? kInstrumentsFileName
                                  : optionsFile.substr(0, cut + 1) + kInstrumentsFileName;
}

bool isCalendarDate(const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  int y = 0, m = 0, d = 0;
  const auto num = [&text](std::size_t at, std::size_t n, int& out) {
    const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + n, out);
    return ec == std::errc() && end == text.data() + at + n && text[at] != '+' && text[at] != '-';
  };
  if (!num(0, 4, y) || !num(5, 2, m) || !num(8, 2, d) || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

InstrumentsSetup loadInstruments(const std::string& file) {
  InstrumentsSetup s;
  const std::vector<std::string> sections = iniSectionNames(file);
  for (const std::string& section : sections) {
    if (!isProfileSection(section)) continue;
    InstrumentProfile p = readProfile(file, section, s.profiles, s.problems);
    const std::vector<std::string> faults = profileProblems(p);
    if (!faults.empty()) {
      for (const std::string& f : faults)
        s.problems.push_back("[" + section + "] " + f + "; the profile is left out");
      continue;
    }
    if (builtInProfile(p.name) != nullptr || s.profile(p.name) != nullptr) {
      s.problems.push_back("[" + section + "] a profile of that name exists already; this one is left out");
      continue;
    }
    s.profiles.push_back(std::move(p));
  }

  for (const std::string& section : sections) {
    if (isProfileSection(section)) continue;
    const SectionReader r(file, section, s.problems);
    InstrumentEntry e;
    e.name = section;
    e.address = r.text("Address");
    std::string why;
    const auto address = parseVisaAddress(e.address, why);
    if (!address) {
      r.problem("Address: " + why + "; the instrument is left out");
      continue;
    }
    e.profile = r.text("Profile", e.profile);
    if (s.profile(e.profile) == nullptr) {
      r.problem("Profile=" + e.profile + " names no profile; the instrument is left out");
      continue;
    }
    const std::string roles = r.text("Roles");
    for (std::size_t pos = 0; pos <= roles.size();) {
      std::size_t comma = roles.find(',', pos);
      if (comma == std::string::npos) comma = roles.size();
      const std::string word = std::string(trimBlanks(std::string_view(roles).substr(pos, comma - pos)));
      pos = comma + 1;
      if (word.empty()) continue;
      const auto role = roleFromKey(word);
      if (!role) {
        r.problem("Roles: '" + word + "' is none of generator, counter, power, deviation");
      } else if (const InstrumentEntry* other = s.forRole(*role)) {
        r.problem(std::string("Roles: the ") + roleTitle(*role) + " is [" + other->name + "] already");
      } else if (!e.serves(*role)) {
        e.roles.push_back(*role);
      }
    }
    r.number<std::int32_t>("SettleMs", 0, 60000, e.settleMs);
    r.number<std::int32_t>("TimeoutMs", 100, 60000, e.timeoutMs);
    r.number<double>("CableLossDb", 0.0, 60.0, e.cableLossDb);
    r.number<std::int32_t>("Baud", 300, 921600, e.baud);
    e.calibrationDue = r.text("CalibrationDue");
    if (!e.calibrationDue.empty() && !isCalendarDate(e.calibrationDue)) {
      r.problem("CalibrationDue=" + e.calibrationDue + " is no date YYYY-MM-DD");
      e.calibrationDue.clear();
    }
    s.instruments.push_back(std::move(e));
  }
  return s;
}

bool saveInstruments(const InstrumentsSetup& setup, const std::string& file, std::string& why) {
  bool ok = true;
  const auto put = [&](const std::string& section, const std::string& key, const std::string& value) {
    if (ok && !iniWriteString(section, key, value, file)) {
      ok = false;
      why = "cannot write [" + section + "] " + key + " to '" + file + "'";
    }
  };
  for (const std::string& section : iniSectionNames(file)) {
    const bool listed =
        std::any_of(setup.instruments.begin(), setup.instruments.end(),
                    [&](const InstrumentEntry& e) { return asciiLower(e.name) == asciiLower(section); });
    if (!listed && !isProfileSection(section) && !iniDeleteSection(section, file)) {
      why = "cannot remove [" + section + "] from '" + file + "'";
      return false;
    }
  }
  for (const InstrumentProfile& p : setup.profiles) {
    const std::string section = kProfilePrefix + p.name;
    put(section, "GeneratorFrequency", p.generatorFrequency);
    put(section, "GeneratorLevel", p.generatorLevel);
    put(section, "GeneratorOutput", p.generatorOutput);
    put(section, "CounterQuery", p.counterQuery);
    put(section, "CounterUnit", p.counterUnit);
    put(section, "PowerQuery", p.powerQuery);
    put(section, "PowerUnit", p.powerUnit);
    put(section, "DeviationQuery", p.deviationQuery);
    put(section, "DeviationUnit", p.deviationUnit);
  }
  for (const InstrumentEntry& e : setup.instruments) {
    std::string roles;
    for (const Role r : e.roles) roles += std::string(roles.empty() ? "" : ", ") + roleKey(r);
    put(e.name, "Address", e.address);
    put(e.name, "Roles", roles);
    put(e.name, "Profile", e.profile);
    put(e.name, "SettleMs", std::to_string(e.settleMs));
    put(e.name, "TimeoutMs", std::to_string(e.timeoutMs));
    put(e.name, "CableLossDb", formatScpiNumber(e.cableLossDb, 2));
    put(e.name, "CalibrationDue", e.calibrationDue);
    std::string ignored;
    const auto address = parseVisaAddress(e.address, ignored);
    if (address && address->kind == VisaAddress::Kind::Serial) put(e.name, "Baud", std::to_string(e.baud));
  }
  return ok;
}

}  // namespace tarnset
