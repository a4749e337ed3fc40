' Select Case and the loop statements.
Function Classify(v)
  Select Case v
    Case 0
      Classify = "zero"
    Case 1, 2, 3
      Classify = "small"
    Case 4 To 9
      Classify = "medium"
    Case Is >= 100
      Classify = "huge"
    Case "a", "b"
      Classify = "letter"
    Case Else
      Classify = "other"
  End Select
End Function
Dim v
For Each v In Array(0, 2, 5, 100, 50, "4")
  WScript.Echo v & ": " & Classify(v)
Next
' Text that is no number is greater than any numeric Case value, with no error.
On Error Resume Next
WScript.Echo Classify("a")
WScript.Echo "text against Case 0:", Err.Number
On Error GoTo 0
Select Case LCase("ABC")
  Case "abc": WScript.Echo "matched lower"
End Select
Select Case Null
  Case Null: WScript.Echo "null matched"
  Case Else: WScript.Echo "null falls to else"
End Select

Dim i, s
s = ""
For i = 10 To 1 Step -3 : s = s & i & " " : Next
WScript.Echo s, "after:", i
s = ""
For i = 0 To 1 Step 0.25 : s = s & i & ";" : Next
WScript.Echo s
For i = 5 To 1
  WScript.Echo "never"
Next
WScript.Echo "empty loop leaves", i

i = 0
Do While i < 3
  i = i + 1
Loop
WScript.Echo "do while", i
Do Until i = 0
  i = i - 1
Loop
WScript.Echo "do until", i
Do
  i = i + 1
Loop While i < 5
WScript.Echo "loop while", i
Do
  i = i + 1
Loop Until True
WScript.Echo "loop until", i
Do
  i = i + 1
  If i > 8 Then Exit Do
Loop
WScript.Echo "exit do", i
While i > 0
  i = i - 2
Wend
WScript.Echo "wend", i

' Nested loops: Exit For leaves only the inner one.
Dim a, b, hits
hits = 0
For a = 1 To 3
  For b = 1 To 3
    If b = 2 Then Exit For
    hits = hits + 1
  Next
Next
WScript.Echo "hits", hits

' Exit inside a loop inside a function leaves the function.
Function FirstOver(limit)
  Dim k
  For k = 1 To 100
    If k * k > limit Then
      FirstOver = k
      Exit Function
    End If
  Next
  FirstOver = -1
End Function
WScript.Echo FirstOver(50)

' Single-line If forms and colons.
If i = -1 Then WScript.Echo "minus one" : WScript.Echo "second" Else WScript.Echo "else"
If i = 0 Then WScript.Echo "zero" Else WScript.Echo "not zero" : WScript.Echo "also else"
If i <> 0 Then
  WScript.Echo "block"
ElseIf i = 0 Then
  WScript.Echo "elseif"
Else
  WScript.Echo "else block"
End If

'"Then :" still makes the single-line form.
If i <> 0 Then : WScript.Echo "colon block"
  WScript.Echo "still inside"

' Line continuation and comments
s = "a" & _
    "b" & _
    "c" ' comment
Rem a remark
WScript.Echo s : REM after colon
