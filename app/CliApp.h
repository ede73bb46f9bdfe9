#pragma once
// tarnset-cli: the headless companion. It runs the program's own objects (composition
// root, headless toolkit, real serial port, real 50 ms poll timer) and reports what the
// window program would show.
//
//   tarnset-cli read    [--port PORT] [--listing] [--dump] [--save FILE]
//   tarnset-cli monitor [--port PORT]
//   tarnset-cli ports
//   tarnset-cli --help | --version
//
// Exit status: 0 success, 2 link or clone failure, 64 usage error, 70 programming error.
#include <iosfwd>
#include <string>
#include <vector>

namespace tarnset::cli {

constexpr int kExitOk = 0;
constexpr int kExitLinkFailure = 2;
constexpr int kExitUsage = 64;
constexpr int kExitSoftware = 70;

// Runs the command line; out and err stand for standard output and error. errIsTerminal
// decides whether a progress bar goes to err.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal);

}  // namespace tarnset::cli
