#pragma once
// The socket calls of the LAN instrument link, one small set per system (posix/SocketIo.cpp,
// win32/SocketIo.cpp), so that the link's logic (SocketTransport) is written once. Every
// call but lookUp returns at once.
#include <cstdint>
#include <string>
#include <vector>

#include "base/Types.h"

namespace tarnset::sockio {

// An address to connect to: the system's socket address as bytes, and how to show it.
struct Address {
  std::vector<std::uint8_t> raw;
  std::string text;
};

// A socket and (on Windows) the event that signals it.
struct Socket {
  std::intptr_t handle = -1;
  std::intptr_t event = -1;
  bool valid() const { return handle != -1; }
};

enum class Progress { Pending, Connected, Failed };

// The addresses of a numeric host (IPv4, or IPv6 without brackets); false when host is a name.
bool numericAddresses(const std::string& host, std::uint16_t port, std::vector<Address>& out);
// Looks a host name up; this blocks (a helper thread calls it). Empty with why set on failure.
std::vector<Address> lookUp(const std::string& host, std::uint16_t port, std::string& why);
// A non-blocking socket whose connection to a has been started; an invalid one with why set
// on failure.
Socket startConnect(const Address& a, std::string& why);
// Whether the connection has been made (why set when it failed).
Progress connectProgress(Socket& s, std::string& why);
// Sends what the system takes now: bytes taken, 0 when it takes none, -1 on failure.
long sendSome(Socket& s, const char* data, std::size_t size, std::string& why);
// Receives what waits: bytes, 0 when the peer closed, -1 on failure, -2 when nothing waits.
long receiveSome(Socket& s, char* buffer, std::size_t size, std::string& why);
// What the event loop watches: the descriptor, or the socket's event.
Waitable waitableOf(const Socket& s);
void closeSocket(Socket& s);

}  // namespace tarnset::sockio
