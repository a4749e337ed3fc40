// A run that is stopped, killed or hung up: the real program on a demo host, its private work
// folder below a TMPDIR of the test's own.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <thread>

#include "core/startup.h"
#include "demo/demo_host.h"
#include "office_fixture.h"
#include "platform/cp1252.h"
#include "platform/vb.h"
#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/scratch_dir.h"
#include "support/stalled_portal.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

class RunStop : public OfficeTest {
 protected:
  ~RunStop() override {
    for (pid_t& pid : pids_) StopChildGroup(pid);
  }

  // The unattended run over `portal` ("A|B" for two), started in the background behind
  // `before` (a command that execs the rest); its output onto `out`, else into "app-<n>.log".
  pid_t Spawn(const std::string& portal, std::vector<std::string> before = {}, int out = -1) {
    std::vector<std::string> argv = std::move(before);
    for (const std::string& a : {std::string(FERN_DISPATCHER_EXE), std::string("/PATHKV"),
                                 host().string(), std::string("/USERKV"), std::string("DEMO"),
                                 std::string("/PORTAL"), vb::Replace(portal, " ", "§")})
      argv.push_back(a);
    const std::vector<std::string> drop{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    const std::string tmp = "TMPDIR=" + Tmp().string();
    const pid_t pid = out >= 0
                          ? SpawnInGroupOnto(argv, drop, {tmp}, out)
                          : SpawnInGroup(argv, drop, {tmp},
                                         dir / ("app-" + std::to_string(pids_.size()) + ".log"));
    pids_.push_back(pid);
    return pid;
  }
  fs::path Tmp() const {
    fs::create_directories(dir / "tmp");
    return dir / "tmp";
  }
  // The run's exit code once it ended within `limit`; -1 when it did not.
  int Ended(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const int status = WaitExit(pid, limit);
    if (status == -1) return -1;
    for (pid_t& p : pids_)
      if (p == pid) p = -1;
    return ExitCodeOf(status);
  }
  template <typename Ready>
  bool WaitFor(pid_t pid, Ready ready) {
    return WaitWhileRunning(pid, ready);
  }
  // A hook script among the host's OpenImmo services; "@" in it stands for the test's folder.
  void WriteHook(const std::string& name, const std::string& script) {
    dir.Write("host/System/Services/OpenImmo/" + name,
              vb::Replace(script, "@", dir.path().string()));
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

  // The private folder of the host's runs, once a run made it.
  fs::path ScopeFolder() {
    std::error_code ec;
    for (const auto& e :
         fs::directory_iterator(Tmp() / ("fern-" + std::to_string(::geteuid())), ec))
      if (e.path().filename().string().starts_with("host-")) return e.path();
    return {};
  }
  // The FTP server of the portal "ImmoPortal FTP Demo", its inbox dir/ftp/in.
  std::unique_ptr<testing_servers::FtpServer> FtpPortal(long maxRate = 0) {
    fs::create_directories(dir / "ftp" / "in");
    testing_servers::FtpServerOptions options;
    options.home = dir / "ftp";
    options.user = "immo";
    options.password = "immo-demo";
    options.maxRate = maxRate;
    auto server = std::make_unique<testing_servers::FtpServer>(options);
    host::DemoUploadServers servers;
    servers.ftpPort = server->port();
    EXPECT_EQ(host::AddDemoUploadPortals(host(), servers), 1);
    return server;
  }
  // Each file in the FTP inbox is a whole archive; how many there are.
  int WholeArchivesArrived() {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir / "ftp" / "in")) {
      const ProcessResult r = Run({"unzip", "-tq", e.path().string()});
      EXPECT_TRUE(r.Succeeded()) << e.path() << " " << e.file_size() << "\n" << r.out << r.err;
      ++n;
    }
    return n;
  }

  std::vector<pid_t> pids_;
};

TEST_F(RunStop, SigtermWhileTheSaveHookRunsPacksAndSendsNothing) {
  const auto server = FtpPortal();
  // The hook says it started ("@" the test's folder), then waits for a file that never comes.
  const fs::path started = dir / "hook started";
  WriteHook("slow.vbs",
            "Class Slow\r\n"
            "  Public Function Callback_BeforeXmlSave(rs, oXmlDoc, strPath, strFileName)\r\n"
            "    Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
            "    fso.CreateTextFile(\"@/hook started\", True).Close\r\n"
            "    Do While Not fso.FileExists(\"@/never\")\r\n    Loop\r\n"
            "  End Function\r\nEnd Class\r\n"
            "Dim oSlow\r\nSet oSlow = New Slow\r\nApplication.EventsConsumers.Add oSlow\r\n");

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
  const auto server = FtpPortal();
  const fs::path stuck = dir / "terminate started";
  WriteHook("stuck.vbs",
            "Class Stuck\r\n  Private Sub Class_Terminate\r\n"
            "    Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
            "    fso.CreateTextFile(\"@/terminate started\", True).Close\r\n"
            "    Do\r\n    Loop\r\n  End Sub\r\nEnd Class\r\n"
            "Dim oStuck\r\nSet oStuck = New Stuck\r\n");

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

// Started with nohup by a shell without job control (SIGHUP and SIGINT ignored), the run goes on
// when the terminal closes or the shell's Ctrl+C reaches the group: the archive arrives whole.
TEST_F(RunStop, UnderNohupAHangUpAndAnInterruptLeaveTheRunGoing) {
  const auto server = FtpPortal(128 * 1024);
  const pid_t run =
      Spawn("ImmoPortal FTP Demo", {"/bin/sh", "-c", "trap '' INT; exec nohup \"$@\"", "sh"});
  ASSERT_TRUE(WaitFor(run, [&] { return !fs::is_empty(dir / "ftp" / "in"); }))
      << testing_files::ReadAll(dir / "app-0.log") << Log("Send.log");
  kill(-run, SIGHUP);
  kill(-run, SIGINT);
  EXPECT_EQ(Ended(run, std::chrono::seconds(60)), exitcode::kOk)
      << testing_files::ReadAll(dir / "app-0.log") << Log("Error.log");
  EXPECT_EQ(WholeArchivesArrived(), 1);
  EXPECT_EQ(RunLineErrors("ImmoPortal FTP Demo|"), 0) << Log("Transfer.log");
}

// A console whose reader has gone (a pipe into "head -1", a mail pipe that died): the run goes
// on, both portals are logged, and the exit code is the run's own.
TEST_F(RunStop, AConsoleWhoseReaderHasGoneChangesNothing) {
  const auto server = FtpPortal();
  Sql("UPDATE Boersen SET boersen_host = '127.0.0.1:1/in' WHERE boersen_name = 'ImmoPortal Demo'");
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ::close(pipe[0]);
  const pid_t run = Spawn("ImmoPortal FTP Demo|ImmoPortal Demo", {}, pipe[1]);
  ::close(pipe[1]);
  EXPECT_EQ(Ended(run, std::chrono::seconds(60)), exitcode::kErrors) << Log("Error.log");
  const std::string sent = Log("Send.log");
  for (const char* portal : {"ImmoPortal FTP Demo", "ImmoPortal Demo"})
    EXPECT_NE(sent.find(std::string("Fertig mit openimmo für '") + portal), std::string::npos)
        << sent;
  EXPECT_NE(Log("Error.log").find("127.0.0.1:1"), std::string::npos) << Log("Error.log");
  EXPECT_EQ(RunLineErrors("ImmoPortal Demo|ImmoPortal FTP Demo|"), 1) << Log("Transfer.log");
  EXPECT_EQ(WholeArchivesArrived(), 1);
}

// Every file below `folder` with its bytes, and every folder, by relative path.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    out[fs::relative(e.path(), folder).string()] =
        e.is_directory() ? "<folder>" : testing_files::ReadAll(e.path());
  return out;
}

// A TRANSFER, or a TRANSFER/openimmo, below the private folder that is a link ends the portal
// before its export, with error 75 naming the link: what the link leads to keeps exactly what it
// held, nothing is sent and no listing is marked as sent.
TEST_F(RunStop, TheExportNeverWritesOrDeletesThroughALinkInThePrivateFolder) {
  const auto server = FtpPortal();
  ASSERT_EQ(Ended(Spawn("ImmoPortal FTP Demo"), std::chrono::seconds(60)), exitcode::kOk)
      << Log("Error.log");
  const fs::path scope = ScopeFolder();
  ASSERT_FALSE(scope.empty());
  std::string portal;  // the portal's folder as the export names it
  for (const auto& e : fs::directory_iterator(scope / "TRANSFER" / "openimmo"))
    if (e.is_directory()) portal = e.path().filename().string();
  ASSERT_FALSE(portal.empty());
  const std::string marks = Sqlite("select status, letzte_uebertragung from boersenobj");

  for (const std::string linked : {"TRANSFER", "TRANSFER/openimmo"}) {
    SCOPED_TRACE(linked);
    fs::remove_all(scope / "TRANSFER");
    fs::remove_all(dir / "ftp" / "in");
    fs::create_directories(dir / "ftp" / "in");
    const fs::path target = dir / ("elsewhere " + std::to_string(linked.size()));
    dir.Write(target / (linked == "TRANSFER" ? "openimmo/" : "") / portal / "old.xml", "<old/>");
    fs::create_directories((scope / linked).parent_path());
    fs::create_directory_symlink(target, scope / linked);
    const auto held = Tree(target);

    EXPECT_EQ(Ended(Spawn("ImmoPortal FTP Demo"), std::chrono::seconds(60)), exitcode::kErrors)
        << Log("Error.log");
    EXPECT_EQ(Tree(target), held);
    EXPECT_TRUE(fs::is_symlink(scope / linked));
    const std::string errors = Log("Error.log");
    EXPECT_NE(
        errors.find("Fehler Nr.: 75 (Der Ordner " + (scope / linked).string() + " ist ein Verweis"),
        std::string::npos)
        << errors;
    EXPECT_EQ(Log("Send.log").find("Fertig mit Übertragung"), std::string::npos) << Log("Send.log");
    EXPECT_TRUE(fs::is_empty(dir / "ftp" / "in"));
    EXPECT_EQ(Sqlite("select status, letzte_uebertragung from boersenobj"), marks);
  }
}

// What an ended run seems to have left below a TRANSFER that is a link lies outside the private
// folder: it stays, and the send log notes once why.
TEST_F(RunStop, TheRemovalOfEndedRunsNeverFollowsALink) {
  const auto server = FtpPortal();
  ASSERT_EQ(Ended(Spawn("ImmoPortal FTP Demo"), std::chrono::seconds(60)), exitcode::kOk)
      << Log("Error.log");
  const fs::path scope = ScopeFolder();
  ASSERT_FALSE(scope.empty());
  fs::remove_all(scope / "TRANSFER");
  const fs::path elsewhere = dir / "elsewhere";
  dir.Write(elsewhere / "zipcheck-99990" / "sub" / "x", "x");
  dir.Write(elsewhere / "upload-99990" / "y", "y");
  fs::create_directory_symlink(elsewhere, scope / "TRANSFER");
  dir.Write(scope / "fern99990.run", "");
  dir.Write(scope / "fern99990_1.ZIP", "work");

  // The export does not go through the link either: the portal ends with an error.
  ASSERT_EQ(Ended(Spawn("ImmoPortal FTP Demo"), std::chrono::seconds(60)), exitcode::kErrors)
      << Log("Error.log");
  EXPECT_TRUE(fs::exists(elsewhere / "zipcheck-99990" / "sub" / "x"));
  EXPECT_TRUE(fs::exists(elsewhere / "upload-99990" / "y"));
  EXPECT_TRUE(fs::is_symlink(scope / "TRANSFER"));
  EXPECT_FALSE(fs::exists(scope / "fern99990_1.ZIP"));
  EXPECT_FALSE(fs::exists(scope / "fern99990.run"));
  const std::string sent = Log("Send.log");
  // Once as a note of its own; the portal's error names it as well.
  const std::string note = "; Der Ordner " + (scope / "TRANSFER").string() + " ist ein Verweis";
  EXPECT_NE(sent.find(note), std::string::npos) << sent;
  EXPECT_EQ(sent.find(note), sent.rfind(note)) << sent;
}

// A private folder that refuses writes even to root: an immutable one, else a read-only mount.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(const fs::path& folder) : folder_(folder) {
    if (::geteuid() != 0) {
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
      how_ = "chmod 500";
    } else if (Tool({"chattr", "+i", folder.string()})) {
      how_ = "chattr +i";
    } else if (Tool({"mount", "--bind", folder.string(), folder.string()})) {
      if (Tool({"mount", "-o", "remount,ro,bind", folder.string()}))
        how_ = "mount -o ro";
      else
        Tool({"umount", folder.string()});
    }
  }
  ~UnwritableFolder() {
    if (how_ == "chattr +i") Tool({"chattr", "-i", folder_.string()});
    if (how_ == "mount -o ro") Tool({"umount", folder_.string()});
    if (how_ == "chmod 500") fs::permissions(folder_, fs::perms::owner_all);
  }
  const std::string& how() const { return how_; }

 private:
  static bool Tool(const std::vector<std::string>& argv) {
    ProcessOptions quiet;
    quiet.captureStdout = quiet.captureStderr = true;
    quiet.timeout = std::chrono::seconds(10);
    return RunProcess(argv, quiet).Succeeded();
  }
  fs::path folder_;
  std::string how_;
};

// A private folder the run can't write ends each portal with one line that names the folder and
// the system's reason, before any listing is exported: nothing is marked as sent.
TEST_F(RunStop, APrivateFolderThatCantBeWrittenIsNamedWithItsReason) {
  const auto server = FtpPortal();
  ASSERT_EQ(Ended(Spawn("ImmoPortal FTP Demo"), std::chrono::seconds(60)), exitcode::kOk)
      << Log("Error.log");
  const fs::path scope = ScopeFolder();
  ASSERT_FALSE(scope.empty());
  fs::remove_all(dir / "ftp" / "in");
  fs::create_directories(dir / "ftp" / "in");
  const std::string marks = Sqlite("select status, letzte_uebertragung from boersenobj");
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(scope)) fs::remove_all(e.path(), ec);
  UnwritableFolder unwritable(scope);
  if (unwritable.how().empty()) GTEST_SKIP() << "no way to make a folder unwritable for root here";

  const pid_t run = Spawn("ImmoPortal FTP Demo");
  EXPECT_EQ(Ended(run, std::chrono::seconds(60)), exitcode::kErrors) << Log("Error.log");
  const std::string errors = Log("Error.log");
  const std::string line = "Temporärer Ordner " + scope.string() + " ist nicht beschreibbar";
  EXPECT_EQ(errors.find("kontaktperson"), std::string::npos) << errors;
  EXPECT_NE(errors.find(line), std::string::npos) << unwritable.how() << "\n" << errors;
  EXPECT_EQ(errors.find(line), errors.rfind(line)) << errors;
  EXPECT_NE(testing_files::ReadAll(dir / "app-1.log").find(line), std::string::npos)
      << testing_files::ReadAll(dir / "app-1.log");
  EXPECT_EQ(Log("Send.log").find("Objekt"), std::string::npos) << Log("Send.log");
  EXPECT_EQ(Sqlite("select status, letzte_uebertragung from boersenobj"), marks);
  EXPECT_TRUE(fs::is_empty(dir / "ftp" / "in"));
}

// The caller's TMPDIR (a developer's shell, a CI runner) does not reach the program beside the
// test's own.
TEST(SpawnInGroup, AnAddedVariableTakesThePlaceOfAnInheritedOne) {
  ScratchDir dir;
  const char* was = std::getenv("TMPDIR");
  const std::string before = was ? was : "";
  ::setenv("TMPDIR", "/the-callers-tmp", 1);
  const pid_t pid = SpawnInGroup({"env"}, {}, {"TMPDIR=/the-tests-tmp"}, dir / "env.txt");
  if (was)
    ::setenv("TMPDIR", before.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  ASSERT_NE(WaitExit(pid, std::chrono::seconds(10)), -1);
  const std::string env = "\n" + testing_files::ReadAll(dir / "env.txt");
  EXPECT_NE(env.find("\nTMPDIR=/the-tests-tmp\n"), std::string::npos) << env;
  EXPECT_EQ(env.find("\nTMPDIR=", env.find("\nTMPDIR=") + 1), std::string::npos) << env;
}

}  // namespace
}  // namespace fern::testing
