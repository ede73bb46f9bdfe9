// Unattended alignment on the virtual bench: the program's real objects (headless toolkit on
// a real event loop, monotonic clock, the termios port, the LAN socket to the instruments)
// against the paced virtual radio on a pseudo-terminal and its virtual bench on a TCP port
// of 127.0.0.1.
//
//   rx     RSSI (both points) and BPF ALL with the signal generator, from Enter to the
//          procedure's end, against the line time of the frames on the wire, the radio's own
//          answer delays and the generator's settle time for each setting it needs.
//   tune   F9 on every item with a target in Limits.ini, from 20 random starting values
//          each: the measurements it takes to land inside the limits.
//   align  Align All from the misaligned radio: its time, each step, and every item
//          measured against its limits afterwards.
//
// With no argument all three run; an argument runs the one it names.
#include <algorithm>
#include <cstdio>
#include <random>
#include <regex>
#include <set>
#include <string>

#include "BenchSupport.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/ServiceDesk.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::bench;

namespace {

constexpr int kSettleMs = 200;
constexpr int kStarts = 20;

// The radio with its bench, the program with the bench in Instruments.ini, connected.
struct Setup {
  e2e::Scratch scratch;
  RadioOnPty radio{{}, kvsim::BenchOptions{}};
  std::unique_ptr<HeadlessProgram> p;
  std::unique_ptr<BenchLine> technician;
  std::string error;

  Setup() {
    if (!radio.ready()) {
      error = radio.error();
      return;
    }
    writeBenchInstruments(scratch.path().string(), radio.benchAddress(), kSettleMs);
    p = std::make_unique<HeadlessProgram>(radio.device(), scratch.path().string(),
                                          TARNSET_SOURCE_DIR "/Const.ini", TARNSET_SOURCE_DIR "/Limits.ini");
    // The technician declines the as-found measurements.
    p->toolkit().setQuestionHook([](const HeadlessToolkit::Message&) { return false; });
    if (!p->started() || !p->connect()) {
      error = "could not connect: " + messages();
      return;
    }
    technician = std::make_unique<BenchLine>(radio.benchPort());
    if (!technician->connected()) error = "no connection to the bench";
  }
  clsIndOp_RigTarn& ctl() { return p->program().controller(); }
  clsConsole& console() { return p->program().console(); }
  tk::ListBox& list() { return p->program().mainWindow().lboConsole(); }
  std::int16_t row(const std::string& title) {
    for (std::int16_t r = 0; r < console().ListCount(); ++r) {
      std::string t = console().Title(r);
      t.erase(0, t.find_first_not_of(' '));
      if (t == title) return r;
    }
    return -1;
  }
  std::string messages() {
    std::string s;
    for (const auto& m : p->toolkit().messages()) s += m.text + "; ";
    return s;
  }
};

int fail(const std::string& why) {
  std::fprintf(stderr, "bench_unattended: %s\n", why.c_str());
  return 1;
}

// ---------------------------------------------------------------- rx

struct ProcedureRun {
  double ms = 0;       // Enter to the procedure's end
  double wireMs = 0;   // line time of every frame in that time
  double radioMs = 0;  // the radio's delays from a request's end to its answer
  std::size_t frames = 0;
  std::set<std::string> generator;  // the generator settings it made
  int pauses = 0;                   // settings followed by the item pause before the next frame
  std::vector<double> cycleMs;      // from one monitor request to the next, inside a sweep
  std::vector<double> cycleWireMs;  // the frames and radio delays of such a cycle
};

// Presses Enter on the row and runs until its procedure has ended; the generator settings
// are read off the row as it shows them ("-90 dBm at 439.1 MHz").
bool runProcedure(Setup& s, std::int16_t row, ProcedureRun& run) {
  static const std::regex kSetting("(-?[0-9.]+ dBm at [0-9.]+ MHz)");
  const std::size_t first = s.radio.frames().size();
  s.list().setListIndex(row);
  const double t0 = nowMs();
  s.p->toolkit().pressKey(s.list(), tk::Key::Enter);
  bool started = false;
  const bool ended = s.p->runUntil(
      [&] {
        std::smatch m;
        const std::string text = s.list().itemText(row);
        if (std::regex_search(text, m, kSetting)) run.generator.insert(m[1].str());
        if (s.ctl().enterStep() != 0) started = true;
        return started && s.ctl().enterStep() == 0;
      },
      t0 + 120000);
  run.ms = nowMs() - t0;
  if (!ended || !s.p->toolkit().messages().empty()) return false;
  s.p->runFor(100);  // the radio logs the last frame's line
  const std::vector<e2e::LoggedFrame> frames = s.radio.frames();
  double requestEnd = -1, lastRequest = -1, cycleWire = 0;
  const e2e::LoggedFrame* lastSetting = nullptr;
  for (std::size_t i = first; i < frames.size(); ++i) {
    const e2e::LoggedFrame& f = frames[i];
    const double line = lineMs(f.bytes.size(), f.baud);
    if (f.atMs > t0 + run.ms) break;
    run.wireMs += line;
    cycleWire += line;
    ++run.frames;
    if (!f.fromRadio) {
      // A program frame: its time is its end at the radio.
      if (lastSetting != nullptr && f.atMs - line - lastSetting->atMs >= 200.0) ++run.pauses;
      lastSetting = e8Code(f) != 0x03 ? &f : nullptr;
      if (e8Code(f) == 0x03) {
        if (lastRequest >= 0 && f.atMs - lastRequest < 100.0) {
          run.cycleMs.push_back(f.atMs - lastRequest);
          run.cycleWireMs.push_back(cycleWire - line);
        }
        lastRequest = f.atMs;
        cycleWire = line;
      }
      requestEnd = f.atMs;
    } else if (requestEnd >= 0) {
      run.radioMs += std::max(0.0, f.atMs - requestEnd);
      cycleWire += std::max(0.0, f.atMs - requestEnd);
      requestEnd = -1;
    }
  }
  return true;
}

int benchRx(double& ratio) {
  Setup s;
  if (!s.error.empty()) return fail(s.error);
  std::printf("RX alignment with the generator (Enter on RSSI, then on BPF ALL), settle %d ms\n", kSettleMs);
  double total = 0, bound = 0, boundWithPauses = 0;
  for (const char* name : {"RSSI", "BPF ALL"}) {
    ProcedureRun run;
    if (!runProcedure(s, s.row(name), run)) return fail(std::string(name) + " did not end: " + s.messages());
    const double settle = static_cast<double>(run.generator.size()) * kSettleMs;
    const double b = run.wireMs + run.radioMs + settle;
    std::printf(
        "  %-8s %.0f ms: %zu frames on the wire %.0f ms, the radio's answer delays %.0f ms, %zu generator "
        "setting(s) x %d ms settle; bound %.0f ms, ratio %.3f\n",
        name, run.ms, run.frames, run.wireMs, run.radioMs, run.generator.size(), kSettleMs, b, run.ms / b);
    // Where the rest goes: the pause the program keeps after an item's E8, and the sweep's
    // steps, one setting and one reading per poll tick.
    const double pauses = run.pauses * 200.0;
    std::printf(
        "           with the %d item pause(s) of 200 ms after an E8 counted too: bound %.0f ms, ratio %.3f\n",
        run.pauses, b + pauses, run.ms / (b + pauses));
    if (!run.cycleMs.empty()) {
      std::printf(
          "           sweep: %zu steps, median %.1f ms from one reading's request to the next, of which %.1f "
          "ms "
          "on the wire and in the radio\n",
          run.cycleMs.size(), percentile(run.cycleMs, 0.5), percentile(run.cycleWireMs, 0.5));
    }
    total += run.ms;
    bound += b;
    boundWithPauses += b + pauses;
    s.p->runFor(500);
  }
  ratio = total / bound;
  std::printf("  both      %.0f ms, bound %.0f ms, ratio %.3f (target <= 1.15); with the item pauses %.3f\n",
              total, bound, ratio, total / boundWithPauses);
  return 0;
}

// ---------------------------------------------------------------- tune

int benchTune(double& worstAverage, int& worstMax, int& outside, int& tunes) {
  Setup s;
  if (!s.error.empty()) return fail(s.error);
  if (!s.technician->ptt(true)) return fail("the bench did not key the transmitter");
  std::mt19937 rng(17);
  std::printf(
      "F9 from %d random starting values per item (each inside the item's range), transmitter keyed\n",
      kStarts);
  worstAverage = 0;
  worstMax = 0;
  outside = 0;
  tunes = 0;
  // The balance square wave rides on the channel's modulation: Balance comes after MOD W
  // and MOD N, as Align All takes them.
  std::vector<std::int16_t> rows;
  for (std::int16_t row = 0; row < s.console().ListCount(); ++row) {
    if (s.ctl().RigOpFunc_Tunable(row)) rows.push_back(row);
  }
  std::stable_partition(rows.begin(), rows.end(), [&](std::int16_t r) { return r != s.row("Balance"); });
  for (const std::int16_t row : rows) {
    std::uniform_int_distribution<int> start(s.console().Min(row), s.console().Max(row));
    std::vector<int> counts;
    int failures = 0;
    std::string why;
    double ms = 0;
    for (int i = 0; i < kStarts; ++i) {
      // The starting value goes out as the item's own E8, then the pause after it.
      s.list().setListIndex(row);
      s.console().setValue(row, static_cast<std::int16_t>(start(rng)));
      if (!s.p->runUntil([&] { return !s.console().flgChanged(row); }, nowMs() + 2000))
        return fail("the starting value did not go out");
      s.p->runFor(300);
      std::optional<TuneResult> result;
      const double t0 = nowMs();
      // What F9 on the selected row does.
      if (!s.ctl().RigOpFunc_TuneRow(row, [&](const TuneResult& r) { result = r; }))
        return fail("the tune did not start on " + s.console().Title(row));
      if (!s.p->runUntil([&] { return result.has_value(); }, nowMs() + 60000))
        return fail("the tune did not end");
      ms += nowMs() - t0;
      counts.push_back(result->measurements);
      if (!result->ok) {
        ++failures;
        why = result->why;
      }
    }
    double sum = 0;
    for (int c : counts) sum += c;
    const double average = sum / static_cast<double>(counts.size());
    const int most = *std::max_element(counts.begin(), counts.end());
    std::string name = s.console().Title(row);
    name.erase(0, name.find_first_not_of(' '));
    std::printf(
        "  %-10s measurements average %.2f, max %d; %d of %d inside the limits; %.0f ms per tune%s%s\n",
        name.c_str(), average, most, kStarts - failures, kStarts, ms / kStarts,
        failures > 0 ? "; last failure: " : "", why.c_str());
    worstAverage = std::max(worstAverage, average);
    worstMax = std::max(worstMax, most);
    outside += failures;
    tunes += kStarts;
  }
  s.technician->ptt(false);
  std::printf("  worst item: average %.2f (target <= 5), max %d (target <= 8); %d of %d tunes outside\n",
              worstAverage, worstMax, outside, tunes);
  return 0;
}

// ---------------------------------------------------------------- align

int benchAlign(double& seconds, std::size_t& stepsOk, std::size_t& steps, std::size_t& inside,
               std::size_t& checked) {
  Setup s;
  if (!s.error.empty()) return fail(s.error);
  HeadlessToolkit& tk = s.p->toolkit();
  bool readBack = false;
  tk.setQuestionHook([&](const HeadlessToolkit::Message& m) {
    if (m.text.rfind("Key the radio's transmitter (PTT) for the transmitter's alignment", 0) == 0)
      return s.technician->ptt(true);
    if (m.text.rfind("Make the service report", 0) == 0) readBack = true;
    return false;
  });
  tk.setMessageBoxHook([&](const HeadlessToolkit::Message& m) {
    if (m.text.rfind("The transmitter's alignment is over", 0) == 0) s.technician->ptt(false);
  });
  const double t0 = nowMs();
  s.p->program().serviceDesk().AlignAll();
  const auto alignDone = [&] {
    for (const auto& m : tk.messages())
      if (m.text.rfind("Align All: ", 0) == 0) return true;
    return false;
  };
  if (!s.p->runUntil(alignDone, t0 + 600000)) return fail("Align All did not end: " + s.messages());
  seconds = (nowMs() - t0) / 1000.0;
  if (!s.p->runUntil([&] { return readBack; }, nowMs() + 120000)) return fail("the radio was not read back");
  const double readBackS = (nowMs() - t0) / 1000.0;
  std::printf("Align All from the misaligned virtual radio, settle %d ms\n", kSettleMs);
  for (const AlignStep& st : s.p->program().serviceDesk().alignSteps()) {
    std::printf("  %-10s %s, %d measurement(s)%s%s\n", st.name.c_str(), st.ok ? "PASS" : "FAIL",
                st.measurements, st.last.taken ? ", last: " : "",
                st.last.taken ? st.last.line().c_str() : st.why.c_str());
  }
  std::printf("  Align All %.1f s (read back after it: %.1f s from the start)\n", seconds, readBackS);

  // Every item with a limit, measured again as the certificate measures it.
  if (!s.technician->ptt(true)) return fail("the bench did not key the transmitter");
  std::optional<std::vector<ItemMeasurement>> after;
  if (!s.p->runUntil(
          [&] {
            return s.ctl().RigOpFunc_MeasureItems(
                [&](std::vector<ItemMeasurement> m) { after = std::move(m); });
          },
          nowMs() + 10000) ||
      !s.p->runUntil([&] { return after.has_value(); }, nowMs() + 60000))
    return fail("the items were not measured afterwards");
  s.technician->ptt(false);
  std::printf("  afterwards:\n");
  inside = 0;
  checked = after->size();
  for (const ItemMeasurement& m : *after) {
    std::printf("    %s\n", m.line().c_str());
    inside += m.verdict == ItemMeasurement::Verdict::Pass;
  }
  stepsOk = 0;
  steps = s.p->program().serviceDesk().alignSteps().size();
  for (const AlignStep& st : s.p->program().serviceDesk().alignSteps()) stepsOk += st.ok;
  std::printf("  %zu of %zu steps passed; %zu of %zu items inside their limits afterwards\n", stepsOk, steps,
              inside, checked);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each part's lines as they come
  const std::string only = argc > 1 ? argv[1] : "";
  std::string headline = "unattended:";
  if (only.empty() || only == "rx") {
    double ratio = 0;
    if (benchRx(ratio) != 0) return 1;
    char text[96];
    std::snprintf(text, sizeof text, " RX alignment ratio %.3f (target <= 1.15);", ratio);
    headline += text;
  }
  if (only.empty() || only == "tune") {
    double average = 0;
    int most = 0, outside = 0, tunes = 0;
    if (benchTune(average, most, outside, tunes) != 0) return 1;
    char text[160];
    std::snprintf(text, sizeof text,
                  " F9 worst item average %.2f (target <= 5), max %d (target <= 8), %d of %d outside;",
                  average, most, outside, tunes);
    headline += text;
  }
  if (only.empty() || only == "align") {
    double seconds = 0;
    std::size_t stepsOk = 0, steps = 0, inside = 0, checked = 0;
    if (benchAlign(seconds, stepsOk, steps, inside, checked) != 0) return 1;
    char text[160];
    std::snprintf(text, sizeof text,
                  " Align All %.1f s, %zu of %zu steps passed, %zu of %zu items inside their limits", seconds,
                  stepsOk, steps, inside, checked);
    headline += text;
  }
  std::printf("%s\n", headline.c_str());
  return 0;
}
