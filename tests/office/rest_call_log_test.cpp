// The REST call log of an unattended run with DebugMode on, when the service answers at length
// with Windows line ends: the real program on a demo host, its private work folder below a
// TMPDIR of the test's own.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "core/startup.h"
#include "demo/demo_host.h"
#include "office_fixture.h"
#include "platform/ini_file.h"
#include "restportal/rest_fixture.h"
#include "support/child_process.h"

namespace fern::testing {
namespace {

namespace fs = std::filesystem;

// 4 MB of nothing but CR LF.
std::string LineEnds() {
  std::string s;
  for (int i = 0; i < 2 * 1024 * 1024; ++i) s += "\r\n";
  return s;
}

// 10 MB of pretty-printed XML, its lines ended as a Windows service ends them or not at all.
std::string PrettyXml(const std::string& eol = "\r\n") {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + eol + "<user>" + eol;
  for (int n = 0; n < 100000; ++n)
    s += "  <listing id=\"FB-" + std::to_string(n) + "\">" + eol +
         "    <title>Villa am See</title>" + eol + "    <rooms>5</rooms>" + eol + "  </listing>" +
         eol;
  return s + "</user>" + eol;
}

class RestCallLog : public OfficeTest {
 protected:
  RestCallLog() {
    IniWrite("options", "DebugMode", "1", (host() / "Kavantor.INI").string());
    fs::create_directories(dir / "tmp");
  }
  ~RestCallLog() override { StopChildGroup(run_); }

  // The stand-in answering the availability check with `answer`, the program's run of the REST
  // portal started against it.
  RestService& Start(const std::string& answer, double publishDelay = 0) {
    StopChildGroup(run_);
    RestServiceOptions o;
    o.usersAnswer = dir.Write("answer.xml", answer);
    o.publishDelaySeconds = publishDelay;
    service_ = std::make_unique<RestService>(dir / ("rec" + std::to_string(++runs_)), o);
    host::SetDemoRestService(host(), service_->port());
    run_ = SpawnInGroup({FERN_DISPATCHER_EXE, "/PATHKV", host().string(), "/USERKV", "DEMO",
                         "/PORTAL", "ImmobilienScout24"},
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
                        {"TMPDIR=" + (dir / "tmp").string()}, dir / "app.log");
    return *service_;
  }
  // The run's exit code once it ended within `limit`; -1 when it did not.
  int Ended(std::chrono::milliseconds limit) {
    const int status = WaitExit(run_, limit);
    if (status == -1) return -1;
    run_ = -1;
    return ExitCodeOf(status);
  }
  std::string CallLog() {
    for (const auto& e : fs::recursive_directory_iterator(dir / "tmp"))
      if (e.path().filename() == "KavantorApi.Log") return testing_files::ReadAll(e.path());
    return {};
  }

  pid_t run_ = -1;
  int runs_ = 0;
  std::unique_ptr<RestService> service_;
};

TEST_F(RestCallLog, LongAnswersAreLoggedWithoutTheirLineEndsWithinSeconds) {
  const std::pair<std::string, std::string> cases[] = {{LineEnds(), ""},
                                                       {PrettyXml(), PrettyXml("")}};
  for (const auto& [answer, logged] : cases) {
    SCOPED_TRACE(answer.size());
    fs::remove_all(dir / "tmp");
    fs::create_directories(dir / "tmp");
    Start(answer);
    // Seconds of work before: the run must not wait on its own log.
    EXPECT_EQ(Ended(std::chrono::seconds(10)), exitcode::kOk)
        << testing_files::ReadAll(dir / "app.log");
    const std::string log = CallLog();
    const std::string field = ";200;OK;" + logged + ";\r\n";
    EXPECT_NE(log.find(";GET;"), std::string::npos) << log.substr(0, 500);
    EXPECT_NE(log.find(field), std::string::npos) << log.substr(0, 500);
  }
}

TEST_F(RestCallLog, SigtermHalfASecondAfterALongAnswerEndsTheRunWithinASecond) {
  // The publish waits, so the run is still there when the signal comes.
  RestService& service = Start(PrettyXml(), 30);
  ASSERT_TRUE(WaitWhileRunning(run_, [&] { return service.Sent("GET", "users/"); }))
      << testing_files::ReadAll(dir / "app.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ::kill(run_, SIGTERM);
  EXPECT_EQ(Ended(std::chrono::seconds(1)), exitcode::kCancelled)
      << testing_files::ReadAll(dir / "app.log");
}

}  // namespace
}  // namespace fern::testing
