#include "instruments/ScpiText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarnset {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// SCPI's not-a-number and infinity values; anything at or above them is no reading.
constexpr double kScpiInfinity = 9.9e37;

}  // namespace

void ScpiLineCutter::feed(std::string_view bytes, std::vector<Line>& lines) {
  for (const char c : bytes) {
    if (c == '\n') {
      std::string text = std::move(pending_);
      if (!overLong_ && !text.empty() && text.back() == '\r') text.pop_back();
      lines.push_back(Line{std::move(text), overLong_});
      pending_.clear();
      overLong_ = false;
      continue;
    }
    if (pending_.size() < kMaxLine) {
      pending_ += c;
    } else {
      overLong_ = true;
    }
  }
}

void ScpiLineCutter::clear() {
  pending_.clear();
  overLong_ = false;
}

ScpiNumber parseScpiNumber(std::string_view answer) {
  ScpiNumber n;
  const std::string_view s = trimBlanks(answer);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return n;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const std::size_t expStart = j;
    while (j < s.size() && isDigit(s[j])) ++j;
    // An E without digits after it is the start of a unit only if letters follow; SCPI
    // has no unit beginning with E but the exponent, so it is refused.
    if (j == expStart) return n;
    i = j;
  }
  const std::string_view number = s.substr(0, i);
  std::string_view rest = trimBlanks(s.substr(i));
  for (const char c : rest) {
    if (!isLetter(c)) return n;
  }
  // from_chars does not take a leading '+'.
  std::string_view digitsText = number;
  if (!digitsText.empty() && digitsText.front() == '+') digitsText.remove_prefix(1);
  double v = 0.0;
  const auto [end, ec] = std::from_chars(digitsText.data(), digitsText.data() + digitsText.size(), v);
  if (end != digitsText.data() + digitsText.size()) return n;
  if (ec == std::errc::result_out_of_range) {
    // Beyond a double: an exponent far past 9.9E37 reads as infinity, a tiny one as 0.
    const bool huge = number.find_first_of("Ee") != std::string_view::npos &&
                      number.substr(number.find_first_of("Ee") + 1).find('-') == std::string_view::npos;
    v = huge ? kScpiInfinity : 0.0;
  } else if (ec != std::errc() || !std::isfinite(v)) {
    return n;
  }
  n.unit = asciiUpper(rest);
  n.value = v;
  n.kind = std::fabs(v) >= kScpiInfinity ? ScpiNumber::Kind::NoMeasurement : ScpiNumber::Kind::Number;
  return n;
}

std::optional<ScpiIdentity> parseScpiIdentity(std::string_view answer) {
  std::vector<std::string> f;
  std::string_view s = trimBlanks(answer);
  for (;;) {
    const std::size_t comma = s.find(',');
    f.emplace_back(trimBlanks(s.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  if (f.size() != 4 || f[0].empty() || f[1].empty()) return std::nullopt;
  for (const std::string& field : f) {
    for (const char c : field) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return std::nullopt;
    }
  }
  return ScpiIdentity{f[0], f[1], f[2], f[3]};
}

std::optional<ScpiError> parseScpiError(std::string_view answer) {
  const std::string_view s = trimBlanks(answer);
  const std::size_t comma = s.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view codeText = trimBlanks(s.substr(0, comma));
  if (!codeText.empty() && codeText.front() == '+') codeText.remove_prefix(1);
  int code = 0;
  const auto [end, ec] = std::from_chars(codeText.data(), codeText.data() + codeText.size(), code);
  if (codeText.empty() || ec != std::errc() || end != codeText.data() + codeText.size()) return std::nullopt;
  std::string_view text = trimBlanks(s.substr(comma + 1));
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
  return ScpiError{code, std::string(text)};
}

std::string formatScpiNumber(double value, int maxDecimals) {
  if (!std::isfinite(value)) return "0";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, maxDecimals);
  if (ec != std::errc()) return "0";
  std::string s(buf, end);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string asciiUpper(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

std::string asciiLower(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool sameWord(std::string_view a, std::string_view b) {
  return asciiLower(a) == asciiLower(b);
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string printableAnswer(std::string_view text, std::size_t maxChars) {
  std::string out;
  for (const char ch : text) {
    if (out.size() >= maxChars) {
      out += "...";
      break;
    }
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c <= 0x7E) {
      out += ch;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace tarnset
