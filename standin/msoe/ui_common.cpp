#include "ui_common.h"

#include <oleacc.h>
#include <richedit.h>
#include <richole.h>

#include "com_ptr.h"
#include "commands.h"
#include "recipients.h"

namespace msoe {

LRESULT UnicodeNotifications(WPARAM, LPARAM command) {
    return command == NF_QUERY ? NFR_UNICODE : 0;
}


HINSTANCE g_instance = nullptr;

namespace {

LRESULT ForwardToParent(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    HWND parent = GetParent(hwnd);
    return parent ? SendMessageW(parent, msg, wp, lp) : 0;
}

// What every container window does with the messages it does not handle
// itself: Unicode notifications, commands and notifications passed on to the
// parent (as the client's containers do), the rest to the default procedure.
LRESULT ContainerDefault(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_NOTIFYFORMAT:
        return UnicodeNotifications(wp, lp);
    case WM_COMMAND:
    case WM_NOTIFY:
        return ForwardToParent(hwnd, msg, wp, lp);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT PaintButtonFace(HWND hwnd, HDC dc) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
}

// ---------------------------------------------------------------- SizableRebar

LRESULT CALLBACK SizableRebarProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        return PaintButtonFace(hwnd, reinterpret_cast<HDC>(wp));
    }
    return ContainerDefault(hwnd, msg, wp, lp);
}

// ---------------------------------------------------------------- containers

// Containers with one child that fills them ("ME_DocHost", "RichEdDoc Class",
// "Outlook Express Message List").
LRESULT CALLBACK FillContainerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE:
        if (HWND child = GetWindow(hwnd, GW_CHILD)) MoveWindow(child, 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
        return 0;
    case WM_PARENTNOTIFY:
        if (LOWORD(wp) == WM_CREATE) {
            RECT rc;
            GetClientRect(hwnd, &rc);
            MoveWindow(reinterpret_cast<HWND>(lp), 0, 0, rc.right, rc.bottom, FALSE);
        }
        return 0;
    }
    return ContainerDefault(hwnd, msg, wp, lp);
}

// "Outlook Express Message View": the message list above, the preview below.
LRESULT CALLBACK MessageViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_SIZE: {
        int w = LOWORD(lp), h = HIWORD(lp);
        int listHeight = h * 45 / 100;
        HWND list = FindWindowExW(hwnd, nullptr, kMessageListClass, nullptr);
        HWND preview = FindWindowExW(hwnd, nullptr, kMimeEditClass, nullptr);
        if (list) MoveWindow(list, 0, 0, w, listHeight, TRUE);
        if (preview) MoveWindow(preview, 0, listHeight + 4, w, h - listHeight - 4, TRUE);
        return 0;
    }
    case WM_ERASEBKGND:
        return PaintButtonFace(hwnd, reinterpret_cast<HDC>(wp));
    }
    return ContainerDefault(hwnd, msg, wp, lp);
}

LRESULT CALLBACK EnvelopeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CTLCOLORSTATIC:
        SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    return ContainerDefault(hwnd, msg, wp, lp);
}

// ---------------------------------------------------------------- browser view

struct BrowserData {
    std::shared_ptr<HtmlContent> content;
    IUnknown* document = nullptr;  // made on the first request, released with the window
};

BrowserData* GetBrowserData(HWND hwnd) { return reinterpret_cast<BrowserData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

LRESULT CALLBACK BrowserProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    BrowserData* data = GetBrowserData(hwnd);
    if (data && msg == HtmlGetObjectMessage()) {
        if (!data->document) data->document = CreateHtmlDocument(data->content);
        // {332C4425-26CB-11D0-B483-00C04FD90119}
        static const IID iidDocument2 = {0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
        return LresultFromObject(iidDocument2, wp, data->document);
    }
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        FillRect(dc, &rc, GetSysColorBrush(COLOR_WINDOW));
        if (data) {
            std::wstring text = HtmlToText(data->content->BodyInner());
            HGDIOBJ old = SelectObject(dc, UiFont());
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            InflateRect(&rc, -8, -6);
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rc, DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
            SelectObject(dc, old);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
    case WM_LBUTTONDOWN:
        SetFocus(hwnd);
        return 0;
    case WM_NCDESTROY:
        if (data) {
            if (data->document) data->document->Release();
            data->content->SetOnChange(nullptr);
            delete data;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        }
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// ---------------------------------------------------------------- MIME edit

struct MimeEditData {
    bool header;
    std::wstring from, to, subject, account;
};

int MimeHeaderHeight(const MimeEditData* d) { return d && d->header ? 58 : 0; }

LRESULT CALLBACK MimeEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NOTIFYFORMAT) return UnicodeNotifications(wp, lp);
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    auto* data = reinterpret_cast<MimeEditData*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
        return ForwardToParent(hwnd, msg, wp, lp);
    case WM_SIZE:
        if (HWND browser = FindWindowExW(hwnd, nullptr, kBrowserClass, nullptr)) {
            int top = MimeHeaderHeight(data);
            MoveWindow(browser, 0, top, LOWORD(lp), HIWORD(lp) - top, TRUE);
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        rc.bottom = MimeHeaderHeight(data);
        if (rc.bottom > 0) {
            FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
            SetBkMode(dc, TRANSPARENT);
            HGDIOBJ old = SelectObject(dc, UiBoldFont());
            std::wstring lines[3] = {L"From:  " + data->from, L"To:  " + data->to, L"Subject:  " + data->subject};
            if (data->from.empty() && data->subject.empty()) lines[0] = L"No message selected", lines[1].clear(), lines[2].clear();
            for (int i = 0; i < 3; ++i) {
                RECT line = {8, 4 + i * 17, rc.right - 8, 4 + (i + 1) * 17};
                if (i == 1) SelectObject(dc, UiFont());
                DrawTextW(dc, lines[i].c_str(), -1, &line, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
            }
            if (!data->account.empty()) {
                RECT line = {8, 4, rc.right - 8, 21};
                std::wstring text = L"Account:  " + data->account;
                DrawTextW(dc, text.c_str(), -1, &line, DT_SINGLELINE | DT_NOPREFIX | DT_RIGHT);
            }
            SelectObject(dc, old);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        delete data;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

bool RegisterOne(const wchar_t* name, WNDPROC proc, HBRUSH background, UINT style = 0) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = g_instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

LRESULT CALLBACK ToolbarForwardProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    // A WM_COMMAND sent or posted to the toolbar itself (not from one of its
    // buttons, which notify the rebar) is the window's command.
    if (msg == WM_COMMAND) return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hwnd, ToolbarForwardProc, 1);
    return DefSubclassProc(hwnd, msg, wp, lp);
}

HFONT MakeFont(int height, int weight) {
    NONCLIENTMETRICSW m{};
    m.cbSize = sizeof(m);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(m), &m, 0);
    LOGFONTW lf = m.lfMessageFont;
    if (height) lf.lfHeight = height;
    lf.lfWeight = weight;
    return CreateFontIndirectW(&lf);
}

}  // namespace

HFONT UiFont() {
    static HFONT font = MakeFont(-12, FW_NORMAL);
    return font;
}
HFONT UiBoldFont() {
    static HFONT font = MakeFont(-12, FW_BOLD);
    return font;
}
HFONT UiLargeFont() {
    static HFONT font = MakeFont(-16, FW_BOLD);
    return font;
}

UINT HtmlGetObjectMessage() {
    static const UINT msg = RegisterWindowMessageA("WM_HTML_GETOBJECT");
    return msg;
}

bool RegisterClientClasses() {
    static bool done = false;
    if (done) return true;
    LoadLibraryW(L"riched20.dll");
    LoadLibraryW(L"msftedit.dll");
    bool ok = RegisterOne(kSizableRebarClass, SizableRebarProc, nullptr) &&
              RegisterOne(kMessageViewClass, MessageViewProc, nullptr) &&
              RegisterOne(kMessageListClass, FillContainerProc, nullptr) &&
              RegisterOne(kDocHostClass, FillContainerProc, nullptr) &&
              RegisterOne(kRichDocClass, FillContainerProc, nullptr) &&
              RegisterOne(kEnvelopeClass, EnvelopeProc, GetSysColorBrush(COLOR_BTNFACE)) &&
              RegisterOne(kMimeEditClass, MimeEditProc, GetSysColorBrush(COLOR_WINDOW)) &&
              RegisterOne(kBrowserClass, BrowserProc, nullptr, CS_HREDRAW | CS_VREDRAW);
    // "ATL:SysListView32": the list view under the name the client's
    // framework gives its superclass.
    WNDCLASSEXW lv{};
    lv.cbSize = sizeof(lv);
    if (ok && GetClassInfoExW(nullptr, WC_LISTVIEWW, &lv)) {
        lv.hInstance = g_instance;
        lv.lpszClassName = kAtlListViewClass;
        ok = RegisterClassExW(&lv) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    } else {
        ok = false;
    }
    done = ok;
    return ok;
}

// ---------------------------------------------------------------- rebars

HWND CreateSizableRebar(HWND parent, int rebars) {
    HWND sizable = CreateWindowExW(0, kSizableRebarClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 30,
                                   parent, nullptr, g_instance, nullptr);
    if (!sizable) return nullptr;
    for (int i = 0; i < rebars; ++i) {
        CreateWindowExW(WS_EX_TOOLWINDOW, REBARCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT | RBS_BANDBORDERS |
                            CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
                        0, 0, 100, 30, sizable, nullptr, g_instance, nullptr);
    }
    return sizable;
}

HWND RebarAt(HWND sizableRebar, int index) {
    HWND rebar = nullptr;
    for (int i = 0; i <= index; ++i) {
        rebar = FindWindowExW(sizableRebar, rebar, REBARCLASSNAMEW, nullptr);
        if (!rebar) return nullptr;
    }
    return rebar;
}

int LayoutSizableRebar(HWND sizableRebar, int width) {
    int y = 0;
    for (HWND rebar = nullptr; (rebar = FindWindowExW(sizableRebar, rebar, REBARCLASSNAMEW, nullptr));) {
        int h = static_cast<int>(SendMessageW(rebar, RB_GETBARHEIGHT, 0, 0));
        if (h <= 0) h = 4;
        MoveWindow(rebar, 0, y, width, h, TRUE);
        y += h;
    }
    return y;
}

HWND AddToolbarBand(HWND rebar, UINT bandId, const std::vector<ToolbarButton>& buttons, bool withText) {
    HWND tb = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_TRANSPARENT |
                                  CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
                              0, 0, 400, 40, rebar, reinterpret_cast<HMENU>(static_cast<INT_PTR>(bandId)), g_instance, nullptr);
    if (!tb) return nullptr;
    SetWindowSubclass(tb, ToolbarForwardProc, 1, 0);
    SendMessageW(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(tb, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    SendMessageW(tb, TB_LOADIMAGES, IDB_STD_LARGE_COLOR, reinterpret_cast<LPARAM>(HINST_COMMCTRL));
    SendMessageW(tb, TB_LOADIMAGES, IDB_VIEW_LARGE_COLOR, reinterpret_cast<LPARAM>(HINST_COMMCTRL));
    std::vector<TBBUTTON> tbb;
    for (const auto& b : buttons) {
        TBBUTTON t{};
        if (b.command == 0) {
            t.fsStyle = BTNS_SEP;
            t.iBitmap = 6;
        } else {
            t.iBitmap = b.image;
            t.idCommand = static_cast<int>(b.command);
            t.fsState = TBSTATE_ENABLED;
            t.fsStyle = static_cast<BYTE>(BTNS_BUTTON | BTNS_AUTOSIZE | b.style);
            t.iString = withText ? reinterpret_cast<INT_PTR>(b.text) : -1;
        }
        tbb.push_back(t);
    }
    SendMessageW(tb, TB_ADDBUTTONSW, tbb.size(), reinterpret_cast<LPARAM>(tbb.data()));
    SendMessageW(tb, TB_AUTOSIZE, 0, 0);
    SIZE size{};
    SendMessageW(tb, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    DWORD buttonSize = static_cast<DWORD>(SendMessageW(tb, TB_GETBUTTONSIZE, 0, 0));

    REBARBANDINFOW band{};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_ID | RBBIM_STYLE | RBBIM_IDEALSIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS | RBBS_BREAK;
    band.hwndChild = tb;
    band.cxMinChild = 0;
    band.cyMinChild = HIWORD(buttonSize);
    band.cx = size.cx + 20;
    band.cxIdeal = size.cx;
    band.wID = bandId;
    SendMessageW(rebar, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    return tb;
}

// ---------------------------------------------------------------- menus

std::wstring PlainMenuText(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\t') break;
        if (text[i] == L'&') {
            if (i + 1 < text.size() && text[i + 1] == L'&') out += L'&', ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

HWND AddMenuBand(HWND rebar, HMENU menuBar) {
    HWND tb = CreateWindowExW(0, TOOLBARCLASSNAMEW, nullptr,
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_LIST | TBSTYLE_TRANSPARENT |
                                  CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
                              0, 0, 400, 22, rebar, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBandMenu)), g_instance, nullptr);
    if (!tb) return nullptr;
    SendMessageW(tb, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(tb, TB_SETBITMAPSIZE, 0, MAKELPARAM(0, 0));
    int count = GetMenuItemCount(menuBar);
    std::vector<std::wstring> texts(count);
    std::vector<TBBUTTON> buttons;
    for (int i = 0; i < count; ++i) {
        wchar_t text[128] = {};
        GetMenuStringW(menuBar, i, text, 128, MF_BYPOSITION);
        texts[i] = PlainMenuText(text);
        TBBUTTON b{};
        b.iBitmap = I_IMAGENONE;
        b.idCommand = static_cast<int>(kMenuBandFirst + i);
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = BTNS_BUTTON | BTNS_AUTOSIZE | BTNS_DROPDOWN | BTNS_WHOLEDROPDOWN;
        b.iString = reinterpret_cast<INT_PTR>(texts[i].c_str());
        buttons.push_back(b);
    }
    SendMessageW(tb, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageW(tb, TB_AUTOSIZE, 0, 0);
    SIZE size{};
    SendMessageW(tb, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
    REBARBANDINFOW band{};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE | RBBIM_ID | RBBIM_STYLE | RBBIM_IDEALSIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS;
    band.hwndChild = tb;
    band.cyMinChild = size.cy > 0 ? size.cy : 22;
    band.cx = size.cx + 20;
    band.cxIdeal = size.cx;
    band.wID = kBandMenu;
    SendMessageW(rebar, RB_INSERTBANDW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    return tb;
}

void TrackMenuBandPopup(HWND owner, HWND menuBand, HMENU menuBar, int index) {
    HMENU popup = GetSubMenu(menuBar, index);
    if (!popup) return;
    RECT rc{};
    SendMessageW(menuBand, TB_GETRECT, kMenuBandFirst + index, reinterpret_cast<LPARAM>(&rc));
    MapWindowPoints(menuBand, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    SendMessageW(owner, WM_MENUSELECT, MAKEWPARAM(index, MF_POPUP | MF_HILITE | MF_MOUSESELECT), reinterpret_cast<LPARAM>(menuBar));
    SendMessageW(menuBand, TB_PRESSBUTTON, kMenuBandFirst + index, TRUE);
    TrackPopupMenuEx(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, rc.left, rc.bottom, owner, nullptr);
    SendMessageW(menuBand, TB_PRESSBUTTON, kMenuBandFirst + index, FALSE);
}

// ---------------------------------------------------------------- message views

HWND CreateBrowserView(HWND parent, std::shared_ptr<HtmlContent> content) {
    auto* data = new BrowserData{content, nullptr};
    HWND hwnd = CreateWindowExW(0, kBrowserClass, nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 100, 100, parent, nullptr,
                                g_instance, data);
    if (!hwnd) {
        delete data;
        return nullptr;
    }
    content->SetOnChange([hwnd] { InvalidateRect(hwnd, nullptr, TRUE); });
    return hwnd;
}

std::shared_ptr<HtmlContent> BrowserContent(HWND browser) {
    wchar_t cls[64] = {};
    GetClassNameW(browser, cls, 64);
    if (wcscmp(cls, kBrowserClass) != 0 || GetWindowThreadProcessId(browser, nullptr) != GetCurrentThreadId()) return nullptr;
    BrowserData* data = GetBrowserData(browser);
    return data ? data->content : nullptr;
}

HWND CreateMimeEdit(HWND parent, std::shared_ptr<HtmlContent> content, bool header) {
    auto* data = new MimeEditData{header, {}, {}, {}, {}};
    HWND hwnd = CreateWindowExW(0, kMimeEditClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 100, parent,
                                nullptr, g_instance, data);
    if (!hwnd) {
        delete data;
        return nullptr;
    }
    CreateBrowserView(hwnd, std::move(content));
    RECT rc;
    GetClientRect(hwnd, &rc);
    SendMessageW(hwnd, WM_SIZE, 0, MAKELPARAM(rc.right, rc.bottom));
    return hwnd;
}

void SetMimeEditHeader(HWND mimeEdit, const std::wstring& from, const std::wstring& to, const std::wstring& subject,
                       const std::wstring& account) {
    auto* data = reinterpret_cast<MimeEditData*>(GetWindowLongPtrW(mimeEdit, GWLP_USERDATA));
    if (!data) return;
    data->from = from;
    data->to = to;
    data->subject = subject;
    data->account = account;
    InvalidateRect(mimeEdit, nullptr, TRUE);
}

std::wstring MimeEditAccount(HWND mimeEdit) {
    auto* data = reinterpret_cast<MimeEditData*>(GetWindowLongPtrW(mimeEdit, GWLP_USERDATA));
    return data ? data->account : std::wstring();
}

HWND MimeEditBrowser(HWND mimeEdit) { return FindWindowExW(mimeEdit, nullptr, kBrowserClass, nullptr); }

const wchar_t* PlainEditorClass() { return L"RichEdit50W"; }
const wchar_t* EnvelopeEditClass() { return L"RichEdit20W"; }

std::wstring RichEditText(HWND edit) {
    GETTEXTLENGTHEX len{GTL_DEFAULT, 1200};
    LRESULT n = SendMessageW(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&len), 0);
    if (n <= 0) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GETTEXTEX get{};
    get.cb = static_cast<DWORD>((n + 1) * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    LRESULT got = SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    // Objects (resolved recipients) read as their text.
    plume::com_ptr<IRichEditOle> ole;
    SendMessageW(edit, EM_GETOLEINTERFACE, 0, reinterpret_cast<LPARAM>(ole.put()));
    if (!ole) return text;
    for (LONG i = ole->GetObjectCount() - 1; i >= 0; --i) {
        REOBJECT reo{};
        reo.cbStruct = sizeof(reo);
        if (FAILED(ole->GetObject(i, &reo, REO_GETOBJ_POLEOBJ)) || !reo.poleobj) continue;
        plume::com_ptr<IOleObject> obj = plume::com_ptr<IOleObject>::attach(reo.poleobj);
        if (reo.cp >= 0 && static_cast<size_t>(reo.cp) < text.size()) text.replace(static_cast<size_t>(reo.cp), 1, RecipientObjectText(obj.get()));
    }
    return text;
}

void SetRichEditText(HWND edit, const std::wstring& text) {
    SETTEXTEX set{ST_DEFAULT, 1200};
    SendMessageW(edit, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&set), reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace msoe
