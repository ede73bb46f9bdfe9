#include "AppSetup.h"

#include "link/AppLocations.h"
#include "radio/clsCmcProfileIO.h"

namespace tarnset {

std::string machineOptionsFile() {
  clsCmcProfileIO probe;
  return optionsFilePath(probe.programDir(), ConfigEnv::fromProcess());
}

}  // namespace tarnset
