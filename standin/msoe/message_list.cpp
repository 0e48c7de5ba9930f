#include "message_list.h"

#include <algorithm>
#include <memory>

#include "client.h"
#include "store.h"
#include "store_component.h"
#include "sync.h"
#include "variant.h"

namespace msoe {

const CLSID CLSID_MessageList = {0x233A9692, 0x667E, 0x11D1, {0x9D, 0xFB, 0x00, 0x60, 0x97, 0xD5, 0x04, 0x08}};
const IID IID_MessageListOE = {0xDE89B950, 0xA597, 0x11D1, {0x9E, 0x46, 0x00, 0x60, 0x97, 0xD5, 0x04, 0x08}};
const IID IID_MessageListWM = {0x51A0B0D3, 0x7AFE, 0x4081, {0xBF, 0x82, 0xF8, 0x7A, 0xE3, 0x63, 0x73, 0xDD}};
const IID IID_MessageTable = {0x233A9693, 0x667E, 0x11D1, {0x9D, 0xFB, 0x00, 0x60, 0x97, 0xD5, 0x04, 0x08}};

namespace {

using AnyFn = void (*)();

volatile LONG g_live = 0;
volatile LONG g_wrongThread = 0;
volatile LONG g_tableFailing = 0;
volatile LONG g_getTableFailing = 0;

// The rows of one list, shared by the list object and its table.
struct Rows {
    plume::critical_section lock;
    std::vector<int64_t> ids;
};

// Both kinds of object: a virtual table pointer first, as COM lays them out.
struct Object {
    const AnyFn* vtbl;
    volatile LONG refs;
    std::shared_ptr<Rows> rows;
    IUnknown* table;  // lists only: their table, made on first request
    DWORD thread;     // the thread that made it
};

Object* NewObject(const AnyFn* vtbl, std::shared_ptr<Rows> rows) {
    InterlockedIncrement(&g_live);
    return new Object{vtbl, 1, std::move(rows), nullptr, GetCurrentThreadId()};
}

// The client's objects belong to the thread that made them (unless
// /table:anythread): a call from another thread is counted and refused.
bool FromOtherThread(const Object* self) {
    if (Client::Get().options.tableAnyThread || GetCurrentThreadId() == self->thread) return false;
    InterlockedIncrement(&g_wrongThread);
    return true;
}

ULONG STDMETHODCALLTYPE AddRef(Object* self) {
    FromOtherThread(self);
    return InterlockedIncrement(&self->refs);
}

ULONG STDMETHODCALLTYPE Release(Object* self) {
    FromOtherThread(self);
    LONG n = InterlockedDecrement(&self->refs);
    if (n == 0) {
        if (self->table) self->table->Release();
        delete self;
        InterlockedDecrement(&g_live);
    }
    return n;
}

HRESULT STDMETHODCALLTYPE NotImplemented(Object*) { return E_NOTIMPL; }

const IID& ListIid() { return IsWindowsMail() ? IID_MessageListWM : IID_MessageListOE; }

HRESULT STDMETHODCALLTYPE ListQueryInterface(Object* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, ListIid())) return E_NOINTERFACE;
    AddRef(self);
    *out = self;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TableQueryInterface(Object* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_MessageTable)) return E_NOINTERFACE;
    AddRef(self);
    *out = self;
    return S_OK;
}

// Slot 4: the rows of `folderId` in the list's order; -1 empties the list.
HRESULT STDMETHODCALLTYPE Fill(Object* self, int64_t folderId, uintptr_t sortColumn, uintptr_t ascending,
                               uintptr_t reserved1, uintptr_t reserved2) {
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    if (reserved1 || reserved2 || sortColumn != kSortReceived || ascending > 1) return E_INVALIDARG;
    std::vector<Message> messages;
    if (folderId != -1) {
        if (!Store::Instance().GetFolder(folderId)) return E_INVALIDARG;
        messages = Store::Instance().MessagesIn(folderId);
    }
    std::stable_sort(messages.begin(), messages.end(), [&](const Message& a, const Message& b) {
        return ascending ? a.date < b.date : a.date > b.date;
    });
    std::vector<int64_t> ids;
    for (const Message& m : messages) ids.push_back(m.id);
    plume::cs_lock hold(self->rows->lock);
    self->rows->ids = std::move(ids);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetRowMessageId(Object* self, int row, int64_t* id) {
    if (!id) return E_POINTER;
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    if (g_tableFailing) return E_FAIL;
    plume::cs_lock hold(self->rows->lock);
    if (row < 0 || static_cast<size_t>(row) >= self->rows->ids.size()) return E_INVALIDARG;
    *id = self->rows->ids[row];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE GetRowIndex(Object* self, int64_t id, int* row) {
    if (!row) return E_POINTER;
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    if (g_tableFailing) return E_FAIL;
    plume::cs_lock hold(self->rows->lock);
    auto it = std::find(self->rows->ids.begin(), self->rows->ids.end(), id);
    if (it == self->rows->ids.end()) return E_INVALIDARG;
    *row = static_cast<int>(it - self->rows->ids.begin());
    return S_OK;
}

#define FN(f) reinterpret_cast<AnyFn>(f)
#define NI FN(NotImplemented)

const AnyFn kTableVtbl[27] = {
    FN(TableQueryInterface), FN(AddRef), FN(Release), NI, NI, NI, NI, NI, NI, NI, NI, NI, NI, NI,
    NI, NI, NI, NI, NI, NI, NI, NI, NI, NI, NI, FN(GetRowMessageId), FN(GetRowIndex)};

HRESULT STDMETHODCALLTYPE GetMessageTable(Object* self, IUnknown** table) {
    if (!table) return E_POINTER;
    if (FromOtherThread(self)) return RPC_E_WRONG_THREAD;
    *table = nullptr;
    if (g_getTableFailing) return E_FAIL;
    if (!self->table) self->table = reinterpret_cast<IUnknown*>(NewObject(kTableVtbl, self->rows));
    self->table->AddRef();
    *table = self->table;
    return S_OK;
}

const AnyFn kListVtblOE[22] = {
    FN(ListQueryInterface), FN(AddRef), FN(Release), NI, FN(Fill), NI, NI, NI, NI, NI, NI,
    NI, NI, NI, NI, NI, NI, NI, NI, NI, FN(GetMessageTable), NI};
const AnyFn kListVtblWM[22] = {
    FN(ListQueryInterface), FN(AddRef), FN(Release), NI, FN(Fill), NI, NI, NI, NI, NI, NI,
    NI, NI, NI, NI, NI, NI, NI, NI, NI, NI, FN(GetMessageTable)};

#undef NI
#undef FN

class ListFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* list = NewMessageList();
        HRESULT hr = list->QueryInterface(iid, out);
        list->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

ListFactory g_factory;

Object* AsObject(IUnknown* list) { return reinterpret_cast<Object*>(list); }

}  // namespace

IUnknown* NewMessageList() {
    return reinterpret_cast<IUnknown*>(
        NewObject(IsWindowsMail() ? kListVtblWM : kListVtblOE, std::make_shared<Rows>()));
}

HRESULT FillMessageList(IUnknown* list, int64_t folderId) {
    using FillFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, int64_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t);
    // Through the table, so whoever replaced the entry sees the call.
    auto fill = reinterpret_cast<FillFn>((*reinterpret_cast<AnyFn* const*>(list))[4]);
    return fill(list, folderId, kSortReceived, 0, 0, 0);
}

std::vector<int64_t> MessageListRows(IUnknown* list) {
    Object* self = AsObject(list);
    plume::cs_lock hold(self->rows->lock);
    return self->rows->ids;
}

void SetMessageTableFailing(bool on) { InterlockedExchange(&g_tableFailing, on ? 1 : 0); }
void SetGetMessageTableFailing(bool on) { InterlockedExchange(&g_getTableFailing, on ? 1 : 0); }
long LiveMessageListObjects() { return g_live; }
long WrongThreadMessageListCalls() { return g_wrongThread; }

HRESULT MessageListClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_MessageList)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

}  // namespace msoe

// In-process creation of the client's components.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    HRESULT hr = msoe::MessageListClassObject(clsid, iid, out);
    return hr == CLASS_E_CLASSNOTAVAILABLE ? msoe::StoreClassObject(clsid, iid, out) : hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
