// The demo host grown to a large office's size, and a program run timed as a scheduler starts
// it: what the whole-run benchmarks share.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "db/connection.h"
#include "demo/demo_host.h"
#include "host/host_picture.h"
#include "platform/ini_file.h"

extern char** environ;

namespace fern::bench {

namespace fs = std::filesystem;

inline constexpr int kDemoListings = 30;

// A folder of the benchmark's own in the temp folder; `kind` tells the benchmarks apart.
inline fs::path BenchFolder(const std::string& kind) {
  return fs::temp_directory_path() / ("fern-bench-" + kind + "-" + std::to_string(::getpid()));
}

// The key of copy `c` of a demo key: the demo's keys all carry "-8000-" in their fourth group.
inline std::string CopyKey(const std::string& column, int c) {
  char group[16];
  std::snprintf(group, sizeof group, "-8%03X-", static_cast<unsigned>(c));
  return "replace(" + column + ", '-8000-', '" + group + "')";
}

// Copy `c` of every demo listing: its row, field values, portal links, picture rows and picture
// files (linked, not copied: the run reads them like any other file), with `documents` also its
// documents ("<stem>-doc..."). Picture stems get "x<c>".
inline void AddCopy(db::Connection& conn, const fs::path& pictures, int c, bool documents) {
  const std::string tag = "x" + std::to_string(c);
  struct Table {
    const char* name;
    std::vector<std::string> keys;
    std::string more;
  };
  const std::vector<Table> tables = {
      {"obj",
       {"DSN", "OBJ_DSN"},
       ", KENNUNG = KENNUNG || '-" + std::to_string(c) + "', DATEI = DATEI || '" + tag + "'"},
      {"ObjDet", {"DSN", "Obj_Dsn"}, ""},
      {"boersenobj", {"DSN", "obj_dsn"}, ""},
      {"EstatePicture",
       {"DSN", "EstateDSN"},
       ", FileName = replace(FileName, '_', '" + tag + "_')"},
  };
  std::string sql;
  for (const Table& t : tables) {
    std::string set;
    for (const std::string& key : t.keys)
      set += (set.empty() ? "" : ", ") + key + " = " + CopyKey(key, c);
    sql += std::string("CREATE TEMP TABLE grow AS SELECT * FROM ") + t.name +
           " WHERE DSN LIKE '%-8000-%';\nUPDATE grow SET " + set + t.more + ";\nINSERT INTO " +
           t.name + " SELECT * FROM grow;\nDROP TABLE grow;\n";
  }
  conn.Execute(sql);
  std::vector<std::pair<fs::path, fs::path>> links;
  for (int n = 1; n <= kDemoListings; ++n) {
    const std::string stem = "fb" + std::to_string(n);
    for (const std::string suffix : {"_0.jpg", "_1.jpg", "_2.jpg", "_online.jpg", ".txt"})
      links.emplace_back(pictures / (stem + suffix), pictures / (stem + tag + suffix));
  }
  if (documents) {
    for (const auto& entry : fs::directory_iterator(pictures)) {
      const std::string name = entry.path().filename().string();
      const size_t doc = name.find("-");
      if (name.rfind("fb", 0) != 0 || doc == std::string::npos || name.find('x') < doc) continue;
      links.emplace_back(entry.path(), pictures / (name.substr(0, doc) + tag + name.substr(doc)));
    }
  }
  for (const auto& [from, to] : links) {
    if (!fs::exists(from)) continue;
    std::error_code ec;
    fs::create_hard_link(from, to, ec);
    if (ec) fs::copy_file(from, to);
  }
}

// The demo host grown to `listings` (a multiple of 30) in `folder`, with its own transfer
// folder.
inline fs::path GrownHost(const fs::path& folder, int listings, bool documents = false) {
  host::BuildDemoHost(folder);
  {
    auto conn = db::Connection::Open((folder / "DAT" / "kavantor.db").string());
    for (int c = 1; c < listings / kDemoListings; ++c)
      AddCopy(*conn, folder / "pic.obj" / "fb", c, documents);
  }
  fs::create_directories(folder / "work");
  IniWrite("OPTIONS", "TRANSFERPATH", (folder / "work").string(), folder / "Kavantor.INI");
  return folder;
}

// The frame the demo host's settings ask for on a portal's title picture.
inline host::PictureFrame DemoFrame() {
  host::PictureFrame frame;
  frame.visible = true;
  frame.width = 6;
  frame.color = 0x1F4E79;
  frame.eyecatcherVisible = true;
  frame.eyecatcherText = "NEU";
  return frame;
}

// A sent picture shrunk again from the host's source, signed as the demo office signs: the
// listing's title picture (its "_online" one, else its first when `sent` holds no "_online"
// one) gets the frame. The limits are the caller's.
inline host::ShrinkRequest SentPicture(const fs::path& host, const std::string& name,
                                       const std::set<std::string>& sent, const fs::path& out,
                                       const host::PictureFrame& frame) {
  const std::string stem = name.substr(0, name.rfind('_'));
  const bool title = name.ends_with("_online.jpg") ||
                     (name.ends_with("_0.jpg") && !sent.count(stem + "_online.jpg"));
  host::ShrinkRequest r;
  r.source = host / "pic.obj" / "fb" / name;
  r.target = out / name;
  r.copyright = "© Fernblick Immobilien";
  r.frame = title ? &frame : nullptr;
  return r;
}

inline double CpuSeconds(const rusage& u) {
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

// This process's own processor time so far.
inline double OwnCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return CpuSeconds(u);
}

struct ProgramRun {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the program and its children
  double peakMB = 0;
  int exitCode = -1;
};

// One unattended run of the program on `host` for one portal ("§" for a blank), as a scheduler
// starts it; its own peak memory from wait4.
inline ProgramRun RunProgram(const std::string& program, const fs::path& host,
                             const std::string& portal) {
  std::vector<std::string> args = {program, "/PATHKV", host.string(), "/USERKV",
                                   "DEMO",  "/PORTAL", portal};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ProgramRun r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return r;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  r.cpuSeconds = CpuSeconds(usage);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace fern::bench
