#pragma once
// tarnset-cli: the headless companion. It runs the program's own objects (composition
// root, headless toolkit, real serial port, real 50 ms poll timer) and reports what the
// window program would show.
//
//   tarnset-cli read    [--port PORT] [--listing] [--dump] [--save FILE] [--trace FILE]
//   tarnset-cli monitor [--port PORT] [--trace FILE]
//   tarnset-cli measure [--port PORT] [--trace FILE]
//   tarnset-cli align   [rx|tx|all] [--port PORT] [--trace FILE]
//   tarnset-cli instruments
//   tarnset-cli ports   [--map N=DEVICE | --unmap N]
//   tarnset-cli diff    BEFORE AFTER
//   tarnset-cli report  AS_FOUND AS_LEFT [--html FILE]
//   tarnset-cli --help | --version
//
// Exit status: 0 success, 1 diff: the images differ (measure, align: an item or a step
// outside its limits), 2 link or clone failure (diff and report: a file that cannot be
// read; measure, align: no instrument for the work, align: an instrument that stopped
// answering), 64 usage error, 70 programming error.
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
