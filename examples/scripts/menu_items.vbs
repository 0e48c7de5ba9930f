' A plug-in written as a script: adds items to the mail client's menus and
' acts when they are chosen. In the main window's Tools menu: a check-style
' item, a greyed one and a sub-menu; in the Tools menu of compose windows:
' "PLUME Stamp Subject", which stamps the subject of the window it is chosen
' in (once). Items enter a menu when the user opens it. The plug-in ends
' after the given time or when the user chooses Tools > PLUME More > Stop
' This Plug-in.
'
'   cscript //nologo menu_items.vbs [seconds]
'
' Menus are named by their index in the window's menu bar; compose windows
' have more menus than the main window, so their Tools menu has another index.
Option Explicit

Const OE_MSG_SEND_WND = 2
Const MAIN_TOOLS = 3      ' File, Edit, View, Tools
Const COMPOSE_TOOLS = 5   ' File, Edit, View, Insert, Format, Tools

Dim root, events, cookie, seconds, started, stopping
Dim tools, watch, greyed, more, stopItem, stamp

Sub Say(text)
    WScript.Echo "plug-in: " & text
End Sub

Class MenuHandler
    ' A choice in the main window.
    Public Sub OnMenuItemClicked(menuIndex, itemId)
        If itemId = watch.GetID() Then
            Say "Watch folder is now " & IIf(watch.IsChecked(), "on", "off")
        ElseIf itemId = stopItem.GetID() Then
            Say "asked to stop"
            stopping = True
        Else
            Say "chose item " & itemId & " of menu " & menuIndex
        End If
    End Sub
    ' A choice in a message window.
    Public Sub OnMsgWndMenuItemClicked(menuIndex, itemId, msgWndId)
        Dim w
        If itemId <> stamp.GetID() Then Exit Sub
        Set w = root.GetMsgWnd(msgWndId)
        If w Is Nothing Then Exit Sub
        ' Another plug-in may have stamped it already.
        If Left(w.GetSubject(), 8) = "[PLUME] " Then
            Say "the subject of window " & msgWndId & " carries the stamp already"
            Exit Sub
        End If
        w.SetSubject "[PLUME] " & w.GetSubject()
        Say "stamped the subject of window " & msgWndId & ": """ & w.GetSubject() & """"
    End Sub
End Class

Function IIf(condition, a, b)
    If condition Then IIf = a Else IIf = b
End Function

seconds = 30
If WScript.Arguments.Count > 0 Then seconds = CInt(WScript.Arguments(0))
Set root = CreateObject("PLUME.PLUMEObj")

Set tools = root.GetMenu(MAIN_TOOLS)
tools.CreateSeparator
Set watch = tools.CreateItem("PLUME Watch Folder")
watch.SetCheck 1
watch.SetChecked 1
Set greyed = tools.CreateItem("PLUME Archive (nothing selected)")
greyed.SetEnabled 0
Set more = tools.CreateItem("PLUME More")
more.CreateSubItem "About PLUME"
more.CreateSeparator
Set stopItem = more.CreateSubItem("Stop This Plug-in")
Set stamp = root.GetMsgWndMenu(OE_MSG_SEND_WND, COMPOSE_TOOLS).CreateItem("PLUME Stamp Subject")

Set events = CreateObject("PLUME.ScriptEvents")
cookie = events.Connect(root, New MenuHandler, "")
Say "menu items ready"
started = Timer
stopping = False
Do While Timer - started < seconds And Not stopping
    events.Wait 200
Loop
events.Disconnect cookie
root.RemoveAllMenuItems
Set root = Nothing
Say "done"
