// The generated corpus of the SCPI answer fuzz function: answers as instruments send them
// (NR1, NR2, NR3 with and without units, 9.91E37, *IDN? and SYST:ERR? answers) and as they
// should not (garbage bytes, missing LFs, CR LF and bare CR, over-long lines, numbers
// beyond a double, several answers at once), joined in random order, some with random
// byte changes.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace tarnset::fuzz {
namespace {

const std::vector<std::string>& pieces() {
  static const std::vector<std::string> p = {
      "12",
      "-7",
      "+3.25",
      ".5",
      "5.",
      "4.50012E+08",
      "-1.5e-3",
      "25.3 W",
      "4.5E3HZ",
      "-10.2 dBm",
      "3 kHz",
      "9.91E37",
      "+9.9E37",
      "-9.9E37",
      "1E400",
      "1E-400",
      "1e308",
      "NaN",
      "inf",
      "#H1F",
      "0x10",
      "1,5",
      "1.2.3",
      "E5",
      "1.5E",
      "--1",
      "",
      " ",
      "0,\"No error\"",
      "-113,\"Undefined header\"",
      "-222,\"Data out of range\"",
      "+0,No error",
      "Tarnset,KV-Tarn virtual bench,VB-0001,1.0",
      "A,B,C",
      "A,B,C,D,E",
      ",,,",
      "1",
      "\x01\x02\xff",
      "\r",
      "\t-30\t",
      "12 3",
      "25 V",
      "450.5 MHZ",
  };
  return p;
}

}  // namespace

std::vector<Bytes> generateCorpus() {
  std::mt19937 rng(20261207);
  std::vector<Bytes> corpus;
  const auto& p = pieces();
  for (const std::string& one : p) {
    for (const char* end : {"\n", "\r\n", "", "\r"}) {
      const std::string s = one + end;
      corpus.emplace_back(s.begin(), s.end());
    }
  }
  for (int i = 0; i < 600; ++i) {
    std::string s;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) {
      s += p[rng() % p.size()];
      s += (rng() % 5 == 0) ? "\r\n" : (rng() % 7 == 0 ? "" : "\n");
    }
    if (rng() % 4 == 0) {
      for (int k = 0; k < 3; ++k) s[rng() % s.size()] = static_cast<char>(rng() % 256);
    }
    corpus.emplace_back(s.begin(), s.end());
  }
  for (const std::size_t size : {4095u, 4096u, 4097u, 10000u}) {
    std::string s(size, '7');
    s += "\n1.0\n";
    corpus.emplace_back(s.begin(), s.end());
  }
  return corpus;
}

}  // namespace tarnset::fuzz
