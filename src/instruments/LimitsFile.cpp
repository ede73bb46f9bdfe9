#include "instruments/LimitsFile.h"

#include <charconv>
#include <cmath>

#include "instruments/ScpiText.h"
#include "platform/IniFile.h"

namespace tarnset {
namespace {

struct QuantityInfo {
  Quantity quantity;
  const char* key;
  std::vector<const char*> units;
};

const std::vector<QuantityInfo>& quantities() {
  static const std::vector<QuantityInfo> table = {
      {Quantity::FrequencyError, "frequency-error", {"Hz", "ppm"}},
      {Quantity::Power, "power", {"W", "mW", "dBm"}},
      {Quantity::Deviation, "deviation", {"kHz", "Hz"}},
      {Quantity::Level, "level", {"dBm"}},
  };
  return table;
}

}  // namespace

const char* quantityKey(Quantity q) {
  for (const QuantityInfo& i : quantities()) {
    if (i.quantity == q) return i.key;
  }
  return "?";
}

double ItemLimit::inUnit(double v, double nominalHz) const {
  const std::string u = asciiLower(unit);
  if (u == "ppm") return nominalHz > 0.0 ? v / nominalHz * 1e6 : 0.0;
  if (u == "mw") return v * 1e3;
  if (u == "dbm" && quantity == Quantity::Power) return v > 0.0 ? 10.0 * std::log10(v) + 30.0 : -300.0;
  if (u == "khz") return v / 1e3;
  return v;
}

const ItemLimit* LimitsSetup::find(std::string_view title) const {
  const std::string key = asciiLower(trimBlanks(title));
  for (const ItemLimit& l : items) {
    if (asciiLower(l.item) == key) return &l;
  }
  return nullptr;
}

LimitsSetup loadLimits(const std::string& file) {
  LimitsSetup s;
  for (const std::string& section : iniSectionNames(file)) {
    const auto text = [&](const char* key) {
      return std::string(trimBlanks(iniReadString(section, key, "", 256, file)));
    };
    const auto refuse = [&](const std::string& why) {
      s.problems.push_back("[" + section + "] " + why + "; the item is left out");
    };
    ItemLimit l;
    l.item = section;
    const std::string q = text("Quantity");
    const QuantityInfo* info = nullptr;
    for (const QuantityInfo& i : quantities()) {
      if (asciiLower(q) == i.key) info = &i;
    }
    if (info == nullptr) {
      refuse("Quantity=" + q + " is none of frequency-error, power, deviation, level");
      continue;
    }
    l.quantity = info->quantity;
    l.unit = text("Unit");
    bool unitKnown = false;
    for (const char* u : info->units) {
      if (asciiLower(l.unit) == asciiLower(u)) {
        l.unit = u;
        unitKnown = true;
      }
    }
    if (!unitKnown) {
      std::string list;
      for (const char* u : info->units) list += std::string(list.empty() ? "" : ", ") + u;
      refuse("Unit=" + l.unit + " is not a unit of " + info->key + " (" + list + ")");
      continue;
    }
    bool numbers = true;
    for (auto [key, field] : {std::pair{"Target", &l.target}, {"Lower", &l.lower}, {"Upper", &l.upper}}) {
      const std::string t = text(key);
      const ScpiNumber n = parseScpiNumber(t);
      if (n.kind != ScpiNumber::Kind::Number || !n.unit.empty() || t.empty()) {
        refuse(std::string(key) + "=" + t + " is not a number");
        numbers = false;
        break;
      }
      *field = n.value;
    }
    if (!numbers) continue;
    if (!(l.lower <= l.target && l.target <= l.upper)) {
      refuse("the target " + formatScpiNumber(l.target, 6) + " does not lie within " +
             formatScpiNumber(l.lower, 6) + " .. " + formatScpiNumber(l.upper, 6));
      continue;
    }
    s.items.push_back(std::move(l));
  }
  return s;
}

bool saveLimits(const LimitsSetup& limits, const std::string& file, std::string& why) {
  for (const ItemLimit& l : limits.items) {
    const std::pair<const char*, std::string> keys[] = {{"Quantity", quantityKey(l.quantity)},
                                                        {"Unit", l.unit},
                                                        {"Target", formatScpiNumber(l.target, 6)},
                                                        {"Lower", formatScpiNumber(l.lower, 6)},
                                                        {"Upper", formatScpiNumber(l.upper, 6)}};
    for (const auto& [key, value] : keys) {
      if (!iniWriteString(l.item, key, value, file)) {
        why = "cannot write [" + l.item + "] " + key + " to '" + file + "'";
        return false;
      }
    }
  }
  return true;
}

}  // namespace tarnset
