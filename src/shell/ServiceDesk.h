#pragma once
// The service record of the bench: every clone read is backed up; the first read after
// start-up (or after "New Radio") is the as-found image of the radio on the bench, never
// replaced without asking; the service report sets it beside the radio as left; and the
// as-found values can be sent back. Wired by start; the main window's File menu drives it.
#include <ctime>
#include <functional>
#include <optional>
#include <string>

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
};

class ServiceDesk final : public TarnView {
 public:
  // Becomes a view of the controller; removes itself when it goes.
  ServiceDesk(tk::Toolkit& toolkit, clsIndOp_RigTarn& controller, clsCmcRadio& radio,
              ServiceDeskConfig config);
  ~ServiceDesk() override;
  ServiceDesk(const ServiceDesk&) = delete;
  ServiceDesk& operator=(const ServiceDesk&) = delete;

  // A clone read completed: back it up, and take it as the as-found image, or ask whether
  // a radio that differs from it is another one.
  void readCompleted() override;
  // The monitor readings the report shows.
  void modelReset() override;
  void monitorLineChanged(MonitorBank bank, std::int16_t line, std::int16_t raw,
                          const std::string& text) override;

  // The File menu.
  void SaveImageAs();
  void NewRadio();
  void ServiceReport();
  void RestoreAsFound();

  // When the menu items are enabled: an image was read this session; connected with an
  // as-found image; and a restore may start (the adjustment panel, no procedure, the
  // radio read this connection is the as-found one).
  bool canSaveImage() const { return lastRead_.has_value(); }
  bool canReport() const;
  bool canRestore() const;

  // The as-found image, its backup file (empty when none was written) and its time.
  const std::optional<Bytes>& asFound() const { return asFound_; }
  const std::string& asFoundFile() const { return asFoundFile_; }
  // The tip of the port label: which backup is the as-found image.
  std::string asFoundTip() const;

 private:
  std::string timeText(std::time_t t, const char* pattern) const;
  std::string suggestedPath(const std::string& name) const;
  ServiceReportInput reportInput() const;
  // The current image of the program (the radio as left: the last read and every value
  // sent since).
  Bytes presentImage() const;

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
};

}  // namespace tarnset
