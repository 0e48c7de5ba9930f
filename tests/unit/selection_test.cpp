// Folder and message selection against real tree and list views made here,
// and the message-list binder against a client list class of the test's own
// and against the stand-in's msoe.dll.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <plume.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "com_ptr.h"
#include "client_numbers.h"
#include "client_variant.h"
#include "fake_message_list.h"
#include "host/hooks.h"
#include "host/vex_message_list.h"
#include "log_lines.h"
#include "manager/plume_manager.h"
#include "manager/selection.h"
#include "object_events.h"
#include "test_paths.h"
#include "ui/toolbar_registry.h"
#include "unique_any.h"
#include "window_class.h"

using plume::com_ptr;
using plume::PLUMEManager;
using plume::test::ClientFills;
using plume::test::FakeList;
using plume::test::Pump;
using namespace plume::test::client_numbers;

namespace {

using plume::test::AnyFn;

// The Outlook Express binder, reaching the test's class.
class TestBinder final : public plume::VexMessageListOE {
public:
    explicit TestBinder(FakeList* prototype) : prototype_(prototype) {}
    HRESULT GetMessageList(IUnknown** object) override {
        if (FAILED(createResult)) return createResult;
        ++prototype_->refs;
        *object = reinterpret_cast<IUnknown*>(prototype_);
        return S_OK;
    }
    HRESULT createResult = S_OK;

private:
    FakeList* prototype_;
};

// Puts a binder in the manager for a test and the previous one back after.
// The manager's own binder is unhooked meanwhile, as it may have patched
// the class of the test.
class BinderScope {
public:
    explicit BinderScope(std::shared_ptr<plume::VexMessageList> binder) {
        PLUMEManager* m = PLUMEManager::Get(true);
        plume::cs_lock hold(m->storeLock());
        previous_ = m->messageList;
        m->messageList = std::move(binder);
        if (previous_) {
            wasHooked_ = previous_->hooked();
            previous_->RemoveHook();
        }
    }
    ~BinderScope() {
        PLUMEManager* m = PLUMEManager::Get(true);
        plume::cs_lock hold(m->storeLock());
        m->messageList = previous_;
        if (previous_ && wasHooked_) previous_->SetHook();
    }

private:
    std::shared_ptr<plume::VexMessageList> previous_;
    bool wasHooked_ = false;
};

TEST(MessageListBinder, PatchesSlotFourBindsOnSuccessAndLooksRowsUp) {
    plume::test::BuildFakeListTables();
    FakeList list{plume::test::g_fakeListVtbl};
    list.rows = {0x100000007LL, 12, 13};
    auto binder = std::make_shared<TestBinder>(&list);
    BinderScope scope(binder);
    const AnyFn original = plume::test::g_fakeListVtbl[kFillSlot];

    ASSERT_EQ(S_OK, binder->SetHook());
    EXPECT_TRUE(binder->hooked());
    EXPECT_NE(original, plume::test::g_fakeListVtbl[kFillSlot]);

    // -1 and failures reach the client but bind nothing.
    EXPECT_EQ(S_OK, ClientFills(&list, -1));
    EXPECT_TRUE(binder->IsEmpty());
    list.fillResult = E_FAIL;
    EXPECT_EQ(E_FAIL, ClientFills(&list, 2));
    EXPECT_TRUE(binder->IsEmpty());

    list.fillResult = S_FALSE;
    EXPECT_EQ(S_FALSE, ClientFills(&list, 2));
    EXPECT_EQ((std::vector<UINT_PTR>{2, 3, 0, 0x55, 0x66}), list.lastFill);
    ASSERT_FALSE(binder->IsEmpty());
    EXPECT_EQ(7, plume::GetMessageId(0));  // low 32 bits
    EXPECT_EQ(13, plume::GetMessageId(2));
    EXPECT_EQ(-1, plume::GetMessageId(3));
    EXPECT_EQ(1, plume::GetMessageIndex(12));
    EXPECT_EQ(-1, plume::GetMessageIndex(-1));
    EXPECT_EQ(0xFFFFFFFFLL, list.lastIndexQuery);  // ids go out zero-extended
    list.rowResult = E_UNEXPECTED;
    EXPECT_EQ(-1, plume::GetMessageId(1));
    EXPECT_EQ(-1, plume::GetMessageIndex(12));
    list.rowResult = S_OK;

    // A list whose table cannot be had stays unbound.
    list.tableResult = E_OUTOFMEMORY;
    list.fillResult = S_OK;
    ClientFills(&list, 3);
    EXPECT_TRUE(binder->IsEmpty());

    binder->Clear();
    binder->RemoveHook();
    EXPECT_FALSE(binder->hooked());
    EXPECT_EQ(original, plume::test::g_fakeListVtbl[kFillSlot]);
    EXPECT_EQ(1, list.refs) << "every reference the binder took was given back";
}

TEST(MessageListBinder, LeavesAnEntryThatSomeoneElseReplacedAndReportsCreationFailures) {
    plume::test::BuildFakeListTables();
    FakeList list{plume::test::g_fakeListVtbl};
    const AnyFn original = plume::test::g_fakeListVtbl[kFillSlot];
    {
        auto binder = std::make_shared<TestBinder>(&list);
        ASSERT_EQ(S_OK, binder->SetHook());
        const AnyFn ours = plume::test::g_fakeListVtbl[kFillSlot];
        const AnyFn theirs = reinterpret_cast<AnyFn>(&plume::test::FakeNotImpl<FakeList>);
        plume::WriteTableEntry(reinterpret_cast<plume::MessageListMethod*>(&plume::test::g_fakeListVtbl[kFillSlot]),
                               reinterpret_cast<plume::MessageListMethod>(theirs));
        binder->RemoveHook();
        EXPECT_EQ(theirs, plume::test::g_fakeListVtbl[kFillSlot]);
        EXPECT_TRUE(binder->hooked());
        // Back to ours: now the destructor undoes the patch.
        plume::test::g_fakeListVtbl[kFillSlot] = ours;
    }
    EXPECT_EQ(original, plume::test::g_fakeListVtbl[kFillSlot]);

    plume::test::LogLines log;
    TestBinder failing(&list);
    failing.createResult = REGDB_E_CLASSNOTREG;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, failing.SetHook());
    EXPECT_FALSE(failing.hooked());
    EXPECT_EQ(original, plume::test::g_fakeListVtbl[kFillSlot]);
    EXPECT_TRUE(log.Has("VexMessageListOE::SetHook: GetMessageList 80040154.\n"));
}

TEST(MessageListBinder, WindowsMailReachesTheClientClassThroughMsoeBesideTheExecutable) {
    // The binder lets go of the module; the client holds its own.
    const plume::unique_hmodule msoe(LoadLibraryW((plume::test::BinaryDirW() + L"msoe.dll").c_str()));
    ASSERT_TRUE(msoe);
    BinderScope scope(nullptr);
    plume::VexMessageListWM binder;
    com_ptr<IUnknown> object;
    ASSERT_EQ(S_OK, binder.GetMessageList(object.put()));
    ASSERT_TRUE(object);
    com_ptr<IUnknown> again;
    EXPECT_EQ(S_OK, object->QueryInterface(kMessageListIidWM, again.put_void()));

    auto** table = *reinterpret_cast<AnyFn**>(object.get());
    const AnyFn original = table[kFillSlot];
    ASSERT_EQ(S_OK, binder.SetHook());
    EXPECT_NE(original, table[kFillSlot]);
    // Its message table is at slot 21 and answers nothing for an empty list.
    using GetTableFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, IUnknown**);
    com_ptr<IUnknown> messageTable;
    EXPECT_EQ(S_OK, reinterpret_cast<GetTableFn>(table[kTableSlotWM])(object.get(), messageTable.put()));
    binder.SetMessageList(object.get());
    EXPECT_FALSE(binder.IsEmpty());
    EXPECT_EQ(-1, binder.GetMessageId(0));
    binder.Clear();
    binder.RemoveHook();
    EXPECT_EQ(original, table[kFillSlot]);
}

// ----------------------------------------------------------- the client's windows

// A folder record as the client's tree items point at: the folder number
// is all the client promises (the rest is noise the library must not read).
struct Folder {
    BYTE bytes[128];
    explicit Folder(INT64 number) {
        memset(bytes, 0x5A, sizeof bytes);
        memcpy(bytes + kFolderIdAt, &number, sizeof number);
    }
};

struct ClientState {
    bool retitleAtOnce = true;
    HWND main = nullptr;
    HANDLE holdUntil = nullptr;         // the notification waits for it (at most 10 s)
    volatile bool heldReleased = false;  // it came
};
ClientState* g_client = nullptr;
constexpr UINT kRetitleLater = WM_APP + 7;

// The client's main window: it retitles when the tree selects a folder,
// at once or once the notification has returned.
LRESULT CALLBACK ClientMain(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == TVN_SELCHANGEDA) {
        if (g_client && g_client->holdUntil)
            g_client->heldReleased = WaitForSingleObject(g_client->holdUntil, 10000) == WAIT_OBJECT_0;
        if (g_client && g_client->retitleAtOnce)
            SetWindowTextA(hwnd, "folder");
        else
            PostMessageA(hwnd, kRetitleLater, 0, 0);
        return 0;
    }
    if (message == kRetitleLater) SetWindowTextA(hwnd, "folder");
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// Windows in the client's shape on the calling thread, hooked by the library.
struct ClientWindows {
    HWND main = nullptr, tree = nullptr, list = nullptr;
    HTREEITEM root = nullptr, inbox = nullptr, sub = nullptr, news = nullptr, orphan = nullptr, zero = nullptr;
    std::vector<std::unique_ptr<Folder>> folders;

    ClientWindows() {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
        InitCommonControlsEx(&icc);
        using plume::test::WindowClass;
        main = CreateWindowA(WindowClass("ThorBrowserWndClass", ClientMain), "client", WS_OVERLAPPEDWINDOW, 0, 0, 800,
                             600, nullptr, nullptr, nullptr, nullptr);
        tree = CreateWindowA(WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 600, main, nullptr, nullptr, nullptr);
        HWND view = CreateWindowA(WindowClass("Outlook Express Message View"), "", WS_CHILD | WS_VISIBLE, 200, 0, 600,
                                  600, main, nullptr, nullptr, nullptr);
        HWND holder = CreateWindowA(WindowClass("Outlook Express Message List"), "", WS_CHILD | WS_VISIBLE, 0, 0, 600,
                                    300, view, nullptr, nullptr, nullptr);
        list = CreateWindowA(WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 600, 300,
                             holder, nullptr, nullptr, nullptr);
        for (int i = 0; i < 6; ++i) {
            LVITEMA row{};
            row.iItem = i;
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
        }
        // The local folders under their root; another account's folder and
        // one that hangs nowhere beside it.
        root = Add(TVI_ROOT, 1);
        inbox = Add(root, 2);
        sub = Add(inbox, 100);
        zero = Add(root, 0);
        news = Add(TVI_ROOT, 300);
        orphan = Add(TVI_ROOT, 400);
    }
    ~ClientWindows() { DestroyWindow(main); }

    HTREEITEM Add(HTREEITEM parent, INT64 number) {
        folders.push_back(std::make_unique<Folder>(number));
        TVINSERTSTRUCTA ins{};
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_PARAM | TVIF_TEXT;
        ins.item.pszText = const_cast<char*>("folder");
        ins.item.lParam = reinterpret_cast<LPARAM>(folders.back()->bytes);
        return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    }
    HTREEITEM Caret() const { return TreeView_GetSelection(tree); }
    void Select(HTREEITEM item) { TreeView_SelectItem(tree, item); }
    // Rows as a user leaves them: these selected, `focused` focused.
    void Rows(std::vector<int> selected, int focused) {
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int r : selected) ListView_SetItemState(list, r, LVIS_SELECTED, LVIS_SELECTED);
        if (focused >= 0) ListView_SetItemState(list, focused, LVIS_FOCUSED, LVIS_FOCUSED);
    }
    std::vector<int> Selected() const {
        std::vector<int> rows;
        for (int r = -1; (r = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, r, LVNI_SELECTED))) != -1;)
            rows.push_back(r);
        return rows;
    }
    void Tick() {
        SendMessageA(main, WM_TIMER, 1, 0);
        Pump();
    }
};

struct Root {
    com_ptr<IPLUMEObj> obj = plume::test::NewRoot();
    com_ptr<plume::test::RecordingSink> sink = plume::test::Advise(obj.get(), DIID_IPLUMEObjEvents);
    std::vector<DISPID> Events() const { return sink->Dispids(); }
    std::vector<long> ArgsOf(DISPID id) const {
        std::vector<long> out;
        for (const auto& c : sink->calls)
            if (c.dispid == id) out.push_back(c.args.empty() ? 0 : c.args[0]);
        return out;
    }
    LONG Get(HRESULT (STDMETHODCALLTYPE IPLUMEObj::*method)(LONG*)) { return plume::test::Get(obj, method); }
};

void InstallCallbacks() {
    plume::HostNotifyCallbacks& cb = plume::Callbacks();
    cb.onFolderTreeNotify = plume::SetSelectedFolderName;
    cb.onSelectionChanged = [](int count, int* rows, int focused, int flag) {
        plume::SetSelectedMessages(count, rows, focused, flag);
    };
}

void ResetSelection() {
    PLUMEManager* m = PLUMEManager::Get(true);
    plume::cs_lock hold(m->storeLock());
    m->selectedFolderId = -1;
    m->currentMessageId = -1;
    m->selectedMessageIds.clear();
    m->selectedMessagesStored = false;
}

class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        plume::test::BuildFakeListTables();
        plume::SetWindowsMailForTesting(1);
        ResetSelection();
        binder_ = std::make_shared<TestBinder>(&fake_);
        scope_ = std::make_unique<BinderScope>(binder_);
        ASSERT_EQ(S_OK, binder_->SetHook());
        fake_.rows = {501, 502, 503, 504, 505, 506};
        client_ = std::make_unique<ClientWindows>();
        plume::AttachPlugin(client_->main, nullptr);
        InstallCallbacks();
        SetWindowTextA(client_->main, "client");  // the hook layer finds the tree
        g_state_.main = client_->main;
        g_client = &g_state_;
    }
    void TearDown() override {
        g_client = nullptr;
        plume::Callbacks() = plume::HostNotifyCallbacks{};
        plume::DetachHooks();
        client_.reset();
        plume::OEToolbarRegistry::Destroy();
        plume::OEToolbarRegistry::Reopen();  // the next test starts afresh
        binder_->Clear();
        scope_.reset();
        binder_.reset();
        ResetSelection();
        plume::SetWindowsMailForTesting(-1);
        Pump();
    }
    // The user picks a folder; the client fills its list for it.
    void OpenFolder(HTREEITEM item, INT64 number) {
        client_->Select(item);
        Pump();
        ClientFills(&fake_, number);
        client_->Tick();  // finds the list view
    }

    FakeList fake_{plume::test::g_fakeListVtbl};
    std::shared_ptr<TestBinder> binder_;
    std::unique_ptr<BinderScope> scope_;
    std::unique_ptr<ClientWindows> client_;
    ClientState g_state_;
};

TEST_F(SelectionTest, RowsBecomeOneEventPerChangeWithTheCurrentMessageFirst) {
    Root root;
    OpenFolder(client_->inbox, 2);
    root.sink->calls.clear();

    client_->Rows({4, 1, 2}, 4);  // three rows, chosen out of list order
    client_->Tick();
    client_->Tick();
    EXPECT_EQ((std::vector<DISPID>{root_event::kCurrentMessageChanged, root_event::kMessageSelectionChanged}), root.Events());
    EXPECT_EQ(505, root.Get(&IPLUMEObj::GetCurrentMessageID));
    EXPECT_EQ(502, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));
    EXPECT_EQ(503, root.Get(&IPLUMEObj::GetNextSelectedMessageID));
    EXPECT_EQ(505, root.Get(&IPLUMEObj::GetNextSelectedMessageID));
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetNextSelectedMessageID));
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetNextSelectedMessageID));

    // The same rows selected in another order, focus on one of them: nothing new.
    root.sink->calls.clear();
    client_->Rows({2, 4, 1}, 4);
    client_->Tick();
    EXPECT_TRUE(root.Events().empty());

    // Focus on a row outside the selection keeps the current message.
    client_->Rows({1, 2}, 5);
    client_->Tick();
    EXPECT_EQ((std::vector<DISPID>{root_event::kMessageSelectionChanged}), root.Events());
    EXPECT_EQ(505, root.Get(&IPLUMEObj::GetCurrentMessageID));

    // Nothing selected: the current message becomes -1, once.
    root.sink->calls.clear();
    client_->Rows({}, 5);
    client_->Tick();
    client_->Tick();
    EXPECT_EQ((std::vector<DISPID>{root_event::kCurrentMessageChanged, root_event::kMessageSelectionChanged}), root.Events());
    EXPECT_EQ((std::vector<long>{-1}), root.ArgsOf(root_event::kCurrentMessageChanged));
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));
    EXPECT_EQ(0, root.Get(&IPLUMEObj::IsAnyMessageSelected));
}

TEST_F(SelectionTest, SettingMessagesOverComMovesTheListAndReportsAtOnce) {
    Root root;
    OpenFolder(client_->inbox, 2);
    root.sink->calls.clear();

    EXPECT_EQ(S_OK, root.obj->SetSelectedMessageID(504));
    EXPECT_EQ((std::vector<int>{3}), client_->Selected());
    EXPECT_EQ(3, SendMessageA(client_->list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
    EXPECT_EQ(504, root.Get(&IPLUMEObj::GetCurrentMessageID));
    EXPECT_EQ(504, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));

    EXPECT_EQ(S_OK, root.obj->AddSelectedMessageID(501));
    EXPECT_EQ((std::vector<int>{0, 3}), client_->Selected());
    EXPECT_EQ(504, root.Get(&IPLUMEObj::GetFirstSelectedMessageID)) << "added rows wait for the next tick";
    client_->Tick();
    EXPECT_EQ(501, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));

    // Unknown ids change nothing.
    EXPECT_EQ(S_OK, root.obj->SetSelectedMessageID(9999));
    EXPECT_EQ(S_OK, root.obj->AddSelectedMessageID(9999));
    EXPECT_EQ((std::vector<int>{0, 3}), client_->Selected());

    EXPECT_EQ(1, root.Get(&IPLUMEObj::IsAnyMessageSelected));
    EXPECT_EQ(S_OK, root.obj->SetSelectedMessageID(-1));
    EXPECT_TRUE(client_->Selected().empty());
    EXPECT_EQ(0, root.Get(&IPLUMEObj::IsAnyMessageSelected));
    client_->Tick();
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetCurrentMessageID));
}

TEST_F(SelectionTest, UnboundListsAndVanishedRowsReportNoStaleIds) {
    Root root;
    OpenFolder(client_->inbox, 2);
    client_->Rows({0, 1}, 0);
    client_->Tick();
    EXPECT_EQ(501, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));

    // Rows gone between the poll and the lookup: the selection is dropped
    // without a report, and comes back once rows answer again.
    root.sink->calls.clear();
    fake_.rowResult = E_INVALIDARG;
    client_->Rows({0, 1, 2}, 0);
    client_->Tick();
    EXPECT_TRUE(root.Events().empty());
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));
    fake_.rowResult = S_OK;
    client_->Tick();
    EXPECT_EQ((std::vector<DISPID>{root_event::kMessageSelectionChanged}), root.Events());

    // A list the client never filled: every tick says the selection changed.
    binder_->Clear();
    root.sink->calls.clear();
    client_->Tick();
    client_->Tick();
    EXPECT_EQ((std::vector<DISPID>{root_event::kMessageSelectionChanged, root_event::kMessageSelectionChanged}), root.Events());
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));
}

TEST_F(SelectionTest, EveryRetitleReportsTheTreeFolderAndKindsDecide) {
    Root root;
    plume::test::LogLines log;
    g_state_.retitleAtOnce = false;

    OpenFolder(client_->inbox, 2);
    client_->Rows({1}, 1);
    client_->Tick();
    EXPECT_EQ(502, root.Get(&IPLUMEObj::GetFirstSelectedMessageID));
    SetWindowTextA(client_->main, "same folder");
    client_->Select(client_->root);
    Pump();
    client_->Select(client_->news);
    Pump();
    client_->Select(client_->zero);
    Pump();
    EXPECT_EQ((std::vector<long>{2, 2, 0, -1, -1}), root.ArgsOf(root_event::kFolderSelectionChanged));
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetSelectedFolderID));
    EXPECT_TRUE(log.Has("PLUMEManager::SetSelectedFolderName: Not local folder selected 300:2.\n"));
    // After a folder change the enumeration starts again from GetFirst.
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetNextSelectedMessageID));
    EXPECT_EQ(-1, root.Get(&IPLUMEObj::GetFirstSelectedMessageID)) << "the previous folder's selection went with it";
}

TEST_F(SelectionTest, SelectingFolderIdsWalksTheParentChain) {
    Root root;
    plume::test::LogLines log;
    // A chain that does not reach the root (400), and unknown folders: nothing moves.
    const struct {
        LONG id;
        HTREEITEM caret;
        LONG selected;
    } cases[] = {{100, client_->sub, 100}, {1, client_->root, 0}, {400, client_->root, 0}, {12345, client_->root, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(S_OK, root.obj->SetSelectedFolderID(c.id));
        Pump();
        EXPECT_EQ(c.caret, client_->Caret()) << c.id;
        EXPECT_EQ(c.selected, root.Get(&IPLUMEObj::GetSelectedFolderID)) << c.id;
    }
    EXPECT_TRUE(log.Has("PLUMEManager::FindHTreeItem: Parent is null 400.\n"));
    EXPECT_EQ((std::vector<long>{100, 0}), root.ArgsOf(root_event::kFolderSelectionChanged));
}

// A client that retitles inside the tree's notification posts the folder
// change and waits for this thread. SetSelectedFolderID does not wait for
// the client's thread (the client's notification waits until the call has
// returned), nor does the client's poster wait out its bound.
TEST_F(SelectionTest, AClientThatRetitlesInsideTheNotificationCannotDeadlockTheServerThread) {
    // This thread owns the callback window, as the server thread does; the
    // client's windows, hooked, live on a UI thread of their own.
    client_.reset();
    plume::DetachHooks();
    Root root;
    plume::unique_handle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        stop(CreateEventA(nullptr, TRUE, FALSE, nullptr)), returned(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ClientState state;  // retitles at once
    state.holdUntil = returned.get();
    g_client = &state;
    HWND tree = nullptr;
    HTREEITEM sub = nullptr;
    std::thread ui([&] {
        ClientWindows windows;
        plume::AttachPlugin(windows.main, nullptr);
        InstallCallbacks();
        SetWindowTextA(windows.main, "client");
        tree = windows.tree;
        sub = windows.sub;
        SetEvent(ready.get());
        for (HANDLE h = stop.get(); MsgWaitForMultipleObjects(1, &h, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0;)
            Pump();
        plume::Callbacks() = plume::HostNotifyCallbacks{};
        plume::DetachHooks();
    });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.get(), 10000));
    plume::test::LogLines log;
    EXPECT_EQ(S_OK, root.obj->SetSelectedFolderID(100));
    SetEvent(returned.get());
    plume::test::PumpUntil([&] { return !root.ArgsOf(root_event::kFolderSelectionChanged).empty(); }, 15000);
    EXPECT_TRUE(state.heldReleased) << "SetSelectedFolderID waited for the client's notification";
    EXPECT_EQ((std::vector<long>{100}), root.ArgsOf(root_event::kFolderSelectionChanged));
    EXPECT_FALSE(log.Has("PLUMEManager::PostAndWait: no answer")) << "the client's poster waited out its bound";
    EXPECT_EQ(sub, TreeView_GetSelection(tree));
    SetEvent(stop.get());
    ui.join();
}

}  // namespace
