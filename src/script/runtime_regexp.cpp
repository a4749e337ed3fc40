// RegExp over PCRE2 with JavaScript options (VBScript's regular expressions are the
// ECMAScript kind). Text is matched as code points so that "." takes one umlaut and FirstIndex
// counts characters, not UTF-8 bytes. PCRE2 keeps its backtracking on the heap: a long text
// (a whole XML document) cannot overflow the stack as std::regex does. A careless pattern can
// still take minutes over such a text; the match asks the script's time-out and stop as it goes.
#define PCRE2_CODE_UNIT_WIDTH 32
#include <pcre2.h>

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

// One compiled pattern and the match data and context that go with it.
struct Compiled {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  pcre2_match_context* context = pcre2_match_context_create(nullptr);
  bool watched = false;       // with AskStop's callout in front
  bool startMatters = false;  // may hold \G, which is true only where a search starts
  ~Compiled() {
    pcre2_match_context_free(context);
    pcre2_match_data_free(data);
    pcre2_code_free(code);
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

// The pattern as it is matched: a callout in front, which PCRE2 calls at every place it tries a
// match from (the first alternative is tried first at each place). Nothing is closed after the
// pattern, so it means and fails to compile as written, apart from a leading (*VERB) setting,
// which PCRE2 takes only at the very start: such a pattern runs unwatched.
std::u32string Watched(const std::u32string& pattern) { return U"(?C)" + pattern; }

// Between two looks at the stop a match tries at most 64 places, as the statement loop runs 64
// statements, each with at most a quick place's share of PCRE2's work limit, which counts per
// place. A place that needs more is rare (a careless pattern, or one match over a whole
// document): the search goes on from there with the full limit, looking at every place.
constexpr uint32_t kQuickPlaces = 64;
constexpr uint32_t kQuickPlaceWork = 10000;

// What AskStop keeps between the places of a match.
struct Watch {
  CallerStop* stop = nullptr;
  uint32_t every = kQuickPlaces;  // the stop is asked at every `every`th place
  uint32_t places = 0;            // since it was last asked
  PCRE2_SIZE place = 0;           // the place tried last
};

// Whether the script is to end; then PCRE2 gives up the match with PCRE2_ERROR_CALLOUT.
int AskStop(pcre2_callout_block* block, void* data) {
  Watch& w = *static_cast<Watch*>(data);
  w.place = block->start_match;
  if (++w.places < w.every) return 0;
  w.places = 0;
  try {
    return w.stop->Due() ? PCRE2_ERROR_CALLOUT : 0;
  } catch (...) {
    return PCRE2_ERROR_CALLOUT;  // nothing may unwind through PCRE2
  }
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
    const std::u32string pattern = rt::ToU32(pattern_);
    auto compiled = std::make_unique<Compiled>();
    compiled->code = CompilePattern(Watched(pattern), options);
    compiled->watched = compiled->code != nullptr;
    compiled->startMatters = pattern.find(U"\\G") != std::u32string::npos;
    if (!compiled->code) compiled->code = CompilePattern(pattern, options);
    if (!compiled->code) Raise(rt::kRegexSyntax, pattern_);
    compiled->data = pcre2_match_data_create_from_pattern(compiled->code, nullptr);
    compiled_ = std::move(compiled);
  }
  return *compiled_;
}

bool RegExp::Search(const std::u32string& s, size_t from, Spans& spans) {
  Compiled& c = Code();
  if (!c.context) throw std::bad_alloc();
  watch_.stop = RunningCallerStop();
  watch_.every = kQuickPlaces;
  pcre2_set_callout(c.context, watch_.stop ? AskStop : nullptr, &watch_);
  auto match = [&](size_t start, uint32_t workLimit) {
    watch_.place = start;
    pcre2_set_match_limit(c.context, workLimit);
    return pcre2_match(c.code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), start,
                       PCRE2_NO_UTF_CHECK, c.data, c.context);
  };
  int rc;
  if (watch_.stop && c.watched) {
    rc = match(from, kQuickPlaceWork);
    if (rc == PCRE2_ERROR_MATCHLIMIT) {
      // The places before the slow one had no match: the search goes on from it.
      watch_.every = 1;
      rc = match(c.startMatters ? from : watch_.place, FullPlaceWork());
    }
  } else {
    rc = match(from, FullPlaceWork());
  }
  if (rc == PCRE2_ERROR_CALLOUT && watch_.stop) watch_.stop->End();
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
