#include "script/lexer.h"

#include <cmath>
#include <cstdlib>

#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"
#include "script/script_errors.h"

namespace fern::script {

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Letters beyond ASCII (German umlauts in UTF-8) may appear in names too.
bool IsNameStart(char c) { return IsAlpha(c) || static_cast<unsigned char>(c) >= 0x80; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

// Words after which an operand follows (If x = &10 Then, a And &7).
bool IsOperatorWord(std::string_view w) {
  return w == "and" || w == "or" || w == "xor" || w == "eqv" || w == "imp" || w == "not" ||
         w == "mod" || w == "is" || w == "to" || w == "step" || w == "then" || w == "case" ||
         w == "if" || w == "elseif" || w == "while" || w == "until" || w == "in";
}

// A whole-number literal takes the smallest of Integer, Long, Double that holds it.
Variant WholeLiteral(double d) {
  if (d <= 32767) return Variant(static_cast<int16_t>(d));
  if (d <= 2147483647.0) return Variant(static_cast<int32_t>(d));
  return Variant(d);
}

// &H/&O literals wrap as VB's do: up to 16 bits they are Integer (&HFFFF = -1), then Long.
Variant RadixLiteral(uint64_t v, int line, int& errorLine) {
  if (v <= 0xFFFF) return Variant(static_cast<int16_t>(static_cast<uint16_t>(v)));
  if (v <= 0xFFFFFFFFull) return Variant(static_cast<int32_t>(static_cast<uint32_t>(v)));
  errorLine = line;
  throw HostError(kErrOverflow, "Overflow");
}

// Date literals are written the US way (#12/31/2024#) or ISO (#2024-12-31#), whatever the locale.
bool ParseDateLiteral(std::string_view s, double& out) {
  int nums[3] = {0, 0, 0};
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && IsBlank(s[i])) ++i;
  };
  auto num = [&](int& v) {
    if (i >= s.size() || !IsDigit(s[i])) return false;
    v = 0;
    while (i < s.size() && IsDigit(s[i])) v = v * 10 + (s[i++] - '0');
    return true;
  };
  skip();
  double date = 0;
  bool haveDate = false;
  size_t save = i;
  if (num(nums[0]) && i < s.size() && (s[i] == '/' || s[i] == '-')) {
    char sep = s[i++];
    if (!num(nums[1]) || i >= s.size() || s[i] != sep) return false;
    ++i;
    if (!num(nums[2])) return false;
    if (sep == '-' && nums[0] > 31)
      date = vb::DateSerial(nums[0], nums[1], nums[2]);
    else
      date = vb::DateSerial(nums[2] < 100 ? nums[2] + (nums[2] < 30 ? 2000 : 1900) : nums[2],
                            nums[0], nums[1]);
    haveDate = true;
  } else {
    i = save;
  }
  skip();
  double time = 0;
  if (i < s.size()) {
    int h = 0, m = 0, sec = 0;
    if (!num(h)) return false;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!num(m)) return false;
      if (i < s.size() && s[i] == ':') {
        ++i;
        if (!num(sec)) return false;
      }
    }
    skip();
    std::string rest = text::LowerAscii(s.substr(i));
    if (rest == "pm" || rest == "p") {
      if (h < 12) h += 12;
    } else if (rest == "am" || rest == "a") {
      if (h == 12) h = 0;
    } else if (!rest.empty()) {
      return false;
    }
    time = vb::TimeSerial(h, m, sec);
  } else if (!haveDate) {
    return false;
  }
  out = date + (date < 0 ? -time : time);
  return true;
}

}  // namespace

std::vector<Token> Tokenize(std::string_view src, int& errorLine) {
  std::vector<Token> out;
  size_t i = 0;
  int line = 1;
  bool space = true;
  // A UTF-8 byte order mark is no character of the script.
  if (src.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
  auto fail = [&](int number, const char* text) -> void {
    errorLine = line;
    throw HostError(number, text);
  };
  auto push = [&](Tok k, std::string text) -> Token& {
    Token t;
    t.kind = k;
    t.text = std::move(text);
    t.line = line;
    t.spaceBefore = space;
    out.push_back(std::move(t));
    space = false;
    return out.back();
  };
  auto newline = [&](bool colon) {
    Token& t = push(Tok::Newline, colon ? ":" : "\n");
    t.colon = colon;
    space = true;
  };
  while (i < src.size()) {
    char c = src[i];
    if (IsBlank(c)) {
      ++i;
      space = true;
      continue;
    }
    if (c == '\r' || c == '\n') {
      newline(false);
      if (c == '\r' && i + 1 < src.size() && src[i + 1] == '\n') ++i;
      ++i;
      ++line;
      continue;
    }
    if (c == '\'') {
      while (i < src.size() && src[i] != '\r' && src[i] != '\n') ++i;
      continue;
    }
    if (c == ':') {
      newline(true);
      ++i;
      continue;
    }
    if (c == '_') {
      // " _" at the end of a line joins it with the next one.
      size_t j = i + 1;
      while (j < src.size() && IsBlank(src[j])) ++j;
      if (j >= src.size() || src[j] == '\r' || src[j] == '\n') {
        if (j < src.size() && src[j] == '\r' && j + 1 < src.size() && src[j + 1] == '\n') ++j;
        i = j + 1;
        ++line;
        // "obj _ / .Member" continues the member access; after anything else a leading '.'
        // stays a With member.
        space = out.empty() || !(out.back().kind == Tok::Ident || out.back().IsOp(")"));
        while (i < src.size() && IsBlank(src[i])) ++i;
        continue;
      }
      fail(kErrInvalidChar, "Invalid character");
    }
    if (IsNameStart(c)) {
      size_t j = i;
      while (j < src.size() && (IsNameStart(src[j]) || IsDigit(src[j]) || src[j] == '_')) ++j;
      std::string word(src.substr(i, j - i));
      std::string low = text::LowerAscii(word);
      bool afterDot = !out.empty() && out.back().IsOp(".");
      if (low == "rem" && !afterDot) {
        while (j < src.size() && src[j] != '\r' && src[j] != '\n') ++j;
        i = j;
        continue;
      }
      Token& t = push(Tok::Ident, std::move(word));
      t.lower = std::move(low);
      i = j;
      continue;
    }
    if (c == '[') {
      // [name with blanks]: an identifier VBScript takes literally.
      size_t j = src.find(']', i);
      if (j == std::string_view::npos) fail(kErrInvalidChar, "Invalid character");
      std::string word(src.substr(i + 1, j - i - 1));
      Token& t = push(Tok::Ident, word);
      t.lower = text::LowerAscii(word);
      t.bracketed = true;
      i = j + 1;
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < src.size() && IsDigit(src[i + 1]) &&
                       (space || out.empty() || out.back().kind == Tok::Op))) {
      size_t j = i;
      bool isFloat = false;
      while (j < src.size() && IsDigit(src[j])) ++j;
      if (j < src.size() && src[j] == '.') {
        isFloat = true;
        ++j;
        while (j < src.size() && IsDigit(src[j])) ++j;
      }
      if (j < src.size() && (src[j] == 'e' || src[j] == 'E')) {
        size_t k = j + 1;
        if (k < src.size() && (src[k] == '+' || src[k] == '-')) ++k;
        if (k < src.size() && IsDigit(src[k])) {
          isFloat = true;
          j = k;
          while (j < src.size() && IsDigit(src[j])) ++j;
        }
      }
      std::string text(src.substr(i, j - i));
      if (j < src.size() && (IsAlpha(src[j]) || src[j] == '_'))
        fail(kErrExpectedEnd, "Expected end of statement");
      double d = std::strtod(text.c_str(), nullptr);
      Token& t = push(Tok::Literal, text);
      t.value = isFloat ? Variant(d) : WholeLiteral(d);
      i = j;
      continue;
    }
    // &100 without its O is octal too, but only where an operand is expected (also "Echo &10"
    // after a blank): "a"&1 stays a concatenation.
    bool operandPlace = out.empty() || out.back().kind == Tok::Newline ||
                        (space && out.back().kind == Tok::Ident) ||
                        (out.back().kind == Tok::Op && !out.back().IsOp(")")) ||
                        (out.back().kind == Tok::Ident && IsOperatorWord(out.back().lower));
    if (c == '&' && i + 1 < src.size() &&
        (((src[i + 1] == 'h' || src[i + 1] == 'H') && i + 2 < src.size() && IsHex(src[i + 2])) ||
         ((src[i + 1] == 'o' || src[i + 1] == 'O') && i + 2 < src.size() && IsDigit(src[i + 2])) ||
         (operandPlace && src[i + 1] >= '0' && src[i + 1] <= '7'))) {
      bool hex = src[i + 1] == 'h' || src[i + 1] == 'H';
      size_t j = IsDigit(src[i + 1]) ? i + 1 : i + 2;
      uint64_t v = 0;
      while (j < src.size() && (hex ? IsHex(src[j]) : (src[j] >= '0' && src[j] <= '7'))) {
        char d = src[j++];
        int dv = IsDigit(d) ? d - '0' : (d | 0x20) - 'a' + 10;
        v = v * (hex ? 16 : 8) + static_cast<uint64_t>(dv);
        if (v > 0xFFFFFFFFull) fail(kErrOverflow, "Overflow");
      }
      bool asLong = j < src.size() && src[j] == '&';  // the Long type suffix
      if (asLong) ++j;
      Token& t = push(Tok::Literal, std::string(src.substr(i, j - i)));
      t.value = asLong ? Variant(static_cast<int32_t>(static_cast<uint32_t>(v)))
                       : RadixLiteral(v, line, errorLine);
      i = j;
      continue;
    }
    if (c == '"') {
      std::string s;
      size_t j = i + 1;
      for (;;) {
        if (j >= src.size() || src[j] == '\r' || src[j] == '\n')
          fail(kErrUnterminatedString, "Unterminated string constant");
        if (src[j] == '"') {
          if (j + 1 < src.size() && src[j + 1] == '"') {
            s += '"';
            j += 2;
            continue;
          }
          break;
        }
        s += src[j++];
      }
      Token& t = push(Tok::Literal, std::string(src.substr(i, j + 1 - i)));
      t.value = Variant(std::move(s));
      i = j + 1;
      continue;
    }
    if (c == '#') {
      size_t j = i + 1;
      while (j < src.size() && src[j] != '#' && src[j] != '\r' && src[j] != '\n') ++j;
      double serial = 0;
      if (j >= src.size() || src[j] != '#') fail(kErrSyntax, "Syntax error");
      std::string_view body = src.substr(i + 1, j - i - 1);
      if (!ParseDateLiteral(body, serial) && !vb::ParseDate(body, serial))
        fail(kErrSyntax, "Syntax error");
      Token& t = push(Tok::Literal, std::string(src.substr(i, j + 1 - i)));
      t.value = Variant::Date(serial);
      i = j + 1;
      continue;
    }
    static const char* const kTwo[] = {"<>", "<=", ">=", "=<", "=>", "><"};
    bool two = false;
    for (const char* op : kTwo) {
      if (src.substr(i, 2) == op) {
        std::string norm = op;
        if (norm == "=<") norm = "<=";
        if (norm == "=>") norm = ">=";
        if (norm == "><") norm = "<>";
        push(Tok::Op, norm);
        i += 2;
        two = true;
        break;
      }
    }
    if (two) continue;
    if (std::string_view("+-*/\\^&=<>(),.").find(c) != std::string_view::npos) {
      push(Tok::Op, std::string(1, c));
      ++i;
      continue;
    }
    fail(kErrInvalidChar, "Invalid character");
  }
  newline(false);
  Token end;
  end.kind = Tok::End;
  end.line = line;
  out.push_back(std::move(end));
  return out;
}

}  // namespace fern::script
