' Drives the stand-in mail client through its control object, one step per run:
'   cscript //nologo standin-demo.vbs <step>
' Each step prints what the client shows and ends with "STEP OK <step>".
' (Wine's script host stops silently on an error, so the last line matters.)
stage = WScript.Arguments(0)
Set c = CreateObject("PLUMEStandin.Client")
main = c.MainWindow

Select Case stage
Case "overview"
    WScript.Echo "Client: " & c.Variant & " (process " & c.ProcessId & "), library started: " & c.LibraryStarted
    WScript.Echo "Main window: " & c.WindowClass(main) & " """ & c.WindowText(main) & """"
    WScript.Echo "Folders:"
    For Each f In c.Folders
        WScript.Echo "  " & f(0) & "  " & f(1) & "  (" & f(4) & " messages, " & f(3) & " unread)"
    Next
    rows = c.Rows
    WScript.Echo "Inbox rows: " & (UBound(rows) + 1)
    For i = 0 To 4
        r = rows(i)
        WScript.Echo "  " & r(2) & " | " & r(3) & " | " & r(4)
    Next
    WScript.Echo "Toolbar:"
    For Each f In c.ToolbarButtons(main)
        WScript.Echo "  " & f(0) & " " & f(1)
    Next
    c.SelectRows 2
    c.Pump 200
    WScript.Echo "Preview shows message " & c.PreviewMessage & ": " & Left(Replace(c.PreviewText, vbCrLf, " "), 70)
Case "open"
    c.SelectRows 5
    note = c.OpenSelected
    WScript.Echo "Opened """ & c.WindowText(note) & """ from " & c.GetField(note, 1002)
    WScript.Echo "  To: " & c.GetField(note, 1001)
    WScript.Echo "  Body: " & Left(Replace(c.BodyText(note), vbCr, " "), 70)
Case "compose"
    For Each note In c.MessageWindows
        c.CloseNote note
    Next
    c.Pump 100
    note = c.NewMessage
    c.TypeText note, 1001, "Anna Berg <anna.berg@northwind.example>"
    ' The subject stamper marks every new message: the user writes the
    ' subject after its mark (typed at once, the subject could be read by
    ' the plug-in before and set after it).
    For i = 1 To 50
        If Left(c.GetField(note, 1004), 7) = "[PLUME]" Then Exit For
        c.Pump 100
    Next
    c.SetField note, 1004, c.GetField(note, 1004) & "Minutes of the offsite"
    c.TypeText note, 0, "Hi Anna," & vbCrLf & vbCrLf & "here are the minutes of the offsite." & vbCrLf & vbCrLf & "Jamie"
    c.ResolveNames note
    WScript.Echo "Composing """ & c.WindowText(note) & """ to " & c.GetField(note, 1001)
Case "send"
    For Each note In c.MessageWindows
        c.SendNote note
    Next
    WScript.Echo "Sent; transfer finished: " & c.WaitTransferIdle(5000)
    c.SelectFolder "Sent Items"
    c.Pump 200
    rows = c.Rows
    If c.Variant = "WM" Then outbox = 4 Else outbox = 5
    WScript.Echo "Sent Items now has " & (UBound(rows) + 1) & " messages; the Outbox has " & (UBound(c.Messages(outbox)) + 1)
    c.SelectRows 0
    c.Pump 200
    WScript.Echo "The first of them went out with the account """ & c.PreviewAccount & """"
Case "nosubject"
    note = c.NewMessage
    c.TypeText note, 1001, "Anna Berg <anna.berg@northwind.example>"
    c.Pump 1000
    WScript.Echo "Composing a message with the subject """ & c.GetField(note, 1004) & """ only; pressing Send"
    c.SendNote note
    c.Pump 500
    If UBound(c.MessageWindows) >= 0 Then
        WScript.Echo "The window is still open: the plug-in cancelled the Send"
    Else
        WScript.Echo "The window closed: the message was sent"
    End If
Case "closeall"
    For Each note In c.MessageWindows
        c.CloseNote note
    Next
    c.Pump 200
Case "menu"
    items = c.MenuItems(main, "Tools")
    WScript.Echo "Tools menu:"
    For Each f In items
        If f(1) <> "" Then WScript.Echo "  " & f(0) & "  " & Replace(f(1), vbTab, "  ")
    Next
Case "select"
    ' The user opens Sent Items, picks two messages, then goes back to the Inbox.
    c.SelectFolder "Sent Items"
    c.Pump 300
    c.SelectRows Array(0, 2)
    c.Pump 500
    shown = ""
    For Each r In c.SelectedRows
        shown = shown & " " & r
    Next
    WScript.Echo "Selected rows" & shown & " of Sent Items"
    c.SelectFolder "Inbox"
    c.Pump 300
    c.SelectRows 1
    c.Pump 500
Case "store"
    ' The user deletes the first message of the Inbox and makes a folder in it.
    rows = c.Rows
    r = rows(0)
    c.Commit "delete", r(0)
    folder = c.Commit("createfolder", 2, "Projects")
    c.Pump 300
    WScript.Echo "Deleted message " & r(0) & ", created folder " & folder & " in the Inbox"
Case "resend"
    ' After a plug-in asked for it: the copy in the Outbox goes out with Send/Receive.
    If c.Variant = "WM" Then outbox = 4 Else outbox = 5
    c.Pump 500
    WScript.Echo "The Outbox holds " & (UBound(c.Messages(outbox)) + 1) & " message(s); Send/Receive"
    c.StartSend
    WScript.Echo "Transfer finished: " & c.WaitTransferIdle(10000)
    c.SelectFolder "Sent Items"
    c.Pump 300
    ' The copy is the newest message there.
    rows = c.Rows
    newest = 0
    best = -1
    For i = 0 To UBound(rows)
        r = rows(i)
        If r(0) > best Then
            best = r(0)
            newest = i
        End If
    Next
    c.SelectRows newest
    c.Pump 300
    r = rows(newest)
    WScript.Echo "Sent Items: the copy """ & r(3) & """ (message " & r(0) & ") went out with the account """ & c.PreviewAccount & """"
Case "quit"
    c.Quit
End Select
WScript.Echo "STEP OK " & stage
