// A plug-in library for the loading tests, built twice under two names.
// InitializePlugin counts its calls through an exported counter; loading and
// unloading are written, in order, to the process's environment variable
// PLUME_TEST_PLUGIN_TRACE as "init:<name>" and "free:<name>", separated by
// spaces, so a test sees the order across both libraries.
#include <windows.h>

#include <cstdlib>

namespace {

HMODULE g_self = nullptr;

void Trace(const char* what) {
    char name[MAX_PATH] = "";
    GetModuleFileNameA(g_self, name, MAX_PATH);
    const char* base = name;
    for (const char* p = name; *p; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    char trace[4096] = "";
    GetEnvironmentVariableA("PLUME_TEST_PLUGIN_TRACE", trace, sizeof trace);
    lstrcatA(trace, trace[0] ? " " : "");
    lstrcatA(trace, what);
    lstrcatA(trace, base);
    SetEnvironmentVariableA("PLUME_TEST_PLUGIN_TRACE", trace);
}

}  // namespace

extern "C" {
__declspec(dllexport) LONG g_initializeCalls = 0;
__declspec(dllexport) DWORD g_initializeThread = 0;

__declspec(dllexport) void InitializePlugin() {
    InterlockedIncrement(&g_initializeCalls);
    g_initializeThread = GetCurrentThreadId();
    Trace("init:");
    // When asked: whether the library marked this start in the registry.
    char mark[512] = "";
    if (GetEnvironmentVariableA("PLUME_TEST_PLUGIN_MARK", mark, sizeof mark)) {
        HKEY key = nullptr;
        const bool marked = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Vexlor\\PLUME\\PluginStartMarks", 0,
                                          KEY_QUERY_VALUE, &key) == ERROR_SUCCESS &&
                            RegQueryValueExA(key, mark, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        if (key) RegCloseKey(key);
        Trace(marked ? "marked:" : "unmarked:");
    }
    char sleep[16] = "";
    if (GetEnvironmentVariableA("PLUME_TEST_PLUGIN_SLEEP_MS", sleep, sizeof sleep)) Sleep(atoi(sleep));
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    if (reason == DLL_PROCESS_DETACH) Trace("free:");
    return TRUE;
}
}
