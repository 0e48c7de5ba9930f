#include "store/send_cycle.h"

#include <algorithm>
#include <cstring>

#include "client_variant.h"
#include "entry_guard.h"
#include "host/hooks.h"
#include "log.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "store/accounts.h"
#include "store/message_store.h"
#include "unique_any.h"

namespace plume {
namespace {

// The dialog's procedure before ours; kept past the manager, so that a
// dialog still subclassed by us (someone sits on top) keeps working.
WNDPROC volatile g_previousSendDialogProc = nullptr;

BOOL CALLBACK FindSendDialog(HWND hwnd, LPARAM found) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[16];
    if (pid != GetCurrentProcessId() || !GetClassNameA(hwnd, cls, sizeof cls) || strcmp(cls, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

// A DWORD setting; false when the key or value cannot be read.
bool ReadDword(HKEY key, const char* name, DWORD* value) {
    DWORD size = sizeof *value, type = 0;
    return key && RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
           size == sizeof *value;
}

// The gate held while the dialog's procedure looks at the manager.
class DialogGate {
public:
    DialogGate() : manager_(PLUMEManager::Get(false)), entered_(manager_ && manager_->EnterEvent()) {}
    ~DialogGate() {
        if (entered_) manager_->LeaveEvent();
    }
    DialogGate(const DialogGate&) = delete;
    DialogGate& operator=(const DialogGate&) = delete;
    PLUMEManager* manager() const { return entered_ ? manager_ : nullptr; }

private:
    PLUMEManager* manager_;
    bool entered_;
};

DWORD g_heldSendCommandMs = kHeldSendCommandMs;
DWORD g_transferEndMs = kTransferEndMs;
constexpr UINT_PTR kSendCycleTimer = 0x5E4E;
constexpr UINT kSendCycleCheckMs = 1000;

void CALLBACK SendCycleTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->CheckSendCycle();
}

LRESULT PassOn(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = g_previousSendDialogProc;
    return previous ? CallWindowProcA(previous, hwnd, msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

void PLUMEManager::HookSendWnd() {
    HWND dialog = nullptr;
    EnumWindows(FindSendDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog) {
        Log(0, "PLUMEManager::HookSendWnd: Can't find send windows.\n");
        return;
    }
    WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(dialog, GWLP_WNDPROC));
    if (previous == &SendDlgWndProc) {  // ours already (an earlier manager's)
        sendDialog_ = dialog;
        return;
    }
    g_previousSendDialogProc = previous;
    SetLastError(0);
    if (!sendDialogSubclass_.install(dialog, &SendDlgWndProc)) {
        Log(0, "PLUMEManager::HookSendWnd: SetWindowLongPtr Fail. Error code is %d.\n",
            static_cast<int>(GetLastError()));
        return;
    }
    sendDialog_ = dialog;
}

void PLUMEManager::UnhookSendWnd() {
    sendDialogSubclass_.restore();
    sendDialog_ = nullptr;
}

LRESULT CALLBACK PLUMEManager::SendDlgWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return guarded_entry(
        "SendDlgWndProc", msg,
        [&]() -> LRESULT {
            if (msg == WM_WINDOWPOSCHANGING) {
                Log(4, "Get message : WM_WINDOWPOSCHANGING.\n");
                return PassOn(hwnd, msg, wParam, lParam);
            }
            if (msg != kSendMsgCode) return PassOn(hwnd, msg, wParam, lParam);
            Log(0, "Get message : SEND_MSG_CODE.\n");
            HWND main = MainWindow();
            if (!main || !IsWindow(main)) {
                Log(0, "IsWindow is false.\n");
                return PassOn(hwnd, msg, wParam, lParam);
            }
            DialogGate gate;  // a closing client sends as if the library were absent
            PLUMEManager* manager = gate.manager();
            if (!manager) return PassOn(hwnd, msg, wParam, lParam);
            if (InterlockedExchange(&manager->releaseHeldCommand_, 0)) {
                Log(0, "SendDlgWndProc: a command held past its bound goes on %08x.\n", static_cast<unsigned>(lParam));
                manager->PassingSend();
                return PassOn(hwnd, msg, wParam, lParam);
            }
            bool holdBack = InterlockedCompareExchange(&manager->sendBusy, 0, 0) > 0;
            if (holdBack) {
                Log(0, "SendDlgWndProc: blocked %08x, %08x - %d.\n", static_cast<unsigned>(wParam),
                    static_cast<unsigned>(lParam), static_cast<int>(GetCurrentThreadId()));
            } else {
                std::shared_ptr<PLUMEMessageStore> watcher = manager->Watcher();
                const LONG current =
                    watcher ? static_cast<LONG>(watcher->GetLastMessageId(manager->outboxFolderId)) : -1;
                const LONG last = manager->lastOutboxMessageId;
                const bool newMessage = (last == -1 && current != -1) || (last != -1 && current != -1 && current > last);
                holdBack = newMessage || InterlockedCompareExchange(&manager->firstSendPassed, 0, 0) != 0;
            }
            if (holdBack) {
                manager->PushPendingSendCommand(static_cast<LONGLONG>(lParam));
                return 1;
            }
            manager->PassingSend();
            return PassOn(hwnd, msg, wParam, lParam);
        },
        [&] { return PassOn(hwnd, msg, wParam, lParam); });
}

void PLUMEManager::PushPendingSendCommand(LONGLONG value) {
    Log(0, "PLUMEManager::PushPendingSendCommand: %08x.\n", static_cast<unsigned>(value));
    {
        // Held only for the append: the server thread takes commands off meanwhile.
        cs_lock hold(registryLock_);
        if (pendingSendCommands.empty()) pendingSince_ = GetTickCount64();
        pendingSendCommands.push_back(value);
    }
    PostSendCycleCheck();
}

void PLUMEManager::PassingSend() {
    {
        cs_lock hold(registryLock_);
        transferSince_ = GetTickCount64();
    }
    InterlockedExchange(&firstSendPassed, 1);
    PostSendCycleCheck();
}

void PLUMEManager::StartSynchroPending() {
    Log(0, "PLUMEManager::StartSynchroPending:.\n");
    if (!sendDialog_) return;  // a null window would make it a message to this thread
    bool any;
    LONGLONG value = 0;
    {
        cs_lock hold(registryLock_);
        any = !pendingSendCommands.empty();
        if (any) {
            value = pendingSendCommands.front();
            pendingSendCommands.pop_front();
            pendingSince_ = GetTickCount64();  // the next one waits from now
        }
    }
    if (!any) {
        Log(0, "PLUMEManager::StartSynchroPending: NULL.\n");
        PostMessageA(sendDialog_, kSendMsgCode, 0, 0);
        return;
    }
    Log(0, "PLUMEManager::StartSynchroPending: %08x.\n", static_cast<unsigned>(value));
    PostMessageA(sendDialog_, kSendMsgCode, 0, static_cast<LPARAM>(value));
}

SendCycleBoundsForTesting::SendCycleBoundsForTesting(DWORD heldCommandMs, DWORD transferEndMs)
    : heldCommandMs_(g_heldSendCommandMs), transferEndMs_(g_transferEndMs) {
    if (heldCommandMs) g_heldSendCommandMs = heldCommandMs;
    if (transferEndMs) g_transferEndMs = transferEndMs;
}

SendCycleBoundsForTesting::~SendCycleBoundsForTesting() {
    g_heldSendCommandMs = heldCommandMs_;
    g_transferEndMs = transferEndMs_;
}

void PLUMEManager::PostSendCycleCheck() {
    if (callbackWindow_) PostMessageA(callbackWindow_, Messages().sendCycleCheck, 0, 0);
}

void PLUMEManager::CheckSendCycle() {
    GateScope gate(this);
    if (!gate) {
        if (callbackWindow_) KillTimer(callbackWindow_, kSendCycleTimer);
        return;
    }
    const ULONGLONG now = GetTickCount64();
    ULONGLONG transferSince, pendingSince;
    {
        cs_lock hold(registryLock_);
        transferSince = transferSince_;
        pendingSince = pendingSince_;
    }
    if (InterlockedCompareExchange(&firstSendPassed, 0, 0) && now - transferSince >= g_transferEndMs) {
        Log(0, "PLUMEManager::CheckSendCycle: no end of the transfer reported in %lu ms; taken as ended.\n",
            static_cast<unsigned long>(g_transferEndMs));
        InterlockedExchange(&firstSendPassed, 0);
        MoveParkedCopiesToOutbox();
        bool pending;
        {
            cs_lock hold(registryLock_);
            pending = !pendingSendCommands.empty();
        }
        if (pending) StartSynchroPending();
    }
    if (AnnounceDeferredOutboxMessages()) {
        bool pending;
        {
            cs_lock hold(registryLock_);
            pending = !pendingSendCommands.empty();
        }
        // As a store change would: the insertion has now been heard.
        if (pending && IsSendMailImmediately() && !IsGlobalUserOffline()) StartSynchroPending();
    }
    bool pending;
    {
        cs_lock hold(registryLock_);
        pending = !pendingSendCommands.empty();
    }
    // A running transfer replays one at its end (or at its bound, above).
    if (pending && !InterlockedCompareExchange(&firstSendPassed, 0, 0) && now - pendingSince >= g_heldSendCommandMs) {
        Log(0, "PLUMEManager::CheckSendCycle: a send command held %lu ms is carried out.\n",
            static_cast<unsigned long>(now - pendingSince));
        InterlockedExchange(&releaseHeldCommand_, 1);
        StartSynchroPending();
    }
    if (!callbackWindow_) return;
    if (pending || InterlockedCompareExchange(&firstSendPassed, 0, 0) || !deferredOutboxAnnouncements.empty())
        SetTimer(callbackWindow_, kSendCycleTimer, kSendCycleCheckMs, &SendCycleTimerProc);
    else
        KillTimer(callbackWindow_, kSendCycleTimer);
}

bool PLUMEManager::AnnounceDeferredOutboxMessages() {
    bool any = false;
    while (!deferredOutboxAnnouncements.empty() && sendDialog_ && InterlockedCompareExchange(&sendBusy, 0, 0) <= 0) {
        const LONG msgId = deferredOutboxAnnouncements.front();
        deferredOutboxAnnouncements.pop_front();
        Log(2, "PLUMEManager::AnnounceDeferredOutboxMessages: %ld.\n", static_cast<long>(msgId));
        BusyScope busy(&sendBusy);
        RaiseOnNewMessageInOutbox(msgId);
        lastOutboxMessageId = msgId;
        any = true;
    }
    return any;
}

void PLUMEManager::MoveParkedCopiesToOutbox() {
    // Each copy commits, which raises OnDatabaseChange on this thread: no
    // lock is held across it.
    for (;;) {
        ParkedCopy next;
        {
            cs_lock hold(registryLock_);
            if (queuedSends.empty()) break;
            next = queuedSends.front();
            queuedSends.pop_front();
        }
        Log(0, "RaiseOnMessageDownloadFinishedEvent: Send message.\n");
        CreateOutboxCopy(next.folderId, next.msgId, 1);
        ForgetParkedCopy(next);
    }
}

void PLUMEManager::FinishParkedCopiesOfEarlierRuns() {
    const std::vector<ParkedCopy> earlier = ParkedCopiesOfEarlierRuns();
    if (earlier.empty()) return;
    Log(0, "PLUMEManager::FinishParkedCopiesOfEarlierRuns: %u copies an earlier run parked.\n",
        static_cast<unsigned>(earlier.size()));
    {
        cs_lock hold(registryLock_);
        for (const ParkedCopy& copy : earlier) {
            const bool queued = std::any_of(queuedSends.begin(), queuedSends.end(), [&](const ParkedCopy& q) {
                return q.folderId == copy.folderId && q.msgId == copy.msgId;
            });
            if (!queued) queuedSends.push_back(copy);
        }
        if (firstSendPassed) return;  // the transfer's end moves them
    }
    MoveParkedCopiesToOutbox();
}

int PLUMEManager::IsSendMailImmediately() {
    unique_hkey key;
    if (IsWindowsMail()) {
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows Mail\\Mail", 0, KEY_QUERY_VALUE,
                          key.put()) != ERROR_SUCCESS)
            key.release();
    } else {
        key.reset(OpenIdentityKey("Software\\Microsoft\\Outlook Express\\5.0\\Mail", KEY_QUERY_VALUE));
    }
    DWORD value = 1;
    return ReadDword(key.get(), "Send Mail Immediately", &value) && value == 0 ? 0 : 1;
}

int PLUMEManager::IsGlobalUserOffline() {
    unique_hkey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        key.release();
    DWORD value = 0;
    return ReadDword(key.get(), "GlobalUserOffline", &value) && value == 1 ? 1 : 0;
}

}  // namespace plume
