// OEPluginToolbar: a toolbar control as a band of the client's rebar, its
// image lists and its chevron menu.
#include <windows.h>
#include <commctrl.h>

#include "client_variant.h"
#include "manager/identifiers.h"
#include "ui/toolbar_records.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

constexpr UINT kRbGetBandInfoA = 0x41D;  // RB_GETBANDINFOA
constexpr UINT kRbSetBandInfoA = 0x406;  // RB_SETBANDINFOA
constexpr UINT kRbInsertBandA = 0x401;   // RB_INSERTBANDA
constexpr UINT kRbGetRect = 0x409;       // RB_GETRECT
constexpr UINT kRbShowBand = 0x423;      // RB_SHOWBAND
constexpr UINT kCcmSetWindowTheme = 0x200B;
constexpr UINT kRebarBandInfoSize = 76;
constexpr DWORD kFixedToolbarStyle = 0x4000004C;  // WS_CHILD | CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE
constexpr int kDefaultPicture = 16;

DWORD VariableStyle(bool large, bool hidden, bool tooltips) {
    // TBSTYLE_TRANSPARENT | TBSTYLE_FLAT | 0x10, plus TBSTYLE_LIST for small buttons.
    return (large ? 0x8810 : 0x9810) | (hidden ? 0 : WS_VISIBLE) | (tooltips ? TBSTYLE_TOOLTIPS : 0);
}

HIMAGELIST ListOf(const OEPluginToolbar& tb, UINT message) {
    return reinterpret_cast<HIMAGELIST>(tb.Send(message, 0, 0));
}

}  // namespace

void FindHostRebar(HWND parent, HWND* sizable, HWND* rebar) {
    *sizable = FindWindowExA(parent, nullptr, "SizableRebar", nullptr);
    *rebar = *sizable ? FindWindowExA(*sizable, nullptr, "ReBarWindow32", nullptr) : nullptr;
    if (*rebar && IsWindowsMail()) *rebar = FindWindowExA(*sizable, *rebar, "ReBarWindow32", nullptr);
}

OEPluginToolbar::OEPluginToolbar(OEToolbarHost* owner) : OEPluginToolbar(owner, NextToolbarId()) {}

OEPluginToolbar::OEPluginToolbar(OEToolbarHost* owner, LONG toolbarId) : id(toolbarId), host(owner) {}

ToolbarPtr OEPluginToolbar::CopyForMsgWnd(const OEPluginToolbar& source, OEToolbarHost* host) {
    auto copy = std::make_shared<OEPluginToolbar>(host, source.id);
    copy->ownerId = source.ownerId;
    copy->hidden = source.hidden;
    copy->largeButtons = source.largeButtons;
    copy->wrapsHostToolbar = source.wrapsHostToolbar;
    copy->tooltips = source.tooltips;
    copy->wndStyleMask = source.wndStyleMask;
    copy->pictureWidth = source.pictureWidth;
    copy->pictureHeight = source.pictureHeight;
    copy->maxTextRows = source.maxTextRows;
    copy->maskColor = source.maskColor;
    for (const ButtonPtr& button : source.Buttons()) {
        locked_ref<OEPluginButton> b(button);
        if (!b) continue;
        ButtonPtr c = OEPluginButton::CopyForMsgWnd(*b);
        c->ownerId = copy->ownerId;
        c->toolbarId = copy->id;
        copy->buttons.push_back(std::move(c));
    }
    return copy;
}

std::vector<ButtonPtr> OEPluginToolbar::Buttons() const {
    cs_lock hold(ToolbarLock());
    return buttons;
}

ButtonPtr OEPluginToolbar::FindButton(LONG commandId) const {
    cs_lock hold(ToolbarLock());
    for (const ButtonPtr& b : buttons) {
        if (b->commandId == commandId) return b;
        if (ButtonPtr sub = b->FindInSubButtons(commandId)) return sub;
    }
    return nullptr;
}

void OEPluginToolbar::EnsureWindow(LONG owner, bool force) {
    if (owner != -1) ownerId = owner;
    if (window && !force) return;
    if (HWND parent = host ? host->hostWindow() : nullptr) CreateToolbarWindow(parent);
}

void OEPluginToolbar::CreateToolbarWindow(HWND parent) {
    HWND sizable = nullptr, rb = nullptr;
    FindHostRebar(parent, &sizable, &rb);
    rebar = rb;
    if (!sizable || !rb) return;
    if (wrapsHostToolbar) {
        window = host ? host->hostToolbar() : nullptr;
        if (!window) return;
    } else {
        const DWORD style = VariableStyle(largeButtons, hidden, tooltips) | kFixedToolbarStyle;
        window = CreateWindowOnHostThread(rb, rb, style);
        if (!window) return;
        Send(TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_HIDECLIPPEDBUTTONS);
        Send(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        if (IsWindowsMail())
            SendMessageW(window, kCcmSetWindowTheme, 0, reinterpret_cast<LPARAM>(L"Communications"));
        if (maxTextRows >= 0) Send(TB_SETMAXTEXTROWS, maxTextRows, 0);
        if (pictureWidth <= 0 || pictureHeight <= 0) pictureWidth = pictureHeight = kDefaultPicture;
        ownNormalList_ = AdoptImageList(ImageList_Create(pictureWidth, pictureHeight, ImageListFlags(), 0, 10));
        if (!ownNormalList_) return;
        Send(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(ownNormalList_.get()));
    }
    const std::vector<ButtonPtr> all = Buttons();
    for (const ButtonPtr& b : all) b->Insert(*this);
    if (wrapsHostToolbar) {
        SIZE size{};
        Send(TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));
        return;
    }
    const LRESULT buttonSize = Send(TB_GETBUTTONSIZE, 0, 0);
    REBARBANDINFOA info{};
    info.cbSize = kRebarBandInfoSize;
    info.fMask = 0x271;
    SendMessageA(rb, kRbGetBandInfoA, 0, reinterpret_cast<LPARAM>(&info));
    info.fMask |= RBBIM_ID;
    info.fStyle = RBBS_BREAK | RBBS_CHILDEDGE | RBBS_USECHEVRON | (hidden ? RBBS_HIDDEN : 0);
    info.hwndChild = window;
    info.cxMinChild = 0;
    info.cyMinChild = HIWORD(buttonSize);
    info.cx = 250;
    UINT shown = 0;
    for (const ButtonPtr& b : all)
        if (!b->hidden) ++shown;
    info.cxIdeal = LOWORD(buttonSize) * shown;
    info.wID = id;
    SendMessageA(rb, kRbInsertBandA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&info));
    // The rebar shows a new band's child even when the band is hidden.
    if (hidden) ShowWindow(window, SW_HIDE);
    if (!all.empty()) {
        locked_ref<OEPluginButton> last(all.back());
        if (last) UpdateBandSize(last.get());
    }
}

void OEPluginToolbar::DestroyToolbarWindow() {
    if (rebar && !wrapsHostToolbar) {
        const LRESULT index = SendMessageA(rebar, RB_IDTOINDEX, id, 0);
        if (index != -1 && SendMessageA(rebar, RB_DELETEBAND, index, 0)) {
            DestroyWindowOnHostThread(rebar, window);
            window = nullptr;
            FreeImageLists();
        }
    }
    rebar = nullptr;
    for (const ButtonPtr& button : Buttons()) {
        locked_ref<OEPluginButton> b(button);
        if (b) b->ReleaseResources();
    }
    chevronMenu.reset();
}

void OEPluginToolbar::Destroy() {
    if (host) host->Unlink(this);
    HWND messenger = rebar;
    DestroyToolbarWindow();
    if (window && !wrapsHostToolbar) {
        // A control that never got its band.
        DestroyWindowOnHostThread(messenger, window);
        window = nullptr;
    }
    for (const ButtonPtr& button : Buttons()) {
        locked_ref<OEPluginButton> b(button);
        if (b) b->Destroy();
    }
    chevronMenu.reset();
    FreeImageLists();
    destroyed = true;
}

void OEPluginToolbar::FreeImageLists() {
    if (wrapsHostToolbar && ownHotList_ && window && IsWindow(window) &&
        ListOf(*this, TB_GETHOTIMAGELIST) == ownHotList_.get()) {
        // Set on the client's toolbar while it was not subclassed: take it back,
        // or leave it to the control when that is refused.
        Send(TB_SETHOTIMAGELIST, 0, 0);
        if (ListOf(*this, TB_GETHOTIMAGELIST) == ownHotList_.get()) ownHotList_.release();
    }
    ownHotList_.reset();
    ownNormalList_.reset();
}

void OEPluginToolbar::Show(bool show) {
    hidden = !show;
    if (!window) return;
    SendMessageA(rebar, kRbShowBand, SendMessageA(rebar, RB_IDTOINDEX, id, 0), show ? 1 : 0);
    UpdateWindow(window);
}

void OEPluginToolbar::SetLargeButtons(bool large) {
    if (wrapsHostToolbar) return;
    largeButtons = large;
    if (!window) return;
    Send(TB_SETSTYLE, 0, VariableStyle(largeButtons, hidden, tooltips));
    UpdateWindow(window);
}

void OEPluginToolbar::SetMaxTextRows(LONG rows) {
    maxTextRows = rows;
    if (!window) return;
    Send(TB_SETMAXTEXTROWS, rows, 0);
    UpdateWindow(window);
}

void OEPluginToolbar::EnableTooltips(bool enable) {
    if (!wrapsHostToolbar && !window) tooltips = enable;
}

int OEPluginToolbar::SetPictureSize(LONG cx, LONG cy) {
    if (wrapsHostToolbar) return 0;
    if (window && ListOf(*this, TB_GETIMAGELIST)) return 0;
    pictureWidth = cx;
    pictureHeight = cy;
    return 1;
}

int OEPluginToolbar::GetPictureSize(LONG* cx, LONG* cy) {
    if (pictureWidth >= 1 && pictureHeight >= 1) {
        *cx = pictureWidth;
        *cy = pictureHeight;
        return 1;
    }
    if (HIMAGELIST list = window ? ListOf(*this, TB_GETIMAGELIST) : nullptr) {
        int w = 0, h = 0;
        ImageList_GetIconSize(list, &w, &h);
        *cx = pictureWidth = w;
        *cy = pictureHeight = h;
        return 1;
    }
    const LONG fallback = wrapsHostToolbar ? -1 : kDefaultPicture;
    *cx = pictureWidth = fallback;
    *cy = pictureHeight = fallback;
    return 0;
}

void OEPluginToolbar::UpdateBandSize(OEPluginButton* button) {
    if (!window) return;
    if (button && button->parentId == -1) {
        // Flipping the state makes the control lay its buttons out again.
        for (int i = 0; i < 2; ++i) {
            button->hidden = !button->hidden;
            Send(TB_SETSTATE, button->commandId, MAKELONG(button->State(), 0));
        }
    }
    SIZE max{};
    if (!Send(TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&max)) || wrapsHostToolbar) return;
    SetBandSize(max);
}

void OEPluginToolbar::SetBandSize(const SIZE& max) {
    const LRESULT index = SendMessageA(rebar, RB_IDTOINDEX, id, 0);
    REBARBANDINFOA info{};
    info.cbSize = kRebarBandInfoSize;
    info.fMask = 0x270;
    SendMessageA(rebar, kRbGetBandInfoA, index, reinterpret_cast<LPARAM>(&info));
    info.cyMinChild = info.cyChild = info.cyMaxChild = max.cy;
    info.hwndChild = window;
    info.cxIdeal = max.cx;
    info.cxMinChild = 0;
    info.cyIntegral = 0;
    info.cx = 250;
    SendMessageA(rebar, kRbSetBandInfoA, index, reinterpret_cast<LPARAM>(&info));
}

// Image lists.

counted_bitmap OEPluginToolbar::LoadToolbarBitmap(const std::string& path) {
    int cx = 0, cy = 0;
    if (HIMAGELIST list = ListOf(*this, TB_GETIMAGELIST)) ImageList_GetIconSize(list, &cx, &cy);
    const UINT flags = maskColor == 255 ? LR_LOADFROMFILE | LR_LOADTRANSPARENT | LR_LOADMAP3DCOLORS
                                        : LR_LOADFROMFILE | LR_CREATEDIBSECTION;
    return AdoptBitmap(static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, cx, cy, flags)));
}

namespace {

int AddTo(HIMAGELIST list, HBITMAP bitmap, COLORREF maskColor, bool wraps) {
    if (wraps) return ImageList_AddMasked(list, bitmap, maskColor);
    counted_bitmap mask = MakeMaskBitmap(bitmap, maskColor);
    return ImageList_Add(list, bitmap, mask.get());
}

}  // namespace

int OEPluginToolbar::AddImage(HBITMAP bitmap) {
    HIMAGELIST list = ListOf(*this, TB_GETIMAGELIST);
    const int index = AddTo(list, bitmap, maskColor, wrapsHostToolbar);
    if (index < 0) return index;
    return Send(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list)) ? index : -1;
}

HIMAGELIST OEPluginToolbar::EnsureHotList() {
    if (HIMAGELIST list = ListOf(*this, TB_GETHOTIMAGELIST)) return list;
    // The client's toolbar refuses new lists; one made earlier is reused.
    if (!ownHotList_) {
        const int cx = pictureWidth > 0 && pictureHeight > 0 ? pictureWidth : kDefaultPicture;
        const int cy = pictureWidth > 0 && pictureHeight > 0 ? pictureHeight : kDefaultPicture;
        ownHotList_ = AdoptImageList(ImageList_Create(cx, cy, ImageListFlags(), 0, 10));
    }
    return ownHotList_.get();
}

int OEPluginToolbar::AddHotImage(HBITMAP bitmap) {
    HIMAGELIST list = EnsureHotList();
    if (!list) return -1;
    const int index = AddTo(list, bitmap, maskColor, wrapsHostToolbar);
    if (index < 0) return -1;
    Send(TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
    return index;
}

bool OEPluginToolbar::ReplaceImage(int index, HBITMAP bitmap, HBITMAP mask) {
    HIMAGELIST list = ListOf(*this, TB_GETIMAGELIST);
    if (!ImageList_Replace(list, index, bitmap, mask)) return false;
    return Send(TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list)) != 0;
}

bool OEPluginToolbar::ReplaceHotImage(int index, HBITMAP bitmap, HBITMAP mask) {
    HIMAGELIST list = EnsureHotList();
    if (!list || !ImageList_Replace(list, index, bitmap, mask)) return false;
    return Send(TB_SETHOTIMAGELIST, 0, reinterpret_cast<LPARAM>(list)) != 0;
}

// Chevron.

void OEPluginToolbar::BuildChevronMenu() {
    if (!window) return;
    RECT band{};
    SendMessageA(rebar, kRbGetRect, SendMessageA(rebar, RB_IDTOINDEX, id, 0), reinterpret_cast<LPARAM>(&band));
    OffsetRect(&band, -band.left, -band.top);
    const int count = static_cast<int>(Send(TB_BUTTONCOUNT, 0, 0));
    chevronMenu.reset();
    chevronMenu = AdoptMenu(CreatePopupMenu());
    if (!chevronMenu) return;
    Send(TB_AUTOSIZE, 0, 0);
    const LRESULT buttonSize = Send(TB_GETBUTTONSIZE, 0, 0);
    bool clipped = false;
    for (int i = 0; i < count; ++i) {
        TBBUTTON tbb{};
        Send(TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&tbb));
        if (!clipped) {
            RECT r{};
            Send(TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
            r.right = r.left + LOWORD(buttonSize);
            r.bottom = r.top + HIWORD(buttonSize);
            RECT visible{};
            IntersectRect(&visible, &r, &band);
            visible.bottom = r.bottom;
            if (EqualRect(&visible, &r)) continue;
            clipped = true;
        }
        if (ButtonPtr button = FindButton(tbb.idCommand)) {
            locked_ref<OEPluginButton> b(button);
            if (b) b->AppendMenuItem(chevronMenu.get());
        }
    }
}

}  // namespace plume
