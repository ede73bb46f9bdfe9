// Fuzzes what an instrument sends: the whole input is the bytes of its answers.
//
// Whatever it sends, nothing throws. Answers are cut the same whether the bytes come in
// one read or two; a line never holds its LF and is never longer than the cutter's limit.
// A numeric answer is either a finite number below SCPI's infinity with a unit of upper-case
// letters, or "no measurement", or no number; a checked measurement that is ok lies in its
// role's range. An identification has four fields without commas. A session fed the bytes
// as answers to its queries calls back every request exactly once.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "instruments/InstrumentBench.h"
#include "instruments/InstrumentSession.h"
#include "instruments/ScpiText.h"
#include "unit/instruments/FakeTransport.h"

namespace {

using tarnset::fuzz::violated;
using namespace tarnset;

std::vector<ScpiLineCutter::Line> cut(const std::string& bytes, std::size_t split) {
  ScpiLineCutter c;
  std::vector<ScpiLineCutter::Line> lines;
  c.feed(bytes.substr(0, split), lines);
  c.feed(bytes.substr(split), lines);
  return lines;
}

void checkLine(const std::string& text) {
  const ScpiNumber n = parseScpiNumber(text);
  switch (n.kind) {
    case ScpiNumber::Kind::Number:
      if (!std::isfinite(n.value) || std::fabs(n.value) >= 9.9e37)
        violated("a number beyond SCPI's infinity");
      for (const char c : n.unit) {
        if (c < 'A' || c > 'Z') violated("a unit that is not upper-case letters");
      }
      break;
    case ScpiNumber::Kind::NoMeasurement:
      if (std::fabs(n.value) < 9.9e37) violated("no measurement below SCPI's infinity");
      break;
    case ScpiNumber::Kind::NotANumber:
      break;
  }
  ScpiReply reply;
  reply.ok = true;
  reply.command = "MEAS?";
  reply.answer = text;
  for (const InstrumentProfile& p : builtInProfiles()) {
    for (const Role role : {Role::Counter, Role::PowerMeter, Role::DeviationMeter}) {
      const Measurement m = InstrumentBench::checkAnswer(role, p, reply);
      if (m.ok && (!std::isfinite(m.value) || m.value < 0.0 || m.value > 50e9))
        violated("a measurement out of range");
      if (!m.ok && m.error.empty()) violated("a missing measurement without its reason");
    }
  }
  if (const auto id = parseScpiIdentity(text)) {
    for (const std::string* f : {&id->maker, &id->model, &id->serial, &id->firmware}) {
      if (f->find(',') != std::string::npos) violated("an identity field with a comma");
    }
  }
  (void)parseScpiError(text);
}

void runSession(const std::string& bytes) {
  ManualTickSource clock;
  testing::FakeTransport::Control link;
  InstrumentSession session("meter", "TCPIP::127.0.0.1::5025::SOCKET",
                            std::make_unique<testing::FakeTransport>(link), clock, 500);
  constexpr int kRequests = 6;
  int calls[kRequests] = {};
  for (int i = 0; i < kRequests; ++i) {
    const auto done = [&calls, i](const ScpiReply& r) {
      ++calls[i];
      if (!r.ok && r.error.empty()) violated("a failed request without its reason");
    };
    if (i % 2 == 0) {
      session.query("MEAS:POW?", done);
    } else {
      session.setting("FREQ 1", done);
    }
  }
  // The bytes arrive in pieces, one per tick; then time runs on until every request is done.
  const std::size_t piece = bytes.empty() ? 1 : 1 + static_cast<unsigned char>(bytes[0]) % 64;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    if (link.status == InstrumentTransport::Status::Open) link.incoming += bytes.substr(at, piece);
    clock.advance(50);
    session.task();
  }
  for (int t = 0; t < 200 && session.pending() > 0; ++t) {
    clock.advance(100);
    session.task();
  }
  for (const int c : calls) {
    if (c != 1) violated("a request not called back exactly once");
  }
}

}  // namespace

const char* const tarnset::fuzz::kTargetName = "fuzz_scpi_answer";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t split = size == 0 ? 0 : data[size - 1] % (size + 1);
  const auto whole = cut(bytes, bytes.size());
  const auto parts = cut(bytes, split);
  if (whole.size() != parts.size()) violated("a split read gives other lines");
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].text != parts[i].text || whole[i].overLong != parts[i].overLong)
      violated("a split read gives other lines");
    if (whole[i].text.find('\n') != std::string::npos) violated("a line holds its LF");
    if (whole[i].text.size() > ScpiLineCutter::kMaxLine) violated("a line beyond the limit");
    checkLine(whole[i].text);
  }
  checkLine(bytes);
  runSession(bytes);
  return 0;
}
