#include "server/plugin_faults.h"

#include <windows.h>

#include <string>

#include "fault_site.h"
#include "log.h"
#include "plugin_outcomes.h"
#include "server/plugins.h"

namespace plume {
namespace {

LPTOP_LEVEL_EXCEPTION_FILTER g_previous = nullptr;
bool g_installed = false;

LONG WINAPI RecordPluginFault(EXCEPTION_POINTERS* fault) {
    if (fault && fault->ExceptionRecord && IsFatalFault(fault->ExceptionRecord->ExceptionCode)) {
        std::string entry, text;
        for (HMODULE module : FaultModules(fault)) {
            if (!PluginEntryOf(module, &entry, &text)) continue;
            Log(0, "The client ends on exception %08lx in plug-in %s (%s); it runs isolated from the next start.\n",
                static_cast<unsigned long>(fault->ExceptionRecord->ExceptionCode), entry.c_str(), text.c_str());
            SetPluginStartMark(entry, text);
            break;
        }
    }
    return g_previous ? g_previous(fault) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallPluginFaultRecorder() {
    if (g_installed) return;
    g_previous = SetUnhandledExceptionFilter(RecordPluginFault);
    g_installed = true;
}

void RemovePluginFaultRecorder() {
    if (!g_installed) return;
    LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(g_previous);
    if (current != RecordPluginFault) SetUnhandledExceptionFilter(current);
    g_installed = false;
}

}  // namespace plume
