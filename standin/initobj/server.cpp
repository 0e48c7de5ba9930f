// plumeinit.exe: the local server of the PLUMEInitObject class.
//
// One count per server process, shared by every client: the library calls
// Start (position 9) and then reads the awaited count (position 7); each
// plug-in calls ReportInitialized (position 10), which counts it and posts
// 0x3632 to the window of class "PLUME Callback Window sink", where the
// library compares the reported count (position 8) with the awaited one.
// The awaited count comes from HKCU "Software\Vexlor\PLUME\InitObject",
// DWORD "AwaitedPlugins" (0 when missing), read by Start, or from
// SetAwaitedCount.
//
//   plumeinit.exe /regserver     registers the class and the type library
//   plumeinit.exe /unregserver   removes them
//   plumeinit.exe -Embedding     started by COM
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "com_object.h"
#include "com_ptr.h"
#include "plumeinit.h"
#include "unique_any.h"

namespace {

constexpr UINT kPluginReportMessage = 0x3632;
constexpr wchar_t kCallbackWindowClass[] = L"PLUME Callback Window sink";
constexpr wchar_t kSettingsKey[] = L"Software\\Vexlor\\PLUME\\InitObject";

volatile LONG g_objects = 0;
volatile LONG g_locks = 0;
LONG g_awaited = 0;
LONG g_reported = 0;
DWORD g_mainThread = 0;

void ObjectGone() {
    if (InterlockedDecrement(&g_objects) == 0 && g_locks == 0) PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
}

std::wstring ModulePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

ITypeInfo* TypeInfo() {
    static ITypeInfo* info = [] {
        ITypeLib* lib = nullptr;
        ITypeInfo* ti = nullptr;
        if (SUCCEEDED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib))) {
            lib->GetTypeInfoOfGuid(IID_IPLUMEInitObject, &ti);
            lib->Release();
        }
        return ti;
    }();
    return info;
}

LONG ReadAwaitedCount() {
    plume::unique_hkey key;
    DWORD value = 0, size = sizeof(value), type = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
    if (RegQueryValueExW(key.get(), L"AwaitedPlugins", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return static_cast<LONG>(value);
}

class InitObject final : public plume::ref_counted<IPLUMEInitObject> {
public:
    InitObject() { InterlockedIncrement(&g_objects); }
    ~InitObject() override { ObjectGone(); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = TypeInfo() ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0 || !TypeInfo()) return DISP_E_BADINDEX;
        TypeInfo()->AddRef();
        *out = TypeInfo();
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return TypeInfo() ? DispGetIDsOfNames(TypeInfo(), names, count, ids) : E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        UINT* argErr) override {
        return TypeInfo() ? DispInvoke(static_cast<IPLUMEInitObject*>(this), TypeInfo(), id, flags, params, result, excep, argErr)
                          : E_NOTIMPL;
    }

    STDMETHODIMP GetAwaitedCount(LONG* count) override {
        if (!count) return E_POINTER;
        *count = g_awaited;
        return S_OK;
    }
    STDMETHODIMP GetReportedCount(LONG* count) override {
        if (!count) return E_POINTER;
        *count = g_reported;
        return S_OK;
    }
    STDMETHODIMP Start() override {
        g_reported = 0;
        g_awaited = ReadAwaitedCount();
        return S_OK;
    }
    STDMETHODIMP ReportInitialized() override {
        ++g_reported;
        if (HWND callback = FindWindowW(kCallbackWindowClass, nullptr)) PostMessageW(callback, kPluginReportMessage, 0, 0);
        return S_OK;
    }
    STDMETHODIMP SetAwaitedCount(LONG count) override {
        if (count < 0) return E_INVALIDARG;
        g_awaited = count;
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IPLUMEInitObject)
                   ? static_cast<IPLUMEInitObject*>(this)
                   : nullptr;
    }
};

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!out) return E_POINTER;
        auto* object = new InitObject();
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&g_locks);
        else if (InterlockedDecrement(&g_locks) == 0 && g_objects == 0) PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
        return S_OK;
    }
};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

bool SetKey(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    plume::unique_hkey key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

int Register() {
    std::wstring path = ModulePath();
    ITypeLib* lib = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &lib))) return 2;
    lib->Release();
    std::wstring clsid = L"CLSID\\" + GuidText(CLSID_PLUMEInitObject);
    bool ok = SetKey(clsid, nullptr, L"PLUMEInitObject") && SetKey(clsid + L"\\LocalServer32", nullptr, L"\"" + path + L"\"") &&
              SetKey(clsid + L"\\ProgID", nullptr, L"PLUME.InitObject") && SetKey(L"PLUME.InitObject", nullptr, L"PLUMEInitObject") &&
              SetKey(L"PLUME.InitObject\\CLSID", nullptr, GuidText(CLSID_PLUMEInitObject));
    return ok ? 0 : 3;
}

int Unregister() {
    std::wstring clsid = L"CLSID\\" + GuidText(CLSID_PLUMEInitObject);
    for (const std::wstring& k : {clsid + L"\\LocalServer32", clsid + L"\\ProgID", clsid, std::wstring(L"PLUME.InitObject\\CLSID"),
                                  std::wstring(L"PLUME.InitObject")})
        RegDeleteKeyW(HKEY_CLASSES_ROOT, k.c_str());
    UnRegisterTypeLib(LIBID_PLUMEInitLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
    UnRegisterTypeLib(LIBID_PLUMEInitLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    return 0;
}

Factory g_factory;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    std::string args = commandLine ? commandLine : "";
    if (args.find("regserver") != std::string::npos && args.find("unregserver") == std::string::npos) return Register();
    if (args.find("unregserver") != std::string::npos) return Unregister();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    g_mainThread = GetCurrentThreadId();
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_PLUMEInitObject, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie))) {
        CoUninitialize();
        return 1;
    }
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return 0;
}
