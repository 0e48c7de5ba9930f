#include "script_events.h"

#include <oleauto.h>
#include <dispex.h>
#include <olectl.h>

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_object.h"
#include "com_ptr.h"
#include "unique_any.h"

using plume::bstr;
using plume::com_ptr;

const CLSID CLSID_PLUMEScriptEvents = {0x4938EC9E, 0xEDCF, 0x4F55, {0xA6, 0x8F, 0x4E, 0x59, 0xD4, 0xFC, 0x5F, 0xD8}};

namespace {

// Not in MinGW's uuid library.
const IID kIID_IDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

HINSTANCE g_module = nullptr;
volatile LONG g_objects = 0;
volatile LONG g_locks = 0;

// Forwards the events of one source to a handler object by name.
class ForwardingSink final : public plume::ref_counted<IDispatch> {
public:
    // `names`: the event interface's member names by DISPID, read once here:
    // the source's type information may live in the source's process, and
    // asking it from inside an event call would re-enter that process.
    ForwardingSink(const IID& eventsIid, std::map<DISPID, std::wstring> names, IDispatch* handler,
                   std::wstring prefix)
        : eventsIid_(eventsIid), names_(std::move(names)), handler_(handler), prefix_(std::move(prefix)) {
        InterlockedIncrement(&g_objects);
        handler->QueryInterface(kIID_IDispatchEx, handlerEx_.put_void());
    }
    ~ForwardingSink() override { InterlockedDecrement(&g_objects); }


    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (!n) return E_POINTER;
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        auto name = names_.find(id);
        if (name == names_.end()) return S_OK;
        bstr method((prefix_ + name->second).c_str());
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT ignored;
        VariantInit(&ignored);
        DISPID target = DISPID_UNKNOWN;
        // Script objects (VBScript classes, JScript objects) answer names
        // through IDispatchEx only.
        if (handlerEx_) {
            if (SUCCEEDED(handlerEx_->GetDispID(method.get(), fdexNameCaseInsensitive, &target)))
                handlerEx_->InvokeEx(target, lcid, DISPATCH_METHOD, params ? params : &none, &ignored, nullptr,
                                     nullptr);
        } else {
            LPOLESTR names[] = {method.get()};
            if (SUCCEEDED(handler_->GetIDsOfNames(IID_NULL, names, 1, lcid, &target)))
                handler_->Invoke(target, IID_NULL, lcid, DISPATCH_METHOD, params ? params : &none, &ignored,
                                 nullptr, nullptr);
        }
        VariantClear(&ignored);
        return S_OK;  // a handler's failure stays with the handler
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, eventsIid_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }

    IID eventsIid_;
    std::map<DISPID, std::wstring> names_;
    com_ptr<IDispatch> handler_;
    com_ptr<IDispatchEx> handlerEx_;
    std::wstring prefix_;
};

// Member names of an event interface by DISPID.
std::map<DISPID, std::wstring> EventNames(ITypeInfo* events) {
    std::map<DISPID, std::wstring> names;
    TYPEATTR* attr = nullptr;
    if (FAILED(events->GetTypeAttr(&attr))) return names;
    const WORD count = attr->cFuncs;
    events->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(events->GetFuncDesc(i, &f))) continue;
        bstr name;
        UINT got = 0;
        if (SUCCEEDED(events->GetNames(f->memid, name.put(), 1, &got)) && got) names[f->memid] = name.str();
        events->ReleaseFuncDesc(f);
    }
    return names;
}

// The default source interface of `source`'s class.
HRESULT FindEventInterface(IUnknown* source, ITypeInfo** out, IID* iid) {
    com_ptr<IProvideClassInfo> provide;
    HRESULT hr = source->QueryInterface(IID_IProvideClassInfo, provide.put_void());
    if (FAILED(hr)) return hr;
    com_ptr<ITypeInfo> cls;
    if (FAILED(hr = provide->GetClassInfo(cls.put()))) return hr;
    TYPEATTR* attr = nullptr;
    if (FAILED(hr = cls->GetTypeAttr(&attr))) return hr;
    const WORD impls = attr->cImplTypes;
    cls->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < impls; ++i) {
        INT flags = 0;
        if (FAILED(cls->GetImplTypeFlags(i, &flags))) continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        HREFTYPE ref = 0;
        if (FAILED(hr = cls->GetRefTypeOfImplType(i, &ref))) return hr;
        if (FAILED(hr = cls->GetRefTypeInfo(ref, out))) return hr;
        if (FAILED(hr = (*out)->GetTypeAttr(&attr))) return hr;
        *iid = attr->guid;
        (*out)->ReleaseTypeAttr(attr);
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

enum : DISPID { kConnect = 1, kDisconnect = 2, kWait = 3, kConnections = 4 };

class ScriptEvents final : public plume::ref_counted<IDispatch> {
public:
    ScriptEvents() { InterlockedIncrement(&g_objects); }
    ~ScriptEvents() override {
        for (auto& [cookie, c] : connections_) c.point->Unadvise(c.adviseCookie);
        InterlockedDecrement(&g_objects);
    }

    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (!n) return E_POINTER;
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const std::pair<const wchar_t*, DISPID> kNames[] = {
            {L"Connect", kConnect}, {L"Disconnect", kDisconnect}, {L"Wait", kWait}, {L"Connections", kConnections}};
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            if (i == 0)
                for (auto& [name, id] : kNames)
                    if (_wcsicmp(names[0], name) == 0) ids[0] = id;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT* argErr) override {
        const UINT argc = params ? params->cArgs : 0;
        // Arguments in declaration order.
        auto arg = [&](UINT k) -> VARIANT* { return k < argc ? &params->rgvarg[argc - 1 - k] : nullptr; };
        switch (id) {
        case kConnect: {
            if (argc < 2 || argc > 3) return DISP_E_BADPARAMCOUNT;
            com_ptr<IUnknown> source, handler;
            if (!AsObject(arg(0), source) || !AsObject(arg(1), handler)) {
                if (argErr) *argErr = argc - 1;
                return DISP_E_TYPEMISMATCH;
            }
            std::wstring prefix;
            if (argc == 3) {
                VARIANT text;
                VariantInit(&text);
                if (FAILED(VariantChangeType(&text, arg(2), 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
                prefix = V_BSTR(&text) ? V_BSTR(&text) : L"";
                VariantClear(&text);
            }
            LONG cookie = 0;
            HRESULT hr = Connect(source.get(), handler.get(), prefix, &cookie);
            if (FAILED(hr)) return hr;
            if (result) {
                VariantInit(result);
                V_VT(result) = VT_I4;
                V_I4(result) = cookie;
            }
            return S_OK;
        }
        case kDisconnect: {
            if (argc != 1) return DISP_E_BADPARAMCOUNT;
            VARIANT v;
            VariantInit(&v);
            if (FAILED(VariantChangeType(&v, arg(0), 0, VT_I4))) return DISP_E_TYPEMISMATCH;
            auto it = connections_.find(V_I4(&v));
            if (it == connections_.end()) return CONNECT_E_NOCONNECTION;
            it->second.point->Unadvise(it->second.adviseCookie);
            connections_.erase(it);
            return S_OK;
        }
        case kWait: {
            if (argc != 1) return DISP_E_BADPARAMCOUNT;
            VARIANT v;
            VariantInit(&v);
            if (FAILED(VariantChangeType(&v, arg(0), 0, VT_I4))) return DISP_E_TYPEMISMATCH;
            Wait(V_I4(&v) < 0 ? 0 : static_cast<DWORD>(V_I4(&v)));
            return S_OK;
        }
        case kConnections:
            if (result) {
                VariantInit(result);
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(connections_.size());
            }
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    struct Connection {
        com_ptr<IConnectionPoint> point;
        DWORD adviseCookie;
    };

    static bool AsObject(VARIANT* v, com_ptr<IUnknown>& out) {
        if (!v) return false;
        if (V_VT(v) == (VT_VARIANT | VT_BYREF)) v = V_VARIANTREF(v);
        IUnknown* p = nullptr;
        if (V_VT(v) == VT_DISPATCH) p = V_DISPATCH(v);
        else if (V_VT(v) == VT_UNKNOWN) p = V_UNKNOWN(v);
        else if (V_VT(v) == (VT_DISPATCH | VT_BYREF)) p = *V_DISPATCHREF(v);
        if (!p) return false;
        out = com_ptr<IUnknown>(p);
        return true;
    }

    HRESULT Connect(IUnknown* source, IUnknown* handler, const std::wstring& prefix, LONG* cookie) {
        com_ptr<ITypeInfo> events;
        IID iid{};
        HRESULT hr = FindEventInterface(source, events.put(), &iid);
        if (FAILED(hr)) return hr;
        com_ptr<IDispatch> target;
        if (FAILED(hr = handler->QueryInterface(IID_IDispatch, target.put_void()))) return hr;
        com_ptr<IConnectionPointContainer> container;
        if (FAILED(hr = source->QueryInterface(IID_IConnectionPointContainer, container.put_void()))) return hr;
        com_ptr<IConnectionPoint> point;
        if (FAILED(hr = container->FindConnectionPoint(iid, point.put()))) return hr;
        auto sink =
            com_ptr<IDispatch>::attach(new ForwardingSink(iid, EventNames(events.get()), target.get(), prefix));
        DWORD adviseCookie = 0;
        if (FAILED(hr = point->Advise(sink.get(), &adviseCookie))) return hr;
        *cookie = nextCookie_++;
        connections_[*cookie] = {point, adviseCookie};
        return S_OK;
    }

    // Pumps this thread's messages (incoming event calls among them) for a while.
    static void Wait(DWORD milliseconds) {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            DWORD elapsed = GetTickCount() - start;
            if (elapsed >= milliseconds) return;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
        }
    }

    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
    }

    LONG nextCookie_ = 1;
    std::map<LONG, Connection> connections_;
};

class Factory final : public plume::static_class_factory {
public:
    Factory() : static_class_factory(&g_locks) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!out) return E_POINTER;
        *out = nullptr;
        auto object = com_ptr<IDispatch>::attach(new (std::nothrow) ScriptEvents);
        if (!object) return E_OUTOFMEMORY;
        return object->QueryInterface(iid, out);
    }
} g_factory;

constexpr const char* kProgId = "PLUME.ScriptEvents";

std::string ClsidText() {
    wchar_t text[64];
    StringFromGUID2(CLSID_PLUMEScriptEvents, text, 64);
    return plume::WideToAnsi(text);
}

bool SetKey(const std::string& path, const char* name, const std::string& value) {
    plume::unique_hkey key;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr))
        return false;
    return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_PLUMEScriptEvents)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    char path[MAX_PATH];
    if (!GetModuleFileNameA(g_module, path, MAX_PATH)) return E_FAIL;
    const std::string clsid = "CLSID\\" + ClsidText();
    bool ok = SetKey(clsid, nullptr, "PLUME script events") && SetKey(clsid + "\\InprocServer32", nullptr, path) &&
              SetKey(clsid + "\\InprocServer32", "ThreadingModel", "Apartment") &&
              SetKey(clsid + "\\ProgID", nullptr, kProgId) && SetKey(kProgId, nullptr, "PLUME script events") &&
              SetKey(std::string(kProgId) + "\\CLSID", nullptr, ClsidText());
    return ok ? S_OK : SELFREG_E_CLASS;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    const std::string clsid = "CLSID\\" + ClsidText();
    for (const std::string& key : {clsid + "\\InprocServer32", clsid + "\\ProgID", clsid,
                                   std::string(kProgId) + "\\CLSID", std::string(kProgId)})
        RegDeleteKeyA(HKEY_CLASSES_ROOT, key.c_str());
    return S_OK;
}

}  // extern "C"
