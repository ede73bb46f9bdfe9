// The oscillator coefficients of Const.ini and the temperature border table they pair with.
#include "model/RigTarnConstFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "base/Types.h"
#include "model/clsIndOp_RigTarn.h"

namespace tarnset {
namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The value of the longest numeric prefix after leading blanks: a decimal number with an
// optional sign, point and exponent, or a hexadecimal ("&H") or octal ("&O") number.
// A line without a numeric prefix gives 0.
double leadingNumber(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return 0.0;
  if (line[i] == '&' && i + 1 < line.size()) {
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i + 1])));
    const int base = kind == 'H' ? 16 : (kind == 'O' ? 8 : 0);
    if (base == 0) return 0.0;
    std::size_t j = i + 2;
    double v = 0.0;
    while (j < line.size()) {
      const int c = std::toupper(static_cast<unsigned char>(line[j]));
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0 || d >= base) break;
      v = v * base + d;
      ++j;
    }
    return v;
  }
  std::size_t j = i;
  if (j < line.size() && (line[j] == '+' || line[j] == '-')) ++j;
  const std::size_t digitsStart = j;
  while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j]))) ++j;
  if (j < line.size() && line[j] == '.') {
    ++j;
    while (j < line.size() && std::isdigit(static_cast<unsigned char>(line[j]))) ++j;
  }
  if (j == digitsStart || (j == digitsStart + 1 && line[digitsStart] == '.')) return 0.0;
  std::string number = line.substr(i, j - i);
  if (j < line.size() && (line[j] == 'E' || line[j] == 'e' || line[j] == 'D' || line[j] == 'd')) {
    std::size_t k = j + 1;
    if (k < line.size() && (line[k] == '+' || line[k] == '-')) ++k;
    if (k < line.size() && std::isdigit(static_cast<unsigned char>(line[k]))) {
      while (k < line.size() && std::isdigit(static_cast<unsigned char>(line[k]))) ++k;
      std::string exponent = line.substr(j + 1, k - j - 1);
      number += "e" + exponent;
    }
  }
  return std::strtod(number.c_str(), nullptr);
}

bool readLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace

void clsIndOp_RigTarn::fillTempBorder() {
  tempBorder_ = kTarnTempBorder;
}

std::int16_t clsIndOp_RigTarn::RigTarnOp_Table_Txf_TempBorder(std::int16_t Index) const {
  if (Index < 0 || Index > 21) throw std::out_of_range("temperature border index");
  return tempBorder_[static_cast<std::size_t>(Index)];
}

std::optional<std::array<float, 21>> RigTarnConst_ReadCoefficients(std::istream& in) {
  std::string line;
  if (!readLine(in, line) || trim(line) != trim(kAppTitle)) return std::nullopt;
  std::array<float, 21> coef{};
  for (float& c : coef) {
    if (!readLine(in, line)) return std::nullopt;
    c = static_cast<float>(leadingNumber(line));
    // A coefficient that is not a finite single (1e999, or beyond 3.4e38) would poison the
    // compensation table: the file is not valid.
    if (!std::isfinite(c)) return std::nullopt;
  }
  return coef;
}

bool clsIndOp_RigTarn::RigTarnProp_ReadParametersFromExtFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  const auto coef = RigTarnConst_ReadCoefficients(in);
  if (!coef) return false;
  std::copy(coef->begin(), coef->end(), txfCoef_.begin());
  return true;
}

}  // namespace tarnset
