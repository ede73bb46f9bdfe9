// The generated corpus of the driver's fuzz function: for every selector (6 work modes x
// 3 ways of starting x with and without an image) and a few auxiliary bytes, streams of
// well-formed and damaged frames of every kind the radio sends (identification, records,
// end, write result, E8, echoes, junk), cut into blocks of random length, with and
// without random byte changes, plus plain random bytes.
#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "FuzzTarget.h"
#include "support/CloneFrames.h"

namespace tarnset::fuzz {
namespace {

namespace tf = tarnset::test;

// A stream of frames as the radio (or a bad cable) might deliver them.
Bytes frameStream(std::mt19937& rng) {
  std::uniform_int_distribution<int> pick(0, 13);
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes out;
  int records = 0;
  const int frames = 1 + static_cast<int>(rng() % 8);
  for (int i = 0; i < frames; ++i) {
    Bytes data(static_cast<std::size_t>(rng() % 24));
    for (auto& b : data) b = static_cast<std::uint8_t>(byte(rng));
    const auto adr = static_cast<std::uint16_t>(rng() % 2 ? rng() % 0x3E60 : rng() % 0x10000);
    switch (pick(rng)) {
      case 0: {
        tf::E1Fields f;
        f.layout = static_cast<std::uint8_t>(rng() % 2 ? 0x12 : 0x05);
        f.endDigits = rng() % 3 ? "3E5F" : (rng() % 2 ? "FFFF" : "7FF5");
        f.length = 55 + rng() % 12;
        out = tf::cat(out, tf::wire(tf::e1(f)));
        break;
      }
      case 1:
      case 2:
      case 3:
        out = tf::cat(out, tf::wire(tf::e4(adr, data)));
        ++records;
        break;
      case 4:
        out = tf::cat(out, tf::wire(tf::e4Raw(adr, static_cast<std::uint8_t>(rng()), data,
                                              static_cast<int>(rng() % 3))));
        break;
      case 5:
        out = tf::cat(out, tf::wire(tf::e5(static_cast<std::uint8_t>(rng() % 2 ? records : rng()))));
        break;
      case 6:
        out = tf::cat(out, tf::wire(tf::e6(static_cast<std::uint8_t>(rng() % 3))));
        break;
      case 7:
      case 8:
        out = tf::cat(out, tf::wire(tf::e8(static_cast<std::uint8_t>(rng() % 2 ? 0x30 : rng()), data)));
        break;
      case 9:  // the echo of a request
        out = tf::cat(out, tf::hx("FE FE EE EF E8 26 51 01 00 05 35 41 FD"));
        break;
      case 10:  // an oversized frame
        out = tf::cat(out, tf::wire(tf::e4(adr, Bytes(120 + rng() % 60, 0x5A))));
        break;
      case 11:  // runs of preamble and end bytes
        out.insert(out.end(), rng() % 6, 0xFE);
        out.insert(out.end(), rng() % 3, 0xFD);
        break;
      default:  // junk
        for (std::size_t k = rng() % 12; k > 0; --k) out.push_back(static_cast<std::uint8_t>(byte(rng)));
        break;
    }
  }
  return out;
}

// Cuts a stream into blocks, each with the length byte the fuzz function reads.
Bytes blocks(const Bytes& stream, std::mt19937& rng) {
  Bytes out;
  std::size_t pos = 0;
  while (pos < stream.size()) {
    std::uint8_t l = 0;
    std::size_t len = 0;
    if (rng() % 5 == 0) {
      l = static_cast<std::uint8_t>(0x80 | (rng() % 128));
      len = (l & 0x7Fu) * 4u + 1u;
    } else {
      l = static_cast<std::uint8_t>(rng() % 97);
      if (rng() % 4 == 0) l = static_cast<std::uint8_t>(l - l % 7);  // with a time-out before the tick
      len = l + 1u;
    }
    len = std::min(len, stream.size() - pos);
    out.push_back(l);
    out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos),
               stream.begin() + static_cast<std::ptrdiff_t>(pos + len));
    pos += len;
  }
  return out;
}

}  // namespace

std::vector<Bytes> generateCorpus() {
  std::mt19937 rng(20240607u);
  std::vector<Bytes> corpus;
  const std::uint8_t auxes[] = {0x05, 0x30, 0x81, 0x7F, 0xFF};
  for (int sel = 0; sel < 18; ++sel) {
    for (int image = 0; image < 2; ++image) {
      for (int round = 0; round < 2; ++round) {
        for (std::uint8_t aux : auxes) {
          const auto s = static_cast<std::uint8_t>(sel | (image ? 0 : 0x80));
          Bytes stream = frameStream(rng);
          if (rng() % 3 == 0) {  // random byte changes
            for (std::size_t k = rng() % 4; k > 0 && !stream.empty(); --k) {
              stream[rng() % stream.size()] = static_cast<std::uint8_t>(rng());
            }
          }
          Bytes input{s, aux};
          input = tf::cat(input, blocks(stream, rng));
          corpus.push_back(input);
        }
      }
      Bytes noise{static_cast<std::uint8_t>(sel), static_cast<std::uint8_t>(rng())};
      for (std::size_t k = rng() % 600; k > 0; --k) noise.push_back(static_cast<std::uint8_t>(rng()));
      corpus.push_back(noise);
    }
  }
  return corpus;
}

}  // namespace tarnset::fuzz
