#include "host/oe_msg_wnd.h"

#include "host/msg_wnd_list.h"
#include "manager/plume_manager.h"

namespace plume {

const ClassIdentity kOEMsgWndIdentity = {IID_IOEMsgWnd, CLSID_OEMsgWnd, DIID_IOEMsgWndEvents};

OEMsgWnd::OEMsgWnd() : AutomationObject(kOEMsgWndIdentity) { PLUMEManager::Get(true)->AddMsgWnd(this); }

OEMsgWnd::~OEMsgWnd() {
    if (record_) UnlockMsgWnd(record_);
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMsgWnd(this);
}

LONG OEMsgWnd::RegistryKey() const { return record_ ? record_->id() : -1; }

void OEMsgWnd::Bind(LONG msgWndId) {
    if (record_) return;
    record_ = FindMsgWnd(MsgWndHandle(msgWndId), true);
}

void OEMsgWnd::FireOnToolbarButtonClicked(LONG toolbarId, LONG buttonId) {
    Fire("OnToolbarButtonClicked", 1, {toolbarId, buttonId});
}
void OEMsgWnd::FireOnMenuItemClicked(LONG menuIndex, LONG menuItemId) {
    Fire("OnMenuItemClicked", 2, {menuIndex, menuItemId});
}
void OEMsgWnd::FireOnClose(LONG isMainWindow) { Fire("OnClose", 3, {isMainWindow}); }

STDMETHODIMP OEMsgWnd::GetTo(BSTR*) { return NotImplemented("GetTo"); }
STDMETHODIMP OEMsgWnd::SetTo(BSTR) { return NotImplemented("SetTo"); }
STDMETHODIMP OEMsgWnd::GetCc(BSTR*) { return NotImplemented("GetCc"); }
STDMETHODIMP OEMsgWnd::SetCc(BSTR) { return NotImplemented("SetCc"); }
STDMETHODIMP OEMsgWnd::CancelSend() {
    return Call("CancelSend", [&] {
        if (record_) record_->cancelSend = 1;
    });
}
STDMETHODIMP OEMsgWnd::GetSubject(BSTR*) { return NotImplemented("GetSubject"); }
STDMETHODIMP OEMsgWnd::SetSubject(BSTR) { return NotImplemented("SetSubject"); }
STDMETHODIMP OEMsgWnd::GetBody(BSTR*) { return NotImplemented("GetBody"); }
STDMETHODIMP OEMsgWnd::GetBodyLength(LONG*) { return NotImplemented("GetBodyLength"); }
STDMETHODIMP OEMsgWnd::SetBody(BSTR*) { return NotImplemented("SetBody"); }
STDMETHODIMP OEMsgWnd::SetBodyHTML(BSTR*) { return NotImplemented("SetBodyHTML"); }
STDMETHODIMP OEMsgWnd::GetWndStyle(enum tagWNDSTYLE* wndStyle) {
    return Call("GetWndStyle", wndStyle, [&] { *wndStyle = static_cast<tagWNDSTYLE>(plume::GetWndStyle(record_)); });
}
STDMETHODIMP OEMsgWnd::SendMail() {
    return Call("SendMail", [&] {
        if (record_ && record_->toolbarHost) PressSend(record_->toolbarHost.get(), 0);
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
STDMETHODIMP OEMsgWnd::GetToolbarByIndex(LONG, IOEToolbar**) { return NotImplemented("GetToolbarByIndex"); }
STDMETHODIMP OEMsgWnd::GetToolbar(LONG, IOEToolbar**) { return NotImplemented("GetToolbar"); }
STDMETHODIMP OEMsgWnd::GetMenu(LONG, IOEMenu**) { return NotImplemented("GetMenu"); }
STDMETHODIMP OEMsgWnd::GetMenuItem(LONG, IOEMenuItem**) { return NotImplemented("GetMenuItem"); }
STDMETHODIMP OEMsgWnd::GetIHTMLDocument2(IDispatch**) { return NotImplemented("GetIHTMLDocument2"); }
STDMETHODIMP OEMsgWnd::GetBcc(BSTR*) { return NotImplemented("GetBcc"); }
STDMETHODIMP OEMsgWnd::SetBcc(BSTR) { return NotImplemented("SetBcc"); }

}  // namespace plume
