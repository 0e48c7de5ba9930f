' Creates a root object and holds it until the process is ended from
' outside: a client that dies without releasing what it holds.
Dim root, events
Set root = CreateObject("PLUME.PLUMEObj")
Set events = CreateObject("PLUME.ScriptEvents")
WScript.Echo "holding " & root.GetID()
Do
    events.Wait 1000
Loop
