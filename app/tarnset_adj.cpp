// tarnset-adj: the window program.
#include <QApplication>

#include "AppSetup.h"
#include "base/TickSource.h"
#include "link/AppLocations.h"
#include "link/InstanceLock.h"
#include "link/PosixSerialPort.h"
#include "link/SystemPortResolver.h"
#include "shell/qt/QtToolkit.h"
#include "shell/start.h"

namespace {

class LockedInstance final : public tarnset::SingleInstance {
 public:
  explicit LockedInstance(const tarnset::InstanceLock& lock) : lock_(lock) {}
  bool alreadyRunning() const override { return lock_.alreadyRunning(); }

 private:
  const tarnset::InstanceLock& lock_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace tarnset;
  QApplication app(argc, argv);
  QtToolkit toolkit;
  MonotonicTickSource clock;
  const InstanceLock lock(ConfigEnv::fromProcess());
  const LockedInstance instance(lock);
  const std::string optionsFile = machineOptionsFile();
  SystemPortResolver resolver(optionsFile);
  PosixSerialPort port;

  ProgramConfig config;
  config.optionsFile = optionsFile;
  config.refreshPorts = [&resolver] { resolver.refresh(); };
  Program program(toolkit, clock, port, resolver, config);
  program.installFatalHandler();
  if (const int rc = program.startUp(&instance); rc != 0) return rc;
  return toolkit.run();
}
