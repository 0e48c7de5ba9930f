' Adds a toolbar with one button to the mail client's main window and
' prints every click on it. Run while the client (msimn.exe or winmail.exe)
' is running:
'
'   cscript //nologo toolbar_clicks.vbs [seconds]
'
' Script hosts without event support (Wine's cscript) hear the events
' through the SDK's helper object PLUME.ScriptEvents (plumescript.dll,
' registered with regsvr32), which also waits while pumping messages.
Option Explicit

Dim seconds
seconds = 30
If WScript.Arguments.Count > 0 Then seconds = CLng(WScript.Arguments(0))

' Event handlers: methods named after the events they take.
Class ButtonHandler
    Public Sub OnClick()
        WScript.Echo "button clicked in the main window"
    End Sub
    Public Sub OnMsgWndClick(msgWndId)
        WScript.Echo "button clicked in message window " & msgWndId
    End Sub
End Class

Class RootHandler
    Public Sub OnToolbarButtonClicked(toolbarId, buttonId)
        WScript.Echo "root heard button " & buttonId & " of toolbar " & toolbarId
    End Sub
End Class

Dim root, toolbar, button, events, buttonCookie, rootCookie, i
Set root = CreateObject("PLUME.PLUMEObj")
' Tooltips must be asked for before the toolbar's window exists, so the
' toolbar object is made first and placed afterwards (root.CreateToolbar()
' does both at once).
Set toolbar = CreateObject("PLUME.OEToolbar")
toolbar.EnableTooltips 1
toolbar.Create root.GetID()
Set button = toolbar.CreateButton("Hello", "", "")
button.SetTooltip "Prints a line for every click"
WScript.Echo "toolbar " & toolbar.GetID() & " with button " & button.GetID()

Set events = CreateObject("PLUME.ScriptEvents")
buttonCookie = events.Connect(button, New ButtonHandler, "")
rootCookie = events.Connect(root, New RootHandler, "")
For i = 1 To seconds
    events.Wait 1000
Next
events.Disconnect buttonCookie
events.Disconnect rootCookie

root.RemoveAllToolbars
WScript.Echo "toolbar example done"
