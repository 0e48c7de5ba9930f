// Helpers for in-process PLUME plug-ins (header only).
//
// An in-process plug-in's InitializePlugin runs on the library's server
// thread before the library serves any object, and must not block. So:
//
//   extern "C" __declspec(dllexport) void InitializePlugin() {
//       plume_plugin::RunWhenReady(&Start, &Stop);
//   }
//
// calls Start on that same thread once the library serves objects
// ("PLUME_INIT_EVENT" set) and Stop once the client closes
// ("PLUME_SHUTDOWN_EVENT" set), where the plug-in lets go of everything.
// Start makes its objects with CoCreateInstance(CLSID_PLUMEObj, ...,
// CLSCTX_LOCAL_SERVER, ...), connects EventSink objects with Advise, and ends
// with ReportReady() when the counter awaits it.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <plume.h>
#include <plume_events.h>
#include <plumeinit.h>

#include <utility>

namespace plume_plugin {

// One counted reference to a COM interface.
template <typename T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref& other) : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { reset(); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Lets go of the current reference and hands out the slot to fill.
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

// A BSTR for the length of a call.
class Text {
public:
    explicit Text(const wchar_t* text) : b_(SysAllocString(text)) {}
    ~Text() { SysFreeString(b_); }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_;
};

// An event sink for one event interface: override OnEvent. `id` is one of
// plume_events' constants; plume_events::Arg(params, n) reads the n-th
// argument in the reference's order (rgvarg holds them last first).
class EventSink : public IDispatch {
public:
    explicit EventSink(const IID& events) : events_(events) {}
    virtual ~EventSink() = default;
    virtual void OnEvent(DISPID id, DISPPARAMS* params) = 0;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        OnEvent(id, params);
        return S_OK;
    }

private:
    volatile LONG refs_ = 1;
    IID events_;
};

// A sink connected to an object's events; disconnected when it goes.
class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Disconnect(); }
    // Connects `sink` (whose reference the connection takes over) to the
    // events `events` of `source`; false when the source has no such events.
    bool Connect(IUnknown* source, const IID& events, EventSink* sink) {
        Disconnect();
        Ref<IConnectionPointContainer> container;
        bool ok = source && sink &&
                  SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())) &&
                  SUCCEEDED(container->FindConnectionPoint(events, point_.put())) &&
                  SUCCEEDED(point_->Advise(sink, &cookie_));
        if (sink) sink->Release();
        if (!ok) point_.reset();
        return ok;
    }
    void Disconnect() {
        if (point_) point_->Unadvise(cookie_);
        point_.reset();
        cookie_ = 0;
    }

private:
    Ref<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Tells the plug-in counter that this plug-in is ready.
inline bool ReportReady() {
    Ref<IPLUMEInitObject> counter;
    return SUCCEEDED(CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEInitObject,
                                      counter.put_void())) &&
           SUCCEEDED(counter->ReportInitialized());
}

namespace detail {

struct Lifecycle {
    void (*start)() = nullptr;
    void (*stop)() = nullptr;
    HWND window = nullptr;
    bool started = false;
};
inline Lifecycle& State() {
    static Lifecycle state;
    return state;
}
inline bool IsSet(const char* name) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (!event) return false;
    const bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    CloseHandle(event);
    return set;
}
constexpr UINT_PTR kTimer = 1;
inline LRESULT CALLBACK TimerWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_TIMER || wp != kTimer) return DefWindowProcW(hwnd, msg, wp, lp);
    Lifecycle& s = State();
    if (!s.started && IsSet("PLUME_INIT_EVENT")) {
        s.started = true;
        if (s.start) s.start();
    } else if (s.started && IsSet("PLUME_SHUTDOWN_EVENT")) {
        KillTimer(hwnd, kTimer);
        if (s.stop) s.stop();
        DestroyWindow(hwnd);
        s.window = nullptr;
    }
    return 0;
}

}  // namespace detail

// Calls `start` once the library serves objects and `stop` once the client
// closes, both on the calling thread (the server thread, from
// InitializePlugin), from a timer that looks every 50 ms. Returns at once.
inline bool RunWhenReady(void (*start)(), void (*stop)()) {
    detail::Lifecycle& s = detail::State();
    if (s.window) return true;
    s.start = start;
    s.stop = stop;
    // The class belongs to this plug-in's module: each plug-in built with
    // this header has its own.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&detail::TimerWindowProc), &self);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = detail::TimerWindowProc;
    wc.hInstance = self;
    wc.lpszClassName = L"PLUMEPluginLifecycle";
    RegisterClassW(&wc);
    s.window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    return s.window && SetTimer(s.window, detail::kTimer, 50, nullptr);
}

}  // namespace plume_plugin
