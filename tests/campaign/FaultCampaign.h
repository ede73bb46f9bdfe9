#pragma once
// A randomized fault campaign over the whole program in-process with the virtual radio
// and, in half of the runs, the virtual bench as its instruments. Each run is one seed's
// random sequence of technician actions (Connect, value keys, F5, the Enter procedures,
// Restore, Service Report, Disp para; with the bench also F9 on an item, the receive
// procedures driven by the generator, Align All and the transmitter keyed or released)
// while faults strike at random moments (silence, a spoilt or late monitor answer, a
// repeated clone record, refused writes, a line error, the port vanishing, another radio
// on the cable; an instrument that falls silent, answers garbage, reports an error or
// drops its connection, mostly while a procedure, a tune or Align All runs). After every
// step the run is judged by six invariants:
//   1. nothing value-carrying reaches the radio that the technician did not ask for since
//      the last fault: a shadow of the technician's requests judges every E8 frame; the
//      writes of a tune or a procedure count as asked only while it runs, so that nothing
//      of it goes out once it ended by a fault;
//   2. at quiet moments the program's image is the last whole read plus the values that
//      went out whole: the radio's image where the read covered it, 0 above its end;
//   3. an as-left that the service record calls read back is what the radio holds;
//   4. no run hangs (bounded simulated time, every Connect ends), throws or crashes;
//   5. every E8 value lies in its item's range (two hex digits, a channel in use, a CAL
//      point);
//   6. once no procedure drives the generator, its RF goes off (unless the generator
//      could not hear the command: it was silent since).
// A run is replayed alone from its seed.
#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarnset::testing {

enum class CampaignFault {
  Silence,
  SpoiltAnswer,
  LateAnswer,
  RepeatedRecord,
  RefusedWrite,
  LineError,
  PortVanished,
  AnotherRadio,
  InstrumentSilent,
  InstrumentGarbage,
  InstrumentError,
  InstrumentDrop,
};
constexpr std::size_t kCampaignFaults = 12;
constexpr int kInvariants = 6;
const char* faultLabel(CampaignFault f);

struct Violation {
  int invariant = 0;  // 1..kInvariants
  std::string what;   // what was seen, and when (simulated seconds)
};

struct RunResult {
  std::uint64_t seed = 0;
  std::array<int, kCampaignFaults> thrown{};  // faults thrown at the program
  std::array<int, kCampaignFaults> met{};     // of those, the ones that took effect
  std::vector<Violation> violations;
  std::int64_t simulatedMs = 0;
};

// One run. With a log, its actions, faults, messages and violations are written to it.
RunResult runCampaign(std::uint64_t seed, std::ostream* log = nullptr);

// The figures of many runs.
struct CampaignFigures {
  int runs = 0;
  std::array<int, kCampaignFaults> thrown{};
  std::array<int, kCampaignFaults> met{};
  std::array<std::vector<std::uint64_t>, kInvariants> failingSeeds;  // per invariant, each seed once
  std::array<int, kInvariants> violations{};
  std::array<std::string, kInvariants> firstViolation;  // the first one seen, with its seed
  std::int64_t simulatedMs = 0;

  void add(const RunResult& r);
  int totalViolations() const;
};

// Runs, faults thrown and met by kind, violations by invariant with the failing seeds.
void printFigures(std::ostream& out, const CampaignFigures& f);

}  // namespace tarnset::testing
