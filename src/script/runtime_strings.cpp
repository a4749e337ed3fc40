// Text functions. Positions count characters; the character work itself lives in vb.h.
#include <algorithm>
#include <utility>

#include "platform/cp1252.h"
#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script::rt {

namespace {

// The text of argument i without copying it when it already is a String: Mid(s, i, 1) in a
// loop over a long text would otherwise copy the whole text on every call.
std::string_view View(Args args, size_t i, std::string& holder) {
  if (i < args.size() && args[i].IsString()) return std::as_const(args[i]).str();
  holder = ArgStr(args, i);
  return holder;
}

bool AnyNull(Args args, std::initializer_list<size_t> which) {
  for (size_t i : which)
    if (Arg(args, i).IsNull()) return true;
  return false;
}

int64_t NonNegative(Args args, size_t i) {
  int32_t n = ArgLng(args, i);
  if (n < 0) Raise(err::kInvalidArgument);
  return n;
}

// An ASCII text counts characters in bytes; TextIsAscii is worked out once per text, so a
// walk over a long text with Len, Mid and InStr stays linear.
bool AsciiArg(Args args, size_t i) {
  return i < args.size() && args[i].IsString() && args[i].TextIsAscii();
}

Variant Len(Args a) {
  if (!a.empty() && a[0].IsString()) return Variant::Whole(static_cast<int64_t>(a[0].TextChars()));
  Variant v = Arg(a, 0);
  if (v.IsNull()) return Variant::Null();
  return Variant::Whole(static_cast<int64_t>(vb::Len(vb::CStr(v, a.loc))));
}

Variant Left(Args a) {
  int64_t n = NonNegative(a, 1);
  if (AnyNull(a, {0})) return Variant::Null();
  std::string holder;
  return Variant(vb::Left(View(a, 0, holder), n));
}

Variant Right(Args a) {
  int64_t n = NonNegative(a, 1);
  if (AnyNull(a, {0})) return Variant::Null();
  std::string holder;
  return Variant(vb::Right(View(a, 0, holder), n));
}

Variant Mid(Args a) {
  int32_t start = ArgLng(a, 1);
  if (start < 1) Raise(err::kInvalidArgument);
  int64_t len = Given(a, 2) ? NonNegative(a, 2) : -1;
  if (AnyNull(a, {0})) return Variant::Null();
  if (AsciiArg(a, 0)) {
    const std::string& s = std::as_const(a[0]).str();
    size_t from = static_cast<size_t>(start) - 1;
    if (from >= s.size()) return Variant(std::string());
    return Variant(
        std::string_view(s).substr(from, len < 0 ? std::string::npos : static_cast<size_t>(len)));
  }
  if (a[0].IsString()) {
    // Characters of several bytes: their offsets from the text's remembered place.
    const std::string& s = std::as_const(a[0]).str();
    size_t from = a[0].TextOffset(static_cast<size_t>(start) - 1);
    if (len < 0) return Variant(std::string_view(s).substr(from));
    size_t to = a[0].TextOffset(static_cast<size_t>(start) - 1 + static_cast<size_t>(len));
    return Variant(std::string_view(s).substr(from, to - from));
  }
  std::string holder;
  return Variant(vb::Mid(View(a, 0, holder), start, len));
}

Variant InStr(Args a) {
  // InStr(s1, s2) or InStr(start, s1, s2[, compare]).
  size_t first = 0;
  int64_t start = 1;
  if (a.size() >= 3) {
    start = ArgLng(a, 0);
    if (start < 1) Raise(err::kInvalidArgument);
    first = 1;
  }
  bool text = ArgTextCompare(a, 3);
  if (AnyNull(a, {first, first + 1})) return Variant::Null();
  std::string h1, h2;
  if (!text && AsciiArg(a, first)) {
    // Bytes are characters: the search starts where it should, not at the text's start.
    std::string_view s = View(a, first, h1);
    std::string_view find = View(a, first + 1, h2);
    size_t from = static_cast<size_t>(start) - 1;
    if (from > s.size()) return Variant(0);
    if (find.empty()) return Variant::Whole(start);
    size_t hit = s.find(find, from);
    return Variant::Whole(hit == std::string_view::npos ? 0 : static_cast<int64_t>(hit) + 1);
  }
  if (!text && a[first].IsString()) {
    // Characters of several bytes: the search starts at the text's remembered place, and
    // only the distance to the hit is counted.
    const Variant& v = a[first];
    std::string_view s = std::as_const(v).str();
    std::string_view find = View(a, first + 1, h2);
    size_t from = v.TextOffset(static_cast<size_t>(start) - 1);
    if (from >= s.size()) return Variant(0);
    if (find.empty()) return Variant::Whole(start);
    size_t hit = s.find(find, from);
    if (hit == std::string_view::npos) return Variant(0);
    int64_t chars = 0;
    for (size_t i = from; i < hit; ++i)
      if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++chars;
    return Variant::Whole(start + chars);
  }
  return Variant::Whole(vb::InStr(start, View(a, first, h1), View(a, first + 1, h2), text));
}

Variant InStrRev(Args a) {
  int64_t start = Given(a, 2) ? ArgLng(a, 2) : -1;
  if (start == 0 || start < -1) Raise(err::kInvalidArgument);
  bool text = ArgTextCompare(a, 3);
  if (AnyNull(a, {0, 1})) return Variant::Null();
  std::string h1, h2;
  return Variant::Whole(vb::InStrRev(View(a, 0, h1), View(a, 1, h2), start, text));
}

Variant Replace(Args a) {
  int64_t start = Given(a, 3) ? ArgLng(a, 3) : 1;
  int64_t count = Given(a, 4) ? ArgLng(a, 4) : -1;
  if (start < 1 || count < -1) Raise(err::kInvalidArgument);
  bool text = ArgTextCompare(a, 5);
  // Unlike most text functions Replace does not pass Null on: it is an error.
  std::string h0, h1, h2;
  if (AnyNull(a, {0, 1, 2})) Raise(err::kInvalidUseOfNull);
  return Variant(vb::Replace(View(a, 0, h0), View(a, 1, h1), View(a, 2, h2), start, count, text));
}

// Byte offsets of `find` in `s` from `from`; text comparison folds both sides when folding
// keeps the byte lengths (it does for Windows-1252 letters), else falls back to InStr.
size_t FindFrom(const std::string& s, const std::string& foldedS, const std::string& find,
                const std::string& foldedFind, size_t from, bool text) {
  if (!text) return s.find(find, from);
  if (foldedS.size() == s.size() && foldedFind.size() == find.size())
    return foldedS.find(foldedFind, from);
  // Rare: folding changed lengths. Count characters up to `from` and ask InStr.
  int64_t charStart = static_cast<int64_t>(vb::Len(std::string_view(s).substr(0, from))) + 1;
  int64_t pos = vb::InStr(charStart, s, find, true);
  if (pos == 0) return std::string::npos;
  size_t byte = 0;
  for (int64_t c = 1; c < pos; ++c) utf8::Next(s, byte);
  return byte;
}

Variant Split(Args a) {
  std::string s = ArgStr(a, 0);
  std::string delim = Given(a, 1) ? ArgStr(a, 1) : std::string(" ");
  int32_t count = Given(a, 2) ? ArgLng(a, 2) : -1;
  if (count < -1) Raise(err::kInvalidArgument);
  bool text = ArgTextCompare(a, 3);
  std::vector<Variant> parts;
  if (s.empty() || count == 0) return MakeArray({});
  if (delim.empty()) return MakeArray({Variant(s)});
  std::string foldedS = text ? fern::text::FoldCase(s) : std::string();
  std::string foldedD = text ? fern::text::FoldCase(delim) : std::string();
  size_t pos = 0;
  while (count == -1 || static_cast<int32_t>(parts.size()) < count - 1) {
    size_t hit = FindFrom(s, foldedS, delim, foldedD, pos, text);
    if (hit == std::string::npos) break;
    parts.emplace_back(s.substr(pos, hit - pos));
    pos = hit + delim.size();
  }
  parts.emplace_back(s.substr(pos));
  return MakeArray(std::move(parts));
}

const VArray& OneDimArray(const Variant& v) {
  if (!v.IsArray()) Raise(err::kTypeMismatch);
  if (v.arr().dims.size() != 1) Raise(err::kSubscript);
  return v.arr();
}

Variant Join(Args a) {
  Variant list = Arg(a, 0);
  const VArray& arr = OneDimArray(list);
  std::string delim = Given(a, 1) ? ArgStr(a, 1) : std::string(" ");
  std::string out;
  for (size_t i = 0; i < arr.data.size(); ++i) {
    if (i) out += delim;
    out += vb::CStr(ValueOf(arr.data[i]), a.loc);
  }
  return Variant(std::move(out));
}

Variant Filter(Args a) {
  Variant list = Arg(a, 0);
  if (list.IsNull()) Raise(err::kInvalidUseOfNull);
  const VArray& arr = OneDimArray(list);
  std::string match = ArgStr(a, 1);
  bool include = Given(a, 2) ? ArgBool(a, 2) : true;
  bool text = ArgTextCompare(a, 3);
  std::vector<Variant> out;
  for (const Variant& item : arr.data) {
    std::string s = vb::CStr(ValueOf(item), a.loc);
    bool found = vb::InStr(1, s, match, text) > 0;
    if (found == include) out.emplace_back(std::move(s));
  }
  return MakeArray(std::move(out));
}

template <std::string (*F)(std::string_view)>
Variant Unary(Args a) {
  if (AnyNull(a, {0})) return Variant::Null();
  return Variant(F(ArgStr(a, 0)));
}

Variant Space(Args a) { return Variant(std::string(NonNegative(a, 0), ' ')); }

Variant StringFn(Args a) {
  int64_t n = NonNegative(a, 0);
  Variant c = Arg(a, 1);
  if (c.IsNull()) return Variant::Null();
  std::string ch;
  if (c.IsString()) {
    if (c.str().empty()) Raise(err::kInvalidArgument);
    size_t pos = 0;
    utf8::Append(ch, utf8::Next(c.str(), pos));
  } else {
    int32_t code = vb::CLng(c, a.loc);
    if (code < 0) Raise(err::kInvalidArgument);
    ch = cp1252::ToUtf8(std::string(1, static_cast<char>(code % 256)));
  }
  std::string out;
  out.reserve(ch.size() * n);
  for (int64_t i = 0; i < n; ++i) out += ch;
  return Variant(std::move(out));
}

Variant StrComp(Args a) {
  bool text = ArgTextCompare(a, 2);
  if (AnyNull(a, {0, 1})) return Variant::Null();
  return Variant(static_cast<int16_t>(vb::StrComp(ArgStr(a, 0), ArgStr(a, 1), text)));
}

Variant StrReverse(Args a) {
  std::u32string s = ToU32(ArgStr(a, 0));
  std::reverse(s.begin(), s.end());
  return Variant(FromU32(s));
}

char32_t FirstChar(Args a) {
  std::string holder;
  std::string_view s = View(a, 0, holder);
  if (s.empty()) Raise(err::kInvalidArgument);
  size_t pos = 0;
  return utf8::Next(s, pos);
}

Variant Asc(Args a) {
  char32_t c = FirstChar(a);
  std::string one;
  utf8::Append(one, c);
  std::string ansi = cp1252::FromUtf8(one);
  return Variant(static_cast<int16_t>(static_cast<unsigned char>(ansi.empty() ? '?' : ansi[0])));
}

Variant AscW(Args a) {
  char32_t c = FirstChar(a);
  if (c > 0xFFFF) c = 0xD800 + ((c - 0x10000) >> 10);  // the high surrogate, as UTF-16 holds it
  return Variant(static_cast<int16_t>(static_cast<uint16_t>(c)));
}

Variant Chr(Args a) {
  int32_t code = ArgLng(a, 0);
  if (code < 0 || code > 255) Raise(err::kInvalidArgument);
  return Variant(cp1252::ToUtf8(std::string(1, static_cast<char>(code))));
}

Variant ChrW(Args a) {
  int32_t code = ArgLng(a, 0);
  if (code < -32768 || code > 65535) Raise(err::kInvalidArgument);
  if (code < 0) code += 65536;
  char32_t c = static_cast<char32_t>(code);
  if (c >= 0xD800 && c <= 0xDFFF) c = utf8::kReplacement;  // a lone surrogate has no UTF-8 form
  std::string out;
  utf8::Append(out, c);
  return Variant(std::move(out));
}

// JavaScript's escape(): UTF-16 units outside the safe set become %XX or %uXXXX.
Variant Escape(Args a) {
  if (AnyNull(a, {0})) return Variant::Null();
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  auto unit = [&](char32_t u) {
    bool safe = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') ||
                u == '@' || u == '*' || u == '_' || u == '+' || u == '-' || u == '.' || u == '/';
    if (safe) {
      out += static_cast<char>(u);
    } else if (u < 0x100) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += "%u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(u >> shift) & 15];
    }
  };
  for (char32_t c : ToU32(ArgStr(a, 0))) {
    if (c > 0xFFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return Variant(std::move(out));
}

int HexDigit(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

Variant Unescape(Args a) {
  if (AnyNull(a, {0})) return Variant::Null();
  std::u32string s = ToU32(ArgStr(a, 0));
  std::u32string out;
  auto hexAt = [&](size_t from, size_t n, char32_t& value) {
    if (from + n > s.size()) return false;
    value = 0;
    for (size_t k = 0; k < n; ++k) {
      int d = HexDigit(s[from + k]);
      if (d < 0) return false;
      value = value * 16 + static_cast<char32_t>(d);
    }
    return true;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t v = 0;
    if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == 'u' && hexAt(i + 2, 4, v)) {
      out += v;
      i += 5;
    } else if (s[i] == '%' && hexAt(i + 1, 2, v)) {
      out += v;
      i += 2;
    } else {
      out += s[i];
    }
  }
  // Join surrogate pairs; a lone half cannot be written as UTF-8.
  std::u32string joined;
  for (size_t i = 0; i < out.size(); ++i) {
    char32_t c = out[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 &&
        out[i + 1] <= 0xDFFF) {
      joined += 0x10000 + ((c - 0xD800) << 10) + (out[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      joined += utf8::kReplacement;
    } else {
      joined += c;
    }
  }
  return Variant(FromU32(joined));
}

// The byte functions count the bytes of VBScript's UTF-16 text, two per character. Texts here
// hold whole characters, so byte counts and positions round down to whole characters.
Variant LenB(Args a) {
  Variant n = Len(a);
  return n.IsNull() ? n : Variant::Whole(2 * static_cast<int64_t>(vb::CLng(n)));
}

Variant HalvedAt(Args a, size_t i, Variant (*fn)(Args), bool start) {
  std::vector<Variant> args(a.begin(), a.end());
  if (i < args.size() && !args[i].IsMissing()) {
    int32_t bytes = ArgLng(a, i);
    if (bytes < 0) Raise(err::kInvalidArgument);
    args[i] = Variant(start ? (bytes + 1) / 2 : bytes / 2);
  }
  return fn(Args(args, a.loc));
}
Variant LeftB(Args a) { return HalvedAt(a, 1, Left, false); }
Variant RightB(Args a) { return HalvedAt(a, 1, Right, false); }

Variant MidB(Args a) {
  std::vector<Variant> args(a.begin(), a.end());
  if (args.size() > 2 && !args[2].IsMissing()) args[2] = Variant(ArgLng(a, 2) / 2);
  return HalvedAt(Args(args, a.loc), 1, Mid, true);
}

Variant InStrB(Args a) {
  Variant r = a.size() >= 3 ? HalvedAt(a, 0, InStr, true) : InStr(a);
  if (r.IsNull()) return r;
  int32_t pos = vb::CLng(r);
  return Variant::Whole(pos == 0 ? 0 : 2 * static_cast<int64_t>(pos) - 1);
}

Variant AscB(Args a) {
  return Variant(static_cast<int16_t>(static_cast<uint16_t>(AscW(a).intVal()) & 0xFF));
}

Variant ChrB(Args a) {
  int32_t code = ArgLng(a, 0);
  if (code < 0 || code > 255) Raise(err::kInvalidArgument);
  return ChrW(a);
}

const Builtin kStrings[] = {
    {"LenB", 1, 1, LenB},
    {"LeftB", 2, 2, LeftB},
    {"RightB", 2, 2, RightB},
    {"MidB", 2, 3, MidB},
    {"InStrB", 2, 4, InStrB},
    {"AscB", 1, 1, AscB},
    {"ChrB", 1, 1, ChrB},
    {"Len", 1, 1, Len},
    {"Left", 2, 2, Left},
    {"Right", 2, 2, Right},
    {"Mid", 2, 3, Mid},
    {"InStr", 2, 4, InStr},
    {"InStrRev", 2, 4, InStrRev},
    {"Replace", 3, 6, Replace},
    {"Split", 1, 4, Split},
    {"Join", 1, 2, Join},
    {"Filter", 2, 4, Filter},
    {"Trim", 1, 1, Unary<vb::Trim>},
    {"LTrim", 1, 1, Unary<vb::LTrim>},
    {"RTrim", 1, 1, Unary<vb::RTrim>},
    {"UCase", 1, 1, Unary<vb::UCase>},
    {"LCase", 1, 1, Unary<vb::LCase>},
    {"Space", 1, 1, Space},
    {"String", 2, 2, StringFn},
    {"StrComp", 2, 3, StrComp},
    {"StrReverse", 1, 1, StrReverse},
    {"Asc", 1, 1, Asc},
    {"AscW", 1, 1, AscW},
    {"Chr", 1, 1, Chr},
    {"ChrW", 1, 1, ChrW},
    {"Escape", 1, 1, Escape},
    {"Unescape", 1, 1, Unescape},
};

}  // namespace

std::span<const Builtin> StringBuiltins() { return kStrings; }

}  // namespace fern::script::rt
