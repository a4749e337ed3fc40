' Name is read/write on File and Folder objects: assigning renames in place.
Dim fso, base, f, folder, ts
Set fso = CreateObject("Scripting.FileSystemObject")
base = fso.BuildPath(fso.GetSpecialFolder(2).Path, "rename_test")
Set folder = fso.CreateFolder(base)
Set ts = fso.CreateTextFile(fso.BuildPath(base, "alt.jpg"), True)
ts.Write "picture"
ts.Close
fso.CreateTextFile(fso.BuildPath(base, "taken.jpg"), True).Close
Set f = fso.GetFile(fso.BuildPath(base, "alt.jpg"))
f.Name = "neu.jpg"
WScript.Echo f.Name, fso.FileExists(fso.BuildPath(base, "alt.jpg")), fso.FileExists(fso.BuildPath(base, "neu.jpg"))
WScript.Echo fso.GetFileName(f.Path), f.Size, fso.OpenTextFile(fso.BuildPath(base, "neu.jpg")).ReadAll
On Error Resume Next
f.Name = "taken.jpg"
WScript.Echo "name taken:", Err.Number, f.Name
Err.Clear
f.Name = "sub\x.jpg"
WScript.Echo "not a name:", Err.Number, f.Name
Err.Clear
On Error GoTo 0
Dim sub1 : Set sub1 = folder.SubFolders.Add("x")
sub1.Name = "y"
WScript.Echo sub1.Name, fso.FolderExists(fso.BuildPath(base, "x")), fso.FolderExists(fso.BuildPath(base, "y"))
folder.Name = "rename_done"
WScript.Echo folder.Name, fso.FolderExists(base), fso.FileExists(fso.BuildPath(folder.Path, "neu.jpg"))
fso.DeleteFolder folder.Path, True
WScript.Echo fso.FolderExists(folder.Path)
