' A name used without Dim inside a procedure is the procedure's own variable: it can be indexed,
' called and passed by reference like a declared one, in a Sub, a Function and a class method.
Dim log
Sub Note(x) : log = log & x : End Sub
Sub Bump(v) : v = v & "+" : End Sub
Function Twice(n) : Twice = n * 2 : End Function

Function FirstField(s) : parts = Split(s, ";") : FirstField = parts(0) : End Function
WScript.Echo "first field:", FirstField("x;y")

Function Forms(s)
  parts = Split(s, ";")
  Bump parts(0)
  Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
  Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
  m = Array(Array(1), Array(2, 3))
  Set g = GetRef("Twice") : Set n = GetRef("Note")
  n "n"
  Call n("c")
  Forms = parts(0) & " " & parts(1) & " " & d("k") & " " & ms(1) & " " & m(1)(0) & " " & g(4)
End Function
WScript.Echo "function:", Forms("a1;b2"), log

Function FormsTrapped(s)
  On Error Resume Next
  parts = Split(s, ";")
  Bump parts(0)
  Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
  Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
  m = Array(Array(1), Array(2, 3))
  Set g = GetRef("Twice") : Set n = GetRef("Note")
  n "n"
  Call n("c")
  FormsTrapped = parts(0) & " " & parts(1) & " " & d("k") & " " & ms(1) & " " & m(1)(0) & _
    " " & g(4) & " err " & Err.Number
End Function
log = ""
WScript.Echo "function, trapped:", FormsTrapped("a1;b2"), log

Sub FormsSub(s)
  parts = Split(s, ";")
  Bump parts(0)
  Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
  Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
  m = Array(Array(1), Array(2, 3))
  Set g = GetRef("Twice") : Set n = GetRef("Note")
  n "n"
  Call n("c")
  WScript.Echo "sub:", parts(0), parts(1), d("k"), ms(1), m(1)(0), g(4), log
End Sub
log = ""
FormsSub "a1;b2"

Sub FormsSubTrapped(s)
  On Error Resume Next
  parts = Split(s, ";")
  Bump parts(0)
  Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
  Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
  m = Array(Array(1), Array(2, 3))
  Set g = GetRef("Twice") : Set n = GetRef("Note")
  n "n"
  Call n("c")
  WScript.Echo "sub, trapped:", parts(0), parts(1), d("k"), ms(1), m(1)(0), g(4), log, _
    "err", Err.Number
End Sub
log = ""
FormsSubTrapped "a1;b2"

Class Forms_
  Public field
  Function Run(s)
    parts = Split(s, ";")
    Bump parts(0)
    Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
    Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
    m = Array(Array(1), Array(2, 3))
    Set g = GetRef("Twice") : Set n = GetRef("Note")
    n "n"
    Call n("c")
    field = Array("f")
    Run = parts(0) & " " & parts(1) & " " & d("k") & " " & ms(1) & " " & m(1)(0) & " " & _
      g(4) & " " & field(0)
  End Function
  Function RunTrapped(s)
    On Error Resume Next
    parts = Split(s, ";")
    Bump parts(0)
    Set d = CreateObject("Scripting.Dictionary") : d("k") = 5
    Set re = New RegExp : re.Pattern = "\d" : re.Global = True : Set ms = re.Execute(s)
    m = Array(Array(1), Array(2, 3))
    Set g = GetRef("Twice") : Set n = GetRef("Note")
    n "n"
    Call n("c")
    RunTrapped = parts(0) & " " & parts(1) & " " & d("k") & " " & ms(1) & " " & m(1)(0) & _
      " " & g(4) & " err " & Err.Number
  End Function
End Class
Set o = New Forms_
log = ""
WScript.Echo "method:", o.Run("a1;b2"), log
log = ""
WScript.Echo "method, trapped:", o.RunTrapped("a1;b2"), log
WScript.Echo "field kept:", o.field(0)

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
