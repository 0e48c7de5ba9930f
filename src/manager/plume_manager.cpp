#include "manager/plume_manager.h"

#include <algorithm>

#include "client_variant.h"
#include "host/oe_msg_wnd.h"
#include "manager/callback_window.h"
#include "manager/plume_obj.h"
#include "manager/selection.h"
#include "com_ptr.h"
#include "server/init_object.h"
#include "log.h"
#include "pumping_wait.h"
#include "store/message_store.h"
#include "store/store_namespace.h"
#include "ui/oe_button.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu.h"
#include "ui/oe_menu_item.h"
#include "ui/oe_toolbar.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

PLUMEManager* volatile g_manager = nullptr;
// The one thread that may construct the manager (the server thread); 0 when
// none may, before the server starts and after it has destroyed the manager.
volatile DWORD g_ownerThread = 0;

critical_section& CreationLock() {
    static critical_section* lock = new critical_section;
    return *lock;
}
// Set once shutdown begins, so that posters waiting for an event that will no
// longer be raised go on (the raise operations do nothing from then on).
unique_handle& WaitersReleased() {
    static unique_handle* event = new unique_handle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return *event;
}

// False when `timeoutMs` ran out first. Messages sent by other threads (the
// server thread reaching the client's controls) are served meanwhile; input
// is taken and dropped, since a handler of the client's could re-enter the
// code that waits.
thread_local int g_posterWaits = 0;

bool WaitPumping(HANDLE event, HANDLE alsoEnds, DWORD timeoutMs) {
    const HANDLE handles[2] = {event, alsoEnds};
    ++g_posterWaits;
    struct Leave {
        ~Leave() { --g_posterWaits; }
    } leave;
    // A close met here would run inside whatever the client was doing when
    // it posted (a commit of its store, say), and its wait for the server
    // thread would then wait for this very wait: it is served afterwards.
    pumping_wait pump(pumping_wait::input::drop, WM_CLOSE);
    return pump.wait(timeoutMs, alsoEnds ? 2 : 1, handles) != WAIT_TIMEOUT;
}

}  // namespace

bool InPosterWait() { return g_posterWaits > 0; }

void PLUMEStoreListener::OnStoreChange(int, int, int, int, int, int, int) {}

PLUMEManager* PLUMEManager::Get(bool create) {
    if (g_manager || !create || GetCurrentThreadId() != g_ownerThread) return g_manager;
    cs_lock hold(CreationLock());
    if (!g_manager) new PLUMEManager;  // the constructor publishes itself
    return g_manager;
}

void PLUMEManager::SetOwnerThread(DWORD threadId) {
    cs_lock hold(CreationLock());
    g_ownerThread = threadId;
}

void PLUMEManager::DestroyInstance() {
    PLUMEManager* manager;
    {
        cs_lock hold(CreationLock());
        manager = g_manager;
        g_manager = nullptr;  // no thread finds it while it goes
        g_ownerThread = 0;    // a late hook finds no manager and makes none
    }
    delete manager;
}

PLUMEManager::PLUMEManager()
    : msgWndClosedDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      folderChangeDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    ResetEvent(WaitersReleased().get());
    g_manager = this;  // the callback window's creation may look for it
    CreateSelectionComponents(*this);
    callbackWindow_ = CreateCallbackWindow();
    if (IsHostProcess() && CreateMessageStore(*this) && messageStore) {
        const ULONG last = messageStore->GetLastMessageId(outboxFolderId);
        lastOutboxMessageId = last == 0xFFFFFFFF ? -1 : static_cast<LONG>(last);
        HookSendWnd();
        // Sends a closed or crashed run accepted go out now.
        if (callbackWindow_) PostMessageA(callbackWindow_, Messages().sendCycleCheck, 1, 0);
    }
}

PLUMEManager::~PLUMEManager() {
    RemovePropA(callbackWindow_, "VEXHANDLE");
    {
        cs_lock store(storeLock_);
        cs_lock registry(registryLock_);
        menuItemRecords_.clear();
        selectedMessageIds.clear();
        selectedMessagesStored = false;
        // Unhooks the client's list class while a late fill on the client UI
        // thread still finds the lock.
        messageList.reset();
        messageStore.reset();
    }
    storeNamespace.reset();
    outboxFolder.reset();
    if (!heldSendPresses_.empty())
        Log(0, "PLUMEManager: %u held Send press(es) dropped at shutdown.\n",
            static_cast<unsigned>(heldSendPresses_.size()));
    heldSendPresses_.clear();
    if (callbackWindow_) DestroyWindow(callbackWindow_);
    callbackWindow_ = nullptr;
    ReleaseInitObject();
}

// Registries.
#define PLUME_REGISTRY_OPS(Type, Name, member)                                  \
    void PLUMEManager::Add##Name(Type* obj) {                                   \
        cs_lock hold(registryLock_);                                            \
        member.Add(obj);                                                        \
    }                                                                           \
    void PLUMEManager::Remove##Name(Type* obj) {                                \
        cs_lock hold(registryLock_);                                            \
        member.Remove(obj);                                                     \
    }                                                                           \
    Type* PLUMEManager::Find##Name(LONG id) {                                   \
        cs_lock hold(registryLock_);                                            \
        return member.Find(id);                                                 \
    }
PLUME_REGISTRY_OPS(PLUMEObj, RootObject, roots_)
PLUME_REGISTRY_OPS(OEMsgWnd, MsgWnd, msgWnds_)
PLUME_REGISTRY_OPS(OEToolbar, Toolbar, toolbars_)
PLUME_REGISTRY_OPS(OEButton, Button, buttons_)
PLUME_REGISTRY_OPS(OEMenu, Menu, menus_)
PLUME_REGISTRY_OPS(OEMenuItem, MenuItem, menuItems_)
#undef PLUME_REGISTRY_OPS

bool PLUMEManager::RegistriesEmpty() {
    cs_lock hold(registryLock_);
    return roots_.empty() && msgWnds_.empty() && toolbars_.empty() && buttons_.empty() && menus_.empty() &&
           menuItems_.empty();
}

size_t PLUMEManager::RegisteredObjectCount() {
    cs_lock hold(registryLock_);
    return roots_.size() + msgWnds_.size() + toolbars_.size() + buttons_.size() + menus_.size() +
           menuItems_.size();
}

std::vector<com_ptr<OEMsgWnd>> PLUMEManager::MsgWndsOf(LONG msgWndId) {
    std::vector<com_ptr<OEMsgWnd>> found;
    cs_lock hold(registryLock_);
    for (OEMsgWnd* item : msgWnds_.items())
        if (item->RegistryKey() == msgWndId) found.emplace_back(item);
    return found;
}

void PLUMEManager::UnbindMsgWnds(const OEPluginMsgWnd* record) {
    // Compared by address only: the record is alive while an object holds it.
    std::vector<com_ptr<OEMsgWnd>> bound;
    {
        cs_lock hold(registryLock_);
        for (OEMsgWnd* item : msgWnds_.items())
            if (item->BoundRecord() == record) bound.emplace_back(item);
    }
    for (auto& msgWnd : bound) msgWnd->Unbind();
}

namespace {
// Each object and its connection point, which is marshalled as an identity
// of its own when a client advises a sink.
template <typename T>
void Collect(const ObjectRegistry<T>& registry, std::vector<com_ptr<IUnknown>>& out) {
    for (T* item : registry.items()) {
        out.emplace_back(static_cast<IDispatch*>(item));
        out.emplace_back(item->ConnectionPointIdentity());
    }
}
// The objects of `registry` that had a sink in process `pid`, and their keys.
template <typename T>
void CollectWithSinkIn(const ObjectRegistry<T>& registry, DWORD pid, std::vector<com_ptr<IUnknown>>& out,
                       std::vector<LONG>* keys = nullptr) {
    for (T* item : registry.items()) {
        if (!item->HadSinkIn(pid)) continue;
        out.emplace_back(static_cast<IDispatch*>(item));
        out.emplace_back(item->ConnectionPointIdentity());
        if (keys) keys->push_back(item->RegistryKey());
    }
}
}  // namespace

size_t PLUMEManager::DisconnectObjectsOfProcess(DWORD pid) {
    std::vector<com_ptr<IUnknown>> objects;  // held while their stubs let go
    std::vector<LONG> roots, toolbars, buttons, items;
    {
        cs_lock hold(registryLock_);
        CollectWithSinkIn(roots_, pid, objects, &roots);
        CollectWithSinkIn(msgWnds_, pid, objects);
        CollectWithSinkIn(toolbars_, pid, objects, &toolbars);
        CollectWithSinkIn(menus_, pid, objects);
        CollectWithSinkIn(menuItems_, pid, objects, &items);
        for (OEButton* button : buttons_.items())
            if (button->HadSinkIn(pid)) toolbars.push_back(button->toolbarId());
        CollectWithSinkIn(buttons_, pid, objects);
    }
    // The roots whose user interface goes with them.
    for (LONG toolbarId : toolbars)
        if (auto toolbar = OEToolbarRegistry::FindToolbar(toolbarId)) roots.push_back(toolbar->ownerId);
    for (LONG itemId : items) {
        MenuItemRecord record;
        if (FindMenuItemRecord(itemId, &record)) roots.push_back(record.ownerId);
    }
    std::sort(roots.begin(), roots.end());
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    for (LONG owner : roots) {
        if (owner < 0) continue;
        OEToolbarRegistry::RemoveToolbarsOf(owner);
        RemoveMenuItemsOf(owner);
    }
    for (auto& object : objects) CoDisconnectObject(object.get(), 0);
    return objects.size() / 2;
}

void PLUMEManager::DisconnectAllObjects() {
    std::vector<com_ptr<IUnknown>> objects;  // held while their stubs let go
    {
        cs_lock hold(registryLock_);
        Collect(roots_, objects);
        Collect(msgWnds_, objects);
        Collect(toolbars_, objects);
        Collect(buttons_, objects);
        Collect(menus_, objects);
        Collect(menuItems_, objects);
    }
    for (auto& object : objects) CoDisconnectObject(object.get(), 0);
}

// Menu-item records.
bool MenuItemRecord::Live() const {
    if (msgWndId == 0) return true;
    auto held = registry.lock();
    return held && !held->closed();
}

bool MenuItemRecord::HeardIn(LONGLONG window) const {
    return Live() && (msgWndId == 0 || msgWndId == static_cast<LONG>(window));
}

void PLUMEManager::AddMenuItemRecord(LONG itemId, LONG menuId, LONG parentItemId,
                                     const std::shared_ptr<OEMenuRegistry>& registry) {
    MenuItemRecord record;
    record.itemId = itemId;
    record.menuId = menuId;
    record.parentId = parentItemId;
    if (registry) {
        record.msgWndId = registry->window();
        record.registry = registry;
    }
    cs_lock hold(registryLock_);
    if (parentItemId != -1) {
        auto parent = std::find_if(menuItemRecords_.begin(), menuItemRecords_.end(),
                                   [&](const MenuItemRecord& r) { return r.itemId == parentItemId; });
        if (parent != menuItemRecords_.end()) record.ownerId = parent->ownerId;
    } else if (OEMenu* menu = menus_.Find(menuId)) {
        record.ownerId = menu->ownerId();
    }
    menuItemRecords_.push_back(std::move(record));
}

bool PLUMEManager::FindMenuItemRecord(LONG itemId, MenuItemRecord* out) {
    cs_lock hold(registryLock_);
    for (const MenuItemRecord& r : menuItemRecords_) {
        if (r.itemId == itemId && r.Live()) {
            *out = r;
            return true;
        }
    }
    return false;
}

void PLUMEManager::RemoveMenuItemRecord(LONG itemId) {
    if (itemId == -1) return;  // no item; -1 is also every top-level item's parent
    cs_lock hold(registryLock_);
    std::vector<LONG> doomed{itemId};
    for (size_t i = 0; i < doomed.size(); ++i)
        for (const MenuItemRecord& r : menuItemRecords_)
            if (r.parentId == doomed[i]) doomed.push_back(r.itemId);
    menuItemRecords_.erase(std::remove_if(menuItemRecords_.begin(), menuItemRecords_.end(),
                                          [&](const MenuItemRecord& r) {
                                              return std::find(doomed.begin(), doomed.end(), r.itemId) !=
                                                     doomed.end();
                                          }),
                           menuItemRecords_.end());
}

std::vector<LONG> PLUMEManager::MenuItemIdsOf(LONG ownerId) {
    cs_lock hold(registryLock_);
    menuItemRecords_.erase(std::remove_if(menuItemRecords_.begin(), menuItemRecords_.end(),
                                          [](const MenuItemRecord& r) { return !r.Live(); }),
                           menuItemRecords_.end());
    std::vector<LONG> ids;
    for (const MenuItemRecord& r : menuItemRecords_)
        if (r.ownerId == ownerId) ids.push_back(r.itemId);
    return ids;
}

void PLUMEManager::RemoveMenuItemRecordsOf(LONG ownerId, void (*removeFromMenus)(LONG itemId)) {
    std::vector<LONG> ids;
    {
        cs_lock hold(registryLock_);
        for (auto it = menuItemRecords_.begin(); it != menuItemRecords_.end();) {
            if (it->ownerId != ownerId) {
                ++it;
                continue;
            }
            ids.push_back(it->itemId);
            it = menuItemRecords_.erase(it);
        }
    }
    // Outside the registry lock, which the client's thread takes on its way out.
    if (removeFromMenus)
        for (LONG itemId : ids) removeFromMenus(itemId);
}

LONG PLUMEManager::TakeMenuId() {
    cs_lock hold(registryLock_);
    return nextMenuId_++;
}

// The event gate.
bool PLUMEManager::EnterEvent() {
    cs_lock hold(gateLock_);
    if (shuttingDown_) return false;
    ++eventsInProgress_;
    return true;
}

void PLUMEManager::LeaveEvent() {
    cs_lock hold(gateLock_);
    --eventsInProgress_;
}

void PLUMEManager::SetShuttingDown() {
    {
        cs_lock hold(gateLock_);
        shuttingDown_ = 1;
    }
    SetEvent(WaitersReleased().get());
}

bool PLUMEManager::ShuttingDown() {
    cs_lock hold(gateLock_);
    return shuttingDown_ != 0;
}

LONG PLUMEManager::EventsInProgress() {
    cs_lock hold(gateLock_);
    return eventsInProgress_;
}

bool PLUMEManager::PostAndWait(HANDLE event, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs) {
    ResetEvent(event);
    // No window: the post would become a message to this thread, and the wait
    // would never end.
    if (!callbackWindow_ || !PostMessageA(callbackWindow_, message, wParam, lParam)) return false;
    // A thread waits for the message this one handles now (the server thread
    // setting the list's rows, whose notification commits a read mark):
    // waiting for the server thread here could wait for that very thread.
    // The event is raised once the send has returned.
    if (InSendMessage()) return true;
    if (!WaitPumping(event, WaitersReleased().get(), timeoutMs))
        Log(0, "PLUMEManager::PostAndWait: no answer within %lu ms; going on.\n", static_cast<unsigned long>(timeoutMs));
    return true;
}

namespace {
thread_local ULONGLONG g_commitDeadline = 0;  // 0: no commit's budget is open on this thread
}  // namespace

CommitWaitBudget::CommitWaitBudget() : outermost_(g_commitDeadline == 0) {
    if (outermost_) g_commitDeadline = GetTickCount64() + kPosterWaitMs;
}

CommitWaitBudget::~CommitWaitBudget() {
    if (outermost_) g_commitDeadline = 0;
}

DWORD CommitWaitBudget::Remaining(DWORD bound) {
    if (!g_commitDeadline) return bound;
    const ULONGLONG now = GetTickCount64();
    return now >= g_commitDeadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(bound, g_commitDeadline - now));
}

void PLUMEManager::OnStoreChange(int code, int kind, int folderId, int objectId, int, int b, int) {
    if (kind != 1) return;
    if (!(code & 0x1D) && code != 576 && code != 544) return;  // 258 and 514 stay internal
    // The library's own commits (Outbox copies, deletions) run on the
    // callback window's thread: the change is raised there and then, since
    // a post would only be handled by a nested pump of this same thread.
    if (callbackWindow_ && GetWindowThreadProcessId(callbackWindow_, nullptr) == GetCurrentThreadId()) {
        RaiseOnDatabaseChange(code, folderId, objectId, code == 576 ? b : -1);
        return;
    }
    // The committing thread is the client's: a hung server thread or plug-in
    // holds it back at most kPosterWaitMs.
    PostTransaction(TransactionRecord{folderId, objectId, code == 576 ? b : -1, code},
                    CommitWaitBudget::Remaining(kPosterWaitMs));
}

}  // namespace plume
