// The library's one diagnostic operation. Levels: 0 errors and lifecycle,
// 2 notable steps, 4 tracing.
#pragma once

#include <functional>

namespace plume {

void Log(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Lines above this level are dropped by the debugger sink (5 at load).
void SetLogVerbosity(int level);

// Lets a test see every formatted line; null stops it. Independent of the
// debugger sink, which is chosen at build time.
using LogObserver = std::function<void(int level, const char* text)>;
void SetLogObserver(LogObserver observer);

}  // namespace plume
