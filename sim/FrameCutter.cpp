#include "sim/FrameCutter.h"

#include "base/Wire.h"

namespace kvsim {

namespace {
using tarnset::wire::kEnd;
using tarnset::wire::kPreamble;
}  // namespace

void FrameCutter::reset() {
  state_ = State::Hunt;
  body_.clear();
}

std::optional<std::vector<std::uint8_t>> FrameCutter::feed(std::uint8_t byte) {
  switch (state_) {
    case State::Hunt:
      if (byte == kPreamble) state_ = State::OneFe;
      return std::nullopt;
    case State::OneFe:
      state_ = byte == kPreamble ? State::Sync : State::Hunt;
      return std::nullopt;
    case State::Sync:
      if (byte == kPreamble) return std::nullopt;  // the preamble goes on
      if (byte == kEnd) {
        state_ = State::Hunt;  // an empty frame carries nothing
        return std::nullopt;
      }
      body_.assign(1, byte);
      state_ = State::Body;
      return std::nullopt;
    case State::Body:
      if (byte == kPreamble) {
        body_.clear();  // a new preamble breaks the partial frame
        state_ = State::OneFe;
        return std::nullopt;
      }
      if (byte == kEnd) {
        state_ = State::Hunt;
        std::vector<std::uint8_t> frame;
        frame.swap(body_);
        return frame;
      }
      if (body_.size() >= kMaxBody) {
        reset();
        return std::nullopt;
      }
      body_.push_back(byte);
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace kvsim
