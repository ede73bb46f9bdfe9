// The LAN socket link over Winsock against a listener on this machine's loopback, and the
// VISA link without a VISA library.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "StepLink.h"
#include "platform/EventWait.h"
#include "platform/SocketTransport.h"
#include "platform/win32/VisaDevice.h"

namespace tarnset {
namespace {

using namespace std::chrono_literals;
using Status = InstrumentTransport::Status;
using testing::stepUntil;

class Listener {
 public:
  Listener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s_, 4);
    int len = sizeof a;
    getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { closesocket(s_); }
  std::uint16_t port() const { return port_; }
  SOCKET accept() const { return ::accept(s_, nullptr, nullptr); }

 private:
  SOCKET s_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
};

TEST(SocketTransportWin32, CarriesLinesBothWaysAndSeesTheInstrumentClose) {
  Listener server;
  MonotonicTickSource clock;
  SocketTransport t("127.0.0.1", server.port(), clock);
  ASSERT_TRUE(t.open(3000));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() != Status::Connecting; })) << t.errorText();
  ASSERT_EQ(t.status(), Status::Open) << t.errorText();
  const SOCKET peer = server.accept();
  ASSERT_NE(peer, INVALID_SOCKET);
  ASSERT_TRUE(t.writeLine("*IDN?"));
  char buf[32] = {};
  EXPECT_EQ(recv(peer, buf, sizeof buf, 0), 6);
  EXPECT_EQ(std::string(buf), "*IDN?\n");
  send(peer, "A,B,C,D\n", 8, 0);
  std::string got;
  ASSERT_TRUE(stepUntil(t, [&] {
    got += t.readAll();
    return got.size() >= 8;
  }));
  EXPECT_EQ(got, "A,B,C,D\n");
  closesocket(peer);
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Failed; }));
  EXPECT_EQ(t.errorText(), "the instrument closed the connection");
}

TEST(SocketTransportWin32, ARefusedConnectionSaysSo) {
  std::uint16_t port = 0;
  {
    Listener gone;
    port = gone.port();
  }
  MonotonicTickSource clock;
  SocketTransport t("127.0.0.1", port, clock);
  t.open(3000);
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() != Status::Connecting; }));
  EXPECT_EQ(t.status(), Status::Failed);
  EXPECT_FALSE(t.errorText().empty());
}

TEST(VisaDevice, WithoutAVisaLibraryTheTechnicianIsToldWhatToInstall) {
  VisaDevice d("USB::0x0957::0x1807::MY123::INSTR", "no-such-visa64.dll");
  std::string why;
  EXPECT_FALSE(d.open(why));
  EXPECT_EQ(why, visaMissingText("no-such-visa64.dll"));
  EXPECT_NE(why.find("install your instrument maker's VISA"), std::string::npos);
  EXPECT_NE(why.find("TCPIP::host::5025::SOCKET"), std::string::npos);
}

}  // namespace
}  // namespace tarnset
