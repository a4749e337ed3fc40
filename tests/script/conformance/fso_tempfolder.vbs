' FileSystemObject on the temporary folder: folders, text files, reading back, deleting.
Dim fso, base, folder, ts, f, names
Set fso = CreateObject("Scripting.FileSystemObject")
base = fso.BuildPath(fso.GetSpecialFolder(2).Path, "fso_test")
If fso.FolderExists(base) Then fso.DeleteFolder base, True
Set folder = fso.CreateFolder(base)
WScript.Echo fso.FolderExists(base), folder.Name
Set ts = fso.CreateTextFile(fso.BuildPath(base, "one.txt"), True)
ts.WriteLine "first line"
ts.Write "second"
ts.Close
Set ts = fso.OpenTextFile(fso.BuildPath(base, "one.txt"), 8)
ts.WriteLine " continued"
ts.Close
Set ts = fso.OpenTextFile(fso.BuildPath(base, "one.txt"), 1)
Do Until ts.AtEndOfStream
  WScript.Echo "read: " & ts.ReadLine
Loop
ts.Close
fso.CopyFile fso.BuildPath(base, "one.txt"), fso.BuildPath(base, "two.txt")
For Each f In fso.GetFolder(base).Files
  names = names & f.Name & "(" & f.Size & ") "
Next
WScript.Echo names
WScript.Echo fso.GetExtensionName("x\y\report.final.VBS"), fso.GetBaseName("a\b\c.txt"), fso.FileExists(fso.BuildPath(base, "two.txt"))
fso.DeleteFile fso.BuildPath(base, "two.txt")
WScript.Echo fso.FileExists(fso.BuildPath(base, "two.txt"))
On Error Resume Next
Set ts = fso.OpenTextFile(fso.BuildPath(base, "missing.txt"), 1)
WScript.Echo "missing file:", Err.Number
On Error GoTo 0
fso.DeleteFolder base, True
WScript.Echo fso.FolderExists(base)
