#include "manager/callback_window.h"

#include <objbase.h>

#include <set>

#include "host/client_variant.h"
#include "manager/plume_manager.h"
#include "server/init_object.h"
#include "server/log.h"
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
    };
    return messages;
}

namespace {
// Registered when the library loads.
const struct LoadTimeRegistration {
    LoadTimeRegistration() { Messages(); }
} g_loadTimeRegistration;
}  // namespace

namespace {

// Folder notices this library posted and the window procedure has not taken
// yet: 0xAA4 can be posted by any process, its lParam is touched only when it
// is one of these.
critical_section& SentFolderBlocksLock() {
    static critical_section* lock = new critical_section;
    return *lock;
}
std::set<const void*>& SentFolderBlocks() {
    static auto* blocks = new std::set<const void*>;
    return *blocks;
}
void RememberFolderBlock(const void* block) {
    cs_lock hold(SentFolderBlocksLock());
    SentFolderBlocks().insert(block);
}
bool TakeFolderBlock(const void* block) {
    cs_lock hold(SentFolderBlocksLock());
    return block && SentFolderBlocks().erase(block) == 1;
}

}  // namespace

int DownloadFinishedCode() {
    static const int code = IsWindowsMail() ? 14 : 13;
    return code;
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
    const RegisteredMessages& m = Messages();
    if (message == m.buttonClicked) {
        Log(4, "PLUMEWndProc: BUTTON_CLICKED_MESSAGE_CODE.\n");
        auto* record = reinterpret_cast<ClickRecord*>(wParam);
        if (record) manager->RaiseOnButtonClicked(record->second, record->first, record->msgWndId);
        delete record;
    } else if (message == m.menuItemClicked) {
        Log(4, "PLUMEWndProc: MENU_ITEM_CLICKED_MESSAGE_CODE.\n");
        auto* record = reinterpret_cast<ClickRecord*>(wParam);
        if (record) manager->RaiseOnMenuItemClicked(record->second, record->first, record->msgWndId);
        delete record;
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
        manager->RaiseOnSendButtonMsgWndClicked(reinterpret_cast<HWND>(wParam), static_cast<LONG>(lParam));
    } else if (message == m.databaseChange) {
        Log(4, "PLUMEWndProc: DATABASE_TRANSACTION_CODE.\n");
        auto* record = reinterpret_cast<TransactionRecord*>(wParam);
        if (record)
            manager->RaiseOnDatabaseChange(record->transactionType, record->folderId, record->objectId,
                                           record->newParentId);
        delete record;
    } else if (message == kFolderNotify) {
        Log(4, "PLUMEWndProc: WM_FOLDERNOTIFY.\n");
    } else if (message == kFolderSelectionChanged) {
        Log(4, "PLUMEWndProc: WM_FOLDERNOTIFY+PLUME_MSG_BASE.\n");
        auto* block = reinterpret_cast<FolderNotifyBlock*>(lParam);
        if (TakeFolderBlock(block)) {
            manager->RaiseOnFolderSelectionChanged(block->folderIdAgain);
            CoTaskMemFree(block);
        } else {
            Log(0, "PLUMEWndProc: folder notice not posted by the library ignored.\n");
        }
    } else if (message == kPluginInitialized && HaveInitObject()) {
        Log(4, "PLUMEWndProc: WM_PLUME_INIT_NOTIFICATION_MSG_CODE.\n");
        LONG awaited = 0, reported = 0;
        if (SUCCEEDED(InitObjectAwaited(&awaited)) && SUCCEEDED(InitObjectReported(&reported)) &&
            reported >= awaited)
            SetPluginsInitialized();
    } else {
        Log(4, "PLUMEWndProc: Can't identify message.\n");
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

namespace {

HWND CallbackWindow() {
    PLUMEManager* manager = PLUMEManager::Get(true);
    return manager ? manager->callbackWindow() : nullptr;
}

LRESULT PostClick(UINT message, INT32 first, INT32 second, INT64 window) {
    auto* record = new ClickRecord{first, second, window};
    if (!PostMessageA(CallbackWindow(), message, reinterpret_cast<WPARAM>(record), 0)) delete record;
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
    PostMessageA(CallbackWindow(), Messages().messageDownload, static_cast<WPARAM>(code), 0);
}

void PostMsgWndCreated(HWND window) {
    PostMessageA(CallbackWindow(), Messages().msgWndCreation, reinterpret_cast<WPARAM>(window), 0);
}

void PostMsgWndClosed(HWND window, bool hasToolbarHost) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    const WPARAM id = static_cast<UINT32>(reinterpret_cast<UINT_PTR>(window));
    if (hasToolbarHost)
        manager->PostAndWait(manager->msgWndClosedDone(), Messages().msgWndClosed, id, 0);
    else
        PostMessageA(manager->callbackWindow(), Messages().msgWndClosed, id, 1);
}

void PostMsgWndSendButton(HWND window, int which) {
    PostMessageA(CallbackWindow(), Messages().msgWndSendButton, reinterpret_cast<WPARAM>(window), which);
}

void PostSelectionChanged() { PostMessageA(CallbackWindow(), Messages().messageSelectionChanged, 0, 0); }

void PostCurrentMessageChanged(LONG msgId) {
    PostMessageA(CallbackWindow(), Messages().currentMessageChanged, static_cast<WPARAM>(msgId), 0);
}

void PostFolderSelectionChanged(LONG folderId) {
    PLUMEManager* manager = PLUMEManager::Get(true);
    auto* block = static_cast<FolderNotifyBlock*>(CoTaskMemAlloc(sizeof(FolderNotifyBlock)));
    if (!block) return;
    *block = {8, folderId, folderId};
    RememberFolderBlock(block);
    if (!manager->PostAndWait(manager->folderChangeDone(), kFolderSelectionChanged, 0,
                              reinterpret_cast<LPARAM>(block)) &&
        TakeFolderBlock(block))
        CoTaskMemFree(block);
}

}  // namespace plume
