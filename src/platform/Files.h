#pragma once
// Reading files and finding the program's own place, as this system does it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

// Opens the file at path (UTF-8) as std::fopen does with mode ("w", "rb" ...); null with
// errno set when it cannot.
std::FILE* openFile(const std::string& path, const char* mode);

// The program's arguments after its name, in UTF-8: main's own here, on Windows those of
// the wide command line (main's are in the ANSI code page, which cannot hold every name).
std::vector<std::string> programArguments(int argc, char** argv);

// Standard output and error take UTF-8 text from here on: on a Windows console it is
// shown through the wide console calls, redirected to a file or a pipe it goes out as
// UTF-8 bytes (lines ending in CR LF, as before). Elsewhere nothing changes.
void useUtf8StandardStreams();

// A window program started from a command prompt writes its standard output and error
// (--help, --version, a usage error) to that prompt's console where it has none of its
// own (on Windows a window program is given none); elsewhere nothing changes.
void useParentConsole();

// True when the program's standard error goes to a terminal (a console window on Windows),
// where a progress bar may redraw itself.
bool standardErrorIsTerminal();

}  // namespace tarnset
