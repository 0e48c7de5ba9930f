#include "ui/oe_menu.h"

namespace plume {

const ClassIdentity kOEMenuIdentity = {IID_IOEMenu, CLSID_OEMenu, DIID_IOEMenuEvents};

OEMenu::OEMenu() : AutomationObject(kOEMenuIdentity) {}

OEMenu::~OEMenu() = default;

STDMETHODIMP OEMenu::GetIndex(LONG*) { return NotImplemented("GetIndex"); }
STDMETHODIMP OEMenu::CreateItem(BSTR, ::OEMenuItem**) { return NotImplemented("CreateItem"); }
STDMETHODIMP OEMenu::CreateItemBefore(BSTR, BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateItemBefore"); }
STDMETHODIMP OEMenu::CreateSeparator(IOEMenuItem**) { return NotImplemented("CreateSeparator"); }
STDMETHODIMP OEMenu::CreateSeparatorBefore(BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateSeparatorBefore"); }
STDMETHODIMP OEMenu::CreateItemAt(BSTR, LONG, IOEMenuItem**) { return NotImplemented("CreateItemAt"); }
STDMETHODIMP OEMenu::CreateSeparatorAt(LONG, IOEMenuItem**) { return NotImplemented("CreateSeparatorAt"); }

}  // namespace plume
