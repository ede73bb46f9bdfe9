#pragma once
// Number formatting with digit patterns, and fixed-width columns.
//
// Pattern characters: "0" a digit that is always shown, "#" a digit shown only when
// significant, "." the decimal point, "%" multiplies the value by 100 and is shown;
// every other character is copied. Before the point, the placeholders from the first
// "0" on give the minimum number of integer digits (more digits are shown in full).
// After the point, every placeholder up to the last "0" is always shown and "#"s after
// it only when significant. Values are rounded half away from zero.
//
//   formatNumber(2.5098, "##0.#0V")      -> "2.51V"
//   formatNumber(0.5, "###.#0'C")        -> ".50'C"
//   formatNumber(0.5, "0.00%")           -> "50.00%"
//   formatNumber(450.0125, "#000.#####0MHz") -> "450.012500MHz"
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnset {

std::string formatNumber(double value, std::string_view pattern);

// Right-aligns text in a field of width characters: blanks are put in front and only
// the rightmost width characters are kept ("12345" in 4 gives "2345").
std::string rightAlign(std::string_view text, std::size_t width);

// Decimal text of a number without a leading blank ("-5", "12").
std::string decimal(std::int64_t v);

// Decimal text with one leading blank for values of 0 or more, a minus sign otherwise
// (" 3", "-2"), as the port captions show it.
std::string decimalWithSign(std::int64_t v);

}  // namespace tarnset
