// The hidden callback window on the server thread and the internal message
// protocol: client activity seen on the client UI thread is posted to it as
// registered messages with small heap records, and its procedure raises the
// matching events.
#pragma once

#include <windows.h>

namespace plume {

// Registered messages, obtained once per process.
struct RegisteredMessages {
    UINT buttonClicked;            // "PLUME.OnButtonClick"
    UINT menuItemClicked;          // "PLUME.OnMenuItemClick"
    UINT messageSelectionChanged;  // "PLUME.OnMessageSelectionChanged"
    UINT currentMessageChanged;    // "PLUME.OnCurrentMessageChanged"
    UINT messageDownload;          // "PLUME.OnMessageDownload"
    UINT msgWndCreation;           // "PLUME.OnMsgWndCreation"
    UINT msgWndClosed;             // "PLUME.OnMsgWndClosed"
    UINT msgWndSendButton;         // "PLUME.OnMsgWndSendButton"
    UINT databaseChange;           // "PLUME.OnDatabaseChange"
    UINT closeMainWindow;          // "PLUME_WM_CLOSE"
    UINT destroyMsgWnd;            // "PLUME_WM_DESTROY"
    UINT setBody;                  // "WM_SET_BODY"
    UINT unlockMsg;                // "WM_UNLOCK_MSG"
    UINT htmlGetObject;            // "WM_HTML_GETOBJECT"
    UINT unbindMsgWnd;             // "PLUME.UnbindMsgWnd": lParam a record being removed
    UINT sendPressAnswered;        // "PLUME.SendPressAnswered": wParam a held press's number
    UINT sendCycleCheck;           // "PLUME.SendCycleCheck": wParam 1 also finishes earlier runs' copies
    UINT tableLookup;              // "PLUME.TableLookup": lParam a lookup of the message table, sent to the main window
};
const RegisteredMessages& Messages();

constexpr UINT kFolderNotify = 0xA40;          // the client's own; only logged
constexpr UINT kFolderSelectionChanged = 0xAA4;  // kFolderNotify + 100
constexpr UINT kPluginInitialized = 0x3632;

// 14 on Windows Mail, 13 on Outlook Express.
int DownloadFinishedCode();

// wParam of button and menu-item clicks. Freed by the window procedure.
struct ClickRecord {
    INT32 first;      // button id / item id
    INT32 second;     // toolbar id / menu index
    INT64 msgWndId;   // message window handle, or -1 for the main window
};

// wParam of store changes. Freed by the window procedure, which sets and
// closes `done` (the committing thread's event) once the change was raised.
struct TransactionRecord {
    INT32 folderId;
    INT32 objectId;
    INT32 newParentId;
    INT32 transactionType;
    HANDLE done = nullptr;
};

// lParam of a folder selection change; CoTaskMemAlloc'd, three int32:
// 8, the folder id, the folder id again.
struct FolderNotifyBlock {
    INT32 size;
    INT32 folderId;
    INT32 folderIdAgain;
};

// Creates the window on the calling thread; null (and a log line) on failure.
HWND CreateCallbackWindow();
LRESULT CALLBACK PLUMEWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Posting operations (client UI thread). Records change hands with the post;
// when the post fails they are freed here. Before the server thread has made
// the manager (and after it is gone) there is no callback window: the
// activity is dropped.
// `window`: the message window's handle, or -1 for the main window.
LRESULT PostButtonClick(LONG toolbarId, LONG buttonId, INT64 window);
LRESULT PostMenuItemClick(INT64 window, LONG menuIndex, LONG itemId);
void PostMessageDownload(int code);
void PostMsgWndCreated(HWND window);
// Waits for the closed events when `hasToolbarHost`; otherwise only posts.
void PostMsgWndClosed(HWND window, bool hasToolbarHost);
// False when the press could not be reported (no callback window).
bool PostMsgWndSendButton(HWND window, int which);
void PostSelectionChanged();
void PostCurrentMessageChanged(LONG msgId);
// Posts 0xAA4 and waits until the folder event has been raised.
void PostFolderSelectionChanged(LONG folderId);
// Posts a store change and waits until it has been raised or `timeoutMs`
// has passed; false when it could not be posted.
bool PostTransaction(const TransactionRecord& transaction, DWORD timeoutMs);
// Asks the server thread to unbind the client objects that hold `record`
// (a message window record whose removal waits for them).
void PostUnbindMsgWnd(struct OEPluginMsgWnd* record);

}  // namespace plume
