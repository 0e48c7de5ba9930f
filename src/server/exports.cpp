// The library's exported entry points.
#include <windows.h>

#include "host/msg_wnd_list.h"
#include "server/automation_object.h"
#include "server/module.h"
#include "server/self_registration.h"
#include "server/server_lifecycle.h"
#include "ui/menu_registry.h"
#include "ui/ui_resources.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) plume::SetModuleInstance(instance);
    return TRUE;
}

__declspec(dllexport) void StartServer(HWND hostWindow) { plume::StartServer(hostWindow); }

__declspec(dllexport) DWORD GetLibraryVersion() { return 3233; }

__declspec(dllexport) void ExitServer() {}

// What the library holds right now, for leak checks from outside the process
// (the test suites read it through the stand-in's control channel), in this
// order: automation objects, toolbar records, button records, image lists,
// bitmaps, menus, menu-item records, message-window records. Fills at most
// `capacity` entries and returns how many there are.
__declspec(dllexport) LONG WINAPI PlumeLiveCounts(LONG* counts, LONG capacity) {
    const plume::UiResourceCounts ui = plume::LiveUiResources();
    const auto menus = plume::OEMenuRegistry::Global(false);
    const LONG all[] = {plume::LiveObjectCount(), ui.toolbars,  ui.buttons,
                        ui.imageLists,            ui.bitmaps,   ui.menus,
                        menus ? static_cast<LONG>(menus->ItemCount()) : 0,
                        static_cast<LONG>(plume::MsgWndCount())};
    const LONG known = static_cast<LONG>(sizeof all / sizeof all[0]);
    for (LONG i = 0; counts && i < capacity && i < known; ++i) counts[i] = all[i];
    return known;
}

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() { return plume::RegisterServer(); }

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() { return plume::UnregisterServer(); }

}  // extern "C"
