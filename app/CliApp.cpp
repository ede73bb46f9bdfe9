#include "CliApp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>

#include "AppSetup.h"
#include "base/TickSource.h"
#include "base/Types.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "link/PosixSerialPort.h"
#include "link/SystemPortResolver.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"
#include "shell/headless/HeadlessToolkit.h"
#include "shell/start.h"

namespace tarnset::cli {
namespace {

const char* const kUsage =
    "usage: tarnset-cli read [--port PORT] [--listing] [--dump] [--save FILE]\n"
    "       tarnset-cli monitor [--port PORT]\n"
    "       tarnset-cli ports\n"
    "       tarnset-cli --help | --version\n";

const char* const kHelp =
    "Reads a KV-Tarn transceiver over its cloning cable without opening a window.\n"
    "\n"
    "  read      clone-read the radio's EEPROM and print the parameter listing\n"
    "            --listing  the 106-line parameter listing (the default)\n"
    "            --dump     the hexadecimal dump of the image\n"
    "            --save F   write the raw 15968-byte image to F\n"
    "  monitor   connect as the window does and print the A/D and D/A monitor lines\n"
    "  ports     show which device each COM number resolves to, and the serial ports found\n"
    "\n"
    "PORT is a COM number 1..10 (mapped as the window program maps it: the [PORTS] section\n"
    "of the options file, else the machine's serial ports in order) or a device path.\n"
    "Without --port the port stored in the options file is used, else COM 1.\n"
    "\n"
    "Exit status: 0 success, 2 link or clone failure, 64 usage error, 70 internal error.\n";

struct Options {
  std::string command;
  std::optional<std::string> port;
  bool listing = false, dump = false;
  std::optional<std::string> save;
};

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

// Writes the image to a temporary file beside path and renames it over path, so that
// path holds either its old content or the whole new image.
bool saveImage(const std::string& path, const Bytes& image, std::string& why) {
  const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) {
      why = "cannot create " + tmp;
      return false;
    }
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    f.flush();
    if (!f) {
      why = "cannot write " + tmp;
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    why = "cannot replace " + path;
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

std::optional<Options> parse(const std::vector<std::string>& args, std::string& error) {
  Options o;
  if (args.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  o.command = args[0];
  if (o.command == "--help" || o.command == "--version" || o.command == "ports") {
    if (args.size() > 1) {
      error = "unexpected argument '" + args[1] + "'";
      return std::nullopt;
    }
    return o;
  }
  if (o.command != "read" && o.command != "monitor") {
    error = "unknown command '" + o.command + "'";
    return std::nullopt;
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--port" && hasValue) {
      o.port = args[++i];
    } else if (a == "--listing" && o.command == "read") {
      o.listing = true;
    } else if (a == "--dump" && o.command == "read") {
      o.dump = true;
    } else if (a == "--save" && o.command == "read" && hasValue) {
      o.save = args[++i];
    } else {
      error = a == "--port" || a == "--save" ? "option " + a + " needs a value"
                                             : "unexpected argument '" + a + "'";
      return std::nullopt;
    }
  }
  if (o.port && o.port->find('/') == std::string::npos) {
    const std::string& p = *o.port;
    if (p.empty() || p.size() > 2 || p.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(p) < 1 || std::stoi(p) > 10) {
      error = "PORT must be a COM number 1..10 or a device path";
      return std::nullopt;
    }
  }
  if (o.command == "read" && !o.listing && !o.dump && !o.save) o.listing = true;
  return o;
}

int listPorts(std::ostream& out) {
  SystemPortResolver resolver(machineOptionsFile());
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
  }
  return kExitOk;
}

// One run of the program's objects against the radio.
class Session {
 public:
  Session(const Options& o, std::ostream& err, bool errIsTerminal)
      : err_(err), progress_(errIsTerminal), toolkit_(clock_), optionsFile_(machineOptionsFile()) {
    ProgramConfig config;
    config.optionsFile = optionsFile_;
    config.readConstFile = false;
    // Without --port the port stored in the options file applies (start-up loads it).
    std::optional<std::int16_t> com;
    if (o.port && o.port->find('/') != std::string::npos) {
      resolver_ = std::make_unique<PathResolver>(*o.port);
      config.portText = " " + *o.port;
      com = 1;
    } else {
      resolver_ = std::make_unique<SystemPortResolver>(optionsFile_);
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
    if (started_ && com) program_->mainWindow().setComPortNo(*com);
  }

  ~Session() {
    if (started_) program_->com().setComOpen(false);
  }

  // Runs the event loop until done() holds or a failure message was shown.
  int runUntil(const std::function<bool()>& done) {
    if (!started_) {
      // Start-up said why in its message box.
      for (const auto& m : toolkit_.messages()) err_ << "tarnset-cli: " << withLf(m.text) << "\n";
      return startResult_ == Program::kExitInternalError ? kExitSoftware : kExitLinkFailure;
    }
    auto watch = toolkit_.createTimer();
    watch->setInterval(50);
    watch->onTick = [&] {
      if (!toolkit_.messages().empty()) {
        toolkit_.quit(kExitLinkFailure);
      } else if (done()) {
        toolkit_.quit(kExitOk);
      } else if (progress_) {
        drawProgress();
      }
    };
    watch->setEnabled(true);
    const int rc = toolkit_.runLoop();
    if (progress_ && drawn_) err_ << "\n";
    if (rc == kExitLinkFailure) reportFailure();
    return rc;
  }

  Program& program() { return *program_; }

 private:
  void drawProgress() {
    const clsCmcDornDrv& drv = program_->com().dornD();
    if (!program_->sequencer().OpRunning() || program_->sequencer().Operation() != 2) return;
    const std::int64_t end = drv.EndAddress() > 0 ? drv.EndAddress() : 1;
    const std::int64_t pct = std::clamp<std::int64_t>(100 * std::int64_t{drv.lastEeAdr()} / end, 0, 100);
    const std::size_t marks = static_cast<std::size_t>(pct * 32 / 100);
    err_ << "\rReading " << std::string(marks, 'o') << std::string(32 - marks, '.') << " " << pct << "%"
         << std::flush;
    drawn_ = true;
  }

  // The message as the window shows it: its text, then its details (the port, why it
  // failed, the next step), or at least the port the failure happened on.
  void reportFailure() {
    const auto& m = toolkit_.messages().front();
    err_ << withLf(m.text) << "\n\n";
    if (!m.details.empty()) {
      err_ << withLf(m.details) << "\n";
    } else if (!program_->com().deviceName().empty()) {
      err_ << "Port: " << program_->com().deviceName() << "\n";
    }
  }

  std::ostream& err_;
  bool progress_;
  bool drawn_ = false;
  MonotonicTickSource clock_;
  HeadlessToolkit toolkit_;
  PosixSerialPort port_;
  std::string optionsFile_;
  std::unique_ptr<PortResolver> resolver_;
  std::unique_ptr<Program> program_;
  int startResult_ = 0;
  bool started_ = false;
};

int readCommand(const Options& o, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  Session s(o, err, errIsTerminal);
  clsCmcDornSequence& seq = s.program().sequencer();
  seq.easyCloneRead();
  const int rc = s.runUntil([&] { return !seq.OpRunning(); });
  if (rc != kExitOk) return rc;
  const clsCmcEeprom& image = s.program().radio().eepImage();
  if (o.listing) out << withLf(s.program().controller().memoryMap().RigTarnEep_ParaText());
  if (o.dump) {
    std::string dump;
    s.program().controller().memoryMap().RigTarnEep_DispDebug(dump);
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

int monitorCommand(const Options& o, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  Session s(o, err, errIsTerminal);
  clsIndOp_RigTarn& ctl = s.program().controller();
  // Connect as the window does, and stop before the first item would be sent.
  ctl.RigOpFunc_ClickCmd00(0);
  ctl.setHoldBefore(22);
  const int rc = s.runUntil([&] { return ctl.held(); });
  if (rc != kExitOk) return rc;
  frmMain& w = s.program().mainWindow();
  for (std::int16_t i = 0; i < w.lbo01(0).listCount(); ++i) out << w.lbo01(0).itemText(i) << "\n";
  for (std::int16_t i = 0; i < w.lbo01(1).listCount(); ++i) out << w.lbo01(1).itemText(i) << "\n";
  return kExitOk;
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
  if (o->command == "ports") return listPorts(out);
  if (o->command == "read") return readCommand(*o, out, err, errIsTerminal);
  return monitorCommand(*o, out, err, errIsTerminal);
}

}  // namespace tarnset::cli
