// tarnset-adj: the window program (Win32).
#include <iostream>
#include <string>
#include <vector>

#include "AdjProgram.h"
#include "platform/Files.h"
#include "toolkit/win32/Win32Toolkit.h"

int main(int argc, char** argv) {
  using namespace tarnset;
  // The command line first, from the wide one (a trace file's name may be in any
  // script): --help and --version print to the prompt it was started from.
  AdjCommandLine cmd;
  const std::vector<std::string> args = programArguments(argc, argv);
  if (!args.empty()) useParentConsole();
  useUtf8StandardStreams();
  if (const auto rc = answerAdjCommandLine(args, cmd, std::cout, std::cerr)) return *rc;
  Win32Toolkit toolkit;
  return runAdjProgram(toolkit, cmd, [&toolkit] { return toolkit.run(); });
}
