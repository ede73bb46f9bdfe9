#pragma once
// The radio's receive side of the framing: a small state machine fed one byte at a time.
// A frame starts after two or more FE bytes (a longer FE burst is a longer preamble) and
// ends at FD. A lone FE, bytes outside a frame and frames broken by a new preamble are
// dropped; a frame longer than the radio's buffer is dropped as well.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kvsim {

class FrameCutter {
 public:
  // Largest frame body (between the preamble and FD) the radio keeps.
  static constexpr std::size_t kMaxBody = 600;

  // Takes one received byte; returns the body of the frame (destination, source, command,
  // data) when this byte completes one.
  std::optional<std::vector<std::uint8_t>> feed(std::uint8_t byte);
  // Forgets any partial frame.
  void reset();

 private:
  enum class State { Hunt, OneFe, Sync, Body };
  State state_ = State::Hunt;
  std::vector<std::uint8_t> body_;
};

}  // namespace kvsim
