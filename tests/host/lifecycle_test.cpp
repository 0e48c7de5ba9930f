// The server's whole life inside a process the library takes for the mail
// client: StartServer on windows this test makes, objects reached over COM
// as a client process would, events on real sinks, and the shutdown that
// the main window's destruction starts.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <plume.h>
#include <plume_plugin.h>
#include <plume_sandbox.h>

#include <algorithm>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "client_numbers.h"
#include "client_variant.h"
#include "host/hooks.h"
#include "host/msg_wnd_list.h"
#include "log.h"
#include "manager/plume_manager.h"
#include "recording_sink.h"
#include "registry_scope.h"
#include "server/self_registration.h"
#include "server/server_lifecycle.h"
#include "unique_any.h"

using plume::com_ptr;
using plume::test::Advise;

namespace {

std::wstring LibraryPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    dir = dir.substr(0, dir.find_last_of(L"\\/"));
    return dir.substr(0, dir.find_last_of(L"\\/") + 1) + L"plumesrv.dll";
}

// The named events as a plug-in sees them: it holds handles of its own, so
// their state outlives the server's handles.
struct NamedEvents {
    plume::unique_handle init{CreateEventA(nullptr, TRUE, FALSE, "PLUME_INIT_EVENT")};
    plume::unique_handle shutdown{CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT")};
    plume::unique_handle plugins{CreateEventA(nullptr, TRUE, FALSE, "PLUME_PLUGINS_INITIALIZED_EVENT")};
};

bool Signalled(const plume::unique_handle& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

int g_seen413 = 0;

LRESULT CALLBACK ClientProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 19) ++g_seen413;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class ServerLifecycle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(S_OK, plume::RegisterPlumeTypeLib(LibraryPath().c_str()));
    }
    void SetUp() override {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ClientProc;
        for (const char* name : {"ThorBrowserWndClass", "ATH_Note", "ME_DocHost"}) {
            wc.lpszClassName = name;
            RegisterClassA(&wc);
        }
        g_seen413 = 0;
    }
    void TearDown() override {
        for (HWND w : windows_)
            if (IsWindow(w)) DestroyWindow(w);
        EXPECT_EQ(nullptr, plume::ServerThread()) << "the server is still running";
    }

    HWND MakeWindow(const char* cls, HWND parent = nullptr) {
        HWND w = CreateWindowA(cls, cls, parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                               parent, nullptr, nullptr, nullptr);
        windows_.push_back(w);
        return w;
    }

    static com_ptr<IPLUMEObj> CreateRoot() {
        com_ptr<IPLUMEObj> root;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                         root.put_void()));
        return root;
    }

    std::vector<HWND> windows_;
};

TEST_F(ServerLifecycle, StartsInTheClientAndStopsWithItsMainWindow) {
    EXPECT_TRUE(plume::IsHostProcess());
    NamedEvents events;
    HWND main = MakeWindow("ThorBrowserWndClass");
    plume::StartServer(main);
    ASSERT_NE(nullptr, plume::ServerThread());
    EXPECT_NE(nullptr, plume::PLUMEManager::Get(false));
    EXPECT_TRUE(Signalled(events.plugins)) << "no plug-in is awaited";
    // The init event follows right after, on the server thread.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.init.get(), 5000));
    EXPECT_FALSE(Signalled(events.shutdown));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(plume::MainWndProc), GetWindowLongPtrA(main, GWLP_WNDPROC));

    // A second start does nothing.
    HANDLE thread = plume::ServerThread();
    plume::StartServer(main);
    EXPECT_EQ(thread, plume::ServerThread());

    {
        // A root knows the main window (where each kind of id starts is the
        // unit tests' Identifiers.AFreshProcess… and the client's, library_e2e).
        com_ptr<IPLUMEObj> root = CreateRoot();
        ASSERT_TRUE(root);
        LONG window = 0;
        EXPECT_EQ(S_OK, root->GetOEMainWindow(&window));
        EXPECT_EQ(static_cast<LONG>(reinterpret_cast<INT_PTR>(main)), window);
    }

    DestroyWindow(main);
    EXPECT_EQ(nullptr, plume::ServerThread());
    EXPECT_EQ(nullptr, plume::PLUMEManager::Get(false));
    EXPECT_TRUE(Signalled(events.shutdown));
    EXPECT_FALSE(Signalled(events.init));
}

// Sets the counter's awaited plug-ins for the next start; restores on exit.
struct AwaitedPlugins : plume::test::ScopedRegistryValue {
    explicit AwaitedPlugins(DWORD count)
        : ScopedRegistryValue(HKEY_CURRENT_USER, L"Software\\Vexlor\\PLUME\\InitObject", L"AwaitedPlugins") {
        SetDword(count);
    }
};

// A plug-in that reports its initialisation from a thread of its own, once
// the server's callback window exists.
DWORD WINAPI ReportingPlugin(LPVOID) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    for (int i = 0; i < 500 && !FindWindowA("PLUME Callback Window sink", nullptr); ++i) Sleep(10);
    Sleep(300);  // the server waits meanwhile
    const bool reported = plume_plugin::ReportReady();  // as the SDK's plug-ins report
    CoUninitialize();
    return reported ? 0 : 1;
}

TEST_F(ServerLifecycle, StartServerWaitsForAwaitedPluginsToReport) {
    AwaitedPlugins one(1);
    NamedEvents events;
    HWND main = MakeWindow("ThorBrowserWndClass");
    HANDLE plugin = CreateThread(nullptr, 0, ReportingPlugin, nullptr, 0, nullptr);
    const DWORD start = GetTickCount();
    plume::StartServer(main);
    const DWORD took = GetTickCount() - start;
    DWORD pluginResult = 99;
    WaitForSingleObject(plugin, 10000);
    GetExitCodeThread(plugin, &pluginResult);
    CloseHandle(plugin);
    EXPECT_EQ(0u, pluginResult) << "the plug-in could not report";
    EXPECT_TRUE(Signalled(events.plugins));
    EXPECT_GE(took, 300u) << "StartServer returned before the plug-in reported";
    DestroyWindow(main);
}

TEST_F(ServerLifecycle, PluginsThatNeverReportDelayTheClientOnlyForABoundedTime) {
    AwaitedPlugins two(2);  // nobody will report
    NamedEvents events;
    std::vector<std::string> log;
    plume::SetLogObserver([&](int, const char* text) { log.push_back(text); });
    plume::SetPluginStartupTimeout(400);
    HWND main = MakeWindow("ThorBrowserWndClass");
    const DWORD start = GetTickCount();
    plume::StartServer(main);
    const DWORD took = GetTickCount() - start;
    plume::SetPluginStartupTimeout(plume::kPluginStartupTimeoutMs);
    plume::SetLogObserver(nullptr);
    EXPECT_GE(took, 350u) << "it did wait for the plug-ins";
    EXPECT_LT(took, 5000u) << "the wait is bounded";
    EXPECT_TRUE(Signalled(events.plugins)) << "plug-ins and other processes see the start-up as done";
    const std::string said = "StartServer: plug-ins did not report within 400 ms (awaited 2, reported 0); starting without them.\n";
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), said)) << (log.empty() ? std::string("nothing logged") : log.back());
    EXPECT_EQ(30000u, plume::kPluginStartupTimeoutMs);
    // The server runs as usual.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.init.get(), 5000));
    DestroyWindow(main);
}

TEST_F(ServerLifecycle, StartupWaitKeepsMessage0x413AndConsumesAQuit) {
    HWND main = MakeWindow("ThorBrowserWndClass");
    PostMessageA(main, WM_USER + 19, 0, 0);
    plume::StartServer(main);
    EXPECT_EQ(0, g_seen413) << "not dispatched while StartServer waits";
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, main, WM_USER + 19, WM_USER + 19, PM_NOREMOVE)) << "still queued";
    plume_sandbox::WaitFor([] { return g_seen413 == 1; }, 1000);
    EXPECT_EQ(1, g_seen413);
    DestroyWindow(main);
    EXPECT_EQ(nullptr, plume::ServerThread());

    // A WM_QUIT taken by the first wait ends that wait and is not given back.
    HWND again = MakeWindow("ThorBrowserWndClass");
    PostQuitMessage(7);
    plume::StartServer(again);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    plume_sandbox::WaitFor([] { return plume::PLUMEManager::Get(false) != nullptr; }, 10000);
    DestroyWindow(again);
}

TEST_F(ServerLifecycle, MessageWindowsAreReportedAndKeepTheServerAlive) {
    HWND main = MakeWindow("ThorBrowserWndClass");
    plume::StartServer(main);
    com_ptr<IPLUMEObj> root = CreateRoot();
    auto sink = Advise(root.get(), DIID_IPLUMEObjEvents);
    ASSERT_TRUE(sink);

    // The hook sees the new message window; its first child starts the
    // timer whose first tick reports it.
    HWND note = MakeWindow("ATH_Note");
    ASSERT_NE(nullptr, plume::FindMsgWnd(note, false));
    MakeWindow("ME_DocHost", note);
    const LONG noteId = static_cast<LONG>(reinterpret_cast<INT_PTR>(note));
    ASSERT_TRUE(plume_sandbox::WaitFor([&] { return !sink->calls.empty(); }, 10000));
    EXPECT_EQ(plume::test::client_numbers::root_event::kNewMsgWnd, sink->calls[0].dispid);
    EXPECT_EQ(std::vector<long>{noteId}, sink->calls[0].args);

    // The main window goes first: the server waits for the message window.
    DestroyWindow(main);
    EXPECT_NE(nullptr, plume::ServerThread());
    LONG window = -1;
    EXPECT_EQ(S_OK, root->GetOEMainWindow(&window));
    EXPECT_EQ(0, window);

    // Closing it reports the close (and waits until that was raised).
    sink->calls.clear();
    root.reset();
    // The sink was advised on a root that is gone now: advise a new one.
    com_ptr<IPLUMEObj> other = CreateRoot();
    auto closeSink = Advise(other.get(), DIID_IPLUMEObjEvents);
    ASSERT_TRUE(closeSink);
    closeSink->onCall = [&](const plume::test::SinkCall& call) {
        // A client lets go of everything when the last window closes.
        if (call.dispid == plume::test::client_numbers::root_event::kMsgWndClosed && other) {
            com_ptr<IConnectionPointContainer> cpc = other.query<IConnectionPointContainer>(
                IID_IConnectionPointContainer);
            com_ptr<IConnectionPoint> cp;
            cpc->FindConnectionPoint(DIID_IPLUMEObjEvents, cp.put());
            cp->Unadvise(closeSink->cookie);
            other.reset();
        }
    };
    const DWORD start = GetTickCount();
    DestroyWindow(note);
    ASSERT_EQ(1u, closeSink->calls.size());
    EXPECT_EQ(plume::test::client_numbers::root_event::kMsgWndClosed, closeSink->calls[0].dispid);
    EXPECT_EQ((std::vector<long>{noteId, 0}), closeSink->calls[0].args);
    // The close of the last window ran the pending shutdown, without waiting
    // for a grace period.
    EXPECT_EQ(nullptr, plume::ServerThread());
    EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(ServerLifecycle, EndSessionDoesNotWaitForClients) {
    NamedEvents events;
    HWND main = MakeWindow("ThorBrowserWndClass");
    plume::StartServer(main);
    com_ptr<IPLUMEObj> root = CreateRoot();
    ASSERT_TRUE(root);
    SendMessageA(main, WM_ENDSESSION, 0, 0);  // the session does not end: nothing
    EXPECT_NE(nullptr, plume::ServerThread());
    SendMessageA(main, WM_ENDSESSION, 1, 0);
    EXPECT_EQ(nullptr, plume::ServerThread());
    EXPECT_TRUE(Signalled(events.shutdown));
    // The proxy's object is gone with the server.
    LONG id = 0;
    EXPECT_NE(S_OK, root->GetID(&id));
    root.reset();
}

// Objects that nobody releases are disconnected, so that the close ends. A
// holder in another apartment of the process cannot be seen from the server
// (calls within the process use no connection), and no other process holds
// a connection: they are disconnected at once, without the grace period.
TEST_F(ServerLifecycle, ObjectsNobodyReleasesAreDisconnected) {
    plume::SetReleaseGracePeriod(8000);
    HWND main = MakeWindow("ThorBrowserWndClass");
    plume::StartServer(main);
    com_ptr<IPLUMEObj> held = CreateRoot();  // never released before the shutdown
    ASSERT_TRUE(held);
    const DWORD start = GetTickCount();
    DestroyWindow(main);
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(nullptr, plume::ServerThread());
    EXPECT_LT(took, 8000u) << "no connected client answers: the grace period is not waited for";
    LONG id = 0;
    EXPECT_NE(S_OK, held->GetID(&id)) << "disconnected";
}

}  // namespace
