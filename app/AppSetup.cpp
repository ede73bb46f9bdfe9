#include "AppSetup.h"

#include "platform/AppLocations.h"
#include "platform/IniFile.h"
#include "radio/clsCmcProfileIO.h"

namespace tarnset {

std::vector<std::string> systemFolders() {
  return {"/usr", TARNSET_INSTALL_PREFIX};
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
  return isUnderFolders(probe.programDir(), systemFolders()) ? std::string(TARNSET_DATA_DIR) : std::string();
}

}  // namespace tarnset
