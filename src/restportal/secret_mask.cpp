#include "restportal/secret_mask.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace fern::restportal {

namespace {

constexpr std::string_view kMasked = "****";
constexpr std::string_view kSecretNames[] = {
    "authenticationToken", "authenticationTokenSecret", "verifier",
    "oauth_token",         "oauth_token_secret",        "oauth_verifier"};
// A name's length is bounded: anything longer is no secret's name.
constexpr size_t kLongestName = 64;

bool IsSecretName(std::string_view name) {
  for (std::string_view known : kSecretNames)
    if (text::EqualsNoCaseAscii(name, known)) return true;
  return false;
}
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return IsWordChar(c) || c == '.' || c == '-' || c == ':'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Markup at one level of escaping: as it stands, and written as XML text once or twice. A tag's
// attribute values may be quoted in the forms of its own level or of any level below.
struct Markup {
  std::string_view lt, gt;
  std::vector<std::string_view> quotes;
};
const Markup kMarkups[] = {
    {"<", ">", {"\"", "'"}},
    {"&lt;", "&gt;", {"&quot;", "&apos;", "&#34;", "&#39;", "\"", "'"}},
    {"&amp;lt;",
     "&amp;gt;",
     {"&amp;quot;", "&amp;apos;", "&amp;#34;", "&amp;#39;", "&quot;", "&apos;", "&#34;", "&#39;",
      "\"", "'"}},
};

// A JSON string's quote and backslash as written: as they stand, inside another JSON string, or
// as XML text once or twice.
struct JsonQuote {
  std::string_view quote, backslash;
  int entityLevels;
};
constexpr JsonQuote kJsonQuotes[] = {
    {"\"", "\\", 0}, {"\\\"", "\\\\", 0}, {"&quot;", "\\", 1}, {"&amp;quot;", "\\", 2}};

// Quotes of an attribute or parameter value, as for the markup of the deepest level.
const std::vector<std::string_view>& AnyQuote() { return std::rbegin(kMarkups)->quotes; }

class Masker {
 public:
  explicit Masker(std::string_view text) : t_(text) { out_.reserve(text.size()); }

  std::string Run() {
    size_t i = 0;
    while (i < t_.size()) {
      if (const size_t end = PendingAt(i); end != npos) {
        out_ += kMasked;
        i = end;
        continue;
      }
      size_t skip = npos;
      const char c = t_[i];
      if (c == '<' || c == '&') SecretElementAt(i);
      if (c == '"' || c == '\\' || c == '&') skip = JsonMemberAt(i);
      if (skip == npos && IsWordChar(c) && (i == 0 || !IsWordChar(t_[i - 1]))) {
        skip = NamedValueAt(i);
        if (skip == npos) {
          // A word that names nothing is passed whole: no rule begins inside it.
          size_t end = i;
          while (end < t_.size() && IsWordChar(t_[end])) ++end;
          if (next_ < ranges_.size()) end = std::min(end, ranges_[next_].first);
          out_.append(t_.substr(i, std::max(end, i + 1) - i));
          i = std::max(end, i + 1);
          continue;
        }
      }
      if (skip != npos) {
        i = skip;
      } else {
        out_ += c;
        ++i;
      }
    }
    return std::move(out_);
  }

 private:
  static constexpr size_t npos = std::string_view::npos;

  bool At(size_t i, std::string_view s) const { return t_.substr(i, s.size()) == s; }
  size_t SkipBlanks(size_t i) const {
    while (i < t_.size() && IsBlank(t_[i])) ++i;
    return i;
  }
  std::string_view QuoteAt(size_t i, const std::vector<std::string_view>& quotes) const {
    for (std::string_view q : quotes)
      if (At(i, q)) return q;
    return {};
  }
  // The end of a quoted value from `at` (after its opening quote): its closing quote, or the
  // text's end.
  size_t ClosingQuote(size_t at, std::string_view quote) const {
    return std::min(t_.find(quote, at), t_.size());
  }

  // The end of a range to mask that covers `i`, npos for none.
  size_t PendingAt(size_t i) {
    while (next_ < ranges_.size() && ranges_[next_].second <= i) ++next_;
    if (next_ < ranges_.size() && ranges_[next_].first <= i) return ranges_[next_++].second;
    return npos;
  }
  // Ranges stay ordered by their start; overlapping ones are masked once each.
  void Mask(size_t from, size_t to) {
    if (from >= to) return;
    const auto at = std::upper_bound(ranges_.begin() + static_cast<std::ptrdiff_t>(next_),
                                     ranges_.end(), std::make_pair(from, to));
    ranges_.insert(at, {from, to});
  }

  // A start tag of a secret element at `i`: the values of its attributes and its content are
  // masked when the scan gets there, the tag itself passes.
  void SecretElementAt(size_t i) {
    for (const Markup& m : kMarkups) {
      if (!At(i, m.lt)) continue;
      const size_t nameStart = i + m.lt.size();
      size_t nameEnd = nameStart;
      while (nameEnd < t_.size() && IsNameChar(t_[nameEnd])) ++nameEnd;
      std::string_view name = t_.substr(nameStart, nameEnd - nameStart);
      std::string_view local = name.substr(name.rfind(':') + 1);
      if (nameEnd - nameStart > kLongestName || !IsSecretName(local)) return;
      size_t j = nameEnd;
      while (j < t_.size() && !At(j, m.gt)) {
        if (std::string_view q = QuoteAt(j, m.quotes); !q.empty()) {
          const size_t end = ClosingQuote(j + q.size(), q);
          Mask(j + q.size(), end);
          j = end + q.size();
        } else if (t_[j] == '=') {
          // An unquoted value runs to a blank or the tag's end.
          j = SkipBlanks(j + 1);
          if (!QuoteAt(j, m.quotes).empty()) continue;
          size_t end = j;
          while (end < t_.size() && !IsBlank(t_[end]) && !At(end, m.gt) &&
                 !(t_[end] == '/' && At(end + 1, m.gt)))
            ++end;
          Mask(j, end);
          j = end;
        } else {
          ++j;
        }
      }
      if (j >= t_.size()) return Mask(nameEnd, t_.size());  // unterminated: all of the rest
      if (t_[j - 1] == '/') return;
      const size_t content = j + m.gt.size();
      Mask(content, ContentEnd(m, content, name));
      return;
    }
  }

  // True when a tag named `name` (any case) begins at `at`, just after its opening.
  bool TagNamedAt(const Markup& m, size_t at, std::string_view name) const {
    if (at + name.size() >= t_.size()) return false;
    const size_t after = at + name.size();
    return (At(after, m.gt) || t_[after] == '/' || IsBlank(t_[after])) &&
           text::EqualsNoCaseAscii(t_.substr(at, name.size()), name);
  }
  // Where the end tag of the element `name` begins, from its content at `at`: past child
  // elements of the same name, comments, CDATA sections and instructions that may look like it;
  // the text's end when it is not closed.
  size_t ContentEnd(const Markup& m, size_t at, std::string_view name) const {
    const std::string lt(m.lt), gt(m.gt);
    const auto past = [&](size_t from, const std::string& close) {
      const size_t end = t_.find(close, from);
      return end == npos ? t_.size() : end + close.size();
    };
    size_t depth = 0;  // elements of the same name inside
    while ((at = t_.find(m.lt, at)) != npos) {
      const size_t p = at + m.lt.size();
      if (At(p, "!--")) {
        at = past(p + 3, "--" + gt);
      } else if (At(p, "![CDATA[")) {
        at = past(p + 8, "]]" + gt);
      } else if (At(p, "?")) {
        at = past(p + 1, "?" + gt);
      } else if (At(p, "/") && TagNamedAt(m, p + 1, name)) {
        if (depth == 0) return at;
        --depth;
        at = p + 1;
      } else if (TagNamedAt(m, p, name)) {
        const size_t close = t_.find(m.gt, p);
        if (close == npos) return t_.size();
        if (t_[close - 1] != '/') ++depth;
        at = close + m.gt.size();
      } else {
        at = p;
      }
    }
    return t_.size();
  }

  // The end of a JSON string's content from `at`: its unescaped closing quote, or the text's end.
  size_t JsonStringEnd(size_t at, const JsonQuote& q) const {
    while (at < t_.size() && !At(at, q.quote)) {
      if (At(at, q.backslash)) {
        at += q.backslash.size();
        if (At(at, q.quote))
          at += q.quote.size();
        else if (At(at, q.backslash))
          at += q.backslash.size();
        else
          ++at;
      } else {
        ++at;
      }
    }
    return std::min(at, t_.size());
  }
  // A member's name as JSON reads it: entities and the outer string's escapes undone, then
  // "\uXXXX" and the other escapes of the name itself.
  static std::string JsonName(std::string_view raw, const JsonQuote& q) {
    std::string s(raw);
    for (int level = 0; level < q.entityLevels; ++level) {
      std::string d;
      for (size_t i = 0; i < s.size(); ++i) {
        bool done = false;
        for (auto [entity, c] : {std::pair<std::string_view, char>{"&quot;", '"'},
                                 {"&apos;", '\''},
                                 {"&lt;", '<'},
                                 {"&gt;", '>'},
                                 {"&amp;", '&'}})
          if (std::string_view(s).substr(i, entity.size()) == entity) {
            d += c;
            i += entity.size() - 1;
            done = true;
            break;
          }
        if (!done) d += s[i];
      }
      s = std::move(d);
    }
    if (q.backslash.size() == 2) {  // inside another JSON string: "\\" is "\", "\"" is '"'
      std::string d;
      for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        d += s[i];
      }
      s = std::move(d);
    }
    std::string name;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] != '\\' || i + 1 >= s.size()) {
        name += s[i];
      } else if (s[i + 1] == 'u' && i + 6 <= s.size()) {
        const unsigned long code = std::strtoul(s.substr(i + 2, 4).c_str(), nullptr, 16);
        name += code < 0x80 ? static_cast<char>(code) : '?';
        i += 5;
      } else {
        name += s[++i];
      }
    }
    return name;
  }
  // The end of a JSON object or array from its bracket at `at`, strings passed whole.
  size_t BalancedEnd(size_t at, const JsonQuote& q) const {
    size_t depth = 0;
    while (at < t_.size()) {
      if (At(at, q.quote)) {
        at = JsonStringEnd(at + q.quote.size(), q) + q.quote.size();
        continue;
      }
      const char c = t_[at++];
      if (c == '{' || c == '[') ++depth;
      if ((c == '}' || c == ']') && --depth == 0) return at;
    }
    return t_.size();
  }
  // A member "name": value of a secret whose name's quote is at `i`: the text up to the value
  // goes out and the value is masked; the value's end, npos for anything else.
  size_t JsonMemberAt(size_t i) {
    for (const JsonQuote& q : kJsonQuotes) {
      if (!At(i, q.quote)) continue;
      const size_t nameStart = i + q.quote.size();
      size_t nameEnd = nameStart;
      while (nameEnd < t_.size() && nameEnd - nameStart <= 4 * kLongestName &&
             !At(nameEnd, q.quote))
        nameEnd = At(nameEnd, q.backslash) ? nameEnd + q.backslash.size() + 1 : nameEnd + 1;
      if (!At(nameEnd, q.quote) ||
          !IsSecretName(JsonName(t_.substr(nameStart, nameEnd - nameStart), q)))
        continue;
      size_t j = SkipBlanks(nameEnd + q.quote.size());
      if (j >= t_.size() || t_[j] != ':') continue;
      j = SkipBlanks(j + 1);
      size_t value = j, end = j;
      if (At(j, q.quote)) {
        value = j + q.quote.size();
        end = JsonStringEnd(value, q);
      } else if (j < t_.size() && (t_[j] == '{' || t_[j] == '[')) {
        end = BalancedEnd(j, q);
      } else {
        while (end < t_.size() && !IsBlank(t_[end]) &&
               std::string_view(",}]<&\"\\").find(t_[end]) == std::string_view::npos)
          ++end;
      }
      out_.append(t_.substr(i, value - i));
      out_ += kMasked;
      return end;
    }
    return npos;
  }

  // An attribute or address parameter of a secret's name at the word `i`: name=value,
  // name = "value" and the like. The text up to the value goes out; the value's end, npos for
  // anything else.
  size_t NamedValueAt(size_t i) {
    size_t nameEnd = i;
    while (nameEnd < t_.size() && IsWordChar(t_[nameEnd]) && nameEnd - i <= kLongestName) ++nameEnd;
    if (!IsSecretName(t_.substr(i, nameEnd - i))) return npos;
    size_t j = SkipBlanks(nameEnd);
    if (j >= t_.size() || t_[j] != '=') return npos;
    j = SkipBlanks(j + 1);
    size_t value = j, end = j;
    if (std::string_view q = QuoteAt(j, AnyQuote()); !q.empty()) {
      value = j + q.size();
      end = ClosingQuote(value, q);
    } else {
      end = std::min(t_.find_first_of("&\"'<>; \t\r\n\f\v", j), t_.size());
    }
    out_.append(t_.substr(i, value - i));
    out_ += kMasked;
    return end;
  }

  std::string_view t_;
  std::string out_;
  std::vector<std::pair<size_t, size_t>> ranges_;  // [from, to) to mask, in order
  size_t next_ = 0;
};

}  // namespace

std::string MaskSecrets(std::string_view text) { return Masker(text).Run(); }

}  // namespace fern::restportal
