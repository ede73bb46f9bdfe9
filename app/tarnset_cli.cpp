// tarnset-cli: the headless companion program.

#include <exception>
#include <iostream>

#include "CliApp.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  // Names in any script of the world: the arguments and the output are UTF-8 inside.
  tarnset::useUtf8StandardStreams();
  const std::vector<std::string> args = tarnset::programArguments(argc, argv);
  try {
    return tarnset::cli::run(args, std::cout, std::cerr, tarnset::standardErrorIsTerminal());
  } catch (const std::exception& e) {
    std::cerr << "tarnset-cli: internal error: " << e.what() << "\n";
    return tarnset::cli::kExitSoftware;
  }
}
