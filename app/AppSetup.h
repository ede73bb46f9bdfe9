#pragma once
// What both front ends need of the machine: where the options file is and the version.
#include <string>

namespace tarnset {

// The program's version, as --version prints it (the project's version in the build).
inline const std::string kVersionText = TARNSET_VERSION;

// Full path of the options file for this machine and user.
std::string machineOptionsFile();

}  // namespace tarnset
