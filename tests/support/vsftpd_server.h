// Debian's vsftpd on loopback, run as the test's own user and stopped with the object. It lists
// with LIST and NLST only: MLSD is an unknown command to it, as on many hosted web servers.
// Logins are anonymous (an ordinary user's server can't switch to local accounts); they may
// write, delete and rename below `root`. Optionally only under TLS.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/sshd_server.h"

namespace fern::testing_servers {

struct VsftpdOptions {
  std::filesystem::path root;      // the anonymous login's folder
  std::filesystem::path folder;    // where its configuration, log and output go
  std::vector<std::string> extra;  // further lines, e.g. "dirlist_enable=NO"
  // Both set: login and data only under TLS with this certificate, explicit (AUTH TLS) unless
  // `implicitTls`.
  std::filesystem::path cert = {}, key = {};
  bool implicitTls = false;
};

class Vsftpd {
 public:
  static constexpr const char* kUser = "anonymous";

  explicit Vsftpd(VsftpdOptions o) : o_(std::move(o)) {
    // A port found free may be taken before the server binds it: then the next one.
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = SshdServer::FreePort();
      WriteConfig();
      pid_ = fern::testing::SpawnInGroup({"/usr/sbin/vsftpd", Config().string()}, {}, {},
                                         o_.folder / "vsftpd.out");
      if (!WaitListening()) Stop();
    }
    if (pid_ <= 0)
      throw std::runtime_error("vsftpd did not start: " + Read(o_.folder / "vsftpd.out"));
  }
  ~Vsftpd() { Stop(); }
  Vsftpd(const Vsftpd&) = delete;
  Vsftpd& operator=(const Vsftpd&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  void Stop() { fern::testing::StopChildGroup(pid_); }

  // The server's record of the dialogue: one line per command and answer.
  std::string Log() const { return Read(o_.folder / "vsftpd.log"); }
  // The log's lines of the commands whose verb is `verb` ("MLSD", "DELE").
  std::string Commands(const std::string& verb) const {
    std::string out;
    std::istringstream in(Log());
    for (std::string line; std::getline(in, line);)
      if (line.find("FTP command: Client \"127.0.0.1\", \"" + verb) != std::string::npos)
        out += line + "\n";
    return out;
  }

 private:
  std::filesystem::path Config() const { return o_.folder / "vsftpd.conf"; }
  static std::string Read(const std::filesystem::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  void WriteConfig() const {
    std::filesystem::create_directories(o_.folder);
    std::ofstream c(Config());
    c << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
      << "\nbackground=NO\nrun_as_launching_user=YES\nseccomp_sandbox=NO\n"
         "anonymous_enable=YES\nlocal_enable=NO\nanon_root="
      << o_.root.string()
      << "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
         "anon_other_write_enable=YES\nanon_world_readable_only=NO\nanon_umask=022\n"
         "pasv_enable=YES\nconnect_from_port_20=NO\n"
         "xferlog_enable=YES\nlog_ftp_protocol=YES\nsyslog_enable=NO\nvsftpd_log_file="
      << (o_.folder / "vsftpd.log").string() << "\n";
    if (!o_.cert.empty())
      c << "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\n"
           "force_anon_data_ssl=YES\nssl_ciphers=HIGH\nrsa_cert_file="
        << o_.cert.string() << "\nrsa_private_key_file=" << o_.key.string()
        << "\nimplicit_ssl=" << (o_.implicitTls ? "YES" : "NO") << "\n";
    for (const std::string& line : o_.extra) c << line << "\n";
  }

  // Up to ten seconds for the server's greeting (the port may be someone else's); false when
  // it ended.
  bool WaitListening() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      const int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port_));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      // Under implicit TLS the greeting comes only after the handshake.
      const bool ok =
          connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
          (o_.implicitTls ||
           fern::testing::ReadFirstLine(s, std::chrono::seconds(2)).rfind("220", 0) == 0);
      close(s);
      if (ok) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  VsftpdOptions o_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace fern::testing_servers
