#pragma once
// The serial host: owns the program's serial port, the frame driver dornD, the options
// profile profMain and the 50 ms poll timer timSolid that drives the whole program.
//
// One poll tick, in order: the received bytes go to the driver's read, the driver steps
// its time-outs, the owner (the main window) steps the rest of the program, a pending
// link failure becomes one message, and a port still open after a failure is closed.
// Arriving bytes run a tick at once; ticks and port events are held while a message box
// is open or a tick is already running, and resume afterwards.
//
// The toolkit, the port, the resolver and the clock are the composition root's and must
// outlive the form. The toolkit must allow a descriptor watch to be destroyed from
// within its own callback (a port that goes away is dropped right there).
#include <cstdint>
#include <memory>
#include <string>

#include "base/SerialPort.h"
#include "base/TickSource.h"
#include "base/TraceSink.h"
#include "base/Types.h"
#include "clone/ComHost.h"
#include "link/ComHooks.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

class clsCmcDornDrv;
class clsCmcProfileIO;

class frmCom final : public ComHost {
 public:
  // Creates the form: profMain, dornD, the disabled poll timer, then Reset.
  frmCom(tk::Toolkit& toolkit, SerialPort& port, PortResolver& resolver, const TickSource& clock);
  ~frmCom() override;
  frmCom(const frmCom&) = delete;
  frmCom& operator=(const frmCom&) = delete;

  // The main window's calls (task, link error message, options), wired by start.
  void setOwner(ComHostOwner* owner) { owner_ = owner; }
  // The support trace of the port and the driver; nullptr: none.
  void setTrace(TraceSink* trace);

  // Opens (true) or closes (false) the port; discards pending output and resets the
  // driver either way. A failed open leaves the port closed and sets errCannotOpen.
  void setComOpen(bool bo) override;
  bool comOpen() const override;
  bool comSendEnable() const override { return comOpen(); }
  // Port number of the next open; values outside 1..10 are ignored.
  void setComPortNum(std::int16_t n) override;
  std::int16_t comPortNum() const override { return comPortNum_; }
  // Baud rate of the next open.
  void setComBaud(std::int32_t baud) { comBaud_ = baud; }
  std::int32_t comBaud() const override { return comBaud_; }
  // Lowest and highest port number accepted.
  std::int16_t imdMinComPortNum() const { return 1; }
  std::int16_t imdmaxComPortNum() const { return 10; }
  // Line settings text ("9600,N,8,1"); the baud rate in a text given here becomes
  // comBaud, so it takes effect at the next open.
  void setVeskSettings(const std::string& text);
  const std::string& Settings() const { return settings_; }

  // The last attempt to open the port failed (or the device went away).
  bool errCannotOpen() const { return errCannotOpen_; }
  void setErrCannotOpen(bool on) { errCannotOpen_ = on; }
  // The port's receive buffer overflowed.
  bool errOverflow() const { return errOverflow_; }
  void setErrOverflow(bool on) { errOverflow_ = on; }
  // A link failure is pending: the driver's nowError, errOverflow or errCannotOpen.
  bool totalError() const;

  // Closes the port; port 1 at 9600 baud, receive events per byte group; clears the flags.
  void Reset() override;
  // As Reset, but the next open runs at 38400 baud with receive events per 1024 bytes.
  void HighSpeedBRatioSet() override;

  std::int32_t OutBufferSize() const override { return port_.outBufferSize(); }
  std::int32_t OutBufferCount() const override;
  // Queues bytes on the port; a refusal is kept as the failure reason.
  bool Output(const Bytes& data) override;
  clsCmcDornDrv& dornD() override { return *dornD_; }
  const clsCmcDornDrv& dornD() const { return *dornD_; }
  // The options profile ("TarnsetADJ.rs", section "Tarnset ADJ Rev.1.2").
  clsCmcProfileIO& profMain() { return *profMain_; }
  // The 50 ms poll timer, disabled until start-up enables it.
  tk::Timer& timSolid() { return *timSolid_; }

  // Closes the port, then has the options saved.
  void AllOver();
  // Forward to the main window's option saving and loading.
  void saveData(clsCmcProfileIO& objProf);
  void loadData(clsCmcProfileIO& objProf);

  // One poll tick (skipped while a message box is open or a tick is running).
  void timSolid_Timer();
  // Runs one poll tick as soon as the event loop is free, so that what a key or a button
  // asked for goes out now instead of on the next timer tick. Several requests before it
  // runs give one tick; nothing is posted while a message box is open.
  void tickSoon();
  // A port event: data received, receive overflow, line error.
  void MsCom_OnComm(PortEvent ev);

  // Form events: load and query-unload have nothing to do; unload closes the port and
  // stops the poll timer.
  void Form_Load() {}
  void Form_QueryUnload() {}
  void Form_Unload();

  // Device of the last open attempt (empty when no device is known for the number), and
  // why the port last failed (to open, to take a write, or by going away); kind None
  // after a successful open.
  const std::string& deviceName() const { return deviceName_; }
  const PortFailure& failure() const { return failure_; }
  const std::string& failureReason() const { return failure_.reason; }

 private:
  void Form_Initialize();
  void applyPortSettings(std::int32_t rThreshold);
  bool openPort();
  void closePort();
  void rxToDriver(const Bytes& vrR);
  void onPortReadable();
  bool held() const;
  void handleEvent(PortEvent ev);
  void handlePendingEvents();
  void deviceGone();
  void receiveOverflow();
  void lineError();

  tk::Toolkit& toolkit_;
  SerialPort& port_;
  PortResolver& resolver_;
  const TickSource& clock_;
  ComHostOwner* owner_ = nullptr;
  TraceSink* trace_ = nullptr;

  std::unique_ptr<clsCmcProfileIO> profMain_;
  std::unique_ptr<clsCmcDornDrv> dornD_;
  std::unique_ptr<tk::Timer> timSolid_;
  std::unique_ptr<tk::Watch> watch_;

  std::int16_t comPortNum_ = 1;
  std::int32_t comBaud_ = 9600;
  std::string settings_ = "9600,N,8,1";
  bool errCannotOpen_ = false;
  bool errOverflow_ = false;
  std::string deviceName_;
  PortFailure failure_;

  bool inTick_ = false;
  bool tickPosted_ = false;
  // Lets a posted tick find out that the form has gone meanwhile.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  // Port events that arrived while held, handled before the next tick.
  bool pendingOverflow_ = false;
  bool pendingLineError_ = false;
  bool pendingGone_ = false;
};

}  // namespace tarnset
