#pragma once
// Serves the virtual bench on a TCP port of 127.0.0.1 (a raw SCPI socket, as VISA's
// TCPIP::host::port::SOCKET reaches it): any number of connections at once, each line a
// message, answers on the connection that asked. A measurement that meets the drop fault
// closes its connection. Only this machine can connect.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/VirtualBench.h"

namespace kvsim {

class BenchServer {
 public:
  static constexpr std::size_t kMaxLine = 65536;  // a longer line is dropped whole

  explicit BenchServer(VirtualBench& bench);
  ~BenchServer();
  BenchServer(const BenchServer&) = delete;
  BenchServer& operator=(const BenchServer&) = delete;

  // Listens on 127.0.0.1:port (0: a free port the system picks); false (see error()) when
  // it cannot.
  bool listen(std::uint16_t port);
  // The port it listens on.
  std::uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }
  // Takes new connections and what they sent, answers, and brings the bench up to now.
  // Never blocks.
  void serve();
  // Keys or releases the radio's transmitter (the PTT signal).
  void togglePtt() { bench_.setPtt(!bench_.ptt(), nowUs()); }
  // The descriptors whose readability means work for serve(): the listener and the
  // connections.
  std::vector<int> descriptors() const;
  // Connections open now.
  std::size_t connections() const { return clients_.size(); }
  // Receives a line per message and answer ("BENCH 2 <- MEAS:POW?", "BENCH 2 -> 2.5E+01")
  // and per connection opened, closed or dropped, the connection numbered from 1.
  void setLogSink(std::function<void(const std::string& line)> sink) { log_ = std::move(sink); }

 private:
  struct Client {
    int fd = -1;
    int number = 0;
    std::string in;
    std::string out;
    bool discarding = false;  // inside a line longer than kMaxLine
  };

  std::int64_t nowUs() const;
  void accept();
  bool serveClient(Client& c, std::int64_t now);
  static void flush(Client& c);

  VirtualBench& bench_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::string error_;
  void log(const Client& c, const std::string& text) const;

  std::vector<Client> clients_;
  int connectionsMade_ = 0;
  std::function<void(const std::string&)> log_;
};

}  // namespace kvsim
