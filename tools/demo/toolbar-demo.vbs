' The library's toolbars in the running client, one step per run:
'   cscript //nologo toolbar-demo.vbs <step> <images folder>
' "toolbar" adds a toolbar with several kinds of buttons to the main window
' and a button to the client's own toolbar, then clicks one through the
' real control. Ends with "STEP OK <step>".
stage = WScript.Arguments(0)
images = WScript.Arguments(1)
If Right(images, 1) <> "\" Then images = images & "\"

Set c = CreateObject("PLUMEStandin.Client")
main = c.MainWindow

Select Case stage
Case "toolbar"
    Set root = CreateObject("PLUME.PLUMEObj")
    ' Tooltips and picture size are chosen before the band is made.
    Set tb = CreateObject("PLUME.OEToolbar")
    tb.EnableTooltips 1
    sized = tb.SetPictureSize(24, 24)
    tb.Create root.GetID()
    Set archive = tb.CreateButton("Archive", images & "archive.bmp", "")
    archive.SetTooltip "Archive the selected messages"
    Set sep = tb.CreateSeparator()
    Set follow = CreateObject("PLUME.OEButton")
    follow.SetCheckStyle 1
    follow.Create tb.GetID(), "Follow up", images & "flag.bmp", ""
    follow.SetChecked 1
    Set templates = tb.CreateButton("Templates", images & "star.bmp", "")
    templates.CreateSubButton "Thank you", "", ""
    templates.CreateSubButton "Meeting notes", "", ""
    templates.CreateSubSeparator
    templates.CreateSubButton "Out of office", "", ""
    Set settings = tb.CreateButton("Settings", images & "gear.bmp", "")
    settings.SetEnabled 0
    Set own = root.GetOEToolbar()
    Set plume = own.CreateButton("PLUME", images & "plume.bmp", "")
    WScript.Echo "Toolbar " & tb.GetID() & " (window " & tb.GetHandle() & "): Archive, | , Follow up (checked), Templates (drop-down), Settings (disabled)"
    WScript.Echo "Client's toolbar gained button " & plume.GetID() & " ""PLUME"""
    For Each b In c.ToolbarButtons(tb.GetHandle())
        WScript.Echo "  " & b(0) & " " & b(1) & " state " & b(2)
    Next

    ' Clicks through the real control reach the library: the check-style
    ' button's state flips with each click.
    c.ClickButton main, follow.GetID()
    WScript.Echo "Follow up after a click: checked " & follow.IsChecked()
    c.ClickButton main, follow.GetID()
    WScript.Echo "Follow up after a second click: checked " & follow.IsChecked()
End Select
WScript.Echo "STEP OK " & stage
