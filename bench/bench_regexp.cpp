// A RegExp search inside a script, which is watched for the script's stop and time-out, against
// a plain pcre2_match loop over the same texts with the same pattern and options: each workload
// runs as Watched/... and Plain/..., and the ratio of their medians is the cost of the watch.
// Both sides convert the text to code points and back, as the RegExp does. Run
//   build/bench/bench_regexp --benchmark_repetitions=9
//     --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
// (one line) and compare the _median lines of each pair.
#define PCRE2_CODE_UNIT_WIDTH 32
#include <pcre2.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch.h"
#include "platform/host_error.h"
#include "platform/variant.h"
#include "platform/vb.h"
#include "script/builtins.h"
#include "script/runtime_util.h"

namespace {

using fern::Variant;
namespace rt = fern::script::rt;

struct Workload {
  const char* pattern;
  bool global;
  bool replace;  // Replace(text, " ") instead of Test(text)
  std::string (*text)(size_t size);
};

std::string Repeat(const std::string& piece, size_t size) {
  std::string s;
  s.reserve(size + piece.size());
  while (s.size() < size) s += piece;
  s.resize(size);
  return s;
}

// Listing text as the night run sees it, many short lines or one long line.
std::string ShortLines(size_t size) {
  return Repeat(
      "Helle 3-Zimmer-Wohnung  mit Balkon,\truhige Lage.\r\nBaujahr 1998,  frei ab sofort.\r\n",
      size);
}
std::string LongLine(size_t size) {
  return Repeat("Helle 3-Zimmer-Wohnung  mit Balkon,\truhige Lage nahe Stadtpark,  frei. ", size);
}
std::string Html(size_t size) {
  return "<html><body>" + Repeat("<p>Haus mit Garten</p>", size) + "</body></html>";
}
std::string LineFeeds(size_t size) { return std::string(size, '\n'); }

const Workload kScan = {"[\\w.+-]+@[\\w-]+\\.[a-z]{2,}", false, false, LongLine};
const Workload kDotStar = {".*Preis", false, false, Html};
const Workload kBacktrack = {"\\W+\\s+[^a]+.+?", false, false, LineFeeds};
const Workload kSpaces = {"\\s+", true, true, ShortLines};
const Workload kSpacesOneLine = {"\\s+", true, true, LongLine};

// What one plain search loop gives: whether it matched, or the text with each match replaced.
Variant PlainSearch(pcre2_code* code, pcre2_match_data* data, const Workload& w,
                    const std::string& input) {
  const std::u32string s = rt::ToU32(input);
  std::u32string out;
  size_t from = 0, last = 0;
  bool found = false;
  while (from <= s.size()) {
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from,
                         PCRE2_NO_UTF_CHECK, data, nullptr);
    if (rc < 0) break;
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    found = true;
    if (!w.replace) break;
    out.append(s, last, ov[0] - last);
    out += U' ';
    last = ov[1];
    if (!w.global) break;
    from = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
  }
  if (!w.replace) return Variant(found);
  out.append(s, last, std::u32string::npos);
  return Variant(rt::FromU32(out));
}

pcre2_code* CompilePlain(const char* pattern) {
  const std::u32string p = rt::ToU32(pattern);
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(p.data()), p.size(),
                                   PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY |
                                       PCRE2_ALLOW_EMPTY_CLASS | PCRE2_MATCH_UNSET_BACKREF,
                                   &error, &offset, context);
  pcre2_compile_context_free(context);
  return code;
}

void Plain(benchmark::State& state, const Workload& w) {
  const std::string text = w.text(static_cast<size_t>(state.range(0)));
  pcre2_code* code = CompilePlain(w.pattern);
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  for (auto _ : state) {
    Variant r = PlainSearch(code, data, w, text);
    benchmark::DoNotOptimize(r);
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The RegExp object as a script calls it: under the script's stop, so that every search is
// watched. (The interpreter around it costs the same either way and is left out.)
class NeverDue : public fern::script::CallerStop {
 public:
  bool Due() override { return false; }
  [[noreturn]] void End() override { std::abort(); }
};

struct InScript {
  NeverDue stop;
  const fern::vb::Locale* locale = &fern::vb::German();
  fern::script::CallerScope scope{&locale, &stop};
};

Variant Call(const std::shared_ptr<fern::Dispatch>& re, std::string_view member, Variant arg) {
  Variant args[] = {std::move(arg)};
  return re->Invoke(member, fern::kMethod | fern::kPropGet, args);
}
void Let(const std::shared_ptr<fern::Dispatch>& re, std::string_view member, Variant value) {
  Variant args[] = {std::move(value)};
  re->Invoke(member, fern::kPropLet, args);
}

void Watched(benchmark::State& state, const Workload& w) {
  InScript script;
  auto re = fern::script::NewRegExp();
  Let(re, "Pattern", Variant(std::string(w.pattern)));
  Let(re, "Global", Variant(w.global));
  Variant args[] = {Variant(w.text(static_cast<size_t>(state.range(0)))), Variant(" ")};
  const std::span<Variant> replace(args), test(args, 1);
  for (auto _ : state) {
    Variant r;
    try {
      r = re->Invoke(w.replace ? "Replace" : "Test", fern::kMethod | fern::kPropGet,
                     w.replace ? replace : test);
    } catch (const fern::HostError&) {
      // "too complex", as for the plain search
    }
    benchmark::DoNotOptimize(r);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(args[0].str().size()));
}

BENCHMARK_CAPTURE(Watched, Scan, kScan)->Arg(1 << 10)->Arg(1800 << 10);
BENCHMARK_CAPTURE(Plain, Scan, kScan)->Arg(1 << 10)->Arg(1800 << 10);
BENCHMARK_CAPTURE(Watched, DotStarLine, kDotStar)->Arg(3000)->Arg(10000);
BENCHMARK_CAPTURE(Plain, DotStarLine, kDotStar)->Arg(3000)->Arg(10000);
BENCHMARK_CAPTURE(Watched, Backtrack, kBacktrack)->Arg(5200);
BENCHMARK_CAPTURE(Plain, Backtrack, kBacktrack)->Arg(5200);
// One text from 1 KB to 10 MB.
void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1 << 10)->Arg(100 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
}
BENCHMARK_CAPTURE(Watched, SpacesShortLines, kSpaces)->Apply(Sizes);
BENCHMARK_CAPTURE(Plain, SpacesShortLines, kSpaces)->Apply(Sizes);
BENCHMARK_CAPTURE(Watched, SpacesOneLine, kSpacesOneLine)->Apply(Sizes);
BENCHMARK_CAPTURE(Plain, SpacesOneLine, kSpacesOneLine)->Apply(Sizes);

// 20,000 patterns, each new, each tried on one line: compiling dominates. Unwatched, the same
// calls outside any script: what the object's calls cost apart from the watch.
void Patterns(benchmark::State& state, bool watched) {
  std::optional<InScript> script;
  if (watched) script.emplace();
  auto re = fern::script::NewRegExp();
  const std::string line = "Objekt-Nr. 10234, 3 Zimmer, 78 qm";
  for (auto _ : state) {
    int n = 0;
    for (int i = 1; i <= 20000; ++i) {
      Let(re, "Pattern", Variant("Objekt-Nr\\.?\\s*" + std::to_string(i) + "\\b"));
      if (Call(re, "Test", Variant(line)).boolVal()) ++n;
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK_CAPTURE(Patterns, Watched, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Patterns, Unwatched, false)->Unit(benchmark::kMillisecond);

void PatternsPlain(benchmark::State& state) {
  const Workload w = {"", false, false, nullptr};
  const std::string line = "Objekt-Nr. 10234, 3 Zimmer, 78 qm";
  for (auto _ : state) {
    int n = 0;
    for (int i = 1; i <= 20000; ++i) {
      const std::string pattern = "Objekt-Nr\\.?\\s*" + std::to_string(i) + "\\b";
      pcre2_code* code = CompilePlain(pattern.c_str());
      pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
      if (PlainSearch(code, data, w, line).boolVal()) ++n;
      pcre2_match_data_free(data);
      pcre2_code_free(code);
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(PatternsPlain)->Unit(benchmark::kMillisecond);

}  // namespace
