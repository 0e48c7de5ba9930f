#include "ui/menu_registry.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

#include "com_error.h"
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

// Every id below the floor belongs to a block some registry has taken.
critical_section& IdLock() {
    static critical_section* lock = new critical_section;
    return *lock;
}
LONG g_idFloor = OEMenuRegistry::kFirstItemId;
std::atomic<LONG> g_largestMsgWndBar{-1};

void Raise(std::atomic<LONG>& value, LONG to) {
    for (LONG seen = value; to > seen && !value.compare_exchange_weak(seen, to);) {
    }
}

// [first, end) of a block starting at `first` or past the floor (IdLock
// held); empty when no id is left.
std::pair<LONG, LONG> TakeBlock(LONG first) {
    constexpr LONG kEnd = OEMenuRegistry::kLastItemId + 1;
    first = std::max(first, g_idFloor);
    if (first >= kEnd) return {kEnd, kEnd};
    const LONG end = std::min(first + OEMenuRegistry::kBlockSize, kEnd);
    g_idFloor = std::max(g_idFloor, end);
    return {first, end};
}

std::string Clipped(const std::string& name) { return name.substr(0, OEMenuRegistry::kMaxNameLength); }

MENUITEMINFOA ItemInfo(UINT mask) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;  // 80
    info.fMask = mask;
    return info;
}

// Takes the item's sub-menu off its entry and destroys it.
void DetachSubMenu(OEPluginMenuItem& item) {
    if (!item.subMenu) return;
    if (item.menu && IsMenu(item.menu)) {
        MENUITEMINFOA info = ItemInfo(MIIM_SUBMENU);
        SetMenuItemInfoA(item.menu, item.id, FALSE, &info);
    }
    DestroyMenu(item.subMenu);
    item.subMenu = nullptr;
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

struct OEMenuRegistry::IdCounter {
    LONG next;
    LONG end;
};

OEMenuRegistry::OEMenuRegistry(HWND window, LONG kind) : kind_(kind) {
    cs_lock hold(IdLock());
    LONG first = window ? static_cast<LONG>(reinterpret_cast<INT_PTR>(GetPropA(window, kNextIdProperty))) : 0;
    if (first < kFirstItemId) first = kFirstItemId;
    const auto [start, end] = TakeBlock(first);
    if (window)
        SetPropA(window, kNextIdProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(start + kBlockSize)));
    ids_ = std::make_shared<IdCounter>(IdCounter{start, end});
}

OEMenuRegistry::OEMenuRegistry(OEMenuRegistry& source, LONG kind, HWND window)
    : kind_(kind), ids_(source.ids_), window_(static_cast<LONG>(reinterpret_cast<INT_PTR>(window))) {
    cs_lock hold(source.lock_);
    items_.reserve(source.items_.size());
    for (const auto& item : source.items_) {
        if (item->state == OEPluginMenuItem::kDestroyedInMenu) continue;
        auto copy = std::make_unique<OEPluginMenuItem>(*item);
        copy->state = OEPluginMenuItem::kNotInMenu;
        copy->menu = nullptr;
        copy->subMenu = nullptr;
        copy->renamed = false;
        items_.push_back(std::move(copy));
    }
}

std::shared_ptr<OEMenuRegistry> OEMenuRegistry::NewCopy(LONG kind, HWND window) {
    auto copy = std::make_shared<OEMenuRegistry>(*this, kind, window);
    cs_lock hold(lock_);
    copies_.erase(std::remove_if(copies_.begin(), copies_.end(), [](const auto& c) { return c.expired(); }),
                  copies_.end());
    copies_.push_back(copy);
    return copy;
}

LONG OEMenuRegistry::SetIdFloorForTesting(LONG first) {
    cs_lock hold(IdLock());
    return std::exchange(g_idFloor, first);
}

LONG OEMenuRegistry::TakeId() {
    cs_lock hold(IdLock());
    if (ids_->next >= ids_->end) std::tie(ids_->next, ids_->end) = TakeBlock(ids_->next);
    if (ids_->next >= ids_->end)
        throw_com_error(DISP_E_OVERFLOW, L"No command identifier is left for a new menu item in this process.");
    return ids_->next++;
}

void OEMenuRegistry::CheckOpen() const {
    if (closed_)
        throw_com_error(HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE),
                        L"The message window of this menu is closed.");
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
    if (registry) registry->Close();
}

OEPluginMenuItem* OEMenuRegistry::Find(LONG id) {
    for (auto& item : items_)
        if (item->id == id) return item.get();
    return nullptr;
}

OEPluginMenuItem* OEMenuRegistry::Live(LONG id) {
    OEPluginMenuItem* item = Find(id);
    return item && item->state != OEPluginMenuItem::kDestroyedInMenu ? item : nullptr;
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
    CheckOpen();
    item->id = TakeId();
    items_.push_back(std::move(item));
    return items_.back()->id;
}

LONG OEMenuRegistry::CreateSubItem(LONG parentId, const std::string& name, MenuClickHandler handler) {
    cs_lock hold(lock_);
    CheckOpen();
    OEPluginMenuItem* parent = Live(parentId);
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
        // Detached first, so that nothing is destroyed twice.
        DetachSubMenu(item);
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
    bool found = DestroyHere(id);
    std::vector<std::shared_ptr<OEMenuRegistry>> copies;
    {
        cs_lock hold(lock_);
        for (auto& weak : copies_)
            if (auto copy = weak.lock()) copies.push_back(std::move(copy));
    }
    for (auto& copy : copies) found = copy->DestroyHere(id) || found;
    return found;
}

bool OEMenuRegistry::DestroyHere(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    if (!item) return false;
    if (item->state == OEPluginMenuItem::kNotInMenu) {
        RemoveItem(id);
        return true;
    }
    // The entry leaves the client's menu on the client's thread (FinishDestroyed);
    // the sub-items' entries go with this entry's sub-menu.
    item->state = OEPluginMenuItem::kDestroyedInMenu;
    std::vector<LONG> children;
    for (auto& child : items_)
        if (child->parentId == id) children.push_back(child->id);
    for (LONG child : children) RemoveItem(child);
    return true;
}

void OEMenuRegistry::FinishDestroyed() {
    std::vector<LONG> destroyed;
    for (auto& item : items_) {
        if (item->state != OEPluginMenuItem::kDestroyedInMenu) continue;
        destroyed.push_back(item->id);
        OEPluginMenuItem* parent = item->parentId == -1 ? nullptr : Find(item->parentId);
        // The last entry of a parent's sub-menu takes the sub-menu along.
        if (parent && parent->subMenu && GetMenuItemCount(parent->subMenu) == 1 && item->menu == parent->subMenu)
            DetachSubMenu(*parent);
        else
            RemoveEntry(*item);
    }
    for (LONG id : destroyed) RemoveItem(id);
}

void OEMenuRegistry::SetEnabled(LONG id, LONG flag) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Live(id)) item->enabled = flag;
}

void OEMenuRegistry::SetCheck(LONG id, LONG flag) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Live(id)) item->checkStyle = flag;
}

void OEMenuRegistry::SetChecked(LONG id, LONG value) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Live(id)) item->checked = value;
}

void OEMenuRegistry::SetVisible(LONG id, LONG flag) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    if (!item || item->visible == flag) return;
    item->visible = flag;
    item->state = OEPluginMenuItem::kReinsert;
}

void OEMenuRegistry::SetText(LONG id, const std::string& text) {
    cs_lock hold(lock_);
    if (OEPluginMenuItem* item = Live(id)) {
        item->name = Clipped(text);
        item->renamed = true;
    }
}

LONG OEMenuRegistry::IsEnabled(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    return item ? item->enabled : 0;
}

LONG OEMenuRegistry::IsChecked(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    return item ? item->checked : 0;
}

LONG OEMenuRegistry::IsVisible(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    return item ? item->visible : 0;
}

std::string OEMenuRegistry::GetText(LONG id) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    return item ? item->name : std::string();
}

bool OEMenuRegistry::FindItem(LONG id, OEPluginMenuItem* out) {
    cs_lock hold(lock_);
    OEPluginMenuItem* item = Live(id);
    if (item && out) *out = *item;
    return item != nullptr;
}

LONG OEMenuRegistry::FindItemByName(const std::string& name) {
    cs_lock hold(lock_);
    for (auto& item : items_)
        if (item->name == name && item->state != OEPluginMenuItem::kDestroyedInMenu) return item->id;
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
    cs_lock hold(IdLock());
    return ids_->next;
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
        item.renamed = false;
    }
}

void OEMenuRegistry::SyncPopup(HMENU popup, LONG menuIndex) noexcept {
    try {
        cs_lock hold(lock_);
        FinishDestroyed();
        std::vector<OEPluginMenuItem*> order;
        for (auto& item : items_)
            if (Matches(*item, menuIndex) && item->position >= 0) order.push_back(item.get());
        for (auto& item : items_)
            if (Matches(*item, menuIndex) && item->position < 0) order.push_back(item.get());
        for (OEPluginMenuItem* item : order) {
            if (item->state != OEPluginMenuItem::kNotInMenu) {
                MENUITEMINFOA info = ItemInfo(MIIM_ID);
                if (!GetMenuItemInfoA(popup, item->id, FALSE, &info)) {
                    // The client rebuilt the menu; the entry went with it.
                    item->state = OEPluginMenuItem::kNotInMenu;
                    item->menu = nullptr;
                    item->subMenu = nullptr;
                } else if (item->state == OEPluginMenuItem::kReinsert) {
                    RemoveEntry(*item);
                }
            }
            if (item->state == OEPluginMenuItem::kNotInMenu && item->visible) InsertItem(*item, popup);
        }
    } catch (...) {
        Log(0, "OEMenuRegistry::SyncPopup: failed.\n");
    }
}

void OEMenuRegistry::ApplyStates() noexcept {
    try {
        cs_lock hold(lock_);
        FinishDestroyed();
        for (auto& item : items_) {
            if (item->state != OEPluginMenuItem::kInMenu || !item->menu) continue;
            if (item->renamed && IsMenu(item->menu)) {
                // The text and type only: an entry with a sub-menu keeps it.
                MENUITEMINFOA text = ItemInfo(MIIM_FTYPE | MIIM_STRING);
                text.fType = item->name.empty() ? MFT_SEPARATOR : MFT_STRING;
                text.dwTypeData = item->name.data();
                SetMenuItemInfoA(item->menu, item->id, FALSE, &text);
            }
            item->renamed = false;
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

void OEMenuRegistry::NoteMenuSelect(WPARAM wParam, LPARAM lParam) noexcept {
    const UINT flags = HIWORD(wParam);
    HMENU bar = reinterpret_cast<HMENU>(lParam);
    if (!(flags & MF_POPUP) || (flags & MF_SYSMENU) || !bar || !IsMenu(bar)) return;
    const LONG count = GetMenuItemCount(bar);
    Raise(barSize_, count);
    if (window_) Raise(g_largestMsgWndBar, count);
}

LONG OEMenuRegistry::LargestMsgWndBar() { return g_largestMsgWndBar; }

void OEMenuRegistry::Close() noexcept {
    closed_ = true;
    Detach();
}

void RouteMenuCommand(INT64 window, LONG id) {
    // A message window offers its commands to its own registry.
    if (window != -1) return;
    if (auto registry = OEMenuRegistry::Global(false)) registry->MenuItemCommand(window, id);
}

}  // namespace plume
