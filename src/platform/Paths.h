#pragma once
// std::filesystem paths to and from the program's text, which is UTF-8 on every system.
// Every std::filesystem::path the program builds from a name it holds, or turns into a
// name it shows or keeps, goes through these two: on Windows the library's own narrow
// conversion reads bytes in another encoding and would name a different file.
#include <filesystem>
#include <string>
#include <string_view>

namespace tarnset {

// The path that a UTF-8 name gives ("C:\Users\José\TarnsetADJ.rs", "/home/u/x.bin"). On
// Windows a name that is not UTF-8 is read in the system's ANSI code page; here the bytes
// are the name, as the kernel takes them.
std::filesystem::path pathFromUtf8(std::string_view name);

// The UTF-8 name of a path, in this system's own spelling (as given: no separator is
// changed).
std::string pathToUtf8(const std::filesystem::path& path);

}  // namespace tarnset
