// A plug-in library for the loading tests: InitializePlugin counts its calls
// in a named semaphore-free way, through an exported counter.
#include <windows.h>

extern "C" {
__declspec(dllexport) LONG g_initializeCalls = 0;
__declspec(dllexport) DWORD g_initializeThread = 0;

__declspec(dllexport) void InitializePlugin() {
    InterlockedIncrement(&g_initializeCalls);
    g_initializeThread = GetCurrentThreadId();
}
}
