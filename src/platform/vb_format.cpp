// VB's Format: in a pattern "," groups thousands, "." is the decimal point and "/" ":" separate
// date and time; the output writes the locale's separators and names.
#include <charconv>
#include <cmath>
#include <vector>

#include "platform/text.h"
#include "platform/utf8.h"
#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

using detail::Raise;

namespace {

struct Token {
  enum Kind { Literal, Zero, Hash, Point, Comma, Percent, DateSep, TimeSep, DatePart, AmPm };
  Kind kind;
  std::string text;  // the literal, or the pattern's own letters of a date part
  char letter = 0;   // date part: lower-case letter
  int count = 0;     // date part: run length
};

bool IsDateLetter(char c) {
  switch (c) {
    case 'd':
    case 'm':
    case 'y':
    case 'h':
    case 'n':
    case 's':
    case 'w':
    case 'q':
      return true;
    default:
      return false;
  }
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// One character of UTF-8 starting at p[i], as bytes.
std::string_view CharAt(std::string_view p, size_t i) {
  size_t j = i;
  utf8::Next(p, j);
  return p.substr(i, j - i);
}

// "AM/PM" or "A/P" in either case at the start of p: its length, else 0.
size_t AmPmLength(std::string_view p) {
  for (std::string_view form : {"am/pm", "a/p"})
    if (p.size() >= form.size() && text::EqualsNoCaseAscii(p.substr(0, form.size()), form))
      return form.size();
  return 0;
}

std::vector<Token> Tokenize(std::string_view p) {
  std::vector<Token> out;
  auto literal = [&out](std::string_view text) {
    if (!out.empty() && out.back().kind == Token::Literal) {
      out.back().text += text;
    } else {
      out.push_back({Token::Literal, std::string(text)});
    }
  };
  for (size_t i = 0; i < p.size();) {
    char c = p[i];
    if (c == '"') {
      size_t end = p.find('"', i + 1);
      if (end == std::string_view::npos) end = p.size();
      literal(p.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (c == '\\') {
      if (i + 1 < p.size()) {
        std::string_view ch = CharAt(p, i + 1);
        literal(ch);
        i += 1 + ch.size();
      } else {
        ++i;
      }
      continue;
    }
    switch (c) {
      case '0':
        out.push_back({Token::Zero, "0"});
        break;
      case '#':
        out.push_back({Token::Hash, "#"});
        break;
      case '.':
        out.push_back({Token::Point, "."});
        break;
      case ',':
        out.push_back({Token::Comma, ","});
        break;
      case '%':
        out.push_back({Token::Percent, "%"});
        break;
      case '/':
        out.push_back({Token::DateSep, "/"});
        break;
      case ':':
        out.push_back({Token::TimeSep, ":"});
        break;
      default:
        if (size_t n = AmPmLength(p.substr(i))) {
          out.push_back({Token::AmPm, std::string(p.substr(i, n))});
          i += n;
          continue;
        }
        if (IsDateLetter(Lower(c))) {
          size_t j = i;
          while (j < p.size() && Lower(p[j]) == Lower(c)) ++j;
          Token t{Token::DatePart, std::string(p.substr(i, j - i)), Lower(c),
                  static_cast<int>(j - i)};
          out.push_back(std::move(t));
          i = j;
          continue;
        }
        {
          std::string_view ch = CharAt(p, i);
          literal(ch);
          i += ch.size();
        }
        continue;
    }
    ++i;
  }
  return out;
}

// Sections split at ";" outside quotes and escapes.
std::vector<std::string_view> Sections(std::string_view p) {
  std::vector<std::string_view> out;
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '"') {
      quoted = !quoted;
    } else if (p[i] == '\\' && !quoted) {
      ++i;
    } else if (p[i] == ';' && !quoted) {
      out.push_back(p.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(p.substr(start));
  return out;
}

// --- numbers ---------------------------------------------------------------------------------

std::string FormatNumberSection(double value, const std::vector<Token>& toks, bool showSign,
                                const Locale& loc) {
  size_t point = toks.size();
  for (size_t i = 0; i < toks.size(); ++i)
    if (toks[i].kind == Token::Point) {
      point = i;
      break;
    }
  int intPlaces = 0, intMin = 0, fracPlaces = 0, fracMin = 0, percents = 0, scale = 0;
  bool grouping = false;
  int firstZero = -1, lastIntPlace = -1;
  for (size_t i = 0; i < point; ++i)
    if (toks[i].kind == Token::Zero || toks[i].kind == Token::Hash)
      lastIntPlace = static_cast<int>(i);
  bool seenPlace = false;
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    bool place = t.kind == Token::Zero || t.kind == Token::Hash;
    if (t.kind == Token::Percent) ++percents;
    if (i < point) {
      if (place) {
        // Every placeholder from the first "0" on is a digit that always shows.
        if (t.kind == Token::Zero && firstZero < 0) firstZero = intPlaces;
        ++intPlaces;
        seenPlace = true;
      } else if (t.kind == Token::Comma) {
        // Between placeholders a comma groups thousands; after the last one it divides by 1000.
        if (static_cast<int>(i) > lastIntPlace) {
          if (seenPlace) ++scale;
        } else if (seenPlace) {
          grouping = true;
        }
      }
    } else if (i > point && place) {
      ++fracPlaces;
      if (t.kind == Token::Zero) fracMin = fracPlaces;
    }
  }
  intMin = firstZero < 0 ? 0 : intPlaces - firstZero;

  double v = std::fabs(value);
  for (int i = 0; i < percents; ++i) v *= 100;
  for (int i = 0; i < scale; ++i) v /= 1000;
  std::string digits = detail::FixedDigits(v, fracPlaces);
  std::string intDigits = digits.substr(0, digits.find('.'));
  std::string fracDigits = fracPlaces > 0 ? digits.substr(digits.find('.') + 1) : std::string();
  bool allZero = intDigits.find_first_not_of('0') == std::string::npos &&
                 fracDigits.find_first_not_of('0') == std::string::npos;
  while (static_cast<int>(fracDigits.size()) > fracMin && fracDigits.back() == '0')
    fracDigits.pop_back();
  if (intDigits == "0") intDigits.clear();
  if (static_cast<int>(intDigits.size()) < intMin)
    intDigits.insert(0, intMin - intDigits.size(), '0');

  std::string out;
  // A value that rounds to zero shows no minus sign: "-0,00" would claim a negative amount.
  if (showSign && value < 0 && !allZero) out += '-';

  const int len = static_cast<int>(intDigits.size());
  auto emitIntDigit = [&](int idx) {
    out += intDigits[idx];
    int remaining = len - 1 - idx;
    if (grouping && remaining > 0 && remaining % 3 == 0) out += loc.group;
  };
  int place = 0, fracPlace = 0;
  bool intDone = intPlaces > 0;
  auto flushInt = [&] {
    // No integer placeholder at all: the integer digits still stand before the point.
    if (!intDone) {
      for (int k = 0; k < len; ++k) emitIntDigit(k);
      intDone = true;
    }
  };
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    bool isPlace = t.kind == Token::Zero || t.kind == Token::Hash;
    if (i < point) {
      if (isPlace) {
        int idx = len - intPlaces + place;
        if (place == 0) {
          for (int k = 0; k <= idx; ++k) emitIntDigit(k);
        } else if (idx >= 0) {
          emitIntDigit(idx);
        }
        ++place;
        continue;
      }
    } else if (i == point) {
      flushInt();
      out += loc.decimal;
      continue;
    } else if (isPlace) {
      if (fracPlace < static_cast<int>(fracDigits.size())) out += fracDigits[fracPlace];
      ++fracPlace;
      continue;
    }
    switch (t.kind) {
      case Token::Comma:
        break;
      case Token::Percent:
        out += '%';
        break;
      default:
        out += t.text;
        break;
    }
  }
  flushInt();
  return out;
}

bool HasDigitPlaceholder(const std::vector<Token>& toks) {
  for (const Token& t : toks)
    if (t.kind == Token::Zero || t.kind == Token::Hash) return true;
  return false;
}

bool HasDatePart(const std::vector<Token>& toks) {
  for (const Token& t : toks)
    if (t.kind == Token::DatePart) return true;
  return false;
}

std::string FormatNumber(double value, std::string_view pattern, const Locale& loc) {
  if (!std::isfinite(value)) return NumberToText(value, loc);
  std::vector<std::string_view> secs = Sections(pattern);
  std::string_view chosen = secs[0];
  bool showSign = true;
  if (value < 0 && secs.size() >= 2 && !secs[1].empty()) {
    chosen = secs[1];
    showSign = false;  // the negative section writes its own sign, if any
  } else if (value == 0 && secs.size() >= 3 && !secs[2].empty()) {
    chosen = secs[2];
  }
  return FormatNumberSection(value, Tokenize(chosen), showSign, loc);
}

// --- dates -----------------------------------------------------------------------------------

struct DateParts {
  int year, month, day, hour, minute, second;
  int64_t dayNo;
};

DateParts Split(double serial) {
  int64_t day, ms;
  detail::SplitSerial(serial, day, ms);
  int64_t secs = (ms + 500) / 1000;
  if (secs >= 86400) {
    secs -= 86400;
    ++day;
  }
  DateParts p{};
  p.dayNo = day;
  detail::CivilFromDays(day, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

std::string Pad2(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string FormatDate(double serial, const std::vector<Token>& toks, const Locale& loc) {
  DateParts p = Split(serial);
  int weekday = Weekday(serial, 1);
  bool hour12 = false;
  for (const Token& t : toks) hour12 = hour12 || t.kind == Token::AmPm;
  int hour = hour12 ? (p.hour + 11) % 12 + 1 : p.hour;
  // "m" means minutes right after an hour or right before a second, else the month.
  auto prevPart = [&](size_t i) -> char {
    while (i-- > 0)
      if (toks[i].kind == Token::DatePart) return toks[i].letter;
    return 0;
  };
  auto nextPart = [&](size_t i) -> char {
    for (++i; i < toks.size(); ++i)
      if (toks[i].kind == Token::DatePart) return toks[i].letter;
    return 0;
  };
  std::string out;
  for (size_t i = 0; i < toks.size(); ++i) {
    const Token& t = toks[i];
    switch (t.kind) {
      case Token::DateSep:
        out += loc.dateSep;
        continue;
      case Token::AmPm: {
        // The pattern's case shows: "AM/PM" gives "PM", "a/p" gives "p".
        bool upper = t.text[0] == 'A';
        std::string_view half = p.hour < 12 ? (upper ? "AM" : "am") : (upper ? "PM" : "pm");
        out += t.text.size() == 3 ? half.substr(0, 1) : half;
        continue;
      }
      case Token::TimeSep:
        out += ':';
        continue;
      case Token::DatePart:
        break;
      default:
        out += t.text;
        continue;
    }
    int n = t.count;
    switch (t.letter) {
      case 'd':
        if (n == 1)
          out += std::to_string(p.day);
        else if (n == 2)
          out += Pad2(p.day);
        else if (n == 3)
          out += loc.dayAbbrev[weekday - 1];
        else
          out += loc.days[weekday - 1];
        break;
      case 'm':
        if (n <= 2 && (prevPart(i) == 'h' || nextPart(i) == 's')) {
          out += n == 1 ? std::to_string(p.minute) : Pad2(p.minute);
        } else if (n == 1) {
          out += std::to_string(p.month);
        } else if (n == 2) {
          out += Pad2(p.month);
        } else if (n == 3) {
          out += loc.formatMonths[p.month - 1];
        } else {
          out += loc.months[p.month - 1];
        }
        break;
      case 'y': {
        int dayOfYear = static_cast<int>(p.dayNo - detail::DaysFromCivil(p.year, 1, 1)) + 1;
        if (n == 1)
          out += std::to_string(dayOfYear);
        else if (n == 2)
          out += Pad2(p.year % 100);
        else if (n == 3)
          out += Pad2(p.year % 100) + std::to_string(dayOfYear);
        else
          out += std::to_string(p.year);
        break;
      }
      case 'h':
        out += n == 1 ? std::to_string(hour) : Pad2(hour);
        break;
      case 'n':
        out += n == 1 ? std::to_string(p.minute) : Pad2(p.minute);
        break;
      case 's':
        out += n == 1 ? std::to_string(p.second) : Pad2(p.second);
        break;
      case 'w':
        out += std::to_string(weekday);
        break;
      case 'q':
        out += std::to_string((p.month - 1) / 3 + 1);
        break;
      default:
        out += t.text;
        break;
    }
  }
  return out;
}

std::string FormatDatePattern(double serial, std::string_view pattern, const Locale& loc) {
  return FormatDate(serial, Tokenize(Sections(pattern)[0]), loc);
}

// --- values ----------------------------------------------------------------------------------

// The value as a number for a number pattern; false for text that is no number.
bool AsNumber(const Variant& v, double& out, const Locale& loc) {
  switch (v.type()) {
    case VType::String:
      return ParseNumber(v.str(), out, loc) && std::isfinite(out);
    case VType::Date:
      out = v.dateVal();
      return true;
    case VType::Empty:
      out = 0;
      return true;
    case VType::Single: {
      // The float's own shortest digits, so 0.1 does not show its binary tail.
      char buf[32];
      auto res = std::to_chars(buf, buf + sizeof buf, v.singleVal());
      std::from_chars(buf, res.ptr, out);
      return true;
    }
    default:
      out = CDbl(v, loc);
      return true;
  }
}

// The value as a date serial for a date pattern; false when it is neither date nor number.
bool AsSerial(const Variant& v, double& out, const Locale& loc) {
  if (v.type() == VType::String) {
    if (ParseDate(v.str(), out, loc)) return true;
    if (!ParseNumber(v.str(), out, loc)) return false;
  } else if (!AsNumber(v, out, loc)) {
    return false;
  }
  return detail::InDateRange(out);
}

}  // namespace

std::string Format(const Variant& v, std::string_view pattern, const Locale& loc) {
  if (v.IsNull()) return {};
  if (v.IsObject() || v.IsArray()) Raise(err::kTypeMismatch);
  if (pattern.empty()) return CStr(v, loc);
  const std::string fallback = v.IsString() ? v.str() : std::string();

  struct Named {
    std::string_view name;
    std::string_view number;  // number pattern, or empty
    std::string_view date;    // date pattern, or empty
  };
  std::string_view shortDate = loc.padDayMonth ? (loc.monthFirst ? "mm/dd/yyyy" : "dd/mm/yyyy")
                                               : (loc.monthFirst ? "m/d/yyyy" : "d/m/yyyy");
  std::string_view longTime = loc.hour12 ? "h:nn:ss AM/PM" : loc.padHour ? "hh:nn:ss" : "h:nn:ss";
  const Named kNamed[] = {
      {"Fixed", "0.00", {}},         {"Standard", "#,##0.00", {}},    {"Percent", "0.00%", {}},
      {"Short Date", {}, shortDate}, {"Long Date", {}, loc.longDate}, {"Short Time", {}, "hh:nn"},
      {"Long Time", {}, longTime},
  };
  for (const Named& n : kNamed) {
    if (!text::EqualsNoCaseAscii(pattern, n.name)) continue;
    double d;
    if (!n.number.empty()) return AsNumber(v, d, loc) ? FormatNumber(d, n.number, loc) : fallback;
    return AsSerial(v, d, loc) ? FormatDatePattern(d, n.date, loc) : fallback;
  }
  if (text::EqualsNoCaseAscii(pattern, "General Number")) {
    double d;
    return AsNumber(v, d, loc) ? NumberToText(d, loc) : fallback;
  }
  if (text::EqualsNoCaseAscii(pattern, "General Date")) {
    double d;
    return AsSerial(v, d, loc) ? DateToText(d, loc) : fallback;
  }
  static const char* const kTruth[][3] = {
      {"Yes/No", "Yes", "No"}, {"True/False", "True", "False"}, {"On/Off", "On", "Off"}};
  for (auto& t : kTruth) {
    if (!text::EqualsNoCaseAscii(pattern, t[0])) continue;
    double d;
    return AsNumber(v, d, loc) ? (d != 0 ? t[1] : t[2]) : fallback;
  }

  std::vector<Token> first = Tokenize(Sections(pattern)[0]);
  double d;
  if (HasDigitPlaceholder(first))
    return AsNumber(v, d, loc) ? FormatNumber(d, pattern, loc) : fallback;
  if (HasDatePart(first))
    return AsSerial(v, d, loc) ? FormatDatePattern(d, pattern, loc) : fallback;
  // Only literal text: a number pattern without placeholders shows the text alone.
  if (v.IsString() && !AsNumber(v, d, loc)) return fallback;
  AsNumber(v, d, loc);
  return FormatNumber(d, pattern, loc);
}

}  // namespace fern::vb
