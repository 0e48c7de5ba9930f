#include "ui/oe_button.h"

#include <olectl.h>

#include "bstr.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "ui/toolbar_registry.h"

namespace plume {

const ClassIdentity kOEButtonIdentity = {IID_IOEButton, CLSID_OEButton, DIID_IOEButtonEvents};

namespace {

// The picture behind an IPictureDisp argument; false when it has none (a
// null argument is a picture of none).
bool QueryPicture(IPictureDisp* argument, com_ptr<IPicture>* picture) {
    if (!argument) return true;
    com_ptr<IPicture> given;
    if (FAILED(argument->QueryInterface(IID_IPicture, given.put_void())) || !given) return false;
    // A picture of another process is copied here while its client waits for
    // this call: drawing it needs a device context of this process, and the
    // client's thread must never call a client that may hang.
    com_ptr<IUnknown> proxy;
    if (FAILED(given->QueryInterface(IID_IClientSecurity, proxy.put_void())) || !proxy) {
        *picture = std::move(given);
        return true;
    }
    com_ptr<IStream> stream;
    LONG size = 0;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
        FAILED(given->SaveAsFile(stream.get(), TRUE, &size)))
        return false;
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return SUCCEEDED(OleLoadPicture(stream.get(), size, FALSE, IID_IPicture, picture->put_void())) && *picture;
}

}  // namespace

OEButton::OEButton() : AutomationObject(kOEButtonIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddButton(this);
}

OEButton::~OEButton() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveButton(this);
    if (pending_) {
        locked_ref<OEPluginButton> record(std::move(pending_));
        if (record) record->Destroy();
    }
}

LONG OEButton::RegistryKey() const { return buttonId_; }

void OEButton::Bind(LONG buttonId, LONG toolbarId, LONG hostSerial) {
    buttonId_ = buttonId;
    toolbarId_ = toolbarId;
    hostSerial_ = hostSerial;
}

OEButton::LockedButton OEButton::Record() {
    if (buttonId_ == -1) {
        pending_ = std::make_shared<OEPluginButton>();
        buttonId_ = pending_->commandId;
    }
    LockedButton locked;
    if (pending_) {
        locked.button = locked_ref<OEPluginButton>(pending_);
        return locked;
    }
    if (toolbarId_ != -1) locked.toolbar = locked_ref<OEPluginToolbar>(FindToolbarIn(hostSerial_, toolbarId_));
    locked.button = locked_ref<OEPluginButton>(FindButtonIn(hostSerial_, buttonId_));
    return locked;
}

void OEButton::FireOnClick() { Fire("OnClick", 1); }
void OEButton::FireOnMsgWndClick(LONG msgWndId) { Fire("OnMsgWndClick", 2, {msgWndId}); }

template <typename Setup>
void OEButton::Join(LONG toolbarId, Setup setup) {
    toolbarId_ = toolbarId;
    // The toolbar's lock before the button's.
    locked_ref<OEPluginToolbar> tb(FindToolbarIn(hostSerial_, toolbarId));
    if (!tb) return;
    ButtonPtr record = pending_ ? pending_ : std::make_shared<OEPluginButton>();
    buttonId_ = record->commandId;
    locked_ref<OEPluginButton> b(record);
    if (!b) return;
    setup(*b);
    AddButton(*tb, record);
    pending_.reset();
}

STDMETHODIMP OEButton::Create(LONG toolbarId, BSTR name, BSTR bmpNormal, BSTR bmpMouseOver) {
    return Call("Create", [&] {
        const std::string text = AnsiFromBstr(name), normal = AnsiFromBstr(bmpNormal), over = AnsiFromBstr(bmpMouseOver);
        Join(toolbarId, [&](OEPluginButton& b) {
            b.SetName(text);
            b.SetImageNormal(normal);
            b.SetImageMouseOver(over);
            b.clickHandler = PostButtonClick;
        });
    });
}

STDMETHODIMP OEButton::CreateSeparator(LONG toolbarId) {
    return Call("CreateSeparator", [&] { Join(toolbarId, [](OEPluginButton& b) { b.separator = true; }); });
}

STDMETHODIMP OEButton::Destroy() {
    return Call("Destroy", [&] {
        if (auto b = Record()) b->Destroy();
        pending_.reset();
    });
}

template <typename Setup>
HRESULT OEButton::NewSub(const char* method, IOEButton** out, Setup setup) {
    return Call(method, out, [&] {
        *out = nullptr;
        if (buttonId_ == -1) return;
        auto parent = Record();
        if (!parent) return;
        auto record = std::make_shared<OEPluginButton>();
        {
            locked_ref<OEPluginButton> sub(record);
            setup(*sub);
        }
        AddSubButton(parent.button.shared(), record);
        com_ptr<OEButton> button = MakeObject<OEButton>();
        button->Bind(record->commandId, toolbarId_, hostSerial_);
        *out = button.detach();
    });
}

STDMETHODIMP OEButton::CreateSubButton(BSTR name, BSTR bmpNormal, BSTR bmpMouseOver, IOEButton** out) {
    const std::string text = AnsiFromBstr(name), normal = AnsiFromBstr(bmpNormal), over = AnsiFromBstr(bmpMouseOver);
    return NewSub("CreateSubButton", out, [&](OEPluginButton& b) {
        b.SetName(text);
        b.SetImageNormal(normal);
        b.SetImageMouseOver(over);
        b.clickHandler = PostButtonClick;
    });
}

STDMETHODIMP OEButton::CreateSubSeparator(IOEButton** out) {
    return NewSub("CreateSubSeparator", out, [](OEPluginButton& b) { b.separator = true; });
}

STDMETHODIMP OEButton::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = buttonId_; });
}

STDMETHODIMP OEButton::SetEnabled(LONG enabled) {
    return Call("SetEnabled", [&] {
        if (auto b = Record()) b->SetEnabled(enabled != 0);
    });
}

STDMETHODIMP OEButton::SetShown(LONG show) {
    return Call("SetShown", [&] {
        if (auto b = Record()) b->SetShown(show != 0);
    });
}

STDMETHODIMP OEButton::SetName(BSTR name) {
    return Call("SetName", [&] {
        const std::string text = AnsiFromBstr(name);
        if (auto b = Record()) b->SetName(text);
    });
}

STDMETHODIMP OEButton::SetImageNormal(BSTR bmpNormal) {
    return Call("SetImageNormal", [&] {
        const std::string path = AnsiFromBstr(bmpNormal);
        if (auto b = Record()) b->SetImageNormal(path);
    });
}

STDMETHODIMP OEButton::SetImageMouseOver(BSTR bmp) {
    return Call("SetImageMouseOver", [&] {
        const std::string path = AnsiFromBstr(bmp);
        if (auto b = Record()) b->SetImageMouseOver(path);
    });
}

STDMETHODIMP OEButton::SetTooltip(BSTR tooltip) {
    return Call("SetTooltip", [&] {
        const std::string text = AnsiFromBstr(tooltip);
        if (auto b = Record()) b->SetTooltip(text);
    });
}

STDMETHODIMP OEButton::GetFirstSubButtonID(LONG* buttonId) {
    if (!buttonId) return E_POINTER;
    subCursor_ = 0;
    return GetNextSubButtonID(buttonId);
}

STDMETHODIMP OEButton::GetNextSubButtonID(LONG* buttonId) {
    return Call("GetNextSubButtonID", buttonId, [&] {
        *buttonId = -1;
        ToolbarPtr tb = OEToolbarRegistry::FindToolbar(toolbarId_);
        if (!tb) return;
        ButtonPtr button = tb->FindButton(buttonId_);
        if (!button) {
            subCursor_ = -1;
            return;
        }
        const LONG index = subCursor_++;
        const std::vector<ButtonPtr> subs = button->SubButtons();
        if (index >= 0 && static_cast<size_t>(index) < subs.size())
            *buttonId = subs[index]->commandId;
        else
            subCursor_ = -1;
    });
}

STDMETHODIMP OEButton::GetSubButtonByIndex(LONG index, IOEButton** out) {
    return Call("GetSubButtonByIndex", out, [&] {
        *out = nullptr;
        auto b = Record();
        if (!b) return;
        const std::vector<ButtonPtr> subs = b->SubButtons();
        if (index < 0 || static_cast<size_t>(index) >= subs.size()) return;
        com_ptr<OEButton> button = MakeObject<OEButton>();
        button->Bind(subs[index]->commandId, toolbarId_, hostSerial_);
        *out = button.detach();
    });
}

STDMETHODIMP OEButton::IsSeparator(LONG* isSep) {
    return Call("IsSeparator", isSep, [&] {
        auto b = Record();
        *isSep = b && b->separator ? 1 : 0;
    });
}

STDMETHODIMP OEButton::SetPopupStyle(LONG popup) {
    return Call("SetPopupStyle", [&] {
        if (auto b = Record()) b->SetPopupStyle(popup != 0);
    });
}

STDMETHODIMP OEButton::SetCheckStyle(LONG check) {
    return Call("SetCheckStyle", [&] {
        if (auto b = Record()) b->SetCheckStyle(check != 0);
    });
}

STDMETHODIMP OEButton::SetChecked(LONG checked) {
    return Call("SetChecked", [&] {
        if (auto b = Record()) b->SetChecked(checked != 0);
    });
}

STDMETHODIMP OEButton::IsChecked(LONG* state) {
    return Call("IsChecked", state, [&] {
        auto b = Record();
        *state = b && b->checked ? 1 : 0;
    });
}

STDMETHODIMP OEButton::IsVisible(LONG* visible) {
    return Call("IsVisible", visible, [&] {
        auto b = Record();
        *visible = b && !b->hidden ? 1 : 0;
    });
}

STDMETHODIMP OEButton::IsEnabled(LONG* enabled) {
    return Call("IsEnabled", enabled, [&] {
        auto b = Record();
        *enabled = b && b->enabled ? 1 : 0;
    });
}

STDMETHODIMP OEButton::GetName(BSTR* name) {
    return Call("GetName", name, [&] {
        *name = nullptr;
        auto b = Record();
        if (b) *name = bstr(AnsiToWide(b->name.c_str(), static_cast<int>(b->name.size()))).detach();
    });
}

STDMETHODIMP OEButton::SetPicture(IPictureDisp* normal) {
    return Call("SetPicture", [&] {
        com_ptr<IPicture> picture;
        if (!QueryPicture(normal, &picture)) return;
        if (auto b = Record()) b->SetPicture(picture.get());
    });
}

STDMETHODIMP OEButton::SetPictureMouseOver(IPictureDisp* over) {
    return Call("SetPictureMouseOver", [&] {
        com_ptr<IPicture> picture;
        if (!QueryPicture(over, &picture)) return;
        if (auto b = Record()) b->SetPictureMouseOver(picture.get());
    });
}

}  // namespace plume
