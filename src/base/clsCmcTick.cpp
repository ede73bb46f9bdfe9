#include "base/clsCmcTick.h"

namespace tarnset {

void clsCmcTick::setCounter(std::int32_t ct) {
  start_ = source_->nowMs();
  duration_ = ct;
  running_ = true;
}

std::int32_t clsCmcTick::counter() {
  constexpr std::int32_t kHalfRange = 1073741824;  // 2^30
  std::int64_t elapsed = 0;
  if (running_) {
    const std::int32_t now = source_->nowMs();
    if (now >= start_) {
      // Halving first keeps the difference inside 32 bits; a gap of 2^31 or more
      // cannot be told from a clock that went backwards, so it counts as expiry.
      if (now / 2 - start_ / 2 >= kHalfRange) {
        running_ = false;
      } else {
        elapsed = std::int64_t{now} - start_;
      }
    } else if (now <= -kHalfRange && start_ >= kHalfRange) {
      // The signed count passed from its largest positive value to negative.
      elapsed = (std::int64_t{2147483647} - start_) + (std::int64_t{now} + 2147483648LL);
    } else {
      running_ = false;  // the clock moved backwards
    }
  }
  if (running_) {
    if (duration_ > elapsed) return static_cast<std::int32_t>(duration_ - elapsed);
    running_ = false;
  }
  return 0;
}

}  // namespace tarnset
