// The hook layer: the library's view of the mail client's user interface.
// Runs on the client UI thread, inside the client's own window procedures:
// a thread-local CBT hook that sees every window the thread creates, the
// main window's subclass procedure and its 100 ms tick.
//
// Lifecycle: AttachPlugin (from StartServer) hooks and subclasses; the
// callbacks are installed right after it; DetachHooks (from ShutdownServer)
// removes the hook. The main window stays subclassed until it is gone.
#pragma once

#include <windows.h>

#include "host/host_callbacks.h"

namespace plume {

void AttachPlugin(HWND hostWindow, HINSTANCE instance);
void DetachHooks();
// Forgets the main window, tree and list view, then runs onShutdown.
void ClearMainWindow(int endSession);

// The installed callbacks (zeroed by AttachPlugin).
HostNotifyCallbacks& Callbacks();

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The first descendant of `parent` (of the desktop when null) whose class
// name is exactly `className`; with `processId` other than -1 only windows
// of that process count.
HWND FindChildWindow(HWND parent, const char* className, DWORD processId = static_cast<DWORD>(-1));
// The client's message list view under the main window, or null.
HWND FindMessageListView();

// Read by other threads as plain word-sized values.
HWND MainWindow();
HWND TreeView();
HWND ListView();
HWND MessageView();
// Set by the selection code while it changes the list view's selection.
void SetSettingSelection(bool on);
bool SettingSelection();

}  // namespace plume
