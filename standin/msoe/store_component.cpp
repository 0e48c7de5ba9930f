#include "store_component.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_object.h"
#include "mime_message.h"
#include "settings.h"
#include "store.h"
#include "sync.h"
#include "variant.h"

namespace msoe {

const CLSID CLSID_MessageStore = {0x101A8FB9, 0xF1B9, 0x11D1, {0x9A, 0x56, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}};
const IID IID_MessageStoreOE = {0xE883FC75, 0xEC08, 0x11D1, {0x9A, 0x53, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}};
const IID IID_MessageStoreWM = {0x569BA773, 0x508C, 0x469B, {0x8B, 0x21, 0xCB, 0xCC, 0xBC, 0xB7, 0xBC, 0xD2}};
const IID IID_DatabaseNotify = {0x5E8A5022, 0xAC7C, 0x11D1, {0x9A, 0x16, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4}};
const CLSID CLSID_StoreNamespace = {0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
const IID IID_StoreNamespace = {0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

namespace {

using AnyFn = void (*)();
constexpr int kTableSize = 96;

// Positions in the tables, per variant.
struct Slots {
    int storeOpenFolder, storeFolderInfo, storeEnumSubFolders;
    int folderOpenMessage, folderSaveMessage, folderDeleteMessages;
    size_t kindByte, messageFlags;  // record offsets
    uint32_t deleteWithCallback;
};
constexpr Slots kSlotsOE = {52, 56, 61, 50, 51, 55, 101, 32, 1};
constexpr Slots kSlotsWM = {72, 76, 81, 71, 72, 78, 109, 40, 15};
const Slots& S() { return IsWindowsMail() ? kSlotsWM : kSlotsOE; }

constexpr int kFreeRecord = 10;
constexpr int kCreateRowset = 17, kSeekRowset = 18, kQueryRowset = 19, kCloseRowset = 20;
constexpr int kRegisterNotify = 26, kUnregisterNotify = 30, kGetTransaction = 33;
constexpr uint32_t kReadFlag = 0x80;
constexpr uint32_t kFolderRecordTag = 1, kMessageRecordTag = 2, kFullMessageRecordTag = 3;
// Windows Mail: find-record, update-record; the full message record and its strings.
constexpr int kUpdateRecord = 6, kFindRecord = 8;
constexpr size_t kFullRecordSize = 424;
constexpr size_t kDisplayNameAt = 144, kEmailAt = 152, kAccountNameAt = 232, kAccountFileAt = 240;

volatile LONG g_live = 0;

// Every object of the component: a table pointer first, as COM lays them out.
struct Object {
    AnyFn* vtbl;
    volatile LONG refs;
    int64_t folderId;                 // folders: the folder; store: -1
    std::vector<Folder> children;     // enumerators
    size_t next = 0;
    IUnknown* inner = nullptr;        // published folders: the internal folder, one reference
};

IUnknown* AsUnknown(Object* o) { return reinterpret_cast<IUnknown*>(o); }

template <typename Fn>
Fn Entry(IUnknown* object, int slot) {
    return reinterpret_cast<Fn>((*reinterpret_cast<AnyFn* const*>(object))[slot]);
}

ULONG STDMETHODCALLTYPE AddRef(Object* self) { return InterlockedIncrement(&self->refs); }
ULONG STDMETHODCALLTYPE Release(Object* self) {
    LONG n = InterlockedDecrement(&self->refs);
    if (n == 0) {
        if (self->inner) self->inner->Release();
        delete self;
        InterlockedDecrement(&g_live);
    }
    return n;
}
HRESULT STDMETHODCALLTYPE NotImplemented(Object*) { return E_NOTIMPL; }

Object* NewObject(AnyFn* vtbl, int64_t folderId) {
    InterlockedIncrement(&g_live);
    return new Object{vtbl, 1, folderId, {}, 0, nullptr};
}

// ------------------------------------------------------------------ records

void Put32(BYTE* record, size_t offset, uint32_t v) { memcpy(record + offset, &v, sizeof v); }
void Put64(BYTE* record, size_t offset, int64_t v) { memcpy(record + offset, &v, sizeof v); }

// A record as the store keeps it until it is copied into a caller's buffer.
struct Record {
    BYTE bytes[kStoreRecordSize] = {};
    std::string name;  // folders: copied to a fresh string per buffer
    bool folder = false;
};

Record FolderRecordOf(const Folder& f) {
    Record r;
    r.folder = true;
    Put32(r.bytes, 0, kStoreRecordSize);
    Put32(r.bytes, 4, kFolderRecordTag);
    Put64(r.bytes, 16, f.id);
    Put64(r.bytes, 24, f.parentId);
    r.bytes[S().kindByte] = kLocalFolderKindByte;
    int n = WideCharToMultiByte(CP_ACP, 0, f.name.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        r.name.resize(n);
        WideCharToMultiByte(CP_ACP, 0, f.name.c_str(), -1, r.name.data(), n, nullptr, nullptr);
        r.name.resize(n - 1);
    }
    return r;
}

Record MessageRecordOf(int64_t messageId, int64_t folderId, bool read) {
    Record r;
    Put32(r.bytes, 0, kStoreRecordSize);
    Put32(r.bytes, 4, kMessageRecordTag);
    Put64(r.bytes, 24, messageId);
    if (IsWindowsMail()) Put64(r.bytes, 32, folderId);
    Put32(r.bytes, S().messageFlags, (read ? kReadFlag : 0) | 0x1);
    return r;
}

void CopyOut(const Record& r, void* buffer) {
    if (!buffer) return;
    auto* out = static_cast<BYTE*>(buffer);
    memcpy(out, r.bytes, sizeof r.bytes);
    if (r.folder) {
        char* name = static_cast<char*>(CoTaskMemAlloc(r.name.size() + 1));
        if (name) memcpy(name, r.name.c_str(), r.name.size() + 1);
        memcpy(out + 32, &name, sizeof name);
    }
}

// Free-record: releases what a record copied out holds.
HRESULT STDMETHODCALLTYPE FreeRecord(Object*, void* buffer) {
    if (!buffer) return E_INVALIDARG;
    auto* record = static_cast<BYTE*>(buffer);
    uint32_t tag = 0;
    memcpy(&tag, record + 4, sizeof tag);
    if (tag == kFolderRecordTag) {
        char* name = nullptr;
        memcpy(&name, record + 32, sizeof name);
        CoTaskMemFree(name);
        memset(record + 32, 0, sizeof name);
    } else if (tag == kFullMessageRecordTag) {
        for (size_t at : {kDisplayNameAt, kEmailAt, kAccountNameAt, kAccountFileAt}) {
            void* text = nullptr;
            memcpy(&text, record + at, sizeof text);
            CoTaskMemFree(text);
            memset(record + at, 0, sizeof text);
        }
    }
    return S_OK;
}

// ------------------------------------------------------------- transactions

struct TransactionEntry {
    uint32_t type;  // 0 insert, 1 update, 2 delete
    Record first, second;
};

struct Transaction {
    std::vector<TransactionEntry> entries;
    size_t next = 0;
};

// Handles given to sinks; get-transaction touches only these.
plume::critical_section& TransactionLock() {
    static auto* lock = new plume::critical_section;
    return *lock;
}
std::set<Transaction*>& LiveTransactions() {
    static auto* set = new std::set<Transaction*>;
    return *set;
}

// Get-transaction: the next entry of the transaction into the two buffers;
// the handle becomes 0 when the last entry has been taken.
HRESULT STDMETHODCALLTYPE GetTransaction(Object*, UINT_PTR* handle, uint32_t* type, void* first, void* second,
                                         uint32_t* index, void** ordinals) {
    if (!handle || !type) return E_POINTER;
    plume::cs_lock hold(TransactionLock());
    auto* t = reinterpret_cast<Transaction*>(*handle);
    if (!LiveTransactions().count(t) || t->next >= t->entries.size()) return E_INVALIDARG;
    const TransactionEntry& e = t->entries[t->next];
    *type = e.type;
    CopyOut(e.first, first);
    CopyOut(e.second, second);
    if (index) *index = static_cast<uint32_t>(t->next);
    if (ordinals) *ordinals = nullptr;
    ++t->next;
    if (t->next == t->entries.size()) *handle = 0;
    return S_OK;
}

// ------------------------------------------------------------ registrations

struct Registration {
    Object* owner;      // the store or folder the sink registered on (one reference)
    uint32_t cookie;
    IUnknown* notify;   // one reference
};

plume::critical_section& SinkLock() {
    static auto* lock = new plume::critical_section;
    return *lock;
}
std::vector<Registration>& Sinks() {
    static auto* sinks = new std::vector<Registration>;
    return *sinks;
}

HRESULT STDMETHODCALLTYPE RegisterNotification(Object* self, uint32_t, uint32_t, uint32_t cookie, IUnknown* notify) {
    if (!notify) return E_INVALIDARG;
    if (self->folderId >= 0 && !Store::Instance().GetFolder(self->folderId)) return E_FAIL;
    AddRef(self);
    notify->AddRef();
    plume::cs_lock hold(SinkLock());
    Sinks().push_back({self, cookie, notify});
    return S_OK;
}

HRESULT STDMETHODCALLTYPE UnregisterNotification(Object* self, IUnknown* notify) {
    Registration gone{};
    {
        plume::cs_lock hold(SinkLock());
        auto& sinks = Sinks();
        auto it = std::find_if(sinks.begin(), sinks.end(),
                               [&](const Registration& r) { return r.owner == self && r.notify == notify; });
        if (it == sinks.end()) return E_INVALIDARG;
        gone = *it;
        sinks.erase(it);
    }
    gone.notify->Release();
    Release(gone.owner);
    return S_OK;
}

using OnTransactionFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, uint32_t, IUnknown*);

// Hands the transaction to one sink, again while the sink takes entries and
// some remain.
void Deliver(const Registration& r, const std::vector<TransactionEntry>& entries) {
    auto t = std::make_unique<Transaction>();
    t->entries = entries;
    {
        plume::cs_lock hold(TransactionLock());
        LiveTransactions().insert(t.get());
    }
    const UINT_PTR handle = reinterpret_cast<UINT_PTR>(t.get());
    for (;;) {
        size_t before;
        {
            plume::cs_lock hold(TransactionLock());
            before = t->next;
        }
        Entry<OnTransactionFn>(r.notify, 3)(r.notify, handle, r.cookie, AsUnknown(r.owner));
        plume::cs_lock hold(TransactionLock());
        if (t->next == before || t->next >= t->entries.size()) break;
    }
    plume::cs_lock hold(TransactionLock());
    LiveTransactions().erase(t.get());
}

// Sinks of the store (folder changes: folderOwner false) or of one folder.
void Notify(bool folderChange, int64_t folderId, const std::vector<TransactionEntry>& entries) {
    std::vector<Registration> targets;
    {
        plume::cs_lock hold(SinkLock());
        for (const Registration& r : Sinks()) {
            bool storeSink = r.owner->folderId < 0;
            if (folderChange ? storeSink : (!storeSink && r.owner->folderId == folderId)) {
                AddRef(r.owner);
                r.notify->AddRef();
                targets.push_back(r);
            }
        }
    }
    // No lock while the sinks run: they may open folders and register.
    for (const Registration& r : targets) {
        Deliver(r, entries);
        r.notify->Release();
        Release(r.owner);
    }
}

// Turns every committed change of the Store into a transaction. Records
// come in the client's order: folders (before, after); messages on Outlook
// Express (before, after), on Windows Mail (after, before).
class Committer final : public StoreListener {
public:
    void OnStoreChange(const StoreChange& c) override {
        TransactionEntry e{};
        switch (c.kind) {
        case StoreChange::MessageInserted:
        case StoreChange::MessageDeleted:
        case StoreChange::MessageUpdated: {
            e.type = c.kind == StoreChange::MessageInserted ? 0 : c.kind == StoreChange::MessageUpdated ? 1 : 2;
            Record before = MessageRecordOf(c.objectId, c.folderId, c.wasRead);
            Record after = MessageRecordOf(c.objectId, c.folderId, c.isRead);
            e.first = IsWindowsMail() ? after : before;
            e.second = IsWindowsMail() ? before : after;
            Notify(false, c.folderId, {e});
            return;
        }
        case StoreChange::FolderInserted:
        case StoreChange::FolderDeleted:
        case StoreChange::FolderUpdated: {
            e.type = c.kind == StoreChange::FolderInserted ? 0 : c.kind == StoreChange::FolderUpdated ? 1 : 2;
            Folder after;
            if (auto f = Store::Instance().GetFolder(c.objectId)) after = *f;
            after.id = c.objectId;
            after.parentId = c.newParent;
            Folder before = after;
            before.parentId = c.oldParent;
            if (c.kind == StoreChange::FolderUpdated) before.name = c.oldName;
            else if (c.kind == StoreChange::FolderDeleted) before.name = after.name = c.oldName;
            e.first = FolderRecordOf(before);
            e.second = FolderRecordOf(after);
            Notify(true, c.objectId, {e});
            return;
        }
        }
    }
};

void EnsureCommitter() {
    static Committer* committer = [] {
        auto* c = new Committer;
        Store::Instance().AddListener(c);
        return c;
    }();
    (void)committer;
}

// ------------------------------------------------------------------ rowsets

struct Rowset {
    std::vector<int64_t> ids;
    size_t next = 0;
};
std::set<Rowset*>& LiveRowsets() {
    static auto* set = new std::set<Rowset*>;
    return *set;
}
Rowset* FindRowset(UINT_PTR handle) {
    auto* r = reinterpret_cast<Rowset*>(handle);
    return LiveRowsets().count(r) ? r : nullptr;
}

HRESULT STDMETHODCALLTYPE CreateRowset(Object* self, UINT_PTR, UINT_PTR, UINT_PTR* rowset) {
    if (!rowset) return E_POINTER;
    auto r = std::make_unique<Rowset>();
    for (const Message& m : Store::Instance().MessagesIn(self->folderId)) r->ids.push_back(m.id);
    std::sort(r->ids.begin(), r->ids.end());
    plume::cs_lock hold(TransactionLock());
    LiveRowsets().insert(r.get());
    InterlockedIncrement(&g_live);
    *rowset = reinterpret_cast<UINT_PTR>(r.release());
    return S_OK;
}

// Outlook Express: seek (2 = to the last row); the position of that row.
HRESULT STDMETHODCALLTYPE SeekRowset(Object*, UINT_PTR rowset, uint32_t how, UINT_PTR, UINT_PTR* position) {
    if (!position) return E_POINTER;
    plume::cs_lock hold(TransactionLock());
    Rowset* r = FindRowset(rowset);
    if (!r || how != 2) return E_INVALIDARG;
    if (r->ids.empty()) return S_FALSE;
    *position = r->ids.size() - 1;
    return S_OK;
}

void FillMessageRecord(Object* folder, int64_t id, void* record) {
    auto m = Store::Instance().GetMessage(id);
    CopyOut(MessageRecordOf(id, folder->folderId, m && m->read), record);
}

// Outlook Express: the row at a position; Windows Mail: the next row.
HRESULT STDMETHODCALLTYPE QueryRowset(Object* self, UINT_PTR rowset, UINT_PTR positionOrCount, void* record,
                                      UINT_PTR* fetched) {
    if (!record) return E_POINTER;
    int64_t id;
    {
        plume::cs_lock hold(TransactionLock());
        Rowset* r = FindRowset(rowset);
        if (!r) return E_INVALIDARG;
        size_t at = IsWindowsMail() ? r->next++ : positionOrCount;
        if (at >= r->ids.size()) return S_FALSE;
        id = r->ids[at];
    }
    FillMessageRecord(self, id, record);
    if (fetched) *fetched = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CloseRowset(Object*, UINT_PTR rowset) {
    plume::cs_lock hold(TransactionLock());
    Rowset* r = FindRowset(rowset);
    if (!r) return E_INVALIDARG;
    LiveRowsets().erase(r);
    delete r;
    InterlockedDecrement(&g_live);
    return S_OK;
}

// ------------------------------------------------------------------ folders

// Delete-messages: {size or count, count, ids}; ids are 64-bit on Windows Mail.
struct IdList {
    uint32_t size;
    uint32_t count;
    const void* ids;
};

HRESULT STDMETHODCALLTYPE DeleteMessages(Object* self, uint32_t, const IdList* list, UINT_PTR, IUnknown* callback) {
    if (!list || !list->ids) return E_INVALIDARG;
    if (callback) callback->AddRef();
    HRESULT hr = S_OK;
    for (uint32_t i = 0; i < list->count; ++i) {
        int64_t id = 0;
        if (IsWindowsMail()) memcpy(&id, static_cast<const int64_t*>(list->ids) + i, sizeof id);
        else id = static_cast<const uint32_t*>(list->ids)[i];
        auto m = Store::Instance().GetMessage(id);
        if (!m || m->folderId != self->folderId || !Store::Instance().DeleteMessage(id)) hr = E_INVALIDARG;
    }
    if (callback) callback->Release();
    return hr;
}

// A message of the folder; nullopt for any other id.
std::optional<Message> MessageOf(Object* folder, int64_t id) {
    auto m = Store::Instance().GetMessage(id);
    if (!m || m->folderId != folder->folderId) return std::nullopt;
    return m;
}

// Open-message (message id, 0, out message, 0): a MIME object of a message of the folder.
HRESULT STDMETHODCALLTYPE OpenMessage(Object* self, UINT_PTR id, UINT_PTR, IUnknown** out, UINT_PTR) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto m = MessageOf(self, static_cast<uint32_t>(id));
    if (!m) return E_INVALIDARG;
    *out = NewMimeMessage(*m);
    return S_OK;
}

// Save-message (out id (32-bit), 0, flags, 0, message, 0): inserts a new
// message with the MIME object's contents; the flags are kept, 0x80 is read.
HRESULT STDMETHODCALLTYPE SaveMessage(Object* self, uint32_t* id, UINT_PTR, uint32_t flags, UINT_PTR, IUnknown* message,
                                      UINT_PTR) {
    Message m;
    if (!MimeMessageContent(message, &m)) return E_INVALIDARG;
    m.folderId = self->folderId;
    m.flags = flags;
    m.read = (flags & kReadFlag) != 0;
    m.sentWith.clear();
    int64_t newId = Store::Instance().InsertMessage(std::move(m));
    if (newId < 0) return E_FAIL;
    if (id) *id = static_cast<uint32_t>(newId);
    return S_OK;
}

template <typename T>
T Get(const BYTE* record, size_t offset) {
    T v;
    memcpy(&v, record + offset, sizeof v);
    return v;
}

template <typename Char>
Char* AllocString(const std::basic_string<Char>& text) {
    auto* p = static_cast<Char*>(CoTaskMemAlloc((text.size() + 1) * sizeof(Char)));
    if (p) memcpy(p, text.c_str(), (text.size() + 1) * sizeof(Char));
    return p;
}

// Windows Mail find-record (0, -1, record, null): the record (424 bytes)
// keyed by the message id at offset 24 is filled; its four strings are the
// store's until free-record.
HRESULT STDMETHODCALLTYPE FindRecord(Object* self, UINT_PTR, UINT_PTR, BYTE* record, UINT_PTR) try {
    if (!record) return E_POINTER;
    auto m = MessageOf(self, Get<uint32_t>(record, 24));
    if (!m) return E_INVALIDARG;
    memset(record, 0, kFullRecordSize);
    Put32(record, 0, kFullRecordSize);
    Put32(record, 4, kFullMessageRecordTag);
    Put64(record, 24, m->id);
    Put64(record, 32, m->folderId);
    Put32(record, S().messageFlags, (m->flags & ~kReadFlag) | (m->read ? kReadFlag : 0));
    void* strings[] = {AllocString(m->accountDisplayName), AllocString(plume::WideToAnsi(m->accountEmail.c_str())),
                       AllocString(m->accountName), AllocString(plume::WideToAnsi(m->accountFile.c_str()))};
    const size_t at[] = {kDisplayNameAt, kEmailAt, kAccountNameAt, kAccountFileAt};
    for (size_t i = 0; i < 4; ++i) memcpy(record + at[i], &strings[i], sizeof(void*));
    return S_OK;
} catch (...) {
    return E_FAIL;
}

// Windows Mail update-record (record): the flags and the four strings the
// record points at now are copied into the message, as one update.
HRESULT STDMETHODCALLTYPE UpdateRecord(Object* self, const BYTE* record) try {
    if (!record) return E_POINTER;
    int64_t id = Get<uint32_t>(record, 24);
    if (!MessageOf(self, id)) return E_INVALIDARG;
    uint32_t flags = Get<uint32_t>(record, S().messageFlags);
    auto* display = Get<const wchar_t*>(record, kDisplayNameAt);
    auto* email = Get<const char*>(record, kEmailAt);
    auto* account = Get<const wchar_t*>(record, kAccountNameAt);
    auto* file = Get<const char*>(record, kAccountFileAt);
    Message copy;
    copy.accountDisplayName = display ? display : L"";
    copy.accountEmail = email ? plume::AnsiToWide(email) : L"";
    copy.accountName = account ? account : L"";
    copy.accountFile = file ? plume::AnsiToWide(file) : L"";
    bool ok = Store::Instance().UpdateMessage(id, [&](Message& m) {
        m.flags = flags;
        m.read = (flags & kReadFlag) != 0;
        m.accountDisplayName = copy.accountDisplayName;
        m.accountEmail = copy.accountEmail;
        m.accountName = copy.accountName;
        m.accountFile = copy.accountFile;
    });
    return ok ? S_OK : E_INVALIDARG;
} catch (...) {
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE QueryFolder(Object* self, REFIID iid, void** out);

// What the store and folder tables share: IUnknown, records, notifications.
void FillDatabaseTable(AnyFn* t, AnyFn query) {
    for (int i = 0; i < kTableSize; ++i) t[i] = reinterpret_cast<AnyFn>(NotImplemented);
    t[0] = query;
    t[1] = reinterpret_cast<AnyFn>(AddRef);
    t[2] = reinterpret_cast<AnyFn>(Release);
    t[kFreeRecord] = reinterpret_cast<AnyFn>(FreeRecord);
    t[kRegisterNotify] = reinterpret_cast<AnyFn>(RegisterNotification);
    t[kUnregisterNotify] = reinterpret_cast<AnyFn>(UnregisterNotification);
    t[kGetTransaction] = reinterpret_cast<AnyFn>(GetTransaction);
}

AnyFn* FolderTable() {
    static AnyFn* table = [] {
        static AnyFn t[kTableSize];
        FillDatabaseTable(t, reinterpret_cast<AnyFn>(QueryFolder));
        t[kCreateRowset] = reinterpret_cast<AnyFn>(CreateRowset);
        if (!IsWindowsMail()) t[kSeekRowset] = reinterpret_cast<AnyFn>(SeekRowset);
        t[kQueryRowset] = reinterpret_cast<AnyFn>(QueryRowset);
        t[kCloseRowset] = reinterpret_cast<AnyFn>(CloseRowset);
        t[S().folderDeleteMessages] = reinterpret_cast<AnyFn>(DeleteMessages);
        t[S().folderOpenMessage] = reinterpret_cast<AnyFn>(OpenMessage);
        t[S().folderSaveMessage] = reinterpret_cast<AnyFn>(SaveMessage);
        if (IsWindowsMail()) {
            t[kFindRecord] = reinterpret_cast<AnyFn>(FindRecord);
            t[kUpdateRecord] = reinterpret_cast<AnyFn>(UpdateRecord);
        }
        return t;
    }();
    return table;
}

// The object itself for IUnknown and `other`.
HRESULT Answer(Object* self, REFIID iid, const IID& other, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, other)) return E_NOINTERFACE;
    AddRef(self);
    *out = self;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QueryFolder(Object* self, REFIID iid, void** out) {
    return Answer(self, iid, IID_IUnknown, out);
}

// ------------------------------------------------------------------ the store

const IID& StoreIid() { return IsWindowsMail() ? IID_MessageStoreWM : IID_MessageStoreOE; }

HRESULT STDMETHODCALLTYPE QueryStore(Object* self, REFIID iid, void** out) {
    return Answer(self, iid, StoreIid(), out);
}

HRESULT STDMETHODCALLTYPE OpenFolder(Object*, uint32_t folderId, UINT_PTR, UINT_PTR, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Store::Instance().GetFolder(folderId)) return E_INVALIDARG;
    *out = AsUnknown(NewObject(FolderTable(), folderId));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetFolderInfo(Object*, uint32_t folderId, void* record) {
    if (!record) return E_POINTER;
    // Folder 0 is the store's own root, above the local folders.
    auto f = folderId == 0 ? std::optional<Folder>(Folder{0, -1, FolderRole::Root, L""})
                           : Store::Instance().GetFolder(folderId);
    if (!f) return E_INVALIDARG;
    CopyOut(FolderRecordOf(*f), record);
    return S_OK;
}

// Hands out one record a call, whatever count is asked for.
HRESULT STDMETHODCALLTYPE NextSubFolder(Object* self, ULONG, void* record, ULONG* fetched) {
    if (fetched) *fetched = 0;
    if (!record) return E_POINTER;
    if (self->next >= self->children.size()) return S_FALSE;
    CopyOut(FolderRecordOf(self->children[self->next++]), record);
    if (fetched) *fetched = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QueryFolder(Object* self, REFIID iid, void** out);

AnyFn* EnumeratorTable() {
    static AnyFn t[4] = {reinterpret_cast<AnyFn>(QueryFolder), reinterpret_cast<AnyFn>(AddRef),
                         reinterpret_cast<AnyFn>(Release), reinterpret_cast<AnyFn>(NextSubFolder)};
    return t;
}

HRESULT STDMETHODCALLTYPE EnumSubFolders(Object*, uint32_t parentId, UINT_PTR, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!Store::Instance().GetFolder(parentId)) return E_INVALIDARG;
    Object* e = NewObject(EnumeratorTable(), -1);
    for (const Folder& f : Store::Instance().Folders())
        if (f.parentId == parentId) e->children.push_back(f);
    *out = AsUnknown(e);
    return S_OK;
}

AnyFn* StoreTable() {
    static AnyFn* table = [] {
        static AnyFn t[kTableSize];
        FillDatabaseTable(t, reinterpret_cast<AnyFn>(QueryStore));
        t[S().storeOpenFolder] = reinterpret_cast<AnyFn>(OpenFolder);
        t[S().storeFolderInfo] = reinterpret_cast<AnyFn>(GetFolderInfo);
        t[S().storeEnumSubFolders] = reinterpret_cast<AnyFn>(EnumSubFolders);
        return t;
    }();
    return table;
}

IUnknown* NewStoreObject() {
    EnsureCommitter();
    return AsUnknown(NewObject(StoreTable(), -1));
}

// The store the client's own code works with; kept for the process's life.
IUnknown* ClientStore() {
    static IUnknown* store = NewStoreObject();
    return store;
}

// ------------------------------------------------------------- the namespace

using AddRefFn = ULONG(STDMETHODCALLTYPE*)(IUnknown*);
using OpenFolderFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, uint32_t, UINT_PTR, UINT_PTR, IUnknown**);

struct Namespace {
    AnyFn* vtbl;
    volatile LONG refs;
    IUnknown* store;  // after Initialize: the client's store, one reference
};

HRESULT STDMETHODCALLTYPE NamespaceQuery(Namespace* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_StoreNamespace)) return E_NOINTERFACE;
    InterlockedIncrement(&self->refs);
    *out = self;
    return S_OK;
}
ULONG STDMETHODCALLTYPE NamespaceAddRef(Namespace* self) { return InterlockedIncrement(&self->refs); }
ULONG STDMETHODCALLTYPE NamespaceRelease(Namespace* self) {
    LONG n = InterlockedDecrement(&self->refs);
    if (n == 0) {
        if (self->store) self->store->Release();
        delete self;
        InterlockedDecrement(&g_live);
    }
    return n;
}

// Initialize(owner window, flags): takes a reference on the client's store
// through the store's own table, as every user of the store does.
HRESULT STDMETHODCALLTYPE NamespaceInitialize(Namespace* self, HWND, DWORD) {
    if (self->store) return S_OK;
    IUnknown* store = ClientStore();
    Entry<AddRefFn>(store, 1)(store);
    self->store = store;
    return S_OK;
}

HRESULT OpenThroughTable(IUnknown* store, int64_t folderId, IUnknown** out) {
    return Entry<OpenFolderFn>(store, S().storeOpenFolder)(store, static_cast<uint32_t>(folderId), 0, 0, out);
}

// ------------------------------------------------------- published folders
//
// What the namespace hands out: each wraps an internal folder opened through
// the store's table and works through that folder's table.

using OpenMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, IUnknown**, UINT_PTR);
using SaveMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, uint32_t*, UINT_PTR, uint32_t, UINT_PTR, IUnknown*, UINT_PTR);
using DeleteMessagesFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, uint32_t, const IdList*, UINT_PTR, IUnknown*);

constexpr int kPublishedDelete = 6, kPublishedOpenMessage = 10, kPublishedSaveMessage = 11;

// DeleteMessages(id list {16, count, 32-bit ids}, flags, callback).
HRESULT STDMETHODCALLTYPE PublishedDelete(Object* self, const IdList* list, DWORD, IUnknown*) {
    if (!list || !list->ids) return E_INVALIDARG;
    IdList inner = *list;
    std::vector<int64_t> wide;
    if (IsWindowsMail()) {
        for (uint32_t i = 0; i < list->count; ++i) wide.push_back(static_cast<const uint32_t*>(list->ids)[i]);
        inner.ids = wide.data();
    }
    return Entry<DeleteMessagesFn>(self->inner, S().folderDeleteMessages)(self->inner, 0, &inner, 0, nullptr);
}

// OpenMessage(message id, IID, out message).
HRESULT STDMETHODCALLTYPE PublishedOpenMessage(Object* self, uint32_t id, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    IUnknown* message = nullptr;
    HRESULT hr = Entry<OpenMessageFn>(self->inner, S().folderOpenMessage)(self->inner, id, 0, &message, 0);
    if (FAILED(hr)) return hr;
    hr = message->QueryInterface(iid, out);
    message->Release();
    return hr;
}

// SaveMessage(IID, message, flags, out new id).
HRESULT STDMETHODCALLTYPE PublishedSaveMessage(Object* self, REFIID iid, IUnknown* message, DWORD flags, uint32_t* id) {
    if (!IsEqualIID(iid, IID_MimeMessage) && !IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
    return Entry<SaveMessageFn>(self->inner, S().folderSaveMessage)(self->inner, id, 0, flags, 0, message, 0);
}

HRESULT STDMETHODCALLTYPE QueryPublished(Object* self, REFIID iid, void** out) {
    return Answer(self, iid, IID_IUnknown, out);
}

AnyFn* PublishedFolderTable() {
    static AnyFn* table = [] {
        static AnyFn t[16];
        for (auto& e : t) e = reinterpret_cast<AnyFn>(NotImplemented);
        t[0] = reinterpret_cast<AnyFn>(QueryPublished);
        t[1] = reinterpret_cast<AnyFn>(AddRef);
        t[2] = reinterpret_cast<AnyFn>(Release);
        t[kPublishedDelete] = reinterpret_cast<AnyFn>(PublishedDelete);
        t[kPublishedOpenMessage] = reinterpret_cast<AnyFn>(PublishedOpenMessage);
        t[kPublishedSaveMessage] = reinterpret_cast<AnyFn>(PublishedSaveMessage);
        return t;
    }();
    return table;
}

HRESULT OpenPublished(IUnknown* store, int64_t folderId, IUnknown** out) {
    IUnknown* inner = nullptr;
    HRESULT hr = OpenThroughTable(store, folderId, &inner);
    if (FAILED(hr)) return hr;
    Object* folder = NewObject(PublishedFolderTable(), folderId);
    folder->inner = inner;
    *out = AsUnknown(folder);
    return S_OK;
}

// OpenSpecialFolder(kind, flags, out folder): kind 1 is the Outbox.
HRESULT STDMETHODCALLTYPE NamespaceOpenSpecialFolder(Namespace* self, LONG kind, DWORD, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!self->store) return E_UNEXPECTED;
    if (kind != 1) return E_INVALIDARG;
    return OpenPublished(self->store, Store::Instance().FolderIdForRole(FolderRole::Outbox), out);
}

HRESULT STDMETHODCALLTYPE NamespaceOpenFolder(Namespace* self, uint32_t folderId, DWORD, IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!self->store) return E_UNEXPECTED;
    return OpenPublished(self->store, folderId, out);
}

AnyFn* NamespaceTable() {
    static AnyFn t[12] = {
        reinterpret_cast<AnyFn>(NamespaceQuery), reinterpret_cast<AnyFn>(NamespaceAddRef),
        reinterpret_cast<AnyFn>(NamespaceRelease), reinterpret_cast<AnyFn>(NamespaceInitialize),
        reinterpret_cast<AnyFn>(NotImplemented), reinterpret_cast<AnyFn>(NamespaceOpenSpecialFolder),
        reinterpret_cast<AnyFn>(NamespaceOpenFolder), reinterpret_cast<AnyFn>(NotImplemented),
        reinterpret_cast<AnyFn>(NotImplemented), reinterpret_cast<AnyFn>(NotImplemented),
        reinterpret_cast<AnyFn>(NotImplemented), reinterpret_cast<AnyFn>(NotImplemented)};
    return t;
}

// --------------------------------------------------------------- factories

volatile LONG g_locks = 0;

class Factory final : public plume::static_class_factory {
public:
    explicit Factory(bool ns) : static_class_factory(&g_locks), namespace_(ns) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object;
        if (namespace_) {
            InterlockedIncrement(&g_live);
            object = reinterpret_cast<IUnknown*>(new Namespace{NamespaceTable(), 1, nullptr});
        } else {
            object = NewStoreObject();
        }
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }

private:
    bool namespace_;
};

Factory g_storeFactory(false);
Factory g_namespaceFactory(true);

}  // namespace

HRESULT StoreClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualCLSID(clsid, CLSID_MessageStore)) return g_storeFactory.QueryInterface(iid, out);
    if (IsEqualCLSID(clsid, CLSID_StoreNamespace)) return g_namespaceFactory.QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

void OpenFolderForView(int64_t folderId) {
    if (folderId <= 0) return;
    IUnknown* folder = nullptr;
    if (SUCCEEDED(OpenThroughTable(ClientStore(), folderId, &folder)) && folder) folder->Release();
}

long LiveStoreObjects() { return g_live; }

long StoreSinkCount() {
    plume::cs_lock hold(SinkLock());
    return static_cast<long>(Sinks().size());
}

}  // namespace msoe
