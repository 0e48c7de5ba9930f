// A plug-in with a toolbar button "Fault" whose click handler first sets the
// named event "PLUMETest.FaultClicked" (the click reached it) and then, as
// built, crashes (PLUME_FAULT_CRASH: a write through a null pointer) or
// blocks for ever (PLUME_FAULT_HANG).
#include <plume_plugin.h>

namespace {

using plume_plugin::Ref;

Ref<IPLUMEObj> g_root;
Ref<IOEToolbar> g_toolbar;
Ref<IOEButton> g_button;
plume_plugin::Connection g_clicks;

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

void Start() {
    if (FAILED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, g_root.put_void())))
        return;
    plume_plugin::Text name(L"Fault");
    if (SUCCEEDED(g_root->CreateToolbar(g_toolbar.put())) &&
        SUCCEEDED(g_toolbar->CreateButton(name.get(), nullptr, nullptr, g_button.put())))
        g_clicks.Connect(g_button.get(), DIID_IOEButtonEvents, new ClickSink);
    plume_plugin::ReportReady();
}

void Stop() {
    g_clicks.Disconnect();
    if (g_root) g_root->RemoveAllToolbars();
    g_button.reset();
    g_toolbar.reset();
    g_root.reset();
}

}  // namespace

extern "C" __declspec(dllexport) void InitializePlugin() { plume_plugin::RunWhenReady(&Start, &Stop); }
