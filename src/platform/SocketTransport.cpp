#include "platform/SocketTransport.h"

#include <mutex>
#include <thread>

#include "platform/InstrumentLinks.h"

namespace tarnset {

// The result of a name lookup, written by the helper thread.
struct SocketTransport::Lookup {
  std::mutex mutex;
  bool done = false;
  std::vector<sockio::Address> addresses;
  std::string why;
};

SocketTransport::SocketTransport(std::string host, std::uint16_t port, const TickSource& clock)
    : host_(std::move(host)), port_(port), timer_(clock) {}

SocketTransport::~SocketTransport() {
  close();
}

bool SocketTransport::open(std::int32_t timeoutMs) {
  close();
  error_.clear();
  lastReason_.clear();
  timeoutMs_ = timeoutMs;
  timer_.setCounter(timeoutMs);
  status_ = Status::Connecting;
  if (sockio::numericAddresses(host_, port_, addresses_)) {
    next_ = 0;
    connectNext();
    return status_ != Status::Failed;
  }
  // A name: the lookup may take long (a DNS server that does not answer), so a helper
  // thread makes it; a lookup abandoned by close() ends on its own.
  lookup_ = std::make_shared<Lookup>();
  std::thread([state = lookup_, host = host_, port = port_] {
    std::string why;
    std::vector<sockio::Address> found = sockio::lookUp(host, port, why);
    const std::lock_guard<std::mutex> lock(state->mutex);
    state->addresses = std::move(found);
    state->why = std::move(why);
    state->done = true;
  }).detach();
  return true;
}

void SocketTransport::close() {
  sockio::closeSocket(socket_);
  lookup_.reset();
  addresses_.clear();
  output_.clear();
  received_.clear();
  status_ = Status::Closed;
}

void SocketTransport::fail(const std::string& why) {
  sockio::closeSocket(socket_);
  lookup_.reset();
  error_ = why;
  status_ = Status::Failed;
}

void SocketTransport::connectNext() {
  while (next_ < addresses_.size()) {
    std::string why;
    socket_ = sockio::startConnect(addresses_[next_++], why);
    if (socket_.valid()) return;
    lastReason_ = why;
  }
  fail(lastReason_.empty() ? "no address to connect to" : lastReason_);
}

void SocketTransport::task() {
  if (status_ == Status::Connecting) {
    if (lookup_) {
      const std::lock_guard<std::mutex> lock(lookup_->mutex);
      if (lookup_->done) {
        addresses_ = std::move(lookup_->addresses);
        if (addresses_.empty()) lastReason_ = "cannot find host '" + host_ + "': " + lookup_->why;
      }
    }
    if (lookup_ && !addresses_.empty()) {
      lookup_.reset();
      next_ = 0;
      connectNext();
    } else if (lookup_ && !lastReason_.empty()) {
      fail(lastReason_);
      return;
    }
    while (socket_.valid() && status_ == Status::Connecting) {
      std::string why;
      const sockio::Progress p = sockio::connectProgress(socket_, why);
      if (p == sockio::Progress::Pending) break;
      if (p == sockio::Progress::Connected) {
        status_ = Status::Open;
        break;
      }
      lastReason_ = why;
      sockio::closeSocket(socket_);
      connectNext();
    }
    if (status_ == Status::Connecting && timer_.counter() < 1) {
      fail("no connection within " + std::to_string(timeoutMs_) + " ms" +
           (lastReason_.empty() ? "" : " (" + lastReason_ + ")"));
    }
  }
  if (status_ == Status::Open) pump();
}

void SocketTransport::pump() {
  std::string why;
  while (!output_.empty()) {
    const long n = sockio::sendSome(socket_, output_.data(), output_.size(), why);
    if (n < 0) {
      fail(why);
      return;
    }
    if (n == 0) break;
    output_.erase(0, static_cast<std::size_t>(n));
  }
  char buffer[4096];
  for (;;) {
    const long n = sockio::receiveSome(socket_, buffer, sizeof buffer, why);
    if (n == -2) return;
    if (n < 0) {
      fail(why);
      return;
    }
    if (n == 0) {
      fail("the instrument closed the connection");
      return;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool SocketTransport::writeLine(const std::string& line) {
  if (status_ != Status::Open) return false;
  if (output_.size() + line.size() + 1 > kMaxPendingOutput) {
    fail("the instrument takes no more commands (" + std::to_string(output_.size()) + " bytes wait)");
    return false;
  }
  output_ += line;
  output_ += '\n';
  pump();
  return status_ == Status::Open;
}

std::string SocketTransport::readAll() {
  if (status_ == Status::Open) pump();
  std::string out;
  out.swap(received_);
  return out;
}

std::unique_ptr<InstrumentTransport> makeSocketTransport(const std::string& host, std::uint16_t port,
                                                         const TickSource& clock) {
  return std::make_unique<SocketTransport>(host, port, clock);
}

}  // namespace tarnset
