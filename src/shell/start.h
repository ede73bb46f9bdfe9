#pragma once
// The composition root: creates the program's long-lived objects in the start-up order,
// wires their calls to each other, and offers the start module's option procedures.
// Two complete programs can live side by side (tests build several).
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "base/TickSource.h"
#include "base/Types.h"

namespace tarnset {

class frmCom;
class TraceSink;
class frmMain;
class ServiceDesk;
class clsCmcRadio;
class clsCmcDornSequence;
class clsConsole;
class clsIndOp_RigTarn;
class SerialPort;
class PortResolver;
class InstrumentBench;
class TransportFactory;
class frmInstruments;
namespace tk {
class Toolkit;
}

// Tells whether another instance of the program is running.
class SingleInstance {
 public:
  virtual ~SingleInstance() = default;
  virtual bool alreadyRunning() const = 0;
};

struct ProgramConfig {
  // Full path of the options file.
  std::string optionsFile;
  // The constants file, read from the current directory.
  std::string constFile = "Const.ini";
  // The headless companion runs no procedure that uses the coefficients.
  bool readConstFile = true;
  // Where an installed program's package keeps its Const.ini (named when the file is not
  // found); empty for a program that is not installed.
  std::string constFileCopyFolder;
  // Text after "Cannot access COM" in the open-failure message; empty = the port number
  // (the companion names a port given as a device path).
  std::string portText;
  // The support trace (the caller's, outliving the program); nullptr: none.
  TraceSink* trace = nullptr;
  // Where every clone read of the window is backed up; empty: no backups.
  std::string backupFolder;
  // The wall clock of backups and reports; unset: the system's.
  std::function<std::time_t()> wallClock;
  // The program and its version as the service report names it.
  std::string programVersion = kAppTitle;
  // The instruments of the bench (Instruments.ini); empty: the one beside the options file.
  std::string instrumentsFile;
  // The service record measures the as-found radio (asking the technician to key it).
  bool measureAsFound = true;
  // The items' limits, read from the current directory like Const.ini.
  std::string limitsFile = "Limits.ini";
  // Makes the links to the instruments (the caller's, outliving the program); nullptr:
  // the system's links (LAN socket, serial port, USBTMC or VISA).
  TransportFactory* instrumentLinks = nullptr;
};

// The message box text of a programming error that ends the program.
std::string internalErrorText(const std::exception& e);

class Program {
 public:
  // Exit codes of a start-up that ends the program.
  static constexpr int kExitAlreadyRunning = 1;
  static constexpr int kExitNoConstFile = 1;
  // A programming error ended the program (also one during start-up).
  static constexpr int kExitInternalError = 70;

  Program(tk::Toolkit& toolkit, const TickSource& clock, SerialPort& port, PortResolver& resolver,
          ProgramConfig config);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Start-up: refuses a second instance, creates and wires the objects, loads the
  // options, enables the poll timer and shows the window. 0 when the program runs on,
  // otherwise the exit code with which it ends. A programming error on the way closes the
  // port, is shown in the program's message box and gives kExitInternalError.
  int startUp(const SingleInstance* guard);

  // Programming errors that escape a notification close the port, are shown in the
  // program's message box and end the program with exit code 70.
  void installFatalHandler();

  // The start module's option loading (saving runs through the serial host's AllOver,
  // which calls the main window's SaveOptions).
  void LoadOptions();

  // The message with which start-up ended the program (empty while it runs on): what the
  // window showed in its message box.
  const std::string& startUpMessage() const { return startUpMessage_; }

  // True once the serial host exists (start-up has passed its second step).
  bool hasCom() const { return com_ != nullptr; }
  frmCom& com() { return *com_; }
  clsCmcRadio& radio() { return *radio_; }
  clsCmcDornSequence& sequencer() { return *seq_; }
  clsConsole& console() { return *console_; }
  clsIndOp_RigTarn& controller() { return *controller_; }
  frmMain& mainWindow() { return *main_; }
  ServiceDesk& serviceDesk() { return *desk_; }
  // Option > Instruments... (nullptr when there is no instruments file).
  frmInstruments* instrumentsDialog() { return instrumentsDialog_.get(); }
  InstrumentBench& instruments() { return *bench_; }
  // Where the program reads its instruments.
  const std::string& instrumentsFile() const { return instrumentsFile_; }
  tk::Toolkit& toolkit() { return toolkit_; }

 private:
  int startUpSteps(const SingleInstance* guard);
  // Closes the port (if there is one) and shows the programming error in a message box.
  void reportInternalError(const std::exception& e);
  // Shows a message that ends the start-up, and keeps it.
  void startUpFails(const std::string& message, const std::string& details = {});

  tk::Toolkit& toolkit_;
  const TickSource& clock_;
  SerialPort& port_;
  PortResolver& resolver_;
  ProgramConfig config_;
  std::string startUpMessage_;

  std::unique_ptr<TransportFactory> systemLinks_;
  std::unique_ptr<InstrumentBench> bench_;
  std::string instrumentsFile_;
  std::unique_ptr<frmCom> com_;
  std::unique_ptr<clsCmcRadio> radio_;
  std::unique_ptr<clsCmcDornSequence> seq_;
  std::unique_ptr<clsConsole> console_;
  std::unique_ptr<frmMain> main_;
  std::unique_ptr<clsIndOp_RigTarn> controller_;
  std::unique_ptr<ServiceDesk> desk_;
  std::unique_ptr<frmInstruments> instrumentsDialog_;
};

}  // namespace tarnset
