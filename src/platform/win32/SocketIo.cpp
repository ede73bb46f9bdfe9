#include "platform/SocketIo.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <string>

#include "platform/win32/Text.h"

namespace tarnset::sockio {
namespace {

// Winsock is started once for the life of the program.
bool started() {
  static const bool ok = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

std::string errorText(int code) {
  return win32::errorText(static_cast<unsigned long>(code));
}

SOCKET sock(const Socket& s) {
  return static_cast<SOCKET>(s.handle);
}

std::vector<Address> resolve(const std::string& host, std::uint16_t port, int flags, std::string& why) {
  if (!started()) {
    why = "the system's sockets cannot be used";
    return {};
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    why = errorText(rc);
    return {};
  }
  std::vector<Address> out;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    Address addr;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(a->ai_addr);
    addr.raw.assign(bytes, bytes + a->ai_addrlen);
    char text[INET6_ADDRSTRLEN] = "";
    getnameinfo(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), text, sizeof text, nullptr, 0,
                NI_NUMERICHOST);
    addr.text = text;
    out.push_back(std::move(addr));
  }
  freeaddrinfo(list);
  if (out.empty()) why = "no IPv4 or IPv6 address";
  return out;
}

}  // namespace

bool numericAddresses(const std::string& host, std::uint16_t port, std::vector<Address>& out) {
  std::string why;
  out = resolve(host, port, AI_NUMERICHOST, why);
  return !out.empty();
}

std::vector<Address> lookUp(const std::string& host, std::uint16_t port, std::string& why) {
  return resolve(host, port, 0, why);
}

Socket startConnect(const Address& a, std::string& why) {
  Socket s;
  if (!started()) {
    why = "the system's sockets cannot be used";
    return s;
  }
  const auto* sa = reinterpret_cast<const sockaddr*>(a.raw.data());
  const SOCKET h = ::socket(sa->sa_family, SOCK_STREAM, IPPROTO_TCP);
  if (h == INVALID_SOCKET) {
    why = errorText(WSAGetLastError());
    return s;
  }
  WSAEVENT ev = WSACreateEvent();
  // The event is the waitable; selecting events also makes the socket non-blocking.
  if (ev == WSA_INVALID_EVENT || WSAEventSelect(h, ev, FD_READ | FD_CLOSE | FD_CONNECT) != 0) {
    why = errorText(WSAGetLastError());
    if (ev != WSA_INVALID_EVENT) WSACloseEvent(ev);
    closesocket(h);
    return s;
  }
  BOOL one = TRUE;
  setsockopt(h, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  if (::connect(h, sa, static_cast<int>(a.raw.size())) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
    why = errorText(WSAGetLastError());
    WSACloseEvent(ev);
    closesocket(h);
    return s;
  }
  s.handle = static_cast<std::intptr_t>(h);
  s.event = reinterpret_cast<std::intptr_t>(ev);
  return s;
}

Progress connectProgress(Socket& s, std::string& why) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(sock(s), &writable);
  FD_SET(sock(s), &failed);
  timeval zero{0, 0};
  if (select(0, nullptr, &writable, &failed, &zero) <= 0) return Progress::Pending;
  if (FD_ISSET(sock(s), &writable)) return Progress::Connected;
  int err = 0;
  int len = sizeof err;
  getsockopt(sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
  why = errorText(err != 0 ? err : WSAECONNREFUSED);
  return Progress::Failed;
}

long sendSome(Socket& s, const char* data, std::size_t size, std::string& why) {
  const int n = ::send(sock(s), data, static_cast<int>(size), 0);
  if (n != SOCKET_ERROR) return n;
  const int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK) return 0;
  why = errorText(err);
  return -1;
}

long receiveSome(Socket& s, char* buffer, std::size_t size, std::string& why) {
  // Reading the recorded events resets the event; a receive that leaves bytes behind
  // signals it again.
  WSANETWORKEVENTS events{};
  WSAEnumNetworkEvents(sock(s), reinterpret_cast<WSAEVENT>(s.event), &events);
  const int n = ::recv(sock(s), buffer, static_cast<int>(size), 0);
  if (n != SOCKET_ERROR) return n;
  const int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK) return -2;
  why = errorText(err);
  return -1;
}

Waitable waitableOf(const Socket& s) {
  return s.valid() ? static_cast<Waitable>(s.event) : kNoWaitable;
}

void closeSocket(Socket& s) {
  if (s.valid()) {
    closesocket(sock(s));
    WSACloseEvent(reinterpret_cast<WSAEVENT>(s.event));
  }
  s = Socket{};
}

}  // namespace tarnset::sockio
