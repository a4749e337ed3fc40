// The REST tests' peer: the demo's stand-in for the host's REST service (demo/rest_service.py)
// on 127.0.0.1 with a free port, in its own process group, stopped with the object. Every
// request it received is kept as it arrived in its record folder. And a demo host with its
// session open whose REST address points at such a service.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/cFernDispatcher.h"
#include "core/host_session.h"
#include "host/cDal.h"
#include "host/cUtil.h"
#include "support/child_process.h"
#include "support/demo_host_fixture.h"

namespace fern::testing {

struct RestServiceOptions {
  std::vector<std::string> users = {"1/DEMO:demo"};
  bool super = false;
  std::string usersContentType;  // empty: the stand-in's XML
  int publishStatus = 200;
  std::string publishLocation;  // set: the publish is answered with a redirect there
  double delaySeconds = 0;
  double publishDelaySeconds = 0;
  std::filesystem::path usersAnswer;  // set: the availability check is answered with this file
  std::filesystem::path cert, key;    // both set: https
};

class RestService {
 public:
  RestService(const std::filesystem::path& record, const RestServiceOptions& o = {})
      : record_(record), log_(record.string() + ".log") {
    std::vector<std::string> args = {"/usr/bin/python3",
                                     "-u",
                                     std::string(FERN_SOURCE_DIR) + "/demo/rest_service.py",
                                     "--record",
                                     record.string(),
                                     "--lifetime",
                                     "120"};
    for (const auto& u : o.users) args.insert(args.end(), {"--user", u});
    if (o.super) args.push_back("--super");
    if (!o.usersContentType.empty())
      args.insert(args.end(), {"--users-content-type", o.usersContentType});
    args.insert(args.end(), {"--publish-status", std::to_string(o.publishStatus)});
    if (!o.publishLocation.empty())
      args.insert(args.end(), {"--publish-location", o.publishLocation});
    if (o.delaySeconds > 0) args.insert(args.end(), {"--delay", std::to_string(o.delaySeconds)});
    if (o.publishDelaySeconds > 0)
      args.insert(args.end(), {"--publish-delay", std::to_string(o.publishDelaySeconds)});
    if (!o.usersAnswer.empty()) args.insert(args.end(), {"--users-answer", o.usersAnswer.string()});
    if (!o.cert.empty())
      args.insert(args.end(), {"--cert", o.cert.string(), "--key", o.key.string()});
    // The stand-in's answers, one a line.
    port_ = StartPortServer(args, log_, pid_);
    if (port_ <= 0) {
      Stop();
      throw std::runtime_error("the REST stand-in did not start");
    }
  }
  ~RestService() { Stop(); }
  RestService(const RestService&) = delete;
  RestService& operator=(const RestService&) = delete;

  void Stop() { StopChildGroup(pid_); }
  int port() const { return port_; }
  std::string Base(const std::string& scheme = "http") const {
    return scheme + "://127.0.0.1:" + std::to_string(port_) + "/api";
  }

  // Whether an answer to a request whose path starts with `path` (below the base) was written.
  bool Sent(const std::string& method, const std::string& path) const {
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);)
      if (line.starts_with(method + " /api/" + path) && line.ends_with(" sent")) return true;
    return false;
  }

  // The requests received so far, each as it arrived (head, blank line, body), in order.
  std::vector<std::string> Received() const {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::exists(record_))
      for (const auto& e : std::filesystem::directory_iterator(record_)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::vector<std::string> out;
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      std::ostringstream s;
      s << in.rdbuf();
      out.push_back(s.str());
    }
    return out;
  }

 private:
  std::filesystem::path record_;
  std::string log_;  // the stand-in's standard error
  pid_t pid_ = -1;
  int port_ = 0;
};

// The head line of `name` in a received request ("" when missing).
inline std::string Header(const std::string& request, const std::string& name) {
  const std::string key = "\r\n" + name + ": ";
  const size_t pos = request.find(key);
  if (pos == std::string::npos || pos > request.find("\r\n\r\n")) return {};
  const size_t start = pos + key.size();
  return request.substr(start, request.find("\r\n", start) - start);
}
inline std::string Body(const std::string& request) {
  const size_t pos = request.find("\r\n\r\n");
  return pos == std::string::npos ? "" : request.substr(pos + 4);
}
inline std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

// A demo host with its session open, the demo user's REST service at `Point`'s address.
// The call log lies in the temporary folder: each test gets its own.
class RestHostTest : public ::testing::Test, public DemoHostTest {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    std::filesystem::create_directories(dir / "tmp");
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    Start();
    InitHostSession();
  }
  void TearDown() override {
    if (oldTmp_.empty())
      ::unsetenv("TMPDIR");
    else
      ::setenv("TMPDIR", oldTmp_.c_str(), 1);
  }
  void Preference(const std::string& key, const std::string& value) {
    Exec("DELETE FROM PREFERENCES WHERE SCOPE = 'STD' AND PREFKEY = " +
         cUtil::SqlStr(Variant(key)));
    Exec("INSERT INTO PREFERENCES (SCOPE, PREFKEY, VALUE) VALUES ('STD', " +
         cUtil::SqlStr(Variant(key)) + ", " + cUtil::SqlStr(Variant(value)) + ")");
  }
  std::string UserDsn() const { return cUtil::k(Session().g_CurrentUserRS->Value("DSN")); }
  std::string Folder() const { return app.Folder(); }

  cFernDispatcher app;
  std::string oldTmp_;
};

}  // namespace fern::testing
