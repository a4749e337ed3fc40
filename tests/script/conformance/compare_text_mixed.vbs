' Text meeting a Boolean, a constant, a negative number or a date. A variable's text meeting a
' literal or constant number reads as a number; text that doesn't is greater, with no error.
' Text against a written True or False compares as text.
Const FIVE = 5
Const YES = True
WScript.Echo "1" = True, "true" = True, "True" = True, "True" > False, "-1" = True
Dim s : s = "ja"
WScript.Echo s = True, s <> True, s = False, s = YES, s > 0
s = ""
WScript.Echo s = True, s = 0, s > -1
s = "-1"
WScript.Echo s = True, s = YES, True = s, s < False
WScript.Echo "abc" = FIVE, "abc" > FIVE, FIVE < "abc", "abc" = -5, "abc" > -5
Dim word : word = "abc"
WScript.Echo word = 5, word > 5, word = -5, word = FIVE, 5 < word
' Two literals: the text reads as a number too.
WScript.Echo "42" = 42, "-3" < 0, "7" > 100
' A text literal against a Boolean variable compares as text.
Dim flag : flag = True
WScript.Echo flag = "True", flag = "-1", "False" < flag
Select Case 3
  Case "test": WScript.Echo "text case ran"
  Case 3: WScript.Echo "case 3 ran"
End Select
Select Case word
  Case 1, True: WScript.Echo "number case ran"
  Case "abc": WScript.Echo "abc case ran"
End Select
' A date literal wants text that reads as a date.
Dim when : when = "15.01.2024"
WScript.Echo when = #1/15/2024#, "15.01.2024" = #1/15/2024#, when < #2/1/2024#
On Error Resume Next
WScript.Echo "abc" = #1/15/2024#
WScript.Echo "date literal, no date:", Err.Number
Err.Clear
WScript.Echo word = #1/15/2024#
WScript.Echo "variable, no date:", Err.Number
Err.Clear
On Error GoTo 0
' A constant of a procedure is as fixed as a global one.
Sub LocalConstants
  Const L5 = 5, LS = "5"
  Dim s : s = "5"
  Dim v : v = 5
  WScript.Echo s = L5, v = LS, "abc" = L5
  Select Case s
    Case L5: WScript.Echo "local constant case ran"
    Case Else: WScript.Echo "no case"
  End Select
End Sub
LocalConstants
