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

#include "com_ptr.h"
#include "recording_sink.h"

using plume::com_ptr;

namespace {

enum class Mode { Hang, NoPump, Die, Hold, Polite, SendHang, SendDie };

constexpr DISPID kOnSendButtonMsgWndClicked = 10;
constexpr DWORD kAsksItsUserMs = 8000;

// What the client does inside its handler of an event (`send`: a Send press).
void Misbehave(Mode mode, bool send) {
    if (mode == Mode::Hang || (mode == Mode::SendHang && send)) Sleep(INFINITE);
    if (mode == Mode::SendDie && send) {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < kAsksItsUserMs;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
    }
    if (mode == Mode::Die || (mode == Mode::SendDie && send)) TerminateProcess(GetCurrentProcess(), 3);
}

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
    com_ptr<plume::test::RecordingSink> sink = plume::test::Advise(root.get(), DIID_IPLUMEObjEvents);
    if (!sink) {
        fprintf(stderr, "rogue_client: cannot advise\n");
        return 1;
    }
    sink->onCall = [mode](const plume::test::SinkCall& call) {
        Misbehave(mode, call.dispid == kOnSendButtonMsgWndClicked);
    };
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
    com_ptr<IConnectionPoint> point;
    root.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
        ->FindConnectionPoint(DIID_IPLUMEObjEvents, point.put());
    if (point) point->Unadvise(sink->cookie);
    button.reset();
    toolbar.reset();
    root.reset();
    CloseHandle(shutdown);
    CoUninitialize();
    return 0;
}
