#pragma once
// Command line of kv-tarn-sim.
#include <optional>
#include <string>
#include <vector>

#include "sim/VirtualTarn.h"

namespace kvsim {

struct CliConfig {
  Options options;               // the radio (without the image: imagePath names its file)
  std::string linkPath;          // symlink to create to the pseudo-terminal, empty: none
  std::string imagePath;         // EEPROM image file, empty: the default image
  std::string logPath;           // log file, empty: no log
  std::optional<int> benchPort;  // --bench: the virtual bench's TCP port on 127.0.0.1 (0: any free one)
  double benchNoise = 1.0;       // --bench-noise: scale of the bench readings' noise
  bool help = false;             // --help was given
  bool version = false;          // --version was given
};

// The usage text printed for --help and after a usage error.
std::string usageText();

// Parses the arguments after the program name. On a usage error returns nullopt and sets
// error to a one-line explanation.
std::optional<CliConfig> parseCommandLine(const std::vector<std::string>& args, std::string& error);

// Reads an EEPROM image file of exactly 15968 bytes; nullopt with error set otherwise.
std::optional<Bytes> loadImageFile(const std::string& path, std::string& error);

}  // namespace kvsim
