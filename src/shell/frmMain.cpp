#include "shell/frmMain.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

#include "base/Checked16.h"
#include "base/NumFormat.h"
#include "base/SerialPort.h"
#include "clone/CloneErrorText.h"
#include "clone/clsCmcDornDrv.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "instruments/InstrumentBench.h"
#include "link/frmCom.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/PortAdvice.h"
#include "radio/clsCmcProfileIO.h"
#include "shell/ServiceDesk.h"
#include "shell/frmInstruments.h"
#include "toolkit/MsgBoxApp.h"

namespace tarnset {
namespace {

constexpr std::int16_t kDefaultPort = 1;
constexpr std::int16_t kDefaultAutoRelease = 0;

// A stored option as a 16-bit value, or nothing when it was not read or does not fit.
std::optional<std::int16_t> storedValue(clsCmcProfileIO& prof, const std::string& key, std::int32_t def) {
  ProfileValue v = std::int32_t{0};
  if (!prof.loadData(key, v, ProfileValue{def})) return std::nullopt;
  const std::int32_t n = std::get<std::int32_t>(v);
  if (n < std::numeric_limits<std::int16_t>::min() || n > std::numeric_limits<std::int16_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int16_t>(n);
}

// One serial port as the mapping box lists it: "COM7, USB Serial Port (FTDI)", with the
// COM number that opens it now.
std::string adapterChoice(const SerialAdapter& a) {
  std::string line = a.systemName;
  if (!a.name.empty()) line += ", " + a.name;
  if (!a.maker.empty()) line += " (" + a.maker + ")";
  if (a.bluetooth) line += ", Bluetooth";
  if (a.comNumber > 0) line += " \u2014 COM " + std::to_string(a.comNumber) + " opens it now";
  return line;
}

}  // namespace

frmMain::frmMain(tk::Toolkit& toolkit, frmCom& com, clsCmcDornSequence& seq, clsConsole& console,
                 PortResolver& resolver)
    : toolkit_(toolkit), com_(com), seq_(seq), console_(console), resolver_(resolver) {
  window_ = toolkit_.createMainWindow();
  buildMenus();
  buildControls();
  window_->onResize = [this] { Form_Resize(); };
  window_->onQueryUnload = [this] { Form_QueryUnload(); };
  window_->onUnload = [this] { Form_Unload(); };
  window_->onKeyDown = [this](std::int16_t& key, std::int16_t shift) { Form_KeyDown(key, shift); };
  // Log-off or shutdown: the options chosen since the start survive it.
  window_->onEndSession = [this] { SaveOptions(); };
  // An adapter plugged in or pulled out: the Port menu says what each number opens now.
  // While a port is open its number keeps the device it opened.
  toolkit_.onDevicesChanged = [this] {
    if (!com_.comOpen()) resolver_.refresh();
    updatePortTips();
  };
}

frmMain::~frmMain() = default;

void frmMain::buildMenus() {
  tk::Menu& file = window_->addMenu("&File");
  mnuFileSaveImage_ = &file.addItem("&Save Image As...");
  mnuFileSaveImage_->onClick = [this] {
    if (desk_ != nullptr) desk_->SaveImageAs();
  };
  mnuFileReport_ = &file.addItem("Service &Report...");
  mnuFileReport_->onClick = [this] {
    if (desk_ != nullptr) desk_->ServiceReport();
  };
  mnuFileRestore_ = &file.addItem("Restore &As-Found Values...");
  mnuFileRestore_->onClick = [this] {
    if (desk_ != nullptr) desk_->RestoreAsFound();
    actNow();
  };
  mnuFileAlign_ = &file.addItem("A&lign All...");
  mnuFileAlign_->onClick = [this] {
    if (desk_ != nullptr) desk_->AlignAll();
    actNow();
  };
  tk::MenuItem& newRadio = file.addItem("&New Radio");
  newRadio.onClick = [this] {
    if (desk_ != nullptr) desk_->NewRadio();
    showServiceState();
  };
  file.onAboutToShow = [this] { showServiceState(); };
  file.addSeparator();
  mnuFileExit_ = &file.addItem("E&xit");
  mnuFileExit_->onClick = [this] { window_->unload(); };

  tk::Menu& option = window_->addMenu("&Option");
  // The port tips say what each number opens now, an adapter plugged in late included.
  option.onAboutToShow = [this] {
    for (std::int16_t i = 1; i <= 4; ++i) resolver_.resolveAnew(i);
    updatePortTips();
  };
  tk::Menu& port = option.addSubMenu("&Port");
  for (std::int16_t i = 1; i <= 4; ++i) {
    tk::MenuItem& item = port.addItem("COM &" + std::to_string(i));
    item.onClick = [this, i] {
      // The user chose a port: take the mapping of COM numbers to devices again.
      resolver_.refresh();
      updatePortTips();
      setComPortNo(i);
    };
    mnuOptSelCom_[static_cast<std::size_t>(i - 1)] = &item;
  }
  mnuOptionInstruments_ = &option.addItem("&Instruments...");
  mnuOptionInstruments_->onClick = [this] {
    if (instrumentsDialog_ != nullptr) instrumentsDialog_->show();
  };
  mnuOptionInstruments_->setEnabled(instrumentsDialog_ != nullptr);
  tk::Menu& release = option.addSubMenu("&Auto port release");
  static const char* const kRelease[] = {"&OFF", "&1 sec", "&2 sec", "&3 sec", "&4 sec", "&5 sec"};
  for (std::int16_t i = 0; i <= 5; ++i) {
    tk::MenuItem& item = release.addItem(kRelease[i]);
    item.onClick = [this, i] { setComAutoRelease(i); };
    mnuOptionSelAutoRelease_[static_cast<std::size_t>(i)] = &item;
  }
}

void frmMain::buildControls() {
  for (std::size_t i : {0u, 1u, 3u}) fra01_[i] = &window_->addFrame(nullptr);
  fra01_[2] = &window_->addFrame(fra01_[1]);
  lbo01_[0] = &window_->addListBox(fra01_[2]);
  lbo01_[1] = &window_->addListBox(fra01_[2]);
  lboConsole_ = &window_->addListBox(fra01_[1]);
  lblMeasure_ = &window_->addLabel(fra01_[1]);
  lblTitle_ = &window_->addLabel(fra01_[0]);
  lblProgress_ = &window_->addLabel(fra01_[0]);
  txtDispPara_ = &window_->addTextPane(fra01_[3]);
  for (std::size_t i = 0; i < 3; ++i) {
    cmd00_[i] = &window_->addButton(nullptr);
    cmd00_[i]->onClick = [this, i] {
      if (controller_ == nullptr) return;
      if (i == 0) {
        // Connect finds an adapter plugged in since the port was chosen (only for a number
        // that has no device now).
        resolver_.resolveAnew(comPortNo_);
        updatePortTips();
      }
      controller_->RigOpFunc_ClickCmd00(static_cast<std::int16_t>(i));
      actNow();
    };
  }
  lblComBusy_ = &window_->addLabel(nullptr);
  linSepa_[0] = &window_->addLine();
  linSepa_[1] = &window_->addLine();
  lboConsole_->onGotFocus = [this] { lboConsole_GotFocus(); };
  lboConsole_->onKeyDown = [this](std::int16_t& key, std::int16_t shift) { lboConsole_KeyDown(key, shift); };
  lbo01_[0]->setTabStop(false);
  lbo01_[1]->setTabStop(false);
}

void frmMain::setController(clsIndOp_RigTarn& controller) {
  controller_ = &controller;
  controller.addView(this);
}

void frmMain::setComPortNo(std::int16_t v) {
  comPortNo_ = v;
  if (controller_ != nullptr) controller_->RigOpFunc_SetComPortNo(v);
}

void frmMain::setComAutoRelease(std::int16_t v) {
  comAutoRelease_ = v;
  seq_.setComHoldReload(mul16(v, 1000));
}

void frmMain::updatePortTips() {
  for (std::int16_t i = 1; i <= 4; ++i) {
    const std::string device = resolver_.deviceFor(i);
    tk::MenuItem& item = *mnuOptSelCom_[static_cast<std::size_t>(i - 1)];
    item.setCaption(portCaption(i));
    item.setTip(device.empty() ? "No serial port for COM " + std::to_string(i) : device);
  }
}

std::string frmMain::portCaption(std::int16_t comNumber) const {
  return "COM &" + std::to_string(comNumber) + " \u2014 " + resolver_.caption(comNumber);
}

bool frmMain::offerAdapter(const LinkFailure& f) {
  // Only a number that opens nothing: a device that is there but refused keeps its box
  // (its next step says how to get at it).
  using Kind = PortFailure::Kind;
  if (f.openFailure != Kind::NoDevice && f.openFailure != Kind::NotASerialPort) return false;
  // Nothing is open: the adapters present are looked for afresh.
  resolver_.refresh();
  updatePortTips();
  const std::vector<SerialAdapter> found = resolver_.adapters();
  if (found.empty()) return false;
  const std::string n = std::to_string(comPortNo_);
  std::vector<std::string> choices;
  for (const SerialAdapter& a : found) choices.push_back(adapterChoice(a));
  const int pick =
      toolkit_.askChoice(f.message + "\r\nThese serial ports are present: use one as COM " + n + "?",
                         kAppTitle, f.details, choices);
  if (pick < 0 || static_cast<std::size_t>(pick) >= found.size()) return true;
  const std::string file = com_.profMain().FullPath();
  if (!iniWriteString("PORTS", "COM" + n, found[static_cast<std::size_t>(pick)].device, file)) {
    MsgBoxApp(toolkit_, "Cannot write the options file.", "Options file: " + file);
    return true;
  }
  resolver_.refresh();
  updatePortTips();
  // Connect once the box's handler is over, as the Connect button would.
  toolkit_.post([this] {
    if (controller_ == nullptr || unloaded_) return;
    controller_->RigOpFunc_ClickCmd00(0);
    actNow();
  });
  return true;
}

void frmMain::Form_Initialize() {
  setComPortNo(kDefaultPort);
  setComAutoRelease(kDefaultAutoRelease);
  updatePortTips();
}

bool frmMain::Form_Load(bool readConstFile, const std::string& constFile, const std::string& copyFolder) {
  if (readConstFile && !controller_->RigTarnProp_ReadParametersFromExtFile(constFile)) {
    std::error_code ec;
    const std::filesystem::path where = std::filesystem::absolute(pathFromUtf8(constFile), ec);
    std::string details = "Looked for: " + (ec ? constFile : pathToUtf8(where.lexically_normal()));
    details += copyFolder.empty()
                   ? "\r\nNext step: start the program in the folder that holds its Const.ini."
                   : "\r\nNext step: start the program from its menu entry, or in " + copyFolder +
                         ", where the package keeps its Const.ini (cd " + copyFolder + " && tarnset-adj).";
    MsgBoxApp(toolkit_, "Cannot read 'Const.ini'.", details);
    // Close the serial host as at exit, but leave the options file as it was.
    com_.setComOpen(false);
    com_.Form_Unload();
    return false;
  }
  window_->setCaption(kAppTitle);
  lblTitle_->setCaption(kAppTitle + "\r\nAdjust Utility for KV-Tarn\r\n" + kOwnerNotice);
  RigOpFunc_FormResource();
  RigOpFunc_FormLayout();
  Form_Resize();
  return true;
}

void frmMain::Form_Resize() {
  const std::int32_t w = window_->scaleWidth();
  const std::int32_t p = toolkit_.twipsPerPixelY();
  linSepa_[0]->setPoints(0, 0, w, 0);
  linSepa_[1]->setPoints(0, p, w, p);
  lblComBusy_->setCaption("");
  lblComBusy_->move(120, 120, lblComBusy_->width(), lblComBusy_->height());
  if (controller_ != nullptr) RigOpFunc_FormLayout();
}

void frmMain::Form_KeyDown(std::int16_t& keyCode, std::int16_t /*shift*/) {
  if (keyCode == tk::Key::F5 && controller_ != nullptr) {
    controller_->RigOpFunc_ClickCmd00(1);
    actNow();
  }
  if (keyCode == tk::Key::F9 && controller_ != nullptr) {
    // Tunes the selected item to its target; an item without one only beeps.
    keyCode = 0;
    if (!controller_->RigOpFunc_TuneRow(lboConsole_->listIndex())) toolkit_.beep();
    actNow();
  }
}

void frmMain::actNow() {
  // A controller held by a front end stays where it was put.
  if (controller_ != nullptr && !controller_->held()) com_.tickSoon();
}

void frmMain::lboConsole_GotFocus() {
  if (lboConsole_->listIndex() < 0 && lboConsole_->listCount() > 0) lboConsole_->setListIndex(0);
}

void frmMain::lboConsole_KeyDown(std::int16_t& keyCode, std::int16_t shift) {
  const std::int16_t step = (shift & tk::kShiftBit) != 0 ? 5 : 1;
  std::int16_t delta = 0;
  switch (keyCode) {
    case tk::Key::Left:
      keyCode = 0;
      delta = static_cast<std::int16_t>(-step);
      break;
    case tk::Key::Right:
      keyCode = 0;
      delta = step;
      break;
    case tk::Key::Enter:
    case tk::Key::Separator:
      keyCode = 0;
      console_.EnterPushed(lboConsole_->listIndex());
      actNow();
      break;
    default:
      break;
  }
  if (delta != 0) {
    // A setting a running procedure owns (a filter under a sweep) is not the key's.
    if (controller_ != nullptr && controller_->RigOpFunc_RowOwnedByProcedure(lboConsole_->listIndex())) {
      toolkit_.beep();
      return;
    }
    console_.UpDown(lboConsole_->listIndex(), delta);
    actNow();
  }
}

void frmMain::setInstruments(InstrumentBench* bench) {
  bench_ = bench;
  benchWatches_.clear();
}

void frmMain::setInstrumentsDialog(frmInstruments* dialog) {
  instrumentsDialog_ = dialog;
  if (mnuOptionInstruments_ != nullptr) mnuOptionInstruments_->setEnabled(dialog != nullptr);
}

void frmMain::applyInstruments(const InstrumentsSetup& setup) {
  if (bench_ == nullptr) return;
  // The watches go before the links they watch are closed.
  benchWatches_.clear();
  bench_->configure(setup);
  if (controller_ != nullptr) controller_->RigOpFunc_SetInstruments(bench_, controller_->RigOpFunc_Limits());
  lblMeasure_->setCaption("");
  RigOpFunc_FormLayout();
  actNow();
}

void frmMain::watchInstruments() {
  if (bench_ == nullptr) return;
  const std::vector<Waitable> now = bench_->waitables();
  for (auto it = benchWatches_.begin(); it != benchWatches_.end();) {
    it = std::find(now.begin(), now.end(), it->first) == now.end() ? benchWatches_.erase(it) : std::next(it);
  }
  for (Waitable w : now) {
    if (w == kNoWaitable || benchWatches_.count(w) != 0) continue;
    // An instrument's answer runs a tick at once, as the radio's bytes do.
    benchWatches_[w] = toolkit_.watch(w, [this] { com_.tickSoon(); });
  }
}

void frmMain::task() {
  if (bench_ != nullptr) bench_->task();
  if (controller_ != nullptr) controller_->RigOpFunc_SelectRow(lboConsole_->listIndex());
  seq_.task();
  if (controller_ != nullptr) controller_->task();
  if (seq_.OpRunning()) seq_.task();
  for (std::int16_t i = 1; i <= 4; ++i)
    mnuOptSelCom_[static_cast<std::size_t>(i - 1)]->setChecked(comPortNo_ == i);
  for (std::int16_t i = 0; i <= 5; ++i) {
    mnuOptionSelAutoRelease_[static_cast<std::size_t>(i)]->setChecked(comAutoRelease_ == i);
  }
  showPortState();
  showServiceState();
  watchInstruments();
}

void frmMain::showServiceState() {
  const bool desk = desk_ != nullptr;
  mnuFileSaveImage_->setEnabled(desk && desk_->canSaveImage());
  mnuFileReport_->setEnabled(desk && desk_->canReport());
  mnuFileRestore_->setEnabled(desk && desk_->canRestore());
  mnuFileAlign_->setEnabled(desk && desk_->canAlign());
  const std::string tip = desk ? desk_->asFoundTip() : std::string();
  if (tip != portTip_) {
    portTip_ = tip;
    lblComBusy_->setTip(tip);
  }
}

void frmMain::showPortState() {
  const bool open = com_.comOpen();
  lblComBusy_->setCaption("COM" + decimalWithSign(comPortNo_) + (open ? ": OPEN" : ": CLOSE"));
  lblComBusy_->setForeColor(open ? tk::SysColor::ButtonText : tk::SysColor::GrayText);
}

void frmMain::showLinkError() {
  if (controller_ != nullptr) controller_->MsgBoxCloneErr(seq_);
}

void frmMain::linkFailed(const LinkFailure& f) {
  // The box holds the ticks: the window behind it shows the reset state now.
  showPortState();
  if (offerAdapter(f)) return;
  MsgBoxApp(toolkit_, f.message, f.details);
}

void frmMain::saveData(clsCmcProfileIO& objProf) {
  objProf.setSection("OPTION");
  objProf.saveData("ComPort", ProfileValue{comPortNo_});
  objProf.saveData("ComAutoRelease", ProfileValue{comAutoRelease_});
}

void frmMain::loadData(clsCmcProfileIO& objProf) {
  objProf.setSection("OPTION");
  // A stored value that is not a number or does not fit 16 bits leaves the option as it
  // is; a port the serial host cannot use (outside 1..10) is refused too, so that the
  // window never names a port other than the one it opens; release times whose
  // milliseconds would not fit are switched off.
  if (const auto port = storedValue(objProf, "ComPort", kDefaultPort); port && *port >= 1 && *port <= 10) {
    setComPortNo(*port);
  }
  if (const auto release = storedValue(objProf, "ComAutoRelease", kDefaultAutoRelease)) {
    setComAutoRelease(*release >= -32 && *release <= 32 ? *release : std::int16_t{0});
  }
}

// The start module's option saving: the options profile of the serial host, written
// through its saveData (which comes back to saveData above).
void frmMain::SaveOptions() {
  com_.saveData(com_.profMain());
}

void frmMain::CloseAll() {
  com_.AllOver();
  com_.Form_Unload();
}

void frmMain::Form_QueryUnload() {
  CloseAll();
}

void frmMain::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  toolkit_.quit(0);
}

}  // namespace tarnset
