// What every automation class shares: reference counting, IDispatch answered
// from the registered type library, class information, error information and
// one connection point for the class's event interface.
//
// A class derives from AutomationObject<ItsInterface>, implements the
// interface's methods with Call(...) and raises events with Fire(...).
// Objects start with one reference, owned by whoever constructed them.
// Threads: objects live in the server thread's apartment; only the reference
// count is touched from elsewhere.
#pragma once

#include <ocidl.h>
#include <initializer_list>

#include "com_ptr.h"
#include "server/connection_point.h"
#include "server/error_info.h"
#include "log.h"
#include "server/type_info_cache.h"

namespace plume {

// Number of automation objects alive in this process.
LONG LiveObjectCount();

namespace detail {
void CountObject(int delta);
}

struct ClassIdentity {
    const IID& iid;        // default incoming interface
    const CLSID& clsid;    // the class
    const IID& eventsIid;  // default source interface
};

template <typename Interface>
class AutomationObject : public Interface,
                         public IProvideClassInfo,
                         public ISupportErrorInfo,
                         public IConnectionPointContainer {
public:
    explicit AutomationObject(const ClassIdentity& identity)
        : identity_(identity), connectionPoint_(this, identity.eventsIid) {
        detail::CountObject(+1);
    }
    virtual ~AutomationObject() { detail::CountObject(-1); }
    AutomationObject(const AutomationObject&) = delete;
    AutomationObject& operator=(const AutomationObject&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, identity_.iid))
            *out = static_cast<Interface*>(this);
        else if (IsEqualIID(iid, IID_IProvideClassInfo))
            *out = static_cast<IProvideClassInfo*>(this);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo))
            *out = static_cast<ISupportErrorInfo*>(this);
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            *out = static_cast<IConnectionPointContainer*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return GetCachedTypeInfo(identity_.iid, out);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        com_ptr<ITypeInfo> info;
        PLUME_RETURN_IF_FAILED(GetCachedTypeInfo(identity_.iid, info.put()));
        return info->GetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        com_ptr<ITypeInfo> info;
        PLUME_RETURN_IF_FAILED(GetCachedTypeInfo(identity_.iid, info.put()));
        PLUME_RETURN_IF_FAILED(CheckArgumentCount(info.get(), id, flags, params));
        return info->Invoke(static_cast<Interface*>(this), id, flags, params, result, excep, argErr);
    }

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        com_ptr<ITypeLib> lib;
        PLUME_RETURN_IF_FAILED(LoadPlumeTypeLib(lib.put()));
        return lib->GetTypeInfoOfGuid(identity_.clsid, out);
    }

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        if (!IsEqualIID(iid, identity_.eventsIid)) {
            *out = nullptr;
            return CONNECT_E_NOCONNECTION;
        }
        *out = &connectionPoint_;
        connectionPoint_.AddRef();
        return S_OK;
    }

    size_t SinkCount() const { return connectionPoint_.ConnectionCount(); }
    bool HadSinkIn(DWORD pid) const { return connectionPoint_.HadSinkIn(pid); }
    // The connection point's own COM identity (its stub is not the object's).
    IUnknown* ConnectionPointIdentity() { return static_cast<IConnectionPoint*>(&connectionPoint_); }

protected:
    // Runs a method body under the error mapping of every automation method.
    template <typename Body>
    HRESULT Call(const char* method, Body&& body) {
        return GuardedCall(method, identity_.iid, body);
    }
    // Same, for a method with an out pointer: a null pointer is E_POINTER
    // before anything else happens.
    template <typename Out, typename Body>
    HRESULT Call(const char* method, Out* out, Body&& body) {
        if (!out) return E_POINTER;
        return GuardedCall(method, identity_.iid, body);
    }
    // The answer of a method whose subsystem is not in this build yet.
    HRESULT NotImplemented(const char* method) {
        SetErrorInfoFor(E_NOTIMPL, L"Not implemented yet", method, identity_.iid);
        return E_NOTIMPL;
    }

    // Delivers an event to every sink. Sink failures stop at this call.
    // Calls that answer after their bound are reported to `late`, when given.
    void Fire(const char* event, DISPID dispid, std::initializer_list<long> args = {},
              const std::shared_ptr<LateAnswers>& late = nullptr) {
        HRESULT hr = connectionPoint_.Fire(dispid, args, late);
        if (FAILED(hr)) Log(4, "%s: a sink failed with %08lx.\n", event, static_cast<unsigned long>(hr));
    }

private:
    const ClassIdentity& identity_;
    LONG refs_ = 1;
    ConnectionPoint connectionPoint_;
};

// Constructs an object and adopts its initial reference.
template <typename T, typename... Args>
com_ptr<T> MakeObject(Args&&... args) {
    return com_ptr<T>::attach(new T(std::forward<Args>(args)...));
}

}  // namespace plume
