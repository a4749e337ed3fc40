' Variant rules: Empty, Null propagation, comparisons, literals, operator precedence.
Dim e, n
n = Null
WScript.Echo "[" & e & "]", e + 1, IsEmpty(e), VarType(e)
WScript.Echo IsNull(n + 1), IsNull(n & ""), "a" & n & "b", IsNull(n = 1)
If n Then WScript.Echo "null is true" Else WScript.Echo "null is not true"
If Not (n = 1) Then WScript.Echo "not null is true" Else WScript.Echo "not null is not true"
WScript.Echo True And n, False And n, IsNull(True Or n), True Or n
WScript.Echo TypeName(1), TypeName(40000), TypeName(3000000000), TypeName(1.5), TypeName("x")
WScript.Echo TypeName(1 + 1), TypeName(32767 + 1), TypeName(CByte(1) + CByte(2)), TypeName(5 / 5)
WScript.Echo &HFF, &HFFFF, &H10000, &O17, &HFFFFFFFF
WScript.Echo "say ""hi""", Len("a""b")
WScript.Echo 2 + 3 * 4, (2 + 3) * 4, 2 ^ 3 ^ 2, -2 ^ 2, 2 ^ -1, 7 \ 2 * 2, 7 Mod 4 + 1
WScript.Echo 10 - 2 - 3, 2 * 3 & 4, 1 + 2 & 3 + 4, 1 < 2 = True
WScript.Echo Not 0, Not True, 5 And 3, 5 Or 3, 5 Xor 3, True Eqv False, False Imp True
WScript.Echo "10" + 5, "10" & 5, "abc" < "abd", "B" < "a", 10 < "9"
WScript.Echo 1 = 1.0, "1" = 1, CStr(1) = "1", Empty = 0, Empty = ""
WScript.Echo 1.5 + 1, 7 / 2, 1E3, .5 + 0
WScript.Echo #12/31/2024#, #2024-02-29 13:45:00#, #1:30:00 PM#
WScript.Echo Year(#3/4/2025#), Month(#3/4/2025#), Day(#3/4/2025#)
Dim d
d = #1/31/2025#
WScript.Echo d + 1, TypeName(d + 1)
Dim o
Set o = Nothing
WScript.Echo o Is Nothing, IsObject(o), TypeName(o)
WScript.Echo IsNumeric("1,5"), IsNumeric("abc"), CDbl("1,5") * 2
x = 5 ' undeclared without Option Explicit
WScript.Echo x * 2
ShowDeclaredBelow
Sub ShowDeclaredBelow() : WScript.Echo "declared below:", Limit, UBound(Table) : End Sub
Const Limit = 7
Dim Table(4)
Const Pi = 3.14, Greeting = "Hallo"
WScript.Echo Pi, Greeting, vbCrLf = Chr(13) & Chr(10)
On Error Resume Next
Pi = 3
WScript.Echo Err.Number
Err.Clear
WScript.Echo "abc" * 2
WScript.Echo Err.Number, Err.Description
