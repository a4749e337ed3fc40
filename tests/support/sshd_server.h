// A loopback SFTP server for the upload tests: /usr/sbin/sshd with its own configuration, host
// key and authorized key in a folder of the test, on a free port of 127.0.0.1, running as the
// current user. The SFTP start folder is `home`, so relative uploads land there.
#pragma once

#include "support/child_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace fern::testing_servers {

inline bool MakeSshKey(const std::filesystem::path& key) {
  std::filesystem::remove(key);
  std::filesystem::remove(key.string() + ".pub");
  ProcessOptions quiet;
  quiet.captureStdout = quiet.captureStderr = true;
  quiet.timeout = std::chrono::seconds(30);
  return RunProcess(
             {"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "fern-test", "-f", key.string()},
             quiet)
      .Succeeded();
}

// "SHA256:..." or "MD5:..:.." of a public key file, as ssh-keygen prints it.
inline std::string KeygenFingerprint(const std::filesystem::path& pub, const std::string& hash) {
  ProcessOptions o;
  o.captureStdout = o.captureStderr = true;
  o.timeout = std::chrono::seconds(30);
  const ProcessResult r = RunProcess({"ssh-keygen", "-l", "-E", hash, "-f", pub.string()}, o);
  const size_t a = r.out.find(' ');
  const size_t b = r.out.find(' ', a + 1);
  return a == std::string::npos ? "" : r.out.substr(a + 1, b - a - 1);
}

inline std::string CurrentUser() {
  const passwd* pw = getpwuid(geteuid());
  return pw ? pw->pw_name : "root";
}

struct SshdOptions {
  std::filesystem::path dir;        // config, keys and log go here
  std::filesystem::path home;       // the SFTP start folder
  std::filesystem::path hostKey;    // made when missing
  std::filesystem::path clientPub;  // its key may log in; empty: none
  std::string sftpDenied;           // SFTP requests refused, as internal-sftp's -P takes them
};

class SshdServer {
 public:
  explicit SshdServer(SshdOptions o) : o_(std::move(o)) {
    namespace fs = std::filesystem;
    if (!fs::exists(o_.hostKey) && !MakeSshKey(o_.hostKey))
      throw std::runtime_error("ssh-keygen failed");
    fs::permissions(o_.hostKey, fs::perms::owner_read | fs::perms::owner_write);
    std::error_code ec;
    fs::create_directories("/run/sshd", ec);  // sshd's privilege-separation folder
    const fs::path keys = o_.dir / "authorized_keys";
    {
      std::ofstream out(keys);
      if (!o_.clientPub.empty()) out << std::ifstream(o_.clientPub).rdbuf();
    }
    port_ = FreePort();
    const fs::path config = o_.dir / "sshd_config";
    {
      std::ofstream c(config);
      c << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey " << o_.hostKey.string()
        << "\nPidFile " << (o_.dir / "sshd.pid").string() << "\nAuthorizedKeysFile "
        << keys.string()
        << "\nPermitRootLogin yes\nUsePAM no\nStrictModes no\nPasswordAuthentication yes\n"
           "KbdInteractiveAuthentication no\nMaxAuthTries 10\nLogLevel ERROR\n"
           "Subsystem sftp internal-sftp -d "
        << o_.home.string() << (o_.sftpDenied.empty() ? "" : " -P " + o_.sftpDenied) << "\n";
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      setpgid(0, 0);
      const std::string log = (o_.dir / "sshd.log").string();
      execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", config.c_str(), "-E", log.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!WaitListening()) {
      Stop();
      throw std::runtime_error("sshd did not start");
    }
  }
  ~SshdServer() { Stop(); }
  SshdServer(const SshdServer&) = delete;
  SshdServer& operator=(const SshdServer&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

  void Stop() { fern::testing::StopChildGroup(pid_); }

  // A port nobody listens on right now.
  static int FreePort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
  }

 private:
  bool WaitListening() const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return false;
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (ok) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  SshdOptions o_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace fern::testing_servers
