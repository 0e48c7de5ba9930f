#include "remote_unknown_pin.h"

#include <objbase.h>

#include "com_apartment.h"
#include "com_ptr.h"
#include "log.h"
#include "proc_address.h"
#include "unique_any.h"

namespace plume {
namespace {

// Bound for the helper thread that marshals the object: it only calls COM
// inside this process.
constexpr DWORD kPinWaitMs = 2000;

// The marshalled object: static, never freed.
class PinObject final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};
PinObject g_pin;

// CoIncrementMTAUsage, looked up: Windows 8 and later. Its cookie is opaque.
using IncrementMtaUsageFn = HRESULT(WINAPI*)(void** cookie);

DWORD WINAPI PinProc(LPVOID) {
    auto increment = GetProcAs<IncrementMtaUsageFn>(GetModuleHandleA("ole32.dll"), "CoIncrementMTAUsage");
    void* cookie = nullptr;
    if (!increment || FAILED(increment(&cookie))) return 1;  // the apartment stays: the cookie is never given back
    const com_apartment mta(COINIT_MULTITHREADED);
    if (!mta.ok()) return 1;
    com_ptr<IStream> stream;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
    // Table-strong: the stub lives until its marshal data is released, which
    // is never.
    if (SUCCEEDED(hr)) hr = CoMarshalInterface(stream.get(), IID_IUnknown, &g_pin, MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
    return SUCCEEDED(hr) ? 0 : 1;
}

}  // namespace

bool KeepRemoteUnknownRegistered() {
    static const bool held = [] {
        unique_handle thread(CreateThread(nullptr, 0, PinProc, nullptr, 0, nullptr));
        DWORD code = 1;
        if (thread && WaitForSingleObject(thread.get(), kPinWaitMs) == WAIT_OBJECT_0 &&
            GetExitCodeThread(thread.get(), &code) && code == 0)
            return true;
        Log(2, "KeepRemoteUnknownRegistered: the remote IUnknown is not held (exit code %lu).\n",
            static_cast<unsigned long>(code));
        return false;
    }();
    return held;
}

}  // namespace plume
