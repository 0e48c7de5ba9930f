// The store watcher against a client store of the test's own: store and
// folder objects with the client's slots, records with the client's
// offsets, transactions handed over as the client hands them.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_store.h"
#include "manager/plume_manager.h"
#include "object_events.h"
#include "store/message_store.h"

namespace {

using namespace plume::test::client_numbers;
using plume::test::AnyFn;
using Obj = plume::test::StoreObj;
using Contract = plume::test::client_numbers::StoreContract;
using Record = std::array<BYTE, 128>;
constexpr BYTE kLocalKind = 3;

void Put32(Record& r, size_t at, UINT v) { memcpy(r.data() + at, &v, sizeof v); }

struct Entry {
    UINT type;
    Record first, second;
};
struct Txn {
    std::vector<Entry> entries;
    size_t next = 0;
    bool fail = false;
};

struct FolderSpec {
    UINT parent;
    BYTE kind;
};

// The fake client's state for one test.
struct FakeClient {
    const Contract* c = &kStoreOE;
    std::map<UINT, FolderSpec> folders;
    std::map<UINT, std::vector<UINT>> messages;  // folder -> ids
    std::vector<std::pair<Obj*, IUnknown*>> registrations;
    int freed = 0;
    int opens = 0;
    bool enumerates = false;  // the store lists sub-folders
};
FakeClient* g;

HRESULT STDMETHODCALLTYPE FreeRecord(Obj*, void*) {
    ++g->freed;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Register(Obj* o, UINT, UINT, UINT, IUnknown* notify) {
    if (o->folder && !g->folders.count(static_cast<UINT>(o->folder))) return E_FAIL;
    ++o->refs;
    g->registrations.push_back({o, notify});
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Unregister(Obj* o, IUnknown* notify) {
    for (auto it = g->registrations.begin(); it != g->registrations.end(); ++it) {
        if (it->first == o && it->second == notify) {
            g->registrations.erase(it);
            --o->refs;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}
HRESULT STDMETHODCALLTYPE GetTransaction(Obj*, UINT_PTR* handle, UINT* type, void* first, void* second, UINT*,
                                         void**) {
    auto* t = reinterpret_cast<Txn*>(*handle);
    if (t->fail || t->next >= t->entries.size()) return E_FAIL;
    *type = t->entries[t->next].type;
    memcpy(first, t->entries[t->next].first.data(), sizeof(Record));
    memcpy(second, t->entries[t->next].second.data(), sizeof(Record));
    if (++t->next == t->entries.size()) *handle = 0;
    return S_OK;
}

AnyFn* FolderTable();
HRESULT STDMETHODCALLTYPE OpenFolder(Obj*, UINT id, UINT_PTR, UINT_PTR, IUnknown** out) {
    ++g->opens;
    if (!g->folders.count(id)) return E_INVALIDARG;
    *out = plume::test::NewStoreObj(FolderTable(), static_cast<LONG>(id));
    return S_OK;
}
const char* const kNames[] = {"one", "two"};
HRESULT STDMETHODCALLTYPE FolderInfo(Obj*, UINT id, void* out) {
    auto it = g->folders.find(id);
    if (it == g->folders.end()) return E_INVALIDARG;
    Record r{};
    Put32(r, kFolderIdAt, id);
    Put32(r, kParentAt, it->second.parent);
    r[g->c->kindByteAt] = it->second.kind;
    memcpy(out, r.data(), r.size());
    return S_OK;
}

// A sub-folder enumerator: one record a call.
struct Children {
    AnyFn* vtbl;
    LONG refs;
    std::vector<UINT> ids;
    size_t next = 0;
};
HRESULT STDMETHODCALLTYPE NextChild(Children* e, ULONG, void* out, ULONG* fetched) {
    *fetched = 0;
    if (e->next >= e->ids.size()) return S_FALSE;
    Record r{};
    Put32(r, kFolderIdAt, e->ids[e->next++]);
    memcpy(out, r.data(), r.size());
    *fetched = 1;
    return S_OK;
}
AnyFn g_childrenTable[4] = {reinterpret_cast<AnyFn>(&plume::test::FakeQuery<Children>),
                            reinterpret_cast<AnyFn>(&plume::test::FakeAddRef<Children>),
                            reinterpret_cast<AnyFn>(&plume::test::FakeRelease<Children>),
                            reinterpret_cast<AnyFn>(NextChild)};
HRESULT STDMETHODCALLTYPE EnumSubFolders(Obj*, UINT parent, UINT_PTR, IUnknown** out) {
    if (!g->enumerates) return E_NOTIMPL;
    auto* e = new Children{g_childrenTable, 1, {}};
    for (const auto& [id, spec] : g->folders)
        if (spec.parent == parent && id != parent) e->ids.push_back(id);
    *out = reinterpret_cast<IUnknown*>(e);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CreateRowset(Obj* o, UINT_PTR, UINT_PTR, UINT_PTR* out) {
    *out = reinterpret_cast<UINT_PTR>(new plume::test::FakeRowset{g->messages[static_cast<UINT>(o->folder)], g->c->wm});
    return S_OK;
}

AnyFn g_storeTable[96];
AnyFn g_folderTable[96];
AnyFn* FolderTable() { return g_folderTable; }

void BuildTables(const Contract& c) {
    for (AnyFn* t : {g_storeTable, g_folderTable}) {
        plume::test::FillFakeTable<Obj>(t, 96);
        t[kFreeRecord] = reinterpret_cast<AnyFn>(FreeRecord);
        t[kStoreRegister] = reinterpret_cast<AnyFn>(Register);
        t[kStoreUnregister] = reinterpret_cast<AnyFn>(Unregister);
        t[kGetTransaction] = reinterpret_cast<AnyFn>(GetTransaction);
    }
    g_storeTable[c.storeOpenFolder] = reinterpret_cast<AnyFn>(OpenFolder);
    g_storeTable[c.storeFolderInfo] = reinterpret_cast<AnyFn>(FolderInfo);
    g_storeTable[c.storeEnumSubFolders] = reinterpret_cast<AnyFn>(EnumSubFolders);
    g_folderTable[kCreateRowset] = reinterpret_cast<AnyFn>(CreateRowset);
    if (c.folderSeekRowset >= 0)
        g_folderTable[c.folderSeekRowset] = reinterpret_cast<AnyFn>(&plume::test::FakeSeekRowset<Obj>);
    g_folderTable[kQueryRowset] = reinterpret_cast<AnyFn>(&plume::test::FakeQueryRowset<Obj>);
    g_folderTable[kCloseRowset] = reinterpret_cast<AnyFn>(&plume::test::FakeCloseRowset<Obj>);
}

using Change = std::array<int, 7>;  // code, kind, folder, object, three values

class Listener final : public plume::PLUMEStoreListener {
public:
    void OnStoreChange(int code, int kind, int folderId, int objectId, int a, int b, int c) override {
        changes.push_back({code, kind, folderId, objectId, a, b, c});
    }
    std::vector<Change> changes;
};

// The manager's watcher, when other tests made one, would be the current
// watcher: a test's own takes its place meanwhile.
struct ManagerWatcherAside {
    ManagerWatcherAside() {
        if (plume::PLUMEManager* manager = plume::PLUMEManager::Get(false)) {
            plume::cs_lock hold(manager->storeLock());
            manager->messageStore.reset();
        }
    }
    ~ManagerWatcherAside() {
        if (plume::PLUMEManager* manager = plume::PLUMEManager::Get(false)) {
            plume::cs_lock hold(manager->storeLock());
            manager->messageStore = plume::MakeMessageStore();
            manager->messageStore->SetListener(manager);
        }
    }
};

class StoreWatcherTest : public ::testing::TestWithParam<const Contract*> {
protected:
    void SetUp() override {
        aside = std::make_unique<ManagerWatcherAside>();
        ASSERT_EQ(nullptr, plume::CurrentMessageStore());
        g = &client;
        client.c = GetParam();
        BuildTables(*client.c);
        for (UINT id = 1; id <= 40; ++id) client.folders[id] = {id == 1 ? 0u : 1u, kLocalKind};
        client.folders[90] = {1, 0};  // a news folder
        ASSERT_HRESULT_SUCCEEDED(factory.registered());
        if (client.c->wm) watcher = std::make_unique<plume::PLUMEMessageStoreWM>();
        else watcher = std::make_unique<plume::PLUMEMessageStoreOE>();
        watcher->SetListener(&listener);
        ASSERT_HRESULT_SUCCEEDED(watcher->HookStoreClass());
        clientStore = reinterpret_cast<Obj*>(plume::test::ClientTouchesStore(g_storeTable));
        ASSERT_TRUE(watcher->IsStoreCaptured());
    }
    void TearDown() override {
        watcher->StopWatching();
        watcher.reset();
        plume::test::FakeRelease(clientStore);
        g = nullptr;
        aside.reset();
    }
    // The client opens a folder through its store's table, as its views do.
    HRESULT ClientOpens(UINT folderId) {
        IUnknown* folder = nullptr;
        HRESULT hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(Obj*, UINT, UINT_PTR, UINT_PTR, IUnknown**)>(
            g_storeTable[client.c->storeOpenFolder])(clientStore, folderId, 0, 0, &folder);
        if (folder) folder->Release();
        plume::test::Pump();
        return hr;
    }
    Record FolderRec(UINT id, UINT parent, const char* name, BYTE kind = kLocalKind) {
        Record r{};
        Put32(r, kFolderIdAt, id);
        Put32(r, kParentAt, parent);
        memcpy(r.data() + kNameAt, &name, sizeof name);
        r[client.c->kindByteAt] = kind;
        return r;
    }
    Record MessageRec(UINT id, UINT folder, bool read) {
        Record r{};
        Put32(r, kMessageIdAt, id);
        if (client.c->wm) Put32(r, kMessageFolderAtWM, folder);
        Put32(r, client.c->messageFlagsAt, read ? kReadFlag | 0x1 : 0x1);
        return r;
    }
    // The client's record order for a message update: OE (before, after), WM (after, before).
    Entry MessageUpdate(UINT id, UINT folder, bool wasRead, bool isRead) {
        Record before = MessageRec(id, folder, wasRead), after = MessageRec(id, folder, isRead);
        return client.c->wm ? Entry{1, after, before} : Entry{1, before, after};
    }
    HRESULT Commit(std::vector<Entry> entries, DWORD cookie, Txn* keep = nullptr) {
        Txn local;
        Txn* t = keep ? keep : &local;
        t->entries = std::move(entries);
        Obj database{g_folderTable, 1, 0};
        UINT_PTR handle = reinterpret_cast<UINT_PTR>(t);
        // The client calls again while entries remain.
        HRESULT hr = S_OK;
        for (int guard = 0; guard < 10 && handle && t->next < t->entries.size(); ++guard) {
            size_t before = t->next;
            hr = plume::StoreTrampoline()->OnTransaction(handle, cookie, reinterpret_cast<IUnknown*>(&database));
            if (t->next == before) break;
        }
        return hr;
    }

    std::unique_ptr<ManagerWatcherAside> aside;
    FakeClient client;
    plume::test::FakeStoreClass factory{g_storeTable};
    Obj* clientStore = nullptr;
    Listener listener;
    std::unique_ptr<plume::PLUMEMessageStore> watcher;
};

TEST_P(StoreWatcherTest, CaptureTakesTheStoreTheClientTouchesAndPutsAddRefBack) {
    // IsStoreCaptured undid the patch: the class's AddRef is the client's again.
    EXPECT_EQ(reinterpret_cast<AnyFn>(&plume::test::FakeAddRef<Obj>), g_storeTable[1]);
    IUnknown* store = nullptr;
    ASSERT_HRESULT_SUCCEEDED(watcher->GetStore(&store));
    EXPECT_EQ(reinterpret_cast<IUnknown*>(clientStore), store);
    store->Release();
    LONG kind = 0, parent = 0;
    EXPECT_HRESULT_SUCCEEDED(watcher->GetFolderKind(90, &kind));
    EXPECT_EQ(2, kind);
    EXPECT_HRESULT_SUCCEEDED(watcher->GetParentFolderId(7, &parent));
    EXPECT_EQ(1, parent);
    EXPECT_HRESULT_FAILED(watcher->GetFolderKind(555, &kind));
    EXPECT_EQ(2, client.freed);  // each record read is freed

    client.messages[3] = {11, 12, 14};
    EXPECT_EQ(14u, watcher->GetLastMessageId(3));
    EXPECT_EQ(0xFFFFFFFFu, watcher->GetLastMessageId(4));  // empty
    EXPECT_EQ(0xFFFFFFFFu, watcher->GetLastMessageId(555));
}

TEST_P(StoreWatcherTest, MessageTransactionsBecomeTheirCodes) {
    watcher->StartWatching();
    const bool wm = client.c->wm;
    // OE records carry no folder: the cookie (the registered folder) stands in.
    ASSERT_HRESULT_SUCCEEDED(Commit({{0, MessageRec(21, 3, false), MessageRec(21, 3, false)}}, 3));
    ASSERT_HRESULT_SUCCEEDED(Commit({{2, MessageRec(22, 3, true), MessageRec(22, 3, true)}}, 3));
    ASSERT_HRESULT_SUCCEEDED(Commit({MessageUpdate(23, 3, false, true)}, 3));
    ASSERT_HRESULT_SUCCEEDED(Commit({MessageUpdate(24, 3, true, false)}, 3));
    ASSERT_HRESULT_SUCCEEDED(Commit({MessageUpdate(25, 3, true, true)}, 3));
    ASSERT_HRESULT_SUCCEEDED(Commit({MessageUpdate(26, 3, false, false)}, 3));
    const int u = 0x1, r = 0x81;
    std::vector<Change> expected = {
        {kInsertMessage, 1, 3, 21, u, 21, u},
        {kDeleteMessage, 1, 3, 22, r, 22, r},
        // valueB is the first record's flags: OE's old state, WM's new one.
        {kReadMessage, 1, 3, 23, wm ? r : u, 23, wm ? u : r},
        {kUnreadMessage, 1, 3, 24, wm ? u : r, 24, wm ? r : u},
        // A kept read bit is an update on OE (dropped later); WM reports the state.
        {wm ? kReadMessage : kUpdateMessage, 1, 3, 25, r, 25, r},
        {wm ? kUnreadMessage : kUpdateMessage, 1, 3, 26, u, 26, u},
    };
    EXPECT_EQ(expected, listener.changes);

    // Several entries in one transaction are all taken, in order.
    listener.changes.clear();
    ASSERT_HRESULT_SUCCEEDED(Commit({{0, MessageRec(30, 3, false), MessageRec(30, 3, false)},
                                     {0, MessageRec(31, 3, false), MessageRec(31, 3, false)}},
                                    3));
    EXPECT_EQ((std::vector<Change>{{kInsertMessage, 1, 3, 30, u, 30, u}, {kInsertMessage, 1, 3, 31, u, 31, u}}),
              listener.changes);

    // Unreadable transactions and unknown folders raise nothing.
    listener.changes.clear();
    Txn broken;
    broken.fail = true;
    Commit({{0, MessageRec(40, 3, false), MessageRec(40, 3, false)}}, 3, &broken);
    Commit({{0, MessageRec(41, 555, false), MessageRec(41, 555, false)}}, 555);
    EXPECT_TRUE(listener.changes.empty());
    Obj database{g_folderTable, 1, 0};
    broken.next = 0;
    EXPECT_EQ(1, watcher->NotifyMessageTransaction(reinterpret_cast<UINT_PTR>(&broken), 3,
                                                   reinterpret_cast<IUnknown*>(&database)));
    EXPECT_EQ(0, watcher->NotifyMessageTransaction(0, 3, reinterpret_cast<IUnknown*>(&database)));
}

TEST_P(StoreWatcherTest, FolderTransactionsCarryTheOldParentAndTheNewOneOnlyForMoves) {
    watcher->StartWatching();
    ASSERT_HRESULT_SUCCEEDED(Commit({{0, FolderRec(7, 1, "one"), FolderRec(7, 1, "one")}}, kStoreCookie));
    ASSERT_HRESULT_SUCCEEDED(Commit({{1, FolderRec(7, 1, "one"), FolderRec(7, 2, "one")}}, kStoreCookie));
    ASSERT_HRESULT_SUCCEEDED(Commit({{1, FolderRec(7, 2, kNames[0]), FolderRec(7, 2, kNames[1])}}, kStoreCookie));
    // Same name in another buffer: no change.
    std::string same = "one";
    ASSERT_HRESULT_SUCCEEDED(Commit({{1, FolderRec(7, 2, "one"), FolderRec(7, 2, same.c_str())}}, kStoreCookie));
    std::vector<Change> expected = {
        {kInsertFolder, 1, 7, 1, 0, 1, 0},
        {kMoveFolder, 1, 7, 1, 0, 2, 0},
        {kRenameFolder, 1, 7, 2, 0, 2, 0},
        {kUpdateFolder, 1, 7, 2, 0, 2, 0},
    };
    EXPECT_EQ(expected, listener.changes);
    // The new folder is watched from its creation on (the client's thread
    // registers it).
    plume::test::Pump();
    EXPECT_EQ(std::list<ULONG>{7}, watcher->RegisteredFolders());

    // A deleted folder: its kind comes from the record, and its registration goes.
    ASSERT_HRESULT_SUCCEEDED(ClientOpens(8));
    ASSERT_EQ((std::list<ULONG>{7, 8}), watcher->RegisteredFolders());
    client.folders.erase(8);
    listener.changes.clear();
    // Even an update of a local folder that is gone is its deletion.
    ASSERT_HRESULT_SUCCEEDED(Commit({{1, FolderRec(8, 1, "one"), FolderRec(8, 1, "one")}}, kStoreCookie));
    EXPECT_EQ((std::vector<Change>{{kDeleteFolder, 1, 8, 1, 0, 1, 0}}), listener.changes);
    EXPECT_EQ(std::list<ULONG>{7}, watcher->RegisteredFolders());
}

// Watching starts on every local folder the store lists (below the root,
// breadth first), as far as the limit allows: the pinned ones and those
// nearest the root first, registered so that they are evicted last.
TEST_P(StoreWatcherTest, WatchingStartsOnEveryLocalFolderUpToTheLimit) {
    client.enumerates = true;
    client.folders[41] = {2, kLocalKind};  // one level down
    watcher->PinFolders({35, 41});
    watcher->StartWatching();
    std::list<ULONG> lru = watcher->RegisteredFolders();
    std::vector<ULONG> expected;
    for (UINT id = 30; id >= 2; --id) expected.push_back(id);  // 2 to 30, least wanted first
    expected.push_back(41);
    expected.push_back(35);
    EXPECT_EQ(expected, std::vector<ULONG>(lru.begin(), lru.end())) << "31 to 40 wait until opened; 90 is no local folder";
    // A folder opened later takes the place of the five least wanted.
    ASSERT_EQ(S_OK, ClientOpens(40));
    lru = watcher->RegisteredFolders();
    EXPECT_EQ(27u, lru.size());
    EXPECT_EQ(25u, lru.front());
    EXPECT_EQ(40u, lru.back());
}

TEST_P(StoreWatcherTest, OpenedFoldersRegisterUpToThirtyOneEvictingFiveAtATimeButNeverPinnedOnes) {
    EXPECT_EQ(S_OK, ClientOpens(2));
    EXPECT_TRUE(watcher->RegisteredFolders().empty());  // not watching yet
    watcher->StartWatching();
    EXPECT_TRUE(FindWindowA("PLUMEMessageStoreCallback", "PLUMEMessageStoreCallback Wnd"));
    ASSERT_EQ(1u, client.registrations.size());  // the store's own
    for (UINT id = 2; id <= 32; ++id) ASSERT_EQ(S_OK, ClientOpens(id));
    EXPECT_EQ(32u, client.registrations.size());
    ASSERT_EQ(S_OK, ClientOpens(2));  // moves to the back only
    EXPECT_EQ(32u, client.registrations.size());
    EXPECT_EQ(2u, watcher->RegisteredFolders().back());
    // Pinned folders (the Outbox, the holding folder) are never evicted.
    watcher->PinFolders({3, 4});
    ASSERT_EQ(S_OK, ClientOpens(33));
    std::list<ULONG> folders = watcher->RegisteredFolders();
    EXPECT_EQ(27u, folders.size());
    EXPECT_EQ((std::vector<ULONG>{3, 4, 10}), std::vector<ULONG>(folders.begin(), std::next(folders.begin(), 3)))
        << "5 to 9 went";
    EXPECT_EQ(33u, folders.back());
    EXPECT_EQ(28u, client.registrations.size());
    // A folder the client cannot register is not kept.
    EXPECT_EQ(E_INVALIDARG, ClientOpens(555));
    EXPECT_EQ(27u, watcher->RegisteredFolders().size());

    // A message transaction from a registered folder reaches the listener
    // through the trampoline; after the watcher is gone the trampoline fails.
    watcher->StopWatching();
    EXPECT_EQ(0u, client.registrations.size());
    EXPECT_EQ(reinterpret_cast<AnyFn>(OpenFolder), g_storeTable[client.c->storeOpenFolder]);
    watcher.reset();
    UINT_PTR handle = 1;
    EXPECT_EQ(E_FAIL, plume::StoreTrampoline()->OnTransaction(handle, 3, nullptr));
    watcher = std::make_unique<plume::PLUMEMessageStoreOE>();
}

TEST_P(StoreWatcherTest, UnhookLeavesEntriesThatSomeoneElseReplaced) {
    watcher->StartWatching();
    AnyFn ours = g_storeTable[client.c->storeOpenFolder];
    ASSERT_NE(reinterpret_cast<AnyFn>(OpenFolder), ours);
    AnyFn theirs = reinterpret_cast<AnyFn>(&plume::test::FakeNotImpl<Obj>);
    g_storeTable[client.c->storeOpenFolder] = theirs;
    watcher->UnhookAll();
    EXPECT_EQ(theirs, g_storeTable[client.c->storeOpenFolder]);
    g_storeTable[client.c->storeOpenFolder] = reinterpret_cast<AnyFn>(OpenFolder);
}

INSTANTIATE_TEST_SUITE_P(BothClients, StoreWatcherTest, ::testing::Values(&kStoreOE, &kStoreWM),
                         [](const auto& info) { return info.param->wm ? std::string("WM") : std::string("OE"); });

TEST(StoreWatcher, AStoreClassThatFailsLeavesAWatcherThatAnswersFailures) {
    ManagerWatcherAside aside;
    plume::test::FakeStoreClass factory(g_storeTable, E_OUTOFMEMORY);
    ASSERT_HRESULT_SUCCEEDED(factory.registered());
    plume::PLUMEMessageStoreWM watcher;
    EXPECT_EQ(E_OUTOFMEMORY, watcher.HookStoreClass());
    EXPECT_FALSE(watcher.IsStoreCaptured());
    IUnknown* store = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_FAIL, watcher.GetStore(&store));
    EXPECT_EQ(nullptr, store);
    EXPECT_EQ(0xFFFFFFFFu, watcher.GetLastMessageId(4));
    IUnknown* folder = nullptr;
    EXPECT_EQ(E_FAIL, watcher.OpenFolder(4, &folder));
    // Watching starts (its window exists) but nothing registers.
    watcher.StartWatching();
    EXPECT_TRUE(watcher.enabled());
    EXPECT_NE(nullptr, watcher.callbackWindow());
    EXPECT_EQ(E_FAIL, watcher.RegisterMessageNotification(4));
    watcher.StopWatching();
    EXPECT_EQ(nullptr, watcher.callbackWindow());
}

TEST(StoreWatcher, FolderKindsAndTheNullCallback) {
    EXPECT_EQ(1, plume::FolderKindFromByte(3));
    EXPECT_EQ(2, plume::FolderKindFromByte(0));
    EXPECT_EQ(3, plume::FolderKindFromByte(1));
    EXPECT_EQ(4, plume::FolderKindFromByte(2));
    auto* callback = plume::NullStoreCallback();
    auto table = *reinterpret_cast<HRESULT(STDMETHODCALLTYPE* const**)(void*, UINT_PTR, UINT_PTR)>(callback);
    for (int i = 0; i < 11; ++i) EXPECT_EQ(S_OK, table[i](callback, 1, 2)) << i;
}

}  // namespace
