// tarnset-cli: the headless companion program.

#include <exception>
#include <iostream>

#include "CliApp.h"
#include "platform/Files.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return tarnset::cli::run(args, std::cout, std::cerr, tarnset::standardErrorIsTerminal());
  } catch (const std::exception& e) {
    std::cerr << "tarnset-cli: internal error: " << e.what() << "\n";
    return tarnset::cli::kExitSoftware;
  }
}
