// An in-process plug-in: a DLL listed under SOFTWARE\Vexlor\PLUME\Plugins,
// loaded by the library inside the mail client, which calls its
// InitializePlugin on the library's server thread. It
//   - adds a toolbar with two buttons (Inbox, New mail) and a Tools menu item
//     ("PLUME Stamp Subjects", checked: stamping on);
//   - reacts to a message window's Send: a message with no recipient is not
//     sent (CancelSend); otherwise its subject gets "[PLUME] " in front;
//   - reports to the plug-in counter once it is set up;
//   - releases everything when "PLUME_SHUTDOWN_EVENT" is set.
// Everything runs on the server thread, so nothing here may block.
//
// The same library is also a COM class, "PLUME.StampPlugin" (registered
// with regsvr32; Windows puts it under the user's classes when not an administrator), so it can be listed by ProgID instead
// of by path: the library then creates the object, which starts the same way.
#include <windows.h>
#include <objbase.h>
#include <plume.h>
#include <plume_events.h>
#include <plumeinit.h>

#include <olectl.h>

#include <cstring>
#include <string>

namespace {

constexpr long kInbox = 2;
constexpr long kMainToolsMenu = 3;  // File, Edit, View, Tools
const wchar_t* const kStamp = L"[PLUME] ";

// Releases a COM pointer when it goes.
template <typename T>
struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { reset(); }
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** put() {
        reset();
        return &p;
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Text {
    BSTR b = nullptr;
    Text() = default;
    explicit Text(const wchar_t* s) : b(SysAllocString(s)) {}
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(b); }
    BSTR* put() {
        SysFreeString(b);
        b = nullptr;
        return &b;
    }
    bool empty() const { return !b || !*b; }
};

class Plugin;
Plugin* g_plugin = nullptr;
HWND g_timerWindow = nullptr;
HMODULE g_module = nullptr;

// One sink for all events of the plug-in: the interface it answers decides
// what the DISPIDs mean.
class Sink final : public IDispatch {
public:
    enum Kind { Root, InboxButton, NewMailButton };
    Sink(Kind kind, const IID& events) : kind_(kind), events_(events) {}
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
        LONG n = InterlockedDecrement(&refs_);
        if (!n) delete this;
        return n;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    volatile LONG refs_ = 1;
    Kind kind_;
    IID events_;
};

class Plugin {
public:
    // Builds everything; false when the library does not answer yet.
    bool Start() {
        if (FAILED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                    reinterpret_cast<void**>(root_.put()))))
            return false;
        Advise(root_.p, DIID_IPLUMEObjEvents, new Sink(Sink::Root, DIID_IPLUMEObjEvents), &rootCookie_);
        if (SUCCEEDED(root_->CreateToolbar(toolbar_.put()))) {
            AddButton(L"Inbox", Sink::InboxButton, inbox_, &inboxCookie_);
            AddButton(L"New mail", Sink::NewMailButton, newMail_, &newMailCookie_);
        }
        Ptr<IOEMenu> tools;
        Text name(L"PLUME Stamp Subjects");
        if (SUCCEEDED(root_->GetMenu(kMainToolsMenu, tools.put())) &&
            SUCCEEDED(plume_sdk::CreateItem(tools.p, name.b, stampItem_.put()))) {
            // A check-style item: the library flips it each time the user chooses it.
            stampItem_->SetCheck(1);
            stampItem_->SetChecked(1);
        }
        // Tell the counter that this plug-in is ready.
        Ptr<IPLUMEInitObject> counter;
        if (SUCCEEDED(CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEInitObject,
                                       reinterpret_cast<void**>(counter.put()))))
            counter->ReportInitialized();
        return true;
    }

    // Lets go of everything (shutdown).
    void Stop() {
        Unadvise(inbox_.p, DIID_IOEButtonEvents, inboxCookie_);
        Unadvise(newMail_.p, DIID_IOEButtonEvents, newMailCookie_);
        Unadvise(root_.p, DIID_IPLUMEObjEvents, rootCookie_);
        stampItem_.reset();
        inbox_.reset();
        newMail_.reset();
        toolbar_.reset();
        root_.reset();
    }

    void OnSend(LONG msgWndId) {
        Ptr<IOEMsgWnd> window;
        if (FAILED(root_->GetMsgWnd(msgWndId, window.put())) || !window) return;
        Text to, cc, bcc;
        window->GetTo(to.put());
        window->GetCc(cc.put());
        window->GetBcc(bcc.put());
        if (to.empty() && cc.empty() && bcc.empty()) {
            window->CancelSend();
            return;
        }
        LONG stamping = 0;
        if (stampItem_) stampItem_->IsChecked(&stamping);
        Text subject;
        if (!stamping || FAILED(window->GetSubject(subject.put()))) return;
        std::wstring s = subject.b ? subject.b : L"";
        if (s.rfind(kStamp, 0) == 0) return;
        Text stamped((kStamp + s).c_str());
        window->SetSubject(stamped.b);
    }
    void OnInbox() { root_->SetSelectedFolderID(kInbox); }
    void OnNewMail() { root_->ComposeMessage(); }

private:
    template <typename T>
    static void Advise(T* source, const IID& events, Sink* sink, DWORD* cookie) {
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(container->FindConnectionPoint(events, &point))) {
                point->Advise(sink, cookie);
                point->Release();
            }
            container->Release();
        }
        sink->Release();
    }
    template <typename T>
    static void Unadvise(T* source, const IID& events, DWORD cookie) {
        if (!source || !cookie) return;
        IConnectionPointContainer* container = nullptr;
        if (SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(container->FindConnectionPoint(events, &point))) {
                point->Unadvise(cookie);
                point->Release();
            }
            container->Release();
        }
    }
    void AddButton(const wchar_t* label, Sink::Kind kind, Ptr<IOEButton>& button, DWORD* cookie) {
        wchar_t image[MAX_PATH];
        GetModuleFileNameW(g_module, image, MAX_PATH);
        std::wstring bitmap(image);
        bitmap = bitmap.substr(0, bitmap.find_last_of(L"\\/") + 1) + L"stamp_plugin.bmp";
        Text name(label), picture(bitmap.c_str());
        if (SUCCEEDED(toolbar_->CreateButton(name.b, picture.b, picture.b, button.put())))
            Advise(button.p, DIID_IOEButtonEvents, new Sink(kind, DIID_IOEButtonEvents), cookie);
    }

    Ptr<IPLUMEObj> root_;
    Ptr<IOEToolbar> toolbar_;
    Ptr<IOEButton> inbox_, newMail_;
    Ptr<IOEMenuItem> stampItem_;
    DWORD rootCookie_ = 0, inboxCookie_ = 0, newMailCookie_ = 0;
};

STDMETHODIMP Sink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (!g_plugin) return S_OK;
    switch (kind_) {
    case Root:
        if (id == plume_events::root::OnSendButtonMsgWndClicked) g_plugin->OnSend(plume_events::Arg(params, 0, -1));
        break;
    case InboxButton:
        if (id == plume_events::button::OnClick) g_plugin->OnInbox();
        break;
    case NewMailButton:
        if (id == plume_events::button::OnClick) g_plugin->OnNewMail();
        break;
    }
    return S_OK;
}

// The library registers its classes after the plug-ins are loaded, and says so
// with "PLUME_INIT_EVENT"; a timer on the server thread waits for that, then
// for "PLUME_SHUTDOWN_EVENT".
constexpr UINT_PTR kTimer = 1;
LRESULT CALLBACK TimerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_TIMER || wp != kTimer) return DefWindowProcW(hwnd, msg, wp, lp);
    auto isSet = [](const char* name) {
        HANDLE e = OpenEventA(SYNCHRONIZE, FALSE, name);
        bool set = e && WaitForSingleObject(e, 0) == WAIT_OBJECT_0;
        if (e) CloseHandle(e);
        return set;
    };
    if (!g_plugin && isSet("PLUME_INIT_EVENT")) {
        auto* plugin = new Plugin();
        if (plugin->Start()) g_plugin = plugin;
        else delete plugin;
    } else if (g_plugin && isSet("PLUME_SHUTDOWN_EVENT")) {
        Plugin* plugin = g_plugin;
        g_plugin = nullptr;
        plugin->Stop();
        delete plugin;
        KillTimer(hwnd, kTimer);
        DestroyWindow(hwnd);
        g_timerWindow = nullptr;
    }
    return 0;
}



// ---------------------------------------------------------------- COM class

// {6B1E2D44-3C1A-4B6F-9E7D-2A5C8F0B1D93}
const CLSID kStampPluginClass = {0x6B1E2D44, 0x3C1A, 0x4B6F, {0x9E, 0x7D, 0x2A, 0x5C, 0x8F, 0x0B, 0x1D, 0x93}};
const char* const kProgId = "PLUME.StampPlugin";
const char* const kClassKey = "CLSID\\{6B1E2D44-3C1A-4B6F-9E7D-2A5C8F0B1D93}";
const char* const kProgIdKey = "PLUME.StampPlugin";

void Begin();

// The object the library creates for a plug-in listed by ProgID: creating it
// starts the plug-in; the library holds it until the client ends.
class StampObject final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (!n) delete this;
        return n;
    }

private:
    volatile LONG refs_ = 1;
};

volatile LONG g_objects = 0;

class Factory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* object = new StampObject();
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        if (SUCCEEDED(hr)) {
            InterlockedIncrement(&g_objects);
            Begin();
        }
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

bool SetKey(const char* path, const char* name, const char* value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                   static_cast<DWORD>(strlen(value) + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

}  // namespace

extern "C" {
__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, kStampPluginClass)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, out);
}

// Loaded for the life of the client once started: never unloaded early.
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

__declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(g_module, path, MAX_PATH);
    const std::string server = std::string(kClassKey) + "\\InprocServer32";
    const bool ok = SetKey(kClassKey, nullptr, "PLUME stamp plug-in") && SetKey(server.c_str(), nullptr, path) &&
                    SetKey(server.c_str(), "ThreadingModel", "Apartment") &&
                    SetKey((std::string(kClassKey) + "\\ProgID").c_str(), nullptr, kProgId) &&
                    SetKey(kProgIdKey, nullptr, "PLUME stamp plug-in") &&
                    SetKey((std::string(kProgIdKey) + "\\CLSID").c_str(), nullptr,
                           "{6B1E2D44-3C1A-4B6F-9E7D-2A5C8F0B1D93}");
    return ok ? S_OK : SELFREG_E_CLASS;
}

__declspec(dllexport) HRESULT WINAPI DllUnregisterServer() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgIdKey);
    return S_OK;
}
}

namespace {

void Begin() {
    if (g_timerWindow) return;  // listed twice: started once
    WNDCLASSW wc = {};
    wc.lpfnWndProc = TimerProc;
    wc.hInstance = g_module;
    wc.lpszClassName = L"PLUMEStampPluginTimer";
    RegisterClassW(&wc);
    g_timerWindow = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    if (g_timerWindow) SetTimer(g_timerWindow, kTimer, 50, nullptr);
}

}  // namespace

// Listed by path: the library calls this on its server thread.
extern "C" __declspec(dllexport) void InitializePlugin() { Begin(); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    // Unloaded by the server thread, which owns the window: none of its
    // messages may arrive once the code is gone.
    if (reason == DLL_PROCESS_DETACH && g_timerWindow) DestroyWindow(g_timerWindow);
    return TRUE;
}
