#include "platform/waits.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <vector>

namespace fern {
namespace {

class WaitsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetPumpHook({});
    SetBusyHook({});
    while (BusyDepth() > 0) Wait(false);
    ResetEsc();
  }
};

TEST_F(WaitsTest, SleepPumpsEventsAndAHookMaySetEsc) {
  int pumped = 0;
  SetPumpHook([&] {
    if (++pumped == 3) SetEsc();  // the window's Esc key arriving mid-sleep
  });
  Sleep(200);
  EXPECT_GE(pumped, 4);  // 50 ms steps; Esc does not cut the sleep short
  EXPECT_TRUE(EscPressed());
  pumped = 0;
  Sleep(0);  // a bare DoEvents
  EXPECT_EQ(pumped, 1);
}

TEST_F(WaitsTest, PumpHookIsNotReentered) {
  int depth = 0;
  int maxDepth = 0;
  SetPumpHook([&] {
    maxDepth = std::max(maxDepth, ++depth);
    Sleep(1);  // an event handler that waits itself
    --depth;
  });
  PumpEvents();
  EXPECT_EQ(maxDepth, 1);
}

// A second signal (an operator's second Ctrl+C, a stop script's repeated kill, the kernel's and
// the shell's SIGHUP) leaves the first stop as it is; nohup's ignored SIGHUP stays ignored.
TEST_F(WaitsTest, EverySignalAfterTheFirstLeavesTheStopAsItIs) {
  ResetCancelSignal();
  InstallCancelSignals();
  ::raise(SIGHUP);
  EXPECT_TRUE(EscPressed());
  const auto first = StopTime();
  Sleep(5);
  ::raise(SIGTERM);
  ::raise(SIGINT);
  ::raise(SIGTERM);
  EXPECT_EQ(CancelSignal(), SIGHUP);
  EXPECT_EQ(StopTime(), first);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    ::sigaction(sig, nullptr, &now);
    EXPECT_NE(now.sa_handler, SIG_DFL) << sig;
  }
  ResetEsc();
  ResetCancelSignal();

  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGINT, SIG_IGN);
  InstallCancelSignals();
  ::raise(SIGHUP);
  ::raise(SIGINT);
  EXPECT_FALSE(EscPressed());
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
}

// The clean-up after a stop counts from the first stop, whether a signal or Esc set it.
TEST_F(WaitsTest, TheStopKeepsTheTimeOfTheFirstStop) {
  using Clock = std::chrono::steady_clock;
  InstallCancelSignals();
  const auto before = Clock::now();
  ::raise(SIGTERM);
  const auto after = Clock::now();
  EXPECT_GE(StopTime(), before);
  EXPECT_LE(StopTime(), after);
  Sleep(20);
  SetEsc();  // Esc after the signal
  EXPECT_LE(StopTime(), after);
  ResetEsc();
  Sleep(20);
  SetEsc();
  EXPECT_GT(StopTime(), after + std::chrono::milliseconds(20));
  ::signal(SIGTERM, SIG_DFL);
}

TEST_F(WaitsTest, BusyBracketsNestAndIgnoreStrayEnds) {
  std::vector<bool> calls;
  SetBusyHook([&](bool busy) { calls.push_back(busy); });
  Wait(false);  // unmatched end before any begin
  Wait(true);
  Wait(true);
  EXPECT_EQ(BusyDepth(), 2);
  Wait(false);
  Wait(false);
  Wait(false);
  EXPECT_EQ(BusyDepth(), 0);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace fern
