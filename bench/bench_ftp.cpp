// Uploading a folder of 500 files of 100 KB to a loopback FTP server (python3-pyftpdlib), in
// passive and in active mode, reported as files per second. One connection serves the whole
// folder; each file still needs its own data connection.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "host/cUtil.h"
#include "services/cFTPTransferV2.h"
#include "support/ftp_server.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 500;
constexpr size_t kFileBytes = 100 * 1024;

struct Setup {
  fs::path root;
  std::unique_ptr<fern::testing_servers::FtpServer> server;

  Setup() {
    char tmpl[] = "/tmp/bench_ftp_XXXXXX";
    root = mkdtemp(tmpl);
    fs::create_directories(root / "local");
    fs::create_directories(root / "home");
    std::mt19937 rng(7);
    std::string bytes(kFileBytes, '\0');
    for (int i = 0; i < kFiles; ++i) {
      for (char& c : bytes) c = static_cast<char>(rng());
      std::ofstream(root / "local" / ("part_" + std::to_string(i) + ".big"), std::ios::binary)
          << bytes;
    }
    fern::testing_servers::FtpServerOptions o;
    o.home = root / "home";
    server = std::make_unique<fern::testing_servers::FtpServer>(o);
  }
  ~Setup() {
    server.reset();
    fs::remove_all(root);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void Upload(benchmark::State& state, bool active) {
  Setup& s = Shared();
  const fs::path hostFolder = s.root / (active ? "host_active" : "host_passive");
  fs::create_directories(hostFolder);
  std::ofstream(hostFolder / "kavantor.ini") << (active ? "[FTP]\r\nACTIVE_FTP=1\r\n" : "");
  fern::cUtil util;
  fern::TransferHost host;
  host.Util = &util;
  host.Folder = hostFolder.string();
  const auto& o = s.server->options();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(s.root / "home" / "up");
    fern::cFTPTransferV2 ftp;
    ftp.Init("", host);
    state.ResumeTiming();
    const bool ok = ftp.FtpSendFolder(active ? s.server->host() : "127.0.0.1", o.user, o.password,
                                      (s.root / "local").string(), "up", "BIG",
                                      active ? "" : ":" + std::to_string(s.server->port()), true);
    if (!ok) state.SkipWithError("upload failed");
  }
  state.counters["files_per_second"] =
      benchmark::Counter(static_cast<double>(kFiles) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_FtpUploadPassive(benchmark::State& state) { Upload(state, false); }
void BM_FtpUploadActive(benchmark::State& state) { Upload(state, true); }

BENCHMARK(BM_FtpUploadPassive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_FtpUploadActive)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
