#include "db/criteria.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>

#include "db/Recordset.h"
#include "db/german_text.h"
#include "platform/host_error.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern::db {

namespace {

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like, IsNull, NotNull };

bool Nullish(const Variant& v) { return v.IsNull() || v.IsEmpty(); }

bool NumberLike(const Variant& v) {
  switch (v.type()) {
    case VType::Integer:
    case VType::Long:
    case VType::Single:
    case VType::Double:
    case VType::Currency:
    case VType::Byte:
    case VType::Date:
    case VType::Boolean:
      return true;
    default:
      return false;
  }
}

double AsDouble(const Variant& v) {
  switch (v.type()) {
    case VType::Integer:
      return v.intVal();
    case VType::Long:
      return v.longVal();
    case VType::Single:
      return v.singleVal();
    case VType::Double:
      return v.doubleVal();
    case VType::Date:
      return v.dateVal();
    case VType::Currency:
      return static_cast<double>(v.currencyVal()) / 10000.0;
    case VType::Byte:
      return v.byteVal();
    case VType::Boolean:
      return v.boolVal() ? -1.0 : 0.0;
    default:
      return 0.0;
  }
}

std::optional<double> TextNumber(std::string_view s) {
  s = text::TrimWhiteSpace(s);
  if (s.empty()) return std::nullopt;
  if (s.front() == '+') s.remove_prefix(1);
  double d = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec == std::errc() && p == s.data() + s.size()) return d;
  // German decimal comma, as the program's own texts write numbers.
  std::string t(s);
  for (char& c : t)
    if (c == ',') c = '.';
  auto [p2, ec2] = std::from_chars(t.data(), t.data() + t.size(), d);
  if (ec2 == std::errc() && p2 == t.data() + t.size()) return d;
  return std::nullopt;
}

int Sign(double x) { return x < 0 ? -1 : x > 0 ? 1 : 0; }

bool Apply(Op op, int c) {
  switch (op) {
    case Op::Eq:
      return c == 0;
    case Op::Ne:
      return c != 0;
    case Op::Lt:
      return c < 0;
    case Op::Gt:
      return c > 0;
    case Op::Le:
      return c <= 0;
    case Op::Ge:
      return c >= 0;
    default:
      return false;
  }
}

int ReadInt(std::string_view s, size_t& i, size_t maxDigits) {
  int v = 0;
  size_t start = i;
  while (i < s.size() && i - start < maxDigits && std::isdigit(static_cast<unsigned char>(s[i])))
    v = v * 10 + (s[i++] - '0');
  return i == start ? -1 : v;
}

}  // namespace

bool ParseCriteriaDate(std::string_view text, double& serial) {
  std::string_view s = text::TrimWhiteSpace(text);
  size_t i = 0;
  int a = ReadInt(s, i, 4);
  if (a < 0 || i >= s.size()) return false;
  char sep = s[i++];
  int b = ReadInt(s, i, 2);
  if (b < 0 || i >= s.size() || s[i] != sep) return false;
  ++i;
  int c = ReadInt(s, i, 4);
  if (c < 0) return false;
  int y, m, d;
  if (sep == '-') {
    y = a, m = b, d = c;
  } else if (sep == '.') {
    d = a, m = b, y = c;
  } else if (sep == '/') {
    m = a, d = b, y = c;
  } else {
    return false;
  }
  if (m < 1 || m > 12 || d < 1 || d > 31) return false;
  int hh = 0, nn = 0, ss = 0;
  if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
    while (i < s.size() && (s[i] == ' ' || s[i] == 'T')) ++i;
    hh = ReadInt(s, i, 2);
    if (hh < 0 || i >= s.size() || s[i] != ':') return false;
    ++i;
    nn = ReadInt(s, i, 2);
    if (nn < 0) return false;
    if (i < s.size() && s[i] == ':') {
      ++i;
      ss = ReadInt(s, i, 2);
      if (ss < 0) return false;
    }
    if (hh > 23 || nn > 59 || ss > 59) return false;
  }
  if (i != s.size()) return false;
  double day = vb::DateSerial(y, m, d);
  double t = vb::TimeSerial(hh, nn, ss);
  serial = day >= 0 ? day + t : day - t;
  return true;
}

int CompareValues(const Variant& a, const Variant& b) {
  bool an = Nullish(a), bn = Nullish(b);
  if (an || bn) return an == bn ? 0 : an ? -1 : 1;
  if (a.IsString() && b.IsString()) return CompareGerman(a.str(), b.str());
  if (NumberLike(a) && NumberLike(b)) return Sign(AsDouble(a) - AsDouble(b));
  if (a.IsString() && NumberLike(b)) {
    if (auto d = TextNumber(a.str())) return Sign(*d - AsDouble(b));
    return 1;  // texts after numbers
  }
  if (NumberLike(a) && b.IsString()) {
    if (auto d = TextNumber(b.str())) return Sign(AsDouble(a) - *d);
    return -1;
  }
  return 0;
}

struct Criteria::Node {
  enum Kind { And, Or, Cmp } kind = Cmp;
  int left = -1, right = -1;
  size_t field = 0;
  Op op = Op::Eq;
  Variant literal;                  // String, Double, Date or Null
  std::optional<double> litNumber;  // a text literal read as a number
  std::optional<double> litDate;    // a text literal read as a date
  std::shared_ptr<LikePattern> like;
};

namespace {

class Parser {
 public:
  Parser(std::string_view text, const std::function<int(std::string_view)>& resolve,
         std::vector<Criteria::Node>& nodes)
      : s_(text), resolve_(resolve), nodes_(nodes) {}

  int Parse() {
    int root = Or();
    SkipSpace();
    if (i_ != s_.size()) Fail("unexpected text at position " + std::to_string(i_ + 1));
    return root;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    throw HostError(dberr::kArgument, "Invalid filter criteria \"" + std::string(s_) + "\": " + why,
                    "Recordset");
  }
  void SkipSpace() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool IsWordChar(char c) const {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isalnum(u) || u == '_' || u >= 0x80;
  }
  bool Keyword(std::string_view kw) {
    SkipSpace();
    if (s_.size() - i_ < kw.size()) return false;
    for (size_t k = 0; k < kw.size(); ++k)
      if (std::toupper(static_cast<unsigned char>(s_[i_ + k])) != kw[k]) return false;
    if (i_ + kw.size() < s_.size() && IsWordChar(s_[i_ + kw.size()])) return false;
    i_ += kw.size();
    return true;
  }
  int Add(Criteria::Node n) {
    nodes_.push_back(std::move(n));
    return static_cast<int>(nodes_.size() - 1);
  }
  int Or() {
    int left = And();
    while (Keyword("OR")) {
      Criteria::Node n;
      n.kind = Criteria::Node::Or;
      n.left = left;
      n.right = And();
      left = Add(std::move(n));
    }
    return left;
  }
  int And() {
    int left = Primary();
    while (Keyword("AND")) {
      Criteria::Node n;
      n.kind = Criteria::Node::And;
      n.left = left;
      n.right = Primary();
      left = Add(std::move(n));
    }
    return left;
  }
  int Primary() {
    SkipSpace();
    if (i_ < s_.size() && s_[i_] == '(') {
      ++i_;
      int inner = Or();
      SkipSpace();
      if (i_ >= s_.size() || s_[i_] != ')') Fail("missing )");
      ++i_;
      return inner;
    }
    return Comparison();
  }
  std::string FieldName() {
    SkipSpace();
    if (i_ < s_.size() && s_[i_] == '[') {
      size_t end = s_.find(']', i_);
      if (end == std::string_view::npos) Fail("missing ]");
      std::string name(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return name;
    }
    size_t start = i_;
    while (i_ < s_.size() && IsWordChar(s_[i_])) ++i_;
    if (i_ == start) Fail("field name expected at position " + std::to_string(start + 1));
    return std::string(s_.substr(start, i_ - start));
  }
  int Comparison() {
    Criteria::Node n;
    std::string name = FieldName();
    int idx = resolve_(name);
    if (idx < 0)
      throw HostError(dberr::kItemNotFound,
                      "Item cannot be found in the collection corresponding to the requested "
                      "name or ordinal: " +
                          name + " (criteria \"" + std::string(s_) + "\")",
                      "Recordset");
    n.field = static_cast<size_t>(idx);
    SkipSpace();
    if (Keyword("LIKE")) {
      n.op = Op::Like;
    } else if (Keyword("IS")) {
      n.op = Keyword("NOT") ? Op::NotNull : Op::IsNull;
      if (!Keyword("NULL")) Fail("NULL expected after IS");
      return Add(std::move(n));
    } else {
      auto two = s_.substr(i_, 2);
      if (two == "<>" || two == "!=")
        n.op = Op::Ne, i_ += 2;
      else if (two == "<=")
        n.op = Op::Le, i_ += 2;
      else if (two == ">=")
        n.op = Op::Ge, i_ += 2;
      else if (i_ < s_.size() && s_[i_] == '=')
        n.op = Op::Eq, ++i_;
      else if (i_ < s_.size() && s_[i_] == '<')
        n.op = Op::Lt, ++i_;
      else if (i_ < s_.size() && s_[i_] == '>')
        n.op = Op::Gt, ++i_;
      else
        Fail("operator expected after " + name);
    }
    n.literal = Literal();
    if (n.op == Op::Like && !n.literal.IsString()) Fail("LIKE needs a text");
    if (n.op == Op::Like)
      n.like = std::make_shared<LikePattern>(n.literal.str(), LikeSyntax::Filter);
    if (n.literal.IsNull()) {
      if (n.op == Op::Eq)
        n.op = Op::IsNull;
      else if (n.op == Op::Ne)
        n.op = Op::NotNull;
      else
        Fail("Null only compares with = or <>");
    }
    if (n.literal.IsString()) {
      n.litNumber = TextNumber(n.literal.str());
      double d;
      if (ParseCriteriaDate(n.literal.str(), d)) n.litDate = d;
    }
    return Add(std::move(n));
  }
  Variant Literal() {
    SkipSpace();
    if (i_ >= s_.size()) Fail("value expected");
    char c = s_[i_];
    if (c == '\'' || c == '"') {
      std::string out;
      ++i_;
      for (;;) {
        if (i_ >= s_.size()) Fail("unterminated text");
        if (s_[i_] == c) {
          if (i_ + 1 < s_.size() && s_[i_ + 1] == c) {
            out += c;
            i_ += 2;
            continue;
          }
          ++i_;
          break;
        }
        out += s_[i_++];
      }
      return Variant(std::move(out));
    }
    if (c == '#') {
      size_t end = s_.find('#', i_ + 1);
      if (end == std::string_view::npos) Fail("unterminated date");
      double d;
      if (!ParseCriteriaDate(s_.substr(i_ + 1, end - i_ - 1), d)) Fail("invalid date");
      i_ = end + 1;
      return Variant::Date(d);
    }
    if (Keyword("NULL")) return Variant::Null();
    if (Keyword("TRUE")) return Variant(-1.0);
    if (Keyword("FALSE")) return Variant(0.0);
    size_t start = i_;
    if (c == '-' || c == '+') ++i_;
    while (i_ < s_.size() &&
           (std::isdigit(static_cast<unsigned char>(s_[i_])) || s_[i_] == '.' || s_[i_] == 'e' ||
            s_[i_] == 'E' ||
            ((s_[i_] == '-' || s_[i_] == '+') && (s_[i_ - 1] == 'e' || s_[i_ - 1] == 'E'))))
      ++i_;
    auto num = TextNumber(s_.substr(start, i_ - start));
    if (!num || i_ == start) Fail("value expected at position " + std::to_string(start + 1));
    return Variant(*num);
  }

  std::string_view s_;
  size_t i_ = 0;
  const std::function<int(std::string_view)>& resolve_;
  std::vector<Criteria::Node>& nodes_;
};

bool CompareNode(const Criteria::Node& n, const Variant& v) {
  if (n.op == Op::IsNull) return Nullish(v);
  if (n.op == Op::NotNull) return !Nullish(v);
  if (Nullish(v)) return false;
  const Variant& lit = n.literal;
  if (n.op == Op::Like) {
    if (v.IsString()) return n.like->Matches(v.str());
    return n.like->Matches(vb::CStr(v));
  }
  if (lit.IsString()) {
    if (v.IsString()) return Apply(n.op, CompareGerman(v.str(), lit.str()));
    if (v.type() == VType::Date) {
      if (!n.litDate) return false;
      return Apply(n.op, Sign(v.dateVal() - *n.litDate));
    }
    if (v.type() == VType::Boolean && n.litNumber) {
      if (n.op == Op::Eq || n.op == Op::Ne)
        return Apply(n.op, v.boolVal() == (*n.litNumber != 0) ? 0 : 1);
    }
    if (NumberLike(v)) {
      if (!n.litNumber) return false;
      return Apply(n.op, Sign(AsDouble(v) - *n.litNumber));
    }
    return false;
  }
  double litValue = lit.type() == VType::Date ? lit.dateVal() : lit.doubleVal();
  if (v.IsString()) {
    if (lit.type() == VType::Date) {
      double d;
      if (!ParseCriteriaDate(v.str(), d)) return false;
      return Apply(n.op, Sign(d - litValue));
    }
    auto d = TextNumber(v.str());
    if (!d) return false;
    return Apply(n.op, Sign(*d - litValue));
  }
  if (v.type() == VType::Boolean && (n.op == Op::Eq || n.op == Op::Ne))
    return Apply(n.op, v.boolVal() == (litValue != 0) ? 0 : 1);
  if (NumberLike(v)) return Apply(n.op, Sign(AsDouble(v) - litValue));
  return false;
}

bool Eval(const std::vector<Criteria::Node>& nodes, int i, const FieldSource& row) {
  const Criteria::Node& n = nodes[static_cast<size_t>(i)];
  switch (n.kind) {
    case Criteria::Node::And:
      return Eval(nodes, n.left, row) && Eval(nodes, n.right, row);
    case Criteria::Node::Or:
      return Eval(nodes, n.left, row) || Eval(nodes, n.right, row);
    case Criteria::Node::Cmp:
      break;
  }
  return CompareNode(n, row.Get(n.field));
}

}  // namespace

Criteria::Criteria(std::string_view text, const std::function<int(std::string_view)>& resolve) {
  Parser p(text, resolve, nodes_);
  root_ = p.Parse();
}

Criteria::~Criteria() = default;

bool Criteria::Matches(const FieldSource& row) const { return Eval(nodes_, root_, row); }

bool Criteria::Matches(const std::vector<Variant>& row) const {
  struct Plain final : FieldSource {
    explicit Plain(const std::vector<Variant>& v) : values(v) {}
    const Variant& Get(size_t field) const override { return values[field]; }
    const std::vector<Variant>& values;
  };
  return Eval(nodes_, root_, Plain(row));
}

}  // namespace fern::db
