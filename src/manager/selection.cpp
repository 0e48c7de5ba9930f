#include "manager/selection.h"

#include <commctrl.h>

#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "log.h"

namespace plume {
namespace {

// The client's tree items point at a record holding the 64-bit folder number
// at byte offset 16.
constexpr size_t kFolderNumberOffset = 16;

// The store watcher answers folder kinds; until it is attached every query fails.
HRESULT QueryFolderKind(LONG, LONG* kind) {
    *kind = 4;
    return E_FAIL;
}

}  // namespace

void SetSelectedFolderName(HWND treeView) {
    PLUMEManager* manager = PLUMEManager::Get(true);
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
    INT64 number = 0;
    memcpy(&number, reinterpret_cast<const BYTE*>(tvi.lParam) + kFolderNumberOffset, sizeof number);
    LONG id = static_cast<LONG>(number);
    if (id == 0)
        id = -1;
    else if (id == 1)
        id = 0;

    LONG kind = 4;
    if (id != -1) {
        HRESULT hr = QueryFolderKind(id, &kind);
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

}  // namespace plume
