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
  std::int32_t delayMs = 0;  // from that frame on
};

bool byTime(const PendingFault& a, const PendingFault& b) {
  return a.atMs < b.atMs;
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
  bool chooseMenu(const std::string& path);
  bool answer(const HeadlessToolkit::Message& m);
  std::string reportPath();
  void finish();

  // ---- faults ----
  void planFaults();
  void throwFault(const PendingFault& f);
  void swapRadio();
  void noteFaultsMet();

  // ---- the shadow and the invariants ----
  void drain();
  void judge(int code, int value);
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
  std::array<bool, kRows> resend_{};  // the item goes out once as read, before it is acted on
  kvsim::Bytes read_;                 // the image of the last read
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
  checkAsLeft();
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
    if (f.command != 0) {  // from now on it waits for its frame
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
  std::sort(faults_.begin(), faults_.end(), byTime);
}

void Run::throwFault(const PendingFault& f) {
  drain();  // what went out before the fault is judged before it
  const auto k = static_cast<std::size_t>(f.kind);
  kvsim::VirtualTarn& radio = h_.radio();
  const auto later = [this](std::int32_t ms, CampaignFault kind) {
    faults_.push_back({h_.nowMs() + ms, kind, true});
    std::sort(faults_.begin(), faults_.end(), byTime);
  };
  if (f.ends) {
    if (f.kind == CampaignFault::Silence) {
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
  if ((f.kind == CampaignFault::Silence && silent_) || (f.kind == CampaignFault::RefusedWrite && refusing_))
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
  }
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
}

// ---------------------------------------------------------------------------------------------
// The shadow of the technician's requests

void Run::resetShadow() {
  acted_.fill(false);
  resend_.fill(false);
  news_.clear();
  for (const TarnProcedure p :
       {TarnProcedure::Txf, TarnProcedure::Rssi, TarnProcedure::Cal, TarnProcedure::BpfSweep})
    forget(p);
  sweepAsked_.fill(false);
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
  if (which != TarnProcedure::BpfSweep) return;
  afterOutput([this, asked = sweepAsked_, all = sweepAskedAll_] {
    for (std::size_t k = 0; k < 4; ++k) {
      sweeps_[k] = Sweep{};
      sweeps_[k].on = asked[k];
      sweeps_[k].all = all;
      if (asked[k]) acted_[static_cast<std::size_t>(kRowBpfT1) + k] = false;
    }
  });
}

void Run::procedureEnded(TarnProcedure which, bool /*completed*/) {
  afterOutput([this, which] { forget(which); });
}

void Run::restoreEnded(bool /*completed*/) {
  afterOutput([this] { restoring_ = false; });
}

void Run::afterOutput(std::function<void()> news) {
  news_.push_back(std::move(news));
  drain();
}

void Run::forget(TarnProcedure which) {
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
  resend_.fill(true);
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
  for (const kvsim::FrameRecord& f : h_.takeFrames()) {
    for (auto it = armed_.begin(); it != armed_.end();) {
      if (it->fromRadio != f.fromRadio || it->command != f.command()) {
        ++it;
        continue;
      }
      faults_.push_back(*it);
      faults_.back().atMs = h_.nowMs() + it->delayMs;
      faults_.back().command = 0;
      std::sort(faults_.begin(), faults_.end(), byTime);
      it = armed_.erase(it);
    }
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
    if (value != 64 && value != 128) return violate(1, sent + ": not a CAL point");
    if (!confirmed(calEnters_, ++calPoints_))
      violate(1, sent + ": a CAL point without the Enter that confirms it");
    return;
  }
  const auto adr = kvsim::eep::addressOfE8Code(code);
  if (!adr) return violate(1, sent + ": a code the radio does not know");
  const auto byte = static_cast<std::uint8_t>(value);
  if (restoring_ && byte == asFound_[static_cast<std::size_t>(*adr)]) return;  // the as-found value
  if (code == kCodeRssiL0 || code == kCodeRssiL2) {
    if (!confirmed(rssiEnters_, ++rssiPoints_))
      violate(1, sent + ": an RSSI point without the Enter that confirms it");
    return;
  }
  if (code >= kCodeTxf0 && code <= kCodeTxfLast) {
    // A running TXF writes the entries of the present temperature segment as its setting
    // moves; the rest of the table needs its two confirmations (three Enters).
    const int k = code - kCodeTxf0;
    const int s = kvsim::tempSegment(h_.radio().temperatureRaw());
    if (k >= 2 * s - 2 && k <= 2 * s + 3) {
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
  if (byte == held_[static_cast<std::size_t>(*adr)]) return;  // as the radio holds it
  if (row < kRows && acted_[row]) return;
  // Once after a read, as read: the radio held it then (another one may be on the cable
  // since, unknown to the program).
  if (row < kRows && resend_[row] && byte == read_[static_cast<std::size_t>(*adr)]) {
    resend_[row] = false;
    return;
  }
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
  const bool ok = chance(m.text.starts_with("Send the as-found") ? 85 : 50);
  say("question: " + m.text.substr(0, m.text.find('\r')) + (ok ? " OK" : " Cancel"));
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
  say(std::string(key == tk::Key::Enter ? "Enter" : (key == tk::Key::Left ? "Left" : "Right")) +
      (shift ? "+Shift" : "") + " on row " + std::to_string(row) + (shown ? "" : " (not shown)"));
  tk::ListBox& list = h_.program().mainWindow().lboConsole();
  list.setListIndex(row);
  const int beeps = h_.toolkit().beeps();
  h_.toolkit().pressKey(list, key, shift ? tk::kShiftBit : 0);
  // A value key asks for the row's value, unless it beeped (a sweep owns the filter); a
  // filter the technician sets is no longer a sweep's.
  if (shown && key != tk::Key::Enter && h_.toolkit().beeps() == beeps) {
    acted_[r] = true;
    resend_[r] = false;
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

void Run::act() {
  const int pick = uniform(0, 99);
  if (!connected() && chance(80)) {
    connect();  // after a failure the technician connects again, mostly
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
  static const char* const kInvariantNames[kInvariants] = {
      "nothing unasked reaches the radio", "the image is the last read plus what went out",
      "an as-left read back is what the radio holds", "no hang, no throw"};
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
