' Classes: fields, properties, methods, Me, default members, initialize/terminate.
Option Explicit

Class Counter
  Private mCount
  Public Name
  Private Sub Class_Initialize()
    mCount = 0
    Name = "unnamed"
    WScript.Echo "init"
  End Sub
  Private Sub Class_Terminate()
    WScript.Echo "terminate " & Name
  End Sub
  Public Property Get Count()
    Count = mCount
  End Property
  Public Property Let Count(ByVal v)
    If v < 0 Then Err.Raise 5
    mCount = v
  End Property
  Public Function Increment(ByVal by)
    mCount = mCount + by
    Set Increment = Me
  End Function
  Public Default Property Get Value()
    Value = Name & "=" & mCount
  End Property
End Class

Dim c, d
Set c = New Counter
c.Name = "first"
c.Count = 3
c.Increment(2).Increment 5
WScript.Echo c.Count
WScript.Echo c            ' default member
WScript.Echo "text: " & c
Set d = c                 ' a second reference: no terminate yet
Set c = Nothing
WScript.Echo "still alive: " & d.Name
Set d = Nothing
Dim t
Set t = New Counter
WScript.Echo TypeName(t), TypeName(t.Count)
Set t = Nothing

Class Node
  Public Value
  Public NextNode
  Private Sub Class_Initialize : Set NextNode = Nothing : End Sub
End Class

Function BuildList(n)
  Dim head, i, nd
  Set head = Nothing
  For i = n To 1 Step -1
    Set nd = New Node
    nd.Value = i
    Set nd.NextNode = head
    Set head = nd
  Next
  Set BuildList = head
End Function

Dim lst, total
Set lst = BuildList(4)
total = 0
Do Until lst Is Nothing
  total = total + lst.Value
  Set lst = lst.NextNode
Loop
WScript.Echo "sum " & total

' With blocks, nested
Dim k
Set k = New Counter
With k
  .Name = "with"
  .Count = 10
  With .Increment(1)
    WScript.Echo .Count
  End With
  WScript.Echo .Value
End With

' Array fields and property with arguments
Class Grid
  Private cells(2, 2)
  Public Property Get Cell(r, c)
    Cell = cells(r, c)
  End Property
  Public Property Let Cell(r, c, v)
    cells(r, c) = v
  End Property
End Class
Dim g
Set g = New Grid
g.Cell(1, 2) = "x"
WScript.Echo "[" & g.Cell(1, 2) & "][" & g.Cell(0, 0) & "]"

' Property Set
Class Holder
  Private mObj
  Public Property Set Obj(o)
    Set mObj = o
  End Property
  Public Property Get Obj()
    Set Obj = mObj
  End Property
End Class
Dim h
Set h = New Holder
Set h.Obj = New Node
h.Obj.Value = 42
WScript.Echo h.Obj.Value
Set k = Nothing
WScript.Echo "end"
