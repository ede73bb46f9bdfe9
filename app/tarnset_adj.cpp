// tarnset-adj: the window program.
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "AdjCommandLine.h"
#include "AppSetup.h"
#include "base/TickSource.h"
#include "link/TraceFile.h"
#include "platform/AppLocations.h"
#include "platform/InstanceLock.h"
#include "platform/SystemPortResolver.h"
#include "platform/SystemSerialPort.h"
#include "shell/start.h"
#include "toolkit/MsgBoxApp.h"
#include "toolkit/qt/QtToolkit.h"

namespace {

class LockedInstance final : public tarnset::SingleInstance {
 public:
  explicit LockedInstance(const tarnset::InstanceLock& lock) : lock_(lock) {}
  bool alreadyRunning() const override { return lock_.alreadyRunning(); }

 private:
  const tarnset::InstanceLock& lock_;
};

int runProgram(tarnset::QtToolkit& toolkit, const tarnset::AdjCommandLine& cmd) {
  using namespace tarnset;
  MonotonicTickSource clock;
  // A trace that was asked for and cannot be written stops the start: never a run
  // without the trace that was asked for.
  TraceFile trace(clock);
  struct Untrace {  // the toolkit outlives the trace
    QtToolkit& toolkit;
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
  config.refreshPorts = [&resolver] { resolver.refresh(); };
  Program program(toolkit, clock, port, resolver, config);
  program.installFatalHandler();
  if (const int rc = program.startUp(&instance); rc != 0) return rc;
  return toolkit.run();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnset;
  // The command line first: --help and --version need no display.
  std::string error;
  const auto cmd = parseAdjCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!cmd) {
    std::cerr << "tarnset-adj: " << error << "\n" << kAdjUsage;
    return 64;
  }
  if (cmd->help) {
    std::cout << kAdjUsage << "\n" << kAdjHelp;
    return 0;
  }
  if (cmd->version) {
    std::cout << "tarnset-adj " << kVersionText << " (" << kAppTitle << ")\n";
    return 0;
  }
  int qtArgc = 1;  // Qt's own options are not offered: everything else was refused above
  QApplication app(qtArgc, argv);
  QtToolkit toolkit;
  try {
    return runProgram(toolkit, *cmd);
  } catch (const std::exception& e) {
    // Before the event loop runs (the machine's folders, the port list, the lock), a
    // programming error still ends in the program's box and its exit status.
    MsgBoxApp(toolkit, internalErrorText(e));
    return Program::kExitInternalError;
  }
}
