' ByRef is the default; ByVal copies; an argument in parentheses is passed by value.
Sub Inc(n)
  n = n + 1
End Sub
Sub IncVal(ByVal n)
  n = n + 1
End Sub
Function Twice(ByRef s)
  s = s & s
  Twice = Len(s)
End Function

Dim a
a = 1
Inc a
WScript.Echo a
Inc (a)
WScript.Echo a
Inc(a)
WScript.Echo a
Call Inc(a)
WScript.Echo a
Call Inc((a))
WScript.Echo a
IncVal a
WScript.Echo a

Dim s, n
s = "ab"
n = Twice(s)
WScript.Echo n, s
n = Twice((s))
WScript.Echo n, s

' Array elements are passed by reference.
Dim arr(2)
arr(1) = 10
Inc arr(1)
WScript.Echo arr(1)

' Two arguments, first in parentheses: that one by value.
Sub Both(x, y)
  x = x * 2
  y = y * 2
End Sub
Dim p, q
p = 3 : q = 4
Both (p), q
WScript.Echo p, q
Both p, (q)
WScript.Echo p, q

' Object properties passed by reference are assigned back.
Class Box
  Public Content
End Class
Dim b
Set b = New Box
b.Content = 5
Inc b.Content
WScript.Echo b.Content

' Objects are references either way.
Sub Fill(ByVal bx)
  bx.Content = "filled"
  Set bx = Nothing
End Sub
Fill b
WScript.Echo b.Content

' A ByVal parameter does not undo a change the callee made to the global itself.
Dim g
g = 1
Sub SetGlobal(ByVal v)
  g = 99
End Sub
SetGlobal g
WScript.Echo g

' Loop counters and For Each variables are ordinary variables.
Sub Reset(v)
  v = 0
End Sub
Dim i, rounds
For i = 1 To 3
  Reset i
  WScript.Echo "i=" & i
  rounds = rounds + 1
  If rounds = 2 Then Exit For
Next

' Recursion with ByVal
Function Fact(ByVal n)
  If n <= 1 Then
    Fact = 1
  Else
    Fact = n * Fact(n - 1)
  End If
End Function
WScript.Echo Fact(10)

' An index expression that replaces the array itself is caught, not followed.
Dim arr2(3)
Function Clobber() : arr2 = 5 : Clobber = 1 : End Function
On Error Resume Next
g = arr2(Clobber())
WScript.Echo "read:", Err.Number
Err.Clear
arr2 = Array(1, 2)
arr2(Clobber()) = 7
WScript.Echo "write:", Err.Number, arr2
Err.Clear
arr2 = Array(1, 2)
Inc arr2(Clobber())
WScript.Echo "by reference:", Err.Number, arr2
