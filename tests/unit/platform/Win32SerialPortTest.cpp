// The Windows serial port over a fake driver under its system calls: one that reports
// framing errors and breaks, that goes away mid-read, stalls or refuses writes, refuses
// DTR as Wine's pseudo-terminal ports do, keeps stale input, never finishes opening a
// Bluetooth port, never ends a cancelled read, or ends reads without bytes: all that a
// port under Wine cannot show. The fake's events are real events, so that the tests see
// what the event loop would wait on; its timers fire when the test says. A few failures
// are asked of the system itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Text.h"
#include "platform/win32/Win32PortCalls.h"
#include "platform/win32/Win32SerialPort.h"
#include "unit/platform/SerialPortContract.h"

namespace tarnset {
namespace {

using contract::hex;

// A COM driver the test scripts. Reads and writes are overlapped as the system's are:
// an operation under way completes when the test lets it (bytes arrive, a write is let
// through, the device goes away), and signals its event then.
class FakeDriver : public Win32PortCalls {
 public:
  // One overlapped operation under way or done.
  struct Op {
    OVERLAPPED* ov = nullptr;
    std::uint8_t* buffer = nullptr;  // a read's
    DWORD count = 0;
    Bytes data;  // a write's bytes
    bool done = false;
    DWORD transferred = 0;
    DWORD error = 0;
  };

  static HANDLE device() { return reinterpret_cast<HANDLE>(std::intptr_t{0x5A0}); }

  ~FakeDriver() override { EXPECT_TRUE(events.empty()) << "the port left events open"; }

  HANDLE createFile(const char* path, DWORD access_, DWORD share_, DWORD flags_) override {
    // Called on the open's worker thread: a gated open holds it there, as a Bluetooth
    // port's driver does, until the test lets it go (nothing of the fake is touched
    // meanwhile).
    if (openGate != nullptr) WaitForSingleObject(openGate, INFINITE);
    const std::lock_guard<std::mutex> lock(openMutex);  // two opens let go at once
    struct Returned {
      std::atomic<int>& count;
      ~Returned() { ++count; }
    } returned{opensReturned};
    log.push_back("open");
    opened = path;
    access = access_;
    share = share_;
    flags = flags_;
    if (openError != 0) {
      failWith(openError);
      return INVALID_HANDLE_VALUE;
    }
    ++opens;
    // A new handle: what was under way on an earlier one is no concern of this one.
    read = Op{};
    write = Op{};
    return device();
  }
  BOOL closeHandle(HANDLE h) override {
    if (h == device()) {
      ++closes;
      return TRUE;
    }
    if (mutexes.count(h) != 0) {
      --claims[mutexes[h]];
      mutexes.erase(h);
      return TRUE;
    }
    EXPECT_EQ(events.count(h), 1u) << "closes a handle it does not have";
    events.erase(h);
    return CloseHandle(h);
  }
  BOOL getCommState(HANDLE, DCB* d) override {
    if (getStateError != 0) return failWith(getStateError);
    *d = dcb;
    return TRUE;
  }
  BOOL setCommState(HANDLE, DCB* d) override {
    if (setStateError != 0) return failWith(setStateError);
    dcb = *d;
    return TRUE;
  }
  BOOL setCommTimeouts(HANDLE, COMMTIMEOUTS* t) override {
    timeouts = *t;
    return TRUE;
  }
  BOOL setupComm(HANDLE, DWORD in, DWORD out) override {
    inQueueSize = in;
    outQueueSize = out;
    return TRUE;
  }
  BOOL purgeComm(HANDLE, DWORD how) override {
    log.push_back("purge");
    purges.push_back(how);
    if ((how & PURGE_RXCLEAR) != 0) input.clear();
    if ((how & PURGE_TXCLEAR) != 0) outQueue = 0;
    if ((how & PURGE_RXABORT) != 0 && !ignoreCancels) abort(read);
    if ((how & PURGE_TXABORT) != 0 && !ignoreCancels) abort(write);
    return TRUE;
  }
  BOOL clearCommError(HANDLE, DWORD* errors, COMSTAT* stat) override {
    if (goneError != 0) return failWith(goneError);
    *errors = lineErrors;
    lineErrors = 0;
    *stat = COMSTAT{};
    stat->cbInQue = static_cast<DWORD>(input.size());
    stat->cbOutQue = outQueue;
    return TRUE;
  }
  BOOL escapeCommFunction(HANDLE, DWORD function) override {
    escapes.push_back(function);
    if (escapeError != 0) return failWith(escapeError);
    return TRUE;
  }
  BOOL readFile(HANDLE, void* buffer, DWORD count, OVERLAPPED* ov) override {
    log.push_back("read");
    EXPECT_TRUE(read.ov == nullptr || read.done) << "a second read while one is under way";
    ResetEvent(ov->hEvent);
    if (goneError != 0) return failWith(goneError);
    read = Op{};
    read.ov = ov;
    read.buffer = static_cast<std::uint8_t*>(buffer);
    read.count = count;
    ++reads;
    if (emptyReads > 0) {
      --emptyReads;
      complete(read, 0, 0);
      return TRUE;
    }
    if (!input.empty()) {
      deliver();
      return TRUE;
    }
    return failWith(ERROR_IO_PENDING);
  }
  BOOL writeFile(HANDLE, const void* buffer, DWORD count, OVERLAPPED* ov) override {
    EXPECT_TRUE(write.ov == nullptr || write.done) << "a second write while one is under way";
    ResetEvent(ov->hEvent);
    if (writeError != 0) return failWith(writeError);
    write = Op{};
    write.ov = ov;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    write.data.assign(bytes, bytes + count);
    writeSizes.push_back(count);
    if (stallWrites) return failWith(ERROR_IO_PENDING);
    written.insert(written.end(), write.data.begin(), write.data.end());
    complete(write, count, 0);
    return TRUE;
  }
  BOOL getOverlappedResult(HANDLE, OVERLAPPED* ov, DWORD* transferred) override {
    Op* op = ov == read.ov ? &read : ov == write.ov ? &write : nullptr;
    if (op == nullptr) {
      ADD_FAILURE() << "asks for an operation it never started";
      return failWith(ERROR_INVALID_PARAMETER);
    }
    if (!op->done) return failWith(ERROR_IO_INCOMPLETE);
    *transferred = op->transferred;
    if (op->error != 0) return failWith(op->error);
    return TRUE;
  }
  BOOL cancelIo(HANDLE, OVERLAPPED* ov) override {
    ++cancels;
    if (ignoreCancels) return TRUE;  // a driver that never ends what it was told to cancel
    if (ov == nullptr || ov == read.ov) abort(read);
    if (ov == nullptr || ov == write.ov) abort(write);
    return TRUE;
  }
  HANDLE createEvent() override {
    const HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    events.insert(h);
    return h;
  }
  BOOL resetEvent(HANDLE event) override { return ResetEvent(event); }
  DWORD waitForAll(const HANDLE* handles, DWORD count, DWORD ms) override {
    waits.push_back(ms);
    return WaitForMultipleObjects(count, handles, TRUE, ms);
  }
  HANDLE startTimer(HANDLE event, DWORD ms) override {
    const HANDLE timer = reinterpret_cast<HANDLE>(std::intptr_t{0x9000} + nextTimer++);
    timers[timer] = {event, ms};
    return timer;
  }
  void stopTimer(HANDLE timer) override {
    if (timer != nullptr) {
      EXPECT_EQ(timers.erase(timer), 1u) << "stops a timer it never started";
    }
  }
  bool isBluetooth(const std::string& device) override { return bluetoothPorts.count(device) != 0; }
  HANDLE createMutex(const char* name) override {
    const HANDLE h = reinterpret_cast<HANDLE>(std::intptr_t{0x7000} + nextMutex++);
    mutexes[h] = name;
    lastError_ = claims[name]++ > 0 ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return h;
  }
  DWORD lastError() override { return lastError_; }

  // ---- what the test does -------------------------------------------------------

  // Bytes reach the driver; a read under way takes what it asks for.
  void arrive(const Bytes& bytes) {
    input.insert(input.end(), bytes.begin(), bytes.end());
    deliver();
  }
  // The device goes away: the read under way fails with err, and so does every later
  // call on the device.
  void vanish(DWORD err) {
    goneError = err;
    if (read.ov != nullptr && !read.done) complete(read, 0, err);
  }
  // The read under way ends with err (the driver stays).
  void failRead(DWORD err) { complete(read, 0, err); }
  // Stalled writes go out now, and later ones at once.
  void finishWrites() {
    stallWrites = false;
    if (write.ov != nullptr && !write.done) {
      written.insert(written.end(), write.data.begin(), write.data.end());
      complete(write, static_cast<DWORD>(write.data.size()), 0);
    }
  }
  // The one timer running signals its event now (as its time has come); false when
  // none runs.
  bool fireTimer() {
    if (timers.size() != 1) return false;
    SetEvent(timers.begin()->second.first);
    return true;
  }
  // The milliseconds of the one timer running, 0 when none runs.
  DWORD timerMs() const { return timers.size() == 1 ? timers.begin()->second.second : 0; }
  bool readUnderWay() const { return read.ov != nullptr && !read.done; }
  bool writeUnderWay() const { return write.ov != nullptr && !write.done; }
  // The event of the read, as the driver saw it last.
  HANDLE readEvent() const { return read.ov != nullptr ? read.ov->hEvent : nullptr; }
  long count(const std::string& call) const { return std::count(log.begin(), log.end(), call); }

  // What the port set and did.
  std::string opened;
  DWORD access = 0, share = 0, flags = 0;
  DCB dcb = messyLine();
  COMMTIMEOUTS timeouts{};
  DWORD inQueueSize = 0, outQueueSize = 0;
  std::vector<DWORD> purges;
  std::vector<DWORD> escapes;
  std::vector<std::string> log;  // "open", "purge", "read" in the order made
  std::vector<DWORD> writeSizes;
  Bytes written;
  std::atomic<int> opens{0}, closes{0};  // also counted on the opens' worker threads
  int cancels = 0, reads = 0;
  std::vector<DWORD> waits;  // the limit of each wait, in ms
  std::atomic<int> opensReturned{0};
  std::mutex openMutex;

  // What the driver does.
  DWORD openError = 0, getStateError = 0, setStateError = 0, escapeError = 0, writeError = 0;
  DWORD goneError = 0;   // every call on the device fails with this
  DWORD lineErrors = 0;  // CE_* for the next ClearCommError
  DWORD outQueue = 0;    // the driver's output count
  bool stallWrites = false;
  bool ignoreCancels = false;  // cancelled operations never end
  int emptyReads = 0;          // the next reads complete at once without a byte
  Bytes input;                 // received by the driver, not read yet
  HANDLE openGate = nullptr;   // when set: opens wait for this event
  std::set<std::string> bluetoothPorts;
  std::map<HANDLE, std::pair<HANDLE, DWORD>> timers;  // timer -> its event and milliseconds

  Op read, write;
  std::set<HANDLE> events;
  std::map<HANDLE, std::string> mutexes;
  std::map<std::string, int> claims;

 private:
  BOOL failWith(DWORD err) {
    lastError_ = err;
    return FALSE;
  }
  static void complete(Op& op, DWORD transferred, DWORD err) {
    op.done = true;
    op.transferred = transferred;
    op.error = err;
    SetEvent(op.ov->hEvent);
  }
  static void abort(Op& op) {
    if (op.ov != nullptr && !op.done) complete(op, 0, ERROR_OPERATION_ABORTED);
  }
  void deliver() {
    if (read.ov == nullptr || read.done || input.empty()) return;
    const DWORD n = std::min<DWORD>(read.count, static_cast<DWORD>(input.size()));
    std::memcpy(read.buffer, input.data(), n);
    input.erase(input.begin(), input.begin() + n);
    complete(read, n, 0);
  }
  // A line as another program may leave it: every setting the port must change is wrong.
  static DCB messyLine() {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = 1200;
    d.ByteSize = 7;
    d.Parity = EVENPARITY;
    d.StopBits = TWOSTOPBITS;
    d.fParity = TRUE;
    d.fOutxCtsFlow = TRUE;
    d.fOutxDsrFlow = TRUE;
    d.fDsrSensitivity = TRUE;
    d.fOutX = TRUE;
    d.fInX = TRUE;
    d.fDtrControl = DTR_CONTROL_HANDSHAKE;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fErrorChar = TRUE;
    d.fNull = TRUE;
    d.fAbortOnError = TRUE;
    d.XonLim = 0;
    d.XoffLim = 0;
    d.XonChar = 0;  // equal: a state some drivers refuse
    d.XoffChar = 0;
    d.EvtChar = 0x7E;
    return d;
  }

  DWORD lastError_ = 0;
  int nextMutex = 0;
  int nextTimer = 0;
};

// The open's worker thread may take its time on a loaded machine (under Wine beside other
// tests it was once not run for 10 s): a port over the fake driver waits for it as long as
// this (ms) before the open would go on in the background.
constexpr unsigned long kPatient = 30000;

// Ports over the fake driver wait for their opens (the tests of a background open set
// their own limits).
void patient(Win32SerialPort& port) {
  port.setTimeLimits(kPatient, kPatient, Win32SerialPort::kCloseWaitMs);
}

bool signalled(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

HANDLE handleOf(Waitable w) {
  return reinterpret_cast<HANDLE>(w);
}

// The port over the fake driver, with a handler that takes the received bytes at each
// event as the serial host does and records, per event, what it took:
// "data 10 11", "line error", "overflow", "gone".
class PortOverFakeDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    events_.attach(port_);
    patient(port_);
    ASSERT_TRUE(port_.open("\\\\.\\COM12", 9600)) << port_.failureReason();
  }

  // Services the port as the event loop does: while its waitable is signalled (at most
  // `limit` times). Returns how often.
  int serviceWhileSignalled(int limit = 10) {
    int n = 0;
    while (n < limit && port_.waitable() != kNoWaitable && signalled(handleOf(port_.waitable()))) {
      port_.service();
      ++n;
    }
    return n;
  }

  using Log = std::vector<std::string>;

  FakeDriver driver_;
  Win32SerialPort port_{driver_};
  contract::EventLog events_;
  Log& log_ = events_.entries;
  bool& takeAtEvent_ = events_.takeAtEvent;
  std::function<void(PortEvent)>& afterEvent_ = events_.after;
};

// The Win32 port over the fake driver for the contract every port keeps. A line error is
// told by the driver after the read it came with; the bytes before the damaged byte came
// in a read of their own, as when the driver's read ended before the damage arrived.
class Win32Rig {
 public:
  SerialPort& port() { return port_; }
  void open() {
    patient(port_);
    ASSERT_TRUE(port_.open("COM5", 9600)) << port_.failureReason();
  }
  void receive(const Bytes& bytes) {
    // In reads of the port's own size, each taken as the loop would.
    driver_.arrive(bytes);
    serviceWhileSignalled();
  }
  void receiveWithError(const Bytes& bytes, std::size_t bad) {
    if (bad > 0) receive(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bad)));
    driver_.lineErrors = CE_FRAME;
    receive(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(bad), bytes.end()));
  }
  void remove() {
    driver_.vanish(ERROR_DEVICE_REMOVED);
    serviceWhileSignalled();
  }
  void stallWrites() { driver_.stallWrites = true; }
  Bytes written() const { return driver_.written; }

 private:
  void serviceWhileSignalled() {
    for (int n = 0; n < 1000 && port_.waitable() != kNoWaitable && signalled(handleOf(port_.waitable()));
         ++n) {
      port_.service();
    }
  }

  FakeDriver driver_;
  Win32SerialPort port_{driver_};
};

TEST_F(PortOverFakeDriver, OpenSetsTheLineForTheCableAndKeepsOneReadUnderWay) {
  EXPECT_EQ(driver_.opened, "\\\\.\\COM12");
  EXPECT_EQ(driver_.access, DWORD(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(driver_.share, 0u) << "nobody else may open the port meanwhile";
  EXPECT_EQ(driver_.flags, DWORD(FILE_FLAG_OVERLAPPED));

  const DCB& d = driver_.dcb;
  EXPECT_EQ(d.BaudRate, 9600u);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, NOPARITY);
  EXPECT_EQ(d.StopBits, ONESTOPBIT);
  EXPECT_EQ(DWORD{d.fBinary}, 1u);
  EXPECT_EQ(DWORD{d.fParity}, 0u);
  EXPECT_EQ(d.fOutxCtsFlow | d.fOutxDsrFlow | d.fDsrSensitivity | d.fOutX | d.fInX, 0u) << "no handshake";
  EXPECT_EQ(DWORD{d.fDtrControl}, DWORD(DTR_CONTROL_ENABLE));
  EXPECT_EQ(DWORD{d.fRtsControl}, DWORD(RTS_CONTROL_ENABLE));
  EXPECT_EQ(d.fErrorChar | d.fNull | d.fAbortOnError, 0u) << "bytes kept as received, reads not stopped";
  // The handshake's characters and limits as drivers expect them, whatever was there.
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.XonLim, 2048);
  EXPECT_EQ(d.XoffLim, 512);
  EXPECT_EQ(d.EvtChar, 0);

  EXPECT_EQ(driver_.timeouts.ReadIntervalTimeout, 1u) << "a read ends 1 ms after the last byte";
  EXPECT_EQ(driver_.timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(driver_.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver_.timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(driver_.timeouts.WriteTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver_.inQueueSize, DWORD(SerialPort::kInBufferSize));
  EXPECT_EQ(driver_.outQueueSize, DWORD(SerialPort::kOutBufferSize));
  EXPECT_NE(std::find(driver_.escapes.begin(), driver_.escapes.end(), DWORD(SETDTR)), driver_.escapes.end());
  EXPECT_NE(std::find(driver_.escapes.begin(), driver_.escapes.end(), DWORD(SETRTS)), driver_.escapes.end());

  // The waitable is the read's event; quiet while nothing arrives. At 9600 baud the read
  // waits for one byte, so that it ends as a frame's last byte arrives.
  EXPECT_TRUE(driver_.readUnderWay());
  EXPECT_EQ(driver_.read.count, 1u);
  EXPECT_FALSE(port_.opening());
  EXPECT_EQ(handleOf(port_.waitable()), driver_.readEvent());
  EXPECT_FALSE(signalled(driver_.readEvent()));

  // A new speed is a new open; a port written as people write it opens its device.
  port_.close();
  ASSERT_TRUE(port_.open("com3", 38400)) << port_.failureReason();
  EXPECT_EQ(driver_.opened, "\\\\.\\COM3");
  EXPECT_EQ(port_.device(), "\\\\.\\COM3");
  EXPECT_EQ(driver_.dcb.BaudRate, 38400u);
  EXPECT_EQ(driver_.read.count, 192u) << "a stream at 38400 baud is read in 50 ms of line time";
  // The bytes behind the first are taken by a read of their number.
  driver_.arrive(Bytes(300, 0x30));
  serviceWhileSignalled();
  EXPECT_EQ(driver_.reads, 1 + 2 + 1) << "192 bytes, the 108 the driver held, then the waiting read";
}

TEST_F(PortOverFakeDriver, StaleInputAndErrorsAreDiscardedBeforeTheFirstRead) {
  port_.close();
  driver_.log.clear();
  driver_.purges.clear();
  driver_.input = {0x11, 0x22};  // arrived while the port was closed
  driver_.lineErrors = CE_FRAME;
  ASSERT_TRUE(port_.open("COM12", 9600));
  const auto purge = std::find(driver_.log.begin(), driver_.log.end(), "purge");
  const auto read = std::find(driver_.log.begin(), driver_.log.end(), "read");
  ASSERT_NE(purge, driver_.log.end());
  EXPECT_LT(purge, read);
  EXPECT_NE(driver_.purges.front() & PURGE_RXCLEAR, 0u);
  port_.service();
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(port_.inBufferCount(), 0);

  driver_.arrive({0x33});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 33"}));
}

TEST_F(PortOverFakeDriver, ARefusedDtrOrRtsDoesNotFailTheOpen) {
  // Wine's pseudo-terminal ports answer "not supported".
  port_.close();
  driver_.escapeError = ERROR_NOT_SUPPORTED;
  ASSERT_TRUE(port_.open("COM7", 9600)) << port_.failureReason();
  EXPECT_EQ(port_.failure().kind, PortFailure::Kind::None);
  EXPECT_EQ(DWORD{driver_.dcb.fDtrControl}, DWORD(DTR_CONTROL_ENABLE));
  driver_.arrive({0x41});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 41"}));
}

TEST_F(PortOverFakeDriver, ArrivingBytesSignalTheWaitableAndServiceQuietsIt) {
  const HANDLE event = handleOf(port_.waitable());
  driver_.arrive({0xFE, 0xFE, 0xEF});
  EXPECT_TRUE(signalled(event));
  port_.service();
  EXPECT_EQ(log_, (Log{"data FE FE EF"}));
  EXPECT_FALSE(signalled(event)) << "a quiet port must not wake the loop again";
  EXPECT_TRUE(driver_.readUnderWay());

  // Bytes that come while no read is under way are taken by the next one at once.
  log_.clear();
  driver_.arrive({0x01});
  driver_.input = {0x02, 0x03};
  EXPECT_EQ(serviceWhileSignalled(), 1);
  EXPECT_EQ(log_, (Log{"data 01 02 03"}));
  EXPECT_FALSE(signalled(event));
}

TEST_F(PortOverFakeDriver, EveryKindOfLineErrorDropsTheBytesItCameWithAfterTheBytesBeforeIt) {
  struct Case {
    const char* what;
    DWORD errors;
  } cases[] = {
      {"framing error", CE_FRAME},
      {"break", CE_BREAK},
      {"parity error", CE_RXPARITY},
      {"overrun", CE_OVERRUN},
      {"several at once", CE_FRAME | CE_BREAK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    driver_.arrive({0x10, 0x11});
    serviceWhileSignalled();
    driver_.lineErrors = c.errors;  // with the next bytes, in the read they complete
    driver_.arrive({0x12, 0x13});
    serviceWhileSignalled();
    EXPECT_EQ(log_, (Log{"data 10 11", "line error"}));
    EXPECT_TRUE(port_.isOpen());
    EXPECT_FALSE(signalled(handleOf(port_.waitable())));
    // The bytes after it go on as usual.
    log_.clear();
    driver_.arrive({0x14});
    serviceWhileSignalled();
    EXPECT_EQ(log_, (Log{"data 14"}));
  }
}

TEST_F(PortOverFakeDriver, AnAnswerWithAGarbledDigitIsNeverAReading) {
  // The whole answer in one read, one of its hex digits damaged into another digit: the
  // driver tells the framing error only after the bytes. The frame must not reach the
  // host whole: its bytes are dropped after the line error.
  const Bytes answer{0xFE, 0xFE, 0xEF, 0xEE, 0xE8, 0x26, 0x51, 0x01, 0x00, 0x03, 0x37, 0x46, 0xFD};
  contract::FrameCutter cutter;
  port_.onEvent = [&](PortEvent ev) {
    if (ev == PortEvent::LineError) cutter.lineError();
    cutter.bytes(port_.readAll());
    log_.push_back(ev == PortEvent::LineError ? "line error" : "data");
  };
  driver_.lineErrors = CE_FRAME;
  driver_.arrive(answer);
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error"}));
  EXPECT_TRUE(cutter.frames().empty());

  // The driver tells the error while it still holds bytes behind the read: those may be
  // the damaged ones, and they go too; the frame's rest, coming later, is junk to the host.
  log_.clear();
  driver_.arrive(Bytes(answer.begin(), answer.begin() + 8));
  driver_.lineErrors = CE_RXPARITY;
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error"}));
  driver_.arrive(Bytes(answer.begin() + 8, answer.end()));
  serviceWhileSignalled();
  EXPECT_TRUE(cutter.frames().empty());

  // The next answer comes through; so does the host's resend.
  driver_.arrive(answer);
  serviceWhileSignalled();
  EXPECT_EQ(cutter.frames().size(), 1u);
}

TEST_F(PortOverFakeDriver, BytesBeforeAnErrorAreAnnouncedBelowTheThresholdAndWaitWhenNotTaken) {
  takeAtEvent_ = false;
  port_.setRThreshold(1024);
  std::vector<std::int32_t> waiting;
  afterEvent_ = [&](PortEvent) { waiting.push_back(port_.inBufferCount()); };
  driver_.arrive({0x10, 0x11});
  serviceWhileSignalled();
  driver_.lineErrors = CE_BREAK;
  driver_.arrive({0x12});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data", "line error"}));
  EXPECT_EQ(waiting, (std::vector<std::int32_t>{2, 2}));
  driver_.arrive({0x13});
  serviceWhileSignalled();
  EXPECT_EQ(log_.size(), 2u) << "three bytes are below the threshold";
  EXPECT_EQ(port_.readAll(), (Bytes{0x10, 0x11, 0x13}));
}

TEST_F(PortOverFakeDriver, ErrorsSeenWhileCountingTheOutputAreNotLost) {
  // Counting the output asks the driver, which clears its errors as it tells them: they
  // are the next read's.
  driver_.lineErrors = CE_FRAME;
  EXPECT_EQ(port_.outBufferCount(), 0);
  EXPECT_EQ(driver_.lineErrors, 0u);
  driver_.arrive({0x20});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error"}));
}

TEST_F(PortOverFakeDriver, BytesTheDriverLostAreReportedAsAnOverflowBeforeTheBytes) {
  // The driver's own queue ran over: the overflow comes before the bytes received.
  takeAtEvent_ = false;
  driver_.lineErrors = CE_RXOVER;
  driver_.arrive({0x01});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"overflow", "data"}));
  EXPECT_EQ(port_.readAll(), (Bytes{0x01}));
}

TEST_F(PortOverFakeDriver, OnlyTheDriversRemovalErrorsMeanARemovedAdapter) {
  struct Case {
    const char* what;
    DWORD error;
  } removals[] = {
      {"device removed", ERROR_DEVICE_REMOVED},
      {"bad command", ERROR_BAD_COMMAND},
      {"access denied after the open", ERROR_ACCESS_DENIED},
      {"an abort that is not ours", ERROR_OPERATION_ABORTED},
      {"a handle the driver forgot", ERROR_INVALID_HANDLE},
      {"Wine: the pseudo-terminal's far end closed", ERROR_BROKEN_PIPE},
  };
  for (const Case& c : removals) {
    SCOPED_TRACE(c.what);
    log_.clear();
    driver_.goneError = 0;
    ASSERT_TRUE(port_.open("COM12", 9600));
    const HANDLE event = handleOf(port_.waitable());
    const int closesBefore = driver_.closes;
    driver_.vanish(c.error);
    EXPECT_TRUE(signalled(event));
    port_.service();
    EXPECT_EQ(log_, (Log{"gone"}));
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(driver_.closes, closesBefore + 1);
    EXPECT_FALSE(signalled(event)) << "nothing wakes the loop any more";
  }

  // Other failures of a read lose its bytes but leave the port open.
  driver_.goneError = 0;
  ASSERT_TRUE(port_.open("COM12", 9600));
  log_.clear();
  driver_.failRead(ERROR_GEN_FAILURE);
  serviceWhileSignalled();
  EXPECT_TRUE(port_.isOpen());
  EXPECT_TRUE(driver_.readUnderWay());
  driver_.arrive({0x31});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 31"}));
}

TEST_F(PortOverFakeDriver, ADriverThatSaysItsDeviceLeftBetweenReadsIsGoneToo) {
  driver_.arrive({0x30});
  driver_.goneError = ERROR_DEVICE_REMOVED;  // the read completed, the driver answers no more
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"gone"}));
  EXPECT_FALSE(port_.isOpen());
}

TEST_F(PortOverFakeDriver, AReadAbortedAtALineErrorIsNoLostDevice) {
  // Some drivers abort the read at a line error whatever the line settings say.
  driver_.lineErrors = CE_FRAME;
  driver_.failRead(ERROR_OPERATION_ABORTED);
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error"}));
  EXPECT_TRUE(port_.isOpen());
  EXPECT_TRUE(driver_.readUnderWay());
  // The next read's bytes may be the damaged frame's rest; what follows comes through.
  driver_.arrive({0x31});
  serviceWhileSignalled();
  driver_.arrive({0x32});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error", "data 32"}));
}

TEST_F(PortOverFakeDriver, ReadsThatEndWithoutBytesAreNoRemovalAndDoNotKeepTheLoopBusy) {
  // A driver that ends every read at once without a byte (some do right after the open):
  // the port stays open, and after a few such reads the next one waits for a pause.
  driver_.emptyReads = 1000000;
  driver_.failRead(0);
  const int wakeUps = serviceWhileSignalled(1000);
  EXPECT_LE(wakeUps, 5) << "each wake-up is one service(); the pause's timer ends the busy ones";
  EXPECT_TRUE(port_.isOpen());
  EXPECT_TRUE(log_.empty());
  EXPECT_FALSE(signalled(handleOf(port_.waitable())));
  EXPECT_EQ(driver_.timerMs(), 10u);
  const int readsBefore = driver_.reads;

  // The pause ends: reads go on (and pause again while the driver keeps doing it).
  ASSERT_TRUE(driver_.fireTimer());
  serviceWhileSignalled(1000);
  EXPECT_GT(driver_.reads, readsBefore);
  EXPECT_TRUE(port_.isOpen());

  // Once the driver behaves, bytes come through as ever.
  driver_.emptyReads = 0;
  ASSERT_TRUE(driver_.fireTimer());
  serviceWhileSignalled();
  driver_.arrive({0x40});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 40"}));
  port_.close();
  EXPECT_TRUE(driver_.timers.empty());
}

TEST_F(PortOverFakeDriver, AHandlerThatReopensStartsAFreshSession) {
  takeAtEvent_ = false;
  afterEvent_ = [&](PortEvent ev) {
    if (ev == PortEvent::ReceiveOverflow) {
      ASSERT_TRUE(port_.open("COM12", 38400));
    }
  };
  driver_.lineErrors = CE_RXOVER | CE_FRAME;
  driver_.arrive({0x20});
  port_.service();
  EXPECT_EQ(log_, (Log{"overflow"}));
  EXPECT_TRUE(port_.isOpen());
  EXPECT_EQ(port_.inBufferCount(), 0) << "a new session starts empty";
}

TEST_F(PortOverFakeDriver, WritesGoOutOneAtATimeAndCountUntilTheyAreOut) {
  driver_.stallWrites = true;  // the line is slow
  driver_.outQueue = 5;        // and the driver holds bytes of its own
  ASSERT_TRUE(port_.write({0x01, 0x02, 0x03}));
  EXPECT_EQ(port_.outBufferCount(), 3 + 5);
  ASSERT_TRUE(port_.write({0x04, 0x05}));
  EXPECT_EQ(port_.outBufferCount(), 3 + 2 + 5);
  EXPECT_EQ(driver_.writeSizes, (std::vector<DWORD>{3})) << "one write under way at a time";

  driver_.finishWrites();
  driver_.outQueue = 0;
  EXPECT_EQ(port_.outBufferCount(), 0) << "the waiting bytes went out as the first write ended";
  EXPECT_EQ(driver_.written, (Bytes{0x01, 0x02, 0x03, 0x04, 0x05}));
  EXPECT_EQ(driver_.writeSizes, (std::vector<DWORD>{3, 2}));
}

TEST_F(PortOverFakeDriver, DiscardCancelsTheWriteUnderWayAndPurgesTheDriver) {
  driver_.stallWrites = true;
  ASSERT_TRUE(port_.write(Bytes(1000, 'A')));
  driver_.outQueue = 7;
  EXPECT_TRUE(port_.discardOutput());
  EXPECT_FALSE(driver_.writeUnderWay()) << "the write under way is cancelled";
  EXPECT_EQ(driver_.purges.back(), DWORD(PURGE_TXABORT | PURGE_TXCLEAR));
  driver_.outQueue = 0;
  driver_.finishWrites();
  EXPECT_TRUE(driver_.written.empty());

  ASSERT_TRUE(port_.write({'E'}));
  EXPECT_EQ(driver_.written, (Bytes{'E'}));
  EXPECT_TRUE(port_.isOpen());
}

TEST_F(PortOverFakeDriver, AWriteTheDeviceRefusesAtOnceSaysWhy) {
  driver_.writeError = ERROR_GEN_FAILURE;
  EXPECT_FALSE(port_.write({0x06}));
  EXPECT_EQ(port_.failure().kind, PortFailure::Kind::WriteRefused);
  EXPECT_EQ(port_.failureReason(),
            "the device refused the data (" + win32::errorText(ERROR_GEN_FAILURE) + ")");
  EXPECT_EQ(port_.outBufferCount(), 0) << "nothing of it waits";
}

TEST_F(PortOverFakeDriver, CloseEndsTheOperationsUnderWayAndGivesThePortUp) {
  driver_.stallWrites = true;
  ASSERT_TRUE(port_.write({0x01, 0x02}));
  ASSERT_TRUE(driver_.readUnderWay());
  port_.close();
  EXPECT_FALSE(driver_.readUnderWay());
  EXPECT_FALSE(driver_.writeUnderWay());
  EXPECT_NE(driver_.purges.back() & (PURGE_TXABORT | PURGE_TXCLEAR), 0u)
      << "unsent bytes do not hold the close";
  EXPECT_EQ(driver_.closes, driver_.opens);
  EXPECT_EQ(port_.waitable(), kNoWaitable);
  EXPECT_EQ(port_.outBufferCount(), 0);
  EXPECT_EQ(driver_.claims["Global\\TarnsetADJ-port-COM12"], 0) << "the port is free for others";
  EXPECT_EQ(driver_.waits.back(), Win32SerialPort::kCloseWaitMs);
}

TEST_F(PortOverFakeDriver, ACancelledReadThatNeverEndsHoldsTheCloseTwoSecondsAtMost) {
  // A cheap adapter's driver after an unplug: it never ends the cancelled read.
  port_.setTimeLimits(kPatient, kPatient, 50);
  driver_.ignoreCancels = true;
  const HANDLE oldEvent = driver_.readEvent();
  ASSERT_TRUE(driver_.readUnderWay());
  port_.close();
  const std::set<HANDLE> leftToTheDriver = driver_.events;
  EXPECT_EQ(driver_.waits.back(), 50u) << "the wait for the read has its limit";
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(driver_.closes, driver_.opens) << "the device is closed all the same";
  EXPECT_EQ(driver_.claims["Global\\TarnsetADJ-port-COM12"], 0);

  // The read's buffer and events stay the driver's; the port opens again with new ones.
  driver_.ignoreCancels = false;
  ASSERT_TRUE(port_.open("COM12", 9600)) << port_.failureReason();
  EXPECT_NE(handleOf(port_.waitable()), oldEvent);
  driver_.arrive({0x51});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 51"}));
  port_.close();
  // Those events belong to the abandoned read for good; the test lets them go.
  for (const HANDLE h : leftToTheDriver) {
    driver_.events.erase(h);
    CloseHandle(h);
  }
}

// A Bluetooth port whose far device is off: the driver holds CreateFile for many seconds.
class BluetoothPortOverFakeDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    gate_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    driver_.openGate = gate_;
    driver_.bluetoothPorts = {"\\\\.\\COM4"};
    port_.onEvent = [this](PortEvent ev) {
      log_.push_back(ev == PortEvent::LineError ? (port_.isOpen() ? "line error" : "gone") : "data");
    };
  }
  void TearDown() override {
    // The worker still waiting in the driver returns now, and closes what it got.
    SetEvent(gate_);
    for (int i = 0; i < 500 && driver_.opensReturned < opensStarted_; ++i) Sleep(2);
    EXPECT_EQ(driver_.opensReturned.load(), opensStarted_);
    port_.close();
    CloseHandle(gate_);
  }
  void openBlocked() {
    ++opensStarted_;
    ASSERT_TRUE(port_.open("COM4", 9600)) << port_.failureReason();
  }

  HANDLE gate_ = nullptr;
  int opensStarted_ = 0;
  FakeDriver driver_;
  Win32SerialPort port_{driver_};
  std::vector<std::string> log_;
};

TEST_F(BluetoothPortOverFakeDriver, AnOpenThatDoesNotReturnFailsAfterItsTimeWithoutHoldingTheLoop) {
  port_.setTimeLimits(20, Win32SerialPort::kOpenLimitMs, Win32SerialPort::kCloseWaitMs);
  openBlocked();
  EXPECT_TRUE(port_.opening());
  EXPECT_TRUE(port_.isOpen()) << "for the host the port is open; its bytes wait";
  EXPECT_EQ(driver_.waits.front(), 20u) << "open() itself waits only briefly";
  EXPECT_EQ(driver_.timerMs(), Win32SerialPort::kOpenLimitMs - 20) << "the rest of the 2 s on a timer";
  ASSERT_TRUE(port_.write({0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0xFD}));
  EXPECT_EQ(port_.outBufferCount(), 6);
  const HANDLE event = handleOf(port_.waitable());
  EXPECT_FALSE(signalled(event)) << "nothing wakes the loop before the open returns or its time is up";
  port_.service();
  EXPECT_TRUE(log_.empty());

  ASSERT_TRUE(driver_.fireTimer());
  EXPECT_TRUE(signalled(event));
  port_.service();
  EXPECT_EQ(log_, (std::vector<std::string>{"gone"}));
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(port_.failure().kind, PortFailure::Kind::Other);
  EXPECT_EQ(port_.failureReason(), "no answer from the Bluetooth port");
  EXPECT_TRUE(port_.failure().bluetooth);
  EXPECT_EQ(driver_.claims["Global\\TarnsetADJ-port-COM4"], 0);

  // The open returns at last: the worker closes the handle, nobody else sees it.
  SetEvent(gate_);
  for (int i = 0; i < 500 && driver_.opensReturned < 1; ++i) Sleep(2);
  for (int i = 0; i < 500 && driver_.closes < driver_.opens; ++i) Sleep(2);
  EXPECT_EQ(driver_.closes, driver_.opens);
  EXPECT_FALSE(signalled(event));
  EXPECT_EQ(driver_.count("read"), 0);
}

TEST_F(BluetoothPortOverFakeDriver, AnOpenThatReturnsInTimeSendsWhatWaited) {
  port_.setTimeLimits(20, Win32SerialPort::kOpenLimitMs, Win32SerialPort::kCloseWaitMs);
  openBlocked();
  ASSERT_TRUE(port_.write({0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0xFD}));
  SetEvent(gate_);  // the far device answers
  const HANDLE event = handleOf(port_.waitable());
  ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  port_.service();
  EXPECT_FALSE(port_.opening());
  EXPECT_TRUE(port_.isOpen());
  EXPECT_TRUE(driver_.timers.empty()) << "the time limit is off";
  EXPECT_EQ(driver_.written, (Bytes{0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0xFD}));
  EXPECT_EQ(driver_.dcb.BaudRate, 9600u);
  EXPECT_TRUE(driver_.readUnderWay());
  EXPECT_TRUE(log_.empty());
}

TEST_F(BluetoothPortOverFakeDriver, ClosingWhileTheOpenGoesOnGivesItUp) {
  port_.setTimeLimits(20, Win32SerialPort::kOpenLimitMs, Win32SerialPort::kCloseWaitMs);
  openBlocked();
  port_.close();
  EXPECT_FALSE(port_.isOpen());
  EXPECT_TRUE(driver_.timers.empty());
  EXPECT_EQ(driver_.claims["Global\\TarnsetADJ-port-COM4"], 0);
  // Open again at once (the host switching the speed): a fresh try of its own.
  openBlocked();
  EXPECT_TRUE(port_.opening());
  SetEvent(gate_);
  ASSERT_EQ(WaitForSingleObject(handleOf(port_.waitable()), 5000), WAIT_OBJECT_0);
  port_.service();
  EXPECT_TRUE(port_.isOpen());
  EXPECT_FALSE(port_.opening());
  for (int i = 0; i < 500 && (driver_.opensReturned < 2 || driver_.closes < 1); ++i) Sleep(2);
  EXPECT_EQ(driver_.closes, driver_.opens - 1) << "the first try's handle was closed, the second is in use";
}

TEST(Win32SerialPortOverFake, APortIsUsedByOneOpenerAtATime) {
  // Windows keeps a second opener out of a COM port, but Wine's ports and virtual ones
  // do not: a second program of ours is kept out anyway.
  FakeDriver driver;
  Win32SerialPort first(driver);
  Win32SerialPort second(driver);
  patient(first);
  patient(second);
  ASSERT_TRUE(first.open("COM7", 9600));
  EXPECT_FALSE(second.open("\\\\.\\com7", 9600));
  EXPECT_EQ(second.failure().kind, PortFailure::Kind::Busy);
  EXPECT_EQ(second.failureReason(), "in use by another program");
  EXPECT_EQ(driver.count("open"), 1) << "the device itself is not touched";
  first.close();
  EXPECT_TRUE(second.open("COM7", 9600)) << second.failureReason();
}

TEST(Win32SerialPortOverFake, FailedOpensSayWhyAndLeaveNothingOpen) {
  using Kind = PortFailure::Kind;
  struct Case {
    const char* what;
    std::function<void(FakeDriver&)> setUp;
    std::string device;
    std::int32_t baud;
    Kind kind;
    std::string reason;
  } cases[] = {
      {"no such port", [](FakeDriver& d) { d.openError = ERROR_FILE_NOT_FOUND; }, "COM9", 9600,
       Kind::NoDevice, "no such device"},
      {"held by another program", [](FakeDriver& d) { d.openError = ERROR_ACCESS_DENIED; }, "COM9", 9600,
       Kind::Busy, "in use by another program"},
      {"not a serial port", [](FakeDriver& d) { d.getStateError = ERROR_INVALID_FUNCTION; }, "C:\\notes.txt",
       9600, Kind::NotASerialPort, "not a serial port"},
      {"settings refused", [](FakeDriver& d) { d.setStateError = ERROR_INVALID_PARAMETER; }, "COM9", 9600,
       Kind::Other, "the line settings were refused (" + win32::errorText(ERROR_INVALID_PARAMETER) + ")"},
      {"unsupported speed", [](FakeDriver&) {}, "COM9", 12345, Kind::Other,
       "the baud rate 12345 is not supported"},
      {"no device known", [](FakeDriver&) {}, "", 9600, Kind::NoDevice, "no such device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeDriver driver;
    c.setUp(driver);
    {
      Win32SerialPort port(driver);
      patient(port);
      EXPECT_FALSE(port.open(c.device, c.baud));
      EXPECT_FALSE(port.isOpen());
      EXPECT_EQ(port.waitable(), kNoWaitable);
      EXPECT_EQ(port.failure().kind, c.kind);
      EXPECT_EQ(port.failureReason(), c.reason);
      EXPECT_EQ(driver.closes, driver.opens);
      for (const auto& [name, count] : driver.claims) EXPECT_EQ(count, 0) << name;
      EXPECT_EQ(driver.count("read"), 0);
    }
    EXPECT_TRUE(driver.events.empty());
  }
}

TEST(Win32SerialPortOpen, SystemErrorsInATechniciansWords) {
  using Kind = PortFailure::Kind;
  struct Case {
    DWORD error;
    Kind kind;
    std::string reason;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, Kind::NoDevice, "no such device"},
      {ERROR_PATH_NOT_FOUND, Kind::NoDevice, "no such device"},
      {ERROR_DEVICE_REMOVED, Kind::NoDevice, "no such device"},
      {ERROR_INVALID_NAME, Kind::NoDevice, "no such device (" + win32::errorText(ERROR_INVALID_NAME) + ")"},
      {ERROR_ACCESS_DENIED, Kind::Busy, "in use by another program"},
      {ERROR_SHARING_VIOLATION, Kind::Busy, "in use by another program"},
      {ERROR_GEN_FAILURE, Kind::Other,
       "the device does not respond (" + win32::errorText(ERROR_GEN_FAILURE) + ")"},
      {ERROR_NOT_ENOUGH_MEMORY, Kind::Other,
       "cannot open the device (" + win32::errorText(ERROR_NOT_ENOUGH_MEMORY) + ")"},
  };
  for (const Case& c : cases) {
    const PortFailure f = describeOpenFailure(c.error);
    EXPECT_EQ(f.kind, c.kind) << c.error;
    EXPECT_EQ(f.reason, c.reason) << c.error;
  }
}

TEST(Win32SerialPortOnThisSystem, FailuresSayWhy) {
  Win32SerialPort port;
  EXPECT_FALSE(port.open("COM231", 9600));
  EXPECT_EQ(port.failure().kind, PortFailure::Kind::NoDevice);
  EXPECT_EQ(port.failureReason(), "no such device");
  EXPECT_EQ(port.waitable(), kNoWaitable);

  char folder[MAX_PATH] = {};
  char name[MAX_PATH] = {};
  ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameA(folder, "tsp", 0, name), 0u);
  EXPECT_FALSE(port.open(name, 9600));
  EXPECT_EQ(port.failure().kind, PortFailure::Kind::NotASerialPort);
  EXPECT_EQ(port.failureReason(), "not a serial port");
  EXPECT_FALSE(port.isOpen());
  EXPECT_TRUE(DeleteFileA(name)) << "the file was closed again";
}

}  // namespace

// The contract of every port, over this system's fake device.
namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, SerialPortContract, Win32Rig);
}  // namespace contract

}  // namespace tarnset
