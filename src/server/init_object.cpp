#include "server/init_object.h"

#include <windows.h>

#include "com_ptr.h"
#include "unique_any.h"

namespace plume {

const CLSID CLSID_PLUMEInitObject = {0x12BAF052, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4C}};
const IID IID_IPLUMEInitObject = {0x12BAF051, 0x264C, 0x464B, {0x9D, 0x58, 0xC8, 0x3B, 0x37, 0x81, 0xDD, 0x4D}};

// The three methods the library calls, at positions 7, 8 and 9 after the
// seven slots of IUnknown and IDispatch. Implemented in another module, so
// it must not have internal linkage: with no implementation visible, the
// compiler would take every call through it for unreachable.
struct IPLUMEInitObject : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetAwaitedCount(LONG* count) = 0;   // 7
    virtual HRESULT STDMETHODCALLTYPE GetReportedCount(LONG* count) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE Start() = 0;                        // 9
};

namespace {

IPLUMEInitObject* g_initObject = nullptr;  // the server thread's reference
IStream* g_marshalled = nullptr;           // from the creating thread, until adopted
volatile LONG g_awaited = 0;
volatile LONG g_reported = 0;

}  // namespace

HRESULT CreateInitObject() {
    com_ptr<IUnknown> created;
    HRESULT hr = CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_ALL, IID_IPLUMEInitObject,
                                  created.put_void());
    if (FAILED(hr)) return hr;
    IStream* stream = nullptr;
    hr = CoMarshalInterThreadInterfaceInStream(IID_IPLUMEInitObject, created.get(), &stream);
    if (FAILED(hr)) return hr;
    ReleaseInitObject();
    g_marshalled = stream;
    return S_OK;
}

bool AdoptInitObject() {
    IStream* stream = g_marshalled;
    g_marshalled = nullptr;
    if (!stream) return g_initObject != nullptr;
    IPLUMEInitObject* object = nullptr;
    HRESULT hr = CoGetInterfaceAndReleaseStream(stream, IID_IPLUMEInitObject, reinterpret_cast<void**>(&object));
    if (FAILED(hr)) return false;
    if (g_initObject) g_initObject->Release();
    g_initObject = object;
    return true;
}

bool HaveInitObject() { return g_initObject != nullptr; }

void ReleaseInitObject() {
    if (IStream* stream = g_marshalled) {
        g_marshalled = nullptr;
        CoReleaseMarshalData(stream);
        stream->Release();
    }
    if (IPLUMEInitObject* o = g_initObject) {
        g_initObject = nullptr;
        o->Release();
    }
}

HRESULT InitObjectAwaited(LONG* count) {
    *count = 0;
    return g_initObject ? g_initObject->GetAwaitedCount(count) : E_POINTER;
}

HRESULT InitObjectReported(LONG* count) {
    *count = 0;
    return g_initObject ? g_initObject->GetReportedCount(count) : E_POINTER;
}

HRESULT InitObjectStart() { return g_initObject ? g_initObject->Start() : E_POINTER; }

void SetAwaitedPlugins(LONG count) { InterlockedExchange(&g_awaited, count); }
void SetReportedPlugins(LONG count) { InterlockedExchange(&g_reported, count); }
LONG AwaitedPlugins() { return g_awaited; }
LONG ReportedPlugins() { return g_reported; }

void SetPluginsInitialized() {
    unique_handle event(CreateEventA(nullptr, TRUE, FALSE, "PLUME_PLUGINS_INITIALIZED_EVENT"));
    if (event) SetEvent(event.get());
}

}  // namespace plume
