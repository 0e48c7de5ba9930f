// Waits of a thread that keeps serving its messages meanwhile (the client's
// UI thread waiting for the server thread, or for clients at close).
//
// A WM_QUIT met on the way is held back and posted again when the waiter
// goes; from then on only messages sent by other threads are served, since
// a quit posted again at once would wake every later wait at once and spin
// it. Messages of one other number may be held back the same way.
#pragma once

#include <windows.h>

#include <vector>

namespace plume {

class pumping_wait {
public:
    enum class input { dispatch, drop };
    explicit pumping_wait(input mode = input::dispatch, UINT heldMessage = 0)
        : mode_(mode), heldMessage_(heldMessage) {}
    ~pumping_wait();
    pumping_wait(const pumping_wait&) = delete;
    pumping_wait& operator=(const pumping_wait&) = delete;

    // Serves messages for at most `ms` (INFINITE: no bound) or until one of
    // `handles` is signalled. Returns the signalled handle's index, or
    // WAIT_TIMEOUT; a handle that cannot be waited on counts as signalled.
    DWORD wait(DWORD ms, DWORD count = 0, const HANDLE* handles = nullptr);
    DWORD wait(DWORD ms, HANDLE handle) { return wait(ms, handle ? 1 : 0, &handle); }

    // A WM_QUIT has been met (and is held back).
    bool quit_seen() const { return quit_; }
    // The held WM_QUIT is not posted again.
    void drop_quit() { quit_ = false; }

private:
    void ServeQueued();

    input mode_;
    UINT heldMessage_;
    bool quit_ = false;
    int exitCode_ = 0;
    std::vector<MSG> held_;
};

}  // namespace plume
