// tarnset-adj: the window program (Win32).
#include <iostream>
#include <string>
#include <vector>

#include "AdjProgram.h"
#include "platform/Files.h"
#include "toolkit/win32/Win32Toolkit.h"

int main(int argc, char** argv) {
  using namespace tarnset;
  // The command line first: --help and --version print to the prompt it was started from.
  AdjCommandLine cmd;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty()) useParentConsole();
  if (const auto rc = answerAdjCommandLine(args, cmd, std::cout, std::cerr)) return *rc;
  Win32Toolkit toolkit;
  return runAdjProgram(toolkit, cmd, [&toolkit] { return toolkit.run(); });
}
