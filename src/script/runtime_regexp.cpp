// RegExp over std::wregex (ECMAScript grammar, as VBScript's own): text is matched as code
// points so that "." takes one umlaut and FirstIndex counts characters, not UTF-8 bytes.
#include <locale>
#include <optional>
#include <regex>

#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script {

namespace {

using rt::Raise;

std::wstring Wide(std::string_view s) {
  std::u32string u = rt::ToU32(s);
  return std::wstring(u.begin(), u.end());
}

std::string Narrow(std::wstring_view s) {
  std::u32string u(s.begin(), s.end());
  return rt::FromU32(u);
}

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
      : value_(std::move(value)), firstIndex_(firstIndex), length_(length),
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

class RegExp : public Dispatch {
 public:
  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "IRegExp2"; }

 private:
  const std::wregex& Compiled();
  bool* Flag(std::string_view name);
  std::string Replace(const std::string& input, const std::string& replacement);
  Variant Execute(const std::string& input);

  std::string pattern_;
  bool global_ = false;
  bool ignoreCase_ = false;
  bool multiline_ = false;
  std::optional<std::wregex> compiled_;  // reset whenever pattern or flags change
};

const std::wregex& RegExp::Compiled() {
  if (!compiled_) {
    auto flags = std::regex_constants::ECMAScript;
    if (ignoreCase_) flags |= std::regex_constants::icase;
    if (multiline_) flags |= std::regex_constants::multiline;
    std::wregex re;
    // Case folding of umlauts needs a Unicode-aware ctype; the C locale folds ASCII only.
    try {
      re.imbue(std::locale("C.UTF-8"));
    } catch (const std::runtime_error&) {
    }
    try {
      re.assign(Wide(pattern_), flags);
    } catch (const std::regex_error&) {
      Raise(rt::kRegexSyntax, pattern_);
    }
    compiled_ = std::move(re);
  }
  return *compiled_;
}

bool* RegExp::Flag(std::string_view name) {
  if (NameIs(name, "Global")) return &global_;
  if (NameIs(name, "IgnoreCase")) return &ignoreCase_;
  if (NameIs(name, "Multiline")) return &multiline_;
  return nullptr;
}

std::string RegExp::Replace(const std::string& input, const std::string& replacement) {
  const std::wregex& re = Compiled();
  std::wstring s = Wide(input);
  std::wstring rep = Wide(replacement);
  std::wstring out;
  size_t last = 0;
  for (auto it = std::wsregex_iterator(s.begin(), s.end(), re); it != std::wsregex_iterator();
       ++it) {
    const std::wsmatch& m = *it;
    size_t pos = static_cast<size_t>(m.position(0));
    out.append(s, last, pos - last);
    // $1..$99, $& (the match), $` and $' (text before and after), $$ (a dollar sign).
    for (size_t i = 0; i < rep.size(); ++i) {
      wchar_t c = rep[i];
      if (c != L'$' || i + 1 == rep.size()) {
        out += c;
        continue;
      }
      wchar_t n = rep[i + 1];
      if (n == L'$') {
        out += L'$';
        ++i;
      } else if (n == L'&') {
        out += m.str(0);
        ++i;
      } else if (n == L'`') {
        out.append(s, 0, pos);
        ++i;
      } else if (n == L'\'') {
        out.append(s, pos + m.length(0), std::wstring::npos);
        ++i;
      } else if (n >= L'0' && n <= L'9') {
        size_t group = n - L'0';
        size_t used = 1;
        if (i + 2 < rep.size() && rep[i + 2] >= L'0' && rep[i + 2] <= L'9') {
          size_t two = group * 10 + (rep[i + 2] - L'0');
          if (two >= 1 && two < m.size()) group = two, used = 2;
        }
        if (group >= 1 && group < m.size()) {
          out += m.str(group);
          i += used;
        } else {
          out += c;  // no such group: the text stays as written
        }
      } else {
        out += c;
      }
    }
    last = pos + static_cast<size_t>(m.length(0));
    if (!global_) break;
  }
  out.append(s, last, std::wstring::npos);
  return Narrow(out);
}

Variant RegExp::Execute(const std::string& input) {
  const std::wregex& re = Compiled();
  std::wstring s = Wide(input);
  std::vector<Variant> matches;
  for (auto it = std::wsregex_iterator(s.begin(), s.end(), re); it != std::wsregex_iterator();
       ++it) {
    const std::wsmatch& m = *it;
    std::vector<Variant> subs;
    for (size_t g = 1; g < m.size(); ++g)
      subs.push_back(m[g].matched ? Variant(Narrow(m.str(g))) : Variant());
    matches.emplace_back(std::shared_ptr<Dispatch>(std::make_shared<Match>(
        Narrow(m.str(0)), m.position(0), m.length(0), std::move(subs))));
    if (!global_) break;
  }
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
    std::wstring s = Wide(rt::ArgStr(args, 0));
    return Variant(std::regex_search(s, Compiled()));
  }
  if (NameIs(name, "Replace")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(Replace(rt::ArgStr(args, 0), rt::ArgStr(args, 1)));
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
