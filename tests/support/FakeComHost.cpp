#include "support/FakeComHost.h"

#include <algorithm>

#include "support/CloneFrames.h"

namespace tarnset::test {

FakeComHost::FakeComHost(const TickSource& clock) : driver_(*this, clock) {}

void FakeComHost::setComOpen(bool open) {
  if (open != open_) driver_.ForgetOwedAnswers();  // as the real host: gone with the port
  if (open && !open_) {
    if (openFails_) {
      errCannotOpen = true;
      log.push_back("open-failed");
    } else {
      open_ = true;
      log.push_back("open " + std::to_string(baud_));
    }
  } else if (!open && open_) {
    open_ = false;
    log.push_back("close");
  }
  // As the real host: every open and close discards pending output and resets the driver.
  outBufferCount_ = 0;
  driver_.Reset();
}

void FakeComHost::setComPortNum(std::int16_t n) {
  if (n >= 1 && n <= 10) portNum_ = n;
}

void FakeComHost::Reset() {
  setComOpen(false);
  log.push_back("reset");
  portNum_ = 1;
  baud_ = 9600;
  errCannotOpen = false;
  errOverflow = false;
}

void FakeComHost::HighSpeedBRatioSet() {
  setComOpen(false);
  log.push_back("highspeed");
  portNum_ = 1;
  baud_ = 38400;
  errCannotOpen = false;
  errOverflow = false;
}

bool FakeComHost::Output(const Bytes& data) {
  const std::string hex = toHex(data);
  if (!open_) {
    log.push_back("tx-closed " + hex);
    return false;
  }
  if (writeRefused_) {
    log.push_back("tx-refused " + hex);
    return false;
  }
  sent.push_back(hex);
  log.push_back("tx " + hex);
  if (growOutBuffer_) {
    outBufferCount_ = std::min<std::int32_t>(1024, outBufferCount_ + static_cast<std::int32_t>(data.size()));
  }
  return true;
}

void FakeComHost::vanish() {
  lineLost = true;
  log.push_back("vanish");
  setComOpen(false);
}

std::vector<std::string> FakeComHost::takeSent() {
  std::vector<std::string> out;
  out.swap(sent);
  return out;
}

std::vector<std::string> FakeComHost::takeLog() {
  std::vector<std::string> out;
  out.swap(log);
  return out;
}

}  // namespace tarnset::test
