#pragma once
// Text for the system's calls: the program's paths are narrow strings in the system's
// ANSI code page (as the C and C++ libraries open files), its messages single-byte text.
#include <string>

namespace tarnset::win32 {

// The system's text for an error code from GetLastError, on one line.
std::string errorText(unsigned long code);

}  // namespace tarnset::win32
