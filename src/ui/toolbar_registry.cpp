#include "ui/toolbar_registry.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "entry_guard.h"
#include "host/hooks.h"
#include "issued_pointers.h"
#include "log.h"

namespace plume {
namespace {

constexpr int kClientToolbarBand = 101;
constexpr LONG kSendCommand = 40411;
constexpr UINT kRbGetBandInfoA = 0x41D;  // RB_GETBANDINFOA
constexpr UINT kRbGetRect = 0x409;       // RB_GETRECT
constexpr UINT kRebarBandInfoSize = 76;  // cbSize the client's rebar is given
constexpr UINT kTbButtonInfoSize = 48;
constexpr int kRbnChevronPushed = -841;
constexpr int kTbnDropDown = -710;

critical_section& HostListLock() {
    static auto* lock = new critical_section;
    return *lock;
}
std::vector<OEToolbarHost*>& Hosts() {
    static auto* hosts = new std::vector<OEToolbarHost*>;
    return *hosts;
}
volatile LONG g_nextHostSerial = 0;
std::shared_ptr<OEToolbarRegistry> g_registry;
// Set by Destroy at shutdown: no new registry is made until Reopen.
bool g_registryClosed = false;
MenuCommandRouter g_menuRouter = nullptr;

// The host whose subclassed window (selected by `which`) is `hwnd`, and the
// procedure that window had before; host-list lock held by the caller.
template <typename Which>
OEToolbarHost* HostOf(HWND hwnd, Which which, WNDPROC* previous) {
    for (OEToolbarHost* host : Hosts()) {
        const window_subclass& s = which(*host);
        if (s.window() == hwnd) {
            *previous = s.previous();
            return host;
        }
    }
    return nullptr;
}

// Runs a task sent by CreateWindowOnHostThread.
bool RunSentTask(UINT message, LPARAM lParam);

// Shows `menu` (taken out of its owner while it is tracked, so that a
// record destroyed meanwhile does not destroy the menu under the tracker).
void TrackChevron(const ToolbarPtr& toolbar, int band) {
    counted_menu menu;
    HWND rebar;
    {
        locked_ref<OEPluginToolbar> tb(toolbar);
        if (!tb) return;
        tb->BuildChevronMenu();
        if (!tb->chevronMenu) return;
        menu = std::move(tb->chevronMenu);
        rebar = tb->rebar;
    }
    RECT r{};
    SendMessageA(rebar, kRbGetRect, band, reinterpret_cast<LPARAM>(&r));
    POINT p{r.right, r.bottom};
    ClientToScreen(rebar, &p);
    TrackPopupMenu(menu.get(), TPM_RIGHTALIGN, p.x, p.y, 0, rebar, nullptr);
    locked_ref<OEPluginToolbar> tb(toolbar);
    if (tb && !tb->chevronMenu) tb->chevronMenu = std::move(menu);
}

}  // namespace

critical_section& ToolbarLock() {
    static auto* lock = new critical_section;
    return *lock;
}

// Host.

OEToolbarHost::OEToolbarHost() : serial_(InterlockedIncrement(&g_nextHostSerial)) {
    cs_lock hold(HostListLock());
    Hosts().push_back(this);
}

OEToolbarHost::~OEToolbarHost() {
    {
        cs_lock hold(HostListLock());
        auto& hosts = Hosts();
        hosts.erase(std::remove(hosts.begin(), hosts.end(), this), hosts.end());
    }
    Detach();
    RemoveToolbarsOf(-1);
}

std::unique_ptr<OEToolbarHost> OEToolbarHost::NewMsgWndHost() {
    auto host = std::make_unique<OEToolbarHost>();
    if (std::shared_ptr<OEToolbarRegistry> registry = OEToolbarRegistry::Get(true)) {
        for (const ToolbarPtr& source : registry->msgWndTemplates().Toolbars()) {
            locked_ref<OEPluginToolbar> tb(source);
            if (tb) host->Append(OEPluginToolbar::CopyForMsgWnd(*tb, host.get()));
        }
    }
    return host;
}

HWND OEToolbarHost::FindClientToolbar(HWND hostWindow) {
    if (hostToolbar_ && IsWindow(hostToolbar_)) return hostToolbar_;
    hostToolbar_ = nullptr;
    HWND sizable = nullptr, rebar = nullptr;
    FindHostRebar(hostWindow, &sizable, &rebar);
    if (!rebar) return nullptr;
    const LRESULT index = SendMessageA(rebar, RB_IDTOINDEX, kClientToolbarBand, 0);
    REBARBANDINFOA info{};
    info.cbSize = kRebarBandInfoSize;
    info.fMask = RBBIM_CHILD | RBBIM_ID;
    if (SendMessageA(rebar, kRbGetBandInfoA, index, reinterpret_cast<LPARAM>(&info)) &&
        info.wID == kClientToolbarBand)
        hostToolbar_ = info.hwndChild;
    if (hostToolbar_) {
        rebar_ = rebar;
        sizableRebar_ = sizable;
    }
    return hostToolbar_;
}

int OEToolbarHost::Attach(HWND hostWindow, int isMainWindow) {
    // Runs on the client UI thread, which alone changes these fields; the
    // host-list lock covers the subclass records the procedures read. No
    // lock is held while a message is sent.
    bool bound = false;
    if (!(hostToolbar_ && IsWindow(hostToolbar_)) && FindClientToolbar(hostWindow)) {
        {
            cs_lock hosts(HostListLock());
            toolbarSubclass_.install(hostToolbar_, ClientToolbarProc);
        }
        if (!hostWindow_) {
            if (isMainWindow) {
                kind_ = 0;
            } else {
                TBBUTTONINFOA info{};
                info.cbSize = kTbButtonInfoSize;
                kind_ = SendMessageA(hostToolbar_, TB_GETBUTTONINFOA, kSendCommand, reinterpret_cast<LPARAM>(&info)) != -1
                            ? 2   // OE_MSG_SEND_WND
                            : 1;  // OE_MSG_DETAIL_WND
            }
            cs_lock hosts(HostListLock());
            hostWindow_ = hostWindow;
            sizableSubclass_.install(sizableRebar_, SizableRebarProc);
            rebarSubclass_.install(rebar_, RebarProc);
            bound = true;
        }
    }
    if (bound) {
        for (const ToolbarPtr& toolbar : Toolbars()) {
            locked_ref<OEPluginToolbar> tb(toolbar);
            if (!tb) continue;
            const bool matches = kind_ == 0 || (tb->wndStyleMask & kind_) != 0;
            if (kind_ != 0 && matches) tb->wndStyleMask = kind_;
            if (matches && !tb->window) tb->CreateToolbarWindow(hostWindow);
        }
        attached_ = true;
    }
    if (isMainWindow) {
        // Puts back what the client's toolbar lost when the client rebuilt it.
        for (const ToolbarPtr& toolbar : Toolbars()) {
            locked_ref<OEPluginToolbar> tb(toolbar);
            if (tb && tb->wrapsHostToolbar && (kind_ == 0 || (tb->wndStyleMask & kind_) != 0))
                tb->CreateToolbarWindow(hostWindow);
        }
    }
    return 1;
}

void OEToolbarHost::Detach() {
    {
        cs_lock hosts(HostListLock());
        toolbarSubclass_.restore();
        sizableSubclass_.restore();
        rebarSubclass_.restore();
        hostToolbar_ = nullptr;
        sizableRebar_ = nullptr;
        rebar_ = nullptr;
        attached_ = false;
        hostWindow_ = nullptr;
    }
    for (const ToolbarPtr& toolbar : Toolbars()) {
        locked_ref<OEPluginToolbar> tb(toolbar);
        if (tb) tb->DestroyToolbarWindow();
    }
}

ToolbarPtr OEToolbarHost::FindToolbar(LONG id) const {
    cs_lock hold(ToolbarLock());
    for (const ToolbarPtr& tb : toolbars_)
        if (tb->id == id) return tb;
    return nullptr;
}

ButtonPtr OEToolbarHost::FindButton(LONG commandId) const {
    cs_lock hold(ToolbarLock());
    for (const ToolbarPtr& tb : toolbars_)
        if (ButtonPtr b = tb->FindButton(commandId)) return b;
    return nullptr;
}

ToolbarPtr OEToolbarHost::ToolbarAt(int n, LONG owner) const {
    cs_lock hold(ToolbarLock());
    if (n < 0) return nullptr;
    for (const ToolbarPtr& tb : toolbars_) {
        if (owner != -1 && tb->ownerId != owner) continue;
        if (n-- == 0) return tb;
    }
    return nullptr;
}

std::vector<ToolbarPtr> OEToolbarHost::Toolbars() const {
    cs_lock hold(ToolbarLock());
    return toolbars_;
}

void OEToolbarHost::RemoveToolbarsOf(LONG owner) {
    for (const ToolbarPtr& toolbar : Toolbars()) {
        if (owner != -1 && toolbar->ownerId != owner) continue;
        locked_ref<OEPluginToolbar> tb(toolbar);
        if (tb) tb->Destroy();
    }
}

ToolbarPtr OEToolbarHost::NewToolbar() {
    auto tb = std::make_shared<OEPluginToolbar>(this);
    Append(tb);
    return tb;
}

void OEToolbarHost::Append(ToolbarPtr toolbar) {
    cs_lock hold(ToolbarLock());
    toolbars_.push_back(std::move(toolbar));
}

void OEToolbarHost::Unlink(const OEPluginToolbar* toolbar) {
    cs_lock hold(ToolbarLock());
    toolbars_.erase(std::remove_if(toolbars_.begin(), toolbars_.end(),
                                   [&](const ToolbarPtr& p) { return p.get() == toolbar; }),
                    toolbars_.end());
}

void OEToolbarHost::OfferMsgWndCommand(HWND window, LONG id) {
    if (ButtonPtr button = FindButton(id)) OnMsgWndButtonCommand(button, window, id);
}

// Subclassed procedures (client UI thread).

LRESULT CALLBACK OEToolbarHost::SizableRebarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = nullptr;
    auto body = [&]() -> LRESULT {
        if (RunSentTask(message, lParam)) return 1;
        std::vector<ToolbarPtr> toolbars;
        {
            cs_lock hosts(HostListLock());
            OEToolbarHost* host =
                HostOf(hwnd, [](OEToolbarHost& h) -> const window_subclass& { return h.sizableSubclass_; }, &previous);
            if (!host) return 0;
            if (message == WM_NOTIFY && lParam &&
                reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(kRbnChevronPushed))
                toolbars = host->Toolbars();
        }
        if (!toolbars.empty()) {
            const auto* chevron = reinterpret_cast<NMREBARCHEVRON*>(lParam);
            for (const ToolbarPtr& tb : toolbars) {
                HWND rebar = tb->rebar;
                if (!rebar || rebar != chevron->hdr.hwndFrom) continue;
                const int index = static_cast<int>(SendMessageA(rebar, RB_IDTOINDEX, tb->id, 0));
                if (index == static_cast<int>(chevron->uBand)) {
                    TrackChevron(tb, index);
                    return 0;
                }
            }
        }
        return CallWindowProcA(previous, hwnd, message, wParam, lParam);
    };
    return guarded_entry("SizableRebarProc", message, body, [&]() -> LRESULT {
        return previous ? CallWindowProcA(previous, hwnd, message, wParam, lParam) : 0;
    });
}

LRESULT CALLBACK OEToolbarHost::RebarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = nullptr;
    auto body = [&]() -> LRESULT {
        if (RunSentTask(message, lParam)) return 1;
        ButtonPtr dropDown;
        {
            cs_lock hosts(HostListLock());
            if (!HostOf(hwnd, [](OEToolbarHost& h) -> const window_subclass& { return h.rebarSubclass_; }, &previous))
                return 0;
            if (message == WM_NOTIFY && lParam) {
                auto* nm = reinterpret_cast<NMTOOLBARA*>(lParam);
                if (nm->hdr.code == static_cast<UINT>(kTbnDropDown)) {
                    cs_lock hold(ToolbarLock());
                    for (OEToolbarHost* h : Hosts()) {
                        for (const ToolbarPtr& tb : h->toolbars_) {
                            if (tb->window != nm->hdr.hwndFrom) continue;
                            if ((dropDown = tb->FindButton(nm->iItem))) break;
                        }
                        if (dropDown) break;
                    }
                }
            }
        }
        if (dropDown) {
            dropDown->ShowDropDownMenu();
            return TBDDRET_DEFAULT;
        }
        return CallWindowProcA(previous, hwnd, message, wParam, lParam);
    };
    return guarded_entry("RebarProc", message, body, [&]() -> LRESULT {
        return previous ? CallWindowProcA(previous, hwnd, message, wParam, lParam) : 0;
    });
}

LRESULT CALLBACK OEToolbarHost::ClientToolbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC previous = nullptr;
    auto body = [&]() -> LRESULT {
        {
            cs_lock hosts(HostListLock());
            OEToolbarHost* host =
                HostOf(hwnd, [](OEToolbarHost& h) -> const window_subclass& { return h.toolbarSubclass_; }, &previous);
            if (!host) return 0;
            switch (message) {
            case TB_SETIMAGELIST:
            case TB_SETHOTIMAGELIST:
                return 1;  // the lists carry the library's images
            case TB_ENABLEBUTTON:
            case TB_SETSTATE: {
                cs_lock hold(ToolbarLock());
                for (const ToolbarPtr& tb : host->toolbars_) {
                    if (ButtonPtr b = tb->FindButton(static_cast<LONG>(wParam))) {
                        lParam = message == TB_SETSTATE ? MAKELONG(b->State(), 0) : MAKELONG(b->enabled ? 1 : 0, 0);
                        break;
                    }
                }
                break;
            }
            default:
                break;
            }
        }
        return CallWindowProcA(previous, hwnd, message, wParam, lParam);
    };
    return guarded_entry("ClientToolbarProc", message, body, [&]() -> LRESULT {
        return previous ? CallWindowProcA(previous, hwnd, message, wParam, lParam) : 0;
    });
}

// Registry.

std::shared_ptr<OEToolbarRegistry> OEToolbarRegistry::Get(bool create) {
    {
        cs_lock hold(ToolbarLock());
        if (g_registry || !create || g_registryClosed) return g_registry;
    }
    // Hosts enter the host list, whose lock comes before the toolbar lock.
    std::shared_ptr<OEToolbarRegistry> fresh(new OEToolbarRegistry);
    cs_lock hold(ToolbarLock());
    if (!g_registry && !g_registryClosed) g_registry = fresh;
    return g_registry;  // a spare `fresh` goes when the lock is let go
}

void OEToolbarRegistry::Destroy() {
    std::shared_ptr<OEToolbarRegistry> registry;
    {
        cs_lock hold(ToolbarLock());
        registry.swap(g_registry);
        g_registryClosed = true;
    }
    if (!registry) return;
    // Out of the client's windows now, on this thread; a server-thread call
    // that still holds the registry finds it empty and frees it after use.
    registry->mainHost_.Detach();
    registry->mainHost_.RemoveToolbarsOf(-1);
    registry->msgWndTemplates_.RemoveToolbarsOf(-1);
}

void OEToolbarRegistry::Reopen() {
    cs_lock hold(ToolbarLock());
    g_registryClosed = false;
}

ToolbarPtr OEToolbarRegistry::FindToolbar(LONG id) {
    cs_lock hold(ToolbarLock());
    if (!g_registry) return nullptr;
    if (ToolbarPtr tb = g_registry->mainHost_.FindToolbar(id)) return tb;
    return g_registry->msgWndTemplates_.FindToolbar(id);
}

ButtonPtr OEToolbarRegistry::FindButton(LONG commandId) {
    cs_lock hold(ToolbarLock());
    if (!g_registry) return nullptr;
    if (ButtonPtr b = g_registry->mainHost_.FindButton(commandId)) return b;
    return g_registry->msgWndTemplates_.FindButton(commandId);
}

ToolbarPtr OEToolbarRegistry::ToolbarAt(int n, LONG owner) {
    cs_lock hold(ToolbarLock());
    return g_registry ? g_registry->mainHost_.ToolbarAt(n, owner) : nullptr;
}

void OEToolbarRegistry::RemoveToolbarsOf(LONG owner) {
    std::shared_ptr<OEToolbarRegistry> registry = Get(false);
    if (!registry) return;
    registry->mainHost_.RemoveToolbarsOf(owner);
    registry->msgWndTemplates_.RemoveToolbarsOf(owner);
}

namespace {

template <typename Find>
auto FindInHost(LONG hostSerial, Find find) -> decltype(find(std::declval<const OEToolbarHost&>())) {
    cs_lock hosts(HostListLock());
    for (OEToolbarHost* host : Hosts())
        if (host->serial() == hostSerial) return find(*host);
    return nullptr;
}

}  // namespace

ToolbarPtr FindToolbarIn(LONG hostSerial, LONG id) {
    if (!hostSerial) return OEToolbarRegistry::FindToolbar(id);
    return FindInHost(hostSerial, [&](const OEToolbarHost& h) { return h.FindToolbar(id); });
}

ButtonPtr FindButtonIn(LONG hostSerial, LONG commandId) {
    if (!hostSerial) return OEToolbarRegistry::FindButton(commandId);
    return FindInHost(hostSerial, [&](const OEToolbarHost& h) { return h.FindButton(commandId); });
}

LockedButtonRecord::LockedButtonRecord(LONG buttonId) : record_(OEToolbarRegistry::FindButton(buttonId)) {}

LONG LockedButtonRecord::toolbarId() const {
    if (!record_) return -1;
    return record_->toolbar ? record_->toolbar->id : record_->toolbarId;
}

// Sent tasks: a window made or destroyed on the thread of the window that
// receives the task.
namespace {

struct HostThreadTask {
    void (*run)(void* context);
    void* context;
};

UINT TaskMessage() {
    static const UINT message = RegisterWindowMessageA("PLUME_ToolbarTask");
    return message;
}

// Tasks being sent by this library: only those are run.
issued_pointers& SentTasks() {
    static issued_pointers* tasks = new issued_pointers;
    return *tasks;
}

bool RunSentTask(UINT message, LPARAM lParam) {
    if (message != TaskMessage()) return false;
    auto* task = reinterpret_cast<HostThreadTask*>(lParam);
    // Anything else with this message (another program's post) is dropped.
    if (SentTasks().redeem(task)) task->run(task->context);
    return true;
}

// True when `task` ran on the messenger's thread; false when the caller
// should run it itself.
bool SendTask(HWND messenger, HostThreadTask* task) {
    if (!messenger || GetWindowThreadProcessId(messenger, nullptr) == GetCurrentThreadId()) return false;
    const auto proc = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(messenger, GWLP_WNDPROC));
    if (proc != OEToolbarHost::SizableRebarProc && proc != OEToolbarHost::RebarProc) return false;
    SentTasks().issue(task);
    const bool ran = SendMessageA(messenger, TaskMessage(), 0, reinterpret_cast<LPARAM>(task)) == 1;
    SentTasks().withdraw(task);
    return ran;
}

}  // namespace

HWND CreateWindowOnHostThread(HWND messenger, HWND parent, DWORD style) {
    struct Args {
        HWND parent;
        DWORD style;
        HWND result;
    } args{parent, style, nullptr};
    HostThreadTask task{[](void* p) {
                            auto* a = static_cast<Args*>(p);
                            a->result = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, a->style, 0, 0, CW_USEDEFAULT,
                                                        CW_USEDEFAULT, a->parent, nullptr, nullptr, nullptr);
                        },
                        &args};
    if (!SendTask(messenger, &task)) task.run(&args);
    return args.result;
}

void DestroyWindowOnHostThread(HWND messenger, HWND window) {
    HostThreadTask task{[](void* w) { DestroyWindow(static_cast<HWND>(w)); }, window};
    if (!SendTask(messenger, &task)) task.run(window);
}

// Commands.

void SetMenuCommandRouter(MenuCommandRouter router) { g_menuRouter = router; }

LRESULT RouteCommand(WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        const LONG id = LOWORD(wParam);
        bool isMain = hwnd == MainWindow();
        if (!isMain) {
            cs_lock hold(ToolbarLock());
            isMain = g_registry && hwnd == g_registry->mainHost().hostWindow();
        }
        const INT64 windowParam = isMain ? -1 : reinterpret_cast<INT64>(hwnd);
        // A menu's choice comes with lParam 0, a control's command with the
        // control: only the former can be a menu item's.
        if (ButtonPtr button = OEToolbarRegistry::FindButton(id))
            OnButtonCommand(button, windowParam, id);
        else if (g_menuRouter && lParam == 0)
            g_menuRouter(windowParam, id);
    }
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

}  // namespace plume
