// The web site's servers for the tests, all on 127.0.0.1 with free ports and stopped with their
// objects: a MariaDB server started once per test binary (a global environment, so the suite
// stays fast), PHP's built-in web server over a folder, and php-cli for single scripts.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "support/child_process.h"

namespace fern::testing {

inline int FreePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

inline bool Listening(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// A program in its own process group, its output into `log`.
inline pid_t StartServer(const std::vector<std::string>& argv, const std::filesystem::path& log) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

inline ProcessResult RunTool(const std::vector<std::string>& argv,
                             std::chrono::seconds limit = std::chrono::seconds(60)) {
  ProcessOptions o;
  o.captureStdout = o.captureStderr = true;
  o.timeout = limit;
  o.cancelOnEsc = false;
  return RunProcess(argv, o);
}

// MariaDB with its own data folder below a short /tmp path (the socket path must stay short).
class MariaDb {
 public:
  // Without grant tables the server starts on an empty folder in a fraction of a second and
  // lets any account in: most tests check what the scripts do, not MariaDB's logins. With
  // `grants` the folder is installed first and accounts log in with their passwords and
  // privileges, as on a real site (root through the socket).
  explicit MariaDb(bool grants = false) {
    char pattern[] = "/tmp/fmdb-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    std::filesystem::create_directories(dir_ / "data");
    port_ = FreePort();
    const bool root = ::geteuid() == 0;
    if (grants) {
      std::vector<std::string> install = {"mariadb-install-db",
                                          "--no-defaults",
                                          "--datadir=" + (dir_ / "data").string(),
                                          "--skip-test-db",
                                          "--auth-root-authentication-method=normal",
                                          "--innodb-buffer-pool-size=16M",
                                          "--skip-log-bin"};
      if (root) install.push_back("--user=root");
      // A busy machine may fail the first bootstrap; the second runs on an empty folder again.
      ProcessResult r = RunTool(install);
      for (int attempt = 0; attempt < 2 && !r.Succeeded(); ++attempt) {
        std::filesystem::remove_all(dir_ / "data");
        std::filesystem::create_directories(dir_ / "data");
        r = RunTool(install);
      }
      if (!r.Succeeded()) throw std::runtime_error("mariadb-install-db failed: " + r.out + r.err);
    }
    std::vector<std::string> argv = {"mariadbd",
                                     "--no-defaults",
                                     "--datadir=" + (dir_ / "data").string(),
                                     "--socket=" + Socket(),
                                     "--port=" + std::to_string(port_),
                                     "--bind-address=127.0.0.1",
                                     "--skip-name-resolve",
                                     "--innodb-buffer-pool-size=16M",
                                     "--skip-log-bin",
                                     "--pid-file=" + (dir_ / "pid").string()};
    if (!grants) argv.push_back("--skip-grant-tables");
    if (root) argv.push_back("--user=root");
    pid_ = StartServer(argv, dir_ / "server.log");
    for (int i = 0; i < 300 && !Sql("select 1").Succeeded(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!Sql("select 1").Succeeded()) throw std::runtime_error("MariaDB did not start");
  }
  ~MariaDb() {
    StopChildGroup(pid_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Socket() const { return (dir_ / "s").string(); }
  int port() const { return port_; }
  // "127.0.0.1:<port>": mysqli would take "localhost" as the system's socket.
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  ProcessResult Sql(const std::string& sql, const std::string& database = {}) const {
    std::vector<std::string> argv = {
        "mariadb", "--no-defaults", "-S", Socket(), "-uroot", "-N", "-B", "-e", sql};
    if (!database.empty()) argv.push_back(database);
    return RunTool(argv);
  }
  // The lines of a query's result, tab-separated columns.
  std::string Query(const std::string& sql, const std::string& database) const {
    const ProcessResult r = Sql(sql, database);
    if (!r.Succeeded()) throw std::runtime_error(sql + ": " + r.err);
    return r.out;
  }
  // A fresh, empty database.
  std::string NewDatabase() {
    const std::string name = "site" + std::to_string(++databases_);
    Sql("drop database if exists " + name + "; create database " + name + ";");
    return name;
  }

 private:
  std::filesystem::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  int databases_ = 0;
};

// The one server of the test binary, started on first use and stopped by a global test
// environment after the last test (site_servers.cpp).
MariaDb& Database();
// The same with grant tables, for the tests of logins and refused privileges.
MariaDb& GrantingDatabase();

// php -S over a folder; its log holds one line per request and every PHP message.
class PhpServer {
 public:
  explicit PhpServer(const std::filesystem::path& root, const std::filesystem::path& router = {})
      : log_(root.parent_path() / "php-server.log") {
    port_ = FreePort();
    std::vector<std::string> argv = {"php",
                                     "-d",
                                     "error_reporting=E_ALL",
                                     "-d",
                                     "display_errors=0",
                                     "-d",
                                     "log_errors=1",
                                     "-S",
                                     "127.0.0.1:" + std::to_string(port_),
                                     "-t",
                                     root.string()};
    if (!router.empty()) argv.push_back(router.string());
    pid_ = StartServer(argv, log_);
    for (int i = 0; i < 100 && !Listening(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ~PhpServer() { StopChildGroup(pid_); }
  int port() const { return port_; }
  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Lines of the log that tell of a PHP warning, notice, deprecation or fatal error.
  std::string Complaints() const {
    std::string out, line;
    std::istringstream in(Log());
    while (std::getline(in, line))
      for (const char* word : {"Warning", "Notice", "Deprecated", "Fatal", "Parse error"})
        if (line.find(word) != std::string::npos) {
          out += line + "\n";
          break;
        }
    return out;
  }

 private:
  std::filesystem::path log_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace fern::testing
