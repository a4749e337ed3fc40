' A syntax error stops loading before anything runs.
WScript.Echo "never printed"
Sub Fine()
End Sub
If x = 1 Then
  x = 2
End Iff
