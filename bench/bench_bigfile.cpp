// Packing a 200 MB tree of mixed files (text-like and random) into ".big" containers, against
// zlib compress() alone on the same bytes held in memory. The packing should reach at least
// 0.8x the bare compress throughput, and its peak memory should follow the largest file, not
// the total. Peak memory is the process's high-water mark, reset before each benchmark.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "services/cBigFileV2.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kTotalBytes = 200u << 20;
constexpr size_t kLargestFile = 2u << 20;

struct Tree {
  fs::path root;
  std::vector<fs::path> files;
  size_t largest = 0;

  Tree() {
    char tmpl[] = "/tmp/bench_bigfile_XXXXXX";
    root = mkdtemp(tmpl);
    std::mt19937 rng(42);
    const char* words[] = {"Wohnung",    "Balkon",   "Zimmer",    "Kaufpreis", "Euro",    "Garten",
                           "Stellplatz", "<objekt>", "</objekt>", "m²",        "Baujahr", "Lage"};
    std::string buf;
    size_t total = 0;
    for (int i = 0; total < kTotalBytes; ++i) {
      const size_t size = std::min<size_t>(4096 + rng() % kLargestFile, kTotalBytes - total);
      buf.clear();
      if (i % 2 == 0) {
        while (buf.size() < size) {
          buf += words[rng() % std::size(words)];
          buf += ' ';
          buf += std::to_string(rng() % 100000);
          buf += (rng() % 8 == 0) ? "\r\n" : " ";
        }
        buf.resize(size);
      } else {
        buf.resize(size);
        for (size_t k = 0; k + 4 <= size; k += 4) {
          const uint32_t r = rng();
          std::memcpy(&buf[k], &r, 4);
        }
      }
      const fs::path p = root / "data" / ("dir" + std::to_string(i % 7)) /
                         ("file" + std::to_string(i) + (i % 2 ? ".jpg" : ".txt"));
      fs::create_directories(p.parent_path());
      std::ofstream(p, std::ios::binary).write(buf.data(), static_cast<std::streamsize>(size));
      files.push_back(p);
      largest = std::max(largest, size);
      total += size;
    }
  }
  ~Tree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

Tree& TheTree() {
  static Tree tree;
  return tree;
}

// Resets the high-water mark of resident memory; false where the kernel does not allow it.
bool ResetPeak() { return static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5"); }

double StatusMiB(const char* key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key, 0) == 0)
      return std::strtod(line.c_str() + std::strlen(key), nullptr) / 1024;
  return 0;
}

void BM_PackBigFile(benchmark::State& state) {
  Tree& tree = TheTree();
  const fs::path out = tree.root / "out";
  fs::create_directories(out);
  const double before = StatusMiB("VmRSS:");
  ResetPeak();
  fern::cBigFileV2 big;
  for (auto _ : state) {
    big.Clear();
    std::string name = (out / "bench.big").string();
    big.bigOpenWrite(name);
    big.bigWriteFolder((tree.root / "data").string(), "");
    big.bigClose();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotalBytes));
  state.counters["containers"] = big.CountFiles();
  state.counters["packed_MiB"] = static_cast<double>(big.Size()) / (1 << 20);
  state.counters["rss_before_MiB"] = before;
  state.counters["peak_rss_MiB"] = StatusMiB("VmHWM:");
  state.counters["largest_file_MiB"] = static_cast<double>(tree.largest) / (1 << 20);
}

void BM_CompressOnly(benchmark::State& state) {
  Tree& tree = TheTree();
  std::vector<std::string> contents;
  for (const fs::path& p : tree.files) {
    std::ifstream in(p, std::ios::binary);
    contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<Bytef> packed(compressBound(tree.largest));
  for (auto _ : state) {
    for (const std::string& c : contents) {
      uLongf len = packed.size();
      compress(packed.data(), &len, reinterpret_cast<const Bytef*>(c.data()), c.size());
      benchmark::DoNotOptimize(len);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotalBytes));
}

BENCHMARK(BM_PackBigFile)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_CompressOnly)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
