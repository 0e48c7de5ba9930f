' A plug-in written as a script: stamps the subject of every new compose
' window and stops a Send whose subject is empty.
'
'   cscript //nologo subject_stamper.vbs [seconds]
Option Explicit

Const OE_MSG_SEND_WND = 2

Class Stamper
    Public Sub OnNewMsgWnd(msgWndId)
        Dim w
        Set w = root.GetMsgWnd(msgWndId)
        If w Is Nothing Then Exit Sub
        If w.GetWndStyle() = OE_MSG_SEND_WND Then
            w.SetSubject "[PLUME] " & w.GetSubject()
            Say "stamped the subject of window " & msgWndId & ": """ & w.GetSubject() & """"
        End If
    End Sub
    Public Sub OnSendButtonMsgWndClicked(msgWndId)
        Dim w, subject
        Set w = root.GetMsgWnd(msgWndId)
        If w Is Nothing Then Exit Sub
        subject = Trim(Replace(w.GetSubject(), "[PLUME]", ""))
        If subject = "" Then
            w.CancelSend
            Say "cancelled Send in window " & msgWndId & ": the subject is empty"
        Else
            Say "Send goes ahead in window " & msgWndId & ": """ & w.GetSubject() & """"
        End If
    End Sub
End Class

Dim root, events, cookie, seconds, started

Sub Say(text)
    WScript.Echo "plug-in: " & text
End Sub

seconds = 20
If WScript.Arguments.Count > 0 Then seconds = CInt(WScript.Arguments(0))
Set root = CreateObject("PLUME.PLUMEObj")
Set events = CreateObject("PLUME.ScriptEvents")
cookie = events.Connect(root, New Stamper, "")
Say "stamping new messages"
started = Timer
Do While Timer - started < seconds
    events.Wait 200
Loop
events.Disconnect cookie
Set root = Nothing
Say "done"
