// VB's operators on Variants: result types, overflow promotion, Null propagation.
#include <cmath>
#include <limits>

#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

using detail::Raise;

namespace {

// Numeric kinds in VB's order of precision; an operation takes the wider kind of its operands.
enum class Kind { None, Byte, Integer, Long, Single, Double, Currency, Date };

// The kind an operand takes part in arithmetic with; Empty is None (it adopts the other side).
Kind KindOf(const Variant& v) {
  switch (v.type()) {
    case VType::Empty:
      return Kind::None;
    case VType::Boolean:
    case VType::Integer:
      return Kind::Integer;
    case VType::Byte:
      return Kind::Byte;
    case VType::Long:
      return Kind::Long;
    case VType::Single:
      return Kind::Single;
    case VType::Double:
    case VType::String:
      return Kind::Double;
    case VType::Currency:
      return Kind::Currency;
    case VType::Date:
      return Kind::Date;
    default:
      Raise(err::kTypeMismatch);
  }
}

double AsDouble(const Variant& v, const Locale& loc) { return v.IsEmpty() ? 0.0 : CDbl(v, loc); }

int64_t AsWhole(const Variant& v, const Locale& loc) {
  switch (v.type()) {
    case VType::Empty:
      return 0;
    case VType::Boolean:
      return v.boolVal() ? -1 : 0;
    case VType::Byte:
      return v.byteVal();
    case VType::Integer:
      return v.intVal();
    case VType::Long:
      return v.longVal();
    default:
      return CLng(v, loc);
  }
}

int64_t AsCurrency(const Variant& v, const Locale& loc) { return v.IsEmpty() ? 0 : CCur(v, loc); }

Kind Wider(Kind a, Kind b) {
  if (a == Kind::None) return b == Kind::None ? Kind::Integer : b;
  if (b == Kind::None) return a;
  // Single cannot hold every Long exactly, so the pair goes to Double.
  if ((a == Kind::Single && b == Kind::Long) || (a == Kind::Long && b == Kind::Single))
    return Kind::Double;
  return a > b ? a : b;
}

// A whole result in the narrowest kind from `k` up that holds it (VB's overflow promotion).
Variant FitWhole(int64_t r, Kind k) {
  if (k == Kind::Byte && r >= 0 && r <= 255) return Variant::Byte(static_cast<uint8_t>(r));
  if (k <= Kind::Integer && r >= INT16_MIN && r <= INT16_MAX)
    return Variant(static_cast<int16_t>(r));
  return Variant::Whole(r);
}

Variant CheckedDouble(double r) {
  if (std::isinf(r) || std::isnan(r)) Raise(err::kOverflow);
  return Variant(r);
}

Variant CheckedDate(double r) {
  if (!detail::InDateRange(r)) Raise(err::kOverflow);
  return Variant::Date(r);
}

Variant CheckedCurrency(__int128 scaled) {
  if (scaled > std::numeric_limits<int64_t>::max() || scaled < std::numeric_limits<int64_t>::min())
    Raise(err::kOverflow);
  return Variant::Currency(static_cast<int64_t>(scaled));
}

__int128 DivRoundHalfEven(__int128 n, __int128 d) {
  __int128 q = n / d, r = n % d;
  __int128 twice = 2 * (r < 0 ? -r : r);
  __int128 ad = d < 0 ? -d : d;
  if (twice > ad || (twice == ad && (q & 1))) q += ((n < 0) != (d < 0)) ? -1 : 1;
  return q;
}

// Null in arithmetic makes the result Null, but the other operand must still be a value:
// objects and arrays are a mismatch even next to Null.
bool EitherNull(const Variant& a, const Variant& b) {
  if (!a.IsNull() && !b.IsNull()) return false;
  KindOf(a.IsNull() ? b : a);
  return true;
}

enum class Op { Add, Sub, Mul };

Variant Arith(Op op, const Variant& a, const Variant& b, const Locale& loc) {
  if (EitherNull(a, b)) return Variant::Null();
  Kind k = Wider(KindOf(a), KindOf(b));
  if (k == Kind::Date) {
    if (op == Op::Mul) k = Kind::Double;
    // The distance between two dates is a number of days, not a date.
    if (op == Op::Sub && a.type() == VType::Date && b.type() == VType::Date) k = Kind::Double;
  }
  switch (k) {
    case Kind::None:
    case Kind::Byte:
    case Kind::Integer:
    case Kind::Long: {
      int64_t x = AsWhole(a, loc), y = AsWhole(b, loc);
      int64_t r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
      return FitWhole(r, k);
    }
    case Kind::Single: {
      double r = op == Op::Add   ? AsDouble(a, loc) + AsDouble(b, loc)
                 : op == Op::Sub ? AsDouble(a, loc) - AsDouble(b, loc)
                                 : AsDouble(a, loc) * AsDouble(b, loc);
      if (std::fabs(r) > std::numeric_limits<float>::max()) return CheckedDouble(r);
      return Variant::Single(static_cast<float>(r));
    }
    case Kind::Double:
    case Kind::Date: {
      double x = AsDouble(a, loc), y = AsDouble(b, loc);
      double r = op == Op::Add ? x + y : op == Op::Sub ? x - y : x * y;
      return k == Kind::Date ? CheckedDate(r) : CheckedDouble(r);
    }
    case Kind::Currency: {
      __int128 x = AsCurrency(a, loc), y = AsCurrency(b, loc);
      if (op == Op::Add) return CheckedCurrency(x + y);
      if (op == Op::Sub) return CheckedCurrency(x - y);
      return CheckedCurrency(DivRoundHalfEven(x * y, 10000));
    }
  }
  Raise(err::kTypeMismatch);
}

// Operands of \ and Mod: whole numbers after half-even rounding, in the kind of the result.
Kind WholeKind(const Variant& a, const Variant& b) {
  auto small = [](const Variant& v) {
    switch (v.type()) {
      case VType::Empty:
      case VType::Boolean:
      case VType::Integer:
      case VType::Byte:
        return true;
      default:
        return false;
    }
  };
  if (a.type() == VType::Byte && b.type() == VType::Byte) return Kind::Byte;
  if (small(a) && small(b)) return Kind::Integer;
  return Kind::Long;
}

// Kind of one operand of a bitwise operator.
Kind LogicKind(const Variant& v) {
  switch (v.type()) {
    case VType::Byte:
      return Kind::Byte;
    case VType::Empty:
    case VType::Boolean:
    case VType::Integer:
      return Kind::Integer;
    case VType::Object:
    case VType::Array:
    case VType::Error:
      Raise(err::kTypeMismatch);
    default:
      return Kind::Long;
  }
}

int64_t LogicValue(const Variant& v, const Locale& loc) {
  if (v.type() == VType::String) {
    // Texts take part as numbers, or as the Boolean words CBool knows.
    double d;
    if (!ParseNumber(v.str(), d, loc)) return CBool(v, loc) ? -1 : 0;
  }
  return AsWhole(v, loc);
}

Variant TypedWhole(int64_t r, Kind k) {
  if (k == Kind::Byte) return Variant::Byte(static_cast<uint8_t>(r & 0xFF));
  if (k == Kind::Integer) return Variant(static_cast<int16_t>(r));
  return Variant(static_cast<int32_t>(r));
}

enum class LogicOp { And, Or, Xor, Eqv, Imp };

int64_t ApplyLogic(LogicOp op, int64_t x, int64_t y) {
  switch (op) {
    case LogicOp::And:
      return x & y;
    case LogicOp::Or:
      return x | y;
    case LogicOp::Xor:
      return x ^ y;
    case LogicOp::Eqv:
      return ~(x ^ y);
    case LogicOp::Imp:
      return ~x | y;
  }
  return 0;
}

// All bits set in the operand's own width (True, -1, or 255 for a Byte).
bool AllBits(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Byte) return v.byteVal() == 0xFF;
  return LogicValue(v, loc) == -1;
}

Variant Logic(LogicOp op, const Variant& a, const Variant& b, const Locale& loc) {
  if (a.IsNull() || b.IsNull()) {
    if (a.IsNull() && b.IsNull()) return Variant::Null();
    const Variant& other = a.IsNull() ? b : a;
    bool otherIsLeft = !a.IsNull();
    Kind k = LogicKind(other);
    // Where the other side alone decides the result, VB gives it; otherwise Null.
    switch (op) {
      case LogicOp::And:
        if (LogicValue(other, loc) == 0)
          return other.type() == VType::Boolean ? Variant(false) : TypedWhole(0, k);
        break;
      case LogicOp::Or:
        if (AllBits(other, loc))
          return other.type() == VType::Boolean ? Variant(true) : TypedWhole(-1, k);
        break;
      case LogicOp::Imp:
        // x Imp Null is True when x is False; Null Imp y is True when y is True.
        if (otherIsLeft ? LogicValue(other, loc) == 0 : AllBits(other, loc))
          return other.type() == VType::Boolean ? Variant(true) : TypedWhole(-1, k);
        break;
      default:
        break;
    }
    return Variant::Null();
  }
  if (a.type() == VType::Boolean && b.type() == VType::Boolean)
    return Variant(ApplyLogic(op, a.boolVal() ? -1 : 0, b.boolVal() ? -1 : 0) != 0);
  Kind ka = LogicKind(a), kb = LogicKind(b);
  return TypedWhole(ApplyLogic(op, LogicValue(a, loc), LogicValue(b, loc)), ka > kb ? ka : kb);
}

bool IsNumericLike(const Variant& v) {
  switch (v.type()) {
    case VType::Empty:
    case VType::Boolean:
    case VType::Date:
      return true;
    default:
      return v.IsNumber();
  }
}

}  // namespace

Variant Add(const Variant& a, const Variant& b, const Locale& loc) {
  if (a.IsString() && (b.IsString() || b.IsEmpty()))
    return Variant(a.str() + (b.IsString() ? b.str() : ""));
  if (a.IsEmpty() && b.IsString()) return b;
  return Arith(Op::Add, a, b, loc);
}

Variant Sub(const Variant& a, const Variant& b, const Locale& loc) {
  return Arith(Op::Sub, a, b, loc);
}
Variant Mul(const Variant& a, const Variant& b, const Locale& loc) {
  return Arith(Op::Mul, a, b, loc);
}

Variant Div(const Variant& a, const Variant& b, const Locale& loc) {
  if (EitherNull(a, b)) return Variant::Null();
  KindOf(a);
  KindOf(b);
  double x = AsDouble(a, loc), y = AsDouble(b, loc);
  if (y == 0) Raise(err::kDivByZero);
  return CheckedDouble(x / y);
}

Variant IntDiv(const Variant& a, const Variant& b, const Locale& loc) {
  if (EitherNull(a, b)) return Variant::Null();
  Kind k = WholeKind(a, b);
  int64_t x = AsWhole(a, loc), y = AsWhole(b, loc);
  if (y == 0) Raise(err::kDivByZero);
  int64_t r = x / y;
  if (k == Kind::Long && (r > INT32_MAX || r < INT32_MIN)) Raise(err::kOverflow);
  return FitWhole(r, k);
}

Variant Mod(const Variant& a, const Variant& b, const Locale& loc) {
  if (EitherNull(a, b)) return Variant::Null();
  Kind k = WholeKind(a, b);
  int64_t x = AsWhole(a, loc), y = AsWhole(b, loc);
  if (y == 0) Raise(err::kDivByZero);
  return FitWhole(x % y, k);
}

Variant Pow(const Variant& a, const Variant& b, const Locale& loc) {
  if (EitherNull(a, b)) return Variant::Null();
  KindOf(a);
  KindOf(b);
  double x = AsDouble(a, loc), y = AsDouble(b, loc);
  if (x == 0 && y < 0) Raise(err::kInvalidArgument);
  if (x < 0 && y != std::floor(y)) Raise(err::kInvalidArgument);
  return CheckedDouble(std::pow(x, y));
}

Variant Neg(const Variant& a, const Locale& loc) {
  switch (a.type()) {
    case VType::Null:
      return Variant::Null();
    case VType::Empty:
      return Variant(int16_t{0});
    case VType::Boolean:
    case VType::Integer:
    case VType::Byte:
    case VType::Long:
      return FitWhole(-AsWhole(a, loc), Kind::Integer);
    case VType::Single:
      return Variant::Single(-a.singleVal());
    case VType::Double:
      return Variant(-a.doubleVal());
    case VType::String:
      return CheckedDouble(-CDbl(a, loc));
    case VType::Currency:
      return CheckedCurrency(-static_cast<__int128>(a.currencyVal()));
    case VType::Date:
      return CheckedDate(-a.dateVal());
    default:
      Raise(err::kTypeMismatch);
  }
}

Variant Concat(const Variant& a, const Variant& b, const Locale& loc) {
  if (a.IsNull() && b.IsNull()) return Variant::Null();
  std::string s = a.IsNull() ? std::string() : CStr(a, loc);
  if (!b.IsNull()) s += CStr(b, loc);
  return Variant(std::move(s));
}

Variant Not(const Variant& a, const Locale& loc) {
  if (a.IsNull()) return Variant::Null();
  if (a.type() == VType::Boolean) return Variant(!a.boolVal());
  return TypedWhole(~LogicValue(a, loc), LogicKind(a));
}

Variant And(const Variant& a, const Variant& b, const Locale& loc) {
  return Logic(LogicOp::And, a, b, loc);
}
Variant Or(const Variant& a, const Variant& b, const Locale& loc) {
  return Logic(LogicOp::Or, a, b, loc);
}
Variant Xor(const Variant& a, const Variant& b, const Locale& loc) {
  return Logic(LogicOp::Xor, a, b, loc);
}
Variant Eqv(const Variant& a, const Variant& b, const Locale& loc) {
  return Logic(LogicOp::Eqv, a, b, loc);
}
Variant Imp(const Variant& a, const Variant& b, const Locale& loc) {
  return Logic(LogicOp::Imp, a, b, loc);
}

int Compare(const Variant& a, const Variant& b, bool& isNull, bool textCompare) {
  isNull = false;
  if (a.IsNull() || b.IsNull()) {
    isNull = true;
    return 0;
  }
  bool aText = a.IsString(), bText = b.IsString();
  if (aText || bText) {
    if (aText && bText) return StrComp(a.str(), b.str(), textCompare);
    const Variant& other = aText ? b : a;
    if (other.IsEmpty())
      return aText ? StrComp(a.str(), "", textCompare) : StrComp("", b.str(), textCompare);
    if (!IsNumericLike(other)) Raise(err::kTypeMismatch);
    return aText ? 1 : -1;  // a number sorts before any text
  }
  if (!IsNumericLike(a) || !IsNumericLike(b)) Raise(err::kTypeMismatch);
  if (a.type() == VType::Currency && b.type() == VType::Currency) {
    int64_t x = a.currencyVal(), y = b.currencyVal();
    return x < y ? -1 : x > y ? 1 : 0;
  }
  // Both sides are numbers here: no text to read, so the locale plays no part.
  double x = AsDouble(a, German()), y = AsDouble(b, German());
  if (a.type() == VType::Single || b.type() == VType::Single) {
    // VB compares in the narrower precision: CSng(0.1) = 0.1.
    float fx = static_cast<float>(x), fy = static_cast<float>(y);
    return fx < fy ? -1 : fx > fy ? 1 : 0;
  }
  return x < y ? -1 : x > y ? 1 : 0;
}

namespace {

// What text meeting a value of another kind is compared as.
enum class TextRule {
  kTextGreater,      // the text is greater, whatever it holds
  kAsText,           // the text against the other side's text form
  kNumberOrGreater,  // the text read as a number; text that is none is greater
  kNumber,           // the text read as a number; text that is none is error 13
  kDate,             // the text read as a date; text that is none is error 13
};

// One table per kind of the other side. Rows: how the text was written; columns: how the other
// side was; both in the order of Written (not written, constant, literal).
using Rules = TextRule[3][3];
constexpr TextRule G = TextRule::kTextGreater, T = TextRule::kAsText,
                   N = TextRule::kNumberOrGreater, E = TextRule::kNumber, D = TextRule::kDate;
constexpr Rules kAgainstNumber = {
    {G, N, N},  // x = 5 and x = FIVE read x; x = n finds the text greater
    {T, N, N},
    {T, T, E},  // "abc" = 5 is 13; "abc" = FIVE, "abc" = -5, "5" = CInt(5) compare as text
};
constexpr Rules kAgainstBoolean = {
    {G, N, T},  // s = True compares as text; s = b finds the text greater
    {T, N, T},
    {T, T, T},  // "True" = True, "True" = b
};
constexpr Rules kAgainstDate = {
    {G, D, D},  // a fixed date wants text that reads as a date
    {T, D, D},
    {T, D, D},
};

int Order(double x, double y) { return x < y ? -1 : x > y ? 1 : 0; }

}  // namespace

int CompareWritten(const Variant& a, Written aHow, const Variant& b, Written bHow, bool& isNull,
                   const Locale& loc) {
  if (a.IsString() == b.IsString() || a.IsEmpty() || b.IsEmpty() || a.IsNull() || b.IsNull())
    return Compare(a, b, isNull);
  isNull = false;
  const bool textLeft = a.IsString();
  const std::string& text = (textLeft ? a : b).str();
  const Variant& other = textLeft ? b : a;
  if (!IsNumericLike(other)) Raise(err::kTypeMismatch);
  const Rules& rules = other.type() == VType::Boolean ? kAgainstBoolean
                       : other.type() == VType::Date  ? kAgainstDate
                                                      : kAgainstNumber;
  const TextRule rule =
      rules[static_cast<int>(textLeft ? aHow : bHow)][static_cast<int>(textLeft ? bHow : aHow)];
  int c = 1;
  double d = 0;
  switch (rule) {
    case TextRule::kTextGreater:
      break;
    case TextRule::kAsText:
      // A Boolean's text form here is always the English word, whatever the locale.
      c = StrComp(text, other.type() == VType::Boolean ? (other.boolVal() ? "True" : "False")
                                                       : CStr(other, loc));
      break;
    case TextRule::kNumberOrGreater:
    case TextRule::kNumber:
      if (ParseNumber(text, d, loc))
        c = Order(d, AsDouble(other, loc));
      else if (rule == TextRule::kNumber)
        Raise(err::kTypeMismatch);
      break;
    case TextRule::kDate:
      if (!ParseDate(text, d, loc)) Raise(err::kTypeMismatch);
      c = Order(d, other.dateVal());
      break;
  }
  return textLeft ? c : -c;
}

namespace {
template <typename Pred>
Variant Relation(const Variant& a, const Variant& b, Pred pred) {
  bool isNull;
  int c = Compare(a, b, isNull);
  if (isNull) return Variant::Null();
  return Variant(pred(c));
}
}  // namespace

Variant Eq(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c == 0; });
}
Variant Ne(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c != 0; });
}
Variant Lt(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c < 0; });
}
Variant Le(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c <= 0; });
}
Variant Gt(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c > 0; });
}
Variant Ge(const Variant& a, const Variant& b) {
  return Relation(a, b, [](int c) { return c >= 0; });
}

bool Truth(const Variant& v, const Locale& loc) {
  if (v.IsNull() || v.IsEmpty()) return false;
  return CBool(v, loc);
}

}  // namespace fern::vb
