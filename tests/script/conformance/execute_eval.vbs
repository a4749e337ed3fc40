' Eval, Execute and ExecuteGlobal.
Dim x
x = 6
WScript.Echo Eval("x * 7"), Eval("x = 6"), Eval("Len(""abc"")")
Execute "x = x + 1"
WScript.Echo x
ExecuteGlobal "Function Made(a) : Made = a & ""!"" : End Function"
WScript.Echo Made("dynamic")
Sub Scope()
  Dim y
  y = 2
  Execute "y = y * 21"
  WScript.Echo "local y", y, Eval("y + 1")
End Sub
Scope
Class Calc
  Public Factor
  Public Function Apply(v)
    Apply = Eval("v * Factor")
  End Function
End Class
Dim c
Set c = New Calc
c.Factor = 3
WScript.Echo c.Apply(5)
On Error Resume Next
Execute "If Then"
WScript.Echo "compile error inside Execute:", Err.Number
Err.Clear
WScript.Echo Eval("1 / 0")
WScript.Echo "run-time error inside Eval:", Err.Number
