// Date functions. Arithmetic runs on a continuous count of milliseconds: OLE serials before
// 1900 count the time fraction away from day 0, which plain addition would get wrong.
#include <cmath>
#include <cstdio>

#include "platform/vb.h"
#include "script/runtime_util.h"

namespace fern::script::rt {

namespace {

constexpr int64_t kMsPerDay = 86400000;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t ToAbsMs(double serial) {
  double day = std::trunc(serial);
  double frac = std::fabs(serial - day);
  return static_cast<int64_t>(day) * kMsPerDay + std::llround(frac * kMsPerDay);
}

double FromAbsMs(int64_t ms) {
  int64_t day = FloorDiv(ms, kMsPerDay);
  double frac = static_cast<double>(ms - day * kMsPerDay) / kMsPerDay;
  double serial = day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
  if (serial < -657434.0 || serial >= 2958466.0) Raise(err::kInvalidArgument);
  return serial;
}

struct Parts {
  int year, month, day, hour, minute, second, ms;
  int64_t dayNo;  // days since 30.12.1899
  int64_t abs;    // milliseconds on the continuous scale
};

// `toSecond`: the time rounded to the nearest second first, as VB reads a date's parts (the
// rounding may carry into the minute, hour and day).
Parts Split(double serial, bool toSecond = false) {
  Parts p{};
  p.abs = ToAbsMs(serial);
  if (toSecond) p.abs = FloorDiv(p.abs + 500, 1000) * 1000;
  p.dayNo = FloorDiv(p.abs, kMsPerDay);
  int64_t rem = p.abs - p.dayNo * kMsPerDay;
  int h, mi, s, ms;
  vb::SplitDate(static_cast<double>(p.dayNo), p.year, p.month, p.day, h, mi, s, ms);
  p.hour = static_cast<int>(rem / 3600000);
  p.minute = static_cast<int>(rem / 60000 % 60);
  p.second = static_cast<int>(rem / 1000 % 60);
  p.ms = static_cast<int>(rem % 1000);
  return p;
}

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

int64_t DayNumber(int year, int month, int day) {
  // Whole-day serials are their own day numbers.
  return static_cast<int64_t>(vb::DateSerial(year, month, day));
}

std::string Interval(Args a, size_t i) {
  std::string s = ArgStr(a, i);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// Null as the date argument gives Null; otherwise the date as a serial.
bool DateArg(Args a, size_t i, double& serial) {
  Variant v = Arg(a, i);
  if (v.IsNull()) return false;
  serial = vb::CDate(v, a.loc);
  return true;
}

int FirstDayOfWeek(Args a, size_t i, int fallback) {
  int fdow = Given(a, i) ? ArgLng(a, i) : fallback;
  if (fdow == 0) fdow = a.loc.firstDayOfWeek;
  if (fdow < 1 || fdow > 7) Raise(err::kInvalidArgument);
  return fdow;
}

int FirstWeekOfYear(Args a, size_t i) {
  int w = Given(a, i) ? ArgLng(a, i) : 1;
  if (w == 0) w = a.loc.firstWeekOfYear;
  if (w < 1 || w > 3) Raise(err::kInvalidArgument);
  return w;
}

// Weekday 1..7 of a day number, counted from `fdow` (1 = Sunday).
int WeekdayOf(int64_t dayNo, int fdow) {
  int sundayBased = static_cast<int>(((dayNo % 7) + 7 + 6) % 7) + 1;  // 30.12.1899: Saturday
  return (sundayBased - fdow + 7) % 7 + 1;
}

int64_t WeekOneStart(int year, int fdow, int rule) {
  int64_t jan1 = DayNumber(year, 1, 1);
  int wd = WeekdayOf(jan1, fdow);
  int64_t start = jan1 - (wd - 1);
  if (rule == 2 && 8 - wd < 4) start += 7;
  if (rule == 3 && wd != 1) start += 7;
  return start;
}

int WeekOfYear(const Parts& p, int fdow, int rule) {
  int64_t start = WeekOneStart(p.year, fdow, rule);
  if (p.dayNo < start) start = WeekOneStart(p.year - 1, fdow, rule);
  // With the four-day and full-week rules the last days of December can open the next year's
  // first week.
  if (rule != 1 && p.dayNo >= WeekOneStart(p.year + 1, fdow, rule)) return 1;
  return static_cast<int>((p.dayNo - start) / 7) + 1;
}

Variant DateAdd(Args a) {
  std::string iv = Interval(a, 0);
  // A fractional number is rounded to a whole one first, as VB does.
  int64_t n = ArgLng(a, 1);
  double serial;
  if (!DateArg(a, 2, serial)) return Variant::Null();
  Parts p = Split(serial);
  int64_t abs = p.abs;
  int64_t months = 0;
  if (iv == "yyyy") {
    months = 12 * n;
  } else if (iv == "q") {
    months = 3 * n;
  } else if (iv == "m") {
    months = n;
  } else if (iv == "y" || iv == "d" || iv == "w") {
    abs += n * kMsPerDay;
  } else if (iv == "ww") {
    abs += 7 * n * kMsPerDay;
  } else if (iv == "h") {
    abs += n * 3600000;
  } else if (iv == "n") {
    abs += n * 60000;
  } else if (iv == "s") {
    abs += n * 1000;
  } else {
    Raise(err::kInvalidArgument);
  }
  if (iv == "yyyy" || iv == "q" || iv == "m") {
    int64_t total = int64_t{p.year} * 12 + (p.month - 1) + months;
    int64_t y = FloorDiv(total, 12);
    int m = static_cast<int>(total - y * 12) + 1;
    if (y < 100 || y > 9999) Raise(err::kInvalidArgument);
    // The day is clamped to the target month: 31.01. plus one month is the last of February.
    int d = std::min(p.day, DaysInMonth(static_cast<int>(y), m));
    int64_t dayNo = DayNumber(static_cast<int>(y), m, d);
    abs = dayNo * kMsPerDay + (p.abs - p.dayNo * kMsPerDay);
  }
  return Variant::Date(FromAbsMs(abs));
}

Variant DateDiff(Args a) {
  std::string iv = Interval(a, 0);
  int fdow = FirstDayOfWeek(a, 3, 1);
  FirstWeekOfYear(a, 4);
  double s1, s2;
  bool have1 = DateArg(a, 1, s1);
  bool have2 = DateArg(a, 2, s2);
  if (!have1 || !have2) return Variant::Null();
  Parts p = Split(s1), q = Split(s2);
  int64_t r;
  if (iv == "yyyy") {
    r = q.year - p.year;
  } else if (iv == "q") {
    r = (int64_t{q.year} * 4 + (q.month - 1) / 3) - (int64_t{p.year} * 4 + (p.month - 1) / 3);
  } else if (iv == "m") {
    r = (int64_t{q.year} * 12 + q.month) - (int64_t{p.year} * 12 + p.month);
  } else if (iv == "y" || iv == "d") {
    r = q.dayNo - p.dayNo;
  } else if (iv == "w") {
    r = (q.dayNo - p.dayNo) / 7;
  } else if (iv == "ww") {
    int64_t w1 = p.dayNo - (WeekdayOf(p.dayNo, fdow) - 1);
    int64_t w2 = q.dayNo - (WeekdayOf(q.dayNo, fdow) - 1);
    r = (w2 - w1) / 7;
  } else if (iv == "h") {
    r = FloorDiv(q.abs, 3600000) - FloorDiv(p.abs, 3600000);
  } else if (iv == "n") {
    r = FloorDiv(q.abs, 60000) - FloorDiv(p.abs, 60000);
  } else if (iv == "s") {
    r = FloorDiv(q.abs, 1000) - FloorDiv(p.abs, 1000);
  } else {
    Raise(err::kInvalidArgument);
  }
  return Variant::Whole(r);
}

Variant DatePart(Args a) {
  std::string iv = Interval(a, 0);
  int fdow = FirstDayOfWeek(a, 2, 1);
  int rule = FirstWeekOfYear(a, 3);
  double serial;
  if (!DateArg(a, 1, serial)) return Variant::Null();
  Parts p = Split(serial, true);
  int r;
  if (iv == "yyyy")
    r = p.year;
  else if (iv == "q")
    r = (p.month - 1) / 3 + 1;
  else if (iv == "m")
    r = p.month;
  else if (iv == "y")
    r = static_cast<int>(p.dayNo - DayNumber(p.year, 1, 1)) + 1;
  else if (iv == "d")
    r = p.day;
  else if (iv == "w")
    r = WeekdayOf(p.dayNo, fdow);
  else if (iv == "ww")
    r = WeekOfYear(p, fdow, rule);
  else if (iv == "h")
    r = p.hour;
  else if (iv == "n")
    r = p.minute;
  else if (iv == "s")
    r = p.second;
  else
    Raise(err::kInvalidArgument);
  return Variant(static_cast<int16_t>(r));  // DatePart is an Integer
}

template <int Parts::*Field>
Variant PartFn(Args a) {
  double serial;
  if (!DateArg(a, 0, serial)) return Variant::Null();
  return Variant(static_cast<int16_t>(Split(serial, true).*Field));
}

Variant NowFn(Args) { return Variant::Date(vb::Now()); }
Variant DateFn(Args) { return Variant::Date(std::trunc(vb::Now())); }
Variant TimeFn(Args) {
  double now = vb::Now();
  return Variant::Date(std::fabs(now - std::trunc(now)));
}

Variant DateSerialFn(Args a) {
  return Variant::Date(vb::DateSerial(ArgLng(a, 0), ArgLng(a, 1), ArgLng(a, 2)));
}
Variant TimeSerialFn(Args a) {
  return Variant::Date(vb::TimeSerial(ArgLng(a, 0), ArgLng(a, 1), ArgLng(a, 2)));
}

Variant DateValueFn(Args a) {
  double serial;
  if (!DateArg(a, 0, serial)) Raise(err::kInvalidUseOfNull);
  return Variant::Date(std::trunc(serial));
}
Variant TimeValueFn(Args a) {
  double serial;
  if (!DateArg(a, 0, serial)) return Variant::Null();
  return Variant::Date(std::fabs(serial - std::trunc(serial)));
}

Variant WeekdayFn(Args a) {
  int fdow = FirstDayOfWeek(a, 1, 1);
  double serial;
  if (!DateArg(a, 0, serial)) return Variant::Null();
  return Variant(static_cast<int16_t>(WeekdayOf(Split(serial).dayNo, fdow)));
}

Variant WeekdayNameFn(Args a) {
  int n = ArgLng(a, 0);
  bool abbrev = Given(a, 1) && ArgBool(a, 1);
  int fdow = FirstDayOfWeek(a, 2, 1);
  if (n < 1 || n > 7) Raise(err::kInvalidArgument);
  int sundayIndex = (n - 1 + fdow - 1) % 7;
  return Variant(std::string(abbrev ? a.loc.dayAbbrev[sundayIndex] : a.loc.days[sundayIndex]));
}

Variant MonthNameFn(Args a) {
  int m = ArgLng(a, 0);
  bool abbrev = Given(a, 1) && ArgBool(a, 1);
  if (m < 1 || m > 12) Raise(err::kInvalidArgument);
  return Variant(std::string(abbrev ? a.loc.monthAbbrev[m - 1] : a.loc.months[m - 1]));
}

Variant FormatDateTimeFn(Args a) {
  double serial = vb::CDate(Arg(a, 0), a.loc);
  int fmt = Given(a, 1) ? ArgLng(a, 1) : 0;
  Parts p = Split(serial);
  char buf[96];
  switch (fmt) {
    case 0:
      return Variant(vb::DateToText(serial, a.loc));
    case 1:
      return Variant(vb::Format(Variant::Date(serial), "Long Date", a.loc));
    case 2:
      return Variant(vb::Format(Variant::Date(serial), "Short Date", a.loc));
    case 3:
      return Variant(vb::TimeToText(p.hour, p.minute, p.second, a.loc));
    case 4:
      std::snprintf(buf, sizeof buf, "%02d:%02d", p.hour, p.minute);
      break;
    default:
      Raise(err::kInvalidArgument);
  }
  return Variant(std::string(buf));
}

const Builtin kDates[] = {
    {"Now", 0, 0, NowFn},
    {"Date", 0, 0, DateFn},
    {"Time", 0, 0, TimeFn},
    {"Year", 1, 1, PartFn<&Parts::year>},
    {"Month", 1, 1, PartFn<&Parts::month>},
    {"Day", 1, 1, PartFn<&Parts::day>},
    {"Hour", 1, 1, PartFn<&Parts::hour>},
    {"Minute", 1, 1, PartFn<&Parts::minute>},
    {"Second", 1, 1, PartFn<&Parts::second>},
    {"DateAdd", 3, 3, DateAdd},
    {"DateDiff", 3, 5, DateDiff},
    {"DatePart", 2, 4, DatePart},
    {"DateSerial", 3, 3, DateSerialFn},
    {"TimeSerial", 3, 3, TimeSerialFn},
    {"DateValue", 1, 1, DateValueFn},
    {"TimeValue", 1, 1, TimeValueFn},
    {"Weekday", 1, 2, WeekdayFn},
    {"WeekdayName", 1, 3, WeekdayNameFn},
    {"MonthName", 1, 2, MonthNameFn},
    {"FormatDateTime", 1, 2, FormatDateTimeFn},
};

}  // namespace

std::span<const Builtin> DateBuiltins() { return kDates; }

}  // namespace fern::script::rt
