// The LAN socket link against listeners on this machine's loopback, and the usbtmc device
// finder over a fake sysfs tree.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "StepLink.h"
#include "platform/EventWait.h"
#include "platform/SocketTransport.h"
#include "platform/posix/UsbtmcDevice.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

using namespace std::chrono_literals;
using Status = InstrumentTransport::Status;
using testing::stepUntil;

// A listening socket on 127.0.0.1 with a port the system picked.
class Listener {
 public:
  explicit Listener(int backlog = 4) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, backlog);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { close(fd_); }
  std::uint16_t port() const { return port_; }
  int accept() const { return ::accept(fd_, nullptr, nullptr); }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

TEST(SocketTransport, CarriesLinesBothWaysAndSeesTheInstrumentCloseTheConnection) {
  Listener server;
  MonotonicTickSource clock;
  SocketTransport t("127.0.0.1", server.port(), clock);
  ASSERT_TRUE(t.open(2000));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() != Status::Connecting; })) << t.errorText();
  ASSERT_EQ(t.status(), Status::Open);
  const int peer = server.accept();
  ASSERT_GE(peer, 0);
  ASSERT_TRUE(t.writeLine("MEAS:POW?"));
  char buf[64] = {};
  EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 10);
  EXPECT_EQ(std::string(buf), "MEAS:POW?\n");

  send(peer, "-3.2E", 5, 0);
  std::this_thread::sleep_for(10ms);
  send(peer, "+01\n", 4, 0);
  std::vector<WaitState> states;
  EXPECT_EQ(waitForAny({t.waitable()}, 2000, states), 1);  // the answer wakes the event loop
  std::string got;
  ASSERT_TRUE(stepUntil(t, [&] {
    got += t.readAll();
    return got.size() >= 9;
  }));
  EXPECT_EQ(got, "-3.2E+01\n");

  send(peer, "1\n", 2, 0);
  close(peer);
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Failed; }));
  EXPECT_EQ(t.readAll(), "1\n");  // what came before the close still counts
  EXPECT_EQ(t.errorText(), "the instrument closed the connection");
  EXPECT_FALSE(t.writeLine("MEAS:POW?"));
}

TEST(SocketTransport, ARefusedConnectionAndOneThatNeverCompletesFailWithTheirReason) {
  MonotonicTickSource clock;
  std::uint16_t closedPort = 0;
  {
    Listener gone;
    closedPort = gone.port();
  }
  SocketTransport refused("127.0.0.1", closedPort, clock);
  refused.open(2000);
  ASSERT_TRUE(stepUntil(refused, [&] { return refused.status() == Status::Failed; }));
  EXPECT_EQ(refused.errorText(), "Connection refused");

  // A listener that accepts nobody: once its queue is full, a connection never completes.
  Listener full(0);
  std::vector<int> queued;
  for (int i = 0; i < 4; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(full.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    queued.push_back(fd);
  }
  std::this_thread::sleep_for(50ms);
  SocketTransport late("127.0.0.1", full.port(), clock);
  late.open(300);
  ASSERT_TRUE(stepUntil(late, [&] { return late.status() != Status::Connecting; }));
  EXPECT_EQ(late.status(), Status::Failed);
  EXPECT_EQ(late.errorText().rfind("no connection within 300 ms", 0), 0u) << late.errorText();
  for (int fd : queued) close(fd);
}

TEST(SocketTransport, AHostNameIsLookedUpWithoutBlockingTheCaller) {
  Listener server;
  MonotonicTickSource clock;
  SocketTransport t("localhost", server.port(), clock);
  ASSERT_TRUE(t.open(2000));
  EXPECT_EQ(t.status(), Status::Connecting);
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() != Status::Connecting; }));
  // localhost may name ::1 first, where nobody listens; the next address is tried.
  EXPECT_EQ(t.status(), Status::Open) << t.errorText();
  t.close();
  EXPECT_EQ(t.status(), Status::Closed);
  EXPECT_EQ(t.waitable(), kNoWaitable);
}

TEST(UsbtmcDevice, TheInstrumentIsFoundByItsIdsAndSerialNumber) {
  testing::TempDir t;
  namespace fs = std::filesystem;
  const auto device = [&](const std::string& node, const std::string& usb, const std::string& vendor,
                          const std::string& product, const std::string& serial) {
    const fs::path dev = fs::path(t.path("sys/devices")) / usb;
    fs::create_directories(dev / (usb + ":1.0"));
    std::ofstream(dev / "idVendor") << vendor << "\n";
    std::ofstream(dev / "idProduct") << product << "\n";
    std::ofstream(dev / "serial") << serial << "\n";
    std::ofstream(dev / (usb + ":1.0") / "bInterfaceNumber") << "00\n";
    const fs::path cls = fs::path(t.path("sys/class/usbmisc")) / node;
    fs::create_directories(cls);
    fs::create_directory_symlink(dev / (usb + ":1.0"), cls / "device");
  };
  std::string why;
  UsbInstrumentId id{0x0957, 0x1807, "MY123", -1, "USB::0x0957::0x1807::MY123::INSTR"};
  EXPECT_EQ(findUsbtmcDevice(id, why, t.path("sys"), "/dev"), "");
  EXPECT_NE(why.find("no USBTMC instrument is connected"), std::string::npos);

  device("usbtmc0", "1-1", "0957", "1807", "OTHER");
  device("usbtmc1", "1-2", "0957", "1807", "MY123");
  device("usbtmc2", "1-3", "1ab1", "0588", "MY123");
  EXPECT_EQ(findUsbtmcDevice(id, why, t.path("sys"), "/dev"), "/dev/usbtmc1");
  id.serial.clear();
  EXPECT_NE(findUsbtmcDevice(id, why, t.path("sys"), "/dev"), "");
  id.interfaceNumber = 0;
  id.vendorId = 0x1ab1;
  id.productId = 0x0588;
  EXPECT_EQ(findUsbtmcDevice(id, why, t.path("sys"), "/dev"), "/dev/usbtmc2");
  id.interfaceNumber = 1;
  EXPECT_EQ(findUsbtmcDevice(id, why, t.path("sys"), "/dev"), "");
  EXPECT_NE(why.find("none of the 3 USBTMC instruments"), std::string::npos);

  UsbtmcDevice missing(id, t.path("sys"), "/dev");
  EXPECT_FALSE(missing.open(why));
}

}  // namespace
}  // namespace tarnset
