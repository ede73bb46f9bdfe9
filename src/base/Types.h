#pragma once
// Basic value types shared by every room of the program.
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace tarnset {

// A byte string: frames, E8 answers and EEPROM blocks travel in this form.
using Bytes = std::vector<std::uint8_t>;

// Booleans that a file or the radio stores as 16-bit values use -1 for True.
constexpr std::int16_t kTrue16 = -1;
constexpr std::int16_t kFalse16 = 0;

// Something the event loop can wait on: a file descriptor on POSIX systems (readable),
// an event handle on Windows (signalled). kNoWaitable: nothing to wait on.
using Waitable = std::intptr_t;
constexpr Waitable kNoWaitable = -1;

// The number of a named state or code (an enum class that keeps the numbers the program
// has always used, for messages, the trace and tables of expected values).
template <class Enum>
constexpr std::underlying_type_t<Enum> number(Enum e) {
  return static_cast<std::underlying_type_t<Enum>>(e);
}

// The program's title, used for the window caption and every message box.
inline const std::string kAppTitle = "Tarnset ADJ Rev.1.2";

}  // namespace tarnset
