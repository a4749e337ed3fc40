// RegExp over PCRE2 with JavaScript options (VBScript's regular expressions are the
// ECMAScript kind). Text is matched as code points so that "." takes one umlaut and FirstIndex
// counts characters, not UTF-8 bytes. PCRE2 keeps its backtracking on the heap: a long text
// (a whole XML document) cannot overflow the stack as std::regex does. A careless pattern can
// still take minutes over such a text; the match asks the script's time-out and stop as it goes.
#define PCRE2_CODE_UNIT_WIDTH 32
#include <pcre2.h>

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script {

namespace {

using rt::Raise;

// A read-only list with 0-based Item, Count and For Each (Matches, SubMatches).
class ItemList : public Dispatch {
 public:
  ItemList(std::string typeName, std::vector<Variant> items)
      : typeName_(std::move(typeName)), items_(std::move(items)) {}
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
    if (name.empty() || NameIs(name, "Item")) {
      CheckArgCount(args, 1, 1, "Item");
      int32_t i = rt::ArgLng(args, 0);
      if (i < 0 || static_cast<size_t>(i) >= items_.size()) Raise(err::kInvalidArgument);
      return items_[i];
    }
    if (NameIs(name, "Count")) {
      CheckArgCount(args, 0, 0, name);
      return Variant::Whole(static_cast<int64_t>(items_.size()));
    }
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return typeName_; }
  bool Enumerate(std::vector<Variant>& items) override {
    items.insert(items.end(), items_.begin(), items_.end());
    return true;
  }

 private:
  std::string typeName_;
  std::vector<Variant> items_;
};

class Match : public Dispatch {
 public:
  Match(std::string value, int64_t firstIndex, int64_t length, std::vector<Variant> subs)
      : value_(std::move(value)),
        firstIndex_(firstIndex),
        length_(length),
        subs_(std::make_shared<ItemList>("ISubMatches", std::move(subs))) {}
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override {
    if (kind & (kPropLet | kPropSet)) ThrowNoMember(name);
    CheckArgCount(args, 0, 0, name);
    if (name.empty() || NameIs(name, "Value")) return Variant(value_);
    if (NameIs(name, "FirstIndex")) return Variant::Whole(firstIndex_);
    if (NameIs(name, "Length")) return Variant::Whole(length_);
    if (NameIs(name, "SubMatches")) return Variant(std::shared_ptr<Dispatch>(subs_));
    ThrowNoMember(name);
  }
  std::string TypeName() const override { return "IMatch2"; }

 private:
  std::string value_;
  int64_t firstIndex_;
  int64_t length_;
  std::shared_ptr<ItemList> subs_;
};

// One pattern compiled for a search with a stop to ask, with the match data that goes with it.
// `quick` has a callout in front, which PCRE2 calls at every place it tries, and is otherwise what
// PCRE2 searches without it; one place's work stays bounded by PCRE2's match limit. `careful` has a
// callout before every item (PCRE2_AUTO_CALLOUT), for the patterns where one step of that limit can
// take a pass over the whole text (a back-reference compares what its group took), and for the few
// that do not compile with a callout in front. Both keep the places PCRE2 tries and what it finds.
struct Compiled {
  pcre2_code* quick = nullptr;
  pcre2_code* careful = nullptr;
  pcre2_match_data* data = nullptr;
  ~Compiled() {
    pcre2_match_data_free(data);
    pcre2_code_free(careful);
    pcre2_code_free(quick);
  }
};

pcre2_code* CompilePattern(const std::u32string& pattern, uint32_t options) {
  // Only read by pcre2_compile: one for all.
  static pcre2_compile_context* const context = [] {
    pcre2_compile_context* c = pcre2_compile_context_create(nullptr);
    if (!c) throw std::bad_alloc();
    pcre2_set_newline(c, PCRE2_NEWLINE_ANYCRLF);
    return c;
  }();
  int error = 0;
  PCRE2_SIZE offset = 0;
  return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                       &error, &offset, context);
}

// How far the settings PCRE2 takes only at the very start ((*UTF), (*UCP), (*LIMIT_MATCH=n),
// newline conventions...) reach: the callout goes after them. Anything else, a verb such as
// (*COMMIT) too, ends them.
size_t SettingsEnd(const std::u32string& p) {
  auto known = [](std::u32string_view name) {
    static constexpr std::u32string_view kPlain =
        U" UTF UCP NOTEMPTY NOTEMPTY_ATSTART NO_AUTO_POSSESS NO_DOTSTAR_ANCHOR NO_JIT "
        U"NO_START_OPT CR LF CRLF ANYCRLF ANY NUL BSR_ANYCRLF BSR_UNICODE ";
    static constexpr std::u32string_view kNumbered[] = {U"LIMIT_MATCH=", U"LIMIT_DEPTH=",
                                                        U"LIMIT_HEAP=", U"LIMIT_RECURSION="};
    if (name.empty() || name.find(U' ') != std::u32string_view::npos) return false;
    if (kPlain.find(U" " + std::u32string(name) + U" ") != std::u32string_view::npos) return true;
    for (std::u32string_view s : kNumbered)
      if (name.starts_with(s) && name.size() > s.size() &&
          name.find_first_not_of(U"0123456789", s.size()) == std::u32string_view::npos)
        return true;
    return false;
  };
  size_t at = 0;
  while (p.compare(at, 2, U"(*") == 0) {
    size_t close = p.find(U')', at);
    if (close == std::u32string::npos || !known({p.data() + at + 2, close - at - 2})) break;
    at = close + 1;
  }
  return at;
}

// Whether the pattern may hold a back-reference (\1, \g{..}, \k<..>, (?P=..)); a false alarm
// costs only speed.
bool MayReferBack(const std::u32string& p) {
  for (size_t i = 0; i + 1 < p.size(); ++i) {
    if (p[i] == U'\\') {
      char32_t n = p[i + 1];
      if ((n >= U'1' && n <= U'9') || n == U'g' || n == U'k') return true;
      ++i;
    } else if (p[i] == U'(' && p.compare(i, 4, U"(?P=") == 0) {
      return true;
    }
  }
  return false;
}

// The searches' own clock. While a search with a stop to ask runs, a thread moves `ticks` on
// every few milliseconds; the callout at each place reads it and asks the stop only when it has
// moved. So no place reads the clock, and a stop or time-out raised while PCRE2 searches is seen
// at the next place it tries (or the next item, carefully). The thread rests after a second
// without searches.
class Ticker {
 public:
  static Ticker& Get() {
    // A forked child has no thread: it gets a ticker of its own. The old one is left as it
    // was, its lock perhaps held by the thread that is gone.
    static std::atomic<Ticker*> current{[] {
      pthread_atfork(nullptr, nullptr, [] { current.store(new Ticker); });
      return new Ticker;
    }()};
    return *current.load();
  }
  const std::atomic<uint32_t>& Ticks() const { return ticks_; }

  // Brackets the searches of one call; a search outside such a bracket is not watched.
  class Watching {
   public:
    explicit Watching(bool on) : ticker_(on ? &Get() : nullptr) {
      if (ticker_) ticker_->Enter();
    }
    ~Watching() {
      if (ticker_) ticker_->searching_.fetch_sub(1);
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

   private:
    Ticker* ticker_;
  };

 private:
  static constexpr auto kTick = std::chrono::milliseconds(10);
  static constexpr int kRestAfterTicks = 100;

  void Enter() {
    searching_.fetch_add(1);
    if (!resting_.load()) return;
    std::lock_guard lock(mutex_);
    if (!started_) Start();
    wake_.notify_one();
  }

  // The thread takes no signal: those meant for the program reach the threads that wait on
  // its work, as before.
  void Start() {
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
      std::thread([this] { Run(); }).detach();
      started_ = true;
    } catch (const std::system_error&) {
      // Without the thread a search still finds what it finds; only a stop waits for its end.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }

  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      resting_.store(true);
      wake_.wait(lock, [&] { return searching_.load() > 0; });
      resting_.store(false);
      for (int quiet = 0; quiet < kRestAfterTicks;) {
        wake_.wait_for(lock, kTick);
        ticks_.fetch_add(1, std::memory_order_relaxed);
        quiet = searching_.load() > 0 ? 0 : quiet + 1;
      }
    }
  }

  std::atomic<uint32_t> ticks_{0};
  std::atomic<int> searching_{0};
  std::atomic<bool> resting_{true};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool started_ = false;  // under mutex_
};

// What AskStop keeps while a search runs.
struct Watch {
  CallerStop* stop = nullptr;
  const std::atomic<uint32_t>* ticks = nullptr;
  uint32_t seen = 0;  // the tick the stop was last asked at
};

// Whether the script is to end; then PCRE2 gives up the match with PCRE2_ERROR_CALLOUT.
int AskStop(pcre2_callout_block*, void* data) {
  Watch& w = *static_cast<Watch*>(data);
  const uint32_t now = w.ticks->load(std::memory_order_relaxed);
  if (now == w.seen) return 0;
  w.seen = now;
  try {
    return w.stop->Due() ? PCRE2_ERROR_CALLOUT : 0;
  } catch (...) {
    return PCRE2_ERROR_CALLOUT;  // nothing may unwind through PCRE2
  }
}

// A match as code-point offsets, read in place from PCRE2's vector: [begin, end) of the whole
// match and of every group ({npos, npos} when the group took no part).
class Spans {
 public:
  Spans(const PCRE2_SIZE* ov, uint32_t pairs, uint32_t set) : ov_(ov), pairs_(pairs), set_(set) {}
  size_t size() const { return pairs_; }
  std::pair<size_t, size_t> operator[](size_t g) const {
    if (g >= set_ || ov_[2 * g] == PCRE2_UNSET) return {std::string::npos, std::string::npos};
    return {ov_[2 * g], ov_[2 * g + 1]};
  }

 private:
  const PCRE2_SIZE* ov_;
  uint32_t pairs_;
  uint32_t set_;  // groups PCRE2 set, from the front
};

class RegExp : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IRegExp2"; }

 private:
  Compiled& Code();
  bool* Flag(std::string_view name);
  // Calls `onMatch` for the first match, or for every match with Global, the way JavaScript
  // walks them: after an empty match the search goes on one character further.
  template <typename F>
  void EachMatch(const std::u32string& s, F onMatch, bool all);
  std::string Replace(const std::string& input, const std::string& replacement);
  Variant Execute(const std::string& input);

  std::string pattern_;
  bool global_ = false;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  std::unique_ptr<Compiled> compiled_;  // dropped whenever pattern or flags change
  std::unique_ptr<pcre2_match_context, void (*)(pcre2_match_context*)> context_{
      pcre2_match_context_create(nullptr), pcre2_match_context_free};
  Watch watch_;
};

Compiled& RegExp::Code() {
  if (!compiled_) {
    uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY | PCRE2_ALLOW_EMPTY_CLASS |
                       PCRE2_MATCH_UNSET_BACKREF;
    if (ignoreCase_) options |= PCRE2_CASELESS;
    if (multiline_) options |= PCRE2_MULTILINE;
    auto compiled = std::make_unique<Compiled>();
    const std::u32string pattern = rt::ToU32(pattern_);
    // The callout goes after the settings and nothing is closed after the pattern, so that it
    // means and fails to compile as written.
    const size_t settings = SettingsEnd(pattern);
    std::u32string quick;
    quick.reserve(pattern.size() + 4);
    quick.append(pattern, 0, settings).append(U"(?C)").append(pattern, settings);
    compiled->quick = CompilePattern(quick, options);
    if (!compiled->quick || MayReferBack(pattern)) {
      compiled->careful = CompilePattern(pattern, options | PCRE2_AUTO_CALLOUT);
      if (!compiled->careful) Raise(rt::kRegexSyntax, pattern_);
    }
    compiled->data = pcre2_match_data_create_from_pattern(
        compiled->quick ? compiled->quick : compiled->careful, nullptr);
    compiled_ = std::move(compiled);
  }
  return *compiled_;
}

// PCRE2's own search from each place on, with its start-up checks, places and match limit.
template <typename F>
void RegExp::EachMatch(const std::u32string& s, F onMatch, bool all) {
  Compiled& c = Code();
  if (!context_ || !c.data) throw std::bad_alloc();
  pcre2_match_context* const context = context_.get();
  // A script's searches are watched while they run; the host's own are not.
  CallerStop* stop = RunningCallerStop();
  Ticker::Watching watching(stop != nullptr);
  watch_.stop = stop;
  watch_.ticks = &Ticker::Get().Ticks();
  watch_.seen = watch_.ticks->load(std::memory_order_relaxed);
  pcre2_set_callout(context, stop ? AskStop : nullptr, &watch_);
  pcre2_code* code = stop && c.careful ? c.careful : c.quick ? c.quick : c.careful;
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.data);
  const uint32_t pairs = pcre2_get_ovector_count(c.data);
  size_t from = 0;
  while (from <= s.size()) {
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), from,
                         PCRE2_NO_UTF_CHECK, c.data, context);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc == PCRE2_ERROR_CALLOUT && stop) stop->End();
    // Beyond the match limits a pathological pattern fails with an error instead of running on.
    if (rc < 0) Raise(err::kInvalidArgument, "regular expression too complex: " + pattern_);
    onMatch(Spans(ov, pairs, static_cast<uint32_t>(rc)));
    if (!all) break;
    from = ov[1] == ov[0] ? ov[1] + 1 : ov[1];
  }
}

bool* RegExp::Flag(std::string_view name) {
  if (NameIs(name, "Global")) return &global_;
  if (NameIs(name, "IgnoreCase")) return &ignoreCase_;
  if (NameIs(name, "Multiline")) return &multiline_;
  return nullptr;
}

// RegExp converts its replacement the way COM converts to text, not the way CStr does: a
// Boolean becomes "-1" or "0".
std::string ReplacementText(const Variant& v) {
  if (v.type() == VType::Boolean) return v.boolVal() ? "-1" : "0";
  return vb::CStr(v, CallerLocale());
}

std::string RegExp::Replace(const std::string& input, const std::string& replacement) {
  std::u32string s = rt::ToU32(input);
  std::u32string rep = rt::ToU32(replacement);
  const bool plain = rep.find(U'$') == std::u32string::npos;
  std::u32string out;
  size_t last = 0;
  EachMatch(
      s,
      [&](const Spans& m) {
        auto group = [&](size_t g) {
          const auto [from, to] = m[g];
          return from == std::string::npos ? std::u32string_view()
                                           : std::u32string_view(s).substr(from, to - from);
        };
        const auto [begin, end] = m[0];
        out.append(s, last, begin - last);
        last = end;
        if (plain) {
          if (rep.size() == 1)
            out.push_back(rep[0]);
          else
            out += rep;
          return;
        }
        // $1..$99, $& (the match), $` and $' (text before and after), $$ (a dollar sign).
        for (size_t i = 0; i < rep.size(); ++i) {
          char32_t c = rep[i];
          if (c != U'$' || i + 1 == rep.size()) {
            out += c;
            continue;
          }
          char32_t n = rep[i + 1];
          if (n == U'$') {
            out += U'$';
            ++i;
          } else if (n == U'&') {
            out += group(0);
            ++i;
          } else if (n == U'`') {
            out.append(s, 0, begin);
            ++i;
          } else if (n == U'\'') {
            out.append(s, end, std::u32string::npos);
            ++i;
          } else if (n >= U'0' && n <= U'9') {
            size_t g = n - U'0';
            size_t used = 1;
            if (i + 2 < rep.size() && rep[i + 2] >= U'0' && rep[i + 2] <= U'9') {
              size_t two = g * 10 + (rep[i + 2] - U'0');
              if (two >= 1 && two < m.size()) g = two, used = 2;
            }
            if (g >= 1 && g < m.size()) {
              out += group(g);
              i += used;
            } else {
              out += c;  // no such group: the text stays as written
            }
          } else {
            out += c;
          }
        }
      },
      global_);
  out.append(s, last, std::u32string::npos);
  return rt::FromU32(out);
}

Variant RegExp::Execute(const std::string& input) {
  std::u32string s = rt::ToU32(input);
  std::vector<Variant> matches;
  EachMatch(
      s,
      [&](const Spans& m) {
        std::vector<Variant> subs;
        for (size_t g = 1; g < m.size(); ++g)
          subs.push_back(
              m[g].first == std::string::npos
                  ? Variant()
                  : Variant(rt::FromU32(s.substr(m[g].first, m[g].second - m[g].first))));
        matches.emplace_back(std::shared_ptr<Dispatch>(std::make_shared<Match>(
            rt::FromU32(s.substr(m[0].first, m[0].second - m[0].first)),
            static_cast<int64_t>(m[0].first), static_cast<int64_t>(m[0].second - m[0].first),
            std::move(subs))));
      },
      global_);
  return Variant(std::shared_ptr<Dispatch>(
      std::make_shared<ItemList>("IMatchCollection2", std::move(matches))));
}

Variant RegExp::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  bool assign = kind & (kPropLet | kPropSet);
  if (NameIs(name, "Pattern")) {
    if (assign) {
      CheckArgCount(args, 1, 1, name);
      pattern_ = rt::ArgStr(args, 0);
      compiled_.reset();
      return Variant();
    }
    CheckArgCount(args, 0, 0, name);
    return Variant(pattern_);
  }
  if (bool* flag = Flag(name)) {
    if (assign) {
      CheckArgCount(args, 1, 1, name);
      *flag = rt::ArgBool(args, 0);
      compiled_.reset();
      return Variant();
    }
    CheckArgCount(args, 0, 0, name);
    return Variant(*flag);
  }
  if (assign) ThrowNoMember(name);
  if (NameIs(name, "Test")) {
    CheckArgCount(args, 1, 1, name);
    bool found = false;
    EachMatch(
        rt::ToU32(rt::ArgStr(args, 0)), [&](const Spans&) { found = true; }, false);
    return Variant(found);
  }
  if (NameIs(name, "Replace")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(Replace(rt::ArgStr(args, 0), ReplacementText(args[1])));
  }
  if (NameIs(name, "Execute")) {
    CheckArgCount(args, 1, 1, name);
    return Execute(rt::ArgStr(args, 0));
  }
  ThrowNoMember(name);
}

}  // namespace

std::shared_ptr<Dispatch> NewRegExp() { return std::make_shared<RegExp>(); }

}  // namespace fern::script
