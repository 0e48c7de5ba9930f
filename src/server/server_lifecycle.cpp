#include "server/server_lifecycle.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>

#include "com_apartment.h"
#include "client_variant.h"
#include "host/hooks.h"
#include "host/msg_wnd_list.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "manager/selection.h"
#include "server/apartment_holders.h"
#include "server/class_objects.h"
#include "server/sink_delivery.h"
#include "server/init_object.h"
#include "server/isolated_host.h"
#include "server/plugin_faults.h"
#include "server/module.h"
#include "log.h"
#include "pumping_wait.h"
#include "server/plugins.h"
#include "server/remote_unknown_pin.h"
#include "store/message_store.h"
#include "ui/toolbar_registry.h"
#include "unique_any.h"

namespace plume {
namespace {

HWND g_hostWindow = nullptr;
HANDLE g_serverThread = nullptr;
DWORD g_serverThreadId = 0;
DWORD g_releaseGraceMs = 10000;
DWORD g_pluginStartupTimeoutMs = kPluginStartupTimeoutMs;

constexpr UINT kRepostedWhileStarting = WM_USER + 19;  // 0x413
// Thread message to the server thread: disconnect every object from its
// remote clients (shutdown found clients that never release them).
constexpr UINT kDisconnectClients = WM_APP + 0x3A;

// Host callbacks (client UI thread). Only the server thread makes the
// manager: activity reported before it exists (or after it is gone) is
// dropped, since nothing could hear it.
PLUMEManager* ManagerOrDrop(const char* what) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) Log(2, "%s: no manager yet; dropped.\n", what);
    return manager;
}

void OnShutdown(int endSession) { ShutdownServer(endSession); }

void OnFolderTreeNotify(HWND treeView) {
    if (ManagerOrDrop("OnFolderTreeNotify")) SetSelectedFolderName(treeView);
}

void OnSelectionChanged(int count, int* rows, int focusedRow, int flag) {
    if (ManagerOrDrop("OnSelectionChanged")) SetSelectedMessages(count, rows, focusedRow, flag);
}

void OnMessageDownload(int code) {
    if (ManagerOrDrop("OnMessageDownload")) PostMessageDownload(code);
}

void OnMsgWndLifecycle(HWND window, int what) {
    if (!ManagerOrDrop("OnMsgWndLifecycle")) return;
    if (what == 1) {
        PostMsgWndCreated(window);
    } else if (what == 2) {
        OEPluginMsgWnd* record = FindMsgWnd(window, false);
        PostMsgWndClosed(window, record && record->toolbarHost);
    }
}

int OnMsgWndSendButton(HWND window, int which) {
    if (!ManagerOrDrop("OnMsgWndSendButton")) return 0;
    return PostMsgWndSendButton(window, which) ? 1 : 0;
}

// A store notice that came while the library started (before the manager
// had its store): kept for the end of StartServer, which hands it on.
std::atomic<bool> g_storeNoticeWaiting{false};

// Client UI thread: 0 when the client's store is ready, 1 when its main window closes.
int OnStoreWatch(int stop) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    std::shared_ptr<PLUMEMessageStore> store;
    if (manager) {
        cs_lock hold(manager->storeLock());
        store = manager->messageStore;
    }
    if (!store) return g_storeNoticeWaiting.exchange(!stop) ? 1 : 0;
    const bool watched = store->enabled();
    if (stop) store->StopWatching();
    else store->StartWatching();
    return watched ? 1 : 0;
}

// Hands a store notice kept while the library started on, once StartServer
// returns (the manager then has its store).
class StoreNoticeReplay {
public:
    ~StoreNoticeReplay() {
        if (g_storeNoticeWaiting.exchange(false)) OnStoreWatch(0);
    }
};

int OnBusyCounter(int op) {
    PLUMEManager* manager = ManagerOrDrop("OnBusyCounter");
    if (!manager) return 0;
    switch (op) {
    case 1: InterlockedIncrement(&manager->sendBusy); return 0;
    case 2:
        // Never below zero: an increment may have been dropped before the
        // manager existed.
        for (LONG n = manager->sendBusy; n > 0; n = manager->sendBusy) {
            if (InterlockedCompareExchange(&manager->sendBusy, n - 1, n) != n) continue;
            // What waited for the window (an announcement, a command) goes on.
            if (n == 1) manager->PostSendCycleCheck();
            break;
        }
        return 0;
    case 3: return manager->sendBusy > 0 ? 1 : 0;
    default: return 0;
    }
}

void SetNamedEvent(const char* name, bool set) {
    unique_handle event(CreateEventA(nullptr, TRUE, FALSE, name));
    if (!event) return;
    if (set)
        SetEvent(event.get());
    else
        ResetEvent(event.get());
}

// Runs the server loop until WM_QUIT.
void RunServerLoop(PLUMEManager* manager) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (!msg.hwnd && msg.message == kDisconnectClients) {
            if (manager) manager->DisconnectAllObjects();
            continue;
        }
        DispatchMessageA(&msg);
    }
}

void RunServer() {
    const com_apartment sta;
    if (sta.result() != S_OK) return;
    PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    Log(4, "ServerProc: starting.\n");
    LoadPlugins();
    ClassObjectRegistration server;
    HRESULT registered = server.Register();
    if (FAILED(registered)) Log(0, "ServerProc: Error registering server register_class_objects.\n");
    PLUMEManager* manager = PLUMEManager::Get(true);
    Log(4, "ServerProc: manager created.\n");

    LONG awaited = 0;
    if (AdoptInitObject()) {
        // A failing count is taken as "nothing to wait for": the client must
        // not wait for ever on plug-ins that cannot be counted.
        if (FAILED(InitObjectStart()) || FAILED(InitObjectAwaited(&awaited))) {
            Log(0, "ServerProc: the plug-in counter failed.\n");
            awaited = 0;
        }
    }
    // With the class objects unregistered nothing could report: do not keep
    // the client waiting.
    if (awaited <= 0 || FAILED(registered))
        SetPluginsInitialized();
    else
        SetAwaitedPlugins(awaited);

    unique_handle shutdownEvent(CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT"));
    unique_handle initEvent(CreateEventA(nullptr, TRUE, FALSE, "PLUME_INIT_EVENT"));
    ResetEvent(shutdownEvent.get());
    // Isolated plug-ins reach the objects from their hosts, as in-client ones do.
    if (server.registered()) StartIsolatedHosts();
    SetEvent(initEvent.get());

    Log(4, "ServerProc: running.\n");
    if (server.registered()) RunServerLoop(manager);
    server.Revoke();
    Sleep(1000);
    StopIsolatedHosts();

    shutdownEvent.reset();
    initEvent.reset();
    UnloadPlugins();
    PLUMEManager::DestroyInstance();
    StopSinkDelivery();
}

// The thread holds a reference on the library, taken by StartServer: a
// server thread that outlives the close (held in a call) still has its code
// when the client unloads the library.
DWORD WINAPI ServerProc(LPVOID module) {
    try {
        RunServer();
    } catch (...) {
        Log(0, "ServerProc: the server thread ended on an exception.\n");
    }
    if (module) FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    return 0;
}

}  // namespace

HANDLE ServerThread() { return g_serverThread; }

void SetReleaseGracePeriod(DWORD milliseconds) { g_releaseGraceMs = milliseconds; }

void SetPluginStartupTimeout(DWORD milliseconds) { g_pluginStartupTimeoutMs = milliseconds; }

void StartServer(HWND hostWindow) {
    if (g_serverThread || !IsHostProcess() || !hostWindow) return;
    g_hostWindow = hostWindow;
    OEToolbarRegistry::Reopen();
    InstallPluginFaultRecorder();
    SetMsgWndUnbinder(PostUnbindMsgWnd);
    AttachPlugin(hostWindow, nullptr);
    HostNotifyCallbacks& cb = Callbacks();
    cb.onShutdown = OnShutdown;
    cb.onFolderTreeNotify = OnFolderTreeNotify;
    cb.onSelectionChanged = OnSelectionChanged;
    cb.onMessageDownload = OnMessageDownload;
    cb.onMsgWndLifecycle = OnMsgWndLifecycle;
    cb.onMsgWndSendButton = OnMsgWndSendButton;
    cb.onBusyCounter = OnBusyCounter;
    cb.onStoreWatch = OnStoreWatch;

    KeepRemoteUnknownRegistered();
    // Without the counting object no plug-in is awaited.
    HRESULT hr = CreateInitObject();
    if (FAILED(hr)) Log(0, "StartServer: no plug-in counter %08lx.\n", static_cast<unsigned long>(hr));

    // Opened before the server thread can set it: a named event lives only
    // while someone holds a handle to it.
    unique_handle initialized(CreateEventA(nullptr, TRUE, FALSE, "PLUME_PLUGINS_INITIALIZED_EVENT"));
    // A start after an earlier one in this process (a new main window) counts
    // its plug-ins afresh.
    ResetEvent(initialized.get());
    SetAwaitedPlugins(0);
    SetReportedPlugins(0);
    const HMODULE module = HoldLibrary();
    g_serverThread = CreateThread(nullptr, 0, ServerProc, module, 0, &g_serverThreadId);
    if (!g_serverThread) {
        if (module) FreeLibrary(module);
        Log(0, "COM Server: CreateThread failed.\n");
        return;
    }

    const StoreNoticeReplay replay;
    // Both waits share one deadline: a plug-in that hangs or never reports in
    // its start-up does not keep the user from their mail. A WM_QUIT ends
    // them (and is not posted again); 0x413 stays queued for the client.
    const DWORD started = GetTickCount();
    auto remaining = [&]() -> DWORD {
        const DWORD spent = GetTickCount() - started;
        return spent >= g_pluginStartupTimeoutMs ? 0 : g_pluginStartupTimeoutMs - spent;
    };
    pumping_wait pump(pumping_wait::input::dispatch, kRepostedWhileStarting);
    auto quit = [&] {
        if (!pump.quit_seen()) return false;
        pump.drop_quit();
        return true;
    };
    while (!PLUMEManager::Get(false) && remaining() > 0) {
        // A server thread that ended without a manager (COM refused) ends the wait.
        if (pump.wait(std::min<DWORD>(remaining(), 10), g_serverThread) == 0 || quit()) return;
    }
    const HANDLE waits[2] = {initialized.get(), g_serverThread};
    for (;;) {
        const DWORD r = pump.wait(remaining(), 2, waits);
        if (quit() || r == 0 || r == 1) return;
        if (remaining() == 0) {
            Log(0, "StartServer: plug-ins did not report within %lu ms (awaited %ld, reported %ld); starting without them.\n",
                static_cast<unsigned long>(g_pluginStartupTimeoutMs), static_cast<long>(AwaitedPlugins()),
                static_cast<long>(ReportedPlugins()));
            SetPluginsInitialized();
            return;
        }
    }
}

void ShutdownServer(int endSession) {
    if (!endSession && (MsgWndCount() > 0 || MainWindow())) return;
    const DWORD started = GetTickCount();
    auto elapsed = [&] { return GetTickCount() - started; };
    pumping_wait pump;
    OEToolbarRegistry::Destroy();
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (manager) {
        manager->SetShuttingDown();
        // An event still being delivered waits on its sinks, which are
        // outside the library's control: the close waits for it a bounded time.
        while (manager->EventsInProgress() > 0) {
            if (elapsed() >= kShutdownEventWaitMs) {
                Log(0, "ShutdownServer: %ld event(s) still being delivered after %lu ms; closing anyway.\n",
                    static_cast<long>(manager->EventsInProgress()), static_cast<unsigned long>(kShutdownEventWaitMs));
                break;
            }
            pump.wait(100);
        }
    }
    SetNamedEvent("PLUME_INIT_EVENT", false);
    SetNamedEvent("PLUME_SHUTDOWN_EVENT", true);
    if (!g_serverThread) return;

    if (!endSession && manager) {
        // Clients release their objects when they see the shutdown event. A
        // client that died or hangs never will: once no connected client
        // answers, after a quiet grace period, or at the latest at
        // kShutdownDisconnectMs, the objects are disconnected on the server
        // thread. Objects held inside the process (a plug-in of the server's
        // own apartment) cannot be disconnected: at kShutdownReleaseMs they
        // are left behind.
        ConnectedClientsWatch clients(g_serverThreadId);
        size_t lastCount = manager->RegisteredObjectCount();
        DWORD lastChange = GetTickCount();
        bool disconnected = false;
        while (!manager->RegistriesEmpty()) {
            if (elapsed() >= kShutdownReleaseMs) {
                Log(0, "ShutdownServer: %u objects still held after %lu ms; closing without them.\n",
                    static_cast<unsigned>(manager->RegisteredObjectCount()),
                    static_cast<unsigned long>(kShutdownReleaseMs));
                break;
            }
            pump.wait(100);
            size_t count = manager->RegisteredObjectCount();
            if (count != lastCount) {
                lastCount = count;
                lastChange = GetTickCount();
            } else if (!disconnected && (clients.NoneAnswers() || GetTickCount() - lastChange >= g_releaseGraceMs ||
                                         elapsed() >= kShutdownDisconnectMs)) {
                Log(0, "ShutdownServer: disconnecting %u objects that clients did not release.\n",
                    static_cast<unsigned>(count));
                PostThreadMessageA(g_serverThreadId, kDisconnectClients, 0, 0);
                disconnected = true;
            }
        }
    }
    if (manager) ClearMessageList(*manager);
    DetachHooks();
    PostThreadMessageA(g_serverThreadId, WM_QUIT, 0, 0);
    // A server thread held in a call to a client that never answers does not
    // keep the mail client from closing: it ends with the process.
    while (WaitForSingleObject(g_serverThread, 0) == WAIT_TIMEOUT) {
        const DWORD spent = elapsed();
        if (spent >= kShutdownDeadlineMs) {
            Log(0, "ShutdownServer: the server thread did not end within %lu ms of closing; closing without it.\n",
                static_cast<unsigned long>(kShutdownDeadlineMs));
            break;
        }
        pump.wait(kShutdownDeadlineMs - spent, g_serverThread);
    }
    CloseHandle(g_serverThread);
    g_serverThread = nullptr;
    RemovePluginFaultRecorder();
}

}  // namespace plume
