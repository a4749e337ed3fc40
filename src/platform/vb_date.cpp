// Dates as OLE serials: days since 30.12.1899, the time as the fraction. Before that day the
// fraction counts away from day 0 (-1.25 is 29.12.1899 06:00), as OLE and VB do.
#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/text.h"
#include "platform/vb.h"
#include "platform/vb_internal.h"

namespace fern::vb {

using detail::Raise;

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Two-digit years as VB windows them: 00-29 are 2000-2029, 30-99 are 1930-1999.
int WindowYear(int y) { return y < 30 ? 2000 + y : (y < 100 ? 1900 + y : y); }

// A run of digits starting at s[i]; false when there is none or it is longer than maxLen.
bool ReadInt(std::string_view s, size_t& i, int maxLen, int& value, int& len) {
  value = 0;
  len = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (++len > maxLen) return false;
    value = value * 10 + (s[i] - '0');
    ++i;
  }
  return len > 0;
}

// "31.12.2024", "31.12.24", "2024-12-31", "12/31/2024" where the month comes first; "." and "/"
// separate in any locale, "-" only in ISO order or where it is the locale's own; sets the day
// number.
bool ParseDatePart(std::string_view s, int64_t& day, const Locale& loc) {
  size_t i = 0;
  int a, b, c, la, lb, lc;
  if (!ReadInt(s, i, 4, a, la) || i >= s.size()) return false;
  char sep = s[i];
  if (sep != '.' && sep != '-' && sep != '/') return false;
  ++i;
  if (!ReadInt(s, i, 2, b, lb) || i >= s.size() || s[i] != sep) return false;
  ++i;
  if (!ReadInt(s, i, 4, c, lc) || i != s.size()) return false;
  int y, m, d;
  if (sep == '-' && la == 4) {
    y = a;
    m = b;
    d = c;
  } else {
    if (la > 2 || (sep == '-' && loc.dateSep != '-')) return false;
    d = loc.monthFirst ? b : a;
    m = loc.monthFirst ? a : b;
    y = lc <= 2 ? WindowYear(c) : c;
  }
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  day = detail::DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
  return true;
}

// "13:05" or "13:05:00", with AM or PM after it where the locale counts hours so; sets the
// fraction of the day.
bool ParseTimePart(std::string_view s, double& fraction, const Locale& loc) {
  int half = 0;  // 1 AM, 2 PM
  if (loc.hour12 && s.size() > 2) {
    std::string_view tail = s.substr(s.size() - 2);
    if (text::EqualsNoCaseAscii(tail, "AM")) half = 1;
    if (text::EqualsNoCaseAscii(tail, "PM")) half = 2;
    if (half) s = text::TrimBlanks(s.substr(0, s.size() - 2));
  }
  size_t i = 0;
  int h, m, sec = 0, lh, lm, ls;
  if (!ReadInt(s, i, 2, h, lh) || i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!ReadInt(s, i, 2, m, lm)) return false;
  if (i < s.size()) {
    if (s[i] != ':') return false;
    ++i;
    if (!ReadInt(s, i, 2, sec, ls) || i != s.size()) return false;
  }
  if (h > 23 || m > 59 || sec > 59) return false;
  if (half) {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (half == 2 ? 12 : 0);
  }
  fraction = (h * 3600 + m * 60 + sec) / 86400.0;
  return true;
}

}  // namespace

bool ParseDate(std::string_view s, double& serial, const Locale& loc) {
  s = text::TrimBlanks(s);
  if (s.empty()) return false;
  size_t split = s.find_first_of(" T");
  int64_t day = 0;
  double fraction = 0;
  if (s.substr(0, split).find(':') != std::string_view::npos) {
    if (!ParseTimePart(s, fraction, loc)) return false;
  } else if (split == std::string_view::npos) {
    if (!ParseDatePart(s, day, loc)) return false;
  } else {
    std::string_view timeText = s.substr(split + 1);
    while (!timeText.empty() && timeText.front() == ' ') timeText.remove_prefix(1);
    if (!ParseDatePart(s.substr(0, split), day, loc) || !ParseTimePart(timeText, fraction, loc))
      return false;
  }
  serial = detail::MakeSerial(day, fraction);
  return true;
}

std::string TimeToText(int hour, int minute, int second, const Locale& loc) {
  char buf[32];
  int h = loc.hour12 ? (hour + 11) % 12 + 1 : hour;
  std::snprintf(buf, sizeof buf, loc.padHour ? "%02d:%02d:%02d" : "%d:%02d:%02d", h, minute,
                second);
  std::string out = buf;
  if (loc.hour12) out += hour < 12 ? " AM" : " PM";
  return out;
}

std::string DateToText(double serial, const Locale& loc) {
  int64_t day, ms;
  detail::SplitSerial(serial, day, ms);
  int64_t secs = (ms + 500) / 1000;
  if (secs >= 86400) {
    secs -= 86400;
    day += 1;
  }
  char buf[32];
  std::string out;
  if (day != 0 || secs == 0) {
    int y, m, d;
    detail::CivilFromDays(day, y, m, d);
    int first = loc.monthFirst ? m : d, second = loc.monthFirst ? d : m;
    std::snprintf(buf, sizeof buf, loc.padDayMonth ? "%02d%c%02d%c%04d" : "%d%c%d%c%04d", first,
                  loc.dateSep, second, loc.dateSep, y);
    out = buf;
  }
  if (secs != 0) {
    if (!out.empty()) out += ' ';
    out += TimeToText(static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                      static_cast<int>(secs % 60), loc);
  }
  return out;
}

double DateSerial(int year, int month, int day) {
  int64_t y = year < 0 ? year : WindowYear(year);
  // Months beyond 1..12 roll into neighbouring years, days beyond the month into neighbouring
  // months.
  int64_t m0 = month - 1;
  y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
  m0 = ((m0 % 12) + 12) % 12;
  int64_t serial = detail::DaysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) + (day - 1);
  double d = static_cast<double>(serial);
  if (!detail::InDateRange(d)) Raise(err::kInvalidArgument);
  return d;
}

double TimeSerial(int hour, int minute, int second) {
  int64_t total = int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
  int64_t day = total >= 0 ? total / 86400 : -((86399 - total) / 86400);
  int64_t rem = total - day * 86400;
  return detail::MakeSerial(day, rem / 86400.0);
}

void SplitDate(double serial, int& year, int& month, int& day, int& hour, int& minute, int& second,
               int& millisecond) {
  int64_t dayNo, ms;
  detail::SplitSerial(serial, dayNo, ms);
  detail::CivilFromDays(dayNo, year, month, day);
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

double Now() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  int64_t day = detail::DaysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1),
                                      static_cast<unsigned>(tm.tm_mday));
  // Whole seconds as VB's Now: a fraction of a second would round up in Format and CStr.
  double fraction = (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
  return detail::MakeSerial(day, fraction);
}

int Weekday(double serial, int firstDayOfWeek, const Locale& loc) {
  int64_t day, ms;
  detail::SplitSerial(serial, day, ms);
  // 30.12.1899 was a Saturday (7 with Sunday first).
  int sundayBased = static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
  if (firstDayOfWeek == 0) firstDayOfWeek = loc.firstDayOfWeek;
  if (firstDayOfWeek < 1 || firstDayOfWeek > 7) Raise(err::kInvalidArgument);
  return (sundayBased - firstDayOfWeek + 7) % 7 + 1;
}

}  // namespace fern::vb
