#pragma once
// Instrument addresses written as VISA resource strings:
//
//   TCPIP[board]::host::port::SOCKET       a raw LAN socket (TCPIP0::192.168.1.20::5025::SOCKET;
//                                          an IPv6 host in brackets)
//   ASRL[n]::INSTR                          serial port COM n (ASRL3::INSTR)
//   ASRL<device path>::INSTR                a serial device by path (ASRL/dev/ttyUSB1::INSTR)
//   USB[board]::vendor::product::serial[::interface][::INSTR]
//                                          a USBTMC instrument; vendor and product in hex (0x0957)
//                                          or decimal
//
// Keywords are matched without regard to case; "::INSTR" may be left off where VISA allows.
#include <cstdint>
#include <optional>
#include <string>

namespace tarnset {

struct VisaAddress {
  enum class Kind { Socket, Serial, Usb };
  Kind kind = Kind::Socket;
  std::string text;  // the resource string as written (blanks around it removed)

  // Socket: host name or numeric address (without brackets) and port.
  std::string host;
  std::uint16_t port = 0;
  // Serial: COM number (1..255), or 0 when the device is named by its path.
  int comNumber = 0;
  std::string device;
  // Usb: vendor and product ids, serial number (empty: any), interface number (-1: any).
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serial;
  int interfaceNumber = -1;
};

// Parses a resource string. nullopt with why set to a technician's sentence when it is
// none of the forms above ("the port of 'TCPIP::host::99999::SOCKET' must be 1 to 65535").
std::optional<VisaAddress> parseVisaAddress(const std::string& text, std::string& why);

}  // namespace tarnset
