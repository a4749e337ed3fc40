Option Explicit
' Undeclared names are an error under Option Explicit, where they are used.
Dim known
known = 1
Sub UsesLocal()
  Dim inner
  inner = 2
  WScript.Echo "inner", inner
End Sub
UsesLocal
WScript.Echo "known", known
On Error Resume Next
unknown = 5
WScript.Echo Err.Number, Err.Description
On Error GoTo 0
WScript.Echo "stop here"
WScript.Echo undeclaredToo
