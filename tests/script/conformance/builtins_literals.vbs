' Mathematical, locale, reference and byte functions; literal forms and result types.
WScript.Echo Sqr(16), Round(Sin(0), 3), Cos(0), Round(Tan(0.5), 4), Round(Atn(1) * 4, 6)
WScript.Echo Round(Exp(1), 5), Round(Log(Exp(2)), 5), TypeName(Sqr(4)), IsNull(Sqr(Null))
On Error Resume Next
x = Sqr(-1) : WScript.Echo "Sqr(-1):", Err.Number : Err.Clear
x = Log(0) : WScript.Echo "Log(0):", Err.Number : Err.Clear
x = Exp(1000) : WScript.Echo "Exp(1000):", Err.Number : Err.Clear
On Error GoTo 0
WScript.Echo "locale:", GetLocale(), SetLocale(1033), GetLocale(), SetLocale("de-de"), GetLocale()
WScript.Echo "German stays:", CStr(1.5)
Function Twice(v) : Twice = v * 2 : End Function
Set r = GetRef("Twice")
WScript.Echo "GetRef:", r(21)
WScript.Echo "bytes:", LenB("abc"), LeftB("abcd", 4), RightB("abcd", 2), MidB("abcdef", 3, 4)
WScript.Echo "bytes:", InStrB("abcd", "c"), AscB("A"), ChrB(66)
WScript.Echo ScriptEngine(), ScriptEngineMajorVersion() > 0
WScript.Echo "literals:", &hFFFF&, &H8000&, &hFFFF, Hex(-32768), -3^2, CByte(True)
WScript.Echo "types:", TypeName(vbTrue), TypeName(vbString), TypeName(vbObjectError)
WScript.Echo "types:", TypeName(Round(True)), TypeName(DatePart("yyyy", Now)), TypeName(-32768)
WScript.Echo "Empty And:", TypeName(Empty And True), TypeName(Empty And Empty), TypeName(Empty And CLng(5)), TypeName(Empty And CByte(3)), TypeName(Empty And Null), TypeName(Empty Or Null), Empty Or 6
WScript.Echo "CDate of a number text:", CDate("1")
Set re = New RegExp
re.Pattern = "b"
re.Global = True
WScript.Echo "RegExp replacements:", re.Replace("abcb", 5), re.Replace("abcb", 1.5), re.Replace("abcb", True), re.Replace("abcb", Empty)
