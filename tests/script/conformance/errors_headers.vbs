' Errors in loop and block headers under On Error Resume Next, and the Err object's numbers.
On Error Resume Next
Dim n : Set n = Nothing
For Each f In n.Files
  WScript.Echo "For Each body runs once:", Err.Number, IsEmpty(f)
Next
Err.Clear
For i = 1 To n.Count
  WScript.Echo "For body runs once:", Err.Number
Next
Err.Clear
k = 0
Do While n.Busy
  k = k + 1
  WScript.Echo "Do While body:", Err.Number
  If k = 2 Then Exit Do
Loop
Err.Clear
Do
  k = k + 1
Loop Until n.Done
WScript.Echo "Loop Until leaves:", k, Err.Number
Err.Clear
Select Case n.Kind
  Case 1
    WScript.Echo "first Case body runs:", Err.Number
  Case Else
    WScript.Echo "Case Else runs"
End Select
WScript.Echo "no Case runs:", Err.Number
Err.Clear
With 42
  WScript.Echo "With body runs:", Err.Number
End With
Err.Clear
x = n.Foo
WScript.Echo "member of Nothing:", Err.Number, Err.Description
Err.Clear
y = notDefined(1)
WScript.Echo "no name in Description:", Err.Number, Err.Description
Err.Clear
Err.Raise 0
WScript.Echo "Raise 0:", Err.Number
Err.Clear
Err.Raise &H8007000E&
WScript.Echo "HRESULT:", Err.Number, Err.Description
Err.Clear
Err.Raise &H800A0035&
WScript.Echo "own facility:", Err.Number, Err.Description
Err.Clear
Err.Raise 1000, "src", "desc", "help.chm", 42
WScript.Echo "help kept:", Err.Number, Err.Source, Err.Description, Err.HelpFile, Err.HelpContext
Err.Clear
z = Mid("abc", Null)
WScript.Echo "Mid Null:", Err.Number
Err.Clear
z = Sgn(Null)
WScript.Echo "Sgn Null:", Err.Number
Err.Clear
z = DateValue(Null)
WScript.Echo "DateValue Null:", Err.Number
