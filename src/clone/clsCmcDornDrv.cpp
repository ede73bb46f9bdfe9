#include "clone/clsCmcDornDrv.h"

#include <algorithm>
#include <stdexcept>

#include "base/Checked16.h"
#include "base/Common.h"
#include "base/Wire.h"
#include "clone/ComHost.h"
#include "radio/clsCmcEeprom.h"

namespace tarnset {
namespace {

using wire::isHexDigit;
using wire::kEnd;
using wire::kPreamble;
constexpr std::uint8_t kToRadio = wire::kRadio;
constexpr std::uint8_t kToUs = wire::kProgram;
constexpr std::uint8_t kCmdIdent = wire::cmd::kIdentification;
constexpr std::uint8_t kCmdRecord = wire::cmd::kRecord;
constexpr std::uint8_t kCmdEnd = wire::cmd::kEnd;
constexpr std::uint8_t kCmdWriteResult = wire::cmd::kWriteResult;
constexpr std::uint8_t kCmdE8 = wire::cmd::kE8;

// A received frame keeps at most this many bytes; longer ones lose their leading bytes.
constexpr std::size_t kRxLimit = 256;
// The port must have more than this many bytes free before a frame is queued.
constexpr std::int64_t kMinFreeOutput = 256;
// The image size the program knows when the identification does not name an end.
constexpr std::int16_t kDefaultEndAddress = 15968;
// Layout byte values above this carry the end address in the identification answer.
constexpr std::uint8_t kLayoutWithEnd = 17;
// What a driver error code means, for the trace.
const char* errorMeaning(CloneError code) {
  switch (code) {
    case CloneError::NoEcho:
      return "no echo";
    case CloneError::NoAnswer:
      return "no answer";
    case CloneError::IllegalData:
      return "illegal data";
    case CloneError::DataCounter:
      return "data counter error";
    case CloneError::DataOverflow:
      return "data overflow";
    case CloneError::WriteRefused:
      return "write refused by the radio";
    case CloneError::CannotSend:
      return "cannot send";
    case CloneError::None:
      break;
  }
  return "none";
}

// Bytes first..last (positions from 1, inclusive) of a frame; fewer when it is shorter.
Bytes mid(const Bytes& frame, std::size_t first, std::size_t last) {
  if (first < 1 || first > frame.size() || last < first) return {};
  last = std::min(last, frame.size());
  return Bytes(frame.begin() + static_cast<std::ptrdiff_t>(first - 1),
               frame.begin() + static_cast<std::ptrdiff_t>(last));
}

// True for a non-empty text of decimal digits only (the form of the model codes).
bool isDecimalText(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Value of ASCII hex digits read as an unsigned 16-bit number (addresses are 0000..FFFF).
std::int32_t asciiHexU16(const Bytes& digits) {
  return static_cast<std::uint16_t>(AsciiHexToInt(digits));
}

// Value of up to four hex digits of a text, unsigned (the address list).
std::int32_t textHexU16(const std::string& text, std::size_t first, std::size_t count) {
  if (first >= text.size()) return 0;
  return asciiHexU16(TextToBytes(text.substr(first, count)));
}

}  // namespace

clsCmcDornDrv::clsCmcDornDrv(ComHost& com, const TickSource& clock)
    : myObjCom(&com), waitTimer_(clock), clock_(&clock), owedTimer_(clock) {
  Reset();
}

void clsCmcDornDrv::setWorkMode(WorkMode mode) {
  workMode_ = mode;
  varLastE8Answer_.clear();
  lastEeAdr_ = 0;
  waitAnswer_ =
      (mode == WorkMode::Identify || mode == WorkMode::CloneRead || mode == WorkMode::CloneWriteEnd);
  // A clone read starts with nothing of the image written.
  if (mode == WorkMode::CloneRead)
    written_.assign(static_cast<std::size_t>(std::max<std::int16_t>(endAddress_, 0)), false);
}

void clsCmcDornDrv::setCloneWriteAdrList(const std::string& list) {
  cloneWriteAdrList_ = list;
  writeAdr_ = textHexU16(list, 0, 4);
}

void clsCmcDornDrv::setNowError(CloneError code) {
  nowError_ = code;
  if (code != CloneError::None) {
    lastError_ = code;
    if (trace_ != nullptr)
      trace_->linkEvent("driver error " + std::to_string(number(code)) + ": " + errorMeaning(code));
  }
  endWait();
}

bool clsCmcDornDrv::SendEnable() const {
  const std::int64_t freeBytes = std::int64_t{myObjCom->OutBufferSize()} - myObjCom->OutBufferCount();
  return readyToSend_ && myObjCom->comSendEnable() && freeBytes > kMinFreeOutput;
}

std::int16_t clsCmcDornDrv::Send(const Bytes& payload) {
  transmissions_ = 0;  // a new request
  const std::int16_t r = RealSend(payload);
  retriesLeft_ = retryCount_;
  return r;
}

std::int16_t clsCmcDornDrv::RetrySend() {
  outputRefused_ = false;
  if (retriesLeft_ < 1) return 1;
  endWait();
  const Bytes again = lastSentData_;
  const std::int16_t r = RealSend(again);
  retriesLeft_ = sub16(retriesLeft_, 1);
  return r;
}

void clsCmcDornDrv::SendFE(std::int16_t Wt) {
  if (Wt > 0) sendBuf_.insert(sendBuf_.end(), static_cast<std::size_t>(Wt), kPreamble);
  // The burst only wakes the radio's receiver; a refused burst is noticed by the request
  // that follows it.
  (void)myObjCom->Output(sendBuf_);
}

std::int16_t clsCmcDornDrv::RealSend(const Bytes& payload) {
  if (!(SendEnable() && sendBuf_.empty())) return 1;
  lastSentData_ = payload;
  // An E8 answer repeats the first command byte; an E8 payload without one is a caller error.
  if (workMode_ == WorkMode::E8) e8CheckByte_ = payload.at(5);
  if (waitAnswer_ && owedAnswers_ > 0) {
    // An answer still owed to the last request must not be taken for this one's: the
    // request waits, as if in flight, until the owed answers have come or cannot.
    readyToSend_ = false;
    abandoned_ = false;
    running_ = true;
    heldSend_ = true;
    waitState_ = WaitState::Drain;
    if (trace_ != nullptr) trace_->linkEvent("request held until the answers owed to the last one have come");
    return 0;
  }
  return transmit(payload);
}

std::int16_t clsCmcDornDrv::transmit(const Bytes& payload) {
  sendBuf_ = {kPreamble, kPreamble, kToRadio, kToUs};
  sendBuf_.insert(sendBuf_.end(), payload.begin(), payload.end());
  sendBuf_.push_back(kEnd);
  outputRefused_ = !myObjCom->Output(sendBuf_);
  if (outputRefused_) {
    // The port refused the frame: nothing of it is on the wire, so nothing is awaited
    // and the caller learns that it was not sent.
    sendBuf_.clear();
    return 1;
  }
  readyToSend_ = false;
  abandoned_ = false;
  if (workMode_ == WorkMode::E8 && waitAnswer_) {
    lastTxAt_ = clock_->nowMs();
    if (transmissions_++ == 0) firstTxAt_ = lastTxAt_;
  }
  if (waitEcho()) {
    setWait(WaitState::Echo);
    running_ = true;
  } else if (waitAnswer_) {
    setWait(WaitState::Answer);
    running_ = true;
  } else {
    endWait();
  }
  // The echo is not awaited: the echo state is passed at once, and the echoed frame
  // is later dropped by the answer check.
  advance(1);
  if (!waitAnswer_) endWait();  // read again: advance may have changed the mode
  return 0;
}

void clsCmcDornDrv::read(const Bytes& bytes) {
  auto from = bytes.begin();
  // The first FD at or after 'from'; found once and kept while 'from' has not passed it,
  // so that a long block is scanned a bounded number of times.
  auto fd = bytes.end();
  bool fdKnown = false;
  while (from != bytes.end()) {
    if (waitState_ == WaitState::Echo) {
      advance(1);
      if (waitState_ == WaitState::Echo) return;  // nothing moves the state on: drop the block
      continue;
    }
    // Not waiting for anything (and no answer owed): the block is dropped.
    if (waitState_ != WaitState::Answer && waitState_ != WaitState::Drain &&
        !(waitState_ == WaitState::Idle && owedAnswers_ > 0))
      return;

    if (!fdKnown || fd < from) {
      fd = std::find(from, bytes.end(), kEnd);
      fdKnown = true;
    }
    const auto fe = std::find(from, fd, kPreamble);  // only a preamble before the end byte counts
    if (fe != fd) {
      // A preamble byte: a new frame starts after it (after the last of a run of FE).
      from = fe + 1;
      rxBuf_.clear();
      hunting_ = false;
    } else if (fd != bytes.end()) {
      if (hunting_) return;  // an end byte before any frame start drops the whole block
      rxBuf_.insert(rxBuf_.end(), from, fd);
      from = fd + 1;
      if (rxBuf_.size() > kRxLimit) rxBuf_.erase(rxBuf_.begin(), rxBuf_.end() - kRxLimit);
      advance(1);
      rxBuf_.clear();
      hunting_ = true;
    } else {
      if (hunting_) return;
      rxBuf_.insert(rxBuf_.end(), from, bytes.end());
      if (rxBuf_.size() > kRxLimit) rxBuf_.erase(rxBuf_.begin(), rxBuf_.end() - kRxLimit);
      from = bytes.end();
    }
  }
}

void clsCmcDornDrv::task() {
  if (owedAnswers_ > 0 && owedTimer_.counter() < 1) {
    if (trace_ != nullptr)
      trace_->linkEvent(std::to_string(owedAnswers_) + " answer(s) owed to the last request never came");
    owedAnswers_ = 0;
    endDrain();
  }
  if (waitState_ == WaitState::Echo) {
    if (waitTimer_.counter() < 1) setNowError(CloneError::NoEcho);
  } else if (waitState_ == WaitState::Answer && waitTimer_.counter() < 1) {
    if (trace_ != nullptr) {
      trace_->linkEvent("no answer within " + std::to_string(kAnswerTime) + " ms" +
                        (retriesLeft_ > 0 ? ": resent, " + std::to_string(retriesLeft_ - 1) + " resends left"
                                          : ": no resend left"));
    }
    // A resend the port refused is a failure to send, not a radio that does not answer.
    if (RetrySend() != 0) setNowError(outputRefused_ ? CloneError::CannotSend : CloneError::NoAnswer);
  }
}

void clsCmcDornDrv::Reset() {
  // An exchange still in flight is cut off here (the port was opened or closed under it).
  if (running_) abandoned_ = true;
  endWait();
  ClearRxBuffer();
  writeAdr_ = 0;
  setNowError(CloneError::None);  // keeps lastError for the message
}

void clsCmcDornDrv::ForgetOwedAnswers() {
  owedAnswers_ = 0;
}

void clsCmcDornDrv::ClearRxBuffer() {
  rxBuf_.clear();
  hunting_ = true;
}

void clsCmcDornDrv::setWait(WaitState state) {
  waitState_ = state;
  if (state == WaitState::Echo) {
    waitTimer_.setCounter(kEchoTime);
  } else if (state == WaitState::Answer) {
    waitTimer_.setCounter(kAnswerTime);
  }
}

void clsCmcDornDrv::advance(std::int16_t reason) {
  if (waitState_ == WaitState::Echo) {
    if (waitAnswer_) {
      setWait(WaitState::Answer);
    } else if (workMode_ == WorkMode::CloneWriteRecords) {
      continueCloneWrite();
    } else if (workMode_ == WorkMode::CloneWriteEnd || workMode_ == WorkMode::E8) {
      endWait();
    }
  } else if (waitState_ == WaitState::Answer && reason == 1) {
    const Bytes frame = rxBuf_;
    varLastE8Answer_ = frame;
    if (handleAnswer(frame) == 0) endWait();
  } else if ((waitState_ == WaitState::Drain || waitState_ == WaitState::Idle) && reason == 1) {
    takeOwedAnswer(rxBuf_);
  }
}

void clsCmcDornDrv::takeOwedAnswer(const Bytes& frame) {
  if (owedAnswers_ < 1 || frame.size() < 3 || frame[0] != kToUs || frame[1] != kToRadio || frame[2] != kCmdE8)
    return;
  --owedAnswers_;
  if (trace_ != nullptr) {
    trace_->linkEvent("late or repeated answer dropped (" + std::to_string(owedAnswers_) +
                      " more owed): it belongs to the last request, not to the next one");
  }
  if (owedAnswers_ == 0) endDrain();
}

void clsCmcDornDrv::endDrain() {
  if (!heldSend_) {
    if (waitState_ == WaitState::Drain) setWait(WaitState::Idle);
    return;
  }
  heldSend_ = false;
  running_ = false;
  readyToSend_ = true;
  setWait(WaitState::Idle);
  const Bytes payload = lastSentData_;
  // The request the drain held goes out now; a port that refuses it fails the exchange.
  if (transmit(payload) != 0) setNowError(CloneError::CannotSend);
}

std::int32_t clsCmcDornDrv::elapsedSince(std::int32_t atMs) const {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(clock_->nowMs()) -
                                   static_cast<std::uint32_t>(atMs));
}

void clsCmcDornDrv::continueCloneWrite() {
  // Each frame handed to the port asks for the next record, and after the last record
  // for the end frame. Sending them from inside the send would nest one call per record
  // (about a thousand for the whole image); the loop sends the same frames in the same
  // order: a send made inside the loop only sets chainPending_.
  if (chainActive_) {
    chainPending_ = true;
    return;
  }
  struct ChainGuard {
    bool& flag;
    ~ChainGuard() { flag = false; }
  } guard{chainActive_};
  chainActive_ = true;
  do {
    chainPending_ = false;
    endWait();
    Bytes payload;
    if (writeAdr_ >= 0) {
      payload = makeWritePacket();
    } else {
      setWorkMode(WorkMode::CloneWriteEnd);  // the end frame expects the write result E6
      payload.push_back(kCmdEnd);
      const Bytes maker = TextToBytes(wire::kMakerText);
      payload.insert(payload.end(), maker.begin(), maker.end());
    }
    if (Send(payload) != 0) setNowError(CloneError::CannotSend);
  } while (chainPending_);
}

std::int16_t clsCmcDornDrv::handleAnswer(const Bytes& frame) {
  if (frame.size() < 3) return 1;
  if (frame[0] != kToUs || frame[1] != kToRadio) return 1;  // foreign frame or our own echo
  bool finished = false;
  const std::uint8_t cmd = frame[2];
  if (cmd == kCmdIdent && workMode_ == WorkMode::Identify) {
    if (checkAnswer(frame)) {
      setNowError(CloneError::IllegalData);
    } else {
      ansInfo_ = frame;
      finished = true;
    }
  } else if (cmd == kCmdRecord && workMode_ == WorkMode::CloneRead) {
    if (checkAnswer(frame)) {
      setNowError(CloneError::IllegalData);
    } else {
      waitTimer_.setCounter(kAnswerTime);
      if (storeRecord(frame) != 0) setNowError(CloneError::DataOverflow);
    }
  } else if (cmd == kCmdEnd && workMode_ == WorkMode::CloneRead) {
    if (checkAnswer(frame)) {
      setNowError(countMismatch_ ? CloneError::DataCounter : CloneError::IllegalData);
    } else if (!readIsWhole()) {
      // The right number of records, but not the whole image (a record repeated in place
      // of another, or a short one): what was never read must not pass for the radio's.
      setNowError(CloneError::DataCounter);
    } else {
      finished = true;
    }
  } else if (cmd == kCmdWriteResult && workMode_ == WorkMode::CloneWriteEnd) {
    if (checkAnswer(frame) || frame.size() < 4) {
      setNowError(CloneError::IllegalData);  // a write result without its status byte is illegal data
    } else if (frame[3] != 0) {
      setNowError(CloneError::WriteRefused);
    } else {
      finished = true;
    }
  } else if (cmd == kCmdE8 && workMode_ == WorkMode::E8) {
    if (checkAnswer(frame)) {
      setNowError(CloneError::IllegalData);
    } else {
      varLastE8Answer_ = mid(frame, 4, frame.size());
      finished = true;
      if (transmissions_ > 1) {
        // The request went out more than once: the other transmissions may be answered
        // too. Their answers are awaited as long as the radio may take: the longest this
        // request can have taken, a quarter more and 100 ms, after the last transmission.
        owedAnswers_ = static_cast<std::int16_t>(transmissions_ - 1);
        const std::int32_t longest = std::max(kAnswerTime, elapsedSince(firstTxAt_));
        const std::int32_t wait = longest + longest / 4 + 100 - elapsedSince(lastTxAt_);
        owedTimer_.setCounter(std::max<std::int32_t>(wait, 1));
        if (trace_ != nullptr) {
          trace_->linkEvent("answered after " + std::to_string(transmissions_) + " transmissions: " +
                            std::to_string(owedAnswers_) + " more answer(s) owed, dropped when they come");
        }
      }
    }
  }
  return (nowError_ != CloneError::None || !finished) ? 1 : 0;
}

bool clsCmcDornDrv::checkAnswer(const Bytes& frame) {
  if (frame.size() < 3 || frame[0] != kToUs || frame[1] != kToRadio) return true;
  switch (frame[2]) {
    case kCmdIdent:
      return checkIdentification(frame);
    case kCmdRecord:
      return checkRecord(frame);
    case kCmdEnd:
      return checkEnd(frame);
    case kCmdE8:
      return checkE8(frame);
    default:
      return false;
  }
}

bool clsCmcDornDrv::checkIdentification(const Bytes& frame) {
  const std::size_t len = frame.size();
  bool bad =
      len < 7 || !isDecimalText(BytesToHex(mid(frame, 4, 7))) || len < 8 || frame[7] != len - 7 || len < 59;

  // The end address of the radio's data, independently of the verdict.
  endAddress_ = kDefaultEndAddress;
  if (len >= 42 && frame[41] > kLayoutWithEnd) {
    if (len < 61) {
      bad = true;  // the layout byte announces an end address that the frame does not hold
    } else {
      // The four digits name the last address; the end is the next 16-byte boundary.
      // Read unsigned and computed in 32 bits; an end beyond the 16-bit range (digits
      // 7FF0 and up) is held at the largest value EndAddress can take.
      const std::int32_t v = asciiHexU16(mid(frame, 58, 61));
      endAddress_ = narrow16(std::min<std::int32_t>((v & 0xFFF0) + 16, 32767));
    }
  }
  recordCount_ = 0;
  return bad;
}

bool clsCmcDornDrv::checkRecord(const Bytes& frame) {
  const std::size_t len = frame.size();
  if (len % 2 == 0 || len < 13) return true;
  unsigned sum = 0;
  for (std::size_t p = 4; p + 1 <= len; p += 2) {
    const std::uint8_t hi = frame[p - 1];
    const std::uint8_t lo = frame[p];
    if (!isHexDigit(hi) || !isHexDigit(lo)) return true;
    sum += static_cast<unsigned>(AsciiHexToInt(Bytes{hi, lo}));
  }
  if (sum % 256 != 0) return true;
  const std::size_t n = static_cast<std::size_t>(AsciiHexToInt(mid(frame, 8, 9)));
  if (n != (len - 11) / 2) return true;
  recordCount_ = static_cast<std::int16_t>((recordCount_ + 1) % 256);
  return false;
}

bool clsCmcDornDrv::checkEnd(const Bytes& frame) {
  countMismatch_ = false;
  if (mid(frame, 4, 12) != TextToBytes(wire::kMakerText)) return true;
  // The record count must be there as two hex digits; a frame without it is malformed.
  if (frame.size() < 14 || !isHexDigit(frame[12]) || !isHexDigit(frame[13])) return true;
  if (AsciiHexToInt(mid(frame, 13, 14)) != recordCount_) {
    countMismatch_ = true;
    return true;
  }
  return false;
}

bool clsCmcDornDrv::checkE8(const Bytes& frame) const {
  if (frame.size() < 8) return true;
  if (!isDecimalText(BytesToHex(mid(frame, 4, 7)))) return true;
  return frame[7] != e8CheckByte_;
}

std::int16_t clsCmcDornDrv::storeRecord(const Bytes& frame) {
  const std::int32_t adr = asciiHexU16(mid(frame, 4, 7));
  const std::int32_t n = AsciiHexToInt(mid(frame, 8, 9));
  Bytes data;
  data.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    const std::size_t p = 10 + 2 * static_cast<std::size_t>(i);
    data.push_back(static_cast<std::uint8_t>(AsciiHexToInt(mid(frame, p, p + 1))));
  }
  // A record past the end the identification named does not belong to the radio that
  // named it (another radio answers the read, or the radio contradicts itself).
  if (adr + n > endAddress_) return 1;
  if (myEep_ == nullptr || myEep_->WriteBlock(adr, data) != 0) return 1;
  lastEeAdr_ = adr + n - 1;
  const std::int32_t end = std::min<std::int32_t>(adr + n, static_cast<std::int32_t>(written_.size()));
  for (std::int32_t a = adr; a < end; ++a) written_[static_cast<std::size_t>(a)] = true;
  return 0;
}

bool clsCmcDornDrv::readIsWhole() const {
  return std::find(written_.begin(), written_.end(), false) == written_.end();
}

Bytes clsCmcDornDrv::makeWritePacket() {
  if (sizDataOfPacket_ < 1 || sizDataOfPacket_ > 255) {
    throw std::out_of_range("clone-write record size outside 1..255");
  }
  if (myEep_ == nullptr) throw std::out_of_range("clone write without an EEPROM image");
  const std::int32_t last = textHexU16(cloneWriteAdrList_, 5, 4);
  const std::int32_t a = writeAdr_;
  if (a > last) throw std::out_of_range("clone-write range ends before it starts");
  const std::int32_t n = (a + sizDataOfPacket_ - 1 <= last) ? sizDataOfPacket_ : last - a + 1;

  Bytes record{static_cast<std::uint8_t>(a / 256), static_cast<std::uint8_t>(a % 256),
               static_cast<std::uint8_t>(n)};
  const Bytes data = myEep_->ReadBlock(a, n);
  record.insert(record.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (std::uint8_t b : record) sum += b;
  record.push_back(static_cast<std::uint8_t>((256 - sum % 256) % 256));

  Bytes payload{kCmdRecord};
  const Bytes ascii = TextToBytes(BytesToHex(record));
  payload.insert(payload.end(), ascii.begin(), ascii.end());

  lastEeAdr_ = a + n - 1;
  if (a + n - 1 < last) {
    writeAdr_ = a + n;
  } else {
    cloneWriteAdrList_.erase(0, std::min<std::size_t>(10, cloneWriteAdrList_.size()));
    writeAdr_ = cloneWriteAdrList_.size() > 9 ? textHexU16(cloneWriteAdrList_, 0, 4) : -1;
  }
  return payload;
}

void clsCmcDornDrv::endWait() {
  heldSend_ = false;
  setWait(WaitState::Idle);
  sendBuf_.clear();
  running_ = false;
  retryCount_ = 0;
  readyToSend_ = true;
}

}  // namespace tarnset
