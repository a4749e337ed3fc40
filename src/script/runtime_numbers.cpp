// Conversions, arithmetic functions, type tests, arrays and number formatting.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script::rt {

namespace {

// --- conversions ---------------------------------------------------------------------------

Variant CStrFn(Args a) { return Variant(ArgStr(a, 0)); }
Variant CIntFn(Args a) { return Variant(vb::CInt(Arg(a, 0), a.loc)); }
Variant CLngFn(Args a) { return Variant(vb::CLng(Arg(a, 0), a.loc)); }
Variant CDblFn(Args a) { return Variant(vb::CDbl(Arg(a, 0), a.loc)); }
Variant CSngFn(Args a) { return Variant::Single(vb::CSng(Arg(a, 0), a.loc)); }
Variant CBoolFn(Args a) { return Variant(vb::CBool(Arg(a, 0), a.loc)); }
Variant CByteFn(Args a) {
  const Variant& v = Arg(a, 0);
  if (v.type() == VType::Boolean) return Variant::Byte(v.boolVal() ? 255 : 0);  // True is 255
  return Variant::Byte(vb::CByte(v, a.loc));
}
Variant CCurFn(Args a) { return Variant::Currency(vb::CCur(Arg(a, 0), a.loc)); }
Variant CDateFn(Args a) {
  const Variant& v = Arg(a, 0);
  double serial = 0, number = 0;
  // A text holding a number is that day serial ("1" is the 31st of December 1899).
  if (v.IsString() && !vb::ParseDate(v.str(), serial, a.loc) &&
      vb::ParseNumber(v.str(), number, a.loc))
    return Variant::Date(number);
  return Variant::Date(vb::CDate(v, a.loc));
}

// --- Int, Fix, Round, Abs, Sgn -------------------------------------------------------------

// Applies `op` to the number keeping VB's result type: whole types stay, text becomes Double,
// Boolean becomes Integer, Empty is Integer 0, Null stays Null.
template <typename Op>
Variant KeepType(const Variant& v, Op op, const vb::Locale& loc) {
  switch (v.type()) {
    case VType::Null:
      return Variant::Null();
    case VType::Empty:
      return Variant(int16_t{0});
    case VType::Boolean:
      return Variant(static_cast<int16_t>(v.boolVal() ? -1 : 0));
    case VType::Integer:
    case VType::Long:
    case VType::Byte:
      return v;
    case VType::Single:
      return Variant::Single(static_cast<float>(op(v.singleVal())));
    case VType::Double:
      return Variant(op(v.doubleVal()));
    case VType::Date:
      return Variant::Date(op(v.dateVal()));
    case VType::Currency: {
      double r = op(static_cast<double>(v.currencyVal()) / 10000.0);
      return Variant::Currency(std::llround(r * 10000.0));
    }
    case VType::String:
      return Variant(op(vb::CDbl(v, loc)));
    default:
      Raise(err::kTypeMismatch);
  }
}

Variant IntFn(Args a) {
  return KeepType(
      Arg(a, 0), [](double d) { return std::floor(d); }, a.loc);
}
Variant FixFn(Args a) {
  return KeepType(
      Arg(a, 0), [](double d) { return std::trunc(d); }, a.loc);
}

double RoundHalfEven(double x, int digits) {
  if (!std::isfinite(x) || digits > 15) return x;
  double scale = std::pow(10.0, digits);
  double y = x * scale;
  if (!std::isfinite(y)) return x;
  double f = std::floor(y);
  double diff = y - f;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
  return f / scale;
}

Variant RoundFn(Args a) {
  int digits = 0;
  if (Given(a, 1)) {
    digits = ArgLng(a, 1);
    if (digits < 0) Raise(err::kInvalidArgument);
  }
  Variant v = Arg(a, 0);
  if (v.type() == VType::Boolean) return v;  // Round(True) stays a Boolean
  if (v.type() == VType::Currency) {
    // Exact on the scaled integer, where the binary form of a Double would blur halves.
    if (digits >= 4) return v;
    int64_t unit = 1;
    for (int i = digits; i < 4; ++i) unit *= 10;
    int64_t cy = v.currencyVal();
    int64_t q = cy / unit, r = cy % unit;
    if (r < 0) {
      r += unit;
      --q;
    }
    if (2 * r > unit || (2 * r == unit && (q % 2 != 0))) ++q;
    return Variant::Currency(q * unit);
  }
  return KeepType(
      v, [digits](double d) { return RoundHalfEven(d, digits); }, a.loc);
}

Variant AbsFn(Args a) {
  Variant v = Arg(a, 0);
  switch (v.type()) {
    case VType::Null:
      return Variant::Null();
    case VType::Empty:
      return Variant(int16_t{0});
    case VType::Boolean:
      return Variant(static_cast<int16_t>(v.boolVal() ? 1 : 0));
    case VType::Integer:
      if (v.intVal() == INT16_MIN) return Variant(int32_t{32768});
      return Variant(static_cast<int16_t>(v.intVal() < 0 ? -v.intVal() : v.intVal()));
    case VType::Long:
      return Variant::Whole(std::llabs(static_cast<int64_t>(v.longVal())));
    case VType::Byte:
      return v;
    case VType::Single:
      return Variant::Single(std::fabs(v.singleVal()));
    case VType::Currency:
      return Variant::Currency(std::llabs(v.currencyVal()));
    case VType::Date:
      return Variant::Date(std::fabs(v.dateVal()));
    default:
      return Variant(std::fabs(vb::CDbl(v, a.loc)));
  }
}

Variant SgnFn(Args a) {
  Variant v = Arg(a, 0);
  if (v.IsNull()) Raise(err::kInvalidUseOfNull);
  double d = vb::CDbl(v, a.loc);
  return Variant(static_cast<int16_t>(d > 0 ? 1 : (d < 0 ? -1 : 0)));
}

// Hex and Oct work on the two's complement of the value's own width: Integer 16, else 32 bits.
Variant Radix(Args a, int bitsPerDigit) {
  Variant v = Arg(a, 0);
  if (v.IsNull()) return Variant::Null();
  uint32_t bits;
  if (v.type() == VType::Integer)
    bits = static_cast<uint16_t>(v.intVal());
  else if (v.type() == VType::Byte)
    bits = v.byteVal();
  else
    bits = static_cast<uint32_t>(vb::CLng(v, a.loc));
  if (bits == 0) return Variant("0");
  std::string out;
  const char* digits = "0123456789ABCDEF";
  uint32_t mask = (1u << bitsPerDigit) - 1;
  while (bits) {
    out.insert(out.begin(), digits[bits & mask]);
    bits >>= bitsPerDigit;
  }
  return Variant(std::move(out));
}
Variant HexFn(Args a) { return Radix(a, 4); }
Variant OctFn(Args a) { return Radix(a, 3); }

// --- type tests ----------------------------------------------------------------------------

Variant RawArg(Args a, size_t i) { return i < a.size() ? a[i] : Variant(); }

// IsNull(rs("Feld")) looks at the field's value: objects count by their default value.
Variant DefaultOrSelf(Args a) {
  Variant v = RawArg(a, 0);
  if (v.IsObject() && v.obj()) {
    try {
      return ValueOf(v);
    } catch (const HostError&) {
    }
  }
  return v;
}
Variant IsNullFn(Args a) { return Variant(DefaultOrSelf(a).IsNull()); }
Variant IsEmptyFn(Args a) { return Variant(DefaultOrSelf(a).IsEmpty()); }
Variant IsArrayFn(Args a) { return Variant(RawArg(a, 0).IsArray()); }
Variant IsObjectFn(Args a) { return Variant(RawArg(a, 0).IsObject()); }
// Objects count by their default value; one without a default value is neither.
template <bool (*Test)(const Variant&, const vb::Locale&)>
Variant IsKind(Args a) {
  Variant v = RawArg(a, 0);
  if (v.IsArray() || v.IsNothing()) return Variant(false);
  if (v.IsObject()) {
    try {
      v = ValueOf(v);
    } catch (const HostError&) {
      return Variant(false);
    }
  }
  return Variant(Test(v, a.loc));
}

std::string TypeNameOf(const Variant& v) {
  switch (v.type()) {
    case VType::Empty:
      return "Empty";
    case VType::Null:
      return "Null";
    case VType::Integer:
      return "Integer";
    case VType::Long:
      return "Long";
    case VType::Single:
      return "Single";
    case VType::Double:
      return "Double";
    case VType::Currency:
      return "Currency";
    case VType::Date:
      return "Date";
    case VType::String:
      return "String";
    case VType::Object:
      return v.obj() ? v.obj()->TypeName() : "Nothing";
    case VType::Error:
      return "Error";
    case VType::Boolean:
      return "Boolean";
    case VType::Byte:
      return "Byte";
    case VType::Array:
      return "Variant()";
  }
  return "Unknown";
}

Variant TypeNameFn(Args a) { return Variant(TypeNameOf(RawArg(a, 0))); }

Variant VarTypeFn(Args a) {
  Variant v = RawArg(a, 0);
  if (v.IsArray()) return Variant(int16_t{0x2000 | 12});
  if (v.IsObject() && v.obj()) {
    // An object with a default value reports that value's type, as VBScript does.
    try {
      Variant inner = v.obj()->Invoke("", kPropGet, {});
      if (!inner.IsObject()) return Variant(static_cast<int16_t>(inner.type()));
    } catch (const HostError&) {
    }
    return Variant(int16_t{9});
  }
  return Variant(static_cast<int16_t>(v.type()));
}

// --- arrays --------------------------------------------------------------------------------

Variant ArrayFn(Args a) { return MakeArray(std::vector<Variant>(a.begin(), a.end())); }

int BoundDim(Args a) {
  if (!Given(a, 1)) return 1;
  return ArgLng(a, 1);
}

// The array argument, read in place; an object stands for the array its default member gives.
const Variant& ArrayArg(Args a, Variant& holder) {
  if (a.empty()) Raise(err::kTypeMismatch);
  const Variant& v = a[0].IsObject() ? (holder = ValueOf(a[0])) : a[0];
  if (!v.IsArray()) Raise(err::kTypeMismatch);
  return v;
}

Variant UBoundFn(Args a) {
  Variant holder;
  const Variant& v = ArrayArg(a, holder);
  int dim = BoundDim(a);
  if (dim < 1 || dim > static_cast<int>(v.arr().dims.size())) Raise(err::kSubscript);
  return Variant(v.arr().UBound(dim));
}

Variant LBoundFn(Args a) {
  Variant holder;
  const Variant& v = ArrayArg(a, holder);
  int dim = BoundDim(a);
  if (dim < 1 || dim > static_cast<int>(v.arr().dims.size())) Raise(err::kSubscript);
  return Variant(v.arr().LBound(dim));
}

// --- miscellany ----------------------------------------------------------------------------

Variant RGBFn(Args a) {
  int32_t c[3];
  for (size_t i = 0; i < 3; ++i) {
    c[i] = ArgLng(a, i);
    if (c[i] < 0) Raise(err::kInvalidArgument);
    if (c[i] > 255) c[i] = 255;
  }
  return Variant(c[0] + c[1] * 256 + c[2] * 65536);
}

Variant TimerFn(Args) {
  double now = LocalNow();
  double frac = std::fabs(now - std::trunc(now));
  return Variant::Single(static_cast<float>(std::round(frac * 86400.0 * 100.0) / 100.0));
}

// VB's generator: a 24-bit linear congruence, seeded by Randomize or a negative Rnd argument.
uint32_t g_rndSeed = 0x50000;

Variant RandomizeFn(Args a) {
  double n = Given(a, 0) ? ArgDbl(a, 0) : std::fabs(LocalNow() - std::trunc(LocalNow())) * 86400.0;
  uint64_t bits;
  std::memcpy(&bits, &n, sizeof bits);
  uint32_t hi = static_cast<uint32_t>(bits >> 32);
  uint32_t mix = ((hi >> 16) ^ hi) & 0xFFFF;
  g_rndSeed = ((mix << 8) | (g_rndSeed & 0xFF)) & 0xFFFFFF;
  return Variant();
}

Variant RndFn(Args a) {
  float n = Given(a, 0) ? static_cast<float>(ArgDbl(a, 0)) : 1.0f;
  if (n < 0) {
    uint32_t bits;
    std::memcpy(&bits, &n, sizeof bits);
    g_rndSeed = (bits + (bits >> 24)) & 0xFFFFFF;
  }
  if (n != 0) g_rndSeed = (g_rndSeed * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFF;
  return Variant::Single(static_cast<float>(g_rndSeed) / 16777216.0f);
}

Variant ScriptEngineFn(Args) { return Variant("VBScript"); }
Variant ScriptEngineMajorFn(Args) { return Variant(int32_t{5}); }
Variant ScriptEngineMinorFn(Args) { return Variant(int32_t{8}); }
Variant ScriptEngineBuildFn(Args) { return Variant(int32_t{16384}); }

// --- FormatNumber, FormatCurrency, FormatPercent -------------------------------------------

// |x| rounded half away from zero to `decimals` places, from its 15 significant digits (the
// precision VB formats with): integer digits and fraction digits.
void DecimalDigits(double x, int decimals, std::string& whole, std::string& fraction) {
  if (x == 0 || !std::isfinite(x)) {
    whole.assign(1, '0');
    fraction.assign(static_cast<size_t>(decimals), '0');
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
  std::string digits;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') digits += *p;
  int exp10 = std::atoi(p + 1);
  // digits d1 d2 ... stand for 0.d1d2... * 10^(exp10 + 1).
  int intLen = exp10 + 1;
  int keep = intLen + decimals;
  std::string kept;
  if (keep < 0) {
    kept = "";
  } else {
    kept = digits.substr(0, std::min<size_t>(keep, digits.size()));
    bool up = static_cast<size_t>(keep) < digits.size() && digits[keep] >= '5';
    while (static_cast<int>(kept.size()) < keep) kept += '0';
    if (up) {
      int i = static_cast<int>(kept.size()) - 1;
      while (i >= 0 && kept[i] == '9') kept[i--] = '0';
      if (i >= 0) {
        ++kept[i];
      } else {
        kept.insert(kept.begin(), '1');
      }
    }
  }
  // kept now holds the digits from 10^(intLen-1) down to 10^-decimals.
  int wholeLen = static_cast<int>(kept.size()) - decimals;
  if (wholeLen <= 0) {
    whole.assign(1, '0');
    fraction.assign(static_cast<size_t>(-wholeLen), '0');
    fraction += kept;
  } else {
    whole = kept.substr(0, wholeLen);
    fraction = kept.substr(wholeLen);
  }
  if (static_cast<int>(fraction.size()) < decimals)
    fraction.append(decimals - fraction.size(), '0');
  size_t nz = whole.find_first_not_of('0');
  if (nz == std::string::npos)
    whole.assign(1, '0');
  else
    whole.erase(0, nz);
}

// A tristate argument: -1 true, 0 false, -2 (or missing) the regional default.
bool Tristate(Args a, size_t i, bool regional) {
  if (!Given(a, i)) return regional;
  int32_t v = ArgLng(a, i);
  if (v == -2) return regional;
  return v != 0;
}

enum class NumStyle { kNumber, kCurrency, kPercent };

Variant FormatNumeric(Args a, NumStyle style) {
  Variant v = Arg(a, 0);
  double x = vb::CDbl(v, a.loc);
  if (style == NumStyle::kPercent) x *= 100.0;
  int decimals = 2;
  if (Given(a, 1)) {
    decimals = ArgLng(a, 1);
    if (decimals == -1) decimals = 2;
    if (decimals < 0 || decimals > 255) Raise(err::kInvalidArgument);
  }
  bool leading = Tristate(a, 2, true);
  bool parens = Tristate(a, 3, false);
  bool group = Tristate(a, 4, true);

  std::string whole, fraction;
  DecimalDigits(x, decimals, whole, fraction);
  bool negative = x < 0 && (whole.find_first_not_of('0') != std::string::npos ||
                            fraction.find_first_not_of('0') != std::string::npos);
  std::string body;
  if (group) {
    for (size_t i = 0; i < whole.size(); ++i) {
      if (i && (whole.size() - i) % 3 == 0) body += a.loc.group;
      body += whole[i];
    }
  } else {
    body = whole;
  }
  if (!leading && whole == "0" && decimals > 0) body.clear();
  if (decimals > 0) body.append(a.loc.decimal) += fraction;
  if (style == NumStyle::kCurrency) {
    std::string_view blank = a.loc.currencySpace ? " " : "";
    if (a.loc.currencyFirst)
      body = std::string(a.loc.currency).append(blank) + body;
    else
      body.append(blank).append(a.loc.currency);
  }
  if (style == NumStyle::kPercent) body += "%";
  if (negative) body = parens ? "(" + body + ")" : "-" + body;
  return Variant(std::move(body));
}

Variant FormatNumberFn(Args a) { return FormatNumeric(a, NumStyle::kNumber); }
Variant FormatCurrencyFn(Args a) { return FormatNumeric(a, NumStyle::kCurrency); }
Variant FormatPercentFn(Args a) { return FormatNumeric(a, NumStyle::kPercent); }

// Sqr, Sin, ... : Null passes through; arguments outside the function's domain are an invalid
// call (5), results too large an overflow (6).
template <double (*F)(double), bool (*Valid)(double)>
Variant MathFn(Args a) {
  Variant v = Arg(a, 0);
  if (v.IsNull()) return Variant::Null();
  double d = vb::CDbl(v, a.loc);
  if (!Valid(d)) Raise(err::kInvalidArgument);
  double r = F(d);
  if (!std::isfinite(r)) Raise(err::kOverflow);
  return Variant(r);
}
bool Any(double) { return true; }
bool NotNegative(double d) { return d >= 0; }
bool Positive(double d) { return d > 0; }
double Sqrt(double d) { return std::sqrt(d); }
double Sine(double d) { return std::sin(d); }
double Cosine(double d) { return std::cos(d); }
double Tangent(double d) { return std::tan(d); }
double ArcTangent(double d) { return std::atan(d); }
double Exponent(double d) { return std::exp(d); }
double NaturalLog(double d) { return std::log(d); }

const Builtin kNumbers[] = {
    {"Sqr", 1, 1, MathFn<Sqrt, NotNegative>},
    {"Sin", 1, 1, MathFn<Sine, Any>},
    {"Cos", 1, 1, MathFn<Cosine, Any>},
    {"Tan", 1, 1, MathFn<Tangent, Any>},
    {"Atn", 1, 1, MathFn<ArcTangent, Any>},
    {"Exp", 1, 1, MathFn<Exponent, Any>},
    {"Log", 1, 1, MathFn<NaturalLog, Positive>},
    {"CStr", 1, 1, CStrFn},
    {"CInt", 1, 1, CIntFn},
    {"CLng", 1, 1, CLngFn},
    {"CDbl", 1, 1, CDblFn},
    {"CSng", 1, 1, CSngFn},
    {"CBool", 1, 1, CBoolFn},
    {"CByte", 1, 1, CByteFn},
    {"CCur", 1, 1, CCurFn},
    {"CDate", 1, 1, CDateFn},
    {"Int", 1, 1, IntFn},
    {"Fix", 1, 1, FixFn},
    {"Round", 1, 2, RoundFn},
    {"Abs", 1, 1, AbsFn},
    {"Sgn", 1, 1, SgnFn},
    {"Hex", 1, 1, HexFn},
    {"Oct", 1, 1, OctFn},
    {"IsNull", 1, 1, IsNullFn},
    {"IsEmpty", 1, 1, IsEmptyFn},
    {"IsNumeric", 1, 1, IsKind<vb::IsNumeric>},
    {"IsDate", 1, 1, IsKind<vb::IsDate>},
    {"IsArray", 1, 1, IsArrayFn},
    {"IsObject", 1, 1, IsObjectFn},
    {"TypeName", 1, 1, TypeNameFn},
    {"VarType", 1, 1, VarTypeFn},
    {"Array", 0, 1 << 20, ArrayFn},
    {"UBound", 1, 2, UBoundFn},
    {"LBound", 1, 2, LBoundFn},
    {"RGB", 3, 3, RGBFn},
    {"Timer", 0, 0, TimerFn},
    {"Randomize", 0, 1, RandomizeFn},
    {"Rnd", 0, 1, RndFn},
    {"ScriptEngine", 0, 0, ScriptEngineFn},
    {"ScriptEngineMajorVersion", 0, 0, ScriptEngineMajorFn},
    {"ScriptEngineMinorVersion", 0, 0, ScriptEngineMinorFn},
    {"ScriptEngineBuildVersion", 0, 0, ScriptEngineBuildFn},
    {"FormatNumber", 1, 5, FormatNumberFn},
    {"FormatCurrency", 1, 5, FormatCurrencyFn},
    {"FormatPercent", 1, 5, FormatPercentFn},
};

}  // namespace

std::span<const Builtin> NumberBuiltins() { return kNumbers; }

}  // namespace fern::script::rt

namespace fern::script {

bool IsConversion(const Builtin& b) {
  using namespace rt;
  constexpr Variant (*kConversions[])(Args) = {CStrFn,  CIntFn,  CLngFn, CDblFn, CSngFn,
                                               CBoolFn, CByteFn, CCurFn, CDateFn};
  for (auto fn : kConversions)
    if (b.fn == fn) return true;
  return false;
}

}  // namespace fern::script
