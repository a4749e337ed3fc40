' The run-time objects convert numbers and text under the calling script's locale, as the
' built-in functions do; so do array indexes given as text.
Dim re, d, fso, a
Set re = New RegExp
re.Pattern = "x"
Set d = CreateObject("Scripting.Dictionary")
Set fso = CreateObject("Scripting.FileSystemObject")
a = Array(10, 20, 30)
Sub Show()
  On Error Resume Next
  WScript.Echo GetLocale(), re.Replace("axb", 1.5), "[" & fso.GetExtensionName(2.25) & "]"
  WScript.Echo "index:", a("1.0"), Err.Number
  Err.Clear
  Err.Description = 0.5
  WScript.Echo Err.Description
  Err.Clear
  d.CompareMode = "1.0"
  WScript.Echo "CompareMode:", d.CompareMode
End Sub
SetLocale "en-US"
Show
SetLocale "de-DE"
Show
