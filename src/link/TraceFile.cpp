#include "link/TraceFile.h"

#include <cerrno>
#include <cstring>

#include "base/Common.h"
#include "base/FrameText.h"
#include "base/Wire.h"
#include "platform/Files.h"

namespace tarnset {

namespace {

using wire::kEnd;
using wire::kPreamble;
// A frame longer than this without its end byte is cut off and shown as it is.
constexpr std::size_t kLongestFrame = 1024;

// CR LF and lone line breaks become " | ", so that a message stays on its line.
std::string oneLine(const std::string& text) {
  std::string s;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    s += (text[i] == '\n' || text[i] == '\r') ? std::string(" | ") : std::string(1, text[i]);
  }
  return s;
}

}  // namespace

TraceFile::TraceFile(const TickSource& clock, std::int64_t limitBytes) : clock_(clock), limit_(limitBytes) {}

TraceFile::~TraceFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TraceFile::open(const std::string& path, const std::string& program, std::string& error) {
  file_ = openFile(path, "w");
  if (file_ == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  start_ = clock_.nowMs();
  line("START", program + " trace; times in ms since this line");
  return true;
}

void TraceFile::line(const char* tag, const std::string& text) {
  if (file_ == nullptr || stopped_) return;
  const std::int64_t ms = static_cast<std::int64_t>(static_cast<std::int32_t>(
      static_cast<std::uint32_t>(clock_.nowMs()) - static_cast<std::uint32_t>(start_)));
  const auto format = [ms](const char* t, const std::string& what) {
    char head[40];
    std::snprintf(head, sizeof head, "%10lld %-7s ", static_cast<long long>(ms), t);
    return head + what + "\n";
  };
  std::string l = format(tag, text);
  // The last line always fits: a line that would leave no room for it is replaced by it.
  const std::string stop = format("STOP", "the trace stops here: it has reached its size limit");
  if (written_ + static_cast<std::int64_t>(l.size() + stop.size()) > limit_) {
    l = stop;
    stopped_ = true;
  }
  std::fputs(l.c_str(), file_);
  std::fflush(file_);
  written_ += static_cast<std::int64_t>(l.size());
}

void TraceFile::portOpened(const std::string& device, std::int32_t baud) {
  std::string text = "open " + device + " " + std::to_string(baud) + " baud 8N1";
  if (lastBaud_ != 0 && baud != lastBaud_)
    text += " (line speed changed from " + std::to_string(lastBaud_) + ")";
  lastBaud_ = baud;
  out_ = {};
  in_ = {};
  line("PORT", text);
}

void TraceFile::portOpenFailed(const std::string& device, const std::string& reason) {
  line("PORT", "cannot open " + (device.empty() ? std::string("(no device)") : device) + ": " + reason);
}

void TraceFile::portClosed() {
  line("PORT", "closed");
}

void TraceFile::bytesWritten(const Bytes& data, bool accepted) {
  line("TX", BytesToSpacedHex(data) + (accepted ? "" : "   (refused by the port)"));
  if (accepted) cut(out_, data);
}

void TraceFile::bytesRead(const Bytes& data) {
  line("RX", BytesToSpacedHex(data));
  cut(in_, data);
}

void TraceFile::cut(Cutter& c, const Bytes& data) {
  for (std::uint8_t b : data) {
    if (b == kPreamble) {
      // A preamble byte: a frame starts (a run of them is one preamble).
      if (!c.inFrame || c.frame.empty() || c.frame.back() != kPreamble) c.frame.clear();
      c.inFrame = true;
      c.frame.push_back(b);
    } else if (c.inFrame) {
      c.frame.push_back(b);
      if (b == kEnd || c.frame.size() > kLongestFrame) {
        line("FRAME", describeFrame(c.frame));
        c = {};
      }
    }
  }
}

void TraceFile::lineError(const std::string& what) {
  line("LINE", what);
}

void TraceFile::linkEvent(const std::string& what) {
  line("LINK", what);
}

void TraceFile::message(const std::string& text, const std::string& details) {
  line("MESSAGE", oneLine(text) + (details.empty() ? "" : " || " + oneLine(details)));
}

}  // namespace tarnset
