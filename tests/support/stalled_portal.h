// A portal whose server takes the connection and never answers: the post hangs until stopped.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace fern::testing {

class StalledPortal {
 public:
  StalledPortal() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    auto* raw = reinterpret_cast<sockaddr*>(&addr);
    if (fd_ < 0 || ::bind(fd_, raw, len) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, raw, &len) != 0)
      throw std::runtime_error("no loopback socket");
    port_ = ntohs(addr.sin_port);
  }
  StalledPortal(const StalledPortal&) = delete;
  StalledPortal& operator=(const StalledPortal&) = delete;
  ~StalledPortal() { ::close(fd_); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/openimmo"; }
  // A client is waiting for an answer.
  bool Called() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace fern::testing
