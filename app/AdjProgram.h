#pragma once
// The window program over any window toolkit: everything tarnset-adj does between its
// command line and its event loop, shared by the Qt and the Win32 program.
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "AdjCommandLine.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

// What the command line asks before any window exists: nullopt when the program goes on
// to its window, else the exit status after --help or --version was printed to out, or a
// usage error to err (64).
std::optional<int> answerAdjCommandLine(const std::vector<std::string>& args, AdjCommandLine& cmd,
                                        std::ostream& out, std::ostream& err);

// Starts the program in toolkit (trace, instance lock, options, port, composition root)
// and runs runLoop, the toolkit's event loop; returns the program's exit status. A
// programming error before the loop runs ends in the program's box and status 70.
int runAdjProgram(tk::Toolkit& toolkit, const AdjCommandLine& cmd, const std::function<int()>& runLoop);

}  // namespace tarnset
