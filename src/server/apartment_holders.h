// Which other processes hold a connection to an apartment of this process,
// and whether they answer: at shutdown, objects held only by clients that
// are gone or hung are disconnected at once instead of after a grace period.
//
// A client's connection to an apartment is the server end of the named pipe
// "\lrpc\pipe\OLE_<apartment>" in this process (Wine's COM transport), whose
// client process id the pipe knows. A client answers when one of its
// apartment windows ("OleMainThreadWndClass") answers a message within the
// bound; a client with no such window (multithreaded only) is taken to
// answer, since nothing shows otherwise; so is another apartment of this
// process.
#pragma once

#include <windows.h>

#include <memory>

namespace plume {

// How long one of a client's apartments may take to answer the probe.
constexpr DWORD kHolderProbeMs = 250;

// True when some other process connected to the apartment of `apartmentThread`
// (a thread of this process) is alive and answers within `probeMs`.
bool AnyConnectedClientAnswers(DWORD apartmentThread, DWORD probeMs = kHolderProbeMs);

// Asks AnyConnectedClientAnswers over and over on a thread of its own, so
// that the thread that closes keeps pumping; the last answer is at hand.
class ConnectedClientsWatch {
public:
    explicit ConnectedClientsWatch(DWORD apartmentThread);
    ~ConnectedClientsWatch();
    ConnectedClientsWatch(const ConnectedClientsWatch&) = delete;
    ConnectedClientsWatch& operator=(const ConnectedClientsWatch&) = delete;

    // True once a check has found that no connected client answers.
    bool NoneAnswers() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace plume
