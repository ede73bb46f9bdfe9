#include "support/CloneFrames.h"

#include <algorithm>
#include <stdexcept>

#include "base/Common.h"

namespace tarnset::test {
namespace {

int nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  throw std::invalid_argument(std::string("not a hex digit: ") + c);
}

}  // namespace

Bytes hx(std::string_view hex) {
  Bytes out;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    if (high < 0) {
      high = nibble(c);
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + nibble(c)));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return out;
}

std::string toHex(const Bytes& b) {
  return BytesToHex(b);
}

Bytes ascii(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes asciiHex(const Bytes& raw) {
  return ascii(toHex(raw));
}

Bytes wire(const Bytes& inner) {
  Bytes out{0xFE, 0xFE};
  out.insert(out.end(), inner.begin(), inner.end());
  out.push_back(0xFD);
  return out;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes e1(const E1Fields& f) {
  Bytes b(std::max<std::size_t>(f.length, 8), 0x00);
  b[0] = 0xEF;
  b[1] = 0xEE;
  b[2] = 0xE1;
  b[3] = static_cast<std::uint8_t>(f.model >> 8);
  b[4] = static_cast<std::uint8_t>(f.model & 0xFF);
  b[5] = static_cast<std::uint8_t>(f.subModel >> 8);
  b[6] = static_cast<std::uint8_t>(f.subModel & 0xFF);
  b[7] = static_cast<std::uint8_t>(static_cast<int>(f.length) - 7 + f.lengthByteDelta);
  if (b.size() >= 42) b[41] = f.layout;
  if (b.size() >= 43) b[42] = f.version;
  for (std::size_t i = 0; i < f.endDigits.size() && 57 + i < b.size(); ++i) {
    b[57 + i] = static_cast<std::uint8_t>(f.endDigits[i]);
  }
  b.resize(f.length);
  return b;
}

Bytes e4Raw(std::uint16_t adr, std::uint8_t size, const Bytes& data, int checksumDelta) {
  Bytes rec{static_cast<std::uint8_t>(adr >> 8), static_cast<std::uint8_t>(adr & 0xFF), size};
  rec.insert(rec.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t v : rec) sum += v;
  rec.push_back(static_cast<std::uint8_t>((256 - sum % 256 + checksumDelta) % 256));
  return cat(Bytes{0xEF, 0xEE, 0xE4}, asciiHex(rec));
}

Bytes e4(std::uint16_t adr, const Bytes& data) {
  return e4Raw(adr, static_cast<std::uint8_t>(data.size()), data, 0);
}

Bytes e5(std::uint8_t count, std::string_view maker) {
  return cat(cat(Bytes{0xEF, 0xEE, 0xE5}, ascii(maker)), asciiHex(Bytes{count}));
}

Bytes e6(std::uint8_t status) {
  return Bytes{0xEF, 0xEE, 0xE6, status};
}

Bytes e8(std::uint8_t cmd, const Bytes& data, std::uint16_t model, std::uint16_t sub) {
  Bytes b{0xEF,
          0xEE,
          0xE8,
          static_cast<std::uint8_t>(model >> 8),
          static_cast<std::uint8_t>(model & 0xFF),
          static_cast<std::uint8_t>(sub >> 8),
          static_cast<std::uint8_t>(sub & 0xFF),
          cmd};
  return cat(b, data);
}

}  // namespace tarnset::test
