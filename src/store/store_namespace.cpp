#include "store/store_namespace.h"

#include <objbase.h>

#include "client_variant.h"
#include "manager/plume_manager.h"
#include "log.h"
#include "store/message_store.h"
#include "store/client_table.h"

namespace plume {
namespace {

const CLSID kNamespaceClass = {0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
const IID kNamespaceIid = {0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

constexpr int kInitialize = 3, kOpenSpecialFolder = 5;
constexpr LONG kOutboxFolder = 1;
using InitializeFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, HWND, DWORD);
using OpenSpecialFolderFn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG, DWORD, IUnknown**);

}  // namespace

int CreateMessageStore(PLUMEManager& manager) {
    std::shared_ptr<PLUMEMessageStore> watcher;
    {
        cs_lock hold(manager.storeLock());
        watcher = manager.messageStore;
    }
    if (!watcher) {
        Log(0, "PLUMEManager::CreateMessageStore: MsgStore was not initialized.\n");
        return 0;
    }
    com_ptr<IUnknown> storeNamespace;
    HRESULT hr = CoCreateInstance(kNamespaceClass, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, kNamespaceIid,
                                  storeNamespace.put_void());
    if (FAILED(hr) || !storeNamespace) {
        Log(0, "PLUMEManager::CreateMessageStore: Error CoCreateInstance.\n");
        return 0;
    }
    if (FAILED(Entry<InitializeFn>(storeNamespace.get(), kInitialize)(storeNamespace.get(), nullptr, 1))) {
        Log(0, "PLUMEManager::CreateMessageStore: Error Initialize.\n");
        return 0;
    }
    com_ptr<IUnknown> outbox;
    if (FAILED(Entry<OpenSpecialFolderFn>(storeNamespace.get(), kOpenSpecialFolder)(storeNamespace.get(),
                                                                                     kOutboxFolder, 0, outbox.put()))) {
        Log(0, "PLUMEManager::CreateMessageStore: Error OpenSpecialFolder Outbox.\n");
        return 0;
    }
    int result = 0;
    if (watcher->IsStoreCaptured()) {
        result = 1;
        SetPropA(manager.callbackWindow(), "VEXHANDLE", watcher.get());
    }
    const bool wm = IsWindowsMail();
    manager.rootFolderId = 1;
    manager.outboxFolderId = wm ? 4 : 5;
    manager.holdingFolderId = wm ? 6 : 7;
    watcher->PinFolders({static_cast<ULONG>(manager.outboxFolderId), static_cast<ULONG>(manager.holdingFolderId)});
    // Windows Mail's copies go through the internal store instead.
    if (!wm) {
        manager.storeNamespace = std::move(storeNamespace);
        manager.outboxFolder = std::move(outbox);
    }
    return result;
}

}  // namespace plume
