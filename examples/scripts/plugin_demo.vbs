' A script plug-in: one toolbar button and one Tools menu item in the main
' window, and a line for each click, each choice and each Send. Run while
' the client runs:  cscript //nologo plugin_demo.vbs [seconds]
' It ends after the given time (60 s) or when the client closes, and prints
' "PASS" as its last line (a script that fails on Wine ends silently).
Option Explicit

Const MAIN_TOOLS = 3   ' File, Edit, View, Tools
Dim seconds, root, toolbar, button, item, events, cookies(2), started, shutdown
seconds = 60
If WScript.Arguments.Count > 0 Then seconds = CLng(WScript.Arguments(0))

Class ButtonEvents
    Public Sub OnClick()
        WScript.Echo "clicked button " & button.GetID()
    End Sub
End Class

Class ItemEvents
    Public Sub OnClick()
        WScript.Echo "chose item " & item.GetID()
    End Sub
End Class

Class RootEvents
    Public Sub OnSendButtonMsgWndClicked(msgWndId)
        WScript.Echo "send in window " & msgWndId & ": " & root.GetMsgWnd(msgWndId).GetSubject()
    End Sub
    Public Sub OnMsgWndClosed(msgWndId, isMainWindow)
        If isMainWindow Then shutdown = True
    End Sub
End Class

Set root = CreateObject("PLUME.PLUMEObj")
Set toolbar = root.CreateToolbar()
Set button = toolbar.CreateButton("Script", "", "")
Set item = root.GetMenu(MAIN_TOOLS).CreateItem("Script Item")

Set events = CreateObject("PLUME.ScriptEvents")
cookies(0) = events.Connect(button, New ButtonEvents, "")
cookies(1) = events.Connect(item, New ItemEvents, "")
cookies(2) = events.Connect(root, New RootEvents, "")
WScript.Echo "ready: button " & button.GetID() & ", item " & item.GetID()
started = Timer
Do While Timer - started < seconds And Not shutdown
    events.Wait 200
Loop
events.Disconnect cookies(0)
events.Disconnect cookies(1)
events.Disconnect cookies(2)
If Not shutdown Then
    item.Destroy
    toolbar.Destroy
End If
WScript.Echo "PASS"
