// A run that is stopped, killed or hung up: the real program on a demo host, its private work
// folder below a TMPDIR of the test's own.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/startup.h"
#include "demo/demo_host.h"
#include "office_fixture.h"
#include "platform/cp1252.h"
#include "platform/vb.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/stalled_portal.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class RunStop : public OfficeTest {
 protected:
  ~RunStop() override {
    for (pid_t& pid : pids_) StopChildGroup(pid);
  }

  // The unattended run over `portal`, started in the background.
  pid_t Spawn(const std::string& portal) {
    const pid_t pid = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV",
                                    "DEMO", "/PORTAL", vb::Replace(portal, " ", "§")},
                                   {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                                   {"TMPDIR=" + Tmp().string()},
                                   dir / ("app-" + std::to_string(pids_.size()) + ".log"));
    pids_.push_back(pid);
    return pid;
  }
  fs::path Tmp() const {
    fs::create_directories(dir / "tmp");
    return dir / "tmp";
  }
  // The run's exit code once it ended within 10 s; -1 when it did not.
  int Ended(pid_t pid) {
    const int status = WaitExit(pid, std::chrono::seconds(10));
    if (status == -1) return -1;
    for (pid_t& p : pids_)
      if (p == pid) p = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  template <typename Ready>
  bool WaitFor(pid_t pid, Ready ready) {
    for (const auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
      if (ready()) return true;
      if (WaitExit(pid, std::chrono::milliseconds(0)) != -1) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  std::string Log(const std::string& name) {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }
  // The names in the private work folders of the test's TMPDIR that a run of `pid` made.
  std::vector<std::string> WorkOf(pid_t pid) {
    std::vector<std::string> out;
    const fs::path user = Tmp() / ("fern-" + std::to_string(::geteuid()));
    std::error_code ec;
    for (const auto& scope : fs::directory_iterator(user, ec))
      for (const auto& e : fs::directory_iterator(scope.path(), ec))
        if (e.path().filename().string().rfind("fern" + std::to_string(pid) + "_", 0) == 0)
          out.push_back(e.path().filename().string());
    return out;
  }

  std::vector<pid_t> pids_;
};

TEST_F(RunStop, SigtermWhileTheSaveHookRunsPacksAndSendsNothing) {
  fs::create_directories(dir / "ftp" / "in");
  testing_servers::FtpServerOptions options;
  options.home = dir / "ftp";
  options.user = "immo";
  options.password = "immo-demo";
  testing_servers::FtpServer server(options);
  host::DemoUploadServers servers;
  servers.ftpPort = server.port();
  ASSERT_EQ(host::AddDemoUploadPortals(host(), servers), 1);
  // The hook says it started ("@" the test's folder), then waits for a file that never comes.
  const fs::path started = dir / "hook started";
  fs::create_directories(host() / "System" / "Services" / "OpenImmo");
  dir.Write(
      "host/System/Services/OpenImmo/slow.vbs",
      vb::Replace("Class Slow\r\n"
                  "  Public Function Callback_BeforeXmlSave(rs, oXmlDoc, strPath, strFileName)\r\n"
                  "    Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                  "    fso.CreateTextFile(\"@/hook started\", True).Close\r\n"
                  "    Do While Not fso.FileExists(\"@/never\")\r\n    Loop\r\n"
                  "  End Function\r\nEnd Class\r\n"
                  "Dim oSlow\r\nSet oSlow = New Slow\r\nApplication.EventsConsumers.Add oSlow\r\n",
                  "@", dir.path().string()));

  const pid_t run = Spawn("ImmoPortal FTP Demo");
  ASSERT_TRUE(WaitFor(run, [&] { return fs::exists(started); }))
      << testing_files::ReadAll(dir / "app-0.log") << Log("Send.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(run, SIGTERM);
  EXPECT_EQ(Ended(run), exitcode::kCancelled) << testing_files::ReadAll(dir / "app-0.log");

  const std::string sent = Log("Send.log");
  EXPECT_NE(sent.find("Signal SIGTERM empfangen"), std::string::npos) << sent;
  for (const char* packer : {"Start 7zip", "Start Intern ZIP", "Start Extern ZIP"})
    EXPECT_EQ(sent.find(packer), std::string::npos) << sent;
  EXPECT_EQ(sent.find("Beginne Übertragung"), std::string::npos) << sent;
  EXPECT_EQ(Log("Error.log"), "100; >>>> Übertragung abgebrochen: Signal SIGTERM empfangen\r\n");
  EXPECT_TRUE(fs::is_empty(dir / "ftp" / "in"));
  EXPECT_EQ(RunLineErrors("ImmoPortal FTP Demo|"), 1) << Log("Transfer.log");
}

// A hook object still alive when the run ends, whose Class_Terminate never ends: the run's last
// step hangs there until a stop comes, and SIGTERM (twice, as a service manager may send it)
// ends the program.
TEST_F(RunStop, SigtermEndsAHookTerminateThatHangsTheEndOfTheRun) {
  fs::create_directories(dir / "ftp" / "in");
  testing_servers::FtpServerOptions options;
  options.home = dir / "ftp";
  options.user = "immo";
  options.password = "immo-demo";
  testing_servers::FtpServer server(options);
  host::DemoUploadServers servers;
  servers.ftpPort = server.port();
  ASSERT_EQ(host::AddDemoUploadPortals(host(), servers), 1);
  const fs::path stuck = dir / "terminate started";
  fs::create_directories(host() / "System" / "Services" / "OpenImmo");
  dir.Write("host/System/Services/OpenImmo/stuck.vbs",
            vb::Replace("Class Stuck\r\n  Private Sub Class_Terminate\r\n"
                        "    Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
                        "    fso.CreateTextFile(\"@/terminate started\", True).Close\r\n"
                        "    Do\r\n    Loop\r\n  End Sub\r\nEnd Class\r\n"
                        "Dim oStuck\r\nSet oStuck = New Stuck\r\n",
                        "@", dir.path().string()));

  const pid_t run = Spawn("ImmoPortal FTP Demo");
  ASSERT_TRUE(WaitFor(run, [&] { return fs::exists(stuck); }))
      << testing_files::ReadAll(dir / "app-0.log") << Log("Send.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(run, SIGTERM);
  kill(run, SIGTERM);
  const int code = Ended(run);
  EXPECT_NE(code, -1) << "still running 10 s after SIGTERM\n"
                      << testing_files::ReadAll(dir / "app-0.log");
  EXPECT_LT(code, 128) << testing_files::ReadAll(dir / "app-0.log");
}

// A killed run leaves its work (the archive of the host's settings among it) in the private
// folder: the next run of the host folder removes it, but never what a run still going has
// there, and a hang-up ends a run as a stop does.
TEST_F(RunStop, ANextRunRemovesWhatAKilledOneLeftAndAHangUpIsAStop) {
  StalledPortal first, second;
  const auto portalAt = [&](const StalledPortal& server) {
    const std::string url = server.Url();
    Sql("UPDATE Boersen SET boersen_host = '" + url.substr(7, url.rfind('/') - 7) +
        "/in' WHERE boersen_name = 'ImmoPortal Demo'");
  };

  portalAt(first);
  const pid_t killed = Spawn("ImmoPortal Demo");
  ASSERT_TRUE(WaitFor(killed, [&] { return first.Called(); }))
      << testing_files::ReadAll(dir / "app-0.log") << Log("Send.log");
  kill(-killed, SIGKILL);
  ASSERT_EQ(Ended(killed), 128 + SIGKILL);
  const std::vector<std::string> left = WorkOf(killed);
  ASSERT_FALSE(left.empty());

  portalAt(second);
  const pid_t running = Spawn("ImmoPortal Demo");
  ASSERT_TRUE(WaitFor(running, [&] { return second.Called(); }))
      << testing_files::ReadAll(dir / "app-1.log") << Log("Send.log");
  EXPECT_EQ(WorkOf(killed), std::vector<std::string>{});
  const std::vector<std::string> own = WorkOf(running);
  EXPECT_FALSE(own.empty());

  // A second run of the same host folder is refused; the running one's work stays.
  const pid_t refused = Spawn("ImmoPortal Demo");
  EXPECT_EQ(Ended(refused), exitcode::kAlreadyRunning);
  EXPECT_EQ(WorkOf(running), own);

  // The terminal it was started from is closed.
  kill(running, SIGHUP);
  EXPECT_EQ(Ended(running), exitcode::kCancelled) << testing_files::ReadAll(dir / "app-1.log");
  EXPECT_NE(Log("Error.log").find("Übertragung abgebrochen: Signal SIGHUP empfangen"),
            std::string::npos)
      << Log("Error.log");
  EXPECT_GE(RunLineErrors("ImmoPortal Demo|"), 1) << Log("Transfer.log");
  EXPECT_EQ(WorkOf(running), std::vector<std::string>{});
}

}  // namespace
}  // namespace fern::testing
