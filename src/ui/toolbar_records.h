// The internal records behind toolbars and their buttons.
//
// OEPluginToolbar is one toolbar in one window: a "ToolbarWindow32" placed
// as a band of the window's rebar, or the client's own toolbar (band 101)
// when the record wraps it. OEPluginButton is one button, separator or
// drop-down sub-button with its images, text, tooltip and states.
//
// Lifecycle: records are made by the automation classes, owned by their
// host (toolbars), toolbar (buttons) or parent button (sub-buttons) through
// shared pointers, and found again by identifier on every call. Destroy()
// unlinks a record and marks it `destroyed`; a holder that still has the
// pointer finds the mark under the record's lock and lets it go.
//
// Threads and locks: the server thread calls the operations with the
// record's lock held (a toolbar's lock before its buttons' locks); the
// client UI thread does the same from Attach and reads records from its
// window procedures. The process-wide toolbar lock (see toolbar_registry.h)
// guards every list of records and is only ever held briefly: nobody waits
// for another lock or sends to another thread's window while holding it.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <memory>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "sync.h"
#include "ui/ui_resources.h"

namespace plume {

class OEToolbarHost;
class OEPluginToolbar;
class OEPluginButton;
using ToolbarPtr = std::shared_ptr<OEPluginToolbar>;
using ButtonPtr = std::shared_ptr<OEPluginButton>;

// Called on a click with (toolbar id, button id, window): the window is -1
// for the main window, else the message window's handle.
using ButtonClickHandler = LRESULT (*)(LONG toolbarId, LONG buttonId, INT64 window);

// Parts of a button refreshed by UpdateButton.
enum ButtonPart { kPartImage = 1, kPartHotImage = 2, kPartText = 4 };

class OEPluginButton {
public:
    // A new record with the next button identifier.
    OEPluginButton();
    // A record that shares `commandId` with the one it copies.
    explicit OEPluginButton(LONG commandId);
    // The copy a message window gets of a template's button (and of its
    // sub-buttons); the identifier is shared with the template.
    static ButtonPtr CopyForMsgWnd(const OEPluginButton& source);

    OEPluginToolbar* toolbar = nullptr;  // cleared when the toolbar goes
    LONG toolbarId = -1;
    LONG imageSource = -1;  // -1 none, 0 bitmap files, 2 pictures
    std::string name;
    std::string tooltip;
    std::string mouseOverPath;
    std::string normalPath;
    ButtonClickHandler clickHandler = nullptr;
    com_ptr<IPicture> picture;
    com_ptr<IPicture> mouseOverPicture;
    counted_bitmap menuBitmap;
    counted_bitmap mouseOverMenuBitmap;
    LONG commandId;
    LONG ownerId = -1;
    bool inControl = false;
    bool hidden = false;
    bool enabled = true;
    LONG parentId = -1;
    LONG imageIndex = -1;
    std::vector<ButtonPtr> subButtons;
    counted_menu dropDownMenu;
    bool separator = false;
    bool popupStyle = false;
    bool checkStyle = false;
    bool checked = false;
    critical_section lock;
    bool destroyed = false;
    std::weak_ptr<OEPluginButton> parent;  // for a sub-button

    // TBSTATE_* and BTNS_* values the control gets for this button.
    BYTE State() const;
    BYTE Style() const;

    // Setters (record lock held).
    void SetName(const std::string& text);
    void SetImageNormal(const std::string& path);
    void SetImageMouseOver(const std::string& path);
    void SetPicture(IPicture* picture);
    void SetPictureMouseOver(IPicture* picture);
    void SetTooltip(const std::string& text);
    void SetEnabled(bool enabled);
    void SetShown(bool show);
    void SetChecked(bool checked);
    void SetCheckStyle(bool flag) { checkStyle = flag; }
    void SetPopupStyle(bool flag) { popupStyle = flag; }

    // Puts the button into `tb`'s control, or refreshes its state there.
    void Insert(OEPluginToolbar& tb);
    // Refreshes parts (ButtonPart bits) of a button already in a control.
    void Update(int parts);
    // Frees pictures, menu bitmaps and the drop-down menu, also of the
    // sub-buttons; the record stays.
    void ReleaseResources();
    // Unlinks the record from its toolbar or parent, deletes its
    // sub-buttons, frees its resources and marks it destroyed.
    void Destroy();

    // The button or sub-button with `id` at or below this one (toolbar lock
    // or the process-wide toolbar lock held).
    ButtonPtr FindInSubButtons(LONG id) const;
    // Snapshot of the sub-buttons, and whether there are any.
    std::vector<ButtonPtr> SubButtons() const;
    bool HasSubButtons() const;

    // Menu items: the images, one item in `menu`, and the drop-down menu.
    void PrepareMenuBitmaps();
    void AppendMenuItem(HMENU menu);
    void ShowDropDownMenu();

private:
    void SetToolbarRecursive(OEPluginToolbar* tb);
    friend void AddButton(OEPluginToolbar& tb, const ButtonPtr& button);
    friend void AddSubButton(const ButtonPtr& parent, const ButtonPtr& sub);
    counted_bitmap MakeImage(OEPluginToolbar& tb, bool hot, LONG cx, LONG cy);
    bool UpdateImage(OEPluginToolbar& tb, bool hot);
    void SetImage(OEPluginToolbar& tb, int image);
    live_record<ui_detail::kButtons> live_;
};

// Appends `button` to `tb` and puts it into the control (toolbar lock held).
void AddButton(OEPluginToolbar& tb, const ButtonPtr& button);
// Appends `sub` under `parent` (parent's lock held).
void AddSubButton(const ButtonPtr& parent, const ButtonPtr& sub);
// Takes `button` out of `tb`'s list and control.
void RemoveButton(OEPluginToolbar& tb, OEPluginButton& button);

// A click in the main window (windowParam -1) or a message window: toggles,
// drop-down menu, click handler. 1 when handled.
int OnButtonCommand(const ButtonPtr& button, INT64 windowParam, LONG id);
// The message window's own copy of a clicked button: toggles and drop-down.
int OnMsgWndButtonCommand(const ButtonPtr& button, HWND window, LONG id);

class OEPluginToolbar {
public:
    // A new record in `host` with the next toolbar identifier.
    explicit OEPluginToolbar(OEToolbarHost* host);
    // A record that shares `id` with the one it copies.
    OEPluginToolbar(OEToolbarHost* host, LONG id);
    // The copy a message window's host gets of a template toolbar.
    static ToolbarPtr CopyForMsgWnd(const OEPluginToolbar& source, OEToolbarHost* host);

    LONG id;
    LONG ownerId = -1;
    HWND window = nullptr;
    counted_menu chevronMenu;
    HWND rebar = nullptr;
    bool hidden = false;
    bool largeButtons = true;
    bool wrapsHostToolbar = false;
    bool tooltips = false;
    std::vector<ButtonPtr> buttons;
    OEToolbarHost* host;  // valid while the record is not destroyed
    LONG wndStyleMask = 0;
    LONG pictureWidth = -1;
    LONG pictureHeight = -1;
    critical_section lock;
    LONG maxTextRows = -1;
    COLORREF maskColor = 255;
    bool destroyed = false;

    // Creates (or, when wrapping, binds) the control and inserts the buttons.
    void CreateToolbarWindow(HWND parent);
    void EnsureWindow(LONG owner, bool force);
    // Takes the band and control out of the window; buttons stay.
    void DestroyToolbarWindow();
    // Unlinks the record from its host and deletes its buttons.
    void Destroy();

    void Show(bool show);
    void SetLargeButtons(bool large);
    void SetMaxTextRows(LONG rows);
    void EnableTooltips(bool enable);
    int SetPictureSize(LONG cx, LONG cy);
    int GetPictureSize(LONG* cx, LONG* cy);
    // Lays the control out again and fits the band to it.
    void UpdateBandSize(OEPluginButton* button);

    // Image lists (the control's normal and hot lists).
    counted_bitmap LoadToolbarBitmap(const std::string& path);
    int AddImage(HBITMAP bitmap);
    int AddHotImage(HBITMAP bitmap);
    bool ReplaceImage(int index, HBITMAP bitmap, HBITMAP mask);
    bool ReplaceHotImage(int index, HBITMAP bitmap, HBITMAP mask);

    // Rebuilds `chevronMenu` from the buttons clipped at the band's edge.
    void BuildChevronMenu();

    // The button or sub-button with `commandId` (toolbar lock or the
    // process-wide toolbar lock held).
    ButtonPtr FindButton(LONG commandId) const;
    // Snapshot of the top-level buttons.
    std::vector<ButtonPtr> Buttons() const;

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) const {
        return SendMessageA(window, message, wParam, lParam);
    }

private:
    UINT ImageListFlags() const { return maskColor == 255 ? 0xFF : 0x21; }
    HIMAGELIST EnsureHotList();
    void SetBandSize(const SIZE& max);
    void FreeImageLists();

    counted_imagelist ownNormalList_;  // made for the control
    counted_imagelist ownHotList_;     // made for the control, or for the client's toolbar
    live_record<ui_detail::kToolbars> live_;
};

// The mask of `bitmap` for `color` (0xFF000000: the colour of pixel (0, 0));
// the transparent pixels of `bitmap` itself turn black.
counted_bitmap MakeMaskBitmap(HBITMAP bitmap, COLORREF color);
// Renders `picture` into a new 24-bit DIB of cx x cy (-1: its own size).
counted_bitmap PictureToBitmap(IPicture* picture, LONG cx, LONG cy);
// A menu-check-sized copy of `image` on the menu colour.
counted_bitmap MakeMenuBitmap(HBITMAP image, int cx, int cy);

// The "SizableRebar" of `parent` and the "ReBarWindow32" that takes the
// library's bands (the second one on Windows Mail); null when missing.
void FindHostRebar(HWND parent, HWND* sizable, HWND* rebar);

// Creates or destroys a window on the thread that owns `messenger` (a
// window subclassed by the toolbar host), so that controls always belong to
// the client's UI thread whichever thread asks.
HWND CreateWindowOnHostThread(HWND messenger, HWND parent, DWORD style);
void DestroyWindowOnHostThread(HWND messenger, HWND window);

}  // namespace plume
