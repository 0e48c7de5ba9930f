// The library's exported entry points.
#include <windows.h>

#include "server/live_counts.h"
#include "server/module.h"
#include "server/self_registration.h"
#include "server/server_lifecycle.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) plume::SetModuleInstance(instance);
    return TRUE;
}

__declspec(dllexport) void StartServer(HWND hostWindow) { plume::StartServer(hostWindow); }

__declspec(dllexport) DWORD GetLibraryVersion() { return 3233; }

__declspec(dllexport) void ExitServer() {}

__declspec(dllexport) LONG GetLiveCounts(LONG* counts, LONG max) { return plume::LiveCounts(counts, max); }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return plume::RegisterServer(); }

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return plume::UnregisterServer(); }

}  // extern "C"
