// An in-process plug-in written with plume_plugin.h: a toolbar button
// "Reply later" that is greyed while no message is selected.
#include <plume_plugin.h>

namespace {

using plume_plugin::Ref;
namespace root_events = plume_events::root;

Ref<IPLUMEObj> g_root;
Ref<IOEToolbar> g_toolbar;
Ref<IOEButton> g_button;
plume_plugin::Connection g_rootEvents;

void UpdateButton() {
    long any = 0;
    if (g_root && g_button && SUCCEEDED(g_root->IsAnyMessageSelected(&any))) g_button->SetEnabled(any ? 1 : 0);
}

class SelectionSink final : public plume_plugin::EventSink {
public:
    SelectionSink() : EventSink(DIID_IPLUMEObjEvents) {}
    void OnEvent(DISPID id, DISPPARAMS*) override {
        if (id == root_events::OnMessageSelectionChanged || id == root_events::OnFolderSelectionChanged) UpdateButton();
    }
};

void Start() {
    if (FAILED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, g_root.put_void())))
        return;
    g_rootEvents.Connect(g_root.get(), DIID_IPLUMEObjEvents, new SelectionSink);
    plume_plugin::Text name(L"Reply later");
    if (SUCCEEDED(g_root->CreateToolbar(g_toolbar.put())))
        g_toolbar->CreateButton(name.get(), nullptr, nullptr, g_button.put());
    UpdateButton();
    plume_plugin::ReportReady();
}

void Stop() {
    g_rootEvents.Disconnect();
    if (g_root) g_root->RemoveAllToolbars();
    g_button.reset();
    g_toolbar.reset();
    g_root.reset();
}

}  // namespace

extern "C" __declspec(dllexport) void InitializePlugin() { plume_plugin::RunWhenReady(&Start, &Stop); }
