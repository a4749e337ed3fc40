// The real program's window on an X server of the test's own, its buttons pressed from outside
// as an office user presses them: a run held by a portal that never answers, stopped with
// Abbrechen or Schließen, ends the process with code 4 and the run's record in the logs.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/startup.h"
#include "host/cUtil.h"
#include "platform/cp1252.h"
#include "platform/process.h"
#include "support/child_process.h"
#include "support/demo_host_fixture.h"
#include "support/stalled_portal.h"
#include "support/test_files.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool InPath(const std::string& program) {
  const char* path = ::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

std::string Text(const fs::path& file) { return cp1252::ToUtf8(testing_files::ReadAll(file)); }

// An Xvfb on a display number it picks itself, ended with the object.
class XServer {
 public:
  explicit XServer(const fs::path& log) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = SpawnInGroup({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                         "-screen", "0", "1024x768x24"},
                        {}, {}, log, fds[1]);
    ::close(fds[1]);
    const std::string number = ReadFirstLine(fds[0], std::chrono::seconds(15));
    ::close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer() { StopChildGroup(pid_); }
  // Empty when the server did not come up.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

class WindowProcessTest : public ::testing::Test, public DemoHostTest {
 protected:
  ~WindowProcessTest() override { Kill(); }

  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool"})
      if (!InPath(tool)) FAIL() << tool << " is missing (Debian packages xvfb and xdotool)";
  }

  void Kill() {
    if (app_ <= 0) return;
    kill(-app_, SIGKILL);
    waitpid(app_, nullptr, 0);
    app_ = -1;
  }

  std::string GuiIni() const { return (host() / "profiles" / "Standard" / "gui.ini").string(); }
  std::string ReadGui(const std::string& key) {
    cUtil util;
    util.IniCacheReset();
    return util.IniGet("FernDispatcher", key, "", GuiIni());
  }
  void WriteGui(const std::string& key, const std::string& value) {
    cUtil util;
    util.IniWrite("FernDispatcher", key, value, GuiIni());
    util.IniCacheReset();
  }

  ProcessResult XDo(const std::string& display, std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    ProcessOptions options;
    options.extraEnv = {{"DISPLAY", display}};
    options.captureStdout = true;
    options.captureStderr = true;
    options.timeout = std::chrono::seconds(10);
    return RunProcess(args, options);
  }

  // The process's exit status once it ended within `limit`; -1 otherwise.
  int WaitEnd(std::chrono::seconds limit) {
    const int status = WaitExit(app_, limit);
    if (status != -1) app_ = -1;
    return status;
  }

  // Starts the window on its own display with only the stalled portal ticked, presses
  // Übertragen, and once the portal has been called presses the button `fromRight` button
  // widths from the window's right edge. Returns the process's exit status (-1: it did not end
  // in time) and leaves the window's last geometry in `geometry`.
  int RunAndPress(int fromRight, std::map<std::string, int>& geometry) {
    StalledPortal portal;
    Sql("UPDATE Boersen SET boersen_host = '" + portal.Url() +
        "' WHERE boersen_name = 'Wohnen HTTP Demo'");
    // The office's ticks from its last run: only this portal.
    WriteGui("TransferStatus",
             "Eigene Homepage=0|ImmobilienScout24=0|ImmoPortal Demo=0|IS24 XML Demo=0|"
             "Remax Demo=0|Wohnen HTTP Demo=1|");
    WriteGui("MAINPOS", "");

    XServer x(dir / "xvfb.log");
    if (x.display().empty()) {
      ADD_FAILURE() << "Xvfb did not start\n" << Text(dir / "xvfb.log");
      return -1;
    }
    // The display number comes before a loaded machine's server answers every client: the
    // window starts once one has been answered.
    for (const auto end = Clock::now() + std::chrono::seconds(15);
         !XDo(x.display(), {"getdisplaygeometry"}).Succeeded();) {
      if (Clock::now() > end) {
        ADD_FAILURE() << "Xvfb does not answer\n" << Text(dir / "xvfb.log");
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    app_ = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV", "DEMO"},
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                        {"DISPLAY=" + x.display()}, dir / "app.log");
    std::string window;
    for (const auto end = Clock::now() + std::chrono::seconds(30);;) {
      ProcessResult found =
          XDo(x.display(), {"search", "--onlyvisible", "--name", "^FernDispatcher"});
      window = found.out.substr(0, found.out.find('\n'));
      if (!window.empty()) break;
      if (Clock::now() > end || WaitEnd(std::chrono::seconds(0)) != -1) {
        ADD_FAILURE() << "no window\n" << Text(dir / "app.log") << Text(dir / "xvfb.log");
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    auto readGeometry = [&] {
      std::istringstream lines(XDo(x.display(), {"getwindowgeometry", "--shell", window}).out);
      for (std::string line; std::getline(lines, line);)
        if (size_t eq = line.find('='); eq != std::string::npos)
          geometry[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    };
    readGeometry();
    // The three buttons sit at the bottom right, 100 wide, 26 high, 10 apart and from the edges.
    auto press = [&](int buttonsFromRight) {
      const int xCenter = geometry["WIDTH"] - buttonsFromRight * 110 + 50;
      const int yCenter = geometry["HEIGHT"] - 10 - 13;
      XDo(x.display(), {"mousemove", "--window", window, std::to_string(xCenter),
                        std::to_string(yCenter), "click", "1"});
    };
    press(3);
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (!portal.Called() && Clock::now() < end && WaitEnd(std::chrono::seconds(0)) == -1)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!portal.Called()) {
      ADD_FAILURE() << "the portal was never called\n"
                    << Text(dir / "app.log") << Text(host() / "DAT" / "Send.log");
      Kill();
      return -1;
    }
    readGeometry();
    press(fromRight);
    // The portal would hold the run for a minute; the press ends it at once.
    const int status = WaitEnd(std::chrono::seconds(15));
    if (status == -1) {
      ADD_FAILURE() << "still running 15 s after the press\n" << Text(dir / "app.log");
      Kill();
    }
    return status;
  }

  void ExpectRecordOfCancel(const std::string& button) {
    const std::string transfer = Text(host() / "DAT" / "Transfer.log");
    EXPECT_NE(transfer.find("; PortalList: Wohnen HTTP Demo|;"), std::string::npos) << transfer;
    EXPECT_EQ(transfer.find("; Errors: 0;"), std::string::npos) << transfer;
    const std::string errors = Text(host() / "DAT" / "Error.log");
    EXPECT_NE(errors.find("Übertragung abgebrochen: \"" + button + "\""), std::string::npos)
        << errors;
    // Stopped by the press, not by the portal's time-out.
    const std::string sent = Text(host() / "DAT" / "Send.log");
    EXPECT_EQ(sent.find("Zeitgrenze"), std::string::npos) << sent;
  }

  pid_t app_ = -1;
};

TEST_F(WindowProcessTest, AbbrechenDuringARunEndsTheProcessWithTheRunsRecord) {
  std::map<std::string, int> geometry;
  const int status = RunAndPress(2, geometry);
  ASSERT_TRUE(status != -1 && WIFEXITED(status)) << status << "\n" << Text(dir / "app.log");
  EXPECT_EQ(WEXITSTATUS(status), exitcode::kCancelled) << Text(dir / "app.log");
  ExpectRecordOfCancel("Abbrechen");
  EXPECT_EQ(ReadGui("MAINPOS"), "");
}

TEST_F(WindowProcessTest, SchliessenDuringARunEndsTheProcessWithTheRunsRecordAndThePosition) {
  std::map<std::string, int> geometry;
  const int status = RunAndPress(1, geometry);
  ASSERT_TRUE(status != -1 && WIFEXITED(status)) << status << "\n" << Text(dir / "app.log");
  EXPECT_EQ(WEXITSTATUS(status), exitcode::kCancelled) << Text(dir / "app.log");
  ExpectRecordOfCancel("Schließen");
  EXPECT_EQ(ReadGui("MAINPOS"),
            "0|" + std::to_string(geometry["X"]) + "|" + std::to_string(geometry["Y"]) + "|" +
                std::to_string(geometry["WIDTH"]) + "|" + std::to_string(geometry["HEIGHT"]));
}

}  // namespace
}  // namespace fern::testing
