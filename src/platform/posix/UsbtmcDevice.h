#pragma once
// A USBTMC instrument through the Linux kernel's usbtmc driver (/dev/usbtmcN), found by
// the vendor, product and serial number of its USB device in sysfs.
#include <cstdint>
#include <string>

#include "platform/InstrumentLinks.h"
#include "platform/WorkerTransport.h"

namespace tarnset {

// The device node of the usbtmc instrument with the ids: the entries of
// <sysRoot>/class/usbmisc/usbtmc* whose USB device (the parent of the interface their
// "device" link names) has idVendor, idProduct and serial as asked (and the interface
// number, when one is asked for); "<devRoot>/usbtmcN". Empty with why set when there is
// none.
std::string findUsbtmcDevice(const UsbInstrumentId& id, std::string& why, const std::string& sysRoot = "/sys",
                             const std::string& devRoot = "/dev");

// The blocking calls on a usbtmc device node (the worker makes them).
class UsbtmcDevice final : public BlockingDevice {
 public:
  UsbtmcDevice(UsbInstrumentId id, std::string sysRoot = "/sys", std::string devRoot = "/dev");
  ~UsbtmcDevice() override;
  bool open(std::string& why) override;
  bool write(const std::string& message, std::string& why) override;
  ReadResult read(std::int32_t timeoutMs, std::string& answer, std::string& why) override;
  void close() override;

 private:
  UsbInstrumentId id_;
  std::string sysRoot_;
  std::string devRoot_;
  std::string path_;
  int fd_ = -1;
};

}  // namespace tarnset
