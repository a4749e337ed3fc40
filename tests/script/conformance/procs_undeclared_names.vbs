' A name used without Dim inside a procedure is the procedure's own variable: it can be indexed,
' called and passed by reference like a declared one, in a Sub, a Function and a class method.
Dim log
Sub Note(x) : log = log & x : End Sub
Sub Bump(v) : v = v & "+" : End Sub
Function Twice(n) : Twice = n * 2 : End Function

Function FirstField(s) : parts = Split(s, ";") : FirstField = parts(0) : End Function
WScript.Echo "first field:", FirstField("x;y")

' The same statements in a Function, a Sub and a class method, each also under On Error Resume
' Next; the procedures are compiled from one text.
Dim forms
forms = "parts = Split(s, "";"")" & vbLf & _
  "Bump parts(0)" & vbLf & _
  "Set d = CreateObject(""Scripting.Dictionary"") : d(""k"") = 5" & vbLf & _
  "Set re = New RegExp : re.Pattern = ""\d"" : re.Global = True : Set ms = re.Execute(s)" & vbLf & _
  "m = Array(Array(1), Array(2, 3))" & vbLf & _
  "Set g = GetRef(""Twice"") : Set n = GetRef(""Note"")" & vbLf & _
  "n ""n""" & vbLf & _
  "Call n(""c"")" & vbLf & _
  "r = parts(0) & "" "" & parts(1) & "" "" & d(""k"") & "" "" & ms(1) & "" "" & m(1)(0)" & _
  " & "" "" & g(4) & "" err "" & Err.Number" & vbLf
Function Proc(kind, name, trapped, ending)
  Proc = kind & " " & name & "(s)" & vbLf
  If trapped Then Proc = Proc & "On Error Resume Next" & vbLf
  Proc = Proc & forms & ending & vbLf & "End " & kind & vbLf
End Function
For Each trapped In Array(False, True)
  ExecuteGlobal Proc("Function", "InFunction" & trapped, trapped, "InFunction" & trapped & " = r")
  ExecuteGlobal Proc("Sub", "InSub" & trapped, trapped, _
    "WScript.Echo ""sub, trapped " & trapped & ":"", r, log")
  ExecuteGlobal "Class InClass" & trapped & vbLf & "Public field" & vbLf & _
    Proc("Function", "Run", trapped, "field = Array(""f"") : Run = r & "" "" & field(0)") & _
    "End Class"
Next

log = ""
WScript.Echo "function:", InFunctionFalse("a1;b2"), log
log = ""
WScript.Echo "function, trapped:", InFunctionTrue("a1;b2"), log
log = ""
InSubFalse "a1;b2"
log = ""
InSubTrue "a1;b2"
Set o = New InClassFalse
log = ""
WScript.Echo "method:", o.Run("a1;b2"), log
WScript.Echo "field kept:", o.field(0)
Set o = New InClassTrue
log = ""
WScript.Echo "method, trapped:", o.Run("a1;b2"), log

' Each call starts with the name empty again; a name never assigned is still nothing to call.
Function Fresh()
  On Error Resume Next
  Fresh = IsEmpty(parts) & " " & TypeName(d)
  never 1
  Fresh = Fresh & " " & Err.Number
  Err.Clear
  x = never(1)
  Fresh = Fresh & " " & Err.Number
End Function
WScript.Echo "fresh:", Fresh()

' A global of that name, there when the procedure runs, is used instead.
Function UsesGlobal() : UsesGlobal = later(1) : End Function
Dim later : later = Array(7, 8)
WScript.Echo "global:", UsesGlobal(), IsEmpty(parts)
