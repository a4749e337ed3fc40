// Waiting without freezing the window, the Esc/cancel flag, and the busy bracket.
//
// There is one thread. Every loop that waits for something outside (a process, a transfer, a
// result file) waits in short steps and calls PumpEvents between them, so the window stays
// alive and its Esc key can set the cancel flag that the loop then reads with EscPressed.
#pragma once

#include <chrono>
#include <functional>

namespace fern {

// The window installs its event processing here; until then (and in unattended runs and tests)
// pumping does nothing. A hook that itself waits and pumps is not re-entered.
void SetPumpHook(std::function<void()> hook);
void PumpEvents();

// Pauses `ms` milliseconds, pumping events at least every 50 ms. Returns after the full time
// even when Esc is pressed meanwhile; callers ask EscPressed afterwards.
void Sleep(int ms);
// The same, but ends early once the cancel flag is set; false when it was set.
bool SleepUnlessStopped(int ms);

// The cancel flag: set by the window's Esc key, by SIGINT/SIGTERM once InstallCancelSignals has
// run, or by the code itself; it stays set until ResetEsc.
bool EscPressed();  // the one way to ask; scripts reach it as cUtil.WaitIsEsc
void SetEsc();
void ResetEsc();
// When the cancel flag was set (steady clock); the clean-up after a stop counts from here.
// Meaningful while EscPressed.
std::chrono::steady_clock::time_point StopTime();

// SIGINT, SIGTERM and SIGHUP set the cancel flag (the handler does nothing else, so it is
// async-signal-safe); SIGINT and SIGHUP stay ignored when the program was started with them
// ignored (nohup). Every further signal leaves the stop as it is, so its clean-up ends and the
// run writes its record; SIGKILL ends a run at once. SIGPIPE is ignored: a write to a console
// whose reader has gone fails instead of ending the process.
void InstallCancelSignals();
// The first signal that set the cancel flag (SIGINT, SIGTERM or SIGHUP), 0 when none came;
// ResetEsc leaves it, so a run stopped by the system is told apart from one cancelled with Esc.
int CancelSignal();
void ResetCancelSignal();

// The busy bracket Wait(True)/Wait(False). Brackets nest; the hook hears true when the first
// opens and false when the last closes (the window sets and restores its busy pointer).
// An unmatched Wait(False) is ignored.
void SetBusyHook(std::function<void(bool busy)> hook);
void Wait(bool busy);
int BusyDepth();

}  // namespace fern
