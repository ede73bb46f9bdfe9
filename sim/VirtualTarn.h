#pragma once
// The virtual KV-Tarn transceiver: its side of the cloning link and its live state.
//
// The radio answers the program's frames (FE FE EE EF <cmd> ... FD) with its own
// (FE FE EF EE <cmd> ... FD): identification (E0 -> E1), clone read (E2 -> E4 records and
// E5), clone write (E3, E4 records, E5 -> E6) and E8 commands (monitor requests are
// answered, every other E8 changes its state silently). It runs its line at 9600 baud and
// switches to 38400 when asked with E8 01 value 09, back to 9600 by itself when its clone
// read stream has left. Time is the caller's: every call carries the time in
// microseconds, and the radio's bytes are paced at 10 bits per byte at its own baud.
//
// Used in-process by tests and by a loopback port, and on a pseudo-terminal by kv-tarn-sim.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/FrameCutter.h"
#include "sim/TarnImage.h"
#include "sim/TarnPhysics.h"
#include "sim/UartLine.h"

namespace kvsim {

// A misbehaviour of the radio or the cable, for practising the program's error handling.
struct Fault {
  enum Kind {
    Silent,           // answers nothing and acts on nothing
    WrongModel,       // identifies itself with another model code
    SubModel0101,     // identifies itself with sub-model 0101
    Version02,        // format version byte 02 in the identification
    Version04,        // format version byte 04 in the identification
    BadChecksum,      // clone read record k carries a wrong checksum
    BadCount,         // the clone read's end frame announces a wrong record count
    OutsideImage,     // clone read record k carries an address beyond the image
    SilenceAfter,     // the clone read stream stops after record k
    RepeatRecord,     // clone read record k is sent again in place of record k + 1
    Noise,            // stray bytes (never FE or FD) before every frame the radio sends
    Echo,             // one-wire cable: every byte the program sends comes back to it
    MonitorLength,    // monitor answers one byte too long
    MonitorIdentity,  // monitor answers with another model code
    MonitorNonHex,    // monitor answers whose value bytes are not hex digits
    LateAnswer        // the first monitor answer leaves 1.4 s late (once)
  } kind;
  // Record index k (0 = address 0000) for BadChecksum / OutsideImage / SilenceAfter /
  // RepeatRecord: the position in the clone read stream, counted from 0.
  int record = 0;
};

// Parses a fault name: "silent", "wrong-model", "sub-model-0101", "version-02", "version-04",
// "bad-checksum=K", "bad-count", "outside-image=K", "silence-after=K", "repeat-record=K",
// "noise", "echo", "monitor-length", "monitor-identity", "monitor-nonhex", "late-answer";
// nullopt when it is
// none of them. It does not check K against the stream (optionsError does).
std::optional<Fault> parseFault(const std::string& name);
// The name parseFault reads back into the same fault.
std::string faultName(const Fault& fault);

struct Options {
  std::string subModel = "0100";  // four hex digits
  std::vector<Fault> faults;
  bool pacing = true;            // false: output at once, no line-rate timing
  double temperatureC = 25.0;    // the radio's temperature at the start
  double driftCPerMinute = 0.0;  // slow temperature drift when asked for
  int sdNoise = 0;               // +-N counts of noise on the SD reading, 0 = none
  std::uint32_t seed = 1;        // for noise: runs are reproducible
  std::optional<Bytes> image;    // 15968 bytes; default: defaultImage()
  double signalLevelDbu = 10.0;  // the signal generator's level at the antenna
  // 16-byte records of the radio's memory that a clone read sends (its identification
  // announces the end after the last of them): 1..998, fewer for a radio whose memory
  // ends early. The image keeps its 15968 bytes; the rest is simply never sent.
  int records = 998;
};

// Why a radio cannot be built with these options, in one line; empty when it can. Refused:
// a sub-model that is not four hex digits or has a byte FE or FD (they mark frames and
// cannot travel inside one), an image that is not 15968 bytes, a temperature, drift or
// signal level that is not a number, negative SD noise, a fault record index outside the
// clone read stream (0..997; repeat-record 0..996), and faults that could never show:
// anything but echo beside silent, version-02 with version-04, sub-model-0101 with another
// sub-model, two different silence-after points, and a stream fault at or after the point
// where silence-after stops the stream (bad-count, bad-checksum / outside-image after it,
// repeat-record whose copy would come after it).
std::string optionsError(const Options& opt);

// A frame that crossed the link, as the radio saw it.
struct FrameRecord {
  std::int64_t atUs = 0;  // received: when its last byte arrived; sent: when its first byte left
  bool fromRadio = false;
  std::int32_t baud = 0;  // the radio's baud at that moment
  Bytes bytes;            // the whole frame as on the wire, FE FE ... FD
  // The command byte (E0, E1, ...), 0 for a frame too short to carry one.
  std::uint8_t command() const { return bytes.size() > 4 ? bytes[4] : 0; }
  // An E8 command to the radio decoded: its code and the value its two hex characters carry.
  struct E8 {
    int code;
    int value;
  };
  std::optional<E8> e8() const;
};

class VirtualTarn {
 public:
  static constexpr std::int32_t kLowBaud = 9600;
  static constexpr std::int32_t kHighBaud = 38400;
  static constexpr std::int64_t kAnswerLatencyUs = 3000;  // from a request's last byte to the answer
  static constexpr std::int64_t kSpeedSwitchUs = 4000;    // from E8 01 value 09 to the line at 38400
  static constexpr int kRecordSize = 16;                  // data bytes per clone read record
  static constexpr int kRecordCount = eep::kImageSize / kRecordSize;
  // E6 status bytes of a clone write.
  static constexpr std::uint8_t kWriteAccepted = 0x00;
  static constexpr std::uint8_t kWriteBadRecord = 0x01;  // not hex, wrong size or checksum
  static constexpr std::uint8_t kWriteOutside = 0x02;    // a record beyond the image
  static constexpr std::uint8_t kWriteBadEnd = 0x03;     // the end frame lacks the maker text
  static constexpr std::size_t kFrameHistory = 4096;     // frames kept for frames()

  // Throws std::invalid_argument with optionsError's reason for options it cannot serve
  // (the caller checks what users type).
  explicit VirtualTarn(Options opt = {});

  // The program's side of the line: whether its port is open and at which baud it runs.
  // While it is closed nothing the radio sends reaches it (the bytes are lost, as on a real line).
  void setProgramLine(bool open, std::int32_t baud);
  // The same, at a time: bytes complete before nowUs are settled under the old state first.
  void setProgramLine(bool open, std::int32_t baud, std::int64_t nowUs);
  // Bytes that have arrived complete at the radio's receiver at time nowUs (microseconds,
  // any monotonic origin), sent back to back at the program's baud. If that differs from the
  // radio's own baud, the radio's UART sees garbage instead, as a real UART would.
  void receive(const Bytes& data, std::int64_t nowUs);
  // Advances the radio to nowUs and returns the bytes that have arrived complete at the
  // program's side by then (paced at the radio's baud, 10 bits per byte, unless pacing is
  // off; garbled when the bauds differ).
  Bytes transmit(std::int64_t nowUs);
  // When the next byte will be complete at the program's side (nullopt: nothing waits).
  std::optional<std::int64_t> nextTransmitUs() const;
  // The radio's own line speed: 9600 or 38400.
  std::int32_t baud() const { return radioBaud_; }
  // The radio's EEPROM as it is now.
  const Bytes& image() const { return image_; }
  // Receives one line per frame and per event (time in ms, direction, baud, bytes in hex).
  void setLogSink(std::function<void(const std::string& line)> sink) { log_ = std::move(sink); }

  // Readouts.
  // Selected channel slot (0-based).
  int selectedSlot() const { return slot_; }
  // The adjustment mode was switched on (E8 02 value 1).
  bool adjustmentMode() const { return adjustMode_; }
  // Calibration points taken (E8 02 value 64 / 128).
  bool calWideTaken() const { return calWide_; }
  bool calNarrowTaken() const { return calNarrow_; }
  // The stored value behind an E8 code (signed for the filters and the compensation slopes);
  // nullopt for a code that stores nothing.
  std::optional<int> itemValue(int e8Code) const;
  // Compensation table entry k (0..39) as stored.
  std::uint8_t txfEntry(int k) const;
  // The temperature now and its thermistor reading.
  double temperatureC() const { return physics_.temperatureC(); }
  int temperatureRaw() const { return TarnPhysics::thermistorRaw(physics_.temperatureC()); }
  // The transmitter of the selected channel: frequency, error in Hz and ppm.
  TxReport transmitter() const { return physics_.transmitter(image_, slot_); }
  // What monitor channel ch reads now, without noise.
  int monitorReading(int ch) const { return physics_.monitorExact(ch, image_, slot_); }
  // The last frames received and sent (at most kFrameHistory).
  const std::deque<FrameRecord>& frames() const { return frames_; }
  // The adjustment item the program addressed last with an E8 command (its code), also
  // when the value it sent was the one the radio held: in adjustment mode the radio puts
  // that item on test (its transmitter runs at that power level, with that modulation).
  // And how many item commands it has received, to notice a repeat of the same item.
  std::optional<int> lastItemCode() const { return lastItemCode_; }
  std::uint64_t itemCommands() const { return itemCommands_; }
  // Frames recorded since the start, also those the bounded history has let go.
  std::uint64_t framesRecorded() const { return framesRecorded_; }
  // A clone read stream is running.
  bool streaming() const { return stream_.active; }
  // Status of the last clone write's E6 answer, nullopt before any.
  std::optional<std::uint8_t> lastWriteStatus() const { return lastWriteStatus_; }

  // Environment: the radio's temperature (drift continues from it) and the test signal.
  void setTemperatureC(double celsius) { physics_.setTemperatureC(celsius); }
  void setSignalLevelDbu(double dbu) { physics_.setSignalLevelDbu(dbu); }
  // Another radio on the same cable: its EEPROM holds image (15968 bytes, else
  // std::invalid_argument).
  void setImage(const Bytes& image);
  // Another radio on the same cable, with its own sub-model code and memory end (the
  // options' subModel and records, checked as optionsError checks them, else
  // std::invalid_argument).
  void setRadio(const Bytes& image, const std::string& subModel, int records);

  // Switches a test throws while the radio runs.
  // Falls silent (true) or answers again (false), at the radio's present time (the latest
  // time it was given). While silent it answers nothing and acts on nothing, as with the
  // silent fault: frames are still received, kept in frames() and logged. Falling silent
  // drops the answers not yet begun, abandons a clone write, and stops a running clone read
  // stream after the record on the wire (then the line returns to 9600 as after the stream's
  // end). Logs "SILENT on" / "SILENT off" when the state changes. The silent fault stays in
  // force whatever this says.
  void setSilent(bool silent);
  // The same at time nowUs: everything due before it happens first.
  void setSilent(bool silent, std::int64_t nowUs);
  // The switch set by setSilent (not the silent fault).
  bool silent() const { return silent_; }
  // The next answer to a monitor request (E8 code 03) that the radio sends carries value
  // bytes that are not hex digits, as with the monitor-nonhex fault but once; the answers
  // after it are good again. An answer already scheduled but not yet begun is the one
  // spoiled; arming again before it has gone changes nothing. Logged when armed and when used.
  void spoilNextMonitorAnswer();
  // A spoiled monitor answer is armed and has not gone yet.
  bool monitorAnswerSpoilArmed() const { return spoilMonitor_; }
  // The next answer to a monitor request leaves delayUs later than it would (by default
  // past the program's 1.2 s answer wait, so that the program sends the request again);
  // the answers after it are on time again, so the radio answers the request twice, the
  // late one last. Logged when armed and when used; arming again before it has gone
  // changes nothing but the delay.
  static constexpr std::int64_t kLateAnswerUs = 1400000;
  void delayNextMonitorAnswer(std::int64_t delayUs = kLateAnswerUs);
  bool lateAnswerArmed() const { return lateAnswerUs_ > 0; }

 private:
  struct Event {
    enum Kind { SendFrame, SwitchBaud, StartStream } kind;
    Bytes frame;            // SendFrame: body (EF EE cmd ...), without preamble and FD
    std::int32_t baud = 0;  // SwitchBaud
  };
  struct Stream {
    bool active = false;
    int next = 0;  // next record index
  };
  struct WriteSession {
    bool active = false;
    Bytes staging;
    std::uint8_t status = 0;
    int records = 0;
  };

  bool has(Fault::Kind kind) const;
  bool hasAt(Fault::Kind kind, int record) const;
  bool answering() const { return !silent_ && !has(Fault::Silent); }
  std::int64_t toNs(std::int64_t us) const { return us * 1000; }
  std::int64_t delayNs(std::int64_t us) const { return opt_.pacing ? us * 1000 : 0; }

  void advanceTo(std::int64_t nowNs);
  void runEvent(std::int64_t atNs, const Event& ev);
  void emitStreamFrame(std::int64_t atNs);
  void deliverTx(std::int64_t limitNs);
  void receiveRx(std::int64_t limitNs);
  void schedule(std::int64_t atNs, Event ev);
  void queueFrame(const Bytes& body, std::int64_t atNs);

  void handleFrame(const Bytes& body, std::int64_t atNs);
  void handleE8(const Bytes& body, std::int64_t atNs);
  void handleWriteRecord(const Bytes& body, std::int64_t atNs);
  void handleWriteEnd(const Bytes& body, std::int64_t atNs);
  bool identityMatches(const Bytes& body) const;

  Bytes identification() const;
  int recordSource(int position) const;
  Bytes readRecord(int position) const;
  Bytes endFrame() const;

  void remember(std::int64_t atNs, bool fromRadio, const Bytes& wire);
  void log(std::int64_t atNs, const std::string& text) const;
  void logTransmitter(std::int64_t atNs, bool always);

  Options opt_;
  Bytes image_;
  TarnPhysics physics_;
  std::uint8_t model_[2] = {0x26, 0x51};
  std::uint8_t subModel_[2] = {0x01, 0x00};
  std::uint8_t version_ = 0x03;

  FrameCutter cutter_;
  UartLine tx_;  // radio -> program
  UartLine rx_;  // program -> radio
  std::int32_t radioBaud_ = kLowBaud;
  bool programOpen_ = false;
  std::int32_t programBaud_ = kLowBaud;
  std::int64_t nowNs_ = 0;
  bool clockStarted_ = false;
  Bytes delivered_;
  std::multimap<std::int64_t, Event> events_;
  Stream stream_;
  WriteSession write_;
  std::optional<std::uint8_t> lastWriteStatus_;
  std::mt19937 lineNoise_;
  bool silent_ = false;
  bool spoilMonitor_ = false;
  std::int64_t lateAnswerUs_ = 0;
  std::uint64_t framesRecorded_ = 0;
  std::optional<int> lastItemCode_;
  std::uint64_t itemCommands_ = 0;

  int slot_ = 0;
  bool adjustMode_ = false;
  bool calWide_ = false;
  bool calNarrow_ = false;
  std::optional<long> lastLoggedErrorHz_;

  std::deque<FrameRecord> frames_;
  std::function<void(const std::string&)> log_;
};

}  // namespace kvsim
