#pragma once
// The program's message box: every message the program shows goes through it, so that
// each has the program's title and reaches the support trace when one is written.
#include <cstdint>
#include <string>

#include "toolkit/Toolkit.h"

namespace tarnset {

// Shows text (with its \n sequences made line breaks) in a modal message box with the
// program's title, and the details (what exactly happened, what to do next) below it when
// there are any; returns the button pressed (1 = OK).
std::int16_t MsgBoxApp(tk::Toolkit& tk, const std::string& text, const std::string& details = {});

}  // namespace tarnset
