// Menu items: the library's entries in the client's pop-up menus. Items name
// the client menu they belong to by its index in the menu bar and enter a
// pop-up at the moment the client opens it (WM_INITMENUPOPUP), at the index
// the window procedure remembered from the WM_MENUSELECT before it.
//
// Lifecycle: the process-wide registry (main window; also the source of the
// items meant for message windows) is made by the hook layer with the main
// window, or on first use, and destroyed by DetachHooks. Each message window
// gets a copy (NewCopy) when it is recorded and loses it when its record
// goes; Close takes the registry's entries out of the window's menus first.
// Identifiers: a registry and its copies number from one block of 1000 at a
// time; no id is handed out twice in the process, and none past
// kLastItemId (the buttons' command ids follow).
// Threads: automation methods use registries on the server thread, window
// procedures on the client UI thread. Only the client UI thread changes the
// client's menus (SyncPopup, ApplyStates, Detach): the server thread's
// changes are stored and shown at the window's next menu opening. Every
// operation holds the registry's lock; the click handler runs after it is
// let go.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "manager/identifiers.h"
#include "sync.h"

namespace plume {

// Called when an item is chosen: window is -1 for the main window, else the
// message window's handle.
using MenuClickHandler = LRESULT (*)(INT64 window, LONG menuIndex, LONG itemId);

struct OEPluginMenuItem {
    enum State : LONG { kNotInMenu = 0, kInMenu = 1, kDestroyedInMenu = 2, kReinsert = 6 };

    LONG kind = 0;          // tagWNDSTYLE bits of the message windows it is for; 0 the main window
    LONG menuIndex = -1;    // the client menu's index in the menu bar
    LONG state = kNotInMenu;
    HMENU menu = nullptr;     // the pop-up it was inserted into
    HMENU subMenu = nullptr;  // ours: the pop-up of its sub-items
    LONG parentId = -1;
    LONG position = -1;  // -1: not positioned
    std::string before;  // text of the entry to insert before
    LONG subString = 0;
    LONG enabled = 1;
    LONG checkStyle = 0;
    LONG checked = 0;
    LONG visible = 1;
    std::string name;  // empty: a separator
    MenuClickHandler clickHandler = nullptr;
    LONG id = -1;  // also the command identifier
    bool renamed = false;  // `name` goes into the entry at the next opening
};

class OEMenuRegistry {
public:
    static constexpr LONG kFirstItemId = 50101;
    // Commands are routed on 16 bits, and 60100 up are the buttons'.
    static constexpr LONG kLastItemId = kFirstButtonId - 1;
    static constexpr LONG kBlockSize = 1000;
    static constexpr size_t kMaxNameLength = 255;

    // A registry whose identifiers come from a block reserved through the
    // window property "PLUME_MenuNextId" of `window` (none: from the first),
    // past every block the process has used.
    OEMenuRegistry(HWND window, LONG kind);
    // A copy of every item of `source` (out of every menu) for message
    // window `window`, numbering on with `source` from one counter.
    OEMenuRegistry(OEMenuRegistry& source, LONG kind, HWND window = nullptr);
    ~OEMenuRegistry();
    OEMenuRegistry(const OEMenuRegistry&) = delete;
    OEMenuRegistry& operator=(const OEMenuRegistry&) = delete;

    // The process-wide registry; made on first use (for `window` when given)
    // when `create` is set.
    static std::shared_ptr<OEMenuRegistry> Global(bool create, HWND window = nullptr);
    // Takes the process-wide registry's entries out of the menus and forgets it.
    static void DestroyGlobal();
    // A copy (as above) that this registry's DestroyItem reaches too.
    std::shared_ptr<OEMenuRegistry> NewCopy(LONG kind, HWND window);
    // Tests: where the next block starts; returns the previous value.
    static LONG SetIdFloorForTesting(LONG first);

    // Both raise a com_error when no identifier is left (DISP_E_OVERFLOW) or
    // the registry is closed.
    LONG CreateItem(LONG kind, LONG menuIndex, const std::string& name, const std::string& before, LONG subString,
                    MenuClickHandler handler, LONG position);
    // -1 when no item has `parentId`.
    LONG CreateSubItem(LONG parentId, const std::string& name, MenuClickHandler handler);
    // Here and in the live copies; false when none of them has `id`. An
    // entry in a menu goes at the window's next menu opening.
    bool DestroyItem(LONG id);

    void SetEnabled(LONG id, LONG flag);
    void SetCheck(LONG id, LONG flag);
    void SetChecked(LONG id, LONG value);
    void SetVisible(LONG id, LONG flag);
    void SetText(LONG id, const std::string& text);
    LONG IsEnabled(LONG id);
    LONG IsChecked(LONG id);
    LONG IsVisible(LONG id);
    std::string GetText(LONG id);
    // A copy of the item with `id`; false when there is none.
    bool FindItem(LONG id, OEPluginMenuItem* out);
    LONG FindItemByName(const std::string& name);
    void SetKind(LONG kind);
    LONG kind();
    LONG nextId();
    size_t ItemCount();
    // The message window id of a copy's window; 0 for the others.
    LONG window() const { return window_; }
    bool closed() const { return closed_; }

    // Client UI thread, from the window procedures. They never throw.
    void SyncPopup(HMENU popup, LONG menuIndex) noexcept;
    void ApplyStates() noexcept;
    // True when `id` is an item with a click handler (which has been called).
    bool MenuItemCommand(INT64 window, LONG id) noexcept;
    // WM_MENUSELECT: a pop-up opening from a menu bar tells the bar's size.
    void NoteMenuSelect(WPARAM wParam, LPARAM lParam) noexcept;
    // Menus in the window's bar, the most seen; -1 before any was opened.
    LONG barSize() const { return barSize_; }
    // The same over every message window's copy.
    static LONG LargestMsgWndBar();

    // Takes every entry out of the menus; the items stay, out of any menu.
    void Detach() noexcept;
    // Detach, for good: the window is gone and no item is made any more.
    void Close() noexcept;

private:
    using Items = std::vector<std::unique_ptr<OEPluginMenuItem>>;
    struct IdCounter;

    OEPluginMenuItem* Find(LONG id);
    // Find, without items destroyed while in a menu.
    OEPluginMenuItem* Live(LONG id);
    bool DestroyHere(LONG id);
    // Client UI thread: entries of destroyed items leave their menus.
    void FinishDestroyed();
    void CheckOpen() const;
    bool Matches(const OEPluginMenuItem& item, LONG menuIndex) const;
    void InsertItem(OEPluginMenuItem& item, HMENU popup);
    // Deletes the item's entry (and its sub-menu) from its menu.
    void RemoveEntry(OEPluginMenuItem& item);
    // Deletes the item and its descendants from `items_`.
    void RemoveItem(LONG id);
    LONG TakeId();

    critical_section lock_;
    Items items_;
    LONG kind_;
    std::shared_ptr<IdCounter> ids_;  // shared with the copies
    const LONG window_ = 0;
    std::atomic<bool> closed_{false};
    std::atomic<LONG> barSize_{-1};
    std::vector<std::weak_ptr<OEMenuRegistry>> copies_;
};

// Offers a command of `window` (-1: the main window) to the process-wide
// registry's items; installed as the toolbar routing's menu router.
void RouteMenuCommand(INT64 window, LONG id);

}  // namespace plume
