// The single connection point of an automation object: sinks by cookie, and
// delivery of events to all of them.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "com_ptr.h"
#include "server/sink_delivery.h"

namespace plume {

class ConnectionPoint final : public IConnectionPoint {
public:
    // `container` owns this connection point; references are counted on it.
    ConnectionPoint(IConnectionPointContainer* container, const IID& eventsIid)
        : container_(container), eventsIid_(eventsIid) {}
    ~ConnectionPoint();
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    // IUnknown (delegates counting to the container)
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** out) override;

    const IID& EventsIid() const { return eventsIid_; }
    size_t ConnectionCount() const { return sinks_.size(); }
    // True when a sink of process `pid` (another process) was ever advised:
    // one whose process died has been disconnected by the first event since.
    bool HadSinkIn(DWORD pid) const;

    // Calls `dispid` on every sink in cookie order with `args` as VT_I4 values.
    // A sink may unadvise itself (or others) during its call. A sink of
    // another apartment is waited for at most kSinkAnswerMs; one whose
    // process is gone is disconnected. Returns S_OK, or the failure of the
    // last sink that failed. Calls that answer after the bound are reported
    // to `late`, when given.
    HRESULT Fire(DISPID dispid, std::initializer_list<long> args,
                 const std::shared_ptr<LateAnswers>& late = nullptr);

private:
    // A sink of this apartment is held here; one of another apartment only
    // by its RemoteSink (this thread holds no proxy whose release would be a
    // call into another process).
    struct Connection {
        com_ptr<IDispatch> sink;              // a sink of this apartment
        std::shared_ptr<RemoteSink> remote;   // a sink of another apartment
    };
    static void Disconnect(const Connection& connection);

    IConnectionPointContainer* container_;
    IID eventsIid_;
    std::map<DWORD, Connection> sinks_;
    std::vector<DWORD> sinkProcesses_;  // processes whose sinks were advised
    DWORD nextCookie_ = 1;
};

// Creates an enumerator over a snapshot of connections (each punk gets a
// reference of its own). Caller releases.
HRESULT CreateConnectionEnumerator(const CONNECTDATA* items, size_t count, IEnumConnections** out);

}  // namespace plume
