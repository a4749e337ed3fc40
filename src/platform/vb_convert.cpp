// Conversions between Variants, numbers and text under the regional settings passed in. Nothing
// here reads the process locale: it must not change what a script computes.
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/text.h"
#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

using detail::Raise;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

using ::fern::text::HexValue;

// Digits of an &H/&O literal; false when there are none or they exceed 32 bits.
bool ParseRadix(std::string_view s, size_t& i, int radix, bool skipBlanks, uint64_t& value) {
  value = 0;
  int count = 0;
  while (i < s.size()) {
    if (skipBlanks && IsBlank(s[i])) {
      ++i;
      continue;
    }
    int d = HexValue(s[i]);
    if (d < 0 || d >= radix) break;
    value = value * radix + d;
    if (value > 0xFFFFFFFFull) return false;
    ++count;
    ++i;
  }
  return count > 0;
}

double ToDouble(std::string_view digits) {
  double d = 0;
  auto res = std::from_chars(digits.data(), digits.data() + digits.size(), d);
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars leaves d untouched then; tell overflow from underflow by the exponent sign.
    size_t e = digits.find('e');
    bool tiny = e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
    return tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  return d;
}

// Mantissa digits and exponent to text for from_chars.
std::string Canonical(const std::string& intDigits, const std::string& fracDigits, bool neg,
                      const std::string& exp) {
  std::string t;
  if (neg) t += '-';
  t += intDigits.empty() ? "0" : intDigits;
  if (!fracDigits.empty()) t += "." + fracDigits;
  if (!exp.empty()) t += "e" + exp;
  return t;
}

// The length of a thousands separator at s[i], 0 when there is none. Blank separators also take
// the blanks people type instead, and the Swiss apostrophe its typographic form.
size_t GroupAt(std::string_view s, size_t i, const Locale& loc) {
  std::string_view rest = s.substr(i);
  if (rest.starts_with(loc.group)) return loc.group.size();
  if (loc.group == "\xC2\xA0") {
    if (rest[0] == ' ') return 1;
    if (rest.starts_with("\xE2\x80\xAF")) return 3;  // narrow no-break space
  }
  if (loc.group == "'" && rest.starts_with("\xE2\x80\x99")) return 3;
  return 0;
}

// The shortest text with `precision` significant digits, in fixed or E notation as VB's CStr
// chooses: E notation from 10^precision up and below 10^-4.
std::string FloatText(double d, int precision, std::string_view point) {
  if (d == 0) return "0";
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return std::string(d > 0 ? "1" : "-1").append(point) + "#INF";
  auto [digits, exp10] = detail::SignificantDigits(d, precision);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = d < 0 ? "-" : "";
  if (exp10 >= precision || exp10 < -4) {
    out += digits[0];
    if (digits.size() > 1) out.append(point) += digits.substr(1);
    out += exp10 < 0 ? "E-" : "E+";
    int a = std::abs(exp10);
    if (a < 10) out += '0';
    out += std::to_string(a);
    return out;
  }
  if (exp10 < 0) {
    out.append("0").append(point) += std::string(-exp10 - 1, '0') + digits;
  } else if (static_cast<int>(digits.size()) <= exp10 + 1) {
    out += digits + std::string(exp10 + 1 - digits.size(), '0');
  } else {
    out.append(digits, 0, exp10 + 1).append(point) += digits.substr(exp10 + 1);
  }
  return out;
}

std::string CurrencyText(int64_t scaled, std::string_view point) {
  bool neg = scaled < 0;
  uint64_t a = neg ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  std::string out = neg ? "-" : "";
  out += std::to_string(a / 10000);
  uint64_t frac = a % 10000;
  if (frac != 0) {
    std::string f = std::to_string(frac);
    f = std::string(4 - f.size(), '0') + f;
    while (f.back() == '0') f.pop_back();
    out.append(point) += f;
  }
  return out;
}

// The numeric value of a Variant for the conversion functions.
double NumericValue(const Variant& v, const Locale& loc) {
  switch (v.type()) {
    case VType::Empty:
      return 0;
    case VType::Null:
      Raise(err::kInvalidUseOfNull);
    case VType::Boolean:
      return v.boolVal() ? -1 : 0;
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
    case VType::String: {
      double d;
      if (!ParseNumber(v.str(), d, loc)) Raise(err::kTypeMismatch);
      if (std::isinf(d)) Raise(err::kOverflow);
      return d;
    }
    default:
      Raise(err::kTypeMismatch);
  }
}

double RoundedWhole(const Variant& v, double lo, double hi, const Locale& loc) {
  double r;
  if (v.type() == VType::Currency) {
    // Round on the exact scaled value; a double would blur large amounts.
    int64_t c = v.currencyVal();
    int64_t q = c / 10000, rem = c % 10000;
    if (rem > 5000 || (rem == 5000 && (q & 1))) ++q;
    if (rem < -5000 || (rem == -5000 && (q & 1))) --q;
    r = static_cast<double>(q);
  } else {
    r = detail::RoundHalfEven(NumericValue(v, loc));
  }
  if (!(r >= lo && r <= hi)) Raise(err::kOverflow);
  return r;
}

}  // namespace

bool ParseNumber(std::string_view s, double& out, const Locale& loc) {
  s = text::TrimBlanks(s);
  if (s.empty()) return false;
  size_t i = 0;
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    i = 2;
    uint64_t value;
    int radix = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    if (!ParseRadix(s, i, radix, false, value) || i != s.size()) return false;
    // Eight hex digits are a signed Long as VB reads them.
    out = value > 0x7FFFFFFFull ? static_cast<double>(static_cast<int32_t>(value))
                                : static_cast<double>(value);
    return true;
  }
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') {
    neg = s[i] == '-';
    ++i;
    while (i < s.size() && IsBlank(s[i])) ++i;
  }
  std::string intDigits, fracDigits, exp;
  bool anyDigit = false;
  while (i < s.size()) {
    char c = s[i];
    size_t group;
    if (c >= '0' && c <= '9') {
      intDigits += c;
      anyDigit = true;
      ++i;
    } else if (anyDigit && (group = GroupAt(s, i, loc)) > 0) {
      i += group;  // VB ignores where a thousands separator stands
    } else {
      break;
    }
  }
  if (s.substr(i).starts_with(loc.decimal)) {
    i += loc.decimal.size();
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      fracDigits += s[i];
      anyDigit = true;
    }
  }
  if (!anyDigit) return false;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) exp += s[i++];
    bool expDigit = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      exp += s[i];
      expDigit = true;
    }
    if (!expDigit) return false;
  }
  if (i != s.size()) return false;
  out = ToDouble(Canonical(intDigits, fracDigits, neg, exp));
  return true;
}

double Val(std::string_view s) {
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && (IsBlank(s[i]) || s[i] == '\n' || s[i] == '\r')) ++i;
  };
  skip();
  if (i + 1 < s.size() && s[i] == '&') {
    char k = s[i + 1];
    int radix = (k == 'H' || k == 'h') ? 16 : (k == 'O' || k == 'o') ? 8 : 0;
    if (radix == 0) return 0;
    i += 2;
    uint64_t value;
    if (!ParseRadix(s, i, radix, true, value)) return 0;
    // Up to 16 bits is an Integer literal, so &HFFFF is -1 as in VB.
    if (value <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(value));
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  std::string intDigits, fracDigits, exp;
  bool inFrac = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (IsBlank(c) || c == '\n' || c == '\r') continue;
    if (c >= '0' && c <= '9') {
      (inFrac ? fracDigits : intDigits) += c;
    } else if (c == '.' && !inFrac) {
      inFrac = true;
    } else {
      break;
    }
  }
  if (i < s.size() && (intDigits.size() + fracDigits.size()) > 0 &&
      (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
    size_t j = i + 1;
    std::string e;
    while (j < s.size() && IsBlank(s[j])) ++j;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) e += s[j++];
    bool expDigit = false;
    for (; j < s.size(); ++j) {
      if (IsBlank(s[j])) continue;
      if (s[j] < '0' || s[j] > '9') break;
      e += s[j];
      expDigit = true;
    }
    if (expDigit) exp = e;
  }
  if (intDigits.empty() && fracDigits.empty()) return 0;
  double d = ToDouble(Canonical(intDigits, fracDigits, neg, exp));
  if (std::isinf(d)) Raise(err::kOverflow);
  return d;
}

std::string NumberToText(double d, const Locale& loc) { return FloatText(d, 15, loc.decimal); }

std::string CStr(const Variant& v, const Locale& loc) {
  switch (v.type()) {
    case VType::Empty:
      return {};
    case VType::Null:
      Raise(err::kInvalidUseOfNull);
    case VType::Boolean:
      return v.boolVal() ? "True" : "False";
    case VType::Integer:
      return std::to_string(v.intVal());
    case VType::Long:
      return std::to_string(v.longVal());
    case VType::Byte:
      return std::to_string(v.byteVal());
    case VType::Single:
      return FloatText(v.singleVal(), 7, loc.decimal);
    case VType::Double:
      return FloatText(v.doubleVal(), 15, loc.decimal);
    case VType::Currency:
      return CurrencyText(v.currencyVal(), loc.decimal);
    case VType::Date:
      return DateToText(v.dateVal(), loc);
    case VType::String:
      return v.str();
    case VType::Error:
      return "Error " + std::to_string(v.errorVal());
    default:
      Raise(err::kTypeMismatch);
  }
}

int32_t CLng(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Long) return v.longVal();
  return static_cast<int32_t>(RoundedWhole(v, -2147483648.0, 2147483647.0, loc));
}

int16_t CInt(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Integer) return v.intVal();
  return static_cast<int16_t>(RoundedWhole(v, -32768.0, 32767.0, loc));
}

uint8_t CByte(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Byte) return v.byteVal();
  return static_cast<uint8_t>(RoundedWhole(v, 0.0, 255.0, loc));
}

double CDbl(const Variant& v, const Locale& loc) { return NumericValue(v, loc); }

float CSng(const Variant& v, const Locale& loc) {
  double d = NumericValue(v, loc);
  if (std::fabs(d) > std::numeric_limits<float>::max()) Raise(err::kOverflow);
  return static_cast<float>(d);
}

int64_t CCur(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Currency) return v.currencyVal();
  double scaled = detail::RoundHalfEven(NumericValue(v, loc) * 10000.0);
  // 2^63 is exactly representable; anything at or beyond it does not fit.
  if (!(scaled > -9223372036854775808.0 - 1 && scaled < 9223372036854775808.0))
    Raise(err::kOverflow);
  return static_cast<int64_t>(scaled);
}

bool CBool(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Boolean) return v.boolVal();
  if (v.type() == VType::String) {
    std::string_view t = text::TrimBlanks(v.str());
    // "#TRUE#" and "#FALSE#": how Write # stores Booleans in files.
    if (text::EqualsNoCaseAscii(t, "#true#")) return true;
    if (text::EqualsNoCaseAscii(t, "#false#")) return false;
    if (text::EqualsNoCaseAscii(t, "true") || text::EqualsNoCaseAscii(t, "wahr")) return true;
    if (text::EqualsNoCaseAscii(t, "false") || text::EqualsNoCaseAscii(t, "falsch")) return false;
    double d;
    if (!ParseNumber(t, d, loc)) Raise(err::kTypeMismatch);
    return d != 0;
  }
  if (v.type() == VType::Currency) return v.currencyVal() != 0;
  return NumericValue(v, loc) != 0;
}

double CDate(const Variant& v, const Locale& loc) {
  switch (v.type()) {
    case VType::Date:
      return v.dateVal();
    case VType::Null:
      Raise(err::kInvalidUseOfNull);
    case VType::String: {
      double serial;
      if (!ParseDate(v.str(), serial, loc)) Raise(err::kTypeMismatch);
      return serial;
    }
    default: {
      double d = NumericValue(v, loc);
      if (!detail::InDateRange(d)) Raise(err::kOverflow);
      return d;
    }
  }
}

bool IsNumeric(const Variant& v, const Locale& loc) {
  switch (v.type()) {
    case VType::Empty:
    case VType::Boolean:
      return true;
    case VType::String: {
      double d;
      return ParseNumber(v.str(), d, loc);
    }
    default:
      return v.IsNumber();
  }
}

bool IsDate(const Variant& v, const Locale& loc) {
  if (v.type() == VType::Date) return true;
  if (v.type() != VType::String) return false;
  double serial;
  return ParseDate(v.str(), serial, loc);
}

}  // namespace fern::vb
