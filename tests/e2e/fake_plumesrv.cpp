// A stand-in for plumesrv.dll that only records how the client's loader
// called it: window properties on the window given to StartServer.
#include <windows.h>

extern "C" __declspec(dllexport) void StartServer(HWND host) {
    int children = 0;
    EnumChildWindows(host, [](HWND, LPARAM p) -> BOOL { ++*reinterpret_cast<int*>(p); return TRUE; },
                     reinterpret_cast<LPARAM>(&children));
    SetPropW(host, L"PLUMETest.StartServer", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
    // One more than the count, so that no children still reads as set.
    SetPropW(host, L"PLUMETest.Children", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(children + 1)));
}
