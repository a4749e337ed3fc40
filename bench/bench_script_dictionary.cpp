// Scripting.Dictionary through Dispatch, the way scripts reach it: lookups by text and number.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "script/builtins.h"

namespace {

using fern::Variant;

void BM_DictionaryTextLookup(benchmark::State& state) {
  auto d = fern::script::CreateRuntimeObject("Scripting.Dictionary");
  const int n = static_cast<int>(state.range(0));
  std::vector<Variant> keys;
  for (int i = 0; i < n; ++i) {
    keys.emplace_back("Objekt-" + std::to_string(i));
    std::vector<Variant> args{keys.back(), Variant(int32_t{i})};
    d->Invoke("Add", fern::kMethod, args);
  }
  size_t i = 0;
  for (auto _ : state) {
    std::vector<Variant> args{keys[i++ % keys.size()]};
    benchmark::DoNotOptimize(d->Invoke("", fern::kPropGet, args));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DictionaryTextLookup)->Arg(1000)->Arg(100000);

void BM_DictionaryNumberExists(benchmark::State& state) {
  auto d = fern::script::CreateRuntimeObject("Scripting.Dictionary");
  for (int32_t i = 0; i < 100000; ++i) {
    std::vector<Variant> args{Variant(i), Variant("x")};
    d->Invoke("Add", fern::kMethod, args);
  }
  int32_t i = 0;
  for (auto _ : state) {
    std::vector<Variant> args{Variant(i++ % 200000)};
    benchmark::DoNotOptimize(d->Invoke("Exists", fern::kMethod, args));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DictionaryNumberExists);

}  // namespace
