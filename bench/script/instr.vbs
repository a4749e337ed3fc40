Dim s, p, n, r, piece
piece = String(994, "x") & "needle"
For p = 1 To 1048
  s = s & piece
Next
n = 0
p = InStr(1, s, "needle")
Do While p > 0
  n = n + 1
  p = InStr(p + 1, s, "needle")
Loop
r = Replace(s, "needle", "pin")
