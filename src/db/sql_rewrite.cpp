#include "db/sql_rewrite.h"

#include <algorithm>
#include <cctype>

#include "db/german_text.h"
#include "platform/text.h"

namespace fern::db {

namespace {

struct Token {
  enum Kind { Space, Word, QuotedIdent, String, Number, Punct, Comment } kind;
  std::string_view text;
  bool lineBreak = false;  // Space: holds a line break
};

bool IsWordByte(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '@' || c == '$' || c == '#' || c >= 0x80;
}

// Never fails: an unterminated literal runs to the end of the text, SQLite reports it.
std::vector<Token> Lex(std::string_view s) {
  std::vector<Token> out;
  size_t i = 0, n = s.size();
  while (i < n) {
    size_t start = i;
    unsigned char c = static_cast<unsigned char>(s[i]);
    Token::Kind kind;
    bool lineBreak = false;
    if (std::isspace(c)) {
      while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) {
        if (s[i] == '\n' || s[i] == '\r') lineBreak = true;
        ++i;
      }
      kind = Token::Space;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      char close = c == '[' ? ']' : static_cast<char>(c);
      ++i;
      while (i < n) {
        if (s[i] == close) {
          if (close != ']' && i + 1 < n && s[i + 1] == close) {
            i += 2;  // doubled quote inside the literal
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      kind = c == '\'' ? Token::String : Token::QuotedIdent;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      kind = Token::Comment;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      size_t end = s.find("*/", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
      kind = Token::Comment;
    } else if (std::isdigit(c) ||
               (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      while (i < n && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.')) ++i;
      kind = Token::Number;
    } else if (IsWordByte(c)) {
      while (i < n && IsWordByte(static_cast<unsigned char>(s[i]))) ++i;
      kind = Token::Word;
    } else {
      ++i;
      kind = Token::Punct;
    }
    out.push_back({kind, s.substr(start, i - start), lineBreak});
  }
  return out;
}

bool IsWord(const Token& t, std::string_view upper) {
  return t.kind == Token::Word && t.text.size() == upper.size() &&
         text::UpperAscii(t.text) == upper;
}

bool Significant(const Token& t) { return t.kind != Token::Space && t.kind != Token::Comment; }

bool OneOf(const std::string& w, std::initializer_list<std::string_view> list) {
  return std::find(list.begin(), list.end(), w) != list.end();
}

bool StartsStatement(const std::string& w) {
  return OneOf(w, {"SELECT", "INSERT", "UPDATE", "DELETE", "EXEC", "EXECUTE", "CREATE", "DROP",
                   "ALTER", "REPLACE", "WITH", "BEGIN", "COMMIT", "ROLLBACK", "PRAGMA"});
}

std::string Unquote(std::string_view lit) {
  std::string out;
  for (size_t i = 1; i + 1 < lit.size(); ++i) {
    out += lit[i];
    if (lit[i] == '\'' && lit[i + 1] == '\'') ++i;
  }
  return out;
}

}  // namespace

std::string FoldIdentifier(std::string_view name) {
  return text::IsAscii(name) ? std::string(name) : FoldKey(name);
}

std::vector<std::string> SplitBatch(std::string_view batch) {
  std::vector<Token> toks = Lex(batch);
  std::vector<std::string> out;
  std::string cur;
  int depth = 0;
  std::string verb;          // first word of the statement
  bool withHasVerb = false;  // WITH ... : its main verb seen at depth 0
  bool sawValues = false;
  std::string last;  // last significant token, upper case
  auto flush = [&] {
    if (!text::TrimWhiteSpace(cur).empty()) out.push_back(cur);
    cur.clear();
    verb.clear();
    withHasVerb = sawValues = false;
    last.clear();
    depth = 0;
  };
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    if (t.kind == Token::Punct && t.text == ";" && depth == 0) {
      flush();
      continue;
    }
    if (t.kind == Token::Space && t.lineBreak && depth == 0 && !verb.empty()) {
      size_t j = i + 1;
      while (j < toks.size() && !Significant(toks[j])) ++j;
      if (j < toks.size() && toks[j].kind == Token::Word) {
        std::string next = text::UpperAscii(toks[j].text);
        size_t k = j + 1;
        while (k < toks.size() && !Significant(toks[k])) ++k;
        bool call = k < toks.size() && toks[k].text == "(";
        bool split = StartsStatement(next) && !(next == "REPLACE" && call);
        if (split &&
            OneOf(last, {"UNION",    "ALL",   "EXCEPT",  "INTERSECT", "AS",     "ON",     "SELECT",
                         "DISTINCT", "WHERE", "AND",     "OR",        "NOT",    "SET",    "FROM",
                         "BY",       "THEN",  "ELSE",    "WHEN",      "IN",     "EXISTS", "INTO",
                         "VALUES",   "JOIN",  "INSTEAD", "OF",        "BEFORE", "AFTER"}))
          split = false;
        if (split && !last.empty() && last.size() == 1 &&
            !std::isalnum(static_cast<unsigned char>(last[0])) && last != ")" && last != "'")
          split = false;  // after a comma or an operator the expression goes on
        if (split && next == "SELECT" && (verb == "INSERT" || verb == "REPLACE") && !sawValues)
          split = false;
        if (split && verb == "WITH" && !withHasVerb) split = false;
        if (split) {
          flush();
          continue;
        }
      }
    }
    if (Significant(t)) {
      std::string u;
      if (t.kind == Token::Word)
        u = text::UpperAscii(t.text);
      else if (t.kind == Token::String)
        u.assign(1, '\'');
      else
        u.assign(t.text.data(), t.text.size());
      if (verb.empty()) verb = u;
      if (t.text == "(") ++depth;
      if (t.text == ")" && depth > 0) --depth;
      if (depth == 0 && verb == "WITH" && OneOf(u, {"SELECT", "INSERT", "UPDATE", "DELETE"}))
        withHasVerb = true;
      if (u == "VALUES") sawValues = true;
      last = u;
    }
    cur.append(t.text);
  }
  flush();
  return out;
}

SqlStatement RewriteStatement(std::string_view statement) {
  SqlStatement st;
  st.original = std::string(statement);
  std::vector<Token> toks = Lex(statement);
  auto nextSig = [&](size_t i) {
    while (i < toks.size() && !Significant(toks[i])) ++i;
    return i;
  };

  size_t first = nextSig(0);
  if (first < toks.size() && (IsWord(toks[first], "EXEC") || IsWord(toks[first], "EXECUTE"))) {
    st.isExec = true;
    size_t p = nextSig(first + 1);
    if (p < toks.size()) {
      st.procedure = std::string(toks[p].text);
      if (toks[p].kind == Token::QuotedIdent)
        st.procedure = st.procedure.substr(1, st.procedure.size() - 2);
      std::string arg;
      bool any = false;
      for (size_t i = p + 1; i < toks.size(); ++i) {
        if (toks[i].kind == Token::Punct && toks[i].text == ",") {
          st.args.emplace_back(text::TrimWhiteSpace(arg));
          arg.clear();
          continue;
        }
        if (Significant(toks[i])) any = true;
        arg += toks[i].kind == Token::String ? Unquote(toks[i].text) : std::string(toks[i].text);
      }
      if (any || !st.args.empty()) st.args.emplace_back(text::TrimWhiteSpace(arg));
    }
    return st;
  }

  // Pending LIMITs: (parenthesis depth of their query, count).
  std::vector<std::pair<int, std::string>> limits;
  std::string out;
  int depth = 0;
  int selectListDepth = -1;  // depth of the SELECT whose result columns we look at
  bool inSelectList = false;
  bool inFrom = false;
  std::string lastSig;
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    if (t.kind == Token::Punct && t.text == "(") ++depth;
    if (t.kind == Token::Punct && t.text == ")") {
      while (!limits.empty() && limits.back().first == depth) {
        out += " LIMIT " + limits.back().second;
        limits.pop_back();
      }
      if (depth > 0) --depth;
    }
    if (t.kind == Token::Word && text::UpperAscii(t.text) == "SELECT") {
      out.append(t.text);
      if (depth == 0 && selectListDepth < 0) {
        selectListDepth = 0;
        inSelectList = true;
      }
      size_t j = nextSig(i + 1);
      if (j < toks.size() && (IsWord(toks[j], "DISTINCT") || IsWord(toks[j], "ALL")))
        j = nextSig(j + 1);
      if (j < toks.size() && IsWord(toks[j], "TOP")) {
        size_t k = nextSig(j + 1);
        bool paren = k < toks.size() && toks[k].text == "(";
        size_t num = paren ? nextSig(k + 1) : k;
        if (num < toks.size() && toks[num].kind == Token::Number) {
          size_t end = paren ? nextSig(num + 1) : num;
          if (!paren || (end < toks.size() && toks[end].text == ")")) {
            // Keep what lies between SELECT and TOP (DISTINCT), drop `TOP n`.
            for (size_t x = i + 1; x < j; ++x) out.append(toks[x].text);
            limits.emplace_back(depth, std::string(toks[num].text));
            i = end;
            if (i + 1 < toks.size() && toks[i + 1].kind == Token::Space) ++i;
            lastSig = "TOP";
            continue;
          }
        }
      }
      lastSig = "SELECT";
      continue;
    }
    if (inSelectList && depth == 0 && IsWord(t, "FROM")) {
      inSelectList = false;
      inFrom = true;
    } else if (inFrom && depth == 0 && t.kind == Token::Word) {
      std::string w = text::UpperAscii(t.text);
      if (w == "JOIN") st.joined = true;
      if (OneOf(w, {"WHERE", "GROUP", "ORDER", "HAVING", "LIMIT", "WINDOW"})) inFrom = false;
    } else if (inFrom && depth == 0 && t.text == ",") {
      st.joined = true;
    }
    if (depth == 0 && (IsWord(t, "UNION") || IsWord(t, "EXCEPT") || IsWord(t, "INTERSECT")))
      st.joined = true;
    if (inSelectList && depth == 0 && IsWord(t, "CAST") &&
        (lastSig == "SELECT" || lastSig == "," || lastSig == "DISTINCT" || lastSig == "TOP" ||
         lastSig == "ALL")) {
      // A whole result column `CAST(expr AS type) [[AS] alias]`: remember its declared type.
      size_t open = nextSig(i + 1);
      if (open < toks.size() && toks[open].text == "(") {
        int d = 0;
        size_t close = open, asAt = 0;
        for (; close < toks.size(); ++close) {
          if (toks[close].text == "(") ++d;
          if (toks[close].text == ")" && --d == 0) break;
          if (d == 1 && IsWord(toks[close], "AS")) asAt = close;
        }
        if (close < toks.size() && asAt != 0) {
          std::string type;
          for (size_t x = asAt + 1; x < close; ++x)
            if (Significant(toks[x])) type += text::UpperAscii(toks[x].text);
          size_t a = nextSig(close + 1);
          std::string name;
          if (a < toks.size() && IsWord(toks[a], "AS")) a = nextSig(a + 1);
          size_t after = a;
          if (a < toks.size() &&
              (toks[a].kind == Token::Word || toks[a].kind == Token::QuotedIdent) &&
              !IsWord(toks[a], "FROM")) {
            name = std::string(toks[a].text);
            if (toks[a].kind == Token::QuotedIdent) name = name.substr(1, name.size() - 2);
            after = nextSig(a + 1);
          } else {
            std::string expr;
            for (size_t x = i; x <= close; ++x) expr.append(toks[x].text);
            name = expr;
          }
          if (after >= toks.size() || toks[after].text == "," || IsWord(toks[after], "FROM"))
            st.castTypes.emplace_back(FoldKey(FoldIdentifier(name)), type);
        }
      }
    }
    const bool identifier =
        t.kind == Token::Word || (t.kind == Token::QuotedIdent && t.text.front() == '"');
    if (identifier && !text::IsAscii(t.text)) {
      out += FoldKey(t.text);
    } else {
      out.append(t.text);
    }
    if (Significant(t))
      lastSig = t.kind == Token::Word ? text::UpperAscii(t.text) : std::string(t.text);
  }
  // LIMITs of the outer query go before trailing blanks.
  if (!limits.empty()) {
    size_t end = out.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(out[end - 1]))) --end;
    std::string tail = out.substr(end);
    out.resize(end);
    while (!limits.empty()) {
      out += " LIMIT " + limits.back().second;
      limits.pop_back();
    }
    out += tail;
  }
  st.text = std::move(out);
  return st;
}

std::vector<SqlStatement> RewriteBatch(std::string_view batch) {
  std::vector<SqlStatement> out;
  for (const std::string& s : SplitBatch(batch)) out.push_back(RewriteStatement(s));
  return out;
}

}  // namespace fern::db
