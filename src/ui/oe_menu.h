// OEMenu: the automation handle on one menu of a menu bar, named by its
// index, in the main window or in message windows.
#pragma once

#include <plume.h>

#include <memory>

#include "server/automation_object.h"

namespace plume {

class OEMenuRegistry;

extern const ClassIdentity kOEMenuIdentity;

class OEMenu final : public AutomationObject<IOEMenu> {
public:
    OEMenu();
    ~OEMenu() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;
    // plumeId of the root object that obtained the menu.
    LONG ownerId() const { return ownerId_; }
    LONG index() const { return index_; }
    LONG kind() const { return kind_; }
    // A message window's registry; null means the process-wide one.
    const std::shared_ptr<OEMenuRegistry>& registry() const { return registry_; }

    // Stands for menu `index` of windows of `kind` (0: the main window),
    // under a new menu id, obtained by root `ownerId`.
    void Bind(LONG index, LONG kind, std::shared_ptr<OEMenuRegistry> registry, LONG ownerId);
    // Raises a com_error saying why no item made here could ever show: no
    // window, a closed one, a kind without menus, no such menu in the bar.
    void CheckUsable() const;

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
    LONG index_ = -1;
    LONG kind_ = 0;
    LONG ownerId_ = -1;
    std::shared_ptr<OEMenuRegistry> registry_;
};

}  // namespace plume
