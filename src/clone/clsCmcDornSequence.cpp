#include "clone/clsCmcDornSequence.h"

#include <algorithm>
#include <stdexcept>

#include "base/Checked16.h"
#include "base/Common.h"
#include "base/Wire.h"
#include "clone/CloneHooks.h"
#include "clone/ComHost.h"
#include "clone/clsCmcDornDrv.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {
namespace {

// The switch to high speed waits until the request has left the port and the radio has
// had a poll period to switch (ms), and never longer than kDrainTime for a stuck port.
constexpr std::int32_t kSwitchMinTime = 50;
constexpr std::int32_t kDrainTime = 1000;

// The only format version a clone write accepts, and the newest one a clone read accepts.
const std::string kFormatVersion = "03";

// Hex text of bytes first..first+count-1 (positions from 1) of a byte string.
std::string hexOf(const Bytes& b, std::size_t first, std::size_t count) {
  if (first < 1 || first > b.size()) return {};
  const std::size_t n = std::min(count, b.size() - (first - 1));
  return BytesToHex(Bytes(b.begin() + static_cast<std::ptrdiff_t>(first - 1),
                          b.begin() + static_cast<std::ptrdiff_t>(first - 1 + n)));
}

}  // namespace

clsCmcDornSequence::clsCmcDornSequence(ComHost& com, clsCmcRadio& radio, const TickSource& clock)
    : com_(&com), radio_(&radio), holdTimer_(clock), switchMinTimer_(clock), drainTimer_(clock) {
  Reset();
  comPortNo_ = 1;
  setComHoldReload(0);
}

void clsCmcDornSequence::Reset() {
  com_->dornD().Reset();
  com_->Reset();
  Standby();
}

void clsCmcDornSequence::Standby() {
  operation_ = SeqOperation::None;
  step_ = 0;
  e8HexStrToSend_.clear();
  onAnswer_ = nullptr;
  // A clone read that ends here, by its end or by an error or a reset, must not leave its
  // pending speed switch to the next operation: a later clone read would switch the port
  // without asking the radio first, and a later E8 command would resume an ended read.
  highSpeedPending_ = false;
  resumePending_ = false;
  exchangeOpen_ = false;
  sendRefused_ = false;
  readSubModel_.clear();
}

void clsCmcDornSequence::easyReset(std::int16_t portNo) {
  Reset();
  comPortNo_ = portNo;
}

void clsCmcDornSequence::easyCloneRead() {
  setOperation(SeqOperation::CloneRead);
  start();
}

void clsCmcDornSequence::easyCloneWrite() {
  setOperation(SeqOperation::CloneWrite);
  start();
}

bool clsCmcDornSequence::easySendE8NoAnswer(const std::string& spE8) {
  setOperation(SeqOperation::E8);
  e8HexStrToSend_ = spE8;
  start();
  return false;
}

bool clsCmcDornSequence::easySendE8ReqAnswer(const std::string& spE8) {
  return easySendE8ReqAnswer(spE8, {});
}

bool clsCmcDornSequence::easySendE8ReqAnswer(const std::string& spE8, AnswerHandler onAnswer) {
  setOperation(SeqOperation::E8);
  e8HexStrToSend_ = spE8;
  e8AnsRequired_ = true;
  onAnswer_ = std::move(onAnswer);
  start();
  return false;
}

void clsCmcDornSequence::setComHoldReload(std::int32_t ms) {
  comHoldReload_ = ms;
  holdTimer_.setCounter(ms);
}

void clsCmcDornSequence::setOperation(SeqOperation op) {
  e8AnsRequired_ = false;
  onAnswer_ = nullptr;
  operation_ = op;
}

void clsCmcDornSequence::start() {
  step_ = 0;
  task();
}

const Bytes& clsCmcDornSequence::ansInfo() const {
  return com_->dornD().ansInfo();
}

std::string clsCmcDornSequence::ansNameM() const {
  return hexOf(ansInfo(), 4, 2);
}

std::string clsCmcDornSequence::ansNameS() const {
  return hexOf(ansInfo(), 6, 2);
}

void clsCmcDornSequence::task() {
  const bool wasActive = operation_ != SeqOperation::None;
  if (operation_ != SeqOperation::None && !com_->dornD().Running()) {
    Command next = Command::None;
    if (exchangeLost()) {
      error_ = SeqError::ExchangeLost;
      next = Command::Error;
    } else {
      next = evaluate();
    }
    if (next == Command::Error) {
      com_->setComOpen(false);
      if (reporter_ != nullptr) reporter_->MsgBoxCloneErr(*this);
    }
    if (resumePending_) {
      resumePending_ = false;  // the clone read takes its step 2 again on the next call
    } else {
      // After a nested E8 command (clone read step 2) this advances the E8 operation.
      step_ = add16(step_, 1);
      if (next == Command::Error) next = Command::End;
      if (next != Command::None) {
        command_ = next;
        issueCommand();
      }
    }
  }

  // Idle release: the port closes comHoldReload ms after the last active tick.
  if (wasActive) {
    holdTimer_.setCounter(comHoldReload_);
  } else if (comHoldReload_ > 0 && holdTimer_.counter() < 1 && com_->comOpen()) {
    Reset();
  }
}

bool clsCmcDornSequence::exchangeLost() {
  // A frame the driver refused, or an exchange that Reset cut off (the port was closed
  // under it, for example a vanished adapter), was never answered: going on as if it had
  // been would let a clone read end "complete" with part of the image, or evaluate a
  // stale identification answer.
  const bool lost = sendRefused_ || (exchangeOpen_ && com_->dornD().Abandoned());
  sendRefused_ = false;
  exchangeOpen_ = false;
  return lost;
}

clsCmcDornSequence::Command clsCmcDornSequence::evaluate() {
  clsCmcDornDrv& drv = com_->dornD();
  switch (operation_) {
    case SeqOperation::Identify:
      highSpeedPending_ = false;
      resumePending_ = false;
      return step_ == 0 ? Command::Identify : Command::End;
    case SeqOperation::CloneRead:
      return evaluateCloneRead();
    case SeqOperation::CloneWrite:
      if (step_ == 0) return Command::Identify;
      if (step_ == 1) {
        identificationCheck(true);
        return error_ != SeqError::None ? Command::Error : Command::CloneWrite;
      }
      return drv.lastError() == CloneError::None ? Command::End : Command::Error;
    case SeqOperation::E8:
      return evaluateE8();
    case SeqOperation::None:
      break;
  }
  return Command::None;
}

clsCmcDornSequence::Command clsCmcDornSequence::evaluateCloneRead() {
  clsCmcDornDrv& drv = com_->dornD();
  switch (step_) {
    case 0:
      return Command::Identify;
    case 1:
      identificationCheck(false);
      return error_ != SeqError::None ? Command::Error : Command::None;
    case 2:
      if (drv.lastError() != CloneError::None) {
        error_ = SeqError::DriverError;
      } else if (highSpeedPending_) {
        // The radio has been asked for high speed: the port follows (closed, next open at 38400).
        highSpeedPending_ = false;
        drv.Reset();
        com_->HighSpeedBRatioSet();
      } else {
        // Ask the radio for high speed. The E8 operation replaces this one for a moment and
        // hands control back to this step when it is evaluated (see evaluateE8).
        savedStep_ = step_;
        savedOperation_ = operation_;
        highSpeedPending_ = true;
        switchMinTimer_.setCounter(kSwitchMinTime);
        drainTimer_.setCounter(kDrainTime);
        easySendE8NoAnswer(ByteToHex(wire::e8::kLineSpeed) + ByteToAsciiHex(wire::e8::kHighSpeed));
      }
      return error_ != SeqError::None ? Command::Error : Command::None;
    case 3:
      if (drv.lastError() != CloneError::None) {
        error_ = SeqError::DriverError;
      } else {
        // A burst of FE at the new speed, then the clone read request in the same call; the
        // request's own open of the port discards whatever of the burst is still queued.
        prepareLink();
        com_->setComOpen(true);
        drv.SendFE(burstLength());
      }
      return error_ != SeqError::None ? Command::Error : Command::CloneRead;
    case 4:
      if (drv.lastError() != CloneError::None) return Command::Error;
      // The read is whole (the driver ends it only then): it becomes the radio's image.
      radio_->commitRead(readImage_, drv.EndAddress(), subModelOfFrames());
      drv.Reset();
      com_->Reset();  // port closed, back to 9600 baud
      return Command::None;
    default:
      if (drv.lastError() != CloneError::None) return Command::Error;
      prepareLink();
      com_->setComOpen(true);
      drv.SendFE(burstLength());
      return Command::End;
  }
}

clsCmcDornSequence::Command clsCmcDornSequence::evaluateE8() {
  if (step_ == 0) return Command::E8;
  const Command next = com_->dornD().lastError() == CloneError::None ? Command::End : Command::Error;
  if (next == Command::End && highSpeedPending_) {
    // This E8 command was the clone read's request for high speed. The switch closes the
    // port, and closing discards what has not left it yet; and the radio needs a moment
    // to change its speed. Ticks normally come 50 ms apart, but a tick run early by an
    // arriving byte (the echo of a one-wire cable) would cut the request off or talk to
    // the radio before it listens at the new speed: wait for both, but not longer than a
    // stuck port allows.
    const bool drained = com_->OutBufferCount() == 0 || drainTimer_.counter() < 1;
    if (!drained || switchMinTimer_.counter() > 0) return Command::None;
    // Resume the clone read. (A failed request ends the whole operation instead.)
    step_ = savedStep_;
    operation_ = savedOperation_;
    resumePending_ = true;
    return Command::None;
  }
  if (next == Command::End && onAnswer_) {
    // The answer goes to whoever asked, once; the handler must not start an operation.
    const AnswerHandler handler = std::move(onAnswer_);
    onAnswer_ = nullptr;
    handler(com_->dornD().varLastE8Answer());
  }
  return next;
}

void clsCmcDornSequence::identificationCheck(bool forWrite) {
  if (com_->dornD().lastError() != CloneError::None) {
    error_ = SeqError::DriverError;
    return;
  }
  if (ansNameM() != radio_->radioNameM()) error_ = SeqError::ModelCode;

  // Format version, compared as hex text. A clone write accepts exactly "03". A clone read
  // accepts "00" to "03" and refuses anything that sorts above "03": a newer format may
  // lay out the image in a way this program does not know.
  const Bytes& info = ansInfo();
  const std::string version = info.size() >= 43 ? hexOf(info, 43, 1) : std::string{};
  const bool versionBad =
      forWrite ? version != kFormatVersion : (version.empty() || version > kFormatVersion);
  if (versionBad) error_ = SeqError::FormatVersion;

  // Without a sub-model check wired in (unit tests, tools), no sub-model is refused. A
  // clone read keeps the code for its own frames until it is whole.
  const std::string nameS = ansNameS();
  if (subModelCheck_ == nullptr || subModelCheck_->RigOpFunc_CheckSubNameLegal(nameS)) {
    if (forWrite) {
      radio_->setRadionameS(nameS);
    } else {
      readSubModel_ = nameS;
    }
  } else {
    error_ = SeqError::SubModel;
  }
}

void clsCmcDornSequence::issueCommand() {
  clsCmcDornDrv& drv = com_->dornD();
  switch (command_) {
    case Command::Identify:
      prepareLink();
      com_->setComOpen(true);
      drv.setWorkMode(WorkMode::Identify);
      sendPayload(ByteToHex(wire::cmd::kIdentify) + radio_->radioNameM() + "0000");
      break;
    case Command::CloneRead:
      prepareLink();
      com_->setComOpen(true);
      drv.setWorkMode(WorkMode::CloneRead);
      readImage_.setEeSize(radio_->eepImage().eeSize());
      drv.setMyEep(&readImage_);
      sendPayload(ByteToHex(wire::cmd::kCloneRead) + radio_->radioNameM() + subModelOfFrames());
      break;
    case Command::CloneWrite:
      prepareLink();
      com_->setComOpen(true);
      drv.setWorkMode(WorkMode::CloneWriteRecords);
      drv.setMyEep(&radio_->eepImage());
      drv.setSizDataOfPacket(16);
      drv.setCloneWriteAdrList(radio_->cloneWriteAdrList_get());
      sendPayload(ByteToHex(wire::cmd::kCloneWrite) + radio_->radioNameM() + radio_->radionameS());
      break;
    case Command::E8:
      prepareLink();
      com_->setComOpen(true);
      drv.setWorkMode(WorkMode::E8);
      drv.setWaitAnswer(e8AnsRequired_);
      drv.setRetryCount(2);
      sendPayload(ByteToHex(wire::cmd::kE8) + radio_->radioNameM() + subModelOfFrames() + e8HexStrToSend_);
      break;
    case Command::End:
      step_ = 0;
      Standby();
      break;
    case Command::None:
    case Command::Error:  // never issued: turned into End after the message
      break;
  }
}

void clsCmcDornSequence::prepareLink() {
  com_->dornD().setLastError(CloneError::None);
  error_ = SeqError::None;
  com_->setComPortNum(comPortNo_);
}

void clsCmcDornSequence::sendPayload(const std::string& hex) {
  if (com_->dornD().Send(HexToBytes(hex)) == 0) {
    exchangeOpen_ = true;
  } else {
    sendRefused_ = true;
  }
}

const std::string& clsCmcDornSequence::subModelOfFrames() const {
  return readSubModel_.empty() ? radio_->radionameS() : readSubModel_;
}

std::int16_t clsCmcDornSequence::burstLength() const {
  // The baud rate in thousands plus one and a half, cut to an integer: 39 FE at 38400
  // baud, 11 at 9600.
  return narrow16((std::int64_t{com_->comBaud()} * 10 + 15000) / 10000);
}

}  // namespace tarnset
