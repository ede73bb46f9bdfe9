#pragma once
// Limits.ini: for each alignment item, what is measured and the target with its lower and
// upper limit. A section per item, named by the item's console title without its leading
// blanks ("Power(Hi)", "MOD W", "TXF"):
//
//   [Power(Hi)]
//   Quantity=power          ; frequency-error, power, deviation or level
//   Unit=W                  ; frequency-error: Hz or ppm; power: W, mW or dBm;
//                           ; deviation: kHz or Hz; level: dBm
//   Target=25
//   Lower=24
//   Upper=26
//
// Loading never fails: an item that cannot be used is left out and said in problems.
#include <string>
#include <string_view>
#include <vector>

namespace tarnset {

enum class Quantity { FrequencyError, Power, Deviation, Level };

// The quantity's word in Limits.ini.
const char* quantityKey(Quantity q);

struct ItemLimit {
  std::string item;  // the console title without its leading blanks
  Quantity quantity = Quantity::Power;
  std::string unit;  // as written in the file ("W", "kHz", "ppm")
  double target = 0.0;
  double lower = 0.0;
  double upper = 0.0;

  // A measurement in the bench's units (frequency error in Hz, power in W, deviation in
  // Hz, level in dBm) in this limit's unit; nominalHz is the carrier that ppm refer to.
  double inUnit(double benchValue, double nominalHz = 0.0) const;
  // The value (in this limit's unit) lies within lower..upper.
  bool within(double value) const { return value >= lower && value <= upper; }
};

struct LimitsSetup {
  std::vector<ItemLimit> items;
  std::vector<std::string> problems;

  // The limit of an item by its console title (leading and trailing blanks ignored, any
  // case); nullptr when the file has none.
  const ItemLimit* find(std::string_view title) const;
};

inline const std::string kLimitsFileName = "Limits.ini";

LimitsSetup loadLimits(const std::string& file);
// Writes every item (other lines and comments kept). False with why when it cannot.
bool saveLimits(const LimitsSetup& limits, const std::string& file, std::string& why);

}  // namespace tarnset
