#pragma once
// A support trace written to a file: one line per event, the milliseconds since the trace
// began first; the port opening and closing with device and line speed (a change of speed
// said as such); every chunk written and read in hex; each complete frame in either
// direction decoded on a line of its own (its own cutting, so frames the program ignores
// appear too); line errors, waits, resends and failures; every message shown with its
// details. Each line is flushed as it is written, so the trace survives a crash; at the
// size limit (50 MB) a last line says that it stops, and it grows no further.
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/TickSource.h"
#include "base/TraceSink.h"

namespace tarnset {

class TraceFile final : public TraceSink {
 public:
  static constexpr std::int64_t kDefaultLimit = 50LL * 1024 * 1024;

  TraceFile(const TickSource& clock, std::int64_t limitBytes = kDefaultLimit);
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Creates (or empties) the file and writes the first line naming the program; false
  // with error set when the file cannot be written.
  bool open(const std::string& path, const std::string& program, std::string& error);
  bool isOpen() const { return file_ != nullptr; }

  void portOpened(const std::string& device, std::int32_t baud) override;
  void portOpenFailed(const std::string& device, const std::string& reason) override;
  void portClosed() override;
  void bytesWritten(const Bytes& data, bool accepted) override;
  void bytesRead(const Bytes& data) override;
  void lineError(const std::string& what) override;
  void linkEvent(const std::string& what) override;
  void message(const std::string& text, const std::string& details) override;

 private:
  // Cuts frames out of one direction's bytes: a frame runs from its preamble (FE ...) to
  // its end byte FD.
  struct Cutter {
    Bytes frame;
    bool inFrame = false;
  };
  void cut(Cutter& c, const Bytes& data);
  void line(const char* tag, const std::string& text);

  const TickSource& clock_;
  std::int64_t limit_;
  std::int64_t written_ = 0;
  std::int32_t start_ = 0;
  std::FILE* file_ = nullptr;
  bool stopped_ = false;
  std::int32_t lastBaud_ = 0;
  Cutter out_, in_;
};

}  // namespace tarnset
