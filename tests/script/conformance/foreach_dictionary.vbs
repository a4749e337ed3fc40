' For Each over arrays, Dictionaries and Collections; Dictionary default member Item.
Dim d, k, total
Set d = CreateObject("Scripting.Dictionary")
d.Add "b", 2
d.Add "a", 1
d("c") = 3
d.Item("a") = 10
For Each k In d
  WScript.Echo k & "=" & d(k)
Next
For Each k In d.Keys
  total = total + d.Item(k)
Next
WScript.Echo "total", total, "count", d.Count, d.Exists("b"), d.Exists("z")
Dim items
items = d.Items
WScript.Echo UBound(items), items(0)
d.Remove "b"
WScript.Echo Join(d.Keys, ",")

' For Each over a two-dimensional array runs in storage order.
Dim m(1, 1), v, s
m(0, 0) = "a" : m(1, 0) = "b" : m(0, 1) = "c" : m(1, 1) = "d"
For Each v In m : s = s & v : Next
WScript.Echo s

' Changing the loop variable does not change the array.
Dim arr
arr = Array(1, 2, 3)
For Each v In arr
  v = v * 10
Next
WScript.Echo Join(arr, ",")

' Exit For inside For Each
For Each v In Array("x", "y", "z")
  If v = "y" Then Exit For
  WScript.Echo "saw", v
Next

' ReDim Preserve and Erase
Dim dyn()
ReDim dyn(2)
dyn(2) = "last"
ReDim Preserve dyn(4)
WScript.Echo UBound(dyn), dyn(2), "[" & dyn(4) & "]"
ReDim dyn(1)
WScript.Echo "[" & dyn(0) & "]", UBound(dyn)
Erase dyn
On Error Resume Next
WScript.Echo UBound(dyn)
WScript.Echo "ubound after erase:", Err.Number
Err.Clear
Dim fixed(3)
ReDim fixed(5)
WScript.Echo "redim fixed:", Err.Number
Err.Clear
For Each v In 42
Next
WScript.Echo "for each over a number:", Err.Number
