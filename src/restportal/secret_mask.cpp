#include "restportal/secret_mask.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <unordered_map>
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
// A JSON string's backslashes before its quote: nesting deeper than this is not followed.
constexpr size_t kLongestEscape = 64;
// How many steps go by between two questions to the stop. A step is a character looked at, so
// the questions count the work done.
constexpr size_t kStopEvery = size_t{1} << 16;
// Stands in the decoded text for a character outside ASCII.
constexpr char kOther = '\x80';

bool IsSecretName(std::string_view name) {
  if (name.size() > kLongestName) return false;
  for (std::string_view known : kSecretNames)
    if (text::EqualsNoCaseAscii(name, known)) return true;
  return false;
}
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return IsWordChar(c) || c == '.' || c == '-' || c == ':'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
using ::fern::text::HexValue;

struct Stopped {};

class StopCheck {
 public:
  explicit StopCheck(StopAsk stop) : stop_(stop) {}
  void Tick() {
    if (++steps_ % kStopEvery == 0) Ask();
  }
  // `count` steps at once, for a search done in one call: asked once for every kStopEvery.
  void Tick(size_t count) {
    const size_t asks = (steps_ % kStopEvery + count) / kStopEvery;
    steps_ += count;
    for (size_t k = 0; k < asks; ++k) Ask();
  }

 private:
  void Ask() {
    if (stop_ && stop_()) throw Stopped{};
  }

  StopAsk stop_;
  size_t steps_ = 0;
};

// The text as it reads with its encodings undone: UTF-16 as its low bytes, then percent-encoding,
// "\u" escapes and character references. A decoded character that completes another escape is
// decoded with it ("&amp;lt;" reads "<", "%2541" reads "A"), so layers go to any depth. Each
// character keeps where its source begins in the text. Every decoding shortens the view, so
// the whole is linear. A JSON string's "\"" and "\\" stay as written: they carry its nesting;
// "\u0022" and "\u005c" read as those, since that is what they mean inside a string.
class Decoded {
 public:
  Decoded(std::string_view t, StopCheck& stop) {
    // Most answers hold no escape at all: they are their own view.
    const size_t escape = t.find_first_of(std::string_view("%&\\\0", 4));
    stop.Tick(std::min(escape, t.size()));
    if (escape == std::string_view::npos) {
      plain = t;
      isPlain = true;
      return;
    }
    view.reserve(t.size());
    from.reserve(t.size() + 1);
    for (size_t i = 0; i < t.size(); ++i) {
      stop.Tick();
      // UTF-16 reads as its low bytes: a zero byte belongs to the character before it.
      if (t[i] == '\0' && !view.empty()) continue;
      Push(t[i], i);
    }
    from.push_back(static_cast<uint32_t>(t.size()));
  }

  std::string_view View() const { return isPlain ? plain : std::string_view(view); }
  // Where the character `k` of the view begins in the text.
  size_t From(size_t k) const { return isPlain ? k : from[k]; }
  bool IsPlain() const { return isPlain; }

 private:
  std::string view;
  std::string_view plain;  // the text, when nothing in it is decoded
  bool isPlain = false;
  std::vector<uint32_t> from;  // view[k] comes from the text's [from[k], from[k + 1])

  void Push(char c, size_t at) {
    view.push_back(c);
    from.push_back(static_cast<uint32_t>(at));
    while (Reduce()) {
    }
  }
  // The escape that ends the view, decoded into one character; false for none.
  bool Reduce() {
    const size_t n = view.size();
    const char last = view[n - 1];
    if (last == ';') return Reference();
    if (HexValue(last) < 0) return false;
    if (n >= 3 && view[n - 3] == '%' && HexValue(view[n - 2]) >= 0) {
      const int code = HexValue(view[n - 2]) * 16 + HexValue(last);
      if (code == 0) return false;
      return Replace(n - 3, static_cast<char>(code));
    }
    if (n >= 6 && view[n - 6] == '\\' && (view[n - 5] == 'u' || view[n - 5] == 'U')) {
      int code = 0;
      for (size_t k = n - 4; k < n; ++k) {
        if (HexValue(view[k]) < 0) return false;
        code = code * 16 + HexValue(view[k]);
      }
      if (code == 0) return false;
      if (code == '"' || code == '\\') {
        // Two characters in place of six, both from where the escape begins.
        Replace(n - 6, '\\');
        view.push_back(static_cast<char>(code));
        from.push_back(from.back());
        return true;
      }
      return Replace(n - 6, code < 0x80 ? static_cast<char>(code) : kOther);
    }
    return false;
  }
  // "&name;", "&#65;" or "&#x41;" at the view's end.
  bool Reference() {
    const size_t n = view.size();
    constexpr size_t kLongest = 10;  // "&#x10FFFF;"
    size_t amp = n - 1;
    while (amp > 0 && n - amp <= kLongest && view[amp - 1] != '&' && view[amp - 1] != ';' &&
           !IsBlank(view[amp - 1]))
      --amp;
    if (amp == 0 || view[amp - 1] != '&') return false;
    const std::string_view body = std::string_view(view).substr(amp, n - 1 - amp);
    --amp;
    unsigned long code = 0;
    if (body.size() >= 2 && body[0] == '#') {
      const bool hex = body[1] == 'x' || body[1] == 'X';
      const std::string_view digits = body.substr(hex ? 2 : 1);
      if (digits.empty()) return false;
      for (char d : digits) {
        const int v = hex ? HexValue(d) : (d >= '0' && d <= '9' ? d - '0' : -1);
        if (v < 0) return false;
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(v);
      }
      if (code == 0 || code > 0x10FFFF) return false;
    } else {
      static constexpr std::pair<std::string_view, char> kNamed[] = {
          {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};
      const auto* it = std::find_if(std::begin(kNamed), std::end(kNamed), [&](const auto& e) {
        return text::EqualsNoCaseAscii(body, e.first);
      });
      if (it == std::end(kNamed)) return false;
      code = static_cast<unsigned char>(it->second);
    }
    return Replace(amp, code < 0x80 ? static_cast<char>(code) : kOther);
  }
  bool Replace(size_t at, char c) {
    view.resize(at + 1);
    from.resize(at + 1);
    view[at] = c;
    return true;
  }
};

using Range = std::pair<size_t, size_t>;  // [from, to) of the decoded view

// Finds what to mask in the decoded view, in one pass: every rule looks ahead only over what the
// pass then steps past, or over a stretch no other look-ahead of its kind covers again. Ranges
// come out ordered by their start; they may overlap.
class Masker {
 public:
  Masker(const Decoded& d, std::string_view text, StopCheck& stop)
      : t_(d.View()), d_(d), text_(text), stop_(stop) {}

  std::vector<Range> Run() {
    const size_t n = t_.size();
    size_t i = 0;
    while (i < n) {
      stop_.Tick();
      Flush(i);
      const char c = t_[i];
      size_t next = npos;
      if (c == '<') {
        next = TagAt(i);
      } else if (c == '"') {
        next = JsonMemberAt(i);
      } else if (c == ':' && At(i + 1, "//")) {
        next = UserInfoAt(i);
      } else if (IsWordChar(c) && (i == 0 || !IsWordChar(t_[i - 1]))) {
        next = NamedValueAt(i);
      }
      i = next == npos ? i + 1 : std::max(next, i + 1);
    }
    Flush(n);
    return WithUnclosed();
  }

 private:
  static constexpr size_t npos = std::string_view::npos;
  struct Open {
    uint32_t content;  // the text is shorter than 4 GB
    bool closed = false;
  };

  bool At(size_t i, std::string_view s) const {
    return t_.substr(std::min(i, t_.size()), s.size()) == s;
  }
  // Each look-ahead counts what it read as steps.
  size_t Read(size_t from, size_t to) const {
    if (to > from) stop_.Tick(to - from);
    return to;
  }
  size_t SkipBlanks(size_t i) const {
    const size_t from = i;
    while (i < t_.size() && IsBlank(t_[i])) ++i;
    return Read(from, i);
  }
  size_t Find(std::string_view s, size_t from) const {
    return Read(from, std::min(t_.find(s, std::min(from, t_.size())), t_.size()));
  }

  // A range within the last one adds nothing.
  void Append(Range r) {
    if (r.first < r.second && (ranges_.empty() || r.second > ranges_.back().second))
      ranges_.push_back(r);
  }
  // Ranges found ahead (a tag's field value) go out once the pass gets there, so all stay in
  // order.
  void Flush(size_t upTo) {
    while (nextAhead_ < ahead_.size() && ahead_[nextAhead_].first <= upTo)
      Append(ahead_[nextAhead_++]);
  }
  void Mask(size_t from, size_t to) {
    Flush(from);
    Append({from, to});
  }

  // A value quoted at `j`, by a quote or by one a JSON string escapes (\" or \\\"): where its
  // content begins, npos for none. `quote` gets the quote, `escaped` whether it was.
  size_t QuotedAt(size_t j, char& quote, bool& escaped) const {
    size_t k = j;
    while (k < t_.size() && t_[k] == '\\' && k - j < kLongestEscape) ++k;
    if (k >= t_.size() || (t_[k] != '"' && t_[k] != '\'')) return npos;
    quote = t_[k];
    escaped = k > j;
    return k + 1;
  }
  // A quote read from "\u0022": a quote one level down, where a value in plain quotes goes on
  // and an address may hold it.
  bool DecodedQuote(size_t k) const {
    return k > 0 && !d_.IsPlain() && t_[k - 1] == '\\' && d_.From(k) == d_.From(k - 1);
  }
  // The quote at or after `from` that ends a value in `quote`s; the text's end for none.
  size_t ClosingQuote(size_t from, char quote, bool escaped) const {
    size_t at = Find(std::string_view(&quote, 1), from);
    while (!escaped && at < t_.size() && DecodedQuote(at))
      at = Find(std::string_view(&quote, 1), at + 1);
    return at;
  }
  // The end of the content of an escaped quoted value whose closing quote is at `close`: before
  // the backslashes that escape it.
  size_t BeforeEscape(size_t from, size_t close) const {
    while (close > from && t_[close - 1] == '\\') --close;
    return close;
  }
  // Where the text as written ends a value that the view ends at `end`, `stops` ending both: when
  // the view's stop was decoded from an escape ("%26" may be a literal "&" in the value or the
  // separator of an address nested in it), the later of the two, so no part of it shows.
  size_t LaterEnd(size_t end, const char* stops) const {
    if (d_.IsPlain() || end >= t_.size()) return end;
    const size_t at = d_.From(end);
    if (std::string_view(stops).find(text_[at]) != npos) return end;  // a stop as written too
    const size_t written = Read(at, std::min(text_.find_first_of(stops, at), text_.size()));
    while (end < t_.size() && d_.From(end) < written) ++end;
    return end;
  }

  // "<!--", "<![CDATA[", "<?", an end tag or a start tag at `i`.
  size_t TagAt(size_t i) {
    for (auto [open, close] : {std::pair<std::string_view, std::string_view>{"<!--", "-->"},
                               {"<![CDATA[", "]]>"},
                               {"<?", "?>"}}) {
      if (!At(i, open)) continue;
      // Within it nothing closes an element; each such stretch is searched once.
      if (i >= quietUntil_)
        quietUntil_ = std::min(Find(close, i + open.size()) + close.size(), t_.size());
      return i + open.size();
    }
    const bool end = At(i + 1, "/");
    const size_t nameStart = i + (end ? 2 : 1);
    size_t nameEnd = nameStart;
    while (nameEnd < t_.size() && nameEnd - nameStart <= kLongestName && IsNameChar(t_[nameEnd]))
      ++nameEnd;
    Read(nameStart, nameEnd);
    if (nameEnd == nameStart || nameEnd - nameStart > kLongestName) return npos;
    const std::string_view name = t_.substr(nameStart, nameEnd - nameStart);
    const bool secret = IsSecretName(name.substr(name.rfind(':') + 1));
    if (end) {
      if (secret && i >= quietUntil_ && i >= tagEnd_) Close(name, i);
      return npos;
    }
    if (!secret && i < tagEnd_) return npos;  // markup inside another tag's values
    return StartTag(nameEnd, name, secret);
  }

  // A start tag: a secret element's attribute values are masked and its content opened; of any
  // other, the value of a form field named like a secret.
  size_t StartTag(size_t j, std::string_view name, bool secret) {
    const size_t start = j;
    bool fieldNamed = false;
    Range fieldValue{npos, npos};
    const size_t n = t_.size();
    while (j < n && t_[j] != '>' && t_[j] != '<') {
      if (!IsNameChar(t_[j])) {
        ++j;
        continue;
      }
      const size_t attrStart = j;
      while (j < n && IsNameChar(t_[j])) ++j;
      const std::string_view attr = t_.substr(attrStart, j - attrStart);
      j = SkipBlanks(j);
      if (j >= n || t_[j] != '=') continue;
      j = SkipBlanks(j + 1);
      Range value;
      char quote = 0;
      bool escaped = false;
      if (const size_t content = j < n ? QuotedAt(j, quote, escaped) : npos; content != npos) {
        value.first = j = content;
        while (j < n && (t_[j] != quote || (!escaped && DecodedQuote(j))) && t_[j] != '<') ++j;
        value.second = escaped ? BeforeEscape(value.first, j) : j;
        if (j < n && t_[j] == quote) ++j;
      } else {
        value.first = j;
        while (j < n && !IsBlank(t_[j]) && t_[j] != '>' && t_[j] != '<' &&
               !(t_[j] == '/' && At(j + 1, ">")))
          ++j;
        value.second = j;
      }
      if (secret) {
        Mask(value.first, value.second);
      } else if (text::EqualsNoCaseAscii(attr, "name") || text::EqualsNoCaseAscii(attr, "id")) {
        fieldNamed = fieldNamed || IsSecretName(t_.substr(value.first, value.second - value.first));
      } else if (text::EqualsNoCaseAscii(attr, "value") ||
                 text::EqualsNoCaseAscii(attr, "content")) {
        fieldValue = value;
      }
    }
    Read(start, j);
    const bool closed = j < n && t_[j] == '>';
    const size_t end = closed ? j + 1 : j;
    if (!secret) {
      tagEnd_ = std::max(tagEnd_, end);
      if (fieldNamed && fieldValue.first != npos) ahead_.push_back(fieldValue);
      return npos;  // its other values are read as text: they may hold addresses
    }
    if (closed && t_[j - 1] != '/') {
      stacks_[text::LowerAscii(std::string(name))].push_back(opens_.size());
      opens_.push_back({static_cast<uint32_t>(end)});
    }
    return end;
  }

  // The end tag at `i` of the innermost open element of that name: its whole content goes, and
  // what was found inside it with it.
  void Close(std::string_view name, size_t i) {
    const auto it = stacks_.find(text::LowerAscii(std::string(name)));
    if (it == stacks_.end() || it->second.empty()) return;
    Open& open = opens_[it->second.back()];
    it->second.pop_back();
    open.closed = true;
    Flush(i);
    size_t to = i;
    while (!ranges_.empty() && ranges_.back().first >= open.content) {
      to = std::max(to, ranges_.back().second);
      ranges_.pop_back();
    }
    Append({open.content, to});
  }

  // Elements never closed lose their value only: up to the next blank, markup or line end; a
  // value in child markup or CDATA goes with it. The searches only move forward.
  std::vector<Range> WithUnclosed() {
    const size_t n = t_.size();
    std::vector<Range> runs;
    size_t blank = 0, blankOrMarkup = 0, cdataEnd = 0;
    bool searched[3] = {};
    const auto next = [&](size_t& at, bool& done, size_t from, auto stops) {
      if (!done || at < from) {
        at = from;
        while (at < n && !stops(t_[at])) {
          stop_.Tick();
          ++at;
        }
        done = true;
      }
      return at;
    };
    for (const Open& o : opens_) {
      if (o.closed || o.content >= n) continue;
      const size_t c = o.content;
      size_t to;
      if (At(c, "<![CDATA[")) {
        if (!searched[2] || cdataEnd < c + 9) {
          cdataEnd = Find("]]>", c + 9);
          searched[2] = true;
        }
        to = std::min(cdataEnd + 3, n);
      } else if (t_[c] == '<') {
        to = next(blank, searched[0], c, IsBlank);
      } else {
        to = next(blankOrMarkup, searched[1], c, [](char ch) { return IsBlank(ch) || ch == '<'; });
      }
      if (c < to && (runs.empty() || to > runs.back().second)) runs.push_back({c, to});
    }
    std::vector<Range> all;
    all.reserve(ranges_.size() + runs.size());
    std::merge(ranges_.begin(), ranges_.end(), runs.begin(), runs.end(), std::back_inserter(all),
               [](const Range& a, const Range& b) { return a.first < b.first; });
    return all;
  }

  // The backslashes that escape a JSON quote at `at`, when they come before it.
  size_t BackslashesBefore(size_t at) const {
    size_t r = 0;
    while (r < at && r < kLongestEscape && t_[at - 1 - r] == '\\') ++r;
    return r;
  }
  // A string nested `level` deep ("\"" is 1, "\\\"" 3) closes at a quote whose backslashes,
  // read at that depth, leave it unescaped.
  static bool Closes(size_t backslashes, size_t level) {
    return (backslashes & (2 * level + 1)) == level;
  }
  static size_t LevelOf(size_t backslashes) { return backslashes & ~(backslashes + 1); }
  // Where the string's content from `at` ends: before its closing quote's backslashes.
  size_t JsonStringEnd(size_t at, size_t level, size_t* after) const {
    const size_t from = at;
    size_t run = 0;
    for (; at < t_.size(); ++at) {
      if (t_[at] == '"' && Closes(run, level)) {
        *after = Read(from, at) + 1;
        return at - level;
      }
      run = t_[at] == '\\' ? run + 1 : 0;
    }
    *after = Read(from, t_.size());
    return t_.size();
  }
  // The end of a JSON object or array from its bracket at `at`, strings at its depth passed.
  size_t BalancedEnd(size_t at, size_t level) const {
    const size_t from = at;
    size_t depth = 0, run = 0;
    bool inString = false;
    for (; at < t_.size(); ++at) {
      const char c = t_[at];
      if (c == '"' && Closes(run, level)) {
        inString = !inString;
      } else if (!inString && (c == '{' || c == '[')) {
        ++depth;
      } else if (!inString && (c == '}' || c == ']') && --depth == 0) {
        return Read(from, at) + 1;
      }
      run = c == '\\' ? run + 1 : 0;
    }
    return Read(from, t_.size());
  }
  // A member "name": value of a secret, at any nesting depth, whose name's quote is at `i`: the
  // value is masked; its end, npos for anything else.
  size_t JsonMemberAt(size_t i) {
    const size_t level = LevelOf(BackslashesBefore(i));
    std::string name;
    size_t j = i + 1, run = 0;
    for (; j < t_.size() && j - i <= 2 * kLongestName; ++j) {
      if (t_[j] == '"' && Closes(run, level)) break;
      if (t_[j] == '\\') {
        ++run;
      } else {
        run = 0;
        name += t_[j];
      }
    }
    Read(i, j);
    if (j >= t_.size() || t_[j] != '"' || !IsSecretName(name)) return npos;
    j = SkipBlanks(j + 1);
    if (j >= t_.size() || t_[j] != ':') return npos;
    j = SkipBlanks(j + 1);
    size_t slashes = 0;
    while (j + slashes < t_.size() && t_[j + slashes] == '\\' && slashes < kLongestEscape)
      ++slashes;
    if (j + slashes < t_.size() && t_[j + slashes] == '"') {
      const size_t value = j + slashes + 1;
      size_t after = 0;
      const size_t end = JsonStringEnd(value, LevelOf(slashes), &after);
      Mask(value, end);
      return end;
    }
    size_t end = j;
    if (j < t_.size() && (t_[j] == '{' || t_[j] == '[')) {
      end = BalancedEnd(j, level);
    } else {
      while (end < t_.size() && !IsBlank(t_[end]) &&
             std::string_view(",}]<&\"\\").find(t_[end]) == std::string_view::npos)
        ++end;
    }
    Mask(j, end);
    return end;
  }

  // A parameter, attribute or field of a secret's name at the word `i`: name=value,
  // name = "value", 'name': 'value', name: value. The value is masked; its end, or the word's
  // end when there is none (no rule begins inside a word).
  size_t NamedValueAt(size_t i) {
    const size_t n = t_.size();
    size_t wordEnd = i;
    while (wordEnd < n && IsWordChar(t_[wordEnd])) ++wordEnd;
    Read(i, wordEnd);
    if (!IsSecretName(t_.substr(i, wordEnd - i))) return wordEnd;
    size_t j = wordEnd;
    if (i > 0 && (t_[i - 1] == '\'' || t_[i - 1] == '"') && j < n && t_[j] == t_[i - 1]) ++j;
    j = SkipBlanks(j);
    if (j >= n || (t_[j] != '=' && t_[j] != ':')) return wordEnd;
    const bool colon = t_[j] == ':';
    j = SkipBlanks(j + 1);
    size_t end;
    char quote = 0;
    bool escaped = false;
    if (const size_t content = j < n ? QuotedAt(j, quote, escaped) : npos; content != npos) {
      j = content;
      end = ClosingQuote(j, quote, escaped);
      if (escaped) {
        Mask(j, BeforeEscape(j, end));
        return end;
      }
    } else {
      const char* stops = colon ? "&\"'<>;,}] \t\r\n\f\v" : "&\"'<>; \t\r\n\f\v";
      end = LaterEnd(Read(j, std::min(t_.find_first_of(stops, j), n)), stops);
    }
    Mask(j, end);
    return end;
  }

  // The password of "scheme://user:password@" at the "://" at `i`.
  size_t UserInfoAt(size_t i) {
    size_t colon = npos, j = i + 3;
    for (; j < t_.size() && j - i < 512; ++j) {
      const char c = t_[j];
      if (c == '@') break;
      if (IsBlank(c) ||
          (std::string_view("/?#<>\"'").find(c) != std::string_view::npos && !DecodedQuote(j)))
        return npos;
      if (c == ':' && colon == npos) colon = j;
    }
    Read(i, j);
    if (j >= t_.size() || t_[j] != '@' || colon == npos) return npos;
    Mask(colon + 1, j);
    return j;
  }

  std::string_view t_;
  const Decoded& d_;
  std::string_view text_;  // as written
  StopCheck& stop_;
  std::vector<Range> ranges_;  // found so far, ordered by their start
  std::vector<Range> ahead_;   // found ahead of the pass, ordered
  size_t nextAhead_ = 0;
  std::vector<Open> opens_;                                      // secret elements, in order
  std::unordered_map<std::string, std::vector<size_t>> stacks_;  // open ones by name
  size_t quietUntil_ = 0;  // the end of a comment, CDATA section or instruction
  size_t tagEnd_ = 0;      // the end of the last tag read ahead
};

}  // namespace

std::string MaskSecrets(std::string_view text, StopAsk stop) {
  if (text.size() >= std::numeric_limits<uint32_t>::max()) return std::string(kMasked);
  try {
    StopCheck check(stop);
    const Decoded d(text, check);
    const std::vector<Range> ranges = Masker(d, text, check).Run();
    std::string out;
    out.reserve(text.size());
    size_t done = 0;  // in the text
    for (size_t k = 0; k < ranges.size();) {
      // Ranges that overlap are masked as one.
      size_t from = ranges[k].first, to = ranges[k].second;
      for (++k; k < ranges.size() && ranges[k].first < to; ++k) to = std::max(to, ranges[k].second);
      const size_t a = std::max(d.From(from), done), b = d.From(to);
      if (a >= b) continue;
      out.append(text.substr(done, a - done));
      // Within UTF-16 the mask is written as UTF-16 too.
      if (a + 1 < b && text[a + 1] == '\0')
        for (char c : kMasked) out += {c, '\0'};
      else
        out += kMasked;
      done = b;
    }
    out.append(text.substr(done));
    return out;
  } catch (const Stopped&) {
    return std::string(kMasked);
  }
}

}  // namespace fern::restportal
