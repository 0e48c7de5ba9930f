// PLUMEMessageStore: the store watcher. It reaches the client's internal
// store object, registers as a transaction listener (IDatabaseNotify) on it,
// on every local folder when watching starts, on every folder created since
// and on every folder the client opens, turns each transaction into one
// change code and hands it to its listener (the manager). It also answers
// the folder questions of the selection (kind, parent) and the Outbox's
// last message id.
//
// Lifecycle: made by the manager's construction, which sets the listener and
// calls HookStoreClass (the capture patch of the store class's AddRef);
// IsStoreCaptured then adopts the store the client touched. StartWatching
// (client UI thread, store ready) creates the store callback window and
// registers on the store; StopWatching (WM_CLOSE of the main window) undoes
// that. The destructor undoes both patches where they still hold ours.
// Threads: OnTransaction runs on the client's committing threads and blocks
// there until the listener returns; folder registration runs on the thread
// of the store callback window; lookups run anywhere.
#pragma once

#include <windows.h>

#include <list>
#include <set>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "com_ptr.h"
#include "sync.h"

namespace plume {

class PLUMEStoreListener;

// The client's transaction listener interface {5E8A5022-AC7C-11D1-9A16-00C04FA309D4}.
struct IDatabaseNotify : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) = 0;
};
extern const IID IID_IDatabaseNotify;

// One transaction as read from the client's records.
struct TransactionInfo {
    UINT type = 0;         // 0 insert, 1 update, 2 delete
    UINT folderId = 0;
    UINT objectId = 0;
    UINT valueA = 0;
    UINT valueB = 0;
    UINT valueC = 0;
    UINT nameChanged = 0;  // folders only
    void* ordinals = nullptr;
};

// Where the two clients put things: table positions and record offsets.
struct StoreLayout {
    IID storeIid;
    int storeOpenFolder;
    int storeFolderInfo;
    int folderSeekRowset;  // -1: none (the rowset is walked instead)
    size_t kindByte;
    size_t messageFlags;
    bool messageRecordHasFolder;  // folder id at 32
    bool unhookOpenFolderFirst;
    int folderOpenMessage, folderSaveMessage, folderDeleteMessages;
    UINT deleteFlagsWithCallback;
    bool wideMessageIds;  // message ids in lists are 64-bit
    int storeEnumSubFolders;
};

// One replaced entry of a client table.
struct TablePatch {
    bool active = false;
    void* previous = nullptr;
    void* replacement = nullptr;
    void** slot = nullptr;
    // Saves the entry and writes `with`; false when the slot cannot be written.
    bool Apply(void** at, void* with);
    // Puts the saved entry back, only while the slot still holds ours.
    void Undo();
};

// The message store callback window's message: register the folder in wParam.
constexpr UINT kStoreOpenFolderMessage = 0x1410;
// The cookie of the store-wide registration.
constexpr DWORD kStoreCookie = 0x1111111;
// At most this many folders carry a registration; eviction frees five.
constexpr size_t kMaxRegisteredFolders = 31;
constexpr int kEvictionStep = 5;
// The local folders' root (it holds folders, not messages).
constexpr ULONG kRootFolderId = 1;
// A store walk looks at no more folders than this.
constexpr size_t kMaxFoldersWalked = 4096;

class PLUMEMessageStore : public IDatabaseNotify {
public:
    PLUMEMessageStore(const PLUMEMessageStore&) = delete;
    PLUMEMessageStore& operator=(const PLUMEMessageStore&) = delete;
    virtual ~PLUMEMessageStore();

    // IUnknown: not counted; the manager owns the watcher.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // Cookie kStoreCookie: a folder transaction; any other cookie: a folder id.
    STDMETHODIMP OnTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database) override;

    // Capture patch on the store class's AddRef; the CoCreateInstance result.
    HRESULT HookStoreClass();
    void UnhookAll();
    // True when the client touched a store since HookStoreClass; the capture
    // patch is then undone.
    bool IsStoreCaptured();

    HRESULT OpenFolder(LONG folderId, IUnknown** folder);
    HRESULT GetFolderKind(LONG folderId, LONG* kind);
    HRESULT GetParentFolderId(LONG folderId, LONG* parent);
    // The store's enumerator of a folder's sub-folders (caller releases), and
    // its next folder id: S_FALSE after the last.
    HRESULT EnumSubFolders(LONG folderId, IUnknown** enumerator);
    HRESULT NextSubFolder(IUnknown* enumerator, ULONG count, LONG* folderId, ULONG* fetched);
    // Every local folder below the root, breadth first.
    std::vector<ULONG> LocalFolders();
    HRESULT RegisterFolderNotification(LONG folderId, IDatabaseNotify* notify, IUnknown** folder);
    HRESULT UnregisterFolderNotification(IDatabaseNotify* notify, IUnknown* folder);
    // The folder's message `msgId` (caller releases `message`).
    HRESULT OpenMimeMessage(LONG folderId, LONG msgId, IUnknown** message);
    // Saves `message` into the folder; `newId` gets the new message's id.
    HRESULT SaveMimeMessage(LONG folderId, UINT flags, IUnknown* message, LONG* newId);
    // Deletes one message; the client's null callback goes along when asked.
    HRESULT DeleteMessage(LONG folderId, LONG msgId, bool withCallback);
    // Highest message id of the folder; 0xFFFFFFFF on any failure.
    ULONG GetLastMessageId(LONG folderId);
    HRESULT RegisterStoreNotification(IDatabaseNotify* notify);
    HRESULT UnregisterStoreNotification(IDatabaseNotify* notify);
    // The store with one reference for the caller.
    HRESULT GetStore(IUnknown** out);
    HRESULT GetFolderTransactionInfo(IUnknown* database, UINT_PTR* transaction, TransactionInfo* info);
    HRESULT GetMessageTransactionInfo(IUnknown* database, UINT_PTR* transaction, TransactionInfo* info);

    // Registers on the store and on every local folder (as many as the limit
    // allows: the pinned ones and those nearest the root first), so that
    // changes are heard in folders the client has not opened.
    void StartWatching();
    void StopWatching();
    HRESULT RegisterMessageNotification(ULONG folderId);
    HRESULT UnregisterMessageNotification(ULONG folderId);
    // Folders the send cycle depends on (the Outbox, the holding folder):
    // once registered, they are never evicted to make room for others.
    void PinFolders(std::initializer_list<ULONG> folderIds);
    void UnregisterAllMessageNotifications();
    int NotifyFolderTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database);
    int NotifyMessageTransaction(UINT_PTR transaction, DWORD cookie, IUnknown* database);

    void SetListener(PLUMEStoreListener* listener) { listener_ = listener; }
    HWND callbackWindow() const { return callbackWindow_; }
    bool enabled() const { return enabled_ != 0; }
    // Registered folders, least recently opened first.
    std::list<ULONG> RegisteredFolders();
    const StoreLayout& layout() const { return layout_; }

protected:
    PLUMEMessageStore(const StoreLayout& layout, int variant);

private:
    // The client's folder record (get-folder-info) into `record`; freed by the caller.
    HRESULT ReadFolderRecord(LONG folderId, BYTE* record);
    // Reads the folder's record, hands it to `take` and frees it.
    template <typename Take>
    HRESULT WithFolderRecord(LONG folderId, Take take);
    HRESULT ReadTransaction(IUnknown* database, UINT_PTR* transaction, UINT* type, BYTE* first, BYTE* second,
                            void** ordinals);
    void CreateStoreCallbackWindow();

    const StoreLayout& layout_;
    const int variant_;  // 0 OE, 1 WM: which process-wide saved entries are ours
    volatile LONG enabled_ = 0;
    critical_section lock_;
    critical_section storeLock_;  // store_ only
    std::map<ULONG, com_ptr<IUnknown>> registeredFolders_;
    std::list<ULONG> lruFolders_;
    std::set<ULONG> pinnedFolders_;
    PLUMEStoreListener* listener_ = nullptr;
    HWND callbackWindow_ = nullptr;
    TablePatch openFolderPatch_;
    TablePatch capturePatch_;
    com_ptr<IUnknown> store_;
};

class PLUMEMessageStoreOE final : public PLUMEMessageStore {
public:
    PLUMEMessageStoreOE();
};

class PLUMEMessageStoreWM final : public PLUMEMessageStore {
public:
    PLUMEMessageStoreWM();
};

// The kind reported for a record's kind byte: 3 local (1), 0 -> 2, 1 -> 3, else 4.
LONG FolderKindFromByte(BYTE kindByte);

// The watcher for the running client.
std::shared_ptr<PLUMEMessageStore> MakeMessageStore();

// What the client reaches the watcher through: the trampoline registered as
// its IDatabaseNotify, and the callback it requires for deletions.
IDatabaseNotify* StoreTrampoline();
IUnknown* NullStoreCallback();
// The watcher that receives the store callback window's requests, or null.
PLUMEMessageStore* CurrentMessageStore();

}  // namespace plume
