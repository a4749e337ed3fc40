// VB's conversions, operators and text functions on Variants, under German regional settings.
// Errors are HostError with VB's numbers (13 Type mismatch, 6 Overflow, 94 Invalid use of Null,
// 11 Division by zero).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/variant.h"

namespace fern::vb {

// --- conversions --------------------------------------------------------------------------
std::string CStr(const Variant& v);  // Null: error 94; Empty: ""; Boolean: "True"/"False"
int32_t CLng(const Variant& v);      // rounds half to even; error 6 outside 32 bits
int16_t CInt(const Variant& v);
uint8_t CByte(const Variant& v);
double CDbl(const Variant& v);
float CSng(const Variant& v);
int64_t CCur(const Variant& v);  // scaled by 10,000
bool CBool(const Variant& v);
double CDate(
    const Variant& v);  // OLE serial; text in German forms ("31.12.2024 13:05:00", ISO too)
double Val(std::string_view s);    // VB's Val: leading number, "." as decimal point, &H/&O
bool IsNumeric(const Variant& v);  // German: "1,5" and "1.000,5" are numeric
bool IsDate(const Variant& v);

// Text to number as VB's implicit conversion does it (German decimal comma, thousands points);
// false when the text is no number.
bool ParseNumber(std::string_view s, double& out);
// Text to date in the forms CDate accepts; false when it is none.
bool ParseDate(std::string_view s, double& serial);

// Double to text the way CStr does (up to 15 significant digits, decimal comma, E notation
// for large or tiny values).
std::string NumberToText(double d);
// Date to text the way CStr does: "dd.MM.yyyy", "hh:nn:ss" or both.
std::string DateToText(double serial);

// --- dates ------------------------------------------------------------------------------
double DateSerial(int year, int month, int day);  // month/day overflow rolls over as in VB
double TimeSerial(int hour, int minute, int second);
void SplitDate(double serial, int& year, int& month, int& day, int& hour, int& minute, int& second,
               int& millisecond);
double Now();                                        // local time, to the whole second as VB's Now
int Weekday(double serial, int firstDayOfWeek = 1);  // 1 = Sunday as in VB

// --- operators --------------------------------------------------------------------------
// Each follows VB's rules for the result type (Integer + Integer overflows into Long, and so on),
// Null propagation, and Empty as 0 or "".
Variant Add(const Variant& a, const Variant& b);  // + (text + text concatenates)
Variant Sub(const Variant& a, const Variant& b);
Variant Mul(const Variant& a, const Variant& b);
Variant Div(const Variant& a, const Variant& b);     // /
Variant IntDiv(const Variant& a, const Variant& b);  // \ .
Variant Mod(const Variant& a, const Variant& b);
Variant Pow(const Variant& a, const Variant& b);
Variant Neg(const Variant& a);
Variant Concat(const Variant& a, const Variant& b);  // &: Null & x = x; Null & Null = Null
Variant Not(const Variant& a);
Variant And(const Variant& a, const Variant& b);
Variant Or(const Variant& a, const Variant& b);
Variant Xor(const Variant& a, const Variant& b);
Variant Eqv(const Variant& a, const Variant& b);
Variant Imp(const Variant& a, const Variant& b);

// Comparison: -1, 0, 1; `isNull` set when either side is Null (the result is then Null).
// textCompare compares text without regard to case (Option Compare Text / vbTextCompare).
int Compare(const Variant& a, const Variant& b, bool& isNull, bool textCompare = false);
// The comparison operators as Variants (Boolean or Null).
Variant Eq(const Variant& a, const Variant& b);
Variant Ne(const Variant& a, const Variant& b);
Variant Lt(const Variant& a, const Variant& b);
Variant Le(const Variant& a, const Variant& b);
Variant Gt(const Variant& a, const Variant& b);
Variant Ge(const Variant& a, const Variant& b);

// Truth value of a condition (If, While, Do): Null counts as False, text goes through CBool.
bool Truth(const Variant& v);

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
// ...). Separators are German: "," in a pattern groups thousands as "." and "." is the decimal
// comma.
std::string Format(const Variant& v, std::string_view pattern = {});

}  // namespace fern::vb
