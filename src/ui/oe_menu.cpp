#include "ui/oe_menu.h"

#include "manager/plume_manager.h"

namespace plume {

const ClassIdentity kOEMenuIdentity = {IID_IOEMenu, CLSID_OEMenu, DIID_IOEMenuEvents};

OEMenu::OEMenu() : AutomationObject(kOEMenuIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddMenu(this);
}

OEMenu::~OEMenu() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMenu(this);
}

LONG OEMenu::RegistryKey() const { return id_; }

void OEMenu::FireOnItemClicked(LONG itemId) { Fire("OnItemClicked", 1, {itemId}); }
void OEMenu::FireOnMsgWndItemClicked(LONG itemId, LONG msgWndId) {
    Fire("OnMsgWndItemClicked", 2, {itemId, msgWndId});
}

STDMETHODIMP OEMenu::GetIndex(LONG*) { return NotImplemented("GetIndex"); }
STDMETHODIMP OEMenu::CreateItem(BSTR, ::OEMenuItem**) { return NotImplemented("CreateItem"); }
STDMETHODIMP OEMenu::CreateItemBefore(BSTR, BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateItemBefore"); }
STDMETHODIMP OEMenu::CreateSeparator(IOEMenuItem**) { return NotImplemented("CreateSeparator"); }
STDMETHODIMP OEMenu::CreateSeparatorBefore(BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateSeparatorBefore"); }
STDMETHODIMP OEMenu::CreateItemAt(BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateItemAt"); }
STDMETHODIMP OEMenu::CreateSeparatorAt(LONG, IOEMenuItem**) { return NotImplemented("CreateSeparatorAt"); }

}  // namespace plume
