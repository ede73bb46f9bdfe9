#include "platform/win32/Win32SerialPort.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/win32/ComNames.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32PortCalls.h"

namespace tarnset {

namespace {

// The largest read the port asks for.
constexpr std::size_t kReadBufferSize = 4096;
// Driver errors that break the bytes being received.
constexpr DWORD kLineErrors = CE_FRAME | CE_BREAK | CE_RXPARITY | CE_OVERRUN;
// A bounded number of completed reads per service(): a device that never stops sending
// cannot hold the event loop there; the read's event stays signalled and the next call
// goes on.
constexpr int kReadsPerService = 64;
// With the port's time-outs a read completes only with bytes. A driver that ends reads
// at once without any (or fails them without being removed) would keep the event loop
// busy: after this many in a row, each next read starts only after a pause.
constexpr int kIdleReadsBeforePause = 3;
constexpr DWORD kPauseMs = 10;
// How long a read waits after a byte for the next one before it completes, when it has
// not got all it asked for.
constexpr DWORD kReadIntervalMs = 1;
// Up to this baud rate (the link's rate for answers and adjustments) the read that waits
// for bytes asks for one: it completes as that byte arrives, and the bytes behind it are
// taken at once by a read of just their number, so that a frame's end byte reaches the
// program as it arrives. (Drivers do not end a read at a given byte, and Wine offers no
// event character: a read that asks for more ends only by the interval, which would add
// itself to every answer.) Above it (the clone transfer's stream) a read waits for
// about 50 ms of line time, which keeps the wake-ups few.
constexpr std::int32_t kByteWiseUpToBaud = 9600;

// How many bytes the read that waits for data asks for at a baud.
DWORD waitingReadSize(std::int32_t baud) {
  if (baud <= kByteWiseUpToBaud) return 1;
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
  DWORD waitSize = 1;    // what the read that waits for data asks for
  DWORD readSize = 1;    // what the next read asks for: waitSize, or the bytes the driver holds
  std::array<std::uint8_t, kReadBufferSize> readBuffer{};
  Bytes writeBuffer;  // the bytes of the write under way
};

// What the worker thread of an open and the port share. The worker opens the device and,
// unless the port has given up on it by then, leaves the handle here and signals the
// read's event; given up, it closes the handle itself and touches nothing else.
struct Win32SerialPort::OpenJob {
  std::mutex mutex;
  HANDLE event = nullptr;  // the port's read event
  bool done = false;
  bool abandoned = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  DWORD error = 0;

  static void run(const std::shared_ptr<OpenJob>& job, Win32PortCalls& calls, const std::string& device) {
    const HANDLE h = calls.createFile(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, FILE_FLAG_OVERLAPPED);
    const DWORD error = h == INVALID_HANDLE_VALUE ? calls.lastError() : 0;
    const std::lock_guard<std::mutex> lock(job->mutex);
    if (job->abandoned) {
      if (h != INVALID_HANDLE_VALUE) calls.closeHandle(h);
      return;
    }
    job->handle = h;
    job->error = error;
    job->done = true;
    SetEvent(job->event);
  }
  bool isDone() {
    const std::lock_guard<std::mutex> lock(mutex);
    return done;
  }
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
    case ERROR_SEM_TIMEOUT:
      return {Kind::Other, "the device does not respond (" + win32::errorText(error) + ")"};
    default:
      return {Kind::Other, "cannot open the device (" + win32::errorText(error) + ")"};
  }
}

bool isRemovalError(unsigned long error) {
  switch (error) {
    // The driver's own words for a device that left (as Qt's serial port reads them: an
    // access denied after the open is one of them) ...
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_INVALID_HANDLE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    // ... and Wine's for a pseudo-terminal whose far end was closed.
    case ERROR_BROKEN_PIPE:
      return true;
    default:
      return false;
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

void Win32SerialPort::setTimeLimits(unsigned long openWaitMs, unsigned long openLimitMs,
                                    unsigned long closeWaitMs) {
  openWaitMs_ = openWaitMs;
  openLimitMs_ = std::max(openLimitMs, openWaitMs);
  closeWaitMs_ = closeWaitMs;
}

bool Win32SerialPort::ready() const {
  return io_->port != INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::opening() const {
  return job_ != nullptr;
}

bool Win32SerialPort::isOpen() const {
  return ready() || opening();
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

  // The bytes written while the device opens wait for it in the new session.
  io.claim = claim;
  newSession();
  calls_.resetEvent(io.readEvent);
  calls_.resetEvent(io.writeEvent);

  auto job = std::make_shared<OpenJob>();
  job->event = io.readEvent;
  job_ = job;
  try {
    std::thread(OpenJob::run, job, std::ref(calls_), device_).detach();
  } catch (const std::system_error&) {
    OpenJob::run(job, calls_, device_);  // no thread to be had: the open waits here
  }
  const HANDLE event = io.readEvent;
  calls_.waitForAll(&event, 1, openWaitMs_);
  if (job->isDone()) return finishOpen();

  // Still opening: the port counts as open, and the read's event wakes the loop when the
  // open returns or its time is up. Without a timer the rest of the time is waited here.
  openTimer_ = calls_.startTimer(io.readEvent, openLimitMs_ - openWaitMs_);
  if (openTimer_ == nullptr) {
    calls_.waitForAll(&event, 1, openLimitMs_ - openWaitMs_);
    if (job->isDone()) return finishOpen();
    giveUpOpen();
    return false;
  }
  return true;
}

bool Win32SerialPort::finishOpen() {
  DWORD error = 0;
  {
    const std::lock_guard<std::mutex> lock(job_->mutex);
    io_->port = job_->handle;  // ours from here on
    error = job_->error;
    job_->handle = INVALID_HANDLE_VALUE;
  }
  job_.reset();
  calls_.stopTimer(openTimer_);
  openTimer_ = nullptr;
  calls_.resetEvent(io_->readEvent);
  if (ready() && configure(io_->port)) return true;
  PortFailure why = ready() ? failure_ : describeOpenFailure(error);
  why.bluetooth = calls_.isBluetooth(device_);
  release();
  failure_ = why;
  return false;
}

void Win32SerialPort::giveUpOpen() {
  const bool bluetooth = calls_.isBluetooth(device_);
  PortFailure why{PortFailure::Kind::Other,
                  bluetooth ? std::string("no answer from the Bluetooth port")
                            : "no answer from the port (its driver did not open it within " +
                                  std::to_string(openLimitMs_ / 1000) + " s)"};
  why.bluetooth = bluetooth;
  release();
  failure_ = why;
}

bool Win32SerialPort::configure(void* handle) {
  using Kind = PortFailure::Kind;
  Io& io = *io_;
  const HANDLE h = handle;

  // The driver's queues as the program's buffers are sized; a driver may keep its own.
  calls_.setupComm(h, kInBufferSize, kOutBufferSize);

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!calls_.getCommState(h, &dcb)) {
    failure_ = {Kind::NotASerialPort, "not a serial port"};
    return false;
  }
  dcb.BaudRate = static_cast<DWORD>(baud_);
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
  // Unused without XON/XOFF, but some drivers check them anyway and refuse a state whose
  // two characters are equal (as another program may have left them): the usual values.
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = 2048;
  dcb.XoffLim = 512;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  // The cable draws its power from DTR and RTS.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  // Every byte is delivered as received: none replaced, none dropped, and a line error
  // does not stop the reads (ClearCommError reports it).
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!calls_.setCommState(h, &dcb)) {
    failure_ = {Kind::Other, "the line settings were refused (" + win32::errorText(calls_.lastError()) + ")"};
    return false;
  }

  // A read waits for its first byte without limit and completes kReadIntervalMs after
  // the last one. (Waiting for communication events instead completes at once, over and
  // over, under Wine; "first byte or a total time-out" never completes there on an
  // overlapped handle.)
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  if (!calls_.setCommTimeouts(h, &timeouts)) {
    failure_ = {Kind::Other,
                "the port's time-outs were refused (" + win32::errorText(calls_.lastError()) + ")"};
    return false;
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

  io.waitSize = waitingReadSize(baud_);
  io.readSize = io.waitSize;
  if (!startRead()) {
    failure_ = {Kind::Other, "cannot read from the device (" + win32::errorText(calls_.lastError()) + ")"};
    return false;
  }
  pushQueue();  // what was written while the device opened
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

void Win32SerialPort::pauseReads() {
  // The read's event wakes the loop again when the pause is over; until then nothing
  // is read. Without a timer the next read starts at once.
  Io& io = *io_;
  calls_.resetEvent(io.readEvent);
  pauseTimer_ = calls_.startTimer(io.readEvent, kPauseMs);
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
  if (!isOpen() && io_->claim == nullptr) return;
  if (opening()) {
    // Given up: the worker closes whatever handle it may still bring, and one it brought
    // just now is closed here.
    {
      const std::lock_guard<std::mutex> lock(job_->mutex);
      job_->abandoned = true;
      if (job_->done && job_->handle != INVALID_HANDLE_VALUE) calls_.closeHandle(job_->handle);
      job_->handle = INVALID_HANDLE_VALUE;
    }
    job_.reset();
    calls_.stopTimer(openTimer_);
    openTimer_ = nullptr;
  }
  calls_.stopTimer(pauseTimer_);
  pauseTimer_ = nullptr;
  Io& io = *io_;
  bool stuck = false;
  if (ready()) {
    // The operations under way must end before their buffers may be reused; a driver that
    // does not end them in time keeps them.
    if (io.reading || io.writing) calls_.cancelIo(io.port, nullptr);
    HANDLE underWay[2];
    DWORD count = 0;
    if (io.reading) underWay[count++] = io.readEvent;
    if (io.writing) underWay[count++] = io.writeEvent;
    if (count > 0) calls_.waitForAll(underWay, count, closeWaitMs_);
    DWORD done = 0;
    const auto ended = [&](OVERLAPPED* ov) {
      return calls_.getOverlappedResult(io.port, ov, &done) || calls_.lastError() != ERROR_IO_INCOMPLETE;
    };
    stuck = (io.reading && !ended(&io.readOv)) || (io.writing && !ended(&io.writeOv));
    // Pending output is dropped so that closing never waits for a stalled line.
    calls_.purgeComm(io.port, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
    calls_.closeHandle(io.port);
    io.port = INVALID_HANDLE_VALUE;
  }
  if (io.claim != nullptr) {
    calls_.closeHandle(io.claim);
    io.claim = nullptr;
  }
  if (stuck) {
    // The driver may still write into the read's buffer and signal the operations'
    // events whenever it ends them, if ever: the whole block stays its own (deliberately
    // never freed, a few kilobytes), and the next open makes new events.
    (void)io_.release();
    io_ = std::make_unique<Io>();
  } else {
    io.reading = false;
    io.writing = false;
    io.writeBuffer.clear();
    calls_.resetEvent(io.readEvent);
    calls_.resetEvent(io.writeEvent);
  }
  newSession();
}

void Win32SerialPort::newSession() {
  // What the last session received or left unsent belongs to nobody.
  ++session_;
  rx_.clear();
  txQueue_.clear();
  lineErrors_ = 0;
  dropNextRead_ = false;
  idleReads_ = 0;
}

void Win32SerialPort::close() {
  release();
}

bool Win32SerialPort::discardOutput() {
  txQueue_.clear();
  if (!ready()) return true;
  Io& io = *io_;
  if (io.writing) {
    calls_.cancelIo(io.port, &io.writeOv);
    calls_.waitForAll(&io.writeEvent, 1, closeWaitMs_);
    DWORD done = 0;
    // A write the driver does not end stays under way; what follows waits behind it.
    if (calls_.getOverlappedResult(io.port, &io.writeOv, &done) ||
        calls_.lastError() != ERROR_IO_INCOMPLETE) {
      io.writing = false;
      io.writeBuffer.clear();
    }
  }
  return calls_.purgeComm(io.port, PURGE_TXABORT | PURGE_TXCLEAR) != FALSE;
}

void Win32SerialPort::pushQueue() {
  if (!ready()) return;
  Io& io = *io_;
  // A write that the driver finished at once is taken at once too, so that a few rounds
  // suffice: each starts the bytes that wait, and only a short write brings any back.
  for (int round = 0; round < 4; ++round) {
    if (io.writing) {
      DWORD sent = 0;
      if (calls_.getOverlappedResult(io.port, &io.writeOv, &sent)) {
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
  // Still opening, or a write under way: the bytes wait their turn.
  if (!ready() || io.writing) return true;
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

bool Win32SerialPort::takeDriverState(unsigned long* inQueue, unsigned long* outQueue) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!calls_.clearCommError(io_->port, &errors, &stat)) return false;
  // Reading the errors clears them in the driver: they wait here for service().
  lineErrors_ |= errors;
  if (inQueue != nullptr) *inQueue = stat.cbInQue;
  if (outQueue != nullptr) *outQueue = stat.cbOutQue;
  return true;
}

std::int32_t Win32SerialPort::outBufferCount() {
  if (!isOpen()) return 0;
  pushQueue();
  unsigned long driverQueue = 0;
  if (!ready() || !takeDriverState(nullptr, &driverQueue)) driverQueue = 0;
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

bool Win32SerialPort::raiseLineError(bool& overflow, unsigned session) {
  if (overflow) {
    overflow = false;
    if (!raise(PortEvent::ReceiveOverflow, session)) return false;
  }
  if (!rx_.empty() && rThreshold_ > 0 && !raise(PortEvent::DataReceived, session)) return false;
  return raise(PortEvent::LineError, session);
}

void Win32SerialPort::lost(PortFailure why) {
  release();
  failure_ = std::move(why);
  if (onEvent) onEvent(PortEvent::LineError);
}

void Win32SerialPort::service() {
  if (!isOpen()) return;
  if (opening()) {
    const HANDLE event = io_->readEvent;
    if (!job_->isDone()) {
      // Woken before the open returned: its time is up (or nothing happened at all).
      if (calls_.waitForAll(&event, 1, 0) != WAIT_OBJECT_0) return;
      giveUpOpen();
      if (onEvent) onEvent(PortEvent::LineError);
      return;
    }
    if (!finishOpen()) {
      if (onEvent) onEvent(PortEvent::LineError);
      return;
    }
  }
  pushQueue();

  // A handler may close or reopen the port: later events belong to this session only.
  const unsigned session = session_;
  Io& io = *io_;
  bool fresh = false;  // data bytes arrived in this call, not announced yet
  bool overflow = false;
  bool gone = false;
  bool abortTaken = false;
  for (int reads = 0; reads < kReadsPerService && !gone; ++reads) {
    if (!io.reading) {
      if (pauseTimer_ != nullptr) {
        // Reads wait for the end of a pause, which the read's event tells.
        if (calls_.waitForAll(&io.readEvent, 1, 0) != WAIT_OBJECT_0) break;
        calls_.stopTimer(pauseTimer_);
        pauseTimer_ = nullptr;
      }
      if (!startRead()) {
        if (isRemovalError(calls_.lastError())) {
          gone = true;
        } else if (++idleReads_ >= kIdleReadsBeforePause) {
          pauseReads();
        }
        break;
      }
    }
    DWORD n = 0;
    if (!calls_.getOverlappedResult(io.port, &io.readOv, &n)) {
      const DWORD err = calls_.lastError();
      // Still waiting for bytes; the read reset the event when it started.
      if (err == ERROR_IO_INCOMPLETE) break;
      io.reading = false;
      n = 0;
      // Some drivers abort a read at a line error whatever the line settings say; with
      // the error in hand that is no lost device, and the next read goes on. Any other
      // removal error (or an abort that is not ours) means the device is gone; other
      // failures only count against the reads.
      const bool lineAbort = err == ERROR_OPERATION_ABORTED && !abortTaken &&
                             takeDriverState(nullptr, nullptr) && (lineErrors_ & kLineErrors) != 0;
      if (lineAbort) {
        abortTaken = true;
      } else if (isRemovalError(err)) {
        gone = true;
        break;
      }
    }
    io.reading = false;

    // The driver's errors since the last look belong to the bytes of this read or to
    // those it still holds; a driver that does not answer is gone when it says so.
    unsigned long inQueue = 0;
    if (!takeDriverState(&inQueue, nullptr) && isRemovalError(calls_.lastError())) {
      gone = true;
      break;
    }
    // The bytes the driver holds already are taken at once by a read of their number.
    io.readSize =
        inQueue > 0 ? static_cast<DWORD>(std::min<unsigned long>(inQueue, kReadBufferSize)) : io.waitSize;
    const unsigned long errors = lineErrors_;
    lineErrors_ = 0;
    // The driver's own queue ran over: bytes were lost as when ours does.
    if ((errors & CE_RXOVER) != 0) overflow = true;
    if ((errors & kLineErrors) != 0) {
      // Where in the bytes the error was, the driver does not say: the bytes of this read
      // are dropped, and so are those of the next when the driver holds more, so that the
      // frame they belong to is lost whole. The bytes before them go first.
      dropNextRead_ = n == 0 || inQueue > 0;
      idleReads_ = 0;
      fresh = false;
      if (!raiseLineError(overflow, session)) return;
      continue;
    }
    if (n == 0) {
      if (++idleReads_ >= kIdleReadsBeforePause) {
        pauseReads();
        break;
      }
      continue;
    }
    idleReads_ = 0;
    if (dropNextRead_) {
      dropNextRead_ = false;  // the rest of a frame whose error was reported
      continue;
    }
    keepReceived(io.readBuffer.data(), n, overflow);
    fresh = true;
  }

  if (gone) {
    lost({PortFailure::Kind::Gone, "the device went away"});
    return;
  }
  if (overflow && !raise(PortEvent::ReceiveOverflow, session)) return;
  if (fresh && rThreshold_ > 0 && static_cast<std::int32_t>(rx_.size()) >= rThreshold_) {
    raise(PortEvent::DataReceived, session);
  }
}

}  // namespace tarnset
