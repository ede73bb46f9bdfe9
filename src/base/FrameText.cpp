#include "base/FrameText.h"

#include <algorithm>
#include <cstdio>

#include "base/Common.h"
#include "base/Wire.h"

namespace tarnset {

namespace {

using namespace wire;

std::string hex2(std::uint8_t b) {
  return ByteToHex(b);
}

// The value of count ASCII hex digits from position at, or -1 when they are not there.
long asciiHex(const Bytes& body, std::size_t at, std::size_t count) {
  if (at + count > body.size()) return -1;
  long v = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const int d = hexDigitValue(body[at + i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// Bytes from..to-1 as hex digits without blanks (a model or sub-model code).
std::string codes(const Bytes& body, std::size_t from, std::size_t to) {
  if (from >= body.size()) return {};
  return BytesToHex(Bytes(body.begin() + static_cast<std::ptrdiff_t>(from),
                          body.begin() + static_cast<std::ptrdiff_t>(std::min(to, body.size()))));
}

}  // namespace

std::string describeFrame(const Bytes& onWire) {
  // The body: after the last preamble byte, up to the end byte.
  std::size_t start = 0;
  while (start < onWire.size() && onWire[start] == kPreamble) ++start;
  std::size_t stop = onWire.size();
  if (stop > start && onWire[stop - 1] == kEnd) --stop;
  const Bytes body(onWire.begin() + static_cast<std::ptrdiff_t>(start),
                   onWire.begin() + static_cast<std::ptrdiff_t>(stop));
  if (body.size() < 3) return "?           short frame (" + std::to_string(onWire.size()) + " bytes)";

  const bool toRadio = body[0] == kRadio && body[1] == kProgram;
  const bool toProgram = body[0] == kProgram && body[1] == kRadio;
  const std::string dir = toRadio ? "to radio    " : toProgram ? "to program  " : "?           ";
  const std::uint8_t command = body[2];
  const std::string name = hex2(command);
  switch (command) {
    case cmd::kIdentify:
      return dir + name + " identify " + codes(body, 3, 5);
    case cmd::kIdentification:
      return dir + name + " identification " + codes(body, 3, 5) + " " + codes(body, 5, 7) + " (" +
             std::to_string(body.size()) + " bytes)";
    case cmd::kCloneRead:
      return dir + name + " clone read " + codes(body, 3, 5) + " " + codes(body, 5, 7);
    case cmd::kCloneWrite:
      return dir + name + " clone write " + codes(body, 3, 5) + " " + codes(body, 5, 7);
    case cmd::kRecord: {
      const long adr = asciiHex(body, 3, 4);
      const long size = asciiHex(body, 7, 2);
      if (adr < 0 || size < 0)
        return dir + name + " record (not readable, " + std::to_string(body.size()) + " bytes)";
      char buf[64];
      std::snprintf(buf, sizeof buf, " record %04lXh %ld bytes", adr, size);
      return dir + name + buf;
    }
    case cmd::kEnd: {
      std::string text = dir + name + " end";
      if (toProgram) {
        const long count = asciiHex(body, 12, 2);
        text += count < 0 ? std::string(" (no count)") : " count " + std::to_string(count);
      }
      return text;
    }
    case cmd::kWriteResult:
      return dir + name + " write result " + (body.size() > 3 ? hex2(body[3]) : std::string("(none)"));
    case cmd::kE8: {
      // To the radio: model, sub-model, code, value as two ASCII hex digits. From it: model,
      // sub-model, the code repeated, the answer's digits.
      const std::string what = toProgram ? " answer code " : " code ";
      if (body.size() < 8) return dir + name + " (" + std::to_string(body.size()) + " bytes)";
      const long value = asciiHex(body, 8, 2);
      std::string text = dir + name + what + hex2(body[7]);
      if (value >= 0 && body.size() == 10) return text + " value " + std::to_string(value);
      return text + " data " + codes(body, 8, body.size());
    }
    default:
      return dir + name + " (" + std::to_string(body.size()) + " bytes)";
  }
}

}  // namespace tarnset
