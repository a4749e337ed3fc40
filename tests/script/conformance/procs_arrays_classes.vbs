' ReDim inside procedures, nested arrays, and what classes and procedures see.
Dim items()
ReDim items(0)
Sub AddItem(v)
  ReDim Preserve items(UBound(items) + 1)
  items(UBound(items)) = v
End Sub
AddItem "a" : AddItem "b"
WScript.Echo "global grown:", UBound(items), items(2)
Sub MakeLocal
  ReDim onlyHere(2)
  WScript.Echo "local made:", UBound(onlyHere)
End Sub
MakeLocal
WScript.Echo "no global:", IsEmpty(onlyHere)

Class Bag
  Private list_
  Private Sub Class_Initialize
    ReDim list_(-1)
  End Sub
  Public Sub Add(v)
    ReDim Preserve list_(UBound(list_) + 1)
    list_(UBound(list_)) = v
  End Sub
  Public Property Get Count : Count = UBound(list_) + 1 : End Property
End Class
Set b = New Bag
b.Add 1 : b.Add 2 : b.Add 3
WScript.Echo "member grown:", b.Count

Dim grid : grid = Array(Array(1, 2), Array(3, 4))
grid(0)(1) = 5
grid(1)(0) = grid(0)(1) * 2
WScript.Echo "nested:", grid(0)(0), grid(0)(1), grid(1)(0), grid(1)(1)

Function Countdown(n)
  Countdown = n
  If n > 0 Then Call Countdown(n - 1)
End Function
WScript.Echo "Call F inside F:", Countdown(3)

Class Holder
  Private o_
  Public Property Let Item(v) : WScript.Echo "let receives", TypeName(v) : End Property
  Public Property Set Item(v) : Set o_ = v : WScript.Echo "set receives", TypeName(v) : End Property
End Class
Set h = New Holder
Set d = CreateObject("Scripting.Dictionary")
Set h.Item = d
h.Item = d
h.Item = 5

For Each v In Array(1, 2)
Next
WScript.Echo "For Each variable after the loop empty:", IsEmpty(v)
For Each v In Array(1, 2)
  If v = 1 Then Exit For
Next
WScript.Echo "after Exit For:", v

If False Then
  Const Hidden = 7
End If
WScript.Echo "Const in a branch never run:", Hidden
Sub ShowInner
  If False Then
    Const Inner = -8
  End If
  WScript.Echo "local Const too:", Inner
End Sub
ShowInner
