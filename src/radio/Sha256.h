#pragma once
// SHA-256 digests of byte strings, as the backup store names and compares its files.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Types.h"

namespace tarnset {

// The 32-byte SHA-256 digest of size bytes at data.
std::array<std::uint8_t, 32> sha256(const std::uint8_t* data, std::size_t size);
// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits.
std::string sha256Hex(const Bytes& bytes);
// The SHA-256 digest of the characters of text (taken as bytes) as 64 lower-case hex digits.
std::string sha256Hex(std::string_view text);

}  // namespace tarnset
