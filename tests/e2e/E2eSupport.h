#pragma once
// What the end-to-end tests and the benchmarks share: a scratch folder per test, copies of
// the binaries in it (each copy has its own options file beside it), the virtual radio
// served by kv-tarn-sim on a pseudo-terminal, its frame log, and a private X server.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Process.h"

namespace tarnset::e2e {

namespace fs = std::filesystem;

// A folder of its own under the system's temporary folder, removed with the object.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // Copies an executable into the folder (keeping its name); returns the copy's path.
  fs::path copyExecutable(const fs::path& from) const;
  // The environment the copied programs run with: their own runtime folder (the window
  // program's instance lock), configuration folder and home inside the scratch folder, no
  // display; set entries ("NAME=value") are added on top.
  std::vector<std::string> environment(const std::vector<std::string>& set = {}) const;

 private:
  fs::path path_;
};

// Whole file as bytes / text; empty when it cannot be read.
std::vector<std::uint8_t> readBytes(const fs::path& p);
std::string readText(const fs::path& p);
void writeBytes(const fs::path& p, const std::vector<std::uint8_t>& data);
void writeText(const fs::path& p, const std::string& text);
// The lines of a text (LF separated; a last line without LF counts).
std::vector<std::string> splitLines(const std::string& text);

// One frame of the simulator's log: "  1234.567 RX  9600 FE FE ... FD".
struct LoggedFrame {
  double atMs = 0;         // when it was complete at the radio (RX) or started to leave it (TX)
  bool fromRadio = false;  // TX: the radio sent it; RX: the program did
  std::int32_t baud = 0;   // the radio's baud at that moment
  std::vector<std::uint8_t> bytes;
};
// The frames in a log text, in order; other lines are skipped.
std::vector<LoggedFrame> parseFrames(const std::string& logText);

// kv-tarn-sim copied into the scratch folder and serving there: the device link is
// <scratch>/radio and its log <scratch>/sim.log. Stopped (SIGTERM, then SIGKILL) with the
// object.
class Simulator {
 public:
  // simBinary: the built kv-tarn-sim; args: further options (--fault, --image, ...).
  Simulator(const Scratch& scratch, const fs::path& simBinary, const std::vector<std::string>& args = {},
            const std::string& name = "radio");
  ~Simulator();

  // True when it runs and has printed its device.
  bool ready() const { return ready_; }
  // The symlink to the pseudo-terminal, which the programs open as their port.
  const std::string& link() const { return link_; }
  // The pseudo-terminal device it printed first.
  const std::string& device() const { return device_; }
  const fs::path& logPath() const { return log_; }
  std::string logText() const { return readText(log_); }
  // Waits until the log holds needle at least count times; false after timeoutSeconds.
  bool waitForLog(const std::string& needle, int count, double timeoutSeconds) const;
  // Times needle occurs in the log.
  int countInLog(const std::string& needle) const;
  // What it wrote to stderr (for failure messages).
  std::string errors() { return process_->takeErr(); }
  Background& process() { return *process_; }

 private:
  std::unique_ptr<Background> process_;
  std::string link_;
  std::string device_;
  fs::path log_;
  bool ready_ = false;
};

// A private X server (Xvfb on a free display, 1280x1024 at 96 DPI), for the window
// program's message boxes, which wait for a key even offscreen. Stopped with the object.
class XServer {
 public:
  XServer();
  // False when Xvfb is not installed or did not start; why() says which.
  bool ready() const { return !display_.empty(); }
  const std::string& why() const { return why_; }
  // ":N"
  const std::string& display() const { return display_; }
  // Runs xdotool with these arguments on this display.
  RunResult xdotool(const std::vector<std::string>& args, double timeoutSeconds = 10) const;

 private:
  std::unique_ptr<Background> process_;
  std::string display_;
  std::string why_;
  std::string xdotool_;
};

}  // namespace tarnset::e2e
