// The real program's site run, stopped by signals as an operator or a service manager sends
// them, or killed: nothing of it stays on the site, and what it left in the private folder goes
// with the next run of any portal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "core/startup.h"
#include "platform/cp1252.h"
#include "platform/msgbox.h"
#include "support/test_files.h"
#include "website_fixture.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class SiteProgramTest : public WebsiteTest {
 public:
  void TearDown() override { StopChildGroup(pid_); }

  // The unattended run over `portal`, its private folder below the test's own TMPDIR.
  void Spawn(const std::string& name) {
    StopChildGroup(pid_);
    fs::create_directories(dir / "tmp");
    pid_ = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV", "DEMO",
                         "/PORTAL", vb::Replace(name, " ", "§")},
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                        {"TMPDIR=" + (dir / "tmp").string()}, dir / "app.log");
    ASSERT_GT(pid_, 0);
  }
  // Waits up to 30 s while the run goes on; false when it ended first or time ran out.
  bool WaitFor(const std::function<bool()>& ready) { return WaitWhileRunning(pid_, ready); }
  // The run's exit code once it ended within `limit`; -1 when it did not.
  int Ended(std::chrono::seconds limit) {
    const int status = WaitExit(pid_, limit);
    if (status == -1) return -1;
    pid_ = -1;
    return ExitCodeOf(status);
  }
  std::string Log(const std::string& name) const {
    return cp1252::ToUtf8(testing_files::ReadAll(host() / "DAT" / name));
  }
  std::string App() const { return testing_files::ReadAll(dir / "app.log"); }

  // The site's work in the private folder, as an office has it without a TRANSFERPATH.
  void UsePrivateFolder() {
    const fs::path ini = host() / "Kavantor.INI";
    std::string text = testing_files::ReadAll(ini);
    text = std::regex_replace(text, std::regex("TRANSFERPATH=[^\r\n]*\r?\n"), "");
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
    Session().g_oUtil->IniCacheReset();
  }
  // The files in the site's work folders below the private folders of the test's TMPDIR.
  std::string SiteWork() const {
    std::string found;
    std::error_code ec;
    for (auto e = fs::recursive_directory_iterator(dir / "tmp", ec);
         e != fs::recursive_directory_iterator(); e.increment(ec))
      if (e->is_regular_file() && e->path().string().find("/kvws/") != std::string::npos)
        found += fs::relative(e->path(), dir / "tmp").string() + "\n";
    return found;
  }
  // A site run with STOPOVER on, each question answered No as an operator at the window
  // answers it, in a process of its own that has ended when this returns: its exit code.
  int SiteRunAnsweredNo() {
    Ini("WebServer", "STOPOVER", "1");
    fs::create_directories(dir / "tmp");
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
      SetMessageAnswerer(std::make_shared<AnswerNo>());
      RunPortal();
      ::_exit(lines.empty() ? 2 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  struct AnswerNo : UnattendedAnswerer {
    int MessageBox(const std::string&, int, const std::string&) override { return mb::kNo; }
  };

  pid_t pid_ = -1;
};

// SIGHUP while the site imports (an import script that takes its time), then SIGTERM and
// SIGHUP again a second later while the clean-up waits for an FTP server that stopped answering
// for a moment: the clean-up goes on, nothing of the run stays on the site, and the logs name
// the first signal.
TEST_F(SiteProgramTest, ASecondSignalDuringTheImportLeavesTheCleanUpGoing) {
  StartSite();
  Fault("kvws_import1.php sleep 30");
  Spawn("Eigene Homepage");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(dir / "sleeping"); })) << App() << Log("Send.log");
  ASSERT_FALSE(SiteFiles("transfer").empty());
  kill(-ftp->pid(), SIGSTOP);
  const auto stopped = Clock::now();
  kill(pid_, SIGHUP);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(pid_, SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid_, SIGHUP);  // the terminal's, after the shell's
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(-ftp->pid(), SIGCONT);
  EXPECT_EQ(Ended(std::chrono::seconds(30)), exitcode::kCancelled) << App() << Log("Send.log");
  EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(25));  // the 20 s of the clean-up
  EXPECT_EQ(SiteFiles("transfer") + SiteFiles("kvws_import"), "") << Log("Send.log");
  const std::string errors = Log("Error.log");
  EXPECT_NE(errors.find("Übertragung abgebrochen: Signal SIGHUP empfangen"), std::string::npos)
      << errors;
  EXPECT_EQ(errors.find("SIGTERM"), std::string::npos) << errors;
  EXPECT_NE(
      testing_files::ReadAll(host() / "DAT" / "Transfer.log").find("PortalList: Eigene Homepage|"),
      std::string::npos);
}

// A site run killed while its container flows leaves the container (it unpacks to the site's
// database password) in the private folder: the next run removes it, whatever its portals, also
// after a run that kept its work on purpose.
TEST_F(SiteProgramTest, AKilledSiteRunsContainerGoesWithTheNextRunOfAnyPortal) {
  StartSite();
  UsePrivateFolder();
  ASSERT_EQ(SiteRunAnsweredNo(), 0);
  ASSERT_NE(SiteWork(), "");
  fs::remove_all(www() / "kv_webserver");
  testing_servers::FtpServerOptions slow = ftp->options();
  slow.maxRate = 16 * 1024;
  ftp = std::make_unique<testing_servers::FtpServer>(slow);
  Ini("WebServer", "FTP_PORT", std::to_string(ftp->port()));

  Spawn("Eigene Homepage");
  ASSERT_TRUE(WaitFor([&] {
    std::error_code ec;
    return fs::file_size(www() / "kv_webserver" / "transfer_1.big", ec) > 0 && !ec;
  })) << App()
      << Log("Send.log");
  kill(-pid_, SIGKILL);
  ASSERT_EQ(Ended(std::chrono::seconds(10)), 128 + SIGKILL);
  const auto containers = [&] {
    std::string found;
    for (const auto& e : fs::recursive_directory_iterator(dir / "tmp"))
      if (e.path().filename().string().starts_with("transfer_") && e.path().extension() == ".big")
        found += e.path().string() + "\n";
    return found;
  };
  ASSERT_NE(containers(), "");

  Spawn("ImmoPortal Demo");
  EXPECT_NE(Ended(std::chrono::seconds(60)), -1) << App();
  EXPECT_EQ(containers(), "");
}

// The site's work kept on purpose (STOPOVER, "TempDateien löschen?" answered No) stays for
// testing through the runs of other portals, until the next site run clears it.
TEST_F(SiteProgramTest, ASiteFolderKeptOnPurposeStaysUntilTheNextSiteRun) {
  StartSite();
  UsePrivateFolder();
  ASSERT_EQ(SiteRunAnsweredNo(), 0);
  const std::string kept = SiteWork();
  ASSERT_NE(kept.find("transfer_1.big"), std::string::npos) << kept;

  Spawn("ImmoPortal Demo");
  EXPECT_NE(Ended(std::chrono::seconds(60)), -1) << App();
  EXPECT_EQ(SiteWork(), kept);

  Spawn("Eigene Homepage");
  EXPECT_EQ(Ended(std::chrono::seconds(60)), exitcode::kOk) << App() << Log("Error.log");
  EXPECT_EQ(SiteWork(), "");
}

}  // namespace
}  // namespace fern::testing
