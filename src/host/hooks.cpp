#include "host/hooks.h"

#include <commctrl.h>
#include <cstring>

#include "client_variant.h"
#include "entry_guard.h"
#include "host/list_selection.h"
#include "host/msg_wnd_list.h"
#include "host/vex_message_list.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "log.h"
#include "ui/menu_registry.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

struct HookState {
    HWND mainWindow = nullptr;
    WNDPROC previousMainProc = nullptr;
    HWND treeView = nullptr;
    int treeFound = 0;
    HWND messageView = nullptr;
    HWND listView = nullptr;
    HHOOK hookHandle = nullptr;
    volatile LONG settingSelection = 0;
    HostNotifyCallbacks callbacks;
};

HookState g_state;
// Kept across AttachPlugin.
UINT_PTR g_mainTimer = 0;
HMENU g_lastInitMenu = nullptr;
int g_lastMenuSelect = -1;

constexpr UINT kDownloadNotice = 0x08B6;
constexpr UINT kStoreReady = 0x13A0;

bool IsMainWindowClass(const char* name) {
    return strcmp(name, "ThorBrowserWndClass") == 0 || strcmp(name, "Outlook Express Browser Class") == 0;
}

void SubclassMainWindow(HWND window) {
    g_state.previousMainProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    g_state.mainWindow = window;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MainWndProc));
}

// Runs `use` on the main window's toolbar host, unless shutdown has closed
// the toolbar registry.
template <typename Use>
void WithMainHost(Use use) {
    if (std::shared_ptr<OEToolbarRegistry> registry = OEToolbarRegistry::Get(true)) use(registry->mainHost());
}

struct FindContext {
    const char* className;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisitor(HWND window, LPARAM lParam) {
    auto* ctx = reinterpret_cast<FindContext*>(lParam);
    if (ctx->processId != static_cast<DWORD>(-1)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != ctx->processId) return TRUE;
    }
    char name[1024];
    if (!GetClassNameA(window, name, 1023) || strcmp(name, ctx->className) != 0) return TRUE;
    ctx->found = window;
    return FALSE;
}

const char* ListViewClass() { return IsWindowsMail() ? "SysListView32" : "ATL:SysListView32"; }

void OnFolderNotification() {
    if (!g_state.treeView) {
        g_state.treeView = FindChildWindow(g_state.mainWindow, "SysTreeView32");
        if (!g_state.treeView) return;
        WithMainHost([](OEToolbarHost& host) { host.SetKeyTarget(g_state.treeView); });
    }
    if (g_state.callbacks.onFolderTreeNotify) g_state.callbacks.onFolderTreeNotify(g_state.treeView);
    g_state.treeFound = 1;
}

void StopMainTimer() {
    KillTimer(g_state.mainWindow, g_mainTimer);
    g_mainTimer = 0;
}

// The 100 ms tick of the main window.
void Tick() {
    WithMainHost([](OEToolbarHost& host) {
        if (!host.attached()) host.Attach(g_state.mainWindow, 1);
    });
    if (g_state.treeFound) {
        g_state.messageView = FindChildWindow(g_state.mainWindow, "Outlook Express Message View");
        if (g_state.messageView && FindChildWindow(g_state.messageView, "Outlook Express Message List")) {
            if (HWND lv = FindChildWindow(g_state.messageView, ListViewClass())) g_state.listView = lv;
        }
    }
    // A tick served inside a poster's wait would read a selection the client
    // is still making (a read mark committed from the list's notification).
    if (!g_state.settingSelection && !InPosterWait()) PollSelection();
}

}  // namespace

HostNotifyCallbacks& Callbacks() { return g_state.callbacks; }

HWND MainWindow() { return g_state.mainWindow; }
HWND TreeView() { return g_state.treeView; }
HWND ListView() { return g_state.listView; }
HWND MessageView() { return g_state.messageView; }
void SetSettingSelection(bool on) { InterlockedExchange(&g_state.settingSelection, on ? 1 : 0); }
bool SettingSelection() { return g_state.settingSelection != 0; }

HWND FindChildWindow(HWND parent, const char* className, DWORD processId) {
    FindContext ctx{className, processId, nullptr};
    EnumChildWindows(parent ? parent : GetDesktopWindow(), FindVisitor, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

HWND FindMessageListView() {
    HWND view = FindChildWindow(g_state.mainWindow, "Outlook Express Message View");
    if (!view || !FindChildWindow(view, "Outlook Express Message List")) return nullptr;
    return FindChildWindow(view, ListViewClass());
}

void AttachPlugin(HWND hostWindow, HINSTANCE) {
    g_state = HookState{};
    char name[1024] = "";
    GetClassNameA(hostWindow, name, 1023);
    if (IsMainWindowClass(name)) {
        OEMenuRegistry::Global(true, hostWindow)->SetKind(0);
        SubclassMainWindow(hostWindow);
    } else if (strcmp(name, "ATH_Note") == 0) {
        AddMsgWnd(hostWindow, false);
    }
    g_state.hookHandle = SetWindowsHookExA(WH_CBT, CallWndProc, nullptr, GetCurrentThreadId());
    if (!g_state.hookHandle) Log(0, "AttachPlugin: SetWindowsHookEx\n");
}

void DetachHooks() {
    if (g_state.hookHandle) {
        UnhookWindowsHookEx(g_state.hookHandle);
        g_state.hookHandle = nullptr;
    }
    OEMenuRegistry::DestroyGlobal();
}

void ClearMainWindow(int endSession) {
    g_state.mainWindow = nullptr;
    g_state.treeView = nullptr;
    g_state.listView = nullptr;
    if (g_state.callbacks.onShutdown) g_state.callbacks.onShutdown(endSession);
}

namespace {

void OnWindowCreated(WPARAM wParam, LPARAM lParam) {
    HWND window = reinterpret_cast<HWND>(wParam);
    const CREATESTRUCTA* cs = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
    char buffer[1024];
    const char* name = cs->lpszClass;
    if (name && (reinterpret_cast<UINT_PTR>(name) >> 16) == 0) {
        name = GetClassNameA(window, buffer, 1023) ? buffer : nullptr;
    }
    if (!name) {
    } else if (strcmp(name, "ATH_Note") == 0) {
        AddMsgWnd(window, false);
    } else if (cs->hwndParent && strcmp(name, "##MimeEdit_Server") == 0) {
        if (IsChild(g_state.mainWindow, cs->hwndParent)) {
            HWND list = FindMessageListView();
            OEPluginMsgWnd* record = AddMsgWnd(window, true);
            if (list && record) record->isPreview = 1;
        }
    } else if (strcmp(name, "ToolbarWindow32") == 0) {
        if (OEPluginMsgWnd* preview = FindPreviewMsgWnd(false)) {
            if (!(IsWindow(g_state.listView) && SendMessageA(g_state.listView, LVM_GETSELECTEDCOUNT, 0, 0)))
                preview->isEmpty = 1;
        }
    } else if (!g_state.mainWindow && IsMainWindowClass(name)) {
        SubclassMainWindow(window);
        Log(4, "CallWndProc: Hook ThorBrowserWndClass: %08x : %08x -> %08x.\n",
            static_cast<unsigned>(reinterpret_cast<UINT_PTR>(window)),
            static_cast<unsigned>(reinterpret_cast<UINT_PTR>(g_state.previousMainProc)),
            static_cast<unsigned>(reinterpret_cast<UINT_PTR>(&MainWndProc)));
    }
}

// The client kept its main window through a close (its user said no): the
// close steps are undone, so the next close runs them again; the tick
// attaches the toolbars again.
void ServeOnAfterCancelledClose(HWND hwnd, bool wasWatching) {
    Log(2, "MainWndProc: the client kept its window after WM_CLOSE; serving on.\n");
    RemovePropA(hwnd, "PLUME_MainWndDestroying");
    if (!g_mainTimer) g_mainTimer = SetTimer(hwnd, 1, 100, nullptr);
    if (wasWatching && g_state.callbacks.onStoreWatch) g_state.callbacks.onStoreWatch(0);
}

// True only while this library sends "PLUME_WM_CLOSE" to the main window:
// the same message posted by another program changes nothing.
bool g_sendingClose = false;

LRESULT MainWndProcBody(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const HostNotifyCallbacks& cb = g_state.callbacks;
    if (message == Messages().tableLookup) return VexMessageList::RunSentLookup(lParam);
    switch (message) {
    case WM_DESTROY:
        g_state.mainWindow = nullptr;
        g_state.treeView = nullptr;
        g_state.listView = nullptr;
        if (cb.onShutdown) cb.onShutdown(0);
        break;
    case WM_SETTEXT:
        OnFolderNotification();
        break;
    case WM_CLOSE: {
        if (GetPropA(hwnd, "PLUME_MainWndDestroying") != reinterpret_cast<HANDLE>(1)) {
            SetPropA(hwnd, "PLUME_MainWndDestroying", reinterpret_cast<HANDLE>(1));
            g_sendingClose = true;
            CallWindowProcA(MainWndProc, hwnd, Messages().closeMainWindow, 0, 0);
            g_sendingClose = false;
        }
        const bool wasWatching = cb.onStoreWatch && cb.onStoreWatch(1);
        StopMainTimer();
        const LRESULT result = RouteCommand(g_state.previousMainProc, hwnd, message, wParam, lParam);
        if (g_state.mainWindow == hwnd && IsWindow(hwnd)) ServeOnAfterCancelledClose(hwnd, wasWatching);
        return result;
    }
    case WM_ENDSESSION:
        if (wParam == 1) {
            WithMainHost([](OEToolbarHost& host) { host.Detach(); });
            StopMainTimer();
            ClearMainWindow(1);
        }
        break;
    case WM_TIMER:
        Tick();
        break;
    case WM_INITMENU:
        g_lastInitMenu = reinterpret_cast<HMENU>(wParam);
        break;
    case WM_INITMENUPOPUP: {
        LRESULT result = CallWindowProcA(g_state.previousMainProc, hwnd, message, wParam, lParam);
        if (auto menus = OEMenuRegistry::Global(false)) {
            if (reinterpret_cast<HMENU>(wParam) == g_lastInitMenu)
                menus->SyncPopup(reinterpret_cast<HMENU>(wParam), g_lastMenuSelect);
            menus->ApplyStates();
        }
        return result;
    }
    case WM_MENUSELECT:
        g_lastMenuSelect = LOWORD(wParam);
        if (auto menus = OEMenuRegistry::Global(false)) menus->NoteMenuSelect(wParam, lParam);
        break;
    case WM_PARENTNOTIFY:
        if (LOWORD(wParam) == WM_CREATE) {
            if (!g_mainTimer) g_mainTimer = SetTimer(hwnd, 1, 100, nullptr);
            WithMainHost([](OEToolbarHost& host) {
                if (host.attached()) host.Attach(g_state.mainWindow, 1);
            });
        }
        break;
    case kDownloadNotice:
        if (cb.onMessageDownload) cb.onMessageDownload(static_cast<int>(wParam));
        break;
    default:
        break;
    }

    // Common tail.
    if (message == Messages().closeMainWindow && g_sendingClose) {
        SetPropA(hwnd, "PLUME_MainWndDestroying", reinterpret_cast<HANDLE>(1));
        LRESULT result = RouteCommand(g_state.previousMainProc, hwnd, message, wParam, lParam);
        WithMainHost([](OEToolbarHost& host) { host.Detach(); });
        return result;
    }
    if (message == kStoreReady && wParam == 0 && lParam == 0 && cb.onStoreWatch) cb.onStoreWatch(0);
    return RouteCommand(g_state.previousMainProc, hwnd, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK CallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        guarded_entry(
            "CallWndProc", HCBT_CREATEWND,
            [&]() -> LRESULT {
                OnWindowCreated(wParam, lParam);
                return 0;
            },
            [] { return LRESULT(0); });
    }
    return CallNextHookEx(g_state.hookHandle, code, wParam, lParam);
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return guarded_entry(
        "MainWndProc", message, [&] { return MainWndProcBody(hwnd, message, wParam, lParam); },
        [&]() -> LRESULT {
            return g_state.previousMainProc ? CallWindowProcA(g_state.previousMainProc, hwnd, message, wParam, lParam)
                                            : DefWindowProcA(hwnd, message, wParam, lParam);
        });
}

}  // namespace plume
