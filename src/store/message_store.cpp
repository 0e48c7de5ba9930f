#include "store/message_store.h"
#include "store/client_table.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "client_variant.h"
#include "host/folder_tree.h"
#include "host/hooks.h"
#include "manager/plume_manager.h"
#include "log.h"

namespace plume {

const IID IID_IDatabaseNotify = {0x5E8A5022, 0xAC7C, 0x11D1, {0x9A, 0x16, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}};

namespace {

const CLSID kStoreClass = {0x101A8FB9, 0xF1B9, 0x11D1, {0x9A, 0x56, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}};

const StoreLayout kLayoutOE = {
    {0xE883FC75, 0xEC08, 0x11D1, {0x9A, 0x53, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}}, 52, 56, 18, 101, 32, false, true,
    50, 51, 55, 1, false, 61};
const StoreLayout kLayoutWM = {
    {0x569BA773, 0x508C, 0x469B, {0x8B, 0x21, 0xCB, 0xCC, 0xBC, 0xB7, 0xBC, 0xD2}}, 72, 76, -1, 109, 40, true, false,
    71, 72, 78, 15, true, 81};

// Positions shared by both clients.
constexpr int kAddRef = 1;
constexpr int kFreeRecord = 10;
constexpr int kCreateRowset = 17, kQueryRowset = 19, kCloseRowset = 20;
constexpr int kRegisterNotification = 26, kUnregisterNotification = 30;
constexpr int kGetTransaction = 33;
// Record offsets shared by both clients.
constexpr size_t kRecordFolderId = 16, kRecordParentId = 24, kRecordName = 32;
constexpr size_t kRecordMessageId = 24, kRecordMessageFolder = 32;
// The buffers handed to the client for one record.
constexpr size_t kRecordBuffer = 512;
using RecordBuffer = std::array<BYTE, kRecordBuffer>;

using AddRefFn = ULONG(STDMETHODCALLTYPE*)(IUnknown*);
using OpenFolderFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT, UINT_PTR, UINT_PTR, IUnknown**);
using FolderInfoFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT, void*);
using FreeRecordFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, void*);
using RegisterFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT, UINT, UINT, IUnknown*);
using UnregisterFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, IUnknown*);
using GetTransactionFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR*, UINT*, void*, void*, UINT*, void**);
using CreateRowsetFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, UINT_PTR*);
using SeekRowsetFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT, UINT_PTR, UINT_PTR*);
using QueryRowsetFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, void*, UINT_PTR*);
using OpenMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, IUnknown**, UINT_PTR);
using SaveMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, ULONGLONG*, UINT_PTR, UINT_PTR, UINT_PTR, IUnknown*,
                                                  UINT_PTR);
using DeleteMessagesFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, MessageIdList*, void*, IUnknown*);
using CloseRowsetFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR);
using EnumSubFoldersFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT, UINT_PTR, IUnknown**);
using NextSubFolderFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, ULONG, void*, ULONG*);
constexpr int kEnumeratorNext = 3;


template <typename T>
T Read(const BYTE* record, size_t offset) {
    T v;
    memcpy(&v, record + offset, sizeof v);
    return v;
}

// Process-wide, per variant (0 OE, 1 WM).
void* volatile g_previousAddRef[2] = {};
void* volatile g_previousOpenFolder[2] = {};
IUnknown* volatile g_captured[2] = {};
PLUMEMessageStore* volatile g_current = nullptr;

template <int V>
ULONG STDMETHODCALLTYPE CaptureAddRef(IUnknown* self) {
    InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_captured[V]), self, nullptr);
    auto previous = reinterpret_cast<AddRefFn>(g_previousAddRef[V]);
    return previous ? previous(self) : 1;
}

// Results the open-folder replacement is waiting for: the callback window
// writes only to these.
critical_section& PendingLock() {
    static auto* lock = new critical_section;
    return *lock;
}
std::set<LONG*>& PendingResults() {
    static auto* set = new std::set<LONG*>;
    return *set;
}

template <int V>
HRESULT STDMETHODCALLTYPE OpenFolderHook(IUnknown* self, UINT folderId, UINT_PTR a, UINT_PTR b, IUnknown** out) {
    auto previous = reinterpret_cast<OpenFolderFn>(g_previousOpenFolder[V]);
    HRESULT hr = previous ? previous(self, folderId, a, b, out) : E_NOTIMPL;
    PLUMEMessageStore* watcher = g_current;
    HWND window = watcher ? watcher->callbackWindow() : nullptr;
    if (SUCCEEDED(hr) && window) {
        LONG result = E_FAIL;
        try {
            {
                cs_lock hold(PendingLock());
                PendingResults().insert(&result);
            }
            SendMessageA(window, kStoreOpenFolderMessage, folderId, reinterpret_cast<LPARAM>(&result));
        } catch (...) {
            Log(0, "PLUMEMessageStore: open-folder hook failed.\n");
        }
        cs_lock hold(PendingLock());
        PendingResults().erase(&result);
    }
    return hr;
}

// The object registered with the client. Calls reach the current target or
// get E_FAIL; a target is only cleared once no call is inside it.
class DatabaseNotifierTrampoline final : public IDatabaseNotify {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDatabaseNotify) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 0; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP OnTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) override {
        PLUMEMessageStore* target;
        {
            cs_lock hold(lock_);
            target = target_;
            if (!target) return E_FAIL;
            ++inside_;
        }
        HRESULT hr = E_FAIL;
        try {
            hr = target->OnTransaction(transaction, cookie, database);
        } catch (...) {
            Log(0, "DatabaseNotifierTrampoline::OnTransaction: exception.\n");
        }
        cs_lock hold(lock_);
        --inside_;
        return hr;
    }
    void SetTarget(PLUMEMessageStore* target) {
        cs_lock hold(lock_);
        target_ = target;
    }
    // Clears the target when it is `target`, then waits until no call is
    // inside it; a committing thread is itself bounded, so this is too.
    void ClearTarget(PLUMEMessageStore* target) {
        {
            cs_lock hold(lock_);
            if (target_ != target) return;
            target_ = nullptr;
        }
        for (;;) {
            {
                cs_lock hold(lock_);
                if (!inside_) return;
            }
            Sleep(1);
        }
    }

private:
    critical_section lock_;
    PLUMEMessageStore* target_ = nullptr;
    int inside_ = 0;
};

DatabaseNotifierTrampoline& Trampoline() {
    static auto* trampoline = new DatabaseNotifierTrampoline;
    return *trampoline;
}

// The client's IStoreCallback: eleven methods that all succeed.
struct NullCallback {
    void* const* vtbl;
};
HRESULT STDMETHODCALLTYPE NullSlot(void*) { return S_OK; }
void* const kNullCallbackTable[11] = {
    reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot),
    reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot),
    reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot),
    reinterpret_cast<void*>(NullSlot), reinterpret_cast<void*>(NullSlot)};
NullCallback g_nullCallback = {kNullCallbackTable};

LRESULT CALLBACK StoreCallbackProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kStoreOpenFolderMessage) {
        try {
            PLUMEMessageStore* watcher = g_current;
            HRESULT hr = watcher ? watcher->RegisterMessageNotification(static_cast<ULONG>(wParam)) : E_FAIL;
            auto* result = reinterpret_cast<LONG*>(lParam);
            cs_lock hold(PendingLock());
            if (result && PendingResults().count(result)) *result = hr;
        } catch (...) {
            Log(0, "PLUMEMessageStoreCallback: exception.\n");
        }
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The answer while no store has been captured (or the store class is
// missing), from what the folder tree shows: the folder's number, its place
// under its parent item (a top-level item hangs below the store's own root,
// 0) and, local or not, whether it lies under the local root. Folder 0 has
// no tree item on Windows Mail: a local folder without a parent.
bool TreeRecord(LONG folderId, size_t kindByte, BYTE* out) {
    HWND tree = TreeView();
    if (!IsWindow(tree)) return false;
    INT32 parent = -1;
    bool local = true;
    if (folderId != 0) {
        HTREEITEM item = FindTreeItemOfFolder(tree, NextTreeItem(tree, TVGN_ROOT, nullptr), folderId);
        if (!item) return false;
        INT64 number = 0;
        HTREEITEM up = NextTreeItem(tree, TVGN_PARENT, item);
        parent = up && TreeItemFolder(tree, up, &number) ? static_cast<INT32>(number) : 0;
        local = false;
        for (HTREEITEM i = item; i && !local; i = NextTreeItem(tree, TVGN_PARENT, i))
            local = TreeItemFolder(tree, i, &number) && number == kLocalRootFolder;
    }
    const INT32 id = folderId;
    memcpy(out + kRecordFolderId, &id, sizeof id);
    memcpy(out + kRecordParentId, &parent, sizeof parent);
    out[kindByte] = local ? 3 : 0;
    memset(out + kRecordName, 0, sizeof(void*));  // nothing to free
    return true;
}

}  // namespace

bool TablePatch::Apply(void** at, void* with) {
    DWORD old = 0;
    if (!at || !VirtualProtect(at, sizeof *at, PAGE_EXECUTE_READWRITE, &old)) return false;
    previous = *at;
    *at = with;
    VirtualProtect(at, sizeof *at, old, &old);
    slot = at;
    replacement = with;
    active = true;
    return true;
}

void TablePatch::Undo() {
    if (!active) return;
    active = false;
    // Someone who replaced the entry after us keeps it.
    if (*slot != replacement) return;
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_EXECUTE_READWRITE, &old)) return;
    *slot = previous;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

LONG FolderKindFromByte(BYTE kindByte) {
    switch (kindByte) {
    case 3: return 1;
    case 0: return 2;
    case 1: return 3;
    default: return 4;
    }
}

PLUMEMessageStore::PLUMEMessageStore(const StoreLayout& layout, int variant) : layout_(layout), variant_(variant) {
    InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_current), this, nullptr);
    Trampoline().SetTarget(this);
}

PLUMEMessageStore::~PLUMEMessageStore() {
    UnhookAll();
    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_captured[variant_]), nullptr);
    // Transactions in flight finish while the store is still held.
    Trampoline().ClearTarget(this);
    InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_current), nullptr, this);
    {
        cs_lock holdStore(storeLock_);
        store_.reset();
    }
    cs_lock hold(lock_);
    registeredFolders_.clear();
    lruFolders_.clear();
}

STDMETHODIMP PLUMEMessageStore::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDatabaseNotify) ? this : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP PLUMEMessageStore::OnTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) {
    return cookie == kStoreCookie ? NotifyFolderTransaction(transaction, cookie, database)
                                  : NotifyMessageTransaction(transaction, cookie, database);
}

HRESULT PLUMEMessageStore::HookStoreClass() {
    com_ptr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(kStoreClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.put_void());
    if (FAILED(hr)) {
        Log(0, "PLUMEMessageStore::HookStoreClass: CoCreateInstance %08lx.\n", static_cast<unsigned long>(hr));
        return hr;
    }
    com_ptr<IUnknown> store = unknown.query<IUnknown>(layout_.storeIid);
    unknown.reset();
    if (!store) return E_NOINTERFACE;
    void** slot = Slot(store.get(), kAddRef);
    void* routine = reinterpret_cast<void*>(variant_ ? &CaptureAddRef<1> : &CaptureAddRef<0>);
    if (*slot != routine && capturePatch_.Apply(slot, routine)) g_previousAddRef[variant_] = capturePatch_.previous;
    return hr;
}

void PLUMEMessageStore::UnhookAll() {
    if (layout_.unhookOpenFolderFirst) {
        openFolderPatch_.Undo();
        capturePatch_.Undo();
    } else {
        capturePatch_.Undo();
        openFolderPatch_.Undo();
    }
}

bool PLUMEMessageStore::IsStoreCaptured() {
    com_ptr<IUnknown> store;
    if (FAILED(GetStore(store.put())) || !store) return false;
    capturePatch_.Undo();
    return true;
}

HRESULT PLUMEMessageStore::GetStore(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    cs_lock hold(storeLock_);  // held only for the pointer: never while calling the client
    if (!store_) {
        IUnknown* captured = g_captured[variant_];
        if (!captured) return E_FAIL;
        captured->AddRef();
        store_ = com_ptr<IUnknown>::attach(captured);
    }
    store_->AddRef();
    *out = store_.get();
    return S_OK;
}

HRESULT PLUMEMessageStore::OpenFolder(LONG folderId, IUnknown** folder) {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    com_ptr<IUnknown> store;
    HRESULT hr = GetStore(store.put());
    if (FAILED(hr)) return hr;
    // Our own opens do not register the folder.
    auto open = openFolderPatch_.active ? reinterpret_cast<OpenFolderFn>(openFolderPatch_.previous)
                                        : Entry<OpenFolderFn>(store.get(), layout_.storeOpenFolder);
    return open(store.get(), static_cast<UINT>(folderId), 0, 0, folder);
}

HRESULT PLUMEMessageStore::ReadFolderRecord(LONG folderId, BYTE* record) {
    com_ptr<IUnknown> store;
    if (FAILED(GetStore(store.put())))
        return TreeRecord(folderId, layout_.kindByte, record) ? S_OK : E_FAIL;
    return Entry<FolderInfoFn>(store.get(), layout_.storeFolderInfo)(store.get(), static_cast<UINT>(folderId), record);
}

template <typename Take>
HRESULT PLUMEMessageStore::WithFolderRecord(LONG folderId, Take take) {
    RecordBuffer record{};
    HRESULT hr = ReadFolderRecord(folderId, record.data());
    if (FAILED(hr)) return hr;
    take(record.data());
    com_ptr<IUnknown> store;
    if (SUCCEEDED(GetStore(store.put())) && store)
        Entry<FreeRecordFn>(store.get(), kFreeRecord)(store.get(), record.data());
    return S_OK;
}

HRESULT PLUMEMessageStore::GetFolderKind(LONG folderId, LONG* kind) {
    if (!kind) return E_POINTER;
    return WithFolderRecord(folderId, [&](const BYTE* r) { *kind = FolderKindFromByte(r[layout_.kindByte]); });
}

HRESULT PLUMEMessageStore::GetParentFolderId(LONG folderId, LONG* parent) {
    if (!parent) return E_POINTER;
    return WithFolderRecord(folderId, [&](const BYTE* r) { *parent = Read<INT32>(r, kRecordParentId); });
}

HRESULT PLUMEMessageStore::EnumSubFolders(LONG folderId, IUnknown** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = nullptr;
    com_ptr<IUnknown> store;
    HRESULT hr = GetStore(store.put());
    if (FAILED(hr)) return hr;
    return Entry<EnumSubFoldersFn>(store.get(), layout_.storeEnumSubFolders)(store.get(), static_cast<UINT>(folderId), 1,
                                                                               enumerator);
}

HRESULT PLUMEMessageStore::NextSubFolder(IUnknown* enumerator, ULONG count, LONG* folderId, ULONG* fetched) {
    if (!enumerator || !folderId) return E_POINTER;
    RecordBuffer record{};
    ULONG got = 0;
    HRESULT hr = Entry<NextSubFolderFn>(enumerator, kEnumeratorNext)(enumerator, count, record.data(), &got);
    if (fetched) *fetched = got;
    if (hr == S_FALSE || FAILED(hr)) return hr;
    *folderId = Read<INT32>(record.data(), kRecordFolderId);
    com_ptr<IUnknown> store;
    if (SUCCEEDED(GetStore(store.put())) && store)
        Entry<FreeRecordFn>(store.get(), kFreeRecord)(store.get(), record.data());
    return hr;
}

std::vector<ULONG> PLUMEMessageStore::LocalFolders() {
    std::vector<ULONG> order{kRootFolderId};
    std::set<ULONG> seen{kRootFolderId};
    // Breadth first; a folder met twice (an enumerator that also lists
    // grandchildren) is taken once, and a store that never ends its lists
    // stops the walk at the bound.
    for (size_t i = 0; i < order.size() && order.size() < kMaxFoldersWalked; ++i) {
        com_ptr<IUnknown> children;
        if (FAILED(EnumSubFolders(static_cast<LONG>(order[i]), children.put())) || !children) continue;
        while (order.size() < kMaxFoldersWalked) {
            LONG id = 0;
            ULONG fetched = 0;
            if (NextSubFolder(children.get(), 1, &id, &fetched) != S_OK || !fetched) break;
            if (seen.insert(static_cast<ULONG>(id)).second) order.push_back(static_cast<ULONG>(id));
        }
    }
    // The root itself holds folders only.
    std::vector<ULONG> local;
    for (ULONG id : order) {
        if (id == kRootFolderId) continue;
        LONG kind = 0;
        if (SUCCEEDED(GetFolderKind(static_cast<LONG>(id), &kind)) && kind == 1) local.push_back(id);
    }
    return local;
}

HRESULT PLUMEMessageStore::RegisterFolderNotification(LONG folderId, IDatabaseNotify* notify, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    com_ptr<IUnknown> folder;
    HRESULT hr = OpenFolder(folderId, folder.put());
    if (FAILED(hr)) return hr;
    if (!folder) return E_FAIL;
    hr = Entry<RegisterFn>(folder.get(), kRegisterNotification)(folder.get(), 0, 1, static_cast<UINT>(folderId),
                                                                 notify);
    if (FAILED(hr)) return hr;
    *out = folder.detach();
    return S_OK;
}

HRESULT PLUMEMessageStore::UnregisterFolderNotification(IDatabaseNotify* notify, IUnknown* folder) {
    if (!folder) return E_FAIL;
    HRESULT hr = Entry<UnregisterFn>(folder, kUnregisterNotification)(folder, notify);
    if (SUCCEEDED(hr)) folder->Release();
    return hr;
}

HRESULT PLUMEMessageStore::OpenMimeMessage(LONG folderId, LONG msgId, IUnknown** message) {
    if (!message) return E_POINTER;
    *message = nullptr;
    com_ptr<IUnknown> folder;
    HRESULT hr = OpenFolder(folderId, folder.put());
    if (FAILED(hr) || !folder) return FAILED(hr) ? hr : E_FAIL;
    return Entry<OpenMessageFn>(folder.get(), layout_.folderOpenMessage)(folder.get(), static_cast<ULONG>(msgId), 0,
                                                                         message, 0);
}

HRESULT PLUMEMessageStore::SaveMimeMessage(LONG folderId, UINT flags, IUnknown* message, LONG* newId) {
    if (!newId) return E_POINTER;
    com_ptr<IUnknown> folder;
    HRESULT hr = OpenFolder(folderId, folder.put());
    if (FAILED(hr) || !folder) return FAILED(hr) ? hr : E_FAIL;
    ULONGLONG id = 0;  // wide enough for either client's ids
    hr = Entry<SaveMessageFn>(folder.get(), layout_.folderSaveMessage)(folder.get(), &id, 0, flags, 0, message, 0);
    *newId = static_cast<LONG>(id);
    return hr;
}

HRESULT PLUMEMessageStore::DeleteMessage(LONG folderId, LONG msgId, bool withCallback) {
    com_ptr<IUnknown> folder;
    HRESULT hr = OpenFolder(folderId, folder.put());
    if (FAILED(hr) || !folder) return FAILED(hr) ? hr : E_FAIL;
    ULONGLONG id = static_cast<ULONG>(msgId);  // a 32-bit id is its low half
    MessageIdList list{16, 1, &id};
    return Entry<DeleteMessagesFn>(folder.get(), layout_.folderDeleteMessages)(
        folder.get(), withCallback ? layout_.deleteFlagsWithCallback : 0, &list, nullptr,
        withCallback ? NullStoreCallback() : nullptr);
}

ULONG PLUMEMessageStore::GetLastMessageId(LONG folderId) {
    com_ptr<IUnknown> folder;
    if (FAILED(OpenFolder(folderId, folder.put())) || !folder) return 0xFFFFFFFF;
    IUnknown* f = folder.get();
    UINT_PTR rowset = 0;
    if (FAILED(Entry<CreateRowsetFn>(f, kCreateRowset)(f, 0, 0, &rowset))) return 0xFFFFFFFF;
    ULONG result = 0xFFFFFFFF;
    RecordBuffer record{};
    if (layout_.folderSeekRowset >= 0) {
        UINT_PTR position = 0;
        if (SUCCEEDED(Entry<SeekRowsetFn>(f, layout_.folderSeekRowset)(f, rowset, 2, 0, &position)) &&
            Entry<QueryRowsetFn>(f, kQueryRowset)(f, rowset, position, record.data(), nullptr) == S_OK) {
            result = Read<UINT>(record.data(), kRecordMessageId);
            Entry<FreeRecordFn>(f, kFreeRecord)(f, record.data());
        }
    } else {
        LONG largest = -1;
        while (Entry<QueryRowsetFn>(f, kQueryRowset)(f, rowset, 1, record.data(), nullptr) == S_OK) {
            largest = std::max(largest, Read<LONG>(record.data(), kRecordMessageId));
            Entry<FreeRecordFn>(f, kFreeRecord)(f, record.data());
            record.fill(0);
        }
        result = static_cast<ULONG>(largest);
    }
    Entry<CloseRowsetFn>(f, kCloseRowset)(f, rowset);
    return result;
}

HRESULT PLUMEMessageStore::RegisterStoreNotification(IDatabaseNotify* notify) {
    com_ptr<IUnknown> store;
    HRESULT hr = GetStore(store.put());
    if (FAILED(hr)) return hr;
    hr = Entry<RegisterFn>(store.get(), kRegisterNotification)(store.get(), 2, 1, kStoreCookie, notify);
    if (FAILED(hr)) return hr;
    void** slot = Slot(store.get(), layout_.storeOpenFolder);
    void* hook = reinterpret_cast<void*>(variant_ ? &OpenFolderHook<1> : &OpenFolderHook<0>);
    if (*slot != hook && openFolderPatch_.Apply(slot, hook)) g_previousOpenFolder[variant_] = openFolderPatch_.previous;
    return S_OK;
}

HRESULT PLUMEMessageStore::UnregisterStoreNotification(IDatabaseNotify* notify) {
    openFolderPatch_.Undo();
    com_ptr<IUnknown> store;
    HRESULT hr = GetStore(store.put());
    if (FAILED(hr)) return hr;
    return Entry<UnregisterFn>(store.get(), kUnregisterNotification)(store.get(), notify);
}

HRESULT PLUMEMessageStore::ReadTransaction(IUnknown* database, UINT_PTR* transaction, UINT* type, BYTE* first,
                                           BYTE* second, void** ordinals) {
    if (!database) return E_POINTER;
    UINT index = 0;
    return Entry<GetTransactionFn>(database, kGetTransaction)(database, transaction, type, first, second, &index,
                                                              ordinals);
}

HRESULT PLUMEMessageStore::GetFolderTransactionInfo(IUnknown* database, UINT_PTR* transaction,
                                                    TransactionInfo* info) {
    RecordBuffer first{}, second{};
    HRESULT hr = ReadTransaction(database, transaction, &info->type, first.data(), second.data(), &info->ordinals);
    if (FAILED(hr)) return hr;
    info->folderId = Read<UINT>(first.data(), kRecordFolderId);
    info->objectId = Read<UINT>(second.data(), kRecordFolderId);
    info->valueA = Read<UINT>(first.data(), kRecordParentId);
    info->valueB = Read<UINT>(second.data(), kRecordParentId);
    info->valueC = first[layout_.kindByte];
    const auto* name1 = Read<const char*>(first.data(), kRecordName);
    const auto* name2 = Read<const char*>(second.data(), kRecordName);
    info->nameChanged = info->folderId == info->objectId && info->valueA == info->valueB && name1 && name2 &&
                        strcmp(name1, name2) != 0;
    Entry<FreeRecordFn>(database, kFreeRecord)(database, first.data());
    Entry<FreeRecordFn>(database, kFreeRecord)(database, second.data());
    return S_OK;
}

HRESULT PLUMEMessageStore::GetMessageTransactionInfo(IUnknown* database, UINT_PTR* transaction,
                                                     TransactionInfo* info) {
    RecordBuffer first{}, second{};
    HRESULT hr = ReadTransaction(database, transaction, &info->type, first.data(), second.data(), &info->ordinals);
    if (FAILED(hr)) return layout_.messageRecordHasFolder ? E_FAIL : hr;
    info->folderId = layout_.messageRecordHasFolder ? Read<UINT>(first.data(), kRecordMessageFolder) : 0xFFFFFFFF;
    info->objectId = Read<UINT>(first.data(), kRecordMessageId);
    info->valueA = Read<UINT>(second.data(), kRecordMessageId);
    info->valueB = Read<UINT>(first.data(), layout_.messageFlags);
    info->valueC = Read<UINT>(second.data(), layout_.messageFlags);
    Entry<FreeRecordFn>(database, kFreeRecord)(database, first.data());
    Entry<FreeRecordFn>(database, kFreeRecord)(database, second.data());
    return S_OK;
}

int PLUMEMessageStore::NotifyMessageTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) {
    if (!transaction) return 0;
    const CommitWaitBudget budget;
    do {
        TransactionInfo info;
        if (FAILED(GetMessageTransactionInfo(database, &transaction, &info))) return 1;
        const UINT folderId = info.folderId == 0xFFFFFFFF ? cookie : info.folderId;
        LONG kind = 0;
        if (FAILED(GetFolderKind(static_cast<LONG>(folderId), &kind))) return 0;
        int code = info.type == 0 ? 257 : info.type == 1 ? 258 : info.type == 2 ? 260 : 0;
        if (info.type == 1) {
            const bool wasRead = info.valueB & 0x80, isRead = info.valueC & 0x80;
            if (layout_.messageRecordHasFolder) code = wasRead ? 272 : 264;
            else if (wasRead && !isRead) code = 264;
            else if (!wasRead && isRead) code = 272;
        }
        if (code && listener_)
            listener_->OnStoreChange(code, kind, static_cast<int>(folderId), static_cast<int>(info.objectId),
                                     static_cast<int>(info.valueB), static_cast<int>(info.valueA),
                                     static_cast<int>(info.valueC));
    } while (transaction);
    return 0;
}

int PLUMEMessageStore::NotifyFolderTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) {
    Log(4, "PLUMEMessageStore::NotifyFolderTransaction: beg %08x %08x %08x.\n", static_cast<unsigned>(transaction),
        static_cast<unsigned>(cookie), static_cast<unsigned>(reinterpret_cast<UINT_PTR>(database)));
    const UINT_PTR handle = transaction;
    int processed = 0;
    if (transaction) {
        TransactionInfo info;
        HRESULT hr = GetFolderTransactionInfo(database, &transaction, &info);
        if (FAILED(hr)) {
            Log(0, "PLUMEMessageStore::OnTransaction: Error GetFolderTransactionInfo %08x.\n",
                static_cast<unsigned>(hr));
            return 1;
        }
        processed = 1;
        LONG kind = 0;
        if (FAILED(GetFolderKind(static_cast<LONG>(info.folderId), &kind))) {
            kind = FolderKindFromByte(static_cast<BYTE>(info.valueC));
            if (info.valueC == 3) info.type = 2;  // the folder is gone
        }
        int code = 0;
        if (info.type == 0) code = 513;
        else if (info.type == 2) code = 516;
        else if (info.type == 1) code = info.valueA != info.valueB ? 576 : info.nameChanged ? 544 : 514;
        if (code && listener_)
            listener_->OnStoreChange(code, kind, static_cast<int>(info.folderId), static_cast<int>(info.valueA), 0,
                                     static_cast<int>(info.valueB), 0);
        if (info.type == 2) {
            UnregisterMessageNotification(info.folderId);
            Log(2, "PLUMEMessageStore::OnTransaction: Deleted folder %d: parent id=%d.\n",
                static_cast<int>(info.folderId), static_cast<int>(info.valueA));
        } else if (info.type == 1) {
            if (info.valueA != info.valueB && info.valueA + info.valueB != 0)
                Log(2, "PLUMEMessageStore::OnTransaction: Folder Moved %d Old Parent %d New Parent %d.\n",
                    static_cast<int>(info.folderId), static_cast<int>(info.valueA), static_cast<int>(info.valueB));
            else
                Log(2, "PLUMEMessageStore::OnTransaction: Unknown update folder %d Old Parent %d New Parent %d.\n",
                    static_cast<int>(info.folderId), static_cast<int>(info.valueA), static_cast<int>(info.valueB));
        } else if (info.type == 0) {
            Log(2, "PLUMEMessageStore::OnTransaction: New folder %d Parent %d.\n", static_cast<int>(info.folderId),
                static_cast<int>(info.valueA));
            // Heard from its first message on: registered on the callback
            // window's thread, as an opened folder is.
            if (kind == 1 && callbackWindow_)
                PostMessageA(callbackWindow_, kStoreOpenFolderMessage, info.folderId, 0);
        } else {
            Log(0, "PLUMEMessageStore::OnTransaction: unknown transaction type %d.\n", static_cast<int>(info.type));
        }
    }
    Log(4, "PLUMEMessageStore::NotifyFolderTransaction: end %08x %08x %08x [%d].\n", static_cast<unsigned>(handle),
        static_cast<unsigned>(cookie), static_cast<unsigned>(reinterpret_cast<UINT_PTR>(database)), processed);
    return 0;
}

void PLUMEMessageStore::CreateStoreCallbackWindow() {
    static const ATOM atom = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = StoreCallbackProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = "PLUMEMessageStoreCallback";
        return RegisterClassExA(&wc);
    }();
    (void)atom;
    callbackWindow_ = CreateWindowExA(0, "PLUMEMessageStoreCallback", "PLUMEMessageStoreCallback Wnd",
                                      WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr,
                                      nullptr, nullptr);
    if (!callbackWindow_) Log(0, "CreateStoreCallbackWindow: CreateWindow() failed.\n");
}

void PLUMEMessageStore::StartWatching() {
    if (InterlockedExchange(&enabled_, 1)) return;
    CreateStoreCallbackWindow();
    HRESULT hr = RegisterStoreNotification(&Trampoline());
    if (FAILED(hr)) {
        Log(0, "PLUMEMessageStore::StartWatching: RegisterStoreNotification %08lx.\n", static_cast<unsigned long>(hr));
        return;
    }
    std::vector<ULONG> folders = LocalFolders();
    {
        cs_lock hold(lock_);
        std::stable_partition(folders.begin(), folders.end(), [&](ULONG id) { return pinnedFolders_.count(id) != 0; });
    }
    if (folders.size() > kMaxRegisteredFolders) {
        Log(0, "PLUMEMessageStore::StartWatching: %d local folders; %d are watched, the others once opened.\n",
            static_cast<int>(folders.size()), static_cast<int>(kMaxRegisteredFolders));
        folders.resize(kMaxRegisteredFolders);
    }
    // The least wanted first: eviction takes the least recently registered.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) RegisterMessageNotification(*it);
}

void PLUMEMessageStore::StopWatching() {
    if (!InterlockedExchange(&enabled_, 0)) return;
    if (callbackWindow_) DestroyWindow(callbackWindow_);
    callbackWindow_ = nullptr;
    UnregisterAllMessageNotifications();
    UnregisterStoreNotification(&Trampoline());
}

HRESULT PLUMEMessageStore::RegisterMessageNotification(ULONG folderId) {
    if (!enabled_) {
        Log(0, "PLUMEMessageStore::RegisterMessageNotification: Registration is not enabled %d.\n",
            static_cast<int>(folderId));
        return E_FAIL;
    }
    cs_lock hold(lock_);
    if (registeredFolders_.count(folderId)) {
        auto it = std::find(lruFolders_.begin(), lruFolders_.end(), folderId);
        if (it == lruFolders_.end()) {
            Log(0, "PLUMEMessageStore::RegisterMessageNotification: Can't update LRU list %d.\n",
                static_cast<int>(folderId));
        } else {
            lruFolders_.splice(lruFolders_.end(), lruFolders_, it);
        }
        return S_OK;
    }
    if (registeredFolders_.size() >= kMaxRegisteredFolders) {
        // The least recently opened go first; pinned folders stay.
        int evicted = 0;
        for (auto it = lruFolders_.begin(); it != lruFolders_.end() && evicted < kEvictionStep;) {
            const ULONG id = *it++;
            if (pinnedFolders_.count(id)) continue;
            UnregisterMessageNotification(id);
            ++evicted;
        }
    }
    com_ptr<IUnknown> folder;
    HRESULT hr = RegisterFolderNotification(static_cast<LONG>(folderId), &Trampoline(), folder.put());
    if (FAILED(hr)) {
        Log(0, "PLUMEMessageStore::RegisterMessageNotification: Can't register message notification %d : %08x\n.",
            static_cast<int>(folderId), static_cast<unsigned>(hr));
        return hr;
    }
    registeredFolders_[folderId] = std::move(folder);
    lruFolders_.push_back(folderId);
    return S_OK;
}

HRESULT PLUMEMessageStore::UnregisterMessageNotification(ULONG folderId) {
    cs_lock hold(lock_);
    auto it = registeredFolders_.find(folderId);
    if (it == registeredFolders_.end()) return E_FAIL;
    // The registration's reference goes with a successful unregistration.
    HRESULT hr = UnregisterFolderNotification(&Trampoline(), it->second.get());
    if (SUCCEEDED(hr)) it->second.detach();
    lruFolders_.remove(folderId);
    registeredFolders_.erase(it);
    return hr;
}

void PLUMEMessageStore::PinFolders(std::initializer_list<ULONG> folderIds) {
    cs_lock hold(lock_);
    pinnedFolders_.insert(folderIds.begin(), folderIds.end());
}

void PLUMEMessageStore::UnregisterAllMessageNotifications() {
    cs_lock hold(lock_);
    for (auto it = registeredFolders_.begin(); it != registeredFolders_.end();) {
        HRESULT hr = UnregisterFolderNotification(&Trampoline(), it->second.get());
        if (FAILED(hr)) {
            Log(0, ">> %ld -> %08x : %08x - %08x .\n", static_cast<long>(it->first),
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(it->second.get())),
                static_cast<unsigned>(reinterpret_cast<UINT_PTR>(&Trampoline())), static_cast<unsigned>(hr));
            ++it;
        } else {
            it->second.detach();
            it = registeredFolders_.erase(it);
        }
    }
    lruFolders_.clear();
    for (const auto& entry : registeredFolders_) lruFolders_.push_back(entry.first);
}

std::list<ULONG> PLUMEMessageStore::RegisteredFolders() {
    cs_lock hold(lock_);
    return lruFolders_;
}

PLUMEMessageStoreOE::PLUMEMessageStoreOE() : PLUMEMessageStore(kLayoutOE, 0) {}
PLUMEMessageStoreWM::PLUMEMessageStoreWM() : PLUMEMessageStore(kLayoutWM, 1) {}

std::shared_ptr<PLUMEMessageStore> MakeMessageStore() {
    if (IsWindowsMail()) return std::make_shared<PLUMEMessageStoreWM>();
    return std::make_shared<PLUMEMessageStoreOE>();
}

IDatabaseNotify* StoreTrampoline() { return &Trampoline(); }
IUnknown* NullStoreCallback() { return reinterpret_cast<IUnknown*>(&g_nullCallback); }
PLUMEMessageStore* CurrentMessageStore() { return g_current; }

}  // namespace plume
