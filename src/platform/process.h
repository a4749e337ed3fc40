// Outside programs: run one and wait for it, or start one and let it go.
// Programs are started from an argv, never through a shell, so no argument is ever
// re-interpreted. The child's standard input is /dev/null.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fern {

struct ProcessOptions {
  std::filesystem::path workingDir;  // empty: ours
  // Added to (or replacing in) our environment.
  std::vector<std::pair<std::string, std::string>> extraEnv;
  std::optional<std::chrono::milliseconds> timeout;  // none: wait as long as it takes
  // Esc (waits.h) ends the wait and the child. Already set at the call: the child is not started.
  bool cancelOnEsc = true;
  // Standard output and error: into ProcessResult (capture), into a file (replaced), or
  // passed through to ours. A file wins over capture.
  bool captureStdout = false;
  bool captureStderr = false;
  std::filesystem::path stdoutFile;
  std::filesystem::path stderrFile;
  std::chrono::milliseconds pollStep{50};  // events are pumped this often while waiting
  // After SIGTERM the child gets this long to end before SIGKILL.
  std::chrono::milliseconds killGrace{2000};
};

enum class ProcessOutcome {
  kExited,       // exitCode holds its code (-1, with `error` said, when it was lost)
  kSignalled,    // ended by signal `signal`
  kTimedOut,     // the time-out passed; the child was ended
  kCancelled,    // Esc; the child was ended (or not started)
  kStartFailed,  // could not be started; `error` says why
};

struct ProcessResult {
  ProcessOutcome outcome = ProcessOutcome::kStartFailed;
  int exitCode = -1;
  int signal = 0;
  std::string error;  // for kStartFailed: what failed, with the system's text
  std::string out;    // captured standard output
  std::string err;    // captured standard error

  bool Succeeded() const { return outcome == ProcessOutcome::kExited && exitCode == 0; }
};

// Runs argv[0] (looked up in PATH when it holds no "/") and waits for its end, pumping events
// (waits.h) every poll step. On time-out or Esc the child's process group gets SIGTERM, then
// SIGKILL after the grace time; the child is always reaped before the call returns.
// Never throws for the child's sake; an empty argv is a start failure.
ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Starts argv without waiting (a document opener such as "xdg-open"), detached from us so it
// outlives us and never becomes our zombie. Returns "" on success, else why it failed to start.
// With `verdictWithin`, a program that ends within that time with a code other than 0 has
// failed too (an opener that finds no viewer gives up at once); one still running then counts
// as started.
std::string StartDetached(const std::vector<std::string>& argv,
                          const std::filesystem::path& workingDir = {},
                          std::chrono::milliseconds verdictWithin = {});

// Splits a Windows command line into arguments as Windows programs do: blanks separate,
// double quotes group ("" inside quotes is one quote), backslashes are literal unless they
// precede a quote (2n backslashes + quote: n backslashes and a quote that groups; 2n+1: n
// backslashes and a literal quote).
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace fern
