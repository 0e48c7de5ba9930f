// The send cycle: the client starts every send with a command to its hidden
// send dialog. The library subclasses that dialog, lets the first command
// after a finished transfer through and holds back the rest (and every
// command while a message window is sending or a new Outbox message has not
// been reported), then replays them one at a time from the store and
// transfer events. The operations are PLUMEManager members (send_cycle.cpp;
// the raise operations are in manager/event_raising.cpp).
//
// Lifecycle: HookSendWnd at the manager's construction (when the store was
// reached) and again when a message window opens while no dialog is known;
// the manager's destruction puts the dialog's procedure back while the slot
// still holds ours.
// Threads: SendDlgWndProc on the dialog's thread (client UI thread); the
// rest on the server thread. pendingSendCommands is guarded by registryLock.
#pragma once

#include <windows.h>

namespace plume {

// The client's command to its send dialog: start sending.
constexpr UINT kSendMsgCode = 0xAA4;

}  // namespace plume
