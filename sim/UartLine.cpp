#include "sim/UartLine.h"

#include <algorithm>
#include <cmath>

namespace kvsim {

std::int64_t UartLine::byteNs(std::int32_t baud) {
  return static_cast<std::int64_t>(std::llround(1e10 / static_cast<double>(baud)));
}

void UartLine::send(std::uint8_t byte, std::int64_t startNs, std::int32_t baud) {
  const std::int64_t start = std::max(startNs, freeAt_);
  if (start != freeAt_ || baud != runBaud_) {
    runStart_ = start;
    runBytes_ = 0;
    runBaud_ = baud;
  }
  ++runBytes_;
  const std::int64_t end =
      runStart_ + static_cast<std::int64_t>(std::llround(1e10 * static_cast<double>(runBytes_) / baud));
  symbols_.push_back(Symbol{start, end - start, baud, byte});
  freeAt_ = end;
}

std::int64_t UartLine::frontEndNs() const {
  return symbols_.empty() ? freeAt_ : symbols_.front().endNs();
}

bool UartLine::level(double t) const {
  for (const Symbol& s : symbols_) {
    if (t < static_cast<double>(s.startNs)) return true;
    if (t >= static_cast<double>(s.endNs())) continue;
    const int bit =
        static_cast<int>((t - static_cast<double>(s.startNs)) * 10.0 / static_cast<double>(s.durNs));
    if (bit <= 0) return false;  // start bit
    if (bit >= 9) return true;   // stop bit
    return ((s.byte >> (bit - 1)) & 1) != 0;
  }
  return true;
}

bool UartLine::findLow(double t, double& at) const {
  for (const Symbol& s : symbols_) {
    if (static_cast<double>(s.endNs()) <= t) continue;
    const double bitNs = static_cast<double>(s.durNs) / 10.0;
    for (int bit = 0; bit <= 8; ++bit) {
      const bool low = bit == 0 || ((s.byte >> (bit - 1)) & 1) == 0;
      if (!low) continue;
      const double from = static_cast<double>(s.startNs) + bit * bitNs;
      const double to = from + bitNs;
      if (to <= t) continue;
      at = std::max(from, t);
      return true;
    }
  }
  return false;
}

double UartLine::findHigh(double t) const {
  for (const Symbol& s : symbols_) {
    if (static_cast<double>(s.endNs()) <= t) continue;
    if (t < static_cast<double>(s.startNs)) return t;  // idle gap before this byte
    const double bitNs = static_cast<double>(s.durNs) / 10.0;
    const int first = static_cast<int>((t - static_cast<double>(s.startNs)) / bitNs);
    for (int bit = first; bit <= 9; ++bit) {
      const bool high = bit == 9 || (bit > 0 && ((s.byte >> (bit - 1)) & 1) != 0);
      if (high) return std::max(t, static_cast<double>(s.startNs) + bit * bitNs);
    }
    t = static_cast<double>(s.endNs());
  }
  return t;
}

void UartLine::dropBefore(std::int64_t ns) {
  while (!symbols_.empty() && symbols_.front().endNs() <= ns) symbols_.pop_front();
}

void UartLine::receive(std::int64_t limitNs, std::int32_t rxBaud, std::vector<Received>& out) {
  const double rxBit = 1e9 / static_cast<double>(rxBaud);
  while (!symbols_.empty()) {
    const Symbol& s = symbols_.front();
    if (s.baud == rxBaud && s.startNs >= huntFrom_ && !needHigh_) {
      // Receiver in step with the sender: the byte arrives as sent.
      if (s.endNs() > limitNs) break;
      out.push_back(Received{s.byte, s.endNs(), false});
      huntFrom_ = s.endNs();
      symbols_.pop_front();
      continue;
    }
    double from = static_cast<double>(huntFrom_);
    if (needHigh_) from = findHigh(from);
    double start = 0.0;
    if (!findLow(from, start)) {
      // Nothing but idle line from here: every byte on the wire is spent.
      if (from <= static_cast<double>(limitNs)) {
        huntFrom_ = static_cast<std::int64_t>(std::ceil(from));
        needHigh_ = false;
      }
      dropBefore(limitNs);
      break;
    }
    const double stopSample = start + 9.5 * rxBit;
    if (stopSample > static_cast<double>(limitNs)) break;
    needHigh_ = false;
    if (level(start + 0.5 * rxBit)) {
      // A glitch shorter than half a bit: not a start bit.
      huntFrom_ = static_cast<std::int64_t>(std::ceil(start + 0.5 * rxBit));
      dropBefore(huntFrom_);
      continue;
    }
    std::uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (level(start + (bit + 1.5) * rxBit)) byte = static_cast<std::uint8_t>(byte | (1u << bit));
    }
    const bool framingError = !level(stopSample);
    out.push_back(Received{framingError ? std::uint8_t{0} : byte,
                           static_cast<std::int64_t>(std::llround(start + 10.0 * rxBit)), true});
    huntFrom_ = static_cast<std::int64_t>(std::ceil(stopSample));
    needHigh_ = framingError;
    dropBefore(huntFrom_);
  }
}

void UartLine::discardUntil(std::int64_t limitNs) {
  dropBefore(limitNs);
  huntFrom_ = std::max(huntFrom_, limitNs);
  needHigh_ = false;
}

}  // namespace kvsim
