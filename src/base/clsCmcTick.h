#pragma once
// A count-down timer over the millisecond tick count. It is started with a duration and
// polled; nothing sleeps. Every time-out of the link and the pause after an E8 command
// is one of these.
#include <cstdint>

#include "base/TickSource.h"

namespace tarnset {

class clsCmcTick {
 public:
  explicit clsCmcTick(const TickSource& source) : source_(&source) {}

  // Starts (or restarts) the count-down with ct milliseconds.
  void setCounter(std::int32_t ct);
  // Remaining milliseconds: above 0 while running, 0 once expired or never started.
  // Reading it detects the expiry, after which it stays 0 until started again.
  std::int32_t counter();

 private:
  const TickSource* source_;
  std::int32_t start_ = 0;
  std::int32_t duration_ = 0;
  bool running_ = false;
};

}  // namespace tarnset
