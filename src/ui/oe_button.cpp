#include "ui/oe_button.h"

#include "manager/plume_manager.h"

namespace plume {

const ClassIdentity kOEButtonIdentity = {IID_IOEButton, CLSID_OEButton, DIID_IOEButtonEvents};

OEButton::OEButton() : AutomationObject(kOEButtonIdentity) { PLUMEManager::Get(true)->AddButton(this); }

OEButton::~OEButton() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveButton(this);
}

LONG OEButton::RegistryKey() const { return id_; }

void OEButton::FireOnClick() { Fire("OnClick", 1); }
void OEButton::FireOnMsgWndClick(LONG msgWndId) { Fire("OnMsgWndClick", 2, {msgWndId}); }

STDMETHODIMP OEButton::Create(LONG, BSTR, BSTR, BSTR) { return NotImplemented("Create"); }
STDMETHODIMP OEButton::CreateSeparator(LONG) { return NotImplemented("CreateSeparator"); }
STDMETHODIMP OEButton::Destroy() { return NotImplemented("Destroy"); }
STDMETHODIMP OEButton::CreateSubButton(BSTR, BSTR, BSTR, IOEButton**) { return NotImplemented("CreateSubButton"); }
STDMETHODIMP OEButton::GetID(LONG*) { return NotImplemented("GetID"); }
STDMETHODIMP OEButton::SetEnabled(LONG) { return NotImplemented("SetEnabled"); }
STDMETHODIMP OEButton::SetShown(LONG) { return NotImplemented("SetShown"); }
STDMETHODIMP OEButton::SetName(BSTR) { return NotImplemented("SetName"); }
STDMETHODIMP OEButton::SetImageNormal(BSTR) { return NotImplemented("SetImageNormal"); }
STDMETHODIMP OEButton::SetImageMouseOver(BSTR) { return NotImplemented("SetImageMouseOver"); }
STDMETHODIMP OEButton::GetFirstSubButtonID(LONG*) { return NotImplemented("GetFirstSubButtonID"); }
STDMETHODIMP OEButton::GetNextSubButtonID(LONG*) { return NotImplemented("GetNextSubButtonID"); }
STDMETHODIMP OEButton::GetSubButtonByIndex(LONG, IOEButton**) { return NotImplemented("GetSubButtonByIndex"); }
STDMETHODIMP OEButton::IsSeparator(LONG*) { return NotImplemented("IsSeparator"); }
STDMETHODIMP OEButton::SetPopupStyle(LONG) { return NotImplemented("SetPopupStyle"); }
STDMETHODIMP OEButton::SetCheckStyle(LONG) { return NotImplemented("SetCheckStyle"); }
STDMETHODIMP OEButton::SetChecked(LONG) { return NotImplemented("SetChecked"); }
STDMETHODIMP OEButton::IsChecked(LONG*) { return NotImplemented("IsChecked"); }
STDMETHODIMP OEButton::SetTooltip(BSTR) { return NotImplemented("SetTooltip"); }
STDMETHODIMP OEButton::IsVisible(LONG*) { return NotImplemented("IsVisible"); }
STDMETHODIMP OEButton::IsEnabled(LONG*) { return NotImplemented("IsEnabled"); }
STDMETHODIMP OEButton::GetName(BSTR*) { return NotImplemented("GetName"); }
STDMETHODIMP OEButton::CreateSubSeparator(IOEButton**) { return NotImplemented("CreateSubSeparator"); }
STDMETHODIMP OEButton::SetPicture(IPictureDisp*) { return NotImplemented("SetPicture"); }
STDMETHODIMP OEButton::SetPictureMouseOver(IPictureDisp*) { return NotImplemented("SetPictureMouseOver"); }

}  // namespace plume
