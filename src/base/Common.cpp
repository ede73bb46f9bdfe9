#include "base/Common.h"

#include <stdexcept>

#include "base/Checked16.h"
#include "base/Wire.h"

namespace tarnset {
namespace {

int hexValue(std::uint8_t c) {
  return wire::hexDigitValue(c);
}

void appendHex(std::string& out, std::uint8_t b) {
  out += static_cast<char>(wire::hexDigitChar(b >> 4));
  out += static_cast<char>(wire::hexDigitChar(b & 0x0F));
}

}  // namespace

std::string ExpandNewLines(const std::string& text) {
  std::string s = text;
  for (std::size_t a = 0; a + 1 < s.size(); ++a) {
    if (s[a] == '\\' && s[a + 1] == 'n') {
      s[a] = '\r';
      s[a + 1] = '\n';
    }
  }
  return s;
}

Bytes TextToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes TextToBytes(std::u32string_view text) {
  Bytes out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0xFF) throw std::out_of_range("Character outside the single-byte character set");
    out.push_back(static_cast<std::uint8_t>(c));
  }
  return out;
}

std::int16_t AsciiHexToInt(const Bytes& bytes) {
  // Significant digits only: leading zeros do not count towards the width.
  std::uint64_t value = 0;
  int significant = 0;
  for (std::uint8_t c : bytes) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    const int d = hexValue(c);
    if (d < 0) break;
    if (significant == 0 && d == 0) continue;
    if (++significant > 8) throwOverflow();  // more than 32 bits
    value = value * 16 + static_cast<std::uint64_t>(d);
  }
  if (significant <= 4) return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
  return narrow16(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
}

Bytes HexToBytes(const std::string& text) {
  Bytes out;
  std::size_t i = 0;
  while (text.size() - i >= 2) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    const Bytes pair{static_cast<std::uint8_t>(text[i]), static_cast<std::uint8_t>(text[i + 1])};
    out.push_back(static_cast<std::uint8_t>(AsciiHexToInt(pair)));
    i += 2;
  }
  return out;
}

std::string BytesToHex(const Bytes& bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) appendHex(out, b);
  return out;
}

std::string BytesToSpacedHex(const Bytes& bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out += ' ';
    appendHex(out, bytes[i]);
  }
  return out;
}

std::string ByteToHex(std::int16_t n) {
  std::string out;
  appendHex(out, static_cast<std::uint8_t>(n & 0xFF));
  return out;
}

std::string ByteToAsciiHex(std::int16_t n) {
  return BytesToHex(TextToBytes(ByteToHex(n)));
}

}  // namespace tarnset
