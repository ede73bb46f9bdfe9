#include "sim/VirtualTarn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>
#include <stdexcept>

#include "base/Common.h"
#include "base/FrameText.h"
#include "base/Wire.h"

namespace kvsim {

namespace {

namespace wire = tarnset::wire;
namespace cmd = tarnset::wire::cmd;
namespace e8 = tarnset::wire::e8;
constexpr std::uint8_t kFe = wire::kPreamble;
constexpr std::uint8_t kFd = wire::kEnd;
constexpr std::uint8_t kToRadio = wire::kRadio;
constexpr std::uint8_t kToProgram = wire::kProgram;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
const std::string kMaker = wire::kMakerText;

int hexDigit(std::uint8_t c) {
  return wire::hexDigitValue(c);
}

void appendAsciiHex(Bytes& out, std::uint8_t v) {
  out.push_back(wire::hexDigitChar(v >> 4));
  out.push_back(wire::hexDigitChar(v & 0x0F));
}

void appendText(Bytes& out, const std::string& text) {
  for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

std::string hexText(const Bytes& bytes) {
  return tarnset::BytesToSpacedHex(bytes);
}

std::string hex2(int v) {
  return tarnset::ByteToHex(static_cast<std::int16_t>(v & 0xFF));
}

std::optional<int> parseIndex(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Faults

std::optional<Fault> parseFault(const std::string& name) {
  struct Plain {
    const char* name;
    Fault::Kind kind;
  };
  static const Plain kPlain[] = {{"silent", Fault::Silent},
                                 {"wrong-model", Fault::WrongModel},
                                 {"sub-model-0101", Fault::SubModel0101},
                                 {"version-02", Fault::Version02},
                                 {"version-04", Fault::Version04},
                                 {"bad-count", Fault::BadCount},
                                 {"noise", Fault::Noise},
                                 {"echo", Fault::Echo},
                                 {"monitor-length", Fault::MonitorLength},
                                 {"monitor-identity", Fault::MonitorIdentity},
                                 {"monitor-nonhex", Fault::MonitorNonHex},
                                 {"late-answer", Fault::LateAnswer}};
  for (const Plain& p : kPlain) {
    if (name == p.name) return Fault{p.kind, 0};
  }
  static const Plain kIndexed[] = {{"bad-checksum=", Fault::BadChecksum},
                                   {"outside-image=", Fault::OutsideImage},
                                   {"silence-after=", Fault::SilenceAfter},
                                   {"repeat-record=", Fault::RepeatRecord}};
  for (const Plain& p : kIndexed) {
    const std::string prefix = p.name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const auto k = parseIndex(name.substr(prefix.size()));
    if (!k) return std::nullopt;
    return Fault{p.kind, *k};
  }
  return std::nullopt;
}

std::string faultName(const Fault& fault) {
  switch (fault.kind) {
    case Fault::Silent:
      return "silent";
    case Fault::WrongModel:
      return "wrong-model";
    case Fault::SubModel0101:
      return "sub-model-0101";
    case Fault::Version02:
      return "version-02";
    case Fault::Version04:
      return "version-04";
    case Fault::BadChecksum:
      return "bad-checksum=" + std::to_string(fault.record);
    case Fault::BadCount:
      return "bad-count";
    case Fault::OutsideImage:
      return "outside-image=" + std::to_string(fault.record);
    case Fault::SilenceAfter:
      return "silence-after=" + std::to_string(fault.record);
    case Fault::RepeatRecord:
      return "repeat-record=" + std::to_string(fault.record);
    case Fault::Noise:
      return "noise";
    case Fault::Echo:
      return "echo";
    case Fault::MonitorLength:
      return "monitor-length";
    case Fault::MonitorIdentity:
      return "monitor-identity";
    case Fault::MonitorNonHex:
      return "monitor-nonhex";
    case Fault::LateAnswer:
      return "late-answer";
  }
  return "?";
}

namespace {

bool indexed(Fault::Kind kind) {
  return kind == Fault::BadChecksum || kind == Fault::OutsideImage || kind == Fault::SilenceAfter ||
         kind == Fault::RepeatRecord;
}

// The last record index a fault of this kind can name: a repeated record needs a record
// after it to stand in for.
int lastRecordFor(Fault::Kind kind, int records) {
  return kind == Fault::RepeatRecord ? records - 2 : records - 1;
}

}  // namespace

std::string optionsError(const Options& opt) {
  const std::string& sub = opt.subModel;
  if (sub.size() != 4 || !std::all_of(sub.begin(), sub.end(),
                                      [](char c) { return hexDigit(static_cast<std::uint8_t>(c)) >= 0; })) {
    return "sub-model must be four hex digits, not '" + sub + "'";
  }
  for (std::size_t i = 0; i < 4; i += 2) {
    const int byte =
        hexDigit(static_cast<std::uint8_t>(sub[i])) * 16 + hexDigit(static_cast<std::uint8_t>(sub[i + 1]));
    if (byte == kFe || byte == kFd) {
      return "sub-model " + sub + " cannot be served: its byte " + hex2(byte) +
             " marks frames on the link and cannot travel inside one";
    }
  }
  if (opt.image && opt.image->size() != static_cast<std::size_t>(eep::kImageSize)) {
    return "image must be 15968 bytes, not " + std::to_string(opt.image->size());
  }
  if (!std::isfinite(opt.temperatureC)) return "temperature must be a number";
  if (!std::isfinite(opt.driftCPerMinute)) return "drift must be a number";
  if (!std::isfinite(opt.signalLevelDbu)) return "signal level must be a number";
  if (opt.sdNoise < 0) return "SD noise must not be negative";
  if (opt.records < 1 || opt.records > VirtualTarn::kRecordCount) {
    return "records must be 1.." + std::to_string(VirtualTarn::kRecordCount) + ", not " +
           std::to_string(opt.records);
  }

  const auto any = [&](Fault::Kind kind) {
    return std::any_of(opt.faults.begin(), opt.faults.end(), [&](const Fault& f) { return f.kind == kind; });
  };
  std::optional<int> stopAfter;
  for (const Fault& f : opt.faults) {
    if (indexed(f.kind) && (f.record < 0 || f.record > lastRecordFor(f.kind, opt.records))) {
      return "fault " + faultName(f) + " can never act: K must be 0.." +
             std::to_string(lastRecordFor(f.kind, opt.records)) +
             (f.kind == Fault::RepeatRecord
                  ? " (record K + 1 must exist)"
                  : " (the clone read sends " + std::to_string(opt.records) + " records)");
    }
    if (f.kind == Fault::SilenceAfter) {
      if (stopAfter && *stopAfter != f.record) {
        return "faults silence-after=" + std::to_string(*stopAfter) + " and " + faultName(f) +
               ": the stream stops only once";
      }
      stopAfter = f.record;
    }
  }
  if (any(Fault::Silent)) {
    for (const Fault& f : opt.faults) {
      // The cable's echo needs no answer from the radio; everything else does.
      if (f.kind != Fault::Silent && f.kind != Fault::Echo) {
        return "fault " + faultName(f) + " can never show: fault silent answers nothing";
      }
    }
  }
  if (any(Fault::Version02) && any(Fault::Version04))
    return "faults version-02 and version-04 contradict each other";
  if (any(Fault::SubModel0101) && sub != "0100") {
    return "fault sub-model-0101 would hide sub-model " + sub + ": give one of them";
  }
  if (stopAfter) {
    const std::string why = ": silence-after=" + std::to_string(*stopAfter) +
                            " stops the stream after record " + std::to_string(*stopAfter);
    for (const Fault& f : opt.faults) {
      const bool late =
          (f.kind == Fault::BadCount) ||
          ((f.kind == Fault::BadChecksum || f.kind == Fault::OutsideImage) && f.record > *stopAfter) ||
          (f.kind == Fault::RepeatRecord && f.record >= *stopAfter);
      if (late) return "fault " + faultName(f) + " can never show" + why;
    }
  }
  return {};
}

std::optional<FrameRecord::E8> FrameRecord::e8() const {
  // FE FE EE EF E8 m m s s code hi lo FD
  if (fromRadio || bytes.size() != 13 || command() != cmd::kE8) return std::nullopt;
  const int hi = hexDigit(bytes[10]);
  const int lo = hexDigit(bytes[11]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return E8{bytes[9], hi * 16 + lo};
}

// ---------------------------------------------------------------------------------------------
// Construction and the caller's interface

VirtualTarn::VirtualTarn(Options opt)
    : opt_(std::move(opt)),
      physics_(opt_.temperatureC, opt_.driftCPerMinute, opt_.sdNoise, opt_.seed),
      lineNoise_(opt_.seed ^ 0x5EED5EEDu) {
  if (const std::string error = optionsError(opt_); !error.empty()) throw std::invalid_argument(error);
  const auto digit = [&](std::size_t i) { return hexDigit(static_cast<std::uint8_t>(opt_.subModel[i])); };
  subModel_[0] = static_cast<std::uint8_t>(digit(0) * 16 + digit(1));
  subModel_[1] = static_cast<std::uint8_t>(digit(2) * 16 + digit(3));
  image_ = opt_.image ? *opt_.image : defaultImage();
  for (const Fault& f : opt_.faults) {
    if (f.kind == Fault::WrongModel) model_[1] = 0x41;
    if (f.kind == Fault::SubModel0101) subModel_[0] = 0x01, subModel_[1] = 0x01;
    if (f.kind == Fault::Version02) version_ = 0x02;
    if (f.kind == Fault::Version04) version_ = 0x04;
    if (f.kind == Fault::LateAnswer) lateAnswerUs_ = kLateAnswerUs;
  }
  physics_.setSignalLevelDbu(opt_.signalLevelDbu);
}

bool VirtualTarn::has(Fault::Kind kind) const {
  return std::any_of(opt_.faults.begin(), opt_.faults.end(), [&](const Fault& f) { return f.kind == kind; });
}

bool VirtualTarn::hasAt(Fault::Kind kind, int record) const {
  return std::any_of(opt_.faults.begin(), opt_.faults.end(),
                     [&](const Fault& f) { return f.kind == kind && f.record == record; });
}

void VirtualTarn::setProgramLine(bool open, std::int32_t baud, std::int64_t nowUs) {
  advanceTo(toNs(nowUs));
  setProgramLine(open, baud);
}

void VirtualTarn::setProgramLine(bool open, std::int32_t baud) {
  if (open && !programOpen_) {
    // The program's UART starts listening now, possibly in the middle of a byte.
    if (clockStarted_) tx_.discardUntil(opt_.pacing ? nowNs_ : tx_.freeAtNs());
    log(nowNs_, "PORT open " + std::to_string(baud));
  } else if (!open && programOpen_) {
    delivered_.clear();  // what sat in the program's receive buffer goes with its port
    log(nowNs_, "PORT closed");
  } else if (open && baud != programBaud_) {
    log(nowNs_, "PORT baud " + std::to_string(baud));
  }
  programOpen_ = open;
  if (baud > 0) programBaud_ = baud;
}

void VirtualTarn::receive(const Bytes& data, std::int64_t nowUs) {
  const std::int64_t nowNs = toNs(nowUs);
  advanceTo(nowNs);
  if (data.empty()) return;
  if (has(Fault::Echo) && programOpen_) {
    // One-wire cable: the program's own bytes come straight back at its own baud.
    delivered_.insert(delivered_.end(), data.begin(), data.end());
    log(nowNs_, "ECHO " + std::to_string(data.size()) + " bytes");
  }
  // The bytes left the program back to back, the last one complete now.
  const std::int64_t byteNs = UartLine::byteNs(programBaud_);
  const std::int64_t first = nowNs_ - static_cast<std::int64_t>(data.size()) * byteNs;
  for (std::size_t i = 0; i < data.size(); ++i) {
    rx_.send(data[i], first + static_cast<std::int64_t>(i) * byteNs, programBaud_);
  }
  receiveRx(opt_.pacing ? nowNs_ : rx_.freeAtNs() + UartLine::byteNs(radioBaud_));
  advanceTo(nowNs_);
}

Bytes VirtualTarn::transmit(std::int64_t nowUs) {
  advanceTo(toNs(nowUs));
  Bytes out;
  out.swap(delivered_);
  return out;
}

std::optional<std::int64_t> VirtualTarn::nextTransmitUs() const {
  if (!delivered_.empty()) return nowNs_ / 1000;
  std::int64_t t = kNever;
  if (!events_.empty()) t = std::min(t, events_.begin()->first);
  if (stream_.active) t = std::min(t, std::max(tx_.freeAtNs(), nowNs_));
  if (!tx_.empty()) t = std::min(t, tx_.frontEndNs());
  if (!rx_.empty()) t = std::min(t, rx_.frontEndNs());
  if (t == kNever) return std::nullopt;
  if (!opt_.pacing) return std::max(t, nowNs_) / 1000;
  // A byte that is being sampled completes after the byte that started it: look again a
  // bit time later rather than at once.
  if (t <= nowNs_) t = nowNs_ + UartLine::byteNs(std::max(programBaud_, radioBaud_)) / 10;
  return (t + 999) / 1000;
}

void VirtualTarn::setSilent(bool silent, std::int64_t nowUs) {
  advanceTo(toNs(nowUs));
  setSilent(silent);
}

void VirtualTarn::setSilent(bool silent) {
  if (silent == silent_) return;
  silent_ = silent;
  log(nowNs_, silent ? "SILENT on" : "SILENT off");
  if (!silent) return;
  // Answers not begun are never sent; a speed switch already under way still happens.
  for (auto it = events_.begin(); it != events_.end();) {
    it = it->second.kind == Event::SwitchBaud ? std::next(it) : events_.erase(it);
  }
  if (write_.active) {
    write_ = WriteSession{};
    log(nowNs_, "CLONE write abandoned");
  }
  if (stream_.active) {
    // The record on the wire goes out whole; nothing follows it.
    stream_.active = false;
    log(nowNs_, stream_.next == 0
                    ? std::string("CLONE read: stream stops before its first record")
                    : "CLONE read: stream stops after record " + std::to_string(stream_.next - 1));
    schedule(opt_.pacing ? tx_.freeAtNs() : nowNs_, Event{Event::SwitchBaud, {}, kLowBaud});
  }
}

void VirtualTarn::delayNextMonitorAnswer(std::int64_t delayUs) {
  log(nowNs_, "LATE next monitor answer by " + std::to_string(delayUs / 1000) + " ms" +
                  (lateAnswerUs_ > 0 ? " (armed already)" : ""));
  lateAnswerUs_ = std::max<std::int64_t>(delayUs, 1);
}

void VirtualTarn::spoilNextMonitorAnswer() {
  log(nowNs_, spoilMonitor_ ? "SPOIL next monitor answer (armed already)" : "SPOIL next monitor answer");
  spoilMonitor_ = true;
}

std::optional<int> VirtualTarn::itemValue(int e8Code) const {
  const auto address = eep::addressOfE8Code(e8Code);
  if (!address) return std::nullopt;
  const int v = readByte(image_, *address);
  return eep::isSignedAddress(*address) && v >= 128 ? v - 256 : v;
}

void VirtualTarn::setImage(const Bytes& image) {
  if (image.size() != static_cast<std::size_t>(eep::kImageSize)) {
    throw std::invalid_argument("image must be 15968 bytes, got " + std::to_string(image.size()));
  }
  image_ = image;
}

void VirtualTarn::setRadio(const Bytes& image, const std::string& subModel, int records) {
  Options next = opt_;
  next.subModel = subModel;
  next.records = records;
  if (const std::string error = optionsError(next); !error.empty()) throw std::invalid_argument(error);
  setImage(image);
  opt_ = next;
  subModel_[0] = static_cast<std::uint8_t>(hexDigit(static_cast<std::uint8_t>(subModel[0])) * 16 +
                                           hexDigit(static_cast<std::uint8_t>(subModel[1])));
  subModel_[1] = static_cast<std::uint8_t>(hexDigit(static_cast<std::uint8_t>(subModel[2])) * 16 +
                                           hexDigit(static_cast<std::uint8_t>(subModel[3])));
  log(nowNs_,
      "RADIO another one on the cable: sub-model " + subModel + ", " + std::to_string(records) + " records");
}

std::uint8_t VirtualTarn::txfEntry(int k) const {
  if (k < 0 || k >= eep::kTxfEntries) throw std::out_of_range("compensation entry " + std::to_string(k));
  return readByte(image_, eep::kTxfTable + k);
}

// ---------------------------------------------------------------------------------------------
// Time

void VirtualTarn::advanceTo(std::int64_t nowNs) {
  if (!clockStarted_) {
    clockStarted_ = true;
    nowNs_ = nowNs;
  }
  nowNs = std::max(nowNs, nowNs_);
  physics_.setClock(nowNs / 1000);
  receiveRx(opt_.pacing ? nowNs : rx_.freeAtNs() + UartLine::byteNs(radioBaud_));
  for (;;) {
    const std::int64_t tEvent = events_.empty() ? kNever : events_.begin()->first;
    const std::int64_t tStream =
        stream_.active ? (opt_.pacing ? std::max(tx_.freeAtNs(), nowNs_) : nowNs_) : kNever;
    const std::int64_t t = std::min(tEvent, tStream);
    if (t > nowNs) break;
    nowNs_ = std::max(nowNs_, t);
    if (tEvent <= tStream) {
      const Event ev = events_.begin()->second;
      events_.erase(events_.begin());
      runEvent(t, ev);
    } else {
      emitStreamFrame(t);
    }
  }
  nowNs_ = nowNs;
  deliverTx(opt_.pacing ? nowNs_ : tx_.freeAtNs());
}

void VirtualTarn::schedule(std::int64_t atNs, Event ev) {
  events_.emplace(std::max(atNs, nowNs_), std::move(ev));
}

void VirtualTarn::runEvent(std::int64_t atNs, const Event& ev) {
  switch (ev.kind) {
    case Event::SendFrame:
      // E8 answers are the monitor answers (EF EE E8 model sub-model 03 value).
      if (lateAnswerUs_ > 0 && ev.frame.size() >= 10 && ev.frame[2] == cmd::kE8 &&
          ev.frame[7] == e8::kMonitor) {
        const std::int64_t delayNs = lateAnswerUs_ * 1000;
        lateAnswerUs_ = 0;
        log(atNs, "LATE monitor answer: it leaves " + std::to_string(delayNs / 1000000) + " ms from now");
        schedule(atNs + delayNs, ev);
      } else if (spoilMonitor_ && ev.frame.size() >= 10 && ev.frame[2] == cmd::kE8 &&
                 ev.frame[7] == e8::kMonitor) {
        spoilMonitor_ = false;
        Bytes spoiled = ev.frame;
        spoiled[8] = 'G';
        spoiled[9] = 'Q';
        log(atNs, "SPOIL monitor answer: value bytes not hex");
        queueFrame(spoiled, atNs);
      } else {
        queueFrame(ev.frame, atNs);
      }
      break;
    case Event::SwitchBaud:
      if (ev.baud != radioBaud_) {
        log(atNs, "BAUD " + std::to_string(radioBaud_) + " -> " + std::to_string(ev.baud));
        radioBaud_ = ev.baud;
      }
      break;
    case Event::StartStream:
      stream_ = Stream{true, 0};
      log(atNs, "CLONE read: streaming " + std::to_string(opt_.records) + " records");
      break;
  }
}

void VirtualTarn::emitStreamFrame(std::int64_t atNs) {
  const int k = stream_.next++;
  if (k < opt_.records) {
    if (const int source = recordSource(k); source != k) {
      log(atNs, "CLONE read: record " + std::to_string(source) + " sent again in place of record " +
                    std::to_string(k));
    }
    queueFrame(readRecord(k), atNs);
    if (hasAt(Fault::SilenceAfter, k)) {
      stream_.active = false;
      log(atNs, "CLONE read: stream stops after record " + std::to_string(k));
      schedule(opt_.pacing ? tx_.freeAtNs() : atNs, Event{Event::SwitchBaud, {}, kLowBaud});
    }
    return;
  }
  queueFrame(endFrame(), atNs);
  stream_.active = false;
  // Back to the low speed once the end frame has completely left.
  schedule(opt_.pacing ? tx_.freeAtNs() : atNs, Event{Event::SwitchBaud, {}, kLowBaud});
}

void VirtualTarn::queueFrame(const Bytes& body, std::int64_t atNs) {
  if (has(Fault::Noise)) {
    std::uniform_int_distribution<int> count(1, 3);
    std::uniform_int_distribution<int> value(0, 0xFC);  // below FD: never a preamble or an end byte
    for (int n = count(lineNoise_); n > 0; --n) {
      tx_.send(static_cast<std::uint8_t>(value(lineNoise_)), atNs, radioBaud_);
    }
  }
  Bytes wire = {kFe, kFe};
  for (std::uint8_t b : body) {
    if (b == kFe || b == kFd) throw std::logic_error("frame data byte FE/FD in " + hexText(body));
    wire.push_back(b);
  }
  wire.push_back(kFd);
  const std::int64_t start = std::max(atNs, tx_.freeAtNs());
  for (std::uint8_t b : wire) tx_.send(b, start, radioBaud_);
  remember(opt_.pacing ? start : atNs, true, wire);
}

void VirtualTarn::deliverTx(std::int64_t limitNs) {
  if (!programOpen_) {
    tx_.discardUntil(limitNs);
    return;
  }
  std::vector<UartLine::Received> got;
  tx_.receive(limitNs, programBaud_, got);
  int garbled = 0;
  for (const UartLine::Received& r : got) {
    delivered_.push_back(r.byte);
    if (r.sampled) ++garbled;
  }
  if (garbled > 0) {
    log(nowNs_, "LINE " + std::to_string(garbled) + " bytes garbled at the program (radio " +
                    std::to_string(radioBaud_) + ", program " + std::to_string(programBaud_) + ")");
  }
}

void VirtualTarn::receiveRx(std::int64_t limitNs) {
  std::vector<UartLine::Received> got;
  rx_.receive(limitNs, radioBaud_, got);
  int garbled = 0;
  for (const UartLine::Received& r : got) {
    if (r.sampled) ++garbled;
  }
  if (garbled > 0) {
    log(nowNs_, "LINE " + std::to_string(garbled) + " bytes garbled at the radio (program " +
                    std::to_string(programBaud_) + ", radio " + std::to_string(radioBaud_) + ")");
  }
  for (const UartLine::Received& r : got) {
    // Without pacing the line's times are notional: the radio acts at once.
    if (auto body = cutter_.feed(r.byte)) handleFrame(*body, opt_.pacing ? std::max(r.atNs, nowNs_) : nowNs_);
  }
}

// ---------------------------------------------------------------------------------------------
// Requests

bool VirtualTarn::identityMatches(const Bytes& body) const {
  return body.size() >= 7 && body[3] == model_[0] && body[4] == model_[1] && body[5] == subModel_[0] &&
         body[6] == subModel_[1];
}

void VirtualTarn::handleFrame(const Bytes& body, std::int64_t atNs) {
  Bytes wire(body.size() + 3, kFe);
  std::copy(body.begin(), body.end(), wire.begin() + 2);
  wire.back() = kFd;
  remember(atNs, false, wire);
  if (!answering()) return;
  if (body.size() < 3 || body[0] != kToRadio || body[1] != kToProgram) {
    log(atNs, "ignored: not addressed to the radio");
    return;
  }
  const std::uint8_t command = body[2];
  if (stream_.active) {
    log(atNs, "ignored: busy with the clone read stream");
    return;
  }
  if (write_.active && command != cmd::kRecord && command != cmd::kEnd) {
    write_ = WriteSession{};
    log(atNs, "CLONE write abandoned");
  }
  const std::int64_t answerAt = atNs + delayNs(kAnswerLatencyUs);
  switch (command) {
    case cmd::kIdentify:
      // Any identification request is answered, whatever model it asks for: the program
      // learns from the answer whom it talks to.
      if (body.size() >= 5) schedule(answerAt, Event{Event::SendFrame, identification(), 0});
      return;
    case cmd::kCloneRead:
      if (body.size() == 7 && identityMatches(body)) {
        schedule(answerAt, Event{Event::StartStream, {}, 0});
      } else {
        log(atNs, "ignored: clone read for another identity");
      }
      return;
    case cmd::kCloneWrite:
      if (body.size() == 7 && identityMatches(body)) {
        write_ = WriteSession{true, image_, kWriteAccepted, 0};
        log(atNs, "CLONE write: receiving records");
      } else {
        log(atNs, "ignored: clone write for another identity");
      }
      return;
    case cmd::kRecord:
      if (write_.active) handleWriteRecord(body, atNs);
      return;
    case cmd::kEnd:
      if (write_.active) handleWriteEnd(body, atNs);
      return;
    case cmd::kE8:
      handleE8(body, atNs);
      return;
    default:
      log(atNs, "ignored: command " + hex2(command));
      return;
  }
}

void VirtualTarn::handleE8(const Bytes& body, std::int64_t atNs) {
  if (body.size() != 10 || !identityMatches(body)) {
    log(atNs, "ignored: E8 malformed or for another identity");
    return;
  }
  const int code = body[7];
  const int hi = hexDigit(body[8]);
  const int lo = hexDigit(body[9]);
  if (hi < 0 || lo < 0) {
    log(atNs, "ignored: E8 value is not hex");
    return;
  }
  const int value = hi * 16 + lo;
  switch (code) {
    case e8::kChannel:
      if (value >= 1 && value <= slotCount(image_)) {
        slot_ = value - 1;
        log(atNs, "E8 select channel slot " + std::to_string(slot_));
        logTransmitter(atNs, true);
      } else {
        log(atNs, "ignored: no channel slot for number " + std::to_string(value));
      }
      return;
    case e8::kLineSpeed:
      if (value == e8::kHighSpeed) {
        log(atNs, "E8 line speed 38400 requested");
        schedule(atNs + delayNs(kSpeedSwitchUs), Event{Event::SwitchBaud, {}, kHighBaud});
      } else {
        log(atNs, "ignored: line speed code " + std::to_string(value));
      }
      return;
    case e8::kMode:
      if (value == e8::kAdjustMode) {
        adjustMode_ = true;
        log(atNs, "E8 adjustment mode on");
      } else if (value == e8::kCalWide) {
        calWide_ = true;
        log(atNs, "E8 calibration point wide taken");
      } else if (value == e8::kCalNarrow) {
        calNarrow_ = true;
        log(atNs, "E8 calibration point narrow taken");
      } else {
        log(atNs, "ignored: mode value " + std::to_string(value));
      }
      return;
    case e8::kMonitor: {
      const int raw = physics_.monitor(value, image_, slot_);
      Bytes answer = {kToProgram, kToRadio,     cmd::kE8,     model_[0],
                      model_[1],  subModel_[0], subModel_[1], e8::kMonitor};
      if (has(Fault::MonitorIdentity)) answer[4] = static_cast<std::uint8_t>(model_[1] - 1);
      if (has(Fault::MonitorNonHex)) {
        answer.push_back('G');
        answer.push_back('Q');
      } else {
        appendAsciiHex(answer, static_cast<std::uint8_t>(raw));
      }
      if (has(Fault::MonitorLength)) answer.push_back('0');
      schedule(atNs + delayNs(kAnswerLatencyUs), Event{Event::SendFrame, answer, 0});
      if (value == mon::kTemperature) logTransmitter(atNs, false);
      return;
    }
    default:
      break;
  }
  const auto address = eep::addressOfE8Code(code);
  if (!address) {
    log(atNs, "ignored: E8 code " + hex2(code));
    return;
  }
  writeByte(image_, *address, static_cast<std::uint8_t>(value));
  lastItemCode_ = code;
  ++itemCommands_;
  log(atNs, "E8 code " + hex2(code) + " value " + std::to_string(*itemValue(code)) + " -> EEPROM " +
                std::to_string(*address));
  if (*address >= eep::kTxfTable && *address < eep::kTxfTable + eep::kTxfEntries) logTransmitter(atNs, true);
}

void VirtualTarn::handleWriteRecord(const Bytes& body, std::int64_t atNs) {
  if (write_.status != kWriteAccepted) return;  // the session has failed already
  const std::size_t chars = body.size() - 3;
  Bytes pairs;
  bool hex = chars >= 10 && chars % 2 == 0;
  for (std::size_t i = 3; hex && i + 1 < body.size(); i += 2) {
    const int h = hexDigit(body[i]);
    const int l = hexDigit(body[i + 1]);
    if (h < 0 || l < 0) hex = false;
    pairs.push_back(static_cast<std::uint8_t>(h * 16 + l));
  }
  int sum = 0;
  for (std::uint8_t p : pairs) sum += p;
  if (!hex || pairs[2] == 0 || pairs.size() != static_cast<std::size_t>(pairs[2]) + 4 || sum % 256 != 0) {
    write_.status = kWriteBadRecord;
    log(atNs, "CLONE write: bad record");
    return;
  }
  const int address = pairs[0] * 256 + pairs[1];
  const int size = pairs[2];
  if (address + size > eep::kImageSize) {
    write_.status = kWriteOutside;
    log(atNs, "CLONE write: record outside the image at " + std::to_string(address));
    return;
  }
  std::copy(pairs.begin() + 3, pairs.begin() + 3 + size, write_.staging.begin() + address);
  ++write_.records;
}

void VirtualTarn::handleWriteEnd(const Bytes& body, std::int64_t atNs) {
  Bytes maker(body.begin() + 3, body.end());
  std::uint8_t status = write_.status;
  if (status == kWriteAccepted && maker != Bytes(kMaker.begin(), kMaker.end())) status = kWriteBadEnd;
  if (status == kWriteAccepted) {
    // The records are kept aside until the end frame confirms the write: a broken write
    // leaves the memory as it was.
    image_ = write_.staging;
    log(atNs, "CLONE write: " + std::to_string(write_.records) + " records stored");
  } else {
    log(atNs, "CLONE write refused, status " + hex2(status));
  }
  lastWriteStatus_ = status;
  write_ = WriteSession{};
  schedule(atNs + delayNs(kAnswerLatencyUs),
           Event{Event::SendFrame, {kToProgram, kToRadio, cmd::kWriteResult, status}, 0});
}

// ---------------------------------------------------------------------------------------------
// Answers

Bytes VirtualTarn::identification() const {
  Bytes f = {kToProgram, kToRadio,     cmd::kIdentification, model_[0],
             model_[1],  subModel_[0], subModel_[1],         0};  // 1..8
  appendText(f, "20417093");                                      // 9..16 serial
  appendText(f, "KV-TARN 440-470 ");                              // 17..32
  f.resize(41, 0x00);                                             // 33..41
  f.push_back(0x12);                                              // 42: layout with end address
  f.push_back(version_);                                          // 43: format version
  f.resize(53, 0x00);                                             // 44..53
  appendText(f, "0000");                                          // 54..57: first address
  char end[8];
  std::snprintf(end, sizeof end, "%04X", opt_.records * kRecordSize - 1);
  appendText(f, end);  // 58..61: last address
  f.resize(64, 0x00);  // 62..64
  f[7] = static_cast<std::uint8_t>(f.size() - 7);
  return f;
}

int VirtualTarn::recordSource(int position) const {
  // A repeated record stands in for the next one, and may itself be repeated again.
  int source = position;
  while (source > 0 && hasAt(Fault::RepeatRecord, source - 1)) --source;
  return source;
}

Bytes VirtualTarn::readRecord(int position) const {
  // The stream's content comes from the source record; the faults that spoil a frame act
  // on the frame sent at this position.
  int address = recordSource(position) * kRecordSize;
  Bytes record = {static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address & 0xFF),
                  static_cast<std::uint8_t>(kRecordSize)};
  record.insert(record.end(), image_.begin() + address, image_.begin() + address + kRecordSize);
  if (hasAt(Fault::OutsideImage, position)) {
    address = eep::kImageSize;  // 3E60: the first address past the memory
    record[0] = static_cast<std::uint8_t>(address >> 8);
    record[1] = static_cast<std::uint8_t>(address & 0xFF);
  }
  int sum = 0;
  for (std::uint8_t b : record) sum += b;
  int checksum = (256 - sum % 256) % 256;
  if (hasAt(Fault::BadChecksum, position)) checksum = (checksum + 1) % 256;
  record.push_back(static_cast<std::uint8_t>(checksum));
  Bytes body = {kToProgram, kToRadio, cmd::kRecord};
  for (std::uint8_t b : record) appendAsciiHex(body, b);
  return body;
}

Bytes VirtualTarn::endFrame() const {
  Bytes body = {kToProgram, kToRadio, cmd::kEnd};
  appendText(body, kMaker);
  int count = opt_.records % 256;
  if (has(Fault::BadCount)) count = (count + 1) % 256;
  appendAsciiHex(body, static_cast<std::uint8_t>(count));
  return body;
}

// ---------------------------------------------------------------------------------------------
// Record keeping

void VirtualTarn::remember(std::int64_t atNs, bool fromRadio, const Bytes& wire) {
  frames_.push_back(FrameRecord{atNs / 1000, fromRadio, radioBaud_, wire});
  ++framesRecorded_;
  if (frames_.size() > kFrameHistory) frames_.pop_front();
  if (log_) {
    char head[16];
    std::snprintf(head, sizeof head, "%s %5d ", fromRadio ? "TX" : "RX", radioBaud_);
    log(atNs, head + hexText(wire));
    // Named as the program's trace names it, so that the two read side by side.
    log(atNs, "FRAME   " + tarnset::describeFrame(wire));
  }
}

void VirtualTarn::log(std::int64_t atNs, const std::string& text) const {
  if (!log_) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%10.3f ", static_cast<double>(atNs) / 1e6);
  log_(stamp + text);
}

void VirtualTarn::logTransmitter(std::int64_t atNs, bool always) {
  if (!log_) return;
  const TxReport r = transmitter();
  if (!r.valid) {
    if (always) log(atNs, "TXF slot " + std::to_string(r.slot) + ": no transmit frequency");
    return;
  }
  const long errorHz = std::lround(r.errorHz);
  if (!always && lastLoggedErrorHz_ == errorHz) return;
  lastLoggedErrorHz_ = errorHz;
  char line[200];
  std::snprintf(line, sizeof line,
                "TXF slot %d setting %d (segment %d, raw %d, %.2f C): %.6f MHz for %.6f MHz, error %+.1f Hz "
                "(%+.3f ppm)",
                r.slot, r.setting, r.segment, r.temperatureRaw, temperatureC(), r.actualHz / 1e6,
                r.nominalHz / 1e6, r.errorHz, r.errorPpm);
  log(atNs, line);
}

}  // namespace kvsim
