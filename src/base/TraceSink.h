#pragma once
// Where the program reports what happens on its link for a support trace: the port, the
// bytes in and out, line errors, waits and resends, and the messages shown. Components
// hold a pointer that is null when no trace is kept, so that without a trace an event
// costs one pointer test.
#include <cstdint>
#include <string>

#include "base/Types.h"

namespace tarnset {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // The port opened (device, line speed; 8N1 always) or failed to open, and closed.
  virtual void portOpened(const std::string& device, std::int32_t baud) = 0;
  virtual void portOpenFailed(const std::string& device, const std::string& reason) = 0;
  virtual void portClosed() = 0;
  // Bytes handed to the port (accepted: the port took them) and bytes read from it.
  virtual void bytesWritten(const Bytes& data, bool accepted) = 0;
  virtual void bytesRead(const Bytes& data) = 0;
  // A line error, an overflow, a device that went away.
  virtual void lineError(const std::string& what) = 0;
  // The link's waits: a time-out, a resend, an exchange that failed with its code.
  virtual void linkEvent(const std::string& what) = 0;
  // A message box shown to the user, with its details.
  virtual void message(const std::string& text, const std::string& details) = 0;
};

}  // namespace tarnset
