#include "host/folder_tree.h"

#include <cstring>

namespace plume {

namespace {
constexpr size_t kFolderNumberOffset = 16;
}  // namespace

HTREEITEM NextTreeItem(HWND tree, UINT how, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

INT64 FolderNumberOfRecord(LPARAM record) {
    INT64 number = 0;
    memcpy(&number, reinterpret_cast<const BYTE*>(record) + kFolderNumberOffset, sizeof number);
    return number;
}

bool TreeItemFolder(HWND tree, HTREEITEM item, INT64* number) {
    if (!item) return false;
    TVITEMA tvi{};
    tvi.mask = TVIF_HANDLE | TVIF_PARAM;
    tvi.hItem = item;
    if (!SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi)) || !tvi.lParam) return false;
    *number = FolderNumberOfRecord(tvi.lParam);
    return true;
}

HTREEITEM FindTreeItemOfFolder(HWND tree, HTREEITEM first, INT64 folder) {
    for (HTREEITEM item = first; item; item = NextTreeItem(tree, TVGN_NEXT, item)) {
        INT64 number = 0;
        if (TreeItemFolder(tree, item, &number) && number == folder) return item;
        if (HTREEITEM found = FindTreeItemOfFolder(tree, NextTreeItem(tree, TVGN_CHILD, item), folder)) return found;
    }
    return nullptr;
}

}  // namespace plume
