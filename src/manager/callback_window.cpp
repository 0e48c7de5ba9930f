#include "manager/callback_window.h"

#include <objbase.h>

#include <memory>

#include "client_variant.h"
#include "host/msg_wnd_list.h"
#include "issued_pointers.h"
#include "manager/plume_manager.h"
#include "server/init_object.h"
#include "log.h"
#include "server/module.h"

namespace plume {

const RegisteredMessages& Messages() {
    static const RegisteredMessages messages = {
        RegisterWindowMessageA("PLUME.OnButtonClick"),
        RegisterWindowMessageA("PLUME.OnMenuItemClick"),
        RegisterWindowMessageA("PLUME.OnMessageSelectionChanged"),
        RegisterWindowMessageA("PLUME.OnCurrentMessageChanged"),
        RegisterWindowMessageA("PLUME.OnMessageDownload"),
        RegisterWindowMessageA("PLUME.OnMsgWndCreation"),
        RegisterWindowMessageA("PLUME.OnMsgWndClosed"),
        RegisterWindowMessageA("PLUME.OnMsgWndSendButton"),
        RegisterWindowMessageA("PLUME.OnDatabaseChange"),
        RegisterWindowMessageA("PLUME_WM_CLOSE"),
        RegisterWindowMessageA("PLUME_WM_DESTROY"),
        RegisterWindowMessageA("WM_SET_BODY"),
        RegisterWindowMessageA("WM_UNLOCK_MSG"),
        RegisterWindowMessageA("WM_HTML_GETOBJECT"),
        RegisterWindowMessageA("PLUME.UnbindMsgWnd"),
        RegisterWindowMessageA("PLUME.SendPressAnswered"),
        RegisterWindowMessageA("PLUME.SendCycleCheck"),
        RegisterWindowMessageA("PLUME.TableLookup"),
    };
    return messages;
}

namespace {
// Registered when the library loads.
const struct LoadTimeRegistration {
    LoadTimeRegistration() { Messages(); }
} g_loadTimeRegistration;

// Records posted to the callback window by this library. A record that was
// not issued here (a number another program posted) is never touched.
issued_pointers& PostedRecords() {
    static issued_pointers* records = new issued_pointers;
    return *records;
}

template <typename Record>
Record* ClaimRecord(WPARAM wParam) {
    auto* record = reinterpret_cast<Record*>(wParam);
    return PostedRecords().redeem(record) ? record : nullptr;
}

void DispatchToManager(PLUMEManager* manager, UINT message, WPARAM wParam, LPARAM lParam);

// True while the message window `window` waits for the answer to a Send
// press it reported (its procedure sets the mark before posting).
bool SendPressPending(HWND window) {
    OEPluginMsgWnd* record = FindMsgWnd(window, true);
    if (!record) return false;
    const bool pending = record->sendPending != 0;
    UnlockMsgWnd(record);
    return pending;
}

}  // namespace

int DownloadFinishedCode() {
    // IsWindowsMail keeps its answer; a copy here would keep a wrong one
    // when the first version query failed.
    return IsWindowsMail() ? 14 : 13;
}

HWND CreateCallbackWindow() {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;  // 80
    wc.lpfnWndProc = PLUMEWndProc;
    wc.hInstance = ModuleInstance();
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = "PLUME Callback Window sink";
    RegisterClassExA(&wc);
    HWND window = CreateWindowExA(0, "PLUME Callback Window sink", "PLUME", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 400, 200, nullptr, nullptr, ModuleInstance(), nullptr);
    if (!window) Log(0, "CreateCallbackWindow: CreateWindow() failed.\n");
    return window;
}

LRESULT CALLBACK PLUMEWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message <= WM_USER) return DefWindowProcA(hwnd, message, wParam, lParam);
    PLUMEManager* manager = PLUMEManager::Get(true);
    if (!manager) {
        Log(0, "PLUMEWndProc: Cannot get manager\n");
        return 0;
    }
    Log(0, "PLUMEWndProc: Get Message : %d\n", message);
    try {
        DispatchToManager(manager, message, wParam, lParam);
    } catch (...) {
        Log(0, "PLUMEWndProc: an event failed: %u.\n", message);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

namespace {

void DispatchToManager(PLUMEManager* manager, UINT message, WPARAM wParam, LPARAM lParam) {
    const RegisteredMessages& m = Messages();
    if (message == m.buttonClicked) {
        Log(4, "PLUMEWndProc: BUTTON_CLICKED_MESSAGE_CODE.\n");
        std::unique_ptr<ClickRecord> record(ClaimRecord<ClickRecord>(wParam));
        if (record) manager->RaiseOnButtonClicked(record->second, record->first, record->msgWndId);
    } else if (message == m.menuItemClicked) {
        Log(4, "PLUMEWndProc: MENU_ITEM_CLICKED_MESSAGE_CODE.\n");
        std::unique_ptr<ClickRecord> record(ClaimRecord<ClickRecord>(wParam));
        if (record) manager->RaiseOnMenuItemClicked(record->second, record->first, record->msgWndId);
    } else if (message == m.messageSelectionChanged) {
        Log(4, "PLUMEWndProc: MESSAGE_SELECTION_CHANGED_CODE.\n");
        manager->RaiseOnMessageSelectionChanged();
    } else if (message == m.currentMessageChanged) {
        Log(4, "PLUMEWndProc: MESSAGE_CURRENT_CHANGED_CODE.\n");
        manager->RaiseOnCurrentMessageChanged(static_cast<LONG>(wParam));
    } else if (message == m.messageDownload) {
        if (wParam == 0) {
            Log(0, "PLUMEWndProc: Message is MESSAGE_DOWNLOAD_CODE. DownloadStarted.\n");
            manager->RaiseOnMessageDownloadStartedEvent();
        } else if (wParam == static_cast<WPARAM>(DownloadFinishedCode())) {
            Log(0, "PLUMEWndProc: Message is MESSAGE_DOWNLOAD_CODE. DownloadFinished. \n");
            manager->RaiseOnMessageDownloadFinishedEvent();
        }
    } else if (message == m.msgWndCreation) {
        Log(4, "PLUMEWndProc: MSG_WND_CREATION_CODE.\n");
        manager->RaiseOnNewMsgWnd(static_cast<LONG>(wParam));
    } else if (message == m.msgWndClosed) {
        Log(4, "PLUMEWndProc: MSG_WND_CLOSED_CODE.\n");
        manager->RaiseOnMsgWndClosed(static_cast<LONG>(wParam), static_cast<LONG>(lParam));
    } else if (message == m.msgWndSendButton) {
        Log(4, "PLUMEWndProc: MSG_WND_SEND_BUTTON_CODE.\n");
        // Only a press the window reported itself: another program posting a
        // window's handle would otherwise send that window's mail.
        if (SendPressPending(reinterpret_cast<HWND>(wParam)))
            manager->RaiseOnSendButtonMsgWndClicked(reinterpret_cast<HWND>(wParam), static_cast<LONG>(lParam));
        else
            Log(0, "PLUMEWndProc: a Send press no window reported ignored.\n");
    } else if (message == m.databaseChange) {
        Log(4, "PLUMEWndProc: DATABASE_TRANSACTION_CODE.\n");
        std::unique_ptr<TransactionRecord> record(ClaimRecord<TransactionRecord>(wParam));
        if (record) {
            const unique_handle done(record->done);
            manager->RaiseOnDatabaseChange(record->transactionType, record->folderId, record->objectId,
                                           record->newParentId, done.get());
        }
    } else if (message == m.sendPressAnswered) {
        manager->OnSendPressAnswered(static_cast<UINT>(wParam));
    } else if (message == m.sendCycleCheck) {
        if (wParam == 1) manager->FinishParkedCopiesOfEarlierRuns();
        manager->CheckSendCycle();
    } else if (message == m.unbindMsgWnd) {
        auto* record = reinterpret_cast<const OEPluginMsgWnd*>(lParam);
        if (IsRecordBeingRemoved(record)) manager->UnbindMsgWnds(record);
    } else if (message == kFolderNotify) {
        Log(4, "PLUMEWndProc: WM_FOLDERNOTIFY.\n");
    } else if (message == kFolderSelectionChanged) {
        Log(4, "PLUMEWndProc: WM_FOLDERNOTIFY+PLUME_MSG_BASE.\n");
        if (auto* block = ClaimRecord<FolderNotifyBlock>(static_cast<WPARAM>(lParam))) {
            manager->RaiseOnFolderSelectionChanged(block->folderIdAgain);
            CoTaskMemFree(block);
        } else {
            Log(0, "PLUMEWndProc: folder notice not posted by the library ignored.\n");
        }
    } else if (message == kPluginInitialized && HaveInitObject()) {
        Log(4, "PLUMEWndProc: WM_PLUME_INIT_NOTIFICATION_MSG_CODE.\n");
        LONG awaited = 0, reported = 0;
        if (SUCCEEDED(InitObjectAwaited(&awaited)) && SUCCEEDED(InitObjectReported(&reported))) {
            SetReportedPlugins(reported);
            if (reported >= awaited) SetPluginsInitialized();
        }
    } else {
        Log(4, "PLUMEWndProc: Can't identify message.\n");
    }
}

// The callback window, or null before the server thread has made the
// manager (activity reported then is dropped) and after it is gone.
HWND CallbackWindow() {
    PLUMEManager* manager = PLUMEManager::Get(false);
    return manager ? manager->callbackWindow() : nullptr;
}

// Posts to the callback window only: a null window would make the post a
// message to the calling thread.
bool PostToCallbackWindow(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = CallbackWindow();
    if (!window) {
        Log(2, "PostToCallbackWindow: no callback window yet; message %u dropped.\n", message);
        return false;
    }
    return PostMessageA(window, message, wParam, lParam) != FALSE;
}

// Posts a heap record in wParam; it changes hands with the post.
template <typename Record>
bool PostRecord(UINT message, std::unique_ptr<Record> record) {
    PostedRecords().issue(record.get());
    if (!PostToCallbackWindow(message, reinterpret_cast<WPARAM>(record.get()), 0)) {
        PostedRecords().withdraw(record.get());
        return false;
    }
    record.release();
    return true;
}

LRESULT PostClick(UINT message, INT32 first, INT32 second, INT64 window) {
    PostRecord(message, std::make_unique<ClickRecord>(ClickRecord{first, second, window}));
    return 0;
}

}  // namespace

LRESULT PostButtonClick(LONG toolbarId, LONG buttonId, INT64 window) {
    return PostClick(Messages().buttonClicked, buttonId, toolbarId, window);
}

LRESULT PostMenuItemClick(INT64 window, LONG menuIndex, LONG itemId) {
    return PostClick(Messages().menuItemClicked, itemId, menuIndex, window);
}

void PostMessageDownload(int code) {
    PostToCallbackWindow(Messages().messageDownload, static_cast<WPARAM>(code), 0);
}

void PostMsgWndCreated(HWND window) {
    PostToCallbackWindow(Messages().msgWndCreation, reinterpret_cast<WPARAM>(window), 0);
}

void PostMsgWndClosed(HWND window, bool hasToolbarHost) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return;
    const WPARAM id = static_cast<UINT32>(reinterpret_cast<UINT_PTR>(window));
    if (hasToolbarHost)
        manager->PostAndWait(manager->msgWndClosedDone(), Messages().msgWndClosed, id, 0);
    else
        PostToCallbackWindow(Messages().msgWndClosed, id, 1);
}

bool PostMsgWndSendButton(HWND window, int which) {
    return PostToCallbackWindow(Messages().msgWndSendButton, reinterpret_cast<WPARAM>(window), which);
}

void PostSelectionChanged() { PostToCallbackWindow(Messages().messageSelectionChanged, 0, 0); }

void PostCurrentMessageChanged(LONG msgId) {
    PostToCallbackWindow(Messages().currentMessageChanged, static_cast<WPARAM>(msgId), 0);
}

void PostFolderSelectionChanged(LONG folderId) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return;
    auto* block = static_cast<FolderNotifyBlock*>(CoTaskMemAlloc(sizeof(FolderNotifyBlock)));
    if (!block) return;
    *block = {8, folderId, folderId};
    PostedRecords().issue(block);
    if (!manager->PostAndWait(manager->folderChangeDone(), kFolderSelectionChanged, 0,
                              reinterpret_cast<LPARAM>(block))) {
        PostedRecords().withdraw(block);
        CoTaskMemFree(block);
    }
}

void PostUnbindMsgWnd(OEPluginMsgWnd* record) {
    PostToCallbackWindow(Messages().unbindMsgWnd, 0, reinterpret_cast<LPARAM>(record));
}

bool PostTransaction(const TransactionRecord& transaction, DWORD timeoutMs) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return false;
    // Each committing thread waits for its own change: several may commit at
    // once. The record holds its own handle of the event.
    const unique_handle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto record = std::make_unique<TransactionRecord>(transaction);
    if (!done || !DuplicateHandle(GetCurrentProcess(), done.get(), GetCurrentProcess(), &record->done, 0, FALSE,
                                  DUPLICATE_SAME_ACCESS))
        return false;
    PostedRecords().issue(record.get());
    if (!manager->PostAndWait(done.get(), Messages().databaseChange, reinterpret_cast<WPARAM>(record.get()), 0,
                              timeoutMs)) {
        PostedRecords().withdraw(record.get());
        CloseHandle(record->done);
        return false;
    }
    record.release();
    return true;
}

}  // namespace plume
