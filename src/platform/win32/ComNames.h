#pragma once
// The names of Windows serial ports as people write them and as the system opens them.
#include <string>

namespace tarnset::win32 {

// The number n of a port named "COMn" (any case; "\\.\" before it and ":" after it
// allowed), 0 for every other name.
int comNumberOf(const std::string& name);

// The device that opens a port written as a person writes it: "COM12", "com12:" and
// "\\.\COM12" all give "\\.\COM12" (numbers above 9 open only with the prefix); another
// bare name ("VPA0", a virtual port's device) gets the prefix too; a path (with a
// separator or a colon: "\\?\...", "C:\...") is kept as written. Spaces around the name
// are dropped; empty stays empty.
std::string comDeviceName(const std::string& name);

}  // namespace tarnset::win32
