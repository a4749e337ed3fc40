' Code VBScript compiles that looks unusual.
Dim c : c = True
If c Then : x = 1
WScript.Echo "If Then colon:", x
Sub Twice : WScript.Echo "first" : End Sub
Sub Twice
  WScript.Echo "last definition wins"
End Sub
Twice
Sub OneLine() WScript.Echo "body on the header line" End Sub
OneLine
Function Double(v) : Double = v * 2 : End Function
WScript.Echo Double(4)
Dim b : b = False
WScript.Echo "Not on the right:", 0 = Not b, True = Not b
Dim step, property : step = 2 : property = 3
Sub Show(step) : WScript.Echo "step as a name:", step : End Sub
Show step + property
Dim [my var] : [my var] = 7
WScript.Echo "bracketed:", [my var] + 1
WScript.Echo "octal:", &100, &17&
WScript.Echo "><:", 1 >< 2, 1 >< 1
Dim arr : arr = Array(4, 5)
y = (arr)(1)
WScript.Echo "(a)(i):", y
WScript.Echo (arr)(1)
WScript.Echo (arr)(0) + 1, (arr)(1)
If True Then
  Sub InsideIf : WScript.Echo "procedure inside If" : End Sub
End If
InsideIf
Set d = CreateObject("Scripting.Dictionary")
d.Add "k", 1
WScript.Echo "continued member:", d _
  .Count
On Error Resume Next
WScript.Echo .Count
WScript.Echo ".x outside With:", Err.Number
