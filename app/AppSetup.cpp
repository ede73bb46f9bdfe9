#include "AppSetup.h"

#include "link/AppLocations.h"
#include "radio/clsCmcProfileIO.h"

namespace tarnset {

std::vector<std::string> systemFolders() {
  return {"/usr", TARNSET_INSTALL_PREFIX};
}

std::string machineOptionsFile() {
  clsCmcProfileIO probe;
  return optionsFilePath(probe.programDir(), ConfigEnv::fromProcess(), systemFolders());
}

std::string installedConstFolder() {
  clsCmcProfileIO probe;
  return isUnderFolders(probe.programDir(), systemFolders()) ? std::string(TARNSET_DATA_DIR) : std::string();
}

}  // namespace tarnset
