// The Windows serial port over a fake driver under its system calls: one that reports
// framing errors and breaks, that goes away mid-read, stalls or refuses writes, refuses
// DTR as Wine's pseudo-terminal ports do, and keeps stale input: all that a port under
// Wine cannot show. The fake's events are real events, so that the tests see what the
// event loop would wait on. A few failures are asked of the system itself.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Text.h"
#include "platform/win32/Win32PortCalls.h"
#include "platform/win32/Win32SerialPort.h"

namespace tarnset {
namespace {

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
    if ((how & PURGE_RXABORT) != 0) abort(read);
    if ((how & PURGE_TXABORT) != 0) abort(write);
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
  BOOL getOverlappedResult(HANDLE, OVERLAPPED* ov, DWORD* transferred, BOOL wait) override {
    Op* op = ov == read.ov ? &read : ov == write.ov ? &write : nullptr;
    if (op == nullptr) {
      ADD_FAILURE() << "asks for an operation it never started";
      return failWith(ERROR_INVALID_PARAMETER);
    }
    if (!op->done) {
      if (wait) ADD_FAILURE() << "waits for an operation that nothing ends";
      return failWith(ERROR_IO_INCOMPLETE);
    }
    *transferred = op->transferred;
    if (op->error != 0) return failWith(op->error);
    return TRUE;
  }
  BOOL cancelIo(HANDLE, OVERLAPPED* ov) override {
    ++cancels;
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
  int opens = 0, closes = 0, cancels = 0, reads = 0;

  // What the driver does.
  DWORD openError = 0, getStateError = 0, setStateError = 0, escapeError = 0, writeError = 0;
  DWORD goneError = 0;   // every call on the device fails with this
  DWORD lineErrors = 0;  // CE_* for the next ClearCommError
  DWORD outQueue = 0;    // the driver's output count
  bool stallWrites = false;
  int emptyReads = 0;  // the next reads complete at once without a byte
  Bytes input;         // received by the driver, not read yet

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
    d.XonLim = 2048;
    d.XoffLim = 512;
    return d;
  }

  DWORD lastError_ = 0;
  int nextMutex = 0;
};

std::string hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, " %02X", b);
    out += buf;
  }
  return out;
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
    port_.onEvent = [this](PortEvent ev) {
      const Bytes taken = takeAtEvent_ ? port_.readAll() : Bytes{};
      switch (ev) {
        case PortEvent::DataReceived:
          log_.push_back("data" + hex(taken));
          break;
        case PortEvent::ReceiveOverflow:
          log_.push_back("overflow");
          break;
        case PortEvent::LineError:
          log_.push_back(std::string(port_.isOpen() ? "line error" : "gone") + hex(taken));
          break;
      }
      if (afterEvent_) afterEvent_(ev);
    };
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
  Log log_;
  bool takeAtEvent_ = true;
  std::function<void(PortEvent)> afterEvent_;
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
  EXPECT_EQ(d.XonLim, 2048) << "what the port does not set stays as the driver has it";

  EXPECT_EQ(driver_.timeouts.ReadIntervalTimeout, 2u);
  EXPECT_EQ(driver_.timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(driver_.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver_.timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(driver_.timeouts.WriteTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver_.inQueueSize, DWORD(SerialPort::kInBufferSize));
  EXPECT_EQ(driver_.outQueueSize, DWORD(SerialPort::kOutBufferSize));
  EXPECT_NE(std::find(driver_.escapes.begin(), driver_.escapes.end(), DWORD(SETDTR)), driver_.escapes.end());
  EXPECT_NE(std::find(driver_.escapes.begin(), driver_.escapes.end(), DWORD(SETRTS)), driver_.escapes.end());

  // The waitable is the read's event; quiet while nothing arrives.
  EXPECT_TRUE(driver_.readUnderWay());
  EXPECT_EQ(handleOf(port_.waitable()), driver_.readEvent());
  EXPECT_FALSE(signalled(driver_.readEvent()));

  // A new speed is a new open; a port written as people write it opens its device.
  port_.close();
  ASSERT_TRUE(port_.open("com3", 38400)) << port_.failureReason();
  EXPECT_EQ(driver_.opened, "\\\\.\\COM3");
  EXPECT_EQ(port_.device(), "\\\\.\\COM3");
  EXPECT_EQ(driver_.dcb.BaudRate, 38400u);
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

TEST_F(PortOverFakeDriver, ReceiveEventWaitsForTheThreshold) {
  port_.setRThreshold(1024);
  driver_.arrive(Bytes(1000, 0x55));
  serviceWhileSignalled();
  EXPECT_EQ(port_.inBufferCount(), 1000) << "taken in, in reads of the port's size";
  EXPECT_TRUE(log_.empty());
  driver_.arrive(Bytes(24, 0x55));
  serviceWhileSignalled();
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].size(), std::string("data").size() + 3 * 1024);
}

TEST_F(PortOverFakeDriver, FramingErrorsBreaksParityAndOverrunsAreLineErrorsAfterTheBytesBeforeThem) {
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
    driver_.lineErrors = c.errors;
    driver_.arrive({0x10, 0x11});
    serviceWhileSignalled();
    EXPECT_EQ(log_, (Log{"data 10 11", "line error"}));
    EXPECT_TRUE(port_.isOpen());
    EXPECT_FALSE(signalled(handleOf(port_.waitable())));
    // The bytes after it go on as usual.
    log_.clear();
    driver_.arrive({0x12});
    serviceWhileSignalled();
    EXPECT_EQ(log_, (Log{"data 12"}));
  }
  // An error with no bytes before it.
  log_.clear();
  driver_.lineErrors = CE_BREAK;
  port_.service();
  EXPECT_EQ(log_, (Log{"line error"}));
}

TEST_F(PortOverFakeDriver, BytesBeforeAnErrorAreAnnouncedBelowTheThresholdAndWaitWhenNotTaken) {
  takeAtEvent_ = false;
  port_.setRThreshold(1024);
  std::vector<std::int32_t> waiting;
  afterEvent_ = [&](PortEvent) { waiting.push_back(port_.inBufferCount()); };
  driver_.lineErrors = CE_BREAK;
  driver_.arrive({0x10, 0x11});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data", "line error"}));
  EXPECT_EQ(waiting, (std::vector<std::int32_t>{2, 2}));
  driver_.arrive({0x12});
  serviceWhileSignalled();
  EXPECT_EQ(log_.size(), 2u) << "three bytes are below the threshold";
  EXPECT_EQ(port_.readAll(), (Bytes{0x10, 0x11, 0x12}));
}

TEST_F(PortOverFakeDriver, ErrorsSeenWhileCountingTheOutputAreNotLost) {
  // Counting the output asks the driver, which clears its errors as it tells them.
  driver_.lineErrors = CE_FRAME;
  EXPECT_EQ(port_.outBufferCount(), 0);
  EXPECT_EQ(driver_.lineErrors, 0u);
  driver_.arrive({0x20});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 20", "line error"}));
}

TEST_F(PortOverFakeDriver, LostBytesAreReportedAsAnOverflow) {
  // The driver's own queue ran over: the overflow comes before the bytes received.
  takeAtEvent_ = false;
  driver_.lineErrors = CE_RXOVER;
  driver_.arrive({0x01});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"overflow", "data"}));
  EXPECT_EQ(port_.readAll(), (Bytes{0x01}));

  // Ours: more unread bytes than the receive buffer holds.
  log_.clear();
  for (int i = 0; i < 8; ++i) {
    driver_.arrive(Bytes(4096, 0x5A));  // 32768 bytes: 8 more than the buffer holds
    serviceWhileSignalled(200);
  }
  EXPECT_EQ(std::count(log_.begin(), log_.end(), "overflow"), 1);
  EXPECT_EQ(port_.inBufferCount(), SerialPort::kInBufferSize);
  EXPECT_TRUE(port_.isOpen());
}

TEST_F(PortOverFakeDriver, ARemovedAdapterIsOneLineErrorAndAClosedPortThatStaysQuiet) {
  struct Case {
    const char* what;
    DWORD error;
  } cases[] = {
      {"access denied", ERROR_ACCESS_DENIED},
      {"bad command", ERROR_BAD_COMMAND},
      {"device removed", ERROR_DEVICE_REMOVED},
      {"general failure", ERROR_GEN_FAILURE},
      {"an abort that is not ours", ERROR_OPERATION_ABORTED},
      {"Wine: the pseudo-terminal's far end closed", ERROR_BROKEN_PIPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_.clear();
    driver_.goneError = 0;
    ASSERT_TRUE(port_.open("COM12", 9600));
    const HANDLE event = handleOf(port_.waitable());
    const int closesBefore = driver_.closes;
    driver_.arrive({0x20});
    serviceWhileSignalled();
    driver_.vanish(c.error);
    EXPECT_TRUE(signalled(event));
    port_.service();
    EXPECT_EQ(log_, (Log{"data 20", "gone"}));
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(port_.waitable(), kNoWaitable);
    EXPECT_EQ(port_.failure().kind, PortFailure::Kind::Gone);
    EXPECT_EQ(port_.failureReason(), "the device went away");
    EXPECT_EQ(driver_.closes, closesBefore + 1);
    EXPECT_FALSE(signalled(event)) << "nothing wakes the loop any more";
    for (int i = 0; i < 5; ++i) port_.service();
    EXPECT_EQ(log_.size(), 2u);
    EXPECT_FALSE(port_.write({0x01}));
    EXPECT_EQ(port_.failureReason(), "the port is not open");
  }
}

TEST_F(PortOverFakeDriver, ADriverThatStopsAnsweringBetweenReadsIsGoneToo) {
  driver_.arrive({0x30});
  driver_.goneError = ERROR_NOT_READY;  // the read completed, the driver answers no more
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
  driver_.arrive({0x31});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"line error", "data 31"}));
}

TEST_F(PortOverFakeDriver, ReadsThatCompleteEmptyDoNotKeepTheLoopBusy) {
  // One is harmless.
  driver_.emptyReads = 1;
  driver_.failRead(0);
  serviceWhileSignalled();
  driver_.arrive({0x40});
  serviceWhileSignalled();
  EXPECT_EQ(log_, (Log{"data 40"}));

  // A driver that completes every read at once without a byte would wake the loop for
  // ever: it is taken for a lost device after a bounded number of wake-ups.
  driver_.emptyReads = 1000000;
  driver_.failRead(0);
  const int wakeUps = serviceWhileSignalled(1000);
  EXPECT_LE(wakeUps, 100);
  EXPECT_EQ(log_, (Log{"data 40", "gone"}));
  EXPECT_FALSE(port_.isOpen());
}

TEST_F(PortOverFakeDriver, AHandlerThatClosesOrReopensEndsTheEventsOfItsSession) {
  afterEvent_ = [&](PortEvent ev) {
    if (ev == PortEvent::DataReceived) port_.close();
  };
  driver_.lineErrors = CE_BREAK;
  driver_.arrive({0x10});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 10"})) << "the error belonged to the closed session";
  EXPECT_FALSE(port_.isOpen());

  ASSERT_TRUE(port_.open("COM12", 9600));
  log_.clear();
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

TEST_F(PortOverFakeDriver, AFullQueueRefusesAndDiscardDropsWhatWaits) {
  driver_.stallWrites = true;
  ASSERT_TRUE(port_.write(Bytes(1000, 'A')));
  ASSERT_TRUE(port_.write(Bytes(24, 'B')));
  EXPECT_FALSE(port_.write({'C'}));
  EXPECT_EQ(port_.failure().kind, PortFailure::Kind::WriteRefused);
  EXPECT_EQ(port_.failureReason(), "the output buffer is full (1024 bytes waiting)");
  EXPECT_FALSE(port_.write(Bytes(1025, 'D')));
  EXPECT_EQ(port_.failureReason(),
            "the data is larger than the output buffer (1025 bytes, the buffer holds 1024)");

  driver_.outQueue = 7;
  EXPECT_TRUE(port_.discardOutput());
  EXPECT_FALSE(driver_.writeUnderWay()) << "the write under way is cancelled";
  EXPECT_EQ(driver_.purges.back(), DWORD(PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(port_.outBufferCount(), 0);
  driver_.finishWrites();
  EXPECT_TRUE(driver_.written.empty());

  ASSERT_TRUE(port_.write({'E'}));
  EXPECT_EQ(driver_.written, (Bytes{'E'}));
  EXPECT_TRUE(port_.isOpen());
}

TEST_F(PortOverFakeDriver, ARefusedWriteSaysWhy) {
  driver_.writeError = ERROR_GEN_FAILURE;
  EXPECT_FALSE(port_.write({0x06}));
  EXPECT_EQ(port_.failure().kind, PortFailure::Kind::WriteRefused);
  EXPECT_EQ(port_.failureReason(),
            "the device refused the data (" + win32::errorText(ERROR_GEN_FAILURE) + ")");
  EXPECT_EQ(port_.outBufferCount(), 0) << "nothing of it waits";

  port_.close();
  EXPECT_FALSE(port_.write({0x01}));
  EXPECT_EQ(port_.failureReason(), "the port is not open");
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
  EXPECT_TRUE(port_.discardOutput()) << "a closed port has nothing to discard";
}

TEST(Win32SerialPortOverFake, APortIsUsedByOneOpenerAtATime) {
  // Windows keeps a second opener out of a COM port, but Wine's ports and virtual ones
  // do not: a second program of ours is kept out anyway.
  FakeDriver driver;
  Win32SerialPort first(driver);
  Win32SerialPort second(driver);
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
}  // namespace tarnset
