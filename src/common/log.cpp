#include "log.h"

#include <cstdarg>
#include <cstdio>
#include <windows.h>

#include "sync.h"

namespace plume {
namespace {

int g_verbosity = 5;
critical_section& ObserverLock() {
    static critical_section* cs = new critical_section;  // lives as long as the process
    return *cs;
}
LogObserver& Observer() {
    static LogObserver* o = new LogObserver;
    return *o;
}
volatile LONG g_hasObserver = 0;

}  // namespace

void SetLogVerbosity(int level) { g_verbosity = level; }

void SetLogObserver(LogObserver observer) {
    cs_lock hold(ObserverLock());
    Observer() = std::move(observer);
    InterlockedExchange(&g_hasObserver, Observer() ? 1 : 0);
}

void Log(int level, const char* format, ...) {
#if PLUME_LOG_TO_DEBUGGER
    const bool toDebugger = level <= g_verbosity;
#else
    const bool toDebugger = false;
#endif
    if (!toDebugger && !g_hasObserver) return;

    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);

    if (toDebugger) {
        char line[2100];
        snprintf(line, sizeof line, "th: %lu :%s", GetCurrentThreadId(), text);
        OutputDebugStringA(line);
    }
    if (g_hasObserver) {
        cs_lock hold(ObserverLock());
        if (Observer()) Observer()(level, text);
    }
}

}  // namespace plume
