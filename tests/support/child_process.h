// Servers a test runs as child processes: started in a process group of their own, and ended
// with that whole group.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fern::testing {

// What a child writes on `fd` up to its first line end, the end of its output or `limit`.
inline std::string ReadFirstLine(int fd, std::chrono::seconds limit) {
  std::string line;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(fd, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

// Starts `args` (argv[0] a path) with standard error in `errorLog` and waits up to ten seconds
// for the first line it prints, "PORT <n>". Returns n, or 0 when the server said nothing usable;
// `pid` is the child either way, for StopChildGroup.
inline int StartPortServer(std::vector<std::string> args, const std::string& errorLog, pid_t& pid) {
  int out[2];
  if (pipe(out) != 0) return 0;
  pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return 0;
  }
  if (pid == 0) {
    setpgid(0, 0);
    dup2(out[1], 1);
    const int err = open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, 2);
    close(out[0]);
    close(out[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  const std::string line = ReadFirstLine(out[0], std::chrono::seconds(10));
  close(out[0]);
  return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

// Ends a server a test started in its own process group: SIGTERM, up to two seconds for it to
// go, then SIGKILL; the child is always reaped. `pid` becomes -1.
inline void StopChildGroup(pid_t& pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  kill(pid, SIGTERM);
  kill(-pid, SIGCONT);  // a session a test froze must hear it too
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

// Starts `argv` (argv[0] looked up in PATH) in a process group of its own, with this process's
// environment minus the variables named in `drop` plus the "NAME=value" entries of `add` (each
// in place of an inherited one of the same name): standard input from /dev/null, standard output
// and error onto `out`, every other descriptor closed but `keep`. The child's pid, or -1.
inline pid_t SpawnInGroupOnto(std::vector<std::string> argv, std::vector<std::string> drop,
                              std::vector<std::string> add, int out, int keep = -1) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  for (const std::string& a : add) drop.push_back(a.substr(0, a.find('=')));
  std::vector<char*> env;
  for (char** e = environ; *e; ++e) {
    bool dropped = false;
    for (const std::string& name : drop)
      dropped = dropped || std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0;
    if (!dropped) env.push_back(*e);
  }
  for (std::string& a : add) env.push_back(a.data());
  env.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != keep) close(fd);
    execvpe(args[0], args.data(), env.data());
    _exit(127);
  }
  return pid;
}

// The same with standard output and error into the file `log`.
inline pid_t SpawnInGroup(std::vector<std::string> argv, const std::vector<std::string>& drop,
                          std::vector<std::string> add, const std::filesystem::path& log,
                          int keep = -1) {
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return -1;
  const pid_t pid = SpawnInGroupOnto(std::move(argv), drop, std::move(add), out, keep);
  close(out);
  return pid;
}

// The child's exit status once it ended within `limit` (looked at once even for 0), reaped; -1
// while it still runs.
inline int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// An exit status as a shell tells it: the exit code, or 128 plus the signal that ended it.
inline int ExitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits up to 30 s for `ready` while the child `pid` runs: true once it is; false when time ran
// out or the child ended first (then reaped, and `pid` is -1).
template <typename Ready>
bool WaitWhileRunning(pid_t& pid, Ready ready) {
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       std::chrono::steady_clock::now() < end;) {
    if (ready()) return true;
    if (WaitExit(pid, std::chrono::milliseconds(0)) != -1) {
      pid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The processes whose parent is `parent`, found by their parent's id in /proc.
inline std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "stat");
    const std::string stat{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) out.push_back(std::stoi(name));
  }
  return out;
}

}  // namespace fern::testing
