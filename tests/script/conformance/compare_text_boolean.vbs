' Text against True or False compares as text, by characters, whenever one side is written in
' the script: no trimming, no reading as a number, no error.
WScript.Echo "True" = True, "False" = False, True = "True", "True" <> True
WScript.Echo "true" = True, "TRUE" = True, "True " = True, "1" = True, "-1" = True, "0" = False
WScript.Echo "abc" = True, "" = False, "True" > False, "False" > True, "abc" > True
' A text read from a file or record, tested against True.
Dim s : s = "True"
WScript.Echo s = True, True = s, s <> True, s = False
s = "-1"
WScript.Echo s = True, s = False, False < s
' Neither side written: the text is greater than the Boolean.
Function Yes() : Yes = True : End Function
Dim sb, b : sb = "True" : b = True
WScript.Echo sb = b, sb > b, b < sb, sb = Yes(), "True" = Yes(), "True" = b
