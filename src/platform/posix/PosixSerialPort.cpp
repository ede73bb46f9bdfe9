#include "platform/posix/PosixSerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tarnset {

namespace {

// Name of a group id, empty when it has none.
std::string groupName(gid_t gid) {
  std::vector<char> buf(4096);
  group gr{};
  group* found = nullptr;
  while (getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == ERANGE && buf.size() < (1u << 20)) {
    buf.resize(buf.size() * 2);
  }
  return found != nullptr && found->gr_name != nullptr ? std::string(found->gr_name) : std::string();
}

}  // namespace

PortFailure describeOpenFailure(int err, const std::string& device, const std::string& procRoot) {
  using Kind = PortFailure::Kind;
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return {Kind::NoDevice, "no such device"};
    case EBUSY:
    case EWOULDBLOCK: {
      PortFailure f{Kind::Busy, "in use by another program"};
      for (const DeviceHolder& h : findDeviceHolders(device, procRoot)) {
        if (h.pid == ::getpid()) continue;
        f.holder = h.name + " (PID " + std::to_string(h.pid) + ")";
        f.holderIsModemProber = h.name == "ModemManager";
        f.reason = "in use by " + f.holder;
        break;
      }
      return f;
    }
    case EACCES:
    case EPERM: {
      PortFailure f{Kind::PermissionDenied, "permission denied"};
      struct stat st {};
      if (::stat(device.c_str(), &st) == 0 && st.st_gid != 0) {
        f.group = groupName(st.st_gid);
        if (!f.group.empty()) f.reason = "permission denied (the device belongs to group " + f.group + ")";
      }
      return f;
    }
    case EIO:
      return {Kind::Other, "the device does not respond (input/output error)"};
    case ENOTTY:
      return {Kind::NotASerialPort, "not a serial port"};
    case ENOTDIR:
    case EISDIR:
    case ELOOP:
    case ENAMETOOLONG:
      return {Kind::NoDevice, "no such device (" + std::string(std::strerror(err)) + ")"};
    default:
      return {Kind::Other, "cannot open the device (" + std::string(std::strerror(err)) + ")"};
  }
}

std::vector<DeviceHolder> findDeviceHolders(const std::string& device, const std::string& procRoot) {
  namespace fs = std::filesystem;
  std::vector<DeviceHolder> holders;
  std::error_code ec;
  const fs::path target = fs::canonical(device, ec);
  if (ec) return holders;
  for (fs::directory_iterator p(procRoot, ec), end; !ec && p != end; p.increment(ec)) {
    const std::string pidText = p->path().filename().string();
    if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code fdEc;
    bool holds = false;
    // Descriptors of other users' processes cannot be read: those are skipped.
    for (fs::directory_iterator fd(p->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd; fd.increment(fdEc)) {
      std::error_code linkEc;
      const fs::path to = fs::read_symlink(fd->path(), linkEc);
      if (!linkEc && to == target) {
        holds = true;
        break;
      }
    }
    if (!holds) continue;
    std::ifstream comm(p->path() / "comm");
    std::string name;
    std::getline(comm, name);
    DeviceHolder h;
    h.pid = static_cast<int>(std::strtol(pidText.c_str(), nullptr, 10));
    h.name = name.empty() ? std::string("process") : name;
    holders.push_back(h);
  }
  std::sort(holders.begin(), holders.end(),
            [](const DeviceHolder& a, const DeviceHolder& b) { return a.pid < b.pid; });
  return holders;
}

unsigned baudConstant(std::int32_t baud) {
  switch (baud) {
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return 0;
  }
}

bool isBluetoothDevice(const std::string& device) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::weakly_canonical(device, ec);
  return (ec ? std::filesystem::path(device) : real).filename().string().rfind("rfcomm", 0) == 0;
}

PosixSerialPort::~PosixSerialPort() {
  release();
}

PortFailure PosixSerialPort::failure() const {
  PortFailure f = failure_;
  f.bluetooth = bluetooth_ && f.kind != PortFailure::Kind::None;
  return f;
}

bool PosixSerialPort::open(const std::string& device, std::int32_t baud) {
  if (isOpen()) close();
  device_ = device;
  baud_ = baud;
  failure_ = {};
  bluetooth_ = isBluetoothDevice(device);

  const speed_t speed = baudConstant(baud);
  if (speed == 0) {
    failure_ = {PortFailure::Kind::Other, "the baud rate " + std::to_string(baud) + " is not supported"};
    return false;
  }
  if (device.empty()) {
    failure_ = {PortFailure::Kind::NoDevice, "no such device"};
    return false;
  }

  const int fd = calls_.open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failure_ = describeOpenFailure(errno, device, procRoot_);
    return false;
  }
  auto fail = [&](PortFailure why) {
    calls_.close(fd);
    failure_ = std::move(why);
    return false;
  };
  const PortFailure notSerial{PortFailure::Kind::NotASerialPort, "not a serial port"};

  if (calls_.isatty(fd) != 1) return fail(notSerial);
  // The kernel's exclusive mode keeps other users' programs out; the advisory lock also
  // tells a second program of ours (even one run by the administrator, whom the
  // exclusive mode does not stop) that the port is taken.
  if (calls_.flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(describeOpenFailure(errno == EWOULDBLOCK ? EBUSY : errno, device, procRoot_));
  }
  calls_.ioctl(fd, TIOCEXCL, nullptr);

  termios tio{};
  if (calls_.tcgetattr(fd, &tio) != 0) {
    const int err = errno;
    calls_.ioctl(fd, TIOCNXCL, nullptr);
    return fail(err == ENOTTY ? notSerial : describeOpenFailure(err, device, procRoot_));
  }
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // Framing errors and breaks arrive marked in the data (see service()) instead of as
  // silent zero bytes: neither ignored (IGNPAR, IGNBRK) nor turned into a flush and a
  // signal (BRKINT), and all eight bits kept (ISTRIP would cut the marks' FF to 7F).
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | IGNBRK | BRKINT | ISTRIP);
  tio.c_iflag |= PARMRK | INPCK;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  if (calls_.tcsetattr(fd, TCSANOW, &tio) != 0) {
    PortFailure why{PortFailure::Kind::Other,
                    "the line settings were refused (" + std::string(std::strerror(errno)) + ")"};
    calls_.ioctl(fd, TIOCNXCL, nullptr);
    return fail(why);
  }

  // The cable draws its power from DTR and RTS. Pseudo-terminals have no modem lines
  // and refuse this; that is no reason to fail the open.
  int lines = TIOCM_DTR | TIOCM_RTS;
  calls_.ioctl(fd, TIOCMBIS, &lines);

  askLowLatency(fd);

  // Bytes that arrived while the port was closed belong to nobody.
  calls_.tcflush(fd, TCIFLUSH);

  fd_ = fd;
  ++session_;
  rx_.clear();
  txQueue_.clear();
  rxMark_ = RxMark::None;
  return true;
}

void PosixSerialPort::askLowLatency(int fd) {
  // USB adapters hold received bytes back (up to 16 ms) to send them in fewer packets;
  // each answer of the radio would wait that long. Drivers without the setting
  // (pseudo-terminals, many on-board UARTs) refuse it, and the port works as it is.
  lowLatencySet_ = false;
  serial_struct serial{};
  if (calls_.ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  if ((serial.flags & ASYNC_LOW_LATENCY) != 0) return;  // already on: nothing to undo at close
  serial.flags |= ASYNC_LOW_LATENCY;
  lowLatencySet_ = calls_.ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void PosixSerialPort::release() {
  if (fd_ < 0) return;
  // Pending output is dropped so that close never waits for a stalled line.
  calls_.tcflush(fd_, TCOFLUSH);
  if (lowLatencySet_) {
    // The next user of the device finds the driver as we found it.
    serial_struct serial{};
    if (calls_.ioctl(fd_, TIOCGSERIAL, &serial) == 0) {
      serial.flags &= ~ASYNC_LOW_LATENCY;
      calls_.ioctl(fd_, TIOCSSERIAL, &serial);
    }
    lowLatencySet_ = false;
  }
  calls_.ioctl(fd_, TIOCNXCL, nullptr);
  calls_.close(fd_);  // also drops the advisory lock
  fd_ = -1;
  ++session_;
  rx_.clear();
  txQueue_.clear();
  rxMark_ = RxMark::None;
}

void PosixSerialPort::close() {
  release();
}

bool PosixSerialPort::discardOutput() {
  txQueue_.clear();
  if (fd_ < 0) return true;
  return calls_.tcflush(fd_, TCOFLUSH) == 0;
}

void PosixSerialPort::pushQueue() {
  while (fd_ >= 0 && !txQueue_.empty()) {
    const ssize_t n = calls_.write(fd_, txQueue_.data(), txQueue_.size());
    if (n > 0) {
      txQueue_.erase(txQueue_.begin(), txQueue_.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: the kernel is full, try again later. Any other error: the device is
    // failing; service() finds out and reports it.
    return;
  }
}

bool PosixSerialPort::write(const Bytes& data) {
  if (fd_ < 0) {
    failure_ = {PortFailure::Kind::WriteRefused, "the port is not open"};
    return false;
  }
  if (data.empty()) return true;
  pushQueue();
  constexpr auto kQueueSize = static_cast<std::size_t>(kOutBufferSize);
  if (data.size() > kQueueSize) {
    failure_ = {PortFailure::Kind::WriteRefused,
                "the data is larger than the output buffer (" + std::to_string(data.size()) +
                    " bytes, the buffer holds " + std::to_string(kQueueSize) + ")"};
    return false;
  }
  if (txQueue_.size() + data.size() > kQueueSize) {
    failure_ = {PortFailure::Kind::WriteRefused,
                "the output buffer is full (" + std::to_string(txQueue_.size()) + " bytes waiting)"};
    return false;
  }

  std::size_t done = 0;
  if (txQueue_.empty()) {
    while (done < data.size()) {
      const ssize_t n = calls_.write(fd_, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      const int err = errno;
      if (n < 0 && err == EINTR) continue;
      // A failing device refuses a write it took nothing of; service() reports the
      // failure itself. EAGAIN: the kernel is full, the rest waits in our queue.
      if (n < 0 && err != EAGAIN && err != EWOULDBLOCK && done == 0) {
        failure_ = {PortFailure::Kind::WriteRefused,
                    "the device refused the data (" + std::string(std::strerror(err)) + ")"};
        return false;
      }
      break;
    }
  }
  txQueue_.insert(txQueue_.end(), data.begin() + static_cast<std::ptrdiff_t>(done), data.end());
  return true;
}

std::int32_t PosixSerialPort::inBufferCount() {
  pushQueue();
  return static_cast<std::int32_t>(rx_.size());
}

Bytes PosixSerialPort::readAll() {
  Bytes out;
  out.swap(rx_);
  return out;
}

std::int32_t PosixSerialPort::outBufferCount() {
  if (fd_ < 0) return 0;
  pushQueue();
  int queued = 0;
  if (calls_.ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
  const std::int64_t total = std::int64_t{queued} + static_cast<std::int64_t>(txQueue_.size());
  return static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX));
}

bool PosixSerialPort::deviceGone() const {
  pollfd p{fd_, POLLIN, 0};
  if (calls_.poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void PosixSerialPort::keepReceived(std::uint8_t byte, bool& overflow) {
  if (rx_.size() < static_cast<std::size_t>(kInBufferSize)) {
    rx_.push_back(byte);
  } else {
    overflow = true;
  }
}

bool PosixSerialPort::raise(PortEvent ev, unsigned session) {
  if (onEvent) onEvent(ev);
  return session_ == session;
}

bool PosixSerialPort::takeIn(const std::uint8_t* bytes, std::size_t count, unsigned session, bool& overflow,
                             bool& fresh) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = bytes[i];
    switch (rxMark_) {
      case RxMark::None:
        if (c == 0xFF) {
          rxMark_ = RxMark::Escape;
        } else {
          keepReceived(c, overflow);
          fresh = true;
        }
        break;
      case RxMark::Escape:
        if (c == 0x00) {
          rxMark_ = RxMark::ErrorByte;
          break;
        }
        rxMark_ = RxMark::None;
        // FF FF is a data byte FF. The kernel puts no other byte after an FF; should one
        // come, both bytes are kept as data rather than lost.
        keepReceived(0xFF, overflow);
        if (c != 0xFF) keepReceived(c, overflow);
        fresh = true;
        break;
      case RxMark::ErrorByte:
        // `c` came with a framing error (a break is a zero byte with one): it is not data.
        // The bytes before it reach the host first, then the error, then the rest.
        rxMark_ = RxMark::None;
        if (overflow) {
          overflow = false;
          if (!raise(PortEvent::ReceiveOverflow, session)) return false;
        }
        if (!rx_.empty() && rThreshold_ > 0) {
          fresh = false;
          if (!raise(PortEvent::DataReceived, session)) return false;
        }
        if (!raise(PortEvent::LineError, session)) return false;
        break;
    }
  }
  return true;
}

void PosixSerialPort::service() {
  if (fd_ < 0) return;
  pushQueue();

  // A handler may close or reopen the port: later events belong to this session only.
  const unsigned session = session_;
  bool fresh = false;  // data bytes arrived since the last receive event
  bool overflow = false;
  bool gone = false;
  std::uint8_t chunk[4096];
  // A bounded number of reads per call: a device that never stops sending cannot hold
  // the event loop here; the descriptor stays readable and the next call goes on.
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t n = calls_.read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      if (!takeIn(chunk, static_cast<std::size_t>(n), session, overflow, fresh)) return;
      continue;
    }
    if (n == 0) {
      // With VMIN 0 an empty read means "nothing now"; a hang-up says the device left.
      gone = deviceGone();
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    // EIO, ENODEV, ENXIO and any other read failure: the device is not usable any more.
    gone = true;
    break;
  }

  if (gone) {
    release();
    failure_ = {PortFailure::Kind::Gone, "the device went away"};
    if (onEvent) onEvent(PortEvent::LineError);
    return;
  }

  if (overflow && !raise(PortEvent::ReceiveOverflow, session)) return;
  if (fresh && rThreshold_ > 0 && static_cast<std::int32_t>(rx_.size()) >= rThreshold_) {
    raise(PortEvent::DataReceived, session);
  }
}

}  // namespace tarnset
