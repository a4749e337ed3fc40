' Rarer error paths and conversions.
On Error Resume Next
Dim i, n, x : n = 0
' A failing For header: the body runs once, then Next finds no loop.
For i = "abc" To 5
  n = n + 1
Next
WScript.Echo "for:", Err.Number, n
Err.Clear
For Each x In 5
  n = n + 1
Next
WScript.Echo "for each:", Err.Number, n
Err.Clear
' A failing Select Case subject runs no Case.
Select Case 1 / 0
  Case True: WScript.Echo "Case True ran"
  Case Else: WScript.Echo "Case Else ran"
End Select
WScript.Echo "select:", Err.Number
Err.Clear
WScript.Echo CBool("#TRUE#"), CBool("#FALSE#"), CBool("#true#")
WScript.Echo CSng(0.1) = 0.1, 0.1 = CSng(0.1), CSng(0.1) < 0.1, CSng(2.5) = 2.5
' SetLocale takes a locale id written as text; an unknown id is 447.
WScript.Echo SetLocale("1033"), GetLocale()
SetLocale 99999
WScript.Echo "unknown locale:", Err.Number, GetLocale()
Err.Clear
SetLocale "1031"
Call CInt(1)
WScript.Echo "call CInt:", Err.Number
Err.Clear
' A plain Raise keeps what a full one set before.
Err.Raise 1000, "MySource", "My description", "my.hlp", 7
Err.Raise 5
WScript.Echo Err.Number, Err.Source, Err.Description, Err.HelpFile
Err.Clear
Err.Raise 5
WScript.Echo Err.Number, Err.Source, Err.Description, "[" & Err.HelpFile & "]"
Err.Clear
On Error GoTo 0
' A class whose default member returns an array.
Class Holder
  Public Default Function Items()
    Items = Array(1, 2, 3)
  End Function
End Class
Dim o : Set o = New Holder
WScript.Echo UBound(o), LBound(o), o()(2)
