#include "com_object.h"
#include "control_channel.h"

#include <commctrl.h>
#include <oleacc.h>
#include <oleauto.h>
#include <richedit.h>
#include <richole.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bstr.h"
#include "client.h"
#include "com_ptr.h"
#include "commands.h"
#include "main_window.h"
#include "message_list.h"
#include "mime_message.h"
#include "settings.h"
#include "store_component.h"
#include "recipients.h"
#include "note_window.h"
#include "send_dialog.h"
#include "ui_common.h"
#include "unique_any.h"

namespace msoe {
namespace {

constexpr DWORD kMaxWaitMs = 10000;
// A burst of commits, each waiting for its listeners.
constexpr DWORD kBurstWaitMs = 120000;

// A failed control call: its text becomes the error description.
struct ControlError {
    HRESULT hr;
    std::wstring text;
};
[[noreturn]] void Fail(const std::wstring& text, HRESULT hr = E_INVALIDARG) { throw ControlError{hr, text}; }

// ---------------------------------------------------------------- values

// An owned VARIANT.
class Value {
public:
    Value() { VariantInit(&v_); }
    Value(const Value& o) { VariantInit(&v_); VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); }
    Value& operator=(const Value& o) { if (this != &o) { VariantClear(&v_); VariantCopy(&v_, const_cast<VARIANT*>(&o.v_)); } return *this; }
    ~Value() { VariantClear(&v_); }
    static Value Long(long n) { Value r; r.v_.vt = VT_I4; r.v_.lVal = n; return r; }
    static Value Bool(bool b) { Value r; r.v_.vt = VT_BOOL; r.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE; return r; }
    static Value Str(const std::wstring& s) { Value r; r.v_.vt = VT_BSTR; r.v_.bstrVal = plume::bstr(s).detach(); return r; }
    static Value Array(const std::vector<Value>& items) {
        Value r;
        SAFEARRAY* sa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
        if (!sa) Fail(L"out of memory", E_OUTOFMEMORY);
        for (LONG i = 0; i < static_cast<LONG>(items.size()); ++i) SafeArrayPutElement(sa, &i, const_cast<VARIANT*>(&items[i].v_));
        r.v_.vt = VT_ARRAY | VT_VARIANT;
        r.v_.parray = sa;
        return r;
    }
    void MoveTo(VARIANT* out) {
        if (out) { *out = v_; VariantInit(&v_); }
    }

private:
    VARIANT v_;
};

Value Hwnd(HWND h) { return Value::Long(static_cast<long>(reinterpret_cast<LONG_PTR>(h))); }

// Arguments of one call, in the caller's order.
class Args {
public:
    Args(DISPPARAMS* p, const wchar_t* method) : p_(p), method_(method) {}
    UINT count() const { return p_ ? p_->cArgs : 0; }
    const VARIANT& raw(UINT i) const {
        if (i >= count()) Fail(std::wstring(method_) + L": missing argument " + std::to_wstring(i + 1), DISP_E_PARAMNOTOPTIONAL);
        const VARIANT* v = &p_->rgvarg[count() - 1 - i];
        while (v->vt == (VT_BYREF | VT_VARIANT)) v = v->pvarVal;
        return *v;
    }
    bool has(UINT i) const { return i < count() && raw(i).vt != VT_ERROR && raw(i).vt != VT_EMPTY; }
    long Long(UINT i) const {
        VARIANT r;
        VariantInit(&r);
        if (FAILED(VariantChangeType(&r, const_cast<VARIANT*>(&raw(i)), 0, VT_I4)))
            Fail(std::wstring(method_) + L": argument " + std::to_wstring(i + 1) + L" must be a number", DISP_E_TYPEMISMATCH);
        return r.lVal;
    }
    long Long(UINT i, long fallback) const { return has(i) ? Long(i) : fallback; }
    std::wstring Str(UINT i) const {
        VARIANT r;
        VariantInit(&r);
        if (FAILED(VariantChangeType(&r, const_cast<VARIANT*>(&raw(i)), 0, VT_BSTR)))
            Fail(std::wstring(method_) + L": argument " + std::to_wstring(i + 1) + L" must be text", DISP_E_TYPEMISMATCH);
        std::wstring s(r.bstrVal ? r.bstrVal : L"", r.bstrVal ? SysStringLen(r.bstrVal) : 0);
        VariantClear(&r);
        return s;
    }
    bool IsText(UINT i) const { return raw(i).vt == VT_BSTR; }
    // A number or an array of numbers.
    std::vector<long> Longs(UINT i) const {
        const VARIANT& v = raw(i);
        if (!(v.vt & VT_ARRAY)) return {Long(i)};
        SAFEARRAY* sa = (v.vt & VT_BYREF) ? *v.pparray : v.parray;
        std::vector<long> out;
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(sa, 1, &lo);
        SafeArrayGetUBound(sa, 1, &hi);
        VARTYPE vt = VT_EMPTY;
        SafeArrayGetVartype(sa, &vt);
        for (LONG k = lo; k <= hi; ++k) {
            VARIANT e, r;
            VariantInit(&e);
            VariantInit(&r);
            if (vt == VT_VARIANT) SafeArrayGetElement(sa, &k, &e);
            else if (vt == VT_I4) { e.vt = VT_I4; SafeArrayGetElement(sa, &k, &e.lVal); }
            else Fail(std::wstring(method_) + L": an array of numbers is expected", DISP_E_TYPEMISMATCH);
            if (FAILED(VariantChangeType(&r, &e, 0, VT_I4))) Fail(std::wstring(method_) + L": an array of numbers is expected", DISP_E_TYPEMISMATCH);
            out.push_back(r.lVal);
            VariantClear(&e);
        }
        return out;
    }

private:
    DISPPARAMS* p_;
    const wchar_t* method_;
};

// ---------------------------------------------------------------- helpers

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring TextOf(HWND hwnd) {
    int n = GetWindowTextLengthW(hwnd);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(hwnd, s.data(), n + 1);
    s.resize(static_cast<size_t>(n));
    return s;
}

// A window of this client, or an error.
HWND OwnWindow(long handle, const wchar_t* method) {
    HWND hwnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
    DWORD pid = 0;
    if (!handle || !IsWindow(hwnd) || (GetWindowThreadProcessId(hwnd, &pid), pid != GetCurrentProcessId()))
        Fail(std::wstring(method) + L": no window " + std::to_wstring(handle) + L" in the client");
    return hwnd;
}

NoteWindow* Note(long handle, const wchar_t* method) {
    HWND hwnd = OwnWindow(handle, method);
    NoteWindow* note = Client::Get().FindNote(hwnd);
    if (!note) Fail(std::wstring(method) + L": window " + std::to_wstring(handle) + L" is not a message window");
    return note;
}

MainWindow& Main(const wchar_t* method) {
    MainWindow* main = Client::Get().main;
    if (!main || !main->built()) Fail(std::wstring(method) + L": the main window is not open", E_FAIL);
    return *main;
}

// The main window or a message window (the menu and toolbar owners).
struct Owner {
    HWND hwnd;
    HWND sizable;
    HWND toolbar;
    HMENU menuBar;
};

Owner OwnerOf(long handle, const wchar_t* method) {
    HWND hwnd = OwnWindow(handle, method);
    Client& c = Client::Get();
    if (c.main && c.main->hwnd() == hwnd) return {hwnd, c.main->sizableRebar(), c.main->toolbar(), c.main->menuBar()};
    if (NoteWindow* n = c.FindNote(hwnd)) return {hwnd, n->sizableRebar(), n->toolbar(), n->menuBar()};
    Fail(std::wstring(method) + L": window " + std::to_wstring(handle) + L" is neither the main window nor a message window");
}

// Every toolbar in the window's sizable rebar, rebar by rebar, band by band.
std::vector<HWND> ToolbarsOf(const Owner& owner) {
    std::vector<HWND> out;
    for (int r = 0; HWND rebar = RebarAt(owner.sizable, r); ++r) {
        int bands = static_cast<int>(SendMessageW(rebar, RB_GETBANDCOUNT, 0, 0));
        for (int b = 0; b < bands; ++b) {
            REBARBANDINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = RBBIM_CHILD;
            if (SendMessageW(rebar, RB_GETBANDINFOW, b, reinterpret_cast<LPARAM>(&info)) && info.hwndChild &&
                ClassOf(info.hwndChild) == TOOLBARCLASSNAMEW)
                out.push_back(info.hwndChild);
        }
    }
    return out;
}

std::wstring ButtonText(HWND tb, int command) {
    wchar_t text[256] = {};
    LRESULT n = SendMessageW(tb, TB_GETBUTTONTEXTW, command, reinterpret_cast<LPARAM>(text));
    return n > 0 ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs);

// ---------------------------------------------------------------- menus

std::wstring ItemText(HMENU menu, int pos) {
    wchar_t text[512] = {};
    GetMenuStringW(menu, pos, text, 512, MF_BYPOSITION);
    return text;
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (true) {
        size_t sep = path.find(L'\\', start);
        parts.push_back(path.substr(start, sep == std::wstring::npos ? std::wstring::npos : sep - start));
        if (sep == std::wstring::npos) break;
        start = sep + 1;
    }
    return parts;
}

// Position of the item named by `part` ("#n" for a position, "=id" for a
// command, else the text without '&', accelerator and trailing dots).
int FindItem(HMENU menu, const std::wstring& part) {
    int count = GetMenuItemCount(menu);
    if (!part.empty() && part[0] == L'#') {
        int n = _wtoi(part.c_str() + 1);
        return n >= 0 && n < count ? n : -1;
    }
    if (!part.empty() && part[0] == L'=') {
        UINT id = static_cast<UINT>(_wtoi(part.c_str() + 1));
        for (int i = 0; i < count; ++i)
            if (GetMenuItemID(menu, i) == id) return i;
        return -1;
    }
    auto norm = [](std::wstring s) {
        s = PlainMenuText(s);
        while (!s.empty() && s.back() == L'.') s.pop_back();
        return s;
    };
    std::wstring want = norm(part);
    for (int i = 0; i < count; ++i)
        if (_wcsicmp(norm(ItemText(menu, i)).c_str(), want.c_str()) == 0) return i;
    return -1;
}

// Array(id, text, state, hasSubMenu, position, separator, checked, greyed)
// for each entry of `menu`.
Value DescribeMenu(HMENU menu) {
    std::vector<Value> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU;
        GetMenuItemInfoW(menu, i, TRUE, &info);
        bool separator = info.fType & MFT_SEPARATOR;
        items.push_back(Value::Array({Value::Long(static_cast<long>(info.hSubMenu ? 0 : info.wID)),
                                      Value::Str(separator ? L"" : ItemText(menu, i)), Value::Long(static_cast<long>(info.fState)),
                                      Value::Bool(info.hSubMenu != nullptr), Value::Long(i), Value::Bool(separator),
                                      Value::Bool(info.fState & MFS_CHECKED), Value::Bool(info.fState & MFS_GRAYED)}));
    }
    return Value::Array(items);
}

// The pop-up menus open on this thread, innermost first: the menu windows
// ("#32768") in z-order, each asked for its menu.
std::vector<HMENU> OpenPopups() {
    std::vector<HMENU> out;
    EnumThreadWindows(GetCurrentThreadId(), [](HWND w, LPARAM lp) -> BOOL {
        if (IsWindowVisible(w) && ClassOf(w) == L"#32768")
            if (HMENU menu = reinterpret_cast<HMENU>(SendMessageW(w, MN_GETHMENU, 0, 0)))
                reinterpret_cast<std::vector<HMENU>*>(lp)->push_back(menu);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&out));
    return out;
}

void PressKey(HWND owner, UINT vk) {
    PostMessageW(owner, WM_KEYDOWN, vk, 1);
    PostMessageW(owner, WM_KEYUP, vk, 0xC0000001);
}

// Moves the open pop-up's highlight to `pos` with the arrow keys (the menu
// skips separators).
void KeysTo(HWND owner, HMENU popup, int pos) {
    std::vector<int> selectable;
    int current = -1;
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_STATE | MIIM_FTYPE;
        GetMenuItemInfoW(popup, i, TRUE, &info);
        if (info.fType & MFT_SEPARATOR) continue;
        if (info.fState & MFS_HILITE) current = static_cast<int>(selectable.size());
        selectable.push_back(i);
    }
    int target = static_cast<int>(std::find(selectable.begin(), selectable.end(), pos) - selectable.begin());
    int n = static_cast<int>(selectable.size());
    int presses = current < 0 ? target + 1 : (target - current + n) % n;
    for (int k = 0; k < presses; ++k) PressKey(owner, VK_DOWN);
}

// The window's menu band: the toolbar of band kBandMenu.
HWND MenuBandOf(const Owner& owner) {
    for (int r = 0; HWND rebar = RebarAt(owner.sizable, r); ++r)
        if (HWND band = GetDlgItem(rebar, kBandMenu)) return band;
    return nullptr;
}

// Opens and works a pop-up of the menu band as a user does: a click on the
// band's button, which runs the menu's own modal loop; arrow keys, Right to
// open a sub-menu, Return to choose, Escape to close, posted to the window
// while the loop runs. A timer of the loop takes the steps. See docs/standin.md.
class MenuDriver {
public:
    enum class Goal { Read, Choose, Hold };

    static MenuDriver& Get() {
        static MenuDriver driver;
        return driver;
    }

    // Starts a session; the band's button is clicked now (sent: the loop runs
    // inside this call) or later (posted: the loop runs after the call).
    void Start(const Owner& owner, const std::wstring& path, Goal goal, bool now, const wchar_t* method) {
        if (active_ || !OpenPopups().empty()) Fail(std::wstring(method) + L": a menu is open already", E_FAIL);
        parts_ = SplitPath(path);
        int top = FindItem(owner.menuBar, parts_[0]);
        if (top < 0 || !GetSubMenu(owner.menuBar, top)) Fail(std::wstring(method) + L": no menu '" + parts_[0] + L"'");
        HWND band = MenuBandOf(owner);
        RECT rc{};
        if (!band || !SendMessageW(band, TB_GETRECT, kMenuBandFirst + top, reinterpret_cast<LPARAM>(&rc)))
            Fail(std::wstring(method) + L": the window has no menu band", E_FAIL);
        owner_ = owner.hwnd;
        method_ = method;
        goal_ = goal;
        next_ = 1;
        depth_ = 1;
        active_ = true;
        ready_ = false;
        closing_ = false;
        error_.clear();
        result_ = Value();
        chosen_ = 0;
        lastProgress_ = GetTickCount();
        // A timer of the thread: the window may close with the choice.
        timer_ = SetTimer(nullptr, 0, 20, Tick);
        const LPARAM at = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
        if (now) SendMessageW(band, WM_LBUTTONDOWN, MK_LBUTTON, at);
        else PostMessageW(band, WM_LBUTTONDOWN, MK_LBUTTON, at);
    }

    // Waits (pumping) until the session is over; its error fails the call.
    void Finish() {
        if (!PumpUntil([this] { return !active_; }, kMaxWaitMs)) Stop(L"the menu did not close");
        if (!error_.empty()) Fail(error_);
    }

    bool active() const { return active_; }
    bool ready() const { return ready_; }
    const std::wstring& error() const { return error_; }
    Value result() const { return result_; }
    UINT chosen() const { return chosen_; }
    HWND owner() const { return owner_; }

    // The innermost open pop-up, or an error.
    HMENU Innermost(const wchar_t* method) const {
        std::vector<HMENU> open = OpenPopups();
        if (open.empty()) Fail(std::wstring(method) + L": no menu is open", E_FAIL);
        return open.front();
    }

    // Highlights entry `part` of the innermost pop-up and opens it (a
    // sub-menu: returns 0) or chooses it (returns its command).
    UINT Select(const std::wstring& part, const wchar_t* method) {
        HMENU popup = Innermost(method);
        int pos = FindItem(popup, part);
        if (pos < 0) Fail(std::wstring(method) + L": no item '" + part + L"' in the open menu");
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_SUBMENU;
        GetMenuItemInfoW(popup, pos, TRUE, &info);
        if (info.fType & MFT_SEPARATOR) Fail(std::wstring(method) + L": a separator cannot be chosen");
        KeysTo(owner_, popup, pos);
        if (info.hSubMenu) {
            PressKey(owner_, VK_RIGHT);
            return 0;
        }
        if (info.fState & MFS_GRAYED) Fail(std::wstring(method) + L": the item is disabled", E_ACCESSDENIED);
        PressKey(owner_, VK_RETURN);
        return info.wID;
    }

    // Escape once for every open pop-up.
    size_t Close() {
        size_t open = OpenPopups().size();
        for (size_t i = 0; i < open; ++i) PressKey(owner_, VK_ESCAPE);
        return open;
    }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
        MenuDriver& d = Get();
        try {
            d.Step();
        } catch (const ControlError& e) {
            d.error_ = e.text;
            d.Close();
            d.closing_ = true;
        }
    }

    void Stop(const std::wstring& error) {
        if (error_.empty()) error_ = error;
        KillTimer(nullptr, timer_);
        if (!OpenPopups().empty()) EndMenu();
        active_ = false;
    }

    void Step() {
        std::vector<HMENU> open = OpenPopups();
        if (closing_) {
            if (open.empty()) Stop(L"");
            else if (GetTickCount() - lastProgress_ > kMaxWaitMs) Stop(L"the menu did not close");
            return;
        }
        if (static_cast<int>(open.size()) < depth_) {
            if (GetTickCount() - lastProgress_ > kMaxWaitMs) Stop(std::wstring(method_) + L": the menu did not open");
            return;
        }
        lastProgress_ = GetTickCount();
        HMENU popup = open.front();
        if (next_ < parts_.size()) {
            const std::wstring& part = parts_[next_];
            int pos = FindItem(popup, part);
            if (pos < 0) Fail(std::wstring(method_) + L": no item '" + part + L"' in menu '" + parts_[next_ - 1] + L"'");
            if (GetSubMenu(popup, pos)) {
                KeysTo(owner_, popup, pos);
                PressKey(owner_, VK_RIGHT);
                ++depth_;
                ++next_;
                return;
            }
            if (next_ + 1 != parts_.size()) Fail(std::wstring(method_) + L": '" + part + L"' has no sub-menu");
            if (goal_ != Goal::Choose) Fail(std::wstring(method_) + L": the path names an item, not a menu");
            chosen_ = Select(part, method_);
            ++next_;
            closing_ = true;
            return;
        }
        switch (goal_) {
        case Goal::Read:
            result_ = DescribeMenu(popup);
            Close();
            closing_ = true;
            break;
        case Goal::Choose:
            Fail(std::wstring(method_) + L": the path names a menu, not an item");
        case Goal::Hold:
            ready_ = true;
            KillTimer(nullptr, timer_);
            active_ = false;
            break;
        }
    }

    HWND owner_ = nullptr;
    const wchar_t* method_ = L"";
    Goal goal_ = Goal::Read;
    std::vector<std::wstring> parts_;
    size_t next_ = 1;
    int depth_ = 1;
    bool active_ = false, ready_ = false, closing_ = false;
    std::wstring error_;
    Value result_;
    UINT chosen_ = 0;
    DWORD lastProgress_ = 0;
    UINT_PTR timer_ = 0;
};

// ---------------------------------------------------------------- message watch

struct WatchEntry {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    bool posted;
};
struct Watch {
    HWND hwnd = nullptr;  // null: every window of the thread
    std::set<UINT> messages;
    std::vector<WatchEntry> seen;
    plume::unique_hhook sent, posted;
} g_watch;

void Record(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool posted) {
    if ((g_watch.hwnd && hwnd != g_watch.hwnd) || !g_watch.messages.count(msg) || g_watch.seen.size() >= 2000) return;
    g_watch.seen.push_back({hwnd, msg, wp, lp, posted});
}

LRESULT CALLBACK WatchSent(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION) {
        auto* m = reinterpret_cast<CWPSTRUCT*>(lp);
        Record(m->hwnd, m->message, m->wParam, m->lParam, false);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK WatchPosted(int code, WPARAM wp, LPARAM lp) {
    if (code == HC_ACTION && wp == PM_REMOVE) {
        auto* m = reinterpret_cast<MSG*>(lp);
        Record(m->hwnd, m->message, m->wParam, m->lParam, true);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

// ---------------------------------------------------------------- waiting

// Pumps this thread's messages until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return done();
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return true;
}

constexpr long kParallelCommitters = 4;

// Runs each work on a thread of its own, all at once; the largest result.
long RunAtOnce(const std::vector<std::function<long()>>& works) {
    struct Share {
        std::function<long()> work;
        long result;
    };
    std::vector<Share> shares;
    for (const auto& w : works) shares.push_back({w, -1});
    std::vector<plume::unique_handle> threads;
    std::vector<HANDLE> handles;
    for (Share& s : shares) {
        threads.emplace_back(CreateThread(nullptr, 0, [](void* p) -> DWORD {
            auto* share = static_cast<Share*>(p);
            share->result = share->work();
            return 0;
        }, &s, 0, nullptr));
        if (!threads.back()) Fail(L"CommitOnWorker: cannot start a thread", E_FAIL);
        handles.push_back(threads.back().get());
    }
    // Bounded as the caller's own wait is; the caller fails the call first.
    if (WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, kBurstWaitMs) != WAIT_OBJECT_0) {
        for (auto& t : threads) t.release();  // still running: their shares must outlive this call
        new std::vector<Share>(std::move(shares));
        return -1;
    }
    long last = -1;
    for (const Share& s : shares) last = std::max(last, s.result);
    return last;
}

// One store change, checked here and committed by the returned work.
std::function<long()> StoreWork(const wchar_t* caller, const std::wstring& op, const Args& a) {
    const std::wstring who = caller;
    Store& store = Store::Instance();
    std::function<long()> work;
    if (op == L"insert") {
        Message m;
        m.folderId = a.Long(1);
        m.subject = a.has(2) ? a.Str(2) : L"(no subject)";
        m.from = L"Worker Thread <worker@example.org>";
        m.to = L"Jamie Rivera <jamie.rivera@vexlor.example>";
        m.date = L"2024-05-02 08:00";
        m.body = L"Inserted by a worker thread.\r\n";
        if (!store.GetFolder(m.folderId)) Fail(who + L": no folder " + std::to_wstring(m.folderId));
        work = [m] { return static_cast<long>(Store::Instance().InsertMessage(m)); };
    } else if (op == L"insertprop") {
        // A message that already carries a body property, in one insert.
        Message m;
        m.folderId = a.Long(1);
        m.subject = a.Str(2);
        m.from = L"Worker Thread <worker@example.org>";
        m.to = L"Jamie Rivera <jamie.rivera@vexlor.example>";
        m.date = L"2024-05-02 08:00";
        m.body = L"Inserted with a body property.\r\n";
        SetBodyProperty(m, PropertyKey::FromText(a.Str(3)), plume::WideToAnsi(a.Str(4).c_str()));
        if (!store.GetFolder(m.folderId)) Fail(who + L": no folder " + std::to_wstring(m.folderId));
        work = [m] { return static_cast<long>(Store::Instance().InsertMessage(m)); };
    } else if (op == L"delete" || op == L"read" || op == L"unread") {
        int64_t id = a.Long(1);
        if (!store.GetMessage(id)) Fail(who + L": no message " + std::to_wstring(id));
        if (op == L"delete") work = [id] { return Store::Instance().DeleteMessage(id) ? 1L : 0L; };
        else work = [id, read = op == L"read"] { return Store::Instance().SetRead(id, read) ? 1L : 0L; };
    } else if (op == L"priority") {
        int64_t id = a.Long(1);
        if (!store.GetMessage(id)) Fail(who + L": no message " + std::to_wstring(id));
        work = [id, p = static_cast<int>(a.Long(2))] { return Store::Instance().SetPriority(id, p) ? 1L : 0L; };
    } else if (op == L"burst") {
        // `count` inserts one after the other, as a mail download commits
        // them; with /commits:parallel shared by several threads at once.
        int64_t folder = a.Long(1);
        long count = a.Long(2);
        if (!store.GetFolder(folder)) Fail(who + L": no folder " + std::to_wstring(folder));
        const long threads = Client::Get().options.parallelCommits ? kParallelCommitters : 1;
        work = [folder, count, threads] {
            std::vector<std::function<long()>> shares;
            for (long t = 0; t < threads; ++t)
                shares.push_back([folder, count, threads, t] {
                    long last = -1;
                    for (long i = t; i < count; i += threads) {
                        Message m;
                        m.folderId = folder;
                        m.subject = L"Burst " + std::to_wstring(i + 1);
                        m.from = L"Worker Thread <worker@example.org>";
                        m.date = L"2024-05-02 08:00";
                        last = std::max(last, static_cast<long>(Store::Instance().InsertMessage(m)));
                    }
                    return last;
                });
            return threads == 1 ? shares[0]() : RunAtOnce(shares);
        };
    } else if (op == L"move") {
        int64_t id = a.Long(1), folder = a.Long(2);
        if (!store.GetMessage(id)) Fail(who + L": no message " + std::to_wstring(id));
        if (!store.GetFolder(folder)) Fail(who + L": no folder " + std::to_wstring(folder));
        work = [id, folder] { return Store::Instance().MoveMessage(id, folder) ? 1L : 0L; };
    } else if (op == L"createfolder") {
        int64_t parent = a.Long(1);
        std::wstring name = a.Str(2);
        if (!store.GetFolder(parent)) Fail(who + L": no folder " + std::to_wstring(parent));
        work = [parent, name] { return static_cast<long>(Store::Instance().CreateFolder(parent, name)); };
    } else if (op == L"renamefolder" || op == L"movefolder" || op == L"deletefolder") {
        int64_t id = a.Long(1);
        if (!store.GetFolder(id)) Fail(who + L": no folder " + std::to_wstring(id));
        if (op == L"renamefolder") work = [id, name = a.Str(2)] { return Store::Instance().RenameFolder(id, name) ? 1L : 0L; };
        else if (op == L"movefolder") work = [id, to = a.Long(2)] { return Store::Instance().MoveFolder(id, to) ? 1L : 0L; };
        else work = [id] { return Store::Instance().DeleteFolder(id) ? 1L : 0L; };
    } else {
        Fail(who + L": unknown operation '" + op + L"' (insert, insertprop, delete, read, unread, priority, burst, move, createfolder, renamefolder, movefolder, deletefolder)");
    }
    return work;
}

// A store change made on a thread of its own, as the client's worker
// threads commit them; the caller's thread keeps pumping meanwhile.
long CommitOnWorker(const std::wstring& op, const Args& a) {
    std::function<long()> work = StoreWork(L"CommitOnWorker", op, a);
    struct Job {
        std::function<long()> work;
        long result = 0;
    } job{work};
    plume::unique_handle thread(CreateThread(nullptr, 0, [](void* p) -> DWORD {
        auto* j = static_cast<Job*>(p);
        j->result = j->work();
        return 0;
    }, &job, 0, nullptr));
    if (!thread) Fail(L"CommitOnWorker: cannot start a thread", E_FAIL);
    HANDLE h = thread.get();
    if (!PumpUntil([h] { return WaitForSingleObject(h, 0) == WAIT_OBJECT_0; },
                   op == L"burst" ? kBurstWaitMs : kMaxWaitMs)) {
        // The worker is blocked (by a store listener): the job must outlive this call.
        thread.release();
        new Job(std::move(job));
        Fail(L"CommitOnWorker: the worker did not finish in time", RPC_E_TIMEOUT);
    }
    return job.result;
}

// ---------------------------------------------------------------- the object

class ControlObject;
using Method = std::function<Value(Args&)>;

struct MethodEntry {
    const wchar_t* name;
    Method call;
};

std::vector<MethodEntry>& Methods();

class ControlObject final : public plume::ref_counted<IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
        if (out) *out = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        const auto& methods = Methods();
        for (size_t m = 0; m < methods.size(); ++m)
            if (_wcsicmp(methods[m].name, names[0]) == 0) ids[0] = static_cast<DISPID>(m + 1);
        if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        if (count > 1) hr = DISP_E_UNKNOWNNAME;  // named arguments are not supported
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                        UINT*) override {
        const auto& methods = Methods();
        if (id < 1 || static_cast<size_t>(id) > methods.size()) return DISP_E_MEMBERNOTFOUND;
        const MethodEntry& m = methods[static_cast<size_t>(id - 1)];
        if (result) VariantInit(result);
        try {
            Args args(params, m.name);
            Value v = m.call(args);
            v.MoveTo(result);
            return S_OK;
        } catch (const ControlError& e) {
            return Error(excep, m.name, e.hr, e.text);
        } catch (const std::exception& e) {
            return Error(excep, m.name, E_FAIL, plume::AnsiToWide(e.what()));
        } catch (...) {
            return Error(excep, m.name, E_UNEXPECTED, L"unexpected failure");
        }
    }

private:
    static HRESULT Error(EXCEPINFO* excep, const wchar_t* method, HRESULT hr, const std::wstring& text) {
        std::wstring source = std::wstring(L"PLUMEStandin.Client.") + method;
        plume::com_ptr<ICreateErrorInfo> create;
        if (SUCCEEDED(CreateErrorInfo(create.put()))) {
            create->SetSource(const_cast<LPOLESTR>(source.c_str()));
            create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
            plume::com_ptr<IErrorInfo> info = create.query<IErrorInfo>(IID_IErrorInfo);
            SetErrorInfo(0, info.get());
        }
        if (!excep) return hr;
        *excep = EXCEPINFO{};
        excep->bstrSource = plume::bstr(source).detach();
        excep->bstrDescription = plume::bstr(text).detach();
        excep->scode = hr;
        return DISP_E_EXCEPTION;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
    }
};

// Locks have no effect: the client lives as long as its windows.
volatile LONG g_locks = 0;

class ClassObject final : public plume::static_class_factory {
public:
    ClassObject() : static_class_factory(&g_locks) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!out) return E_POINTER;
        auto* object = new ControlObject();
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

ClassObject g_classObject;
DWORD g_cookie = 0;

// ---------------------------------------------------------------- methods

Value RowsValue(MainWindow& main) {
    std::vector<Value> rows;
    HWND lv = main.listView();
    int count = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
    for (int r = 0; r < count; ++r) {
        std::vector<Value> row;
        LVITEMW item{};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        SendMessageW(lv, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        row.push_back(Value::Long(static_cast<long>(item.lParam)));
        for (int c = 0; c < 4; ++c) {
            wchar_t text[512] = {};
            LVITEMW sub{};
            sub.iSubItem = c;
            sub.pszText = text;
            sub.cchTextMax = 512;
            SendMessageW(lv, LVM_GETITEMTEXTW, r, reinterpret_cast<LPARAM>(&sub));
            row.push_back(Value::Str(text));
        }
        auto m = Store::Instance().GetMessage(item.lParam);
        row.push_back(Value::Bool(m && m->read));
        rows.push_back(Value::Array(row));
    }
    return Value::Array(rows);
}

Value LongArray(const std::vector<int>& v) {
    std::vector<Value> out;
    for (int x : v) out.push_back(Value::Long(x));
    return Value::Array(out);
}

HWND FieldOf(NoteWindow* note, long id, const wchar_t* method) {
    if (id == 0) {
        HWND body = note->bodyWindow();
        if (!body) Fail(std::wstring(method) + L": the window has no body");
        return body;
    }
    HWND f = note->field(static_cast<int>(id));
    if (!f) Fail(std::wstring(method) + L": the envelope has no field " + std::to_wstring(id));
    return f;
}

// Typing: each character reaches the control as WM_CHAR, a line break as
// Return. The HTML view takes typed text into its body.
void TypeInto(HWND target, const std::wstring& text) {
    std::shared_ptr<HtmlContent> content = BrowserContent(target);
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'\n' && i > 0 && text[i - 1] == L'\r') continue;
        if (content) {
            content->SetBodyInner(content->BodyInner() + (c == L'\r' || c == L'\n' ? std::wstring(L"<BR>") : TextToHtml(std::wstring(1, c))));
            continue;
        }
        SendMessageW(target, WM_CHAR, c == L'\n' ? L'\r' : c, 1);
    }
}

void Click(HWND tb, int command, const wchar_t* method) {
    LRESULT index = SendMessageW(tb, TB_COMMANDTOINDEX, command, 0);
    if (index < 0) Fail(std::wstring(method) + L": no button " + std::to_wstring(command));
    LRESULT state = SendMessageW(tb, TB_GETSTATE, command, 0);
    if (state & TBSTATE_HIDDEN) Fail(std::wstring(method) + L": button " + std::to_wstring(command) + L" is hidden", E_ACCESSDENIED);
    if (!(state & TBSTATE_ENABLED)) Fail(std::wstring(method) + L": button " + std::to_wstring(command) + L" is disabled", E_ACCESSDENIED);
    RECT rc{};
    SendMessageW(tb, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rc));
    TBBUTTON button{};
    SendMessageW(tb, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button));
    // Away from the arrow of a drop-down button.
    int width = rc.right - rc.left;
    if (button.fsStyle & BTNS_DROPDOWN) width -= 16;
    LPARAM at = MAKELPARAM(rc.left + width / 2, (rc.top + rc.bottom) / 2);
    SendMessageW(tb, WM_MOUSEMOVE, 0, at);
    SendMessageW(tb, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tb, WM_LBUTTONUP, 0, at);
}

HWND FindDescendant(HWND parent, const std::wstring& cls, int index) {
    struct Ctx {
        const std::wstring* cls;
        int index;
        HWND found;
    } ctx{&cls, index, nullptr};
    EnumChildWindows(parent, [](HWND h, LPARAM p) -> BOOL {
        auto* c = reinterpret_cast<Ctx*>(p);
        if (ClassOf(h) == *c->cls && c->index-- == 0) {
            c->found = h;
            return FALSE;
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

Message StoredMessage(long id, const wchar_t* method) {
    auto m = Store::Instance().GetMessage(id);
    if (!m) Fail(std::wstring(method) + L": no message " + std::to_wstring(id));
    return *m;
}

// A 64-bit value given as a number (sign-extended) or as text ("0x..." or decimal).
uint64_t Raw64(const Args& a, UINT i, const wchar_t* method) {
    if (!a.IsText(i)) return static_cast<uint64_t>(static_cast<int64_t>(a.Long(i)));
    std::wstring text = a.Str(i);
    wchar_t* end = nullptr;
    uint64_t v = wcstoull(text.c_str(), &end, 0);
    if (text.empty() || *end) Fail(std::wstring(method) + L": argument " + std::to_wstring(i + 1) + L" is not a number");
    return v;
}

Value Address(const void* p) {
    wchar_t text[24];
    swprintf(text, 24, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return Value::Str(text);
}

// Calls position `slot` of the object's table with up to six 64-bit
// arguments, as a caller holding only the object's address does.
long CallSlot(const Args& a) {
    auto* object = reinterpret_cast<void*>(Raw64(a, 0, L"RawCall"));
    long slot = a.Long(1);
    if (!object || slot < 0 || slot > 255) Fail(L"RawCall: no object or a bad position");
    uint64_t x[6] = {};
    for (UINT i = 0; i < 6; ++i)
        if (a.has(i + 2)) x[i] = Raw64(a, i + 2, L"RawCall");
    using Fn = uint64_t(STDMETHODCALLTYPE*)(void*, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);
    Fn fn = reinterpret_cast<Fn>((*static_cast<void***>(object))[slot]);
    return static_cast<long>(static_cast<uint32_t>(fn(object, x[0], x[1], x[2], x[3], x[4], x[5])));
}

NoteWindow* NewestNoteSince(size_t countBefore, const std::vector<NoteWindow*>& before) {
    for (NoteWindow* n : Client::Get().notes)
        if (std::find(before.begin(), before.end(), n) == before.end()) return n;
    (void)countBefore;
    return nullptr;
}

std::vector<MethodEntry>& Methods() {
    static std::vector<MethodEntry> methods = {
        // The process.
        {L"Variant", [](Args&) { return Value::Str(IsWindowsMail() ? L"WM" : L"OE"); }},
        {L"ProcessId", [](Args&) { return Value::Long(static_cast<long>(GetCurrentProcessId())); }},
        {L"MainWindow", [](Args&) { return Hwnd(Client::Get().main ? Client::Get().main->hwnd() : nullptr); }},
        {L"SendDialog", [](Args&) { return Hwnd(Client::Get().sendDialog ? Client::Get().sendDialog->hwnd() : nullptr); }},
        {L"LibraryStarted", [](Args&) { return Value::Bool(Client::Get().libraryStarted); }},
        // "<client start ms> <library start ms>", as the launcher measured them.
        {L"StartTimes", [](Args&) {
             wchar_t times[128] = L"";
             GetEnvironmentVariableW(L"PLUME_STANDIN_START_TIMES", times, 128);
             return Value::Str(times);
         }},
        {L"StoreError", [](Args&) { return Value::Str(Client::Get().loadError); }},
        // A switch of the command line, applied from now on.
        {L"Switch", [](Args& a) {
             if (!ApplySwitch(Client::Get().options, a.Str(0))) Fail(L"Switch: unknown switch", E_INVALIDARG);
             Client::Get().ActOnSwitches();
             return Value::Bool(true);
         }},
        {L"Quit", [](Args&) {
             Client& c = Client::Get();
             for (NoteWindow* n : c.notes) PostMessageW(n->hwnd(), WM_CLOSE, 0, 0);
             if (c.main) PostMessageW(c.main->hwnd(), WM_CLOSE, 0, 0);
             return Value::Bool(true);
         }},
        // Windows.
        {L"WindowText", [](Args& a) { return Value::Str(TextOf(OwnWindow(a.Long(0), L"WindowText"))); }},
        {L"WindowClass", [](Args& a) { return Value::Str(ClassOf(OwnWindow(a.Long(0), L"WindowClass"))); }},
        {L"FindChild", [](Args& a) {
             HWND parent = OwnWindow(a.Long(0), L"FindChild");
             return Hwnd(FindDescendant(parent, a.Str(1), static_cast<int>(a.Long(2, 0))));
         }},
        {L"PostCommand", [](Args& a) {
             HWND w = OwnWindow(a.Long(0), L"PostCommand");
             PostMessageW(w, WM_COMMAND, MAKEWPARAM(a.Long(1), a.Long(2, 0)), 0);
             return Value::Bool(true);
         }},
        // Toolbars.
        {L"Toolbars", [](Args& a) {
             std::vector<Value> out;
             for (HWND tb : ToolbarsOf(OwnerOf(a.Long(0), L"Toolbars"))) out.push_back(Hwnd(tb));
             return Value::Array(out);
         }},
        {L"ClientToolbar", [](Args& a) { return Hwnd(OwnerOf(a.Long(0), L"ClientToolbar").toolbar); }},
        {L"ToolbarButtons", [](Args& a) {
             HWND tb = OwnWindow(a.Long(0), L"ToolbarButtons");
             if (ClassOf(tb) != TOOLBARCLASSNAMEW) tb = OwnerOf(a.Long(0), L"ToolbarButtons").toolbar;
             std::vector<Value> out;
             int count = static_cast<int>(SendMessageW(tb, TB_BUTTONCOUNT, 0, 0));
             for (int i = 0; i < count; ++i) {
                 TBBUTTON b{};
                 SendMessageW(tb, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b));
                 if (b.fsStyle & BTNS_SEP) continue;
                 out.push_back(Value::Array({Value::Long(b.idCommand), Value::Str(ButtonText(tb, b.idCommand)), Value::Long(b.fsState)}));
             }
             return Value::Array(out);
         }},
        {L"ClickButton", [](Args& a) {
             Owner owner = OwnerOf(a.Long(0), L"ClickButton");
             int command = static_cast<int>(a.Long(1));
             std::vector<HWND> toolbars = ToolbarsOf(owner);
             std::stable_partition(toolbars.begin(), toolbars.end(), [&](HWND t) { return t == owner.toolbar; });
             for (HWND tb : toolbars)
                 if (SendMessageW(tb, TB_COMMANDTOINDEX, command, 0) >= 0) {
                     Click(tb, command, L"ClickButton");
                     return Value::Bool(true);
                 }
             Fail(L"ClickButton: no toolbar button with command " + std::to_wstring(command));
         }},
        // Menus.
        {L"MenuBar", [](Args& a) {
             Owner owner = OwnerOf(a.Long(0), L"MenuBar");
             std::vector<Value> out;
             for (int i = 0; i < GetMenuItemCount(owner.menuBar); ++i) out.push_back(Value::Str(PlainMenuText(ItemText(owner.menuBar, i))));
             return Value::Array(out);
         }},
        {L"MenuItems", [](Args& a) {
             MenuDriver& d = MenuDriver::Get();
             d.Start(OwnerOf(a.Long(0), L"MenuItems"), a.Str(1), MenuDriver::Goal::Read, true, L"MenuItems");
             d.Finish();
             return d.result();
         }},
        {L"ChooseMenuItem", [](Args& a) {
             MenuDriver& d = MenuDriver::Get();
             d.Start(OwnerOf(a.Long(0), L"ChooseMenuItem"), a.Str(1), MenuDriver::Goal::Choose, true, L"ChooseMenuItem");
             d.Finish();
             return Value::Long(static_cast<long>(d.chosen()));
         }},
        {L"ClosedMenuItems", [](Args& a) {
             Owner owner = OwnerOf(a.Long(0), L"ClosedMenuItems");
             int top = FindItem(owner.menuBar, a.Str(1));
             HMENU popup = top >= 0 ? GetSubMenu(owner.menuBar, top) : nullptr;
             if (!popup) Fail(L"ClosedMenuItems: no menu '" + a.Str(1) + L"'");
             return DescribeMenu(popup);
         }},
        {L"OpenMenu", [](Args& a) {
             MenuDriver::Get().Start(OwnerOf(a.Long(0), L"OpenMenu"), a.Str(1), MenuDriver::Goal::Hold, false, L"OpenMenu");
             return Value::Bool(true);
         }},
        {L"MenuState", [](Args&) {
             MenuDriver& d = MenuDriver::Get();
             return Value::Array({Value::Bool(d.ready() && !OpenPopups().empty()), Value::Long(static_cast<long>(OpenPopups().size())),
                                  Value::Str(d.error())});
         }},
        {L"OpenMenuItems", [](Args& a) {
             std::vector<HMENU> open = OpenPopups();
             if (open.empty()) Fail(L"OpenMenuItems: no menu is open", E_FAIL);
             long level = a.Long(0, 0);
             if (level < 0 || level >= static_cast<long>(open.size())) Fail(L"OpenMenuItems: no open menu at level " + std::to_wstring(level));
             return DescribeMenu(open[open.size() - 1 - static_cast<size_t>(level)]);
         }},
        {L"SelectOpenItem", [](Args& a) {
             return Value::Long(static_cast<long>(MenuDriver::Get().Select(a.Str(0), L"SelectOpenItem")));
         }},
        {L"CloseMenu", [](Args&) { return Value::Long(static_cast<long>(MenuDriver::Get().Close())); }},
        {L"Folders", [](Args&) {
             std::vector<Value> out;
             Store& s = Store::Instance();
             for (const Folder& f : s.Folders())
                 out.push_back(Value::Array({Value::Long(static_cast<long>(f.id)), Value::Str(f.name), Value::Long(static_cast<long>(f.parentId)),
                                             Value::Long(static_cast<long>(s.UnreadCount(f.id))), Value::Long(static_cast<long>(s.MessageCount(f.id)))}));
             return Value::Array(out);
         }},
        {L"SelectFolder", [](Args& a) {
             MainWindow& main = Main(L"SelectFolder");
             int64_t id = -1;
             if (a.IsText(0)) {
                 std::wstring name = a.Str(0);
                 for (const Folder& f : Store::Instance().Folders())
                     if (_wcsicmp(f.name.c_str(), name.c_str()) == 0) id = f.id;
                 if (id < 0) Fail(L"SelectFolder: no folder named '" + name + L"'");
             } else {
                 id = a.Long(0);
             }
             if (!main.SelectFolder(id)) Fail(L"SelectFolder: no folder " + std::to_wstring(id));
             // The window shows the folder once the notification has returned.
             if (!PumpUntil([&] { return !main.folderChangePending(); }, kMaxWaitMs))
                 Fail(L"SelectFolder: the window did not change to folder " + std::to_wstring(id));
             return Value::Long(static_cast<long>(id));
         }},
        {L"Retitle", [](Args&) {
             Main(L"Retitle").Retitle();
             return Value::Bool(true);
         }},
        {L"SelectedFolder", [](Args&) {
             MainWindow& main = Main(L"SelectedFolder");
             HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(main.tree(), TVM_GETNEXTITEM, TVGN_CARET, 0));
             if (!item) return Value::Long(-1);
             TVITEMW tv{};
             tv.mask = TVIF_PARAM | TVIF_HANDLE;
             tv.hItem = item;
             SendMessageW(main.tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
             auto* record = reinterpret_cast<const FolderRecord*>(tv.lParam);
             return Value::Long(record ? static_cast<long>(record->id) : -1);
         }},
        {L"TreeItems", [](Args&) {
             // Every tree item in display order: Array(depth, text, item parameter).
             MainWindow& main = Main(L"TreeItems");
             HWND tree = main.tree();
             std::vector<Value> out;
             std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
                 for (; item; item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
                     wchar_t text[256] = {};
                     TVITEMW tv{};
                     tv.mask = TVIF_PARAM | TVIF_TEXT | TVIF_HANDLE;
                     tv.hItem = item;
                     tv.pszText = text;
                     tv.cchTextMax = 256;
                     SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
                     // The item parameter as the tree holds it, in decimal.
                     out.push_back(Value::Array({Value::Long(depth), Value::Str(text), Value::Str(std::to_wstring(static_cast<unsigned long long>(tv.lParam)))}));
                     walk(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item))), depth + 1);
                 }
             };
             walk(reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0);
             return Value::Array(out);
         }},
        // The message list and the preview pane.
        {L"Rows", [](Args&) { return RowsValue(Main(L"Rows")); }},
        {L"ListColumns", [](Args&) {
             MainWindow& main = Main(L"ListColumns");
             std::vector<Value> out;
             for (int c = 0; c < 4; ++c) {
                 wchar_t text[128] = {};
                 LVCOLUMNW col{};
                 col.mask = LVCF_TEXT;
                 col.pszText = text;
                 col.cchTextMax = 128;
                 SendMessageW(main.listView(), LVM_GETCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
                 out.push_back(Value::Str(text));
             }
             return Value::Array(out);
         }},
        {L"SelectRows", [](Args& a) {
             MainWindow& main = Main(L"SelectRows");
             std::vector<int> rows;
             for (long r : a.Longs(0)) {
                 if (r < 0 || r >= static_cast<long>(main.rows().size()))
                     Fail(L"SelectRows: no row " + std::to_wstring(r) + L" (the list has " + std::to_wstring(main.rows().size()) + L")");
                 rows.push_back(static_cast<int>(r));
             }
             main.SelectRows(rows);
             return Value::Bool(true);
         }},
        {L"FocusRow", [](Args& a) {
             MainWindow& main = Main(L"FocusRow");
             long r = a.Long(0);
             if (r < 0 || r >= static_cast<long>(main.rows().size())) Fail(L"FocusRow: no row " + std::to_wstring(r));
             LVITEMW st{};
             st.stateMask = LVIS_FOCUSED;
             st.state = LVIS_FOCUSED;
             SendMessageW(main.listView(), LVM_SETITEMSTATE, static_cast<WPARAM>(r), reinterpret_cast<LPARAM>(&st));
             return Value::Bool(true);
         }},
        {L"MessageTableFails", [](Args& a) {
             SetMessageTableFailing(a.Long(0) != 0);
             return Value::Bool(true);
         }},
        {L"GetMessageTableFails", [](Args& a) {
             SetGetMessageTableFailing(a.Long(0) != 0);
             return Value::Bool(true);
         }},
        {L"ListObjects", [](Args&) { return Value::Long(LiveMessageListObjects()); }},
        {L"SelectedRows", [](Args&) { return LongArray(Main(L"SelectedRows").SelectedRows()); }},
        {L"FocusedRow", [](Args&) { return Value::Long(Main(L"FocusedRow").FocusedRow()); }},
        {L"PreviewMessage", [](Args&) { return Value::Long(static_cast<long>(Main(L"PreviewMessage").previewMessage())); }},
        {L"PreviewAccount", [](Args&) { return Value::Str(MimeEditAccount(Main(L"PreviewAccount").preview())); }},
        {L"PreviewText", [](Args&) {
             auto content = BrowserContent(MimeEditBrowser(Main(L"PreviewText").preview()));
             return Value::Str(content ? HtmlToText(content->BodyInner()) : L"");
         }},
        // The store.
        {L"Messages", [](Args& a) {
             int64_t folder = a.Long(0);
             if (!Store::Instance().GetFolder(folder)) Fail(L"Messages: no folder " + std::to_wstring(folder));
             std::vector<Value> out;
             for (const Message& m : Store::Instance().MessagesIn(folder))
                 out.push_back(Value::Array({Value::Long(static_cast<long>(m.id)), Value::Str(m.from), Value::Str(m.to), Value::Str(m.subject),
                                             Value::Str(m.date), Value::Bool(m.read)}));
             return Value::Array(out);
         }},
        {L"MessageInfo", [](Args& a) {
             auto m = Store::Instance().GetMessage(a.Long(0));
             if (!m) Fail(L"MessageInfo: no message " + std::to_wstring(a.Long(0)));
             return Value::Array({Value::Long(static_cast<long>(m->folderId)), Value::Str(m->from), Value::Str(m->to), Value::Str(m->cc),
                                  Value::Str(m->subject), Value::Str(m->date), Value::Bool(m->read), Value::Bool(m->html), Value::Str(m->body)});
         }},
        {L"LastMessageId", [](Args& a) {
             int64_t folder = a.Long(0);
             if (!Store::Instance().GetFolder(folder)) Fail(L"LastMessageId: no folder " + std::to_wstring(folder));
             return Value::Long(static_cast<long>(Store::Instance().LastMessageId(folder)));
         }},
        {L"CommitOnWorker", [](Args& a) { return Value::Long(CommitOnWorker(a.Str(0), a)); }},
        // The same change made on the client's UI thread, as a user's action commits it.
        {L"Commit", [](Args& a) { return Value::Long(StoreWork(L"Commit", a.Str(0), a)()); }},
        {L"StoreObjects", [](Args&) { return Value::Long(LiveStoreObjects() + LiveMimeMessages()); }},
        // Accounts and body properties of stored messages.
        {L"MessageAccount", [](Args& a) {
             Message m = StoredMessage(a.Long(0), L"MessageAccount");
             return Value::Array({Value::Str(m.accountId), Value::Str(m.accountName), Value::Str(m.accountFile),
                                  Value::Str(m.accountDisplayName), Value::Str(m.accountEmail)});
         }},
        {L"SentWith", [](Args& a) { return Value::Str(StoredMessage(a.Long(0), L"SentWith").sentWith); }},
        {L"GetBodyProp", [](Args& a) {
             Message m = StoredMessage(a.Long(0), L"GetBodyProp");
             std::string value;
             if (!GetBodyProperty(m, PropertyKey::FromText(a.Str(1)), &value)) return Value();
             return Value::Str(plume::AnsiToWide(value.c_str()));
         }},
        {L"SetBodyProp", [](Args& a) {
             StoredMessage(a.Long(0), L"SetBodyProp");
             PropertyKey key = PropertyKey::FromText(a.Str(1));
             std::string value = plume::WideToAnsi(a.Str(2).c_str());
             return Value::Long(Store::Instance().UpdateMessage(a.Long(0), [&](Message& m) { SetBodyProperty(m, key, value); }) ? 1 : 0);
         }},
        // Raw calls into the client's COM objects by table position, for
        // tests that act as the library does (memory is the caller's to manage).
        {L"RawCreate", [](Args& a) {
             CLSID clsid;
             IID iid;
             if (FAILED(CLSIDFromString(a.Str(0).c_str(), &clsid)) || FAILED(IIDFromString(a.Str(1).c_str(), &iid)))
                 Fail(L"RawCreate: bad class or interface id");
             void* object = nullptr;
             HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
             if (FAILED(hr)) Fail(L"RawCreate: the object could not be created", hr);
             return Address(object);
         }},
        {L"RawCall", [](Args& a) { return Value::Long(CallSlot(a)); }},
        {L"RawFree", [](Args& a) {
             CoTaskMemFree(reinterpret_cast<void*>(Raw64(a, 0, L"RawFree")));
             return Value::Bool(true);
         }},
        {L"StoreSinks", [](Args&) { return Value::Long(StoreSinkCount()); }},
        // What the loaded library holds (its export "PlumeLiveCounts"), for
        // leak checks; empty when the library is not loaded.
        {L"LibraryCounts", [](Args&) {
             using Fn = LONG(WINAPI*)(LONG*, LONG);
             HMODULE library = GetModuleHandleW(L"plumesrv.dll");
             auto counts = library ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, "PlumeLiveCounts"))) : nullptr;
             std::vector<Value> out;
             LONG values[32] = {};
             const LONG n = counts ? counts(values, 32) : 0;
             for (LONG i = 0; i < n && i < 32; ++i) out.push_back(Value::Long(values[i]));
             return Value::Array(out);
         }},
        // Message windows.
        {L"MessageWindows", [](Args&) {
             std::vector<Value> out;
             for (NoteWindow* n : Client::Get().notes) out.push_back(Hwnd(n->hwnd()));
             return Value::Array(out);
         }},
        {L"NewMessage", [](Args&) {
             MainWindow& main = Main(L"NewMessage");
             auto before = Client::Get().notes;
             Click(main.toolbar(), kCmdNewMail, L"NewMessage");
             NoteWindow* n = NewestNoteSince(before.size(), before);
             if (!n) Fail(L"NewMessage: no message window opened", E_FAIL);
             return Hwnd(n->hwnd());
         }},
        {L"OpenSelected", [](Args&) {
             MainWindow& main = Main(L"OpenSelected");
             auto before = Client::Get().notes;
             SendMessageW(main.hwnd(), WM_COMMAND, MAKEWPARAM(kCmdOpen, 1), 0);
             NoteWindow* n = NewestNoteSince(before.size(), before);
             if (!n) Fail(L"OpenSelected: no message is selected", E_FAIL);
             return Hwnd(n->hwnd());
         }},
        {L"NoteInfo", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"NoteInfo");
             return Value::Array({Value::Str(n->kind() == NoteKind::Read ? L"read" : L"compose"), Value::Long(static_cast<long>(n->messageId())),
                                  Value::Bool(n->html()), Value::Bool(n->bccShown()), Value::Str(n->lastError())});
         }},
        {L"GetField", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"GetField");
             return Value::Str(RichEditText(FieldOf(n, a.Long(1), L"GetField")));
         }},
        {L"FieldRawText", [](Args& a) {
             // The control's own text (EM_GETTEXTEX), objects as the control gives them.
             NoteWindow* n = Note(a.Long(0), L"FieldRawText");
             HWND f = FieldOf(n, a.Long(1), L"FieldRawText");
             GETTEXTLENGTHEX len{GTL_DEFAULT, 1200};
             LRESULT count = SendMessageW(f, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
             std::wstring text(static_cast<size_t>(count > 0 ? count : 0) + 1, L'\0');
             GETTEXTEX get{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr, nullptr};
             LRESULT got = SendMessageW(f, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(text.data()));
             text.resize(static_cast<size_t>(got > 0 ? got : 0));
             return Value::Str(text);
         }},
        {L"FieldObjects", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"FieldObjects");
             plume::com_ptr<IRichEditOle> ole;
             SendMessageW(FieldOf(n, a.Long(1), L"FieldObjects"), EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
             return Value::Long(ole ? ole->GetObjectCount() : 0);
         }},
        {L"SetField", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"SetField");
             if (a.Long(1) == 0) Fail(L"SetField: use SetBody for the body");
             SetRichEditText(FieldOf(n, a.Long(1), L"SetField"), a.Str(2));
             return Value::Bool(true);
         }},
        {L"TypeText", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"TypeText");
             HWND target = FieldOf(n, a.Long(1), L"TypeText");
             if (GetWindowLongW(target, GWL_STYLE) & ES_READONLY) Fail(L"TypeText: the field is read-only", E_ACCESSDENIED);
             SetFocus(target);
             TypeInto(target, a.Str(2));
             return Value::Bool(true);
         }},
        {L"ResolveNames", [](Args& a) {
             Note(a.Long(0), L"ResolveNames")->ResolveNames();
             return Value::Bool(true);
         }},
        {L"ShowBcc", [](Args& a) {
             Note(a.Long(0), L"ShowBcc")->ShowBcc(a.Long(1) != 0);
             return Value::Bool(true);
         }},
        {L"BodyText", [](Args& a) { return Value::Str(Note(a.Long(0), L"BodyText")->BodyText()); }},
        {L"BodyHtml", [](Args& a) { return Value::Str(Note(a.Long(0), L"BodyHtml")->BodyHtml()); }},
        {L"SendNote", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"SendNote");
             if (n->kind() != NoteKind::Compose) Fail(L"SendNote: a read window has no Send button", E_ACCESSDENIED);
             Click(n->toolbar(), kCmdSend, L"SendNote");
             return Value::Bool(true);
         }},
        {L"CloseNote", [](Args& a) {
             NoteWindow* n = Note(a.Long(0), L"CloseNote");
             PostMessageW(n->hwnd(), WM_CLOSE, 0, 0);
             return Value::Bool(true);
         }},
        // Transfers.
        {L"StartSend", [](Args&) {
             if (!Client::Get().sendDialog) Fail(L"StartSend: there is no send dialog", E_FAIL);
             Client::Get().StartSend();
             return Value::Bool(true);
         }},
        {L"SendDialogFirst", [](Args&) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d) Fail(L"SendDialogFirst: there is no send dialog", E_FAIL);
             struct Search { DWORD pid; HWND first; } search{GetCurrentProcessId(), nullptr};
             EnumWindows([](HWND w, LPARAM p) -> BOOL {
                 auto* s = reinterpret_cast<Search*>(p);
                 DWORD pid = 0;
                 GetWindowThreadProcessId(w, &pid);
                 if (pid != s->pid || ClassOf(w) != L"#32770") return TRUE;
                 s->first = w;
                 return FALSE;
             }, reinterpret_cast<LPARAM>(&search));
             return Value::Long(search.first == d->hwnd() ? 1 : 0);
         }},
        {L"SendCommands", [](Args&) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d) Fail(L"SendCommands: there is no send dialog", E_FAIL);
             return Value::Long(static_cast<long>(d->commandLog().size()));
         }},
        {L"SendCommandParams", [](Args&) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d) Fail(L"SendCommandParams: there is no send dialog", E_FAIL);
             std::vector<Value> out;
             for (LPARAM lp : d->commandLog()) out.push_back(Value::Long(static_cast<long>(lp)));
             return Value::Array(out);
         }},
        {L"ClearSendLog", [](Args&) {
             if (SendDialog* d = Client::Get().sendDialog) d->ClearCommandLog();
             return Value::Bool(true);
         }},
        // The client's command to start a send, with an lParam of the caller's.
        {L"SendCommand", [](Args& a) {
             if (!Client::Get().sendDialog) Fail(L"SendCommand: there is no send dialog", E_FAIL);
             return Value::Long(static_cast<long>(
                 SendMessageW(Client::Get().sendDialog->hwnd(), kMsgStartSend, 0, static_cast<LPARAM>(a.Long(0)))));
         }},
        // While held, a message window's Send stops before its sending state ends.
        {L"HoldNoteSends", [](Args& a) {
             NoteWindow::HoldSends(a.Long(0) != 0);
             return Value::Bool(true);
         }},
        {L"HeldNoteSends", [](Args&) { return Value::Long(static_cast<long>(NoteWindow::HeldSends())); }},
        {L"HoldTransfers", [](Args& a) {
             if (!Client::Get().sendDialog) Fail(L"HoldTransfers: there is no send dialog", E_FAIL);
             Client::Get().sendDialog->SetHold(a.Long(0) != 0);
             return Value::Bool(true);
         }},
        {L"FinishTransfer", [](Args&) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d || !d->Release()) Fail(L"FinishTransfer: no transfer is running", E_FAIL);
             return Value::Bool(true);
         }},
        {L"TransferState", [](Args&) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d) Fail(L"TransferState: there is no send dialog", E_FAIL);
             return Value::Array({Value::Bool(d->busy()), Value::Long(d->transfersStarted()), Value::Long(d->transfersFinished()),
                                  Value::Long(d->requestsWhileBusy()), Value::Long(static_cast<long>(d->lastRequest()))});
         }},
        {L"WaitTransferIdle", [](Args& a) {
             SendDialog* d = Client::Get().sendDialog;
             if (!d) Fail(L"WaitTransferIdle: there is no send dialog", E_FAIL);
             DWORD ms = static_cast<DWORD>(std::clamp<long>(a.Long(0, 5000), 0, kMaxWaitMs));
             return Value::Bool(PumpUntil([d] { return !d->busy(); }, ms));
         }},
        {L"TimeMessage", [](Args& a) {
             // Sent here, on the UI thread, so the figure is what the thread spends.
             HWND hwnd = OwnWindow(a.Long(0), L"TimeMessage");
             const UINT message = static_cast<UINT>(a.Long(1));
             const WPARAM wParam = static_cast<WPARAM>(a.Long(2));
             const long count = std::clamp<long>(a.Long(3, 1), 1, 100000);
             LARGE_INTEGER start, end, frequency;
             QueryPerformanceFrequency(&frequency);
             QueryPerformanceCounter(&start);
             for (long i = 0; i < count; ++i) SendMessageW(hwnd, message, wParam, 0);
             QueryPerformanceCounter(&end);
             const double ns = static_cast<double>(end.QuadPart - start.QuadPart) * 1e9 /
                               static_cast<double>(frequency.QuadPart) / static_cast<double>(count);
             return Value::Long(static_cast<long>(std::min(ns, 2e9)));
         }},
        {L"Pump", [](Args& a) {
             DWORD ms = static_cast<DWORD>(std::clamp<long>(a.Long(0), 0, kMaxWaitMs));
             PumpUntil([] { return false; }, ms);
             return Value::Bool(true);
         }},
        // Watching the messages that reach a window.
        {L"WatchMessages", [](Args& a) {
             long handle = a.Long(0);
             g_watch.hwnd = handle ? OwnWindow(handle, L"WatchMessages") : nullptr;
             g_watch.messages.clear();
             for (long m : a.Longs(1)) g_watch.messages.insert(static_cast<UINT>(m));
             g_watch.seen.clear();
             if (!g_watch.sent) g_watch.sent.reset(SetWindowsHookExW(WH_CALLWNDPROC, WatchSent, nullptr, GetCurrentThreadId()));
             if (!g_watch.posted) g_watch.posted.reset(SetWindowsHookExW(WH_GETMESSAGE, WatchPosted, nullptr, GetCurrentThreadId()));
             if (!g_watch.sent || !g_watch.posted) Fail(L"WatchMessages: cannot install the hooks", E_FAIL);
             return Value::Bool(true);
         }},
        {L"WatchedMessages", [](Args&) {
             std::vector<Value> out;
             for (const WatchEntry& e : g_watch.seen)
                 out.push_back(Value::Array({Hwnd(e.hwnd), Value::Long(static_cast<long>(e.msg)), Value::Long(static_cast<long>(e.wp)),
                                             Value::Long(static_cast<long>(e.lp)), Value::Bool(e.posted)}));
             return Value::Array(out);
         }},
        {L"StopWatching", [](Args&) {
             g_watch.sent.reset();
             g_watch.posted.reset();
             g_watch.seen.clear();
             g_watch.messages.clear();
             return Value::Bool(true);
         }},
        {L"LiveObjects", [](Args&) { return Value::Long(LiveHtmlObjects() + LiveRecipientObjects()); }},
        {L"WrongThreadCalls", [](Args&) { return Value::Long(WrongThreadHtmlCalls() + WrongThreadMessageListCalls()); }},
    };
    return methods;
}

LRESULT CALLBACK ControlWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    static const UINT getControl = RegisterWindowMessageA(kGetControlMessage);
    if (msg == getControl) {
        plume::com_ptr<IDispatch> object = plume::com_ptr<IDispatch>::attach(new ControlObject());
        return LresultFromObject(IID_IDispatch, wp, object.get());
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

plume::unique_hwnd g_controlWindow;

}  // namespace

bool RegisterControlChannel() {
    if (!g_controlWindow) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ControlWindowProc;
        wc.hInstance = g_instance;
        wc.lpszClassName = kControlWindowClass;
        RegisterClassExW(&wc);
        g_controlWindow.reset(CreateWindowExW(0, kControlWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_instance, nullptr));
    }
    if (!g_cookie)
        CoRegisterClassObject(kClsidStandinClient, &g_classObject, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &g_cookie);
    return g_cookie != 0 || g_controlWindow;
}

void WatchFromStart(HWND hwnd, const std::vector<UINT>& messages) {
    g_watch.hwnd = hwnd;
    g_watch.messages = std::set<UINT>(messages.begin(), messages.end());
    g_watch.seen.clear();
    if (!g_watch.sent) g_watch.sent.reset(SetWindowsHookExW(WH_CALLWNDPROC, WatchSent, nullptr, GetCurrentThreadId()));
    if (!g_watch.posted) g_watch.posted.reset(SetWindowsHookExW(WH_GETMESSAGE, WatchPosted, nullptr, GetCurrentThreadId()));
}

void RevokeControlChannel() {
    g_controlWindow.reset();
    if (g_cookie) CoRevokeClassObject(g_cookie);
    g_cookie = 0;
    g_watch.sent.reset();
    g_watch.posted.reset();
}

}  // namespace msoe
