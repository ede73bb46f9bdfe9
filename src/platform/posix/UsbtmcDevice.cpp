#include "platform/posix/UsbtmcDevice.h"

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tarnset {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxAnswer = 65536;

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

bool sameHexId(const std::string& text, std::uint16_t id) {
  unsigned long v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v == id;
}

}  // namespace

std::string findUsbtmcDevice(const UsbInstrumentId& id, std::string& why, const std::string& sysRoot,
                             const std::string& devRoot) {
  std::error_code ec;
  const fs::path cls = fs::path(sysRoot) / "class" / "usbmisc";
  int seen = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(cls, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("usbtmc", 0) != 0) continue;
    ++seen;
    const fs::path iface = fs::canonical(e.path() / "device", ec);
    if (ec) continue;
    const fs::path usb = iface.parent_path();
    if (!sameHexId(firstLine(usb / "idVendor"), id.vendorId) ||
        !sameHexId(firstLine(usb / "idProduct"), id.productId)) {
      continue;
    }
    if (!id.serial.empty() && firstLine(usb / "serial") != id.serial) continue;
    if (id.interfaceNumber >= 0 &&
        !sameHexId(firstLine(iface / "bInterfaceNumber"), static_cast<std::uint16_t>(id.interfaceNumber))) {
      continue;
    }
    return (fs::path(devRoot) / name).string();
  }
  why = seen == 0 ? "no USBTMC instrument is connected (the kernel's usbtmc driver shows none)"
                  : "none of the " + std::to_string(seen) +
                        " USBTMC instruments connected has these ids and serial number";
  return {};
}

UsbtmcDevice::UsbtmcDevice(UsbInstrumentId id, std::string sysRoot, std::string devRoot)
    : id_(std::move(id)), sysRoot_(std::move(sysRoot)), devRoot_(std::move(devRoot)) {}

UsbtmcDevice::~UsbtmcDevice() {
  close();
}

bool UsbtmcDevice::open(std::string& why) {
  path_ = findUsbtmcDevice(id_, why, sysRoot_, devRoot_);
  if (path_.empty()) return false;
  fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    why = path_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool UsbtmcDevice::write(const std::string& message, std::string& why) {
  std::size_t done = 0;
  while (done < message.size()) {
    const ssize_t n = ::write(fd_, message.data() + done, message.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = path_ + ": " + std::strerror(n < 0 ? errno : EIO);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

BlockingDevice::ReadResult UsbtmcDevice::read(std::int32_t timeoutMs, std::string& answer, std::string& why) {
#ifdef USBTMC_IOCTL_SET_TIMEOUT
  std::uint32_t ms = static_cast<std::uint32_t>(timeoutMs < 100 ? 100 : timeoutMs);  // the driver's least
  ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &ms);
#else
  (void)timeoutMs;
#endif
  char buf[4096];
  while (answer.size() < kMaxAnswer) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ETIMEDOUT) return answer.empty() ? ReadResult::TimedOut : ReadResult::Answer;
    if (n < 0) {
      why = path_ + ": " + std::strerror(errno);
      return ReadResult::Failed;
    }
    answer.append(buf, static_cast<std::size_t>(n));
    // The driver ends a read at the device's end of message, which comes with the LF.
    if (n == 0 || static_cast<std::size_t>(n) < sizeof buf || answer.back() == '\n') break;
  }
  if (answer.empty() || answer.back() != '\n') answer += '\n';
  return ReadResult::Answer;
}

void UsbtmcDevice::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::unique_ptr<InstrumentTransport> makeUsbTransport(const UsbInstrumentId& id) {
  return std::make_unique<WorkerTransport>([id] { return std::make_unique<UsbtmcDevice>(id); });
}

std::string serialDeviceName(int comNumber) {
  return "/dev/ttyS" + std::to_string(comNumber - 1);
}

}  // namespace tarnset
