// PLUMEMessageStore: the store watcher's lookup side, the folder questions
// other subsystems ask of the client's local store. The selection asks a
// folder's kind (1 local, 2 to 4 other kinds) and its parent.
//
// Until the watcher reaches the client's store class, the folder records are
// found through the client's folder tree: each item's record is laid out as
// the store's folder records are (folder number at 16, parent at 24, kind
// byte at 101 on Outlook Express, 109 on Windows Mail).
// Threads: any; the tree is read with SendMessageA.
#pragma once

#include <windows.h>

#include <memory>

namespace plume {

class PLUMEMessageStore {
public:
    virtual ~PLUMEMessageStore() = default;
    virtual HRESULT GetFolderKind(LONG folderId, LONG* kind);
    virtual HRESULT GetParentFolderId(LONG folderId, LONG* parent);

protected:
    // The client's record of a folder (get-folder-info), or null.
    virtual const BYTE* FolderInfo(LONG folderId);
};

// The kind reported for a record's kind byte: 3 local (1), 0 -> 2, 1 -> 3, else 4.
LONG FolderKindFromByte(BYTE kindByte);

// The watcher for the running client.
std::shared_ptr<PLUMEMessageStore> MakeMessageStore();

}  // namespace plume
