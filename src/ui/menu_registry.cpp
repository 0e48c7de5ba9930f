#include "ui/menu_registry.h"

#include <algorithm>
#include <cstring>

#include "log.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

constexpr const char* kNextIdProperty = "PLUME_MenuNextId";

critical_section& GlobalLock() {
    static critical_section* lock = new critical_section;
    return *lock;
}
std::shared_ptr<OEMenuRegistry>& GlobalRegistry() {
    static auto* registry = new std::shared_ptr<OEMenuRegistry>;
    return *registry;
}

// Reserves a block of identifiers through the window's property.
LONG ReserveBlock(HWND window) {
    if (!window) return OEMenuRegistry::kFirstItemId;
    LONG first = static_cast<LONG>(reinterpret_cast<INT_PTR>(GetPropA(window, kNextIdProperty)));
    if (first == 0) first = OEMenuRegistry::kFirstItemId;
    SetPropA(window, kNextIdProperty,
             reinterpret_cast<HANDLE>(static_cast<INT_PTR>(first + OEMenuRegistry::kBlockSize)));
    return first;
}

std::string Clipped(const std::string& name) { return name.substr(0, OEMenuRegistry::kMaxNameLength); }

MENUITEMINFOA ItemInfo(UINT mask) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;  // 80
    info.fMask = mask;
    return info;
}

// The entry's text without '&' marks and without its accelerator.
std::string PlainText(const char* text) {
    std::string out;
    for (const char* p = text; *p && *p != '\t'; ++p) {
        if (*p == '&' && p[1] != '&') continue;
        out += *p;
        if (*p == '&') ++p;
    }
    return out;
}

// Position of the first entry of `menu` whose text matches `before`: with
// `subString` contains it, else equals it (as written, or as shown).
int PositionBefore(HMENU menu, const std::string& before, bool subString) {
    const int count = GetMenuItemCount(menu);
    char text[1024];
    for (int i = 0; i < count; ++i) {
        MENUITEMINFOA info = ItemInfo(MIIM_TYPE | MIIM_SUBMENU | MIIM_ID);
        text[0] = '\0';
        info.dwTypeData = text;
        info.cch = sizeof text - 1;
        if (!GetMenuItemInfoA(menu, i, TRUE, &info) || (info.fType & MFT_SEPARATOR)) continue;
        if (subString ? std::strstr(text, before.c_str()) != nullptr : (before == text || before == PlainText(text)))
            return i;
    }
    return -1;
}

}  // namespace

OEMenuRegistry::OEMenuRegistry(HWND window, LONG kind) : kind_(kind), nextId_(ReserveBlock(window)) {}

OEMenuRegistry::OEMenuRegistry(OEMenuRegistry& source, LONG kind) : kind_(kind) {
    cs_lock hold(source.lock_);
    nextId_ = source.nextId_;
    items_.reserve(source.items_.size());
    for (const auto& item : source.items_) {
        if (item->state == OEPluginMenuItem::kDestroyedInMenu) continue;
        auto copy = std::make_unique<OEPluginMenuItem>(*item);
        copy->state = OEPluginMenuItem::kNotInMenu;
        copy->menu = nullptr;
        copy->subMenu = nullptr;
        items_.push_back(std::move(copy));
    }
}

// Menus are not touched here: the window may be gone. Detach first.
OEMenuRegistry::~OEMenuRegistry() = default;

std::shared_ptr<OEMenuRegistry> OEMenuRegistry::Global(bool create, HWND window) {
    cs_lock hold(GlobalLock());
    auto& registry = GlobalRegistry();
    if (!registry && create) {
        registry = std::make_shared<OEMenuRegistry>(window, 0);
        SetMenuCommandRouter(RouteMenuCommand);
    }
    return registry;
}

void OEMenuRegistry::DestroyGlobal() {
    std::shared_ptr<OEMenuRegistry> registry;
    {
        cs_lock hold(GlobalLock());
        registry.swap(GlobalRegistry());
    }
    if (registry) registry->Detach();
}

OEPluginMenuItem* OEMenuRegistry::Find(LONG id) {
    for (auto& item : items_)
        if (item->id == id) return item.get();
    return nullptr;
}

bool OEMenuRegistry::Matches(const OEPluginMenuItem& item, LONG menuIndex) const {
    if (item.menuIndex != menuIndex) return false;
    return kind_ == 0 ? item.kind == 0 : (kind_ & item.kind) == kind_;
}

LONG OEMenuRegistry::CreateItem(LONG kind, LONG menuIndex, const std::string& name, const std::string& before,
                                LONG subString, MenuClickHandler handler, LONG position) {
    auto item = std::make_unique<OEPluginMenuItem>();
    item->kind = kind;
    item->menuIndex = menuIndex;
    item->name = Clipped(name);
    if (position < 0) {
        item->before = before;
        item->subString = subString;
    } else {
        item->position = position;
    }
    item->clickHandler = handler;
    cs_lock hold(lock_);
    item->id = TakeId();
    items_.push_back(std::move(item));
    return items_.back()->id;
}

LONG OEMenuRegistry::CreateSubItem(LONG parentId, const std::string& name, MenuClickHandler handler) {
    cs_lock hold(lock_);
    OEPluginMenuItem* parent = Find(parentId);
    if (!parent) return -1;
    auto item = std::make_unique<OEPluginMenuItem>();
    item->kind = parent->kind;
    item->menuIndex = parent->menuIndex;
    item->parentId = parentId;
    item->name = Clipped(name);
    item->clickHandler = handler;
    item->id = TakeId();
    items_.push_back(std::move(item));
    return items_.back()->id;
}

void OEMenuRegistry::RemoveEntry(OEPluginMenuItem& item) {
    if (item.state != OEPluginMenuItem::kNotInMenu && item.menu && IsMenu(item.menu)) {
        if (item.subMenu) {
            MENUITEMINFOA info = ItemInfo(MIIM_SUBMENU);
            SetMenuItemInfoA(item.menu, item.id, FALSE, &info);
            DestroyMenu(item.subMenu);
        }
        DeleteMenu(item.menu, item.id, MF_BYCOMMAND);
    }
    // The sub-items' entries went with the sub-menu.
    std::vector<LONG> parents{item.id};
    while (!parents.empty()) {
        const LONG parent = parents.back();
        parents.pop_back();
        for (auto& child : items_) {
            if (child->parentId != parent) continue;
            child->state = OEPluginMenuItem::kNotInMenu;
            child->menu = nullptr;
            child->subMenu = nullptr;
            parents.push_back(child->id);
        }
    }
    item.state = OEPluginMenuItem::kNotInMenu;
    item.menu = nullptr;
    item.subMenu = nullptr;
}

void OEMenuRegistry::RemoveItem(LONG id) {
    std::vector<LONG> doomed{id};
    for (size_t i = 0; i < doomed.size(); ++i)
        for (auto& item : items_)
            if (item->parentId == doomed[i]) doomed.push_back(item->id);
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const auto& item) {
                                    return std::find(doomed.begin(), doomed.end(), item->id) != doomed.end();
                                }),
                 items_.end());
}

bool OEMenuRegistry::DestroyItem(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    if (!item) return false;
    if (item->state != OEPluginMenuItem::kNotInMenu) {
        if (item->parentId == -1) {
            // Deleted from the client's menu at its next opening, on its thread.
            item->state = OEPluginMenuItem::kDestroyedInMenu;
            std::vector<LONG> children;
            for (auto& child : items_)
                if (child->parentId == id) children.push_back(child->id);
            for (LONG child : children) RemoveItem(child);
            return true;
        }
        // A sub-item lives in our own sub-menu: its entry goes now.
        if (OEPluginMenuItem* parent = Find(item->parentId); parent && parent->subMenu) {
            if (GetMenuItemCount(parent->subMenu) == 1) {
                MENUITEMINFOA info = ItemInfo(MIIM_SUBMENU);
                SetMenuItemInfoA(parent->menu, parent->id, FALSE, &info);
                DestroyMenu(parent->subMenu);
                parent->subMenu = nullptr;
            } else {
                RemoveEntry(*item);
            }
        }
    }
    RemoveItem(id);
    return true;
}

void OEMenuRegistry::SetEnabled(LONG id, LONG flag) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Find(id)) item->enabled = flag;
}

void OEMenuRegistry::SetCheck(LONG id, LONG flag) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Find(id)) item->checkStyle = flag;
}

void OEMenuRegistry::SetChecked(LONG id, LONG value) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Find(id)) item->checked = value;
}

void OEMenuRegistry::SetVisible(LONG id, LONG flag) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    if (!item || item->visible == flag) return;
    item->visible = flag;
    if (item->state != OEPluginMenuItem::kDestroyedInMenu) item->state = OEPluginMenuItem::kReinsert;
}

void OEMenuRegistry::SetText(LONG id, const std::string& text) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    if (!item) return;
    item->name = Clipped(text);
    if (item->state != OEPluginMenuItem::kInMenu || !IsMenu(item->menu)) return;
    // The text and type only: an entry with a sub-menu keeps it.
    MENUITEMINFOA info = ItemInfo(MIIM_FTYPE | MIIM_STRING);
    info.fType = item->name.empty() ? MFT_SEPARATOR : MFT_STRING;
    info.dwTypeData = item->name.data();
    SetMenuItemInfoA(item->menu, item->id, FALSE, &info);
}

LONG OEMenuRegistry::IsEnabled(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    return item ? item->enabled : 0;
}

LONG OEMenuRegistry::IsChecked(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    return item ? item->checked : 0;
}

LONG OEMenuRegistry::IsVisible(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    return item ? item->visible : 0;
}

std::string OEMenuRegistry::GetText(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    return item ? item->name : std::string();
}

bool OEMenuRegistry::FindItem(LONG id, OEPluginMenuItem* out) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Find(id);
    if (item && out) *out = *item;
    return item != nullptr;
}

LONG OEMenuRegistry::FindItemByName(const std::string& name) {
    cs_lock hold(lock_);
    for (auto& item : items_)
        if (item->name == name) return item->id;
    return -1;
}

void OEMenuRegistry::SetKind(LONG kind) {
    cs_lock hold(lock_);
    kind_ = kind;
}

LONG OEMenuRegistry::kind() {
    cs_lock hold(lock_);
    return kind_;
}

LONG OEMenuRegistry::nextId() {
    cs_lock hold(lock_);
    return nextId_;
}

size_t OEMenuRegistry::ItemCount() {
    cs_lock hold(lock_);
    return items_.size();
}

void OEMenuRegistry::InsertItem(OEPluginMenuItem& item, HMENU popup) {
    HMENU target = popup;
    int position = item.position < 0 ? -1 : item.position;
    if (item.parentId != -1) {
        OEPluginMenuItem* parent = Find(item.parentId);
        if (parent && parent->state == OEPluginMenuItem::kInMenu && !parent->subMenu) {
            unique_hmenu sub(CreatePopupMenu());
            MENUITEMINFOA info = ItemInfo(MIIM_SUBMENU);
            info.hSubMenu = sub.get();
            if (sub && SetMenuItemInfoA(parent->menu, parent->id, FALSE, &info)) parent->subMenu = sub.release();
        }
        target = parent ? parent->subMenu : nullptr;
        position = -1;
    } else if (!item.before.empty()) {
        position = PositionBefore(popup, item.before, item.subString != 0);
    }
    if (!target) return;
    const int count = GetMenuItemCount(target);
    if (position < 0 || position > count) position = count;

    std::string text = item.name;
    MENUITEMINFOA info = ItemInfo(MIIM_STATE | MIIM_ID | MIIM_TYPE);
    info.fType = text.empty() ? MFT_SEPARATOR : MFT_STRING;
    info.dwTypeData = text.empty() ? nullptr : text.data();
    info.fState = item.checked ? MFS_CHECKED : 0;
    info.wID = static_cast<UINT>(item.id);
    if (InsertMenuItemA(target, static_cast<UINT>(position), TRUE, &info)) {
        item.menu = target;
        item.state = OEPluginMenuItem::kInMenu;
    }
}

void OEMenuRegistry::SyncPopup(HMENU popup, LONG menuIndex) noexcept {
    try {
        cs_lock hold(lock_);
        std::vector<OEPluginMenuItem*> order;
        for (auto& item : items_)
            if (Matches(*item, menuIndex) && item->position >= 0) order.push_back(item.get());
        for (auto& item : items_)
            if (Matches(*item, menuIndex) && item->position < 0) order.push_back(item.get());
        std::vector<LONG> finished;
        for (OEPluginMenuItem* item : order) {
            if (item->state != OEPluginMenuItem::kNotInMenu) {
                MENUITEMINFOA info = ItemInfo(MIIM_ID);
                const bool present = GetMenuItemInfoA(popup, item->id, FALSE, &info) != FALSE;
                if (!present) {
                    // The client rebuilt the menu; the entry went with it.
                    if (item->state == OEPluginMenuItem::kDestroyedInMenu) finished.push_back(item->id);
                    item->state = OEPluginMenuItem::kNotInMenu;
                    item->menu = nullptr;
                    item->subMenu = nullptr;
                } else if (item->state == OEPluginMenuItem::kReinsert) {
                    RemoveEntry(*item);
                }
            }
            if (item->state == OEPluginMenuItem::kNotInMenu && item->visible) {
                if (std::find(finished.begin(), finished.end(), item->id) == finished.end()) InsertItem(*item, popup);
            } else if (item->state == OEPluginMenuItem::kDestroyedInMenu) {
                RemoveEntry(*item);
                finished.push_back(item->id);
            }
        }
        for (LONG id : finished) RemoveItem(id);
    } catch (...) {
        Log(0, "OEMenuRegistry::SyncPopup: failed.\n");
    }
}

void OEMenuRegistry::ApplyStates() noexcept {
    try {
        cs_lock hold(lock_);
        for (auto& item : items_) {
            if (item->state != OEPluginMenuItem::kInMenu || !item->menu) continue;
            MENUITEMINFOA info = ItemInfo(MIIM_STATE);
            info.fState = (item->enabled ? 0 : MFS_GRAYED) | (item->checkStyle && item->checked > 0 ? MFS_CHECKED : 0);
            SetMenuItemInfoA(item->menu, item->id, FALSE, &info);
        }
    } catch (...) {
        Log(0, "OEMenuRegistry::ApplyStates: failed.\n");
    }
}

bool OEMenuRegistry::MenuItemCommand(INT64 window, LONG id) noexcept {
    try {
        MenuClickHandler handler = nullptr;
        LONG menuIndex = -1;
        {
            cs_lock hold(lock_);
            OEPluginMenuItem* item = Find(id);
            if (!item) return false;
            if (item->checkStyle) item->checked = item->checked ? 0 : 1;
            handler = item->clickHandler;
            menuIndex = item->menuIndex;
        }
        if (!handler) return false;
        handler(window, menuIndex, id);
        return true;
    } catch (...) {
        Log(0, "OEMenuRegistry::MenuItemCommand: failed.\n");
        return false;
    }
}

void OEMenuRegistry::Detach() noexcept {
    try {
        cs_lock hold(lock_);
        std::vector<LONG> destroyed;
        for (auto& item : items_) {
            if (item->state == OEPluginMenuItem::kDestroyedInMenu) destroyed.push_back(item->id);
            if (item->parentId == -1 && item->state != OEPluginMenuItem::kNotInMenu) RemoveEntry(*item);
        }
        for (LONG id : destroyed) RemoveItem(id);
        for (auto& item : items_) {
            item->state = OEPluginMenuItem::kNotInMenu;
            item->menu = nullptr;
            item->subMenu = nullptr;
        }
    } catch (...) {
        Log(0, "OEMenuRegistry::Detach: failed.\n");
    }
}

void RouteMenuCommand(INT64 window, LONG id) {
    // A message window offers its commands to its own registry.
    if (window != -1) return;
    if (auto registry = OEMenuRegistry::Global(false)) registry->MenuItemCommand(window, id);
}

}  // namespace plume
