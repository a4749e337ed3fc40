// RegExp over PCRE2 with JavaScript options (VBScript's regular expressions are the
// ECMAScript kind). Text is matched as code points so that "." takes one umlaut and FirstIndex
// counts characters, not UTF-8 bytes. PCRE2 keeps its backtracking on the heap: a long text
// (a whole XML document) cannot overflow the stack as std::regex does. A careless pattern can
// still take minutes over such a text; the match asks the script's time-out and stop as it goes.
#define PCRE2_CODE_UNIT_WIDTH 32
#include <pcre2.h>

#include <algorithm>
#include <memory>
#include <new>

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

// One pattern compiled twice, with the match data and context that go with it: `quick` has a
// callout at the front, which PCRE2 calls at every place it tries; `careful` has one before
// every item (PCRE2_AUTO_CALLOUT), so that no item's work goes unwatched, at some cost in speed.
struct Compiled {
  pcre2_code* quick = nullptr;
  pcre2_code* careful = nullptr;  // made when first needed
  pcre2_match_data* data = nullptr;
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  uint32_t options = 0;
  std::u32string pattern;
  // Holds \G or a backtracking verb, whose meaning depends on where the search started and on
  // the places tried before: searched in one piece.
  bool whole = false;
  ~Compiled() {
    pcre2_match_context_free(context);
    pcre2_match_data_free(data);
    pcre2_code_free(careful);
    pcre2_code_free(quick);
  }
};

pcre2_code* CompilePattern(const std::u32string& pattern, uint32_t options) {
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                   options, &error, &offset, context);
  pcre2_compile_context_free(context);
  return code;
}

// PCRE2's own work limit for one place, as the library was built.
uint32_t FullPlaceWork() {
  static const uint32_t limit = [] {
    uint32_t value = 10000000;
    pcre2_config(PCRE2_CONFIG_MATCHLIMIT, &value);
    return value;
  }();
  return limit;
}

// How far the settings PCRE2 takes only at the very start ((*UTF), (*UCP), (*LIMIT_MATCH=n),
// newline conventions...) reach: they hold however the places are searched. Anything else, a
// verb such as (*COMMIT) too, ends them.
size_t SettingsEnd(const std::u32string& p) {
  auto known = [](std::u32string_view name) {
    static constexpr std::u32string_view kPlain =
        U" UTF UCP NOTEMPTY NO_AUTO_POSSESS NO_DOTSTAR_ANCHOR NO_JIT NO_START_OPT CR LF CRLF "
        U"ANYCRLF ANY NUL BSR_ANYCRLF BSR_UNICODE ";
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

// Between two looks at the stop a quick search tries at most 64 places, as the statement loop
// runs 64 statements, and each place at most a quick place's share of PCRE2's work limit,
// which counts per place, over a window of the text: a run such as a* scans without counting,
// so the window bounds how far it goes. A place that needs more work or more text (rare: a
// careless pattern, one match over a whole document) is tried on its own, carefully.
constexpr uint32_t kQuickPlaces = 64;
constexpr uint32_t kQuickPlaceWork = 2000;
constexpr size_t kWindow = 1024;
// Between two callouts of a careful match lies at most one item's work, which a run over the
// whole text bounds: the stop is asked after so many callouts that these runs stay short.
constexpr size_t kCarefulReach = size_t{1} << 22;

// What AskStop keeps between the places of a match.
struct Watch {
  CallerStop* stop = nullptr;
  size_t every = kQuickPlaces;  // the stop is asked at every `every`th callout
  size_t calls = 0;             // since it was last asked
  PCRE2_SIZE place = 0;         // the place tried last
};

// Whether the script is to end; then PCRE2 gives up the match with PCRE2_ERROR_CALLOUT.
int AskStop(pcre2_callout_block* block, void* data) {
  Watch& w = *static_cast<Watch*>(data);
  w.place = block->start_match;
  if (++w.calls < w.every) return 0;
  w.calls = 0;
  try {
    return w.stop->Due() ? PCRE2_ERROR_CALLOUT : 0;
  } catch (...) {
    return PCRE2_ERROR_CALLOUT;  // nothing may unwind through PCRE2
  }
}

// Ends a match at the first place PCRE2 tries, keeping it.
int FirstPlace(pcre2_callout_block* block, void* data) {
  static_cast<Watch*>(data)->place = block->start_match;
  return PCRE2_ERROR_CALLOUT;
}

// A match as code-point offsets: [begin, end) of the whole match and of every group
// (npos when the group took no part).
using Spans = std::vector<std::pair<size_t, size_t>>;

class RegExp : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IRegExp2"; }

 private:
  Compiled& Code();
  pcre2_code* Careful(Compiled& c);
  bool* Flag(std::string_view name);
  bool Search(const std::u32string& s, size_t from, Spans& spans);
  // Calls `onMatch` for the first match, or for every match with Global, the way JavaScript
  // walks them: after an empty match the search goes on one character further.
  template <typename F>
  void EachMatch(const std::u32string& s, F onMatch);
  std::string Replace(const std::string& input, const std::string& replacement);
  Variant Execute(const std::string& input);

  std::string pattern_;
  bool global_ = false;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  std::unique_ptr<Compiled> compiled_;  // dropped whenever pattern or flags change
  Watch watch_;                         // counts places over all matches of a Replace, Execute
};

Compiled& RegExp::Code() {
  if (!compiled_) {
    uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_DOLLAR_ENDONLY | PCRE2_ALLOW_EMPTY_CLASS |
                       PCRE2_MATCH_UNSET_BACKREF;
    if (ignoreCase_) options |= PCRE2_CASELESS;
    if (multiline_) options |= PCRE2_MULTILINE;
    auto compiled = std::make_unique<Compiled>();
    compiled->options = options;
    compiled->pattern = rt::ToU32(pattern_);
    const std::u32string& pattern = compiled->pattern;
    size_t settings = SettingsEnd(pattern);
    compiled->whole = pattern.find(U"\\G") != std::u32string::npos ||
                      pattern.find(U"(*", settings) != std::u32string::npos;
    // The callout goes after the settings and nothing is closed after the pattern, so that it
    // means and fails to compile as written.
    std::u32string quick = pattern;
    quick.insert(settings, U"(?C)");
    compiled->quick = CompilePattern(quick, options);
    if (!compiled->quick) Careful(*compiled);
    compiled->data = pcre2_match_data_create_from_pattern(
        compiled->quick ? compiled->quick : compiled->careful, nullptr);
    compiled_ = std::move(compiled);
  }
  return *compiled_;
}

pcre2_code* RegExp::Careful(Compiled& c) {
  if (!c.careful) c.careful = CompilePattern(c.pattern, c.options | PCRE2_AUTO_CALLOUT);
  if (!c.careful) Raise(rt::kRegexSyntax, pattern_);
  return c.careful;
}

bool RegExp::Search(const std::u32string& s, size_t from, Spans& spans) {
  Compiled& c = Code();
  if (!c.context || !c.data) throw std::bad_alloc();
  CallerStop* stop = RunningCallerStop();
  watch_.stop = stop;
  pcre2_set_callout(c.context, stop ? AskStop : nullptr, &watch_);
  auto match = [&](pcre2_code* code, size_t end, size_t start, uint32_t options,
                   uint32_t workLimit) {
    watch_.place = start;
    pcre2_set_match_limit(c.context, workLimit);
    return pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), end, start,
                       options | PCRE2_NO_UTF_CHECK, c.data, c.context);
  };
  // One place, or the whole search, with a look at the stop after a bounded amount of work.
  auto careful = [&](size_t start, uint32_t options) {
    watch_.every = std::max<size_t>(1, std::min<size_t>(1024, kCarefulReach / (s.size() + 1)));
    return match(Careful(c), s.size(), start, options, FullPlaceWork());
  };
  int rc;
  if (!stop) {
    rc = match(c.quick ? c.quick : c.careful, s.size(), from, 0, FullPlaceWork());
  } else if (!c.quick || c.whole) {
    rc = careful(from, 0);
  } else {
    // PCRE2's start-up checks over the whole text (a character every match needs, the ones a
    // match can begin with), which a window would hide, find the first place worth trying.
    rc = PCRE2_ERROR_CALLOUT;
    watch_.place = from;
    if (s.size() - from > kWindow) {
      pcre2_set_callout(c.context, FirstPlace, &watch_);
      rc = match(c.quick, s.size(), from, 0, kQuickPlaceWork);
      pcre2_set_callout(c.context, AskStop, &watch_);
    }
    // Then window by window; the text beyond a window's end counts as not yet there
    // (PCRE2_PARTIAL_HARD), so a place whose match looks there is known and tried again.
    if (rc == PCRE2_ERROR_CALLOUT) {
      for (size_t place = watch_.place;;) {
        size_t end = std::min(s.size(), place + kWindow);
        watch_.every = kQuickPlaces;
        rc = match(c.quick, end, place, end < s.size() ? PCRE2_PARTIAL_HARD : 0, kQuickPlaceWork);
        if (rc == PCRE2_ERROR_NOMATCH && end < s.size()) {
          place = end;  // the places before the end had no match; the end itself is left to try
          continue;
        }
        if (rc != PCRE2_ERROR_PARTIAL && rc != PCRE2_ERROR_MATCHLIMIT) break;
        // The places before the last one tried had no match.
        size_t last = watch_.place;
        if (rc == PCRE2_ERROR_PARTIAL && last > place) {
          place = last;
          continue;
        }
        rc = careful(last, PCRE2_ANCHORED);
        if (rc != PCRE2_ERROR_NOMATCH || last >= s.size()) break;
        place = last + 1;
      }
    }
  }
  if (rc == PCRE2_ERROR_CALLOUT && stop) stop->End();
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  // Beyond the match limits a pathological pattern fails with an error instead of running on.
  if (rc < 0) Raise(err::kInvalidArgument, "regular expression too complex: " + pattern_);
  uint32_t pairs = pcre2_get_ovector_count(c.data);
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer(c.data);
  spans.assign(pairs, {std::string::npos, std::string::npos});
  for (uint32_t i = 0; i < pairs && i < static_cast<uint32_t>(rc); ++i)
    if (ov[2 * i] != PCRE2_UNSET) spans[i] = {ov[2 * i], ov[2 * i + 1]};
  return true;
}

template <typename F>
void RegExp::EachMatch(const std::u32string& s, F onMatch) {
  Spans spans;
  size_t from = 0;
  while (from <= s.size() && Search(s, from, spans)) {
    onMatch(spans);
    if (!global_) break;
    from = spans[0].second;
    if (spans[0].second == spans[0].first) ++from;
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
  std::u32string out;
  size_t last = 0;
  EachMatch(s, [&](const Spans& m) {
    auto group = [&](size_t g) {
      return m[g].first == std::string::npos ? std::u32string()
                                             : s.substr(m[g].first, m[g].second - m[g].first);
    };
    out.append(s, last, m[0].first - last);
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
        out.append(s, 0, m[0].first);
        ++i;
      } else if (n == U'\'') {
        out.append(s, m[0].second, std::u32string::npos);
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
    last = m[0].second;
  });
  out.append(s, last, std::u32string::npos);
  return rt::FromU32(out);
}

Variant RegExp::Execute(const std::string& input) {
  std::u32string s = rt::ToU32(input);
  std::vector<Variant> matches;
  EachMatch(s, [&](const Spans& m) {
    std::vector<Variant> subs;
    for (size_t g = 1; g < m.size(); ++g)
      subs.push_back(m[g].first == std::string::npos
                         ? Variant()
                         : Variant(rt::FromU32(s.substr(m[g].first, m[g].second - m[g].first))));
    matches.emplace_back(std::shared_ptr<Dispatch>(
        std::make_shared<Match>(rt::FromU32(s.substr(m[0].first, m[0].second - m[0].first)),
                                static_cast<int64_t>(m[0].first),
                                static_cast<int64_t>(m[0].second - m[0].first), std::move(subs))));
  });
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
    Spans spans;
    return Variant(Search(rt::ToU32(rt::ArgStr(args, 0)), 0, spans));
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
