#include "server/plugins.h"

#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log.h"
#include "plugin_outcomes.h"
#include "proc_address.h"
#include "server/isolated_host.h"
#include "unique_any.h"

namespace plume {
namespace {

constexpr int kMaxPlugins = 1024;

struct PluginEntry {
    void* handle;  // HMODULE (kind 0) or IUnknown* holding one reference (kind 1)
    int kind;
    // The list entry and its text, for naming a fault in its code.
    std::string entry;
    std::string text;
};

PluginEntry g_plugins[kMaxPlugins];
int g_pluginCount = 0;

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

bool Append(void* handle, int kind, const char* text) {
    // The table is bounded; a plug-in past its end is not kept.
    if (g_pluginCount >= kMaxPlugins) {
        Log(0, "LoadPluginFromString: too many plug-ins.\n");
        return false;
    }
    g_plugins[g_pluginCount++] = {handle, kind, EntryName(text), text};
    return true;
}

// A plug-in's start, marked in the registry while it runs. The mark's name
// is the entry ("HKLM\\name"), its data the entry's text.
class StartMark {
public:
    explicit StartMark(const char* text) : name_(EntryName(text)) { SetPluginStartMark(name_, text); }
    ~StartMark() { ClearPluginStartMark(name_); }
    StartMark(const StartMark&) = delete;
    StartMark& operator=(const StartMark&) = delete;

private:
    std::string name_;
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
    if (!Append(module, 0, text)) {
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

// The isolated list's entries go to their hosts, started once the class
// objects are registered.
void QueueIsolatedList(bool machine) {
    for (const ListedEntry& listed : ReadPluginList(machine, nullptr, nullptr, true)) {
        if (!listed.isString || listed.text.empty()) continue;
        const std::string entry = PluginEntryName(machine, listed.name, true);
        g_entriesSeen.push_back(entry);
        QueueIsolatedPlugin(entry, listed.text, false);
    }
}

// An entry of the in-client list whose code ended the client last time
// runs isolated from now on (said once, when it is moved); one that then
// died in its host too often is skipped, as a crash in its start was.
// False when the entry is to be started here.
bool StartedElsewhere(const char* text) {
    if (!g_entryHive || !g_entryName) return false;
    const std::string entry = EntryName(text);
    CrashState state = ReadPluginCrash(entry, text);
    // A record of an earlier text of the entry goes.
    if (state == CrashState::none) WritePluginCrash(entry, text, CrashState::none);
    if (state == CrashState::none && PluginStartMarkLeft(entry, text)) {
        Log(0, "LoadPluginFromString: %s ended the client last time; it runs isolated in a host process from now "
               "on (mark \"%s\" under HKCU\\%s).\n",
            text, entry.c_str(), kPluginStartMarksKey);
        WritePluginCrash(entry, text, CrashState::isolated);
        ClearPluginStartMark(entry);
        state = CrashState::isolated;
    }
    if (state == CrashState::skipped) {
        Log(0, "LoadPluginFromString: %s skipped: it ended the client, then its host too often.\n", text);
        Record(text, "skipped: it ended the client, and then its isolated host too often; it is tried again once "
                     "its entry changes");
        return true;
    }
    if (state == CrashState::isolated) {
        QueueIsolatedPlugin(entry, text, true);
        return true;
    }
    return false;
}

}  // namespace

void LoadPlugins() {
    // Hosts of an earlier start (none is running by now) are forgotten.
    StopIsolatedHosts();
    g_entriesSeen.clear();
    LoadPluginsFrom(HKEY_LOCAL_MACHINE, "HKLM");
    LoadPluginsFrom(HKEY_CURRENT_USER, "HKCU");
    QueueIsolatedList(true);
    QueueIsolatedList(false);
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
    if (StartedElsewhere(text)) return;
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
    if (!Append(object, 1, text)) {
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

bool PluginEntryOf(HMODULE module, std::string* entry, std::string* text) {
    for (int i = 0; i < g_pluginCount; ++i) {
        const PluginEntry& p = g_plugins[i];
        // A COM plug-in's code is the module of its object's table.
        HMODULE own = static_cast<HMODULE>(p.handle);
        if (p.kind == 1 &&
            !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                *static_cast<const char* const*>(p.handle), &own))
            continue;
        if (own != module) continue;
        *entry = p.entry;
        *text = p.text;
        return true;
    }
    return false;
}

}  // namespace plume
