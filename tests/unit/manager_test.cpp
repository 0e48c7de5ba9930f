// The manager in this process: registries, identifiers, the event gate, the
// callback window's protocol and the raise operations, driven by posting
// the internal messages exactly as the hook layer does.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <string>
#include <thread>
#include <vector>

#include "bstr.h"
#include "client_numbers.h"
#include "com_ptr.h"
#include "host/msg_wnd_list.h"
#include "log_lines.h"
#include "manager/callback_window.h"
#include "manager/identifiers.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "object_events.h"
#include "pumping_wait.h"
#include "server/server_lifecycle.h"
#include "ui/oe_menu.h"
#include "variant_scope.h"
#include "window_class.h"

using plume::com_ptr;
using plume::PLUMEManager;
using plume::test::LogLines;
using plume::test::Pump;
using namespace plume::test::client_numbers;

namespace {

struct Root {
    com_ptr<IPLUMEObj> obj = plume::test::NewRoot();
    com_ptr<plume::test::RecordingSink> sink = plume::test::Advise(obj.get(), DIID_IPLUMEObjEvents);
};

// Identifiers start where the contract says: seen in a process of its own
// (this program again), where nothing was made before.
TEST(Identifiers, AFreshProcessStartsEveryKindWhereTheContractSaysAndNeverRepeats) {
    if (!GetEnvironmentVariableA("PLUME_TEST_FRESH_PROCESS", nullptr, 0)) {
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(exe) + L"\" --gtest_filter=Identifiers.AFreshProcess*";
        SetEnvironmentVariableA("PLUME_TEST_FRESH_PROCESS", "1");
        STARTUPINFOW si{sizeof si};
        si.dwFlags = STARTF_USESTDHANDLES;  // its failures show in this output
        si.hStdOutput = si.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
        PROCESS_INFORMATION pi{};
        const BOOL started = CreateProcessW(exe, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        SetEnvironmentVariableA("PLUME_TEST_FRESH_PROCESS", nullptr);
        ASSERT_TRUE(started);
        const plume::unique_handle process(pi.hProcess), thread(pi.hThread);
        DWORD code = STILL_ACTIVE;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 60000));
        GetExitCodeProcess(pi.hProcess, &code);
        EXPECT_EQ(0u, code) << "the checks in the fresh process failed";
        return;
    }
    using plume::test::IdOf;
    com_ptr<IPLUMEObj> first = plume::test::NewRoot(), second = plume::test::NewRoot();
    EXPECT_EQ(kFirstRootId, IdOf(first));
    EXPECT_EQ(kFirstRootId + 1, IdOf(second));
    second.reset();
    EXPECT_EQ(kFirstRootId + 2, IdOf(plume::test::NewRoot())) << "a released id is not reused";

    com_ptr<IOEToolbar> toolbar, next;
    ASSERT_EQ(S_OK, first->CreateToolbar(toolbar.put()));
    ASSERT_EQ(S_OK, first->CreateToolbar(next.put()));
    EXPECT_EQ(kFirstToolbarId, IdOf(toolbar));
    EXPECT_EQ(kFirstToolbarId + 1, IdOf(next));
    com_ptr<IOEButton> button, separator;
    ASSERT_EQ(S_OK, toolbar->CreateButton(plume::bstr(L"b").get(), nullptr, nullptr, button.put()));
    ASSERT_EQ(S_OK, next->CreateSeparator(separator.put()));
    EXPECT_EQ(kFirstButtonId, IdOf(button));
    EXPECT_EQ(kFirstButtonId + 1, IdOf(separator)) << "separators count with the buttons";

    // OEMenu objects count from 0; the process-wide menu items from 50101.
    com_ptr<IOEMenu> menus[2];
    for (auto& menu : menus) ASSERT_EQ(S_OK, first->GetMenu(2, menu.put()));
    for (LONG menuId : {kFirstMenuId, kFirstMenuId + 1}) {
        com_ptr<IOEMenuItem> item;
        ASSERT_EQ(S_OK, plume::FindClassFactory(CLSID_OEMenuItem)->CreateInstance(nullptr, IID_IOEMenuItem,
                                                                                   item.put_void()));
        ASSERT_EQ(S_OK, item->Create(menuId, plume::bstr(L"i").get()));
        EXPECT_EQ(kFirstMenuItemId + menuId - kFirstMenuId, IdOf(item)) << "made through menu " << menuId;
    }
}

TEST(Manager, RootObjectsRegisterThemselvesForTheirLifetime) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    ASSERT_NE(nullptr, manager);
    EXPECT_EQ(manager, PLUMEManager::Get(false));
    char cls[64] = "";
    GetClassNameA(manager->callbackWindow(), cls, sizeof cls);
    EXPECT_STREQ("PLUME Callback Window sink", cls);
    LONG id;
    {
        Root r;
        id = plume::test::IdOf(r.obj);
        EXPECT_NE(nullptr, manager->FindRootObject(id));
        EXPECT_FALSE(manager->RegistriesEmpty());
    }
    EXPECT_EQ(nullptr, manager->FindRootObject(id));
    EXPECT_TRUE(manager->RegistriesEmpty());
}

TEST(Manager, MenuItemRecordsInheritTheirOwner) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    manager->AddMenuItemRecord(50101, 3, -1, nullptr);   // no such menu: no owner
    manager->AddMenuItemRecord(50102, 3, 999, nullptr);  // parent without a record: no owner
    plume::MenuItemRecord record;
    ASSERT_TRUE(manager->FindMenuItemRecord(50102, &record));
    EXPECT_EQ(-1, record.ownerId);
    EXPECT_EQ(3, record.menuId);
    EXPECT_EQ((std::vector<LONG>{50101, 50102}), manager->MenuItemIdsOf(-1));
    manager->RemoveMenuItemRecord(50101);
    EXPECT_FALSE(manager->FindMenuItemRecord(50101, &record));
    manager->RemoveMenuItemRecordsOf(-1);
    EXPECT_TRUE(manager->MenuItemIdsOf(-1).empty());

    // A record of a menu's item takes the menu's owner; a sub-item's record
    // takes its parent item's owner.
    com_ptr<plume::OEMenu> menu = plume::MakeObject<plume::OEMenu>();
    menu->Bind(4, 0, nullptr, 17);
    manager->AddMenuItemRecord(50110, menu->RegistryKey(), -1, nullptr);
    manager->AddMenuItemRecord(50111, 3, 50110, nullptr);
    manager->AddMenuItemRecord(50112, 3, 50111, nullptr);
    ASSERT_TRUE(manager->FindMenuItemRecord(50112, &record));
    EXPECT_EQ(17, record.ownerId) << "inherited from its parent item";
    EXPECT_EQ((std::vector<LONG>{50110, 50111, 50112}), manager->MenuItemIdsOf(17));
    manager->RemoveMenuItemRecord(50110);
    EXPECT_TRUE(manager->MenuItemIdsOf(17).empty()) << "a parent's record takes its sub-items' along";
}

TEST(CallbackWindow, DownloadNoticesReachEveryRootInOrder) {
    // The finished code follows the client; the other client's code is no news.
    for (bool windowsMail : {false, true}) {
        SCOPED_TRACE(windowsMail ? "Windows Mail" : "Outlook Express");
        plume::test::VariantScope variant(windowsMail);
        Root first, second;
        plume::PostMessageDownload(0);
        plume::PostMessageDownload(5);  // neither started nor finished: nothing
        plume::PostMessageDownload(windowsMail ? kTransferFinishedOE : kTransferFinishedWM);
        Pump();
        EXPECT_EQ(std::vector<DISPID>{root_event::kDownloadStarted}, first.sink->Dispids());
        plume::PostMessageDownload(windowsMail ? kTransferFinishedWM : kTransferFinishedOE);
        Pump();
        for (Root* r : {&first, &second})
            EXPECT_EQ((std::vector<DISPID>{root_event::kDownloadStarted, root_event::kDownloadFinished}),
                      r->sink->Dispids());
    }
}

TEST(CallbackWindow, FolderChangeWaitsUntilRaisedAndResetsEnumerations) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    Root root;
    manager->selectedMessageIds = {11, 12, 13};
    ASSERT_EQ(11, plume::test::Get(root.obj, &IPLUMEObj::GetFirstSelectedMessageID));
    // Posting and waiting on the thread that owns the window: the wait itself
    // dispatches the message, so it returns once the event was raised.
    plume::PostFolderSelectionChanged(7);
    ASSERT_EQ(1u, root.sink->calls.size());
    EXPECT_EQ(root_event::kFolderSelectionChanged, root.sink->calls[0].dispid);
    EXPECT_EQ(std::vector<long>{7}, root.sink->calls[0].args);
    EXPECT_EQ(-1, plume::test::Get(root.obj, &IPLUMEObj::GetNextSelectedMessageID))
        << "the enumeration was reset (12 would follow 11)";
    manager->selectedMessageIds.clear();
}

// Unmatched records are logged; any program can post the numbers with any
// parameters, and none may be taken for one of the library's records.
TEST(CallbackWindow, UnmatchedAndForeignMessagesAreLoggedOrIgnoredAndTheGateStaysBalanced) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    Root root;
    LogLines log;
    HWND window = manager->callbackWindow();
    plume::PostMenuItemClick(-1, 2, 50999);
    plume::PostButtonClick(30999, 60999, -1);
    PostMessageA(window, kPluginInitialized, 0, 0);  // no init object
    PostMessageA(window, kFolderNotify, 0, 0);
    for (const char* name : {"PLUME.OnButtonClick", "PLUME.OnMenuItemClick", "PLUME.OnDatabaseChange"})
        PostMessageA(window, RegisterWindowMessageA(name), 0x1234, 0);
    // A folder notice with a block that looks right but was never sent (on
    // this stack: freeing it would crash), or with no block.
    INT32 forged[3] = {8, 77, 77};
    for (LPARAM block : {LPARAM(0x20), reinterpret_cast<LPARAM>(forged), LPARAM(0)})
        PostMessageA(window, kFolderChangeMessage, 0, block);
    PostMessageA(window, RegisterWindowMessageA("PLUME.UnbindMsgWnd"), 0, 0x30);
    Pump();
    for (const char* line : {"RaiseOnMenuItemClicked: Cannot find class representation\n",
                             "RaiseOnButtonClicked: Cannot find object\n", "PLUMEWndProc: Can't identify message.\n",
                             "PLUMEWndProc: WM_FOLDERNOTIFY.\n"})
        EXPECT_TRUE(log.Has(line)) << line;
    EXPECT_TRUE(root.sink->calls.empty());
    EXPECT_EQ(0, manager->EventsInProgress());
    // The library's own records still go through, once.
    plume::PostMessageDownload(0);
    Pump();
    EXPECT_EQ(std::vector<DISPID>{root_event::kDownloadStarted}, root.sink->Dispids());
}

TEST(CallbackWindow, ASinkThatFailsOrReleasesItsRootDoesNotStopDelivery) {
    Root a, b, c;
    a.sink->result = E_FAIL;
    // b's sink drops the last reference to its own root during the event.
    IPLUMEObj* bObj = b.obj.detach();
    b.sink->onCall = [&](const plume::test::SinkCall&) {
        if (!bObj) return;
        com_ptr<IConnectionPoint> cp;
        com_ptr<IPLUMEObj>::attach(std::exchange(bObj, nullptr))
            .query<IConnectionPointContainer>(IID_IConnectionPointContainer)
            ->FindConnectionPoint(DIID_IPLUMEObjEvents, cp.put());
        cp->Unadvise(b.sink->cookie);
    };
    plume::PostCurrentMessageChanged(42);
    plume::PostSelectionChanged();
    Pump();
    const std::vector<DISPID> both = {root_event::kCurrentMessageChanged, root_event::kMessageSelectionChanged};
    EXPECT_EQ(both, a.sink->Dispids());
    EXPECT_EQ(std::vector<DISPID>{both[0]}, b.sink->Dispids()) << "unadvised during the first event";
    EXPECT_EQ(both, c.sink->Dispids());
    EXPECT_EQ(std::vector<long>{42}, c.sink->calls[0].args);
    EXPECT_EQ(1, b.sink->refs()) << "the connection's reference was given back";
}

TEST(EventGate, NothingIsRaisedOnceShutdownBegins) {
    {
        PLUMEManager* manager = PLUMEManager::Get(true);
        Root root;
        ASSERT_TRUE(manager->EnterEvent());
        EXPECT_EQ(1, manager->EventsInProgress());
        manager->LeaveEvent();
        EXPECT_EQ(0, manager->EventsInProgress());

        manager->SetShuttingDown();
        EXPECT_FALSE(manager->EnterEvent());
        EXPECT_EQ(0, manager->EventsInProgress());
        plume::PostMessageDownload(0);
        // A poster waiting for a folder event is released rather than left hanging.
        plume::PostFolderSelectionChanged(3);
        Pump();
        EXPECT_TRUE(root.sink->calls.empty());
    }
    plume::test::FreshManager();  // the next test's, with its gate open
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* seen = reinterpret_cast<std::vector<UINT>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (seen && (message == WM_KEYDOWN || message == WM_LBUTTONDOWN || message == WM_NULL ||
                 (message >= WM_USER && message <= WM_USER + 9)))
        seen->push_back(message);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A wait that serves the thread's messages: posted messages are dispatched
// (input dropped when asked, one number held back for after the wait); a
// WM_QUIT ends the dispatching of posted messages (sent ones are still
// served) and is posted again, once, when the waiter goes.
TEST(PumpingWait, ServesMessagesAndKeepsAQuitForTheClientsLoop) {
    HWND window = CreateWindowA(plume::test::WindowClass("PlumeWaitTest", CountingProc), "", 0, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    std::vector<UINT> seen;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    plume::unique_handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    {
        plume::pumping_wait pump(plume::pumping_wait::input::drop, WM_USER + 7);
        for (UINT m : {UINT(WM_KEYDOWN), UINT(WM_USER + 5), UINT(WM_USER + 7), UINT(WM_LBUTTONDOWN)}) PostMessageA(window, m, 0, 0);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), pump.wait(50, event.get()));
        EXPECT_EQ((std::vector<UINT>{WM_USER + 5}), seen);

        PostQuitMessage(3);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), pump.wait(50, event.get()));
        EXPECT_TRUE(pump.quit_seen());
        std::thread sender([&] {
            PostMessageA(window, WM_USER + 6, 0, 0);
            SendMessageA(window, WM_USER + 8, 0, 0);  // served during the wait
            SetEvent(event.get());
        });
        EXPECT_EQ(0u, pump.wait(5000, event.get()));
        sender.join();
        EXPECT_EQ((std::vector<UINT>{WM_USER + 5, WM_USER + 8}), seen) << "posted after the quit: kept";
        // A handle that cannot be waited on ends the wait rather than spinning it.
        EXPECT_EQ(0u, pump.wait(5000, reinterpret_cast<HANDLE>(0x7770)));
    }
    // The held message and the quit are queued again, the quit once and last.
    std::vector<std::pair<UINT, WPARAM>> queued;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) queued.push_back({msg.message, msg.wParam});
    EXPECT_EQ((std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 6, 0}, {WM_USER + 7, 0}, {WM_QUIT, 3}}), queued);
    DestroyWindow(window);
}

// The server thread sends to a window of the client's thread, whose handler
// reports a change and would wait for the server thread: the poster does not
// wait for the thread that waits for it, and the event still comes.
TEST(Posters, DoNotWaitForTheThreadThatSentToThem) {
    ASSERT_NE(nullptr, plume::test::FreshManager());
    Root root;
    HWND window = nullptr;
    plume::unique_handle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread client([&] {
        window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) {
                              if (m == WM_APP) plume::PostFolderSelectionChanged(3);
                              if (m == WM_APP + 1) DestroyWindow(h);
                              if (m == WM_DESTROY) PostQuitMessage(0);
                              return DefWindowProcA(h, m, w, l);
                          }));
        SetEvent(ready.get());
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    });
    WaitForSingleObject(ready.get(), 5000);
    LogLines log;
    const ULONGLONG start = GetTickCount64();
    SendMessageA(window, WM_APP, 0, 0);
    EXPECT_LT(GetTickCount64() - start, plume::kPosterWaitMs / 2) << "the poster waited for the thread that sent to it";
    EXPECT_FALSE(log.Has("PLUMEManager::PostAndWait: no answer"));
    Pump();
    EXPECT_EQ(std::vector<DISPID>{root_event::kFolderSelectionChanged}, root.sink->Dispids());
    SendMessageA(window, WM_APP + 1, 0, 0);
    client.join();
}

// A commit of several records while the server thread does not answer: the
// committing thread waits one poster's bound for them all, not one each, and
// every change is still raised, in order, once the server thread runs.
TEST(Posters, TheRecordsOfOneCommitShareOneWait) {
    PLUMEManager* manager = plume::test::FreshManager();
    ASSERT_NE(nullptr, manager);
    Root root;
    DWORD took = 0;
    std::thread committer([&] {
        const DWORD start = GetTickCount();
        const plume::CommitWaitBudget budget;
        for (int id = 1; id <= 3; ++id) manager->OnStoreChange(kInsertMessage, 1, 2, id, 0, 0, 0);
        took = GetTickCount() - start;
    });
    committer.join();  // this thread, the server's, serves nothing meanwhile
    EXPECT_LT(took, 2 * plume::kPosterWaitMs) << "each record waited on its own";
    Pump();
    std::vector<long> ids;
    for (const auto& call : root.sink->calls)
        if (call.dispid == root_event::kDatabaseChange) ids.push_back(call.args.at(2));
    EXPECT_EQ((std::vector<long>{1, 2, 3}), ids);
}

TEST(ManagerOwnership, OnlyTheOwnerThreadMakesItAndEarlierActivityIsDropped) {
    PLUMEManager::DestroyInstance();
    EXPECT_EQ(nullptr, PLUMEManager::Get(true)) << "with no owner thread nobody makes the manager";

    // Hooks that fire before the server thread has made the manager: nothing
    // is posted (a post to no window would land in this thread's queue) and
    // nothing waits.
    plume::PostButtonClick(kFirstToolbarId, kFirstButtonId, -1);
    plume::PostMessageDownload(0);
    plume::PostSelectionChanged();
    plume::PostFolderSelectionChanged(3);
    plume::PostMsgWndClosed(reinterpret_cast<HWND>(0x1234), true);
    EXPECT_FALSE(plume::PostMsgWndSendButton(reinterpret_cast<HWND>(0x1234), 0));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_NOREMOVE)) << "a thread message was posted";

    PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    PLUMEManager* seenByOther = reinterpret_cast<PLUMEManager*>(1);
    std::thread([&] { seenByOther = PLUMEManager::Get(true); }).join();
    EXPECT_EQ(nullptr, seenByOther) << "another thread only looks";
    PLUMEManager* made = PLUMEManager::Get(true);
    ASSERT_NE(nullptr, made);
    std::thread([&] { seenByOther = PLUMEManager::Get(true); }).join();
    EXPECT_EQ(made, seenByOther);
    EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(made->callbackWindow(), nullptr))
        << "the callback window belongs to the owner thread";
}

TEST(Lifecycle, StartServerOutsideTheMailClientDoesNothing) {
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    for (HWND host : {window, HWND(nullptr)}) {
        plume::StartServer(host);
        EXPECT_EQ(nullptr, plume::ServerThread());
    }
    DestroyWindow(window);
}

}  // namespace
