#pragma once
// The conversions between text, hexadecimal text and byte strings that sit on every path
// between the radio and the program (the cloning link carries each byte as two ASCII
// hex characters; the EEPROM image exchanges blocks as byte strings).
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Types.h"

namespace tarnset {

// Replaces each backslash followed by a lower-case n with CR LF; the length stays.
std::string ExpandNewLines(const std::string& text);

// One byte per character (every char of a std::string is one single-byte character).
Bytes TextToBytes(const std::string& text);
// One byte per code point; a code point above 255 throws std::out_of_range.
Bytes TextToBytes(std::u32string_view text);

// Reads the bytes as the characters of a hexadecimal number: blanks, tabs and line feeds
// are skipped, reading stops at the first other non-hex character, up to 4 digits are a
// signed 16-bit pattern (FFFF is -1). A longer number is a 32-bit pattern that must fit
// 16 bits, otherwise std::overflow_error is thrown.
std::int16_t AsciiHexToInt(const Bytes& bytes);

// Two hex digits per byte; blanks before a pair are skipped, a last single character
// is dropped, and each pair is read as AsciiHexToInt reads it ("1 " is 01, "G1" is 00).
Bytes HexToBytes(const std::string& text);

// Two upper-case hex digits per byte, no separators.
std::string BytesToHex(const Bytes& bytes);
// Two upper-case hex digits per byte, the bytes separated by one blank ("FE FE EE"), for
// people reading bytes (the trace, the virtual radio's log).
std::string BytesToSpacedHex(const Bytes& bytes);

// The low byte of n as two hex characters, each written as the two hex digits of its
// ASCII code (0x1F gives "3146").
std::string ByteToAsciiHex(std::int16_t n);

// The low byte of n as two upper-case hex digits.
std::string ByteToHex(std::int16_t n);

}  // namespace tarnset
