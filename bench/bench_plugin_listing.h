// bench_plugin.dll listed for the next client start, with the plug-in
// counter told to await it; both, and the start's outcome, put back as they
// were when this goes.
#pragma once

#include <windows.h>

#include <string>

#include "registry_scope.h"
#include "standin_process.h"

namespace plume::bench {

inline const wchar_t* const kPluginsKey = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";
inline const wchar_t* const kCounterKey = L"Software\\Vexlor\\PLUME\\InitObject";
inline const wchar_t* const kOutcomesKey = L"Software\\Vexlor\\PLUME\\PluginOutcomes";

class ListedBenchPlugin {
public:
    explicit ListedBenchPlugin(const wchar_t* entry)
        : outcome_(HKEY_CURRENT_USER, kOutcomesKey, (std::wstring(L"HKCU\\") + entry).c_str()),
          listed_(HKEY_CURRENT_USER, kPluginsKey, entry),
          awaited_(HKEY_CURRENT_USER, kCounterKey, L"AwaitedPlugins") {
        listed_.SetString(plume::test::OwnFolder() + L"bench_plugin.dll");
        awaited_.SetDword(1);
    }

private:
    // Declared first, so that it goes last.
    plume::test::ScopedRegistryValue outcome_, listed_, awaited_;
};

}  // namespace plume::bench
