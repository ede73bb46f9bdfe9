// The POSIX serial port over a real pseudo-terminal: the test holds the master side,
// the port opens the slave device as it would open a USB adapter. What a pseudo-terminal
// cannot do (report framing errors and breaks, take the low-latency setting, fail a
// write) is played by a fake device under the port's system calls.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/posix/PosixSerialPort.h"
#include "unit/platform/SerialPortContract.h"

namespace tarnset {
namespace {

class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = ptsname(master_);
    port_.onEvent = [this](PortEvent ev) { events_.push_back(ev); };
  }
  void TearDown() override {
    port_.close();
    if (master_ >= 0) ::close(master_);
  }

  long eventCount(PortEvent ev) const { return std::count(events_.begin(), events_.end(), ev); }

  // Services the port until it holds `bytes` received bytes (or 2 s pass).
  void serviceUntil(std::int32_t bytes) {
    for (int i = 0; i < 200 && port_.isOpen() && port_.inBufferCount() < bytes; ++i) {
      pollfd p{static_cast<int>(port_.waitable()), POLLIN, 10};
      ::poll(&p, 1, 10);
      port_.service();
    }
  }

  // Everything the master side can read within the given time.
  Bytes drainMaster(int ms = 200) {
    Bytes out;
    std::uint8_t buf[4096];
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) break;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  void masterWrite(const Bytes& data) {
    ASSERT_EQ(::write(master_, data.data(), data.size()), ssize_t(data.size()));
  }

  int master_ = -1;
  std::string slave_;
  PosixSerialPort port_;
  std::vector<PortEvent> events_;
};

TEST_F(PtyTest, LineSettingsAreRaw8N1AtTheRequestedBaud) {
  ASSERT_TRUE(port_.open(slave_, 9600)) << port_.failureReason();
  termios t{};
  ASSERT_EQ(tcgetattr(master_, &t), 0);  // the master reports the slave's settings
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
  EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  // Framing errors and breaks are marked in the data, not dropped or turned into zeros.
  EXPECT_EQ(t.c_iflag & (PARMRK | INPCK), tcflag_t(PARMRK | INPCK));
  EXPECT_EQ(t.c_iflag & (IGNPAR | IGNBRK | BRKINT | ISTRIP), 0u);

  port_.close();
  ASSERT_TRUE(port_.open(slave_, 38400)) << port_.failureReason();
  ASSERT_EQ(tcgetattr(master_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
}

TEST_F(PtyTest, BytesTravelBothWaysAndStaleInputIsDiscardedAtOpen) {
  ASSERT_TRUE(port_.open(slave_, 9600));
  port_.close();
  masterWrite({0x11, 0x22});  // waits in the pty while the port is closed
  ::usleep(50000);
  ASSERT_TRUE(port_.open(slave_, 9600));

  ASSERT_TRUE(port_.write({0xFE, 0xFE, 0xEE, 0xEF, 0xFD}));
  EXPECT_EQ(drainMaster(), (Bytes{0xFE, 0xFE, 0xEE, 0xEF, 0xFD}));

  masterWrite({0xFE, 0xFE, 0xEF, 0xEE, 0xFD});
  serviceUntil(5);
  EXPECT_GE(eventCount(PortEvent::DataReceived), 1);
  EXPECT_EQ(port_.readAll(), (Bytes{0xFE, 0xFE, 0xEF, 0xEE, 0xFD}));
  EXPECT_EQ(port_.inBufferCount(), 0);
}

TEST_F(PtyTest, ByteFFTravelsUnchangedBothWays) {
  // The line discipline sends a received FF as FF FF once errors are marked; the port
  // gives the program the single byte back.
  ASSERT_TRUE(port_.open(slave_, 9600));
  masterWrite({0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x00, 0xFF});
  serviceUntil(7);
  EXPECT_EQ(port_.readAll(), (Bytes{0x01, 0xFF, 0x02, 0xFF, 0xFF, 0x00, 0xFF}));
  EXPECT_EQ(eventCount(PortEvent::LineError), 0);

  ASSERT_TRUE(port_.write({0xFF, 0x00, 0xFF, 0xFF}));
  EXPECT_EQ(drainMaster(), (Bytes{0xFF, 0x00, 0xFF, 0xFF}));
}

TEST_F(PtyTest, ReceiveEventWaitsForTheThreshold) {
  ASSERT_TRUE(port_.open(slave_, 38400));
  port_.setRThreshold(1024);
  masterWrite(Bytes(1000, 0x55));
  serviceUntil(1000);
  EXPECT_EQ(port_.inBufferCount(), 1000);
  EXPECT_EQ(eventCount(PortEvent::DataReceived), 0);
  masterWrite(Bytes(24, 0x55));
  serviceUntil(1024);
  EXPECT_EQ(eventCount(PortEvent::DataReceived), 1);
}

TEST_F(PtyTest, DiscardDropsQueuedOutputAndAFullQueueRefuses) {
  ASSERT_TRUE(port_.open(slave_, 9600));
  // The master reads nothing, so the kernel fills up and our own queue takes the rest.
  for (int i = 0; i < 200 && port_.outBufferCount() == 0; ++i) ASSERT_TRUE(port_.write(Bytes(512, 'A')));
  ASSERT_GT(port_.outBufferCount(), 0);
  ASSERT_TRUE(port_.write(Bytes(8, 'B')));
  EXPECT_FALSE(port_.write(Bytes(1024, 'C')));
  EXPECT_EQ(port_.failureReason().rfind("the output buffer is full (", 0), 0u) << port_.failureReason();

  EXPECT_TRUE(port_.discardOutput());
  EXPECT_EQ(port_.outBufferCount(), 0);
  const Bytes seen = drainMaster();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 'B'), 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 'C'), 0);
}

TEST_F(PtyTest, MoreUnreadBytesThanTheBufferHoldsRaiseOverflow) {
  ASSERT_TRUE(port_.open(slave_, 38400));
  const std::size_t total = SerialPort::kInBufferSize + 2000;
  std::size_t sent = 0;
  const Bytes chunk(1024, 0x5A);
  for (int i = 0; i < 2000 && sent < total; ++i) {
    const ssize_t n = ::write(master_, chunk.data(), std::min(chunk.size(), total - sent));
    if (n > 0) sent += std::size_t(n);
    pollfd p{static_cast<int>(port_.waitable()), POLLIN, 0};
    ::poll(&p, 1, 5);
    port_.service();
  }
  ASSERT_EQ(sent, total);
  for (int i = 0; i < 50 && eventCount(PortEvent::ReceiveOverflow) == 0; ++i) {
    pollfd p{static_cast<int>(port_.waitable()), POLLIN, 0};
    ::poll(&p, 1, 10);
    port_.service();
  }
  EXPECT_GE(eventCount(PortEvent::ReceiveOverflow), 1);
  EXPECT_EQ(port_.inBufferCount(), SerialPort::kInBufferSize);
}

TEST_F(PtyTest, FarEndClosingGivesOneLineErrorAndAClosedPort) {
  ASSERT_TRUE(port_.open(slave_, 9600));
  masterWrite({0xFE, 0xFE, 0xEF});
  ::close(master_);
  master_ = -1;
  for (int i = 0; i < 100 && port_.isOpen(); ++i) {
    pollfd p{static_cast<int>(port_.waitable()), POLLIN, 0};
    ::poll(&p, 1, 10);
    port_.service();
  }
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(port_.waitable(), -1);
  EXPECT_EQ(eventCount(PortEvent::LineError), 1);
  EXPECT_EQ(port_.failureReason(), "the device went away");
  for (int i = 0; i < 5; ++i) port_.service();
  EXPECT_EQ(eventCount(PortEvent::LineError), 1);
  EXPECT_FALSE(port_.write({0x01}));
  EXPECT_EQ(port_.failureReason(), "the port is not open");
}

TEST_F(PtyTest, APortIsUsedByOneOpenerAtATime) {
  ASSERT_TRUE(port_.open(slave_, 9600));
  PosixSerialPort second;
  EXPECT_FALSE(second.open(slave_, 9600));
  EXPECT_FALSE(second.isOpen());
  EXPECT_EQ(second.failureReason(), "in use by another program");
  port_.close();
  EXPECT_TRUE(second.open(slave_, 9600)) << second.failureReason();
}

TEST(PosixSerialPortOpen, FailuresSayWhyInATechniciansWords) {
  PosixSerialPort port;
  EXPECT_FALSE(port.open("/dev/no-such-serial-port-9", 9600));
  EXPECT_EQ(port.failureReason(), "no such device");
  EXPECT_EQ(port.waitable(), -1);

  char name[] = "/tmp/tarnset-notatty-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_FALSE(port.open(name, 9600));
  EXPECT_EQ(port.failureReason(), "not a serial port");
  EXPECT_FALSE(port.open(name, 12345));
  EXPECT_EQ(port.failureReason(), "the baud rate 12345 is not supported");
  EXPECT_FALSE(port.isOpen());

  // Permission is never denied to the administrator the tests may run as: ask directly.
  const group* gr = getgrnam("dialout");
  if (gr != nullptr && ::chown(name, geteuid(), gr->gr_gid) == 0) {
    const PortFailure f = describeOpenFailure(EACCES, name);
    EXPECT_EQ(f.kind, PortFailure::Kind::PermissionDenied);
    EXPECT_EQ(f.group, "dialout");
    EXPECT_EQ(f.reason, "permission denied (the device belongs to group dialout)");
  }
  std::remove(name);
}

// ---- a fake device under the port's system calls ---------------------------------

// A terminal device the test scripts: the chunks each read returns (an empty chunk is a
// read that finds nothing), the line settings and driver flags the port sets, the
// bytes it writes, the requests it makes.
class FakeDevice : public PosixPortCalls {
 public:
  static constexpr int kFd = 57;

  int open(const char*, int) override {
    ++opens;
    return kFd;
  }
  int close(int) override {
    ++closes;
    return 0;
  }
  int isatty(int) override { return 1; }
  int flock(int, int) override { return 0; }
  int ioctl(int, unsigned long request, void* arg) override {
    requests.push_back(request);
    switch (request) {
      case TIOCGSERIAL:
        if (serialErrno != 0) return failWith(serialErrno);
        static_cast<serial_struct*>(arg)->flags = serialFlags;
        return 0;
      case TIOCSSERIAL:
        serialSets.push_back(static_cast<const serial_struct*>(arg)->flags);
        if (setSerialErrno != 0) return failWith(setSerialErrno);
        serialFlags = static_cast<const serial_struct*>(arg)->flags;
        return 0;
      case TIOCOUTQ:
        *static_cast<int*>(arg) = 0;
        return 0;
      default:
        return 0;
    }
  }
  int tcgetattr(int, termios* tio) override {
    *tio = line;
    return 0;
  }
  int tcsetattr(int, int, const termios* tio) override {
    line = *tio;
    return 0;
  }
  int tcflush(int, int) override { return 0; }
  ssize_t read(int, void* buf, std::size_t count) override {
    if (reads.empty()) return failWith(readErrno);
    Bytes chunk = reads.front();
    reads.pop_front();
    if (chunk.empty()) return failWith(EAGAIN);
    EXPECT_LE(chunk.size(), count);
    std::memcpy(buf, chunk.data(), chunk.size());
    return static_cast<ssize_t>(chunk.size());
  }
  ssize_t write(int, const void* buf, std::size_t count) override {
    if (writeErrno != 0) return failWith(writeErrno);
    const auto* bytes = static_cast<const std::uint8_t*>(buf);
    written.insert(written.end(), bytes, bytes + count);
    return static_cast<ssize_t>(count);
  }
  int poll(pollfd* fds, nfds_t, int) override {
    fds[0].revents = 0;
    return 0;
  }

  // The next reads return these chunks, then find nothing.
  void arrive(std::initializer_list<Bytes> chunks) { reads.insert(reads.end(), chunks); }
  long requestCount(unsigned long request) const {
    return std::count(requests.begin(), requests.end(), request);
  }

  termios line = cookedLine();
  int serialFlags = ASYNC_SKIP_TEST;  // some other flag, which must survive
  int serialErrno = 0;                // TIOCGSERIAL fails with this
  int setSerialErrno = 0;             // TIOCSSERIAL fails with this
  int writeErrno = 0;                 // every write fails with this
  int readErrno = EAGAIN;             // a read with no chunk left fails with this
  std::deque<Bytes> reads;
  Bytes written;
  std::vector<unsigned long> requests;
  std::vector<int> serialSets;  // the flags of each TIOCSSERIAL
  int opens = 0;
  int closes = 0;

 private:
  static int failWith(int err) {
    errno = err;
    return -1;
  }
  // A terminal as a login shell leaves it: every flag the port must clear is set.
  static termios cookedLine() {
    termios t{};
    t.c_iflag = IGNBRK | BRKINT | IGNPAR | ISTRIP | ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS7 | PARENB | CREAD;
    t.c_lflag = ICANON | ECHO | ISIG;
    return t;
  }
};

using contract::hex;

// The POSIX port over the fake device for the contract every port keeps: bytes arrive
// as the kernel hands them over with PARMRK (an FF doubled, a framing error marked).
class PosixRig {
 public:
  SerialPort& port() { return port_; }
  void open() { ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600)) << port_.failureReason(); }
  void receive(const Bytes& bytes) {
    device_.arrive({marked(bytes, bytes.size())});
    port_.service();
  }
  void receiveWithError(const Bytes& bytes, std::size_t bad) {
    device_.arrive({marked(bytes, bad)});
    port_.service();
  }
  void remove() {
    device_.readErrno = EIO;
    port_.service();
  }
  void stallWrites() { device_.writeErrno = EAGAIN; }
  Bytes written() const { return device_.written; }

 private:
  // The bytes as the kernel marks them, with a framing error on bytes[bad] (none when bad
  // is past the end).
  static Bytes marked(const Bytes& bytes, std::size_t bad) {
    Bytes out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i == bad) {
        out.insert(out.end(), {0xFF, 0x00});
      } else if (bytes[i] == 0xFF) {
        out.push_back(0xFF);
      }
      out.push_back(bytes[i]);
    }
    return out;
  }

  FakeDevice device_;
  PosixSerialPort port_{device_};
};

// The port over the fake device, with a handler that takes the received bytes at each
// event as the serial host does and records, per event, what it took:
// "data 10 11", "line error", "overflow".
class PortOverFakeDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    events_.attach(port_);
    ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600)) << port_.failureReason();
  }

  using Log = std::vector<std::string>;

  FakeDevice device_;
  PosixSerialPort port_{device_};
  contract::EventLog events_;
  Log& log_ = events_.entries;
  bool& takeAtEvent_ = events_.takeAtEvent;
  std::function<void(PortEvent)>& afterEvent_ = events_.after;
};

TEST_F(PortOverFakeDevice, MarkedBytesAreDecodedAndEachErrorSplitsTheReceivedBytes) {
  struct Case {
    const char* what;
    Bytes read;
    Log expected;
  };
  const Case cases[] = {
      {"FF FF is one data byte FF", {0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF}, {"data 01 FF 02 FF"}},
      {"a framing error drops its byte",
       {0x10, 0x11, 0xFF, 0x00, 0x55, 0x12},
       {"data 10 11", "line error", "data 12"}},
      {"a break", {0x10, 0xFF, 0x00, 0x00, 0x20, 0x21}, {"data 10", "line error", "data 20 21"}},
      {"an error first has no bytes before it", {0xFF, 0x00, 0x00, 0x20}, {"line error", "data 20"}},
      {"an error last has no bytes after it", {0x20, 0xFF, 0x00, 0xA5}, {"data 20", "line error"}},
      {"an FF the kernel does not send before other bytes is kept as data", {0xFF, 0x41}, {"data FF 41"}},
      {"several errors in one read",
       {0x01, 0xFF, 0x00, 0x7E, 0x02, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x03},
       {"data 01", "line error", "data 02 FF", "line error", "line error", "data 03"}},
  };
  for (const Case& c : cases) {
    log_.clear();
    device_.arrive({c.read});
    port_.service();
    EXPECT_EQ(log_, c.expected) << c.what;
    EXPECT_TRUE(port_.isOpen()) << c.what;
  }
}

TEST_F(PortOverFakeDevice, AMarkCutBetweenReadsDecodesTheSame) {
  // One stream cut at every place, once between two reads of one service() and once
  // between two calls: the bytes between the errors and the errors stay the same.
  const Bytes stream{0x01, 0xFF, 0xFF, 0x02, 0xFF, 0x00, 0x55, 0x03, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
  const Log expected{"01 FF 02", "line error", "03", "line error", "FF"};
  // Joins the bytes of the receive events that follow each other, as the driver sees them.
  auto joined = [](const Log& log) {
    Log out;
    bool inData = false;
    for (const std::string& entry : log) {
      if (entry.rfind("data", 0) == 0) {
        if (!inData) out.emplace_back();
        out.back() += (out.back().empty() ? "" : " ") + entry.substr(5);
        inData = true;
      } else {
        out.push_back(entry);
        inData = false;
      }
    }
    return out;
  };
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    const Bytes head(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    const Bytes tail(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end());
    for (const bool twoCalls : {false, true}) {
      log_.clear();
      if (twoCalls) {
        device_.arrive({head});
        port_.service();
        device_.arrive({tail});
        port_.service();
      } else {
        device_.arrive({head, tail});
        port_.service();
      }
      EXPECT_EQ(joined(log_), expected)
          << "cut after byte " << cut << (twoCalls ? " between calls" : " between reads");
      EXPECT_EQ(port_.inBufferCount(), 0);
    }
  }
}

TEST_F(PortOverFakeDevice, BytesBeforeAnErrorAreAnnouncedBelowTheThresholdAndWaitWhenNotTaken) {
  // A handler that takes nothing (a tick is running): the bytes before the error are
  // in the buffer when the error is raised, those after it join them later.
  takeAtEvent_ = false;
  port_.setRThreshold(1024);
  std::vector<std::int32_t> waiting;
  afterEvent_ = [&](PortEvent) { waiting.push_back(port_.inBufferCount()); };
  device_.arrive({{0x10, 0x11, 0xFF, 0x00, 0x00, 0x12}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data", "line error"}));
  EXPECT_EQ(waiting, (std::vector<std::int32_t>{2, 2}));
  // Three bytes are below the threshold: no receive event after the error.
  EXPECT_EQ(port_.readAll(), (Bytes{0x10, 0x11, 0x12}));
}

TEST_F(PortOverFakeDevice, LostBytesBeforeAnErrorAreReportedFirst) {
  takeAtEvent_ = false;
  const Bytes full(4096, 0x5A);
  for (int i = 0; i < 8; ++i) device_.arrive({full});  // 32768 bytes: 8 more than the buffer holds
  device_.arrive({{0x01, 0xFF, 0x00, 0x00, 0x02}});
  port_.service();
  EXPECT_EQ(log_, (Log{"overflow", "data", "line error", "overflow", "data"}));
  EXPECT_EQ(port_.inBufferCount(), SerialPort::kInBufferSize);
}

TEST_F(PortOverFakeDevice, AHandlerThatClosesOrReopensEndsTheEventsOfItsSession) {
  // Closed at the bytes before the error: the error and the rest are not raised.
  afterEvent_ = [&](PortEvent ev) {
    if (ev == PortEvent::DataReceived) port_.close();
  };
  device_.arrive({{0x10, 0xFF, 0x00, 0x00, 0x11}, {0x12}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 10"}));
  EXPECT_FALSE(port_.isOpen());
  port_.service();
  EXPECT_EQ(log_.size(), 1u);

  // Reopened at the error: the new session starts with an empty buffer and no mark
  // half decoded; what the old session had not delivered is gone.
  device_.reads.clear();
  ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600));
  log_.clear();
  afterEvent_ = [&](PortEvent ev) {
    if (ev == PortEvent::LineError) {
      ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600));
    }
  };
  device_.arrive({{0x20, 0xFF, 0x00, 0x00, 0x21, 0xFF}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 20", "line error"}));
  EXPECT_TRUE(port_.isOpen());
  EXPECT_EQ(port_.inBufferCount(), 0);
  afterEvent_ = nullptr;
  log_.clear();
  device_.arrive({{0x00, 0x00, 0x22}});  // after a leftover FF these would be a break
  port_.service();
  EXPECT_EQ(log_, (Log{"data 00 00 22"}));
}

TEST_F(PortOverFakeDevice, AHalfDecodedMarkDoesNotOutliveAClose) {
  device_.arrive({{0x30, 0xFF}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 30"}));
  port_.close();
  ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600));
  log_.clear();
  device_.arrive({{0x00, 0x00, 0x31}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 00 00 31"}));
}

TEST_F(PortOverFakeDevice, ADeviceThatGoesAwayAfterAnErrorIsStillOneLineErrorWithAClosedPort) {
  device_.arrive({{0x10, 0xFF, 0x00, 0x00, 0x11}});
  device_.readErrno = EIO;
  port_.service();
  port_.service();
  EXPECT_EQ(log_, (Log{"data 10", "line error", "gone"}));
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(port_.failureReason(), "the device went away");
}

TEST_F(PortOverFakeDevice, OpenSetsTheLineToMarkErrorsIn8N1Raw) {
  const termios& t = device_.line;
  EXPECT_EQ(t.c_iflag & (PARMRK | INPCK), tcflag_t(PARMRK | INPCK));
  EXPECT_EQ(t.c_iflag & (IGNPAR | IGNBRK | BRKINT | ISTRIP | ICRNL | IXON), 0u);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), tcflag_t(CS8));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(PortOverFakeDevice, LowLatencyIsAskedForAtOpenAndUndoneAtClose) {
  // SetUp opened the port over a driver that offers the setting, with it off.
  EXPECT_EQ(device_.serialSets, (std::vector<int>{ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY}));
  port_.close();
  EXPECT_EQ(device_.serialSets, (std::vector<int>{ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY, ASYNC_SKIP_TEST}));

  // Already on (set by the administrator): left as it is, also at close.
  device_.serialSets.clear();
  device_.serialFlags = ASYNC_LOW_LATENCY;
  ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600));
  port_.close();
  EXPECT_TRUE(device_.serialSets.empty());
  EXPECT_EQ(device_.serialFlags, ASYNC_LOW_LATENCY);
}

TEST_F(PortOverFakeDevice, ADriverWithoutLowLatencyStillOpens) {
  port_.close();
  device_.requests.clear();
  device_.serialSets.clear();
  device_.serialFlags = 0;
  device_.serialErrno = ENOTTY;  // a pseudo-terminal
  ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600)) << port_.failureReason();
  EXPECT_EQ(port_.failureReason(), "");
  EXPECT_EQ(device_.requestCount(TIOCSSERIAL), 0);
  device_.arrive({{0x41}});
  port_.service();
  EXPECT_EQ(log_, (Log{"data 41"}));
  port_.close();
  EXPECT_EQ(device_.requestCount(TIOCSSERIAL), 0);

  device_.serialErrno = 0;
  device_.setSerialErrno = EPERM;  // a driver that refuses the change
  ASSERT_TRUE(port_.open("/dev/ttyFAKE0", 9600)) << port_.failureReason();
  EXPECT_EQ(port_.failureReason(), "");
  port_.close();
  EXPECT_EQ(device_.serialSets, (std::vector<int>{ASYNC_LOW_LATENCY}));  // asked once, nothing to undo
}

TEST_F(PortOverFakeDevice, TheQueueDrainsIntoTheKernelAndAFailingDeviceRefusesAWriteWithItsReason) {
  device_.writeErrno = EAGAIN;  // the kernel takes nothing more: our queue fills
  ASSERT_TRUE(port_.write(Bytes(1000, 0x03)));
  EXPECT_EQ(port_.outBufferCount(), 1000);

  device_.writeErrno = 0;  // the kernel takes the queue, then the device fails
  EXPECT_EQ(port_.outBufferCount(), 0);
  EXPECT_EQ(device_.written.size(), 1000u);
  device_.writeErrno = EIO;
  EXPECT_FALSE(port_.write({0x06}));
  EXPECT_EQ(port_.failureReason(), "the device refused the data (" + std::string(std::strerror(EIO)) + ")");
  EXPECT_EQ(port_.outBufferCount(), 0);
}

}  // namespace

// The contract of every port, over this system's fake device.
namespace contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, SerialPortContract, PosixRig);
}  // namespace contract

}  // namespace tarnset
