// An HTTP server on a free loopback port, serving from its own thread. Register the handlers
// on `server`, then Start; the server stops with the object.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace fern::testing_servers {

class HttpServer {
 public:
  HttpServer() = default;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;
  ~HttpServer() { Stop(); }

  void Start() {
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  void Stop() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  // "127.0.0.1:<port><path>", without a scheme.
  std::string Address(const std::string& path) const {
    return "127.0.0.1:" + std::to_string(port_) + path;
  }

  httplib::Server server;

 private:
  int port_ = 0;
  std::thread thread_;
};

}  // namespace fern::testing_servers
