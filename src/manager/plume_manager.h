// PLUMEManager: the process-wide singleton that ties the library together.
// It owns the registries of live automation objects, the menu-item ownership
// records, the hidden callback window, the event gate, the waits of the
// client UI thread and the selection and sending state.
//
// Lifecycle: created by the first Get(true) on the owner thread (the server
// thread, named by SetOwnerThread when it starts), which then owns the
// callback window; Get(true) on any other thread only finds it. Destroyed by
// the owner thread with DestroyInstance() after its message loop ended; from
// then on no thread creates it again until a new owner is named.
// Threads: raise operations and automation methods run on the server thread;
// hooks, the posters' waits and the shutdown sequence on the client UI
// thread. Lock order where two are held: storeLock before registryLock.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <vector>

#include "com_ptr.h"
#include "manager/object_registry.h"
#include "store/parked_sends.h"
#include "sync.h"
#include "unique_any.h"
#include "window_subclass.h"

namespace plume {

// How long a client thread waits for the delivery of what it posted (a
// folder change, a message window's close, a store change). One sink of
// another apartment holds a delivery at most kSinkAnswerMs; this bounds the
// sum, so that several hung clients cannot freeze the client either.
constexpr DWORD kPosterWaitMs = 5000;
// True while this thread waits for a delivery it posted: the client's code
// that caused it (a list notification, say) is still running below the wait.
bool InPosterWait();
// A user's Send press reaches the client once every handler of it has
// answered or is gone. One that gives no sign of life for this long (no
// answer to its call, nor to a probe of its apartment) might have cancelled:
// the press is dropped and the window left as it was.
constexpr DWORD kSendPressSilenceMs = 3 * 60 * 1000;
// Shortens that bound for tests; returns the previous value.
DWORD SetSendPressSilenceForTesting(DWORD milliseconds);
// A send command the library held back is carried out once it has waited
// this long with no transfer running, whatever else would hold it.
constexpr DWORD kHeldSendCommandMs = 5000;
// A transfer whose end the client never reports is taken as ended after
// this long: parked copies go to the Outbox, held commands go on.
constexpr DWORD kTransferEndMs = 5 * 60 * 1000;
// Shortens both bounds for tests (0 keeps one); restored by the destructor.
class SendCycleBoundsForTesting {
public:
    SendCycleBoundsForTesting(DWORD heldCommandMs, DWORD transferEndMs);
    ~SendCycleBoundsForTesting();
    SendCycleBoundsForTesting(const SendCycleBoundsForTesting&) = delete;
    SendCycleBoundsForTesting& operator=(const SendCycleBoundsForTesting&) = delete;

private:
    DWORD heldCommandMs_, transferEndMs_;
};

// The posters' waits of one commit (every record of it) share one
// kPosterWaitMs on the committing thread, so that a commit of many records
// holds the client's thread no longer than one. The store watcher opens one
// around each commit's notification; nested ones share the outermost.
class CommitWaitBudget {
public:
    CommitWaitBudget();
    ~CommitWaitBudget();
    CommitWaitBudget(const CommitWaitBudget&) = delete;
    CommitWaitBudget& operator=(const CommitWaitBudget&) = delete;
    // What is left of the open budget on this thread; `bound` when none is open.
    static DWORD Remaining(DWORD bound);

private:
    bool outermost_;
};

class PLUMEObj;
class LateAnswers;
class OEMsgWnd;
class OEToolbar;
class OEButton;
class OEMenu;
class OEMenuItem;
class OEMenuRegistry;
struct OEPluginMsgWnd;
class VexMessageList;
class PLUMEMessageStore;

// Receives store transactions from the store watcher.
class PLUMEStoreListener {
public:
    virtual void OnStoreChange(int code, int kind, int folderId, int objectId, int a, int b, int c);

protected:
    ~PLUMEStoreListener() = default;
};

// Which root object owns a menu item, and where the item lives. Ids -1
// until set.
struct MenuItemRecord {
    LONG ownerId = -1;
    LONG menuId = -1;
    LONG itemId = -1;
    LONG parentId = -1;
    // The message window whose own registry holds the item; 0 for the
    // process-wide registry (the main window and every message window).
    LONG msgWndId = 0;
    std::weak_ptr<OEMenuRegistry> registry;  // empty for the process-wide one

    // The item lives (its window is open) and is heard in window `msgWndId`
    // (-1: the main window).
    bool HeardIn(LONGLONG window) const;
    bool Live() const;
};

class PLUMEManager final : public PLUMEStoreListener {
public:
    // The singleton; constructed first when it does not exist, `create` is
    // set and the caller is the owner thread. Null otherwise.
    static PLUMEManager* Get(bool create);
    // Names the thread that may construct the manager (0: none).
    static void SetOwnerThread(DWORD threadId);
    // Destroys the singleton (server thread, at the end) and clears the pointer.
    static void DestroyInstance();

    PLUMEManager(const PLUMEManager&) = delete;
    PLUMEManager& operator=(const PLUMEManager&) = delete;

    // Registries; each operation takes registryLock for its own duration.
    void AddRootObject(PLUMEObj* obj);
    void RemoveRootObject(PLUMEObj* obj);
    PLUMEObj* FindRootObject(LONG plumeId);
    void AddMsgWnd(OEMsgWnd* obj);
    void RemoveMsgWnd(OEMsgWnd* obj);
    OEMsgWnd* FindMsgWnd(LONG msgWndId);
    void AddToolbar(OEToolbar* obj);
    void RemoveToolbar(OEToolbar* obj);
    OEToolbar* FindToolbar(LONG toolbarId);
    void AddButton(OEButton* obj);
    void RemoveButton(OEButton* obj);
    OEButton* FindButton(LONG buttonId);
    void AddMenu(OEMenu* obj);
    void RemoveMenu(OEMenu* obj);
    OEMenu* FindMenu(LONG menuId);
    void AddMenuItem(OEMenuItem* obj);
    void RemoveMenuItem(OEMenuItem* obj);
    OEMenuItem* FindMenuItem(LONG itemId);
    // True when all six registries are empty (read under registryLock).
    bool RegistriesEmpty();
    size_t RegisteredObjectCount();
    // Server thread: disconnects every registered object from its remote
    // clients, which releases the references they hold.
    void DisconnectAllObjects();
    // Server thread: a client process has ended (Wine never releases what it
    // held). Every object that had a sink in process `pid` is disconnected, and
    // the toolbars and menu items of the roots those objects are or belong
    // to are taken out of the client. Returns the number of objects.
    size_t DisconnectObjectsOfProcess(DWORD pid);
    // The OEMsgWnd objects of message window `msgWndId`, held.
    std::vector<com_ptr<OEMsgWnd>> MsgWndsOf(LONG msgWndId);
    // Server thread: every OEMsgWnd bound to `record` lets go of it.
    void UnbindMsgWnds(const OEPluginMsgWnd* record);
    // Registered roots, in registration order (take registryLock around use).
    const std::vector<PLUMEObj*>& RootObjects() const { return roots_.items(); }

    // Menu-item ownership records. `registry` is the item's registry (null:
    // the process-wide one).
    void AddMenuItemRecord(LONG itemId, LONG menuId, LONG parentItemId,
                           const std::shared_ptr<OEMenuRegistry>& registry);
    // A copy of the live record for `itemId`; false when there is none.
    bool FindMenuItemRecord(LONG itemId, MenuItemRecord* out);
    // Removes the record of `itemId` and those of its sub-items.
    void RemoveMenuItemRecord(LONG itemId);
    // Item ids of the live records owned by `ownerId`, in record order; the
    // records of closed windows go.
    std::vector<LONG> MenuItemIdsOf(LONG ownerId);
    // Removes the records of `ownerId`; then each item leaves the client's
    // menus through `removeFromMenus`, when given, with no lock held.
    void RemoveMenuItemRecordsOf(LONG ownerId, void (*removeFromMenus)(LONG itemId) = nullptr);
    // Next OEMenu id (post-incremented).
    LONG TakeMenuId();

    // The event gate.
    bool EnterEvent();
    void LeaveEvent();
    // From now on no event is raised; posters waiting on a completion event
    // are released.
    void SetShuttingDown();
    bool ShuttingDown();
    LONG EventsInProgress();

    // OnStoreChange posts the change and waits until it has been raised.
    void OnStoreChange(int code, int kind, int folderId, int objectId, int a, int b, int c) override;

    HWND callbackWindow() const { return callbackWindow_; }
    HANDLE msgWndClosedDone() const { return msgWndClosedDone_.get(); }
    HANDLE folderChangeDone() const { return folderChangeDone_.get(); }
    // Resets `event`, posts `message` to the callback window and waits, pumping,
    // until the raise operation sets it (or shutdown releases every waiter).
    // False when the post failed: the caller still owns what it posted.
    // `timeoutMs` bounds the wait (logged when it runs out).
    bool PostAndWait(HANDLE event, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs = kPosterWaitMs);

    critical_section& registryLock() { return registryLock_; }
    critical_section& storeLock() { return storeLock_; }

    // Selection (guarded by storeLock where said).
    LONG selectedFolderId = -1;
    std::vector<LONG> selectedMessageIds;
    bool selectedMessagesStored = false;  // false: no selection stored yet (or it was dropped)
    LONG currentMessageId = -1;
    // The client folder whose table the message list holds (-1 none).
    LONG listFolderId = -1;
    // The message-list binder and the store watcher, made by the constructor.
    std::shared_ptr<VexMessageList> messageList;
    std::shared_ptr<PLUMEMessageStore> messageStore;

    // Sending state.
    volatile LONG sendBusy = 0;
    LONG rootFolderId = 0;
    LONG outboxFolderId = -1;
    LONG holdingFolderId = -1;
    // The client's store namespace and its Outbox (Outlook Express only).
    com_ptr<IUnknown> storeNamespace;
    com_ptr<IUnknown> outboxFolder;
    LONG firstSendPassed = 0;
    LONG sendButtonCommand = 0;
    LONG lastOutboxMessageId = -1;
    std::deque<LONGLONG> pendingSendCommands;
    // Copies parked in the holding folder during a transfer, oldest first;
    // also listed in the user's hive (store/parked_sends.h).
    std::deque<ParkedCopy> queuedSends;
    // Queues a replay of the client's send command once a send has passed.
    void SendAndReceiveMessages();

    // The Outbox (outbox.cpp). No lock is held across the store calls, which
    // make the client commit and so raise OnDatabaseChange.
    void SendMessage(LONG folderId, LONG msgId);
    // The client's own Outbox copy: CreateOutboxMessageWM or CreateMessageInOutbox.
    void CreateOutboxCopy(LONG folderId, LONG msgId, int deleteSource);
    void CreateMessageInOutbox(LONG folderId, LONG msgId, int deleteSource);
    void CreateOutboxMessageWM(LONG folderId, LONG msgId, int deleteSource);
    // 1 when the holding folder's message carried the deletion mark and is gone.
    int RemoveMessageWMail(LONG msgId);
    // The store watcher, held (null when there is none).
    std::shared_ptr<PLUMEMessageStore> Watcher();

    // The send cycle (send_cycle.cpp).
    // Subclasses the client's hidden send dialog when it is found.
    void HookSendWnd();
    // Puts the dialog's procedure back (while ours is on top) and forgets it.
    void UnhookSendWnd();
    HWND sendDialog() const { return sendDialog_; }
    void PushPendingSendCommand(LONGLONG value);
    // Replays the oldest held-back send command (or a plain one) to the dialog.
    void StartSynchroPending();
    // Nothing of the cycle is held for ever: a held command is carried out
    // once it has waited `kHeldSendCommandMs` with no transfer running, a
    // transfer whose end never comes is taken as ended after
    // `kTransferEndMs`, and Outbox insertions heard while a window sent (or
    // while one was being announced) are announced once none sends. Runs on
    // the server thread; re-arms its timer while anything is left.
    void CheckSendCycle();
    // Asks the server thread for CheckSendCycle (any thread).
    void PostSendCycleCheck();
    // Moves the parked copies to the Outbox, oldest first (server thread).
    void MoveParkedCopiesToOutbox();
    // Queues the parked copies that an earlier run left listed and, with no
    // transfer running, moves them to the Outbox.
    void FinishParkedCopiesOfEarlierRuns();
    // Outbox insertions to announce once no window sends (server thread).
    std::deque<LONG> deferredOutboxAnnouncements;
    // The client's settings: "Send Mail Immediately" (1 unless 0) and
    // "GlobalUserOffline" (1 only when 1).
    static int IsSendMailImmediately();
    static int IsGlobalUserOffline();
    // The send dialog's procedure (client UI thread).
    static LRESULT CALLBACK SendDlgWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    // Raise operations (server thread, from the callback window).
    void RaiseOnButtonClicked(LONG toolbarId, LONG buttonId, LONGLONG msgWndId);
    void RaiseOnMenuItemClicked(LONG menuIndex, LONG itemId, LONGLONG msgWndId);
    void RaiseOnFolderSelectionChanged(LONG folderId);
    void RaiseOnMessageSelectionChanged();
    void RaiseOnCurrentMessageChanged(LONG msgId);
    void RaiseOnMessageDownloadStartedEvent();
    void RaiseOnMessageDownloadFinishedEvent();
    void RaiseOnNewMsgWnd(LONG msgWndId);
    void RaiseOnMsgWndClosed(LONG msgWndId, LONG isMainWindow);
    void RaiseOnSendButtonMsgWndClicked(HWND window, LONG which);
    // A held Send press: its handlers have all answered ("PLUME.SendPressAnswered").
    void OnSendPressAnswered(UINT pressId);
    // Held Send presses: probes their quiet handlers, drops those silent too long.
    void CheckHeldSendPresses();
    size_t HeldSendPressCount() const { return heldSendPresses_.size(); }
    void RaiseOnNewMessageInOutbox(LONG msgId);
    // `done`, the committing thread's own event, is set on every path.
    void RaiseOnDatabaseChange(LONG code, LONG folderId, LONG objectId, LONG newParentId, HANDLE done = nullptr);

private:
    PLUMEManager();
    ~PLUMEManager();

    // Calls `fire` on every root object, in registration order, under
    // registryLock. Roots are held while the walk runs, so a sink may release
    // or create roots meanwhile.
    template <typename Fire>
    void ForEachRoot(Fire fire);

    // Announces the deferred Outbox insertions while no window sends; true
    // when any was announced.
    bool AnnounceDeferredOutboxMessages();
    // When the oldest held command began to wait and the running transfer
    // began (GetTickCount64), under registryLock.
    ULONGLONG pendingSince_ = 0;
    ULONGLONG transferSince_ = 0;
    // Set while a held command past its bound is on its way to the dialog.
    volatile LONG releaseHeldCommand_ = 0;

    // A send command goes to the client: a transfer starts (dialog's thread).
    void PassingSend();

    // The end of a Send press's confirmation: passes it on unless cancelled.
    void PassOnSendPress(HWND window, LONG which);
    // A press whose handlers have not all answered yet (server thread only).
    struct HeldSendPress {
        UINT id;
        HWND window;
        LONG which;
        std::shared_ptr<LateAnswers> answers;
    };
    std::vector<HeldSendPress> heldSendPresses_;
    UINT nextSendPressId_ = 1;

    ObjectRegistry<PLUMEObj> roots_;
    ObjectRegistry<OEMsgWnd> msgWnds_;
    ObjectRegistry<OEToolbar> toolbars_;
    ObjectRegistry<OEButton> buttons_;
    ObjectRegistry<OEMenu> menus_;
    ObjectRegistry<OEMenuItem> menuItems_;
    LONG nextMenuId_ = 0;
    std::vector<MenuItemRecord> menuItemRecords_;

    HWND callbackWindow_ = nullptr;
    LONG shuttingDown_ = 0;
    LONG eventsInProgress_ = 0;
    critical_section gateLock_;
    unique_handle msgWndClosedDone_;
    unique_handle folderChangeDone_;
    critical_section registryLock_;
    critical_section storeLock_;
    HWND sendDialog_ = nullptr;
    window_subclass sendDialogSubclass_;
};

// Enters the manager's event gate for one operation and leaves it on every
// path.
class GateScope {
public:
    explicit GateScope(PLUMEManager* manager) : manager_(manager), entered_(manager->EnterEvent()) {}
    ~GateScope() {
        if (entered_) manager_->LeaveEvent();
    }
    GateScope(const GateScope&) = delete;
    GateScope& operator=(const GateScope&) = delete;
    explicit operator bool() const { return entered_; }

private:
    PLUMEManager* manager_;
    bool entered_;
};

// Counts the manager's `sendBusy` up for a scope: send commands meanwhile
// are held back.
class BusyScope {
public:
    explicit BusyScope(volatile LONG* busy) : busy_(busy) { InterlockedIncrement(busy_); }
    ~BusyScope() { InterlockedDecrement(busy_); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    volatile LONG* busy_;
};

// Waits for `event` while dispatching the thread's non-input messages;
// keyboard and mouse input that arrives meanwhile is discarded.

}  // namespace plume
