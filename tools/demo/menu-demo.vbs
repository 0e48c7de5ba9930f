' The library's menu items in the running client, one step per run, while
' the plug-in examples/scripts/menu_items.vbs runs:
'   cscript //nologo menu-demo.vbs <step>
' "open" opens Tools > PLUME More as a user does and leaves it open (for the
' screenshot); "choose" closes it, chooses the check-style item twice,
' stamps a new message's subject through its Tools menu and stops the
' plug-in through its menu. Ends with "STEP OK <step>".
stage = WScript.Arguments(0)
Set c = CreateObject("PLUMEStandin.Client")
main = c.MainWindow

Sub ShowOpen(level)
    For Each e In c.OpenMenuItems(level)
        line = "  "
        If e(5) Then
            line = line & "----"
        Else
            line = line & Replace(e(1), vbTab, "  ")
            If e(6) Then line = line & "  [checked]"
            If e(7) Then line = line & "  [greyed]"
            If e(3) Then line = line & "  >"
        End If
        WScript.Echo line
    Next
End Sub

Select Case stage
Case "open"
    c.OpenMenu main, "Tools\PLUME More"
    started = Timer
    Do
        state = c.MenuState
    Loop Until state(0) Or state(2) <> "" Or Timer - started > 10
    If Not state(0) Then
        ' No "STEP OK": the demo reports this line and stops.
        WScript.Echo "The menu did not open: " & state(2)
        stage = "failed"
    Else
        WScript.Echo "Tools, as the user sees it:"
        ShowOpen 0
        WScript.Echo "PLUME More:"
        ShowOpen 1
    End If
Case "choose"
    c.CloseMenu
    For i = 1 To 5000
        state = c.MenuState
        If state(1) = 0 Then Exit For
    Next
    c.ChooseMenuItem main, "Tools\PLUME Watch Folder"
    c.Pump 500
    c.ChooseMenuItem main, "Tools\PLUME Watch Folder"
    c.Pump 500
    note = c.NewMessage
    c.TypeText note, 1004, "Quarterly figures"
    c.ChooseMenuItem note, "Tools\PLUME Stamp Subject"
    c.Pump 1500
    WScript.Echo "Subject after choosing Tools > PLUME Stamp Subject: """ & c.GetField(note, 1004) & """"
    c.CloseNote note
    c.Pump 500
    c.ChooseMenuItem main, "Tools\PLUME More\Stop This Plug-in"
End Select
WScript.Echo "STEP OK " & stage
