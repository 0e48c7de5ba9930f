#include "ui/oe_toolbar.h"

#include "manager/plume_manager.h"

namespace plume {

const ClassIdentity kOEToolbarIdentity = {IID_IOEToolbar, CLSID_OEToolbar, DIID_IOEToolbarEvents};

OEToolbar::OEToolbar() : AutomationObject(kOEToolbarIdentity) { PLUMEManager::Get(true)->AddToolbar(this); }

OEToolbar::~OEToolbar() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveToolbar(this);
}

LONG OEToolbar::RegistryKey() const { return id_; }

void OEToolbar::FireOnButtonClicked(LONG buttonId) { Fire("OnButtonClicked", 1, {buttonId}); }
void OEToolbar::FireOnButtonMsgWndClicked(LONG buttonId, LONG msgWndId) {
    Fire("OnButtonMsgWndClicked", 2, {buttonId, msgWndId});
}

STDMETHODIMP OEToolbar::SetShown(LONG) { return NotImplemented("SetShown"); }
STDMETHODIMP OEToolbar::CreateButton(BSTR, BSTR, BSTR, IOEButton**) { return NotImplemented("CreateButton"); }
STDMETHODIMP OEToolbar::CreateSeparator(IOEButton**) { return NotImplemented("CreateSeparator"); }
STDMETHODIMP OEToolbar::GetID(LONG*) { return NotImplemented("GetID"); }
STDMETHODIMP OEToolbar::Create(LONG) { return NotImplemented("Create"); }
STDMETHODIMP OEToolbar::CreateInMsgWnd(enum tagWNDSTYLE, LONG) { return NotImplemented("CreateInMsgWnd"); }
STDMETHODIMP OEToolbar::Destroy() { return NotImplemented("Destroy"); }
STDMETHODIMP OEToolbar::SetLargeButtons(LONG) { return NotImplemented("SetLargeButtons"); }
STDMETHODIMP OEToolbar::GetFirstButtonID(LONG*) { return NotImplemented("GetFirstButtonID"); }
STDMETHODIMP OEToolbar::GetNextButtonID(LONG*) { return NotImplemented("GetNextButtonID"); }
STDMETHODIMP OEToolbar::GetButton(LONG, IOEButton**) { return NotImplemented("GetButton"); }
STDMETHODIMP OEToolbar::GetButtonByIndex(LONG, IOEButton**) { return NotImplemented("GetButtonByIndex"); }
STDMETHODIMP OEToolbar::GetHandle(LONG*) { return NotImplemented("GetHandle"); }
STDMETHODIMP OEToolbar::SetMaxTextRows(LONG) { return NotImplemented("SetMaxTextRows"); }
STDMETHODIMP OEToolbar::EnableTooltips(LONG) { return NotImplemented("EnableTooltips"); }
STDMETHODIMP OEToolbar::SetMaskColor(LONG) { return NotImplemented("SetMaskColor"); }
STDMETHODIMP OEToolbar::GetMaskColor(LONG*) { return NotImplemented("GetMaskColor"); }
STDMETHODIMP OEToolbar::SetPictureSize(LONG, LONG, LONG*) { return NotImplemented("SetPictureSize"); }
STDMETHODIMP OEToolbar::GetPictureSize(LONG*, LONG*, LONG*) { return NotImplemented("GetPictureSize"); }

}  // namespace plume
