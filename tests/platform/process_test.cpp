#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "platform/waits.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

using namespace std::chrono_literals;
using testing::ScratchDir;

std::vector<std::string> Sh(const std::string& script) { return {"/bin/sh", "-c", script}; }

// True when `pid` is no child of ours any more (reaped, so no zombie left).
bool Reaped(const std::string& pidText) {
  const pid_t pid = static_cast<pid_t>(std::stol(pidText));
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == -1 && errno == ECHILD;
}

class ProcessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetPumpHook({});
    ResetEsc();
  }
};

// The program ignores SIGPIPE (and under nohup SIGHUP): its children start with both at their
// defaults, so a tool writing into a closed pipe ends as it would from a shell.
TEST_F(ProcessTest, ChildrenStartWithSigpipeAndSighupAtTheirDefaults) {
  InstallCancelSignals();
  ::signal(SIGHUP, SIG_IGN);
  ProcessOptions capture;
  capture.captureStdout = true;
  const auto r = RunProcess({"grep", "SigIgn", "/proc/self/status"}, capture);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
  unsigned long long ignored = 0;
  ASSERT_EQ(std::sscanf(r.out.c_str() + r.out.find("SigIgn:") + 7, "%llx", &ignored), 1) << r.out;
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << r.out;
  EXPECT_EQ(ignored & (1ull << (SIGHUP - 1)), 0u) << r.out;
}

TEST_F(ProcessTest, ExitCodesSignalsCaptureAndArgumentsWithoutShell) {
  ProcessOptions capture;
  capture.captureStdout = capture.captureStderr = true;
  auto r = RunProcess(Sh("echo out; echo err >&2; exit 3"), capture);
  EXPECT_EQ(r.outcome, ProcessOutcome::kExited);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");

  r = RunProcess({"true"});  // found through PATH
  EXPECT_TRUE(r.Succeeded());

  r = RunProcess(Sh("kill -KILL $$"));
  EXPECT_EQ(r.outcome, ProcessOutcome::kSignalled);
  EXPECT_EQ(r.signal, SIGKILL);

  // More output than a pipe holds must not stall the child.
  r = RunProcess({"head", "-c", "1000000", "/dev/zero"}, capture);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.out.size(), 1000000u);

  // Arguments are never interpreted by a shell.
  r = RunProcess({"printf", "%s|", "a b", "$HOME", "*", "'q'; rm -rf x"}, capture);
  EXPECT_EQ(r.out, "a b|$HOME|*|'q'; rm -rf x|");
}

TEST_F(ProcessTest, AnIgnoredSigchldIsNoSuccess) {
  struct sigaction ignore {};
  struct sigaction old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &old);
  const auto r = RunProcess(Sh("exit 4"));
  ::sigaction(SIGCHLD, &old, nullptr);
  EXPECT_FALSE(r.Succeeded());
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_NE(r.error.find("lost"), std::string::npos);
}

TEST_F(ProcessTest, WorkingFolderEnvironmentAndOutputFiles) {
  ScratchDir dir;
  ProcessOptions opt;
  opt.workingDir = dir.path();
  opt.extraEnv = {{"FERN_X", "eins"}, {"HOME", "/nowhere"}};
  opt.stdoutFile = dir / "out.txt";
  opt.stderrFile = dir / "err.txt";
  opt.captureStdout = true;  // the file wins
  dir.Write("out.txt", "old content that must go away");
  const auto r = RunProcess(Sh("pwd; echo \"$FERN_X $HOME\"; echo oops >&2"), opt);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir.Read("out.txt"), dir.path().string() + "\neins /nowhere\n");
  EXPECT_EQ(dir.Read("err.txt"), "oops\n");
}

TEST_F(ProcessTest, StartFailuresSayWhy) {
  ScratchDir dir;
  ProcessOptions badDir, badOut;
  badDir.workingDir = dir / "missing";
  badOut.stdoutFile = dir / "missing" / "out.txt";
  const std::string plain = dir.Write("plain.txt", "not a program").string();
  // Each case with a text its error must hold.
  const std::vector<std::tuple<std::vector<std::string>, ProcessOptions, std::string>> cases{
      {{"/no/such/program", "x"}, {}, "/no/such/program"},
      {{"/no/such/program"}, {}, "No such file"},
      {{"true"}, badDir, "missing"},
      {{"true"}, badOut, ""},
      {{plain}, {}, ""},
      {{}, {}, ""}};
  for (const auto& [argv, opt, text] : cases) {
    const auto r = RunProcess(argv, opt);
    EXPECT_EQ(r.outcome, ProcessOutcome::kStartFailed) << text;
    EXPECT_NE(r.error.find(text), std::string::npos) << r.error;
  }
}

TEST_F(ProcessTest, TimeOutEndsEvenAChildThatIgnoresSigterm) {
  ProcessOptions opt;
  opt.timeout = 200ms;
  opt.killGrace = 200ms;
  opt.captureStdout = true;
  auto r = RunProcess(Sh("echo $$; sleep 30"), opt);
  EXPECT_EQ(r.outcome, ProcessOutcome::kTimedOut);
  EXPECT_TRUE(Reaped(r.out));

  r = RunProcess(Sh("trap '' TERM; echo $$; sleep 30 & wait; sleep 30"), opt);
  EXPECT_EQ(r.outcome, ProcessOutcome::kTimedOut);
  EXPECT_TRUE(Reaped(r.out));
}

TEST_F(ProcessTest, EscCancelsTheWaitWhileEventsArePumped) {
  int pumped = 0;
  SetPumpHook([&] {
    if (++pumped == 3) SetEsc();
  });
  ProcessOptions opt;
  opt.captureStdout = true;
  auto r = RunProcess(Sh("echo $$; sleep 30"), opt);
  EXPECT_EQ(r.outcome, ProcessOutcome::kCancelled);
  EXPECT_GE(pumped, 3);
  EXPECT_TRUE(Reaped(r.out));

  // Esc already pressed: nothing is started.
  r = RunProcess(Sh("echo started"), opt);
  EXPECT_EQ(r.outcome, ProcessOutcome::kCancelled);
  EXPECT_EQ(r.out, "");
  // Unless the caller opts out of Esc.
  opt.cancelOnEsc = false;
  r = RunProcess(Sh("echo started"), opt);
  EXPECT_TRUE(r.Succeeded());
  EXPECT_EQ(r.out, "started\n");
}

TEST_F(ProcessTest, AnExceptionFromThePumpStillEndsAndReapsTheChild) {
  ScratchDir dir;
  SetPumpHook([] { throw std::runtime_error("window gone"); });
  ProcessOptions opt;
  opt.stdoutFile = dir / "pid.txt";
  EXPECT_THROW(RunProcess(Sh("echo $$; sleep 30"), opt), std::runtime_error);
  EXPECT_TRUE(Reaped(dir.Read("pid.txt")));
}

TEST_F(ProcessTest, DetachedStartRunsOnItsOwnAndReportsFailure) {
  ScratchDir dir;
  EXPECT_EQ(StartDetached(Sh("echo done > marker.tmp && mv marker.tmp marker"), dir.path()), "");
  // The program runs on after the call; give it a bounded while to finish.
  for (int i = 0; i < 500 && !std::filesystem::exists(dir / "marker"); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(dir.Read("marker"), "done\n");
  int status = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // no child of ours left behind
  EXPECT_NE(StartDetached({"/no/such/opener", "x"}).find("No such file"), std::string::npos);
  EXPECT_NE(StartDetached({"true"}, dir / "missing"), "");
}

TEST_F(ProcessTest, AnOpenerThatGivesUpAtOnceIsAFailure) {
  // A document opener that finds no viewer ends at once with an error code of its own.
  EXPECT_NE(StartDetached(Sh("exit 3"), {}, 5000ms).find("code 3"), std::string::npos);
  EXPECT_EQ(StartDetached(Sh("exit 0"), {}, 5000ms), "");
  // One that keeps running (the viewer in the foreground) is taken as started after the wait.
  ScratchDir dir;
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(StartDetached(Sh("sleep 0.5; echo done > marker"), dir.path(), 100ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 450ms);
  for (int i = 0; i < 500 && !std::filesystem::exists(dir / "marker"); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(dir.Read("marker"), "done\n");
  int status = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_NE(StartDetached({"/no/such/opener", "x"}, {}, 1000ms).find("No such file"),
            std::string::npos);
}

TEST(SplitCommandLine, WindowsQuotingRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\7za.exe\" a -tzip \"C:\\tmp\\a b.zip\" x.xml"),
            (V{"C:\\Program Files\\7za.exe", "a", "-tzip", "C:\\tmp\\a b.zip", "x.xml"}));
  EXPECT_EQ(SplitCommandLine("  a\t b  "), (V{"a", "b"}));
  EXPECT_EQ(SplitCommandLine("a\\\\b \\\"q\\\" \"x\"\"y\""), (V{"a\\\\b", "\"q\"", "x\"y"}));
  EXPECT_EQ(SplitCommandLine("\"dir\\\\\" next"), (V{"dir\\", "next"}));
  EXPECT_EQ(SplitCommandLine("a\"b c\"d"), (V{"ab cd"}));
  EXPECT_EQ(SplitCommandLine("\"\""), (V{""}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

}  // namespace
}  // namespace fern
