// OEMenu: the automation handle on one menu of a menu bar.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

extern const ClassIdentity kOEMenuIdentity;

class OEMenu final : public AutomationObject<IOEMenu> {
public:
    OEMenu();
    ~OEMenu() override;

    STDMETHODIMP GetIndex(LONG *unnamed_0) override;
    STDMETHODIMP CreateItem(BSTR name, ::OEMenuItem **item) override;
    STDMETHODIMP CreateItemBefore(BSTR name, BSTR before, LONG subString, IOEMenuItem **item) override;
    STDMETHODIMP CreateSeparator(IOEMenuItem **separator) override;
    STDMETHODIMP CreateSeparatorBefore(BSTR before, LONG subString, IOEMenuItem **separator) override;
    STDMETHODIMP CreateItemAt(BSTR name, LONG position, IOEMenuItem **item) override;
    STDMETHODIMP CreateSeparatorAt(LONG position, IOEMenuItem **item) override;
};

}  // namespace plume
