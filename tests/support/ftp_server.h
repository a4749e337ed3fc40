// A loopback FTP server for the transfer tests and the benchmark: python3-pyftpdlib on
// 127.0.0.1 with a free port, started in its own process and stopped with the object.
// Header-only so the benchmark can use it too.
#pragma once

#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace fern::testing_servers {

// The server script. Modes: a normal server (optionally explicit TLS, optionally dropping the
// control connection once a file whose name holds "drop" has received --drop-after bytes, or
// keeping only the first half of the first file whose name holds "cut"), or a stalled one that
// accepts connections and never says a word. A slow server (--max-rate bytes a second) or one
// that freezes in the middle of a file (--freeze-after bytes: its session process stops itself)
// serves every session in a process of its own, so that the next session still gets answers.
inline constexpr const char* kFtpServerScript = R"PY(
import argparse, os, signal, socket, sys, time
p = argparse.ArgumentParser()
p.add_argument('--home'); p.add_argument('--user'); p.add_argument('--password')
p.add_argument('--cert'); p.add_argument('--key')
p.add_argument('--drop-after', type=int, default=0)
p.add_argument('--stall', action='store_true')
p.add_argument('--login-dir', default='')
p.add_argument('--perm', default='elradfmwMT')
p.add_argument('--no-mfmt', action='store_true')
p.add_argument('--no-size', action='store_true')
p.add_argument('--cut-once', action='store_true')
p.add_argument('--slow-read', type=float, default=0)
p.add_argument('--max-rate', type=int, default=0)
p.add_argument('--freeze-after', type=int, default=0)
p.add_argument('--tls-only', default='')
a = p.parse_args()
if a.stall:
    s = socket.socket(); s.bind(('127.0.0.1', 0)); s.listen(16)
    print('PORT', s.getsockname()[1], flush=True)
    held = []
    while True:
        c, _ = s.accept(); held.append(c)
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, DTPHandler
from pyftpdlib.servers import FTPServer, MultiprocessFTPServer
base, dtp_base = FTPHandler, DTPHandler
if a.cert:
    from pyftpdlib.handlers import TLS_FTPHandler, TLS_DTPHandler
    base, dtp_base = TLS_FTPHandler, TLS_DTPHandler
class DropDTP(dtp_base):
    if a.max_rate:
        ac_in_buffer_size = 4096
    # Through handle_read_event, so that the TLS handler's handshake still comes first.
    def handle_read_event(self):
        if a.slow_read:
            time.sleep(a.slow_read)
        before = self.tot_bytes_received
        super().handle_read_event()
        f = getattr(self, 'file_obj', None)
        if a.drop_after and f is not None and 'drop' in f.name and \
                self.tot_bytes_received >= a.drop_after:
            self.cmd_channel.close()
        if a.freeze_after and self.tot_bytes_received >= a.freeze_after:
            os.kill(os.getpid(), signal.SIGSTOP)
        if a.max_rate:
            # The session has a process of its own: sleeping slows only this one.
            time.sleep((self.tot_bytes_received - before) / a.max_rate)
    if a.cert:
        # libcurl shakes hands on a protected data channel before it sends STOR; pyftpdlib
        # would take that early readable channel for an abandoned one and close it. Real
        # servers wait for the command.
        def readable(self):
            if not self.receive and not self._initialized:
                return self._ssl_accepting or self._ssl_want_read
            return super().readable()
class Handler(base):
    dtp_handler = DropDTP
    authorizer = DummyAuthorizer()
    permit_foreign_addresses = False
    auth_failed_timeout = 0.05
    def on_login(self, username):
        if a.login_dir:
            self.fs.cwd = '/' + a.login_dir
    # Every command verb into the log, so that tests see what came over the wire.
    def pre_process_command(self, line, cmd, arg):
        print('CMD', cmd, file=sys.stderr, flush=True)
        return super().pre_process_command(line, cmd, arg)
    # Runs before the next command is read, so SIZE already sees the cut file.
    cut_done = False
    def on_file_received(self, file):
        if a.cut_once and 'cut' in os.path.basename(file) and not Handler.cut_done:
            Handler.cut_done = True
            os.truncate(file, os.path.getsize(file) // 2)
unknown = ({'MFMT'} if a.no_mfmt else set()) | ({'SIZE'} if a.no_size else set())
Handler.proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in unknown}
Handler.authorizer.add_user(a.user, a.password, a.home, perm=a.perm)
if a.cert:
    Handler.certfile = a.cert; Handler.keyfile = a.key
    Handler.tls_control_required = True; Handler.tls_data_required = True
    if a.tls_only:
        from OpenSSL import SSL
        version = {'1.1': SSL.TLS1_1_VERSION, '1.2': SSL.TLS1_2_VERSION,
                   '1.3': SSL.TLS1_3_VERSION}[a.tls_only]
        Handler.get_ssl_context().set_min_proto_version(version)
        Handler.get_ssl_context().set_max_proto_version(version)
server_class = MultiprocessFTPServer if a.max_rate or a.freeze_after else FTPServer
srv = server_class(('127.0.0.1', 0), Handler)
srv.max_cons = 64
print('PORT', srv.socket.getsockname()[1], flush=True)
srv.serve_forever(timeout=0.2)
)PY";

struct FtpServerOptions {
  std::filesystem::path home;
  std::string user = "fern";
  std::string password = "s3cret-pw";
  std::filesystem::path cert, key;  // both set: explicit TLS required
  long dropAfter = 0;
  bool stall = false;
  std::string loginDir;       // the folder below home where a session starts ("" = home)
  std::filesystem::path log;  // the server's own log lines; empty: discarded
  std::string perm;           // pyftpdlib's permission letters; empty: all ("T" allows MFMT)
  bool noMfmt = false;        // MFMT neither listed in FEAT nor understood
  bool noSize = false;        // SIZE neither listed nor understood
  bool cutOnce = false;       // the first file named "*cut*" keeps only its first half
  double slowRead = 0;        // seconds of pause before each read of a data connection
  long maxRate = 0;           // above 0: a file arrives with at most this many bytes a second
  long freezeAfter = 0;       // above 0: the session freezes once a file got this many bytes
  std::string tlsOnly;        // with cert and key: the one TLS version taken ("1.3"), "" any
};

class FtpServer {
 public:
  explicit FtpServer(FtpServerOptions options) : options_(std::move(options)) {
    std::vector<std::string> args = {"/usr/bin/python3", "-u", "-c", kFtpServerScript};
    auto add = [&](const char* name, const std::string& value) {
      args.push_back(name);
      args.push_back(value);
    };
    if (options_.stall) {
      args.push_back("--stall");
    } else {
      add("--home", options_.home.string());
      add("--user", options_.user);
      add("--password", options_.password);
      if (!options_.cert.empty()) {
        add("--cert", options_.cert.string());
        add("--key", options_.key.string());
      }
      if (options_.dropAfter) add("--drop-after", std::to_string(options_.dropAfter));
      if (!options_.loginDir.empty()) add("--login-dir", options_.loginDir);
      if (!options_.perm.empty()) add("--perm", options_.perm);
      if (options_.noMfmt) args.push_back("--no-mfmt");
      if (options_.noSize) args.push_back("--no-size");
      if (options_.cutOnce) args.push_back("--cut-once");
      if (options_.slowRead > 0) add("--slow-read", std::to_string(options_.slowRead));
      if (options_.maxRate) add("--max-rate", std::to_string(options_.maxRate));
      if (options_.freezeAfter) add("--freeze-after", std::to_string(options_.freezeAfter));
      if (!options_.tlsOnly.empty()) add("--tls-only", options_.tlsOnly);
    }
    port_ = fern::testing::StartPortServer(
        args, options_.log.empty() ? "/dev/null" : options_.log.string(), pid_);
    if (port_ <= 0) {
      Stop();
      throw std::runtime_error("the FTP server did not start");
    }
  }
  ~FtpServer() { Stop(); }
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  int port() const { return port_; }
  // The host text the services take: "127.0.0.1:<port>", with a scheme when asked.
  std::string host(const std::string& scheme = {}) const {
    return scheme + "127.0.0.1:" + std::to_string(port_);
  }
  const FtpServerOptions& options() const { return options_; }
  // The server's process, which leads the group of its sessions' processes.
  pid_t pid() const { return pid_; }

  void Stop() { fern::testing::StopChildGroup(pid_); }

 private:
  FtpServerOptions options_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A self-signed certificate for 127.0.0.1 (openssl), for the TLS server and the client's trust.
inline bool MakeSelfSignedCert(const std::filesystem::path& cert,
                               const std::filesystem::path& key) {
  ProcessOptions quiet;
  quiet.captureStdout = quiet.captureStderr = true;
  quiet.timeout = std::chrono::seconds(30);
  return RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                     "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                     key.string(), "-out", cert.string()},
                    quiet)
      .Succeeded();
}

}  // namespace fern::testing_servers
