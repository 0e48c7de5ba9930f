// The client's internal store component, class
// {101A8FB9-F1B9-11D1-9A56-00C04FA309D4}, and its published store namespace
// {E70C92A9-4BFD-11D1-8A95-00C04FB951F3}, both created in-process through
// msoe.dll's DllGetClassObject.
//
// The store object answers {E883FC75-EC08-11D1-9A53-00C04FA309D4} (Outlook
// Express) or {569BA773-508C-469B-8B21-CBCCBCB7BCD2} (Windows Mail). It and
// the folder objects it opens are views of the one Store of the process:
// every change committed to that Store, whoever commits it (the user's
// window, a worker thread, a plug-in through the library), becomes a
// transaction that is handed, on the committing thread, to the
// IDatabaseNotify sinks registered on the store (folder changes) or on the
// folder (message changes). Slot numbers and record layouts: docs/standin.md.
#pragma once

#include <objbase.h>

#include <cstdint>

namespace msoe {

extern const CLSID CLSID_MessageStore;
extern const IID IID_MessageStoreOE;
extern const IID IID_MessageStoreWM;
extern const IID IID_DatabaseNotify;
extern const CLSID CLSID_StoreNamespace;
extern const IID IID_StoreNamespace;

// Records written into the caller's buffers hold this many bytes.
constexpr size_t kStoreRecordSize = 128;

// Class objects of the store and the namespace; CLASS_E_CLASSNOTAVAILABLE otherwise.
HRESULT StoreClassObject(REFCLSID clsid, REFIID iid, void** out);

// The client opens a folder it shows: the store's open-folder entry is
// called through the store's table (so whoever patched it sees the call)
// and the folder released.
void OpenFolderForView(int64_t folderId);

// Live store, folder, rowset, enumerator and transaction objects, and the
// registered notification sinks, for leak checks.
long LiveStoreObjects();
long StoreSinkCount();

}  // namespace msoe
