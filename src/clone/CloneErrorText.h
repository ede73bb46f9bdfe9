#pragma once
// Composes the clone error message from the failure flags of the serial host, the
// driver's last error and the sequencer's error.
#include <cstdint>
#include <string>

#include "clone/CloneCodes.h"

namespace tarnset {

struct CloneErrorInputs {
  bool errCannotOpen = false;
  bool errOverflow = false;
  CloneError lastError = CloneError::None;
  SeqError seqError = SeqError::None;
  // What follows "Cannot access COM" in the open-failure headline: the port number with
  // its leading blank (" 3") or, for a port given as a device path, a blank and the path.
  std::string portText = " 1";
};

// The message, lines joined by CR LF, no CR LF after the last line.
std::string composeCloneError(const CloneErrorInputs& in);

}  // namespace tarnset
