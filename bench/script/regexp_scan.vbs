' An address search over 1.8 MB of listing text that holds none: the pattern is tried at
' nearly every place of the text.
Dim text, re, i, found
text = "Helle 3-Zimmer-Wohnung mit Balkon und Einbaukueche, ruhige Lage nahe Stadtpark, " & _
       "Baujahr 1998, frei ab sofort. "
For i = 1 To 14
  text = text & text
Next
Set re = New RegExp
re.Pattern = "[\w.+-]+@[\w-]+\.[a-z]{2,}"
found = 0
For i = 1 To 10
  If re.Test(text) Then found = found + 1
Next
