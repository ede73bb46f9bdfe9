#include "sim/BenchServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace kvsim {

BenchServer::BenchServer(VirtualBench& bench) : bench_(bench) {}

BenchServer::~BenchServer() {
  for (Client& c : clients_) close(c.fd);
  if (listener_ >= 0) close(listener_);
}

std::int64_t BenchServer::nowUs() const {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool BenchServer::listen(std::uint16_t port) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) {
    error_ = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 8) != 0) {
    error_ = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  return true;
}

std::vector<int> BenchServer::descriptors() const {
  std::vector<int> fds;
  if (listener_ >= 0) fds.push_back(listener_);
  for (const Client& c : clients_) fds.push_back(c.fd);
  return fds;
}

void BenchServer::accept() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    clients_.push_back(Client{fd, ++connectionsMade_, {}, {}, false});
    log(clients_.back(), "connected");
  }
}

bool BenchServer::serveClient(Client& c, std::int64_t now) {
  char buf[4096];
  for (;;) {
    const ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) {
      log(c, "closed by the client");
      return false;
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) break;
      return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != '\n') {
        if (c.in.size() < kMaxLine && !c.discarding) {
          c.in += buf[i];
        } else {
          c.discarding = true;
          c.in.clear();
        }
        continue;
      }
      if (!c.discarding) {
        log(c, "<- " + c.in);
        const std::string answer = bench_.handleLine(c.in, now);
        if (!answer.empty()) log(c, "-> " + answer.substr(0, answer.find_last_not_of('\n') + 1));
        c.out += answer;
      }
      c.in.clear();
      c.discarding = false;
      if (bench_.takeDropRequest()) {
        flush(c);  // what was answered before the drop still goes out
        log(c, "dropped");
        return false;
      }
    }
  }
  flush(c);
  return c.out.size() <= 16 * kMaxLine;  // a client that asks and never reads is let go
}

void BenchServer::log(const Client& c, const std::string& text) const {
  if (!log_) return;
  // A garbled answer or a client's binary line stays one readable log line.
  std::string shown;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b < 0x7F) {
      shown += ch;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      shown += std::string("\\x") + kHex[b >> 4] + kHex[b & 0x0F];
    }
  }
  log_("BENCH " + std::to_string(c.number) + " " + shown);
}

void BenchServer::flush(Client& c) {
  while (!c.out.empty()) {
    const ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
    if (n <= 0) break;
    c.out.erase(0, static_cast<std::size_t>(n));
  }
}

void BenchServer::serve() {
  const std::int64_t now = nowUs();
  bench_.step(now);
  if (listener_ >= 0) accept();
  for (auto it = clients_.begin(); it != clients_.end();) {
    if (serveClient(*it, now)) {
      ++it;
    } else {
      close(it->fd);
      it = clients_.erase(it);
    }
  }
}

}  // namespace kvsim
