#include "ui/oe_menu.h"

#include <string>

#include "bstr.h"
#include "com_error.h"
#include "manager/plume_manager.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu_item.h"

namespace plume {

const ClassIdentity kOEMenuIdentity = {IID_IOEMenu, CLSID_OEMenu, DIID_IOEMenuEvents};

OEMenu::OEMenu() : AutomationObject(kOEMenuIdentity) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddMenu(this);
}

OEMenu::~OEMenu() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveMenu(this);
}

LONG OEMenu::RegistryKey() const { return id_; }

void OEMenu::Bind(LONG index, LONG kind, std::shared_ptr<OEMenuRegistry> registry, LONG ownerId) {
    index_ = index;
    kind_ = kind;
    registry_ = std::move(registry);
    ownerId_ = ownerId;
    id_ = PLUMEManager::Get(true)->TakeMenuId();
}

void OEMenu::FireOnItemClicked(LONG itemId) { Fire("OnItemClicked", 1, {itemId}); }
void OEMenu::FireOnMsgWndItemClicked(LONG itemId, LONG msgWndId) {
    Fire("OnMsgWndItemClicked", 2, {itemId, msgWndId});
}

namespace {

// Menus in the bar of the window(s) a menu stands for, as far as the
// windows' menu openings told; -1 when unknown.
LONG MenuBarSize(const OEMenuRegistry* registry, LONG kind) {
    if (registry) return registry->barSize();
    if (kind != 0) return OEMenuRegistry::LargestMsgWndBar();
    auto global = OEMenuRegistry::Global(false);
    return global ? global->barSize() : -1;
}

// A new item object made by `create` on it; the object is the result.
template <typename Out, typename Create>
void NewItem(Out** out, Create create) {
    *out = nullptr;
    com_ptr<OEMenuItem> item = MakeObject<OEMenuItem>();
    create(*item);
    *out = reinterpret_cast<Out*>(static_cast<IOEMenuItem*>(item.detach()));
}

}  // namespace

void OEMenu::CheckUsable() const {
    constexpr HRESULT kNoWindow = HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
    if (id_ == -1)
        throw_com_error(kNoWindow, L"This menu stands for no window: its message window object is not bound.");
    if (registry_ && registry_->closed()) throw_com_error(kNoWindow, L"The message window of this menu is closed.");
    if (kind_ != 0 && (kind_ & OE_ALL_MSG_WND) == 0)
        throw_com_error(E_INVALIDARG, L"No message window of kind " + std::to_wstring(kind_) + L" has menus.");
    const LONG count = MenuBarSize(registry_.get(), kind_);
    if (index_ < 0 || (count >= 0 && index_ >= count))
        throw_com_error(DISP_E_BADINDEX, L"The menu bar has no menu at index " + std::to_wstring(index_) + L".");
}

STDMETHODIMP OEMenu::GetIndex(LONG* index) {
    return Call("GetIndex", index, [&] { *index = index_; });
}

STDMETHODIMP OEMenu::CreateItem(BSTR name, ::OEMenuItem** item) {
    return Call("CreateItem", item, [&] { NewItem(item, [&](OEMenuItem& i) { i.CreateIn(id_, name, nullptr, 1, -1); }); });
}

STDMETHODIMP OEMenu::CreateItemBefore(BSTR name, BSTR before, LONG subString, IOEMenuItem** item) {
    return Call("CreateItemBefore", item, [&] {
        NewItem(item, [&](OEMenuItem& i) { i.CreateIn(id_, name, before, subString, -1); });
    });
}

STDMETHODIMP OEMenu::CreateSeparator(IOEMenuItem** separator) {
    return Call("CreateSeparator", separator, [&] {
        bstr empty(L"");
        NewItem(separator, [&](OEMenuItem& i) { i.CreateIn(id_, empty.get(), nullptr, 1, -1); });
    });
}

STDMETHODIMP OEMenu::CreateSeparatorBefore(BSTR before, LONG subString, IOEMenuItem** separator) {
    return Call("CreateSeparatorBefore", separator, [&] {
        bstr empty(L"");
        NewItem(separator, [&](OEMenuItem& i) { i.CreateIn(id_, empty.get(), before, subString, -1); });
    });
}

STDMETHODIMP OEMenu::CreateItemAt(BSTR name, LONG position, IOEMenuItem** item) {
    return Call("CreateItemAt", item,
                [&] { NewItem(item, [&](OEMenuItem& i) { i.CreateIn(id_, name, nullptr, 0, position); }); });
}

STDMETHODIMP OEMenu::CreateSeparatorAt(LONG position, IOEMenuItem** item) {
    return Call("CreateSeparatorAt", item, [&] {
        bstr empty(L"");
        NewItem(item, [&](OEMenuItem& i) { i.CreateIn(id_, empty.get(), nullptr, 0, position); });
    });
}

}  // namespace plume
