#include "instruments/VisaAddress.h"

#include <charconv>
#include <vector>

#include "instruments/ScpiText.h"

namespace tarnset {
namespace {

// The fields between "::", a bracketed IPv6 address kept whole.
std::vector<std::string> fields(const std::string& s) {
  std::vector<std::string> out;
  std::string cur;
  bool bracket = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '[') bracket = true;
    if (s[i] == ']') bracket = false;
    if (!bracket && s.compare(i, 2, "::") == 0) {
      out.push_back(cur);
      cur.clear();
      ++i;
      continue;
    }
    cur += s[i];
  }
  out.push_back(cur);
  return out;
}

// A number in decimal, or in hex with 0x; nullopt for anything else or one above limit.
std::optional<unsigned long> number(const std::string& text, unsigned long limit) {
  std::string digits = text;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits = digits.substr(2);
    base = 16;
  }
  unsigned long v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || v > limit) {
    return std::nullopt;
  }
  return v;
}

// The interface keyword after a board number: "TCPIP0" is "TCPIP" on board 0.
bool keyword(const std::string& field, const std::string& name) {
  const std::string f = asciiUpper(field);
  if (f.compare(0, name.size(), name) != 0) return false;
  const std::string board = f.substr(name.size());
  return board.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::optional<VisaAddress> parseVisaAddress(const std::string& text, std::string& why) {
  VisaAddress a;
  a.text = std::string(trimBlanks(text));
  const auto fail = [&](const std::string& what) {
    why = "'" + a.text + "' " + what;
    return std::optional<VisaAddress>{};
  };
  if (a.text.empty()) {
    why = "no address given";
    return std::nullopt;
  }
  std::vector<std::string> f = fields(a.text);
  const std::string head = f.front();

  if (keyword(head, "TCPIP")) {
    if (f.size() != 4 || asciiUpper(f[3]) != "SOCKET") {
      return fail("is not a LAN socket address: write TCPIP::host::port::SOCKET");
    }
    std::string host = f[1];
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    if (host.empty() || host.find_first_of(" \t[]") != std::string::npos) return fail("names no host");
    const auto port = number(f[2], 65535);
    if (!port || *port == 0) return fail("needs a port from 1 to 65535, not '" + f[2] + "'");
    a.kind = VisaAddress::Kind::Socket;
    a.host = host;
    a.port = static_cast<std::uint16_t>(*port);
    return a;
  }

  if (asciiUpper(head).compare(0, 4, "ASRL") == 0) {
    if (f.size() > 2 || (f.size() == 2 && asciiUpper(f[1]) != "INSTR"))
      return fail("is not a serial address: write ASRLn::INSTR");
    const std::string rest = head.substr(4);
    a.kind = VisaAddress::Kind::Serial;
    if (rest.find_first_not_of("0123456789") == std::string::npos) {
      const auto n = number(rest, 255);
      if (!n || *n == 0) return fail("needs a serial port number from 1 to 255");
      a.comNumber = static_cast<int>(*n);
    } else {
      a.device = rest;
    }
    return a;
  }

  if (keyword(head, "USB")) {
    if (!f.empty() && asciiUpper(f.back()) == "INSTR") f.pop_back();
    if (f.size() < 4 || f.size() > 5) {
      return fail("is not a USB address: write USB::vendor::product::serial::INSTR");
    }
    const auto vendor = number(f[1], 0xFFFF);
    const auto product = number(f[2], 0xFFFF);
    if (!vendor || !product) return fail("needs a vendor and a product id (0x0957 or 2391)");
    a.kind = VisaAddress::Kind::Usb;
    a.vendorId = static_cast<std::uint16_t>(*vendor);
    a.productId = static_cast<std::uint16_t>(*product);
    a.serial = f[3];
    if (f.size() == 5) {
      const auto n = number(f[4], 255);
      if (!n) return fail("needs a USB interface number from 0 to 255, not '" + f[4] + "'");
      a.interfaceNumber = static_cast<int>(*n);
    }
    return a;
  }
  return fail(
      "is not an instrument address: write TCPIP::host::port::SOCKET, ASRLn::INSTR or USB::...::INSTR");
}

}  // namespace tarnset
