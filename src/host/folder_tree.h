// The client's folder tree as the library may read it: each item's lParam
// points at a client record whose 64-bit field at byte offset 16 is the
// folder number. Nothing else of the record is promised.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace plume {

// The local store's root folder, the same number on both clients.
constexpr LONG kLocalRootFolder = 1;

HTREEITEM NextTreeItem(HWND tree, UINT how, HTREEITEM item);
// The folder number in the record an item's lParam points at.
INT64 FolderNumberOfRecord(LPARAM record);
// The folder number of `item`; false when the item has no record.
bool TreeItemFolder(HWND tree, HTREEITEM item, INT64* number);
// The item of `folder` among `first`, its siblings and all their descendants.
HTREEITEM FindTreeItemOfFolder(HWND tree, HTREEITEM first, INT64 folder);

}  // namespace plume
