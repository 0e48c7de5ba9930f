// The send cycle and the Outbox against a client store of the test's own
// (store, folders and messages with the client's slots and record offsets)
// and a send dialog of the test's own in this process.
#include <gtest/gtest.h>
#include <windows.h>
#include <plume.h>
#include <propidl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client_numbers.h"
#include "client_variant.h"
#include "com_ptr.h"
#include "fake_store.h"
#include "host/hooks.h"
#include "log_lines.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "object_events.h"
#include "registry_scope.h"
#include "temp_folder.h"
#include "store/message_store.h"
#include "ui/toolbar_registry.h"
#include "window_class.h"

using plume::com_ptr;
using plume::PLUMEManager;
using plume::unique_handle;
using plume::test::Heard;
using plume::test::HeardEvents;
using plume::test::ScopedRegistryValue;
using namespace plume::test::client_numbers;

namespace {

constexpr LONG kSourceFolder = 10;
const wchar_t kMailSettingsWM[] = L"Software\\Microsoft\\Windows Mail\\Mail";
const wchar_t kMailSettingsOE[] = L"Identities\\{plume-send-identity}\\Software\\Microsoft\\Outlook Express\\5.0\\Mail";
const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The client's id list: {size or count, count, the ids}.
struct IdList {
    UINT size, count;
    void* ids;
};

using plume::test::AnyFn;
using Obj = plume::test::StoreObj;

using Props = std::map<std::string, std::string>;
struct Update {
    UINT flags;
    std::string file, email;
    std::wstring name, display;
};
struct FakeClient {
    const StoreContract* c = &kStoreOE;
    std::map<LONG, std::map<LONG, Props>> folders;
    LONG nextId = 1000;
    std::vector<std::string> calls;
    std::vector<Update> updates;
    int freedRestored = 0, freedOther = 0;
    // The store tells its listener of each saved message on the saving
    // thread, as the client's commit does.
    plume::PLUMEStoreListener* listener = nullptr;
};
FakeClient* g;
// The record's own strings, which must be back before it is freed.
char g_own[4][8] = {"own0", "own1", "own2", "own3"};

std::string Call(const char* what, LONG folder, LONG id, UINT_PTR flags) {
    return std::string(what) + " " + std::to_string(folder) + ":" + std::to_string(id) + " " + std::to_string(flags);
}


AnyFn g_store[96], g_folder[96], g_ns[16], g_pubFolder[16], g_mime[40];
using plume::test::NewStoreObj;

HRESULT STDMETHODCALLTYPE StoreOpenFolder(Obj*, UINT id, UINT_PTR, UINT_PTR, IUnknown** out) {
    if (!g->folders.count(static_cast<LONG>(id))) return E_INVALIDARG;
    *out = NewStoreObj(g_folder, id);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE CreateRowset(Obj* o, UINT_PTR, UINT_PTR, UINT_PTR* out) {
    auto* r = new plume::test::FakeRowset{{}, g->c->wm};
    for (auto& m : g->folders[o->folder]) r->ids.push_back(static_cast<UINT>(m.first));
    *out = reinterpret_cast<UINT_PTR>(r);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE FreeRecord(Obj*, BYTE* record) {
    void* first;
    memcpy(&first, record + kWmRecordStrings[0], sizeof first);
    ++(first == g_own[0] || first == nullptr ? g->freedRestored : g->freedOther);
    return S_OK;
}
HRESULT OpenIn(LONG folder, UINT_PTR id, IUnknown** out) {
    if (!g->folders[folder].count(static_cast<LONG>(id))) return E_INVALIDARG;
    *out = NewStoreObj(g_mime, folder, static_cast<LONG>(id));
    return S_OK;
}
LONG SaveIn(LONG folder, IUnknown* message, UINT_PTR flags) {
    auto* m = reinterpret_cast<Obj*>(message);
    const LONG id = g->nextId++;
    g->folders[folder][id] = g->folders[m->folder][m->msg];
    g->calls.push_back(Call("save", folder, m->msg, flags));
    if (g->listener) g->listener->OnStoreChange(kInsertMessage, 1, folder, id, 0, 0, 0);
    return id;
}
void DeleteIn(LONG folder, UINT_PTR flags, IdList* list, bool callback) {
    LONG id;
    memcpy(&id, list->ids, sizeof id);
    g->folders[folder].erase(id);
    g->calls.push_back(Call(callback ? "delete+callback" : "delete", folder, id, flags) + " list " +
                       std::to_string(list->size) + "," + std::to_string(list->count));
}
HRESULT STDMETHODCALLTYPE OpenMessage(Obj* o, UINT_PTR id, UINT_PTR, IUnknown** out, UINT_PTR) {
    return OpenIn(o->folder, id, out);
}
HRESULT STDMETHODCALLTYPE SaveMessage(Obj* o, ULONGLONG* id, UINT_PTR, UINT_PTR flags, UINT_PTR, IUnknown* message,
                                      UINT_PTR) {
    *id = static_cast<ULONGLONG>(SaveIn(o->folder, message, flags));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE DeleteMessages(Obj* o, UINT_PTR flags, IdList* list, void*, IUnknown* cb) {
    DeleteIn(o->folder, flags, list, cb != nullptr);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE FindRecord(Obj* o, UINT_PTR, INT_PTR, BYTE* record, void*) {
    LONG id;
    memcpy(&id, record + kMessageIdAt, sizeof id);
    if (!g->folders[o->folder].count(id)) return S_FALSE;
    for (int i = 0; i < 4; ++i) {
        void* p = g_own[i];
        memcpy(record + kWmRecordStrings[i], &p, sizeof p);
    }
    return S_OK;
}
HRESULT STDMETHODCALLTYPE UpdateRecord(Obj*, BYTE* record) {
    void* p[4];
    for (int i = 0; i < 4; ++i) memcpy(&p[i], record + kWmRecordStrings[i], sizeof p[i]);
    Update u;
    memcpy(&u.flags, record + kStoreWM.messageFlagsAt, sizeof u.flags);
    u.display = static_cast<const wchar_t*>(p[0]);
    u.email = static_cast<const char*>(p[1]);
    u.name = static_cast<const wchar_t*>(p[2]);
    u.file = static_cast<const char*>(p[3]);
    g->updates.push_back(u);
    return S_OK;
}

// Published API (Outlook Express).
HRESULT STDMETHODCALLTYPE NsOpenFolder(Obj*, UINT_PTR id, UINT_PTR, IUnknown** out) {
    if (!g->folders.count(static_cast<LONG>(id))) return E_INVALIDARG;
    *out = NewStoreObj(g_pubFolder, static_cast<LONG>(id));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PubDelete(Obj* o, IdList* list, UINT_PTR, IUnknown*) {
    DeleteIn(o->folder, 0, list, false);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE PubOpen(Obj* o, UINT_PTR id, const IID*, IUnknown** out) { return OpenIn(o->folder, id, out); }
HRESULT STDMETHODCALLTYPE PubSave(Obj* o, const IID*, IUnknown* message, UINT_PTR flags, ULONGLONG* id) {
    *id = static_cast<ULONGLONG>(SaveIn(o->folder, message, flags));
    return S_OK;
}

std::string PropName(const char* name) {
    return reinterpret_cast<UINT_PTR>(name) <= 0xFFFF ? "#" + std::to_string(reinterpret_cast<UINT_PTR>(name)) : name;
}
HRESULT STDMETHODCALLTYPE GetBodyProp(Obj* o, void* body, const char* name, UINT_PTR, PROPVARIANT* v) {
    if (body != reinterpret_cast<void*>(static_cast<INT_PTR>(-1))) return E_INVALIDARG;
    Props& props = g->folders[o->folder][o->msg];
    auto it = props.find(PropName(name));
    if (it == props.end()) return static_cast<HRESULT>(0x800CCE05);  // not found
    v->vt = VT_LPSTR;
    v->pszVal = static_cast<char*>(CoTaskMemAlloc(it->second.size() + 1));
    strcpy(v->pszVal, it->second.c_str());
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SetBodyProp(Obj* o, void* body, const char* name, UINT_PTR, const PROPVARIANT* v) {
    if (body != reinterpret_cast<void*>(static_cast<INT_PTR>(-1)) || v->vt != VT_LPSTR) return E_INVALIDARG;
    g->folders[o->folder][o->msg][PropName(name)] = v->pszVal;
    return S_OK;
}

template <typename F>
AnyFn Fn(F f) {
    return reinterpret_cast<AnyFn>(f);
}
void BuildTables(const StoreContract& c) {
    for (AnyFn* t : {g_store, g_folder, g_ns, g_pubFolder, g_mime})
        plume::test::FillFakeTable<Obj>(t, t == g_store || t == g_folder ? 96 : t == g_mime ? 40 : 16);
    g_store[c.storeOpenFolder] = Fn(StoreOpenFolder);
    g_folder[kFreeRecord] = Fn(FreeRecord);
    g_folder[kCreateRowset] = Fn(CreateRowset);
    if (c.folderSeekRowset >= 0) g_folder[c.folderSeekRowset] = Fn(&plume::test::FakeSeekRowset<Obj>);
    g_folder[kQueryRowset] = Fn(&plume::test::FakeQueryRowset<Obj>);
    g_folder[kCloseRowset] = Fn(&plume::test::FakeCloseRowset<Obj>);
    g_folder[c.folderOpenMessage] = Fn(OpenMessage);
    g_folder[c.folderSaveMessage] = Fn(SaveMessage);
    g_folder[c.folderDeleteMessages] = Fn(DeleteMessages);
    if (c.wm) {
        g_folder[kFindRecord] = Fn(FindRecord);
        g_folder[kUpdateRecord] = Fn(UpdateRecord);
    }
    g_ns[kNsOpenFolder] = Fn(NsOpenFolder);
    g_pubFolder[kSfDeleteMessages] = Fn(PubDelete);
    g_pubFolder[kSfOpenMessage] = Fn(PubOpen);
    g_pubFolder[kSfSaveMessage] = Fn(PubSave);
    g_mime[kGetBodyProp] = Fn(GetBodyProp);
    g_mime[kSetBodyProp] = Fn(SetBodyProp);
}

// The send dialog's own procedure: what reaches it past the library.
WNDPROC g_dialogOwn = nullptr;
std::vector<LPARAM> g_passed;
LRESULT CALLBACK DialogRecorder(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kSendDialogCommand) {
        g_passed.push_back(lParam);
        return 0;
    }
    return CallWindowProcA(g_dialogOwn, hwnd, msg, wParam, lParam);
}

class SendCycleTest : public ::testing::TestWithParam<const StoreContract*> {
protected:
    void SetUp() override {
        c = GetParam();
        plume::SetWindowsMailForTesting(c->wm ? 1 : 0);
        // Outlook Express keeps its mail settings per identity.
        if (!c->wm) {
            ASSERT_TRUE(lastUser.SetString(L"{plume-send-identity}"));
        }
        sendImmediately = std::make_unique<ScopedRegistryValue>(HKEY_CURRENT_USER, c->wm ? kMailSettingsWM : kMailSettingsOE,
                                                                L"Send Mail Immediately");
        g = &client;
        client.c = c;
        for (LONG f : {LONG(1), c->outbox, c->holding, kSourceFolder}) client.folders[f];
        client.folders[c->outbox][40] = {};
        BuildTables(*c);
        // A manager of its own, and a store watcher that captures the test's store.
        factory = std::make_unique<plume::test::FakeStoreClass>(g_store);
        ASSERT_HRESULT_SUCCEEDED(factory->registered());
        m = plume::test::FreshManager();
        ASSERT_NE(nullptr, m);
        const std::shared_ptr<plume::PLUMEMessageStore> watcher = plume::MakeMessageStore();  // the variant's
        ASSERT_HRESULT_SUCCEEDED(watcher->HookStoreClass());
        clientStore = plume::test::ClientTouchesStore(g_store);
        ASSERT_TRUE(watcher->IsStoreCaptured());
        {
            plume::cs_lock hold(m->storeLock());
            m->messageStore = watcher;
        }
        m->outboxFolderId = c->outbox;
        m->holdingFolderId = c->holding;
        m->lastOutboxMessageId = 40;
        if (!c->wm) {
            m->storeNamespace = com_ptr<IUnknown>::attach(NewStoreObj(g_ns, 0));
            m->outboxFolder = com_ptr<IUnknown>::attach(NewStoreObj(g_pubFolder, c->outbox));
        }
        // The client's main window and its hidden send dialog.
        main = CreateWindowA(plume::test::WindowClass("Outlook Express Browser Class"), "client", WS_OVERLAPPEDWINDOW,
                             0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
        plume::AttachPlugin(main, nullptr);
        dialog = CreateWindowExA(0, "#32770", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, dialog);
        g_dialogOwn = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DialogRecorder)));
        g_passed.clear();
        m->HookSendWnd();
        ASSERT_EQ(dialog, m->sendDialog());
        root = std::make_unique<Root>();
        HeardEvents().clear();
    }
    void TearDown() override {
        root.reset();
        HeardEvents().clear();
        if (m) m->UnhookSendWnd();
        plume::test::Pump();
        if (dialog) DestroyWindow(dialog);
        plume::Callbacks() = plume::HostNotifyCallbacks{};
        plume::DetachHooks();
        if (main) DestroyWindow(main);
        plume::OEToolbarRegistry::Destroy();
        plume::OEToolbarRegistry::Reopen();
        plume::test::FreshManager();  // the next test's, without this one's store
        factory.reset();
        if (clientStore) clientStore->Release();
        plume::SetWindowsMailForTesting(-1);
        g = nullptr;
    }

    struct Root {
        com_ptr<IPLUMEObj> obj = plume::test::NewRoot();
        com_ptr<plume::test::RecordingSink> sink = plume::test::Listen(obj, DIID_IPLUMEObjEvents, "root");
    };

    // The client sends its send command; true when the library held it back.
    bool ClientSends(LPARAM lParam) { return SendMessageA(dialog, kSendDialogCommand, 0, lParam) == 1; }
    std::vector<LONGLONG> Pending() { return {m->pendingSendCommands.begin(), m->pendingSendCommands.end()}; }

    PLUMEManager* m = nullptr;
    const StoreContract* c = nullptr;
    FakeClient client;
    std::unique_ptr<plume::test::FakeStoreClass> factory;
    IUnknown* clientStore = nullptr;
    HWND main = nullptr, dialog = nullptr;
    std::unique_ptr<Root> root;
    ScopedRegistryValue lastUser{HKEY_CURRENT_USER, L"Identities", L"Last User ID"};
    std::unique_ptr<ScopedRegistryValue> sendImmediately;
    ScopedRegistryValue offline{HKEY_CURRENT_USER, kInternetSettings, L"GlobalUserOffline"};
};

TEST_P(SendCycleTest, FirstCommandPassesLaterOnesAreHeldBackAndReplayedOneAtATime) {
    m->SendAndReceiveMessages();
    EXPECT_TRUE(Pending().empty()) << "no send has passed";
    EXPECT_FALSE(ClientSends(0x11)) << "the first send after a transfer";
    m->SendAndReceiveMessages();
    m->SendAndReceiveMessages();
    EXPECT_EQ(std::vector<LONGLONG>{-1}, Pending()) << "one request, once a send passed";
    EXPECT_TRUE(ClientSends(0x22)) << "a transfer is running";
    EXPECT_TRUE(ClientSends(0x33));
    m->SendAndReceiveMessages();
    EXPECT_EQ((std::vector<LONGLONG>{-1, 0x22, 0x33}), Pending()) << "no request while something is held back";
    EXPECT_EQ(std::vector<LPARAM>{0x11}, g_passed);

    // The end of the transfer replays the oldest, with its own lParam.
    m->RaiseOnMessageDownloadFinishedEvent();
    plume::test::Pump();
    EXPECT_EQ((std::vector<LPARAM>{0x11, -1}), g_passed);
    EXPECT_EQ((std::vector<LONGLONG>{0x22, 0x33}), Pending());
    ASSERT_FALSE(HeardEvents().empty());
    EXPECT_EQ(root_event::kDownloadFinished, HeardEvents().front().dispid);
}

// A window that sends, or an Outbox message not reported yet, holds the
// client's commands back; a store change replays one unless the settings or a
// send button's command say not to; the end of a transfer always does.
TEST_P(SendCycleTest, HeldCommandsAreReplayedOneAtATimeAsTheSettingsAllow) {
    m->sendBusy = 1;
    EXPECT_TRUE(ClientSends(0x22)) << "a message window is sending";
    m->sendBusy = 0;
    client.folders[c->outbox][41] = {};  // not reported yet
    EXPECT_TRUE(ClientSends(0x33));
    EXPECT_TRUE(ClientSends(0x44));
    EXPECT_TRUE(g_passed.empty());
    EXPECT_EQ(0, m->firstSendPassed) << "held-back commands are not the first send";
    ASSERT_EQ((std::vector<LONGLONG>{0x22, 0x33, 0x44}), Pending());
    sendImmediately->SetDword(0);
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1);
    EXPECT_EQ(41, m->lastOutboxMessageId) << "the insertion is reported";
    EXPECT_EQ(3u, Pending().size()) << "Send Mail Immediately 0";
    sendImmediately->SetDword(1);
    offline.SetDword(1);
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1);
    EXPECT_EQ(3u, Pending().size()) << "offline";
    m->RaiseOnMessageDownloadFinishedEvent();
    EXPECT_EQ(2u, Pending().size()) << "the end of a transfer still replays one";
    offline.SetDword(0);
    m->sendButtonCommand = kSendCommand;  // as a window's Send leaves it
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1);
    EXPECT_EQ(2u, Pending().size()) << "a send button's command skips the replay once";
    EXPECT_EQ(0, m->sendButtonCommand);
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1);
    EXPECT_EQ(1u, Pending().size());
    // The first replay passes; the second finds that send running and waits again.
    plume::test::Pump();
    EXPECT_EQ(std::vector<LPARAM>{0x22}, g_passed);
    EXPECT_EQ((std::vector<LONGLONG>{0x44, 0x33}), Pending());
}

TEST_P(SendCycleTest, EveryStoreChangeReportsTheOutboxFirst) {
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1);
    m->RaiseOnDatabaseChange(kDeleteMessage, kSourceFolder, 7, -1);
    const std::vector<Heard> expected = {{"root", root_event::kNewMessageInOutbox, {41}},
                                         {"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, 41, -1}},
                                         {"root", root_event::kNewMessageInOutbox, {7}},
                                         {"root", root_event::kDatabaseChange, {kDeleteMessage, kSourceFolder, 7, -1}}};
    EXPECT_EQ(expected, HeardEvents());
    EXPECT_EQ(7, m->lastOutboxMessageId);
    // While a window sends only the change is heard; the Outbox insertion is
    // announced once the window is done. Without a send dialog, never.
    HeardEvents().clear();
    m->sendBusy = 1;
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 42, -1);
    m->RaiseOnDatabaseChange(kDeleteMessage, kSourceFolder, 8, -1);
    EXPECT_EQ(1, m->sendBusy);
    EXPECT_EQ(7, m->lastOutboxMessageId);
    m->sendBusy = 0;
    m->CheckSendCycle();
    EXPECT_EQ(42, m->lastOutboxMessageId);
    m->UnhookSendWnd();
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 43, -1);
    EXPECT_EQ((std::vector<Heard>{{"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, 42, -1}},
                                  {"root", root_event::kDatabaseChange, {kDeleteMessage, kSourceFolder, 8, -1}},
                                  {"root", root_event::kNewMessageInOutbox, {42}},
                                  {"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, 43, -1}}}),
              HeardEvents());
    EXPECT_EQ(42, m->lastOutboxMessageId);

    // An insertion made by a handler of the announcement (a plug-in's
    // SendMessage) is announced after it, not lost.
    m->HookSendWnd();
    HeardEvents().clear();
    root->sink->onCall = [&](const plume::test::SinkCall& call) {
        HeardEvents().push_back({"root", call.dispid, call.args});
        if (call.dispid == root_event::kNewMessageInOutbox && call.args == std::vector<long>{44})
            m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 45, -1);
    };
    const unique_handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 44, -1, done.get());
    EXPECT_EQ((std::vector<Heard>{{"root", root_event::kNewMessageInOutbox, {44}},
                                  {"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, 45, -1}},
                                  {"root", root_event::kNewMessageInOutbox, {45}},
                                  {"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, 44, -1}}}),
              HeardEvents());
    EXPECT_EQ(45, m->lastOutboxMessageId) << "a stale id would hold the next send back";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.get(), 0));
}

TEST_P(SendCycleTest, ADuringTransferSendIsParkedThenMovedToTheOutbox) {
    client.folders[kSourceFolder][7] = {{"Subject", "hello"}};
    EXPECT_FALSE(ClientSends(0x11));  // a transfer runs
    m->SendMessage(kSourceFolder, 7);
    ASSERT_EQ(1u, m->queuedSends.size());
    const LONG parked = m->queuedSends.front().msgId;
    EXPECT_EQ(c->holding, m->queuedSends.front().folderId);
    EXPECT_EQ(1u, client.folders[c->holding].count(parked));
    EXPECT_EQ(Call("save", c->holding, 7, kParkFlags), client.calls.at(0));
    EXPECT_EQ(1u, client.folders[kSourceFolder].count(7)) << "the source stays";
    // Listed where a close or a crash of the client does not lose it.
    const auto listed = plume::ParkedCopiesOfEarlierRuns();
    ASSERT_EQ(1u, listed.size());
    EXPECT_EQ(parked, listed[0].msgId);
    if (c->wm) {  // the Windows Mail copy needs the account file (below)
        plume::ForgetParkedCopy(listed[0]);
        return;
    }
    // The Outbox copy is committed on this thread, the callback window's:
    // its change is raised there before the save returns, not after a wait.
    client.listener = m;
    HeardEvents().clear();
    plume::test::Pump();
    const UINT marker = WM_APP + 77;  // queued before; nothing pumps it inside the commit
    PostThreadMessageA(GetCurrentThreadId(), marker, 0, 0);
    plume::test::LogLines log;
    const ULONGLONG started = GetTickCount64();
    m->RaiseOnMessageDownloadFinishedEvent();
    // The end of a transfer takes its 1.5 s; a poster's wait would add its bound.
    EXPECT_LT(GetTickCount64() - started, 1500 + plume::kPosterWaitMs / 2) << "it waited for a delivery to this thread";
    EXPECT_FALSE(log.Has("PLUMEManager::PostAndWait: no answer"));
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), marker, marker, PM_REMOVE))
        << "the change was raised in place, not by a nested message loop";
    EXPECT_TRUE(m->queuedSends.empty());
    EXPECT_TRUE(plume::ParkedCopiesOfEarlierRuns().empty());
    EXPECT_EQ(0u, client.folders[c->holding].count(parked)) << "the parked copy goes";
    EXPECT_EQ(2u, client.folders[c->outbox].size());
    EXPECT_EQ(Call("save", c->outbox, parked, kOutboxSaveFlags), client.calls.at(1));
    EXPECT_EQ(Call("delete", c->holding, parked, 0) + " list 16,1", client.calls.at(2));
    const LONG copy = client.folders[c->outbox].rbegin()->first;
    const std::vector<Heard> expected = {{"root", root_event::kDownloadFinished, {}},
                                         {"root", root_event::kNewMessageInOutbox, {copy}},
                                         {"root", root_event::kDatabaseChange, {kInsertMessage, c->outbox, copy, -1}}};
    EXPECT_EQ(expected, HeardEvents());
}

// Nothing waits for ever: a held command goes out after its bound even with
// "Send Mail Immediately" off and offline; a transfer whose end never comes
// lets its parked copies go; a copy an earlier run parked goes at the start.
TEST_P(SendCycleTest, NothingOfTheCycleIsHeldForEver) {
    plume::SendCycleBoundsForTesting bounds(300, 600);
    sendImmediately->SetDword(0);
    offline.SetDword(1);
    client.folders[c->outbox][41] = {};  // not reported: holds commands back
    EXPECT_TRUE(ClientSends(0x33));
    plume::test::PumpFor(100);
    EXPECT_TRUE(g_passed.empty()) << "held within the bound";
    plume::test::PumpUntil([] { return !g_passed.empty(); }, 1500);
    EXPECT_EQ(std::vector<LPARAM>{0x33}, g_passed) << "carried out after it";
    EXPECT_EQ(1, m->firstSendPassed);

    client.folders[kSourceFolder][7] = {};
    m->SendMessage(kSourceFolder, 7);
    ASSERT_EQ(1u, m->queuedSends.size()) << "parked: the transfer runs";
    EXPECT_TRUE(ClientSends(0x44));
    // No end comes: the bound ends the transfer, then the replayed command's own
    // (checked once a second).
    plume::test::PumpUntil([&] { return g_passed.size() == 2 && m->queuedSends.empty() && !m->firstSendPassed; }, 5000);
    EXPECT_EQ(0, m->firstSendPassed);
    EXPECT_TRUE(m->queuedSends.empty());
    EXPECT_EQ((std::vector<LPARAM>{0x33, 0x44}), g_passed) << "the held one goes on as after an end";
    EXPECT_TRUE(plume::ParkedCopiesOfEarlierRuns().empty());
    if (c->wm) return;  // the Windows Mail copy needs the account file
    EXPECT_EQ(3u, client.folders[c->outbox].size());

    // An earlier run's list: moved at the start, once.
    client.folders[c->holding][90] = {};
    plume::RememberParkedCopy({c->holding, 90});
    m->firstSendPassed = 0;
    m->FinishParkedCopiesOfEarlierRuns();
    EXPECT_EQ(0u, client.folders[c->holding].count(90));
    EXPECT_EQ(4u, client.folders[c->outbox].size());
    EXPECT_TRUE(plume::ParkedCopiesOfEarlierRuns().empty());
}

TEST_P(SendCycleTest, ADialogFoundLaterIsHookedWhenAMessageWindowOpens) {
    m->UnhookSendWnd();
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(DialogRecorder), GetWindowLongPtrA(dialog, GWLP_WNDPROC)) << "put back";
    EXPECT_FALSE(ClientSends(0x11));
    EXPECT_EQ(0, m->firstSendPassed) << "the library did not see it";
    m->RaiseOnNewMsgWnd(0x1234);
    EXPECT_EQ(dialog, m->sendDialog());
    EXPECT_FALSE(ClientSends(0x22));
    EXPECT_TRUE(ClientSends(0x33)) << "hooked again: a send has passed";
    EXPECT_EQ((std::vector<LPARAM>{0x11, 0x22}), g_passed);
}

TEST_P(SendCycleTest, AClosingClientSendsAsIfTheLibraryWereAbsent) {
    client.folders[kSourceFolder][7] = {};
    m->sendBusy = 1;
    m->SetShuttingDown();  // the next test makes a fresh manager
    EXPECT_FALSE(ClientSends(0x11)) << "not held back once the gate is closed";
    EXPECT_EQ(std::vector<LPARAM>{0x11}, g_passed);
    EXPECT_TRUE(Pending().empty());
    m->SendMessage(kSourceFolder, 7);
    EXPECT_TRUE(client.calls.empty()) << "nothing is copied while the client closes";
    const unique_handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    m->RaiseOnDatabaseChange(kInsertMessage, c->outbox, 41, -1, done.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(done.get(), 0)) << "the committing thread goes on";
    EXPECT_TRUE(HeardEvents().empty());
}

INSTANTIATE_TEST_SUITE_P(BothClients, SendCycleTest, ::testing::Values(&kStoreOE, &kStoreWM),
                         [](const auto& info) { return info.param->wm ? std::string("WM") : std::string("OE"); });

// Outlook Express: the account goes on the copy unless the message has one.
class OutlookExpressOutboxTest : public SendCycleTest {};

TEST_P(OutlookExpressOutboxTest, TheMessagesOwnAccountIsKept) {
    ScopedRegistryValue defaultAccount(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Internet Account Manager",
                                       L"Default Mail Account");
    plume::test::ScopedRegistryKey account(HKEY_CURRENT_USER,
                                           L"SOFTWARE\\Microsoft\\Internet Account Manager\\Accounts\\plume-send-01");
    account.SetString("Account Name", "Send test");
    lastUser.Delete();
    ASSERT_TRUE(defaultAccount.SetString(L"plume-send-01"));
    client.folders[kSourceFolder][7] = {{"#63", "own-account"}};
    client.folders[kSourceFolder][8] = {};
    m->SendMessage(kSourceFolder, 7);
    m->SendMessage(kSourceFolder, 8);
    std::vector<Props> copies;
    for (auto& [id, props] : client.folders[c->outbox])
        if (id != 40) copies.push_back(props);
    ASSERT_EQ(2u, copies.size());
    EXPECT_EQ((Props{{"#63", "own-account"}}), copies[0]);
    EXPECT_EQ((Props{{"#63", "plume-send-01"}, {"att:athena-account-name", "Send test"}}), copies[1]);
    EXPECT_EQ(2u, client.folders[kSourceFolder].size()) << "no transfer ran: the sources stay";
    EXPECT_EQ(Call("save", c->outbox, 7, kOutboxSaveFlags), client.calls.at(0));
}

INSTANTIATE_TEST_SUITE_P(OE, OutlookExpressOutboxTest, ::testing::Values(&kStoreOE),
                         [](const auto&) { return std::string("OE"); });

// Windows Mail: the deletion mark, and the record of the Outbox copy.
class WindowsMailOutboxTest : public SendCycleTest {};

TEST_P(WindowsMailOutboxTest, OnlyAnExactTrueMarkDeletesUnheard) {
    client.folders[c->holding][501] = {{"X_PLUME_DELETED", "True"}};
    client.folders[c->holding][502] = {{"X_PLUME_DELETED", "true"}};
    client.folders[c->holding][503] = {};
    for (LONG id : {501, 502, 503}) m->RaiseOnDatabaseChange(kInsertMessage, c->holding, id, -1);
    EXPECT_EQ(0u, client.folders[c->holding].count(501));
    EXPECT_EQ(1u, client.folders[c->holding].count(502));
    EXPECT_EQ(1u, client.folders[c->holding].count(503));
    EXPECT_EQ(std::vector<std::string>{Call("delete", c->holding, 501, kMarkedDeleteFlags) + " list 1,1"}, client.calls);
    std::vector<LONG> changes;
    for (const Heard& h : HeardEvents())
        if (h.dispid == root_event::kDatabaseChange) changes.push_back(h.args.at(2));
    EXPECT_EQ((std::vector<LONG>{502, 503}), changes);
}

TEST_P(WindowsMailOutboxTest, TheOutboxRecordCarriesTheAccount) {
    plume::test::TempFolder root("plume_send");
    root.Dir("Local Folders");
    root.Write("Local Folders\\send{TEST}.oeaccount",
               "<?xml version=\"1.0\"?><MessageAccount><Account_Name>Work</Account_Name>"
               "<SMTP_Display_Name>Ann</SMTP_Display_Name><SMTP_Email_Address>ann@x.org</SMTP_Email_Address>"
               "</MessageAccount>");
    ScopedRegistryValue accountFile(HKEY_CURRENT_USER, L"Software\\Microsoft\\IAM", L"Default Mail Account");
    ScopedRegistryValue storeRoot(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail", L"Store Root");
    ASSERT_TRUE(accountFile.SetString(L"send{TEST}.oeaccount"));
    ASSERT_TRUE(storeRoot.SetString(std::wstring(root.path().begin(), root.path().end())));
    client.folders[kSourceFolder][7] = {};
    m->CreateOutboxMessageWM(kSourceFolder, 7, 1);
    ASSERT_EQ(1u, client.updates.size());
    EXPECT_EQ(kOutboxRecordFlags, client.updates[0].flags);
    EXPECT_EQ("send{TEST}.oeaccount", client.updates[0].file);
    EXPECT_EQ(L"Work", client.updates[0].name);
    EXPECT_EQ(L"Ann", client.updates[0].display);
    EXPECT_EQ("ann@x.org", client.updates[0].email);
    EXPECT_EQ(1, client.freedRestored) << "the record's own strings are back before it is freed";
    EXPECT_EQ(0, client.freedOther);
    EXPECT_EQ(0u, client.folders[kSourceFolder].count(7));
    EXPECT_EQ(Call("delete+callback", kSourceFolder, 7, c->deleteFlagsWithCallback) + " list 16,1", client.calls.back());
}

INSTANTIATE_TEST_SUITE_P(WM, WindowsMailOutboxTest, ::testing::Values(&kStoreWM),
                         [](const auto&) { return std::string("WM"); });

}  // namespace
