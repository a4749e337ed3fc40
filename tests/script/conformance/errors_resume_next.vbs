' Error handling: On Error Resume Next, Err, Raise, propagation out of procedures.
On Error Resume Next
Dim x
x = 1 / 0
WScript.Echo Err.Number, Err.Description, Err.Source
Err.Clear
WScript.Echo Err.Number, "[" & Err.Description & "]"

Err.Raise 1000 + vbObjectError, "MySource", "my own error"
WScript.Echo Err.Number - vbObjectError, Err.Source, Err.Description
Err.Raise 9
WScript.Echo Err.Number, Err.Description
Err.Clear

Sub Failing()
  WScript.Echo "before"
  Dim a(1)
  a(5) = 1
  WScript.Echo "not reached"
End Sub
Failing
WScript.Echo "after call", Err.Number
Err.Clear

Sub Guarded()
  On Error Resume Next
  Dim y
  y = CLng("x")
  WScript.Echo "guarded", Err.Number
End Sub
Guarded
WScript.Echo "caller", Err.Number

Function TryDiv(a, b)
  On Error Resume Next
  TryDiv = a / b
  If Err.Number <> 0 Then Exit Function
  TryDiv = TryDiv * 2
End Function
WScript.Echo "exit function clears:", TryDiv(1, 0), Err.Number, TryDiv(1, 1)

Function Safe(v)
  On Error Resume Next
  Safe = 10 / v
  If Err.Number <> 0 Then Safe = -1
End Function
WScript.Echo Safe(2), Safe(0)

' Missing members and objects
Dim d
d.Foo
WScript.Echo Err.Number
Err.Clear
Set d = New RegExp
d.NoSuchMember
WScript.Echo Err.Number
Err.Clear
Dim nada
Set nada = Nothing
nada.Anything
WScript.Echo Err.Number
Err.Clear
Call NotDefinedAnywhere(1)
WScript.Echo Err.Number
Err.Clear
NotDefinedEither
WScript.Echo Err.Number, Err.Description
Err.Clear

' Err default member is Number; Err.Number can be set
Err.Number = 77
WScript.Echo Err, Err.Number
Err.Clear

' A failing If condition resumes with the next statement: the first one of its block.
Dim nothingHere
Set nothingHere = Nothing
If nothingHere.Value = 1 Then
  WScript.Echo "inside after failed condition", Err.Number
Else
  WScript.Echo "not in else"
End If
Err.Clear

' A failing statement inside a block resumes with the next one in that block.
If True Then
  x = 1 / 0
  WScript.Echo "next in block", Err.Number
End If

On Error GoTo 0
WScript.Echo "Err cleared by GoTo 0:", Err.Number
Err.Raise 5, "src", "raised last"
WScript.Echo "not reached"
