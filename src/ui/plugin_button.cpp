// OEPluginButton: a button in a toolbar control, its images, menu items and
// the path of a click.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>

#include "client_variant.h"
#include "manager/identifiers.h"
#include "ui/toolbar_records.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

constexpr UINT kButtonInfoSize = 48;  // TBBUTTONINFOA
constexpr UINT kToolInfoSize = 64;    // TOOLINFOA as the control is given it
constexpr UINT kMenuItemInfoSize = 80;
constexpr size_t kMaxName = 255;      // longer names are cut
constexpr size_t kMaxTooltip = 1023;
constexpr LONG kAllMsgWnd = 23;       // OE_ALL_MSG_WND

std::string Cut(const std::string& text, size_t max) { return text.size() > max ? text.substr(0, max) : text; }

}  // namespace

OEPluginButton::OEPluginButton() : OEPluginButton(NextButtonId()) {}

OEPluginButton::OEPluginButton(LONG id) : commandId(id) {}

ButtonPtr OEPluginButton::CopyForMsgWnd(const OEPluginButton& source) {
    auto copy = std::make_shared<OEPluginButton>(source.commandId);
    copy->name = source.name;
    copy->tooltip = source.tooltip;
    copy->normalPath = source.normalPath;
    copy->mouseOverPath = source.mouseOverPath;
    copy->picture = source.picture;
    copy->mouseOverPicture = source.mouseOverPicture;
    copy->clickHandler = source.clickHandler;
    copy->hidden = source.hidden;
    copy->enabled = source.enabled;
    copy->imageSource = source.imageSource;
    copy->separator = source.separator;
    copy->popupStyle = source.popupStyle;
    copy->checkStyle = source.checkStyle;
    copy->checked = source.checked;
    for (const ButtonPtr& sub : source.SubButtons()) {
        locked_ref<OEPluginButton> s(sub);
        if (!s) continue;
        ButtonPtr c = CopyForMsgWnd(*s);
        c->parentId = copy->commandId;
        c->parent = copy;
        copy->subButtons.push_back(std::move(c));
    }
    return copy;
}

BYTE OEPluginButton::State() const {
    return (enabled ? TBSTATE_ENABLED : 0) | (hidden ? TBSTATE_HIDDEN : 0) | (checkStyle && checked ? TBSTATE_CHECKED : 0);
}

BYTE OEPluginButton::Style() const {
    BYTE style = separator ? BTNS_SEP : BTNS_AUTOSIZE;
    if (!separator && IsWindowsMail() && !name.empty()) style |= BTNS_SHOWTEXT;
    if (checkStyle) style |= BTNS_CHECK;
    if (HasSubButtons()) style |= BTNS_DROPDOWN;
    return style;
}

std::vector<ButtonPtr> OEPluginButton::SubButtons() const {
    cs_lock hold(ToolbarLock());
    return subButtons;
}

bool OEPluginButton::HasSubButtons() const {
    cs_lock hold(ToolbarLock());
    return !subButtons.empty();
}

ButtonPtr OEPluginButton::FindInSubButtons(LONG id) const {
    cs_lock hold(ToolbarLock());
    for (const ButtonPtr& sub : subButtons) {
        if (sub->commandId == id) return sub;
        if (ButtonPtr deeper = sub->FindInSubButtons(id)) return deeper;
    }
    return nullptr;
}

void OEPluginButton::SetToolbarRecursive(OEPluginToolbar* tb) {
    toolbar = tb;
    for (const ButtonPtr& sub : SubButtons()) {
        locked_ref<OEPluginButton> s(sub);
        if (s) s->SetToolbarRecursive(tb);
    }
}

// Setters.

void OEPluginButton::SetName(const std::string& text) {
    name = Cut(text, kMaxName);
    if (inControl) Update(kPartText);
}

void OEPluginButton::SetImageNormal(const std::string& path) {
    imageSource = 0;
    normalPath = path;
    menuBitmap.reset();
    if (inControl) Update(kPartImage);
}

void OEPluginButton::SetImageMouseOver(const std::string& path) {
    imageSource = 0;
    mouseOverPath = path;
    mouseOverMenuBitmap.reset();
    if (inControl) Update(kPartHotImage);
}

void OEPluginButton::SetPicture(IPicture* p) {
    imageSource = 2;
    picture = com_ptr<IPicture>(p);
    menuBitmap.reset();
    if (inControl) Update(kPartImage);
}

void OEPluginButton::SetPictureMouseOver(IPicture* p) {
    imageSource = 2;
    mouseOverPicture = com_ptr<IPicture>(p);
    mouseOverMenuBitmap.reset();
    if (inControl) Update(kPartHotImage);
}

void OEPluginButton::SetTooltip(const std::string& text) {
    tooltip = text;
    if (!inControl || !toolbar || !toolbar->window) return;
    HWND tips = reinterpret_cast<HWND>(toolbar->Send(TB_GETTOOLTIPS, 0, 0));
    if (!tips) return;
    std::string copy = Cut(tooltip, kMaxTooltip);
    TOOLINFOA info{};
    info.cbSize = kToolInfoSize;
    info.hwnd = toolbar->window;
    info.uId = commandId;
    info.lpszText = copy.data();
    SendMessageA(tips, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&info));
}

void OEPluginButton::SetEnabled(bool flag) {
    enabled = flag;
    if (parentId == -1 && toolbar && toolbar->window)
        toolbar->Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
}

void OEPluginButton::SetShown(bool show) {
    hidden = !show;
    if (parentId != -1 || !toolbar || !toolbar->window) return;
    toolbar->Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
    toolbar->UpdateBandSize(nullptr);
}

void OEPluginButton::SetChecked(bool flag) {
    checked = flag;
    if (toolbar && toolbar->window) toolbar->Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
}

// Insertion and updates.

counted_bitmap OEPluginButton::MakeImage(OEPluginToolbar& tb, bool hot, LONG cx, LONG cy) {
    if (imageSource == 0 && !normalPath.empty())
        return tb.LoadToolbarBitmap(hot && !mouseOverPath.empty() ? mouseOverPath : normalPath);
    if (imageSource == 2 && picture)
        return PictureToBitmap(hot && mouseOverPicture ? mouseOverPicture.get() : picture.get(), cx, cy);
    return {};
}

void OEPluginButton::Insert(OEPluginToolbar& tb) {
    pumping_lock hold(lock);
    if (imageSource == -1 && !separator) return;
    SetToolbarRecursive(&tb);
    if (!tb.window) return;
    if (inControl && tb.Send(TB_COMMANDTOINDEX, commandId, 0) != -1) {
        tb.Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
        return;
    }
    inControl = true;
    imageIndex = -1;  // indices of an earlier control mean nothing here
    HWND tips = reinterpret_cast<HWND>(tb.Send(TB_GETTOOLTIPS, 0, 0));
    TBBUTTON button{};
    button.idCommand = commandId;
    if (separator) {
        button.iBitmap = -1;
        button.fsState = State();
        button.fsStyle = Style();
        button.iString = -1;
        if (tb.Send(TB_COMMANDTOINDEX, commandId, 0) != -1) {
            tb.Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
            return;
        }
        tb.Send(TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    } else {
        LONG cx = -1, cy = -1;
        if (imageSource == 2 && picture) tb.GetPictureSize(&cx, &cy);
        if (counted_bitmap image = MakeImage(tb, false, cx, cy)) {
            imageIndex = tb.AddImage(image.get());
            image.reset();
            if (imageIndex == -1) return;
        }
        if (counted_bitmap hot = MakeImage(tb, true, cx, cy)) tb.AddHotImage(hot.get());

        tb.Send(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        // The control reads a list of strings that ends with an empty one.
        std::string strings = name;
        strings.append(2, '\0');
        const LRESULT text = tb.Send(TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(strings.c_str()));
        button.iBitmap = imageSource == 2 && !picture ? I_IMAGENONE : imageIndex;
        button.fsState = State();
        button.fsStyle = Style();
        // No string was added for an empty name: the index would name the next one.
        button.iString = name.empty() ? -1 : text;
        if (tb.Send(TB_COMMANDTOINDEX, commandId, 0) != -1) {
            tb.Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
            return;
        }
        tb.Send(TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
        if (tips && !tooltip.empty()) {
            char previous[1024] = {};
            TOOLINFOA info{};
            info.cbSize = kToolInfoSize;
            info.hwnd = tb.window;
            info.uId = commandId;
            info.lpszText = previous;
            SendMessageA(tips, TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info));
            std::string copy = Cut(tooltip, kMaxTooltip);
            info.lpszText = copy.data();
            SendMessageA(tips, TTM_SETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&info));
        }
    }
    if (tb.wrapsHostToolbar && (tb.wndStyleMask & kAllMsgWnd) && tb.Send(TB_GETTEXTROWS, 0, 0) > 0) {
        tb.Send(TB_SETBUTTONWIDTH, 0, 0x00310018);
        tb.Send(TB_AUTOSIZE, 0, 0);
    }
    tb.Send(TB_SETSTATE, commandId, MAKELONG(State(), 0));
}

void OEPluginButton::SetImage(OEPluginToolbar& tb, int image) {
    TBBUTTONINFOA info{};
    info.cbSize = kButtonInfoSize;
    info.dwMask = TBIF_IMAGE;
    info.iImage = image;
    tb.Send(TB_SETBUTTONINFOA, commandId, reinterpret_cast<LPARAM>(&info));
}

bool OEPluginButton::UpdateImage(OEPluginToolbar& tb, bool hot) {
    LONG cx = -1, cy = -1;
    if (imageSource == 2 && picture) tb.GetPictureSize(&cx, &cy);
    counted_bitmap image = MakeImage(tb, hot, cx, cy);
    if (!image) {
        if (imageSource == 2 && !picture) SetImage(tb, I_IMAGENONE);
        return true;
    }
    if (imageIndex != -1) {
        counted_bitmap mask = MakeMaskBitmap(image.get(), tb.maskColor);
        return hot ? tb.ReplaceHotImage(imageIndex, image.get(), mask.get())
                   : tb.ReplaceImage(imageIndex, image.get(), mask.get());
    }
    // The normal and hot lists keep the same index for a button.
    imageIndex = hot ? tb.AddHotImage(image.get()) : tb.AddImage(image.get());
    if (imageIndex < 0) return false;
    hot ? tb.AddImage(image.get()) : tb.AddHotImage(image.get());
    SetImage(tb, imageIndex);
    return true;
}

void OEPluginButton::Update(int parts) {
    if (!inControl || !toolbar || !toolbar->window) return;
    OEPluginToolbar& tb = *toolbar;
    if (parts & kPartImage) {
        if (!UpdateImage(tb, false)) return;
        if (mouseOverPath.empty() || !mouseOverPicture) parts |= kPartHotImage;
    }
    if ((parts & kPartHotImage) && !UpdateImage(tb, true)) return;
    if (parts & kPartText) {
        std::string text = Cut(name, kMaxName);
        TBBUTTONINFOA info{};
        info.cbSize = kButtonInfoSize;
        info.dwMask = TBIF_TEXT;
        info.pszText = text.data();
        tb.Send(TB_SETBUTTONINFOA, commandId, reinterpret_cast<LPARAM>(&info));
    }
}

void OEPluginButton::ReleaseResources() {
    picture.reset();
    mouseOverPicture.reset();
    menuBitmap.reset();
    mouseOverMenuBitmap.reset();
    dropDownMenu.reset();
    for (const ButtonPtr& sub : SubButtons()) {
        locked_ref<OEPluginButton> s(sub);
        if (s) s->ReleaseResources();
    }
}

void OEPluginButton::Destroy() {
    dropDownMenu.reset();
    std::vector<ButtonPtr> subs;
    {
        cs_lock hold(ToolbarLock());
        subs.swap(subButtons);
    }
    for (const ButtonPtr& sub : subs) {
        locked_ref<OEPluginButton> s(sub);
        if (s) s->Destroy();
    }
    if (parentId != -1) {
        if (ButtonPtr p = parent.lock()) {
            cs_lock hold(ToolbarLock());
            auto& list = p->subButtons;
            list.erase(std::remove_if(list.begin(), list.end(), [&](const ButtonPtr& b) { return b.get() == this; }),
                       list.end());
        }
    } else if (toolbar) {
        RemoveButton(*toolbar, *this);
    }
    picture.reset();
    mouseOverPicture.reset();
    menuBitmap.reset();
    mouseOverMenuBitmap.reset();
    toolbar = nullptr;
    destroyed = true;
}

// Toolbar membership.

void AddButton(OEPluginToolbar& tb, const ButtonPtr& button) {
    {
        cs_lock hold(ToolbarLock());
        tb.buttons.push_back(button);
    }
    button->ownerId = tb.ownerId;
    button->toolbarId = tb.id;
    button->toolbar = &tb;
    button->Insert(tb);
    if (!tb.window) return;
    tb.UpdateBandSize(button.get());
    for (const ButtonPtr& b : tb.Buttons())
        if (!b->hidden) tb.Send(TB_HIDEBUTTON, b->commandId, 0);
}

void AddSubButton(const ButtonPtr& parent, const ButtonPtr& sub) {
    sub->ownerId = parent->ownerId;
    sub->toolbarId = parent->toolbarId;
    sub->parentId = parent->commandId;
    sub->parent = parent;
    {
        locked_ref<OEPluginButton> s(sub);
        if (s) s->SetToolbarRecursive(parent->toolbar);
    }
    bool first;
    {
        cs_lock hold(ToolbarLock());
        first = parent->subButtons.empty();
        parent->subButtons.push_back(sub);
    }
    OEPluginToolbar* tb = parent->toolbar;
    if (!first || !tb || !tb->window) return;
    TBBUTTONINFOA info{};
    info.cbSize = kButtonInfoSize;
    info.dwMask = TBIF_STYLE;
    info.fsStyle = parent->Style();
    tb->Send(TB_SETBUTTONINFOA, parent->commandId, reinterpret_cast<LPARAM>(&info));
    tb->UpdateBandSize(parent.get());
}

void RemoveButton(OEPluginToolbar& tb, OEPluginButton& button) {
    {
        cs_lock hold(ToolbarLock());
        tb.buttons.erase(std::remove_if(tb.buttons.begin(), tb.buttons.end(),
                                        [&](const ButtonPtr& b) { return b.get() == &button; }),
                         tb.buttons.end());
    }
    if (!tb.window) return;
    TBBUTTONINFOA info{};
    info.cbSize = kButtonInfoSize;
    const LRESULT index = tb.Send(TB_GETBUTTONINFOA, button.commandId, reinterpret_cast<LPARAM>(&info));
    if (index != -1) tb.Send(TB_DELETEBUTTON, index, 0);
    tb.UpdateBandSize(nullptr);
    for (const ButtonPtr& b : tb.Buttons())
        if (!b->hidden) tb.Send(TB_HIDEBUTTON, b->commandId, 0);
}

// Clicks.

int OnButtonCommand(const ButtonPtr& button, INT64 windowParam, LONG id) {
    bool showMenu = false;
    ButtonClickHandler handler;
    LONG toolbarId;
    {
        locked_ref<OEPluginButton> b(button);
        if (!b) return 0;
        if (windowParam == -1) {
            if (b->checkStyle) b->checked = !b->checked;
            showMenu = b->popupStyle && b->HasSubButtons();
        }
        handler = b->clickHandler;
        toolbarId = b->toolbar ? b->toolbar->id : id;
    }
    if (showMenu) {
        button->ShowDropDownMenu();
        return 1;
    }
    if (!handler) return 0;
    handler(toolbarId, id, windowParam);
    return 1;
}

int OnMsgWndButtonCommand(const ButtonPtr& button, HWND window, LONG) {
    if (window == reinterpret_cast<HWND>(-1)) return 0;
    bool showMenu;
    {
        locked_ref<OEPluginButton> b(button);
        if (!b) return 0;
        if (b->checkStyle) b->checked = !b->checked;
        showMenu = b->popupStyle && b->HasSubButtons();
    }
    if (!showMenu) return 0;
    button->ShowDropDownMenu();
    return 1;
}

// Menus.

void OEPluginButton::PrepareMenuBitmaps() {
    if (menuBitmap && mouseOverMenuBitmap) return;
    menuBitmap.reset();
    mouseOverMenuBitmap.reset();
    const int cx = GetSystemMetrics(SM_CXMENUCHECK), cy = GetSystemMetrics(SM_CYMENUCHECK);
    const UINT flags = toolbar && toolbar->maskColor != 255 ? LR_LOADFROMFILE | LR_CREATEDIBSECTION
                                                            : LR_LOADFROMFILE | LR_LOADTRANSPARENT | LR_LOADMAP3DCOLORS;
    auto load = [&](bool hot) -> counted_bitmap {
        if (imageSource == 0 && !normalPath.empty()) {
            const std::string& path = hot && !mouseOverPath.empty() ? mouseOverPath : normalPath;
            return AdoptBitmap(static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, cx, cy, flags)));
        }
        if (imageSource == 2 && picture)
            return PictureToBitmap(hot && mouseOverPicture ? mouseOverPicture.get() : picture.get(), cx, cy);
        return {};
    };
    counted_bitmap image = load(false);
    if (!image) return;
    menuBitmap = MakeMenuBitmap(image.get(), cx, cy);
    image = load(true);
    if (image) mouseOverMenuBitmap = MakeMenuBitmap(image.get(), cx, cy);
}

void OEPluginButton::AppendMenuItem(HMENU menu) {
    if (hidden) return;
    MENUITEMINFOA info{};
    info.cbSize = kMenuItemInfoSize;
    info.wID = commandId;
    std::string text;
    if (separator) {
        info.fMask = MIIM_ID | MIIM_TYPE;
        info.fType = MFT_SEPARATOR;
    } else {
        PrepareMenuBitmaps();
        info.fMask = MIIM_STATE | MIIM_ID | MIIM_TYPE;
        const bool check = checkStyle && checked;
        info.fState = enabled ? (check ? MFS_CHECKED : 0) : (check ? MFS_CHECKED | MFS_GRAYED : MFS_GRAYED);
        info.fType = MFT_STRING;
        text = Cut(name, kMaxName);
        info.dwTypeData = text.data();
        info.cch = static_cast<UINT>(text.size());
        if (checkStyle) info.fMask |= MIIM_CHECKMARKS;
        if (menuBitmap || mouseOverMenuBitmap) {
            info.hbmpChecked = menuBitmap.get();
            info.hbmpUnchecked = mouseOverMenuBitmap.get();
            info.fMask |= MIIM_CHECKMARKS;
        }
    }
    InsertMenuItemA(menu, commandId, FALSE, &info);
}

void OEPluginButton::ShowDropDownMenu() {
    counted_menu menu;
    HWND owner;
    RECT r{};
    POINT p{};
    {
        pumping_lock hold(lock);
        if (destroyed) return;
        dropDownMenu.reset();
        dropDownMenu = AdoptMenu(CreatePopupMenu());
        if (!dropDownMenu) return;
        for (const ButtonPtr& sub : SubButtons()) {
            locked_ref<OEPluginButton> s(sub);
            if (s) s->AppendMenuItem(dropDownMenu.get());
        }
        if (!toolbar || !toolbar->window) return;
        toolbar->Send(TB_GETRECT, commandId, reinterpret_cast<LPARAM>(&r));
        p = {r.left, r.bottom};
        ClientToScreen(toolbar->window, &p);
        owner = toolbar->host && toolbar->host->rebar() ? toolbar->host->rebar() : toolbar->rebar;
        // Tracked outside the lock; a record destroyed meanwhile must not
        // destroy the menu under the tracker.
        menu = std::move(dropDownMenu);
    }
    TrackPopupMenu(menu.get(), TPM_VERTICAL, p.x, p.y, 0, owner, &r);
    pumping_lock hold(lock);
    if (!destroyed && !dropDownMenu) dropDownMenu = std::move(menu);
}

}  // namespace plume
