#include <charconv>
#include <cmath>

#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb_internal.h"

namespace fern::vb::detail {

void Raise(int32_t number) {
  const char* text = "Application-defined or object-defined error";
  switch (number) {
    case err::kInvalidArgument:
      text = "Invalid procedure call or argument";
      break;
    case err::kOverflow:
      text = "Overflow";
      break;
    case err::kDivByZero:
      text = "Division by zero";
      break;
    case err::kTypeMismatch:
      text = "Type mismatch";
      break;
    case err::kInvalidUseOfNull:
      text = "Invalid use of Null";
      break;
    case 93:
      text = "Invalid pattern string";
      break;
    default:
      break;
  }
  throw HostError(number, text);
}

double RoundHalfEven(double x) {
  if (!std::isfinite(x)) return x;
  double f = std::floor(x);
  double diff = x - f;
  if (diff > 0.5) return f + 1;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

size_t ByteOffset(std::string_view s, size_t n) {
  size_t i = 0;
  while (n > 0 && i < s.size()) {
    utf8::Next(s, i);
    --n;
  }
  return i;
}

char32_t ToUpper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  return c;
}

char32_t ToLower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  return c;
}

std::string MapCase(std::string_view s, bool upper) {
  std::string out;
  out.reserve(s.size());
  if (text::IsAscii(s)) {
    for (char c : s) {
      if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      out += c;
    }
    return out;
  }
  size_t i = 0;
  while (i < s.size()) {
    size_t start = i;
    char32_t c = utf8::Next(s, i);
    if (c == utf8::kReplacement && i - start == 1) {
      out += s[start];  // a broken byte passes through unchanged
    } else {
      utf8::Append(out, upper ? ToUpper(c) : ToLower(c));
    }
  }
  return out;
}

// Howard Hinnant's civil-date algorithms, shifted to the OLE epoch.
namespace {
constexpr int64_t kEpochShift = 25569;  // days from 30.12.1899 to 1.1.1970
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468 + kEpochShift;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468 - kEpochShift;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

double MakeSerial(int64_t day, double timeFraction) {
  return day >= 0 ? static_cast<double>(day) + timeFraction
                  : static_cast<double>(day) - timeFraction;
}

void SplitSerial(double serial, int64_t& day, int64_t& msOfDay) {
  // A serial from outside VB's range (only raw construction makes one) is held at its edge
  // rather than overflowing the day arithmetic.
  if (!(serial >= kMinDate)) serial = std::isnan(serial) ? 0 : kMinDate;
  if (serial > kMaxDate) serial = 2958465 + 86399.0 / 86400;  // 31.12.9999 23:59:59
  double whole = std::trunc(serial);
  double frac = std::fabs(serial - whole);
  day = static_cast<int64_t>(whole);
  msOfDay = static_cast<int64_t>(std::llround(frac * 86400000.0));
  if (msOfDay >= 86400000) {  // rounding reached midnight: the next calendar day
    msOfDay -= 86400000;
    day += 1;
  }
}

bool InDateRange(double serial) { return serial >= kMinDate && serial < kMaxDate + 1e-8; }

SignificantDigits::SignificantDigits(double v, int precision) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific,
                           precision - 1);
  std::string_view sci(buf, res.ptr - buf);
  size_t ePos = sci.find('e');
  for (char c : sci.substr(0, ePos))
    if (c != '.') digits += c;
  std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+'), sci.data() + sci.size(), exp10);
}

std::string FixedDigits(double v, int decimals) {
  v = std::fabs(v);
  if (v == 0) {
    std::string out = "0";
    if (decimals > 0) out += "." + std::string(decimals, '0');
    return out;
  }
  // The 15 significant digits VB works with, so binary noise never shows up.
  auto [digits, exp10] = SignificantDigits(v, 15);
  // value = 0.digits * 10^(exp10 + 1); intLen digits before the point.
  int intLen = exp10 + 1;
  // Lay out the digits with enough zeros on either side.
  std::string intPart, fracPart;
  if (intLen > 0) {
    if (static_cast<int>(digits.size()) <= intLen) {
      intPart = digits + std::string(intLen - digits.size(), '0');
    } else {
      intPart = digits.substr(0, intLen);
      fracPart = digits.substr(intLen);
    }
  } else {
    intPart = "0";
    fracPart = std::string(-intLen, '0') + digits;
  }
  if (static_cast<int>(fracPart.size()) > decimals) {
    bool up = fracPart[decimals] >= '5';
    fracPart.resize(decimals);
    if (up) {
      // Carry through the fraction and into the integer part.
      int i = decimals - 1;
      for (; i >= 0; --i) {
        if (fracPart[i] == '9') {
          fracPart[i] = '0';
        } else {
          ++fracPart[i];
          break;
        }
      }
      if (i < 0) {
        int j = static_cast<int>(intPart.size()) - 1;
        for (; j >= 0; --j) {
          if (intPart[j] == '9') {
            intPart[j] = '0';
          } else {
            ++intPart[j];
            break;
          }
        }
        if (j < 0) intPart.insert(intPart.begin(), '1');
      }
    }
  } else {
    fracPart += std::string(decimals - fracPart.size(), '0');
  }
  size_t nz = intPart.find_first_not_of('0');
  intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
  return decimals > 0 ? intPart + "." + fracPart : intPart;
}

}  // namespace fern::vb::detail
