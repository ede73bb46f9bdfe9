#pragma once
// The constants file (Const.ini): the program's title line, then the 21 oscillator
// coefficients of the transmit frequency compensation, one per line.
#include <array>
#include <cstdint>
#include <istream>
#include <optional>

namespace tarnset {

// The temperature border table that pairs with the coefficients, in raw counts of the
// temperature line: 16 counts apart in the middle of the range, 8 at both ends, 255 last;
// entry 21 is not a border.
inline constexpr std::array<std::int16_t, 22> kTarnTempBorder = {0,   16,  24,  32,  40,  48,  64,  80,
                                                                 96,  112, 128, 144, 160, 176, 192, 208,
                                                                 216, 224, 232, 240, 255, 0};

// The 21 coefficients of a constants file read from in. The first line must be the
// program's title (blanks around it aside); each of the next 21 lines gives its leading
// number (0 when it has none); what follows is not read. A CR before a line's end is not
// part of the line. nullopt when the title differs, a line is missing or a coefficient is
// not a finite single.
std::optional<std::array<float, 21>> RigTarnConst_ReadCoefficients(std::istream& in);

}  // namespace tarnset
