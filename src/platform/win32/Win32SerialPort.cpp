#include "platform/win32/Win32SerialPort.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/win32/ComNames.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32PortCalls.h"

namespace tarnset {

namespace {

// The largest read the port asks for; see readSizeFor.
constexpr std::size_t kReadBufferSize = 4096;
// Driver errors that break the bytes being received: each call's are one line error.
constexpr DWORD kLineErrors = CE_FRAME | CE_BREAK | CE_RXPARITY | CE_OVERRUN;
// A bounded number of completed reads per service(): a device that never stops sending
// cannot hold the event loop there; the read's event stays signalled and the next call
// goes on.
constexpr int kReadsPerService = 64;
// With the port's time-outs a read completes only with bytes. A driver that completes
// reads without any would keep the event loop busy for ever: after this many in a row
// the device counts as gone.
constexpr int kEmptyReadsAsGone = 64;

// How many bytes a read asks for: about 50 ms of line time (one poll tick of the serial
// host), so that a long stream without pauses reaches the program as it arrives rather
// than when a large buffer is full.
DWORD readSizeFor(std::int32_t baud) {
  return static_cast<DWORD>(
      std::clamp<std::int32_t>(baud / 200, 16, static_cast<std::int32_t>(kReadBufferSize)));
}

// The mutex that marks a device as taken by a program of ours: "\\.\COM7" ->
// "Global\TarnsetADJ-port-COM7".
std::string claimNameFor(const std::string& device) {
  std::string name = device.rfind("\\\\.\\", 0) == 0 ? device.substr(4) : device;
  for (char& c : name) {
    if (c == '\\') c = '_';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return "Global\\TarnsetADJ-port-" + name;
}

}  // namespace

struct Win32SerialPort::Io {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE claim = nullptr;  // the named mutex held while the port is open
  HANDLE readEvent = nullptr;
  HANDLE writeEvent = nullptr;
  OVERLAPPED readOv{};
  OVERLAPPED writeOv{};
  bool reading = false;  // a read is under way (or completed and not taken yet)
  bool writing = false;  // a write is under way (or completed and not taken yet)
  DWORD readSize = 16;
  std::array<std::uint8_t, kReadBufferSize> readBuffer{};
  Bytes writeBuffer;  // the bytes of the write under way
};

PortFailure describeOpenFailure(unsigned long error) {
  using Kind = PortFailure::Kind;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_UNIT:
      return {Kind::NoDevice, "no such device"};
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return {Kind::NoDevice, "no such device (" + win32::errorText(error) + ")"};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      // Windows gives a COM port to one opener at a time and answers every other one
      // with "access denied".
      return {Kind::Busy, "in use by another program"};
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
      return {Kind::Other, "the device does not respond (" + win32::errorText(error) + ")"};
    default:
      return {Kind::Other, "cannot open the device (" + win32::errorText(error) + ")"};
  }
}

bool baudSupported(std::int32_t baud) {
  static constexpr std::int32_t kRates[] = {300,   600,   1200,  2400,   4800,  9600,
                                            19200, 38400, 57600, 115200, 230400};
  return std::find(std::begin(kRates), std::end(kRates), baud) != std::end(kRates);
}

Win32SerialPort::Win32SerialPort() : Win32SerialPort(systemPortCalls()) {}

Win32SerialPort::Win32SerialPort(Win32PortCalls& calls) : calls_(calls), io_(std::make_unique<Io>()) {}

Win32SerialPort::~Win32SerialPort() {
  release();
  if (io_->readEvent != nullptr) calls_.closeHandle(io_->readEvent);
  if (io_->writeEvent != nullptr) calls_.closeHandle(io_->writeEvent);
}

bool Win32SerialPort::isOpen() const {
  return io_->port != INVALID_HANDLE_VALUE;
}

Waitable Win32SerialPort::waitable() const {
  return isOpen() ? reinterpret_cast<Waitable>(io_->readEvent) : kNoWaitable;
}

bool Win32SerialPort::open(const std::string& device, std::int32_t baud) {
  if (isOpen()) close();
  device_ = win32::comDeviceName(device);
  baud_ = baud;
  failure_ = {};
  using Kind = PortFailure::Kind;

  if (!baudSupported(baud)) {
    failure_ = {Kind::Other, "the baud rate " + std::to_string(baud) + " is not supported"};
    return false;
  }
  if (device_.empty()) {
    failure_ = {Kind::NoDevice, "no such device"};
    return false;
  }

  Io& io = *io_;
  // The events live as long as the port object: a watch that outlives a close never
  // waits on a handle that was closed (and perhaps reused).
  if (io.readEvent == nullptr) io.readEvent = calls_.createEvent();
  if (io.writeEvent == nullptr) io.writeEvent = calls_.createEvent();
  if (io.readEvent == nullptr || io.writeEvent == nullptr) {
    failure_ = {Kind::Other, "cannot open the device (" + win32::errorText(calls_.lastError()) + ")"};
    return false;
  }

  // Windows gives a COM port to one opener at a time, but virtual ports and Wine's
  // pseudo-terminal ports do not: a second program of ours learns from this mutex that
  // the port is taken. A mutex that cannot be made does not stop the port.
  HANDLE claim = calls_.createMutex(claimNameFor(device_).c_str());
  if (claim != nullptr && calls_.lastError() == ERROR_ALREADY_EXISTS) {
    calls_.closeHandle(claim);
    failure_ = {Kind::Busy, "in use by another program"};
    return false;
  }

  const HANDLE h = calls_.createFile(device_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, FILE_FLAG_OVERLAPPED);
  if (h == INVALID_HANDLE_VALUE) {
    failure_ = describeOpenFailure(calls_.lastError());
    if (claim != nullptr) calls_.closeHandle(claim);
    return false;
  }
  auto fail = [&](PortFailure why) {
    calls_.closeHandle(h);
    if (claim != nullptr) calls_.closeHandle(claim);
    failure_ = std::move(why);
    return false;
  };

  // The driver's queues as the program's buffers are sized; a driver may keep its own.
  calls_.setupComm(h, kInBufferSize, kOutBufferSize);

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!calls_.getCommState(h, &dcb)) return fail({Kind::NotASerialPort, "not a serial port"});
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  // No handshake of any kind: the cable has no lines for it.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  // The cable draws its power from DTR and RTS.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  // Every byte is delivered as received: none replaced, none dropped, and a line error
  // does not stop the reads (ClearCommError reports it).
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!calls_.setCommState(h, &dcb)) {
    return fail(
        {Kind::Other, "the line settings were refused (" + win32::errorText(calls_.lastError()) + ")"});
  }

  // A read waits for its first byte without limit and completes 2 ms after the last one.
  // (Waiting for communication events instead completes at once, over and over, under
  // Wine; "first byte or a total time-out" never completes there on an overlapped handle.)
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 2;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!calls_.setCommTimeouts(h, &timeouts)) {
    return fail(
        {Kind::Other, "the port's time-outs were refused (" + win32::errorText(calls_.lastError()) + ")"});
  }

  // Asserted once more explicitly for drivers that set the lines only on request.
  // Pseudo-terminals have no modem lines and refuse this; that is no reason to fail.
  calls_.escapeCommFunction(h, SETDTR);
  calls_.escapeCommFunction(h, SETRTS);

  // Bytes that arrived while the port was closed belong to nobody, nor do errors.
  calls_.purgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
  DWORD staleErrors = 0;
  COMSTAT stat{};
  calls_.clearCommError(h, &staleErrors, &stat);

  io.port = h;
  io.claim = claim;
  io.readSize = readSizeFor(baud);
  io.reading = false;
  io.writing = false;
  io.writeBuffer.clear();
  calls_.resetEvent(io.readEvent);
  calls_.resetEvent(io.writeEvent);
  ++session_;
  rx_.clear();
  txQueue_.clear();
  lineErrors_ = 0;
  emptyReads_ = 0;

  if (!startRead()) {
    const DWORD err = calls_.lastError();
    release();
    failure_ = {Kind::Other, "cannot read from the device (" + win32::errorText(err) + ")"};
    return false;
  }
  return true;
}

bool Win32SerialPort::startRead() {
  Io& io = *io_;
  io.readOv = OVERLAPPED{};
  io.readOv.hEvent = io.readEvent;
  // The read resets its event when it starts; done at once, it signals it again.
  if (calls_.readFile(io.port, io.readBuffer.data(), io.readSize, &io.readOv) ||
      calls_.lastError() == ERROR_IO_PENDING) {
    io.reading = true;
    return true;
  }
  return false;
}

bool Win32SerialPort::startWrite() {
  Io& io = *io_;
  io.writeBuffer.swap(txQueue_);
  txQueue_.clear();
  io.writeOv = OVERLAPPED{};
  io.writeOv.hEvent = io.writeEvent;
  if (calls_.writeFile(io.port, io.writeBuffer.data(), static_cast<DWORD>(io.writeBuffer.size()),
                       &io.writeOv) ||
      calls_.lastError() == ERROR_IO_PENDING) {
    io.writing = true;
    return true;
  }
  // Refused at once: the bytes wait again where they were.
  txQueue_.swap(io.writeBuffer);
  io.writeBuffer.clear();
  return false;
}

void Win32SerialPort::release() {
  if (!isOpen()) return;
  Io& io = *io_;
  // The operations under way must end before their buffers may be reused.
  if (io.reading || io.writing) calls_.cancelIo(io.port, nullptr);
  DWORD done = 0;
  if (io.reading) calls_.getOverlappedResult(io.port, &io.readOv, &done, TRUE);
  if (io.writing) calls_.getOverlappedResult(io.port, &io.writeOv, &done, TRUE);
  io.reading = false;
  io.writing = false;
  io.writeBuffer.clear();
  // Pending output is dropped so that closing never waits for a stalled line.
  calls_.purgeComm(io.port, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
  calls_.closeHandle(io.port);
  io.port = INVALID_HANDLE_VALUE;
  if (io.claim != nullptr) {
    calls_.closeHandle(io.claim);
    io.claim = nullptr;
  }
  calls_.resetEvent(io.readEvent);
  calls_.resetEvent(io.writeEvent);
  ++session_;
  rx_.clear();
  txQueue_.clear();
  lineErrors_ = 0;
  emptyReads_ = 0;
}

void Win32SerialPort::close() {
  release();
}

bool Win32SerialPort::discardOutput() {
  txQueue_.clear();
  if (!isOpen()) return true;
  Io& io = *io_;
  if (io.writing) {
    calls_.cancelIo(io.port, &io.writeOv);
    DWORD done = 0;
    calls_.getOverlappedResult(io.port, &io.writeOv, &done, TRUE);
    io.writing = false;
    io.writeBuffer.clear();
  }
  return calls_.purgeComm(io.port, PURGE_TXABORT | PURGE_TXCLEAR) != FALSE;
}

void Win32SerialPort::pushQueue() {
  if (!isOpen()) return;
  Io& io = *io_;
  // A write that the driver finished at once is taken at once too, so that a few rounds
  // suffice: each starts the bytes that wait, and only a short write brings any back.
  for (int round = 0; round < 4; ++round) {
    if (io.writing) {
      DWORD sent = 0;
      if (calls_.getOverlappedResult(io.port, &io.writeOv, &sent, FALSE)) {
        // All of it, as no write time-out is set; should a driver stop short, the rest
        // goes again.
        if (sent < io.writeBuffer.size()) {
          txQueue_.insert(txQueue_.begin(), io.writeBuffer.begin() + static_cast<std::ptrdiff_t>(sent),
                          io.writeBuffer.end());
        }
      } else if (calls_.lastError() == ERROR_IO_INCOMPLETE) {
        return;
      }
      // A write that failed is lost: the device is failing, and service() finds out.
      io.writing = false;
      io.writeBuffer.clear();
    }
    if (txQueue_.empty() || !startWrite()) return;
  }
}

bool Win32SerialPort::write(const Bytes& data) {
  using Kind = PortFailure::Kind;
  if (!isOpen()) {
    failure_ = {Kind::WriteRefused, "the port is not open"};
    return false;
  }
  if (data.empty()) return true;
  pushQueue();
  constexpr auto kQueueSize = static_cast<std::size_t>(kOutBufferSize);
  if (data.size() > kQueueSize) {
    failure_ = {Kind::WriteRefused, "the data is larger than the output buffer (" +
                                        std::to_string(data.size()) + " bytes, the buffer holds " +
                                        std::to_string(kQueueSize) + ")"};
    return false;
  }
  const Io& io = *io_;
  const std::size_t waiting = (io.writing ? io.writeBuffer.size() : 0) + txQueue_.size();
  if (waiting + data.size() > kQueueSize) {
    failure_ = {Kind::WriteRefused,
                "the output buffer is full (" + std::to_string(waiting) + " bytes waiting)"};
    return false;
  }
  const bool fresh = !io.writing && txQueue_.empty();
  txQueue_.insert(txQueue_.end(), data.begin(), data.end());
  if (io.writing) return true;
  if (!startWrite()) {
    const DWORD err = calls_.lastError();
    if (fresh) {
      // A failing device refuses a write it took nothing of; service() reports the
      // failure itself.
      txQueue_.clear();
      failure_ = {Kind::WriteRefused, "the device refused the data (" + win32::errorText(err) + ")"};
      return false;
    }
  }
  return true;
}

std::int32_t Win32SerialPort::inBufferCount() {
  pushQueue();
  return static_cast<std::int32_t>(rx_.size());
}

Bytes Win32SerialPort::readAll() {
  Bytes out;
  out.swap(rx_);
  return out;
}

bool Win32SerialPort::takeDriverState(unsigned long* outQueue) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!calls_.clearCommError(io_->port, &errors, &stat)) return false;
  // Reading the errors clears them in the driver: they wait here for service().
  lineErrors_ |= errors;
  if (outQueue != nullptr) *outQueue = stat.cbOutQue;
  return true;
}

std::int32_t Win32SerialPort::outBufferCount() {
  if (!isOpen()) return 0;
  pushQueue();
  unsigned long driverQueue = 0;
  if (!takeDriverState(&driverQueue)) driverQueue = 0;
  // The write under way counts whole until it completes: some drivers count its bytes
  // in their queue as well, others (Wine's) do not, and zero must mean "sent".
  const Io& io = *io_;
  const std::uint64_t total =
      std::uint64_t{driverQueue} + (io.writing ? io.writeBuffer.size() : 0) + txQueue_.size();
  return static_cast<std::int32_t>(std::min<std::uint64_t>(total, INT32_MAX));
}

void Win32SerialPort::keepReceived(const std::uint8_t* bytes, std::size_t count, bool& overflow) {
  const std::size_t room =
      static_cast<std::size_t>(kInBufferSize) - std::min(rx_.size(), std::size_t(kInBufferSize));
  const std::size_t kept = std::min(room, count);
  rx_.insert(rx_.end(), bytes, bytes + kept);
  if (kept < count) overflow = true;
}

bool Win32SerialPort::raise(PortEvent ev, unsigned session) {
  if (onEvent) onEvent(ev);
  return session_ == session;
}

void Win32SerialPort::service() {
  if (!isOpen()) return;
  pushQueue();

  // A handler may close or reopen the port: later events belong to this session only.
  const unsigned session = session_;
  Io& io = *io_;
  bool fresh = false;  // data bytes arrived in this call
  bool overflow = false;
  bool gone = false;
  bool abortTaken = false;
  for (int reads = 0; reads < kReadsPerService; ++reads) {
    if (!io.reading && !startRead()) {
      gone = true;
      break;
    }
    DWORD n = 0;
    if (!calls_.getOverlappedResult(io.port, &io.readOv, &n, FALSE)) {
      const DWORD err = calls_.lastError();
      // Still waiting for bytes; the read reset the event when it started.
      if (err == ERROR_IO_INCOMPLETE) break;
      io.reading = false;
      // Some drivers abort a read at a line error whatever the line settings say; with
      // the error in hand that is no lost device, and the next read goes on. Any other
      // failure (access denied, bad command, device removed, general failure, broken
      // pipe, or an abort that is not ours) means the device is not usable any more.
      if (err == ERROR_OPERATION_ABORTED && !abortTaken && takeDriverState(nullptr) &&
          (lineErrors_ & kLineErrors) != 0) {
        abortTaken = true;
        continue;
      }
      gone = true;
      break;
    }
    io.reading = false;
    if (n == 0) {
      if (++emptyReads_ >= kEmptyReadsAsGone) {
        gone = true;
      } else if (!startRead()) {
        gone = true;
      }
      break;
    }
    emptyReads_ = 0;
    keepReceived(io.readBuffer.data(), n, overflow);
    fresh = true;
  }
  // Errors of the line since the last look; a driver that does not answer is gone.
  if (!gone && !takeDriverState(nullptr)) gone = true;

  if (gone) {
    release();
    failure_ = {PortFailure::Kind::Gone, "the device went away"};
    if (onEvent) onEvent(PortEvent::LineError);
    return;
  }

  const unsigned long errors = lineErrors_;
  lineErrors_ = 0;
  // The driver's own queue ran over: bytes were lost as when ours does.
  if ((errors & CE_RXOVER) != 0) overflow = true;
  if ((errors & kLineErrors) != 0) {
    // The bytes received until now reach the host first, then the error.
    if (overflow && !raise(PortEvent::ReceiveOverflow, session)) return;
    if (!rx_.empty() && rThreshold_ > 0 && !raise(PortEvent::DataReceived, session)) return;
    raise(PortEvent::LineError, session);
    return;
  }
  if (overflow && !raise(PortEvent::ReceiveOverflow, session)) return;
  if (fresh && rThreshold_ > 0 && static_cast<std::int32_t>(rx_.size()) >= rThreshold_) {
    raise(PortEvent::DataReceived, session);
  }
}

}  // namespace tarnset
