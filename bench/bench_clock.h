// The benchmarks' clock.
#pragma once

#include <windows.h>

namespace plume::bench {

// Microseconds of the performance counter.
inline double NowMicroseconds() {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(c.QuadPart) * 1e6 / static_cast<double>(f.QuadPart);
}

}  // namespace plume::bench
