#include "store/outbox.h"

#include <objbase.h>
#include <propidl.h>

#include <cstring>

#include "client_variant.h"
#include "com_ptr.h"
#include "log.h"
#include "manager/plume_manager.h"
#include "store/accounts.h"
#include "store/client_table.h"
#include "store/message_store.h"

namespace plume {
namespace {

const IID kIidMimeMessage = {0xFD853CD5, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};

// The published store API (Outlook Express).
constexpr int kNamespaceOpenFolder = 6;
constexpr int kFolderDeleteMessages = 6, kFolderOpenMessage = 10, kFolderSaveMessage = 11;
constexpr int kGetBodyProp = 33, kSetBodyProp = 34;
// The internal store's folder (Windows Mail).
constexpr int kFindRecord = 8, kUpdateRecord = 6, kFreeRecord = 10, kOpenMessageWM = 71, kDeleteMessagesWM = 78;
constexpr UINT kDeleteMarkedFlags = 4;

// The root body and the account id property, passed in place of a name.
void* const kRootBody = reinterpret_cast<void*>(static_cast<INT_PTR>(-1));
const char* const kAccountIdProperty = reinterpret_cast<const char*>(static_cast<UINT_PTR>(63));
const char kAccountNameProperty[] = "att:athena-account-name";
const char kDeletedMark[] = "X_PLUME_DELETED";

// The Windows Mail message record.
constexpr size_t kRecordSize = 424, kRecordId = 24, kRecordFlags = 40;
constexpr size_t kRecordDisplayName = 144, kRecordEmail = 152, kRecordAccountName = 232, kRecordAccountFile = 240;

using NamespaceOpenFolderFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, IUnknown**);
using FolderDeleteFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, MessageIdList*, UINT_PTR, IUnknown*);
using FolderOpenMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, const IID*, IUnknown**);
using FolderSaveMessageFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, const IID*, IUnknown*, UINT_PTR, ULONGLONG*);
using GetBodyPropFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, void*, const char*, UINT_PTR, PROPVARIANT*);
using SetBodyPropFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, void*, const char*, UINT_PTR, const PROPVARIANT*);
using RecordFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, void*);
using FindRecordFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, INT_PTR, void*, void*);
using OpenMessageWMFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, UINT_PTR, IUnknown**, UINT_PTR);
using DeleteMessagesWMFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, UINT_PTR, MessageIdList*, void*, void*);

// A PROPVARIANT that is always cleared.
struct PropValue {
    PROPVARIANT v;
    PropValue() { PropVariantInit(&v); }
    ~PropValue() { PropVariantClear(&v); }
    PropValue(const PropValue&) = delete;
    PropValue& operator=(const PropValue&) = delete;
};

// Reads a root body property as an 8-bit string; the call's result.
HRESULT GetRootProperty(IUnknown* message, const char* name, PropValue& value) {
    value.v.vt = VT_LPSTR;  // the type asked for
    return Entry<GetBodyPropFn>(message, kGetBodyProp)(message, kRootBody, name, 0, &value.v);
}

HRESULT SetRootProperty(IUnknown* message, const char* name, char* text) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_LPSTR;
    value.pszVal = text;  // borrowed: not cleared
    return Entry<SetBodyPropFn>(message, kSetBodyProp)(message, kRootBody, name, 0, &value);
}

template <typename T>
void PutAt(BYTE* record, size_t offset, T value) {
    memcpy(record + offset, &value, sizeof value);
}
template <typename T>
T ReadAt(const BYTE* record, size_t offset) {
    T value;
    memcpy(&value, record + offset, sizeof value);
    return value;
}

}  // namespace

std::shared_ptr<PLUMEMessageStore> PLUMEManager::Watcher() {
    cs_lock hold(storeLock_);
    return messageStore;
}

void PLUMEManager::SendMessage(LONG folderId, LONG msgId) {
    if (ShuttingDown()) {
        Log(2, "PLUMEManager::SendMessage: the client is closing; nothing copied.\n");
        return;
    }
    bool transferRunning;
    {
        cs_lock hold(registryLock_);
        transferRunning = firstSendPassed != 0;
    }
    if (!transferRunning) {
        CreateOutboxCopy(folderId, msgId, 0);
        return;
    }
    std::shared_ptr<PLUMEMessageStore> watcher = Watcher();
    com_ptr<IUnknown> message;
    if (!watcher || FAILED(watcher->OpenMimeMessage(folderId, msgId, message.put())) || !message) {
        Log(0, "PLUMEManager::SendMessage: Can't read message %08x.\n", static_cast<unsigned>(msgId));
        return;
    }
    LONG copyId = 0;
    HRESULT hr = watcher->SaveMimeMessage(holdingFolderId, kParkedCopyFlags, message.get(), &copyId);
    if (FAILED(hr)) {
        Log(0, "PLUMEManager::SendMessage: Can't save message: %08x %d.\n", static_cast<unsigned>(hr),
            static_cast<int>(copyId));
        return;
    }
    {
        cs_lock hold(registryLock_);
        queuedSends.push_back({holdingFolderId, copyId});
    }
    RememberParkedCopy({holdingFolderId, copyId});
    Log(0, "PLUMEManager::SendMessage: Message enqueued.\n");
}

void PLUMEManager::CreateOutboxCopy(LONG folderId, LONG msgId, int deleteSource) {
    if (IsWindowsMail()) CreateOutboxMessageWM(folderId, msgId, deleteSource);
    else CreateMessageInOutbox(folderId, msgId, deleteSource);
}

void PLUMEManager::CreateMessageInOutbox(LONG folderId, LONG msgId, int deleteSource) {
    com_ptr<IUnknown> storeNs = storeNamespace, outbox = outboxFolder;
    if (!storeNs) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: NULL pSN.\n");
        return;
    }
    com_ptr<IUnknown> folder;
    if (FAILED(Entry<NamespaceOpenFolderFn>(storeNs.get(), kNamespaceOpenFolder)(
            storeNs.get(), static_cast<ULONG>(folderId), 0, folder.put())) || !folder) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: OpenFolder\n");
        return;
    }
    OeAccountSettings account;
    if (!GetDefaultAccountSettings(account)) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: GetDefaultAccountSettings.\n");
        return;
    }
    com_ptr<IUnknown> message;
    if (FAILED(Entry<FolderOpenMessageFn>(folder.get(), kFolderOpenMessage)(
            folder.get(), static_cast<ULONG>(msgId), &kIidMimeMessage, message.put())) || !message) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: OpenMessage\n");
        return;
    }
    bool hasAccount;
    {
        PropValue existing;
        hasAccount = GetRootProperty(message.get(), kAccountIdProperty, existing) == S_OK;
    }
    if (!hasAccount && (FAILED(SetRootProperty(message.get(), kAccountIdProperty, account.accountId)) ||
                        FAILED(SetRootProperty(message.get(), kAccountNameProperty, account.accountName)))) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: SetBodyProp\n");
        return;
    }
    ULONGLONG newId = 0;
    if (!outbox || FAILED(Entry<FolderSaveMessageFn>(outbox.get(), kFolderSaveMessage)(
                       outbox.get(), &kIidMimeMessage, message.get(), kOutboxSaveFlags, &newId))) {
        Log(0, "PLUMEManager::CreateMessageInOutbox: SaveMessage\n");
        return;
    }
    message.reset();
    if (!deleteSource) return;
    ULONG id = static_cast<ULONG>(msgId);
    MessageIdList list{16, 1, &id};
    if (FAILED(Entry<FolderDeleteFn>(folder.get(), kFolderDeleteMessages)(folder.get(), &list, 0, nullptr)))
        Log(0, "PLUMEManager::CreateMessageInOutbox: DeleteMessages.\n");
}

void PLUMEManager::CreateOutboxMessageWM(LONG folderId, LONG msgId, int deleteSource) {
    auto account = std::make_unique<WmAccountInfo>();
    if (!GetWMAccountInfo(*account)) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: Can't get account info.\n");
        return;
    }
    std::shared_ptr<PLUMEMessageStore> watcher = Watcher();
    com_ptr<IUnknown> message;
    HRESULT hr = watcher ? watcher->OpenMimeMessage(folderId, msgId, message.put()) : E_FAIL;
    if (FAILED(hr) || !message) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: OpenMimeMessage failed %08x.\n", static_cast<unsigned>(hr));
        return;
    }
    LONG newId = 0;
    hr = watcher->SaveMimeMessage(outboxFolderId, 0, message.get(), &newId);
    message.reset();
    if (FAILED(hr)) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: SaveMimeMessage failed %08x.\n", static_cast<unsigned>(hr));
        return;
    }
    com_ptr<IUnknown> outbox;
    hr = watcher->OpenFolder(outboxFolderId, outbox.put());
    if (FAILED(hr) || !outbox) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: OpenFolder failed %08x.\n", static_cast<unsigned>(hr));
        return;
    }
    BYTE record[kRecordSize] = {};
    PutAt<ULONG>(record, kRecordId, static_cast<ULONG>(newId));
    hr = Entry<FindRecordFn>(outbox.get(), kFindRecord)(outbox.get(), 0, -1, record, nullptr);
    if (hr != S_OK) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: FindRecord failed %08x.\n", static_cast<unsigned>(hr));
        return;
    }
    // The record's own strings are the client's: they are put back before it frees the record.
    const size_t fields[] = {kRecordAccountFile, kRecordAccountName, kRecordDisplayName, kRecordEmail};
    void* const ours[] = {account->accountFile, account->accountName, account->displayName, account->emailAddress};
    void* theirs[4];
    for (int i = 0; i < 4; ++i) {
        theirs[i] = ReadAt<void*>(record, fields[i]);
        PutAt(record, fields[i], ours[i]);
    }
    PutAt<ULONG>(record, kRecordFlags, kOutboxRecordFlags);
    hr = Entry<RecordFn>(outbox.get(), kUpdateRecord)(outbox.get(), record);
    for (int i = 0; i < 4; ++i) PutAt(record, fields[i], theirs[i]);
    Entry<RecordFn>(outbox.get(), kFreeRecord)(outbox.get(), record);
    if (FAILED(hr)) {
        Log(0, "PLUMEManager::CreateOutboxMessageWM: UpdateRecord failed %08x.\n", static_cast<unsigned>(hr));
        return;
    }
    if (!deleteSource) return;
    hr = watcher->DeleteMessage(folderId, msgId, true);
    if (FAILED(hr))
        Log(0, "PLUMEManager::CreateOutboxMessageWM: DeleteMessage failed %08x.\n", static_cast<unsigned>(hr));
}

int PLUMEManager::RemoveMessageWMail(LONG msgId) {
    std::shared_ptr<PLUMEMessageStore> watcher = Watcher();
    com_ptr<IUnknown> folder;
    HRESULT hr = watcher ? watcher->OpenFolder(holdingFolderId, folder.put()) : E_FAIL;
    if (FAILED(hr) || !folder) {
        Log(0, "PLUMEManager::RemoveMessageWMail: Can't open folder %08x.\n", static_cast<unsigned>(hr));
        return 0;
    }
    com_ptr<IUnknown> message;
    hr = Entry<OpenMessageWMFn>(folder.get(), kOpenMessageWM)(folder.get(), static_cast<ULONG>(msgId), 0,
                                                               message.put(), 0);
    if (FAILED(hr) || !message) {
        Log(0, "PLUMEManager::RemoveMessageWMail: Can't open message %08x.\n", static_cast<unsigned>(hr));
        return 0;
    }
    bool marked;
    {
        PropValue mark;
        marked = GetRootProperty(message.get(), kDeletedMark, mark) == S_OK && mark.v.vt == VT_LPSTR &&
                 mark.v.pszVal && strcmp(mark.v.pszVal, "True") == 0;
    }
    if (!marked) return 0;
    message.reset();
    ULONG ids[4] = {static_cast<ULONG>(msgId), 0, 0, 0};
    MessageIdList list{1, 1, ids};
    hr = Entry<DeleteMessagesWMFn>(folder.get(), kDeleteMessagesWM)(folder.get(), kDeleteMarkedFlags, &list, nullptr,
                                                                     nullptr);
    if (FAILED(hr)) {
        Log(0, "PLUMEManager::RemoveMessageWMail: DeleteMessages failed %08x.\n", static_cast<unsigned>(hr));
        return 0;
    }
    return 1;
}

}  // namespace plume
