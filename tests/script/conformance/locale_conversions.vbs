' Regional settings: SetLocale changes what conversions read and write until the script ends;
' German is where every script starts.
Dim d : d = DateSerial(2026, 3, 5) + TimeSerial(13, 5, 9)
Sub Show(id)
  Dim old : old = SetLocale(id)
  WScript.Echo GetLocale() & " numbers: " & CStr(1.5) & " | " & 0.25 & " | " & CCur(-2.5) & " | " & _
    IsNumeric("1,5") & " " & IsNumeric("1.234,5") & " " & IsNumeric("1,234.5") & " | " & _
    FormatNumber(1234.5, 2) & " | " & FormatCurrency(-1234.5) & " | " & FormatPercent(0.125)
  WScript.Echo GetLocale() & " dates: " & CStr(DateValue(d)) & " | " & CStr(TimeValue(d)) & " | " & _
    d & " | " & (CDate(CStr(d)) = d) & " | " & FormatDateTime(d, vbLongDate) & " | " & _
    FormatDateTime(d, vbLongTime) & " | " & Weekday(DateSerial(2026, 3, 1), 0)
  WScript.Echo GetLocale() & " names: " & MonthName(1) & " " & MonthName(3, True) & " " & _
    WeekdayName(4) & " " & WeekdayName(1, True, vbSunday)
End Sub
Show 1031
Show 3079
Show 2055
Show 1033
Show 2057
Show 1036
Show 1040
Show 3082
Show 1043

' Text read as a number follows the locale, in arithmetic and comparisons alike.
Dim price : price = "1,5"
SetLocale "de-DE"
WScript.Echo "de:", price + 1, price * 2, price = 1.5, CLng("2.500"), "3" & 0.5
SetLocale "en-US"
WScript.Echo "en:", price + 1, price * 2, price = 1.5, CLng("2,500"), "3" & 0.5
WScript.Echo "en dates:", Year(CDate("12/31/2026")), Month(CDate("12/31/2026")), _
  IsDate("12/31/2026"), IsDate("31/12/2026"), CDate("1:05 PM") = TimeSerial(13, 5, 0), _
  IsDate("2026-12-31")
WScript.Echo "en week:", DatePart("ww", DateSerial(2027, 1, 3), 0, 0), Weekday(DateSerial(2027, 1, 3), 0)
SetLocale "de"
WScript.Echo "de dates:", IsDate("12/31/2026"), Day(CDate("05.03.2026")), IsDate("1:05 PM")
WScript.Echo "de week:", DatePart("ww", DateSerial(2027, 1, 3), 0, 0), Weekday(DateSerial(2027, 1, 3), 0)
SetLocale "nl"
WScript.Echo "nl dates:", Month(CDate("5-3-2026")), CDate("2026-03-05") = DateSerial(2026, 3, 5)
SetLocale "fr-FR"
WScript.Echo "fr:", CDbl("1 234,5") = 1234.5, CDbl("1" & ChrW(160) & "234,5") = 1234.5
SetLocale 2055
WScript.Echo "ch:", CDbl("1'234.5") = 1234.5, CDbl("1" & ChrW(8217) & "234.5") = 1234.5

' Unknown locales are refused and leave the setting as it was; 0 is the system's, German.
On Error Resume Next
SetLocale 12345
WScript.Echo "unknown id:", Err.Number, GetLocale()
Err.Clear
SetLocale "xx-yy"
WScript.Echo "unknown name:", Err.Number, GetLocale()
Err.Clear
On Error GoTo 0
WScript.Echo "system:", SetLocale(0), GetLocale(), CStr(1.5)
