#pragma once
// The whole program in-process: the composition root with the headless toolkit, a
// manual clock, the loopback port and the in-process virtual radio. Tests press keys,
// click buttons and let time pass, then look at the frames the radio saw, the lines of
// the list boxes and the message boxes shown.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "BenchLoopback.h"
#include "LoopbackPort.h"
#include "base/SerialPort.h"
#include "base/TickSource.h"
#include "link/TraceFile.h"
#include "shell/start.h"
#include "sim/VirtualBench.h"
#include "sim/VirtualTarn.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset::testing {

// COM numbers to loopback devices: COM 1 is the radio's line, the others have no device.
class LoopbackResolver final : public PortResolver {
 public:
  std::string deviceFor(std::int16_t comNumber) const override {
    return comNumber == radioCom ? std::string("loopback") : std::string();
  }
  std::int16_t radioCom = 1;
};

// A temporary folder removed with the object.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The constants file shipped with the program, as text.
std::string standardConstFile();

struct HarnessOptions {
  kvsim::Options radio;
  // Text of Const.ini; empty = none is written.
  std::string constFile = standardConstFile();
  // Text of the options file; empty = none is written.
  std::string optionsFile;
  bool startProgram = true;
  // Where an installed program's package keeps Const.ini (empty: not installed).
  std::string constFileCopyFolder;
  // Clone reads are backed up in the folder's "backups" subfolder; false: no backups.
  bool backups = true;
  // A support trace the program writes, on the harness's clock, to this file; empty: none.
  std::string traceFile;
  // Another resolver of COM numbers than the loopback one (it must outlive the harness).
  PortResolver* resolver = nullptr;
  // Work the program posts (the tick a key or a button asks for) runs at the next
  // millisecond; false: it never runs, and keys act on the next timer tick only.
  bool runPostedWork = true;
  // The virtual bench on the virtual radio, as the program's instrument (reached
  // in-process): Instruments.ini names it for every role, and Limits.ini holds limits
  // (the repository's file unless given).
  bool bench = false;
  kvsim::BenchOptions benchOptions{0.0, 1};
  std::string instrumentsFile;  // empty: the bench for all four roles
  std::string limitsFile;       // empty: the repository's Limits.ini
};

class ProgramHarness {
 public:
  explicit ProgramHarness(HarnessOptions opt = {});
  ~ProgramHarness();

  // Runs the program's start-up; its result is kept in startResult().
  int startUp(const SingleInstance* guard = nullptr);
  int startResult() const { return startResult_; }

  // Lets ms milliseconds pass, one millisecond at a time: the line moves, port events
  // run, due timers fire.
  void advance(std::int32_t ms);
  // Lets time pass until pred holds (checked every millisecond); false after maxMs.
  bool runUntil(const std::function<bool()>& pred, std::int32_t maxMs);

  // Connects (clicks "Connect") and waits until the first full monitor pass is done and
  // the controller reached its item-sending state with nothing left to send.
  bool connect(std::int32_t maxMs = 30000);

  Program& program() { return *program_; }
  HeadlessToolkit& toolkit() { return toolkit_; }
  kvsim::VirtualTarn& radio() { return radio_; }
  // The virtual bench (HarnessOptions::bench) and the link the program made to it last.
  kvsim::VirtualBench& bench() { return *bench_; }
  BenchLoopback* benchLink() { return benchLinks_ ? benchLinks_->last() : nullptr; }
  LoopbackPort& port() { return port_; }
  LoopbackResolver& resolver() { return resolver_; }
  const std::filesystem::path& folder() const { return folder_.path(); }
  std::filesystem::path optionsPath() const { return folder_.path() / "TarnsetADJ.rs"; }
  // Where the program backs up its clone reads.
  std::filesystem::path backupFolder() const { return folder_.path() / "backups"; }
  // The program's wall clock: a fixed day, moving with the manual clock.
  std::time_t wallTime() const { return kWallStart + clock_.nowMs() / 1000; }
  static constexpr std::time_t kWallStart = 1796655600;  // 2026-12-07 14:20 UTC
  std::int64_t nowUs() const { return nowUs_; }
  std::int32_t nowMs() const { return clock_.nowMs(); }

  // Every frame the radio received or sent since the last call of this or of
  // takeE8Commands, oldest first.
  std::vector<kvsim::FrameRecord> takeFrames();
  // The E8 command bytes (code and value bytes) of every E8 frame the radio received
  // since the last call, as hex text ("053541").
  std::vector<std::string> takeE8Commands();

 private:
  HarnessOptions opt_;
  TempFolder folder_;
  ManualTickSource clock_;
  std::int64_t nowUs_ = 0;
  HeadlessToolkit toolkit_;
  kvsim::VirtualTarn radio_;
  LoopbackPort port_;
  std::unique_ptr<kvsim::VirtualBench> bench_;
  std::unique_ptr<BenchLoopbackFactory> benchLinks_;
  LoopbackResolver resolver_;
  std::unique_ptr<TraceFile> trace_;
  std::unique_ptr<Program> program_;
  int startResult_ = -1;
  std::uint64_t framesSeen_ = 0;
};

}  // namespace tarnset::testing
