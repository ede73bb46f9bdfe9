#pragma once
// The command line of tarnset-adj, read before any window object exists so that --help
// and --version work without a display.
#include <optional>
#include <string>
#include <vector>

namespace tarnset {

struct AdjCommandLine {
  bool help = false;
  bool version = false;
  std::string trace;  // --trace FILE; empty: no trace
};

// Usage line and the --help text.
extern const char* const kAdjUsage;
extern const char* const kAdjHelp;

// Parses the arguments after the program name; nullopt with error set for anything it
// does not know (the caller prints it with the usage line and ends with status 64).
std::optional<AdjCommandLine> parseAdjCommandLine(const std::vector<std::string>& args, std::string& error);

}  // namespace tarnset
