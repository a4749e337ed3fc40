// The real program on a demo host copy, without a display: the unattended night run and its
// exit codes, and the window refusing to start where nobody could see it.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "ui_fixture.h"

namespace fern::testing {
namespace {

class StartProcessTest : public ::testing::Test, public DemoHostTest {
 protected:
  // Runs fern-dispatcher with these arguments, no Qt platform set and no display, or the given
  // X display.
  ProcessResult Run(std::vector<std::string> args, const std::string& display = {}) {
    std::string exe = FERN_DISPATCHER_EXE;
    std::vector<std::string> argv{
        "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
    if (!display.empty()) argv.push_back("DISPLAY=" + display);
    argv.push_back(exe);
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.captureStderr = true;
    options.captureStdout = true;
    options.timeout = std::chrono::seconds(60);
    return RunProcess(argv, options);
  }
  std::vector<std::string> Night(const std::string& portals, std::vector<std::string> more = {}) {
    std::vector<std::string> args{"/PATHKV", host().string(), "/USERKV",
                                  "DEMO",    "/PORTAL",       portals};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // The error count of the run line that ends with this portal list; -1 without such a line.
  int RunLineErrors(const std::string& portalList) {
    std::string log = TransferLog();
    size_t end = log.find("; PortalList: " + portalList + ";\r\n");
    size_t begin = log.rfind("; Errors: ", end);
    if (end == std::string::npos || begin == std::string::npos) return -1;
    return std::stoi(log.substr(begin + 10, end - begin - 10));
  }
  // The exit code says whether the run counted errors.
  void ExpectCodeOfRun(const ProcessResult& r, const std::string& portalList) {
    ASSERT_EQ(r.outcome, ProcessOutcome::kExited) << r.error << " signal " << r.signal << "\n"
                                                  << r.err;
    int errors = RunLineErrors(portalList);
    ASSERT_GE(errors, 0) << TransferLog();
    EXPECT_EQ(r.exitCode, errors > 0 ? 1 : 0) << r.err;
  }
  std::string TransferLog() {
    std::ifstream in(host() / "DAT" / "Transfer.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(StartProcessTest, NightRunOverAllPortalsEndsWithTheErrorCode) {
  ProcessResult r = Run(Night("all"));
  ExpectCodeOfRun(r,
                  "Eigene Homepage|ImmobilienScout24|ImmoPortal Demo|IS24 XML Demo|Remax Demo|"
                  "Wohnen HTTP Demo|");
  // Nothing on the demo host can be delivered (no portal server runs).
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(std::filesystem::exists(host() / "DAT" / "Error.log"));
  EXPECT_FALSE(std::filesystem::is_empty(host() / "DAT" / "FernDispatcher"));
}

TEST_F(StartProcessTest, NamedPortalWithBlanksRunsOffscreenWithoutAUsableDisplay) {
  // Without a display the window can't stay open for the user: the process ends with its code.
  for (const char* display : {"", ":9999"}) {
    SCOPED_TRACE(display);
    ExpectCodeOfRun(Run(Night("remax§demo", {"/NOTCLOSEONERROR", "1"}), display), "Remax Demo|");
  }
}

TEST_F(StartProcessTest, StartupFailuresAndAnotherRunGiveTheirCodes) {
  ProcessResult unknown = Run({"/PATHKV", host().string(), "/USERKV", "NIEMAND", "/PORTAL", "ALL"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("NIEMAND"), std::string::npos) << unknown.err;

  ProcessResult noHost =
      Run({"/PATHKV", (dir / "nirgends").string(), "/USERKV", "DEMO", "/PORTAL", "ALL"});
  EXPECT_EQ(noHost.exitCode, 2);

  // Another run holds the logs.
  int fd =
      ::open((host() / "DAT" / "FernDispatcher.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ProcessResult busy = Run(Night("ALL"));
  ::close(fd);
  EXPECT_EQ(busy.exitCode, 3) << busy.err;
  EXPECT_EQ(TransferLog(), "");
}

TEST_F(StartProcessTest, WindowWithoutDisplayIsRefusedClearly) {
  for (const char* display : {"", ":9999"}) {
    SCOPED_TRACE(display);
    ProcessResult r = Run({"/PATHKV", host().string(), "/USERKV", "DEMO"}, display);
    ASSERT_EQ(r.outcome, ProcessOutcome::kExited) << r.error;
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("needs a display"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace fern::testing
