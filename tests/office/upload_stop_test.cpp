// SIGTERM (as systemd sends; "Abbrechen" and "Schließen" set the same stop) while a portal's
// server has taken the connection and never answers: the real program on a demo host.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>

#include "host/cUtil.h"
#include "office_fixture.h"
#include "platform/cp1252.h"
#include "platform/vb.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/sshd_server.h"
#include "support/stalled_portal.h"
#include "support/tcp_proxy.h"

namespace fern::testing {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Road {
  const char* name;
  const char* portal;   // the demo portal that goes there
  const char* host;     // "@" stands for "127.0.0.1:<port>"
  const char* switch_;  // "section/key" of a Kavantor.INI switch that selects the road, or ""
};
void PrintTo(const Road& road, std::ostream* os) { *os << road.name; }
const Road kRoads[] = {{"PassiveFtp", "ImmoPortal Demo", "@/in", ""},
                       {"ActiveFtp", "ImmoPortal Demo", "@/in", "FTP/ACTIVE_FTP"},
                       {"NcFtpPut", "ImmoPortal Demo", "@/in", "XML/UseNcFTP"},
                       {"Ftps", "ImmoPortal Demo", "ftps://@/in", ""},
                       {"Sftp", "ImmoPortal Demo", "sftp://@/upload", ""},
                       {"Http", "Wohnen HTTP Demo", "http://@/openimmo", ""}};

// The real program run for one portal on the demo host, and stopped as systemd stops a job.
class StoppedRun : public OfficeTest {
 protected:
  ~StoppedRun() override { StopChildGroup(pid_); }

  std::string Log(const std::string& name) {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }
  // The portal goes to `text` on the road `ini` selects, "@" standing for `address`.
  void Aim(const char* portal, const std::string& text, const std::string& address,
           const std::string& ini) {
    Sql("UPDATE Boersen SET boersen_host = '" + vb::Replace(text, "@", address) +
        "' WHERE boersen_name = '" + portal + "'");
    if (!ini.empty())
      cUtil().IniWrite(ini.substr(0, ini.find('/')), ini.substr(ini.find('/') + 1), "1",
                       (host() / "Kavantor.INI").string());
  }
  // Starts the program for `portal`; waits up to 30 s until `started` says the upload is on.
  void Spawn(const char* portal, const std::function<bool()>& started) {
    pid_ = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV", "DEMO",
                         "/PORTAL", vb::Replace(portal, " ", "§")},
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, {}, dir / "app.log");
    ASSERT_GT(pid_, 0);
    for (const auto end = Clock::now() + std::chrono::seconds(30);
         !started() && Clock::now() < end && WaitExit(pid_, std::chrono::milliseconds(0)) == -1;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(started()) << "the upload never started\n"
                           << testing_files::ReadAll(dir / "app.log") << Log("Send.log");
  }
  // SIGTERM as systemd stops a job: the upload program first, so the program may hear of the
  // stop only after its child died of it. Expects exit code 4 within 10 s; the time it took.
  Clock::duration Stop() {
    const auto stopped = Clock::now();
    for (pid_t child : ChildrenOf(pid_)) kill(child, SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid_, SIGTERM);
    const int status = WaitExit(pid_, std::chrono::seconds(10));
    const auto took = Clock::now() - stopped;
    EXPECT_NE(status, -1) << "still running 10 s after SIGTERM\n" << Log("Send.log");
    if (status == -1) return took;
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 4) << testing_files::ReadAll(dir / "app.log");
    std::printf("[ stopped  ] exit %.2f s after SIGTERM\n",
                std::chrono::duration<double>(took).count());
    return took;
  }
  // The stop logged once, as ForceCancel says it (behind a line break), no retry, no failure of
  // the server; counted twice on the run line (the transfer layer's and the run's), and once
  // more for each of `kept` parts the server would not let go.
  void ExpectOneRecordOfTheStop(const std::string& portal, int kept = 0) {
    const std::string sent = Log("Send.log");
    const size_t stop = sent.find("; \r\nProzess extern beendet\r\n");
    EXPECT_EQ(sent.rfind("Prozess extern beendet"), stop + 4) << sent;
    EXPECT_EQ(sent.find("weiterer Versuch"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("Anwendungsfehler"), std::string::npos) << sent;
    EXPECT_NE(sent.find("SIGTERM"), std::string::npos) << sent;
    const std::string errors = Log("Error.log");
    EXPECT_EQ(errors.find("102; ") != std::string::npos, kept > 0) << errors;
    EXPECT_EQ(errors.find("konnte auf dem Server nicht gelöscht werden") != std::string::npos,
              kept > 0)
        << errors;
    EXPECT_EQ(RunLineErrors(portal + "|"), 2 + kept) << Log("Transfer.log");
  }

  pid_t pid_ = -1;
};

class UploadStop : public StoppedRun, public ::testing::WithParamInterface<Road> {
 protected:
  StalledPortal server_;
};

TEST_P(UploadStop, SigtermEndsTheUploadAtOnceWithOneRecordOfTheStop) {
  const Road& road = GetParam();
  const std::string url = server_.Url();
  const std::string address = url.substr(7, url.rfind('/') - 7);
  Aim(road.portal, road.host, address, road.switch_);
  // A known host key, so the SFTP road goes to the upload rather than to learning the key.
  dir.Write("host/sftp.ini", "[" + address +
                                 "]\nfingerprint=ssh-ed25519 255 "
                                 "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n");
  Spawn(road.portal, [&] { return server_.Called(); });
  if (HasFatalFailure()) return;
  // The upload settles into waiting for the server's first word.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(Stop(), std::chrono::seconds(5));  // 2 s, with room for a slow machine
  ExpectOneRecordOfTheStop(road.portal);
}

INSTANTIATE_TEST_SUITE_P(EveryRoad, UploadStop, ::testing::ValuesIn(kRoads),
                         [](const ::testing::TestParamInfo<Road>& p) {
                           return std::string(p.param.name);
                         });

// The same stop while data flows, to a live server that takes the file at 4 KB/s or freezes
// after 100 KB of it (its session stopped): the archive of about 760 KB sits in the socket
// buffers and the upload waits for the server's last word, which comes only after a minute.
// A slow server that refuses to delete keeps the part that arrived: that is counted.
// Without SIZE, nothing on the server tells a cut file from a whole one: only what the upload
// itself saw of it.
enum class Server { kSlow, kFrozen, kSlowKeeping, kSlowWithoutSize, kSlowKeepingWithoutSize };
const char* NameOf(Server s) {
  switch (s) {
    case Server::kSlow:
      return "Slow";
    case Server::kFrozen:
      return "Frozen";
    case Server::kSlowKeeping:
      return "SlowKeeping";
    case Server::kSlowWithoutSize:
      return "SlowWithoutSize";
    case Server::kSlowKeepingWithoutSize:
      return "SlowKeepingWithoutSize";
  }
  return "";
}
void PrintTo(Server s, std::ostream* os) { *os << NameOf(s); }
using LiveCase = std::tuple<Road, Server>;

class LiveUploadStop : public StoppedRun, public ::testing::WithParamInterface<LiveCase> {
 protected:
  static constexpr long kRate = 4096;
  static constexpr long kFreezeAfter = 100 * 1024;

  void SetUp() override {
    const auto& [road, kind] = GetParam();
    slow_ = kind != Server::kFrozen;
    keeping_ = kind == Server::kSlowKeeping || kind == Server::kSlowKeepingWithoutSize;
    std::string address;
    if (std::string(road.host).starts_with("sftp://")) {
      Folder("sshd");
      ASSERT_TRUE(testing_servers::MakeSshKey(dir / "client_key"));
      sshd_ = std::make_unique<testing_servers::SshdServer>(
          testing_servers::SshdOptions{dir / "sshd", Folder("remote"), dir / "host_key",
                                       dir / "client_key.pub", keeping_ ? "remove" : ""});
      proxy_ = std::make_unique<testing_servers::TcpProxy>(testing_servers::TcpProxyOptions{
          sshd_->port(), slow_ ? kRate : 0, slow_ ? 0 : kFreezeAfter});
      address = proxy_->host();
      inbox_ = dir / "remote" / "upload";
      dir.Write("host/sftp.ini",
                "[" + address + "]\nfingerprint=" +
                    testing_servers::KeygenFingerprint(dir / "host_key.pub", "sha256") +
                    "\nprivateKeyfile=" + (dir / "client_key").string() + "\n");
      Sql("UPDATE Boersen SET loginname = '" + testing_servers::CurrentUser() +
          "' WHERE boersen_name = '" + road.portal + "'");
    } else {
      testing_servers::FtpServerOptions o;
      o.home = Folder("ftp");
      o.user = "immo";
      o.password = "immo-demo";
      if (std::string(road.host).starts_with("ftps://")) {
        ASSERT_TRUE(testing_servers::MakeSelfSignedCert(o.cert = dir / "cert.pem",
                                                        o.key = dir / "key.pem"));
      }
      (slow_ ? o.maxRate : o.freezeAfter) = slow_ ? kRate : kFreezeAfter;
      if (keeping_) o.perm = "elrawmMT";  // no DELE
      o.noSize = kind == Server::kSlowWithoutSize || kind == Server::kSlowKeepingWithoutSize;
      ftp_ = std::make_unique<testing_servers::FtpServer>(o);
      address = ftp_->host();
      inbox_ = o.home / "in";
      fs::create_directories(inbox_);  // the portal's inbox is there; ncftpput makes none
    }
    Aim(road.portal, road.host, address, road.switch_);
  }

  fs::path Folder(const std::string& name) const {
    fs::create_directories(dir / name);
    return dir / name;
  }
  // The files on the server's disk with their sizes, one a line.
  std::string Arrived() const {
    std::string out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(inbox_, ec))
      if (e.is_regular_file())
        out += e.path().filename().string() + " " + std::to_string(e.file_size()) + "\n";
    return out;
  }
  // The largest file on the server's disk so far.
  uintmax_t Largest() const {
    uintmax_t most = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(inbox_, ec))
      if (e.is_regular_file()) most = std::max(most, e.file_size(ec));
    return most;
  }

  bool slow_ = true;
  bool keeping_ = false;
  fs::path inbox_;
  std::unique_ptr<testing_servers::FtpServer> ftp_;
  std::unique_ptr<testing_servers::SshdServer> sshd_;
  std::unique_ptr<testing_servers::TcpProxy> proxy_;
};

TEST_P(LiveUploadStop, SigtermEndsTheFlowingUploadAtOnceAndRemovesThePartOrCountsIt) {
  const Road& road = std::get<0>(GetParam());
  Spawn(road.portal, [&] {
    if (slow_) return !Arrived().empty();
    return proxy_ ? proxy_->Frozen() : Largest() >= 64 * 1024;
  });
  if (HasFatalFailure()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // data in every buffer
  EXPECT_LT(Stop(), std::chrono::seconds(5));  // 1 to 2 s; a minute and more before
  ExpectOneRecordOfTheStop(road.portal, keeping_ ? 1 : 0);
  EXPECT_EQ(Arrived().empty(), !keeping_) << Arrived() << Log("Send.log");
}

// An impatient operator or a stop script that repeats its kill: the second SIGTERM comes while
// the stop's clean-up waits for a server that froze in the middle of the file and comes back
// later. The stop goes on as the first began it, within its budget, and the run writes its
// record.
class TwiceStoppedUpload : public LiveUploadStop {};

TEST_P(TwiceStoppedUpload, ASecondSigtermLeavesTheStopAsItIs) {
  const Road& road = std::get<0>(GetParam());
  Spawn(road.portal, [&] { return Largest() >= 64 * 1024; });
  if (HasFatalFailure()) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(-ftp_->pid(), SIGSTOP);
  const auto stopped = Clock::now();
  kill(pid_, SIGTERM);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(pid_, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(-ftp_->pid(), SIGCONT);
  const int status = WaitExit(pid_, std::chrono::seconds(30));
  ASSERT_NE(status, -1) << Log("Send.log");
  pid_ = -1;
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(25));  // the 20 s of the clean-up
  EXPECT_EQ(status, 4 << 8) << testing_files::ReadAll(dir / "app.log");
  ExpectOneRecordOfTheStop(road.portal);
  EXPECT_EQ(Arrived(), "") << Log("Send.log");
}

INSTANTIATE_TEST_SUITE_P(FtpRoads, TwiceStoppedUpload,
                         ::testing::Combine(::testing::ValuesIn(kRoads, kRoads + 4),
                                            ::testing::Values(Server::kFrozen)),
                         [](const ::testing::TestParamInfo<LiveCase>& p) {
                           return std::string(std::get<0>(p.param).name);
                         });

INSTANTIATE_TEST_SUITE_P(
    EveryRoad, LiveUploadStop,
    ::testing::Combine(::testing::ValuesIn(kRoads, kRoads + 5),  // the FTP roads
                       ::testing::Values(Server::kSlow, Server::kFrozen, Server::kSlowKeeping)),
    [](const ::testing::TestParamInfo<LiveCase>& p) {
      return std::string(std::get<0>(p.param).name) + NameOf(std::get<1>(p.param));
    });

INSTANTIATE_TEST_SUITE_P(NoSize, LiveUploadStop,
                         ::testing::Combine(::testing::ValuesIn(kRoads + 2,
                                                                kRoads + 3),  // ncftpput
                                            ::testing::Values(Server::kSlowWithoutSize,
                                                              Server::kSlowKeepingWithoutSize)),
                         [](const ::testing::TestParamInfo<LiveCase>& p) {
                           return std::string(std::get<0>(p.param).name) +
                                  NameOf(std::get<1>(p.param));
                         });

}  // namespace
}  // namespace fern::testing
