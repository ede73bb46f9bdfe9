#pragma once
// Calls from the sequencer to the rooms above it, wired by the composition root.
#include <string>

namespace tarnset {

class clsCmcDornSequence;

// Shows the program's clone error message for a failed operation (the main window).
class CloneErrorReporter {
 public:
  virtual ~CloneErrorReporter() = default;
  virtual void MsgBoxCloneErr(clsCmcDornSequence& seq) = 0;
};

// Accepts or refuses the sub-model code reported by the radio (the model controller).
class SubModelCheck {
 public:
  virtual ~SubModelCheck() = default;
  virtual bool RigOpFunc_CheckSubNameLegal(const std::string& nameS) = 0;
};

}  // namespace tarnset
