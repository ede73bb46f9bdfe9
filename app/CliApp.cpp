#include "CliApp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#include "AppSetup.h"
#include "base/TickSource.h"
#include "base/Types.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "instruments/InstrumentBench.h"
#include "instruments/InstrumentsFile.h"
#include "instruments/TransportFactory.h"
#include "link/TraceFile.h"
#include "link/frmCom.h"
#include "model/RigTarnConstFile.h"
#include "model/ServiceReport.h"
#include "model/TarnMap.h"
#include "model/TarnView.h"
#include "model/clsIndEep_RigTarn.h"
#include "model/clsIndOp_RigTarn.h"
#include "platform/AtomicFile.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/SystemPortResolver.h"
#include "platform/SystemSerialPort.h"
#include "radio/BackupStore.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"
#include "shell/start.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset::cli {
namespace {

const char* const kUsage =
    "usage: tarnset-cli read [--port PORT] [--listing] [--dump] [--save FILE] [--trace FILE]\n"
    "       tarnset-cli monitor [--port PORT] [--trace FILE]\n"
    "       tarnset-cli measure [--port PORT] [--trace FILE]\n"
    "       tarnset-cli instruments\n"
    "       tarnset-cli ports [--map N=DEVICE | --unmap N]\n"
    "       tarnset-cli diff BEFORE AFTER\n"
    "       tarnset-cli report AS_FOUND AS_LEFT [--html FILE]\n"
    "       tarnset-cli --help | --version\n";

const char* const kHelp =
    "Reads a KV-Tarn transceiver over its cloning cable without opening a window.\n"
    "\n"
    "Commands:\n"
    "  read      clone-read the radio's EEPROM and print the parameter listing\n"
    "  monitor   connect as the window does and print the A/D and D/A monitor lines\n"
    "  measure   connect, then measure every item that Limits.ini (in the current folder)\n"
    "            gives limits for with the instruments of Instruments.ini (beside the options\n"
    "            file): each item is sent once more as the radio holds it and measured; key\n"
    "            the radio's transmitter first. Prints one line per item with PASS or FAIL\n"
    "  instruments  list the instruments of Instruments.ini and ask each for its identity\n"
    "            (*IDN?)\n"
    "  ports     show which device each COM number resolves to, and the serial ports found;\n"
    "            or map a COM number to a device\n"
    "  diff      compare two images saved by read --save; it compares what the parameter\n"
    "            listing shows, and prints each line that differs as \"label: before -> after\"\n"
    "            (a byte that no listing line shows, such as the channel memory, is not compared)\n"
    "  report    the service report of two saved images, as found and as left (the window's\n"
    "            backups or read --save files), as text; a report from files has no monitor\n"
    "            readings and says so\n"
    "\n"
    "Options:\n"
    "  --port PORT     a COM number 1..10, mapped as the window program maps it (the [PORTS]\n"
    "                  section of the options file, else the machine's serial ports in\n"
    "                  order), or a device path; without it the port stored in the options\n"
    "                  file, else COM 1\n"
    "  --listing       read: the 106-line parameter listing (the default)\n"
    "  --dump          read: the hexadecimal dump of the image\n"
    "  --save FILE     read: write the raw 15968-byte image to FILE (only a whole read is saved)\n"
    "  --trace FILE    read, monitor: write a trace of the link to FILE, for a support request\n"
    "  --map N=DEVICE  ports: make COM N open DEVICE (written to the [PORTS] section of the\n"
    "                  options file, which the window program reads too)\n"
    "  --unmap N       ports: remove the mapping of COM N (it is then found among the ports)\n"
    "  --html FILE     report: also write the report as an HTML page to FILE, for printing\n"
    "  --help          show this text\n"
    "  --version       show the program's version\n"
    "\n"
    "Exit status: 0 success (diff: the listings are the same; measure: every item measured\n"
    "within its limits), 1 diff: the listings differ; measure: an item outside its limits or\n"
    "not measured, 2 link or clone failure or an options file that cannot be written (diff\n"
    "and report: a file cannot be read or is not a 15968-byte image, or the page cannot be\n"
    "written; diff's codes are those of diff(1); measure: nothing to measure; instruments:\n"
    "an instrument did not answer), 64 usage error, 70 internal error.\n";

// diff's exit status, as diff(1) gives it.
constexpr int kExitSame = 0;
constexpr int kExitDiffer = 1;
constexpr int kExitCannotRead = 2;

struct Options {
  std::string command;
  std::optional<std::string> port;
  bool listing = false, dump = false;
  std::optional<std::string> save;
  std::optional<std::string> trace;
  // report --html FILE.
  std::optional<std::string> html;
  // ports --map N=DEVICE / --unmap N: the COM number and the device (empty to unmap).
  std::optional<std::int16_t> mapCom;
  std::string mapDevice;
  // diff BEFORE AFTER: the two image files.
  std::array<std::string, 2> images;
};

// A COM number 1..10 as typed; nullopt for anything else.
std::optional<std::int16_t> comNumber(const std::string& text) {
  if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const int n = std::stoi(text);
  if (n < 1 || n > SystemPortResolver::kMaxComNumber) return std::nullopt;
  return static_cast<std::int16_t>(n);
}

// Every COM number resolves to one device path given on the command line.
class PathResolver final : public PortResolver {
 public:
  explicit PathResolver(std::string path) : path_(std::move(path)) {}
  std::string deviceFor(std::int16_t) const override { return path_; }

 private:
  std::string path_;
};

std::string withLf(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Writes the image over path in one step: path holds either its old content or the
// whole new image.
bool saveImage(const std::string& path, const Bytes& image, std::string& why) {
  return writeFileAtomically(path, std::string(image.begin(), image.end()), why);
}

std::optional<Options> parse(const std::vector<std::string>& args, std::string& error) {
  Options o;
  const auto fail = [&](std::string why) {
    error = std::move(why);
    return std::optional<Options>{};
  };
  if (args.empty()) return fail("no command given");
  o.command = args[0];
  if (o.command == "--help" || o.command == "--version") {
    if (args.size() > 1) return fail("unexpected argument '" + args[1] + "'");
    return o;
  }
  if (o.command == "ports") {
    if (args.size() == 1) return o;
    if (args.size() != 3 || (args[1] != "--map" && args[1] != "--unmap")) {
      return fail(args.size() == 2 && (args[1] == "--map" || args[1] == "--unmap")
                      ? "option " + args[1] + " needs a value"
                      : "unexpected argument '" + args[1] + "'");
    }
    if (args[1] == "--unmap") {
      o.mapCom = comNumber(args[2]);
      if (!o.mapCom) return fail("--unmap needs a COM number 1..10");
      return o;
    }
    const std::size_t eq = args[2].find('=');
    o.mapCom = eq == std::string::npos ? std::nullopt : comNumber(args[2].substr(0, eq));
    o.mapDevice = eq == std::string::npos ? std::string() : args[2].substr(eq + 1);
    if (!o.mapCom || o.mapDevice.empty() || o.mapDevice.find_first_of("\r\n") != std::string::npos) {
      return fail("--map needs N=DEVICE with a COM number 1..10 and a device");
    }
    return o;
  }
  if (o.command == "diff") {
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i].rfind("--", 0) == 0) return fail("unexpected argument '" + args[i] + "'");
    }
    if (args.size() != 3) return fail("diff needs two image files");
    o.images = {args[1], args[2]};
    return o;
  }
  if (o.command == "report") {
    std::vector<std::string> files;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--html" && i + 1 < args.size()) {
        o.html = args[++i];
      } else if (args[i].rfind("--", 0) == 0) {
        return fail(args[i] == "--html" ? "option --html needs a value"
                                        : "unexpected argument '" + args[i] + "'");
      } else {
        files.push_back(args[i]);
      }
    }
    if (files.size() != 2) return fail("report needs two image files, as found and as left");
    o.images = {files[0], files[1]};
    return o;
  }
  if (o.command == "instruments") {
    if (args.size() > 1) return fail("unexpected argument '" + args[1] + "'");
    return o;
  }
  if (o.command != "read" && o.command != "monitor" && o.command != "measure")
    return fail("unknown command '" + o.command + "'");
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--port" && hasValue) {
      o.port = args[++i];
    } else if (a == "--trace" && hasValue) {
      o.trace = args[++i];
    } else if (a == "--listing" && o.command == "read") {
      o.listing = true;
    } else if (a == "--dump" && o.command == "read") {
      o.dump = true;
    } else if (a == "--save" && o.command == "read" && hasValue) {
      o.save = args[++i];
    } else {
      return fail(a == "--port" || a == "--save" || a == "--trace" ? "option " + a + " needs a value"
                                                                   : "unexpected argument '" + a + "'");
    }
  }
  if (o.port && !namesADevice(*o.port) && !comNumber(*o.port)) {
    return fail("PORT must be a COM number 1..10 or a device path");
  }
  if (o.command == "read" && !o.listing && !o.dump && !o.save) o.listing = true;
  return o;
}

// ports --map / --unmap: the [PORTS] key of the COM number, written through the program's
// INI routines (the file replaced in one step, every other line kept).
int mapPort(const Options& o, std::ostream& out, std::ostream& err) {
  const std::string file = machineOptionsFile();
  const std::string key = "COM" + std::to_string(*o.mapCom);
  const std::string before = iniReadString("PORTS", key, "", 1024, file);
  const bool ok = o.mapDevice.empty() ? iniDeleteKey("PORTS", key, file)
                                      : iniWriteString("PORTS", key, o.mapDevice, file);
  if (!ok) {
    err << "tarnset-cli: cannot write the options file " << file << "\n";
    return kExitLinkFailure;
  }
  if (o.mapDevice.empty()) {
    out << key << " is no longer mapped (" << file << ")\n";
  } else {
    out << key << " opens " << o.mapDevice << " (" << file << ")\n";
  }
  // What it was, so that a script can put it back.
  out << (before.empty() ? "It was not mapped before.\n" : "It was mapped to " + before + " before.\n");
  return kExitOk;
}

int listPorts(std::ostream& out) {
  SystemPortResolver resolver(configuredPortsOf(machineOptionsFile()));
  for (std::int16_t n = 1; n <= SystemPortResolver::kMaxComNumber; ++n) {
    const std::string device = resolver.deviceFor(n);
    out << "COM" << n << ": " << (device.empty() ? "no device" : resolver.describe(n)) << "\n";
  }
  const auto& ports = resolver.ports();
  if (ports.empty()) {
    out << "No serial ports found on this machine.\n";
    return kExitOk;
  }
  out << "Serial ports found:\n";
  for (const SerialPortInfo& p : ports) {
    out << "  " << p.device;
    if (!p.byId.empty()) out << "  by-id: " << p.byId;
    out << "\n";
    if (!p.driver.empty()) out << "    driver: " << p.driver << "\n";
    if (!p.vendorId.empty()) {
      out << "    USB " << p.vendorId << ":" << p.productId;
      if (!p.manufacturer.empty() || !p.product.empty()) out << " " << p.manufacturer << " " << p.product;
      out << "\n";
    }
    if (!p.serial.empty()) out << "    serial number: " << p.serial << "\n";
    if (p.bluetooth) out << "    Bluetooth: opens only while the paired device answers\n";
  }
  return kExitOk;
}

// Reads an image that read --save wrote: a regular file of exactly the image's size.
bool readImage(const std::string& path, Bytes& image, std::string& why) {
  const auto expected = static_cast<std::uint64_t>(TarnMap::kImageSize);
  const FileContent file = readWholeFile(path, expected);
  const std::string sizeText = path + " is not a " + std::to_string(expected) + "-byte image (it holds ";
  switch (file.status) {
    case FileContent::Status::Ok:
      if (file.bytes.size() == expected) {
        image.assign(file.bytes.begin(), file.bytes.end());
        return true;
      }
      why = file.size == expected ? "cannot read " + path + ": it changed while it was read"
                                  : sizeText + std::to_string(file.size) + " bytes)";
      return false;
    case FileContent::Status::TooLarge:
      why = sizeText + std::to_string(file.size) + " bytes)";
      return false;
    case FileContent::Status::Directory:
      why = "cannot read " + path + ": Is a directory";
      return false;
    case FileContent::Status::NotRegular:
      why = "cannot read " + path + ": not a regular file";
      return false;
    case FileContent::Status::Missing:
    case FileContent::Status::Unreadable:
      break;
  }
  why = "cannot read " + path + ": " + file.why;
  return false;
}

// The parameter listing of an image, as the program's memory map makes it.
std::vector<ParameterLine> listingOf(const Bytes& image) {
  clsCmcRadio radio;
  radio.eepImage().WriteBlock(0, image);
  const clsIndEep_RigTarn map(radio,
                              [](std::int16_t i) { return kTarnTempBorder.at(static_cast<std::size_t>(i)); });
  return map.RigTarnEep_DispPara();
}

// The two saved images a comparing command names; false (said on err) when one cannot be read.
bool readTwoImages(const Options& o, std::array<Bytes, 2>& images, std::ostream& err) {
  for (std::size_t i = 0; i < 2; ++i) {
    std::string why;
    if (!readImage(o.images[i], images[i], why)) {
      err << "tarnset-cli: " << why << "\n";
      return false;
    }
  }
  return true;
}

// report AS_FOUND AS_LEFT [--html FILE]: the service report of two saved images. The
// model and sub-model codes come from a backup's name where there is one.
int reportCommand(const Options& o, std::ostream& out, std::ostream& err) {
  std::array<Bytes, 2> images;
  if (!readTwoImages(o, images, err)) return kExitCannotRead;
  const std::optional<BackupStore::Identity> radio = BackupStore::identityOf(o.images[1]);
  ServiceReportInput in = reportInput(
      radio ? radio->model : "not known", radio ? radio->subModel : "not known", std::time(nullptr),
      "tarnset-cli " + kVersionText + " (" + kAppTitle + ")", images[0], images[1]);
  in.asFoundSource = "the file " + o.images[0];
  in.asLeftState =
      "the file " + o.images[1] + ", not read back by this report: whether the radio holds it is not known";
  in.monitorNote = "No monitor readings: this report was made from saved images.";
  out << serviceReportText(in);
  if (o.html) {
    std::string why;
    if (!writeFileAtomically(*o.html, serviceReportHtml(in), why)) {
      err << "tarnset-cli: " << why << "\n";
      return kExitCannotRead;
    }
  }
  return kExitOk;
}

// diff BEFORE AFTER: the listing lines that AFTER shows otherwise than BEFORE, as
// "label: before -> after".
int diffCommand(const Options& o, std::ostream& out, std::ostream& err) {
  std::array<Bytes, 2> images;
  if (!readTwoImages(o, images, err)) return kExitCannotRead;
  const std::vector<ParameterLine> before = listingOf(images[0]);
  const std::vector<ParameterLine> after = listingOf(images[1]);
  bool differ = false;
  for (std::size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
    if (before[i].valueText() == after[i].valueText()) continue;
    out << before[i].name() << ": " << before[i].valueText() << " -> " << after[i].valueText() << "\n";
    differ = true;
  }
  return differ ? kExitDiffer : kExitSame;
}

// One run of the program's objects against the radio, and a view of its model: what
// the model tells (progress, monitor readings, completion, failure) is what this program
// prints.
class Session final : public TarnView {
 public:
  Session(const Options& o, std::ostream& err, bool errIsTerminal, TraceSink* trace)
      : err_(err), progress_(errIsTerminal), toolkit_(clock_), optionsFile_(machineOptionsFile()) {
    ProgramConfig config;
    config.optionsFile = optionsFile_;
    config.readConstFile = false;
    config.trace = trace;
    config.measureAsFound = false;  // nobody to key the radio for it
    // Without --port the port stored in the options file applies (start-up loads it).
    std::optional<std::int16_t> com;
    if (o.port && namesADevice(*o.port)) {
      resolver_ = std::make_unique<PathResolver>(*o.port);
      config.portText = " " + *o.port;
      com = 1;
    } else {
      resolver_ = std::make_unique<SystemPortResolver>(configuredPortsOf(optionsFile_));
      if (o.port) com = static_cast<std::int16_t>(std::stoi(*o.port));
    }
    program_ = std::make_unique<Program>(toolkit_, clock_, port_, *resolver_, config);
    toolkit_.setFatalHandler([this](const std::exception& e) {
      err_ << "tarnset-cli: internal error: " << e.what() << "\n";
      if (program_) program_->com().setComOpen(false);
      toolkit_.quit(kExitSoftware);
    });
    startResult_ = program_->startUp(nullptr);
    started_ = startResult_ == 0;
    if (!started_) return;
    controller().addView(this);
    if (com) program_->mainWindow().setComPortNo(*com);
  }

  ~Session() override {
    if (!started_) return;
    controller().removeView(this);
    program_->com().setComOpen(false);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Runs the event loop until done() holds or the link failed.
  int runUntil(const std::function<bool()>& done) {
    if (!started_) {
      err_ << "tarnset-cli: " << withLf(program_->startUpMessage()) << "\n";
      return startResult_ == Program::kExitInternalError ? kExitSoftware : kExitLinkFailure;
    }
    auto watch = toolkit_.createTimer();
    watch->setInterval(50);
    watch->onTick = [&] {
      if (failed_) {
        toolkit_.quit(kExitLinkFailure);
      } else if (done()) {
        toolkit_.quit(kExitOk);
      }
    };
    watch->setEnabled(true);
    const int rc = toolkit_.runLoop();
    if (progress_ && drawn_) err_ << "\n";
    if (rc == kExitLinkFailure) reportFailure();
    return rc;
  }

  Program& program() { return *program_; }
  clsIndOp_RigTarn& controller() { return program_->controller(); }
  bool readDone() const { return readDone_; }
  // The monitor lists as the window shows them: a header, then a line per reading.
  void printMonitors(std::ostream& out) const {
    for (std::size_t b = 0; b < 2; ++b) {
      out << kMonitorHeader[b] << "\n";
      for (const std::string& line : monitors_[b]) out << line << "\n";
    }
  }

  // TarnView.
  void modelReset() override {
    for (std::size_t b = 0; b < 2; ++b)
      monitors_[b].assign(static_cast<std::size_t>(kMonitorLines[b]), kMonitorNotRead);
  }
  void monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t /*raw*/,
                          const std::string& text) override {
    monitors_.at(static_cast<std::size_t>(bank)).at(static_cast<std::size_t>(line)) = text;
  }
  void readProgress(std::int32_t lastAddress, std::int32_t endAddress) override {
    if (!progress_) return;
    const std::int64_t end = endAddress > 0 ? endAddress : 1;
    const std::int64_t pct = std::clamp<std::int64_t>(100 * std::int64_t{lastAddress} / end, 0, 100);
    const std::size_t marks = static_cast<std::size_t>(pct * 32 / 100);
    err_ << "\rReading " << std::string(marks, 'o') << std::string(32 - marks, '.') << " " << pct << "%"
         << std::flush;
    drawn_ = true;
  }
  void readCompleted() override { readDone_ = true; }
  void linkFailed(const LinkFailure& f) override {
    if (failed_) return;  // the first failure is the one to report
    failed_ = true;
    failure_ = f.message;
    failureDetails_ = f.details;
  }

 private:
  // The failure as the window shows it: its text, then its details (the port, why it
  // failed, the next step), or at least the port the failure happened on.
  void reportFailure() {
    err_ << withLf(failure_) << "\n\n";
    if (!failureDetails_.empty()) {
      err_ << withLf(failureDetails_) << "\n";
    } else if (!program_->com().deviceName().empty()) {
      err_ << "Port: " << program_->com().deviceName() << "\n";
    }
  }

  std::ostream& err_;
  bool progress_;
  bool drawn_ = false;
  MonotonicTickSource clock_;
  HeadlessToolkit toolkit_;
  SystemSerialPort port_;
  std::string optionsFile_;
  std::unique_ptr<PortResolver> resolver_;
  std::unique_ptr<Program> program_;
  int startResult_ = 0;
  bool started_ = false;
  std::array<std::vector<std::string>, 2> monitors_;
  bool readDone_ = false;
  bool failed_ = false;
  std::string failure_, failureDetails_;
};

int readCommand(const Options& o, std::ostream& out, std::ostream& err, bool errIsTerminal,
                TraceSink* trace) {
  Session s(o, err, errIsTerminal, trace);
  if (s.program().hasCom()) s.controller().RigOpFunc_ReadImage();
  const int rc = s.runUntil([&] { return s.readDone(); });
  if (rc != kExitOk) return rc;
  const clsCmcEeprom& image = s.program().radio().eepImage();
  if (o.listing) out << withLf(s.controller().memoryMap().RigTarnEep_ParaText());
  if (o.dump) {
    std::string dump;
    s.controller().memoryMap().RigTarnEep_DispDebug(dump);
    out << withLf(dump);
  }
  out.flush();
  if (o.save) {
    std::string why;
    if (!saveImage(*o.save, image.ReadBlock(0, image.eeSize()), why)) {
      err << "tarnset-cli: " << why << "\n";
      return kExitLinkFailure;
    }
  }
  return kExitOk;
}

int monitorCommand(const Options& o, std::ostream& out, std::ostream& err, bool errIsTerminal,
                   TraceSink* trace) {
  Session s(o, err, errIsTerminal, trace);
  if (s.program().hasCom()) {
    // Connect as the window does, and stop before the first item would be sent.
    s.controller().RigOpFunc_ClickCmd00(0);
    s.controller().setHoldBefore(TarnState::SendItems);
  }
  const int rc = s.runUntil([&] { return s.controller().held(); });
  if (rc != kExitOk) return rc;
  s.printMonitors(out);
  return kExitOk;
}

int measureCommand(const Options& o, std::ostream& out, std::ostream& err, bool errIsTerminal,
                   TraceSink* trace) {
  Session s(o, err, errIsTerminal, trace);
  bool asked = false, measured = false, refused = false;
  std::vector<ItemMeasurement> results;
  if (s.program().hasCom()) {
    if (s.controller().RigOpFunc_MeasurableRows().empty()) {
      err << "tarnset-cli: nothing to measure: no instrument of " << s.program().instrumentsFile()
          << " measures an item that Limits.ini (in the current folder) has limits for\n";
      return kExitLinkFailure;
    }
    s.controller().RigOpFunc_ClickCmd00(0);  // connect as the window does
  }
  const int rc = s.runUntil([&] {
    clsIndOp_RigTarn& c = s.controller();
    if (!asked && c.opState() == TarnState::CycleEnd) {
      asked = true;
      refused = !c.RigOpFunc_MeasureItems([&](std::vector<ItemMeasurement> r) {
        results = std::move(r);
        measured = true;
      });
    }
    return measured || refused;
  });
  if (rc != kExitOk) return rc;
  if (refused) {
    err << "tarnset-cli: the items could not be measured\n";
    return kExitLinkFailure;
  }
  bool allPass = true;
  for (const ItemMeasurement& m : results) {
    out << m.line() << "\n";
    allPass = allPass && m.taken && m.verdict == ItemMeasurement::Verdict::Pass;
  }
  return allPass ? kExitOk : kExitDiffer;
}

// instruments: the instruments of Instruments.ini, each asked for its identity.
int instrumentsCommand(std::ostream& out, std::ostream& err) {
  const std::string file = instrumentsFilePath(machineOptionsFile());
  const InstrumentsSetup setup = loadInstruments(file);
  out << "Instruments of " << file << ":\n";
  for (const std::string& p : setup.problems) out << "  left out: " << p << "\n";
  if (setup.instruments.empty()) {
    out << "  none\n";
    return setup.problems.empty() ? kExitOk : kExitLinkFailure;
  }
  MonotonicTickSource clock;
  HeadlessToolkit toolkit(clock);
  SystemPortResolver resolver(configuredPortsOf(machineOptionsFile()));
  SystemTransportFactory links(clock, &resolver);
  InstrumentBench bench(clock, links);
  bench.configure(setup);
  std::map<std::string, BenchResult> answers;
  for (const InstrumentEntry& e : setup.instruments) {
    bench.identify(e.name, [&answers, name = e.name](const BenchResult& r) { answers[name] = r; });
  }
  auto tick = toolkit.createTimer();
  tick->setInterval(20);
  tick->onTick = [&] {
    bench.task();
    if (answers.size() == setup.instruments.size()) toolkit.quit(kExitOk);
  };
  tick->setEnabled(true);
  toolkit.runLoop();
  bool allAnswered = true;
  for (const InstrumentEntry& e : setup.instruments) {
    std::string roles;
    for (Role r : e.roles) roles += (roles.empty() ? "" : ", ") + std::string(roleTitle(r));
    out << "  " << e.name << ": " << e.address << " (" << roles << "; profile " << e.profile << ")\n";
    if (!e.calibrationDue.empty()) out << "    calibration due " << e.calibrationDue << "\n";
    const BenchResult& r = answers[e.name];
    if (r.ok && r.identity) {
      out << "    *IDN?: " << r.identity->maker << ", " << r.identity->model << ", serial "
          << r.identity->serial << ", firmware " << r.identity->firmware << "\n";
    } else {
      allAnswered = false;
      out << "    no identity: " << r.error << "\n";
      if (!r.details.empty()) out << "    " << withLf(r.details) << "\n";
    }
  }
  (void)err;
  return allAnswered ? kExitOk : kExitLinkFailure;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  std::string error;
  const std::optional<Options> o = parse(args, error);
  if (!o) {
    err << "tarnset-cli: " << error << "\n" << kUsage;
    return kExitUsage;
  }
  if (o->command == "--help") {
    out << kUsage << "\n" << kHelp;
    return kExitOk;
  }
  if (o->command == "--version") {
    out << "tarnset-cli " << kVersionText << " (" << kAppTitle << ")\n";
    return kExitOk;
  }
  if (o->command == "ports") return o->mapCom ? mapPort(*o, out, err) : listPorts(out);
  if (o->command == "diff") return diffCommand(*o, out, err);
  if (o->command == "report") return reportCommand(*o, out, err);
  if (o->command == "instruments") return instrumentsCommand(out, err);
  // A trace that was asked for and cannot be written is a usage error: never a run
  // without the trace that was asked for.
  MonotonicTickSource traceClock;
  std::unique_ptr<TraceFile> trace;
  if (o->trace) {
    trace = std::make_unique<TraceFile>(traceClock);
    std::string why;
    if (!trace->open(*o->trace, "tarnset-cli " + kVersionText + " " + o->command, why)) {
      err << "tarnset-cli: cannot write the trace file " << *o->trace << ": " << why << "\n" << kUsage;
      return kExitUsage;
    }
  }
  if (o->command == "read") return readCommand(*o, out, err, errIsTerminal, trace.get());
  if (o->command == "measure") return measureCommand(*o, out, err, errIsTerminal, trace.get());
  return monitorCommand(*o, out, err, errIsTerminal, trace.get());
}

}  // namespace tarnset::cli
