// A plug-in with a toolbar button "Fault" whose click handler first sets the
// named event "PLUMETest.FaultClicked" (the click reached it) and then, as
// built, crashes (PLUME_FAULT_CRASH: a write through a null pointer) or
// blocks for ever (PLUME_FAULT_HANG).
#include <plume_plugin.h>

namespace {

using plume_plugin::Ref;

class ClickSink final : public plume_plugin::EventSink {
public:
    ClickSink() : EventSink(DIID_IOEButtonEvents) {}
    void OnEvent(DISPID id, DISPPARAMS*) override {
        if (id != plume_events::button::OnClick) return;
        if (HANDLE heard = OpenEventA(EVENT_MODIFY_STATE, FALSE, "PLUMETest.FaultClicked")) {
            SetEvent(heard);
            CloseHandle(heard);
        }
#if defined(PLUME_FAULT_CRASH)
        volatile int* nowhere = nullptr;
        *nowhere = 1;
#elif defined(PLUME_FAULT_HANG)
        Sleep(INFINITE);
#endif
    }
};

// What the plug-in holds while the client runs; the client's close takes
// its toolbar away.
struct Held {
    Ref<IPLUMEObj> root;
    Ref<IOEToolbar> toolbar;
    Ref<IOEButton> button;
    plume_plugin::Connection clicks;
};
Held* g_held = nullptr;

void Start() {
    g_held = new Held;
    plume_plugin::Text name(L"Fault");
    if (SUCCEEDED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                   g_held->root.put_void())) &&
        SUCCEEDED(g_held->root->CreateToolbar(g_held->toolbar.put())) &&
        SUCCEEDED(g_held->toolbar->CreateButton(name.get(), nullptr, nullptr, g_held->button.put())))
        g_held->clicks.Connect(g_held->button.get(), DIID_IOEButtonEvents, new ClickSink);
    plume_plugin::ReportReady();
}

void Stop() {
    delete g_held;
    g_held = nullptr;
}

}  // namespace

extern "C" __declspec(dllexport) void InitializePlugin() { plume_plugin::RunWhenReady(&Start, &Stop); }
