// The raise operations: one piece of client activity, carried to the server
// thread by the callback window, delivered to the sinks of every object
// concerned, in a fixed order, through the event gate.
#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "com_ptr.h"
#include "host/msg_wnd_list.h"
#include "host/oe_msg_wnd.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "log.h"
#include "client_variant.h"
#include "store/send_cycle.h"
#include "ui/oe_button.h"
#include "ui/oe_menu.h"
#include "ui/oe_menu_item.h"
#include "ui/oe_toolbar.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

// Sets a poster's completion event when the operation ends, on every path.
class SetOnExit {
public:
    explicit SetOnExit(HANDLE event) : event_(event) {}
    ~SetOnExit() {
        if (event_) SetEvent(event_);
    }
    SetOnExit(const SetOnExit&) = delete;
    SetOnExit& operator=(const SetOnExit&) = delete;

private:
    HANDLE event_;
};

}  // namespace

template <typename Fire>
void PLUMEManager::ForEachRoot(Fire fire) {
    // Held, so that a sink that releases a root does not end the walk under
    // it; the registry lock is not held while sinks run.
    std::vector<com_ptr<PLUMEObj>> roots;
    {
        cs_lock hold(registryLock_);
        roots.reserve(roots_.size());
        for (PLUMEObj* root : roots_.items()) roots.emplace_back(root);
    }
    for (auto& root : roots) fire(*root);
}

void PLUMEManager::RaiseOnButtonClicked(LONG toolbarId, LONG buttonId, LONGLONG msgWndId) {
    GateScope gate(this);
    if (!gate) return;
    // What the fan-out needs is read under the record's lock, which is let go
    // before any sink runs: a handler may call back into toolbars, and the
    // client UI thread takes the toolbar lock before a button's.
    LONG recordToolbarId, ownerId;
    {
        LockedButtonRecord record(buttonId);
        if (!record) {
            Log(0, "RaiseOnButtonClicked: Cannot find object\n");
            return;
        }
        recordToolbarId = record.toolbarId();
        ownerId = record.ownerId();
    }
    const bool main = msgWndId == -1;
    const LONG window = static_cast<LONG>(msgWndId);
    if (OEButton* button = FindButton(buttonId)) {
        com_ptr<OEButton> hold(button);
        main ? button->FireOnClick() : button->FireOnMsgWndClick(window);
    }
    if (OEToolbar* toolbar = FindToolbar(recordToolbarId)) {
        com_ptr<OEToolbar> hold(toolbar);
        main ? toolbar->FireOnButtonClicked(buttonId) : toolbar->FireOnButtonMsgWndClicked(buttonId, window);
    }
    // Unbound objects answer -1: a main-window click is not theirs.
    if (OEMsgWnd* msgWnd = main ? nullptr : FindMsgWnd(window)) {
        com_ptr<OEMsgWnd> hold(msgWnd);
        msgWnd->FireOnToolbarButtonClicked(toolbarId, buttonId);
    }
    if (PLUMEObj* root = FindRootObject(ownerId)) {
        com_ptr<PLUMEObj> hold(root);
        main ? root->FireOnToolbarButtonClicked(toolbarId, buttonId)
             : root->FireOnToolbarButtonMsgWndClicked(toolbarId, buttonId, window);
    }
}

void PLUMEManager::RaiseOnMenuItemClicked(LONG menuIndex, LONG itemId, LONGLONG msgWndId) {
    GateScope gate(this);
    if (!gate) return;
    const bool main = msgWndId == -1;
    const LONG window = static_cast<LONG>(msgWndId);
    // Everything the fan-out reaches is found and held under the lock; the
    // sinks run after it is let go. The item must live where it was chosen.
    com_ptr<OEMenuItem> item;
    com_ptr<OEMenu> menu;
    com_ptr<PLUMEObj> root;
    {
        cs_lock hold(registryLock_);
        auto record = std::find_if(menuItemRecords_.begin(), menuItemRecords_.end(), [&](const MenuItemRecord& r) {
            return r.itemId == itemId && r.HeardIn(msgWndId);
        });
        if (record == menuItemRecords_.end()) {
            Log(0, "RaiseOnMenuItemClicked: Cannot find class representation\n");
            return;
        }
        item = com_ptr<OEMenuItem>(FindMenuItem(itemId));
        menu = com_ptr<OEMenu>(FindMenu(record->menuId));
        root = com_ptr<PLUMEObj>(FindRootObject(record->ownerId));
    }
    // Objects of the window that are bound to it; none for the main window.
    std::vector<com_ptr<OEMsgWnd>> msgWnds;
    if (!main) msgWnds = MsgWndsOf(window);
    if (item) main ? item->FireOnClick() : item->FireOnMsgWndClick(window);
    if (menu) main ? menu->FireOnItemClicked(itemId) : menu->FireOnMsgWndItemClicked(itemId, window);
    for (auto& msgWnd : msgWnds) msgWnd->FireOnMenuItemClicked(menuIndex, itemId);
    if (root)
        main ? root->FireOnMenuItemClicked(menuIndex, itemId)
             : root->FireOnMsgWndMenuItemClicked(menuIndex, itemId, window);
}

void PLUMEManager::RaiseOnFolderSelectionChanged(LONG folderId) {
    SetOnExit done(folderChangeDone_.get());
    GateScope gate(this);
    if (!gate) return;
    ForEachRoot([&](PLUMEObj& root) {
        root.ResetSelectedMessagePos();
        root.FireOnFolderSelectionChanged(folderId);
    });
}

void PLUMEManager::RaiseOnMessageSelectionChanged() {
    GateScope gate(this);
    if (gate) ForEachRoot([](PLUMEObj& root) { root.FireOnMessageSelectionChanged(); });
}

void PLUMEManager::RaiseOnCurrentMessageChanged(LONG msgId) {
    GateScope gate(this);
    if (gate) ForEachRoot([&](PLUMEObj& root) { root.FireOnCurrentMessageChanged(msgId); });
}

void PLUMEManager::RaiseOnMessageDownloadStartedEvent() {
    GateScope gate(this);
    if (gate) ForEachRoot([](PLUMEObj& root) { root.FireOnMessageDownloadStarted(); });
}

void PLUMEManager::RaiseOnMessageDownloadFinishedEvent() {
    Log(0, "PLUMEManager::RaiseOnMessageDownloadFinishedEvent.\n");
    GateScope gate(this);
    if (!gate) {
        Log(0, "PLUMEManager::RaiseOnMessageDownloadFinishedEvent. EnterEvent fail.\n");
        return;
    }
    Log(0, "PLUMEManager::RaiseOnMessageDownloadFinishedEvent. Set the download /  upload ended.\n");
    InterlockedExchange(&firstSendPassed, 0);
    // The client settles its transfer before the end is reported.
    Sleep(1500);
    int index = 0;
    ForEachRoot([&](PLUMEObj& root) {
        Log(0, "PLUMEManager::RaiseOnMessageDownloadFinishedEvent. OnMessageDownloadFinished Count = %d.\n",
            index++);
        root.FireOnMessageDownloadFinished();
    });
    MoveParkedCopiesToOutbox();
    bool pending;
    {
        cs_lock hold(registryLock_);
        pending = !pendingSendCommands.empty();
    }
    if (pending) {
        Log(0, "PLUMEManager::RaiseOnMessageDownloadFinishedEvent: Synchro pending.\n");
        StartSynchroPending();
    }
}

void PLUMEManager::RaiseOnNewMsgWnd(LONG msgWndId) {
    GateScope gate(this);
    if (!gate) {
        Log(0, "PLUMEManager::RaiseOnNewMsgWnd: Can't enter event.\n");
        return;
    }
    {
        // The send dialog may appear after the manager; every new message
        // window looks again until it is found.
        cs_lock hold(registryLock_);
        if (!sendDialog_) HookSendWnd();
    }
    ForEachRoot([&](PLUMEObj& root) { root.FireOnNewMsgWnd(msgWndId); });
}

void PLUMEManager::RaiseOnMsgWndClosed(LONG msgWndId, LONG isMainWindow) {
    SetOnExit done(msgWndClosedDone_.get());
    GateScope gate(this);
    if (!gate) {
        Log(0, "PLUMEManager::RaiseOnMsgWndClosed: Can't enter event.\n");
        return;
    }
    // The roots' binding test is made once, before any sink runs: a delivery
    // that outlasts the closing window's wait (its record then goes) still
    // reaches every root.
    const bool bindable = isMainWindow || PLUMEObj::CanBind(msgWndId);
    // Every object of the window hears it, not only the first.
    for (auto& msgWnd : MsgWndsOf(msgWndId)) msgWnd->FireOnClose(isMainWindow);
    if (bindable) ForEachRoot([&](PLUMEObj& root) { root.FireOnMsgWndClosed(msgWndId, isMainWindow); });
}

namespace {

DWORD g_sendPressSilenceMs = kSendPressSilenceMs;
// How often held presses are looked at.
constexpr UINT_PTR kHeldSendTimer = 0x5E4D;
constexpr UINT kHeldSendCheckMs = 500;

void CALLBACK HeldSendTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->CheckHeldSendPresses();
}

}  // namespace

DWORD SetSendPressSilenceForTesting(DWORD milliseconds) {
    return std::exchange(g_sendPressSilenceMs, milliseconds);
}

void PLUMEManager::RaiseOnSendButtonMsgWndClicked(HWND window, LONG which) {
    // A handler that answers after its bound (it asks its user, say) may
    // still cancel: the press waits for it, without anyone waiting.
    const UINT pressId = nextSendPressId_++;
    auto answers = std::make_shared<LateAnswers>([callback = callbackWindow_, pressId] {
        PostMessageA(callback, Messages().sendPressAnswered, pressId, 0);
    });
    {
        // With the gate closed nobody hears the press, but the window still
        // gets it back below: a press is never lost.
        GateScope gate(this);
        if (gate) {
            const LONG msgWndId = static_cast<LONG>(reinterpret_cast<INT_PTR>(window));
            ForEachRoot([&](PLUMEObj& root) { root.FireOnSendButtonMsgWndClicked(msgWndId, answers); });
        } else {
            Log(0, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: Can't enter event.\n");
        }
    }
    if (!answers->Seal()) {
        Log(2, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: press %u held until its handlers answer.\n", pressId);
        heldSendPresses_.push_back({pressId, window, which, std::move(answers)});
        if (callbackWindow_) SetTimer(callbackWindow_, kHeldSendTimer, kHeldSendCheckMs, &HeldSendTimerProc);
        return;
    }
    PassOnSendPress(window, which);
}

void PLUMEManager::OnSendPressAnswered(UINT pressId) {
    // The number alone proves nothing (any program may post it): the press
    // goes on only when its handlers have answered.
    auto held = std::find_if(heldSendPresses_.begin(), heldSendPresses_.end(),
                             [&](const HeldSendPress& p) { return p.id == pressId; });
    if (held == heldSendPresses_.end() || !held->answers->AllAnswered()) return;
    const HeldSendPress press = *held;
    heldSendPresses_.erase(held);
    Log(2, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: press %u answered.\n", pressId);
    PassOnSendPress(press.window, press.which);
}

void PLUMEManager::CheckHeldSendPresses() {
    for (size_t i = 0; i < heldSendPresses_.size();) {
        const HeldSendPress press = heldSendPresses_[i];
        if (press.answers->AllAnswered()) {
            heldSendPresses_.erase(heldSendPresses_.begin() + static_cast<ptrdiff_t>(i));
            PassOnSendPress(press.window, press.which);
            i = 0;  // passing on may have changed the list
            continue;
        }
        if (press.answers->LongestSilence() < g_sendPressSilenceMs) {
            press.answers->ProbeQuiet(kSinkAnswerMs);
            ++i;
            continue;
        }
        // It might have cancelled: nothing is sent, the window can be sent again.
        heldSendPresses_.erase(heldSendPresses_.begin() + static_cast<ptrdiff_t>(i));
        Log(0, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: a client gave no sign of life for %lu ms; the Send "
               "press is dropped.\n", static_cast<unsigned long>(g_sendPressSilenceMs));
        if (OEPluginMsgWnd* record = plume::FindMsgWnd(press.window, true)) {
            record->sendPending = 0;
            UnlockMsgWnd(record);
        }
    }
    if (heldSendPresses_.empty() && callbackWindow_) KillTimer(callbackWindow_, kHeldSendTimer);
}

void PLUMEManager::PassOnSendPress(HWND window, LONG which) {
    OEPluginMsgWnd* record = plume::FindMsgWnd(window, true);
    if (!record) {
        Log(0, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: Can't get OEPluginMsgWnd\n");
        return;
    }
    record->sendPending = 0;
    if (!record->cancelSend) {
        // The command itself: 0 would read as "no press in flight".
        sendButtonCommand = which == 1 ? kSecondSendCommand : kSendCommand;
        if (!PressSend(record->toolbarHost.get(), which, record->window))
            Log(0, "PLUMEManager::RaiseOnSendButtonMsgWndClicked: the press could not be passed on.\n");
    }
    UnlockMsgWnd(record);
}

void PLUMEManager::RaiseOnNewMessageInOutbox(LONG msgId) {
    Log(0, "PLUMEManager::RaiseOnNewMessageInOutbox: %ld.\n", msgId);
    GateScope gate(this);
    if (gate) ForEachRoot([&](PLUMEObj& root) { root.FireOnNewMessageInOutbox(msgId); });
}

void PLUMEManager::RaiseOnDatabaseChange(LONG code, LONG folderId, LONG objectId, LONG newParentId, HANDLE done) {
    // The committing thread is released on every path, also with the gate closed.
    SetOnExit release(done);
    Log(0, "PLUMEManager::RaiseOnDatabaseChange: TransactionType = %d, folderId = %d, msgId = %d, parentId = %d .\n",
        static_cast<int>(code), static_cast<int>(folderId), static_cast<int>(objectId), static_cast<int>(newParentId));
    GateScope gate(this);
    if (!gate) return;
    Log(0, "PLUMEManager::RaiseOnDatabaseChange: %d.\n", static_cast<int>(GetCurrentThreadId()));
    const bool isOutboxInsert = code == OE_TR_INSERT_MESSAGE && folderId == outboxFolderId;
    if (isOutboxInsert)
        Log(0, "PLUMEManager::RaiseOnDatabaseChange: The TransactionType and folderId are meet setting.\n");
    else
        Log(0, "PLUMEManager::RaiseOnDatabaseChange: The TransactionType and folderId aren't meet setting. Still try "
               "the next step.\n");
    if (!sendDialog_) {
        Log(0, "OutboxWndProc: Error Cannot find SendWnd (#32770).\n");
    } else if (InterlockedCompareExchange(&sendBusy, 0, 0) <= 0) {
        {
            // Counted as busy while it is heard: a send command meanwhile is held back.
            BusyScope busy(&sendBusy);
            RaiseOnNewMessageInOutbox(objectId);
            lastOutboxMessageId = objectId;
        }
        // Insertions made by its handlers (SendMessage, say) come after it.
        AnnounceDeferredOutboxMessages();
    } else if (isOutboxInsert) {
        // A window sends, or this insertion was made while another was being
        // announced: it is announced once nothing sends.
        Log(2, "PLUMEManager::RaiseOnDatabaseChange: Outbox message %d announced later.\n", static_cast<int>(objectId));
        deferredOutboxAnnouncements.push_back(objectId);
        PostSendCycleCheck();
    }
    // A message marked for deletion that arrives in the holding folder goes
    // at once, unheard.
    const bool removed = IsWindowsMail() && code == OE_TR_INSERT_MESSAGE && folderId == holdingFolderId &&
                         RemoveMessageWMail(objectId) == 1;
    if (!removed) {
        ForEachRoot([&](PLUMEObj& root) {
            Log(0, "PLUMEManager::RaiseOnDatabaseChange: OnDatabaseChange %d, %d, %d, %d.\n", static_cast<int>(code),
                static_cast<int>(folderId), static_cast<int>(objectId), static_cast<int>(newParentId));
            root.FireOnDatabaseChange(code, folderId, objectId, newParentId);
            Log(0, "PLUMEManager::RaiseOnDatabaseChange: OnDatabaseChange finis.\n");
        });
    }
    if (isOutboxInsert)
        Log(0, "PLUMEManager::RaiseOnDatabaseChange: The TransactionType and folderId are meet setting, try to Send "
               "and Receive now.\n");
    else
        Log(0, "PLUMEManager::RaiseOnDatabaseChange: The TransactionType and folderId aren't meet setting, still try "
               "to Send and Receive.\n");
    if (InterlockedExchange(&sendButtonCommand, 0) == 0) {
        bool pending;
        {
            cs_lock hold(registryLock_);
            pending = !pendingSendCommands.empty();
        }
        if (pending && IsSendMailImmediately() && !IsGlobalUserOffline()) StartSynchroPending();
    }
    Log(0, "PLUMEManager::RaiseOnDatabaseChange: Leave function.\n");
}

void PLUMEManager::SendAndReceiveMessages() {
    Log(0, "PLUMEManager::SendAndReceiveMessages.\n");
    cs_lock hold(registryLock_);
    if (firstSendPassed && pendingSendCommands.empty()) pendingSendCommands.push_back(-1);
}

}  // namespace plume
