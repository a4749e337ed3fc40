' Text against numbers: a literal or constant converts a variable's text that reads as a number;
' a text literal against a number literal must read as one.
Const Limit = 30
Dim x : x = "0"
WScript.Echo "42" = 42, "True" = True, "False" = False
WScript.Echo x > 30, x > Limit, x < 30
Dim s : s = "42"
WScript.Echo s = 42, 42 = s, s <> 42, s >= 42.0
Dim t : t = "True"
WScript.Echo t = True, t = False
Dim n : n = 5
WScript.Echo n = "5", "5" = n, n & "" = "5"
' Two variables of different kinds: the number is less than the text.
Dim five : five = "5"
WScript.Echo n = five, n < five, five > n
' Decimal comma, as the host's texts come.
Dim price : price = "1,5"
WScript.Echo price = 1.5, price > 1
On Error Resume Next
WScript.Echo "abc" = 5
WScript.Echo "literal no number:", Err.Number
Err.Clear
Dim word : word = "abc"
WScript.Echo word = 5
WScript.Echo "variable no number:", Err.Number
Err.Clear
Select Case x
  Case 0: WScript.Echo "Select converts too"
  Case Else: WScript.Echo "no conversion"
End Select
