#pragma once
// Calls from the serial host to the rooms above it, wired by the composition root.
namespace tarnset {

class clsCmcProfileIO;

class ComHostOwner {
 public:
  virtual ~ComHostOwner() = default;
  // One step of the main window (steps the sequencer and the model controller).
  virtual void task() = 0;
  // Shows the link error message with the program's sequencer.
  virtual void showLinkError() = 0;
  // The main window's option saving and loading through a profile object.
  virtual void saveData(clsCmcProfileIO& prof) = 0;
  virtual void loadData(clsCmcProfileIO& prof) = 0;
  // The start module's option-saving procedure.
  virtual void SaveOptions() = 0;
};

}  // namespace tarnset
