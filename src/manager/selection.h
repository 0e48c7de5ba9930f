// The manager's selection: which folder the client's tree shows, which
// messages its list has selected and which one the preview pane shows; and
// the requests that change them. Reports go to the callback window:
// 0xAA4 (folder, waited for), "PLUME.OnCurrentMessageChanged" and
// "PLUME.OnMessageSelectionChanged".
//
// Threads: SetSelectedFolderName and BindMessageList run on the client UI
// thread; SelectFolderID and the queries on the server thread;
// SetSelectedMessages on either. storeLock guards the binding, the stored
// selection and selectedFolderId; no lock is held while client code runs.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace plume {

class PLUMEManager;

// Manager construction: makes the message-list binder for the running client
// and hooks it, and the store watcher. Destruction and shutdown: unbinds.
void CreateSelectionComponents(PLUMEManager& manager);
void ClearMessageList(PLUMEManager& manager);

// Client UI thread, on every retitling of the main window: reads the tree's
// selected folder and reports it, waiting until the event was raised.
void SetSelectedFolderName(HWND treeView);
// Server thread: selects the folder's tree item as a user would. Does not
// wait for the client to take the selection in.
void SelectFolderID(LONG folderId);
HTREEITEM FindHTreeItem(HWND tree, HTREEITEM root, LONG folderId);
HTREEITEM FindChildTreeItem(HWND tree, HTREEITEM parentItem, LONG folderId);

// The list view's selected rows (in list order) and focused row.
void SetSelectedMessages(int count, const int* rows, int focusedRow, int flag);
// The client filled `object` with a folder: its table answers rows from now on.
void BindMessageList(IUnknown* object, LONG id);
LONG GetMessageIndex(LONG messageId);
LONG GetMessageId(LONG row);
// The stored selection: the first id, or the one after `previousId` (-1: none).
LONG GetFirstSelectedId();
LONG GetNextSelectedId(LONG previousId);

}  // namespace plume
