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
#include <string>
#include <thread>
#include <vector>

namespace fern::testing {

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
  std::string line;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char c;
    if (read(out[0], &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  close(out[0]);
  return line.rfind("PORT ", 0) == 0 ? std::atoi(line.c_str() + 5) : 0;
}

// Ends a server a test started in its own process group: SIGTERM, up to two seconds for it to
// go, then SIGKILL; the child is always reaped. `pid` becomes -1.
inline void StopChildGroup(pid_t& pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  kill(pid, SIGTERM);
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

}  // namespace fern::testing
