// OEMenuItem: the automation handle on one menu item, named by its id in a
// menu-item registry (a message window's, or the process-wide one). Items
// outlive their objects; only Destroy (or the root's RemoveAllMenuItems)
// takes an item away.
#pragma once

#include <plume.h>

#include <memory>
#include <string>

#include "server/automation_object.h"

namespace plume {

class OEMenuRegistry;

extern const ClassIdentity kOEMenuItemIdentity;

class OEMenuItem final : public AutomationObject<IOEMenuItem> {
public:
    OEMenuItem();
    ~OEMenuItem() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;
    LONG menuId() const { return menuId_; }

    // Stands for an existing item.
    void Bind(LONG itemId, LONG menuId, LONG menuIndex, LONG kind, std::shared_ptr<OEMenuRegistry> registry);

    // A new item in the menu with `menuId` (none held: nothing happens); a
    // menu whose items could never show raises a com_error saying why.
    void CreateIn(LONG menuId, BSTR name, BSTR before, LONG subString, LONG position);

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
    // The item's registry: the menu's, else the process-wide one.
    std::shared_ptr<OEMenuRegistry> Registry();
    // A new sub-item object of this item.
    HRESULT NewSubItem(const char* method, BSTR name, IOEMenuItem** out);

    LONG itemId_ = -1;
    LONG menuId_ = -1;
    LONG menuIndex_ = -1;
    LONG kind_ = 0;
    std::shared_ptr<OEMenuRegistry> registry_;
};

}  // namespace plume
