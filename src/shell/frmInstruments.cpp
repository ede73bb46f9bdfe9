#include "shell/frmInstruments.h"

#include <algorithm>
#include <cmath>

#include "instruments/InstrumentBench.h"
#include "instruments/ScpiText.h"
#include "instruments/TransportFactory.h"
#include "instruments/VisaAddress.h"
#include "toolkit/MsgBoxApp.h"
#include "toolkit/Toolkit.h"

namespace tarnset {
namespace {

// The roles' check boxes, in the order of kAllRoles.
constexpr std::array<const char*, 4> kRoleCaptions = {"Signal generator", "Frequency counter", "Power meter",
                                                      "Deviation meter"};

// Geometry in twips: labels in the left column, fields in the right one, a row every
// kRowStep.
constexpr std::int32_t kMargin = 120;
constexpr std::int32_t kRowStep = 450;
constexpr std::int32_t kRowHeight = 360;
constexpr std::int32_t kLabelX = 240;
constexpr std::int32_t kFieldX = 2280;
constexpr std::int32_t kFieldWidth = 6120;
constexpr std::int32_t kShortField = 1320;
constexpr std::int32_t kSecondLabelX = 4080;
constexpr std::int32_t kSecondFieldX = 6000;
constexpr std::int32_t kButtonWidth = 1200;
constexpr std::int32_t kButtonHeight = 420;
constexpr std::int32_t kClientWidth = kFieldX + kFieldWidth + 2 * kMargin + 120;

// A whole number in [lo, hi] from a field, or nullopt.
std::optional<std::int32_t> wholeNumber(const std::string& text, std::int32_t lo, std::int32_t hi) {
  const ScpiNumber n = parseScpiNumber(text);
  if (n.kind != ScpiNumber::Kind::Number || !n.unit.empty() || n.value != std::floor(n.value) || n.value < lo ||
      n.value > hi)
    return std::nullopt;
  return static_cast<std::int32_t>(n.value);
}

std::optional<double> decimalNumber(const std::string& text, double lo, double hi) {
  const ScpiNumber n = parseScpiNumber(text);
  if (n.kind != ScpiNumber::Kind::Number || !n.unit.empty() || n.value < lo || n.value > hi) return std::nullopt;
  return n.value;
}

bool sameName(const std::string& a, const std::string& b) {
  return asciiLower(trimBlanks(a)) == asciiLower(trimBlanks(b));
}

}  // namespace

frmInstruments::frmInstruments(tk::Toolkit& toolkit, const TickSource& clock, TransportFactory& links,
                               InstrumentBench& bench, std::string file, Host host)
    : toolkit_(toolkit), clock_(clock), links_(links), bench_(bench), file_(std::move(file)), host_(std::move(host)) {
  build();
  layOut();
}

frmInstruments::~frmInstruments() {
  stopTest();
}

void frmInstruments::build() {
  dialog_ = toolkit_.createDialog();
  tk::DialogWindow& d = *dialog_;
  d.setCaption("Instruments");
  d.onClose = [this] { stopTest(); };
  const auto label = [&](tk::Frame* parent, const char* text) {
    tk::Label& l = d.addLabel(parent);
    l.setCaption(text);
    labels_.push_back(&l);
    return &l;
  };

  label(nullptr, "Instrument");
  cboInstrument_ = &d.addDropDown(nullptr);
  cboInstrument_->onChange = [this] { pick(); };
  cmdAdd_ = &d.addButton(nullptr);
  cmdAdd_->setCaption("&Add");
  cmdAdd_->onClick = [this] { add(); };
  cmdRemove_ = &d.addButton(nullptr);
  cmdRemove_->setCaption("&Remove");
  cmdRemove_->onClick = [this] { remove(); };

  frame_ = &d.addFrame(nullptr);
  label(frame_, "Name");
  txtName_ = &d.addTextField(frame_);
  label(frame_, "Address");
  txtAddress_ = &d.addTextField(frame_);
  label(frame_, "Profile");
  cboProfile_ = &d.addDropDown(frame_);
  label(frame_, "Roles");
  for (std::size_t i = 0; i < chkRole_.size(); ++i) {
    chkRole_[i] = &d.addCheckBox(frame_);
    chkRole_[i]->setCaption(kRoleCaptions[i]);
    chkRole_[i]->onClick = [this] { takeField(); };
  }
  label(frame_, "Settle time (ms)");
  txtSettle_ = &d.addTextField(frame_);
  label(frame_, "Time-out (ms)");
  txtTimeout_ = &d.addTextField(frame_);
  label(frame_, "Cable loss (dB)");
  txtCableLoss_ = &d.addTextField(frame_);
  label(frame_, "Baud (serial)");
  txtBaud_ = &d.addTextField(frame_);
  label(frame_, "Calibration due");
  txtCalibration_ = &d.addTextField(frame_);
  for (tk::TextField* f : {txtName_, txtAddress_, txtSettle_, txtTimeout_, txtCableLoss_, txtBaud_, txtCalibration_})
    f->onChange = [this] { takeField(); };
  cboProfile_->onChange = [this] { takeField(); };

  cmdTest_ = &d.addButton(nullptr);
  cmdTest_->setCaption("&Test");
  cmdTest_->onClick = [this] { test(); };
  lblTest_ = &d.addLabel(nullptr);
  cmdOk_ = &d.addButton(nullptr);
  cmdOk_->setCaption("OK");
  cmdOk_->setDefault(true);
  cmdOk_->onClick = [this] { ok(); };
  cmdCancel_ = &d.addButton(nullptr);
  cmdCancel_->setCaption("Cancel");
  cmdCancel_->setCancel(true);
  cmdCancel_->onClick = [this] { cancel(); };

  testTick_ = toolkit_.createTimer();
  testTick_->setInterval(20);
  testTick_->onTick = [this] {
    if (testBench_ != nullptr) testBench_->task();
  };
}

void frmInstruments::layOut() {
  // The labels in the order they were made: Instrument, then the frame's rows.
  std::size_t l = 0;
  const auto row = [&](std::int32_t y, tk::Control& field, std::int32_t x, std::int32_t width,
                       std::int32_t labelX) {
    labels_.at(l++)->move(labelX, y + 60, 0, 0);
    field.move(x, y, width, kRowHeight);
  };
  std::int32_t y = kMargin;
  row(y, *cboInstrument_, kFieldX, 3480, kLabelX);
  cmdAdd_->move(kFieldX + 3480 + kMargin, y - 30, kButtonWidth, kButtonHeight);
  cmdRemove_->move(kFieldX + 3480 + 2 * kMargin + kButtonWidth, y - 30, kButtonWidth, kButtonHeight);

  // The frame's rows, relative to the frame.
  y = 240;
  row(y, *txtName_, kFieldX - kMargin, kFieldWidth, kLabelX - kMargin);
  y += kRowStep;
  row(y, *txtAddress_, kFieldX - kMargin, kFieldWidth, kLabelX - kMargin);
  y += kRowStep;
  row(y, *cboProfile_, kFieldX - kMargin, 3480, kLabelX - kMargin);
  y += kRowStep;
  labels_.at(l++)->move(kLabelX - kMargin, y + 60, 0, 0);
  for (std::size_t i = 0; i < chkRole_.size(); ++i) {
    const std::int32_t x = kFieldX - kMargin + static_cast<std::int32_t>(i % 2) * (kFieldWidth / 2);
    chkRole_[i]->move(x, y + static_cast<std::int32_t>(i / 2) * (kRowHeight + 30), kFieldWidth / 2 - kMargin,
                      kRowHeight);
  }
  y += kRowStep + kRowHeight + 30;
  row(y, *txtSettle_, kFieldX - kMargin, kShortField, kLabelX - kMargin);
  row(y, *txtTimeout_, kSecondFieldX - kMargin, kShortField, kSecondLabelX - kMargin);
  y += kRowStep;
  row(y, *txtCableLoss_, kFieldX - kMargin, kShortField, kLabelX - kMargin);
  row(y, *txtBaud_, kSecondFieldX - kMargin, kShortField, kSecondLabelX - kMargin);
  y += kRowStep;
  row(y, *txtCalibration_, kFieldX - kMargin, kShortField, kLabelX - kMargin);
  y += kRowStep + 60;
  const std::int32_t frameTop = kMargin + kButtonHeight + kMargin;
  frame_->move(kMargin, frameTop, kClientWidth - 2 * kMargin, y);

  y = frameTop + y + kMargin;
  cmdTest_->move(kMargin, y, kButtonWidth, kButtonHeight);
  lblTest_->move(kMargin + kButtonWidth + kMargin, y + 60, 0, 0);
  y += kButtonHeight + 420 + kMargin;
  cmdCancel_->move(kClientWidth - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight);
  cmdOk_->move(kClientWidth - 2 * (kMargin + kButtonWidth), y, kButtonWidth, kButtonHeight);
  dialog_->setClientSize(kClientWidth, y + kButtonHeight + kMargin);
}

void frmInstruments::show() {
  if (isShown()) {
    dialog_->show();
    return;
  }
  loaded_ = loadInstruments(file_);
  drafts_.clear();
  for (const InstrumentEntry& e : loaded_.instruments) drafts_.push_back(draftOf(e));
  current_ = drafts_.empty() ? -1 : 0;
  cboProfile_->clear();
  for (const InstrumentProfile& p : builtInProfiles()) cboProfile_->addItem(p.name);
  for (const InstrumentProfile& p : loaded_.profiles) cboProfile_->addItem(p.name);
  lblTest_->setCaption(loaded_.problems.empty()
                           ? std::string()
                           : std::to_string(loaded_.problems.size()) + " entr" +
                                 (loaded_.problems.size() == 1 ? "y" : "ies") + " of " + kInstrumentsFileName +
                                 " cannot be used: " + loaded_.problems.front());
  lblTest_->setForeColor(tk::SysColor::ButtonText);
  listInstruments();
  showCurrent();
  dialog_->show();
  if (current_ < 0) {
    cmdAdd_->setFocus();
  } else {
    txtAddress_->setFocus();
  }
}

bool frmInstruments::isShown() const {
  return dialog_->isShown();
}

frmInstruments::Draft frmInstruments::draftOf(const InstrumentEntry& e) {
  Draft d;
  d.name = e.name;
  d.address = e.address;
  d.profile = e.profile;
  for (std::size_t i = 0; i < kAllRoles.size(); ++i) d.roles[i] = e.serves(kAllRoles[i]);
  d.settle = std::to_string(e.settleMs);
  d.timeout = std::to_string(e.timeoutMs);
  d.cableLoss = formatScpiNumber(e.cableLossDb, 2);
  d.baud = std::to_string(e.baud);
  d.calibration = e.calibrationDue;
  return d;
}

std::optional<InstrumentEntry> frmInstruments::entryOf(const Draft& d, std::string& why) const {
  InstrumentEntry e;
  e.name = std::string(trimBlanks(d.name));
  const std::string named = e.name.empty() ? std::string("The instrument") : "[" + e.name + "]";
  if (e.name.empty() || e.name.find_first_of("[]=;\r\n") != std::string::npos ||
      asciiLower(e.name).rfind("profile ", 0) == 0) {
    why = "Name: give the instrument a name without [ ] = ; that does not begin with 'Profile '.";
    return std::nullopt;
  }
  e.address = std::string(trimBlanks(d.address));
  std::string bad;
  if (!parseVisaAddress(e.address, bad)) {
    why = named + " Address: " + bad + ".";
    return std::nullopt;
  }
  e.profile = d.profile;
  if (loaded_.profile(e.profile) == nullptr) {
    why = named + " Profile: choose one of the list.";
    return std::nullopt;
  }
  for (std::size_t i = 0; i < kAllRoles.size(); ++i)
    if (d.roles[i]) e.roles.push_back(kAllRoles[i]);
  const auto settle = wholeNumber(d.settle, 0, 60000);
  const auto timeout = wholeNumber(d.timeout, 100, 60000);
  const auto loss = decimalNumber(d.cableLoss, 0.0, 60.0);
  const auto baud = wholeNumber(d.baud, 300, 921600);
  if (!settle) why = named + " Settle time: a whole number of milliseconds, 0 to 60000.";
  if (!timeout) why = named + " Time-out: a whole number of milliseconds, 100 to 60000.";
  if (!loss) why = named + " Cable loss: a number of dB, 0 to 60.";
  if (!baud) why = named + " Baud: a whole number, 300 to 921600.";
  if (!settle || !timeout || !loss || !baud) return std::nullopt;
  e.settleMs = *settle;
  e.timeoutMs = *timeout;
  e.cableLossDb = *loss;
  e.baud = *baud;
  e.calibrationDue = std::string(trimBlanks(d.calibration));
  if (!e.calibrationDue.empty() && !isCalendarDate(e.calibrationDue)) {
    why = named + " Calibration due: a date YYYY-MM-DD, or nothing.";
    return std::nullopt;
  }
  return e;
}

void frmInstruments::listInstruments() {
  filling_ = true;
  cboInstrument_->clear();
  for (const Draft& d : drafts_) cboInstrument_->addItem(d.name.empty() ? std::string("(no name)") : d.name);
  cboInstrument_->setListIndex(static_cast<std::int16_t>(current_));
  filling_ = false;
  cmdRemove_->setEnabled(current_ >= 0);
  cmdTest_->setEnabled(current_ >= 0 && testBench_ == nullptr);
}

void frmInstruments::showCurrent() {
  frame_->setVisible(current_ >= 0);
  if (current_ < 0) return;
  const Draft& d = drafts_[static_cast<std::size_t>(current_)];
  filling_ = true;
  txtName_->setText(d.name);
  txtAddress_->setText(d.address);
  std::int16_t profile = -1;
  for (std::int16_t i = 0; i < cboProfile_->listCount(); ++i)
    if (sameName(cboProfile_->itemText(i), d.profile)) profile = i;
  cboProfile_->setListIndex(profile);
  for (std::size_t i = 0; i < chkRole_.size(); ++i) chkRole_[i]->setChecked(d.roles[i]);
  txtSettle_->setText(d.settle);
  txtTimeout_->setText(d.timeout);
  txtCableLoss_->setText(d.cableLoss);
  txtBaud_->setText(d.baud);
  txtCalibration_->setText(d.calibration);
  filling_ = false;
}

void frmInstruments::takeField() {
  if (filling_ || current_ < 0) return;
  Draft& d = drafts_[static_cast<std::size_t>(current_)];
  const bool renamed = d.name != txtName_->text();
  d.name = txtName_->text();
  d.address = txtAddress_->text();
  const std::int16_t profile = cboProfile_->listIndex();
  d.profile = profile >= 0 ? cboProfile_->itemText(profile) : std::string();
  for (std::size_t i = 0; i < chkRole_.size(); ++i) d.roles[i] = chkRole_[i]->checked();
  d.settle = txtSettle_->text();
  d.timeout = txtTimeout_->text();
  d.cableLoss = txtCableLoss_->text();
  d.baud = txtBaud_->text();
  d.calibration = txtCalibration_->text();
  if (renamed) listInstruments();
}

void frmInstruments::pick() {
  if (filling_) return;
  current_ = cboInstrument_->listIndex();
  showCurrent();
}

void frmInstruments::add() {
  // A new instrument: the generic profile and its defaults, a name no other has.
  InstrumentEntry e;
  for (int n = static_cast<int>(drafts_.size()) + 1;; ++n) {
    e.name = "Instrument " + std::to_string(n);
    if (std::none_of(drafts_.begin(), drafts_.end(), [&](const Draft& d) { return sameName(d.name, e.name); }))
      break;
  }
  drafts_.push_back(draftOf(e));
  current_ = static_cast<int>(drafts_.size()) - 1;
  listInstruments();
  showCurrent();
  txtAddress_->setFocus();
}

void frmInstruments::remove() {
  if (current_ < 0) return;
  drafts_.erase(drafts_.begin() + current_);
  current_ = std::min(current_, static_cast<int>(drafts_.size()) - 1);
  listInstruments();
  showCurrent();
}

void frmInstruments::test() {
  if (current_ < 0 || testBench_ != nullptr) return;
  std::string why;
  const auto entry = entryOf(drafts_[static_cast<std::size_t>(current_)], why);
  if (!entry) {
    lblTest_->setCaption(why);
    lblTest_->setForeColor(tk::SysColor::ButtonText);
    return;
  }
  const std::uint32_t run = ++testRun_;
  lblTest_->setCaption("Asking " + entry->address + " for its identity...");
  lblTest_->setForeColor(tk::SysColor::GrayText);
  cmdTest_->setEnabled(false);
  auto done = [this, run](const BenchResult& r) { testEnded(run, r); };
  // An instrument the bench holds open at this address is asked through the bench: many
  // take one connection at a time, and a serial port opens once.
  for (const InstrumentEntry& held : bench_.setup().instruments) {
    if (held.address == entry->address && held.baud == entry->baud) {
      testBench_ = nullptr;
      bench_.identify(held.name, std::move(done));
      return;
    }
  }
  InstrumentsSetup one;
  one.instruments.push_back(*entry);
  one.profiles = loaded_.profiles;
  testBench_ = std::make_unique<InstrumentBench>(clock_, links_);
  testBench_->configure(one);
  testBench_->identify(entry->name, std::move(done));
  testTick_->setEnabled(true);
}

void frmInstruments::testEnded(std::uint32_t run, const BenchResult& r) {
  if (run != testRun_) return;  // a test of an earlier showing, or cancelled
  // The private bench is let go once its callback has returned.
  toolkit_.post([this, run] {
    if (run == testRun_) stopTest();
    listInstruments();
  });
  if (r.ok && r.identity) {
    const ScpiIdentity& id = *r.identity;
    lblTest_->setCaption("*IDN?: " + id.maker + ", " + id.model + ", serial " + id.serial + ", firmware " +
                         id.firmware);
  } else {
    lblTest_->setCaption("No identity: " + r.error + (r.details.empty() ? "" : "\r\n" + r.details));
  }
  lblTest_->setForeColor(tk::SysColor::ButtonText);
  // An answer longer than the dialog is wide is read whole from the tip.
  lblTest_->setTip(lblTest_->caption());
}

void frmInstruments::stopTest() {
  testTick_->setEnabled(false);
  if (testBench_ != nullptr) testBench_->cancelAll();
  testBench_.reset();
}

void frmInstruments::ok() {
  InstrumentsSetup setup;
  setup.profiles = loaded_.profiles;
  std::string why;
  for (const Draft& d : drafts_) {
    const auto e = entryOf(d, why);
    if (!e) {
      MsgBoxApp(toolkit_, "The instruments were not saved.", why);
      return;
    }
    for (const InstrumentEntry& other : setup.instruments) {
      if (sameName(other.name, e->name)) {
        MsgBoxApp(toolkit_, "The instruments were not saved.", "Two instruments are named " + e->name + ".");
        return;
      }
      for (const Role r : e->roles) {
        if (other.serves(r)) {
          MsgBoxApp(toolkit_, "The instruments were not saved.",
                    std::string("The ") + roleTitle(r) + " is both [" + other.name + "] and [" + e->name + "].");
          return;
        }
      }
    }
    setup.instruments.push_back(*e);
  }
  if (host_.busy) {
    const std::string busy = host_.busy();
    if (!busy.empty()) {
      MsgBoxApp(toolkit_, "The instruments were not changed: " + busy + ".",
                "Press OK again when it has ended.");
      return;
    }
  }
  // An instrument left out while loading has its section removed when the file is
  // written (a profile's section stays): the technician decides.
  std::string leftOut;
  for (const std::string& p : loaded_.problems)
    if (asciiLower(p).rfind("[profile ", 0) != 0) leftOut += (leftOut.empty() ? "" : "\r\n") + p;
  if (!leftOut.empty() &&
      !toolkit_.askOkCancel(kInstrumentsFileName + " holds instruments that cannot be used. Saving removes them.",
                            kAppTitle, leftOut))
    return;
  if (!saveInstruments(setup, file_, why)) {
    MsgBoxApp(toolkit_, "The instruments were not saved.", "Reason: " + why);
    return;
  }
  stopTest();
  ++testRun_;
  dialog_->close();
  if (host_.apply) host_.apply(setup);
}

void frmInstruments::cancel() {
  stopTest();
  ++testRun_;
  dialog_->close();
}

}  // namespace tarnset
