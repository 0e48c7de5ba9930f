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

#include "com_ptr.h"
#include "host/msg_wnd_list.h"
#include "manager/callback_window.h"
#include "manager/identifiers.h"
#include "manager/object_registry.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu.h"
#include "client_numbers.h"
#include "recording_sink.h"
#include "server/class_objects.h"
#include "variant_scope.h"
#include "log.h"
#include "pumping_wait.h"
#include "server/server_lifecycle.h"

using plume::com_ptr;
using plume::PLUMEManager;
using plume::test::RecordingSink;

namespace {

// Dispatches what is queued for this thread (the callback window lives here).
void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

struct Root {
    com_ptr<IPLUMEObj> obj;
    com_ptr<RecordingSink> sink = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IPLUMEObjEvents));
    DWORD cookie = 0;

    Root() {
        IClassFactory* factory = plume::FindClassFactory(CLSID_PLUMEObj);
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPLUMEObj, obj.put_void()));
        com_ptr<IConnectionPoint> cp;
        obj.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
            ->FindConnectionPoint(DIID_IPLUMEObjEvents, cp.put());
        EXPECT_EQ(S_OK, cp->Advise(sink.get(), &cookie));
    }
    LONG id() {
        LONG id = -1;
        obj->GetID(&id);
        return id;
    }
    std::vector<DISPID> dispids() const {
        std::vector<DISPID> out;
        for (const auto& c : sink->calls) out.push_back(c.dispid);
        return out;
    }
};

// Collects the library's diagnostic lines while alive.
class LogCapture {
public:
    LogCapture() {
        plume::SetLogObserver([this](int, const char* text) { lines.push_back(text); });
    }
    ~LogCapture() { plume::SetLogObserver(nullptr); }
    bool Saw(const std::string& text) const {
        for (const auto& l : lines)
            if (l == text) return true;
        return false;
    }
    std::vector<std::string> lines;
};

TEST(Identifiers, CountersStartWhereTheProtocolSaysAndNeverRepeat) {
    // Root ids are shared with objects other tests made; only order is checked.
    Root a, b;
    EXPECT_EQ(a.id() + 1, b.id());
    LONG released = b.id();
    b.obj.reset();
    Root c;
    EXPECT_EQ(released + 1, c.id()) << "a released id is not reused";

    // Where each counter starts is proved by the suites that start a fresh
    // process (tests/host, the toolbar end-to-end suite).
    LONG t1 = plume::NextToolbarId(), t2 = plume::NextToolbarId();
    EXPECT_EQ(t1 + 1, t2);
    LONG b1 = plume::NextButtonId();
    EXPECT_EQ(b1 + 1, plume::NextButtonId());
}

TEST(ObjectRegistry, KeepsOrderAndRemovesEveryEntryOfAnObject) {
    struct Item {
        LONG key;
        LONG RegistryKey() const { return key; }
    };
    Item x{5}, y{7}, z{5};
    plume::ObjectRegistry<Item> r;
    r.Add(&x);
    r.Add(&y);
    r.Add(&x);  // duplicates are not checked
    r.Add(&z);
    EXPECT_EQ(&x, r.Find(5)) << "the first match";
    EXPECT_EQ(nullptr, r.Find(6));
    r.Remove(&x);
    EXPECT_EQ(2u, r.size());
    EXPECT_EQ(&z, r.Find(5));
    r.Remove(&y);
    r.Remove(&z);
    EXPECT_TRUE(r.empty());
}

TEST(Manager, RootObjectsRegisterThemselvesForTheirLifetime) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    ASSERT_NE(nullptr, manager);
    EXPECT_EQ(manager, PLUMEManager::Get(false));
    EXPECT_TRUE(IsWindow(manager->callbackWindow()));
    char cls[64] = "";
    GetClassNameA(manager->callbackWindow(), cls, sizeof cls);
    EXPECT_STREQ("PLUME Callback Window sink", cls);

    LONG id;
    {
        Root r;
        id = r.id();
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
    EXPECT_EQ(50102, record.itemId);
    EXPECT_EQ((std::vector<LONG>{50101, 50102}), manager->MenuItemIdsOf(-1));
    manager->RemoveMenuItemRecord(50101);
    EXPECT_FALSE(manager->FindMenuItemRecord(50101, &record));
    manager->RemoveMenuItemRecordsOf(-1);
    EXPECT_TRUE(manager->MenuItemIdsOf(-1).empty());

    // A record of a menu's item takes the menu's owner; a sub-item's record
    // takes its parent item's owner.
    plume::com_ptr<plume::OEMenu> menu = plume::MakeObject<plume::OEMenu>();
    menu->Bind(4, 0, nullptr, 17);
    manager->AddMenuItemRecord(50110, menu->RegistryKey(), -1, nullptr);
    manager->AddMenuItemRecord(50111, 3, 50110, nullptr);
    manager->AddMenuItemRecord(50112, 3, 50111, nullptr);
    ASSERT_TRUE(manager->FindMenuItemRecord(50110, &record));
    EXPECT_EQ(17, record.ownerId);
    ASSERT_TRUE(manager->FindMenuItemRecord(50112, &record));
    EXPECT_EQ(17, record.ownerId) << "inherited from its parent item";
    EXPECT_EQ((std::vector<LONG>{50110, 50111, 50112}), manager->MenuItemIdsOf(17));
    manager->RemoveMenuItemRecord(50110);
    EXPECT_TRUE(manager->MenuItemIdsOf(17).empty()) << "a parent's record takes its sub-items' along";

    // An item of a message window's own registry is heard there only, and
    // its record goes with the window.
    plume::OEMenuRegistry global(nullptr, 0);
    auto own = global.NewCopy(OE_ALL_MSG_WND, reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242)));
    manager->AddMenuItemRecord(50120, menu->RegistryKey(), -1, own);
    manager->AddMenuItemRecord(50121, menu->RegistryKey(), -1, nullptr);
    ASSERT_TRUE(manager->FindMenuItemRecord(50120, &record));
    EXPECT_TRUE(record.HeardIn(0x4242));
    EXPECT_FALSE(record.HeardIn(-1));
    EXPECT_FALSE(record.HeardIn(0x4343));
    ASSERT_TRUE(manager->FindMenuItemRecord(50121, &record));
    EXPECT_TRUE(record.HeardIn(-1) && record.HeardIn(0x4242));
    own->Close();
    EXPECT_EQ((std::vector<LONG>{50121}), manager->MenuItemIdsOf(17));
    EXPECT_FALSE(manager->FindMenuItemRecord(50120, &record));
    manager->RemoveMenuItemRecordsOf(17);
    EXPECT_TRUE(manager->MenuItemIdsOf(17).empty());

    LONG menuId = manager->TakeMenuId();
    EXPECT_EQ(menuId + 1, manager->TakeMenuId());
}

TEST(CallbackWindow, DownloadNoticesReachEveryRootInOrder) {
    using namespace plume::test::client_numbers;
    // The finished code follows the client; the other client's code is no news.
    for (bool windowsMail : {false, true}) {
        SCOPED_TRACE(windowsMail ? "Windows Mail" : "Outlook Express");
        plume::test::VariantScope variant(windowsMail);
        Root first, second;
        plume::PostMessageDownload(0);
        plume::PostMessageDownload(5);  // neither started nor finished: nothing
        plume::PostMessageDownload(windowsMail ? kTransferFinishedOE : kTransferFinishedWM);
        Pump();
        EXPECT_EQ(std::vector<DISPID>{6}, first.dispids());
        plume::PostMessageDownload(windowsMail ? kTransferFinishedWM : kTransferFinishedOE);
        Pump();
        EXPECT_EQ((std::vector<DISPID>{6, 7}), first.dispids());
        EXPECT_EQ((std::vector<DISPID>{6, 7}), second.dispids());
    }
}

TEST(CallbackWindow, FolderChangeWaitsUntilRaisedAndResetsEnumerations) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    Root root;
    manager->selectedMessageIds = {11, 12, 13};
    LONG first = 0;
    ASSERT_EQ(S_OK, root.obj->GetFirstSelectedMessageID(&first));
    ASSERT_EQ(11, first);
    // Posting and waiting on the thread that owns the window: the wait itself
    // dispatches the message, so it returns once the event was raised.
    plume::PostFolderSelectionChanged(7);
    ASSERT_EQ(1u, root.sink->calls.size());
    EXPECT_EQ(3, root.sink->calls[0].dispid);
    EXPECT_EQ(std::vector<long>{7}, root.sink->calls[0].args);
    LONG next = 0;
    EXPECT_EQ(S_OK, root.obj->GetNextSelectedMessageID(&next));
    EXPECT_EQ(-1, next) << "the enumeration was reset (12 would follow 11)";
    manager->selectedMessageIds.clear();
}

TEST(CallbackWindow, UnmatchedRecordsAreLoggedAndTheGateStaysBalanced) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    Root root;
    LogCapture log;
    plume::PostMenuItemClick(-1, 2, 50999);
    plume::PostButtonClick(30999, 60999, -1);
    PostMessageA(manager->callbackWindow(), plume::kPluginInitialized, 0, 0);  // no init object
    PostMessageA(manager->callbackWindow(), plume::kFolderNotify, 0, 0);
    Pump();
    EXPECT_TRUE(log.Saw("RaiseOnMenuItemClicked: Cannot find class representation\n"));
    EXPECT_TRUE(log.Saw("RaiseOnButtonClicked: Cannot find object\n"));
    EXPECT_TRUE(log.Saw("PLUMEWndProc: Can't identify message.\n"));
    EXPECT_TRUE(log.Saw("PLUMEWndProc: WM_FOLDERNOTIFY.\n"));
    EXPECT_TRUE(root.sink->calls.empty());
    EXPECT_EQ(0, manager->EventsInProgress());
}

TEST(CallbackWindow, ASinkThatFailsOrReleasesItsRootDoesNotStopDelivery) {
    Root a, b, c;
    a.sink->result = E_FAIL;
    // b's sink drops the last reference to its own root during the event.
    IPLUMEObj* bObj = b.obj.detach();
    b.sink->onCall = [&](const plume::test::SinkCall&) {
        if (bObj) {
            com_ptr<IConnectionPoint> cp;
            com_ptr<IPLUMEObj>::attach(bObj)
                .query<IConnectionPointContainer>(IID_IConnectionPointContainer)
                ->FindConnectionPoint(DIID_IPLUMEObjEvents, cp.put());
            cp->Unadvise(b.cookie);
            bObj = nullptr;
        }
    };
    plume::PostCurrentMessageChanged(42);
    plume::PostSelectionChanged();
    Pump();
    EXPECT_EQ((std::vector<DISPID>{5, 4}), a.dispids());
    EXPECT_EQ(std::vector<DISPID>{5}, b.dispids()) << "unadvised during the first event";
    EXPECT_EQ((std::vector<DISPID>{5, 4}), c.dispids());
    EXPECT_EQ(std::vector<long>{42}, c.sink->calls[0].args);
    EXPECT_EQ(1, b.sink->refs()) << "the connection's reference was given back";
}

TEST(EventGate, NothingIsRaisedOnceShutdownBegins) {
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
    WNDCLASSA wc{};
    wc.lpfnWndProc = CountingProc;
    wc.lpszClassName = "PlumeWaitTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("PlumeWaitTest", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    std::vector<UINT> seen;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&seen));
    plume::unique_handle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    {
        plume::pumping_wait pump(plume::pumping_wait::input::drop, WM_USER + 7);
        PostMessageA(window, WM_KEYDOWN, 'A', 0);
        PostMessageA(window, WM_USER + 5, 0, 0);
        PostMessageA(window, WM_USER + 7, 0, 0);
        PostMessageA(window, WM_LBUTTONDOWN, 0, 0);
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
    std::vector<UINT> queued;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        queued.push_back(msg.message);
        if (msg.message == WM_QUIT) {
            EXPECT_EQ(3u, msg.wParam);
        }
    }
    EXPECT_EQ((std::vector<UINT>{WM_USER + 6, WM_USER + 7, WM_QUIT}), queued);
    DestroyWindow(window);
}

// The server thread sends to a window of the client's thread, whose handler
// reports a change and would wait for the server thread: the poster does not
// wait for the thread that waits for it, and the event still comes.
TEST(Posters, DoNotWaitForTheThreadThatSentToThem) {
    PLUMEManager::DestroyInstance();  // a running one, whatever earlier tests left
    PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    PLUMEManager* manager = PLUMEManager::Get(true);
    ASSERT_NE(nullptr, manager);
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
    const DWORD start = GetTickCount();
    SendMessageA(window, WM_APP, 0, 0);
    EXPECT_LT(GetTickCount() - start, plume::kPosterWaitMs) << "the poster waited for the thread that sent to it";
    Pump();
    EXPECT_EQ(std::vector<DISPID>{3}, root.dispids());
    SendMessageA(window, WM_APP + 1, 0, 0);
    client.join();
}

// A commit of several records while the server thread does not answer: the
// committing thread waits one poster's bound for them all, not one each, and
// every change is still raised, in order, once the server thread runs.
TEST(Posters, TheRecordsOfOneCommitShareOneWait) {
    PLUMEManager::DestroyInstance();
    PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    PLUMEManager* manager = PLUMEManager::Get(true);
    ASSERT_NE(nullptr, manager);
    Root root;
    DWORD took = 0;
    std::thread committer([&] {
        const DWORD start = GetTickCount();
        const plume::CommitWaitBudget budget;
        for (int id = 1; id <= 3; ++id) manager->OnStoreChange(257, 1, 2, id, 0, 0, 0);
        took = GetTickCount() - start;
    });
    committer.join();  // this thread, the server's, serves nothing meanwhile
    EXPECT_LT(took, 2 * plume::kPosterWaitMs) << "each record waited on its own";
    Pump();
    std::vector<long> ids;
    for (const auto& call : root.sink->calls)
        if (call.dispid == 13) ids.push_back(call.args.at(2));
    EXPECT_EQ((std::vector<long>{1, 2, 3}), ids);
}

TEST(ManagerOwnership, OnlyTheOwnerThreadMakesItAndEarlierActivityIsDropped) {
    PLUMEManager::DestroyInstance();
    EXPECT_EQ(nullptr, PLUMEManager::Get(true)) << "with no owner thread nobody makes the manager";

    // Hooks that fire before the server thread has made the manager: nothing
    // is posted (a post to no window would land in this thread's queue) and
    // nothing waits.
    plume::PostButtonClick(30100, 60100, -1);
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

TEST(CallbackWindow, RecordsPostedByOtherProgramsAreNeverTouched) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    Root root;
    const plume::RegisteredMessages& m = plume::Messages();
    HWND window = manager->callbackWindow();
    // Any program can post these with any parameters: none may be taken for
    // one of the library's records.
    PostMessageA(window, m.buttonClicked, 0x1234, 0);
    PostMessageA(window, m.menuItemClicked, static_cast<WPARAM>(0xDEADBEEF), 0);
    PostMessageA(window, m.databaseChange, 0x10, 0);
    PostMessageA(window, plume::kFolderSelectionChanged, 0, 0x20);
    PostMessageA(window, m.unbindMsgWnd, 0, 0x30);
    Pump();
    EXPECT_TRUE(root.sink->calls.empty());
    EXPECT_EQ(0, manager->EventsInProgress());
    // The library's own records still go through, once.
    plume::PostMessageDownload(0);
    Pump();
    EXPECT_EQ(std::vector<DISPID>{6}, root.dispids());
}

TEST(Lifecycle, StartServerOutsideTheMailClientDoesNothing) {
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    plume::StartServer(window);
    EXPECT_EQ(nullptr, plume::ServerThread());
    plume::StartServer(nullptr);
    EXPECT_EQ(nullptr, plume::ServerThread());
    DestroyWindow(window);
}

}  // namespace
