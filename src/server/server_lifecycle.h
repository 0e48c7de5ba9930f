// The server's life in the mail client: StartServer on the client UI
// thread, the server thread that is the apartment of every automation
// object, and the shutdown sequence when the main window goes away.
//
// States: not started -> starting (thread created) -> waiting for plug-ins
// (manager exists) -> running (init event set) -> draining (shuttingDown set)
// -> stopping (WM_QUIT posted) -> not started (thread ended).
#pragma once

#include <windows.h>

namespace plume {

void StartServer(HWND hostWindow);
void ShutdownServer(int endSession);

// The server thread's handle while it runs, else null.
HANDLE ServerThread();

// How long shutdown waits for clients to release their objects before it
// disconnects them, in milliseconds (30 s; tests may shorten it).
void SetReleaseGracePeriod(DWORD milliseconds);

// How long StartServer waits for the server thread and the plug-ins to
// report before it lets the client start without them.
constexpr DWORD kPluginStartupTimeoutMs = 30000;
// At closing: how long an event still being delivered to sinks is waited for,
// and how long the server thread is given to end once asked.
constexpr DWORD kShutdownEventWaitMs = 5000;
constexpr DWORD kServerThreadEndWaitMs = 30000;
// Tests may shorten it.
void SetPluginStartupTimeout(DWORD milliseconds);

}  // namespace plume
