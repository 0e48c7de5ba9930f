#include "manager/plume_obj.h"

#include <commctrl.h>

#include "host/hooks.h"
#include "host/list_selection.h"
#include "host/msg_wnd_list.h"
#include "host/oe_msg_wnd.h"
#include "manager/identifiers.h"
#include "manager/plume_manager.h"
#include "manager/selection.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu.h"
#include "ui/oe_menu_item.h"
#include "ui/oe_toolbar.h"
#include "server/error_info.h"
#include "ui/toolbar_registry.h"

namespace plume {

const ClassIdentity kPLUMEObjIdentity = {IID_IPLUMEObj, CLSID_PLUMEObj, DIID_IPLUMEObjEvents};

namespace {

constexpr WPARAM kOpenCurrentMessage = MAKEWPARAM(40100, 1);
constexpr WPARAM kNewMessage = 40465;

}  // namespace

PLUMEObj::PLUMEObj() : AutomationObject(kPLUMEObjIdentity), plumeId_(NextRootObjectId()) {
    if (PLUMEManager* manager = PLUMEManager::Get(true)) manager->AddRootObject(this);
}

PLUMEObj::~PLUMEObj() {
    if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->RemoveRootObject(this);
}

// Events.
void PLUMEObj::FireOnToolbarButtonMsgWndClicked(LONG toolbarId, LONG buttonId, LONG msgWndId) {
    Fire("OnToolbarButtonMsgWndClicked", 9, {toolbarId, buttonId, msgWndId});
}
void PLUMEObj::FireOnSendButtonMsgWndClicked(LONG msgWndId, const std::shared_ptr<LateAnswers>& late) {
    Fire("OnSendButtonMsgWndClicked", 10, {msgWndId}, late);
}
void PLUMEObj::FireOnNewMsgWnd(LONG msgWndId) {
    if (CanBind(msgWndId)) Fire("OnNewMsgWnd", 11, {msgWndId});
}
void PLUMEObj::FireOnMsgWndClosed(LONG msgWndId, LONG isMainWindow) {
    Fire("OnMsgWndClosed", 12, {msgWndId, isMainWindow});
}
void PLUMEObj::FireOnToolbarButtonClicked(LONG toolbarId, LONG buttonId) {
    Fire("OnToolbarButtonClicked", 1, {toolbarId, buttonId});
}
void PLUMEObj::FireOnMenuItemClicked(LONG menuIndex, LONG menuItemId) {
    Fire("OnMenuItemClicked", 2, {menuIndex, menuItemId});
}
void PLUMEObj::FireOnMsgWndMenuItemClicked(LONG menuIndex, LONG menuItemId, LONG msgWndId) {
    Fire("OnMsgWndMenuItemClicked", 14, {menuIndex, menuItemId, msgWndId});
}
void PLUMEObj::FireOnFolderSelectionChanged(LONG folderId) { Fire("OnFolderSelectionChanged", 3, {folderId}); }
void PLUMEObj::FireOnMessageSelectionChanged() { Fire("OnMessageSelectionChanged", 4); }
void PLUMEObj::FireOnCurrentMessageChanged(LONG msgId) { Fire("OnCurrentMessageChanged", 5, {msgId}); }
void PLUMEObj::FireOnMessageDownloadStarted() { Fire("OnMessageDownloadStarted", 6); }
void PLUMEObj::FireOnMessageDownloadFinished() { Fire("OnMessageDownloadFinished", 7); }
void PLUMEObj::FireOnNewMessageInOutbox(LONG msgId) { Fire("OnNewMessageInOutbox", 8, {msgId}); }
void PLUMEObj::FireOnDatabaseChange(LONG dt, LONG folderId, LONG objId, LONG newParentId) {
    Fire("OnDatabaseChange", 13, {dt, folderId, objId, newParentId});
}

bool PLUMEObj::CanBind(LONG msgWndId) {
    // A temporary object, bound and released again, as a client would get it.
    com_ptr<OEMsgWnd> probe = MakeObject<OEMsgWnd>();
    probe->Bind(msgWndId);
    return probe->bound();
}

// Identity and windows.
STDMETHODIMP PLUMEObj::GetID(LONG* id) {
    return Call("GetID", id, [&] { *id = plumeId_; });
}

STDMETHODIMP PLUMEObj::GetOEMainWindow(LONG* wndHandle) {
    return Call("GetOEMainWindow", wndHandle,
                [&] { *wndHandle = static_cast<LONG>(reinterpret_cast<INT_PTR>(MainWindow())); });
}

STDMETHODIMP PLUMEObj::GetMsgWnd(LONG msgWndId, IOEMsgWnd** msgWnd) {
    return Call("GetMsgWnd", msgWnd, [&] {
        *msgWnd = nullptr;
        com_ptr<OEMsgWnd> object = MakeObject<OEMsgWnd>();
        object->Bind(msgWndId);
        object->SetCreatorId(plumeId_);
        if (object->bound()) *msgWnd = object.detach();
    });
}

STDMETHODIMP PLUMEObj::GetFirstMsgWndID(LONG* msgWndId) {
    return Call("GetFirstMsgWndID", msgWndId, [&] {
        msgWndPos_ = 1;
        OEPluginMsgWnd* record = GetMsgWndByIndex(0, false);
        *msgWndId = record ? record->id() : -1;
        if (!record) msgWndPos_ = -1;
    });
}

STDMETHODIMP PLUMEObj::GetNextMsgWndID(LONG* msgWndId) {
    return Call("GetNextMsgWndID", msgWndId, [&] {
        *msgWndId = -1;
        if (msgWndPos_ == -1) return;
        OEPluginMsgWnd* record = GetMsgWndByIndex(msgWndPos_, false);
        if (!record) {
            msgWndPos_ = -1;
            return;
        }
        *msgWndId = record->id();
        ++msgWndPos_;
    });
}

STDMETHODIMP PLUMEObj::GetActiveMsgWndID(LONG* msgWndId) {
    return Call("GetActiveMsgWndID", msgWndId, [&] { *msgWndId = GetActiveMsgWndId(); });
}

STDMETHODIMP PLUMEObj::SendKey(LONG keyCode, LONG controlCode, LONG setForeground) {
    return Call("SendKey", [&] {
        if (auto registry = OEToolbarRegistry::Get(true))
            SendKeys(&registry->mainHost(), keyCode, controlCode, setForeground);
    });
}

STDMETHODIMP PLUMEObj::OpenCurrentMessage() {
    return Call("OpenCurrentMessage", [&] { PostMessageA(MainWindow(), WM_COMMAND, kOpenCurrentMessage, 0); });
}

STDMETHODIMP PLUMEObj::ComposeMessage() {
    return Call("ComposeMessage", [&] { PostMessageA(MainWindow(), WM_COMMAND, kNewMessage, 0); });
}

// Selection.
STDMETHODIMP PLUMEObj::GetSelectedFolderID(LONG* selFolderId) {
    return Call("GetSelectedFolderID", selFolderId,
                [&] { *selFolderId = PLUMEManager::Get(true)->selectedFolderId; });
}

STDMETHODIMP PLUMEObj::GetCurrentMessageID(LONG* msgId) {
    return Call("GetCurrentMessageID", msgId, [&] { *msgId = PLUMEManager::Get(true)->currentMessageId; });
}

STDMETHODIMP PLUMEObj::GetFirstSelectedMessageID(LONG* msgId) {
    return Call("GetFirstSelectedMessageID", msgId, [&] { *msgId = selectedMessagePos_ = GetFirstSelectedId(); });
}

STDMETHODIMP PLUMEObj::GetNextSelectedMessageID(LONG* msgId) {
    return Call("GetNextSelectedMessageID", msgId,
                [&] { *msgId = selectedMessagePos_ = GetNextSelectedId(selectedMessagePos_); });
}

STDMETHODIMP PLUMEObj::IsAnyMessageSelected(LONG* any) {
    return Call("IsAnyMessageSelected", any, [&] { *any = IsAnyRowSelected(); });
}

STDMETHODIMP PLUMEObj::SetSelectedMessageID(LONG msgId) {
    return Call("SetSelectedMessageID", [&] {
        const int row = GetMessageIndex(msgId);
        if (row != -1 || msgId == -1) SetSelectedRows(1, &row);
    });
}

STDMETHODIMP PLUMEObj::AddSelectedMessageID(LONG msgId) {
    return Call("AddSelectedMessageID", [&] {
        const int row = GetMessageIndex(msgId);
        if (row != -1) AddSelectedRow(row);
    });
}

STDMETHODIMP PLUMEObj::SetSelectedFolderID(LONG selFolderId) {
    return Call("SetSelectedFolderID", [&] { SelectFolderID(selFolderId); });
}

// Menu items owned by this root.
STDMETHODIMP PLUMEObj::GetFirstMenuItemID(LONG* itemId) {
    if (!itemId) return E_POINTER;
    menuItemPos_ = 0;
    return GetNextMenuItemID(itemId);
}

STDMETHODIMP PLUMEObj::GetNextMenuItemID(LONG* itemId) {
    return Call("GetNextMenuItemID", itemId, [&] {
        std::vector<LONG> ids = PLUMEManager::Get(true)->MenuItemIdsOf(plumeId_);
        *itemId = menuItemPos_ >= 0 && static_cast<size_t>(menuItemPos_) < ids.size() ? ids[menuItemPos_] : -1;
        ++menuItemPos_;
    });
}

void RemoveMenuItemsOf(LONG ownerId) {
    PLUMEManager::Get(true)->RemoveMenuItemRecordsOf(ownerId, [](LONG itemId) {
        if (auto registry = OEMenuRegistry::Global(false)) registry->DestroyItem(itemId);
    });
}

STDMETHODIMP PLUMEObj::RemoveAllMenuItems() {
    return Call("RemoveAllMenuItems", [&] { RemoveMenuItemsOf(plumeId_); });
}

namespace {

com_ptr<OEMenu> NewMenu(LONG index, LONG kind, LONG ownerId) {
    com_ptr<OEMenu> menu = MakeObject<OEMenu>();
    menu->Bind(index, kind, nullptr, ownerId);
    return menu;
}

// An object for an item some root owns; null when no root does.
com_ptr<OEMenuItem> OwnedItem(LONG itemId, LONG kind) {
    MenuItemRecord record;
    if (!PLUMEManager::Get(true)->FindMenuItemRecord(itemId, &record)) return nullptr;
    com_ptr<OEMenuItem> item = MakeObject<OEMenuItem>();
    item->Bind(record.itemId, record.menuId, -1, kind, record.registry.lock());
    return item;
}

}  // namespace

STDMETHODIMP PLUMEObj::GetMenuItem(LONG itemId, IOEMenuItem** item) {
    return Call("GetMenuItem", item, [&] { *item = OwnedItem(itemId, 0).detach(); });
}

STDMETHODIMP PLUMEObj::GetMsgWndMenuItem(enum tagWNDSTYLE wndStyle, LONG itemId, IOEMenuItem** item) {
    return Call("GetMsgWndMenuItem", item, [&] { *item = OwnedItem(itemId, wndStyle).detach(); });
}

STDMETHODIMP PLUMEObj::GetMenu(LONG index, IOEMenu** menu) {
    return Call("GetMenu", menu, [&] { *menu = NewMenu(index, 0, plumeId_).detach(); });
}

STDMETHODIMP PLUMEObj::GetMsgWndMenu(enum tagWNDSTYLE wndStyle, LONG index, IOEMenu** menu) {
    return Call("GetMsgWndMenu", menu, [&] { *menu = NewMenu(index, wndStyle, plumeId_).detach(); });
}

// Toolbars.
STDMETHODIMP PLUMEObj::CreateToolbar(IOEToolbar** newToolbar) {
    return Call("CreateToolbar", newToolbar, [&] {
        *newToolbar = nullptr;
        com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
        ThrowIfFailedKeepingDescription(toolbar->Create(plumeId_));
        *newToolbar = toolbar.detach();
    });
}

STDMETHODIMP PLUMEObj::CreateToolbarInMsgWnd(enum tagWNDSTYLE wndStyle, IOEToolbar** newToolbar) {
    return Call("CreateToolbarInMsgWnd", newToolbar, [&] {
        *newToolbar = nullptr;
        com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
        ThrowIfFailedKeepingDescription(toolbar->CreateInMsgWnd(wndStyle, plumeId_));
        *newToolbar = toolbar.detach();
    });
}

STDMETHODIMP PLUMEObj::GetOEToolbar(IOEToolbar** newToolbar) {
    return Call("GetOEToolbar", newToolbar, [&] {
        com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
        toolbar->WrapHostToolbar(0, plumeId_);
        *newToolbar = toolbar.detach();
    });
}

STDMETHODIMP PLUMEObj::GetOEToolbarInMsgWnd(enum tagWNDSTYLE wndStyle, IOEToolbar** newToolbar) {
    return Call("GetOEToolbarInMsgWnd", newToolbar, [&] {
        com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
        toolbar->WrapHostToolbar(wndStyle, plumeId_);
        *newToolbar = toolbar.detach();
    });
}

STDMETHODIMP PLUMEObj::GetToolbar(LONG toolbarId, IOEToolbar** newToolbar) {
    return Call("GetToolbar", newToolbar, [&] {
        *newToolbar = nullptr;
        bool owned;
        {
            locked_ref<OEPluginToolbar> record(OEToolbarRegistry::FindToolbar(toolbarId));
            owned = record && record->ownerId == plumeId_;
        }
        if (!owned) return;
        com_ptr<OEToolbar> toolbar = MakeObject<OEToolbar>();
        toolbar->Bind(toolbarId, plumeId_, 0);
        *newToolbar = toolbar.detach();
    });
}

STDMETHODIMP PLUMEObj::GetFirstToolbarID(LONG* toolbarId) {
    return Call("GetFirstToolbarID", toolbarId, [&] {
        toolbarPos_ = 1;
        ToolbarPtr first = OEToolbarRegistry::ToolbarAt(0, plumeId_);
        *toolbarId = first ? first->id : -1;
        if (!first) toolbarPos_ = -1;
    });
}

STDMETHODIMP PLUMEObj::GetNextToolbarID(LONG* toolbarId) {
    return Call("GetNextToolbarID", toolbarId, [&] {
        *toolbarId = -1;
        if (toolbarPos_ < 0) return;
        ToolbarPtr next = OEToolbarRegistry::ToolbarAt(toolbarPos_, plumeId_);
        if (!next) {
            toolbarPos_ = -1;
            return;
        }
        *toolbarId = next->id;
        ++toolbarPos_;
    });
}

STDMETHODIMP PLUMEObj::RemoveAllToolbars() {
    return Call("RemoveAllToolbars", [&] { OEToolbarRegistry::RemoveToolbarsOf(plumeId_); });
}

// Store and sending.
STDMETHODIMP PLUMEObj::SendAndReceiveMessages() {
    return Call("SendAndReceiveMessages", [&] { PLUMEManager::Get(true)->SendAndReceiveMessages(); });
}

STDMETHODIMP PLUMEObj::SendMessage(LONG folderId, LONG msgId) {
    return Call("SendMessage", [&] {
        // Failures are logged; the caller always hears S_OK.
        if (PLUMEManager* manager = PLUMEManager::Get(false)) manager->SendMessage(folderId, msgId);
    });
}

}  // namespace plume
