#pragma once
// Runs the operations of the cloning link as step machines: identification, clone read
// (with the switch to 38400 baud and back), clone write, and single E8 commands with or
// without answer. Opens the port for each command, releases it after an idle time.
//
// A clone read lands in an image of its own and becomes the radio's image only when it
// completed whole, with the sub-model code the radio gave: a read that fails or is cut
// off leaves the radio's image and identity as they were.
//
// Its error codes are SeqError (clone/CloneCodes.h).
#include <cstdint>
#include <functional>
#include <string>

#include "base/Types.h"
#include "base/clsCmcTick.h"
#include "clone/CloneCodes.h"
#include "clone/E8Sender.h"
#include "radio/clsCmcEeprom.h"

namespace tarnset {

class ComHost;
class clsCmcRadio;
class CloneErrorReporter;
class SubModelCheck;

class clsCmcDornSequence : public E8Sender {
 public:
  clsCmcDornSequence(ComHost& com, clsCmcRadio& radio, const TickSource& clock);

  // Upward calls, wired by the composition root. Without a reporter a failed operation
  // ends without a message; without a sub-model check no sub-model code is refused.
  void setErrorReporter(CloneErrorReporter* r) { reporter_ = r; }
  void setSubModelCheck(SubModelCheck* c) { subModelCheck_ = c; }

  void Reset();
  void Standby();
  void easyReset(std::int16_t portNo);
  void easyCloneRead();
  void easyCloneWrite();
  // Queues one E8 command given as hex text (command code and value); result always false.
  bool easySendE8NoAnswer(const std::string& spE8) override;
  bool easySendE8ReqAnswer(const std::string& spE8) override;
  // Takes the radio's answer to an E8 command: its bytes from the model code on, checked
  // by the driver (length, codes, the command byte repeated).
  using AnswerHandler = std::function<void(const Bytes& answer)>;
  // The same, handing the answer to onAnswer when the command ends without error (in the
  // step that ends it, before the operation is over). A failed or abandoned command
  // hands nothing.
  bool easySendE8ReqAnswer(const std::string& spE8, AnswerHandler onAnswer);
  // Idle time in ms before the port is released; 0 = never. Restarts the idle count-down.
  void setComHoldReload(std::int32_t ms);
  std::int32_t comHoldReload() const { return comHoldReload_; }
  void setComPortNo(std::int16_t n) { comPortNo_ = n; }
  std::int16_t ComPortNo() const { return comPortNo_; }
  void setOperation(SeqOperation op);
  SeqOperation Operation() const { return operation_; }
  void setE8HexStrToSend(const std::string& s) { e8HexStrToSend_ = s; }
  void setE8AnsRequired(bool on) { e8AnsRequired_ = on; }
  void start();
  bool OpRunning() const override { return step_ != 0; }
  bool sendRefused() const override { return sendRefused_; }
  SeqError error() const { return error_; }
  const Bytes& ansInfo() const;
  std::string ansNameM() const;
  std::string ansNameS() const;
  // One step; called from the main window's task on every poll tick.
  void task();

  // The serial host and the driver this sequencer runs (for callers that read results).
  ComHost& comHost() { return *com_; }

 private:
  // The commands the step machines issue.
  enum class Command : std::int16_t {
    None = 0,
    Identify = 1,
    CloneRead = 2,
    CloneWrite = 3,
    E8 = 4,
    Error = 5,
    End = 6
  };

  Command evaluate();
  Command evaluateCloneRead();
  Command evaluateE8();
  bool exchangeLost();
  void identificationCheck(bool forWrite);
  void issueCommand();
  void prepareLink();
  void sendPayload(const std::string& hex);
  // The sub-model code the operation's frames carry.
  const std::string& subModelOfFrames() const;
  std::int16_t burstLength() const;

  ComHost* com_;
  clsCmcRadio* radio_;
  CloneErrorReporter* reporter_ = nullptr;
  SubModelCheck* subModelCheck_ = nullptr;
  std::int16_t comPortNo_ = 1;
  SeqOperation operation_ = SeqOperation::None;
  std::int16_t step_ = 0;
  Command command_ = Command::None;
  std::string e8HexStrToSend_;
  bool e8AnsRequired_ = false;
  AnswerHandler onAnswer_;
  std::int32_t comHoldReload_ = 0;
  clsCmcTick holdTimer_;
  // The wait between the request for high speed and the switch of the port: a minimum
  // for the radio to switch, and a limit for a port that does not drain.
  clsCmcTick switchMinTimer_;
  clsCmcTick drainTimer_;
  SeqError error_ = SeqError::None;
  bool highSpeedPending_ = false;
  bool resumePending_ = false;
  std::int16_t savedStep_ = 0;
  SeqOperation savedOperation_ = SeqOperation::None;
  // A frame issued by this sequencer is out and its exchange not yet evaluated.
  bool exchangeOpen_ = false;
  // The driver refused the last frame this sequencer issued.
  bool sendRefused_ = false;
  // The clone read's records, committed to the radio's image when the read is whole.
  clsCmcEeprom readImage_;
  // The sub-model code the identification of the running clone read gave; the frames of
  // the read carry it, and the radio identity takes it when the read is whole.
  std::string readSubModel_;
};

}  // namespace tarnset
