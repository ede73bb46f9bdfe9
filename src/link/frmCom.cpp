#include "link/frmCom.h"

#include <charconv>

#include "base/NumFormat.h"
#include "clone/clsCmcDornDrv.h"
#include "radio/clsCmcProfileIO.h"

namespace tarnset {

namespace {

constexpr std::int32_t kPollIntervalMs = 50;
constexpr std::int32_t kRThresholdNormal = 1;
constexpr std::int32_t kRThresholdHighSpeed = 1024;
constexpr std::int32_t kBaudNormal = 9600;
constexpr std::int32_t kBaudHighSpeed = 38400;
// Driver code left behind when the device goes away, so that an operation that was
// running fails instead of taking the cut-off exchange for a finished one.
constexpr CloneError kLostDeviceError = CloneError::NoEcho;

// Marks a tick as running for its whole extent, also when a programming error unwinds it.
class TickScope {
 public:
  explicit TickScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~TickScope() { flag_ = false; }
  TickScope(const TickScope&) = delete;
  TickScope& operator=(const TickScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

frmCom::frmCom(tk::Toolkit& toolkit, SerialPort& port, PortResolver& resolver, const TickSource& clock)
    : toolkit_(toolkit), port_(port), resolver_(resolver), clock_(clock) {
  timSolid_ = toolkit_.createTimer();
  timSolid_->setInterval(kPollIntervalMs);
  timSolid_->setEnabled(false);
  timSolid_->onTick = [this] { timSolid_Timer(); };
  port_.onEvent = [this](PortEvent ev) { MsCom_OnComm(ev); };
  Form_Initialize();
}

frmCom::~frmCom() {
  watch_.reset();
  port_.onEvent = nullptr;
  if (timSolid_) timSolid_->onTick = nullptr;
}

void frmCom::Form_Initialize() {
  profMain_ = std::make_unique<clsCmcProfileIO>();
  profMain_->SetCurrentPath();
  profMain_->setName("TarnsetADJ.rs");
  profMain_->setSection(kAppTitle);
  dornD_ = std::make_unique<clsCmcDornDrv>(*this, clock_);
  dornD_->myObjCom = this;
  Reset();
}

void frmCom::setTrace(TraceSink* trace) {
  trace_ = trace;
  dornD_->setTrace(trace);
}

void frmCom::Form_Unload() {
  setComOpen(false);
  timSolid_->setEnabled(false);
}

// ---- settings -------------------------------------------------------------------

void frmCom::setComPortNum(std::int16_t n) {
  if (n < imdMinComPortNum() || n > imdmaxComPortNum()) return;
  comPortNum_ = n;
}

void frmCom::setVeskSettings(const std::string& text) {
  // The baud rate is the number before the first comma; a text without one is refused.
  const auto comma = text.find(',');
  const std::string head = text.substr(0, comma);
  std::int32_t baud = 0;
  const auto [ptr, ec] = std::from_chars(head.data(), head.data() + head.size(), baud);
  if (head.empty() || ec != std::errc() || ptr != head.data() + head.size() || baud <= 0) return;
  settings_ = text;
  comBaud_ = baud;
}

void frmCom::applyPortSettings(std::int32_t rThreshold) {
  // DTR and RTS asserted, 32760/1024-byte buffers, byte mode and "read all" are how the
  // port always works; the receive threshold is the one setting that changes.
  port_.setRThreshold(rThreshold);
}

void frmCom::Reset() {
  setComOpen(false);
  comPortNum_ = 1;
  comBaud_ = kBaudNormal;
  applyPortSettings(kRThresholdNormal);
  errCannotOpen_ = false;
  errOverflow_ = false;
}

void frmCom::HighSpeedBRatioSet() {
  setComOpen(false);
  comPortNum_ = 1;
  comBaud_ = kBaudHighSpeed;
  applyPortSettings(kRThresholdHighSpeed);
  errCannotOpen_ = false;
  errOverflow_ = false;
}

bool frmCom::totalError() const {
  return dornD_->nowError() != CloneError::None || errOverflow_ || errCannotOpen_;
}

// ---- opening and closing ------------------------------------------------------

bool frmCom::comOpen() const {
  return port_.isOpen();
}

void frmCom::setComOpen(bool bo) {
  // The device and the line settings are taken only while the port is closed.
  if (bo && !port_.isOpen()) {
    deviceName_ = resolver_.deviceFor(comPortNum_);
    settings_ = decimal(comBaud_) + ",N,8,1";
  }
  // From here on a failure of the port does not stop the procedure. Output still on its
  // way through a port that stays open is the program's own last frame (an E8 command
  // without answer goes out in 13.5 ms, and the next command may be issued at once):
  // opening the open port for the next command keeps it, rather than cutting it off.
  bool failed = !(bo && port_.isOpen()) && !port_.discardOutput();
  if (port_.isOpen() != bo) {
    // What was on its way through the port is gone with the port.
    dornD_->ForgetOwedAnswers();
    if (bo) {
      if (!openPort()) failed = true;
    } else {
      closePort();
    }
  }
  if (!bo) {
    // An event of a port that is closed now has nothing left to act on.
    watch_.reset();
    pendingGone_ = false;
    pendingOverflow_ = false;
  }
  if (failed && bo) {
    // Never half-open: a port that failed is closed again.
    closePort();
    errCannotOpen_ = true;
  }
  // Every open and every close leaves the driver idle with an empty receive buffer.
  dornD_->Reset();
  pendingLineError_ = false;
}

bool frmCom::openPort() {
  if (deviceName_.empty()) {
    failure_ = PortFailure(PortFailure::Kind::NoDevice,
                           "no serial port is known for COM" + decimalWithSign(comPortNum_));
    if (trace_ != nullptr) trace_->portOpenFailed("", failure_.reason);
    return false;
  }
  if (!port_.open(deviceName_, comBaud_)) {
    failure_ = port_.failure();
    if (trace_ != nullptr) trace_->portOpenFailed(deviceName_, failure_.reason);
    return false;
  }
  failure_ = {};
  if (trace_ != nullptr) trace_->portOpened(deviceName_, comBaud_);
  pendingGone_ = false;
  pendingOverflow_ = false;
  if (port_.waitable() >= 0) {
    watch_ = toolkit_.watch(port_.waitable(), [this] { onPortReadable(); });
  }
  return true;
}

void frmCom::closePort() {
  watch_.reset();
  if (!port_.isOpen()) return;
  port_.close();
  if (trace_ != nullptr) trace_->portClosed();
}

std::int32_t frmCom::OutBufferCount() const {
  return port_.outBufferCount();
}

bool frmCom::Output(const Bytes& data) {
  const bool taken = port_.write(data);
  if (trace_ != nullptr) trace_->bytesWritten(data, taken);
  if (taken) return true;
  // The driver treats the frame as never sent; the reason goes with the message.
  failure_ = port_.failure();
  if (trace_ != nullptr) trace_->lineError("the port refused the bytes: " + failure_.reason);
  return false;
}

// ---- options --------------------------------------------------------------------

void frmCom::AllOver() {
  setComOpen(false);
  if (owner_ != nullptr) owner_->SaveOptions();
}

void frmCom::saveData(clsCmcProfileIO& objProf) {
  if (owner_ != nullptr) owner_->saveData(objProf);
}

void frmCom::loadData(clsCmcProfileIO& objProf) {
  if (owner_ != nullptr) owner_->loadData(objProf);
}

// ---- poll tick and port events ------------------------------------------------

bool frmCom::held() const {
  return inTick_ || toolkit_.modalActive();
}

void frmCom::rxToDriver(const Bytes& vrR) {
  dornD_->read(vrR);
}

void frmCom::timSolid_Timer() {
  // A message box opened by a tick runs the event loop; no tick runs inside another.
  if (held()) return;
  TickScope scope(inTick_);
  handlePendingEvents();
  if (port_.inBufferCount() > 0) {
    const Bytes received = port_.readAll();
    if (trace_ != nullptr) trace_->bytesRead(received);
    rxToDriver(received);
  }
  dornD_->task();
  if (owner_ != nullptr) owner_->task();
  if (totalError() && owner_ != nullptr) owner_->showLinkError();
  if (port_.isOpen() && totalError()) setComOpen(false);
}

void frmCom::tickSoon() {
  if (tickPosted_ || held()) return;
  tickPosted_ = true;
  toolkit_.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    tickPosted_ = false;
    timSolid_Timer();
  });
}

void frmCom::onPortReadable() {
  port_.service();
  // A port that closed itself has no descriptor left to watch.
  if (!port_.isOpen()) watch_.reset();
}

void frmCom::MsCom_OnComm(PortEvent ev) {
  if (!port_.isOpen()) watch_.reset();
  if (held()) {
    // Remembered for the next tick; received bytes simply stay in the port's buffer.
    switch (ev) {
      case PortEvent::DataReceived:
        break;
      case PortEvent::ReceiveOverflow:
        pendingOverflow_ = true;
        break;
      case PortEvent::LineError:
        if (port_.isOpen()) {
          pendingLineError_ = true;
        } else {
          pendingGone_ = true;
          failure_ = port_.failure();
        }
        break;
    }
    return;
  }
  handlePendingEvents();
  handleEvent(ev);
}

void frmCom::handleEvent(PortEvent ev) {
  switch (ev) {
    case PortEvent::DataReceived:
      if (port_.inBufferCount() > 0) timSolid_Timer();
      break;
    case PortEvent::ReceiveOverflow:
      receiveOverflow();
      break;
    case PortEvent::LineError:
      if (port_.isOpen()) {
        lineError();
      } else {
        failure_ = port_.failure();
        deviceGone();
      }
      break;
  }
}

void frmCom::receiveOverflow() {
  if (trace_ != nullptr) trace_->lineError("receive buffer overflow: the port is closed");
  errOverflow_ = true;
  setComOpen(false);
}

void frmCom::lineError() {
  // Framing, parity, break: only the frame being received is lost.
  if (trace_ != nullptr) trace_->lineError("framing error or break: the frame being received is dropped");
  dornD_->ClearRxBuffer();
}

void frmCom::deviceGone() {
  // One failure, reported by the next tick as a port that cannot be accessed (once: the
  // reset that follows the message clears the flag). The close resets the driver.
  if (trace_ != nullptr) trace_->lineError("the device went away: " + failure_.reason);
  setComOpen(false);
  errCannotOpen_ = true;
  dornD_->setLastError(kLostDeviceError);
}

void frmCom::handlePendingEvents() {
  if (pendingGone_) {
    pendingGone_ = false;
    pendingOverflow_ = false;
    pendingLineError_ = false;
    deviceGone();
    return;
  }
  if (pendingOverflow_) {
    pendingOverflow_ = false;
    pendingLineError_ = false;
    receiveOverflow();
    return;
  }
  if (pendingLineError_) {
    pendingLineError_ = false;
    lineError();
  }
}

}  // namespace tarnset
