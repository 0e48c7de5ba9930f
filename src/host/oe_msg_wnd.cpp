#include "host/oe_msg_wnd.h"

namespace plume {

const ClassIdentity kOEMsgWndIdentity = {IID_IOEMsgWnd, CLSID_OEMsgWnd, DIID_IOEMsgWndEvents};

OEMsgWnd::OEMsgWnd() : AutomationObject(kOEMsgWndIdentity) {}

OEMsgWnd::~OEMsgWnd() = default;

STDMETHODIMP OEMsgWnd::GetTo(BSTR*) { return NotImplemented("GetTo"); }
STDMETHODIMP OEMsgWnd::SetTo(BSTR) { return NotImplemented("SetTo"); }
STDMETHODIMP OEMsgWnd::GetCc(BSTR*) { return NotImplemented("GetCc"); }
STDMETHODIMP OEMsgWnd::SetCc(BSTR) { return NotImplemented("SetCc"); }
STDMETHODIMP OEMsgWnd::CancelSend() { return NotImplemented("CancelSend"); }
STDMETHODIMP OEMsgWnd::GetSubject(BSTR*) { return NotImplemented("GetSubject"); }
STDMETHODIMP OEMsgWnd::SetSubject(BSTR) { return NotImplemented("SetSubject"); }
STDMETHODIMP OEMsgWnd::GetBody(BSTR*) { return NotImplemented("GetBody"); }
STDMETHODIMP OEMsgWnd::GetBodyLength(LONG*) { return NotImplemented("GetBodyLength"); }
STDMETHODIMP OEMsgWnd::SetBody(BSTR*) { return NotImplemented("SetBody"); }
STDMETHODIMP OEMsgWnd::SetBodyHTML(BSTR*) { return NotImplemented("SetBodyHTML"); }
STDMETHODIMP OEMsgWnd::GetWndStyle(enum tagWNDSTYLE*) { return NotImplemented("GetWndStyle"); }
STDMETHODIMP OEMsgWnd::SendMail() { return NotImplemented("SendMail"); }
STDMETHODIMP OEMsgWnd::SendKey(LONG, LONG, LONG) { return NotImplemented("SendKey"); }
STDMETHODIMP OEMsgWnd::GetID(LONG*) { return NotImplemented("GetID"); }
STDMETHODIMP OEMsgWnd::GetToolbarByIndex(LONG, IOEToolbar**) { return NotImplemented("GetToolbarByIndex"); }
STDMETHODIMP OEMsgWnd::GetToolbar(LONG, IOEToolbar**) { return NotImplemented("GetToolbar"); }
STDMETHODIMP OEMsgWnd::GetMenu(LONG, IOEMenu**) { return NotImplemented("GetMenu"); }
STDMETHODIMP OEMsgWnd::GetMenuItem(LONG, IOEMenuItem**) { return NotImplemented("GetMenuItem"); }
STDMETHODIMP OEMsgWnd::GetIHTMLDocument2(IDispatch**) { return NotImplemented("GetIHTMLDocument2"); }
STDMETHODIMP OEMsgWnd::GetBcc(BSTR*) { return NotImplemented("GetBcc"); }
STDMETHODIMP OEMsgWnd::SetBcc(BSTR) { return NotImplemented("SetBcc"); }

}  // namespace plume
