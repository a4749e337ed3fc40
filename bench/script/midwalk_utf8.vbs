Dim s, i, n, c
s = String(50000, ChrW(228)) & ""
n = 0
For i = 1 To Len(s)
  c = Mid(s, i, 1)
  If AscW(c) = 228 Then n = n + 1
Next
