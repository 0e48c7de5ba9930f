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

// How long shutdown waits, without any object being released, before it
// disconnects the objects that clients still hold (10 s; tests may shorten it).
void SetReleaseGracePeriod(DWORD milliseconds);

// How long StartServer waits for the server thread and the plug-ins to
// report before it lets the client start without them.
constexpr DWORD kPluginStartupTimeoutMs = 30000;
// Closing, counted from the start of ShutdownServer: an event still being
// delivered to sinks is waited for until the first mark; objects that clients
// still hold are disconnected by the second at the latest; what is still not
// released by the third is left behind; the server thread is given until the
// last. So a client that died or hangs never keeps the mail client from
// closing for longer than kShutdownDeadlineMs.
constexpr DWORD kShutdownEventWaitMs = 5000;
constexpr DWORD kShutdownDisconnectMs = 15000;
constexpr DWORD kShutdownReleaseMs = 20000;
constexpr DWORD kShutdownDeadlineMs = 25000;
// Tests may shorten it.
void SetPluginStartupTimeout(DWORD milliseconds);

}  // namespace plume
