// A window class of the test's own, registered afresh with `proc` (unless
// windows of it are still open); its name, for CreateWindow.
#pragma once

#include <windows.h>

namespace plume::test {

inline const char* WindowClass(const char* name, WNDPROC proc = DefWindowProcA) {
    UnregisterClassA(name, nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name;
    RegisterClassA(&wc);
    return name;
}

}  // namespace plume::test
