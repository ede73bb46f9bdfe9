#pragma once
// The service record of the bench: every clone read is backed up; the first read after
// start-up (or after "New Radio") is the as-found image of the radio on the bench, never
// replaced without asking; the service report sets it beside the radio as left; and the
// as-found values can be sent back. Wired by start; the main window's File menu drives it.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Types.h"
#include "model/ServiceReport.h"
#include "model/TarnView.h"
#include "model/clsIndOp_RigTarn.h"

namespace tarnset {

class clsCmcRadio;
namespace tk {
class Toolkit;
}

struct ServiceDeskConfig {
  // Where the backups go; empty: no backups are written.
  std::string backupFolder;
  // The wall clock (names of backups, times in the report).
  std::function<std::time_t()> now;
  // "tarnset-adj 1.2.0 (Tarnset ADJ Rev.1.2)", for the report.
  std::string programVersion;
  // With instruments, the as-found radio is measured after its first read (the
  // technician is asked to key it); false: never (a front end without a technician).
  bool measureAsFound = true;
};

class ServiceDesk final : public TarnView {
 public:
  // Becomes a view of the controller; removes itself when it goes.
  ServiceDesk(tk::Toolkit& toolkit, clsIndOp_RigTarn& controller, clsCmcRadio& radio,
              ServiceDeskConfig config);
  ~ServiceDesk() override;
  ServiceDesk(const ServiceDesk&) = delete;
  ServiceDesk& operator=(const ServiceDesk&) = delete;

  // A read starts: what the values sent made of the image is what it will be held to.
  void readStarted() override;
  // A clone read completed whole: back it up, hold it against what was sent, and take it
  // as the as-found image, or ask whether a radio that differs from it is another one;
  // then whatever waited for the read (a report, a restore, a restore's result).
  void readCompleted() override;
  // The link failed: nothing that waited for a read follows.
  void linkFailed(const LinkFailure& f) override;
  // The monitor readings the report shows.
  void modelReset() override;
  void monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t raw,
                          const std::string& text) override;
  // A value went out: unless the last read holds it already, the radio is no longer as
  // that read showed it.
  void valueSent(std::int32_t address, std::uint8_t value) override;
  // A restore's values have gone out: the radio is read back to show the result.
  void restoreEnded(bool completed) override;

  // The File menu.
  void SaveImageAs();
  void NewRadio();
  // Offers to read the radio back first when values went out since the last read.
  void ServiceReport();
  // Reads the radio first: only the as-found radio gets its values back; then reads it
  // back and shows the result.
  void RestoreAsFound();
  // Aligns the radio unattended with the bench's instruments: the transmitter (with the
  // technician keying it), then the receiver, a summary, the radio read back, and the
  // certificate offered.
  void AlignAll();
  bool canAlign() const;
  // The steps of the last Align All.
  const std::vector<AlignStep>& alignSteps() const { return alignSteps_; }

  // When the menu items are enabled: a whole read was made this session; connected with
  // an as-found image; and a restore may start (the adjustment panel, no procedure, the
  // radio read this connection is the as-found one). None while a read runs or a report
  // or restore waits for one.
  bool canSaveImage() const;
  bool canReport() const;
  bool canRestore() const;

  // The as-found image, its backup file (empty when none was written) and its time.
  const std::optional<Bytes>& asFound() const { return asFound_; }
  const std::string& asFoundFile() const { return asFoundFile_; }
  // The tip of the port label: which backup is the as-found image.
  std::string asFoundTip() const;
  // The radio was read after the last value sent that changed it: the as-left image is
  // what the radio holds (readBackFailures() lists where it differs from what was sent).
  bool asLeftReadBack() const { return lastRead_.has_value() && !sentSinceRead_; }
  const std::vector<std::string>& readBackFailures() const { return readBackFailures_; }
  // The measurements of the as-found radio and of the radio as left (empty before they
  // were taken).
  const std::vector<ItemMeasurement>& asFoundMeasured() const { return asFoundMeasured_; }
  const std::vector<ItemMeasurement>& asLeftMeasured() const { return asLeftMeasured_; }

 private:
  // What waits for the next whole read.
  enum class AfterRead { Nothing, Report, Restore, RestoreResult, AlignResult };

  std::string timeText(std::time_t t, const char* pattern) const;
  std::string suggestedPath(const std::string& name) const;
  ServiceReportInput reportInput() const;
  // The current image of the program: the last whole read and every value sent since.
  Bytes presentImage() const;
  std::string asFoundSource() const;
  // Connects again (after the notification running now) to read the radio.
  void readAgain(AfterRead then);
  void writeReport();
  // The instruments measure some item with a limit: the certificate has measurements.
  bool measures() const;
  // Asks the technician to key the radio and measures every item with a limit; then
  // stores the measurements and runs then (a Cancel runs then without them).
  void measureItems(const std::string& which, std::vector<ItemMeasurement>& into, std::function<void()> then);
  // The report, once everything it waits for is there.
  void writeReportNow();
  void offerRestore();
  void showRestoreResult();
  // Backs the read up; the path of the backup, empty when none.
  std::string backUp(const Bytes& image);

  tk::Toolkit& toolkit_;
  clsIndOp_RigTarn& controller_;
  clsCmcRadio& radio_;
  ServiceDeskConfig config_;
  // The monitor lines as the window shows them (A/D, then D/A).
  std::vector<std::string> monitorLines_;

  std::optional<Bytes> asFound_;
  std::string asFoundFile_;
  std::time_t asFoundAt_ = 0;
  int calAtAsFound_ = 0;
  std::optional<Bytes> lastRead_;
  std::time_t lastReadAt_ = 0;
  // The read of this connection is of the as-found radio.
  bool readIsAsFound_ = false;
  // A value went out since the last whole read that the read did not hold already.
  bool sentSinceRead_ = false;
  // The image the values sent had made when the running read started; kept only when
  // values had gone out since the read before it.
  std::optional<Bytes> expected_;
  // Where the last read-back differed from what was sent, one line per value.
  std::vector<std::string> readBackFailures_;
  AfterRead afterRead_ = AfterRead::Nothing;
  // The values a restore sent (as-found values), for its result.
  std::vector<RestoreValue> restored_;
  bool restoring_ = false;
  std::vector<ItemMeasurement> asFoundMeasured_;
  std::vector<ItemMeasurement> asLeftMeasured_;
  bool measuring_ = false;
  bool aligning_ = false;
  std::vector<AlignStep> alignSteps_;
  void alignReceiver();
  void alignFinished();
};

}  // namespace tarnset
