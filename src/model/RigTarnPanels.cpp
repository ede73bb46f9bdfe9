// The views of the controller: which panel they show, and the report of a failed link.
#include <algorithm>

#include "base/NumFormat.h"
#include "clone/CloneErrorText.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "platform/PortAdvice.h"

namespace tarnset {

void clsIndOp_RigTarn::addView(TarnView* view) {
  if (view == nullptr || std::find(views_.begin(), views_.end(), view) != views_.end()) return;
  views_.push_back(view);
  view->modelReset();
  if (panelsShown_) view->panelsChanged(*panelsShown_);
}

void clsIndOp_RigTarn::removeView(TarnView* view) {
  views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end());
}

void clsIndOp_RigTarn::refreshPanels() {
  TarnPanels p;
  const bool shielding = RigTarnProp_Shielding();
  const bool edit = RigTarnProp_EditEnabled();
  const bool para = RigTarnProp_DispPara();
  p.panel = para ? TarnPanel::Parameters : (edit ? TarnPanel::Adjust : TarnPanel::Start);
  p.connectEnabled = !para;
  p.reloadEnabled = edit;
  p.dispParaEnabled = !shielding;
  p.dispParaIsDefault = para;
  if (panelsShown_ == p) return;
  panelsShown_ = p;
  tellViews([&](TarnView& v) { v.panelsChanged(p); });
}

void clsIndOp_RigTarn::MsgBoxCloneErr(clsCmcDornSequence& myObjDornSeq) {
  CloneErrorInputs in;
  in.errCannotOpen = com_->errCannotOpen();
  in.errOverflow = com_->errOverflow();
  in.lastError = com_->dornD().lastError();
  in.seqError = myObjDornSeq.error();
  in.portText = portText_.empty() ? decimalWithSign(com_->comPortNum()) : portText_;
  std::string message = composeCloneError(in);
  // A port that could not be used says which device it was, why, and what to do next.
  const std::string comName = portText_.empty() ? "COM" + decimalWithSign(com_->comPortNum()) : std::string();
  LinkFailure failure;
  failure.details = portFailureDetails(com_->failure(), com_->deviceName(), comName);
  if (com_->errCannotOpen()) failure.openFailure = com_->failure().kind;
  // The reset abandons a running procedure; what it wrote stays in the radio, so the
  // technician is told to run it again.
  const std::string note = RigOpFunc_InterruptionNote();
  if (!note.empty() && !message.empty()) message += "\r\n" + note;
  RigOpFunc_ResetAll();
  lastCloneError_ = message;
  failure.message = message;
  if (!message.empty()) tellViews([&](TarnView& v) { v.linkFailed(failure); });
}

}  // namespace tarnset
