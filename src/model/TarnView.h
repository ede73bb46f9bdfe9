#pragma once
// What the KV-Tarn model tells the views that show it: the window's form and the headless
// companion are two such views, and the service record is a third. The model never writes
// into a window; it says what happened, and each view shows or records it in its own way.
//
// Every notification has an empty default, so that a view implements only what it shows.
// Notifications arrive on the one thread, from inside the model's operations: a view
// must not call back into the model's operations from them (it may read its state).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "instruments/LimitsFile.h"

namespace tarnset {

// The two monitor lists: the four A/D lines and the nine D/A lines.
enum class MonitorBank : std::int16_t { AnalogToDigital = 0, DigitalToAnalog = 1 };

// Lines of each monitor list, its header and the text of a line not read yet.
constexpr std::int16_t kMonitorLines[2] = {4, 9};
inline const char* const kMonitorHeader[2] = {"[A/D]", "[D/A]"};
inline const char* const kMonitorNotRead = "----";

// The panel the window shows, and which of the three buttons may be used.
enum class TarnPanel : std::int16_t {
  Start,       // title and clone-read progress (not connected, or reading)
  Adjust,      // monitors and console (connected)
  Parameters,  // the parameter listing
};

struct TarnPanels {
  TarnPanel panel = TarnPanel::Start;
  bool connectEnabled = true;
  bool reloadEnabled = false;
  bool dispParaEnabled = false;
  // "Disp para" is the default and the cancel button (Return and Escape leave the listing).
  bool dispParaIsDefault = false;

  bool operator==(const TarnPanels&) const = default;
};

// One line of the parameter listing: its label, right-aligned with its ": ", and its
// value padded to its field, exactly as the listing shows them.
struct ParameterLine {
  std::string label;
  std::string value;

  // The line as the listing shows it.
  std::string text() const { return label + value; }
  // The label without its padding and colon ("POW HI Level").
  std::string name() const;
  // The value without its padding ("203", "437.500MHz").
  std::string valueText() const;
};

// A measurement of the bench that belongs to an alignment item: the power meter's for the
// power levels, the deviation meter's for the modulation items, the counter's (the
// carrier and its error) for TXF and the channel.
struct ItemMeasurement {
  enum class Verdict { None, Pass, Fail };
  std::int16_t row = -1;
  std::string item;      // the console title without its leading blanks ("Power(Hi)")
  std::string quantity;  // "Power", "Deviation", "Carrier"
  bool taken = false;    // false: missing (or not yet taken); text and details say why
  // The value in the limit's unit when the item has a limit, else W, kHz or Hz of error.
  double value = 0.0;
  std::string text;     // as a technician reads it: "25.3 W", "449.999760 MHz, error -240 Hz (-0.53 ppm)"
  std::string details;  // the instrument's answer and what to check, for a missing one
  std::optional<ItemLimit> limit;
  Verdict verdict = Verdict::None;
  std::int32_t tickMs = 0;  // when it was taken

  // "PASS", "FAIL", or empty without a limit or a value.
  const char* verdictText() const {
    return verdict == Verdict::Pass ? "PASS" : verdict == Verdict::Fail ? "FAIL" : "";
  }
  // The limits as a technician reads them ("24 .. 26 W"), empty without a limit.
  std::string limitText() const;
  // The measurement, its limits and its verdict on one line.
  std::string line() const;
};

// How tuning an item to its target ended (F9, or a step of Align All).
struct TuneResult {
  std::int16_t row = -1;
  std::string item;
  bool ok = false;  // inside its limits
  std::string why;  // why not, empty when ok
  int measurements = 0;
  ItemMeasurement last;  // the last measurement taken
};

// One step of Align All and how it ended.
struct AlignStep {
  std::string name;  // "TXF", "Power(Hi)", ..., "RSSI", "BPF ALL"
  bool ok = false;
  std::string why;  // why it did not pass (empty when it did)
  ItemMeasurement last;
  int measurements = 0;
};

// What Align All does.
enum class AlignScope { Receive, Transmit, All };

// The Enter procedures, for their start and end.
enum class TarnProcedure : std::int16_t { Txf, Rssi, Cal, BpfSweep };

// A failed link as the views report it.
struct LinkFailure {
  // The message, lines joined by CR LF.
  std::string message;
  // Its details: the device, why, the next step; may be empty.
  std::string details;
  // Why the port could not be opened; None when it opened (the failure came later).
  PortFailure::Kind openFailure = PortFailure::Kind::None;
};

class TarnView {
 public:
  virtual ~TarnView() = default;

  // The model was reset (a new connection, a port change, a failure): every monitor line
  // shows kMonitorNotRead again and the progress line is empty.
  virtual void modelReset() {}
  // A monitor line has a new reading (raw 0..255) and text (line 0-based in its bank).
  virtual void monitorLineChanged(MonitorBank /*bank*/, std::int16_t /*line*/, std::int16_t /*raw*/,
                                  const std::string& /*text*/) {}
  // A clone read starts: the radio's image is read anew.
  virtual void readStarted() {}
  // A clone read is under way: the last address received, of endAddress.
  virtual void readProgress(std::int32_t /*lastAddress*/, std::int32_t /*endAddress*/) {}
  // A clone read completed whole; the console shows the radio's values.
  virtual void readCompleted() {}
  // The panel to show or the buttons' state changed.
  virtual void panelsChanged(const TarnPanels& /*panels*/) {}
  // The parameter listing to show (the parameter panel opens).
  virtual void parameterListing(const std::vector<ParameterLine>& /*lines*/) {}
  // A console row's value went out to the radio (its E8 command was sent whole).
  virtual void itemSent(std::int16_t /*row*/, std::int16_t /*value*/) {}
  // A value went out to the radio whole and is now the image's byte at address (an
  // item's, a TXF entry, an RSSI point, a restored value).
  virtual void valueSent(std::int32_t /*address*/, std::uint8_t /*value*/) {}
  // A restore's values have all gone out (completed false: a reset cut it off first).
  virtual void restoreEnded(bool /*completed*/) {}
  // An Enter procedure started, or ended whole (completed false: it was abandoned).
  virtual void procedureStarted(TarnProcedure /*which*/) {}
  virtual void procedureEnded(TarnProcedure /*which*/, bool /*completed*/) {}
  // A procedure stopped before it wrote something it must not: the message and details
  // say why (it has ended, abandoned, and the radio holds nothing of what it stopped).
  virtual void procedureRefused(TarnProcedure /*which*/, const std::string& /*message*/,
                                const std::string& /*details*/) {}
  // The measurement that belongs to the console row the technician has selected, taken
  // again and again while it stays selected (row -1: the row has none, or no instrument
  // measures it). One that is not taken yet after a change says so; none is shown that was
  // taken before the last change.
  virtual void measurementChanged(const ItemMeasurement& /*m*/) {}
  // Tuning an item to its target ended.
  virtual void tuneEnded(const TuneResult& /*r*/) {}
  // A step of Align All ended: done of total steps are over.
  virtual void alignProgress(const AlignStep& /*step*/, std::size_t /*done*/, std::size_t /*total*/) {}
  // The link failed (the model has been reset already).
  virtual void linkFailed(const LinkFailure& /*f*/) {}
};

}  // namespace tarnset
