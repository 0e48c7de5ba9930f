#include "ui/oe_menu.h"

#include "bstr.h"
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

// A new item object made by `create` on it; the object is the result.
template <typename Out, typename Create>
void NewItem(Out** out, Create create) {
    *out = nullptr;
    com_ptr<OEMenuItem> item = MakeObject<OEMenuItem>();
    throw_if_failed(create(*item));
    *out = reinterpret_cast<Out*>(static_cast<IOEMenuItem*>(item.detach()));
}

}  // namespace

STDMETHODIMP OEMenu::GetIndex(LONG* index) {
    return Call("GetIndex", index, [&] { *index = index_; });
}

STDMETHODIMP OEMenu::CreateItem(BSTR name, ::OEMenuItem** item) {
    return Call("CreateItem", item, [&] { NewItem(item, [&](OEMenuItem& i) { return i.Create(id_, name); }); });
}

STDMETHODIMP OEMenu::CreateItemBefore(BSTR name, BSTR before, LONG subString, IOEMenuItem** item) {
    return Call("CreateItemBefore", item, [&] {
        NewItem(item, [&](OEMenuItem& i) { return i.CreateBefore(id_, name, before, subString); });
    });
}

STDMETHODIMP OEMenu::CreateSeparator(IOEMenuItem** separator) {
    return Call("CreateSeparator", separator, [&] {
        bstr empty(L"");
        NewItem(separator, [&](OEMenuItem& i) { return i.Create(id_, empty.get()); });
    });
}

STDMETHODIMP OEMenu::CreateSeparatorBefore(BSTR before, LONG subString, IOEMenuItem** separator) {
    return Call("CreateSeparatorBefore", separator, [&] {
        bstr empty(L"");
        NewItem(separator, [&](OEMenuItem& i) { return i.CreateBefore(id_, empty.get(), before, subString); });
    });
}

STDMETHODIMP OEMenu::CreateItemAt(BSTR name, LONG position, IOEMenuItem** item) {
    return Call("CreateItemAt", item,
                [&] { NewItem(item, [&](OEMenuItem& i) { return i.CreateAt(id_, name, position); }); });
}

STDMETHODIMP OEMenu::CreateSeparatorAt(LONG position, IOEMenuItem** item) {
    return Call("CreateSeparatorAt", item, [&] {
        bstr empty(L"");
        NewItem(item, [&](OEMenuItem& i) { return i.CreateAt(id_, empty.get(), position); });
    });
}

}  // namespace plume
