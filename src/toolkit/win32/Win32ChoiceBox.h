#pragma once
// The choice box: a dialog box of the system's dialog manager in the look of its question
// box (the question icon, the text, the details below it), with the choices in a list
// box, OK (the default button; a double click on a choice too) and Cancel (also Escape
// and the close box).
#include <windows.h>

#include <string>
#include <vector>

namespace tarnset::w32 {

// Shows the box over owner (nullptr: none) until the user answers; returns the index of
// the chosen entry, -1 when cancelled.
int runChoiceBox(HWND owner, const std::wstring& title, const std::wstring& text, const std::wstring& details,
                 const std::vector<std::wstring>& choices);

}  // namespace tarnset::w32
