// Toolbars in the client's windows: one host per window that carries
// toolbars (the main window, each message window) plus the holder of the
// message-window templates, and the process-wide registry of the two.
//
// This header is the surface the hook layer uses; the toolbar records,
// buttons and image lists live beside it.
#pragma once

#include <windows.h>

namespace plume {

class OEToolbarHost {
public:
    OEToolbarHost() = default;
    OEToolbarHost(const OEToolbarHost&) = delete;
    OEToolbarHost& operator=(const OEToolbarHost&) = delete;
    ~OEToolbarHost();

    // Finds the client's toolbar in `hostWindow` and puts this host's
    // toolbars into the window; always 1.
    int Attach(HWND hostWindow, int isMainWindow);
    // Takes the toolbars out of the window and undoes the subclassing.
    void Detach();

    bool attached() const { return attached_; }
    HWND hostWindow() const { return hostWindow_; }
    // 0 for the main window; OE_MSG_SEND_WND or OE_MSG_DETAIL_WND for a
    // message window once its toolbar was found.
    int kind() const { return kind_; }
    HWND keyTarget() const { return keyTarget_; }
    void SetKeyTarget(HWND window) { keyTarget_ = window; }
    HWND hostToolbar() const { return hostToolbar_; }

private:
    bool attached_ = false;
    HWND hostWindow_ = nullptr;
    int kind_ = 0;
    HWND keyTarget_ = nullptr;
    HWND hostToolbar_ = nullptr;
};

class OEToolbarRegistry {
public:
    // The process-wide registry, created on first use when `create` is set.
    static OEToolbarRegistry* Get(bool create = true);
    // Deletes the registry: both hosts detach and delete their toolbars.
    static void Destroy();

    OEToolbarHost& mainHost() { return mainHost_; }
    OEToolbarHost& msgWndTemplates() { return msgWndTemplates_; }

private:
    OEToolbarRegistry() = default;
    OEToolbarHost mainHost_;
    OEToolbarHost msgWndTemplates_;
};

// A toolbar button record found by its identifier in the registry, locked
// against change for as long as this holder lives.
class LockedButtonRecord {
public:
    explicit LockedButtonRecord(LONG buttonId);
    ~LockedButtonRecord();
    LockedButtonRecord(const LockedButtonRecord&) = delete;
    LockedButtonRecord& operator=(const LockedButtonRecord&) = delete;

    explicit operator bool() const { return found_; }
    LONG toolbarId() const { return toolbarId_; }
    LONG ownerId() const { return ownerId_; }

private:
    bool found_ = false;
    LONG toolbarId_ = -1;
    LONG ownerId_ = -1;
};

// Offers a WM_COMMAND to the library's buttons (and menu items), then passes
// every message on to `previous`.
LRESULT RouteCommand(WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace plume
