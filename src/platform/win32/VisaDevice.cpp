#include "platform/win32/VisaDevice.h"

#include <windows.h>

#include <cstdio>

namespace tarnset {
namespace {

// The VISA types and values this link uses (as the VISA library defines them): status codes
// are signed 32-bit, negative for errors; sessions are unsigned 32-bit; attribute values
// are passed as 64-bit on 64-bit systems.
using ViStatus = long;
using ViSession = unsigned long;
using ViAttrState = unsigned long long;
constexpr unsigned long kAttrTimeout = 0x3FFF001AUL;                     // VI_ATTR_TMO_VALUE
constexpr ViStatus kErrorTimeout = static_cast<ViStatus>(0xBFFF0015UL);  // VI_ERROR_TMO
constexpr std::size_t kMaxAnswer = 65536;

using OpenDefaultRm = ViStatus(__stdcall*)(ViSession*);
using Open = ViStatus(__stdcall*)(ViSession, const char*, unsigned long, unsigned long, ViSession*);
using Write = ViStatus(__stdcall*)(ViSession, const unsigned char*, unsigned long, unsigned long*);
using Read = ViStatus(__stdcall*)(ViSession, unsigned char*, unsigned long, unsigned long*);
using Close = ViStatus(__stdcall*)(ViSession);
using SetAttribute = ViStatus(__stdcall*)(ViSession, unsigned long, ViAttrState);
using StatusDesc = ViStatus(__stdcall*)(ViSession, ViStatus, char*);

}  // namespace

struct VisaDevice::Api {
  HMODULE module = nullptr;
  OpenDefaultRm openDefaultRm = nullptr;
  Open open = nullptr;
  Write write = nullptr;
  Read read = nullptr;
  Close close = nullptr;
  SetAttribute setAttribute = nullptr;
  StatusDesc statusDesc = nullptr;  // optional: the library's own words for a status
};

std::string visaMissingText(const std::string& library) {
  return "no VISA library (" + library +
         ") is installed: install your instrument maker's VISA for USB instruments, or connect the "
         "instrument by LAN (TCPIP::host::5025::SOCKET)";
}

VisaDevice::VisaDevice(std::string resource, std::string library)
    : resource_(std::move(resource)), library_(std::move(library)) {}

VisaDevice::~VisaDevice() {
  close();
}

std::string VisaDevice::statusText(long status) const {
  char text[256] = "";
  if (api_ != nullptr && api_->statusDesc != nullptr &&
      api_->statusDesc(session_ != 0 ? session_ : defaultRm_, status, text) >= 0 && text[0] != '\0') {
    return text;
  }
  char code[32];
  std::snprintf(code, sizeof code, "VISA status 0x%08lX", static_cast<unsigned long>(status));
  return code;
}

bool VisaDevice::open(std::string& why) {
  close();
  const std::wstring name(library_.begin(), library_.end());
  HMODULE module = LoadLibraryW(name.c_str());
  if (module == nullptr) {
    why = visaMissingText(library_);
    return false;
  }
  api_ = std::make_unique<Api>();
  api_->module = module;
  const auto get = [module](const char* fn) { return reinterpret_cast<void*>(GetProcAddress(module, fn)); };
  api_->openDefaultRm = reinterpret_cast<OpenDefaultRm>(get("viOpenDefaultRM"));
  api_->open = reinterpret_cast<Open>(get("viOpen"));
  api_->write = reinterpret_cast<Write>(get("viWrite"));
  api_->read = reinterpret_cast<Read>(get("viRead"));
  api_->close = reinterpret_cast<Close>(get("viClose"));
  api_->setAttribute = reinterpret_cast<SetAttribute>(get("viSetAttribute"));
  api_->statusDesc = reinterpret_cast<StatusDesc>(get("viStatusDesc"));
  if (!api_->openDefaultRm || !api_->open || !api_->write || !api_->read || !api_->close ||
      !api_->setAttribute) {
    why = library_ + " lacks the VISA calls this program needs: reinstall your instrument maker's VISA";
    close();
    return false;
  }
  ViStatus st = api_->openDefaultRm(&defaultRm_);
  if (st < 0) {
    why = "the VISA resource manager does not open: " + statusText(st);
    close();
    return false;
  }
  st = api_->open(defaultRm_, resource_.c_str(), 0, 0, &session_);
  if (st < 0) {
    why = resource_ + ": " + statusText(st);
    session_ = 0;
    close();
    return false;
  }
  return true;
}

bool VisaDevice::write(const std::string& message, std::string& why) {
  unsigned long written = 0;
  const ViStatus st = api_->write(session_, reinterpret_cast<const unsigned char*>(message.data()),
                                  static_cast<unsigned long>(message.size()), &written);
  if (st < 0) {
    why = resource_ + ": " + statusText(st);
    return false;
  }
  return true;
}

BlockingDevice::ReadResult VisaDevice::read(std::int32_t timeoutMs, std::string& answer, std::string& why) {
  api_->setAttribute(session_, kAttrTimeout, static_cast<ViAttrState>(timeoutMs));
  unsigned char buf[4096];
  while (answer.size() < kMaxAnswer) {
    unsigned long got = 0;
    const ViStatus st = api_->read(session_, buf, sizeof buf, &got);
    answer.append(reinterpret_cast<const char*>(buf), got);
    if (st == kErrorTimeout) return answer.empty() ? ReadResult::TimedOut : ReadResult::Answer;
    if (st < 0) {
      why = resource_ + ": " + statusText(st);
      return ReadResult::Failed;
    }
    // A read that filled the buffer (VI_SUCCESS_MAX_CNT) has more to come; any other
    // success ended the message.
    if (got < sizeof buf || (!answer.empty() && answer.back() == '\n')) break;
  }
  if (answer.empty() || answer.back() != '\n') answer += '\n';
  return ReadResult::Answer;
}

void VisaDevice::close() {
  if (api_ == nullptr) return;
  if (session_ != 0) api_->close(session_);
  if (defaultRm_ != 0) api_->close(defaultRm_);
  session_ = 0;
  defaultRm_ = 0;
  FreeLibrary(api_->module);
  api_.reset();
}

std::unique_ptr<InstrumentTransport> makeUsbTransport(const UsbInstrumentId& id) {
  return std::make_unique<WorkerTransport>([id] { return std::make_unique<VisaDevice>(id.resource); });
}

std::string serialDeviceName(int comNumber) {
  return "\\\\.\\COM" + std::to_string(comNumber);
}

}  // namespace tarnset
