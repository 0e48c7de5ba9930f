#include "client_variant.h"

#include <windows.h>
#include <cstring>
#include <initializer_list>

namespace plume {
namespace {
volatile LONG g_windowsMail = -1;  // -1 not asked yet
volatile LONG g_hostState = 0;     // 0 undecided, 1 not the client, 2 the client
}  // namespace

bool IsWindowsMail() {
    if (g_windowsMail >= 0) return g_windowsMail == 1;
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;  // 148
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
    g_windowsMail = info.dwMajorVersion == 6 ? 1 : 0;
    return g_windowsMail == 1;
}

void SetWindowsMailForTesting(int value) { InterlockedExchange(&g_windowsMail, value); }

bool IsHostProcess() {
    if (g_hostState != 0) return g_hostState == 2;
    g_hostState = 1;
    char path[2048];
    if (!GetModuleFileNameA(nullptr, path, 2047)) {
        g_hostState = 0;
        return false;
    }
    const char* slash = strrchr(path, '\\');
    if (!slash) {
        g_hostState = 2;
        return true;
    }
    const char* base = slash + 1;
    for (const char* name : {"msimn.exe", "msimn", "winmail.exe", "winmail"}) {
        if (_stricmp(base, name) == 0) {
            g_hostState = 2;
            return true;
        }
    }
    return false;
}

}  // namespace plume
