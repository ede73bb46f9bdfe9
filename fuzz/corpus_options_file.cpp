// The generated corpus of the options file's fuzz function: options files as the
// program writes them and as a hand edit or a damaged disk leaves them (comments, blank
// lines, duplicate and differently cased sections and keys, unclosed headers, lines
// without "=", quoted values, NUL bytes, very long lines, binary junk), with LF, CR LF,
// CR or mixed line ends; values in every form a typed load meets (whole numbers at and
// beyond each type's range, points, signs, exponents up to absurd sizes, hundreds of
// digits, currency halves, booleans, valid and odd dates); the section and key asked for
// mostly ones the file holds; every kind of typed value saved.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace tarnset::fuzz {
namespace {

const std::vector<std::string> kSections = {"OPTION", "option", " Option ", "PORTS", "Other",
                                            "",       "S]x",    "A=B",      ";c"};
const std::vector<std::string> kKeys = {
    "ComPort", "COMPORT", " comport ", "ComAutoRelease", "Val", "When", "Flag", "COM1", "k", "a=b",
    ";k",      "[k",      ""};

std::string pick(std::mt19937& rng, const std::vector<std::string>& from) {
  return from[rng() % from.size()];
}

std::string digits(std::mt19937& rng, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('0' + rng() % 10);
  return s;
}

std::string valueText(std::mt19937& rng) {
  static const std::vector<std::string> fixed = {"0",
                                                 "1",
                                                 "-1",
                                                 "00",
                                                 "no",
                                                 "32767",
                                                 "32768",
                                                 "-32768",
                                                 "-32769",
                                                 "32767.5",
                                                 "2147483647",
                                                 "2147483648",
                                                 "-2147483648.5",
                                                 "255",
                                                 "256",
                                                 "-0.4",
                                                 "-0.5",
                                                 "2.5",
                                                 "3.5",
                                                 "+.45E+1",
                                                 "1e39",
                                                 "1e400",
                                                 "-1e400",
                                                 "3.4028235e38",
                                                 "1e-45",
                                                 "1e-999999999999",
                                                 "1e999999999999",
                                                 "0.00015",
                                                 "0.00005",
                                                 "-1.23456",
                                                 "922337203685477.5807",
                                                 "922337203685477.5808",
                                                 "-922337203685477.5808",
                                                 "-922337203685477.5809",
                                                 "1.5e3",
                                                 "3abc",
                                                 "1.2.3",
                                                 "--1",
                                                 ".",
                                                 "e5",
                                                 "1e",
                                                 "0x10",
                                                 "&H10",
                                                 "1,5",
                                                 "nan",
                                                 "inf",
                                                 "1 2",
                                                 "\"quoted\"",
                                                 "'single'",
                                                 "\"  spaced  \"",
                                                 "\"",
                                                 "''",
                                                 "  padded  ",
                                                 "\t3\t",
                                                 "a=b",
                                                 "2005.03.01-14:05:09",
                                                 "2005/03/01 14-05-09",
                                                 "2005.03.01-14:05",
                                                 "2005.13.01-14:05:09",
                                                 "2005.02.29-00:00:00",
                                                 "2004.02.29-23:59:59",
                                                 "2000.02.29-00:00:00",
                                                 "1900.02.29-00:00:00",
                                                 "2005.03.01-24:00:00",
                                                 "0099.03.01-14:05:09",
                                                 "0100.01.01-00:00:00",
                                                 "9999.12.31-23:59:59",
                                                 "2005.0x.01-14:05:09",
                                                 " 2005.03.01-14:05:0",
                                                 "-005.03.01-14:05:09",
                                                 "2005.03.01-14:05:09 ",
                                                 std::string("12\0"
                                                             "34",
                                                             5),
                                                 std::string("\0", 1),
                                                 "\x01\xff",
                                                 "/dev/serial/by-id/usb-x"};
  switch (rng() % 6) {
    case 0:
      return std::string(1 + rng() % 3, '9') + digits(rng, rng() % 400);  // huge numbers
    case 1:
      return "0." + std::string(rng() % 300, '0') + digits(rng, 1 + rng() % 30) + (rng() % 2 ? "e" : "E") +
             (rng() % 2 ? "-" : "+") + digits(rng, 1 + rng() % 14);
    case 2:
      return std::string(200 + rng() % 800, static_cast<char>('a' + rng() % 26));  // very long
    case 3: {
      char buf[24];
      std::snprintf(buf, sizeof buf, "%04u.%02u.%02u-%02u:%02u:%02u", static_cast<unsigned>(rng() % 10100),
                    static_cast<unsigned>(rng() % 14), static_cast<unsigned>(rng() % 33),
                    static_cast<unsigned>(rng() % 25), static_cast<unsigned>(rng() % 61),
                    static_cast<unsigned>(rng() % 61));
      return buf;
    }
    default:
      return pick(rng, fixed);
  }
}

// One options file and the names in it.
struct File {
  std::string text;
  std::vector<std::string> sections, keys;
};

File optionsFile(std::mt19937& rng) {
  static const std::vector<std::string> eols = {"\n", "\r\n", "\r", "\n\r"};
  const int style = static_cast<int>(rng() % 5);  // 0..3 one line end, 4 mixed
  const auto eol = [&] { return eols[style < 4 ? static_cast<std::size_t>(style) : rng() % eols.size()]; };
  File f;
  for (int line = static_cast<int>(rng() % 24); line > 0; --line) {
    switch (rng() % 10) {
      case 0: {
        const std::string s = rng() % 4 ? pick(rng, kSections) : "Sec" + std::to_string(rng() % 5);
        f.sections.push_back(s);
        f.text += std::string(rng() % 4 == 0 ? 2 : 0, ' ') + "[" + s + "]";
        break;
      }
      case 1:
        f.text += rng() % 2 ? "; comment" : "[UNCLOSED";
        break;
      case 2:
        f.text += rng() % 2 ? "" : "   ";
        break;
      case 3:
        f.text += "NoEquals";
        break;
      case 4:
        for (std::size_t k = rng() % 40; k > 0; --k) f.text += static_cast<char>(rng());
        break;
      default: {
        const std::string k = rng() % 4 ? pick(rng, kKeys) : "Key" + std::to_string(rng() % 5);
        f.keys.push_back(k);
        f.text += k + (rng() % 4 == 0 ? " = " : "=") + valueText(rng);
        break;
      }
    }
    f.text += eol();
  }
  if (rng() % 3 == 0 && !f.text.empty()) f.text.pop_back();  // a last line without its end, or half of it
  if (rng() % 6 == 0) {
    for (std::size_t k = 1 + rng() % 4; k > 0 && !f.text.empty(); --k) {
      f.text[rng() % f.text.size()] = static_cast<char>(rng());
    }
  }
  return f;
}

void appendField(Bytes& out, const std::string& s) {
  out.push_back(static_cast<std::uint8_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

std::vector<Bytes> generateCorpus() {
  std::mt19937 rng(20240612u);
  std::vector<Bytes> corpus;
  for (int i = 0; i < 400; ++i) {
    const File f = optionsFile(rng);
    const auto name = [&](const std::vector<std::string>& held, const std::vector<std::string>& pool) {
      return !held.empty() && rng() % 5 != 0 ? held[rng() % held.size()] : pick(rng, pool);
    };
    std::string section = name(f.sections, kSections);
    std::string key = name(f.keys, kKeys);
    if (section.size() > 47) section.resize(47);
    if (key.size() > 47) key.resize(47);
    std::string value = rng() % 8 == 0 ? std::string("1\n[T]\nx=2") : valueText(rng);
    if (value.size() > 255) value.resize(255);
    Bytes input{static_cast<std::uint8_t>(i % 18), static_cast<std::uint8_t>(rng())};
    appendField(input, section);
    appendField(input, key);
    appendField(input, value);
    input.insert(input.end(), f.text.begin(), f.text.end());
    corpus.push_back(input);
  }
  return corpus;
}

}  // namespace tarnset::fuzz
