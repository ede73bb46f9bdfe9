// Fuzzes the constants file reader (Const.ini): the whole input is the file's text.
//
// Whatever the file holds, reading it never throws, and a file taken as valid starts
// with the title line and gives 21 finite coefficients. A coefficient line that holds a
// plain decimal number reads as the C library reads that number, and an "&H" or "&O"
// line of a few digits as its exact value. The result does not depend on the line ends
// (LF or CR LF) nor on what follows the 21st coefficient line.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "base/Types.h"
#include "model/RigTarnConstFile.h"

namespace {

using tarnset::fuzz::violated;
using Coefficients = std::optional<std::array<float, 21>>;

Coefficients readText(const std::string& text) {
  std::istringstream in(text);
  return tarnset::RigTarnConst_ReadCoefficients(in);
}

// Both invalid, or both valid with the same bits in every coefficient.
bool sameResult(const Coefficients& a, const Coefficients& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || std::memcmp(a->data(), b->data(), sizeof(float) * a->size()) == 0;
}

// The lines of the text as the reader takes them: cut at LF, a CR before the end dropped.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    pos = nl + 1;
  }
  return lines;
}

std::string trimmed(const std::string& s, const char* blanks) {
  const std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

// The value of a line that holds one plain decimal number and blanks around it, as
// strtod reads it; nullopt for any other line.
std::optional<double> plainDecimal(const std::string& line) {
  const std::string number = trimmed(line, " \t");
  if (number.empty() || number.find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(number.c_str(), &end);
  if (end != number.c_str() + number.size()) return std::nullopt;
  return v;
}

// The exact value of a line "&Hdigits" or "&Odigits" (blanks around it aside) short
// enough to be exact in a double; nullopt for any other line.
std::optional<double> shortBasedNumber(const std::string& line) {
  const std::string t = trimmed(line, " \t");
  if (t.size() < 3 || t.size() > 14 || t[0] != '&') return std::nullopt;
  const char kind = t[1];
  const int base = (kind == 'H' || kind == 'h') ? 16 : ((kind == 'O' || kind == 'o') ? 8 : 0);
  if (base == 0) return std::nullopt;
  std::uint64_t v = 0;
  for (std::size_t i = 2; i < t.size(); ++i) {
    const char c = t[i];
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0 || d >= base) return std::nullopt;
    v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  return static_cast<double>(v);
}

void checkValid(const std::array<float, 21>& coef, const std::vector<std::string>& lines) {
  if (lines.size() < 22) violated("a file of fewer than 22 lines taken as valid");
  if (trimmed(lines[0], " ") != tarnset::kAppTitle) violated("a file with another title line taken as valid");
  for (std::size_t i = 0; i < coef.size(); ++i) {
    if (!std::isfinite(coef[i])) violated("a coefficient that is not finite");
    const std::string& line = lines[i + 1];
    std::optional<double> expected = plainDecimal(line);
    if (!expected) expected = shortBasedNumber(line);
    if (expected && coef[i] != static_cast<float>(*expected))
      violated("a coefficient differs from its line's number");
  }
}

}  // namespace

const char* const tarnset::fuzz::kTargetName = "fuzz_const_file";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Coefficients result = readText(text);
  const std::vector<std::string> lines = linesOf(text);
  if (result) checkValid(*result, lines);

  // LF line ends read like CR LF ones: a CR goes before every LF that has none.
  std::string crlf;
  crlf.reserve(text.size() + lines.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf += '\r';
    crlf += text[i];
  }
  if (!sameResult(readText(crlf), result)) violated("CR LF line ends change the result");

  // Nothing after the 21st coefficient line counts: replace it by other text.
  std::size_t end = 0;
  int ends = 0;
  while (ends < 22 && end < text.size()) {
    const std::size_t nl = text.find('\n', end);
    if (nl == std::string::npos) break;
    end = nl + 1;
    ++ends;
  }
  if (ends == 22) {
    const std::string other = text.substr(0, end) + std::string(text.rbegin(), text.rend());
    if (!sameResult(readText(other), result)) violated("text after the coefficients changes the result");
  }
  return 0;
}
