#include "FaultCampaign.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <functional>
#include <iomanip>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>

#include "ProgramHarness.h"
#include "base/Common.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "model/ServiceReport.h"
#include "model/TarnView.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/ServiceDesk.h"
#include "shell/frmMain.h"
#include "sim/TarnImage.h"
#include "sim/TarnPhysics.h"

namespace tarnset::testing {
namespace {

// Console rows, and the E8 code each row's value travels with (-1: none), as the radio
// knows its codes.
constexpr std::int16_t kRowChannel = 0, kRowBpfAll = 9, kRowBpfT1 = 10, kRowTxf = 14, kRowRssi = 15,
                       kRowCal = 16, kRows = 17;
constexpr int kRowCode[kRows] = {0x00, 0x05, 0x06, 0x07, 0x0A, 0x08, 0x09, 0x11, 0x04,
                                 -1,   0x0C, 0x0D, 0x0E, 0x0F, -1,   -1,   -1};
constexpr int kCodeRssiL0 = 0x12, kCodeRssiL2 = 0x13, kCodeTxf0 = 0x14, kCodeTxfLast = 0x3B;

constexpr std::int32_t kStepMs = 20;                   // frames are judged at least this often
constexpr std::int32_t kBudgetMs = 20 * 60 * 1000;     // a run that needs longer hangs
constexpr std::int32_t kConnectLimitMs = 60 * 1000;    // a Connect ends within this
constexpr std::int32_t kOperationLimitMs = 30 * 1000;  // and so does every operation of the link
constexpr std::int32_t kGeneratorOffMs = 3000;         // the RF goes off within this after its procedure
constexpr int kImageSize = kvsim::eep::kImageSize;

struct Stop {};  // the run is over (its budget spent)

// A radio that can be put on the cable: its memory, sub-model code and memory end.
struct RadioUnit {
  kvsim::Bytes image;
  std::string subModel;
  int records = 998;
};

// A fault strikes at a moment of the run, or a little after the first frame of a kind
// that crosses the line from then on (the protocol's tight spots: an identification asked
// for or on its way, a clone read asked for, under way or ending, a monitor answer, an E8
// command sent).
struct PendingFault {
  std::int32_t atMs;  // when it strikes, or from when on it waits for its frame
  CampaignFault kind;
  bool ends = false;  // the end of a silence or of refused writes
  bool fromRadio = false;
  std::uint8_t command = 0;  // the frame it waits for after atMs; 0: none
  std::int32_t delayMs = 0;  // from that frame on (or from the start of a procedure)
  bool whenBusy = false;     // after atMs it waits until a procedure, a tune or Align All runs
};

bool byTime(const PendingFault& a, const PendingFault& b) {
  return a.atMs < b.atMs;
}

const char* procedureName(TarnProcedure p) {
  static const char* const kNames[] = {"TXF", "RSSI", "CAL", "the BPF sweep"};
  return kNames[static_cast<std::size_t>(p)];
}

std::string hex2(int v) {
  return ByteToHex(static_cast<std::int16_t>(v & 0xFF));
}

class Run final : public TarnView {
 public:
  Run(std::uint64_t seed, std::ostream* log) : seed_(seed), log_(log), rng_(seed), h_(harnessOptions()) {
    h_.program().controller().addView(this);
    h_.toolkit().setQuestionHook([this](const HeadlessToolkit::Message& m) { return answer(m); });
    h_.toolkit().setFileChooserHook([this](const HeadlessToolkit::FileRequest&) { return reportPath(); });
    h_.toolkit().setMessageBoxHook([this](const HeadlessToolkit::Message& m) {
      say("message: " + m.text.substr(0, m.text.find('\r')));
      if (bench_ && m.text.find("Release the transmitter") != std::string::npos && chance(90)) key(false);
    });
    held_ = h_.radio().image();
  }
  ~Run() override { h_.program().controller().removeView(this); }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  RunResult go();

  // What the program tells its views: the shadow follows resets, reads and failures.
  void modelReset() override;
  void readCompleted() override;
  void procedureStarted(TarnProcedure which) override;
  void procedureEnded(TarnProcedure which, bool completed) override;
  void restoreEnded(bool completed) override;
  void linkFailed(const LinkFailure& f) override;
  void tuneEnded(const TuneResult& r) override;

 private:
  // ---- randomness (mt19937_64 is the same everywhere; its output is used directly) ----
  int uniform(int lo, int hi) {
    return lo + static_cast<int>(rng_() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool chance(int percent) { return uniform(0, 99) < percent; }

  HarnessOptions harnessOptions();
  RadioUnit anotherRadio(int n);

  // ---- time ----
  void pause(std::int32_t ms);
  bool waitUntil(const std::function<bool()>& done, std::int32_t maxMs);
  void step(std::int32_t ms);
  void throwDueFaults();
  double seconds() const { return h_.nowMs() / 1000.0; }
  void say(const std::string& what) {
    if (log_ != nullptr)
      *log_ << std::fixed << std::setprecision(3) << std::setw(9) << seconds() << "  " << what << "\n";
  }
  void violate(int invariant, const std::string& what);

  // ---- the technician ----
  void act();
  void connect();
  void press(std::int16_t row, std::int16_t key, bool shift);
  void enter(std::int16_t row) { press(row, tk::Key::Enter, false); }
  void runTxf();
  void runTwoPoints(std::int16_t row, std::int32_t settleMs);
  void actOnBench();
  void tune();
  void alignAll();
  void key(bool on);
  bool chooseMenu(const std::string& path);
  bool answer(const HeadlessToolkit::Message& m);
  std::string reportPath();
  void finish();

  // ---- faults ----
  void planFaults();
  void throwFault(const PendingFault& f);
  void swapRadio();
  void throwInstrumentFault(CampaignFault kind);
  void armBusyFaults();
  void schedule(const PendingFault& f);
  void release(const std::function<bool(const PendingFault&)>& came);
  std::size_t benchBytes();
  void noteFaultsMet();

  // ---- the shadow and the invariants ----
  void drain();
  void judge(int code, int value);
  void checkRange(const kvsim::FrameRecord& f);
  void checkGenerator();
  bool running(TarnProcedure p) const { return running_[static_cast<std::size_t>(p)]; }
  void afterOutput(std::function<void()> news);
  void forget(TarnProcedure which);
  bool sweepStep(std::size_t filter, int value);
  void resetShadow();
  bool listShown();
  bool connected();
  bool quiet();
  kvsim::Bytes programImage() { return h_.program().radio().eepImage().ReadBlock(0, kImageSize); }
  const kvsim::Bytes& imageOf(int radio) {
    return radio == onCable_ ? h_.radio().image() : radios_.at(static_cast<std::size_t>(radio)).image;
  }
  std::string asLeftMismatch(const kvsim::Bytes& program, int radio);
  void checkImage();
  void checkAsLeft();

  std::uint64_t seed_;
  std::ostream* log_;
  std::mt19937_64 rng_;
  std::vector<RadioUnit> radios_;
  int repeatRecord_ = -1;  // the repeated clone record of every radio, -1: none
  bool bench_ = false;     // the virtual bench is the program's instrument
  RunResult result_;
  ProgramHarness h_;
  bool faultsHeld_ = false;          // a fault is being thrown: no other one until it is done
  std::int32_t operationSince_ = 0;  // the sequencer has been running an operation since
  std::vector<PendingFault> faults_;
  std::vector<PendingFault> armed_;  // faults waiting for their frame

  // The radios: which is on the cable, which was read last, which the as-found image is of.
  int onCable_ = 0;
  int lastRead_ = -1;
  int asFoundRadio_ = -1;
  kvsim::Bytes asFound_;
  std::optional<kvsim::Bytes> deskAsFound_;
  // What the radio on the cable holds before the frame being judged, and its channel.
  kvsim::Bytes held_;
  int heldSlot_ = 0;
  int firstSlot_ = 0;  // the channel a read selects: the first in use in the image read

  // The technician's requests since the last reset of the program.
  bool failed_ = false;  // a link failure was reported; no new connection since
  std::array<bool, kRows> acted_{};
  // The value the program holds for each item: as it read it, or as it last sent it. A
  // measurement sends it again to put the item on test (to whichever radio is on the cable).
  std::array<std::optional<std::uint8_t>, kRows> believed_{};
  kvsim::Bytes read_;  // the image of the last read
  // Enters on each procedure's row since it last ended, and the points it wrote since.
  int txfEnters_ = 0, rssiEnters_ = 0, calEnters_ = 0, rssiPoints_ = 0, calPoints_ = 0;
  // The filters the last Enter on a BPF row asks to sweep, and each filter under a sweep:
  // the values it sends climb from their start by at most 2, then one centre between.
  std::array<bool, 4> sweepAsked_{};
  bool sweepAskedAll_ = false;
  struct Sweep {
    bool on = false, all = false, zero = false, stepping = false, centred = false;
    int first = 0, last = 0;
  };
  std::array<Sweep, 4> sweeps_{};
  bool restoring_ = false;
  // The procedures under way (started and not ended, as the program told), the rows a tune
  // steps, and the value each row had when its last tune started (a failed tune sends it back).
  std::array<bool, 4> running_{};
  std::array<bool, kRows> tuning_{};
  std::array<std::optional<std::uint8_t>, kRows> tuneStart_{};
  // Since when no procedure drives the generator, and when the generator was last silent.
  std::int32_t generatorFreeSince_ = 0, generatorSilentAt_ = -1;
  std::vector<std::function<void()>> news_;  // what the program told, to count once its output is out

  // Faults that may leave the radio holding other than the program believes (silence,
  // refused writes, a vanished port, another radio), counted; the count when the radio
  // sent the end of the last whole read, and which radio that was.
  int imageFaults_ = 0;
  int imageFaultsAtEnd_ = -1, streamRadio_ = 0, imageFaultsAtRead_ = -1;
  bool readSinceFault() const { return imageFaultsAtRead_ == imageFaults_; }
  bool silent_ = false, silenceMet_ = false;
  bool refusing_ = false;
  int refusedAtStart_ = 0;
  bool spoilArmed_ = false, lateArmed_ = false;
  int lineErrorsSeen_ = 0, vanishingsSeen_ = 0;
  // Instrument faults: a silence under way (and the bytes sent to the bench when it began),
  // garbage or a drop waiting for their answer, an error waiting to be asked for.
  bool benchSilent_ = false, garbageArmed_ = false, dropArmed_ = false, errorArmed_ = false;
  std::size_t benchBytes_ = 0, benchBytesAtFault_ = 0, linkBytes_ = 0;
  const BenchLoopback* link_ = nullptr;
  int streamRecords_ = 0;
  int reports_ = 0;
  std::string pendingReport_, reportMismatch_;
};

// ---------------------------------------------------------------------------------------------
// Set-up

HarnessOptions Run::harnessOptions() {
  // Radios of several memory ends (a short one reads in seconds), one of them perhaps
  // with a repeated clone record, the others other radios with their own identity.
  const auto records = [this] { return chance(25) ? 998 : uniform(64, 512); };
  radios_.push_back({kvsim::defaultImage(), "0100", records()});
  for (int n = 1; n <= 2; ++n) radios_.push_back(anotherRadio(n));
  int shortest = 998;
  for (const RadioUnit& r : radios_) shortest = std::min(shortest, r.records);
  HarnessOptions o;
  o.backups = false;
  o.radio.records = radios_[0].records;
  o.radio.temperatureC = uniform(10, 45);
  o.radio.sdNoise = uniform(0, 1);
  o.radio.seed = static_cast<std::uint32_t>(rng_());
  bench_ = chance(50);
  o.bench = bench_;
  o.benchOptions = {uniform(0, 10) / 10.0, static_cast<std::uint32_t>(rng_())};
  if (chance(10)) {
    repeatRecord_ = uniform(0, shortest - 2);
    o.radio.faults.push_back({kvsim::Fault::RepeatRecord, repeatRecord_});
    ++result_.thrown[static_cast<std::size_t>(CampaignFault::RepeatedRecord)];
  }
  return o;
}

RadioUnit Run::anotherRadio(int n) {
  RadioUnit r{kvsim::defaultImage(), chance(70) ? "0100" : (chance(50) ? "0050" : "0101"),
              chance(25) ? 998 : uniform(64, 512)};
  // Its own serial number, and alignment values of its own.
  for (int i = 0; i < 8; ++i)
    r.image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>('0' + (n * 7 + i) % 10);
  for (std::int32_t a : programWrittenAddresses())
    r.image[static_cast<std::size_t>(a)] = static_cast<std::uint8_t>(rng_());
  return r;
}

// ---------------------------------------------------------------------------------------------
// Time

void Run::violate(int invariant, const std::string& what) {
  std::ostringstream s;
  s << "at " << std::fixed << std::setprecision(3) << seconds() << " s: " << what;
  result_.violations.push_back({invariant, s.str()});
  say("VIOLATION of invariant " + std::to_string(invariant) + ": " + what);
}

void Run::step(std::int32_t ms) {
  if (h_.nowMs() + ms > kBudgetMs) {
    violate(4, "the run did not end within its budget of " + std::to_string(kBudgetMs / 1000) + " s");
    throw Stop{};
  }
  h_.advance(ms);
  drain();
  noteFaultsMet();
  armBusyFaults();
  checkAsLeft();
  checkGenerator();
  if (!h_.program().sequencer().OpRunning()) {
    operationSince_ = h_.nowMs();
  } else if (h_.nowMs() - operationSince_ > kOperationLimitMs) {
    violate(4, "an operation of the link has run for " + std::to_string(kOperationLimitMs / 1000) + " s");
    throw Stop{};
  }
}

void Run::pause(std::int32_t ms) {
  while (ms > 0) {
    std::int32_t chunk = std::min(ms, kStepMs);
    if (!faultsHeld_ && !faults_.empty()) chunk = std::clamp(faults_.front().atMs - h_.nowMs(), 1, chunk);
    step(chunk);
    ms -= chunk;
    throwDueFaults();
  }
}

bool Run::waitUntil(const std::function<bool()>& done, std::int32_t maxMs) {
  for (std::int32_t waited = 0; waited < maxMs; waited += 10) {
    if (done()) return true;
    pause(10);
  }
  return done();
}

void Run::throwDueFaults() {
  while (!faultsHeld_ && !faults_.empty() && faults_.front().atMs <= h_.nowMs()) {
    PendingFault f = faults_.front();
    faults_.erase(faults_.begin());
    if (f.command != 0 || f.whenBusy) {  // from now on it waits for its frame or procedure
      armed_.push_back(f);
      continue;
    }
    faultsHeld_ = true;
    throwFault(f);
    faultsHeld_ = false;
  }
}

// ---------------------------------------------------------------------------------------------
// Faults

void Run::planFaults() {
  const int n = uniform(0, 4);
  for (int i = 0; i < n; ++i) {
    static constexpr CampaignFault kThrown[] = {CampaignFault::Silence,     CampaignFault::SpoiltAnswer,
                                                CampaignFault::LateAnswer,  CampaignFault::RefusedWrite,
                                                CampaignFault::LineError,   CampaignFault::PortVanished,
                                                CampaignFault::AnotherRadio};
    static constexpr std::pair<bool, std::uint8_t> kFrames[] = {
        {false, 0xE0}, {true, 0xE1}, {false, 0xE2}, {true, 0xE4}, {true, 0xE5}, {true, 0xE8}, {false, 0xE8}};
    PendingFault f{uniform(500, 60000), kThrown[uniform(0, 6)]};
    if (chance(50)) {
      std::tie(f.fromRadio, f.command) = kFrames[uniform(0, 6)];
      f.delayMs = uniform(0, 60);
    }
    faults_.push_back(f);
  }
  // The bench's faults, mostly while a procedure, a tune or Align All has it at work.
  for (int i = bench_ ? uniform(1, 3) : 0; i > 0; --i) {
    PendingFault f{
        uniform(500, 90000),
        static_cast<CampaignFault>(static_cast<int>(CampaignFault::InstrumentSilent) + uniform(0, 3))};
    f.whenBusy = chance(75);
    f.delayMs = uniform(0, 5000);
    faults_.push_back(f);
  }
  std::sort(faults_.begin(), faults_.end(), byTime);
}

void Run::armBusyFaults() {
  const clsIndOp_RigTarn& c = h_.program().controller();
  if (c.enterStep() == 0 && !c.RigOpFunc_Tuning() && !c.RigOpFunc_Aligning()) return;
  release([](const PendingFault& p) { return p.whenBusy; });
}

void Run::schedule(const PendingFault& f) {
  faults_.push_back(f);
  std::sort(faults_.begin(), faults_.end(), byTime);
}

// The armed faults whose frame or procedure came strike their delay from now.
void Run::release(const std::function<bool(const PendingFault&)>& came) {
  for (auto it = armed_.begin(); it != armed_.end();) {
    if (!came(*it)) {
      ++it;
      continue;
    }
    PendingFault f = *it;
    f.atMs = h_.nowMs() + f.delayMs;
    f.command = 0;
    f.whenBusy = false;
    schedule(f);
    it = armed_.erase(it);
  }
}

void Run::throwFault(const PendingFault& f) {
  drain();  // what went out before the fault is judged before it
  const auto k = static_cast<std::size_t>(f.kind);
  kvsim::VirtualTarn& radio = h_.radio();
  const auto later = [this](std::int32_t ms, CampaignFault kind) { schedule({h_.nowMs() + ms, kind, true}); };
  if (f.ends) {
    if (f.kind == CampaignFault::InstrumentSilent) {
      say("fault: the instrument answers again");
      h_.bench().clearFaults();
      benchSilent_ = garbageArmed_ = dropArmed_ = false;
      if (benchBytes() > benchBytesAtFault_) ++result_.met[k];
    } else if (f.kind == CampaignFault::Silence) {
      say("fault: the radio answers again");
      radio.setSilent(false, h_.nowUs());
      silent_ = false;
      if (silenceMet_) ++result_.met[k];
    } else {
      say("fault: the port takes writes again");
      h_.port().refuseWrites(false);
      refusing_ = false;
      if (h_.port().writesRefused() > refusedAtStart_) ++result_.met[k];
    }
    return;
  }
  if ((f.kind == CampaignFault::Silence && silent_) || (f.kind == CampaignFault::RefusedWrite && refusing_) ||
      (f.kind == CampaignFault::InstrumentSilent && benchSilent_))
    return;  // one episode at a time
  ++result_.thrown[k];
  switch (f.kind) {
    case CampaignFault::Silence:
      say("fault: the radio falls silent");
      silent_ = true;
      silenceMet_ = radio.streaming();
      radio.setSilent(true, h_.nowUs());
      ++imageFaults_;
      later(uniform(200, 6000), f.kind);
      break;
    case CampaignFault::SpoiltAnswer:
      say("fault: the next monitor answer is spoilt");
      radio.spoilNextMonitorAnswer();
      spoilArmed_ = true;
      break;
    case CampaignFault::LateAnswer: {
      const int delay = uniform(1200, 2500);
      say("fault: the next monitor answer leaves " + std::to_string(delay) + " ms late");
      radio.delayNextMonitorAnswer(std::int64_t{delay} * 1000);
      lateArmed_ = true;
      break;
    }
    case CampaignFault::RefusedWrite:
      say("fault: the port refuses writes");
      refusedAtStart_ = h_.port().writesRefused();
      h_.port().refuseWrites(true);
      refusing_ = true;
      ++imageFaults_;
      later(uniform(100, 3000), f.kind);
      break;
    case CampaignFault::LineError: {
      const bool corrupt = chance(50);
      say(std::string("fault: a line error") + (corrupt ? " spoils the next byte" : " at the next byte"));
      h_.port().raiseLineError(corrupt);
      break;
    }
    case CampaignFault::PortVanished:
      say("fault: the port vanishes");
      h_.port().vanish();
      ++imageFaults_;
      break;
    case CampaignFault::AnotherRadio:
      swapRadio();
      ++result_.met[k];
      break;
    case CampaignFault::RepeatedRecord:
      break;
    case CampaignFault::InstrumentSilent:
    case CampaignFault::InstrumentGarbage:
    case CampaignFault::InstrumentError:
    case CampaignFault::InstrumentDrop:
      throwInstrumentFault(f.kind);
      break;
  }
}

void Run::throwInstrumentFault(CampaignFault kind) {
  kvsim::VirtualBench& bench = h_.bench();
  benchBytesAtFault_ = benchBytes();
  switch (kind) {
    case CampaignFault::InstrumentSilent:
      say("fault: the instrument falls silent");
      bench.setFault(kvsim::VirtualBench::FaultKind::Silent);
      benchSilent_ = true;
      schedule({h_.nowMs() + uniform(300, 8000), kind, true});
      break;
    case CampaignFault::InstrumentGarbage:
      say("fault: the instrument's next answer is garbage");
      bench.setFault(kvsim::VirtualBench::FaultKind::Garbage);
      garbageArmed_ = true;
      break;
    case CampaignFault::InstrumentError:
      say("fault: an error enters the instrument's error queue");
      bench.setFault(kvsim::VirtualBench::FaultKind::Error);
      errorArmed_ = true;
      break;
    default:
      say("fault: the instrument drops its connection at the next measurement");
      bench.setFault(kvsim::VirtualBench::FaultKind::Drop);
      dropArmed_ = true;
      break;
  }
}

// What the program has sent to the bench so far, over all its links.
std::size_t Run::benchBytes() {
  const BenchLoopback* link = h_.benchLink();
  if (link == nullptr) return benchBytes_;
  if (link != link_ || link->sent().size() < linkBytes_) {
    link_ = link;
    linkBytes_ = 0;
  }
  const std::string lines = link->sent().substr(linkBytes_);
  benchBytes_ += lines.size();
  linkBytes_ = link->sent().size();
  if (log_ != nullptr && !lines.empty()) say("  instrument gets " + lines.substr(0, lines.size() - 1));
  return benchBytes_;
}

void Run::swapRadio() {
  // The cable comes off one radio and goes onto another: what the first one was sending
  // is cut off (it falls silent until the line is quiet), and the next one answers.
  kvsim::VirtualTarn& radio = h_.radio();
  radio.setSilent(true, h_.nowUs());
  waitUntil([&] { return !radio.nextTransmitUs().has_value(); }, 500);
  drain();
  radios_[static_cast<std::size_t>(onCable_)].image = radio.image();
  onCable_ = (onCable_ + uniform(1, 2)) % 3;
  const RadioUnit& next = radios_[static_cast<std::size_t>(onCable_)];
  say("fault: another radio on the cable: radio " + std::to_string(onCable_) + ", sub-model " +
      next.subModel + ", " + std::to_string(next.records) + " records");
  radio.setRadio(next.image, next.subModel, next.records);
  radio.setSilent(silent_, h_.nowUs());
  held_ = radio.image();
  heldSlot_ = radio.selectedSlot();
  ++imageFaults_;
}

void Run::noteFaultsMet() {
  const auto met = [this](CampaignFault f) { ++result_.met[static_cast<std::size_t>(f)]; };
  if (spoilArmed_ && !h_.radio().monitorAnswerSpoilArmed()) {
    spoilArmed_ = false;
    met(CampaignFault::SpoiltAnswer);
  }
  if (lateArmed_ && !h_.radio().lateAnswerArmed()) {
    lateArmed_ = false;
    met(CampaignFault::LateAnswer);
  }
  for (; lineErrorsSeen_ < h_.port().lineErrorsRaised(); ++lineErrorsSeen_) met(CampaignFault::LineError);
  for (; vanishingsSeen_ < h_.port().vanishings(); ++vanishingsSeen_) met(CampaignFault::PortVanished);
  if (!bench_) return;
  benchBytes();
  const std::string inForce = h_.bench().faults();
  if (garbageArmed_ && inForce.find("GARBAGE") == std::string::npos) {
    garbageArmed_ = false;
    met(CampaignFault::InstrumentGarbage);
  }
  if (dropArmed_ && inForce.find("DROP") == std::string::npos) {
    dropArmed_ = false;
    met(CampaignFault::InstrumentDrop);
  }
  if (errorArmed_ && benchBytes() > benchBytesAtFault_) {  // the program spoke to it since
    errorArmed_ = false;
    met(CampaignFault::InstrumentError);
  }
  if (benchSilent_) generatorSilentAt_ = h_.nowMs();
}

// ---------------------------------------------------------------------------------------------
// The shadow of the technician's requests

void Run::resetShadow() {
  acted_.fill(false);
  believed_.fill(std::nullopt);
  news_.clear();
  for (const TarnProcedure p :
       {TarnProcedure::Txf, TarnProcedure::Rssi, TarnProcedure::Cal, TarnProcedure::BpfSweep})
    forget(p);
  sweepAsked_.fill(false);
  running_.fill(false);
  tuning_.fill(false);
  tuneStart_.fill(std::nullopt);
  restoring_ = false;
  failed_ = false;
}

void Run::modelReset() {
  drain();
  resetShadow();  // a new connection, or a failure (told next)
}

void Run::linkFailed(const LinkFailure& /*f*/) {
  failed_ = true;
}

// The program tells when it takes an Enter that starts a sweep, and when a procedure or a
// restore has ended: the shadow holds it to what the technician asked for then. (An Enter
// still pending when a procedure ends is dropped with it.) The program tells as soon as
// it has handed its last frame to the port: the news counts once that frame is out.
void Run::procedureStarted(TarnProcedure which) {
  say(std::string(procedureName(which)) + " started");
  if (which != TarnProcedure::BpfSweep) {
    afterOutput([this, which] { running_[static_cast<std::size_t>(which)] = true; });
    return;
  }
  // Align All sweeps every filter (BPF ALL) without a key.
  const bool aligning = h_.program().controller().RigOpFunc_Aligning();
  std::array<bool, 4> asked = sweepAsked_;
  if (aligning) asked.fill(true);
  afterOutput([this, asked, all = sweepAskedAll_ || aligning] {
    running_[static_cast<std::size_t>(TarnProcedure::BpfSweep)] = true;
    for (std::size_t k = 0; k < 4; ++k) {
      sweeps_[k] = Sweep{};
      sweeps_[k].on = asked[k];
      sweeps_[k].all = all;
      if (asked[k]) acted_[static_cast<std::size_t>(kRowBpfT1) + k] = false;
    }
  });
}

void Run::procedureEnded(TarnProcedure which, bool completed) {
  say(std::string(procedureName(which)) + (completed ? " ended" : " abandoned"));
  afterOutput([this, which] { forget(which); });
}

void Run::restoreEnded(bool /*completed*/) {
  afterOutput([this] { restoring_ = false; });
}

void Run::afterOutput(std::function<void()> news) {
  news_.push_back(std::move(news));
  drain();
}

// A tune's steps are the technician's while it runs; after it, only its last step or its
// start sent back.
void Run::tuneEnded(const TuneResult& r) {
  if (r.row < 0 || r.row >= kRows) return;
  const auto row = static_cast<std::size_t>(r.row);
  afterOutput([this, row] {
    if (h_.program().controller().RigOpFunc_TuningRow() != static_cast<std::int16_t>(row))
      tuning_[row] = false;
  });
}

void Run::forget(TarnProcedure which) {
  running_[static_cast<std::size_t>(which)] = false;
  switch (which) {
    case TarnProcedure::Txf:
      txfEnters_ = 0;
      break;
    case TarnProcedure::Rssi:
      rssiEnters_ = rssiPoints_ = 0;
      break;
    case TarnProcedure::Cal:
      calEnters_ = calPoints_ = 0;
      break;
    case TarnProcedure::BpfSweep:
      sweeps_.fill(Sweep{});
      break;
  }
}

void Run::readCompleted() {
  drain();
  // The read is of the radio that sent its end (the program takes the end a tick later,
  // when the cable may be on another radio already).
  lastRead_ = streamRadio_;
  imageFaultsAtRead_ = imageFaultsAtEnd_;
  read_ = imageOf(lastRead_);
  for (std::size_t row = 0; row < kRows; ++row) {
    if (const auto adr = kRowCode[row] < 0 ? std::nullopt : kvsim::eep::addressOfE8Code(kRowCode[row]))
      believed_[row] = read_[static_cast<std::size_t>(*adr)];
  }
  // The channel a read selects: the first slot in use in what was read (nothing past the end).
  kvsim::Bytes read = read_;
  std::fill(read.begin() + radios_[static_cast<std::size_t>(lastRead_)].records * 16, read.end(), 0);
  firstSlot_ = 0;
  for (int s = kvsim::slotCount(read) - 1; s >= 0; --s) {
    if (kvsim::channel(read, s).inUse) firstSlot_ = s;
  }
  // The service desk has heard of the read first: an as-found image it took is of this radio.
  const std::optional<Bytes>& found = h_.program().serviceDesk().asFound();
  if (found != deskAsFound_) {
    deskAsFound_ = found;
    asFoundRadio_ = lastRead_;
    asFound_ = read_;
    say("read: the as-found image is radio " + std::to_string(lastRead_) + "'s");
  } else {
    say("read: radio " + std::to_string(lastRead_));
  }
}

void Run::drain() {
  // A tune started since: its row's steps are asked for from now on.
  if (const std::int16_t t = h_.program().controller().RigOpFunc_TuningRow();
      t >= 0 && t < kRows && !tuning_[static_cast<std::size_t>(t)]) {
    tuning_[static_cast<std::size_t>(t)] = true;
    tuneStart_[static_cast<std::size_t>(t)] =
        static_cast<std::uint8_t>(h_.program().console().Value(t) & 0xFF);
  }
  for (const kvsim::FrameRecord& f : h_.takeFrames()) {
    release([&](const PendingFault& p) { return p.fromRadio == f.fromRadio && p.command == f.command(); });
    if (f.fromRadio) {
      // A stream that got past the repeated record met it (once a run is counted).
      if (f.command() == 0xE4 && repeatRecord_ >= 0 && ++streamRecords_ == repeatRecord_ + 2)
        result_.met[static_cast<std::size_t>(CampaignFault::RepeatedRecord)] = 1;
      if (f.command() == 0xE5) {
        streamRadio_ = onCable_;
        imageFaultsAtEnd_ = imageFaults_;
      }
      continue;
    }
    if (f.command() == 0xE2) streamRecords_ = 0;
    if (silent_) silenceMet_ = true;
    checkRange(f);
    const auto e8 = f.e8();
    if (!e8) continue;
    judge(e8->code, e8->value);
    // The radio acts on a frame of its own identity while it answers.
    const std::string& sub = radios_[static_cast<std::size_t>(onCable_)].subModel;
    const bool mine = f.bytes[5] == 0x26 && f.bytes[6] == 0x51 && hex2(f.bytes[7]) + hex2(f.bytes[8]) == sub;
    if (!mine || h_.radio().silent()) continue;
    if (e8->code == 0x00 && e8->value >= 1 && e8->value <= kvsim::slotCount(held_)) heldSlot_ = e8->value - 1;
    if (const auto adr = kvsim::eep::addressOfE8Code(e8->code))
      held_[static_cast<std::size_t>(*adr)] = static_cast<std::uint8_t>(e8->value);
  }
  held_ = h_.radio().image();
  heldSlot_ = h_.radio().selectedSlot();
  if (h_.port().outBufferCount() > 0) return;
  const std::vector<std::function<void()>> news = std::move(news_);
  news_.clear();
  for (const auto& n : news) n();
}

// Invariant 1: every value-carrying E8 command is one the technician asked for since the
// last reset of the program, or an item sent again as the radio holds it.
void Run::judge(int code, int value) {
  if (code == 0x03 || code == 0x01 || (code == 0x02 && value == 1)) return;  // carries no value
  const std::string sent = "E8 " + hex2(code) + " value " + std::to_string(value);
  say("  radio gets " + sent);
  if (failed_) return violate(1, sent + " after a link failure, before a new connection");
  if (code == 0x00) {
    if (value == heldSlot_ + 1 || value == firstSlot_ + 1 || acted_[kRowChannel]) return;
    return violate(1, sent + ": a channel nobody selected");
  }
  // A point needs an Enter that confirms it beyond the one that started its procedure:
  // three Enters give two points, five give three, and so on.
  const auto confirmed = [](int enters, int points) { return enters >= points + (points + 1) / 2; };
  if (code == 0x02) {
    if (!confirmed(calEnters_, ++calPoints_))
      violate(1, sent + ": a CAL point without the Enter that confirms it");
    return;
  }
  const auto adr = kvsim::eep::addressOfE8Code(code);
  if (!adr) return violate(1, sent + ": a code the radio does not know");
  const auto byte = static_cast<std::uint8_t>(value);
  if (restoring_ && byte == asFound_[static_cast<std::size_t>(*adr)]) return;  // the as-found value
  if (code == kCodeRssiL0 || code == kCodeRssiL2) {
    // With the generator, its level confirms each of the two points of a running RSSI.
    if (bench_ ? !running(TarnProcedure::Rssi) || ++rssiPoints_ > 2 : !confirmed(rssiEnters_, ++rssiPoints_))
      violate(1, sent + (bench_ ? ": an RSSI point while no RSSI runs to take it"
                                : ": an RSSI point without the Enter that confirms it"));
    return;
  }
  if (code >= kCodeTxf0 && code <= kCodeTxfLast) {
    // A running TXF writes the entries of the present temperature segment as its setting
    // moves; the rest of the table needs its two confirmations (three Enters).
    // With the counter and the power meter, the counter confirms: any entry while it runs.
    const int k = code - kCodeTxf0;
    const int s = kvsim::tempSegment(h_.radio().temperatureRaw());
    if (bench_) {
      if (!running(TarnProcedure::Txf)) violate(1, sent + ": a TXF entry while no TXF runs");
    } else if (k >= 2 * s - 2 && k <= 2 * s + 3) {
      if (txfEnters_ < 1) violate(1, sent + ": a TXF entry without a TXF started by Enter");
    } else if (txfEnters_ < 3) {
      violate(1, sent + ": a TXF table entry without the Enter that confirms the table");
    }
    return;
  }
  if (code >= 0x0C && code <= 0x0F && sweeps_[static_cast<std::size_t>(code - 0x0C)].on) {
    if (!sweepStep(static_cast<std::size_t>(code - 0x0C), static_cast<std::int8_t>(byte)))
      violate(1, sent + ": not a step of its sweep (last " +
                     std::to_string(sweeps_[static_cast<std::size_t>(code - 0x0C)].last) + ")");
    return;
  }
  const auto row = static_cast<std::size_t>(std::find(kRowCode, kRowCode + kRows, code) - kRowCode);
  // As the radio holds it, as asked for, or again as the program holds it (another radio
  // may be on the cable since, unknown to the program).
  const bool asked =
      byte == held_[static_cast<std::size_t>(*adr)] ||
      (row < kRows && (acted_[row] || tuning_[row] || tuneStart_[row] == byte || believed_[row] == byte));
  if (row < kRows) believed_[row] = byte;
  if (!asked)
    violate(1, sent + ": an item value nobody asked for (the radio holds " +
                   std::to_string(held_[static_cast<std::size_t>(*adr)]) + ")");
}

// A sweep sends its filter 0, then its settings from the start (a single filter from its
// lowest) climbing by at most 2 (a setting may go twice), then once the centre of the best
// ones, which lies between the first and the last setting sent.
bool Run::sweepStep(std::size_t filter, int value) {
  Sweep& s = sweeps_[filter];
  if (!s.zero && !s.stepping && value == 0) {
    s.zero = true;
    return true;
  }
  if (!s.stepping) {
    s.stepping = true;
    s.first = s.last = value;
    return s.all || value == -128;
  }
  if (s.centred) return value == s.last;
  if (value >= s.last && value - s.last <= 2) {
    s.last = value;
    return true;
  }
  s.centred = true;
  s.last = value;
  return value >= s.first;
}

// Invariant 5: every E8 value lies in its item's range: two hex digits (a whole byte is the
// range of every item, TXF entry and RSSI point), a channel in use in the program's image,
// one of the two CAL points.
void Run::checkRange(const kvsim::FrameRecord& f) {
  if (f.fromRadio || f.command() != 0xE8) return;
  const auto e8 = f.e8();
  if (!e8) return violate(5, "an E8 frame without a value of two hex digits");
  const std::string sent = "E8 " + hex2(e8->code) + " value " + std::to_string(e8->value);
  if (e8->code == 0x00) {
    // A channel in use, or the first one of an image that has none in use.
    const kvsim::Bytes image = programImage();
    bool none = true;
    for (int slot = 0; slot < kvsim::slotCount(image) && none; ++slot)
      none = !kvsim::channel(image, slot).inUse;
    const bool inUse =
        e8->value >= 1 && e8->value <= kvsim::slotCount(image) && kvsim::channel(image, e8->value - 1).inUse;
    if (!inUse && !(none && e8->value == 1)) violate(5, sent + ": not a channel in use");
  }
  if (e8->code == 0x02 && e8->value != 1 && e8->value != 64 && e8->value != 128)
    violate(5, sent + ": not a CAL point");
}

// Invariant 6: once no procedure drives the generator (as the program told and as it
// stands), its RF is off within a few seconds (the command may wait behind an answer that
// timed out). A generator that was silent since cannot have heard it.
void Run::checkGenerator() {
  if (!bench_) return;
  const std::int16_t step = h_.program().controller().enterStep();
  if (running(TarnProcedure::Rssi) || running(TarnProcedure::BpfSweep) || (step >= 6 && step <= 8) ||
      (step >= 12 && step <= 16)) {
    generatorFreeSince_ = h_.nowMs();
    return;
  }
  if (!h_.bench().generatorOn() || generatorSilentAt_ >= generatorFreeSince_ ||
      h_.nowMs() - generatorFreeSince_ <= kGeneratorOffMs)
    return;
  violate(6, "the generator's RF is on " + std::to_string(kGeneratorOffMs / 1000) +
                 " s after the last procedure that drove it ended");
  generatorFreeSince_ = h_.nowMs();  // told once in a while, not every step
}

// ---------------------------------------------------------------------------------------------
// Invariants 2 and 3

// The console list takes keys while the adjustment panel is shown.
bool Run::listShown() {
  return h_.program().controller().RigTarnProp_EditEnabled();
}

bool Run::connected() {
  const clsIndOp_RigTarn& c = h_.program().controller();
  return c.RigTarnProp_EditEnabled() || c.RigTarnProp_DispPara();
}

bool Run::quiet() {
  const clsIndOp_RigTarn& c = h_.program().controller();
  return connected() && readSinceFault() && !failed_ && c.enterStep() == 0 &&
         c.RigOpFunc_RestorePending() == 0 && !h_.program().sequencer().OpRunning() &&
         h_.port().outBufferCount() == 0 && !h_.radio().streaming();
}

// Invariant 2: the program's image is the last whole read plus the values that went out whole.
void Run::checkImage() {
  if (!quiet()) return;
  const kvsim::Bytes program = programImage();
  const kvsim::Bytes& radio = h_.radio().image();
  const RadioUnit& unit = radios_[static_cast<std::size_t>(onCable_)];
  const int end = unit.records * 16;
  int differ = 0, first = -1;
  for (int a = 0; a < kImageSize; ++a) {
    const std::uint8_t want = a < end ? radio[static_cast<std::size_t>(a)] : 0;
    if (program[static_cast<std::size_t>(a)] == want) continue;
    if (differ++ == 0) first = a;
  }
  if (differ > 0) {
    violate(2, std::to_string(differ) + " byte(s) of the program's image are not the radio's (first at " +
                   std::to_string(first) + ": " + std::to_string(program[static_cast<std::size_t>(first)]) +
                   " for " + std::to_string(first < end ? radio[static_cast<std::size_t>(first)] : 0) + ")");
  }
  if (h_.program().radio().radionameS() != unit.subModel)
    violate(2, "sub-model " + h_.program().radio().radionameS() + " for the radio's " + unit.subModel);
}

std::string Run::asLeftMismatch(const kvsim::Bytes& program, int radio) {
  const kvsim::Bytes& held = imageOf(radio);
  for (std::int32_t a : programWrittenAddresses()) {
    const auto i = static_cast<std::size_t>(a);
    if (program[i] != held[i])
      return "address " + std::to_string(a) + " is " + std::to_string(program[i]) + " in the program, " +
             std::to_string(held[i]) + " in the radio read last";
  }
  return {};
}

// Invariant 3: an as-left called read back is what the radio read last holds (while the
// program is connected: a report or a saved image can say so then).
void Run::checkAsLeft() {
  const ServiceDesk& desk = h_.program().serviceDesk();
  if (lastRead_ < 0 || !connected() || !desk.asLeftReadBack() || !desk.readBackFailures().empty()) return;
  if (const std::string m = asLeftMismatch(programImage(), lastRead_); !m.empty())
    violate(3, "the service record says the as-left was read back, but " + m);
}

// ---------------------------------------------------------------------------------------------
// The technician

bool Run::answer(const HeadlessToolkit::Message& m) {
  drain();
  const bool keyIt = m.text.starts_with("Key the radio's transmitter");
  const bool ok = chance(m.text.starts_with("Send the as-found") || keyIt ? 85 : 50);
  say("question: " + m.text.substr(0, m.text.find('\r')) + (ok ? " OK" : " Cancel"));
  if (ok && keyIt && chance(90)) key(true);
  if (ok && m.text.starts_with("Send the as-found")) {
    // The restore's read proved the radio: it must be the as-found one.
    if (lastRead_ != asFoundRadio_)
      violate(1, "a restore offered to radio " + std::to_string(lastRead_) + ", the as-found radio is " +
                     std::to_string(asFoundRadio_));
    restoring_ = true;
  }
  return ok;
}

std::string Run::reportPath() {
  if (chance(10)) return {};
  pendingReport_ = (h_.folder() / ("report-" + std::to_string(++reports_) + ".html")).string();
  // What the report states is the state now: what the radio read last holds now.
  reportMismatch_ = lastRead_ < 0 ? std::string() : asLeftMismatch(programImage(), lastRead_);
  return pendingReport_;
}

void Run::press(std::int16_t row, std::int16_t key, bool shift) {
  drain();
  const bool shown = listShown();
  const auto r = static_cast<std::size_t>(row);
  if (shown && key == tk::Key::Enter) {
    txfEnters_ += row == kRowTxf;
    rssiEnters_ += row == kRowRssi;
    calEnters_ += row == kRowCal;
    // The console keeps one pending Enter: the last one decides which sweep may start.
    sweepAsked_.fill(row == kRowBpfAll);
    if (row >= kRowBpfT1 && row < kRowBpfT1 + 4) sweepAsked_[r - kRowBpfT1] = true;
    sweepAskedAll_ = row == kRowBpfAll;
  }
  const bool valueKey = key == tk::Key::Left || key == tk::Key::Right;
  say(std::string(key == tk::Key::Enter  ? "Enter"
                  : key == tk::Key::F9   ? "F9"
                  : key == tk::Key::Left ? "Left"
                                         : "Right") +
      (shift ? "+Shift" : "") + " on row " + std::to_string(row) + (shown ? "" : " (not shown)"));
  tk::ListBox& list = h_.program().mainWindow().lboConsole();
  list.setListIndex(row);
  const int beeps = h_.toolkit().beeps();
  h_.toolkit().pressKey(list, key, shift ? tk::kShiftBit : 0);
  // A value key asks for the row's value, unless it beeped (a sweep owns the filter); a
  // filter the technician sets is no longer a sweep's.
  if (shown && valueKey && h_.toolkit().beeps() == beeps) {
    acted_[r] = true;
    if (row >= kRowBpfT1 && row < kRowBpfT1 + 4) sweeps_[r - kRowBpfT1].on = false;
  }
}

bool Run::chooseMenu(const std::string& path) {
  drain();
  const bool chosen = h_.toolkit().chooseMenu(path);
  say(path + (chosen ? "" : " (disabled)"));
  return chosen;
}

void Run::connect() {
  drain();
  const std::size_t messages = h_.toolkit().messages().size();
  say(h_.toolkit().click(h_.program().mainWindow().cmd00(0)) ? "Connect" : "Connect (disabled)");
  const clsIndOp_RigTarn& c = h_.program().controller();
  waitUntil([&] { return c.opState() == TarnState::CycleEnd || h_.toolkit().messages().size() > messages; },
            kConnectLimitMs);
}

void Run::runTxf() {
  enter(kRowTxf);
  pause(1500);
  // To the setting that puts the oscillator on frequency, give or take, then confirm.
  clsConsole& console = h_.program().console();
  const int target =
      static_cast<int>(std::lround(kvsim::TarnPhysics::idealSetting(h_.radio().temperatureC()))) +
      uniform(-2, 2);
  for (int n = 0; n < 40 && listShown() && console.Value(kRowTxf) != target; ++n) {
    const int d = target - console.Value(kRowTxf);
    press(kRowTxf, d > 0 ? tk::Key::Right : tk::Key::Left, std::abs(d) >= 5);
    pause(uniform(100, 500));
  }
  if (chance(15)) return;
  enter(kRowTxf);
  pause(3000);
  for (int n = uniform(4, 14); n > 0; --n) {
    press(kRowTxf, tk::Key::Left, true);
    pause(uniform(150, 600));
  }
  if (chance(15)) return;
  enter(kRowTxf);
  pause(uniform(3000, 7000));
}

void Run::runTwoPoints(std::int16_t row, std::int32_t settleMs) {
  enter(row);
  for (int point = 0; point < 2; ++point) {
    pause(uniform(settleMs, 3 * settleMs));
    if (chance(10)) return;
    enter(row);
  }
  pause(settleMs);
}

// With the bench: F9 on an item, the receive procedures (the generator gives their signal),
// Align All, the transmitter keyed or released.
void Run::actOnBench() {
  const int pick = uniform(0, 99);
  if (pick < 35) {
    tune();
  } else if (pick < 47) {
    enter(kRowRssi);
    pause(uniform(500, 15000));
  } else if (pick < 60) {
    enter(chance(40) ? kRowBpfAll : static_cast<std::int16_t>(kRowBpfT1 + uniform(0, 3)));
    pause(uniform(500, 30000));
  } else if (pick < 90) {
    alignAll();
  } else {
    key(!h_.bench().ptt());
  }
}

void Run::key(bool on) {
  say(on ? "the transmitter keyed (PTT)" : "the transmitter released");
  h_.bench().setPtt(on, h_.nowUs());
}

void Run::tune() {
  // Mostly an item that has a target, now and then one without (F9 only beeps there).
  std::vector<std::int16_t> targets;
  for (std::int16_t row = 0; row < kRows; ++row) {
    if (h_.program().controller().RigOpFunc_Tunable(row)) targets.push_back(row);
  }
  const auto row = !targets.empty() && chance(85)
                       ? targets[static_cast<std::size_t>(uniform(0, static_cast<int>(targets.size()) - 1))]
                       : static_cast<std::int16_t>(uniform(0, kRows - 1));
  if (!h_.bench().ptt() && chance(70)) key(true);
  press(row, tk::Key::F9, false);
  pause(uniform(500, 12000));
}

void Run::alignAll() {
  const std::size_t messages = h_.toolkit().messages().size();
  if (!chooseMenu("&File/A&lign All...")) return;
  // To its summary, or as long as the technician waits before doing something else.
  waitUntil(
      [&] {
        const auto& m = h_.toolkit().messages();
        for (std::size_t i = messages; i < m.size(); ++i) {
          if (m[i].text.starts_with("Align All: ") || m[i].text.starts_with("Nothing could be aligned"))
            return true;
        }
        return false;
      },
      uniform(5000, 300000));
}

void Run::act() {
  const int pick = uniform(0, 99);
  if (!connected() && chance(80)) {
    connect();  // after a failure the technician connects again, mostly
  } else if (bench_ && chance(40)) {
    actOnBench();
  } else if (pick < 30) {
    press(static_cast<std::int16_t>(uniform(0, kRows - 1)), chance(50) ? tk::Key::Left : tk::Key::Right,
          chance(30));
  } else if (pick < 37) {
    drain();
    say("F5");
    h_.toolkit().pressKey(tk::Key::F5);
  } else if (pick < 42) {
    drain();
    say(h_.toolkit().click(h_.program().mainWindow().cmd00(2)) ? "Disp para" : "Disp para (disabled)");
  } else if (pick < 48) {
    runTxf();
  } else if (pick < 54) {
    runTwoPoints(kRowRssi, 1000);
  } else if (pick < 59) {
    runTwoPoints(kRowCal, 400);
  } else if (pick < 65) {
    enter(static_cast<std::int16_t>(kRowBpfT1 + uniform(0, 3)));
    pause(uniform(500, 15000));
  } else if (pick < 69) {
    enter(kRowBpfAll);
    pause(uniform(500, 30000));
  } else if (pick < 77) {
    connect();
  } else if (pick < 89) {
    const std::size_t boxes = h_.toolkit().messages().size() + h_.toolkit().questions().size();
    if (chooseMenu("&File/Restore &As-Found Values..."))
      waitUntil([&] { return h_.toolkit().messages().size() + h_.toolkit().questions().size() > boxes; },
                kConnectLimitMs);
  } else {
    pendingReport_.clear();
    const std::size_t messages = h_.toolkit().messages().size();
    if (chooseMenu("&File/Service &Report...")) {
      waitUntil(
          [&] {
            return (!pendingReport_.empty() && std::ifstream(pendingReport_).good()) ||
                   h_.toolkit().messages().size() > messages;
          },
          kConnectLimitMs);
      std::ifstream in(pendingReport_);
      const std::string page{std::istreambuf_iterator<char>(in), {}};
      if (page.find("verified by a read at") != std::string::npos && !reportMismatch_.empty())
        violate(3, "a report says the as-left was verified by a read, but " + reportMismatch_);
    }
  }
  pause(uniform(100, 2500));
  checkImage();
}

void Run::finish() {
  // The faults end, and the program must settle and connect again (or say why it cannot).
  faults_.clear();
  armed_.clear();
  if (silent_) throwFault({h_.nowMs(), CampaignFault::Silence, true});
  if (refusing_) throwFault({h_.nowMs(), CampaignFault::RefusedWrite, true});
  h_.port().disarmLineError();
  pause(3000);
  checkImage();
  // Connect is disabled while the listing shows: Disp para leaves it.
  if (h_.program().controller().RigTarnProp_DispPara()) {
    h_.toolkit().click(h_.program().mainWindow().cmd00(2));
    pause(500);
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::size_t messages = h_.toolkit().messages().size();
    connect();
    if (connected()) break;
    if (h_.toolkit().messages().size() > messages) continue;  // it said why: again
    violate(4, "a Connect did not end within " + std::to_string(kConnectLimitMs / 1000) + " s");
    break;
  }
  if (connected() && readSinceFault() && !failed_ && !waitUntil([&] { return quiet(); }, 5000))
    violate(4, "connected, but the program never became quiet");
  checkImage();
}

RunResult Run::go() {
  result_.seed = seed_;
  say("seed " + std::to_string(seed_) + ": radio 0 has " + std::to_string(radios_[0].records) + " records" +
      (repeatRecord_ >= 0 ? ", repeats record " + std::to_string(repeatRecord_) : std::string()) + ", " +
      std::to_string(h_.radio().temperatureRaw()) + " raw temperature");
  try {
    planFaults();
    connect();
    for (int n = uniform(6, 14); n > 0; --n) act();
    finish();
  } catch (const Stop&) {
  } catch (const std::exception& e) {
    violate(4, std::string("the program threw: ") + e.what());
  }
  result_.simulatedMs = h_.nowMs();
  return result_;
}

}  // namespace

const char* faultLabel(CampaignFault f) {
  switch (f) {
    case CampaignFault::Silence:
      return "silence";
    case CampaignFault::SpoiltAnswer:
      return "spoilt monitor answer";
    case CampaignFault::LateAnswer:
      return "late monitor answer";
    case CampaignFault::RepeatedRecord:
      return "repeated clone record";
    case CampaignFault::RefusedWrite:
      return "refused write";
    case CampaignFault::LineError:
      return "line error";
    case CampaignFault::PortVanished:
      return "port vanished";
    case CampaignFault::AnotherRadio:
      return "another radio on the cable";
    case CampaignFault::InstrumentSilent:
      return "silent instrument";
    case CampaignFault::InstrumentGarbage:
      return "garbage from an instrument";
    case CampaignFault::InstrumentError:
      return "instrument error";
    case CampaignFault::InstrumentDrop:
      return "instrument link dropped";
  }
  return "?";
}

RunResult runCampaign(std::uint64_t seed, std::ostream* log) {
  Run run(seed, log);
  return run.go();
}

void CampaignFigures::add(const RunResult& r) {
  ++runs;
  simulatedMs += r.simulatedMs;
  for (std::size_t k = 0; k < kCampaignFaults; ++k) {
    thrown[k] += r.thrown[k];
    met[k] += r.met[k];
  }
  std::array<bool, kInvariants> seen{};
  for (const Violation& v : r.violations) {
    const auto i = static_cast<std::size_t>(v.invariant - 1);
    ++violations[i];
    if (firstViolation[i].empty()) firstViolation[i] = "seed " + std::to_string(r.seed) + " " + v.what;
    if (!seen[i]) failingSeeds[i].push_back(r.seed);
    seen[i] = true;
  }
}

int CampaignFigures::totalViolations() const {
  int n = 0;
  for (int v : violations) n += v;
  return n;
}

void printFigures(std::ostream& out, const CampaignFigures& f) {
  static const char* const kInvariantNames[kInvariants] = {"nothing unasked reaches the radio",
                                                           "the image is the last read plus what went out",
                                                           "an as-left read back is what the radio holds",
                                                           "no hang, no throw",
                                                           "every E8 value within its item's range",
                                                           "RF off once no procedure drives it"};
  out << "campaign: " << f.runs << " runs, " << f.simulatedMs / 1000 << " s simulated\n";
  out << "faults met (thrown):\n";
  for (std::size_t k = 0; k < kCampaignFaults; ++k)
    out << "  " << std::left << std::setw(28) << faultLabel(static_cast<CampaignFault>(k)) << std::right
        << std::setw(6) << f.met[k] << " (" << f.thrown[k] << ")\n";
  out << "invariant violations: " << f.totalViolations() << "\n";
  for (std::size_t i = 0; i < kInvariants; ++i) {
    out << "  " << i + 1 << ". " << std::left << std::setw(46) << kInvariantNames[i] << std::right
        << std::setw(6) << f.violations[i];
    if (!f.failingSeeds[i].empty()) {
      out << " in " << f.failingSeeds[i].size() << " run(s), seeds";
      for (std::size_t n = 0; n < f.failingSeeds[i].size() && n < 20; ++n) out << " " << f.failingSeeds[i][n];
      if (f.failingSeeds[i].size() > 20) out << " ...";
      out << "\n     first: " << f.firstViolation[i];
    }
    out << "\n";
  }
}

}  // namespace tarnset::testing
