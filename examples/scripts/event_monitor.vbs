' A plug-in written as a script: connects to the mail client's PLUME server
' and prints every event of the root object as it happens.
'
'   cscript //nologo event_monitor.vbs [seconds]
'
' Wine's script host cannot hear COM events by itself; PLUME.ScriptEvents
' (plumescript.dll) forwards them to the methods of a VBScript class and
' waits while pumping messages, which is when events arrive.
Option Explicit

Class RootEvents
    Public Sub OnToolbarButtonClicked(toolbarId, buttonId)
        Say "OnToolbarButtonClicked toolbar " & toolbarId & " button " & buttonId
    End Sub
    Public Sub OnMenuItemClicked(menuIndex, itemId)
        Say "OnMenuItemClicked menu " & menuIndex & " item " & itemId
    End Sub
    Public Sub OnFolderSelectionChanged(folderId)
        Say "OnFolderSelectionChanged " & folderId
    End Sub
    Public Sub OnMessageSelectionChanged()
        Say "OnMessageSelectionChanged"
    End Sub
    Public Sub OnCurrentMessageChanged(msgId)
        Say "OnCurrentMessageChanged " & msgId
    End Sub
    Public Sub OnMessageDownloadStarted()
        Say "OnMessageDownloadStarted"
    End Sub
    Public Sub OnMessageDownloadFinished()
        Say "OnMessageDownloadFinished"
    End Sub
    Public Sub OnNewMessageInOutbox(msgId)
        Say "OnNewMessageInOutbox " & msgId
    End Sub
    Public Sub OnNewMsgWnd(msgWndId)
        Dim w
        Set w = root.GetMsgWnd(msgWndId)
        If w Is Nothing Then
            Say "OnNewMsgWnd " & msgWndId
        Else
            Say "OnNewMsgWnd " & msgWndId & " kind " & w.GetWndStyle() & " subject """ & w.GetSubject() & """"
        End If
    End Sub
    Public Sub OnMsgWndClosed(msgWndId, isMainWindow)
        Say "OnMsgWndClosed " & msgWndId & " isMainWindow " & isMainWindow
    End Sub
    Public Sub OnSendButtonMsgWndClicked(msgWndId)
        Say "OnSendButtonMsgWndClicked " & msgWndId
    End Sub
    Public Sub OnDatabaseChange(dt, folderId, objId, newParentId)
        Say "OnDatabaseChange " & dt & " folder " & folderId & " object " & objId
    End Sub
End Class

Dim root, events, cookie, seconds, started

Sub Say(text)
    WScript.Echo "plug-in: " & text
End Sub

seconds = 20
If WScript.Arguments.Count > 0 Then seconds = CInt(WScript.Arguments(0))

Set root = CreateObject("PLUME.PLUMEObj")
Say "connected as root object " & root.GetID() & " of main window " & root.GetOEMainWindow()
Set events = CreateObject("PLUME.ScriptEvents")
cookie = events.Connect(root, New RootEvents, "")

started = Timer
Do While Timer - started < seconds
    events.Wait 200
Loop
events.Disconnect cookie
Set root = Nothing
Say "done"
