' RegExp through New RegExp: Test, Replace, Execute with Matches and SubMatches.
Dim re, matches, m
Set re = New RegExp
re.Pattern = "(\d+)-(\d+)"
re.Global = True
WScript.Echo re.Test("call 030-1234 or 089-55"), re.Test("none")
Set matches = re.Execute("call 030-1234 or 089-55")
WScript.Echo matches.Count
For Each m In matches
  WScript.Echo m.Value, m.FirstIndex, m.SubMatches(0), m.SubMatches(1)
Next
WScript.Echo re.Replace("030-1234", "$2/$1")
re.IgnoreCase = True
re.Pattern = "hello"
WScript.Echo re.Replace("Hello hello HELLO", "bye")
re.Global = False
WScript.Echo re.Replace("Hello hello HELLO", "bye")
WScript.Echo TypeName(re)
