// Helpers shared by the vb*.cpp files; not part of the platform's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host_error.h"

namespace fern::vb::detail {

[[noreturn]] void Raise(int32_t number);

// VB's banker's rounding, independent of the floating-point environment.
double RoundHalfEven(double x);

// --- UTF-8 ---------------------------------------------------------------------------------
// Text is decoded with utf8::Next: a byte that starts no well-formed sequence (stray,
// truncated, overlong) counts as one character of its own and passes unchanged, so positions
// stay consistent on broken input instead of failing.
// Byte offset of the character with 0-based index n (s.size() when past the end).
size_t ByteOffset(std::string_view s, size_t n);

// Case mapping for ASCII, Latin-1 and ÿ/Ÿ. Every pair keeps its UTF-8 length, so folded
// text keeps the byte offsets of the original.
char32_t ToUpper(char32_t c);
char32_t ToLower(char32_t c);
// The text with every character mapped so; broken bytes pass unchanged.
std::string MapCase(std::string_view s, bool upper);
inline std::string FoldLower(std::string_view s) { return MapCase(s, false); }

// --- calendar ------------------------------------------------------------------------------
// Day number relative to 30.12.1899 (the OLE epoch) from a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);
void CivilFromDays(int64_t z, int& y, int& m, int& d);
// OLE serials count the time fraction away from day 0, so a date before the epoch is the
// negative day minus the time.
double MakeSerial(int64_t day, double timeFraction);
// Splits a serial into day number and milliseconds of the day, rounded to whole milliseconds.
void SplitSerial(double serial, int64_t& day, int64_t& msOfDay);
// VB's date range: 1.1.100 to 31.12.9999.
inline constexpr double kMinDate = -657434.0;
inline constexpr double kMaxDate = 2958465.99999999;
bool InDateRange(double serial);

// |v| rounded to `precision` significant decimal digits, as |v| = d.ddd... x 10^exp10: the
// digits without a point, trailing zeros kept. v is finite and not 0.
struct SignificantDigits {
  SignificantDigits(double v, int precision);
  std::string digits;
  int exp10 = 0;
};

// Digits of a non-negative double in fixed notation with `decimals` places, rounded half away
// from zero on the decimal value the double prints as (so 0.125 with 2 places is "0.13").
// Uses '.' as the decimal point; locale-free.
std::string FixedDigits(double v, int decimals);

}  // namespace fern::vb::detail
