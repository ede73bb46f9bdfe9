// The controller's reset, buttons and state machine, and the completion of a clone read.
#include <algorithm>

#include "base/Common.h"
#include "base/Wire.h"
#include "clone/CloneCodes.h"
#include "clone/ComHost.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {

clsIndOp_RigTarn::clsIndOp_RigTarn(clsCmcDornSequence& seq, clsCmcRadio& radio, clsConsole& console,
                                   frmCom& com, const TickSource& clock, tk::ListBox* consoleList)
    : consoleList_(consoleList),
      seq_(&seq),
      radio_(&radio),
      console_(&console),
      com_(&com),
      clock_(&clock),
      eep_(std::make_unique<clsIndEep_RigTarn>(
          radio, [this](std::int16_t i) { return RigTarnOp_Table_Txf_TempBorder(i); })),
      waitTick_(clock),
      measurePause_(clock),
      gen_(clock) {
  comPortNo_ = 1;
  RigOpFunc_ResetAll();
  nameBase_ = TarnMap::kDefaultNameBase;
  chBase_ = TarnMap::kDefaultChBase;
  rxBase_ = TarnMap::kDefaultRxBase;
  txBase_ = TarnMap::kDefaultTxBase;
  txfTable_.fill(0.0f);
  txfSlope_.fill(0.0f);
  fillTempBorder();
  using namespace wire::mon;
  adChannel_ = {kVin, kTemperature, kLvin, kSd, 0};
  daChannel_ = {kBpfT1, kBpfT1 + 1, kBpfT1 + 2, kBpfT4, kRef, kModBalance, kDeviation, kCtcss, kSquelch, 0};
}

clsIndOp_RigTarn::~clsIndOp_RigTarn() = default;

void clsIndOp_RigTarn::RigOpFunc_ResetAll() {
  seq_->easyReset(comPortNo_);
  opState_ = TarnState::Idle;
  stateEntry_ = true;
  dispParaRequest_ = false;
  std::fill(adLast_.begin(), adLast_.begin() + 4, std::int16_t{-1});
  std::fill(daLast_.begin(), daLast_.begin() + 9, std::int16_t{-1});
  errorLatch_ = false;
  readOnly_ = false;
  monitorAnswer_.reset();
  abandonProcedures();
  abandonAutomation("the connection was reset");
  finishPass("the connection was reset");
  measurementsChanged();
  restoreQueue_.clear();
  if (restoreRunning_) {
    restoreRunning_ = false;
    tellViews([](TarnView& v) { v.restoreEnded(false); });
  }
  tellViews([](TarnView& v) { v.modelReset(); });
  console_->setMyListBox(consoleList_);
  console_->setMyEventClass(this);
  console_->setMyDornSeq(seq_);
  console_->setMyEeprom(&radio_->eepImage());
  console_->Clear();
  buildCatalogue();
  resetEnterFlags();
  // The views show the reset state at once: a message box that follows a reset holds the
  // ticks that would otherwise redraw the window.
  panelsShown_.reset();
  refreshPanels();
}

std::string clsIndOp_RigTarn::RigOpFunc_InterruptionNote() const {
  const char* name = nullptr;
  if (enterStep_ >= 1 && enterStep_ <= 5) name = "The TXF procedure was";
  if (enterStep_ >= 6 && enterStep_ <= 8) name = "The RSSI procedure was";
  if (enterStep_ >= 9 && enterStep_ <= 11) name = "The CAL procedure was";
  if (enterStep_ >= 12 && enterStep_ <= 16) name = "The BPF sweep was";
  if (name == nullptr) return {};
  return std::string(name) + " interrupted and must be run again.";
}

bool clsIndOp_RigTarn::RigOpFunc_CheckSubNameLegal(const std::string& nameS) {
  return nameS.substr(0, 4) <= std::string("0100");
}

void clsIndOp_RigTarn::RigOpFunc_SetComPortNo(std::int16_t portNo) {
  if (portNo == comPortNo_) return;
  comPortNo_ = portNo;
  RigOpFunc_ResetAll();
}

void clsIndOp_RigTarn::RigOpFunc_ClickCmd00(std::int16_t Index) {
  resetEnterFlags();
  switch (Index) {
    case 0:
      RigOpFunc_ResetAll();
      opState_ = TarnState::Connect;
      stateEntry_ = true;
      break;
    case 1:
      if (RigTarnProp_EditEnabled()) reloadRequest_ = true;
      break;
    case 2:
      if (RigTarnProp_EditEnabled()) {
        dispParaRequest_ = true;
      } else if (RigTarnProp_DispPara()) {
        dispParaRequest_ = false;
      }
      break;
    default:
      break;
  }
}

void clsIndOp_RigTarn::RigOpFunc_ReadImage() {
  resetEnterFlags();
  RigOpFunc_ResetAll();
  readOnly_ = true;
  opState_ = TarnState::Connect;
  stateEntry_ = true;
}

void clsIndOp_RigTarn::task() {
  measureTask();
  tuneTask();
  txfAutoTask();
  alignTask();
  if (seq_->OpRunning()) {
    if (opState_ == TarnState::CloneRead) updateProgress();
    return;
  }
  if (waitE8Pending_ > 0) {
    waitTick_.setCounter(waitE8Pending_);
    waitE8Pending_ = 0;
  }
  if (waitTick_.counter() > 0) return;

  bool advanced = false;
  do {
    if (opState_ == holdBefore_) {
      held_ = true;
      break;
    }
    TarnState next = static_cast<TarnState>((number(opState_) + 1) % kStates);
    advanced = runState(next);
    if (advanced) {
      opState_ = next;
      stateEntry_ = true;
    } else {
      stateEntry_ = false;
    }
    if (errorLatch_) {
      MsgBoxCloneErr(*seq_);  // resets the controller
      break;
    }
  } while (!seq_->OpRunning() && advanced && opState_ != TarnState::CycleEnd);
  refreshPanels();
}

// Runs the action of the present state; true when the state advances (to next).
bool clsIndOp_RigTarn::runState(TarnState& next) {
  const std::int16_t s = number(opState_);
  switch (opState_) {
    case TarnState::Idle:
      return false;
    case TarnState::Connect:
      return true;
    case TarnState::CloneRead:
      if (stateEntry_) {
        tellViews([](TarnView& v) { v.readStarted(); });
        seq_->easyCloneRead();
        return false;
      }
      completeCloneRead();
      if (readOnly_) next = TarnState::Idle;  // the image was all that was asked for
      return true;
    case TarnState::FirstVin:
    case TarnState::FirstTemperature:
    case TarnState::FirstLvin:
    case TarnState::FirstSd:
      return readAdMonitor(static_cast<std::int16_t>(s - number(TarnState::FirstVin)), stateEntry_);
    case TarnState::AdjustMode:
      sendE8(wire::e8::kMode, wire::e8::kAdjustMode);
      return true;
    case TarnState::CycleStart:
      monitorPass_ = reloadRequest_;
      reloadRequest_ = false;
      return true;
    case TarnState::Vin:
    case TarnState::Temperature:
    case TarnState::Lvin:
    case TarnState::Sd:
      return monitorPass_ ? readAdMonitor(static_cast<std::int16_t>(s - number(TarnState::Vin)), stateEntry_)
                          : true;
    case TarnState::BpfT1:
    case TarnState::BpfT2:
    case TarnState::BpfT3:
    case TarnState::T4Power:
    case TarnState::Ref:
    case TarnState::ModBalance:
    case TarnState::Deviation:
    case TarnState::Ctcss:
    case TarnState::SqlLevel:
      return monitorPass_
                 ? readDaMonitor(static_cast<std::int16_t>(s - number(TarnState::BpfT1)), stateEntry_)
                 : true;
    case TarnState::SendItems:
      for (std::int16_t i = 0; i < console_->ListCount(); ++i) {
        if (!console_->flgChanged(i)) continue;
        console_->setFlgChanged(i, false);
        sendItem(i);
        if (seq_->OpRunning()) return false;  // the rest goes out on later passes
      }
      if (!sendRestoreValue()) return false;
      if (restoreRunning_) {
        restoreRunning_ = false;
        tellViews([](TarnView& v) { v.restoreEnded(true); });
      }
      return true;
    case TarnState::EnterStart:
      for (std::int16_t i = 0; i < console_->ListCount(); ++i) {
        if (console_->flgEnterOn(i) && console_->Event_Enter(i) >= 0) {
          console_->setFlgEnterOn(i, false);
          console_->EnterExec(i);
          break;
        }
      }
      return true;
    case TarnState::EnterStep:
      return runEnterStep();
    case TarnState::CycleEnd:
      if (dispParaRequest_) {
        resetEnterFlags();
        next = TarnState::DispPara;
      } else {
        next = TarnState::CycleStart;
      }
      return true;
    case TarnState::DispPara:
      if (stateEntry_) {
        const std::vector<ParameterLine> listing = eep_->RigTarnEep_DispPara();
        tellViews([&](TarnView& v) { v.parameterListing(listing); });
      }
      if (dispParaRequest_) return false;
      next = TarnState::CycleEnd;
      return true;
  }
  return false;
}

void clsIndOp_RigTarn::sendItem(std::int16_t row) {
  console_->SendE8(row);
  const bool sends = console_->Event_SendE8(row) >= 0 || console_->E8Command(row) >= 0;
  if (!sends || seq_->sendRefused()) return;
  const std::int16_t value = console_->Value(row);
  tellViews([&](TarnView& v) { v.itemSent(row, value); });
  if (const std::int32_t adr = console_->EeAdr(row); adr >= 0) valueStored(adr);
  measurementsChanged();
}

void clsIndOp_RigTarn::valueStored(std::int32_t address) {
  const auto value = static_cast<std::uint8_t>(radio_->eepImage().ReadByte(address));
  tellViews([&](TarnView& v) { v.valueSent(address, value); });
  measurementsChanged();
}

bool clsIndOp_RigTarn::RigOpFunc_RowOwnedByProcedure(std::int16_t row) const {
  if (tune_ && tune_->row == row) return true;  // a tune steps it
  if (enterStep_ < 12 || enterStep_ > 16) return false;
  const int k = row - idxBpfT1_;
  return k >= 0 && k < TarnMap::kBpfCount && bpfSelected_[static_cast<std::size_t>(k)];
}

bool clsIndOp_RigTarn::RigOpFunc_CanRestore() const {
  return RigTarnProp_EditEnabled() && enterStep_ == 0 && !restoreRunning_;
}

void clsIndOp_RigTarn::RigOpFunc_Restore(const std::vector<std::pair<std::int16_t, std::int16_t>>& rowValues,
                                         const std::vector<RestoreSend>& sends) {
  for (const auto& [row, value] : rowValues) console_->setValue(row, value);  // sent in state 22
  restoreQueue_.insert(restoreQueue_.end(), sends.begin(), sends.end());
  restoreRunning_ = true;
}

// Sends the next value of a restore that is no item; true when none is left (state 22
// may advance), false after a send (the pause follows, then the next one).
bool clsIndOp_RigTarn::sendRestoreValue() {
  if (restoreQueue_.empty()) return true;
  const RestoreSend next = restoreQueue_.front();
  restoreQueue_.pop_front();
  if (sendE8(next.e8Code, next.value)) {
    radio_->eepImage().WriteByte(next.address, next.value);
    valueStored(next.address);
  }
  waitE8Pending_ = kItemPause;
  return false;
}

// How far a running clone read is.
void clsIndOp_RigTarn::updateProgress() {
  const clsCmcDornDrv& drv = seq_->comHost().dornD();
  const std::int32_t last = drv.lastEeAdr();
  const std::int32_t end = drv.EndAddress();
  tellViews([&](TarnView& v) { v.readProgress(last, end); });
}

void clsIndOp_RigTarn::completeCloneRead() {
  modelId_ = HexToBytes(radio_->radioNameM() + radio_->radionameS());
  for (std::int16_t i = 0; i < console_->ListCount(); ++i) {
    console_->ReadFromEe(i);
    console_->setFlgChanged(i, true);
  }
  reloadRequest_ = true;

  // The channel memory: its bases, and the slots in use (slot 0 alone when none is).
  const TarnChannelMap map = eep_->RigTarnEep_Channels();
  nameBase_ = map.nameBase;
  chBase_ = map.chBase;
  rxBase_ = map.rxBase;
  txBase_ = map.txBase;
  chCount_ = 0;
  for (std::int16_t k : map.inUse) chList_[static_cast<std::size_t>(chCount_++)] = k;
  if (chCount_ == 0) {
    chList_[0] = 0;
    chCount_ = 1;
  }
  console_->setMax(idxChNo_, static_cast<std::int16_t>(chCount_ - 1));
  console_->setValue(idxChNo_, console_->Min(idxChNo_));
  console_->setFlgChanged(idxChNo_, true);
  tellViews([](TarnView& v) { v.readCompleted(); });
}

}  // namespace tarnset
