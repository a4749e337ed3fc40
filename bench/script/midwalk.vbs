Dim s, i, n, c
s = String(50000, "a") & ""
n = 0
For i = 1 To Len(s)
  c = Mid(s, i, 1)
  If Asc(c) = 97 Then n = n + 1
Next
