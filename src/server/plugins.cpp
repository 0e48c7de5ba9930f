#include "server/plugins.h"

#include <objbase.h>

#include "proc_address.h"
#include "log.h"
#include "unique_any.h"

namespace plume {
namespace {

constexpr int kMaxPlugins = 1024;

struct PluginEntry {
    void* handle;  // HMODULE (kind 0) or IUnknown* holding one reference (kind 1)
    int kind;
};

PluginEntry g_plugins[kMaxPlugins];
int g_pluginCount = 0;

bool Append(void* handle, int kind) {
    // The table is bounded; a plug-in past its end is not kept.
    if (g_pluginCount >= kMaxPlugins) {
        Log(0, "LoadPluginFromString: too many plug-ins.\n");
        return false;
    }
    g_plugins[g_pluginCount++] = {handle, kind};
    return true;
}

}  // namespace

void LoadPlugins() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        unique_hkey key;
        if (RegOpenKeyExA(root, "SOFTWARE\\Vexlor\\PLUME\\Plugins", 0, KEY_QUERY_VALUE, key.put()) ==
            ERROR_SUCCESS)
            LoadPluginsInKey(key.get());
    }
}

void LoadPluginsInKey(HKEY key) {
    for (DWORD index = 0;; ++index) {
        char name[1024];
        BYTE data[1025] = {};
        DWORD nameLength = 1024, dataLength = 1024, type = 0;
        LONG r = RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (r == ERROR_NO_MORE_ITEMS) return;
        if (r != ERROR_SUCCESS) {
            Log(0, "LoadPluginsInKey: RegEnumValue error %ld.\n", r);
            return;
        }
        if (type != REG_SZ) {
            Log(0, "LoadPluginsInKey: Unknow value type %lu.\n", type);
            continue;
        }
        LoadPluginFromString(reinterpret_cast<const char*>(data));
    }
}

void LoadPluginFromString(const char* text) {
    if (HMODULE module = LoadLibraryA(text)) {
        if (!Append(module, 0)) {
            FreeLibrary(module);
            return;
        }
        if (auto init = GetProcAs<void(WINAPI*)()>(module, "InitializePlugin")) init();
        return;
    }
    wchar_t progId[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, progId, 1023);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) {
        Log(0, "LoadPluginFromString: CLSIDFromProgID failed %s %08lx.\n", text, static_cast<unsigned long>(hr));
        return;
    }
    IUnknown* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        Log(0, "LoadPluginFromString: Error CoCreateInstance loading %s hr = %08lx.\n", text,
            static_cast<unsigned long>(hr));
        return;
    }
    if (!Append(object, 1)) object->Release();
}

void UnloadPlugins() {
    for (int i = 0; i < g_pluginCount; ++i) {
        if (g_plugins[i].kind == 0)
            FreeLibrary(static_cast<HMODULE>(g_plugins[i].handle));
        else
            static_cast<IUnknown*>(g_plugins[i].handle)->Release();
    }
    g_pluginCount = 0;
}

int PluginCount() { return g_pluginCount; }

}  // namespace plume
