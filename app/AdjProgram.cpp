#include "AdjProgram.h"

#include <ostream>

#include "AppSetup.h"
#include "base/TickSource.h"
#include "link/TraceFile.h"
#include "platform/AppLocations.h"
#include "platform/InstanceLock.h"
#include "platform/SystemPortResolver.h"
#include "platform/SystemSerialPort.h"
#include "shell/start.h"
#include "toolkit/MsgBoxApp.h"

namespace tarnset {
namespace {

class LockedInstance final : public SingleInstance {
 public:
  explicit LockedInstance(const InstanceLock& lock) : lock_(lock) {}
  bool alreadyRunning() const override { return lock_.alreadyRunning(); }

 private:
  const InstanceLock& lock_;
};

int startAndRun(tk::Toolkit& toolkit, const AdjCommandLine& cmd, const std::function<int()>& runLoop) {
  MonotonicTickSource clock;
  // A trace that was asked for and cannot be written stops the start: never a run
  // without the trace that was asked for.
  TraceFile trace(clock);
  struct Untrace {  // the toolkit outlives the trace
    tk::Toolkit& toolkit;
    ~Untrace() { toolkit.setTrace(nullptr); }
  } untrace{toolkit};
  if (!cmd.trace.empty()) {
    std::string why;
    if (!trace.open(cmd.trace, "tarnset-adj " + kVersionText, why)) {
      MsgBoxApp(toolkit, "Cannot write the trace file.", "Trace file: " + cmd.trace + "\r\nReason: " + why);
      return 64;
    }
  }
  const InstanceLock lock(ConfigEnv::fromProcess());
  const LockedInstance instance(lock);
  const std::string optionsFile = machineOptionsFile();
  SystemPortResolver resolver(configuredPortsOf(optionsFile));
  SystemSerialPort port;

  ProgramConfig config;
  config.optionsFile = optionsFile;
  config.constFileCopyFolder = installedConstFolder();
  config.backupFolder = backupsFolder(ConfigEnv::fromProcess(), optionsFile);
  config.programVersion = "tarnset-adj " + kVersionText + " (" + kAppTitle + ")";
  if (trace.isOpen()) config.trace = &trace;
  Program program(toolkit, clock, port, resolver, config);
  program.installFatalHandler();
  if (const int rc = program.startUp(&instance); rc != 0) return rc;
  return runLoop();
}

}  // namespace

std::optional<int> answerAdjCommandLine(const std::vector<std::string>& args, AdjCommandLine& cmd,
                                        std::ostream& out, std::ostream& err) {
  std::string error;
  const auto parsed = parseAdjCommandLine(args, error);
  if (!parsed) {
    err << "tarnset-adj: " << error << "\n" << kAdjUsage;
    return 64;
  }
  if (parsed->help) {
    out << kAdjUsage << "\n" << kAdjHelp;
    return 0;
  }
  if (parsed->version) {
    out << "tarnset-adj " << kVersionText << " (" << kAppTitle << ")\n";
    return 0;
  }
  cmd = *parsed;
  return std::nullopt;
}

int runAdjProgram(tk::Toolkit& toolkit, const AdjCommandLine& cmd, const std::function<int()>& runLoop) {
  try {
    return startAndRun(toolkit, cmd, runLoop);
  } catch (const std::exception& e) {
    // Before the event loop runs (the machine's folders, the port list, the lock), a
    // programming error still ends in the program's box and its exit status.
    MsgBoxApp(toolkit, internalErrorText(e));
    return Program::kExitInternalError;
  }
}

}  // namespace tarnset
