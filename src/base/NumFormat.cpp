#include "base/NumFormat.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace tarnset {
namespace {

bool isPlaceholder(char c) {
  return c == '0' || c == '#';
}

// Splits the absolute value, rounded to 'decimals' places (half away from zero),
// into integer digits (empty for 0) and exactly 'decimals' fraction digits.
void splitDigits(double absValue, int decimals, std::string& intDigits, std::string& fracDigits) {
  constexpr double kExactLimit = 4503599627370496.0;  // 2^52: from here on doubles have no fraction
  const double scaled = absValue * std::pow(10.0, decimals);
  std::string all;
  if (scaled >= kExactLimit) {
    // Too large for a rounding nudge to mean anything (it would change integer digits):
    // print the binary value's exact expansion instead.
    std::vector<char> buf(static_cast<std::size_t>(320 + decimals));
    std::snprintf(buf.data(), buf.size(), "%.*f", decimals, absValue);
    for (const char* p = buf.data(); *p != '\0'; ++p) {
      if (*p != '.') all += *p;
    }
  } else {
    // Decimal halves such as 1.005 are stored a little below the half; a tolerance of a
    // few units in the last place lets them round away from zero as written.
    const double whole = std::floor(scaled);
    const double tolerance = std::fmin(scaled * 1e-15, 1e-6);
    const double rounded = scaled - whole >= 0.5 - tolerance ? whole + 1 : whole;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", rounded);
    all = buf;
  }
  if (static_cast<int>(all.size()) <= decimals) all.insert(0, decimals + 1 - all.size(), '0');
  intDigits = all.substr(0, all.size() - decimals);
  fracDigits = all.substr(all.size() - decimals);
  std::size_t nz = intDigits.find_first_not_of('0');
  intDigits = nz == std::string::npos ? std::string() : intDigits.substr(nz);
}

}  // namespace

std::string formatNumber(double value, std::string_view pattern) {
  const std::size_t point = pattern.find('.');
  const std::string_view intPart = pattern.substr(0, point);
  const std::string_view fracPart =
      point == std::string_view::npos ? std::string_view() : pattern.substr(point + 1);
  if (pattern.find('%') != std::string_view::npos) value *= 100.0;
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "Inf" : "-Inf");

  int intSlots = 0, minInt = 0;
  bool seenZero = false;
  for (char c : intPart) {
    if (!isPlaceholder(c)) continue;
    ++intSlots;
    if (c == '0') seenZero = true;
    if (seenZero) ++minInt;
  }
  int fracSlots = 0, minFrac = 0;
  for (char c : fracPart) {
    if (!isPlaceholder(c)) continue;
    ++fracSlots;
    if (c == '0') minFrac = fracSlots;
  }

  std::string intDigits, fracDigits;
  splitDigits(std::fabs(value), fracSlots, intDigits, fracDigits);
  while (static_cast<int>(fracDigits.size()) > minFrac && fracDigits.back() == '0') fracDigits.pop_back();
  if (static_cast<int>(intDigits.size()) < minInt) intDigits.insert(0, minInt - intDigits.size(), '0');
  const bool nonZero = intDigits.find_first_not_of('0') != std::string::npos ||
                       fracDigits.find_first_not_of('0') != std::string::npos;
  const bool negative = value < 0 && nonZero;

  // Integer part: fill the placeholders from the right; surplus digits go to the first one.
  std::string out;
  {
    std::vector<std::string> pieces(intPart.size());
    int digitIndex = static_cast<int>(intDigits.size());
    int slotsLeft = intSlots;
    for (int i = static_cast<int>(intPart.size()) - 1; i >= 0; --i) {
      const char c = intPart[i];
      if (!isPlaceholder(c)) {
        pieces[i] = std::string(1, c);
        continue;
      }
      --slotsLeft;
      if (slotsLeft == 0) {
        pieces[i] = intDigits.substr(0, digitIndex > 0 ? digitIndex : 0);
        digitIndex = 0;
      } else if (digitIndex > 0) {
        pieces[i] = std::string(1, intDigits[--digitIndex]);
      }
    }
    if (intSlots == 0) out = intDigits;  // no integer placeholders: digits still shown
    for (const auto& p : pieces) out += p;
  }
  if (point != std::string_view::npos) {
    out += '.';
    std::size_t fi = 0;
    for (char c : fracPart) {
      if (isPlaceholder(c)) {
        if (fi < fracDigits.size()) out += fracDigits[fi];
        ++fi;
      } else {
        out += c;
      }
    }
  }
  return negative ? "-" + out : out;
}

std::string rightAlign(std::string_view text, std::size_t width) {
  std::string s(width, ' ');
  s.append(text);
  return s.substr(s.size() - width);
}

std::string decimal(std::int64_t v) {
  return std::to_string(v);
}

std::string decimalWithSign(std::int64_t v) {
  std::string text = v >= 0 ? std::string(" ") : std::string();
  text += std::to_string(v);
  return text;
}

}  // namespace tarnset
