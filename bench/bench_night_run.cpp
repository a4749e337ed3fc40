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

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "grown_host.h"

namespace {

using namespace fern;
using namespace fern::bench;

constexpr const char* kPortal = "ImmoPortal Demo";

fs::path BenchFolder() { return bench::BenchFolder("night"); }

// The demo host grown to `listings`, with its own transfer folder.
fs::path GrownHost(int listings) {
  return bench::GrownHost(BenchFolder() / ("host-" + std::to_string(listings)), listings);
}

fs::path TransferFolder(const fs::path& host) {
  return host / "work" / "TRANSFER" / "openimmo" / kPortal;
}

struct RunResult : ProgramRun {
  int listingsSent = 0;
};

RunResult RunProgram(const fs::path& host) {
  RunResult r;
  static_cast<ProgramRun&>(r) = bench::RunProgram(FERN_DISPATCHER_EXE, host, "ImmoPortal§Demo");
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
  std::set<std::string> sent;
  for (const auto& entry : fs::directory_iterator(TransferFolder(host))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".jpg" && name.rfind("fb", 0) == 0) sent.insert(name);
  }
  const host::PictureFrame frame = DemoFrame();
  const fs::path out = BenchFolder() / "shrunk";
  fs::create_directories(out);
  double seconds = 0, cpuSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuBefore = OwnCpuSeconds();
    for (const std::string& name : sent) {
      host::ShrinkRequest r = SentPicture(host, name, sent, out, frame);
      r.maxBytes = 1000000;
      r.maxWidth = 800;
      host::ShrinkPicture(r);
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpuSeconds = OwnCpuSeconds() - cpuBefore;
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
