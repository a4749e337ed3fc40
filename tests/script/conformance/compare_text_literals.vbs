' Text and number both written in the script: the text is read as a number, and text that is
' no number is a type mismatch.
Const FIVE = 5
On Error Resume Next
Dim c, r
For Each c In Array("""abc"" = 5", """"" = 5", """ "" = 0", """abc"" <> 5", """"" <> 5", _
    """abc"" > 5", """"" > 0", "5 > ""abc""", """abc"" = 5.5", """abc"" = 1e2", _
    """abc"" = &hff", """abc"" = 100000", """05"" = 5", """ 5"" = 5", """5 "" = 5", _
    """5e0"" = 5", "(""abc"") = (5)")
  Err.Clear
  r = Empty
  r = Eval(c)
  WScript.Echo c, "->", r, Err.Number
Next
Err.Clear
WScript.Echo "abc" = 5
WScript.Echo "in a statement:", Err.Number
Err.Clear
On Error GoTo 0
' Every other pairing stays: written text against a number not written compares as text.
WScript.Echo "abc" = FIVE, "abc" = -5, "abc" = -100000, "5" = CInt(5), "10" > CDbl(5), Len("ab") > ""
' Text not written against a written number is read as a number; text that is none is greater.
Dim x : x = "5"
WScript.Echo x = 5, x < 6, x = FIVE
x = "abc"
WScript.Echo x = 5, x > 5
' Neither written: the text is greater.
Dim n : n = 5 : x = "5"
WScript.Echo x = n, x > n
' The selector of a Select Case is not written.
Select Case 3
  Case "test": WScript.Echo "text case ran"
  Case 3: WScript.Echo "case 3 ran"
End Select
Select Case "abc"
  Case 5: WScript.Echo "number case ran"
  Case Else: WScript.Echo "else ran"
End Select
