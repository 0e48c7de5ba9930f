#include "server/plugins.h"

#include <objbase.h>

#include <cstring>
#include <string>

#include "proc_address.h"
#include "log.h"
#include "registry_keys.h"
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

// Names the entry being loaded in start marks: the hive and value name
// when it comes from the registry, else its text.
const char* g_entryHive = nullptr;
const char* g_entryName = nullptr;

// A plug-in's start, marked in the registry while it runs. The mark's name
// is the entry ("HKLM\\name"), its data the entry's text.
class StartMark {
public:
    StartMark(const char* text) : name_(EntryName(text)), text_(text) {
        unique_hkey key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                            nullptr) != ERROR_SUCCESS)
            return;
        marked_ = RegSetValueExA(key.get(), name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                 static_cast<DWORD>(text_.size() + 1)) == ERROR_SUCCESS;
        RegFlushKey(key.get());
    }
    ~StartMark() {
        if (!marked_) return;
        unique_hkey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE, key.put()) !=
            ERROR_SUCCESS)
            return;
        RegDeleteValueA(key.get(), name_.c_str());
        key.reset();
        // The key goes with its last mark, and so do the keys above it that
        // hold nothing else (writing the mark made them).
        RemoveEmptyKeys(HKEY_CURRENT_USER, {kPluginStartMarksKey, "Software\\Vexlor\\PLUME", "Software\\Vexlor"});
    }
    StartMark(const StartMark&) = delete;
    StartMark& operator=(const StartMark&) = delete;

    // True when an earlier start of this entry, with this text, never ended.
    static bool Left(const char* text, std::string* name) {
        *name = EntryName(text);
        unique_hkey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginStartMarksKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            return false;
        char data[1025] = {};
        DWORD size = 1024, type = 0;
        return RegQueryValueExA(key.get(), name->c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                   ERROR_SUCCESS &&
               type == REG_SZ && strcmp(data, text) == 0;
    }

private:
    static std::string EntryName(const char* text) {
        if (!g_entryHive || !g_entryName) return text;
        return std::string(g_entryHive) + "\\" + g_entryName;
    }

    std::string name_;
    std::string text_;
    bool marked_ = false;
};

// Times a plug-in's start and names a slow one.
class StartTimer {
public:
    explicit StartTimer(const char* text) : text_(text), started_(GetTickCount()) {}
    ~StartTimer() {
        const DWORD took = GetTickCount() - started_;
        if (took > kSlowPluginStartMs)
            Log(0, "LoadPluginFromString: %s took %lu ms to start (longer than %lu ms).\n", text_,
                static_cast<unsigned long>(took), static_cast<unsigned long>(kSlowPluginStartMs));
        else
            Log(2, "LoadPluginFromString: %s started in %lu ms.\n", text_, static_cast<unsigned long>(took));
    }
    StartTimer(const StartTimer&) = delete;
    StartTimer& operator=(const StartTimer&) = delete;

private:
    const char* text_;
    DWORD started_;
};

void LoadPluginsFrom(HKEY root, const char* hive) {
    unique_hkey key;
    if (RegOpenKeyExA(root, "SOFTWARE\\Vexlor\\PLUME\\Plugins", 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    g_entryHive = hive;
    LoadPluginsInKey(key.get());
    g_entryHive = nullptr;
}

}  // namespace

void LoadPlugins() {
    LoadPluginsFrom(HKEY_LOCAL_MACHINE, "HKLM");
    LoadPluginsFrom(HKEY_CURRENT_USER, "HKCU");
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
        g_entryName = name;
        LoadPluginFromString(reinterpret_cast<const char*>(data));
        g_entryName = nullptr;
    }
}

void LoadPluginFromString(const char* text) {
    // A plug-in whose start the client did not survive last time is not
    // started again until its entry changes or the mark is removed.
    std::string markName;
    if (StartMark::Left(text, &markName)) {
        Log(0, "LoadPluginFromString: %s skipped: the client ended during its start last time (mark \"%s\" under "
               "HKCU\\%s).\n",
            text, markName.c_str(), kPluginStartMarksKey);
        return;
    }
    StartMark mark(text);
    StartTimer timer(text);
    if (HMODULE module = LoadLibraryA(text)) {
        if (!Append(module, 0)) {
            FreeLibrary(module);
            return;
        }
        if (auto init = GetProcAs<void(WINAPI*)()>(module, "InitializePlugin"))
            init();
        else
            Log(0, "LoadPluginFromString: %s has no InitializePlugin; kept loaded.\n", text);
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
