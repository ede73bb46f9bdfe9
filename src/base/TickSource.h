#pragma once
// Millisecond tick count: the time base of every time-out of the program.
#include <cstdint>

namespace tarnset {

class TickSource {
 public:
  virtual ~TickSource() = default;
  // Milliseconds since an arbitrary origin, as a signed 32-bit value that wraps from its
  // largest positive value to its most negative one.
  virtual std::int32_t nowMs() const = 0;
};

// The system's monotonic clock, cut to 32 bits.
class MonotonicTickSource final : public TickSource {
 public:
  std::int32_t nowMs() const override;
};

// A clock that only moves when told to; tests and simulations advance it.
class ManualTickSource final : public TickSource {
 public:
  explicit ManualTickSource(std::int32_t start = 0) : now_(start) {}
  std::int32_t nowMs() const override { return now_; }
  void set(std::int32_t ms) { now_ = ms; }
  // Advances by ms with the 32-bit wrap of a real tick count.
  void advance(std::int32_t ms) {
    now_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_) + static_cast<std::uint32_t>(ms));
  }

 private:
  std::int32_t now_;
};

}  // namespace tarnset
