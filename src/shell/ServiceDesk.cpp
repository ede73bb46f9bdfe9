#include "shell/ServiceDesk.h"

#include <cstdio>
#include <filesystem>

#include "model/ServiceReport.h"
#include "platform/AtomicFile.h"
#include "platform/LocalTime.h"
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
                         const TarnFormControls& form, ServiceDeskConfig config)
    : toolkit_(toolkit), controller_(controller), radio_(radio), form_(form), config_(std::move(config)) {
  if (!config_.now) config_.now = [] { return std::time(nullptr); };
}

std::string ServiceDesk::timeText(std::time_t t, const char* pattern) const {
  std::tm local{};
  if (!localTime(t, local)) return {};
  char buf[64];
  return std::strftime(buf, sizeof buf, pattern, &local) > 0 ? std::string(buf) : std::string();
}

Bytes ServiceDesk::presentImage() const {
  const clsCmcEeprom& img = radio_.eepImage();
  return img.ReadBlock(0, img.eeSize());
}

void ServiceDesk::cloneReadCompleted() {
  const Bytes image = presentImage();
  lastRead_ = image;
  lastReadAt_ = config_.now();

  // The backup of every read; one that cannot be written is said, and the alignment goes on.
  std::string backup;
  if (!config_.backupFolder.empty()) {
    BackupStore store(config_.backupFolder);
    const BackupResult r = store.save(image, radio_.radioNameM(), radio_.radionameS(), lastReadAt_);
    if (r.outcome == BackupResult::Outcome::Failed) {
      MsgBoxApp(toolkit_, "The backup of this read could not be written.",
                "Folder: " + config_.backupFolder + "\r\nReason: " + r.why +
                    "\r\nThe alignment can go on; File > Save Image As... saves the image where you choose.");
    } else {
      backup = r.path;
    }
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
            "its "
            "values cannot be restored to this radio.");
    if (readIsAsFound_) asFound_.reset();
  }
  if (!asFound_) {
    asFound_ = image;
    asFoundFile_ = backup;
    asFoundAt_ = lastReadAt_;
    calAtAsFound_ = controller_.RigTarnProp_CalPointsSent();
  }
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

bool ServiceDesk::canReport() const {
  return asFound_.has_value() &&
         (controller_.RigTarnProp_EditEnabled() || controller_.RigTarnProp_DispPara());
}

bool ServiceDesk::canRestore() const {
  return asFound_.has_value() && readIsAsFound_ && controller_.RigOpFunc_CanRestore();
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
  const std::string name = radio_.radioNameM() + "-" + radio_.radionameS() + "-" +
                           timeText(config_.now(), "%Y%m%d-%H%M%S") + ".bin";
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
  ServiceReportInput in;
  in.model = radio_.radioNameM();
  in.subModel = radio_.radionameS();
  in.dateTime = timeText(config_.now(), "%Y-%m-%d %H:%M");
  in.programVersion = config_.programVersion;
  in.asFound = *asFound_;
  in.asLeft = presentImage();
  in.asFoundSource = (asFoundFile_.empty() ? std::string("not backed up") : baseName(asFoundFile_)) +
                     ", read at " + timeText(asFoundAt_, "%Y-%m-%d %H:%M");
  in.asLeftState =
      lastRead_ && in.asLeft == *lastRead_
          ? "verified by a read at " + timeText(lastReadAt_, "%H:%M")
          : "as sent, not read back: press Connect to read the radio again before printing this report";
  in.calRun = controller_.RigTarnProp_CalPointsSent() > calAtAsFound_;
  for (std::size_t b = 0; b < form_.lbo01.size(); ++b) {
    const tk::ListBox* list = form_.lbo01[b];
    if (list == nullptr) continue;
    for (std::int16_t i = 1; i < list->listCount(); ++i) in.monitorLines.push_back(list->itemText(i));
  }
  in.monitorNote = "No monitor readings.";
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

void ServiceDesk::RestoreAsFound() {
  if (!canRestore()) return;
  const std::vector<RestoreValue> values = restoreList(*asFound_, presentImage());
  const std::string source = (asFoundFile_.empty() ? std::string("the first read") : baseName(asFoundFile_)) +
                             ", read at " + timeText(asFoundAt_, "%Y-%m-%d %H:%M");
  if (values.empty()) {
    MsgBoxApp(toolkit_, "Nothing to restore: the radio holds its as-found values.", "As found: " + source);
    return;
  }
  const bool ok = toolkit_.askOkCancel(
      "Send the as-found values back to the radio?", kAppTitle,
      "As found: " + source + "\r\n\r\n" + describeRestore(values) +
          "\r\n\r\nCAL points cannot be restored: they are measurements the radio takes. Run CAL again if "
          "needed.");
  if (!ok || !canRestore()) return;
  std::vector<std::pair<std::int16_t, std::int16_t>> rows;
  std::vector<RestoreSend> sends;
  for (const RestoreValue& v : values) {
    if (v.kind == RestoreValue::Kind::Item) {
      rows.emplace_back(v.row, v.asFound);
    } else {
      sends.push_back({v.e8Code, v.byte, v.address});
    }
  }
  controller_.RigOpFunc_Restore(rows, sends);
}

}  // namespace tarnset
