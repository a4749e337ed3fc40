// An unattended run of the REST portal whose availability check the service answers with 10 MB
// of pretty-printed XML with Windows line ends, with and without DebugMode (which writes every
// call with its answer, line ends removed and masked, into the call log). The ratio of the two is
// what the call log costs; it should stay a small factor.
//
//   build/bench/bench_rest_call_log
#include <benchmark/benchmark.h>

#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "grown_host.h"
#include "support/child_process.h"

namespace {

using namespace fern;
using namespace fern::bench;

struct Service {
  fs::path folder;
  pid_t pid = -1;
  int port = 0;
};

// The demo host with the REST stand-in answering at length, its work in a folder of its own.
const Service& Prepared() {
  static Service s = [] {
    Service r;
    r.folder = BenchFolder("rest-call-log");
    host::BuildDemoHost(r.folder / "host");
    std::string answer = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<user>\r\n  <listings>\r\n";
    for (int n = 0; answer.size() < 10 * 1024 * 1024; ++n)
      answer += "    <listing id=\"FB-" + std::to_string(n) +
                "\">\r\n      <title>Villa am See</title>\r\n      <rooms>5</rooms>\r\n    "
                "</listing>\r\n";
    answer += "  </listings>\r\n</user>\r\n";
    std::ofstream(r.folder / "answer.xml", std::ios::binary) << answer;
    r.port = testing::StartPortServer(
        {"/usr/bin/python3", "-u", std::string(FERN_SOURCE_DIR) + "/demo/rest_service.py", "--user",
         "1/DEMO:demo", "--users-answer", (r.folder / "answer.xml").string(), "--lifetime", "3600"},
        (r.folder / "service.log").string(), r.pid);
    host::SetDemoRestService(r.folder / "host", r.port);
    fs::create_directories(r.folder / "tmp");
    ::setenv("TMPDIR", (r.folder / "tmp").c_str(), 1);
    return r;
  }();
  return s;
}

std::map<bool, double>& Seconds() {
  static std::map<bool, double> seconds;
  return seconds;
}

void RestRun(benchmark::State& state, bool debugMode) {
  const Service& s = Prepared();
  if (s.port <= 0) {
    state.SkipWithError("the REST stand-in did not start");
    return;
  }
  IniWrite("options", "DebugMode", debugMode ? "1" : "0", s.folder / "host" / "Kavantor.INI");
  ProgramRun r;
  double total = 0;
  for (auto _ : state) {
    r = RunProgram(FERN_DISPATCHER_EXE, s.folder / "host", "ImmobilienScout24");
    total += r.seconds;
    state.SetIterationTime(r.seconds);
  }
  Seconds()[debugMode] = total / static_cast<double>(state.iterations());
  state.counters["exit_code"] = r.exitCode;
  state.counters["peak_rss_MB"] = r.peakMB;
  if (debugMode && Seconds().count(false) && Seconds()[false] > 0)
    state.counters["x_without_DebugMode"] = Seconds()[true] / Seconds()[false];
  if (debugMode) {
    pid_t pid = s.pid;
    testing::StopChildGroup(pid);
    std::error_code ec;
    if (!std::getenv("FERN_BENCH_KEEP")) fs::remove_all(s.folder, ec);
  }
}

BENCHMARK_CAPTURE(RestRun, without_debug_mode, false)
    ->Name("RestRun_10MB_DebugMode_0")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RestRun, with_debug_mode, true)
    ->Name("RestRun_10MB_DebugMode_1")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
