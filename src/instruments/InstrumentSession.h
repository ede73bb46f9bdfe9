#pragma once
// One instrument on its link: a state machine stepped by task() from the poll tick.
//
// A request opens the link when it is closed; the session then asks *IDN?, clears the
// status (*CLS) and serves its queue one request at a time: a query waits for one answer
// line, a setting command is followed by SYST:ERR? and reports the instrument's error
// with its text. Every wait is a count-down of the instrument's time-out. After a
// time-out or a lost connection the link is closed, so that a late answer can never be
// taken for the answer to a later query; the next request connects anew (and a line that
// is not an identification is not taken for the *IDN? answer). Lines nobody asked for
// are dropped. Completion callbacks run from task(), never from within query() or
// setting(); they may queue further requests.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "base/Types.h"
#include "base/clsCmcTick.h"
#include "instruments/ScpiText.h"
#include "platform/InstrumentTransport.h"

namespace tarnset {

// The outcome of one request.
struct ScpiReply {
  bool ok = false;
  std::string command;      // what was sent
  std::string answer;       // the answer line of a query
  std::string error;        // what went wrong, one line (empty when ok)
  std::string details;      // the instrument, the command, its answer and what to check
  std::int32_t tickMs = 0;  // the tick count when the answer came (or the failure was seen)
};
using ScpiDone = std::function<void(const ScpiReply&)>;

class InstrumentSession {
 public:
  enum class State {
    Closed,       // no link; the next request opens it
    Connecting,   // waiting for the link
    Identifying,  // *IDN? sent
    Ready,        // idle on an open link
    Busy,         // a request is under way
  };

  // name and address are for messages; transport is the link (the session owns it).
  InstrumentSession(std::string name, std::string address, std::unique_ptr<InstrumentTransport> transport,
                    const TickSource& clock, std::int32_t timeoutMs);
  ~InstrumentSession();
  InstrumentSession(const InstrumentSession&) = delete;
  InstrumentSession& operator=(const InstrumentSession&) = delete;

  // Queues a query: the answer line goes to done.
  void query(const std::string& command, ScpiDone done);
  // Queues a setting command: sent with SYST:ERR? after it; done learns of any error.
  void setting(const std::string& command, ScpiDone done);
  // Moves the session on: call it from every tick and when waitable() is ready.
  void task();
  // Drops every queued request without calling back and closes the link.
  void cancelAll();

  State state() const { return state_; }
  // Requests queued or under way.
  std::size_t pending() const { return queue_.size(); }
  // What the event loop watches for this instrument (kNoWaitable when the link has none).
  Waitable waitable() const { return transport_->waitable(); }
  // The instrument's *IDN? answer of the present connection.
  const std::optional<ScpiIdentity>& identity() const { return identity_; }
  const std::string& name() const { return name_; }
  const std::string& address() const { return address_; }

 private:
  struct Request {
    bool setting = false;
    std::string command;
    ScpiDone done;
    std::vector<ScpiError> errors;  // settings: the error queue entries read so far
  };

  void startConnect();
  void sendFront();
  void takeLines();
  void onLine(const ScpiLineCutter::Line& line);
  void onTimeout();
  void onLinkLost();
  void complete(ScpiReply reply);
  void failAll(const std::string& error, const std::string& details);
  void drop();
  bool send(const std::string& line);
  ScpiReply failure(const std::string& command, const std::string& error, const std::string& answerNote,
                    const std::string& check) const;
  std::string where() const;

  std::string name_;
  std::string address_;
  std::unique_ptr<InstrumentTransport> transport_;
  const TickSource& clock_;
  std::int32_t timeoutMs_;
  clsCmcTick timer_;
  ScpiLineCutter cutter_;
  std::deque<ScpiLineCutter::Line> lines_;
  std::deque<Request> queue_;
  State state_ = State::Closed;
  std::optional<ScpiIdentity> identity_;
  std::vector<std::string> dropped_;  // lines dropped while identifying (for the details)
};

}  // namespace tarnset
