// plume-setup: installs the library into a mail client and lists plug-ins.
//
//   plume-setup install   [--machine] [--isolated] [--plugin NAME=DLL-PATH-OR-PROGID ...]
//   plume-setup uninstall [--machine] (--plugin NAME ... | --all-plugins)
//   plume-setup uninstall --all
//   plume-setup list
//
// install registers plumesrv.dll and plumescript.dll (found beside this
// program, or in --dir DIR) with regsvr32, then lists each plug-in under
// "SOFTWARE\Vexlor\PLUME\Plugins" of the current user (or of the machine with
// --machine); a path that does not exist is refused before anything changes.
// --isolated lists them under "SOFTWARE\Vexlor\PLUME\IsolatedPlugins"
// instead: each then runs in a host process of its own (plumehost.exe), so
// that its crash or hang never ends the client. A name is in one list at a
// time: listing it in the other moves it.
// uninstall --plugin / --all-plugins only unlists: the library stays
// registered for the other plug-ins and for script and program clients.
// uninstall --all unlists every plug-in of both lists, unregisters both
// libraries and removes the keys of ours that are left empty. list shows
// each entry with what became of it at the client's last start. Exit code 0
// on success, 1 on a failure (said on stderr), 2 on a usage error. Running
// any of them twice is harmless.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bstr.h"
#include "plugin_outcomes.h"
#include "registry_keys.h"
#include "unique_any.h"

namespace {

using plume::kIsolatedPluginsKey;
using plume::kPluginsKey;
using plume::PluginEntryName;
// The library reads plug-in names and values into buffers of this size.
constexpr size_t kMaxPluginText = 1023;
constexpr DWORD kMaxPlugins = 1024;

struct Options {
    std::string command;
    bool machine = false;
    bool isolated = false;
    bool allPlugins = false;
    bool all = false;
    std::string dir;
    std::vector<std::pair<std::string, std::string>> plugins;  // name, value (empty for uninstall)
};

int Usage() {
    fprintf(stderr,
            "usage: plume-setup install   [--machine] [--isolated] [--dir DIR] [--plugin NAME=DLL-PATH-OR-PROGID ...]\n"
            "       plume-setup uninstall [--machine] [--dir DIR] (--plugin NAME ... | --all-plugins)\n"
            "       plume-setup uninstall [--dir DIR] --all\n"
            "       plume-setup list\n");
    return 2;
}

std::string OwnFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string ErrorText(DWORD code) { return plume::SystemErrorText(code); }

bool ClientInstalled() {
    for (const char* key : {"SOFTWARE\\Microsoft\\Windows Mail", "SOFTWARE\\Microsoft\\Outlook Express"}) {
        plume::unique_hkey k;
        char root[MAX_PATH];
        DWORD size = sizeof root;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE, k.put()) == ERROR_SUCCESS &&
            RegQueryValueExA(k.get(), "InstallRoot", nullptr, nullptr, reinterpret_cast<BYTE*>(root), &size) ==
                ERROR_SUCCESS)
            return true;
    }
    return false;
}

// regsvr32 on one library; false with the reason printed.
bool RunRegsvr32(const std::string& library, bool unregister) {
    if (GetFileAttributesA(library.c_str()) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "plume-setup: %s is missing\n", library.c_str());
        return false;
    }
    std::string command = std::string("regsvr32 /s ") + (unregister ? "/u " : "") + "\"" + library + "\"";
    STARTUPINFOA si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "plume-setup: cannot run regsvr32: %s\n", ErrorText(GetLastError()).c_str());
        return false;
    }
    plume::unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 1;
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &code)) {
        fprintf(stderr, "plume-setup: regsvr32 did not finish for %s\n", library.c_str());
        return false;
    }
    if (code != 0) {
        fprintf(stderr, "plume-setup: regsvr32 %s%s failed (exit code %lu)\n", unregister ? "/u " : "",
                library.c_str(), static_cast<unsigned long>(code));
        return false;
    }
    printf("%s %s\n", unregister ? "unregistered" : "registered", library.c_str());
    return true;
}

HKEY Hive(bool machine) { return machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
const char* HiveName(bool machine) { return machine ? "machine" : "user"; }
const char* ListKey(bool isolated) { return isolated ? kIsolatedPluginsKey : kPluginsKey; }
const char* ListName(bool isolated) { return isolated ? "isolated plug-in" : "plug-in"; }

DWORD ValueCount(HKEY key) {
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    return values;
}

// A DLL named by a path that exists is listed with its full path.
std::string PluginValue(const std::string& value) {
    if (GetFileAttributesA(value.c_str()) == INVALID_FILE_ATTRIBUTES) return value;
    char full[MAX_PATH] = "";
    DWORD n = GetFullPathNameA(value.c_str(), MAX_PATH, full, nullptr);
    return n && n < MAX_PATH ? std::string(full) : value;
}

// Refuses a library path that does not exist, before anything is changed;
// warns about one the client would not be able to load.
bool CheckPlugins(const Options& o) {
    bool ok = true;
    for (const auto& [name, value] : o.plugins) {
        if (!plume::NamesLibrary(value)) {
            CLSID clsid;
            if (FAILED(CLSIDFromProgID(plume::AnsiToWide(value.c_str()).c_str(), &clsid)))
                printf("warning: %s: no class is registered as %s (yet); the client will not create it\n",
                       name.c_str(), value.c_str());
            continue;
        }
        // A bare name is looked for as the loader would.
        char found[MAX_PATH] = "";
        const std::string file =
            value.find_first_of("\\/:") == std::string::npos &&
                    SearchPathA(nullptr, value.c_str(), nullptr, MAX_PATH, found, nullptr)
                ? std::string(found)
                : value;
        if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "plume-setup: %s: %s does not exist; nothing was changed\n", name.c_str(), value.c_str());
            ok = false;
            continue;
        }
        std::string list;
        for (const auto& dll : plume::MissingImports(file)) list += (list.empty() ? "" : ", ") + dll;
        if (!list.empty())
            printf("warning: %s needs %s, which cannot be found from here; the client will not load it "
                   "(link the MinGW runtime statically: -static)\n",
                   name.c_str(), list.c_str());
    }
    return ok;
}

// Takes `name` out of one list, with its state: ERROR_SUCCESS, or
// ERROR_FILE_NOT_FOUND when it was not there.
LONG UnlistFrom(bool machine, bool isolated, const std::string& name) {
    plume::unique_hkey key;
    LONG r = RegOpenKeyExA(Hive(machine), ListKey(isolated), 0, KEY_SET_VALUE, key.put());
    if (r == ERROR_SUCCESS) r = RegDeleteValueA(key.get(), name.c_str());
    if (r != ERROR_SUCCESS) return r;
    key.reset();
    // An unlisted plug-in's start mark, crash record and last outcome go with it.
    plume::ForgetPluginEntry(PluginEntryName(machine, name, isolated));
    plume::RemoveKeyIfEmpty(Hive(machine), ListKey(isolated));
    return ERROR_SUCCESS;
}

bool ListPlugins(const Options& o) {
    if (o.plugins.empty()) return true;
    plume::unique_hkey key;
    LONG r = RegCreateKeyExA(Hive(o.machine), ListKey(o.isolated), 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                             nullptr, key.put(), nullptr);
    if (r != ERROR_SUCCESS) {
        fprintf(stderr, "plume-setup: cannot write the %s %s list: %s\n", HiveName(o.machine), ListName(o.isolated),
                ErrorText(static_cast<DWORD>(r)).c_str());
        return false;
    }
    bool ok = true;
    for (const auto& [name, raw] : o.plugins) {
        const std::string value = PluginValue(raw);
        if (ValueCount(key.get()) >= kMaxPlugins) {
            fprintf(stderr, "plume-setup: the %s plug-in list is full (%lu entries); %s not listed\n",
                    HiveName(o.machine), static_cast<unsigned long>(kMaxPlugins), name.c_str());
            ok = false;
            continue;
        }
        r = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
        if (r != ERROR_SUCCESS) {
            fprintf(stderr, "plume-setup: cannot list %s: %s\n", name.c_str(), ErrorText(static_cast<DWORD>(r)).c_str());
            ok = false;
            continue;
        }
        // Listed anew, the entry starts again: a crash mark of an earlier build goes.
        plume::ForgetPluginEntry(PluginEntryName(o.machine, name, o.isolated));
        // A name runs one way: listed in one list, it leaves the other.
        if (UnlistFrom(o.machine, !o.isolated, name) == ERROR_SUCCESS)
            printf("moved %s out of the %s %s list\n", name.c_str(), HiveName(o.machine), ListName(!o.isolated));
        printf("listed %s %s = %s (%s)\n", ListName(o.isolated), name.c_str(), value.c_str(), HiveName(o.machine));
    }
    return ok;
}

// Unlists `named` (or every entry, with `all`) from both lists of a hive.
bool UnlistPlugins(bool machine, const std::vector<std::string>& named, bool all) {
    std::vector<std::string> names = named;
    if (all)
        for (bool isolated : {false, true})
            for (const auto& entry : plume::ReadPluginList(machine, nullptr, nullptr, isolated))
                names.push_back(entry.name);
    bool ok = true;
    for (const auto& name : names) {
        bool listed = false;
        for (bool isolated : {false, true}) {
            const LONG r = UnlistFrom(machine, isolated, name);
            if (r == ERROR_SUCCESS) {
                printf("unlisted %s %s (%s)\n", ListName(isolated), name.c_str(), HiveName(machine));
                listed = true;
            } else if (r != ERROR_FILE_NOT_FOUND) {
                fprintf(stderr, "plume-setup: cannot unlist %s: %s\n", name.c_str(),
                        ErrorText(static_cast<DWORD>(r)).c_str());
                ok = false;
                listed = true;
            }
        }
        if (!listed && !all) printf("plug-in %s was not listed (%s)\n", name.c_str(), HiveName(machine));
    }
    return ok;
}

// Keys of ours left empty go, from the inside out.
void RemoveOurEmptyKeys() {
    for (bool machine : {false, true}) {
        plume::RemoveKeyIfEmpty(Hive(machine), kPluginsKey);
        plume::RemoveKeyIfEmpty(Hive(machine), kIsolatedPluginsKey);
        plume::RemoveKeyIfEmpty(Hive(machine), "SOFTWARE\\Vexlor\\PLUME");
        plume::RemoveKeyIfEmpty(Hive(machine), "SOFTWARE\\Vexlor");
    }
}

// What became of an entry at the client's last start.
void PrintOutcome(bool machine, const std::string& name, const std::string& text, bool isolated) {
    const std::string entry = PluginEntryName(machine, name, isolated);
    switch (plume::ReadPluginCrash(entry, text)) {
    case plume::CrashState::isolated:
        printf("      runs isolated (in its own host process): it ended the client when it ran there\n");
        break;
    case plume::CrashState::skipped:
        printf("      skipped: it ended the client, and then its isolated host too often; it is tried again\n"
               "      once the entry changes (plume-setup install --plugin lists it anew)\n");
        break;
    case plume::CrashState::none:
        if (plume::PluginStartMarkLeft(entry, text))
            printf("      last start: the client ended in it (a crash?); it runs isolated from the next start\n");
        break;
    }
    plume::PluginOutcome outcome;
    if (!plume::ReadPluginOutcome(entry, &outcome)) printf("      last start: not started yet\n");
    else if (outcome.text != text) printf("      last start: not started since the entry changed\n");
    else printf("      last start (%s): %s\n", outcome.when.c_str(), outcome.outcome.c_str());
}

void PrintList() {
    for (bool machine : {true, false}) {
        for (bool isolated : {false, true}) {
            printf("%s %ss (%s\\%s):\n", HiveName(machine), ListName(isolated), machine ? "HKLM" : "HKCU",
                   ListKey(isolated));
            bool found = false, cutShort = false;
            for (const auto& entry : plume::ReadPluginList(machine, &found, &cutShort, isolated)) {
                if (!entry.isString) {
                    printf("  %s: not a string value, skipped by the library\n", entry.name.c_str());
                    continue;
                }
                printf("  %s = %s%s\n", entry.name.c_str(), entry.text.c_str(), isolated ? " [isolated]" : "");
                PrintOutcome(machine, entry.name, entry.text, isolated);
            }
            if (!found) printf("  (none)\n");
            if (cutShort) printf("  (an entry too long for the library to read: it ends the list there)\n");
        }
    }
    plume::unique_hkey root;
    const bool registered =
        RegOpenKeyExA(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj\\CLSID", 0, KEY_QUERY_VALUE, root.put()) == ERROR_SUCCESS;
    printf("library: %s\n", registered ? "registered" : "not registered");
}

bool Parse(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--machine") o.machine = true;
        else if (a == "--isolated") o.isolated = true;
        else if (a == "--all-plugins") o.allPlugins = true;
        else if (a == "--all") o.all = true;
        else if (a == "--dir" && i + 1 < argc) o.dir = argv[++i];
        else if (a == "--plugin" && i + 1 < argc) {
            std::string spec = argv[++i];
            const size_t eq = spec.find('=');
            std::string name = spec.substr(0, eq), value = eq == std::string::npos ? "" : spec.substr(eq + 1);
            if (name.empty() || name.size() > kMaxPluginText || value.size() > kMaxPluginText) {
                fprintf(stderr, "plume-setup: plug-in names and values are 1 to %zu characters: %.60s...\n",
                        kMaxPluginText, spec.c_str());
                return false;
            }
            if (o.command == "install" && value.empty()) {
                fprintf(stderr, "plume-setup: --plugin needs NAME=DLL-PATH-OR-PROGID\n");
                return false;
            }
            o.plugins.emplace_back(name, value);
        } else {
            return false;
        }
    }
    // Unlisting names what to unlist; only --all takes the library away.
    if (o.command == "uninstall" && (o.all ? o.machine || o.allPlugins || !o.plugins.empty()
                                           : !o.allPlugins && o.plugins.empty()))
        return false;
    if (o.dir.empty()) o.dir = OwnFolder();
    if (!o.dir.empty() && o.dir.back() != '\\' && o.dir.back() != '/') o.dir += '\\';
    return o.command == "install" || o.command == "uninstall" || o.command == "list";
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) return Usage();
    if (o.command == "list") {
        PrintList();
        return 0;
    }
    if (o.command == "install") {
        if (!CheckPlugins(o)) return 1;
        if (!ClientInstalled()) {
            fprintf(stderr,
                    "plume-setup: no mail client is installed here (no \"InstallRoot\" under "
                    "HKLM\\SOFTWARE\\Microsoft\\Outlook Express or Windows Mail); nothing was changed\n");
            return 1;
        }
        // The library first: the script helper is of use only with it.
        if (!RunRegsvr32(o.dir + "plumesrv.dll", false) || !RunRegsvr32(o.dir + "plumescript.dll", false)) return 1;
        return ListPlugins(o) ? 0 : 1;
    }
    std::vector<std::string> names;
    for (const auto& p : o.plugins) names.push_back(p.first);
    if (!o.all) {
        // The library stays for the plug-ins that remain and for every other client.
        const bool ok = UnlistPlugins(o.machine, names, o.allPlugins);
        RemoveOurEmptyKeys();
        printf("the library stays registered (plume-setup uninstall --all removes it)\n");
        return ok ? 0 : 1;
    }
    bool ok = UnlistPlugins(false, {}, true) && UnlistPlugins(true, {}, true);
    if (!ok) {
        fprintf(stderr, "plume-setup: plug-ins are still listed; the library stays registered\n");
        return 1;
    }
    // What was never registered is not unregistered (regsvr32 would fail on it).
    for (const auto& [library, progId] : {std::pair<const char*, const char*>{"plumescript.dll", "PLUME.ScriptEvents"},
                                          {"plumesrv.dll", "PLUME.PLUMEObj"}}) {
        plume::unique_hkey key;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, progId, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            printf("%s was not registered\n", library);
        else if (!ClientInstalled() && std::string(library) == "plumesrv.dll")
            fprintf(stderr, "plume-setup: no mail client is installed here; %s cannot find its keys\n", library), ok = false;
        else
            ok = RunRegsvr32(o.dir + library, true) && ok;
    }
    RemoveOurEmptyKeys();
    return ok ? 0 : 1;
}
