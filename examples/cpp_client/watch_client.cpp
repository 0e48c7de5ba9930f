// An out-of-process client: attaches to the running mail client, lists its
// open message windows, then prints the root object's events for a while.
//   watch_client [seconds]
#include <windows.h>
#include <objbase.h>
#include <plume.h>
#include <plume_events.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Prints each event of the root object; arguments arrive last first.
class RootEvents final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                       IsEqualIID(iid, DIID_IPLUMEObjEvents)
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
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        static const char* const names[] = {"",
                                            "OnToolbarButtonClicked",
                                            "OnMenuItemClicked",
                                            "OnFolderSelectionChanged",
                                            "OnMessageSelectionChanged",
                                            "OnCurrentMessageChanged",
                                            "OnMessageDownloadStarted",
                                            "OnMessageDownloadFinished",
                                            "OnNewMessageInOutbox",
                                            "OnToolbarButtonMsgWndClicked",
                                            "OnSendButtonMsgWndClicked",
                                            "OnNewMsgWnd",
                                            "OnMsgWndClosed",
                                            "OnDatabaseChange",
                                            "OnMsgWndMenuItemClicked"};
        printf("event %s(", id > 0 && id < 15 ? names[id] : "?");
        const UINT count = params ? params->cArgs : 0;
        for (UINT n = 0; n < count; ++n) printf("%ld%s", plume_events::Arg(params, n), n + 1 < count ? ", " : "");
        printf(")\n");
        fflush(stdout);
        return S_OK;
    }

private:
    volatile LONG refs_ = 1;
};

}  // namespace

int main(int argc, char** argv) {
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(atoi(argv[1])) : 30;
    CoInitialize(nullptr);
    IPLUMEObj* root = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                  reinterpret_cast<void**>(&root));
    if (FAILED(hr)) {
        fprintf(stderr, "the mail client is not running with the library (%08lx)\n", static_cast<unsigned long>(hr));
        CoUninitialize();
        return 1;
    }
    // The open message windows.
    LONG id = -1;
    for (root->GetFirstMsgWndID(&id); id != -1; root->GetNextMsgWndID(&id)) {
        IOEMsgWnd* window = nullptr;
        BSTR subject = nullptr;
        if (SUCCEEDED(root->GetMsgWnd(id, &window)) && window) {
            window->GetSubject(&subject);
            window->Release();
        }
        printf("message window %ld: \"%ls\"\n", static_cast<long>(id), subject ? subject : L"");
        SysFreeString(subject);
    }
    fflush(stdout);

    // Events, while this thread pumps messages.
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    auto* sink = new RootEvents();
    if (SUCCEEDED(root->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container))) &&
        SUCCEEDED(container->FindConnectionPoint(DIID_IPLUMEObjEvents, &point)))
        point->Advise(sink, &cookie);
    printf("listening\n");
    fflush(stdout);
    // Let go early when the client closes.
    HANDLE shutdown = CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT");
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < seconds * 1000) {
        if (MsgWaitForMultipleObjects(1, &shutdown, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    if (point) {
        point->Unadvise(cookie);
        point->Release();
    }
    if (container) container->Release();
    sink->Release();
    root->Release();
    CloseHandle(shutdown);
    printf("done\n");
    CoUninitialize();
    return 0;
}
