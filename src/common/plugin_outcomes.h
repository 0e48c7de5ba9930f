// What became of each listed plug-in at the client's last start, and why a
// library does not load. The library writes one outcome per list entry when
// it starts the entry; plume-setup and plume-monitor read them back.
//
// Entries are named by their list: "HKLM\<value name>" or "HKCU\<value
// name>". Outcomes live under HKCU (the client runs as the user) in
// kPluginOutcomesKey, one REG_MULTI_SZ per entry: the entry's text when it
// was started, the outcome, and the local time of the start.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace plume {

// The library's plug-in lists, under HKLM and under HKCU: plug-ins run in the
// client, and plug-ins run isolated, each in a host process of its own
// (plumehost.exe). An isolated entry is named "HKLM\Isolated\<value name>".
constexpr const char* kPluginsKey = "SOFTWARE\\Vexlor\\PLUME\\Plugins";
constexpr const char* kIsolatedPluginsKey = "SOFTWARE\\Vexlor\\PLUME\\IsolatedPlugins";
constexpr const char* kPluginOutcomesKey = "Software\\Vexlor\\PLUME\\PluginOutcomes";
// Where a plug-in's start is marked while it runs ("HKCU\" + this key); a
// mark left behind means the client ended during that start, and the entry
// is skipped until it changes or the mark is removed.
constexpr const char* kPluginStartMarksKey = "Software\\Vexlor\\PLUME\\PluginStartMarks";
// Entries of the in-client list that ended the client (a mark left behind)
// and run isolated since, until their text changes: one REG_MULTI_SZ per
// entry, its text and its state ("isolated", or "skipped" once it died in
// its host too often).
constexpr const char* kPluginCrashesKey = "Software\\Vexlor\\PLUME\\PluginCrashes";

struct PluginOutcome {
    std::string text;     // the entry's text when it was started
    std::string outcome;  // "loaded; ..." / "not loaded: ..." / "skipped: ..."
    std::string when;     // "YYYY-MM-DD hh:mm:ss", local time
};

// One value of a plug-in list.
struct ListedEntry {
    std::string name;
    std::string text;  // the value's data, when it is a string
    bool isString = false;
};
// The entries of one list (HKLM or HKCU) in the library's order. `found`:
// the list exists; `cutShort`: an entry too long for the library ends it
// there, as it ends the library's reading.
std::vector<ListedEntry> ReadPluginList(bool machine, bool* found = nullptr, bool* cutShort = nullptr,
                                       bool isolated = false);

// "HKLM\name" or "HKCU\name"; "HKLM\Isolated\name" for the isolated list.
std::string PluginEntryName(bool machine, const std::string& valueName, bool isolated = false);

void WritePluginOutcome(const std::string& entry, const std::string& text, const std::string& outcome);
bool ReadPluginOutcome(const std::string& entry, PluginOutcome* out);
// Removes the outcomes of entries not in `keep` (all of them when empty),
// and the key with the keys above it that are left empty.
void PrunePluginOutcomes(const std::vector<std::string>& keep);
// Removes one entry's outcome and its start mark (an entry unlisted or listed
// anew starts with a clean slate), and the keys left empty.
void ForgetPluginEntry(const std::string& entry);
// True when a start of the entry with this text never ended (or the client
// ended in the entry's code later: the fault recorder leaves the mark too).
bool PluginStartMarkLeft(const std::string& entry, const std::string& text);
void SetPluginStartMark(const std::string& entry, const std::string& text);
void ClearPluginStartMark(const std::string& entry);

// What became of an entry that ended the client.
enum class CrashState { none, isolated, skipped };
CrashState ReadPluginCrash(const std::string& entry, const std::string& text);
void WritePluginCrash(const std::string& entry, const std::string& text, CrashState state);
// Deletes HKCU\path when it holds no value and no key, and then the keys of
// ours above it that are left empty.
void RemoveEmptyUserKeys(const char* path);

// The system's text for an error code, without the line end ("error N"
// when it has none).
std::string SystemErrorText(DWORD code);

// True when a list entry's text names a library rather than a ProgID: a
// path, a name ending in ".dll", or a file that exists.
bool NamesLibrary(const std::string& text);
// Why LoadLibrary of `path` failed with `error`, in words, naming the
// imported DLLs that cannot be found (looked for as the loader does, from
// this process) when the file itself is there.
std::string DescribeLoadFailure(const std::string& path, DWORD error);
// The DLLs `path` imports, directly or through the DLLs beside it, that this
// process cannot find.
std::vector<std::string> MissingImports(const std::string& path);

}  // namespace plume
