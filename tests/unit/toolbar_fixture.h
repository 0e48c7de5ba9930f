// Windows in the client's shape for toolbar tests: a top-level window with
// a "SizableRebar" that holds one or two "ReBarWindow32" controls, the last
// of which carries the client's own toolbar as band 101; and readers of
// what the real controls hold.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "bitmap_file.h"
#include "client_numbers.h"
#include "variant_scope.h"
#include "window_class.h"
#include "ui/toolbar_registry.h"
#include "ui/ui_resources.h"

namespace plume::test {

// WM_COMMAND identifiers the client's window procedure received.
inline std::vector<int>& ClientCommands() {
    static std::vector<int> commands;
    return commands;
}

inline LRESULT CALLBACK ClientMainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) ClientCommands().push_back(LOWORD(wParam));
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// The library's subclass of the main window, as the hook layer installs it.
inline WNDPROC& PreviousMainProc() {
    static WNDPROC previous = nullptr;
    return previous;
}
inline LRESULT CALLBACK RoutingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return RouteCommand(PreviousMainProc(), hwnd, message, wParam, lParam);
}

// A container passes commands and notifications on to its parent, as the
// client's does.
inline LRESULT CALLBACK ContainerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND || message == WM_NOTIFY) return SendMessageA(GetParent(hwnd), message, wParam, lParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

struct ClientWindow {
    HWND main = nullptr;
    HWND sizable = nullptr;
    std::vector<HWND> rebars;
    HWND clientToolbar = nullptr;

    // `rebarCount` rebars; the client's toolbar (with the Send command when
    // `withSend`) goes into the last one.
    explicit ClientWindow(int rebarCount, bool withSend = false, bool routed = true) {
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_COOL_CLASSES};
        InitCommonControlsEx(&icc);
        main = CreateWindowA(WindowClass("PlumeTestClientMain", ClientMainProc), "client",
                             WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
        if (routed)
            PreviousMainProc() = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(main, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RoutingProc)));
        sizable = CreateWindowA(WindowClass("SizableRebar", ContainerProc), "", WS_CHILD | WS_VISIBLE, 0, 0, 800, 120,
                                main, nullptr, nullptr, nullptr);
        for (int i = 0; i < rebarCount; ++i)
            rebars.push_back(CreateWindowExA(0, REBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | RBS_VARHEIGHT | CCS_NODIVIDER,
                                             0, 60 * i, 800, 60, sizable, nullptr, nullptr, nullptr));
        if (rebars.empty()) return;
        HWND rb = rebars.back();
        clientToolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | CCS_NORESIZE |
                                        CCS_NODIVIDER | CCS_NOPARENTALIGN, 0, 0, 400, 30, rb, nullptr, nullptr, nullptr);
        SendMessageA(clientToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        std::vector<TBBUTTON> buttons;
        for (int id : {40100, withSend ? client_numbers::kSendCommand : 40200}) {
            TBBUTTON b{};
            b.iBitmap = I_IMAGENONE;
            b.idCommand = id;
            b.fsState = TBSTATE_ENABLED;
            b.fsStyle = BTNS_BUTTON;
            b.iString = -1;
            buttons.push_back(b);
        }
        SendMessageA(clientToolbar, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
        REBARBANDINFOA band{};
        band.cbSize = REBARBANDINFOA_V6_SIZE;
        band.fMask = RBBIM_CHILD | RBBIM_ID | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_STYLE;
        band.fStyle = RBBS_CHILDEDGE;
        band.hwndChild = clientToolbar;
        band.wID = client_numbers::kClientToolbarBand;
        band.cyMinChild = 30;
        band.cx = 400;
        SendMessageA(rb, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    }
    ~ClientWindow() { DestroyWindow(main); }
    ClientWindow(const ClientWindow&) = delete;
    ClientWindow& operator=(const ClientWindow&) = delete;
};

// The library's counts of toolbars, buttons, image lists, bitmaps and menus.
inline auto Counts(const UiResourceCounts& c) {
    return std::make_tuple(c.toolbars, c.buttons, c.imageLists, c.bitmaps, c.menus);
}

// What a rebar and a toolbar control hold.
inline REBARBANDINFOA BandAt(HWND rebar, LRESULT index) {
    REBARBANDINFOA info{REBARBANDINFOA_V6_SIZE,
                        RBBIM_ID | RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_IDEALSIZE};
    SendMessageA(rebar, RB_GETBANDINFOA, index, reinterpret_cast<LPARAM>(&info));
    return info;
}
inline REBARBANDINFOA BandInfo(HWND rebar, UINT id) { return BandAt(rebar, SendMessageA(rebar, RB_IDTOINDEX, id, 0)); }
inline std::vector<UINT> BandIds(HWND rebar) {
    std::vector<UINT> ids;
    for (int i = 0, n = static_cast<int>(SendMessageA(rebar, RB_GETBANDCOUNT, 0, 0)); i < n; ++i)
        ids.push_back(BandAt(rebar, i).wID);
    return ids;
}

// The control's image list, and the size of its images.
inline HIMAGELIST Images(HWND toolbar) {
    return reinterpret_cast<HIMAGELIST>(SendMessageA(toolbar, TB_GETIMAGELIST, 0, 0));
}
inline std::pair<int, int> ImageSize(HWND toolbar) {
    int w = 0, h = 0;
    ImageList_GetIconSize(Images(toolbar), &w, &h);
    return {w, h};
}

inline std::string ButtonText(HWND toolbar, int id) {
    char text[512] = {};
    if (SendMessageA(toolbar, TB_GETBUTTONTEXTA, id, reinterpret_cast<LPARAM>(text)) < 0) return "<none>";
    return text;
}

inline TBBUTTONINFOA ButtonInfo(HWND toolbar, int id) {
    TBBUTTONINFOA info{sizeof info, TBIF_STYLE | TBIF_STATE | TBIF_IMAGE | TBIF_COMMAND};
    SendMessageA(toolbar, TB_GETBUTTONINFOA, id, reinterpret_cast<LPARAM>(&info));
    return info;
}

// The index of the button's string in the control's list, -1 for none.
inline INT_PTR ButtonStringIndex(HWND toolbar, int id) {
    TBBUTTON button{};
    const LRESULT index = SendMessageA(toolbar, TB_COMMANDTOINDEX, id, 0);
    if (index < 0 || !SendMessageA(toolbar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(&button))) return -2;
    return button.iString;
}

inline std::string TooltipText(HWND toolbar, int id) {
    HWND tips = reinterpret_cast<HWND>(SendMessageA(toolbar, TB_GETTOOLTIPS, 0, 0));
    if (!tips) return "<no tooltips>";
    char text[1100] = {};
    TOOLINFOA info{};
    info.cbSize = sizeof info;
    info.hwnd = toolbar;
    info.uId = id;
    info.lpszText = text;
    SendMessageA(tips, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info));
    return text;
}

// Presses and releases the mouse on a button of the real control, in its
// middle or (`arrow`) on its drop-down arrow.
inline void ClickButton(HWND toolbar, int id, bool arrow = false) {
    RECT r{};
    SendMessageA(toolbar, TB_GETRECT, id, reinterpret_cast<LPARAM>(&r));
    const LPARAM at = MAKELPARAM(arrow ? r.right - 3 : (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(toolbar, WM_MOUSEMOVE, 0, at);
    SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(toolbar, WM_LBUTTONUP, 0, at);
}

// A 24-bit bitmap file of one colour; returns its path.
inline std::string WriteBitmapFile(const std::string& name, int w, int h, COLORREF color) {
    std::wstring path = WriteBitmapFile(std::wstring(name.begin(), name.end()).c_str(), w, h, color);
    return std::string(path.begin(), path.end());
}

// Popup menus shown while a MenuWatcher lives: their items are recorded as
// the menu opens, and the menu is closed at once.
struct MenuItemSeen {
    UINT id;
    std::string text;
    HBITMAP checkedBitmap;
};
inline std::vector<std::vector<MenuItemSeen>>& MenusSeen() {
    static std::vector<std::vector<MenuItemSeen>> menus;
    return menus;
}
inline void CALLBACK CloseMenuSoon(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EndMenu();
}
inline LRESULT CALLBACK WatchMenus(int code, WPARAM wParam, LPARAM lParam) {
    auto* c = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && c->message == WM_INITMENUPOPUP) {
        HMENU menu = reinterpret_cast<HMENU>(c->wParam);
        std::vector<MenuItemSeen> items;
        for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
            char text[300] = {};
            MENUITEMINFOA info{sizeof info, MIIM_ID | MIIM_STRING | MIIM_CHECKMARKS};
            info.dwTypeData = text;
            info.cch = sizeof text;
            GetMenuItemInfoA(menu, i, TRUE, &info);
            items.push_back({info.wID, text, info.hbmpChecked});
        }
        MenusSeen().push_back(items);
        SetTimer(nullptr, 0, 1, CloseMenuSoon);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
struct MenuWatcher {
    HHOOK hook;
    MenuWatcher() : hook(SetWindowsHookExA(WH_CALLWNDPROC, WatchMenus, nullptr, GetCurrentThreadId())) {
        MenusSeen().clear();
    }
    ~MenuWatcher() { UnhookWindowsHookEx(hook); }
    MenuWatcher(const MenuWatcher&) = delete;
    MenuWatcher& operator=(const MenuWatcher&) = delete;
};

}  // namespace plume::test
