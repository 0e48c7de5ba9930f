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

// What the library holds right now, for leak checks from outside the process
// (the test suites and benchmarks read it through the stand-in's control
// channel), in this order: automation objects, toolbar records, button
// records, image lists, bitmaps, menus, menu-item records, message-window
// records. Fills at most `capacity` entries and returns how many there are.
__declspec(dllexport) LONG WINAPI PlumeLiveCounts(LONG* counts, LONG capacity) {
    return plume::LiveCounts(counts, capacity);
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return plume::RegisterServer(); }

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return plume::UnregisterServer(); }

}  // extern "C"
