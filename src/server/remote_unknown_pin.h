// Keeps the remote IUnknown interface of COM registered with the RPC runtime
// for the life of the process.
//
// Wine's RPC runtime unregisters an interface when the last apartment that
// exported it ends, and waits for the calls on it to finish; a call that
// finishes at that very moment is not counted down, and the wait never ends.
// The calls that arrive while an apartment ends are remote releases (a client
// letting go at its exit), so the client's own OleUninitialize at close, or
// the server thread's, could hang for ever. An object marshalled once in the
// multithreaded apartment, which is kept alive, holds the registration.
#pragma once

namespace plume {

// Once per process (later calls answer the first one's outcome). False where
// the system has no way to keep the multithreaded apartment (before Windows 8,
// which has no such race either) or the object could not be marshalled.
bool KeepRemoteUnknownRegistered();

}  // namespace plume
