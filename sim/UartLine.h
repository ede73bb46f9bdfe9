#pragma once
// One direction of the serial cable: the bytes a transmitter puts on the wire (start bit,
// 8 data bits LSB first, stop bit) and what a receiving UART makes of them. When the
// receiver runs at the transmitter's baud it gets the bytes as sent; at another baud it
// samples the waveform at its own bit times and gets the junk a real UART would (bytes
// with a framing error arrive as 00, as a raw-mode tty delivers them).
#include <cstdint>
#include <deque>
#include <vector>

namespace kvsim {

class UartLine {
 public:
  // One received byte and when its last bit was complete (nanoseconds).
  struct Received {
    std::uint8_t byte = 0;
    std::int64_t atNs = 0;
    bool sampled = false;  // true: produced by sampling at a baud other than the sender's
  };

  // Duration of one byte (10 bits) at a baud, in nanoseconds.
  static std::int64_t byteNs(std::int32_t baud);

  // Puts a byte on the wire starting at startNs (not before the line is free).
  void send(std::uint8_t byte, std::int64_t startNs, std::int32_t baud);
  // When the last byte on the wire ends (the line is free from then on).
  std::int64_t freeAtNs() const { return freeAt_; }
  // End time of the oldest byte still on the wire, if any.
  bool empty() const { return symbols_.empty(); }
  std::int64_t frontEndNs() const;

  // Receives, at rxBaud, everything whose reception is complete by limitNs. Bytes on the
  // wire are final up to limitNs (nothing can be sent into the past).
  void receive(std::int64_t limitNs, std::int32_t rxBaud, std::vector<Received>& out);
  // The receiver is not listening: everything that ended by limitNs is gone, and the
  // receiver starts hunting for a start bit afresh from limitNs.
  void discardUntil(std::int64_t limitNs);

 private:
  struct Symbol {
    std::int64_t startNs;
    std::int64_t durNs;
    std::int32_t baud;
    std::uint8_t byte;
    std::int64_t endNs() const { return startNs + durNs; }
  };

  // Line level at time t (true = mark/idle).
  bool level(double t) const;
  // First time at or after t when the line is low (a start bit candidate); false if none.
  bool findLow(double t, double& at) const;
  // First time at or after t when the line is high.
  double findHigh(double t) const;
  void dropBefore(std::int64_t ns);

  std::deque<Symbol> symbols_;
  std::int64_t freeAt_ = INT64_MIN / 4;
  // Bytes sent back to back form a run whose times are counted from its start, so that
  // the rounding of one byte's duration does not add up over a long stream.
  std::int64_t runStart_ = 0;
  std::int64_t runBytes_ = 0;
  std::int32_t runBaud_ = 0;
  std::int64_t huntFrom_ = INT64_MIN / 4;  // the receiver looks for a start bit from here
  bool needHigh_ = false;                  // after a framing error: wait for the line to go idle
};

}  // namespace kvsim
