Option Explicit
' ReDim declares the name in a procedure as it does at file level.
Sub Grows()
  ReDim ra(2)
  ra(1) = 5
  ReDim Preserve ra(3)
  ra(3) = ra(1) + 1
  WScript.Echo "redim declares:", ra(1), ra(3), UBound(ra), Eval("ra(3)")
End Sub
Grows
Function Listed(n)
  ReDim list(n)
  list(0) = "a"
  Listed = Join(list, ",")
End Function
WScript.Echo Listed(2)
Dim g
Sub TakesGlobal()
  ReDim g(1)
End Sub
TakesGlobal
WScript.Echo "global redimmed:", UBound(g)
Sub UsesUndeclared()
  On Error Resume Next
  WScript.Echo undeclared(0)
  WScript.Echo "undeclared still:", Err.Number
End Sub
UsesUndeclared
