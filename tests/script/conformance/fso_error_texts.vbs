' File-system errors carry VBScript's own description, never the path that failed.
Dim fso, base, ts
Set fso = CreateObject("Scripting.FileSystemObject")
base = fso.GetSpecialFolder(2).Path
On Error Resume Next
Set ts = fso.OpenTextFile(fso.BuildPath(base, "missing.txt"), 1)
WScript.Echo Err.Number, Err.Description
Err.Clear
fso.DeleteFile fso.BuildPath(base, "missing*.txt")
WScript.Echo Err.Number, Err.Description
Err.Clear
fso.GetFolder fso.BuildPath(base, "nowhere")
WScript.Echo Err.Number, Err.Description
Err.Clear
fso.CreateFolder base
WScript.Echo Err.Number, Err.Description
Err.Clear
Set ts = fso.CreateTextFile(fso.BuildPath(base, "read.txt"), True)
ts.Close
Set ts = fso.OpenTextFile(fso.BuildPath(base, "read.txt"), 1)
ts.ReadLine
WScript.Echo Err.Number, Err.Description
Err.Clear
ts.Write "x"
WScript.Echo Err.Number, Err.Description
