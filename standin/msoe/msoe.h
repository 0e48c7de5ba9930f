// What msoe.dll exports to the launcher.
#pragma once

#include <windows.h>

extern "C" {
// Reads the command line, loads the store and creates the send dialog and
// the host window (the main window, or the compose window with /mailurl:).
// Returns 0 with *hostWindow set, else an error code.
__declspec(dllexport) int MsoeStartup(const wchar_t* commandLine, int show, HWND* hostWindow);
// Tells the client whether the library was loaded and started.
__declspec(dllexport) void MsoeSetLibraryStarted(BOOL started);
// Builds the host window's child windows and runs the client until it ends.
__declspec(dllexport) int MsoeRun();
// Installs the client whose executables are in `folder` (standin/msoe/install.cpp);
// 0 when everything was written.
__declspec(dllexport) int MsoeInstall(const wchar_t* folder, BOOL resetStore);
}

using MsoeStartupFn = int (*)(const wchar_t*, int, HWND*);
using MsoeSetLibraryStartedFn = void (*)(BOOL);
using MsoeRunFn = int (*)();
using MsoeInstallFn = int (*)(const wchar_t*, BOOL);
