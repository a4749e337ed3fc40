' Call of a conversion: the conversion runs first and raises its own error; only a conversion
' that succeeded is refused with 458.
On Error Resume Next
Call CInt(Null) : WScript.Echo "CInt(Null)", Err.Number : Err.Clear
Call CLng("abc") : WScript.Echo "CLng(""abc"")", Err.Number : Err.Clear
Call CByte(300) : WScript.Echo "CByte(300)", Err.Number : Err.Clear
Call CBool(Nothing) : WScript.Echo "CBool(Nothing)", Err.Number : Err.Clear
Call CDbl("x") : WScript.Echo "CDbl(""x"")", Err.Number : Err.Clear
Call CSng(Null) : WScript.Echo "CSng(Null)", Err.Number : Err.Clear
Call CCur("abc") : WScript.Echo "CCur(""abc"")", Err.Number : Err.Clear
Call CDate("abc") : WScript.Echo "CDate(""abc"")", Err.Number : Err.Clear
Call CStr(Null) : WScript.Echo "CStr(Null)", Err.Number : Err.Clear
Call CInt(1) : WScript.Echo "CInt(1)", Err.Number : Err.Clear
Call CStr("a") : WScript.Echo "CStr(""a"")", Err.Number : Err.Clear
Call cdate(1) : WScript.Echo "cdate(1)", Err.Number : Err.Clear
