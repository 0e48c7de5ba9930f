#include "host/msg_wnd_list.h"

#include <algorithm>
#include <vector>

#include "entry_guard.h"
#include "host/hooks.h"
#include "issued_pointers.h"
#include "host/msg_content.h"
#include "manager/callback_window.h"
#include "log.h"
#include "pumping_wait.h"
#include "ui/menu_registry.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

critical_section& ListLock() {
    static critical_section* lock = new critical_section;
    return *lock;
}
std::vector<OEPluginMsgWnd*>& List() {
    static auto* list = new std::vector<OEPluginMsgWnd*>;
    return *list;
}

OEPluginMsgWnd* FindUnlocked(HWND window) {
    for (OEPluginMsgWnd* r : List()) {
        if (window == reinterpret_cast<HWND>(-1)) {
            if (r->isPreview || r->window == window) return r;
        } else if (r->window == window) {
            return r;
        }
    }
    return nullptr;
}

OEPluginMsgWnd* Locked(OEPluginMsgWnd* record, bool lockIt) {
    if (record && lockIt) LockMsgWnd(record);
    return record;
}

// Records whose removal waits for client objects that still hold them.
issued_pointers& RecordsBeingRemoved() {
    static issued_pointers* records = new issued_pointers;
    return *records;
}

DWORD g_unbindGraceMs = kMsgWndUnbindGraceMs;
MsgWndUnbinder g_unbinder = nullptr;

// The record of a closed window that a client still holds: it leaves the list
// and the window, and stays allocated (its holders unlock it later).
void LeaveRecordBehind(OEPluginMsgWnd* record) {
    {
        cs_lock hold(ListLock());
        auto& list = List();
        list.erase(std::remove(list.begin(), list.end(), record), list.end());
    }
    if (record->previousProc) {
        SetWindowLongPtrA(record->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(record->previousProc));
        record->previousProc = nullptr;
    }
    record->closing = 1;
    Log(0, "RemoveMsgWnd: window %08lx is still held after %lu ms; its record is left behind.\n",
        static_cast<unsigned long>(record->id()),
        static_cast<unsigned long>(g_unbindGraceMs * kMsgWndRemoveDeadlineGraces));
}

}  // namespace

void SetMsgWndUnbinder(MsgWndUnbinder unbinder) { g_unbinder = unbinder; }
void SetMsgWndUnbindGrace(DWORD milliseconds) { g_unbindGraceMs = milliseconds; }

bool IsRecordBeingRemoved(const OEPluginMsgWnd* record) { return RecordsBeingRemoved().contains(record); }

OEPluginMsgWnd::OEPluginMsgWnd() = default;
OEPluginMsgWnd::~OEPluginMsgWnd() = default;

OEPluginMsgWnd* AddMsgWnd(HWND window, bool noToolbar) {
    auto record = std::make_unique<OEPluginMsgWnd>();
    record->window = window;
    record->previousProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MsgWndProc));
    if (!noToolbar) {
        record->toolbarHost = OEToolbarHost::NewMsgWndHost();
        constexpr LONG kAllMsgWnd = 23;
        record->menu = OEMenuRegistry::Global(true)->NewCopy(kAllMsgWnd, window);
    }
    cs_lock hold(ListLock());
    List().push_back(record.get());
    return record.release();
}

void RemoveMsgWnd(HWND window) {
    OEPluginMsgWnd* record;
    {
        cs_lock hold(ListLock());
        record = FindUnlocked(window);
        if (!record) return;
    }
    // Both locks, without blocking the thread's messages: a server-thread
    // client that holds the record is served meanwhile. Clients that still
    // hold the window after the grace period are let go of it (asked again
    // each second); a record still held at the deadline is left behind.
    RecordsBeingRemoved().issue(record);
    const DWORD started = GetTickCount();
    DWORD lastAsked = 0;
    bool asked = false;
    pumping_wait pump;
    for (;;) {
        if (ListLock().try_lock()) {
            if (record->lock.try_lock()) break;
            ListLock().unlock();
        }
        const DWORD waited = GetTickCount() - started;
        if (waited >= g_unbindGraceMs * kMsgWndRemoveDeadlineGraces) {
            LeaveRecordBehind(record);
            return;
        }
        if (waited >= g_unbindGraceMs && (!asked || GetTickCount() - lastAsked >= 1000)) {
            if (!asked)
                Log(0, "RemoveMsgWnd: clients still hold window %08lx; unbinding them.\n",
                    static_cast<unsigned long>(record->id()));
            asked = true;
            lastAsked = GetTickCount();
            if (g_unbinder) g_unbinder(record);
        }
        pump.wait(10);
    }
    RecordsBeingRemoved().withdraw(record);
    auto& list = List();
    list.erase(std::remove(list.begin(), list.end(), record), list.end());

    record->toolbarHost.reset();
    if (record->menu) record->menu->Close();
    record->menu.reset();
    if (record->previousProc) {
        SetWindowLongPtrA(record->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(record->previousProc));
        record->previousProc = nullptr;
    }
    record->lock.unlock();
    PostMessageA(record->window, Messages().unlockMsg, 0, 0);
    record->closing = 1;
    while (record->waiters > 0) Sleep(100);
    delete record;
    ListLock().unlock();
}

OEPluginMsgWnd* FindMsgWnd(HWND window, bool lockIt) {
    cs_lock hold(ListLock());
    return Locked(FindUnlocked(window), lockIt);
}

OEPluginMsgWnd* GetMsgWndByIndex(int index, bool lockIt) {
    cs_lock hold(ListLock());
    if (index < 0 || static_cast<size_t>(index) >= List().size()) return nullptr;
    return Locked(List()[index], lockIt);
}

OEPluginMsgWnd* FindPreviewMsgWnd(bool lockIt) { return FindMsgWnd(reinterpret_cast<HWND>(-1), lockIt); }

size_t MsgWndCount() {
    cs_lock hold(ListLock());
    return List().size();
}

LONG GetActiveMsgWndId() {
    cs_lock hold(ListLock());
    HWND w = GetForegroundWindow();
    if (!w) return -1;
    while (IsWindow(w)) {
        for (OEPluginMsgWnd* r : List()) {
            HWND top = r->window;
            if (!r->toolbarHost)
                for (HWND p = GetParent(top); p; p = GetParent(p)) top = p;
            if (top == w) return r->id();
        }
        w = GetWindow(w, GW_HWNDNEXT);
    }
    return -1;
}

void LockMsgWnd(OEPluginMsgWnd* record) {
    InterlockedIncrement(&record->waiters);
    record->lock.lock();
    InterlockedDecrement(&record->waiters);
}

void UnlockMsgWnd(OEPluginMsgWnd* record) {
    // Read before unlocking: the record may be freed as soon as it is free.
    HWND window = record->window;
    record->lock.unlock();
    PostMessageA(window, Messages().unlockMsg, 0, 0);
}

LONG GetWndStyle(const OEPluginMsgWnd* record) {
    if (!record) return 0;
    if (record->toolbarHost) return record->toolbarHost->kind();
    if (!record->isPreview) return 16;  // OE_OTHER_WND
    return record->isEmpty ? 8 : 4;     // OE_EMPTY_MSG_WND : OE_CURRENT_MSG_WND
}

void InitMsgWnd(OEPluginMsgWnd* record, HWND window) {
    if (record->initialized || record->closing) return;
    if (record->toolbarHost) {
        record->initialized = record->toolbarHost->Attach(window, 0);
        record->styleCopy = record->toolbarHost->kind();
    } else {
        record->initialized = 1;
        record->styleCopy = 0;
    }
    // Kind 0 (the client's toolbar not found yet) is the main window's to the
    // menus: until the kind is known the window's menus take every message
    // window's items.
    if (record->menu && record->styleCopy) record->menu->SetKind(record->styleCopy);
    // Only the view's window is needed: fetching its document (marshalled
    // through WM_HTML_GETOBJECT) held the UI thread for tens of milliseconds.
    if (record->toolbarHost && FindBrowserWindow(record)) record->toolbarHost->SetKeyTarget(record->browserWindow);
    if (Callbacks().onMsgWndLifecycle) Callbacks().onMsgWndLifecycle(window, 1);
}

bool PressSend(OEToolbarHost* host, int which, HWND window) {
    const WPARAM command = which ? kSecondSendCommand : kSendCommand;
    // Without the client's toolbar the command goes to the window itself,
    // which passes the library's own press on to the client.
    HWND target = host && host->hostToolbar() ? host->hostToolbar() : window;
    return target && PostMessageA(target, WM_COMMAND, command, -1);
}

void SendKeys(OEToolbarHost* host, LONG keyCode, LONG controlCode, LONG setForeground) {
    if (!host || !host->keyTarget()) return;
    const BYTE key = static_cast<BYTE>(keyCode), control = static_cast<BYTE>(controlCode);
    HWND previous = nullptr;
    if (setForeground) {
        previous = GetForegroundWindow();
        SetForegroundWindow(host->hostWindow());
    }
    if (control) keybd_event(control, 0, 0, 0);
    keybd_event(key, 0, 0, 0);
    keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    if (control) keybd_event(control, 0, KEYEVENTF_KEYUP, 0);
    if (setForeground && previous) SetForegroundWindow(previous);
}

namespace {

void EndSending(OEPluginMsgWnd* record) {
    if (!record->sending) return;
    record->sending = 0;
    if (Callbacks().onBusyCounter) Callbacks().onBusyCounter(2);
}

void StartSending(OEPluginMsgWnd* record) {
    if (record->sending) return;
    if (Callbacks().onBusyCounter) Callbacks().onBusyCounter(1);
    record->sending = 1;
}

// The removal that runs once per window, on "PLUME_WM_DESTROY" sent by this
// procedure's own WM_DESTROY (the same message posted by anyone else while
// the window lives does nothing).
LRESULT RunRemoval(OEPluginMsgWnd* record, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    SetPropA(hwnd, "PLUME_MsgWndDestroying", reinterpret_cast<HANDLE>(1));
    LRESULT result = RouteCommand(record->previousProc, hwnd, message, wParam, lParam);
    const bool hasHost = record->toolbarHost != nullptr;
    if (!hasHost) RemoveMsgWnd(hwnd);
    if (Callbacks().onMsgWndLifecycle) Callbacks().onMsgWndLifecycle(hwnd, 2);
    if (hasHost) RemoveMsgWnd(hwnd);
    if (Callbacks().onShutdown) Callbacks().onShutdown(0);
    return result;
}

}  // namespace

namespace {

// Sets the window up now (at its first tick, or before it when the user
// opens a menu first) and ends the start-up timer.
void InitNow(OEPluginMsgWnd* record, HWND hwnd) {
    if (record->initialized) return;
    InitMsgWnd(record, hwnd);
    if (record->timer) KillTimer(hwnd, record->timer);
    record->timer = 0;
}

LRESULT MsgWndProcBody(OEPluginMsgWnd* record, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const RegisteredMessages& m = Messages();

    switch (message) {
    case WM_DESTROY:
        EndSending(record);
        if (GetPropA(hwnd, "PLUME_MsgWndDestroying") != reinterpret_cast<HANDLE>(1)) {
            SetPropA(hwnd, "PLUME_MsgWndDestroying", reinterpret_cast<HANDLE>(1));
            WNDPROC previous = record->previousProc;
            record->removalRequested = 1;
            CallWindowProcA(MsgWndProc, hwnd, m.destroyMsgWnd, 0, 0);
            // The record is gone now; the client still sees its WM_DESTROY.
            return CallWindowProcA(previous, hwnd, message, wParam, lParam);
        }
        break;
    case WM_COMMAND: {
        const WORD id = LOWORD(wParam);
        const bool ours = lParam == -1;
        const bool isSend = id == kSendCommand || id == kSecondSendCommand;
        if (!Callbacks().onMsgWndSendButton || ours) {
            if (ours && id == kSendCommand) StartSending(record);
        } else if (isSend) {
            if (record->sendPending) return 1;  // a second press while the first is reported
            record->sendPending = 1;
            record->cancelSend = 0;
            if (Callbacks().onMsgWndSendButton(hwnd, id == kSecondSendCommand ? 1 : 0)) return 1;
            // Nobody can hear the press: the client handles it as usual.
            record->sendPending = 0;
        }
        // The window's own copy of a library button toggles and drops down.
        if (record->toolbarHost) record->toolbarHost->OfferMsgWndCommand(hwnd, id);
        // Menu items are chosen in menus (lParam 0), never through a control.
        if (lParam == 0 && record->menu && record->menu->MenuItemCommand(reinterpret_cast<INT64>(hwnd), id))
            return 0;
        break;
    }
    case WM_TIMER:
        InitNow(record, hwnd);
        break;
    case WM_INITMENU:
        // A menu opened before the first tick holds the plug-ins' items too.
        InitNow(record, hwnd);
        record->lastInitMenu = reinterpret_cast<HMENU>(wParam);
        break;
    case WM_INITMENUPOPUP: {
        LRESULT result = CallWindowProcA(record->previousProc, hwnd, message, wParam, lParam);
        if (record->menu) {
            if (reinterpret_cast<HMENU>(wParam) == record->lastInitMenu)
                record->menu->SyncPopup(reinterpret_cast<HMENU>(wParam), record->lastMenuSelect);
            record->menu->ApplyStates();
        }
        return result;
    }
    case WM_MENUSELECT:
        InitNow(record, hwnd);
        record->lastMenuSelect = LOWORD(wParam);
        if (record->menu) record->menu->NoteMenuSelect(wParam, lParam);
        break;
    case WM_PARENTNOTIFY:
        // The start-up timer runs once, until the first tick initialises.
        if (LOWORD(wParam) == WM_CREATE && !record->timer && !record->initialized)
            record->timer = SetTimer(hwnd, 1, 100, nullptr);
        break;
    case kSendingEnded:
        EndSending(record);
        break;
    default:
        break;
    }

    if (message == m.setBody) {
        // Only the library's own request carries a text pointer.
        if (const wchar_t* text = ClaimBodyText(wParam)) SetBodyNow(record, text, lParam != 0);
        return 1;
    }
    if (message == m.destroyMsgWnd) {
        if (!record->removalRequested) return 0;
        return RunRemoval(record, hwnd, message, wParam, lParam);
    }
    return RouteCommand(record->previousProc, hwnd, message, wParam, lParam);
}

WNDPROC PreviousProcOf(HWND hwnd) {
    cs_lock hold(ListLock());
    OEPluginMsgWnd* record = FindUnlocked(hwnd);
    return record ? record->previousProc : nullptr;
}

}  // namespace

LRESULT CALLBACK MsgWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    OEPluginMsgWnd* record;
    {
        cs_lock hold(ListLock());
        record = FindUnlocked(hwnd);
    }
    if (!record || !record->previousProc) return 0;
    return guarded_entry(
        "MsgWndProc", message, [&] { return MsgWndProcBody(record, hwnd, message, wParam, lParam); },
        [&]() -> LRESULT {
            WNDPROC previous = PreviousProcOf(hwnd);
            return previous ? CallWindowProcA(previous, hwnd, message, wParam, lParam) : 0;
        });
}

}  // namespace plume
