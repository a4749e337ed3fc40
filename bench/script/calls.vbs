Function Add3(a, b, c)
  Add3 = a + b + c
End Function
Dim i, t
t = 0
For i = 1 To 2000000
  t = Add3(t, i, 1) - i
Next
