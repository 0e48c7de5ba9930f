// The benchmarks' baseline server: a local COM server that answers the
// library's root and message-window interfaces through the same registered
// type library (so calls are marshalled exactly as the library's are), but
// does nothing in its methods. Its IDispatch::Invoke does nothing either,
// except for three calls the fan-out benchmark uses: DISPID 100 keeps the
// sink passed, 101 calls Invoke(1) on every kept sink, 102 lets them go.
// Usage: bench_bare_server.exe READY_EVENT QUIT_EVENT
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <plume.h>

#include <vector>

#include "bench_server.h"
#include "com_object.h"
#include "com_ptr.h"

namespace {

using AnyFn = void (*)();
constexpr int kSlots = 96;

std::vector<plume::com_ptr<IDispatch>> g_sinks;

struct Bare {
    AnyFn* vtbl;
    volatile LONG refs;
    const IID* iid;
};

HRESULT STDMETHODCALLTYPE Query(Bare* self, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, *self->iid))
        return E_NOINTERFACE;
    InterlockedIncrement(&self->refs);
    *out = self;
    return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(Bare* self) { return InterlockedIncrement(&self->refs); }
ULONG STDMETHODCALLTYPE ReleaseBare(Bare* self) {
    LONG n = InterlockedDecrement(&self->refs);
    if (!n) delete self;
    return n;
}
HRESULT STDMETHODCALLTYPE NotImplemented(Bare*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE TypeInfoCount(Bare*, UINT* n) {
    if (n) *n = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE IdsOfNames(Bare*, REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) {
    for (UINT i = 0; i < count; ++i) ids[i] = 1;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE Invoke(Bare*, DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                 UINT*) {
    if (id == plume::bench::kBareKeepSink && params && params->cArgs == 1 && V_VT(&params->rgvarg[0]) == VT_DISPATCH)
        g_sinks.emplace_back(V_DISPATCH(&params->rgvarg[0]));
    if (id == plume::bench::kBareFire) {
        DISPPARAMS none = {};
        for (auto& sink : g_sinks) sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    }
    if (id == plume::bench::kBareDropSinks) g_sinks.clear();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE GetId(Bare*, LONG* id) {
    if (!id) return E_POINTER;
    *id = 7;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE GetSubject(Bare*, BSTR* subject) {
    if (!subject) return E_POINTER;
    *subject = SysAllocString(L"Bench subject");
    return S_OK;
}
HRESULT STDMETHODCALLTYPE SetSubject(Bare*, BSTR) { return S_OK; }

// A table for `iid` whose named methods are at the positions the type library gives.
AnyFn* TableFor(const IID& iid) {
    auto* t = new AnyFn[kSlots];
    for (int i = 0; i < kSlots; ++i) t[i] = reinterpret_cast<AnyFn>(NotImplemented);
    t[0] = reinterpret_cast<AnyFn>(Query);
    t[1] = reinterpret_cast<AnyFn>(AddRef);
    t[2] = reinterpret_cast<AnyFn>(ReleaseBare);
    t[3] = reinterpret_cast<AnyFn>(TypeInfoCount);
    t[5] = reinterpret_cast<AnyFn>(IdsOfNames);
    t[6] = reinterpret_cast<AnyFn>(Invoke);
    for (const auto& [name, fn] : {std::pair<const wchar_t*, AnyFn>{L"GetID", reinterpret_cast<AnyFn>(GetId)},
                                   {L"GetSubject", reinterpret_cast<AnyFn>(GetSubject)},
                                   {L"SetSubject", reinterpret_cast<AnyFn>(SetSubject)}}) {
        const int slot = plume::bench::SlotOf(iid, name);
        if (slot > 6 && slot < kSlots) t[slot] = fn;
    }
    return t;
}

volatile LONG g_locks = 0;

class Factory final : public plume::static_class_factory {
public:
    Factory() : static_class_factory(&g_locks) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        static AnyFn* rootTable = TableFor(IID_IPLUMEObj);
        static AnyFn* msgWndTable = TableFor(IID_IOEMsgWnd);
        const bool msgWnd = IsEqualIID(iid, IID_IOEMsgWnd);
        auto* object = new Bare{msgWnd ? msgWndTable : rootTable, 1, msgWnd ? &IID_IOEMsgWnd : &IID_IPLUMEObj};
        HRESULT hr = Query(object, iid, out);
        ReleaseBare(object);
        return hr;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    CoInitialize(nullptr);
    static Factory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(plume::bench::CLSID_BenchBare, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                     &cookie)))
        return 1;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
    if (!ready || !quit) return 1;
    SetEvent(ready);
    while (MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    g_sinks.clear();
    CoRevokeClassObject(cookie);
    CloseHandle(ready);
    CloseHandle(quit);
    CoUninitialize();
    return 0;
}
