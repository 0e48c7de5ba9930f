#include "server/plugins.h"

#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log.h"
#include "plugin_outcomes.h"
#include "proc_address.h"
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

// Names the entry being loaded: the hive and value name when it comes from
// a list (its outcome is then recorded), else its text.
const char* g_entryHive = nullptr;
const char* g_entryName = nullptr;
// The entries met in this start, whose outcomes are kept.
std::vector<std::string> g_entriesSeen;

std::string EntryName(const char* text) {
    if (!g_entryHive || !g_entryName) return text;
    return std::string(g_entryHive) + "\\" + g_entryName;
}

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
        // The key goes with its last mark (writing the mark made it).
        RemoveEmptyUserKeys(kPluginStartMarksKey);
    }
    StartMark(const StartMark&) = delete;
    StartMark& operator=(const StartMark&) = delete;

private:
    std::string name_;
    std::string text_;
    bool marked_ = false;
};

// Times a plug-in's start; names a slow one in the log and in its outcome.
class StartTimer {
public:
    explicit StartTimer(const char* text) : text_(text), started_(GetTickCount()) {}
    // "ran in N ms", with the slowness said.
    std::string Took() const {
        const DWORD took = GetTickCount() - started_;
        char text[160];
        if (took > kSlowPluginStartMs) {
            Log(0, "LoadPluginFromString: %s took %lu ms to start (longer than %lu ms).\n", text_,
                static_cast<unsigned long>(took), static_cast<unsigned long>(kSlowPluginStartMs));
            snprintf(text, sizeof text, "%lu ms, slow: longer than %lu ms, and the client's start waited for it",
                     static_cast<unsigned long>(took), static_cast<unsigned long>(kSlowPluginStartMs));
        } else {
            Log(2, "LoadPluginFromString: %s started in %lu ms.\n", text_, static_cast<unsigned long>(took));
            snprintf(text, sizeof text, "%lu ms", static_cast<unsigned long>(took));
        }
        return text;
    }
    StartTimer(const StartTimer&) = delete;
    StartTimer& operator=(const StartTimer&) = delete;

private:
    const char* text_;
    DWORD started_;
};

// The outcome of one start, recorded for entries of the lists.
void Record(const char* text, const std::string& outcome) {
    if (!g_entryHive || !g_entryName) return;
    WritePluginOutcome(EntryName(text), text, outcome);
}

std::string HrText(HRESULT hr) {
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    // The system has no text for many COM codes.
    const std::string text = SystemErrorText(static_cast<DWORD>(hr));
    return text.rfind("error ", 0) == 0 ? std::string(code) : std::string(code) + " (" + text + ")";
}

// Loads a library entry; false when it did not load (the error in *error).
bool StartLibrary(const char* text, DWORD* error) {
    StartTimer timer(text);
    HMODULE module = LoadLibraryA(text);
    if (!module) {
        *error = GetLastError();
        return false;
    }
    if (!Append(module, 0)) {
        FreeLibrary(module);
        Record(text, "not loaded: the plug-in table is full (1024 entries)");
        return true;
    }
    if (auto init = GetProcAs<void(WINAPI*)()>(module, "InitializePlugin")) {
        init();
        Record(text, "loaded; InitializePlugin ran in " + timer.Took());
    } else {
        Log(0, "LoadPluginFromString: %s has no InitializePlugin; kept loaded.\n", text);
        Record(text, "loaded, but it exports no InitializePlugin: nothing of it runs");
    }
    return true;
}

void LoadPluginsFrom(HKEY root, const char* hive) {
    unique_hkey key;
    if (RegOpenKeyExA(root, kPluginsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return;
    g_entryHive = hive;
    LoadPluginsInKey(key.get());
    g_entryHive = nullptr;
}

}  // namespace

void LoadPlugins() {
    g_entriesSeen.clear();
    LoadPluginsFrom(HKEY_LOCAL_MACHINE, "HKLM");
    LoadPluginsFrom(HKEY_CURRENT_USER, "HKCU");
    // Outcomes of entries no longer listed go.
    PrunePluginOutcomes(g_entriesSeen);
    g_entriesSeen.clear();
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
        if (g_entryHive) g_entriesSeen.push_back(EntryName(name));
        LoadPluginFromString(reinterpret_cast<const char*>(data));
        g_entryName = nullptr;
    }
}

void LoadPluginFromString(const char* text) {
    // A plug-in whose start the client did not survive last time is not
    // started again until its entry changes or the mark is removed.
    const std::string markName = EntryName(text);
    if (PluginStartMarkLeft(markName, text)) {
        Log(0, "LoadPluginFromString: %s skipped: the client ended during its start last time (mark \"%s\" under "
               "HKCU\\%s).\n",
            text, markName.c_str(), kPluginStartMarksKey);
        Record(text, "skipped: the client ended during its start last time (a crash in its start?); it is tried "
                     "again once its entry changes");
        return;
    }
    StartMark mark(text);
    DWORD loadError = 0;
    if (StartLibrary(text, &loadError)) return;
    wchar_t progId[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, progId, 1023);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr)) {
        Log(0, "LoadPluginFromString: CLSIDFromProgID failed %s %08lx.\n", text, static_cast<unsigned long>(hr));
        // A path is told by why the library did not load, a ProgID by why it is unknown.
        Record(text, NamesLibrary(text) ? "not loaded: " + DescribeLoadFailure(text, loadError)
                                        : "not created: no library of that name, and CLSIDFromProgID failed with " +
                                              HrText(hr));
        return;
    }
    StartTimer timer(text);
    IUnknown* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        Log(0, "LoadPluginFromString: Error CoCreateInstance loading %s hr = %08lx.\n", text,
            static_cast<unsigned long>(hr));
        Record(text, "not created: CoCreateInstance failed with " + HrText(hr));
        return;
    }
    if (!Append(object, 1)) {
        object->Release();
        Record(text, "not created: the plug-in table is full (1024 entries)");
        return;
    }
    Record(text, "created as a COM object in " + timer.Took());
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
