// Message windows: one OEPluginMsgWnd record per separate message window
// ("ATH_Note") or preview pane ("##MimeEdit_Server" in the main window), in
// a process-wide list in creation order.
//
// Lifecycle: AddMsgWnd (client UI thread, from the hook layer) records and
// subclasses the window; the first tick after its first child appears
// initialises it and reports it; its WM_DESTROY removes the record once.
// Threads: the list and its records are used from the client UI thread and
// the server thread. Lock order: listLock, then a record's lock. A record is
// destroyed only by RemoveMsgWnd, which waits, pumping, until it holds both.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>

#include "sync.h"

namespace plume {

class OEToolbarHost;
class OEMenuRegistry;

struct OEPluginMsgWnd {
    HWND window = nullptr;
    HWND browserWindow = nullptr;
    LONG initialized = 0;
    WNDPROC previousProc = nullptr;
    LONG isPreview = 0;
    std::unique_ptr<OEToolbarHost> toolbarHost;  // separate message windows only
    // The window's menu items (separate message windows only); automation
    // objects may hold it after the window is gone.
    std::shared_ptr<OEMenuRegistry> menu;
    UINT_PTR timer = 0;
    LONG lastMenuSelect = -1;
    HMENU lastInitMenu = nullptr;
    critical_section lock;
    volatile LONG closing = 0;
    volatile LONG waiters = 0;
    volatile LONG cancelSend = 0;
    LONG isEmpty = 0;
    LONG styleCopy = 0;
    volatile LONG sendPending = 0;
    LONG sending = 0;
    LONG removalRequested = 0;  // set by the window's own WM_DESTROY

    OEPluginMsgWnd();
    ~OEPluginMsgWnd();
    // The message window identifier: the low 32 bits of the handle.
    LONG id() const { return static_cast<LONG>(reinterpret_cast<INT_PTR>(window)); }
};

// The handle a 32-bit message window identifier stands for (sign-extended).
inline HWND MsgWndHandle(LONG msgWndId) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(msgWndId)); }

OEPluginMsgWnd* AddMsgWnd(HWND window, bool noToolbar);
void RemoveMsgWnd(HWND window);
// The first record of `window`; -1 finds the first preview pane. With
// `lockIt` the record's lock is taken before the list lock is left.
OEPluginMsgWnd* FindMsgWnd(HWND window, bool lockIt);
OEPluginMsgWnd* GetMsgWndByIndex(int index, bool lockIt);
OEPluginMsgWnd* FindPreviewMsgWnd(bool lockIt);
size_t MsgWndCount();
LONG GetActiveMsgWndId();
void LockMsgWnd(OEPluginMsgWnd* record);
void UnlockMsgWnd(OEPluginMsgWnd* record);

// tagWNDSTYLE of a record (0 for none).
LONG GetWndStyle(const OEPluginMsgWnd* record);
void InitMsgWnd(OEPluginMsgWnd* record, HWND window);
// Posts the Send command (40411, or 40225 when `which` is 1) with lParam -1
// to the window's toolbar (to `window` itself while that toolbar is not
// known). False when nothing could be posted.
bool PressSend(OEToolbarHost* host, int which, HWND window = nullptr);
void SendKeys(OEToolbarHost* host, LONG keyCode, LONG controlCode, LONG setForeground);

LRESULT CALLBACK MsgWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// RemoveMsgWnd waits, pumping, for client objects to let go of the record.
// After this grace period it asks the unbinder (installed by the server) to
// have the server thread unbind them, so that a client that never releases
// its object cannot hold the client UI thread there for ever.
constexpr DWORD kMsgWndUnbindGraceMs = 5000;
using MsgWndUnbinder = void (*)(OEPluginMsgWnd* record);
void SetMsgWndUnbinder(MsgWndUnbinder unbinder);
void SetMsgWndUnbindGrace(DWORD milliseconds);  // tests
// True while RemoveMsgWnd waits for `record` (any thread may ask; the record
// is not touched).
bool IsRecordBeingRemoved(const OEPluginMsgWnd* record);

constexpr WORD kSendCommand = 40411;
constexpr WORD kSecondSendCommand = 40225;
constexpr UINT kSendingEnded = 0x9C3F;

}  // namespace plume
