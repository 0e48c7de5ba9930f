// Names the in-client plug-in whose code ends the client. An exception that
// nothing handles (the client is about to end) is looked up: when the
// faulting code, or a caller of it, belongs to a plug-in of the table, that
// entry's start mark is left, so that the next start runs it isolated.
#pragma once

namespace plume {

// Client UI thread, in StartServer; the filter that was there is called after.
void InstallPluginFaultRecorder();
// Puts the earlier filter back, unless another has been set since.
void RemovePluginFaultRecorder();

}  // namespace plume
