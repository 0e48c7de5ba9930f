// An event sink that records every call it receives, answering one event
// interface. It can be told to fail, or to run an action inside a call.
// What several sinks heard goes into one log, in the order it arrived.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "com_object.h"
#include "com_ptr.h"

namespace plume::test {

struct SinkCall {
    DISPID dispid;
    std::vector<long> args;  // in declaration order
};

class RecordingSink final : public ref_counted<IDispatch> {
public:
    explicit RecordingSink(const IID& eventsIid) : eventsIid_(eventsIid) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        SinkCall call{id, {}};
        for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
            VARIANT& v = params->rgvarg[i];
            call.args.push_back(V_VT(&v) == VT_I4 ? V_I4(&v) : -999999);
        }
        lastFlags = flags;
        calls.push_back(call);
        if (onCall) onCall(call);
        return result;
    }
    std::vector<DISPID> Dispids() const {
        std::vector<DISPID> out;
        for (const auto& c : calls) out.push_back(c.dispid);
        return out;
    }

    std::vector<SinkCall> calls;
    std::function<void(const SinkCall&)> onCall;
    HRESULT result = S_OK;
    WORD lastFlags = 0;
    DWORD cookie = 0;  // of the connection Advise made

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, eventsIid_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }

    IID eventsIid_;
};

struct Heard {
    std::string who;
    DISPID dispid;
    std::vector<long> args;
    bool operator==(const Heard& o) const { return who == o.who && dispid == o.dispid && args == o.args; }
};
inline void PrintTo(const Heard& h, std::ostream* os) {
    *os << h.who << ":" << h.dispid << "(";
    for (long a : h.args) *os << a << ",";
    *os << ")";
}

// A sink advised on `source` for `events` (null when that fails); with a
// log, every call it hears is added there as `who`.
inline com_ptr<RecordingSink> Advise(IUnknown* source, const IID& events, std::vector<Heard>* log = nullptr,
                                     const std::string& who = "") {
    auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(events));
    if (log) sink->onCall = [log, who](const SinkCall& c) { log->push_back({who, c.dispid, c.args}); };
    com_ptr<IConnectionPointContainer> cpc;
    com_ptr<IConnectionPoint> cp;
    if (!source || FAILED(source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void())) ||
        FAILED(cpc->FindConnectionPoint(events, cp.put())) || FAILED(cp->Advise(sink.get(), &sink->cookie)))
        return nullptr;
    return sink;
}

}  // namespace plume::test
