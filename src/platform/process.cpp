#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/waits.h"

extern char** environ;

namespace fern {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string SysText(int error) { return std::strerror(error); }

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

std::vector<std::string> BuildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    const std::string_view entry(*e);
    const std::string_view name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [key, value] : extra) replaced = replaced || key == name;
    if (!replaced) env.emplace_back(entry);
  }
  for (const auto& [key, value] : extra) env.push_back(key + "=" + value);
  return env;
}

// A pipe end we read the child's output from, and where it goes.
struct Reader {
  int fd = -1;
  std::string* sink = nullptr;
};

// Reads what is there without blocking; closes the end at EOF.
void Drain(Reader& r) {
  char buf[16384];
  while (r.fd >= 0) {
    const ssize_t n = ::read(r.fd, buf, sizeof buf);
    if (n > 0) {
      r.sink->append(buf, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      CloseFd(r.fd);
    } else if (errno == EAGAIN) {
      return;
    }
  }
}

// Waits up to `step` for output (or just sleeps when nothing is read) and takes what arrived.
void WaitForOutput(Reader (&readers)[2], milliseconds step) {
  pollfd fds[2];
  nfds_t count = 0;
  for (Reader& r : readers) {
    if (r.fd >= 0) fds[count++] = pollfd{r.fd, POLLIN, 0};
  }
  if (count == 0) {
    std::this_thread::sleep_for(step);
    return;
  }
  ::poll(fds, count, static_cast<int>(step.count()));
  for (Reader& r : readers) Drain(r);
}

// Owns the running child: whatever way the wait ends (an exception from the pump hook too),
// the child's group is killed and the child reaped.
class Child {
 public:
  explicit Child(pid_t pid) : pid_(pid) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      Reap();
    }
  }

  // True once the child has ended; it is then reaped and `status` holds its wait status.
  // `lost` is set when the status cannot be had (someone set SIGCHLD to be ignored).
  bool Poll(int& status, bool& lost) {
    const pid_t w = ::waitpid(pid_, &status, WNOHANG);
    lost = w < 0 && errno == ECHILD;
    if (w == pid_ || lost) {
      pid_ = -1;
      return true;
    }
    return false;
  }

  // SIGTERM to the group, SIGKILL after the grace time; what remains of the group is killed
  // while the child's id is still held (not yet reaped), so no stranger can be hit.
  void Terminate(milliseconds grace, Reader (&readers)[2]) {
    ::kill(-pid_, SIGTERM);
    const auto deadline = Clock::now() + grace;
    siginfo_t info{};
    for (;;) {
      info.si_pid = 0;
      if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
          info.si_pid == pid_ || Clock::now() >= deadline) {
        break;
      }
      WaitForOutput(readers, milliseconds(10));
    }
    ::kill(-pid_, SIGKILL);
    Reap();
  }

 private:
  void Reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

  pid_t pid_;
};

// Opens an output file for the child, or makes a pipe for capture; sets `childFd` to the end the
// child writes to. Returns "" or the failure text.
std::string PrepareOutput(const std::filesystem::path& file, bool capture, int& childFd,
                          Reader& reader, std::string* sink) {
  if (!file.empty()) {
    childFd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (childFd < 0) return "cannot open " + file.string() + ": " + SysText(errno);
  } else if (capture) {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return "cannot make a pipe: " + SysText(errno);
    reader.fd = p[0];
    reader.sink = sink;
    childFd = p[1];
    ::fcntl(reader.fd, F_SETFL, ::fcntl(reader.fd, F_GETFL) | O_NONBLOCK);
  }
  return {};
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = "no program given";
    return result;
  }
  if (options.cancelOnEsc && EscPressed()) {
    result.outcome = ProcessOutcome::kCancelled;
    return result;
  }

  Reader readers[2];
  int childOut = -1;
  int childErr = -1;
  auto cleanup = [&] {
    CloseFd(childOut);
    CloseFd(childErr);
  };
  std::string failure =
      PrepareOutput(options.stdoutFile, options.captureStdout, childOut, readers[0], &result.out);
  if (failure.empty()) {
    failure =
        PrepareOutput(options.stderrFile, options.captureStderr, childErr, readers[1], &result.err);
  }
  if (!failure.empty()) {
    cleanup();
    for (Reader& r : readers) CloseFd(r.fd);
    result.error = failure;
    return result;
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (childOut >= 0) posix_spawn_file_actions_adddup2(&actions, childOut, 1);
  if (childErr >= 0) posix_spawn_file_actions_adddup2(&actions, childErr, 2);
  if (!options.workingDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());
  }

  // Own process group: a terminal's Ctrl+C reaches only us (we then cancel the child), and
  // ending the child ends what it started.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&defaults, sig);
  sigset_t noMask;
  sigemptyset(&noMask);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &noMask);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> args(argv);
  std::vector<std::string> env = BuildEnvironment(options.extraEnv);
  std::vector<char*> argp = CStrings(args);
  std::vector<char*> envp = CStrings(env);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argp[0], &actions, &attr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  cleanup();
  if (rc != 0) {
    for (Reader& r : readers) CloseFd(r.fd);
    result.error = "cannot start " + argv[0];
    if (!options.workingDir.empty()) result.error += " in " + options.workingDir.string();
    result.error += ": " + SysText(rc);
    return result;
  }

  Child child(pid);
  const auto start = Clock::now();
  auto lastPump = start;
  int status = 0;
  bool lost = false;
  ProcessOutcome stop = ProcessOutcome::kExited;
  try {
    // Short programs are common (zip, converters): the first steps are short, then pollStep.
    milliseconds step = std::min(milliseconds(1), options.pollStep);
    for (;;) {
      WaitForOutput(readers, step);
      step = std::min(step * 2, options.pollStep);
      if (child.Poll(status, lost)) break;
      const auto now = Clock::now();
      if (now - lastPump >= options.pollStep) {
        PumpEvents();
        lastPump = now;
      }
      if (options.cancelOnEsc && EscPressed()) {
        stop = ProcessOutcome::kCancelled;
      } else if (options.timeout && Clock::now() - start >= *options.timeout) {
        stop = ProcessOutcome::kTimedOut;
      }
      if (stop != ProcessOutcome::kExited) {
        child.Terminate(options.killGrace, readers);
        break;
      }
    }
  } catch (...) {
    for (Reader& r : readers) CloseFd(r.fd);
    throw;
  }
  // Output still in the pipes; a grandchild holding them open does not keep us here.
  for (Reader& r : readers) {
    Drain(r);
    CloseFd(r.fd);
  }

  if (stop != ProcessOutcome::kExited) {
    result.outcome = stop;
  } else if (lost) {
    // Never report success we cannot vouch for.
    result.outcome = ProcessOutcome::kExited;
    result.error = "the exit status of " + argv[0] + " was lost";
  } else if (WIFEXITED(status)) {
    result.outcome = ProcessOutcome::kExited;
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.outcome = ProcessOutcome::kSignalled;
    result.signal = WTERMSIG(status);
  }
  return result;
}

std::string StartDetached(const std::vector<std::string>& argv,
                          const std::filesystem::path& workingDir,
                          std::chrono::milliseconds verdictWithin) {
  if (argv.empty() || argv[0].empty()) return "no program given";
  // Everything the children use is prepared here: after fork only async-signal-safe calls.
  std::vector<std::string> args(argv);
  std::vector<char*> argp = CStrings(args);
  const std::string dir = workingDir.string();
  const int64_t verdictMs = verdictWithin.count();
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return "cannot make a pipe: " + SysText(errno);

  // Fork twice: the middle child ends at once and is reaped here, the grandchild belongs to
  // init, so nothing waits on it and it never becomes our zombie.
  const pid_t middle = ::fork();
  if (middle < 0) {
    const int error = errno;
    ::close(report[0]);
    ::close(report[1]);
    return "cannot start " + argv[0] + ": " + SysText(error);
  }
  if (middle == 0) {
    ::close(report[0]);
    ::setsid();
    // Default signal handling, set once here: the wait for the verdict needs SIGCHLD not ignored,
    // and the program inherits it.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGQUIT, SIGCHLD})
      ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
      const int error = errno;
      [[maybe_unused]] ssize_t n = ::write(report[1], &error, sizeof error);
      ::_exit(127);
    }
    if (grandchild > 0) {
      // The program's own verdict, when it comes within the time given, as a negative code.
      for (int64_t waited = 0; waited < verdictMs; waited += 10) {
        int status = 0;
        const pid_t ended = ::waitpid(grandchild, &status, WNOHANG);
        if (ended == grandchild) {
          if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
            const int code = -WEXITSTATUS(status);
            [[maybe_unused]] ssize_t n = ::write(report[1], &code, sizeof code);
          }
          break;
        }
        if (ended < 0) break;
        struct timespec step {
          0, 10'000'000
        };
        ::nanosleep(&step, nullptr);
      }
      ::_exit(0);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, 0);
    int error = 0;
    if (!dir.empty() && ::chdir(dir.c_str()) != 0) error = errno;
    if (!error) {
      ::execvp(argp[0], argp.data());
      error = errno;
    }
    [[maybe_unused]] ssize_t n = ::write(report[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // EOF (the exec closed the pipe) means started; otherwise the grandchild sent errno, or the
  // middle child the program's exit code (negative), whichever came first.
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof error) && error < 0)
    return argv[0] + " ended with code " + std::to_string(-error);
  if (n == static_cast<ssize_t>(sizeof error)) {
    std::string text = "cannot start " + argv[0];
    if (!dir.empty()) text += " in " + dir;
    return text + ": " + SysText(error);
  }
  return {};
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      if (line[i] == '\\') {
        size_t slashes = 0;
        while (i < line.size() && line[i] == '\\') ++slashes, ++i;
        if (i < line.size() && line[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (line[i] == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace fern
