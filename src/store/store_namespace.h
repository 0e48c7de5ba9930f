// The manager's store set-up: opens the client's published store namespace,
// which makes the client touch its internal store so that the watcher's
// capture sees it, and sets the local store's fixed folder ids.
// Threads: the manager's construction (server thread).
#pragma once

namespace plume {

class PLUMEManager;

// 1 when the watcher holds the client's store, else 0.
int CreateMessageStore(PLUMEManager& manager);

}  // namespace plume
