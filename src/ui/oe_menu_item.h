// OEMenuItem: the automation handle on one menu item.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

extern const ClassIdentity kOEMenuItemIdentity;

class OEMenuItem final : public AutomationObject<IOEMenuItem> {
public:
    OEMenuItem();
    ~OEMenuItem() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;

    // Event deliveries to this object's sinks.
    void FireOnClick();
    void FireOnMsgWndClick(LONG msgWndId);

    STDMETHODIMP GetID(LONG *Id) override;
    STDMETHODIMP Create(LONG menuId, BSTR name) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP CreateBefore(LONG menuId, BSTR name, BSTR before, LONG subString) override;
    STDMETHODIMP CreateSubItem(BSTR name, IOEMenuItem **newItem) override;
    STDMETHODIMP SetEnabled(LONG enabled) override;
    STDMETHODIMP CreateSeparator(IOEMenuItem **newItem) override;
    STDMETHODIMP SetCheck(LONG check) override;
    STDMETHODIMP SetChecked(LONG checked) override;
    STDMETHODIMP IsChecked(LONG *state) override;
    STDMETHODIMP SetVisible(LONG visible) override;
    STDMETHODIMP IsVisible(LONG *visible) override;
    STDMETHODIMP IsEnabled(LONG *enabled) override;
    STDMETHODIMP SetText(BSTR name) override;
    STDMETHODIMP GetText(BSTR *name) override;
    STDMETHODIMP CreateAt(LONG menuId, BSTR name, LONG position) override;

private:
    LONG id_ = -1;
};

}  // namespace plume
