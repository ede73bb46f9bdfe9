#pragma once
// The named states and codes of the clone room. Each keeps its number: the numbers are
// what the messages, the trace and stored diagnostics have always used.
#include <cstdint>

namespace tarnset {

// What the frame driver's current frame is for.
enum class WorkMode : std::int16_t {
  None = 0,
  Identify = 1,
  CloneRead = 2,
  CloneWriteRecords = 3,
  CloneWriteEnd = 4,
  E8 = 5,
};

// What the frame driver waits for.
enum class WaitState : std::int16_t {
  Idle = 0,
  Echo = 1,
  Answer = 2,
  // A request that asks for an answer is held back until the answers still owed to the
  // last one (it went out more than once) have come or can no longer come.
  Drain = 3,
};

// The frame driver's error codes (nowError, lastError).
enum class CloneError : std::int16_t {
  None = 0,
  NoEcho = 1,        // the echo wait ran out
  NoAnswer = 2,      // no answer after the resends
  IllegalData = 3,   // an answer failed its check
  DataCounter = 4,   // the end frame's count is wrong, or the read left an address unwritten
  DataOverflow = 5,  // a record outside the image
  WriteRefused = 7,  // the radio refused a clone write
  CannotSend = 8,    // the port refused a clone-write frame or a resend
};

// The sequencer's operations.
enum class SeqOperation : std::int16_t {
  None = 0,
  Identify = 1,
  CloneRead = 2,
  CloneWrite = 3,
  E8 = 4,
};

// The sequencer's error codes.
enum class SeqError : std::int16_t {
  None = 0,
  ModelCode = 1,      // the identification names another model
  SubModel = 2,       // the model controller refused the sub-model code
  FormatVersion = 3,  // the format version is not one this program reads
  DriverError = 4,    // the driver reported an error during the identification
  ExchangeLost = 5,   // a frame never reached the radio, or its exchange was cut off
};

}  // namespace tarnset
