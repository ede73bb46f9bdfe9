#pragma once
// A raw LAN socket to an instrument (VISA's TCPIP::host::port::SOCKET), on either system
// through the socket calls of platform/SocketIo.h. open() starts it: a numeric address is
// connected at once, a name is looked up first by a helper thread (the lookup blocks);
// each of the host's addresses is tried in turn until one connects or the time runs out.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/TickSource.h"
#include "base/clsCmcTick.h"
#include "platform/InstrumentTransport.h"
#include "platform/SocketIo.h"

namespace tarnset {

class SocketTransport final : public InstrumentTransport {
 public:
  // Bytes of commands that may wait for the system to take them.
  static constexpr std::size_t kMaxPendingOutput = 65536;

  SocketTransport(std::string host, std::uint16_t port, const TickSource& clock);
  ~SocketTransport() override;
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  bool open(std::int32_t timeoutMs) override;
  void close() override;
  Status status() const override { return status_; }
  void task() override;
  bool writeLine(const std::string& line) override;
  std::size_t bytesReadable() const override { return received_.size(); }
  std::string readAll() override;
  Waitable waitable() const override { return sockio::waitableOf(socket_); }
  std::string errorText() const override { return error_; }

 private:
  struct Lookup;

  void connectNext();
  void fail(const std::string& why);
  void pump();

  std::string host_;
  std::uint16_t port_;
  clsCmcTick timer_;
  std::int32_t timeoutMs_ = 0;
  Status status_ = Status::Closed;
  std::string error_;
  std::shared_ptr<Lookup> lookup_;  // shared with the helper thread that looks the name up
  std::vector<sockio::Address> addresses_;
  std::size_t next_ = 0;
  std::string lastReason_;
  sockio::Socket socket_;
  std::string output_;
  std::string received_;
};

}  // namespace tarnset
