// The POSIX serial port over a real pseudo-terminal: the test holds the master side,
// the port opens the slave device as it would open a USB adapter.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "link/PosixSerialPort.h"

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
      pollfd p{port_.readFd(), POLLIN, 10};
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
    pollfd p{port_.readFd(), POLLIN, 0};
    ::poll(&p, 1, 5);
    port_.service();
  }
  ASSERT_EQ(sent, total);
  for (int i = 0; i < 50 && eventCount(PortEvent::ReceiveOverflow) == 0; ++i) {
    pollfd p{port_.readFd(), POLLIN, 0};
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
    pollfd p{port_.readFd(), POLLIN, 0};
    ::poll(&p, 1, 10);
    port_.service();
  }
  EXPECT_FALSE(port_.isOpen());
  EXPECT_EQ(port_.readFd(), -1);
  EXPECT_EQ(eventCount(PortEvent::LineError), 1);
  EXPECT_EQ(port_.failureReason(), "the device went away");
  for (int i = 0; i < 5; ++i) port_.service();
  EXPECT_EQ(eventCount(PortEvent::LineError), 1);
  EXPECT_FALSE(port_.write({0x01}));
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
  EXPECT_EQ(port.readFd(), -1);

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
    EXPECT_EQ(describeOpenFailure(EACCES, name),
              "permission denied (the device belongs to group dialout; add your user to it)");
  }
  std::remove(name);
}

}  // namespace
}  // namespace tarnset
