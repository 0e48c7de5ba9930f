// Plug-in libraries that misbehave in their start, built once per kind:
// PLUME_BAD_PLUGIN_CRASH reads through a null pointer, PLUME_BAD_PLUGIN_SLOW
// takes 1.5 s.
#include <windows.h>

extern "C" __declspec(dllexport) void InitializePlugin() {
#if defined(PLUME_BAD_PLUGIN_CRASH)
    volatile int* nowhere = nullptr;
    *nowhere = 1;
#elif defined(PLUME_BAD_PLUGIN_SLOW)
    Sleep(1500);
#endif
}
