#pragma once
// Reading files and finding the program's own place, as this system does it.
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnset {

// The outcome of reading a whole file.
struct FileContent {
  enum class Status {
    Ok,          // bytes holds the whole file
    Missing,     // nothing at the path (or a folder on the way is missing)
    Directory,   // the path is a folder
    NotRegular,  // the path is a device, a pipe or something else that is not a plain file
    TooLarge,    // the file is larger than allowed (size says how large)
    Unreadable,  // it could not be opened or read (why says why)
  };
  Status status = Status::Unreadable;
  std::string bytes;       // the file's bytes (Ok)
  std::uint64_t size = 0;  // the file's size as the system gave it when opened (Ok, TooLarge)
  std::string why;         // the system's reason (Missing, Unreadable)
};

// Reads the whole plain file at path when it holds at most maxBytes. Never blocks on a
// pipe or a device: those are NotRegular.
FileContent readWholeFile(const std::string& path, std::uint64_t maxBytes);

// The characters that separate a folder from a name in this system's paths: "/" here,
// "\\/" on Windows.
extern const char* const kPathSeparators;
inline bool isPathSeparator(char c) {
  return c != '\0' && std::string_view(kPathSeparators).find(c) != std::string_view::npos;
}

// The file a write to path must replace: the target of a symbolic link at path (so that
// the link itself survives the replacement), else path itself.
std::string linkTarget(const std::string& path);

// The folder of the running program's executable (no separator at the end); "." when
// the system cannot say.
std::string executableDirectory();

// A window program started from a command prompt writes its standard output and error
// (--help, --version, a usage error) to that prompt's console where it has none of its
// own (on Windows a window program is given none); elsewhere nothing changes.
void useParentConsole();

// True when the program's standard error goes to a terminal (a console window on Windows),
// where a progress bar may redraw itself.
bool standardErrorIsTerminal();

}  // namespace tarnset
