// The plug-in counting object of another server, through which plug-ins
// report that they are initialised. Created by StartServer, released when
// the manager is destroyed.
#pragma once

#include <objbase.h>

namespace plume {

extern const CLSID CLSID_PLUMEInitObject;
extern const IID IID_IPLUMEInitObject;

// Creates the object (CLSCTX_ALL) on the calling thread, replacing any
// previous one, and keeps it marshalled for the server thread.
HRESULT CreateInitObject();
// Server thread: takes the object created by CreateInitObject into this
// apartment. False when there is none.
bool AdoptInitObject();
bool HaveInitObject();
void ReleaseInitObject();

// Positions 7, 8 and 9 of its interface.
HRESULT InitObjectAwaited(LONG* count);
HRESULT InitObjectReported(LONG* count);
HRESULT InitObjectStart();

// What start-up learnt of the plug-ins (for the log of a start-up that gave
// up waiting): the number awaited and the number last seen reporting.
void SetAwaitedPlugins(LONG count);
void SetReportedPlugins(LONG count);
LONG AwaitedPlugins();
LONG ReportedPlugins();

// Creates "PLUME_PLUGINS_INITIALIZED_EVENT" and sets it.
void SetPluginsInitialized();

}  // namespace plume
