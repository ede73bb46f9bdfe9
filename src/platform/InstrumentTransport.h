#pragma once
// The link to one measuring instrument as its session uses it: a byte stream that carries
// SCPI messages (a LAN socket, a USBTMC device, a VISA session, a serial port, or a fake in
// tests). Nothing blocks: open() only starts the connection, task() moves it on and takes
// in what arrived, and the event loop watches waitable() so that an answer runs the
// program's tick at once.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Types.h"

namespace tarnset {

class InstrumentTransport {
 public:
  enum class Status {
    Closed,      // never opened, or closed by the caller
    Connecting,  // open() started it; task() moves it on
    Open,        // messages can go both ways
    Failed,      // could not be opened, or was lost: errorText() says why
  };

  virtual ~InstrumentTransport() = default;

  // Starts opening the link; a connection that is not made within timeoutMs fails.
  // Returns false when it failed at once (status Failed, errorText says why).
  virtual bool open(std::int32_t timeoutMs) = 0;
  // Closes the link; bytes not yet sent or read are dropped. Status Closed.
  virtual void close() = 0;
  virtual Status status() const = 0;
  // Moves a connection attempt on, sends what waits and takes in what has arrived; the
  // tick calls it, and so does a ready waitable.
  virtual void task() = 0;
  // Sends one message with its LF appended; false when the link refused it (status
  // Failed then, errorText says why).
  virtual bool writeLine(const std::string& line) = 0;
  // Bytes received and not yet taken.
  virtual std::size_t bytesReadable() const = 0;
  // Takes every byte received so far.
  virtual std::string readAll() = 0;
  // What the event loop watches (a descriptor, an event handle); kNoWaitable when none.
  virtual Waitable waitable() const = 0;
  // Why the link failed or could not be opened, in the system's words, empty when it did
  // not ("connection refused", "no answer within 3000 ms").
  virtual std::string errorText() const = 0;
};

}  // namespace tarnset
