// VB's conversions, operators and text functions on Variants, under the regional settings given
// (German unless a caller passes others: the host's own code always runs German, only scripts
// switch with SetLocale). Errors are HostError with VB's numbers (13 Type mismatch, 6 Overflow, 94
// Invalid use of Null, 11 Division by zero).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace fern::vb {

// --- regional settings ---------------------------------------------------------------------
// What a Windows locale decides for VB's conversions. Read-only tables; callers pass them by
// reference, so nothing process-wide ever changes.
struct Locale {
  int32_t id;                // the Windows locale id (1031 German)
  std::string_view decimal;  // "," in German
  std::string_view group;    // thousands separator
  bool monthFirst;           // short date order M/D/Y rather than D/M/Y
  char dateSep;              // short date separator
  bool padDayMonth;          // "05.03.2026" rather than "5-3-2026"
  bool hour12;               // "1:05:00 PM"
  bool padHour;              // "08:05:00" rather than "8:05:00"
  std::array<std::string_view, 12> months;
  std::array<std::string_view, 12> monthAbbrev;   // MonthName(m, True)
  std::array<std::string_view, 12> formatMonths;  // Format's "mmm"
  std::array<std::string_view, 7> days;           // Sunday first
  std::array<std::string_view, 7> dayAbbrev;
  std::string_view longDate;  // a Format pattern
  std::string_view currency;  // symbol
  bool currencyFirst;         // "$1.00" rather than "1,00 €"
  bool currencySpace;         // a blank between symbol and amount
  int firstDayOfWeek;         // 1 Sunday, 2 Monday
  int firstWeekOfYear;        // 1 the week of 1 January, 2 the first with four days
};

// The offices' settings (de-DE, 1031); every default below.
const Locale& German();
// The settings of a locale id scripts may choose; nullptr for an id without a table.
const Locale* FindLocale(int32_t id);
// "de-at", "en-US", "fr" ...; nullptr when unknown.
const Locale* FindLocale(std::string_view name);

// --- conversions --------------------------------------------------------------------------
std::string CStr(
    const Variant& v,
    const Locale& loc = German());  // Null: error 94; Empty: ""; Boolean: "True"/"False"
int32_t CLng(const Variant& v,
             const Locale& loc = German());  // rounds half to even; error 6 outside 32 bits
int16_t CInt(const Variant& v, const Locale& loc = German());
uint8_t CByte(const Variant& v, const Locale& loc = German());
double CDbl(const Variant& v, const Locale& loc = German());
float CSng(const Variant& v, const Locale& loc = German());
int64_t CCur(const Variant& v, const Locale& loc = German());  // scaled by 10,000
bool CBool(const Variant& v, const Locale& loc = German());
// OLE serial; text in the locale's short date order ("31.12.2024 13:05:00"), ISO too.
double CDate(const Variant& v, const Locale& loc = German());
double Val(std::string_view s);  // VB's Val: leading number, "." as decimal point, &H/&O
bool IsNumeric(const Variant& v, const Locale& loc = German());  // German: "1.000,5"
bool IsDate(const Variant& v, const Locale& loc = German());

// Text to number as VB's implicit conversion does it (the locale's decimal separator; its
// thousands separator is skipped wherever it stands); false when the text is no number.
bool ParseNumber(std::string_view s, double& out, const Locale& loc = German());
// Text to date in the forms CDate accepts; false when it is none.
bool ParseDate(std::string_view s, double& serial, const Locale& loc = German());

// Double to text the way CStr does (up to 15 significant digits, the locale's decimal
// separator, E notation for large or tiny values).
std::string NumberToText(double d, const Locale& loc = German());
// Date to text the way CStr does: the short date, the long time or both.
std::string DateToText(double serial, const Locale& loc = German());
// The time of day as CStr writes it ("13:05:00", "1:05:00 PM").
std::string TimeToText(int hour, int minute, int second, const Locale& loc = German());

// --- dates ------------------------------------------------------------------------------
double DateSerial(int year, int month, int day);  // month/day overflow rolls over as in VB
double TimeSerial(int hour, int minute, int second);
void SplitDate(double serial, int& year, int& month, int& day, int& hour, int& minute, int& second,
               int& millisecond);
double Now();  // local time, to the whole second as VB's Now
// 1 = Sunday as in VB; firstDayOfWeek 0 is the locale's.
int Weekday(double serial, int firstDayOfWeek = 1, const Locale& loc = German());

// --- operators --------------------------------------------------------------------------
// Each follows VB's rules for the result type (Integer + Integer overflows into Long, and so on),
// Null propagation, and Empty as 0 or "".
Variant Add(const Variant& a, const Variant& b,
            const Locale& loc = German());  // + (text + text concatenates)
Variant Sub(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Mul(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Div(const Variant& a, const Variant& b, const Locale& loc = German());     // /
Variant IntDiv(const Variant& a, const Variant& b, const Locale& loc = German());  // \ .
Variant Mod(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Pow(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Neg(const Variant& a, const Locale& loc = German());
Variant Concat(const Variant& a, const Variant& b,
               const Locale& loc = German());  // &: Null & x = x; Null & Null = Null
Variant Not(const Variant& a, const Locale& loc = German());
Variant And(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Or(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Xor(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Eqv(const Variant& a, const Variant& b, const Locale& loc = German());
Variant Imp(const Variant& a, const Variant& b, const Locale& loc = German());

// Comparison: -1, 0, 1; `isNull` set when either side is Null (the result is then Null).
// textCompare compares text without regard to case (Option Compare Text / vbTextCompare).
int Compare(const Variant& a, const Variant& b, bool& isNull, bool textCompare = false);
// How the script wrote an operand of a comparison.
enum class Written {
  kNo,        // a variable, parameter, function result, expression or Select Case selector
  kConstant,  // a constant's name or a negated number literal
  kLiteral,   // a literal as such: "text", 5, &hff, 1e2, True
};
// Compare for text against a value of another kind, by how each side was written (the table in
// vb_ops.cpp): as text, with the text read as a number or date, or the text greater.
int CompareWritten(const Variant& a, Written aHow, const Variant& b, Written bHow, bool& isNull,
                   const Locale& loc = German());
// The comparison operators as Variants (Boolean or Null).
Variant Eq(const Variant& a, const Variant& b);
Variant Ne(const Variant& a, const Variant& b);
Variant Lt(const Variant& a, const Variant& b);
Variant Le(const Variant& a, const Variant& b);
Variant Gt(const Variant& a, const Variant& b);
Variant Ge(const Variant& a, const Variant& b);

// Truth value of a condition (If, While, Do): Null counts as False, text goes through CBool.
bool Truth(const Variant& v, const Locale& loc = German());

// --- text ----------------------------------------------------------------------------------
// All positions and lengths count characters (code points), 1-based as in VB.
size_t Len(std::string_view s);
std::string Left(std::string_view s, int64_t n);
std::string Right(std::string_view s, int64_t n);
std::string Mid(std::string_view s, int64_t start, int64_t len = -1);
int64_t InStr(int64_t start, std::string_view s, std::string_view find, bool textCompare = false);
int64_t InStrRev(std::string_view s, std::string_view find, int64_t start = -1,
                 bool textCompare = false);
std::string Replace(std::string_view s, std::string_view find, std::string_view with,
                    int64_t start = 1, int64_t count = -1, bool textCompare = false);
std::string UCase(std::string_view s);  // German letters too (ä -> Ä; ß stays ß)
std::string LCase(std::string_view s);
std::string Trim(std::string_view s);  // blanks only, as VB
std::string LTrim(std::string_view s);
std::string RTrim(std::string_view s);
int StrComp(std::string_view a, std::string_view b, bool textCompare = false);
// VB's Like: ? * # [a-z] [!a-z]; textCompare folds case (Option Compare Text).
bool Like(std::string_view s, std::string_view pattern, bool textCompare = false);

// --- Format ---------------------------------------------------------------------------------
// VB's Format with the number and date patterns the program uses ("0.00", "#,##0", "##%",
// "dd.MM.yyyy hh:nn:ss", "yyyy-mm-dd", ...) and the named ones ("General Number", "Short Date",
// ...). In a pattern "," groups thousands, "." is the decimal point, "/" and ":" the date and time
// separators; the output writes the locale's.
std::string Format(const Variant& v, std::string_view pattern = {}, const Locale& loc = German());

}  // namespace fern::vb
