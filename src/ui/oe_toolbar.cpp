#include "ui/oe_toolbar.h"

#include "manager/plume_manager.h"
#include "ui/oe_button.h"
#include "server/error_info.h"
#include "ui/toolbar_registry.h"

namespace plume {

const ClassIdentity kOEToolbarIdentity = {IID_IOEToolbar, CLSID_OEToolbar, DIID_IOEToolbarEvents};

namespace {
constexpr LONG kNoMaskColor = static_cast<LONG>(0xFF000000);
}  // namespace

OEToolbar::OEToolbar() : AutomationObject(kOEToolbarIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddToolbar(this);
}

OEToolbar::~OEToolbar() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveToolbar(this);
}

LONG OEToolbar::RegistryKey() const { return toolbarId_; }

void OEToolbar::Bind(LONG toolbarId, LONG ownerId, LONG hostSerial) {
    toolbarId_ = toolbarId;
    ownerId_ = ownerId;
    hostSerial_ = hostSerial;
}

void OEToolbar::WrapHostToolbar(LONG wndStyle, LONG plumeId) {
    ownerId_ = plumeId;
    std::shared_ptr<OEToolbarRegistry> registry = OEToolbarRegistry::Get(true);
    if (!registry) return;
    OEToolbarHost& host = wndStyle == 0 ? registry->mainHost() : registry->msgWndTemplates();
    locked_ref<OEPluginToolbar> tb(host.NewToolbar());
    if (!tb) return;
    tb->wrapsHostToolbar = true;
    tb->wndStyleMask = wndStyle;
    toolbarId_ = tb->id;
    tb->EnsureWindow(ownerId_, false);
}

locked_ref<OEPluginToolbar> OEToolbar::Record() {
    if (toolbarId_ == -1) {
        std::shared_ptr<OEToolbarRegistry> registry = OEToolbarRegistry::Get(true);
        if (!registry) return {};
        ToolbarPtr fresh = registry->mainHost().NewToolbar();
        toolbarId_ = fresh->id;
        return locked_ref<OEPluginToolbar>(std::move(fresh));
    }
    return locked_ref<OEPluginToolbar>(FindToolbarIn(hostSerial_, toolbarId_));
}

com_ptr<OEButton> OEToolbar::NewButton() {
    com_ptr<OEButton> button = MakeObject<OEButton>();
    button->SetHost(hostSerial_);
    return button;
}

void OEToolbar::FireOnButtonClicked(LONG buttonId) { Fire("OnButtonClicked", 1, {buttonId}); }
void OEToolbar::FireOnButtonMsgWndClicked(LONG buttonId, LONG msgWndId) {
    Fire("OnButtonMsgWndClicked", 2, {buttonId, msgWndId});
}

STDMETHODIMP OEToolbar::SetShown(LONG show) {
    return Call("SetShown", [&] {
        if (auto tb = Record()) tb->Show(show != 0);
    });
}

STDMETHODIMP OEToolbar::CreateButton(BSTR name, BSTR bmpNormal, BSTR bmpMouseOver, IOEButton** out) {
    return Call("CreateButton", out, [&] {
        *out = nullptr;
        Record().reset();
        com_ptr<OEButton> button = NewButton();
        ThrowIfFailedKeepingDescription(button->Create(toolbarId_, name, bmpNormal, bmpMouseOver));
        *out = button.detach();
    });
}

STDMETHODIMP OEToolbar::CreateSeparator(IOEButton** out) {
    return Call("CreateSeparator", out, [&] {
        *out = nullptr;
        Record().reset();
        com_ptr<OEButton> button = NewButton();
        ThrowIfFailedKeepingDescription(button->CreateSeparator(toolbarId_));
        *out = button.detach();
    });
}

STDMETHODIMP OEToolbar::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = toolbarId_; });
}

STDMETHODIMP OEToolbar::Create(LONG plumeId) {
    return Call("Create", [&] {
        ownerId_ = plumeId;
        if (auto tb = Record()) tb->EnsureWindow(ownerId_, false);
    });
}

STDMETHODIMP OEToolbar::CreateInMsgWnd(enum tagWNDSTYLE wndStyle, LONG plumeId) {
    return Call("CreateInMsgWnd", [&] {
        ownerId_ = plumeId;
        hostSerial_ = 0;
        std::shared_ptr<OEToolbarRegistry> registry = OEToolbarRegistry::Get(true);
        if (!registry) return;
        locked_ref<OEPluginToolbar> tb(registry->msgWndTemplates().NewToolbar());
        if (!tb) return;
        tb->wndStyleMask = wndStyle;
        toolbarId_ = tb->id;
        tb->EnsureWindow(ownerId_, false);
    });
}

STDMETHODIMP OEToolbar::Destroy() {
    return Call("Destroy", [&] {
        if (auto tb = Record()) tb->Destroy();
    });
}

STDMETHODIMP OEToolbar::SetLargeButtons(LONG largeBtns) {
    return Call("SetLargeButtons", [&] {
        if (auto tb = Record()) tb->SetLargeButtons(largeBtns != 0);
    });
}

STDMETHODIMP OEToolbar::GetFirstButtonID(LONG* buttonId) {
    if (!buttonId) return E_POINTER;
    cursor_ = 0;
    return GetNextButtonID(buttonId);
}

STDMETHODIMP OEToolbar::GetNextButtonID(LONG* buttonId) {
    return Call("GetNextButtonID", buttonId, [&] {
        *buttonId = -1;
        auto tb = Record();
        if (!tb) return;
        const LONG index = cursor_++;
        const std::vector<ButtonPtr> buttons = tb->Buttons();
        if (index >= 0 && static_cast<size_t>(index) < buttons.size())
            *buttonId = buttons[index]->commandId;
        else
            cursor_ = -1;
    });
}

STDMETHODIMP OEToolbar::GetButton(LONG buttonId, IOEButton** out) {
    return Call("GetButton", out, [&] {
        *out = nullptr;
        auto tb = Record();
        if (!tb || !tb->FindButton(buttonId)) return;
        com_ptr<OEButton> button = NewButton();
        button->Bind(buttonId, toolbarId_, hostSerial_);
        *out = button.detach();
    });
}

STDMETHODIMP OEToolbar::GetButtonByIndex(LONG index, IOEButton** out) {
    return Call("GetButtonByIndex", out, [&] {
        *out = nullptr;
        auto tb = Record();
        if (!tb) return;
        const std::vector<ButtonPtr> buttons = tb->Buttons();
        if (index < 0 || static_cast<size_t>(index) >= buttons.size()) return;
        com_ptr<OEButton> button = NewButton();
        button->Bind(buttons[index]->commandId, toolbarId_, hostSerial_);
        *out = button.detach();
    });
}

STDMETHODIMP OEToolbar::GetHandle(LONG* handle) {
    return Call("GetHandle", handle, [&] {
        auto tb = Record();
        *handle = tb ? static_cast<LONG>(reinterpret_cast<INT_PTR>(tb->window)) : 0;
    });
}

STDMETHODIMP OEToolbar::SetMaxTextRows(LONG rows) {
    return Call("SetMaxTextRows", [&] {
        if (auto tb = Record()) tb->SetMaxTextRows(rows);
    });
}

STDMETHODIMP OEToolbar::EnableTooltips(LONG enable) {
    return Call("EnableTooltips", [&] {
        if (auto tb = Record()) tb->EnableTooltips(enable != 0);
    });
}

STDMETHODIMP OEToolbar::SetMaskColor(LONG color) {
    return Call("SetMaskColor", [&] {
        if (auto tb = Record()) tb->maskColor = static_cast<COLORREF>(color);
    });
}

STDMETHODIMP OEToolbar::GetMaskColor(LONG* color) {
    return Call("GetMaskColor", color, [&] {
        auto tb = Record();
        *color = tb ? static_cast<LONG>(tb->maskColor) : kNoMaskColor;
    });
}

STDMETHODIMP OEToolbar::SetPictureSize(LONG cx, LONG cy, LONG* res) {
    return Call("SetPictureSize", res, [&] {
        auto tb = Record();
        *res = tb ? tb->SetPictureSize(cx, cy) : 0;
    });
}

STDMETHODIMP OEToolbar::GetPictureSize(LONG* cx, LONG* cy, LONG* res) {
    if (!cx || !cy) return E_POINTER;
    return Call("GetPictureSize", res, [&] {
        *cx = *cy = *res = 0;
        if (auto tb = Record()) *res = tb->GetPictureSize(cx, cy);
    });
}

}  // namespace plume
