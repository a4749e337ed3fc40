Function Mixed(n)
  Dim d, i, total, s, key
  Set d = CreateObject("Scripting.Dictionary")
  For i = 0 To 99
    d.Add "k" & i, i * 2
  Next
  total = 0
  For i = 1 To n
    total = total + (i Mod 7) * 3 - i \ 5 + 1.5
    s = "item" & (i Mod 10)
    key = "k" & (i Mod 100)
    If d.Exists(key) Then total = total + d(key)
    If Len(s) > 5 Then total = total - 1
  Next
  Mixed = total
End Function
r = Mixed(1000000)
