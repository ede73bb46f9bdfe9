#pragma once
// What both front ends need of the machine: where the options file is and the version.
#include <string>
#include <vector>

#include "platform/PortList.h"

namespace tarnset {

// The program's version, as --version prints it (the project's version in the build).
inline const std::string kVersionText = TARNSET_VERSION;

// The folders that belong to the system: /usr and the prefix the programs install under;
// on Windows the program folders (the per-user installer's among them).
std::vector<std::string> systemFolders();
// Full path of the options file for this machine and user.
std::string machineOptionsFile();
// The [PORTS] entries of an options file, read anew on every call.
ConfiguredPorts configuredPortsOf(const std::string& optionsFile);
// The folder where the installed package keeps its Const.ini, when this program runs
// from its installed place; empty otherwise.
std::string installedConstFolder();

}  // namespace tarnset
