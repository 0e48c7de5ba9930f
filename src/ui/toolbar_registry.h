// Toolbars in the client's windows: one host per window that carries
// toolbars (the main window, each message window) plus the holder of the
// message-window templates, and the process-wide registry of the two.
//
// Lifecycle of a host: constructed (entered in the global list of hosts),
// Attach (finds the client's toolbar, subclasses the "SizableRebar", its
// "ReBarWindow32" and the client's toolbar, creates the toolbar windows),
// Detach (undoes the subclassing, takes the toolbar windows out), destroyed
// (detaches, deletes its toolbars, leaves the global list). The main host is
// attached by the hook layer's tick and detached when the main window
// closes; a message window's host lives and dies with its window record.
//
// Threads: Attach, Detach and the subclassed procedures run on the client
// UI thread; lookups also run on the server thread. Locks: the host-list
// lock before the process-wide toolbar lock; both are held only briefly (see
// toolbar_records.h). Record locks are taken after them, never inside them.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "ui/toolbar_records.h"
#include "window_subclass.h"

namespace plume {

class OEToolbarHost {
public:
    // A host in the global list of hosts, with no toolbars.
    OEToolbarHost();
    ~OEToolbarHost();
    OEToolbarHost(const OEToolbarHost&) = delete;
    OEToolbarHost& operator=(const OEToolbarHost&) = delete;

    // A message window's host, with a copy of every template toolbar.
    static std::unique_ptr<OEToolbarHost> NewMsgWndHost();

    // Finds the client's toolbar in `hostWindow` and puts this host's
    // toolbars into the window; always 1.
    int Attach(HWND hostWindow, int isMainWindow);
    // Takes the toolbars out of the window and undoes the subclassing.
    void Detach();
    // The client's own toolbar (band 101) of `hostWindow`, or null.
    HWND FindClientToolbar(HWND hostWindow);

    bool attached() const { return attached_; }
    HWND hostWindow() const { return hostWindow_; }
    // 0 for the main window; OE_MSG_SEND_WND or OE_MSG_DETAIL_WND for a
    // message window once its toolbar was found.
    int kind() const { return kind_; }
    HWND keyTarget() const { return keyTarget_; }
    void SetKeyTarget(HWND window) { keyTarget_ = window; }
    HWND hostToolbar() const { return hostToolbar_; }
    HWND sizableRebar() const { return sizableRebar_; }
    HWND rebar() const { return rebar_; }
    // Names this host for automation objects (never reused; 0 is no host).
    LONG serial() const { return serial_; }

    // Lookups; each takes the process-wide toolbar lock for its walk.
    ToolbarPtr FindToolbar(LONG id) const;
    ButtonPtr FindButton(LONG commandId) const;
    // The n-th toolbar (from 0) of `owner` (-1: of every owner).
    ToolbarPtr ToolbarAt(int n, LONG owner) const;
    std::vector<ToolbarPtr> Toolbars() const;
    // Destroys every toolbar of `owner` (-1: all).
    void RemoveToolbarsOf(LONG owner);
    // A new toolbar record at the end of this host's list.
    ToolbarPtr NewToolbar();
    // Takes `toolbar` out of the list (toolbar lock held by the caller).
    void Unlink(const OEPluginToolbar* toolbar);

    // A WM_COMMAND of this message window: its own copy of the button
    // toggles and opens its drop-down menu.
    void OfferMsgWndCommand(HWND window, LONG id);

    // The procedures installed on the "SizableRebar", the "ReBarWindow32"
    // and the client's toolbar.
    static LRESULT CALLBACK SizableRebarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK RebarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ClientToolbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Append(ToolbarPtr toolbar);

    std::vector<ToolbarPtr> toolbars_;
    HWND hostWindow_ = nullptr;
    HWND sizableRebar_ = nullptr;
    HWND hostToolbar_ = nullptr;
    HWND keyTarget_ = nullptr;
    bool attached_ = false;
    int kind_ = 0;
    window_subclass sizableSubclass_;
    window_subclass toolbarSubclass_;
    window_subclass rebarSubclass_;
    HWND rebar_ = nullptr;
    LONG serial_;
};

class OEToolbarRegistry {
public:
    // The process-wide registry, created on first use when `create` is set;
    // null once Destroy has closed it. A caller on another thread keeps the
    // registry alive while it holds the result.
    static std::shared_ptr<OEToolbarRegistry> Get(bool create = true);
    // Shutdown: both hosts detach and delete their toolbars on the calling
    // thread, and no new registry is made until Reopen.
    static void Destroy();
    // A new start of the server may make a registry again.
    static void Reopen();

    OEToolbarHost& mainHost() { return mainHost_; }
    OEToolbarHost& msgWndTemplates() { return msgWndTemplates_; }

    // Registry-wide lookups: the main host first, then the templates.
    // Nothing is found (and nothing created) when there is no registry.
    static ToolbarPtr FindToolbar(LONG id);
    static ButtonPtr FindButton(LONG commandId);
    // The n-th toolbar of `owner`: among the main host's toolbars.
    static ToolbarPtr ToolbarAt(int n, LONG owner);
    // Destroys every toolbar of `owner` in both hosts.
    static void RemoveToolbarsOf(LONG owner);

private:
    OEToolbarRegistry() = default;
    OEToolbarHost mainHost_;
    OEToolbarHost msgWndTemplates_;
};

// The toolbar with `id` in the host named by `hostSerial` (0: the registry).
ToolbarPtr FindToolbarIn(LONG hostSerial, LONG id);
// The button or sub-button with `commandId` there.
ButtonPtr FindButtonIn(LONG hostSerial, LONG commandId);

// A toolbar button record found by its identifier in the registry, locked
// against change for as long as this holder lives.
class LockedButtonRecord {
public:
    explicit LockedButtonRecord(LONG buttonId);
    explicit operator bool() const { return static_cast<bool>(record_); }
    LONG toolbarId() const;
    LONG ownerId() const { return record_ ? record_->ownerId : -1; }

private:
    locked_ref<OEPluginButton> record_;
};

// The process-wide toolbar lock (guards the registry, every host's lists and
// every button list). Held only briefly.
critical_section& ToolbarLock();

// Offers a WM_COMMAND to the library's buttons (and menu items), then passes
// every message on to `previous`.
LRESULT RouteCommand(WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Where RouteCommand offers command identifiers that are no button's and
// come from a menu (lParam 0): the menu items, with the window as
// RouteCommand names it (-1: the main window).
// Returns nothing; the message goes on in every case.
using MenuCommandRouter = void (*)(INT64 window, LONG id);
void SetMenuCommandRouter(MenuCommandRouter router);

}  // namespace plume
