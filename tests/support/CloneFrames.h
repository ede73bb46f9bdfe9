#pragma once
// Builders for the frames of the cloning link, written independently of the program's
// own hex procedures so that tests compare the program against a second reading of the
// frame layout. Frames are built "inner" (without preamble and end byte, as the driver
// holds them: EF EE command data); wire() adds FE FE ... FD.
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Types.h"

namespace tarnset::test {

// Hex text (blanks allowed) to bytes: hx("FE FE EF") = {0xFE, 0xFE, 0xEF}.
Bytes hx(std::string_view hex);
// Bytes to upper-case hex text without blanks.
std::string toHex(const Bytes& b);
// The characters of a text as bytes.
Bytes ascii(std::string_view text);
// Each byte as two upper-case ASCII hex characters: {0x3E} gives the bytes '3' 'E'.
Bytes asciiHex(const Bytes& raw);
// FE FE, the inner frame, FD.
Bytes wire(const Bytes& inner);
// a then b.
Bytes cat(Bytes a, const Bytes& b);

// Fields of an identification answer E1.
struct E1Fields {
  std::uint16_t model = 0x2651;
  std::uint16_t subModel = 0x0100;
  std::uint8_t layout = 0x12;      // byte 42: above 0x11 the end address is carried
  std::uint8_t version = 0x03;     // byte 43
  std::string endDigits = "3E5F";  // bytes 58-61
  std::size_t length = 64;         // whole inner frame
  int lengthByteDelta = 0;         // added to byte 8 (length - 7) to make it wrong
};
Bytes e1(const E1Fields& f = {});
// Clone data record E4 (as the radio sends it): address, size, data, checksum in ASCII hex.
Bytes e4(std::uint16_t adr, const Bytes& data);
// E4 with an explicit size byte and checksum adjustment (for malformed records).
Bytes e4Raw(std::uint16_t adr, std::uint8_t size, const Bytes& data, int checksumDelta);
// End frame E5 of a clone read: maker text and the record count as two ASCII hex digits.
Bytes e5(std::uint8_t count, std::string_view maker = "Vorel Co.");
// Write result E6 with its status byte.
Bytes e6(std::uint8_t status);
// E8 answer: model, sub-model, the repeated command byte, then data.
Bytes e8(std::uint8_t cmd, const Bytes& data, std::uint16_t model = 0x2651, std::uint16_t sub = 0x0100);

}  // namespace tarnset::test
