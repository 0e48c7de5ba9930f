// The operations through which the hook layer reports client activity. Set
// once by StartServer; each entry is called only when set, on the client UI
// thread.
#pragma once

#include <windows.h>

namespace plume {

struct HostNotifyCallbacks {
    void (*onShutdown)(int endSession) = nullptr;
    void (*onFolderTreeNotify)(HWND treeView) = nullptr;
    void (*onSelectionChanged)(int count, int* rows, int focusedRow, int flag) = nullptr;
    void (*onMessageDownload)(int code) = nullptr;
    void (*onMsgWndLifecycle)(HWND window, int what) = nullptr;  // 1 created, 2 closing
    // 1 when the press was reported (the window must not pass it on), 0 when
    // it could not be (no server yet): the client then handles it alone.
    int (*onMsgWndSendButton)(HWND window, int which) = nullptr;
    int (*onStoreWatch)(int stop) = nullptr;  // 1 when the store was watched before
    int (*onBusyCounter)(int op) = nullptr;  // 1 up, 2 down, 3 "above 0?"
};

}  // namespace plume
