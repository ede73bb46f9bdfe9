#pragma once
// A USB instrument through an installed VISA library (visa64.dll from the instrument
// maker's VISA), loaded at run time: the program needs no VISA to start, and LAN and
// serial instruments need none at all.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/InstrumentLinks.h"
#include "platform/WorkerTransport.h"

namespace tarnset {

// What the technician reads when no VISA library can be loaded.
std::string visaMissingText(const std::string& library);

// The blocking calls on one VISA session (the worker makes them). library is the DLL to
// load ("visa64.dll"; tests name another).
class VisaDevice final : public BlockingDevice {
 public:
  explicit VisaDevice(std::string resource, std::string library = "visa64.dll");
  ~VisaDevice() override;
  bool open(std::string& why) override;
  bool write(const std::string& message, std::string& why) override;
  ReadResult read(std::int32_t timeoutMs, std::string& answer, std::string& why) override;
  void close() override;

 private:
  struct Api;
  std::string statusText(long status) const;

  std::string resource_;
  std::string library_;
  std::unique_ptr<Api> api_;
  unsigned long defaultRm_ = 0;  // VISA sessions (ViSession)
  unsigned long session_ = 0;
};

}  // namespace tarnset
