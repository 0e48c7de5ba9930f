#include "server/connection_point.h"

#include <algorithm>

#include <new>
#include <vector>

#include "com_object.h"
#include "log.h"

namespace plume {

ConnectionPoint::~ConnectionPoint() {
    for (auto& [cookie, connection] : sinks_) Disconnect(connection);
}

// A call queued for a hung apartment is not made once its sink is unadvised;
// the last reference lets go of the sink off this thread.
void ConnectionPoint::Disconnect(const Connection& connection) {
    if (connection.remote) connection.remote->MarkUnadvised();
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = eventsIid_;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
    if (!out) return E_POINTER;
    *out = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return CONNECT_E_CANNOTCONNECT;
    com_ptr<IDispatch> events;
    if (FAILED(sink->QueryInterface(eventsIid_, events.put_void())) || !events)
        return CONNECT_E_CANNOTCONNECT;
    try {
        // The proxy of a sink of another process goes with this call, while
        // its client waits for the answer and so answers the release.
        std::shared_ptr<RemoteSink> remote = RemoteSink::For(events.get());
        if (remote) {
            events.reset();
            const DWORD pid = remote->ProcessId();
            if (pid && std::find(sinkProcesses_.begin(), sinkProcesses_.end(), pid) == sinkProcesses_.end())
                sinkProcesses_.push_back(pid);
        }
        sinks_.emplace(nextCookie_, Connection{std::move(events), std::move(remote)});
    } catch (...) {
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = nextCookie_++;
    return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
    auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    Connection connection = std::move(it->second);
    sinks_.erase(it);
    Disconnect(connection);
    connection = {};  // the sink's Release may re-enter this object
    return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        // A sink of another apartment is handed out as a proxy of this one,
        // made within the bound on a delivery thread.
        const std::map<DWORD, Connection> snapshot = sinks_;
        std::vector<com_ptr<IUnknown>> held;
        std::vector<CONNECTDATA> items;
        for (const auto& [cookie, connection] : snapshot) {
            com_ptr<IUnknown> unknown;
            if (connection.remote) unknown = RemoteSink::ProxyHere(connection.remote);
            else unknown = com_ptr<IUnknown>(connection.sink.get());
            if (!unknown) return E_FAIL;
            items.push_back({unknown.get(), cookie});
            held.push_back(std::move(unknown));
        }
        return CreateConnectionEnumerator(items.data(), items.size(), out);
    } catch (...) {
        return E_FAIL;
    }
}

bool ConnectionPoint::HadSinkIn(DWORD pid) const {
    return std::find(sinkProcesses_.begin(), sinkProcesses_.end(), pid) != sinkProcesses_.end();
}

HRESULT ConnectionPoint::Fire(DISPID dispid, std::initializer_list<long> args,
                              const std::shared_ptr<LateAnswers>& late) {
    const std::vector<long> values(args);
    HRESULT last = S_OK;
    auto failed = [&](DWORD cookie, HRESULT hr) {
        if (SUCCEEDED(hr)) return;
        last = hr;
        Log(4, "ConnectionPoint::Fire: sink %lu failed dispid %ld with %08lx.\n", static_cast<unsigned long>(cookie),
            static_cast<long>(dispid), static_cast<unsigned long>(hr));
    };
    DWORD cookie = 0;
    for (;;) {
        auto it = sinks_.upper_bound(cookie);
        if (it == sinks_.end()) break;
        if (!it->second.remote) {
            cookie = it->first;
            com_ptr<IDispatch> sink = it->second.sink;  // stays alive even if unadvised during the call
            HRESULT hr;
            try {
                hr = InvokeWithLongs(sink.get(), dispid, values);
            } catch (...) {
                hr = E_UNEXPECTED;  // a sink of this process threw through its Invoke
            }
            failed(cookie, hr);
            continue;
        }
        // The sinks of other apartments up to the next one of this apartment
        // go to a delivery thread together.
        std::vector<DWORD> cookies;
        std::vector<std::shared_ptr<RemoteSink>> remotes;
        for (; it != sinks_.end() && it->second.remote; ++it) {
            cookies.push_back(it->first);
            remotes.push_back(it->second.remote);
        }
        cookie = cookies.back();
        const std::vector<HRESULT> results = RemoteSink::InvokeEach(remotes, dispid, values, kSinkAnswerMs, late);
        for (size_t i = 0; i < results.size(); ++i) {
            failed(cookies[i], results[i]);
            if (!RemoteSink::IsGone(results[i])) continue;
            // Its process is gone: it is not called again.
            Log(0, "ConnectionPoint::Fire: sink %lu is gone (%08lx); disconnected.\n",
                static_cast<unsigned long>(cookies[i]), static_cast<unsigned long>(results[i]));
            auto still = sinks_.find(cookies[i]);
            if (still != sinks_.end() && still->second.remote == remotes[i]) {
                Disconnect(still->second);
                sinks_.erase(still);
            }
        }
    }
    return last;
}

namespace {

class ConnectionEnumerator final : public ref_counted<IEnumConnections> {
public:
    explicit ConnectionEnumerator(std::vector<CONNECTDATA> items) : items_(std::move(items)) {
        for (auto& c : items_) c.pUnk->AddRef();
    }
    ~ConnectionEnumerator() override {
        for (auto& c : items_) c.pUnk->Release();
    }

    STDMETHODIMP Next(ULONG count, CONNECTDATA* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && pos_ < items_.size()) {
            out[n] = items_[pos_++];
            out[n].pUnk->AddRef();  // caller releases
            ++n;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        size_t left = items_.size() - pos_;
        if (count > left) { pos_ = items_.size(); return S_FALSE; }
        pos_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override { pos_ = 0; return S_OK; }
    STDMETHODIMP Clone(IEnumConnections** out) override {
        if (!out) return E_POINTER;
        auto* copy = new (std::nothrow) ConnectionEnumerator(items_);
        if (!copy) return E_OUTOFMEMORY;
        copy->pos_ = pos_;
        *out = copy;
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnections)
                   ? static_cast<IEnumConnections*>(this)
                   : nullptr;
    }

    std::vector<CONNECTDATA> items_;
    size_t pos_ = 0;
};

}  // namespace

HRESULT CreateConnectionEnumerator(const CONNECTDATA* items, size_t count, IEnumConnections** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    try {
        *out = new ConnectionEnumerator(std::vector<CONNECTDATA>(items, items + count));
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace plume
