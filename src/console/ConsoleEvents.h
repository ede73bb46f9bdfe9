#pragma once
// What the console asks of its owner (the model controller): the text of lines that are
// not drawn in the standard form, sends that need more than one command code and value,
// the Enter actions, and the pause after a standard E8 send.
#include <cstdint>
#include <string>

namespace tarnset {

class clsConsole;

class ConsoleEvents {
 public:
  virtual ~ConsoleEvents() = default;

  // The complete line text of item Index, whose Event_Disp is evNo and Value is val.
  virtual std::string ConsEv_Disp(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                                  std::int16_t val) = 0;
  // Sends item Index (Event_SendE8 evNo, Value val) in the owner's own way.
  virtual void ConsEv_SendE8(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                             std::int16_t val) = 0;
  // Runs the Enter action evNo of item Index (Value val).
  virtual void ConsEv_Enter(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                            std::int16_t val) = 0;
  // Write-only: the milliseconds the owner waits after an item's standard E8 command.
  virtual void setWaitE8Required(std::int32_t ms) = 0;
};

}  // namespace tarnset
