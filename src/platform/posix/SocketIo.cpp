#include "platform/SocketIo.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarnset::sockio {
namespace {

std::vector<Address> fromInfo(const addrinfo* list) {
  std::vector<Address> out;
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    Address addr;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(a->ai_addr);
    addr.raw.assign(bytes, bytes + a->ai_addrlen);
    char host[INET6_ADDRSTRLEN] = "";
    const void* in =
        a->ai_family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr)
            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr);
    inet_ntop(a->ai_family, in, host, sizeof host);
    addr.text = host;
    out.push_back(std::move(addr));
  }
  return out;
}

std::vector<Address> resolve(const std::string& host, std::uint16_t port, int flags, std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    why = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
    return {};
  }
  std::vector<Address> out = fromInfo(list);
  freeaddrinfo(list);
  if (out.empty()) why = "no IPv4 or IPv6 address";
  return out;
}

}  // namespace

bool numericAddresses(const std::string& host, std::uint16_t port, std::vector<Address>& out) {
  std::string why;
  out = resolve(host, port, AI_NUMERICHOST | AI_NUMERICSERV, why);
  return !out.empty();
}

std::vector<Address> lookUp(const std::string& host, std::uint16_t port, std::string& why) {
  return resolve(host, port, AI_NUMERICSERV, why);
}

Socket startConnect(const Address& a, std::string& why) {
  Socket s;
  const auto* sa = reinterpret_cast<const sockaddr*>(a.raw.data());
  const int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    why = std::strerror(errno);
    return s;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // short commands go out at once
  if (::connect(fd, sa, static_cast<socklen_t>(a.raw.size())) != 0 && errno != EINPROGRESS) {
    why = std::strerror(errno);
    ::close(fd);
    return s;
  }
  s.handle = fd;
  return s;
}

Progress connectProgress(Socket& s, std::string& why) {
  pollfd p{static_cast<int>(s.handle), POLLOUT, 0};
  if (::poll(&p, 1, 0) <= 0) return Progress::Pending;
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err == 0 && (p.revents & (POLLERR | POLLHUP)) == 0) return Progress::Connected;
  why = std::strerror(err != 0 ? err : ECONNREFUSED);
  return Progress::Failed;
}

long sendSome(Socket& s, const char* data, std::size_t size, std::string& why) {
  const ssize_t n = ::send(static_cast<int>(s.handle), data, size, MSG_NOSIGNAL);
  if (n >= 0) return static_cast<long>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
  why = std::strerror(errno);
  return -1;
}

long receiveSome(Socket& s, char* buffer, std::size_t size, std::string& why) {
  const ssize_t n = ::recv(static_cast<int>(s.handle), buffer, size, 0);
  if (n >= 0) return static_cast<long>(n);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return -2;
  why = std::strerror(errno);
  return -1;
}

Waitable waitableOf(const Socket& s) {
  return s.valid() ? static_cast<Waitable>(s.handle) : kNoWaitable;
}

void closeSocket(Socket& s) {
  if (s.valid()) ::close(static_cast<int>(s.handle));
  s = Socket{};
}

}  // namespace tarnset::sockio
