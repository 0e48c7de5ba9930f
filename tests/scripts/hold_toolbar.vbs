' Creates a toolbar with a button, listens to both, and holds everything
' until the process is ended from outside: a client that dies owning a
' toolbar whose events it was hearing.
Class Quiet
    Public Sub OnClick()
    End Sub
    Public Sub OnToolbarButtonClicked(toolbarId, buttonId)
    End Sub
End Class
Dim root, toolbar, button, events
Set root = CreateObject("PLUME.PLUMEObj")
Set toolbar = root.CreateToolbar()
Set button = toolbar.CreateButton("Orphan", "", "")
Set events = CreateObject("PLUME.ScriptEvents")
events.Connect button, New Quiet, ""
events.Connect root, New Quiet, ""
WScript.Echo "holding " & toolbar.GetID() & " " & button.GetID()
Do
    events.Wait 1000
Loop
