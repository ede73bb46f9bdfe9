#pragma once
// Checked integer arithmetic: a result outside the target range is a programming
// error and throws std::overflow_error instead of wrapping silently.
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tarnset {

[[noreturn]] inline void throwOverflow() { throw std::overflow_error("Overflow"); }

// Narrows a wide integer to 16 bits; throws when it does not fit.
constexpr std::int16_t narrow16(std::int64_t v) {
  if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()) {
    throwOverflow();
  }
  return static_cast<std::int16_t>(v);
}

// Narrows a wide integer to 32 bits; throws when it does not fit.
constexpr std::int32_t narrow32(std::int64_t v) {
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
    throwOverflow();
  }
  return static_cast<std::int32_t>(v);
}

constexpr std::int16_t add16(std::int16_t a, std::int16_t b) { return narrow16(std::int64_t{a} + b); }
constexpr std::int16_t sub16(std::int16_t a, std::int16_t b) { return narrow16(std::int64_t{a} - b); }
constexpr std::int16_t mul16(std::int16_t a, std::int16_t b) { return narrow16(std::int64_t{a} * b); }

constexpr std::int32_t add32(std::int32_t a, std::int32_t b) { return narrow32(std::int64_t{a} + b); }
constexpr std::int32_t sub32(std::int32_t a, std::int32_t b) { return narrow32(std::int64_t{a} - b); }
constexpr std::int32_t mul32(std::int32_t a, std::int32_t b) { return narrow32(std::int64_t{a} * b); }

// Rounds to the nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
inline double roundHalfEven(double v) {
  const double r = std::nearbyint(v);  // default rounding mode: to nearest, ties to even
  return r;
}

// Rounds half to even and narrows to 16 bits; throws on overflow or a value that is not a number.
inline std::int16_t roundTo16(double v) {
  if (!std::isfinite(v)) throwOverflow();
  const double r = roundHalfEven(v);
  if (r < -32768.0 || r > 32767.0) throwOverflow();
  return static_cast<std::int16_t>(r);
}

// Rounds half to even and narrows to 32 bits; throws on overflow or a value that is not a number.
inline std::int32_t roundTo32(double v) {
  if (!std::isfinite(v)) throwOverflow();
  const double r = roundHalfEven(v);
  if (r < -2147483648.0 || r > 2147483647.0) throwOverflow();
  return static_cast<std::int32_t>(r);
}

// Limits a value to [lo, hi].
template <class T>
constexpr T clampTo(T v, T lo, T hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace tarnset
