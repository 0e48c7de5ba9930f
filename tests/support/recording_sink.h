// An event sink that records every call it receives, answering one event
// interface. It can be told to fail, or to run an action inside a call.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

#include "com_object.h"

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

    std::vector<SinkCall> calls;
    std::function<void(const SinkCall&)> onCall;
    HRESULT result = S_OK;
    WORD lastFlags = 0;

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, eventsIid_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }

    IID eventsIid_;
};

}  // namespace plume::test
