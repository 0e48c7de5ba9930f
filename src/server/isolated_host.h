// Plug-ins that run isolated: each in a host process of its own,
// plumehost.exe beside the library, which loads it and calls its
// "InitializePlugin" on its own single-threaded apartment. The plug-in
// reaches the library's objects across the process boundary, so a plug-in
// that crashes or hangs ends only its host.
//
// The server thread starts the hosts once the class objects are registered.
// A host that ends is noticed at once (a wait on its process): its objects
// are disconnected and it is started again, unless it died kHostDeathLimit
// times within kHostDeathWindowMs; then it stays down for this run. A host
// whose sink does not answer within the delivery bound is ended (and so
// restarted). Each step is logged with the plug-in's entry and left in its
// outcome, where plume-setup and plume-monitor show it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace plume {

constexpr int kHostDeathLimit = 3;
constexpr DWORD kHostDeathWindowMs = 10 * 60 * 1000;
// Closing: how long the hosts are given to end by themselves before they
// are ended.
constexpr DWORD kHostEndWaitMs = 3000;
// Exit codes of a host ended for not answering, and of one that could not
// load its plug-in (it is not started again; it said why in the outcome).
constexpr DWORD kHungHostExitCode = 0x48554E47;      // "HUNG"
constexpr DWORD kHostNotLoadedExitCode = 0x4E4C4F44;  // "NLOD"

// Server thread, while the plug-ins load: `entry` (with its list text) is
// to run in a host. `afterCrash`: it ended the client in-process before; a
// host that then reaches the limit has it skipped at later starts.
void QueueIsolatedPlugin(const std::string& entry, const std::string& text, bool afterCrash);
// Server thread, once the class objects are registered: starts the hosts.
// Their ends are handled by a window of this thread.
void StartIsolatedHosts();
// Server thread, when its loop has ended: no host is started again; the
// hosts are given kHostEndWaitMs to end, then ended. Forgets them all.
void StopIsolatedHosts();
// The entries run isolated in this start, in order.
std::vector<std::string> IsolatedEntries();

}  // namespace plume
