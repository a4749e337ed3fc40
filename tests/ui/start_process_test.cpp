// The real program on a demo host copy, without a display: the unattended night run, its exit
// codes and what it tells a scheduler on the console, the usage text, and the window refusing to
// start where nobody could see it.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/cp1252.h"
#include "platform/process.h"
#include "support/child_process.h"
#include "support/test_files.h"
#include "ui_fixture.h"

namespace fern::testing {
namespace {

class StartProcessTest : public ::testing::Test, public DemoHostTest {
 protected:
  // Runs fern-dispatcher with these arguments, no Qt platform set and no display, or the given
  // X display.
  ProcessResult Run(std::vector<std::string> args, const std::string& display = {}) {
    std::string exe = FERN_DISPATCHER_EXE;
    // A scheduler's environment: no desktop session, no runtime folder.
    std::vector<std::string> argv{"env",
                                  "-u",
                                  "DISPLAY",
                                  "-u",
                                  "WAYLAND_DISPLAY",
                                  "-u",
                                  "QT_QPA_PLATFORM",
                                  "-u",
                                  "XDG_RUNTIME_DIR"};
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
  std::string TransferLog() { return DatFile("Transfer.log"); }
  std::string DatFile(const std::string& name) {
    return testing_files::ReadAll(host() / "DAT" / name);
  }
  // Starts fern-dispatcher without a display and without waiting for it.
  static pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), FERN_DISPATCHER_EXE);
    return SpawnInGroup(args, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}, {}, "/dev/null");
  }
  // The child's exit status once it ended within `limit`; -1 (and the child killed) otherwise.
  static int WaitEnd(pid_t pid, std::chrono::seconds limit) {
    const int status = WaitExit(pid, limit);
    if (status == -1) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    return status;
  }
  // SIGTERM ends a run whose hook, once started, runs `body` that only the cancellation can end
  // before the script time-out: exit 4, logs and run line written.
  void ExpectSigtermEndsHook(const std::string& body) {
    const std::filesystem::path started = dir / "hook-started";
    const std::filesystem::path scripts = host() / "System" / "Services" / "OpenImmo";
    std::filesystem::create_directories(scripts);
    std::ofstream(scripts / "loops.vbs")
        << "Class Loops\n  Public Function Callback_BeforeXmlSave(rs, doc, path, name)\n"
           "    CreateObject(\"Scripting.FileSystemObject\").CreateTextFile(\""
        << started.string() << "\").Close\n"
        << body << "  End Function\nEnd Class\nApplication.EventsConsumers.Add New Loops\n";
    const pid_t pid = Spawn(Night("immoportal§demo"));
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 1500 && !std::filesystem::exists(started); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!std::filesystem::exists(started)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      FAIL() << "the hook never ran\n" << DatFile("Send.log");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto signalled = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    // Two seconds is the aim; the bound leaves room for a slow machine, far below the time-out.
    const int status = WaitEnd(pid, std::chrono::seconds(30));
    const auto took = std::chrono::steady_clock::now() - signalled;
    ASSERT_NE(status, -1) << "still running 30 s after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 4);
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_NE(TransferLog().find("; PortalList: ImmoPortal Demo|;"), std::string::npos)
        << TransferLog();
    const std::string sent = DatFile("Send.log");
    EXPECT_NE(sent.find("SIGTERM"), std::string::npos) << sent;
    // Stopped by the cancellation, which is not a time-out.
    EXPECT_EQ(sent.find("Zeitgrenze"), std::string::npos) << sent;
  }
  // The lines of a Windows-1252 log with CR LF, as UTF-8.
  static std::vector<std::string> LogLines(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(cp1252::ToUtf8(testing_files::ReadAll(file)));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
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

TEST_F(StartProcessTest, SigtermStopsALoopingHookAndEndsTheRunCancelled) {
  ExpectSigtermEndsHook("    Dim n\n    Do : n = n + 1 : Loop\n");
}

TEST_F(StartProcessTest, SigtermStopsAHookInALongRegExpMatch) {
  // Minutes of matching in one call, with no statement between to look at the stop.
  ExpectSigtermEndsHook(
      "    Dim re : Set re = New RegExp : re.Pattern = \"(a|b)*\\d\"\n"
      "    Callback_BeforeXmlSave = re.Test(String(100000, \"a\"))\n");
}

TEST_F(StartProcessTest, WindowWithoutDisplayIsRefusedClearly) {
  for (const char* display : {"", ":9999"}) {
    SCOPED_TRACE(display);
    ProcessResult r = Run({"/PATHKV", host().string(), "/USERKV", "DEMO"}, display);
    ASSERT_EQ(r.outcome, ProcessOutcome::kExited) << r.error;
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Das Fenster braucht eine Anzeige"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("qt."), std::string::npos) << r.err;
  }
}

TEST_F(StartProcessTest, CleanNightIsSilentAndAFailedOneSaysWhatWentWrong) {
  // Cron mails whatever a job prints: a clean night prints nothing, whatever the display says.
  for (const char* display : {"", ":99"}) {
    SCOPED_TRACE(display);
    ProcessResult clean = Run(Night("ImmoPortal§Demo"), display);
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_EQ(clean.out, "");
    EXPECT_EQ(clean.err, "");
  }

  // 56 names that match no portal are 56 counted errors; one has an umlaut.
  std::string portals = "ImmoPortal§Demo|Büro§Nord";
  for (int i = 1; i <= 55; ++i) portals += "|Fehlt" + std::to_string(i);
  ProcessResult failed = Run(Night(portals), ":99");
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.out, "");
  std::vector<std::string> errorLog = LogLines(host() / "DAT" / "Error.log");
  ASSERT_EQ(errorLog.size(), 56u);
  std::vector<std::string> expected{LogLines(host() / "DAT" / "Transfer.log").back()};
  expected.insert(expected.end(), errorLog.begin(), errorLog.begin() + 50);
  expected.push_back("… und 6 weitere");
  expected.push_back("Fehlerprotokoll: " + (host() / "DAT" / "Error.log").string());
  EXPECT_EQ(Lines(failed.err), expected) << failed.err;
  EXPECT_NE(failed.err.find("Portal \"FEHLT1\" nicht gefunden"), std::string::npos);
  EXPECT_NE(failed.err.find("BÜRO NORD"), std::string::npos) << "UTF-8 on the console";
}

TEST_F(StartProcessTest, LogsThatCantBeWrittenStopTheStartBeforeAnythingIsSent) {
  std::filesystem::create_directories(host() / "DAT");
  const std::filesystem::path database = host() / "DAT" / "kavantor.db";
  ASSERT_TRUE(std::filesystem::exists(database));
  const std::string before = testing_files::ReadAll(database);
  for (const char* log : {"Transfer.log", "Error.log", "Send.log"}) {
    SCOPED_TRACE(log);
    std::ofstream(host() / "DAT" / "Error.log", std::ios::binary) << "102; voriger Lauf\r\n";
    // A folder where the log should be: no user, root included, can write it.
    const std::filesystem::path path = host() / "DAT" / log;
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    ProcessResult r = Run(Night("ImmoPortal§Demo"));
    std::filesystem::remove(path);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(path.string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("kann nicht geschrieben werden"), std::string::npos) << r.err;
    // Nothing was sent or marked as sent, and the last run's record is still there.
    EXPECT_TRUE(testing_files::ReadAll(database) == before);
    EXPECT_FALSE(std::filesystem::exists(host() / "DAT" / "FernDispatcher"));
    if (std::string(log) != "Error.log") {
      EXPECT_EQ(testing_files::ReadAll(host() / "DAT" / "Error.log"), "102; voriger Lauf\r\n");
    }
  }
}

TEST_F(StartProcessTest, ConsoleTextsAreGermanAndNoLineStartsWithAnEmptyTitle) {
  auto expectGerman = [](const ProcessResult& r, int code, const std::string& text) {
    EXPECT_EQ(r.exitCode, code) << r.err;
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    for (const std::string& line : Lines(r.err)) {
      EXPECT_NE(line.rfind(":", 0), 0u) << line;
      for (const char* english : {"another run", "Cannot", "read-only", "Permission", "directory"})
        EXPECT_EQ(line.find(english), std::string::npos) << line;
    }
  };
  {
    int fd = ::open((host() / "DAT" / "FernDispatcher.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                    0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    expectGerman(Run(Night("ALL")), 3, "FernDispatcher.lock");
    expectGerman(Run(Night("ALL", {"/NOTCLOSEONERROR", "1"})), 3,
                 "Die Portalübertragung läuft bereits");
    ::close(fd);
  }
  std::filesystem::remove(host() / "DAT" / "FernDispatcher.lock");
  std::filesystem::create_directory(host() / "DAT" / "FernDispatcher.lock");
  expectGerman(Run(Night("ALL")), 2, "Die Sperrdatei");
  std::filesystem::remove(host() / "DAT" / "FernDispatcher.lock");

  std::filesystem::permissions(host() / "DAT" / "kavantor.db", std::filesystem::perms::owner_read);
  expectGerman(Run(Night("ALL")), 2, "schreibgeschützt");
}

TEST_F(StartProcessTest, UsageTextAndWarningsForWhatTheLineDoesNotKnow) {
  for (const char* help : {"--help", "-h", "/?"}) {
    SCOPED_TRACE(help);
    ProcessResult r = Run({help});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* part : {"Aufruf", "/USERKV", "/PATHKV", "/PORTAL", "/SCOPE",
                             "/NOTCLOSEONERROR", "§", "Rückgabewerte", "\n  4 "})
      EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }

  // The run goes on; each stray text is named once.
  ProcessResult r = Run(Night("ImmoPortal§Demo", {"/SCOPE", "halb", "/VERBOSE", "übrig"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 2u) << r.err;
  EXPECT_NE(r.err.find("\"/VERBOSE übrig\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"HALB\""), std::string::npos) << r.err;
  EXPECT_EQ(RunLineErrors("ImmoPortal Demo|"), 0);
}

}  // namespace
}  // namespace fern::testing
