#include "host/vex_message_list.h"

#include <cstring>

#include "client_variant.h"
#include "host/hooks.h"
#include "issued_pointers.h"
#include "manager/callback_window.h"
#include "manager/selection.h"
#include "log.h"

namespace plume {
namespace {

const CLSID kMessageListClass = {0x233A9692, 0x667E, 0x11D1, {0x9D, 0xFB, 0x00, 0x60, 0x97, 0xD5, 0x04, 0x08}};
const IID kMessageListOE = {0xDE89B950, 0xA597, 0x11D1, {0x9E, 0x46, 0x00, 0x60, 0x97, 0xD5, 0x04, 0x08}};
const IID kMessageListWM = {0x51A0B0D3, 0x7AFE, 0x4081, {0xBF, 0x82, 0xF8, 0x7A, 0xE3, 0x63, 0x73, 0xDD}};

constexpr int kPatchedSlot = 4;
constexpr int kGetRowMessageIdSlot = 25;
constexpr int kGetRowIndexSlot = 26;

using GetTableFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, IUnknown**);
using GetRowMessageIdFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, INT32, INT64*);
using GetRowIndexFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, INT64, INT32*);

template <typename Fn>
Fn Entry(IUnknown* object, int slot) {
    return reinterpret_cast<Fn>((*reinterpret_cast<void***>(object))[slot]);
}

// The client methods the two variants' SetHook saved.
MessageListMethod g_savedOE = nullptr;
MessageListMethod g_savedWM = nullptr;

HRESULT CallOnAndBind(MessageListMethod saved, IUnknown* self, INT64 id, UINT_PTR a3, UINT_PTR a4, UINT_PTR a5,
                      UINT_PTR a6) {
    HRESULT hr = saved ? saved(self, id, a3, a4, a5, a6) : E_NOTIMPL;
    if (SUCCEEDED(hr) && id != -1) {
        try {
            BindMessageList(self, static_cast<LONG>(id));
        } catch (...) {
            Log(0, "MessageListHook: binding failed.\n");
        }
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE MessageListHookOE(IUnknown* self, INT64 id, UINT_PTR a3, UINT_PTR a4, UINT_PTR a5,
                                            UINT_PTR a6) {
    return CallOnAndBind(g_savedOE, self, id, a3, a4, a5, a6);
}

HRESULT STDMETHODCALLTYPE MessageListHookWM(IUnknown* self, INT64 id, UINT_PTR a3, UINT_PTR a4, UINT_PTR a5,
                                            UINT_PTR a6) {
    return CallOnAndBind(g_savedWM, self, id, a3, a4, a5, a6);
}

// Lookups carried to the filling thread; shared by the sender and the
// window, so that whichever ends last frees them. `values` become results.
struct SentLookup {
    std::shared_ptr<VexMessageList> list;
    bool byRow;
    std::vector<LONG> values;
};
using SentLookupHolder = std::shared_ptr<SentLookup>;

issued_pointers& SentLookups() {
    static issued_pointers* lookups = new issued_pointers;
    return *lookups;
}

}  // namespace

bool WriteTableEntry(MessageListMethod* slot, MessageListMethod value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_EXECUTE_READWRITE, &old)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return true;
}

VexMessageList::VexMessageList(int tableSlot, bool logsFailures, MessageListMethod replacement,
                               MessageListMethod* saved)
    : replacement_(replacement), tableSlot_(tableSlot), logsFailures_(logsFailures), saved_(saved) {}

VexMessageList::~VexMessageList() { RemoveHook(); }

HRESULT VexMessageList::SetHook() {
    com_ptr<IUnknown> object;
    HRESULT hr = GetMessageList(object.put());
    if (FAILED(hr)) {
        Log(0, "VexMessageListOE::SetHook: GetMessageList %08lx.\n", static_cast<unsigned long>(hr));
        return hr;
    }
    if (!object) return hr;
    patchedSlot_ = &(*reinterpret_cast<MessageListMethod**>(object.get()))[kPatchedSlot];
    if (*patchedSlot_ == replacement_) {
        // Another binder of this variant patched the class already.
        savedEntry_ = *saved_;
        hooked_ = true;
        return hr;
    }
    savedEntry_ = *patchedSlot_;
    *saved_ = savedEntry_;
    if (WriteTableEntry(patchedSlot_, replacement_)) hooked_ = true;
    return hr;
}

void VexMessageList::RemoveHook() {
    if (!hooked_ || !patchedSlot_ || !savedEntry_) return;
    // Someone who replaced the entry after us keeps it.
    if (*patchedSlot_ != replacement_) return;
    hooked_ = false;
    WriteTableEntry(patchedSlot_, savedEntry_);
}

void VexMessageList::Clear() {
    com_ptr<IUnknown> table, object;  // released after the lock
    cs_lock hold(bindingLock_);
    table = std::move(table_);
    object = std::move(listObject_);
}

void VexMessageList::SetMessageList(IUnknown* object) {
    Clear();
    if (!object) return;
    com_ptr<IUnknown> list(object);
    com_ptr<IUnknown> table;
    HRESULT hr = Entry<GetTableFn>(object, tableSlot_)(object, table.put());
    if (FAILED(hr)) {
        if (logsFailures_)
            Log(0, "VexMessageListOE::SetMessageList: GetMessageTable failed %08lx.\n", static_cast<unsigned long>(hr));
        table.reset();
    }
    cs_lock hold(bindingLock_);
    listObject_ = std::move(list);
    table_ = std::move(table);
    fillThread_ = GetCurrentThreadId();
}

com_ptr<IUnknown> VexMessageList::Table() const {
    cs_lock hold(bindingLock_);
    return table_;
}

LONG VexMessageList::GetMessageIndex(LONG messageId) { return Lookup(false, {messageId}).front(); }

LONG VexMessageList::GetMessageId(LONG row) { return Lookup(true, {row}).front(); }

std::vector<LONG> VexMessageList::GetMessageIds(const std::vector<LONG>& rows) { return Lookup(true, rows); }

LONG VexMessageList::LookupHere(bool byRow, LONG value) {
    com_ptr<IUnknown> table = Table();
    if (!table) return -1;
    HRESULT hr;
    LONG result = -1;
    if (byRow) {
        INT64 id = -1;
        hr = Entry<GetRowMessageIdFn>(table.get(), kGetRowMessageIdSlot)(table.get(), value, &id);
        result = static_cast<LONG>(id);
    } else {
        INT32 row = -1;
        const INT64 id = static_cast<INT64>(static_cast<UINT32>(value));
        hr = Entry<GetRowIndexFn>(table.get(), kGetRowIndexSlot)(table.get(), id, &row);
        result = row;
    }
    if (FAILED(hr)) {
        if (logsFailures_)
            Log(0, byRow ? "VexMessageListOE::GetMessageId: GetRowMessageId failed %08lx.\n"
                         : "VexMessageListOE::GetMessageIndex: GetRowIndex failed %08lx.\n",
                static_cast<unsigned long>(hr));
        return -1;
    }
    return result;
}

std::vector<LONG> VexMessageList::Lookup(bool byRow, std::vector<LONG> values) {
    DWORD fillThread;
    {
        cs_lock hold(bindingLock_);
        fillThread = fillThread_;
    }
    const HWND window = MainWindow();
    std::shared_ptr<VexMessageList> self = weak_from_this().lock();
    if (!fillThread || fillThread == GetCurrentThreadId() || !self || !window ||
        GetWindowThreadProcessId(window, nullptr) != fillThread) {
        for (LONG& value : values) value = LookupHere(byRow, value);
        return values;
    }
    const size_t count = values.size();
    auto lookup = std::make_shared<SentLookup>(SentLookup{std::move(self), byRow, std::move(values)});
    auto* holder = new SentLookupHolder(lookup);
    SentLookups().issue(holder);
    DWORD_PTR answered = 0;
    const bool sent = SendMessageTimeoutA(window, Messages().tableLookup, 0, reinterpret_cast<LPARAM>(holder),
                                          SMTO_NORMAL, kTableLookupWaitMs, &answered) != 0;
    if (SentLookups().redeem(holder)) {  // the window never took it
        delete holder;
        Log(0, "VexMessageList::Lookup: the client's thread did not take the lookup within %lu ms.\n",
            static_cast<unsigned long>(kTableLookupWaitMs));
        return std::vector<LONG>(count, -1);
    }
    if (!sent || !answered) {
        Log(0, "VexMessageList::Lookup: no answer within %lu ms.\n", static_cast<unsigned long>(kTableLookupWaitMs));
        return std::vector<LONG>(count, -1);
    }
    return lookup->values;
}

LRESULT VexMessageList::RunSentLookup(LPARAM lParam) {
    auto* holder = reinterpret_cast<SentLookupHolder*>(lParam);
    if (!SentLookups().redeem(holder)) return 0;
    std::unique_ptr<SentLookupHolder> owned(holder);
    SentLookup& lookup = **owned;
    for (LONG& value : lookup.values) value = lookup.list->LookupHere(lookup.byRow, value);
    return 1;
}

bool VexMessageList::IsEmpty() {
    cs_lock hold(bindingLock_);
    return !listObject_ || !table_;
}

VexMessageListOE::VexMessageListOE() : VexMessageList(20, false, MessageListHookOE, &g_savedOE) {}

HRESULT VexMessageListOE::GetMessageList(IUnknown** object) {
    return CoCreateInstance(kMessageListClass, nullptr, CLSCTX_INPROC_SERVER, kMessageListOE,
                            reinterpret_cast<void**>(object));
}

VexMessageListWM::VexMessageListWM() : VexMessageList(21, true, MessageListHookWM, &g_savedWM) {}

VexMessageListWM::~VexMessageListWM() {
    RemoveHook();
    Clear();
    if (module_) FreeLibrary(module_);
}

HRESULT VexMessageListWM::GetMessageList(IUnknown** object) {
    *object = nullptr;
    char path[1024 + 16] = "";
    DWORD n = GetModuleFileNameA(nullptr, path, 1024);
    char* slash = strrchr(path, '\\');
    if (n == 0 || !slash) return E_FAIL;
    strcpy(slash, "\\msoe.dll");
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        Log(0, "VexMessageListWM::GetMessageList: Failed LoadLibrary.\n");
        return E_FAIL;
    }
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) {
        Log(0, "VexMessageListWM::GetMessageList: Failed GetProcAddress.\n");
        FreeLibrary(module);
        return E_FAIL;
    }
    Log(4, "VexMessageListWM::GetMessageList: GetProcAddress %p.\n", reinterpret_cast<void*>(getClassObject));
    com_ptr<IClassFactory> factory;
    HRESULT hr = getClassObject(kMessageListClass, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) {
        Log(0, "VexMessageListWM::GetMessageList: Failed DllGetClassObject %08lx.\n", static_cast<unsigned long>(hr));
    } else {
        hr = factory->CreateInstance(nullptr, kMessageListWM, reinterpret_cast<void**>(object));
    }
    factory.reset();
    // The client keeps its own reference to the module; one of ours stays
    // while objects or a patch of its class may outlive it.
    if (SUCCEEDED(hr) && !module_)
        module_ = module;
    else
        FreeLibrary(module);
    return hr;
}

std::shared_ptr<VexMessageList> MakeVexMessageList() {
    if (IsWindowsMail()) return std::make_shared<VexMessageListWM>();
    return std::make_shared<VexMessageListOE>();
}

}  // namespace plume
