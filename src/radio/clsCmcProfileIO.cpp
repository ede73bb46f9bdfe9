#include "radio/clsCmcProfileIO.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <system_error>
#include <type_traits>

#include "base/Checked16.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace tarnset {
namespace {

// The read buffer of the profile routines: values are cut to 254 characters.
constexpr std::size_t kReadBufferSize = 255;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// ---- number texts ----

// A decimal number as written: sign, the digits of the mantissa without the point,
// and the power of ten that the digits are scaled by.
struct DecimalText {
  bool negative = false;
  std::string digits;      // leading zeros removed; empty for zero
  std::int64_t exp10 = 0;  // value = digits * 10^exp10
  std::string plain;       // the number without blanks and without a leading "+"
};

// Reads "[blanks][+|-]digits[.digits][(e|E)[+|-]digits][blanks]" (at least one digit
// in the mantissa, which may start with the point). Anything else is not a number.
std::optional<DecimalText> parseDecimal(std::string_view text) {
  std::string_view s = trimBlanks(text);
  DecimalText d;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) d.negative = s[i++] == '-';
  std::string mantissa;
  std::int64_t fracDigits = 0;
  bool seenPoint = false;
  for (; i < s.size(); ++i) {
    if (isDigit(s[i])) {
      mantissa += s[i];
      if (seenPoint) ++fracDigits;
    } else if (s[i] == '.' && !seenPoint) {
      seenPoint = true;
    } else {
      break;
    }
  }
  if (mantissa.empty()) return std::nullopt;
  std::int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    const std::size_t expStart = i;
    for (; i < s.size() && isDigit(s[i]); ++i) {
      // Any exponent beyond this decides the outcome by itself (zero or out of range).
      if (exponent < 1000000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (i == expStart) return std::nullopt;
    if (expNegative) exponent = -exponent;
  }
  if (i != s.size()) return std::nullopt;

  const std::size_t nz = mantissa.find_first_not_of('0');
  d.digits = nz == std::string::npos ? std::string() : mantissa.substr(nz);
  d.exp10 = exponent - fracDigits;
  d.plain = std::string(s.substr(s.front() == '+' ? 1 : 0));
  return d;
}

// The number as a double; nullopt when it lies outside the double range.
std::optional<double> toDouble(const DecimalText& d) {
  double v = 0;
  const char* first = d.plain.data();
  const char* last = first + d.plain.size();
  const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Too small for a double is zero; too large is refused.
    if (d.digits.empty() || d.exp10 + static_cast<std::int64_t>(d.digits.size()) < 0)
      return d.negative ? -0.0 : 0.0;
    return std::nullopt;
  }
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
  return v;
}

// The number times 10000, rounded half to even, as a currency value; nullopt when it
// does not fit 64 bits. Worked on the decimal digits so that no precision is lost.
std::optional<Currency> toCurrency(const DecimalText& d) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::int64_t shift = d.exp10 + 4;
  std::string whole = d.digits;
  std::string dropped;
  if (shift >= 0) {
    if (!whole.empty()) {
      if (shift > 20) return std::nullopt;
      whole.append(static_cast<std::size_t>(shift), '0');
    }
  } else {
    const std::int64_t keep = static_cast<std::int64_t>(whole.size()) + shift;
    // When the first dropped place lies before every digit it holds a zero: nothing
    // rounds up and the value is 0 (no string of a million zeros for "1e-999999").
    if (keep < 0) return Currency{0};
    if (keep == 0) {
      dropped = whole;
      whole.clear();
    } else {
      dropped = whole.substr(static_cast<std::size_t>(keep));
      whole.resize(static_cast<std::size_t>(keep));
    }
  }
  std::uint64_t mag = 0;
  for (char c : whole) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (mag > (kMax - digit) / 10) return std::nullopt;
    mag = mag * 10 + digit;
  }
  if (!dropped.empty()) {
    const bool restNonZero = dropped.find_first_not_of('0', 1) != std::string::npos;
    const char first = dropped.front();
    if (first > '5' || (first == '5' && (restNonZero || (mag & 1u) != 0))) {
      if (mag == kMax) return std::nullopt;
      ++mag;
    }
  }
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (d.negative) {
    if (mag > kMaxPositive + 1) return std::nullopt;
    return Currency{mag == kMaxPositive + 1 ? std::numeric_limits<std::int64_t>::min()
                                            : -static_cast<std::int64_t>(mag)};
  }
  if (mag > kMaxPositive) return std::nullopt;
  return Currency{static_cast<std::int64_t>(mag)};
}

// The whole number nearest to the text (halves to even) when it lies in [lo, hi].
std::optional<std::int64_t> toWhole(const DecimalText& d, double lo, double hi) {
  const auto v = toDouble(d);
  if (!v) return std::nullopt;
  const double r = roundHalfEven(*v);
  if (r < lo || r > hi) return std::nullopt;
  return static_cast<std::int64_t>(r);
}

// Shortest text that reads back as the same value: plain decimals where that stays
// short, otherwise with an exponent (so that a value never outgrows the read buffer).
template <class F>
std::optional<std::string> floatText(F v) {
  if (!std::isfinite(v)) return std::nullopt;
  if (v == 0) return std::string("0");
  char buf[400];
  const auto fixed = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  if (fixed.ec == std::errc() && fixed.ptr - buf <= 24) return std::string(buf, fixed.ptr);
  const auto shortest = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, shortest.ptr);
}

std::string currencyText(Currency c) {
  const bool negative = c.scaled < 0;
  const std::uint64_t mag =
      negative ? 0 - static_cast<std::uint64_t>(c.scaled) : static_cast<std::uint64_t>(c.scaled);
  std::string text = (negative ? "-" : "") + std::to_string(mag / 10000);
  std::string frac = std::to_string(mag % 10000);
  frac.insert(0, 4 - frac.size(), '0');
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) text += "." + frac;
  return text;
}

// ---- date and time ----

bool isLeapYear(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

// Years 100..9999, as a calendar date of the program can hold them.
bool validDateTime(const DateTime& t) {
  if (t.year < 100 || t.year > 9999 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > daysInMonth(t.year, t.month)) return false;
  return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// "yyyy.mm.dd-hh:mm:ss".
std::optional<std::string> dateTimeText(const DateTime& t) {
  if (!validDateTime(t)) return std::nullopt;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d.%02d.%02d-%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
  return std::string(buf);
}

// A field of the date-time text: decimal digits, blanks around them allowed.
std::optional<int> dateField(std::string_view field) {
  const std::string_view s = trimBlanks(field);
  if (s.empty()) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (!isDigit(c)) return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The 19-character text read by character positions; the separators are not checked.
std::optional<DateTime> parseDateTime(std::string_view s) {
  const auto y = dateField(s.substr(0, 4));
  const auto mo = dateField(s.substr(5, 2));
  const auto d = dateField(s.substr(8, 2));
  const auto h = dateField(s.substr(11, 2));
  const auto mi = dateField(s.substr(14, 2));
  const auto se = dateField(s.substr(17, 2));
  if (!y || !mo || !d || !h || !mi || !se) return std::nullopt;
  const DateTime t{*y, *mo, *d, *h, *mi, *se};
  if (!validDateTime(t)) return std::nullopt;
  return t;
}

// ---- conversions by the caller's type ----

// The text that stands for a value in the file; nullopt for a value that has none.
std::optional<std::string> valueText(const ProfileValue& v) {
  return std::visit(
      [](const auto& x) -> std::optional<std::string> {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return std::nullopt;
        } else if constexpr (std::is_same_v<T, bool>) {
          return std::string(x ? "1" : "0");
        } else if constexpr (std::is_same_v<T, std::int16_t> || std::is_same_v<T, std::int32_t> ||
                             std::is_same_v<T, std::uint8_t>) {
          return std::to_string(static_cast<long long>(x));
        } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
          return floatText(x);
        } else if constexpr (std::is_same_v<T, Currency>) {
          return currencyText(x);
        } else if constexpr (std::is_same_v<T, DateTime>) {
          return dateTimeText(x);
        } else {
          static_assert(std::is_same_v<T, std::string>);
          return x;
        }
      },
      v);
}

// Converts the text read from the file into v's type. False (v unchanged) when the text
// does not stand for a value of that type.
bool convertInto(const std::string& text, ProfileValue& v) {
  return std::visit(
      [&text](auto& x) -> bool {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return false;
        } else if constexpr (std::is_same_v<T, std::string>) {
          x = text;
          return true;
        } else if constexpr (std::is_same_v<T, bool>) {
          x = text != "0";
          return true;
        } else if constexpr (std::is_same_v<T, DateTime>) {
          if (text.size() != 19) return true;  // another length leaves the value as it was
          const auto t = parseDateTime(text);
          if (!t) return false;
          x = *t;
          return true;
        } else {
          const auto d = parseDecimal(text);
          if (!d) return false;
          if constexpr (std::is_same_v<T, double>) {
            const auto r = toDouble(*d);
            if (!r) return false;
            x = *r;
          } else if constexpr (std::is_same_v<T, float>) {
            const auto r = toDouble(*d);
            if (!r) return false;
            const auto f = static_cast<float>(*r);
            if (!std::isfinite(f)) return false;
            x = f;
          } else if constexpr (std::is_same_v<T, Currency>) {
            const auto c = toCurrency(*d);
            if (!c) return false;
            x = *c;
          } else {
            const auto r = toWhole(*d, static_cast<double>(std::numeric_limits<T>::min()),
                                   static_cast<double>(std::numeric_limits<T>::max()));
            if (!r) return false;
            x = static_cast<T>(*r);
          }
          return true;
        }
      },
      v);
}

}  // namespace

clsCmcProfileIO::clsCmcProfileIO() = default;

std::string clsCmcProfileIO::executableDir() {
  return executableDirectory();
}

void clsCmcProfileIO::setFullPath(const std::string& f) {
  std::string dir = GetPathName(f);
  if (dir.empty() || !isPathSeparator(dir.back())) dir += '/';
  path_ = dir;
  name_ = GetFileName(f);
}

void clsCmcProfileIO::SetCurrentPath() {
  std::string dir = programDir();
  if (dir.empty() || !isPathSeparator(dir.back())) dir += '/';
  path_ = dir;
}

bool clsCmcProfileIO::saveData(const std::string& sKey, const ProfileValue& sData) {
  const auto text = valueText(sData);
  if (!text) return false;
  return iniWriteString(section_, sKey, *text, GetMyProfile());
}

bool clsCmcProfileIO::loadData(const std::string& sKey, ProfileValue& sData,
                               const std::optional<ProfileValue>& sDefaultData) {
  if (std::holds_alternative<std::monostate>(sData)) return false;
  const ProfileValue& def = sDefaultData ? *sDefaultData : sData;
  if (def.index() != sData.index()) return false;
  // A default without a text form (a value that could not be written either) reads as
  // nothing when the key is missing.
  const std::string defaultText = valueText(def).value_or(std::string());

  const std::string raw = iniReadString(section_, sKey, defaultText, kReadBufferSize, GetMyProfile());
  if (raw.empty()) return false;
  std::string text = StripTerminator(raw);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return convertInto(text, sData);
}

std::string clsCmcProfileIO::StripTerminator(const std::string& s) {
  const std::size_t nul = s.find('\0');
  return nul == std::string::npos ? s : s.substr(0, nul);
}

std::string clsCmcProfileIO::GetFileName(const std::string& strPath) {
  const std::size_t slash = strPath.find_last_of(kPathSeparators);
  return slash == std::string::npos ? strPath : strPath.substr(slash + 1);
}

std::string clsCmcProfileIO::GetPathName(const std::string& strFilename) const {
  const std::size_t slash = strFilename.find_last_of(kPathSeparators);
  if (slash != std::string::npos) return UCase16(strFilename.substr(0, slash));
  std::string dir = programDir();
  if (!dir.empty() && isPathSeparator(dir.back())) dir.pop_back();
  return UCase16(dir);
}

}  // namespace tarnset
