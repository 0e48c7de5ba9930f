#include "manager/selection.h"

#include <objbase.h>

#include <algorithm>
#include <vector>

#include "client_variant.h"
#include "host/folder_tree.h"
#include "host/hooks.h"
#include "host/vex_message_list.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "log.h"
#include "store/message_store.h"

namespace plume {
namespace {

std::shared_ptr<VexMessageList> MessageList(PLUMEManager* manager) {
    if (!manager) return nullptr;
    cs_lock hold(manager->storeLock());
    return manager->messageList;
}

// Drops the stored selection (storeLock held by the caller).
void DropStoredSelection(PLUMEManager* manager) {
    manager->selectedMessageIds.clear();
    manager->selectedMessagesStored = false;
}

}  // namespace

void CreateSelectionComponents(PLUMEManager& manager) {
    cs_lock hold(manager.storeLock());
    manager.messageList = MakeVexMessageList();
    manager.messageList->SetHook();
    manager.messageStore = MakeMessageStore();
    manager.messageStore->SetListener(&manager);
    // The client's store class is reached only inside the client.
    if (IsHostProcess()) manager.messageStore->HookStoreClass();
    manager.rootFolderId = kLocalRootFolder;
}

void ClearMessageList(PLUMEManager& manager) {
    cs_lock hold(manager.storeLock());
    if (manager.messageList) manager.messageList->Clear();
}

void SetSelectedFolderName(HWND treeView) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(treeView, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!item) {
        Log(0, "PLUMEManager::SetSelectedFolderName: Can't get selection %08x.\n",
            static_cast<unsigned>(reinterpret_cast<UINT_PTR>(treeView)));
        return;
    }
    TVITEMA tvi{};
    tvi.mask = TVIF_HANDLE | TVIF_PARAM;
    tvi.hItem = item;
    if (!SendMessageA(treeView, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi))) {
        Log(0, "PLUMEManager::SetSelectedFolderName: Error TreeView_GetItem.\n");
        return;
    }
    if (!tvi.lParam) {
        Log(0, "PLUMEManager::SetSelectedFolderName: Null lParam.\n");
        return;
    }
    const LONG shown = static_cast<LONG>(FolderNumberOfRecord(tvi.lParam));
    LONG id = shown;
    if (id == 0)
        id = -1;
    else if (id == 1)
        id = 0;

    std::shared_ptr<PLUMEMessageStore> store;
    {
        cs_lock hold(manager->storeLock());
        // The new folder's table is bound when the client fills its list,
        // before or after it retitles; until then no message of the
        // previous folder counts as selected.
        if (id != manager->selectedFolderId && manager->listFolderId != shown) {
            if (manager->messageList) manager->messageList->Clear();
            manager->listFolderId = -1;
            DropStoredSelection(manager);
        }
        store = manager->messageStore;
    }
    LONG kind = 4;
    if (id != -1) {
        HRESULT hr = store ? store->GetFolderKind(id, &kind) : E_FAIL;
        if (FAILED(hr)) {
            Log(0, "PLUMEManager::SetSelectedFolderName: Can't get folder type %08lx.\n",
                static_cast<unsigned long>(hr));
            return;
        }
    }
    if (id != 0 && kind != 1) {
        Log(0, "PLUMEManager::SetSelectedFolderName: Not local folder selected %ld:%ld.\n", id, kind);
        id = -1;
    }
    {
        cs_lock hold(manager->storeLock());
        manager->selectedFolderId = id;
    }
    PostFolderSelectionChanged(id);
}

HTREEITEM FindChildTreeItem(HWND tree, HTREEITEM parentItem, LONG folderId) {
    for (HTREEITEM c = NextTreeItem(tree, TVGN_CHILD, parentItem); c; c = NextTreeItem(tree, TVGN_NEXT, c)) {
        INT64 number = 0;
        if (TreeItemFolder(tree, c, &number) && number == static_cast<INT64>(folderId)) return c;
    }
    return nullptr;
}

HTREEITEM FindHTreeItem(HWND tree, HTREEITEM root, LONG folderId) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return nullptr;
    if (folderId == manager->rootFolderId) return root;
    std::shared_ptr<PLUMEMessageStore> store;
    {
        cs_lock hold(manager->storeLock());
        store = manager->messageStore;
    }
    LONG parent = -1;
    HRESULT hr = store ? store->GetParentFolderId(folderId, &parent) : E_FAIL;
    if (FAILED(hr) || parent == -1) {
        Log(0, "PLUMEManager::FindHTreeItem: Can't get parent id %ld %08lx.\n", folderId,
            static_cast<unsigned long>(hr));
        return nullptr;
    }
    // A chain that loops never reaches the root.
    static thread_local int depth = 0;
    if (depth > 256) return nullptr;
    ++depth;
    HTREEITEM parentItem = FindHTreeItem(tree, root, parent);
    --depth;
    if (!parentItem) {
        Log(0, "PLUMEManager::FindHTreeItem: Parent is null %ld.\n", folderId);
        return nullptr;
    }
    return FindChildTreeItem(tree, parentItem, folderId);
}

void SelectFolderID(LONG folderId) {
    HWND tree = TreeView();
    if (!tree) {
        Log(0, "PLUMEManager::SelectFolderID: TreeView NULL.\n");
        return;
    }
    HTREEITEM root = NextTreeItem(tree, TVGN_ROOT, nullptr);
    if (!IsWindowsMail()) root = NextTreeItem(tree, TVGN_CHILD, root);  // the top item stands above the folders
    HTREEITEM item = FindHTreeItem(tree, root, folderId);
    if (!item) return;
    // Not waited for: the client may retitle inside the tree's notification,
    // and its UI thread then waits for this thread to raise the folder event.
    SendNotifyMessageA(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    SendNotifyMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void SetSelectedMessages(int count, const int* rows, int focusedRow, int) {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager || manager->selectedFolderId == -1) return;
    std::shared_ptr<VexMessageList> list = MessageList(manager);
    if (!list || list->IsEmpty()) {
        {
            cs_lock hold(manager->storeLock());
            DropStoredSelection(manager);
        }
        PostSelectionChanged();
        return;
    }
    count = std::max(count, 0);
    std::vector<LONG> ids = list->GetMessageIds(std::vector<LONG>(rows, rows + count));
    if (std::find(ids.begin(), ids.end(), -1) != ids.end()) {
        Log(0, "SetSelectedMessages: Error GetRowMessageId\n");
        cs_lock hold(manager->storeLock());
        DropStoredSelection(manager);
        return;
    }
    // The current message changes when the focus is on a selected row, or
    // nothing is selected.
    const int* focused = std::find(rows, rows + count, focusedRow);
    if (count == 0 || focused != rows + count) {
        const LONG current = count == 0 ? -1 : ids[focused - rows];
        if (current != manager->currentMessageId) {
            manager->currentMessageId = current;
            PostCurrentMessageChanged(current);
        }
    }
    {
        cs_lock hold(manager->storeLock());
        if (manager->selectedMessagesStored && manager->selectedMessageIds == ids) return;
        manager->selectedMessageIds = std::move(ids);
        manager->selectedMessagesStored = true;
    }
    PostSelectionChanged();
}

void BindMessageList(IUnknown* object, LONG folderId) {
    // Called from the client's own list objects: before the server has made
    // the manager there is nothing to bind.
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return;
    cs_lock hold(manager->storeLock());
    if (!manager->messageList) return;
    manager->messageList->Clear();
    manager->messageList->SetMessageList(object);
    manager->listFolderId = folderId;
}

LONG GetMessageIndex(LONG messageId) {
    std::shared_ptr<VexMessageList> list = MessageList(PLUMEManager::Get(false));
    return list ? list->GetMessageIndex(messageId) : -1;
}

LONG GetMessageId(LONG row) {
    std::shared_ptr<VexMessageList> list = MessageList(PLUMEManager::Get(false));
    return list ? list->GetMessageId(row) : -1;
}

LONG GetFirstSelectedId() {
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return -1;
    cs_lock hold(manager->storeLock());
    const auto& ids = manager->selectedMessageIds;
    return ids.empty() ? -1 : ids.front();
}

LONG GetNextSelectedId(LONG previousId) {
    if (previousId == -1) return -1;
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (!manager) return -1;
    cs_lock hold(manager->storeLock());
    const auto& ids = manager->selectedMessageIds;
    for (size_t i = 0; i + 1 < ids.size(); ++i)
        if (ids[i] == previousId) return ids[i + 1];
    return -1;
}

}  // namespace plume
