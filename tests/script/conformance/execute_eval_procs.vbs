' Eval and Execute inside a procedure see its names, declared or not, and leave no global
' behind; ExecuteGlobal makes globals, which don't take over a name a procedure uses as its own.
Function Doubled()
  v = 21
  Doubled = Eval("v * 2")
End Function
WScript.Echo "eval sees an undeclared name:", Doubled()
Function Counted()
  n = 5
  Execute "n = n + 1"
  Counted = n
End Function
WScript.Echo "execute sets an undeclared name:", Counted()
Function Later()
  Later = "[" & n & "]"
End Function
WScript.Echo "a later procedure's own n:", Later()
Function FirstUse()
  Execute "w = 3 : w = w * 2"
  FirstUse = w
End Function
WScript.Echo "first set inside execute:", FirstUse()
WScript.Echo "no globals made:", IsEmpty(n), IsEmpty(w)
Function Shadowed()
  k = "own"
  ExecuteGlobal "k = ""global"""
  Execute "k = k & ""!"""
  Shadowed = k & " " & Eval("k")
End Function
WScript.Echo "executeglobal:", Shadowed(), k
Sub MakesGlobal()
  ExecuteGlobal "made = 1"
  made = made + 1
End Sub
MakesGlobal
WScript.Echo "a global made and used:", made
Class Holder
  Function Run()
    t = "in method"
    Run = Eval("t & ""."" ")
  End Function
End Class
Dim h : Set h = New Holder
WScript.Echo h.Run()
