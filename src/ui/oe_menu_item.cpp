#include "ui/oe_menu_item.h"

#include "bstr.h"
#include "com_error.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu.h"

namespace plume {

const ClassIdentity kOEMenuItemIdentity = {IID_IOEMenuItem, CLSID_OEMenuItem, DIID_IOEMenuItemEvents};

namespace {

// An item's name in the narrow code page; longer names are refused.
std::string NameOf(BSTR name) {
    if (SysStringLen(name) > OEMenuRegistry::kMaxNameLength)
        throw_com_error(E_INVALIDARG, L"A menu item's name has at most 255 characters");
    return AnsiFromBstr(name);
}

}  // namespace

OEMenuItem::OEMenuItem() : AutomationObject(kOEMenuItemIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddMenuItem(this);
}

OEMenuItem::~OEMenuItem() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMenuItem(this);
}

LONG OEMenuItem::RegistryKey() const { return itemId_; }

void OEMenuItem::Bind(LONG itemId, LONG menuId, LONG menuIndex, LONG kind, std::shared_ptr<OEMenuRegistry> registry) {
    itemId_ = itemId;
    menuId_ = menuId;
    menuIndex_ = menuIndex;
    kind_ = kind;
    registry_ = std::move(registry);
}

void OEMenuItem::FireOnClick() { Fire("OnClick", 1); }
void OEMenuItem::FireOnMsgWndClick(LONG msgWndId) { Fire("OnMsgWndClick", 2, {msgWndId}); }

std::shared_ptr<OEMenuRegistry> OEMenuItem::Registry() {
    return registry_ ? registry_ : OEMenuRegistry::Global(true);
}

void OEMenuItem::CreateIn(LONG menuId, BSTR name, BSTR before, LONG subString, LONG position) {
    const std::string text = NameOf(name);
    PLUMEManager* manager = PLUMEManager::Get(true);
    OEMenu* found = manager->FindMenu(menuId);
    if (!found) return;
    com_ptr<OEMenu> menu(found);
    menu->CheckUsable();
    auto registry = menu->registry() ? menu->registry() : OEMenuRegistry::Global(true);
    const LONG itemId = registry->CreateItem(menu->kind(), menu->index(), text, AnsiFromBstr(before),
                                             subString, PostMenuItemClick, position < 0 ? -1 : position);
    Bind(itemId, menuId, menu->index(), menu->kind(), menu->registry());
    manager->AddMenuItemRecord(itemId_, menuId_, -1, registry_);
}

HRESULT OEMenuItem::NewSubItem(const char* method, BSTR name, IOEMenuItem** out) {
    return Call(method, out, [&] {
        *out = nullptr;
        const std::string text = NameOf(name);
        com_ptr<OEMenuItem> item = MakeObject<OEMenuItem>();
        auto registry = Registry();
        item->Bind(registry->CreateSubItem(itemId_, text, PostMenuItemClick), menuId_, menuIndex_, kind_, registry_);
        if (item->itemId_ != -1) PLUMEManager::Get(true)->AddMenuItemRecord(item->itemId_, menuId_, itemId_, registry_);
        *out = item.detach();
    });
}

STDMETHODIMP OEMenuItem::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = itemId_; });
}

STDMETHODIMP OEMenuItem::Create(LONG menuId, BSTR name) {
    return Call("Create", [&] { CreateIn(menuId, name, nullptr, 1, -1); });
}

STDMETHODIMP OEMenuItem::CreateBefore(LONG menuId, BSTR name, BSTR before, LONG subString) {
    return Call("CreateBefore", [&] { CreateIn(menuId, name, before, subString, -1); });
}

STDMETHODIMP OEMenuItem::CreateAt(LONG menuId, BSTR name, LONG position) {
    // A negative position is an item at the end.
    return Call("CreateAt", [&] { CreateIn(menuId, name, nullptr, 0, position); });
}

STDMETHODIMP OEMenuItem::CreateSubItem(BSTR name, IOEMenuItem** newItem) {
    return NewSubItem("CreateSubItem", name, newItem);
}

STDMETHODIMP OEMenuItem::CreateSeparator(IOEMenuItem** newItem) {
    bstr empty(L"");
    return NewSubItem("CreateSeparator", empty.get(), newItem);
}

STDMETHODIMP OEMenuItem::Destroy() {
    return Call("Destroy", [&] {
        PLUMEManager::Get(true)->RemoveMenuItemRecord(itemId_);
        Registry()->DestroyItem(itemId_);
    });
}

STDMETHODIMP OEMenuItem::SetEnabled(LONG enabled) {
    return Call("SetEnabled", [&] { Registry()->SetEnabled(itemId_, enabled); });
}
STDMETHODIMP OEMenuItem::SetCheck(LONG check) {
    return Call("SetCheck", [&] { Registry()->SetCheck(itemId_, check); });
}
STDMETHODIMP OEMenuItem::SetChecked(LONG checked) {
    return Call("SetChecked", [&] { Registry()->SetChecked(itemId_, checked); });
}
STDMETHODIMP OEMenuItem::SetVisible(LONG visible) {
    return Call("SetVisible", [&] { Registry()->SetVisible(itemId_, visible); });
}
STDMETHODIMP OEMenuItem::SetText(BSTR name) {
    return Call("SetText", [&] { Registry()->SetText(itemId_, NameOf(name)); });
}
STDMETHODIMP OEMenuItem::IsChecked(LONG* state) {
    return Call("IsChecked", state, [&] { *state = Registry()->IsChecked(itemId_); });
}
STDMETHODIMP OEMenuItem::IsVisible(LONG* visible) {
    return Call("IsVisible", visible, [&] { *visible = Registry()->IsVisible(itemId_); });
}
STDMETHODIMP OEMenuItem::IsEnabled(LONG* enabled) {
    return Call("IsEnabled", enabled, [&] { *enabled = Registry()->IsEnabled(itemId_); });
}
STDMETHODIMP OEMenuItem::GetText(BSTR* name) {
    return Call("GetText", name, [&] {
        const std::string text = Registry()->GetText(itemId_);
        *name = bstr(AnsiToWide(text.c_str(), static_cast<int>(text.size()))).detach();
    });
}

}  // namespace plume
