// VISA resource strings as Instruments.ini holds them.
#include <gtest/gtest.h>

#include "instruments/VisaAddress.h"

namespace tarnset {
namespace {

TEST(VisaAddress, LanSockets) {
  std::string why;
  for (const char* text : {"TCPIP::192.168.1.20::5025::SOCKET", " tcpip0::192.168.1.20::5025::socket ",
                           "TCPIP3::192.168.1.20::5025::SOCKET"}) {
    const auto a = parseVisaAddress(text, why);
    ASSERT_TRUE(a) << text << ": " << why;
    EXPECT_EQ(a->kind, VisaAddress::Kind::Socket);
    EXPECT_EQ(a->host, "192.168.1.20");
    EXPECT_EQ(a->port, 5025);
  }
  const auto v6 = parseVisaAddress("TCPIP::[fe80::1]::5025::SOCKET", why);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "fe80::1");
  const auto named = parseVisaAddress("TCPIP::bench-meter.local::0x13A1::SOCKET", why);
  ASSERT_TRUE(named);
  EXPECT_EQ(named->host, "bench-meter.local");
  EXPECT_EQ(named->port, 5025);
}

TEST(VisaAddress, SerialPortsByNumberOrPath) {
  std::string why;
  const auto com = parseVisaAddress("ASRL3::INSTR", why);
  ASSERT_TRUE(com);
  EXPECT_EQ(com->kind, VisaAddress::Kind::Serial);
  EXPECT_EQ(com->comNumber, 3);
  const auto path = parseVisaAddress("ASRL/dev/ttyUSB1::INSTR", why);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->comNumber, 0);
  EXPECT_EQ(path->device, "/dev/ttyUSB1");
  EXPECT_TRUE(parseVisaAddress("asrl12", why));
}

TEST(VisaAddress, UsbInstruments) {
  std::string why;
  const auto a = parseVisaAddress("USB::0x0957::0x1807::MY123::INSTR", why);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->kind, VisaAddress::Kind::Usb);
  EXPECT_EQ(a->vendorId, 0x0957);
  EXPECT_EQ(a->productId, 0x1807);
  EXPECT_EQ(a->serial, "MY123");
  EXPECT_EQ(a->interfaceNumber, -1);
  const auto b = parseVisaAddress("USB0::2391::6151::MY123::1::INSTR", why);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->vendorId, 2391);
  EXPECT_EQ(b->interfaceNumber, 1);
  EXPECT_TRUE(parseVisaAddress("USB::0x0957::0x1807::MY123", why));
}

TEST(VisaAddress, WhatIsRefusedIsSaid) {
  struct Case {
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"", "no address"},
      {"TCPIP::host::99999::SOCKET", "1 to 65535"},
      {"TCPIP::host::0::SOCKET", "1 to 65535"},
      {"TCPIP::host::port::SOCKET", "1 to 65535"},
      {"TCPIP::host::5025::INSTR", "TCPIP::host::port::SOCKET"},
      {"TCPIP::::5025::SOCKET", "names no host"},
      {"ASRL0::INSTR", "1 to 255"},
      {"ASRL300::INSTR", "1 to 255"},
      {"ASRL1::SOCKET", "ASRLn::INSTR"},
      {"USB::0x10000::1::X::INSTR", "vendor and a product"},
      {"USB::vendor::1::X::INSTR", "vendor and a product"},
      {"USB::1::2::INSTR", "USB::vendor::product"},
      {"USB::1::2::X::iface::INSTR", "interface number"},
      {"GPIB0::22::INSTR", "is not an instrument address"},
      {"192.168.1.20:5025", "is not an instrument address"},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_FALSE(parseVisaAddress(c.text, why)) << c.text;
    EXPECT_NE(why.find(c.says), std::string::npos) << c.text << ": " << why;
  }
}

}  // namespace
}  // namespace tarnset
