' Sample OpenImmo hooks. Every .vbs file in "System\Services\OpenImmo" below the host folder
' is run when an OpenImmo export starts; an object put into Application.EventsConsumers gets
' the callbacks it defines (the others are simply not called on it).
'
' Function callbacks return text: each line is shown as a "Scripting" line of the run; a line
' beginning with ">>>>" stops that export step and is reported as its error.

Class SampleOpenImmoHooks

  ' Before the document is saved: a comment at the top of the document says where it went.
  ' Comments are allowed anywhere in the document, so it stays valid.
  Public Function Callback_BeforeXmlSave(rsboersen, oXmlDoc, strPath, strFileName)
    Dim oComment
    If oXmlDoc Is Nothing Then Exit Function
    If oXmlDoc.documentElement Is Nothing Then Exit Function
    ' "--" may not stand inside a comment.
    Set oComment = oXmlDoc.createComment(" Export " & Replace(strFileName, "--", "__") & " ")
    oXmlDoc.documentElement.insertBefore oComment, oXmlDoc.documentElement.firstChild
    Callback_BeforeXmlSave = "Kommentar in " & strFileName & " gesetzt"
  End Function

  ' Picture file names in the transfer folder without blanks (some portals reject them).
  Public Sub Callback_OpenImmoPicCopy(rsboersen, rsObj, lngNr, strFileName1, strFileName2, _
                                      lngGroesse, lngBreite, strCopyright, blnCancel, _
                                      strResultMsg)
    ' strFileName2 is the whole target path: only its file name is changed, the folder stays.
    Dim lngSlash, strName
    lngSlash = InStrRev(Replace(strFileName2, "/", "\"), "\")
    strName = Mid(strFileName2, lngSlash + 1)
    If InStr(strName, " ") > 0 Then
      strFileName2 = Left(strFileName2, lngSlash) & Replace(strName, " ", "_")
      strResultMsg = "Bild " & lngNr & ": Leerzeichen im Dateinamen ersetzt"
    End If
  End Sub

End Class

Dim oSampleOpenImmoHooks
Set oSampleOpenImmoHooks = New SampleOpenImmoHooks
Application.EventsConsumers.Add oSampleOpenImmoHooks
