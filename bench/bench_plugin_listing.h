// bench_plugin.dll listed for the next client start (in the client, and
// isolated too when asked), with the plug-in counter told to await it; all,
// and the starts' outcomes, put back as they were when this goes.
#pragma once

#include <windows.h>

#include <string>

#include "registry_scope.h"
#include "standin_process.h"

namespace plume::bench {

inline const wchar_t* const kPluginsKey = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";
inline const wchar_t* const kIsolatedPluginsKey = L"SOFTWARE\\Vexlor\\PLUME\\IsolatedPlugins";
inline const wchar_t* const kCounterKey = L"Software\\Vexlor\\PLUME\\InitObject";
inline const wchar_t* const kOutcomesKey = L"Software\\Vexlor\\PLUME\\PluginOutcomes";

class ListedBenchPlugin {
public:
    explicit ListedBenchPlugin(const wchar_t* entry, bool isolatedToo = false)
        : outcome_(HKEY_CURRENT_USER, kOutcomesKey, (std::wstring(L"HKCU\\") + entry).c_str()),
          isolatedOutcome_(HKEY_CURRENT_USER, kOutcomesKey, (std::wstring(L"HKCU\\Isolated\\") + entry).c_str()),
          listed_(HKEY_CURRENT_USER, kPluginsKey, entry),
          isolated_(HKEY_CURRENT_USER, kIsolatedPluginsKey, entry),
          awaited_(HKEY_CURRENT_USER, kCounterKey, L"AwaitedPlugins") {
        const std::wstring library = plume::test::OwnFolder() + L"bench_plugin.dll";
        listed_.SetString(library);
        if (isolatedToo) isolated_.SetString(library);
        awaited_.SetDword(isolatedToo ? 2 : 1);
    }

private:
    // Declared first, so that they go last.
    plume::test::ScopedRegistryValue outcome_, isolatedOutcome_, listed_, isolated_, awaited_;
};

}  // namespace plume::bench
