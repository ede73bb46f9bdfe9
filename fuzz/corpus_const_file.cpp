// The generated corpus of the constants file's fuzz function: files with the title line
// as written, with blanks, in another case or missing; 21 coefficient lines (or fewer)
// in every number form the reader takes (signs, points, exponents with E, e, D or d,
// "&H" and "&O" numbers, text after the number) and forms it does not (no number,
// numbers beyond the single range, hundreds of digits, NUL bytes, very long lines);
// lines after the coefficients; LF, CR LF, CR or mixed line ends; some files with random
// byte changes.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace tarnset::fuzz {
namespace {

std::string pick(std::mt19937& rng, const std::vector<std::string>& from) {
  return from[rng() % from.size()];
}

std::string digits(std::mt19937& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

std::string coefficientLine(std::mt19937& rng) {
  static const std::vector<std::string> signs = {"", "", "-", "+"};
  static const std::vector<std::string> exps = {"", "", "E", "e", "D", "d", "E+", "e-", "D-"};
  static const std::vector<std::string> tails = {"", "", "", " ppm", "x", "\t; note", " 2", "e", "E+", ".5"};
  static const std::vector<std::string> odd = {"",
                                               "-",
                                               ".",
                                               "+.",
                                               "ppm 3",
                                               "&H",
                                               "&HFFFFFFFF",
                                               "&hff",
                                               "&O777",
                                               "&o8",
                                               "&X12",
                                               "&",
                                               "1e999",
                                               "-4e38",
                                               "3.5e38",
                                               "3.3e38",
                                               "-3.4e38",
                                               "1e-50",
                                               "1e-45",
                                               "nan",
                                               "inf",
                                               "0x1F",
                                               "1,5",
                                               "1.2.3",
                                               "--1",
                                               "7e",
                                               "1e+",
                                               "   ",
                                               "\t-2.25",
                                               "\xff\xfe",
                                               "&H" + std::string(300, 'F'),
                                               std::string(400, '9'),
                                               "0." + std::string(500, '0') + "1",
                                               "1e" + std::string(30, '9'),
                                               "1e-" + std::string(30, '9'),
                                               std::string("1\0"
                                                           "5",
                                                           3)};
  switch (rng() % 4) {
    case 0:
      return pick(rng, odd);
    case 1:
      return (rng() % 2 ? "&H" : "&O") + digits(rng, 1 + rng() % 8);
    default: {
      std::string s = pick(rng, signs) + digits(rng, rng() % 4);
      if (rng() % 2) s += "." + digits(rng, rng() % 5);
      const std::string e = pick(rng, exps);
      if (!e.empty()) s += e + digits(rng, 1 + rng() % 3);
      return std::string(rng() % 3 == 0 ? rng() % 4 : 0, ' ') + s + pick(rng, tails);
    }
  }
}

std::string titleLine(std::mt19937& rng) {
  static const std::vector<std::string> titles = {"Tarnset ADJ Rev.1.2",
                                                  "Tarnset ADJ Rev.1.2",
                                                  "  Tarnset ADJ Rev.1.2  ",
                                                  "Tarnset ADJ Rev.1.2\r",
                                                  "\tTarnset ADJ Rev.1.2",
                                                  "Tarnset adj Rev.1.2",
                                                  "Tarnset ADJ Rev.1.3",
                                                  "",
                                                  "Tarnset ADJ Rev.1.2\r\r",
                                                  std::string("Tarnset ADJ Rev.1.2\0", 20),
                                                  "-16.332"};
  return titles[rng() % 4 == 0 ? rng() % titles.size() : 0];
}

}  // namespace

std::vector<Bytes> generateCorpus() {
  std::mt19937 rng(20240611u);
  static const std::vector<std::string> eols = {"\n", "\r\n", "\r", "\n\r"};
  std::vector<Bytes> corpus;
  for (int i = 0; i < 600; ++i) {
    const int style = static_cast<int>(rng() % 5);  // 0..3 one line end, 4 mixed
    const auto eol = [&] { return eols[style < 4 ? static_cast<std::size_t>(style) : rng() % eols.size()]; };
    std::string text = titleLine(rng) + eol();
    const int count = rng() % 5 == 0 ? static_cast<int>(rng() % 24) : 21;
    for (int k = 0; k < count; ++k) text += coefficientLine(rng) + eol();
    for (int k = static_cast<int>(rng() % 4); k > 0; --k) text += coefficientLine(rng) + eol();
    if (rng() % 3 == 0 && !text.empty()) text.pop_back();  // a last line without its end
    if (rng() % 5 == 0) {
      for (std::size_t k = 1 + rng() % 4; k > 0 && !text.empty(); --k) {
        text[rng() % text.size()] = static_cast<char>(rng());
      }
    }
    corpus.emplace_back(text.begin(), text.end());
  }
  return corpus;
}

}  // namespace tarnset::fuzz
