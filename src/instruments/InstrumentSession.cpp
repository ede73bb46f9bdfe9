#include "instruments/InstrumentSession.h"

#include <utility>

namespace tarnset {
namespace {

constexpr std::size_t kMaxErrorsRead = 10;  // SYST:ERR? asked again while entries remain
constexpr std::size_t kMaxDroppedShown = 4;

const char* const kCheckLink =
    "Check that the instrument is switched on and connected, that its remote interface is "
    "enabled, and its address in Instruments.ini.";
const char* const kCheckCommand =
    "Check the command against the instrument's manual and the profile of the instrument in "
    "Instruments.ini.";

}  // namespace

InstrumentSession::InstrumentSession(std::string name, std::string address,
                                     std::unique_ptr<InstrumentTransport> transport, const TickSource& clock,
                                     std::int32_t timeoutMs)
    : name_(std::move(name)),
      address_(std::move(address)),
      transport_(std::move(transport)),
      clock_(clock),
      timeoutMs_(timeoutMs),
      timer_(clock) {}

InstrumentSession::~InstrumentSession() {
  transport_->close();
}

void InstrumentSession::query(const std::string& command, ScpiDone done) {
  queue_.push_back(Request{false, command, std::move(done), {}});
}

void InstrumentSession::setting(const std::string& command, ScpiDone done) {
  queue_.push_back(Request{true, command, std::move(done), {}});
}

void InstrumentSession::cancelAll() {
  queue_.clear();
  drop();
}

std::string InstrumentSession::where() const {
  return "Instrument: " + name_ + " (" + address_ + ")" +
         (identity_ ? "\nIdentity: " + identity_->maker + ", " + identity_->model + ", " + identity_->serial
                    : "");
}

ScpiReply InstrumentSession::failure(const std::string& command, const std::string& error,
                                     const std::string& answerNote, const std::string& check) const {
  ScpiReply r;
  r.command = command;
  r.error = error;
  r.details = where() + (command.empty() ? "" : "\nCommand: " + command) +
              (answerNote.empty() ? "" : "\n" + answerNote) + "\n" + check;
  r.tickMs = clock_.nowMs();
  return r;
}

bool InstrumentSession::send(const std::string& line) {
  if (transport_->writeLine(line)) return true;
  onLinkLost();
  return false;
}

void InstrumentSession::drop() {
  transport_->close();
  cutter_.clear();
  lines_.clear();
  identity_.reset();
  state_ = State::Closed;
}

void InstrumentSession::failAll(const std::string& error, const std::string& details) {
  drop();
  std::deque<Request> failed;
  failed.swap(queue_);
  for (Request& q : failed) {
    ScpiReply r;
    r.command = q.command;
    r.error = error;
    r.details = details + "\nCommand: " + q.command;
    r.tickMs = clock_.nowMs();
    if (q.done) q.done(r);
  }
}

void InstrumentSession::startConnect() {
  identity_.reset();
  dropped_.clear();
  cutter_.clear();
  lines_.clear();
  if (!transport_->open(timeoutMs_)) {
    failAll("Cannot reach the " + name_ + " at " + address_ + ": " + transport_->errorText() + ".",
            where() + "\nReason: " + transport_->errorText() + "\n" + kCheckLink);
    return;
  }
  state_ = State::Connecting;
  timer_.setCounter(timeoutMs_);
}

void InstrumentSession::complete(ScpiReply reply) {
  Request q = std::move(queue_.front());
  queue_.pop_front();
  if (state_ == State::Busy) state_ = State::Ready;
  reply.tickMs = clock_.nowMs();
  if (q.done) q.done(reply);
}

void InstrumentSession::sendFront() {
  const Request& q = queue_.front();
  state_ = State::Busy;
  timer_.setCounter(timeoutMs_);
  if (!send(q.command)) return;
  if (q.setting) send("SYST:ERR?");
}

void InstrumentSession::takeLines() {
  if (transport_->bytesReadable() == 0) return;
  std::vector<ScpiLineCutter::Line> got;
  cutter_.feed(transport_->readAll(), got);
  for (ScpiLineCutter::Line& l : got) lines_.push_back(std::move(l));
}

void InstrumentSession::onLinkLost() {
  const std::string reason =
      transport_->errorText().empty() ? "the link was closed" : transport_->errorText();
  if (state_ == State::Busy && !queue_.empty()) {
    const std::string command = queue_.front().command;
    drop();
    complete(failure(command,
                     "The connection to the " + name_ + " was lost while waiting for the answer to '" +
                         command + "': " + reason + ".",
                     "Reason: " + reason, kCheckLink));
    return;
  }
  if (state_ == State::Connecting || state_ == State::Identifying) {
    failAll("Cannot reach the " + name_ + " at " + address_ + ": " + reason + ".",
            where() + "\nReason: " + reason + "\n" + kCheckLink);
    return;
  }
  drop();
}

void InstrumentSession::onTimeout() {
  const std::string partial =
      cutter_.pending().empty()
          ? std::string("Answer: nothing")
          : "Answer so far: '" + printableAnswer(cutter_.pending()) + "' (without its line end)";
  const std::string ms = std::to_string(timeoutMs_) + " ms";
  if (state_ == State::Connecting) {
    failAll("No connection to the " + name_ + " at " + address_ + " within " + ms + ".",
            where() + "\n" + kCheckLink);
    return;
  }
  if (state_ == State::Identifying) {
    std::string seen;
    for (const std::string& d : dropped_) seen += "\nNot an identification: '" + d + "'";
    failAll("The " + name_ + " does not answer *IDN? within " + ms + ".",
            where() + "\nCommand: *IDN?\n" + partial + seen +
                "\nCheck that the instrument speaks SCPI on this interface (a LAN instrument on its raw "
                "socket port, a serial one at the baud rate in Instruments.ini).");
    return;
  }
  if (state_ == State::Busy && !queue_.empty()) {
    const Request& q = queue_.front();
    const std::string command = q.setting ? q.command + " (then SYST:ERR?)" : q.command;
    ScpiReply r =
        failure(command, "No answer from the " + name_ + " to '" + q.command + "' within " + ms + ".",
                partial, kCheckCommand);
    drop();  // a late answer must never be taken for the next one
    complete(std::move(r));
  }
}

void InstrumentSession::onLine(const ScpiLineCutter::Line& line) {
  if (state_ == State::Identifying) {
    if (auto id = line.overLong ? std::nullopt : parseScpiIdentity(line.text)) {
      identity_ = std::move(id);
      state_ = State::Ready;
      send("*CLS");  // errors of an earlier session are not ours to report
      return;
    }
    if (dropped_.size() < kMaxDroppedShown) dropped_.push_back(printableAnswer(line.text));
    return;
  }
  if (state_ != State::Busy || queue_.empty()) return;  // nobody asked: a late or stray line
  Request& q = queue_.front();
  if (line.overLong) {
    complete(failure(q.command,
                     "The answer of the " + name_ + " to '" + q.command + "' is longer than " +
                         std::to_string(ScpiLineCutter::kMaxLine) + " characters.",
                     "Answer begins: '" + printableAnswer(line.text) + "'", kCheckCommand));
    drop();
    return;
  }
  if (!q.setting) {
    // An identification in answer to a measurement is a late *IDN? answer: not this one's.
    if (q.command != "*IDN?" && parseScpiIdentity(line.text)) return;
    ScpiReply r;
    r.ok = true;
    r.command = q.command;
    r.answer = line.text;
    r.details = where() + "\nCommand: " + q.command + "\nAnswer: '" + printableAnswer(line.text) + "'";
    complete(std::move(r));
    return;
  }
  const auto entry = parseScpiError(line.text);
  if (!entry) {
    complete(failure(
        q.command,
        "The " + name_ + " gave no error queue entry in answer to SYST:ERR? after '" + q.command + "'.",
        "Answer to SYST:ERR?: '" + printableAnswer(line.text) + "'", kCheckCommand));
    return;
  }
  if (entry->code != 0) {
    q.errors.push_back(*entry);
    if (q.errors.size() < kMaxErrorsRead) {
      timer_.setCounter(timeoutMs_);
      send("SYST:ERR?");
      return;
    }
  }
  if (q.errors.empty()) {
    ScpiReply r;
    r.ok = true;
    r.command = q.command;
    r.details = where() + "\nCommand: " + q.command + "\nSYST:ERR?: '" + printableAnswer(line.text) + "'";
    complete(std::move(r));
    return;
  }
  const ScpiError first = q.errors.front();
  std::string all;
  for (const ScpiError& e : q.errors) all += "\nError: " + std::to_string(e.code) + ", \"" + e.text + "\"";
  complete(failure(q.command,
                   "The " + name_ + " reports error " + std::to_string(first.code) + ", \"" + first.text +
                       "\" after '" + q.command + "'.",
                   all.substr(1), kCheckCommand));
}

void InstrumentSession::task() {
  transport_->task();
  takeLines();
  if (state_ == State::Closed && !queue_.empty()) startConnect();
  if (state_ == State::Connecting && transport_->status() == InstrumentTransport::Status::Open) {
    state_ = State::Identifying;
    timer_.setCounter(timeoutMs_);
    send("*IDN?");
  }
  // Lines that came before the link went away still count.
  while (!lines_.empty() && state_ != State::Closed) {
    const ScpiLineCutter::Line line = std::move(lines_.front());
    lines_.pop_front();
    onLine(line);
  }
  lines_.clear();
  if (state_ != State::Closed && transport_->status() == InstrumentTransport::Status::Failed) onLinkLost();
  if ((state_ == State::Connecting || state_ == State::Identifying || state_ == State::Busy) &&
      timer_.counter() < 1) {
    onTimeout();
  }
  if (state_ == State::Ready && !queue_.empty()) sendFront();
}

}  // namespace tarnset
