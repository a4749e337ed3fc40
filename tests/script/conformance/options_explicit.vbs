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
Sub Takes(v) : End Sub
Sub IndexesUndeclared()
  On Error Resume Next
  WScript.Echo parts(0)
  WScript.Echo "indexed", Err.Number
  Err.Clear
  g 1
  WScript.Echo "called", Err.Number
  Err.Clear
  Takes parts(0)
  WScript.Echo "passed", Err.Number
End Sub
IndexesUndeclared
WScript.Echo "stop here"
WScript.Echo undeclaredToo
