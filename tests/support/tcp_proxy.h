// A loopback TCP proxy in front of a server, for a server that takes data slowly or freezes in
// the middle of a file: what the client sends is passed on at most `bytesPerSecond` (0: as it
// comes), and a connection that has passed on `freezeAfter` bytes (0: never) passes nothing
// more either way while staying open, as a server whose session process stopped. Every
// connection counts for itself, as each session of a server, so the next one is served. Runs
// on a thread of its own.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fern::testing_servers {

struct TcpProxyOptions {
  int targetPort = 0;
  long bytesPerSecond = 0;
  long freezeAfter = 0;
};

class TcpProxy {
 public:
  explicit TcpProxy(TcpProxyOptions o) : o_(o) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("no loopback socket for the proxy");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~TcpProxy() {
    stop_ = true;
    thread_.join();
    for (const Pair& p : pairs_) {
      ::close(p.client);
      ::close(p.server);
    }
    ::close(listen_);
  }
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // A connection has frozen.
  bool Frozen() const { return frozen_; }

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    long passed = 0;     // client to server
    long allowance = 0;  // of this second
    bool closed = false;
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }

  void Accept() {
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = Loopback(o_.targetPort);
    if (::connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
      ::close(client);
      ::close(server);
      return;
    }
    pairs_.push_back({client, server, 0, o_.bytesPerSecond, false});
  }

  // Moves what `from` has (at most `limit` bytes) to `to`; false once `from` ended.
  static bool Pass(int from, int to, long limit, long& passed) {
    char buffer[16384];
    const ssize_t n = ::recv(
        from, buffer, static_cast<size_t>(std::min<long>(limit, sizeof buffer)), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    for (ssize_t sent = 0; n > 0 && sent < n;) {
      const ssize_t w = ::send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
      if (w <= 0) return false;
      sent += w;
    }
    if (n > 0) passed += n;
    return true;
  }

  void Loop() {
    using Clock = std::chrono::steady_clock;
    auto second = Clock::now();
    while (!stop_) {
      if (Clock::now() - second >= std::chrono::seconds(1)) {
        second = Clock::now();
        for (Pair& p : pairs_) p.allowance = o_.bytesPerSecond;
      }
      std::vector<pollfd> fds{{listen_, POLLIN, 0}};
      std::vector<Pair*> owners{nullptr};
      for (Pair& p : pairs_) {
        if (p.closed || (o_.freezeAfter && p.passed >= o_.freezeAfter)) continue;
        if (!o_.bytesPerSecond || p.allowance > 0) {
          fds.push_back({p.client, POLLIN, 0});
          owners.push_back(&p);
        }
        fds.push_back({p.server, POLLIN, 0});
        owners.push_back(&p);
      }
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      for (size_t i = 1; i < fds.size(); ++i) {
        Pair& p = *owners[i];
        if (!fds[i].revents || p.closed) continue;
        bool alive = true;
        if (fds[i].fd == p.client) {
          long limit = o_.bytesPerSecond ? p.allowance : 1L << 20;
          if (o_.freezeAfter) limit = std::min(limit, o_.freezeAfter - p.passed);
          const long before = p.passed;
          alive = Pass(p.client, p.server, limit, p.passed);
          if (o_.bytesPerSecond) p.allowance -= p.passed - before;
          if (o_.freezeAfter && p.passed >= o_.freezeAfter) frozen_ = true;
        } else {
          long ignored = 0;
          alive = Pass(p.server, p.client, 1L << 20, ignored);
        }
        if (!alive) {
          // One side ended: the other hears it, as without the proxy.
          ::shutdown(p.client, SHUT_RDWR);
          ::shutdown(p.server, SHUT_RDWR);
          p.closed = true;
        }
      }
      if (fds[0].revents) Accept();  // after the pointers into `pairs_` are done with
    }
  }

  TcpProxyOptions o_;
  int listen_ = -1;
  int port_ = 0;
  std::vector<Pair> pairs_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> frozen_{false};
  std::thread thread_;
};

}  // namespace fern::testing_servers
