' A script client of the running mail client, as a plug-in writer would
' write one: the root object, its events through PLUME.ScriptEvents, a
' message window opened, changed and closed. Prints PASS last.
Option Explicit

Class RootEvents
    ' (Wine's VBScript takes one name per Public statement.)
    Public Opened
    Public Closed
    Public LastOpened
    Public LastClosed
    Public ClosedMain
    Private Sub Class_Initialize()
        Opened = 0 : Closed = 0 : LastOpened = -1 : LastClosed = -1
    End Sub
    Public Sub OnNewMsgWnd(id)
        Opened = Opened + 1 : LastOpened = id
    End Sub
    Public Sub OnMsgWndClosed(id, isMainWindow)
        Closed = Closed + 1 : LastClosed = id : ClosedMain = isMainWindow
    End Sub
End Class

Dim root, events, handler, cookie, note, control, tries

Sub Fail(text)
    WScript.Echo "FAIL: " & text
    WScript.Quit 1
End Sub

Function WaitUntilOpened(count)
    tries = 0
    Do While handler.Opened < count And tries < 100
        events.Wait 100
        tries = tries + 1
    Loop
    WaitUntilOpened = handler.Opened >= count
End Function

Set root = CreateObject("PLUME.PLUMEObj")
WScript.Echo "root " & root.GetID() & " main window " & root.GetOEMainWindow()
If root.GetOEMainWindow() = 0 Then Fail "no main window"

Set events = CreateObject("PLUME.ScriptEvents")
Set handler = New RootEvents
cookie = events.Connect(root, handler, "")

root.ComposeMessage
If Not WaitUntilOpened(1) Then Fail "no OnNewMsgWnd after ComposeMessage"
WScript.Echo "new message window " & handler.LastOpened

Set note = root.GetMsgWnd(handler.LastOpened)
If note Is Nothing Then Fail "GetMsgWnd gave nothing"
If note.GetID() <> handler.LastOpened Then Fail "GetID " & note.GetID()
note.SetSubject "Greetings from a script"
note.SetTo "someone@example.org"
If note.GetSubject() <> "Greetings from a script" Then Fail "subject reads " & note.GetSubject()
WScript.Echo "subject " & note.GetSubject() & " to " & note.GetTo()
Set note = Nothing

' The user closes the window.
Set control = CreateObject("PLUMEStandin.Client")
control.CloseNote handler.LastOpened
tries = 0
Do While handler.Closed < 1 And tries < 100
    events.Wait 100
    tries = tries + 1
Loop
If handler.LastClosed <> handler.LastOpened Then Fail "OnMsgWndClosed for " & handler.LastClosed
WScript.Echo "closed " & handler.LastClosed & " isMainWindow " & handler.ClosedMain

events.Disconnect cookie
Set root = Nothing
WScript.Echo "PASS"
