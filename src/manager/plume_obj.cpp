#include "manager/plume_obj.h"

#include "manager/identifiers.h"

namespace plume {

const ClassIdentity kPLUMEObjIdentity = {IID_IPLUMEObj, CLSID_PLUMEObj, DIID_IPLUMEObjEvents};

PLUMEObj::PLUMEObj() : AutomationObject(kPLUMEObjIdentity), plumeId_(NextRootObjectId()) {}

PLUMEObj::~PLUMEObj() = default;

STDMETHODIMP PLUMEObj::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = plumeId_; });
}
STDMETHODIMP PLUMEObj::GetMenu(LONG, IOEMenu**) { return NotImplemented("GetMenu"); }
STDMETHODIMP PLUMEObj::GetMsgWnd(LONG, IOEMsgWnd**) { return NotImplemented("GetMsgWnd"); }
STDMETHODIMP PLUMEObj::CreateToolbarInMsgWnd(enum tagWNDSTYLE, IOEToolbar**) { return NotImplemented("CreateToolbarInMsgWnd"); }
STDMETHODIMP PLUMEObj::GetOEToolbarInMsgWnd(enum tagWNDSTYLE, IOEToolbar**) { return NotImplemented("GetOEToolbarInMsgWnd"); }
STDMETHODIMP PLUMEObj::GetFirstMsgWndID(LONG*) { return NotImplemented("GetFirstMsgWndID"); }
STDMETHODIMP PLUMEObj::GetNextMsgWndID(LONG*) { return NotImplemented("GetNextMsgWndID"); }
STDMETHODIMP PLUMEObj::GetActiveMsgWndID(LONG*) { return NotImplemented("GetActiveMsgWndID"); }
STDMETHODIMP PLUMEObj::SendKey(LONG, LONG, LONG) { return NotImplemented("SendKey"); }
STDMETHODIMP PLUMEObj::CreateToolbar(IOEToolbar**) { return NotImplemented("CreateToolbar"); }
STDMETHODIMP PLUMEObj::GetOEToolbar(IOEToolbar**) { return NotImplemented("GetOEToolbar"); }
STDMETHODIMP PLUMEObj::GetFirstToolbarID(LONG*) { return NotImplemented("GetFirstToolbarID"); }
STDMETHODIMP PLUMEObj::GetNextToolbarID(LONG*) { return NotImplemented("GetNextToolbarID"); }
STDMETHODIMP PLUMEObj::GetToolbar(LONG, IOEToolbar**) { return NotImplemented("GetToolbar"); }
STDMETHODIMP PLUMEObj::RemoveAllToolbars() { return NotImplemented("RemoveAllToolbars"); }
STDMETHODIMP PLUMEObj::GetFirstMenuItemID(LONG*) { return NotImplemented("GetFirstMenuItemID"); }
STDMETHODIMP PLUMEObj::GetNextMenuItemID(LONG*) { return NotImplemented("GetNextMenuItemID"); }
STDMETHODIMP PLUMEObj::GetMenuItem(LONG, IOEMenuItem**) { return NotImplemented("GetMenuItem"); }
STDMETHODIMP PLUMEObj::RemoveAllMenuItems() { return NotImplemented("RemoveAllMenuItems"); }
STDMETHODIMP PLUMEObj::SendAndReceiveMessages() { return NotImplemented("SendAndReceiveMessages"); }
STDMETHODIMP PLUMEObj::SendMessage(LONG, LONG) { return NotImplemented("SendMessage"); }
STDMETHODIMP PLUMEObj::GetOEMainWindow(LONG*) { return NotImplemented("GetOEMainWindow"); }
STDMETHODIMP PLUMEObj::GetSelectedFolderID(LONG*) { return NotImplemented("GetSelectedFolderID"); }
STDMETHODIMP PLUMEObj::GetFirstSelectedMessageID(LONG*) { return NotImplemented("GetFirstSelectedMessageID"); }
STDMETHODIMP PLUMEObj::GetNextSelectedMessageID(LONG*) { return NotImplemented("GetNextSelectedMessageID"); }
STDMETHODIMP PLUMEObj::GetCurrentMessageID(LONG*) { return NotImplemented("GetCurrentMessageID"); }
STDMETHODIMP PLUMEObj::SetSelectedMessageID(LONG) { return NotImplemented("SetSelectedMessageID"); }
STDMETHODIMP PLUMEObj::AddSelectedMessageID(LONG) { return NotImplemented("AddSelectedMessageID"); }
STDMETHODIMP PLUMEObj::IsAnyMessageSelected(LONG*) { return NotImplemented("IsAnyMessageSelected"); }
STDMETHODIMP PLUMEObj::SetSelectedFolderID(LONG) { return NotImplemented("SetSelectedFolderID"); }
STDMETHODIMP PLUMEObj::OpenCurrentMessage() { return NotImplemented("OpenCurrentMessage"); }
STDMETHODIMP PLUMEObj::ComposeMessage() { return NotImplemented("ComposeMessage"); }
STDMETHODIMP PLUMEObj::GetMsgWndMenu(enum tagWNDSTYLE, LONG, IOEMenu**) { return NotImplemented("GetMsgWndMenu"); }
STDMETHODIMP PLUMEObj::GetMsgWndMenuItem(enum tagWNDSTYLE, LONG, IOEMenuItem**) { return NotImplemented("GetMsgWndMenuItem"); }

}  // namespace plume
