// PLUME.ScriptEvents: lets a script host that cannot connect to events by
// itself (Wine's cscript lacks WScript.ConnectObject and WScript.Sleep) hear
// the events of any object with a connection point, and wait while pumping.
//
//   Set events = CreateObject("PLUME.ScriptEvents")
//   cookie = events.Connect(root, handler, "")  ' handler: a VBScript Class
//   events.Wait 500                              ' events arrive while it waits
//   events.Disconnect cookie
//
// Each event is forwarded by name (prefix + event name) to the handler
// object with the event's arguments; a handler without that method is
// skipped. Connect reads the source's default event interface from its
// class information (IProvideClassInfo).
#pragma once

#include <objbase.h>

// {4938EC9E-EDCF-4F55-A68F-4E59D4FC5FD8}
extern const CLSID CLSID_PLUMEScriptEvents;
