#pragma once
// The KV-Tarn alignment controller: the item catalogue it loads into the console, the
// state machine that connects to the radio, reads its EEPROM, keeps the monitor lines
// fresh, forwards changed items as E8 commands, runs the Enter procedures and switches
// to the parameter display; the console's event handlers; the constants file; and the
// window layout and panels of this model.
//
// The implementation is split by concern:
//   RigTarnController.cpp  reset, buttons, the state machine and the clone-read completion
//   RigTarnCatalogue.cpp   the 17 console rows
//   RigTarnEvents.cpp      console events, monitor lines and E8 answer checks
//   RigTarnConstFile.cpp   Const.ini and the temperature border table
//   RigTarnEnter.cpp       the Enter procedures (TXF, RSSI, CAL, BPF sweeps)
//   RigTarnPanels.cpp      the panel and buttons the views show, the link failure report
//   RigTarnMeasure.cpp     the bench's measurements of the items: live for the selected
//                          row, and a pass over every item with a limit for the certificate
//   RigTarnAuto.cpp        unattended alignment: an item tuned to its target, the receive
//                          procedures driven by the generator, TXF with the counter, Align All
//
// The controller tells its views (model/TarnView.h) what happened; it never writes into a
// window. The window's layout and captions are the window's own (shell/frmMain).
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Types.h"
#include "base/clsCmcTick.h"
#include "clone/CloneHooks.h"
#include "console/ConsoleEvents.h"
#include "instruments/InstrumentBench.h"
#include "instruments/LimitsFile.h"
#include "model/TarnView.h"
#include "model/clsIndEep_RigTarn.h"

namespace tarnset {

class clsCmcDornSequence;
class clsCmcRadio;
class clsConsole;
class frmCom;
namespace tk {
class ListBox;
}  // namespace tk

// The controller's states (opState), in the order the state machine runs through them:
// connect and read, the first monitor readings, the adjustment mode command, then the
// monitoring cycle (CycleStart .. CycleEnd) until a reset, with the parameter display
// beside it.
enum class TarnState : std::int16_t {
  Idle = 0,       // rests here after every reset
  Connect = 1,    // set by the Connect button
  CloneRead = 2,  // reads the radio's EEPROM, then loads the console
  FirstVin = 3,   // the four A/D lines once after the read
  FirstTemperature = 4,
  FirstLvin = 5,
  FirstSd = 6,
  AdjustMode = 7,  // E8 02 value 1, once per connection
  CycleStart = 8,  // takes the reload request: this cycle reads the monitors or not
  Vin = 9,         // the four A/D lines
  Temperature = 10,
  Lvin = 11,
  Sd = 12,
  BpfT1 = 13,  // the nine D/A lines
  BpfT2 = 14,
  BpfT3 = 15,
  T4Power = 16,
  Ref = 17,
  ModBalance = 18,
  Deviation = 19,
  Ctcss = 20,
  SqlLevel = 21,
  SendItems = 22,   // sends every changed item, then a restore's values
  EnterStart = 23,  // starts the Enter action of one flagged row
  EnterStep = 24,   // one step of the running Enter procedure
  CycleEnd = 25,    // to the parameter display, or round the cycle again; ends the tick
  DispPara = 26,    // the parameter display
};

// A value to send back to the radio by its E8 code, and its image byte.
struct RestoreSend {
  std::int16_t e8Code = 0;
  std::uint8_t value = 0;
  std::int32_t address = 0;
};

class clsIndOp_RigTarn final : public SubModelCheck, public ConsoleEvents, public CloneErrorReporter {
 public:
  static constexpr std::int16_t kStates = 27;

  // Wires the controller and runs its initialisation (port 1, a full reset, the address
  // defaults and the fixed tables). The serial host tells why a link failed; consoleList
  // is the list box the console draws its rows into (handed to the console at every
  // reset; nullptr: the console draws nothing).
  clsIndOp_RigTarn(clsCmcDornSequence& seq, clsCmcRadio& radio, clsConsole& console, frmCom& com,
                   const TickSource& clock, tk::ListBox* consoleList = nullptr);

  // The views told of what happens (not owned; a view removes itself before it goes). A
  // view added is told the present state at once: a reset model and the present panels.
  void addView(TarnView* view);
  void removeView(TarnView* view);
  // Text after "Cannot access COM" in the open-failure headline; empty: the port number
  // (the companion names a port given as a device path).
  void setPortText(std::string text) { portText_ = std::move(text); }
  ~clsIndOp_RigTarn() override;

  // Returns the controller to its start state: sequencer reset, any Enter procedure
  // abandoned, captions, console rebuilt, panels drawn for the start state.
  void RigOpFunc_ResetAll();
  // One line for the link error message when an Enter procedure is running (a reset
  // abandons it, and what it already wrote stays in the radio); empty when none runs.
  std::string RigOpFunc_InterruptionNote() const;
  // The temperature border table (raw counts of the temperature line), index 0..21.
  std::int16_t RigTarnOp_Table_Txf_TempBorder(std::int16_t Index) const;
  // Reads the oscillator coefficients from the constants file; false when it is missing
  // or not valid (the coefficients are then left as they were).
  bool RigTarnProp_ReadParametersFromExtFile(const std::string& fileName = "Const.ini");
  // The start panel is shown (states 0..2).
  bool RigTarnProp_Shielding() const { return !(RigTarnProp_EditEnabled() || RigTarnProp_DispPara()); }
  // The adjustment panel is shown (states 3..25).
  bool RigTarnProp_EditEnabled() const {
    return opState_ > TarnState::CloneRead && opState_ < TarnState::DispPara;
  }
  // A clone read is asked for or under way (states Connect and CloneRead).
  bool RigTarnProp_Reading() const {
    return opState_ == TarnState::Connect || opState_ == TarnState::CloneRead;
  }
  // The parameter display is shown (state 26).
  bool RigTarnProp_DispPara() const { return opState_ == TarnState::DispPara; }
  // Requests a pause of the state machine after an E8 command (written by the console).
  void setWaitE8Required(std::int32_t Wt) override { waitE8Pending_ = Wt; }
  // Accepts a sub-model code whose first four characters sort at or below "0100".
  bool RigOpFunc_CheckSubNameLegal(const std::string& nameS) override;
  // Takes a new port number; a different number resets the controller.
  void RigOpFunc_SetComPortNo(std::int16_t portNo);
  // The three command buttons (and F5 as button 1).
  void RigOpFunc_ClickCmd00(std::int16_t Index);
  // Reads the radio's image and nothing else: the controller resets, reads, loads the
  // console and rests in Idle (no monitor reading, no E8 command). Views hear of the
  // progress, the completion or the failure.
  void RigOpFunc_ReadImage();
  // The link failed: composes the clone error message from the serial host's flags, the
  // driver's last error and the sequencer's error, resets the controller (a running
  // procedure is abandoned, and the message says so) and tells the views.
  void MsgBoxCloneErr(clsCmcDornSequence& myObjDornSeq) override;
  // The text of the last clone error message (lines joined by CR LF).
  const std::string& lastCloneError() const { return lastCloneError_; }
  // One step of the state machine; called on every poll tick.
  void task();

  std::string ConsEv_Disp(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                          std::int16_t val) override;
  void ConsEv_SendE8(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo,
                     std::int16_t val) override;
  void ConsEv_Enter(clsConsole& objConsole, std::int16_t Index, std::int16_t evNo, std::int16_t val) override;

  // CAL points sent since the program started (the service record's "CAL run").
  int RigTarnProp_CalPointsSent() const { return calPointsSent_; }
  // A value key on this console row would change a setting a running procedure owns (a
  // filter a BPF sweep steps): the key must do nothing.
  bool RigOpFunc_RowOwnedByProcedure(std::int16_t row) const;
  // A restore may start: the adjustment panel is up (states 3..25), no Enter procedure
  // runs and no restore is still going out.
  bool RigOpFunc_CanRestore() const;
  // Sends values back: items by setting their rows (sent as any changed item is), the
  // rest one at a time through the E8 path, each stored in the image and followed by the
  // pause an item gets. A reset drops what has not gone out yet.
  void RigOpFunc_Restore(const std::vector<std::pair<std::int16_t, std::int16_t>>& rowValues,
                         const std::vector<RestoreSend>& sends);
  // Values of a restore still to go out.
  std::size_t RigOpFunc_RestorePending() const { return restoreQueue_.size(); }

  // ---- measurements (RigTarnMeasure.cpp) ----
  // The bench and the items' limits (nullptr: no instruments; the bench outlives the
  // controller or is taken away first).
  void RigOpFunc_SetInstruments(InstrumentBench* bench, LimitsSetup limits);
  InstrumentBench* instruments() const { return bench_; }
  const LimitsSetup& limits() const { return limits_; }
  // The console row the technician has selected: its measurement is taken again and
  // again while the adjustment panel is up.
  void RigOpFunc_SelectRow(std::int16_t row);
  // The role that measures a row's item; nullopt when none does.
  std::optional<Role> RigOpFunc_MeasuringRole(std::int16_t row) const;
  // Measures every item that has a limit and an instrument, one after the other: each
  // item's value is sent once more (so that the radio transmits with it), then measured
  // after the instrument's settle time. done gets the measurements (a missing one says
  // why; a reset on the way leaves the rest missing). False, without a call of done,
  // when no pass can run now (no instruments, not on the adjustment panel, a procedure or
  // another pass runs).
  bool RigOpFunc_MeasureItems(std::function<void(std::vector<ItemMeasurement>)> done);
  // The rows such a pass measures: an instrument serves their role and they have a limit.
  std::vector<std::int16_t> RigOpFunc_MeasurableRows() const;
  bool RigOpFunc_Measuring() const { return pass_.has_value(); }
  // ---- unattended alignment (RigTarnAuto.cpp) ----
  // The row's item has a target in Limits.ini and an instrument that measures it.
  bool RigOpFunc_Tunable(std::int16_t row) const;
  // Tunes the row's item to its target (F9): measure, step, measure again, then step by a
  // linear fit of the measurements (at most 8), stopping inside the limits, at the end of
  // the item's range, or when the response does not follow (then the starting value goes
  // back out). Every step is the item's own E8 command with its pause. done (and the
  // views) learn how it ended. False when it cannot start now.
  bool RigOpFunc_TuneRow(std::int16_t row, std::function<void(const TuneResult&)> done = {});
  bool RigOpFunc_Tuning() const { return tune_.has_value(); }
  // The console row being tuned; -1 while no tune runs.
  std::int16_t RigOpFunc_TuningRow() const { return tune_ ? tune_->row : std::int16_t{-1}; }
  // Runs every step the instruments allow, in the order of a service manual (TXF, the power
  // levels, the deviation items, RSSI, BPF ALL; Transmit or Receive only the first or
  // the last of them); done gets each step's outcome. False when nothing can run now.
  bool RigOpFunc_AlignAll(AlignScope scope, std::function<void(std::vector<AlignStep>)> done);
  bool RigOpFunc_Aligning() const { return align_.has_value(); }
  // What keeps the bench from taking other instruments now (a measurement pass, a tune,
  // Align All, the generator driven by a procedure, the TXF run with the counter); empty
  // when nothing does. The live measurement of the selected row is simply taken again.
  std::string RigOpFunc_InstrumentsBusy() const;
  const LimitsSetup& RigOpFunc_Limits() const { return limits_; }
  // Drops a running pass without calling its done (whoever asked is going away).
  void RigOpFunc_DropMeasurePass() { pass_.reset(); }

  // Makes the state machine stop before it runs the action of the given state (nullopt =
  // never), so that a front end can take the monitor readings of the first pass and send
  // nothing more. held() tells that it has stopped there.
  void setHoldBefore(std::optional<TarnState> state) {
    holdBefore_ = state;
    held_ = false;
  }
  bool held() const { return held_; }

  // The text of a monitor line: label, raw value in decimal and hex, scaled value
  // (analogToDigital: A/D line 0..3, else D/A line 0..8; raw 0..255).
  static std::string MonitorLineText(bool analogToDigital, std::int16_t line, std::int16_t raw);

  // Read-only views for the front ends and tests.
  TarnState opState() const { return opState_; }
  std::int16_t enterStep() const { return enterStep_; }
  std::int16_t comPortNo() const { return comPortNo_; }
  const Bytes& modelId() const { return modelId_; }
  std::int16_t channelCount() const { return chCount_; }
  std::int16_t chList(std::int16_t i) const { return chList_.at(static_cast<std::size_t>(i)); }
  std::int16_t selChannel() const { return selChannel_; }
  float txfCoef(std::int16_t i) const { return txfCoef_.at(static_cast<std::size_t>(i)); }
  const clsIndEep_RigTarn& memoryMap() const { return *eep_; }

  // Console rows recorded while the catalogue is built.
  std::int16_t idxChNo() const { return idxChNo_; }
  std::int16_t idxTxf() const { return idxTxf_; }
  std::int16_t idxRssi() const { return idxRssi_; }
  std::int16_t idxCal() const { return idxCal_; }
  std::int16_t idxBpfT1() const { return idxBpfT1_; }
  std::int16_t idxBpfSweep() const { return idxBpfSweep_; }
  // The BPF ALL row (idxBpfSweep is the row a sweep was started on).
  std::int16_t idxBpfAll() const { return idxBpfAll_; }

 private:
  // ---- controller (RigTarnController.cpp) ----
  bool runState(TarnState& next);
  bool sendRestoreValue();
  // Sends a console row's value the console's way and tells the views when it went out.
  void sendItem(std::int16_t row);
  // A value went out and is stored at address in the image: the views hear of it.
  void valueStored(std::int32_t address);
  // The pause after a restored value, as after an item's E8 command.
  static constexpr std::int32_t kItemPause = 200;
  void updateProgress();
  void completeCloneRead();

  // ---- catalogue (RigTarnCatalogue.cpp) ----
  void buildCatalogue();
  void resetEnterFlags();

  // ---- events and monitors (RigTarnEvents.cpp) ----
  bool readAdMonitor(std::int16_t line, bool entry);
  bool readDaMonitor(std::int16_t line, bool entry);
  bool readMonitor(bool analogToDigital, std::int16_t line, bool entry);
  bool answerInvalid(const Bytes& answer) const;
  std::int16_t answerValue(const Bytes& answer) const;
  // Sends an E8 command without answer: code and value as the E8 data string. False
  // when the port refused the frame (nothing went out; the operation fails next step).
  bool sendE8(std::int16_t code, std::int16_t value);
  std::string channelLine(std::int16_t Index, std::int16_t val) const;
  std::string frequencyText(std::int32_t hz, double factor, const char* pattern) const;
  bool inhibited(std::int32_t adr) const;

  // ---- constants file (RigTarnConstFile.cpp) ----
  void fillTempBorder();

  // ---- Enter procedures (RigTarnEnter.cpp) ----
  bool runEnterStep();
  bool stepTxf();
  bool stepRssi();
  bool stepCal();
  bool stepBpfSweep();
  std::int16_t tempSegment(std::int16_t raw) const;
  void computeTxfTable(std::int16_t v, std::int16_t s);
  std::uint8_t txfEntryValue(std::int16_t k) const;
  // The computed table's entry k before it is narrowed to its byte (0..255 for a value,
  // -128..127 for a slope); NaN when it is not a number.
  double txfEntryUnclipped(std::int16_t k) const;
  // Why the computed table cannot be written (an entry outside its byte); empty when it can.
  std::string txfTableProblem() const;
  // Ends any running Enter procedure: no step, no phase, no confirmation, no half-done
  // reading is left for the next connection to act on (used by every reset).
  void abandonProcedures();
  // The procedure that a value of enterStep belongs to; nullopt for 0 (none).
  static std::optional<TarnProcedure> procedureOf(std::int16_t step);
  // A procedure ended whole: the views hear of it (the window beeps).
  void endProcedure(TarnProcedure which);

  // ---- measurements (RigTarnMeasure.cpp) ----
  // One step of the live measurement and of a pass; from every task().
  void measureTask();
  // A setting the measurements depend on changed: the bench waits its settle time, and a
  // measurement asked for before the change is not shown.
  void measurementsChanged();
  // The live measurement starts anew (a change, another row): nothing older is shown.
  void restartMeasurement();
  ItemMeasurement itemMeasurement(std::int16_t row, const Measurement& m) const;
  void finishPass(const std::string& why);

  // ---- unattended alignment (RigTarnAuto.cpp) ----
  struct TuneTarget {
    Role role = Role::PowerMeter;
    double target = 0.0, lower = 0.0, upper = 0.0;  // in the limit's unit
    double offset = 0.0;  // taken off each measurement first (TXF's second frequency)
  };
  struct Tune {
    enum class Stage { Applying, Measuring, Waiting };
    std::int16_t row = -1;
    TuneTarget target;
    std::int16_t start = 0, setting = 0;
    Stage stage = Stage::Applying;
    std::vector<std::pair<std::int16_t, double>> points;  // setting, measured value
    ItemMeasurement last;
    std::int32_t noReadingSince = 0, waitedMs = 0;
    clsCmcTick retry;
    std::function<void(const TuneResult&)> done;
    explicit Tune(const TickSource& clock) : retry(clock) {}
  };
  struct Generator {
    bool setting = false, ready = false, failed = false;
    double hz = 0.0, dbm = 0.0;
    std::string why, details;
    clsCmcTick settle;
    explicit Generator(const TickSource& clock) : settle(clock) {}
  };
  struct Align {
    struct Step {
      std::string name;
      std::int16_t row = -1;
      AlignStep result;
    };
    std::vector<Step> steps;
    std::size_t next = 0;
    bool running = false;
    TarnProcedure procedure = TarnProcedure::Txf;
    std::function<void(bool, const std::string&, const ItemMeasurement&, int)> procedureDone;
    std::function<void(std::vector<AlignStep>)> done;
  };
  std::optional<TuneTarget> tuneTargetOf(std::int16_t row) const;
  void startTune(std::int16_t row, const TuneTarget& target, std::function<void(const TuneResult&)> done);
  bool tuneApplied() const;
  void tuneTask();
  void tuneMeasured(const Measurement& m);
  void endTune(bool ok, const std::string& why, bool sendBackStart);
  bool generatorAt(double hz, double dbm);
  void generatorOff();
  double receiveHz() const;
  double sweepLevelDbm() const;
  bool receiveSignalReady(double dbm);
  void txfAutoTask();
  void alignTask();
  void alignProcedureEnded(TarnProcedure which, bool completed, const std::string& why);
  // Any tune or Align All under way ends as failed with the reason (a reset).
  void abandonAutomation(const std::string& why);

  // ---- panels and failures (RigTarnPanels.cpp) ----
  // Tells the views which panel to show when it changed (or after a reset).
  void refreshPanels();
  template <class F>
  void tellViews(F&& f) {
    for (TarnView* v : views_) f(*v);
  }

  // Collaborators.
  std::vector<TarnView*> views_;
  tk::ListBox* consoleList_ = nullptr;
  clsCmcDornSequence* seq_;
  clsCmcRadio* radio_;
  clsConsole* console_;
  frmCom* com_;
  const TickSource* clock_;
  std::string portText_;
  std::string lastCloneError_;
  std::optional<TarnPanels> panelsShown_;
  std::unique_ptr<clsIndEep_RigTarn> eep_;

  // Controller state.
  std::int16_t comPortNo_ = 1;
  TarnState opState_ = TarnState::Idle;
  bool stateEntry_ = true;
  bool errorLatch_ = false;
  std::int16_t enterStep_ = 0;
  bool reloadRequest_ = false;
  bool monitorPass_ = false;
  bool dispParaRequest_ = false;
  Bytes modelId_;
  std::array<std::int16_t, 22> tempBorder_{};
  std::array<float, 22> txfCoef_{};
  std::int32_t waitE8Pending_ = 0;
  clsCmcTick waitTick_;
  std::optional<TarnState> holdBefore_;
  bool held_ = false;
  // The next clone read completes into Idle (RigOpFunc_ReadImage).
  bool readOnly_ = false;

  // Console rows.
  std::int16_t idxChNo_ = 0, idxTxf_ = 0, idxRssi_ = 0, idxCal_ = 0, idxBpfT1_ = 0, idxBpfSweep_ = 0,
               idxBpfAll_ = 0;

  // Channels.
  std::int16_t selChannel_ = 0;
  std::array<std::int16_t, 41> chList_{};
  std::int16_t chCount_ = 1;
  std::int32_t nameBase_ = 0, chBase_ = 0, rxBase_ = 0, txBase_ = 0;

  // Monitors.
  std::array<std::int16_t, 5> adLast_{};
  std::array<std::int16_t, 10> daLast_{};
  std::array<std::int16_t, 5> adChannel_{};
  std::array<std::int16_t, 10> daChannel_{};

  // TXF procedure.
  std::array<float, 22> txfTable_{};
  std::array<float, 22> txfSlope_{};
  double txfAtTemp_ = 0;
  double txfOffset_ = 0;  // a whole number; kept wide so extreme tables saturate, never overflow
  std::int16_t txfFirst_ = 0, txfSecond_ = 0;
  bool txfAgain_ = false, txfPhase2_ = false, txfComputed_ = false;
  bool txfReading_ = false;
  std::int16_t txfLastSegment_ = -1;
  std::int16_t txfLastSetting_ = 0;
  std::int16_t txfFirstEntry_ = 0, txfLastEntry_ = 0;
  bool txfAgainAtStart_ = false;

  // The answer to the monitor request in flight, handed over by the sequencer.
  std::optional<Bytes> monitorAnswer_;

  // RSSI and CAL procedures.
  bool rssiAgain_ = false, rssiLowPhase_ = false, rssiReading_ = false, rssiStored_ = false;
  bool calAgain_ = false, calNarrowPhase_ = false, calSent_ = false;
  int calPointsSent_ = 0;

  // The bench's measurements.
  InstrumentBench* bench_ = nullptr;
  LimitsSetup limits_;
  std::int16_t measuredRow_ = -1;
  bool measureInFlight_ = false;
  std::uint32_t measureGeneration_ = 0;
  clsCmcTick measurePause_;
  struct MeasurePass {
    std::vector<std::int16_t> rows;
    std::size_t next = 0;
    bool sent = false;
    bool inFlight = false;
    std::vector<ItemMeasurement> results;
    std::function<void(std::vector<ItemMeasurement>)> done;
  };
  std::optional<MeasurePass> pass_;

  // Unattended alignment.
  std::optional<Tune> tune_;
  Generator gen_;
  std::string genLine_;   // what the generator does, on the row of the procedure it serves
  bool rxAuto_ = false;   // the running RSSI or BPF procedure drives the generator
  bool txfAuto_ = false;  // the running TXF procedure tunes with the counter
  std::optional<Align> align_;

  // A restore's values that are not items, still to go out; a restore is under way.
  std::deque<RestoreSend> restoreQueue_;
  bool restoreRunning_ = false;

  // BPF sweeps.
  std::array<bool, 5> bpfSelected_{};
  bool bpfAll_ = false;
  std::int16_t bpfRefLevel_ = 0;
  bool bpfReading_ = false;
  std::int16_t bpfSubStep_ = 0;
  std::int16_t bpfFilter_ = 0;
  std::int16_t bpfBest_ = -1;
  std::int16_t bpfFirstBest_ = 0, bpfLastBest_ = 0;
  // The setting sent for the reading the sweep waits for.
  std::int16_t bpfSentValue_ = 0;
};

}  // namespace tarnset
