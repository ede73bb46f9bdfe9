#pragma once
// The program's end of the cable for tests of the virtual radio: a clock in microseconds,
// a port that opens at a baud and sends frames at that line rate, and a record of every
// byte that reached it with its arrival time.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Wire.h"
#include "sim/VirtualTarn.h"

namespace kvsim::test {

struct Arrival {
  std::int64_t atUs;
  std::uint8_t byte;
};

// A frame cut from received bytes: its body between the preamble and FD, and when its FD arrived.
struct Cut {
  Bytes body;
  std::int64_t endUs;
};

inline Bytes textBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// The E8 payload the program sends: E8, identity, the code, the value as two ASCII hex digits.
inline Bytes e8Payload(int code, int value, const Bytes& identity = {0x26, 0x51, 0x01, 0x00}) {
  Bytes p = {0xE8};
  p.insert(p.end(), identity.begin(), identity.end());
  p.push_back(static_cast<std::uint8_t>(code));
  p.push_back(tarnset::wire::hexDigitChar(value >> 4));
  p.push_back(tarnset::wire::hexDigitChar(value));
  return p;
}

class ProgramSide {
 public:
  explicit ProgramSide(Options opt = {}) : radio(std::move(opt)) {}

  void open(std::int32_t b) {
    baud = b;
    radio.setProgramLine(true, b, now);
  }
  void close() { radio.setProgramLine(false, baud, now); }

  // Sends FE FE EE EF payload FD (after `burst` extra FE bytes); the last byte reaches the
  // radio 10 bits per byte later at the program's baud. Returns that time.
  std::int64_t send(const Bytes& payload, int burst = 0) {
    Bytes wire(static_cast<std::size_t>(burst) + 2, 0xFE);
    wire.insert(wire.end(), {0xEE, 0xEF});
    wire.insert(wire.end(), payload.begin(), payload.end());
    wire.push_back(0xFD);
    return sendRaw(wire);
  }
  std::int64_t sendRaw(const Bytes& wire) {
    pump(now);
    now += static_cast<std::int64_t>(wire.size()) * 10000000 / baud;
    radio.receive(wire, now);
    return now;
  }

  // Advances the clock to t, taking each byte at the moment the radio says it is complete.
  void pump(std::int64_t t) {
    while (auto next = radio.nextTransmitUs()) {
      if (*next > t) break;
      now = std::max(now, *next);
      take(radio.transmit(now));
    }
    now = std::max(now, t);
    take(radio.transmit(now));
  }
  void wait(std::int64_t us) { pump(now + us); }

  // Frames (bodies) cut from everything received so far, as the program's driver would.
  std::vector<Cut> frames() const {
    std::vector<Cut> out;
    bool inFrame = false;
    Bytes body;
    for (const Arrival& a : arrived) {
      if (a.byte == 0xFE) {
        inFrame = true;
        body.clear();
      } else if (a.byte == 0xFD) {
        if (inFrame) out.push_back(Cut{body, a.atUs});
        inFrame = false;
      } else if (inFrame) {
        body.push_back(a.byte);
      }
    }
    return out;
  }
  Bytes bytes() const {
    Bytes b;
    for (const Arrival& a : arrived) b.push_back(a.byte);
    return b;
  }

  VirtualTarn radio;
  std::int64_t now = 1000000;
  std::int32_t baud = 9600;
  std::vector<Arrival> arrived;

 private:
  void take(const Bytes& b) {
    for (std::uint8_t x : b) arrived.push_back(Arrival{now, x});
  }
};

// Runs identification, the speed switch and the clone read request on a fresh link, as the
// program does it, and pumps until the stream has had time to finish.
inline void runCloneRead(ProgramSide& p) {
  p.open(9600);
  p.send({0xE0, 0x26, 0x51, 0x00, 0x00});
  p.wait(200000);
  p.send(e8Payload(0x01, 0x09));
  p.wait(50000);
  p.close();
  p.wait(50000);
  p.open(38400);
  p.send({0xE2, 0x26, 0x51, 0x01, 0x00}, 37);
  p.wait(14000000);
}

}  // namespace kvsim::test
