#include "host/oe_msg_wnd.h"

#include "host/msg_content.h"
#include "host/msg_wnd_list.h"
#include "manager/plume_manager.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu.h"
#include "ui/oe_menu_item.h"
#include "ui/oe_toolbar.h"
#include "ui/toolbar_registry.h"

namespace plume {

const ClassIdentity kOEMsgWndIdentity = {IID_IOEMsgWnd, CLSID_OEMsgWnd, DIID_IOEMsgWndEvents};

OEMsgWnd::OEMsgWnd() : AutomationObject(kOEMsgWndIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddMsgWnd(this);
}

OEMsgWnd::~OEMsgWnd() {
    if (record_) UnlockMsgWnd(record_);
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMsgWnd(this);
}

LONG OEMsgWnd::RegistryKey() const { return record_ ? record_->id() : -1; }

void OEMsgWnd::Unbind() {
    if (!record_) return;
    OEPluginMsgWnd* record = record_;
    record_ = nullptr;
    UnlockMsgWnd(record);
}

void OEMsgWnd::Bind(LONG msgWndId) {
    if (record_) return;
    OEPluginMsgWnd* record = FindMsgWnd(MsgWndHandle(msgWndId), true);
    // A window that is closing takes no new holder: its removal waits for them.
    if (record && IsRecordBeingRemoved(record)) {
        UnlockMsgWnd(record);
        record = nullptr;
    }
    record_ = record;
}

void OEMsgWnd::FireOnToolbarButtonClicked(LONG toolbarId, LONG buttonId) {
    Fire("OnToolbarButtonClicked", 1, {toolbarId, buttonId});
}
void OEMsgWnd::FireOnMenuItemClicked(LONG menuIndex, LONG menuItemId) {
    Fire("OnMenuItemClicked", 2, {menuIndex, menuItemId});
}
void OEMsgWnd::FireOnClose(LONG isMainWindow) { Fire("OnClose", 3, {isMainWindow}); }

STDMETHODIMP OEMsgWnd::GetTo(BSTR* address) {
    return Call("GetTo", address, [&] { *address = record_ ? GetEnvelopeField(record_, kEnvelopeTo).detach() : nullptr; });
}
STDMETHODIMP OEMsgWnd::SetTo(BSTR address) {
    return Call("SetTo", [&] {
        if (record_) SetEnvelopeField(record_, kEnvelopeTo, address);
    });
}
STDMETHODIMP OEMsgWnd::GetCc(BSTR* address) {
    return Call("GetCc", address, [&] { *address = record_ ? GetEnvelopeField(record_, kEnvelopeCc).detach() : nullptr; });
}
STDMETHODIMP OEMsgWnd::SetCc(BSTR address) {
    return Call("SetCc", [&] {
        if (record_) SetEnvelopeField(record_, kEnvelopeCc, address);
    });
}
STDMETHODIMP OEMsgWnd::CancelSend() {
    return Call("CancelSend", [&] {
        if (record_) record_->cancelSend = 1;
    });
}
STDMETHODIMP OEMsgWnd::GetSubject(BSTR* subject) {
    return Call("GetSubject", subject, [&] { *subject = record_ ? GetEnvelopeField(record_, kEnvelopeSubject).detach() : nullptr; });
}
STDMETHODIMP OEMsgWnd::SetSubject(BSTR subject) {
    return Call("SetSubject", [&] {
        if (record_) SetEnvelopeField(record_, kEnvelopeSubject, subject);
    });
}
STDMETHODIMP OEMsgWnd::GetBody(BSTR* body) {
    return Call("GetBody", body, [&] { *body = record_ ? plume::GetBody(record_).detach() : nullptr; });
}
STDMETHODIMP OEMsgWnd::GetBodyLength(LONG* length) {
    return Call("GetBodyLength", length, [&] { *length = record_ ? plume::GetBodyLength(record_) : 0; });
}
STDMETHODIMP OEMsgWnd::SetBody(BSTR* body) {
    return Call("SetBody", [&] {
        if (record_) plume::SetBody(record_, body ? *body : nullptr);
    });
}
STDMETHODIMP OEMsgWnd::SetBodyHTML(BSTR* body) {
    return Call("SetBodyHTML", [&] {
        if (record_) plume::SetBodyHTML(record_, body ? *body : nullptr);
    });
}
STDMETHODIMP OEMsgWnd::GetWndStyle(enum tagWNDSTYLE* wndStyle) {
    return Call("GetWndStyle", wndStyle, [&] { *wndStyle = static_cast<tagWNDSTYLE>(plume::GetWndStyle(record_)); });
}
STDMETHODIMP OEMsgWnd::SendMail() {
    return Call("SendMail", [&] {
        if (record_ && record_->toolbarHost) PressSend(record_->toolbarHost.get(), 0, record_->window);
    });
}
STDMETHODIMP OEMsgWnd::SendKey(LONG keyCode, LONG controlCode, LONG setForeground) {
    return Call("SendKey", [&] {
        if (record_ && record_->toolbarHost)
            SendKeys(record_->toolbarHost.get(), keyCode & 0xFF, controlCode & 0xFF, setForeground);
    });
}
STDMETHODIMP OEMsgWnd::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = RegistryKey(); });
}
namespace {

// A toolbar object bound to a toolbar of `host` (found locked, let go again).
com_ptr<OEToolbar> ToolbarOf(OEToolbarHost& host, const ToolbarPtr& found, LONG ownerId) {
    locked_ref<OEPluginToolbar> record(found);
    if (!record) return nullptr;
    com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
    toolbar->Bind(record->id, ownerId, host.serial());
    return toolbar;
}

}  // namespace

STDMETHODIMP OEMsgWnd::GetToolbarByIndex(LONG toolbarIndex, IOEToolbar** newToolbar) {
    return Call("GetToolbarByIndex", newToolbar, [&] {
        *newToolbar = nullptr;
        if (!record_ || !record_->toolbarHost) return;
        OEToolbarHost& host = *record_->toolbarHost;
        *newToolbar = ToolbarOf(host, host.ToolbarAt(toolbarIndex, -1), -1).detach();
    });
}
STDMETHODIMP OEMsgWnd::GetToolbar(LONG toolbarId, IOEToolbar** newToolbar) {
    return Call("GetToolbar", newToolbar, [&] {
        *newToolbar = nullptr;
        if (!record_ || !record_->toolbarHost) return;
        OEToolbarHost& host = *record_->toolbarHost;
        *newToolbar = ToolbarOf(host, host.FindToolbar(toolbarId), creatorId_).detach();
    });
}
STDMETHODIMP OEMsgWnd::GetMenu(LONG menuIdx, IOEMenu** newMenu) {
    return Call("GetMenu", newMenu, [&] {
        com_ptr<OEMenu> menu = MakeObject<OEMenu>();
        if (record_) menu->Bind(menuIdx, record_->styleCopy, record_->menu, creatorId_);
        *newMenu = menu.detach();
    });
}
STDMETHODIMP OEMsgWnd::GetMenuItem(LONG itemId, IOEMenuItem** item) {
    return Call("GetMenuItem", item, [&] {
        *item = nullptr;
        OEPluginMenuItem found;
        if (!record_ || !record_->menu || !record_->menu->FindItem(itemId, &found)) return;
        com_ptr<OEMenuItem> object = MakeObject<OEMenuItem>();
        object->Bind(found.id, -1, found.menuIndex, record_->styleCopy, record_->menu);
        *item = object.detach();
    });
}
STDMETHODIMP OEMsgWnd::GetIHTMLDocument2(IDispatch** html) {
    return Call("GetIHTMLDocument2", html, [&] { *html = record_ ? GetDocumentDispatch(record_) : nullptr; });
}
STDMETHODIMP OEMsgWnd::GetBcc(BSTR* address) {
    return Call("GetBcc", address, [&] { *address = record_ ? GetEnvelopeField(record_, kEnvelopeBcc).detach() : nullptr; });
}
STDMETHODIMP OEMsgWnd::SetBcc(BSTR address) {
    return Call("SetBcc", [&] {
        if (record_) SetEnvelopeField(record_, kEnvelopeBcc, address);
    });
}

}  // namespace plume
