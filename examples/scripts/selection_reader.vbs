' A plug-in written as a script that follows the user's selection: it says
' which folder is open and prints the subjects of the selected messages
' whenever they change.
'
'   cscript //nologo selection_reader.vbs [seconds]
'
' The subjects are read from the stand-in mail client's control object
' (PLUMEStandin.Client), which stands for the client's store here; with the
' real client a plug-in reads them from its store.
Option Explicit

Class SelectionEvents
    Public Sub OnFolderSelectionChanged(folderId)
        Say "folder " & folderId & " is open"
    End Sub
    Public Sub OnCurrentMessageChanged(msgId)
        If msgId <> -1 Then Say "the preview shows """ & SubjectOf(msgId) & """"
    End Sub
    Public Sub OnMessageSelectionChanged()
        Dim id, n
        n = 0
        id = root.GetFirstSelectedMessageID()
        Do While id <> -1 And n < 20
            Say "  selected: """ & SubjectOf(id) & """"
            n = n + 1
            id = root.GetNextSelectedMessageID()
        Loop
        Say n & " message(s) selected"
    End Sub
End Class

Dim root, events, cookie, seconds, started, client

Sub Say(text)
    WScript.Echo "plug-in: " & text
End Sub

Function SubjectOf(msgId)
    Dim info
    SubjectOf = "message " & msgId
    If IsObject(client) Then
        info = client.MessageInfo(msgId)
        SubjectOf = info(4)
    End If
End Function

seconds = 20
If WScript.Arguments.Count > 0 Then seconds = CInt(WScript.Arguments(0))

On Error Resume Next
Set client = CreateObject("PLUMEStandin.Client")
If Err.Number <> 0 Then client = Empty
On Error GoTo 0

Set root = CreateObject("PLUME.PLUMEObj")
Say "following the selection of main window " & root.GetOEMainWindow() & ", folder " & root.GetSelectedFolderID()
Set events = CreateObject("PLUME.ScriptEvents")
cookie = events.Connect(root, New SelectionEvents, "")

started = Timer
Do While Timer - started < seconds
    events.Wait 200
Loop
events.Disconnect cookie
Set root = Nothing
Say "done"
