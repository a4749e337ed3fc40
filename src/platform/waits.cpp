#include "platform/waits.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace fern {
namespace {

constexpr int kPumpStepMs = 50;

std::atomic<int> g_esc{0};
std::atomic<int> g_signal{0};
std::atomic<int64_t> g_stopNs{0};  // CLOCK_MONOTONIC, the steady clock's; 0 while not set
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<int64_t>::is_always_lock_free, "the signal handler keeps the time");

// Async-signal-safe: the first stop's time stays.
void NoteStopTime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t unset = 0;
  g_stopNs.compare_exchange_strong(unset, int64_t{now.tv_sec} * 1000000000 + now.tv_nsec,
                                   std::memory_order_relaxed);
}

struct State {
  std::function<void()> pump;
  bool pumping = false;
  std::function<void(bool)> busyHook;
  int busyDepth = 0;
};

State& S() {
  static State state;
  return state;
}

// Every further signal leaves the stop as the first set it: its clean-up keeps its time, and the
// logs name the first signal.
extern "C" void OnCancelSignal(int sig) {
  NoteStopTime();
  int none = 0;
  g_signal.compare_exchange_strong(none, sig, std::memory_order_relaxed);
  g_esc.store(1, std::memory_order_relaxed);
}

}  // namespace

void SetPumpHook(std::function<void()> hook) { S().pump = std::move(hook); }

void PumpEvents() {
  State& s = S();
  if (!s.pump || s.pumping) return;
  s.pumping = true;
  try {
    s.pump();
  } catch (...) {
    s.pumping = false;
    throw;
  }
  s.pumping = false;
}

void Sleep(int ms) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
  PumpEvents();
  for (auto now = Clock::now(); now < end; now = Clock::now()) {
    std::this_thread::sleep_for(
        std::min<Clock::duration>(end - now, std::chrono::milliseconds(kPumpStepMs)));
    PumpEvents();
  }
}

bool SleepUnlessStopped(int ms) {
  constexpr int kStopStepMs = 10;  // how late a stop may be noticed
  for (int left = ms; left > 0 && !EscPressed(); left -= kStopStepMs)
    Sleep(std::min(left, kStopStepMs));
  return !EscPressed();
}

bool EscPressed() { return g_esc.load(std::memory_order_relaxed) != 0; }
void SetEsc() {
  NoteStopTime();
  g_esc.store(1, std::memory_order_relaxed);
}
void ResetEsc() {
  g_esc.store(0, std::memory_order_relaxed);
  g_stopNs.store(0, std::memory_order_relaxed);
}

std::chrono::steady_clock::time_point StopTime() {
  const int64_t ns = g_stopNs.load(std::memory_order_relaxed);
  if (ns == 0) return std::chrono::steady_clock::now();
  return std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::nanoseconds(ns)));
}

int CancelSignal() { return g_signal.load(std::memory_order_relaxed); }
void ResetCancelSignal() { g_signal.store(0, std::memory_order_relaxed); }

void InstallCancelSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnCancelSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  // A closed terminal or ssh session stops the run as SIGTERM does, and Ctrl+C too; but nohup
  // ignores SIGHUP, and a shell without job control SIGINT for its background jobs: what the
  // program was started with stays ignored.
  for (int sig : {SIGINT, SIGHUP}) {
    struct sigaction was {};
    if (sigaction(sig, nullptr, &was) == 0 && was.sa_handler == SIG_IGN) continue;
    sigaction(sig, &sa, nullptr);
  }
  // A console whose reader has gone fails the write, not the run; children start with SIGPIPE
  // at its default again (process.cpp).
  signal(SIGPIPE, SIG_IGN);
}

void SetBusyHook(std::function<void(bool)> hook) { S().busyHook = std::move(hook); }

void Wait(bool busy) {
  State& s = S();
  if (busy) {
    if (s.busyDepth++ == 0 && s.busyHook) s.busyHook(true);
  } else if (s.busyDepth > 0) {
    if (--s.busyDepth == 0 && s.busyHook) s.busyHook(false);
  }
}

int BusyDepth() { return S().busyDepth; }

}  // namespace fern
