#pragma once
// The part of the sequencer that the console and the model use to send E8 commands.
#include <string>

namespace tarnset {

class E8Sender {
 public:
  virtual ~E8Sender() = default;
  // Queues one E8 command given as hex text (command code, then the value); returns false.
  virtual bool easySendE8NoAnswer(const std::string& spE8) = 0;
  // The same, asking the radio for an answer.
  virtual bool easySendE8ReqAnswer(const std::string& spE8) = 0;
  // True while an operation runs.
  virtual bool OpRunning() const = 0;
  // True right after a send whose frame the port refused: nothing went out, and the
  // operation fails on its next step.
  virtual bool sendRefused() const = 0;
};

}  // namespace tarnset
