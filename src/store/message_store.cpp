#include "store/message_store.h"

#include <commctrl.h>

#include "client_variant.h"
#include "host/hooks.h"

namespace plume {
namespace {

constexpr size_t kFolderIdOffset = 16;
constexpr size_t kParentIdOffset = 24;

size_t KindByteOffset() { return IsWindowsMail() ? 109 : 101; }

HTREEITEM NextItem(HWND tree, UINT how, HTREEITEM item) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(item)));
}

// Depth-first search of the tree for the record of `folderId`.
const BYTE* FindRecord(HWND tree, HTREEITEM item, LONG folderId) {
    for (; item; item = NextItem(tree, TVGN_NEXT, item)) {
        TVITEMA tvi{};
        tvi.mask = TVIF_HANDLE | TVIF_PARAM;
        tvi.hItem = item;
        if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi)) && tvi.lParam) {
            const auto* record = reinterpret_cast<const BYTE*>(tvi.lParam);
            INT32 id = 0;
            memcpy(&id, record + kFolderIdOffset, sizeof id);
            if (id == folderId) return record;
        }
        if (const BYTE* found = FindRecord(tree, NextItem(tree, TVGN_CHILD, item), folderId)) return found;
    }
    return nullptr;
}

// Folder 0, the store's own root above the local folders, has no tree item
// on Windows Mail: a local folder without a parent.
const BYTE* StoreRootRecord() {
    static const auto record = [] {
        static BYTE bytes[128] = {};
        const INT32 noParent = -1;
        memcpy(bytes + kParentIdOffset, &noParent, sizeof noParent);
        bytes[101] = bytes[109] = 3;
        return bytes;
    }();
    return record;
}

}  // namespace

LONG FolderKindFromByte(BYTE kindByte) {
    switch (kindByte) {
    case 3: return 1;
    case 0: return 2;
    case 1: return 3;
    default: return 4;
    }
}

const BYTE* PLUMEMessageStore::FolderInfo(LONG folderId) {
    HWND tree = TreeView();
    if (!IsWindow(tree)) return nullptr;
    const BYTE* record = FindRecord(tree, NextItem(tree, TVGN_ROOT, nullptr), folderId);
    return record || folderId != 0 ? record : StoreRootRecord();
}

HRESULT PLUMEMessageStore::GetFolderKind(LONG folderId, LONG* kind) {
    const BYTE* record = FolderInfo(folderId);
    if (!record) return E_FAIL;
    *kind = FolderKindFromByte(record[KindByteOffset()]);
    return S_OK;
}

HRESULT PLUMEMessageStore::GetParentFolderId(LONG folderId, LONG* parent) {
    const BYTE* record = FolderInfo(folderId);
    if (!record) return E_FAIL;
    INT32 id = 0;
    memcpy(&id, record + kParentIdOffset, sizeof id);
    *parent = id;
    return S_OK;
}

std::shared_ptr<PLUMEMessageStore> MakeMessageStore() { return std::make_shared<PLUMEMessageStore>(); }

}  // namespace plume
