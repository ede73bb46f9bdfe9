#include "AppSetup.h"

#include "platform/AppLocations.h"
#include "platform/IniFile.h"
#include "radio/clsCmcProfileIO.h"

namespace tarnset {

std::vector<std::string> systemFolders() {
  return programFolders(TARNSET_INSTALL_PREFIX);
}

std::string machineOptionsFile() {
  clsCmcProfileIO probe;
  return optionsFilePath(probe.programDir(), ConfigEnv::fromProcess(), systemFolders());
}

ConfiguredPorts configuredPortsOf(const std::string& optionsFile) {
  return [optionsFile](std::int16_t comNumber) {
    return iniReadString("PORTS", "COM" + std::to_string(comNumber), "", 1024, optionsFile);
  };
}

std::string installedConstFolder() {
  clsCmcProfileIO probe;
  if (!isUnderFolders(probe.programDir(), systemFolders())) return {};
#ifdef _WIN32
  // The installer puts Const.ini beside the programs.
  return probe.programDir();
#else
  return TARNSET_DATA_DIR;
#endif
}

}  // namespace tarnset
