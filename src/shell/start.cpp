#include "shell/start.h"

#include "base/Types.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "instruments/InstrumentBench.h"
#include "instruments/TransportFactory.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcProfileIO.h"
#include "radio/clsCmcRadio.h"
#include "shell/ServiceDesk.h"
#include "shell/frmInstruments.h"
#include "shell/frmMain.h"
#include "toolkit/MsgBoxApp.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

Program::Program(tk::Toolkit& toolkit, const TickSource& clock, SerialPort& port, PortResolver& resolver,
                 ProgramConfig config)
    : toolkit_(toolkit), clock_(clock), port_(port), resolver_(resolver), config_(std::move(config)) {}

Program::~Program() {
  // The window's controls go before the objects that draw into them; the bench's pending
  // requests (whose callbacks reach the controller) go before the controller.
  desk_.reset();
  if (main_) main_->setInstruments(nullptr);
  if (controller_) controller_->RigOpFunc_SetInstruments(nullptr, {});
  bench_.reset();
  controller_.reset();
  main_.reset();
}

std::string internalErrorText(const std::exception& e) {
  return std::string("Internal error: ") + e.what() + "\r\nThe program ends.";
}

int Program::startUp(const SingleInstance* guard) {
  try {
    return startUpSteps(guard);
  } catch (const std::exception& e) {
    reportInternalError(e);
    return kExitInternalError;
  }
}

void Program::reportInternalError(const std::exception& e) {
  if (com_) com_->setComOpen(false);
  startUpFails(internalErrorText(e));
}

void Program::startUpFails(const std::string& message, const std::string& details) {
  startUpMessage_ = message;
  if (!details.empty()) startUpMessage_ += "\r\n\r\n" + details;
  MsgBoxApp(toolkit_, message, details);
}

int Program::startUpSteps(const SingleInstance* guard) {
  toolkit_.setTrace(config_.trace);  // every message shown from here on
  // 1. A second instance is refused; the running one is not touched.
  if (guard != nullptr && guard->alreadyRunning()) {
    startUpFails("Cannot execute " + kAppTitle + " repeatedly.\r\n" + kAppTitle + " is already executing.");
    return kExitAlreadyRunning;
  }
  // 2. The serial host with its options profile, driver and poll timer.
  com_ = std::make_unique<frmCom>(toolkit_, port_, resolver_, clock_);
  com_->setTrace(config_.trace);
  if (!config_.optionsFile.empty()) com_->profMain().setFullPath(config_.optionsFile);
  // 3. The radio identity and the clone-write range (the whole image).
  radio_ = std::make_unique<clsCmcRadio>();
  radio_->setRadioNameM("2651");
  radio_->setRadionameS("0100");
  radio_->cloneWriteAdrList_Clear();
  radio_->cloneWriteAdrList_Add(0, 15967);
  // 4. and 5. Port 1 at 9600 baud, driver and port settings reset.
  com_->setComPortNum(1);
  com_->setComBaud(9600);
  com_->dornD().Reset();
  com_->Reset();
  // 6. The options; their first use creates the window, the sequencer, the console and
  //    the model controller, and loads the window.
  seq_ = std::make_unique<clsCmcDornSequence>(*com_, *radio_, clock_);
  console_ = std::make_unique<clsConsole>();
  main_ = std::make_unique<frmMain>(toolkit_, *com_, *seq_, *console_, resolver_);
  controller_ =
      std::make_unique<clsIndOp_RigTarn>(*seq_, *radio_, *console_, *com_, clock_, &main_->lboConsole());
  controller_->setPortText(config_.portText);
  main_->setController(*controller_);
  desk_ = std::make_unique<ServiceDesk>(toolkit_, *controller_, *radio_,
                                        ServiceDeskConfig{config_.backupFolder, config_.wallClock,
                                                          config_.programVersion, config_.measureAsFound});
  main_->setServiceDesk(desk_.get());
  seq_->setErrorReporter(controller_.get());
  // The instruments of the bench and the items' limits.
  TransportFactory* links = config_.instrumentLinks;
  if (links == nullptr) {
    systemLinks_ = std::make_unique<SystemTransportFactory>(clock_, &resolver_);
    links = systemLinks_.get();
  }
  instrumentsFile_ = config_.instrumentsFile.empty() && !config_.optionsFile.empty()
                         ? instrumentsFilePath(config_.optionsFile)
                         : config_.instrumentsFile;
  bench_ = std::make_unique<InstrumentBench>(clock_, *links);
  if (!instrumentsFile_.empty()) bench_->configure(loadInstruments(instrumentsFile_));
  controller_->RigOpFunc_SetInstruments(bench_.get(), loadLimits(config_.limitsFile));
  main_->setInstruments(bench_.get());
  if (!instrumentsFile_.empty()) {
    frmInstruments::Host host;
    host.busy = [this] { return controller_->RigOpFunc_InstrumentsBusy(); };
    host.apply = [this](const InstrumentsSetup& setup) { main_->applyInstruments(setup); };
    instrumentsDialog_ = std::make_unique<frmInstruments>(toolkit_, clock_, *links, *bench_, instrumentsFile_,
                                                          std::move(host));
    main_->setInstrumentsDialog(instrumentsDialog_.get());
  }
  seq_->setSubModelCheck(controller_.get());
  com_->setOwner(main_.get());
  main_->Form_Initialize();
  if (!main_->Form_Load(config_.readConstFile, config_.constFile, config_.constFileCopyFolder)) {
    return kExitNoConstFile;
  }
  LoadOptions();
  // 7. The serial host's load handler, then the poll timer.
  com_->Form_Load();
  com_->timSolid().setEnabled(true);
  // 8. The window.
  main_->window().show();
  return 0;
}

void Program::installFatalHandler() {
  toolkit_.setFatalHandler([this](const std::exception& e) {
    reportInternalError(e);
    toolkit_.quit(kExitInternalError);
  });
}

void Program::LoadOptions() {
  com_->loadData(com_->profMain());
}

}  // namespace tarnset
