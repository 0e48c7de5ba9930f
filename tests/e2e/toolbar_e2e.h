// Helpers of the toolbar end-to-end suite: an event sink that hands every
// event to a function, and bitmap files the client can load.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "com_object.h"

namespace plume::test {

// Answers one event interface; every Invoke goes to `onEvent` with the
// event's DISPID and its 32-bit arguments in declaration order.
class EventSink final : public ref_counted<IDispatch> {
public:
    using Handler = std::function<void(DISPID, std::vector<long>)>;
    EventSink(const IID& events, Handler onEvent) : events_(events), onEvent_(std::move(onEvent)) {}

    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        std::vector<long> args;
        for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
            VARIANT& v = params->rgvarg[i];
            args.push_back(V_VT(&v) == VT_I4 ? V_I4(&v) : -999999);
        }
        onEvent_(id, std::move(args));
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }

    IID events_;
    Handler onEvent_;
};


}  // namespace plume::test
