// Plug-ins listed in the registry ("SOFTWARE\Vexlor\PLUME\Plugins" under
// HKEY_LOCAL_MACHINE, then HKEY_CURRENT_USER), loaded on the server thread
// before the class objects are registered and unloaded when it ends.
#pragma once

#include <windows.h>

#include <string>

#include "plugin_outcomes.h"

namespace plume {

// A plug-in whose start takes longer is named in the log.
constexpr DWORD kSlowPluginStartMs = 1000;

void LoadPlugins();
void LoadPluginsInKey(HKEY key);
void LoadPluginFromString(const char* text);
// Frees libraries and releases objects, in load order.
void UnloadPlugins();
// Number of entries in the plug-in table.
int PluginCount();
// The list entry (and its text) of the plug-in whose code is `module`;
// false when no plug-in of the table is.
bool PluginEntryOf(HMODULE module, std::string* entry, std::string* text);

}  // namespace plume
