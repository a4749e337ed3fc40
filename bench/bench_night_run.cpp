// A night run as a large office runs it: the demo host grown to N listings (copies of the demo's
// listings with their field values, portal links and pictures, all in the one picture folder),
// one unattended run of the program for "ImmoPortal Demo" (no network), timed with its peak
// memory. Beside it the floor of the same work: shrinking the pictures that run sent, alone.
// The time per listing must not grow with N, and the run should stay within a few times its floor.
//
//   build/bench/bench_night_run                                   300 and 3,000 listings
//   build/bench/bench_night_run --benchmark_filter=/300/          300 only
// FERN_BENCH_KEEP=1 keeps the grown hosts (in the temp folder) for a look afterwards.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/connection.h"
#include "demo/demo_host.h"
#include "host/host_picture.h"
#include "platform/ini_file.h"

extern char** environ;

namespace {

using namespace fern;
namespace fs = std::filesystem;

constexpr int kDemoListings = 30;
constexpr const char* kPortal = "ImmoPortal Demo";

fs::path BenchFolder() {
  return fs::temp_directory_path() / ("fern-bench-night-" + std::to_string(::getpid()));
}

// The key of copy `c` of a demo key: the demo's keys all carry "-8000-" in their fourth group.
std::string CopyKey(const std::string& column, int c) {
  char group[16];
  std::snprintf(group, sizeof group, "-8%03X-", static_cast<unsigned>(c));
  return "replace(" + column + ", '-8000-', '" + group + "')";
}

// Copy `c` of every demo listing: its row, field values, portal links, picture rows and picture
// files (linked, not copied: the run reads them like any other file). Picture stems get "x<c>".
void AddCopy(db::Connection& conn, const fs::path& pictures, int c) {
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
  for (int n = 1; n <= kDemoListings; ++n) {
    const std::string stem = "fb" + std::to_string(n);
    for (const std::string suffix : {"_0.jpg", "_1.jpg", "_2.jpg", "_online.jpg", ".txt"}) {
      const fs::path from = pictures / (stem + suffix);
      if (!fs::exists(from)) continue;
      const fs::path to = pictures / (stem + tag + suffix);
      std::error_code ec;
      fs::create_hard_link(from, to, ec);
      if (ec) fs::copy_file(from, to);
    }
  }
}

// The demo host grown to `listings` (a multiple of 30), with its own transfer folder.
fs::path GrownHost(int listings) {
  const fs::path host = BenchFolder() / ("host-" + std::to_string(listings));
  host::BuildDemoHost(host);
  {
    auto conn = db::Connection::Open((host / "DAT" / "kavantor.db").string());
    for (int c = 1; c < listings / kDemoListings; ++c) AddCopy(*conn, host / "pic.obj" / "fb", c);
  }
  fs::create_directories(host / "work");
  IniWrite("OPTIONS", "TRANSFERPATH", (host / "work").string(), host / "Kavantor.INI");
  return host;
}

fs::path TransferFolder(const fs::path& host) {
  return host / "work" / "TRANSFER" / "openimmo" / kPortal;
}

double CpuSeconds(const rusage& u) {
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

struct RunResult {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the program and its children
  double peakMB = 0;
  int exitCode = -1;
  int listingsSent = 0;
};

// One unattended run of the program, as a scheduler starts it; its own peak memory from wait4.
RunResult RunProgram(const fs::path& host) {
  std::vector<std::string> args = {FERN_DISPATCHER_EXE, "/PATHKV", host.string(),
                                   "/USERKV",           "DEMO",    "/PORTAL",
                                   "ImmoPortal§Demo"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  RunResult r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return r;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  r.cpuSeconds = CpuSeconds(usage);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // Every listing the portal took is in its one document.
  for (const auto& entry : fs::directory_iterator(TransferFolder(host))) {
    if (entry.path().extension() != ".xml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    for (size_t at = 0; (at = text.find("<imo:immobilie>", at)) != std::string::npos; ++at)
      ++r.listingsSent;
  }
  return r;
}

std::map<int, fs::path>& Hosts() {
  static std::map<int, fs::path> hosts;
  return hosts;
}
std::map<int, RunResult>& Runs() {
  static std::map<int, RunResult> runs;
  return runs;
}

void NightRun(benchmark::State& state) {
  const int listings = static_cast<int>(state.range(0));
  if (!Hosts().count(listings)) Hosts()[listings] = GrownHost(listings);
  RunResult r;
  for (auto _ : state) r = RunProgram(Hosts()[listings]);
  Runs()[listings] = r;
  state.counters["ms_per_listing"] = 1000.0 * r.seconds / listings;
  state.counters["cpu_ms_per_listing"] = 1000.0 * r.cpuSeconds / listings;
  state.counters["peak_rss_MB"] = r.peakMB;
  state.counters["exit_code"] = r.exitCode;
  state.counters["listings_sent"] = r.listingsSent;
  const RunResult& first = Runs().begin()->second;
  // Against the smallest run before it: 1.0 is linear. On a busy machine the processor time
  // is the steadier measure.
  const int firstListings = Runs().begin()->first;
  if (firstListings != listings && first.seconds > 0 && first.cpuSeconds > 0) {
    const std::string vs = "_vs_" + std::to_string(firstListings);
    state.counters["per_listing" + vs] = (r.seconds / listings) / (first.seconds / firstListings);
    state.counters["cpu_per_listing" + vs] =
        (r.cpuSeconds / listings) / (first.cpuSeconds / firstListings);
  }
}

// The pictures the run sent (as it left them in its transfer folder), shrunk again from their
// sources with the same limits, signature and frame of the title picture, one after another.
void ShrinkPicturesAlone(benchmark::State& state) {
  const int listings = static_cast<int>(state.range(0));
  if (!Runs().count(listings)) {
    state.SkipWithError("the night run of this size did not run");
    return;
  }
  const fs::path host = Hosts()[listings];
  std::set<std::string> sent, withOnline;
  for (const auto& entry : fs::directory_iterator(TransferFolder(host))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".jpg" || name.rfind("fb", 0) != 0) continue;
    sent.insert(name);
    if (name.ends_with("_online.jpg")) withOnline.insert(name.substr(0, name.size() - 11));
  }
  host::PictureFrame frame;
  frame.visible = true;
  frame.width = 6;
  frame.color = 0x1F4E79;
  frame.eyecatcherVisible = true;
  frame.eyecatcherText = "NEU";
  const fs::path out = BenchFolder() / "shrunk";
  fs::create_directories(out);
  double seconds = 0, cpuSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const std::string& name : sent) {
      const std::string stem = name.substr(0, name.rfind('_'));
      const bool title =
          name.ends_with("_online.jpg") || (name.ends_with("_0.jpg") && !withOnline.count(stem));
      host::ShrinkRequest r;
      r.source = host / "pic.obj" / "fb" / name;
      r.target = out / name;
      r.maxBytes = 1000000;
      r.maxWidth = 800;
      r.copyright = "© Fernblick Immobilien";
      r.frame = title ? &frame : nullptr;
      host::ShrinkPicture(r);
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  }
  state.counters["pictures"] = static_cast<double>(sent.size());
  state.counters["ms_per_listing"] = 1000.0 * seconds / listings;
  state.counters["cpu_ms_per_listing"] = 1000.0 * cpuSeconds / listings;
  if (seconds > 0) state.counters["run_x_floor"] = Runs()[listings].seconds / seconds;
  if (cpuSeconds > 0) state.counters["cpu_run_x_floor"] = Runs()[listings].cpuSeconds / cpuSeconds;
  std::error_code ec;
  fs::remove_all(out, ec);
  if (!std::getenv("FERN_BENCH_KEEP")) fs::remove_all(host, ec);
  fs::remove(BenchFolder(), ec);  // once empty
}

// Each size's floor right after its run, so only one grown host is on disk at a time.
BENCHMARK(NightRun)->Arg(300)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(ShrinkPicturesAlone)->Arg(300)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(NightRun)->Arg(3000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(ShrinkPicturesAlone)->Arg(3000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
