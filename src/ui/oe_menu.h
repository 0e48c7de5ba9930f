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

    // Key of the manager's registry.
    LONG RegistryKey() const;
    // plumeId of the root object that obtained the menu.
    LONG ownerId() const { return ownerId_; }

    // Event deliveries to this object's sinks.
    void FireOnItemClicked(LONG itemId);
    void FireOnMsgWndItemClicked(LONG itemId, LONG msgWndId);

    STDMETHODIMP GetIndex(LONG *unnamed_0) override;
    STDMETHODIMP CreateItem(BSTR name, ::OEMenuItem **item) override;
    STDMETHODIMP CreateItemBefore(BSTR name, BSTR before, LONG subString, IOEMenuItem **item) override;
    STDMETHODIMP CreateSeparator(IOEMenuItem **separator) override;
    STDMETHODIMP CreateSeparatorBefore(BSTR before, LONG subString, IOEMenuItem **separator) override;
    STDMETHODIMP CreateItemAt(BSTR name, LONG position, IOEMenuItem **item) override;
    STDMETHODIMP CreateSeparatorAt(LONG position, IOEMenuItem **item) override;

private:
    LONG id_ = -1;
    LONG ownerId_ = -1;
};

}  // namespace plume
