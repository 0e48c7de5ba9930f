' Sends the message the user is looking at again: asks the library to copy
' it into the Outbox (stamped with the default mail account), which the next
' Send/Receive sends. Run while the client runs, with a message selected:
'
'   cscript //nologo send_selected.vbs
Option Explicit

Dim root, folder, message
Set root = CreateObject("PLUME.PLUMEObj")
folder = root.GetSelectedFolderID()
message = root.GetCurrentMessageID()
If message = -1 Then message = root.GetFirstSelectedMessageID()
If message = -1 Then
    WScript.Echo "plug-in: no message is selected"
Else
    root.SendMessage folder, message
    WScript.Echo "plug-in: message " & message & " of folder " & folder & " goes to the Outbox"
End If
WScript.Echo "PASS"
