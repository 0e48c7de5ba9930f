// Copies of stored messages in the client's Outbox, stamped with the default
// account so that the client sends them: through the published store API on
// Outlook Express, through the internal store on Windows Mail. While a
// transfer runs, copies are parked in the holding folder and queued; the end
// of the transfer moves them on (send_cycle.cpp). The operations are
// PLUMEManager members (outbox.cpp); this header names the client's numbers.
// Threads: the server thread. No lock is held across a store call: the
// client commits inside it and the commit raises OnDatabaseChange.
#pragma once

#include <windows.h>

namespace plume {

// Flags of the parked copy and of the Outbox copies.
constexpr UINT kParkedCopyFlags = 0x10089;
constexpr UINT kOutboxSaveFlags = 0x0C;
constexpr UINT kOutboxRecordFlags = 0x10009;

}  // namespace plume
