#include "ui/oe_menu_item.h"

#include "manager/plume_manager.h"

namespace plume {

const ClassIdentity kOEMenuItemIdentity = {IID_IOEMenuItem, CLSID_OEMenuItem, DIID_IOEMenuItemEvents};

OEMenuItem::OEMenuItem() : AutomationObject(kOEMenuItemIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddMenuItem(this);
}

OEMenuItem::~OEMenuItem() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMenuItem(this);
}

LONG OEMenuItem::RegistryKey() const { return id_; }

void OEMenuItem::FireOnClick() { Fire("OnClick", 1); }
void OEMenuItem::FireOnMsgWndClick(LONG msgWndId) { Fire("OnMsgWndClick", 2, {msgWndId}); }

STDMETHODIMP OEMenuItem::GetID(LONG*) { return NotImplemented("GetID"); }
STDMETHODIMP OEMenuItem::Create(LONG, BSTR) { return NotImplemented("Create"); }
STDMETHODIMP OEMenuItem::Destroy() { return NotImplemented("Destroy"); }
STDMETHODIMP OEMenuItem::CreateBefore(LONG, BSTR, BSTR, LONG) { return NotImplemented("CreateBefore"); }
STDMETHODIMP OEMenuItem::CreateSubItem(BSTR, IOEMenuItem**) { return NotImplemented("CreateSubItem"); }
STDMETHODIMP OEMenuItem::SetEnabled(LONG) { return NotImplemented("SetEnabled"); }
STDMETHODIMP OEMenuItem::CreateSeparator(IOEMenuItem**) { return NotImplemented("CreateSeparator"); }
STDMETHODIMP OEMenuItem::SetCheck(LONG) { return NotImplemented("SetCheck"); }
STDMETHODIMP OEMenuItem::SetChecked(LONG) { return NotImplemented("SetChecked"); }
STDMETHODIMP OEMenuItem::IsChecked(LONG*) { return NotImplemented("IsChecked"); }
STDMETHODIMP OEMenuItem::SetVisible(LONG) { return NotImplemented("SetVisible"); }
STDMETHODIMP OEMenuItem::IsVisible(LONG*) { return NotImplemented("IsVisible"); }
STDMETHODIMP OEMenuItem::IsEnabled(LONG*) { return NotImplemented("IsEnabled"); }
STDMETHODIMP OEMenuItem::SetText(BSTR) { return NotImplemented("SetText"); }
STDMETHODIMP OEMenuItem::GetText(BSTR*) { return NotImplemented("GetText"); }
STDMETHODIMP OEMenuItem::CreateAt(LONG, BSTR, LONG) { return NotImplemented("CreateAt"); }

}  // namespace plume
