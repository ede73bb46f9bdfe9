// tarnset-cli: the headless companion program.
#include <unistd.h>

#include <exception>
#include <iostream>

#include "CliApp.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return tarnset::cli::run(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
  } catch (const std::exception& e) {
    std::cerr << "tarnset-cli: internal error: " << e.what() << "\n";
    return tarnset::cli::kExitSoftware;
  }
}
