// The script engine's speed on customer-style work: a loop of arithmetic, text building and
// Dictionary look-ups, a loop of calls into a C++ object, text walks over a long text and a
// RegExp scan.
//
// Side by side with Lua 5.4 (Debian package lua5.4): bench/script/ holds each workload as a
// .vbs file with its Lua counterpart beside it (fib, calls, midwalk, midwalk_utf8, instr,
// mixed). Run
//   bench/script/run.sh build 7
// after building; it runs each pair in turn through build/tests/script/vbs-run and lua5.4,
// timing whole processes with /usr/bin/time, and prints the median user CPU time of each and
// the ratio ours / Lua. The RegExp workloads (regexp_scan, regexp_patterns) have no Lua
// counterpart: run.sh times them with the program's 60 s deadline and without one.
#include <benchmark/benchmark.h>

#include "platform/dispatch.h"
#include "platform/vb.h"
#include "script/engine.h"

namespace {

using fern::Variant;

const char* kMixedLoop =
    "Function Mixed(n)\n"
    "  Dim d, i, total, s, key\n"
    "  Set d = CreateObject(\"Scripting.Dictionary\")\n"
    "  For i = 0 To 99\n"
    "    d.Add \"k\" & i, i * 2\n"
    "  Next\n"
    "  total = 0\n"
    "  For i = 1 To n\n"
    "    total = total + (i Mod 7) * 3 - i \\ 5 + 1.5\n"
    "    s = \"item\" & (i Mod 10)\n"
    "    key = \"k\" & (i Mod 100)\n"
    "    If d.Exists(key) Then total = total + d(key)\n"
    "    If Len(s) > 5 Then total = total - 1\n"
    "  Next\n"
    "  Mixed = total\n"
    "End Function\n";

void BM_MixedLoopMillion(benchmark::State& state) {
  fern::script::Engine engine;
  engine.AddCode(kMixedLoop);
  for (auto _ : state) {
    Variant r = engine.Run("Mixed", {Variant(1000000)});
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_MixedLoopMillion)->Unit(benchmark::kMillisecond);

class Counter : public fern::Dispatch {
 public:
  int64_t sum = 0;
  Variant Invoke(std::string_view name, unsigned, std::span<Variant> args) override {
    if (fern::NameIs(name, "Add")) {
      fern::CheckArgCount(args, 2, 2, name);
      sum += fern::vb::CLng(args[0]);
      args[1] = Variant(static_cast<int32_t>(sum & 0xFFFF));  // by reference
      return Variant(static_cast<int32_t>(sum & 0xFF));
    }
    fern::ThrowNoMember(name);
  }
  std::string TypeName() const override { return "Counter"; }
};

void BM_HostCallsHundredThousand(benchmark::State& state) {
  fern::script::Engine engine;
  engine.AddObject("Counter", std::make_shared<Counter>());
  engine.AddCode(
      "Function Calls(n)\n"
      "  Dim i, back, r\n"
      "  For i = 1 To n\n"
      "    r = Counter.Add(i, back)\n"
      "  Next\n"
      "  Calls = back\n"
      "End Function\n");
  for (auto _ : state) {
    Variant r = engine.Run("Calls", {Variant(100000)});
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_HostCallsHundredThousand)->Unit(benchmark::kMillisecond);

// Mid(s, i, 1) over a whole 1 MB text: linear, not quadratic, in the text's length.
void BM_MidWalkMegabyte(benchmark::State& state) {
  fern::script::Engine engine;
  engine.AddCode(
      "Function Walk()\n"
      "  Dim s, i, n\n"
      "  s = String(1048576, \"a\")\n"
      "  For i = 1 To Len(s)\n"
      "    If Asc(Mid(s, i, 1)) = 97 Then n = n + 1\n"
      "  Next\n"
      "  Walk = n\n"
      "End Function\n");
  for (auto _ : state) {
    Variant r = engine.Run("Walk");
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations() * 1048576);
}
BENCHMARK(BM_MidWalkMegabyte)->Unit(benchmark::kMillisecond);

// A RegExp scan over 1.8 MB of listing text that holds no match, so that the pattern is tried at
// nearly every place; with the program's 60 s deadline (/60000) and without one (/0), which
// should cost the same. bench/script/regexp_scan.vbs is the same work for whole-process timing.
void BM_RegExpScan(benchmark::State& state) {
  fern::script::Engine engine;
  engine.SetTimeout(static_cast<int>(state.range(0)));
  engine.AddCode(
      "Dim text, re, i\n"
      "text = \"Helle 3-Zimmer-Wohnung mit Balkon und Einbaukueche, ruhige Lage nahe Stadtpark, \" "
      "& "
      "\"Baujahr 1998, frei ab sofort. \"\n"
      "For i = 1 To 14 : text = text & text : Next\n"
      "Set re = New RegExp : re.Pattern = \"[\\w.+-]+@[\\w-]+\\.[a-z]{2,}\"\n"
      "Function Scan() : Scan = re.Test(text) : End Function\n");
  for (auto _ : state) {
    Variant r = engine.Run("Scan");
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(state.iterations() * 1802240);
}
BENCHMARK(BM_RegExpScan)->Arg(0)->Arg(60000)->Unit(benchmark::kMillisecond);

}  // namespace
