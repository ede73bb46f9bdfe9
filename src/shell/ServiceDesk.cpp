#include "shell/ServiceDesk.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "instruments/InstrumentBench.h"
#include "model/ServiceReport.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "radio/BackupStore.h"
#include "radio/Sha256.h"
#include "radio/clsCmcRadio.h"
#include "toolkit/MsgBoxApp.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

namespace {

namespace fs = std::filesystem;

std::string baseName(const std::string& path) {
  return pathToUtf8(pathFromUtf8(path).filename());
}

bool endsWithPdf(const std::string& path) {
  std::string ext = pathToUtf8(pathFromUtf8(path).extension());
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".pdf";
}

}  // namespace

ServiceDesk::ServiceDesk(tk::Toolkit& toolkit, clsIndOp_RigTarn& controller, clsCmcRadio& radio,
                         ServiceDeskConfig config)
    : toolkit_(toolkit), controller_(controller), radio_(radio), config_(std::move(config)) {
  if (!config_.now) config_.now = [] { return std::time(nullptr); };
  modelReset();
  controller_.addView(this);
}

ServiceDesk::~ServiceDesk() {
  if (measuring_) controller_.RigOpFunc_DropMeasurePass();
  controller_.removeView(this);
}

void ServiceDesk::modelReset() {
  monitorLines_.assign(static_cast<std::size_t>(kMonitorLines[0] + kMonitorLines[1]), kMonitorNotRead);
}

void ServiceDesk::monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t /*raw*/,
                                     const std::string& text) {
  const std::size_t first =
      bank == MonitorBank::AnalogToDigital ? 0 : static_cast<std::size_t>(kMonitorLines[0]);
  monitorLines_.at(first + static_cast<std::size_t>(line)) = text;
}

std::string ServiceDesk::timeText(std::time_t t, const char* pattern) const {
  return reportTime(t, pattern);
}

Bytes ServiceDesk::presentImage() const {
  const clsCmcEeprom& img = radio_.eepImage();
  return img.ReadBlock(0, img.eeSize());
}

void ServiceDesk::valueSent(std::int32_t address, std::uint8_t value) {
  // A value the last read holds already (every item goes out once after a read, as read)
  // leaves the radio as the read showed it.
  if (!lastRead_ || address < 0 || static_cast<std::size_t>(address) >= lastRead_->size() ||
      (*lastRead_)[static_cast<std::size_t>(address)] != value) {
    sentSinceRead_ = true;
  }
}

void ServiceDesk::readStarted() {
  expected_.reset();
  if (sentSinceRead_) expected_ = presentImage();
}

std::string ServiceDesk::backUp(const Bytes& image) {
  if (config_.backupFolder.empty()) return {};
  BackupStore store(config_.backupFolder);
  const BackupResult r = store.save(image, radio_.radioNameM(), radio_.radionameS(), lastReadAt_);
  if (r.outcome != BackupResult::Outcome::Failed) return r.path;
  // One that cannot be written is said, and the alignment goes on.
  MsgBoxApp(toolkit_, "The backup of this read could not be written.",
            "Folder: " + config_.backupFolder + "\r\nReason: " + r.why +
                "\r\nThe alignment can go on; File > Save Image As... saves the image where you choose.");
  return {};
}

void ServiceDesk::readCompleted() {
  const Bytes image = presentImage();
  lastRead_ = image;
  lastReadAt_ = config_.now();
  const std::string backup = backUp(image);

  // A read made after values went out is held against them, item by item, when it is of
  // the same radio: what differs did not reach the radio as sent.
  readBackFailures_.clear();
  if (expected_ && sameRadio(*expected_, image)) {
    for (const RestoreValue& v : restoreList(image, *expected_)) {
      readBackFailures_.push_back(v.what + ": sent " + std::to_string(v.now) + ", read back " +
                                  std::to_string(v.asFound));
    }
  }
  expected_.reset();
  sentSinceRead_ = false;

  const AfterRead then = afterRead_;
  afterRead_ = AfterRead::Nothing;
  if (then == AfterRead::Restore || then == AfterRead::RestoreResult) {
    // A restore proves the radio first: only the as-found radio gets anything back. The
    // question of another radio is not asked here; the answer is no restore.
    readIsAsFound_ = asFound_ && sameRadio(*asFound_, image);
    if (!readIsAsFound_) {
      restored_.clear();
      MsgBoxApp(toolkit_, "The radio on the cable is not the as-found radio.\r\nNothing was sent to it.",
                "As found: " + asFoundSource() +
                    "\r\nThe radio just read differs from it in more than the alignment values.");
      return;
    }
    toolkit_.post([this, then] { then == AfterRead::Restore ? offerRestore() : showRestoreResult(); });
    return;
  }

  // The first read is the as-found image; a read that differs from it outside the values
  // this program writes may be another radio: only the technician can say.
  readIsAsFound_ = true;
  if (asFound_ && !sameRadio(*asFound_, image)) {
    readIsAsFound_ = toolkit_.askOkCancel(
        "This radio differs from the as-found radio.\r\nIs it another radio?", kAppTitle,
        "The radio just read differs from the as-found image (" +
            (asFoundFile_.empty() ? std::string("read at ") + timeText(asFoundAt_, "%H:%M")
                                  : baseName(asFoundFile_)) +
            ") in more than the alignment values.\r\nOK: it is another radio; what was just read becomes its "
            "as-found image.\r\nCancel: keep the as-found image; the service report compares with it, but "
            "its values cannot be restored to this radio.");
    if (readIsAsFound_) asFound_.reset();
  }
  if (!asFound_) {
    asFound_ = image;
    asFoundFile_ = backup;
    asFoundAt_ = lastReadAt_;
    calAtAsFound_ = controller_.RigTarnProp_CalPointsSent();
    asFoundMeasured_.clear();
    asLeftMeasured_.clear();
    // With instruments on the bench, the as-found radio is measured too.
    if (config_.measureAsFound && measures())
      toolkit_.post([this] { measureItems("as-found", asFoundMeasured_, {}); });
  }
  if (then == AfterRead::Report) toolkit_.post([this] { writeReport(); });
  if (then == AfterRead::AlignResult) {
    toolkit_.post([this] {
      if (toolkit_.askOkCancel("Make the service report with its certificate now?", kAppTitle,
                               readBackFailures_.empty()
                                   ? "The radio was read back: it holds every value the alignment sent."
                                   : "The radio was read back: " + std::to_string(readBackFailures_.size()) +
                                         " value(s) differ from what the alignment sent.")) {
        writeReport();
      }
    });
  }
}

void ServiceDesk::linkFailed(const LinkFailure& /*f*/) {
  afterRead_ = AfterRead::Nothing;
  expected_.reset();
}

void ServiceDesk::restoreEnded(bool completed) {
  if (!restoring_) return;
  restoring_ = false;
  if (completed) {
    readAgain(AfterRead::RestoreResult);
  } else {
    restored_.clear();
  }
}

void ServiceDesk::readAgain(AfterRead then) {
  afterRead_ = then;
  // Not from inside the notification that asks: the model is in the middle of its step.
  toolkit_.post([this] {
    if (afterRead_ != AfterRead::Nothing) controller_.RigOpFunc_ClickCmd00(0);
  });
}

void ServiceDesk::NewRadio() {
  // The next read is the as-found image of the radio now on the bench.
  asFound_.reset();
  asFoundFile_.clear();
  readIsAsFound_ = false;
}

std::string ServiceDesk::asFoundTip() const {
  if (!asFound_) return "As found: the next read";
  return "As found: " + (asFoundFile_.empty() ? std::string("not backed up") : asFoundFile_) + " (read at " +
         timeText(asFoundAt_, "%H:%M") + ")";
}

std::string ServiceDesk::asFoundSource() const {
  return (asFoundFile_.empty() ? std::string("the first read") : baseName(asFoundFile_)) + ", read at " +
         timeText(asFoundAt_, "%Y-%m-%d %H:%M");
}

bool ServiceDesk::canSaveImage() const {
  return lastRead_.has_value() && !controller_.RigTarnProp_Reading();
}

bool ServiceDesk::canReport() const {
  return asFound_.has_value() && afterRead_ == AfterRead::Nothing && !controller_.RigTarnProp_Reading() &&
         (controller_.RigTarnProp_EditEnabled() || controller_.RigTarnProp_DispPara());
}

bool ServiceDesk::canRestore() const {
  return asFound_.has_value() && readIsAsFound_ && afterRead_ == AfterRead::Nothing && !restoring_ &&
         controller_.RigOpFunc_CanRestore();
}

std::string ServiceDesk::suggestedPath(const std::string& name) const {
  // Beside the backups folder (the service records' own place), else the home folder.
  if (!config_.backupFolder.empty()) {
    fs::path folder = pathFromUtf8(config_.backupFolder);
    if (!folder.has_filename()) folder = folder.parent_path();
    return pathToUtf8(folder.parent_path() / pathFromUtf8(name));
  }
  return name;
}

void ServiceDesk::SaveImageAs() {
  if (!canSaveImage()) return;
  // The image of the last whole read with the values sent since, named by the read's time.
  const std::string name =
      radio_.radioNameM() + "-" + radio_.radionameS() + "-" + timeText(lastReadAt_, "%Y%m%d-%H%M%S") + ".bin";
  const std::string path =
      toolkit_.chooseSaveFile("Save Image As", suggestedPath(name), {{"EEPROM image", {"*.bin"}}});
  if (path.empty()) return;
  const Bytes image = presentImage();
  std::string why;
  if (!writeFileAtomically(path, std::string(image.begin(), image.end()), why)) {
    MsgBoxApp(toolkit_, "The image could not be saved.", "File: " + path + "\r\nReason: " + why);
  }
}

ServiceReportInput ServiceDesk::reportInput() const {
  ServiceReportInput in = tarnset::reportInput(radio_.radioNameM(), radio_.radionameS(), config_.now(),
                                               config_.programVersion, *asFound_, presentImage());
  in.asFoundSource = (asFoundFile_.empty() ? std::string("not backed up") : baseName(asFoundFile_)) +
                     ", read at " + timeText(asFoundAt_, "%Y-%m-%d %H:%M");
  if (!asLeftReadBack()) {
    in.asLeftState =
        "as sent, not read back: press Connect to read the radio again before printing this report";
  } else if (readBackFailures_.empty()) {
    in.asLeftState = "verified by a read at " + timeText(lastReadAt_, "%H:%M");
  } else {
    in.asLeftState = "read back at " + timeText(lastReadAt_, "%H:%M") + ": " +
                     std::to_string(readBackFailures_.size()) +
                     " value(s) differ from what was sent (see the read-back failures)";
    in.readBackFailures = readBackFailures_;
  }
  in.readRange = controller_.memoryMap().RigTarnEep_ReadRange();
  in.calRun = controller_.RigTarnProp_CalPointsSent() > calAtAsFound_;
  in.monitorLines = monitorLines_;
  in.monitorNote = "No monitor readings.";
  // The certificate: every item measured as found or as left, against its limits.
  const auto find = [](const std::vector<ItemMeasurement>& list,
                       const std::string& item) -> const ItemMeasurement* {
    for (const ItemMeasurement& m : list) {
      if (m.item == item) return &m;
    }
    return nullptr;
  };
  std::vector<std::string> items;
  for (const auto* list : {&asFoundMeasured_, &asLeftMeasured_}) {
    for (const ItemMeasurement& m : *list) {
      if (std::find(items.begin(), items.end(), m.item) == items.end()) items.push_back(m.item);
    }
  }
  for (const std::string& item : items) {
    const ItemMeasurement* found = find(asFoundMeasured_, item);
    const ItemMeasurement* left = find(asLeftMeasured_, item);
    const ItemMeasurement& any = found != nullptr ? *found : *left;
    in.measurements.push_back({item, any.quantity, any.limitText(), found ? found->text : "not measured",
                               found ? found->verdictText() : "", left ? left->text : "not measured",
                               left ? left->verdictText() : ""});
  }
  in.measurementsNote =
      controller_.instruments() != nullptr && !controller_.instruments()->setup().instruments.empty()
          ? "No measurements were taken."
          : "No measurements: no instruments are set up (Instruments.ini).";
  if (!in.measurements.empty() && controller_.instruments() != nullptr) {
    const std::string today = timeText(config_.now(), "%Y-%m-%d");
    for (const InstrumentEntry& e : controller_.instruments()->setup().instruments) {
      std::string roles;
      for (Role r : e.roles) roles += (roles.empty() ? "" : ", ") + std::string(roleTitle(r));
      const std::optional<ScpiIdentity> id = controller_.instruments()->identityOf(e.name);
      const std::string identity =
          id ? id->maker + " " + id->model + ", serial " + id->serial + ", firmware " + id->firmware
             : std::string("not identified (no measurement was taken with it)");
      in.instruments.push_back(
          {e.name, roles, identity, e.calibrationDue, !e.calibrationDue.empty() && e.calibrationDue < today});
    }
  }
  std::string coefficients;
  for (std::int16_t i = 0; i <= 20; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g\n", static_cast<double>(controller_.txfCoef(i)));
    coefficients += buf;
  }
  in.coefficientsChecksum = "SHA-256 " + sha256Hex(coefficients).substr(0, 8) + " of the 21 coefficients";
  return in;
}

void ServiceDesk::ServiceReport() {
  if (!canReport()) return;
  if (!asLeftReadBack() &&
      toolkit_.askOkCancel(
          "Values went out to the radio since it was last read.\r\nRead the radio back before "
          "the report?",
          kAppTitle,
          "OK: the radio is read now and held against what was sent; the report follows.\r\n"
          "Cancel: the report says that the values sent were not read back.")) {
    readAgain(AfterRead::Report);
    return;
  }
  writeReport();
}

bool ServiceDesk::measures() const {
  return !controller_.RigOpFunc_MeasurableRows().empty();
}

void ServiceDesk::measureItems(const std::string& which, std::vector<ItemMeasurement>& into,
                               std::function<void()> then) {
  const auto finish = [then] {
    if (then) then();
  };
  if (measuring_ || !controller_.RigOpFunc_CanRestore() ||
      !toolkit_.askOkCancel(
          "Key the radio's transmitter (PTT) for the " + which + " measurements, then press OK.", kAppTitle,
          "Each item with a limit in Limits.ini is sent once more as it stands and measured "
          "with the bench's instruments. Keep the transmitter keyed until the program says "
          "the measurements are taken.\r\nCancel: no " +
              which + " measurements.")) {
    finish();
    return;
  }
  measuring_ = true;
  std::vector<ItemMeasurement>* target = &into;
  const bool started =
      controller_.RigOpFunc_MeasureItems([this, target, which, finish](std::vector<ItemMeasurement> r) {
        *target = std::move(r);
        measuring_ = false;
        // Not from inside the bench's step: the box and what follows come after it.
        toolkit_.post([this, which, finish] {
          MsgBoxApp(toolkit_, "The " + which + " measurements are taken. Release the transmitter.",
                    "They go on the service report's certificate.");
          finish();
        });
      });
  if (!started) {
    measuring_ = false;
    finish();
  }
}

void ServiceDesk::writeReport() {
  if (!asFound_) return;
  if (measures()) {
    measureItems("as-left", asLeftMeasured_, [this] { writeReportNow(); });
    return;
  }
  writeReportNow();
}

void ServiceDesk::writeReportNow() {
  if (!asFound_) return;
  // A PDF where the window system can make one, else a web page, which prints as well.
  const bool pdf = toolkit_.canWritePdf();
  const std::string name =
      "service-report-" + timeText(config_.now(), "%Y%m%d-%H%M") + (pdf ? ".pdf" : ".html");
  std::vector<tk::FileFilter> filters = {{"Web page", {"*.html"}}};
  if (pdf) filters.insert(filters.begin(), {"PDF document", {"*.pdf"}});
  const std::string path = toolkit_.chooseSaveFile("Save Service Report", suggestedPath(name), filters);
  if (path.empty()) return;
  const std::string page = serviceReportHtml(reportInput());
  std::string why;
  const bool written =
      endsWithPdf(path) ? toolkit_.writePdf(page, path, why) : writeFileAtomically(path, page, why);
  if (!written)
    MsgBoxApp(toolkit_, "The service report could not be saved.", "File: " + path + "\r\nReason: " + why);
}

bool ServiceDesk::canAlign() const {
  const InstrumentBench* bench = controller_.instruments();
  return bench != nullptr && !bench->setup().instruments.empty() && asFound_.has_value() &&
         afterRead_ == AfterRead::Nothing && !measuring_ && !aligning_ && !restoring_ &&
         controller_.RigOpFunc_CanRestore() && !controller_.RigOpFunc_Tuning();
}

void ServiceDesk::AlignAll() {
  if (!canAlign()) return;
  aligning_ = true;
  alignSteps_.clear();
  const InstrumentBench& bench = *controller_.instruments();
  const bool transmitter = bench.configured(Role::Counter) || bench.configured(Role::PowerMeter) ||
                           bench.configured(Role::DeviationMeter);
  if (transmitter &&
      toolkit_.askOkCancel(
          "Key the radio's transmitter (PTT) for the transmitter's alignment, then press OK.", kAppTitle,
          "TXF, the power levels and the deviation items are tuned to the targets of Limits.ini "
          "with the bench's instruments. Keep the transmitter keyed until the program says so.\r\n"
          "Cancel: the receiver only.") &&
      controller_.RigOpFunc_AlignAll(AlignScope::Transmit, [this](std::vector<AlignStep> steps) {
        alignSteps_ = std::move(steps);
        toolkit_.post([this] {
          MsgBoxApp(toolkit_, "The transmitter's alignment is over. Release the transmitter.",
                    "The receiver is aligned next, with the signal generator.");
          alignReceiver();
        });
      })) {
    return;
  }
  alignReceiver();
}

void ServiceDesk::alignReceiver() {
  const bool started =
      controller_.RigOpFunc_AlignAll(AlignScope::Receive, [this](std::vector<AlignStep> steps) {
        alignSteps_.insert(alignSteps_.end(), steps.begin(), steps.end());
        toolkit_.post([this] { alignFinished(); });
      });
  if (!started) alignFinished();
}

void ServiceDesk::alignFinished() {
  aligning_ = false;
  std::size_t passed = 0;
  std::string lines;
  for (const AlignStep& s : alignSteps_) {
    passed += s.ok ? 1 : 0;
    lines += s.name + ": " + (s.ok ? "PASS" : "FAIL, " + s.why);
    if (s.last.taken) lines += " (" + s.last.text + ")";
    lines += "\r\n";
  }
  if (alignSteps_.empty()) {
    MsgBoxApp(toolkit_, "Nothing could be aligned with the instruments set up.",
              "Instruments.ini names no instrument for a role an item needs, or Limits.ini no target.");
    return;
  }
  MsgBoxApp(
      toolkit_,
      "Align All: " + std::to_string(passed) + " of " + std::to_string(alignSteps_.size()) + " steps passed.",
      lines + "The radio is read back now.");
  // The alignment ends with the radio read back, then the certificate is offered.
  readAgain(AfterRead::AlignResult);
}

void ServiceDesk::RestoreAsFound() {
  if (!canRestore()) return;
  readAgain(AfterRead::Restore);
}

void ServiceDesk::offerRestore() {
  if (!asFound_ || !controller_.RigOpFunc_CanRestore()) return;
  const std::vector<RestoreValue> values = restoreList(*asFound_, presentImage());
  if (values.empty()) {
    MsgBoxApp(toolkit_, "Nothing to restore: the radio holds its as-found values.",
              "As found: " + asFoundSource());
    return;
  }
  const bool ok = toolkit_.askOkCancel(
      "Send the as-found values back to the radio?", kAppTitle,
      "As found: " + asFoundSource() + "\r\nThe radio was read just now and is the as-found radio.\r\n\r\n" +
          describeRestore(values) +
          "\r\n\r\nCAL points cannot be restored: they are measurements the radio takes. Run CAL again if "
          "needed.");
  if (!ok || !controller_.RigOpFunc_CanRestore()) return;
  std::vector<std::pair<std::int16_t, std::int16_t>> rows;
  std::vector<RestoreSend> sends;
  for (const RestoreValue& v : values) {
    if (v.kind == RestoreValue::Kind::Item) {
      rows.emplace_back(v.row, v.asFound);
    } else {
      sends.push_back({v.e8Code, v.byte, v.address});
    }
  }
  restored_ = values;
  restoring_ = true;
  controller_.RigOpFunc_Restore(rows, sends);
}

void ServiceDesk::showRestoreResult() {
  std::string wrong;
  for (const RestoreValue& v : restored_) {
    const auto held = static_cast<std::uint8_t>(radio_.eepImage().ReadByte(v.address));
    if (held != v.byte)
      wrong +=
          "\r\n" + v.what + ": sent " + std::to_string(v.asFound) + ", read back " + std::to_string(held);
  }
  const std::size_t count = restored_.size();
  restored_.clear();
  if (wrong.empty()) {
    MsgBoxApp(toolkit_, "The as-found values are back in the radio.",
              std::to_string(count) +
                  " value(s) sent, read back and found as sent.\r\nAs found: " + asFoundSource());
  } else {
    MsgBoxApp(toolkit_, "The restore did not take: the radio holds other values than were sent.",
              "Read back:" + wrong + "\r\nAs found: " + asFoundSource());
  }
}

}  // namespace tarnset
