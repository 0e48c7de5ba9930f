// A client process that misbehaves on purpose. It attaches to the running
// mail client, creates a root object and a toolbar with a button, advises an
// event sink on the root, sets the named event READY and then, by MODE:
//   hang    pumps until the first event, then blocks inside that handler
//   nopump  stops pumping at once: no call to it is ever answered
//   die     ends its process inside the handler of the first event
//   sendhang  blocks inside the handler of the first Send press
//   senddie   pumps for eight seconds inside the handler of the first Send
//             press (as one that asks its user), then ends its process
//   hold    pumps for ever, holding its objects (the test kills it)
//   polite  releases everything when "PLUME_SHUTDOWN_EVENT" is set, then ends
// Usage: rogue_client.exe MODE READY
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <cstring>

#include "com_object.h"
#include "com_ptr.h"

using plume::com_ptr;

namespace {

enum class Mode { Hang, NoPump, Die, Hold, Polite, SendHang, SendDie };

constexpr DISPID kOnSendButtonMsgWndClicked = 10;
constexpr DWORD kAsksItsUserMs = 8000;

class RogueSink final : public plume::ref_counted<IDispatch> {
public:
    explicit RogueSink(Mode mode) : mode_(mode) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        const bool send = dispid == kOnSendButtonMsgWndClicked;
        if (mode_ == Mode::Hang || (mode_ == Mode::SendHang && send)) Sleep(INFINITE);
        if (mode_ == Mode::SendDie && send) {
            for (const DWORD start = GetTickCount(); GetTickCount() - start < kAsksItsUserMs;) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            }
        }
        if (mode_ == Mode::Die || (mode_ == Mode::SendDie && send)) TerminateProcess(GetCurrentProcess(), 3);
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_IPLUMEObjEvents)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }
    Mode mode_;
};

bool ParseMode(const char* text, Mode* mode) {
    static const struct { const char* name; Mode mode; } kModes[] = {
        {"hang", Mode::Hang}, {"nopump", Mode::NoPump}, {"die", Mode::Die}, {"hold", Mode::Hold},
        {"polite", Mode::Polite}, {"sendhang", Mode::SendHang}, {"senddie", Mode::SendDie}};
    for (const auto& m : kModes)
        if (strcmp(text, m.name) == 0) {
            *mode = m.mode;
            return true;
        }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Mode mode;
    if (argc < 3 || !ParseMode(argv[1], &mode)) {
        fprintf(stderr, "usage: rogue_client.exe hang|nopump|die|hold|polite|sendhang|senddie READY\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    com_ptr<IPLUMEObj> root;
    HRESULT hr = CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
    if (FAILED(hr)) {
        fprintf(stderr, "rogue_client: no root object (%08lx)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    com_ptr<IOEToolbar> toolbar;
    com_ptr<IOEButton> button;
    if (SUCCEEDED(root->CreateToolbar(toolbar.put())) && toolbar) {
        BSTR name = SysAllocString(L"Rogue");
        toolbar->CreateButton(name, nullptr, nullptr, button.put());
        SysFreeString(name);
    }
    com_ptr<IConnectionPointContainer> container;
    com_ptr<IConnectionPoint> point;
    DWORD cookie = 0;
    auto sink = com_ptr<RogueSink>::attach(new RogueSink(mode));
    hr = root->QueryInterface(IID_IConnectionPointContainer, container.put_void());
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID_IPLUMEObjEvents, point.put());
    if (SUCCEEDED(hr)) hr = point->Advise(sink.get(), &cookie);
    if (FAILED(hr)) {
        fprintf(stderr, "rogue_client: cannot advise (%08lx)\n", static_cast<unsigned long>(hr));
        return 1;
    }
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (ready) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    if (mode == Mode::NoPump) Sleep(INFINITE);

    // Only the polite client looks at the shutdown event.
    HANDLE shutdown = CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT");
    const DWORD watched = mode == Mode::Polite ? 1 : 0;
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(watched, &shutdown, FALSE, INFINITE, QS_ALLINPUT);
        if (watched && r == WAIT_OBJECT_0) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    point->Unadvise(cookie);
    point.reset();
    container.reset();
    button.reset();
    toolbar.reset();
    root.reset();
    CloseHandle(shutdown);
    CoUninitialize();
    return 0;
}
