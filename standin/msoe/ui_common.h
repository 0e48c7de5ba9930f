// Window classes and building blocks shared by the main window and the
// message windows: the sizable rebar, toolbars, the menu band and the
// message view windows.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "html_document.h"

namespace msoe {

extern HINSTANCE g_instance;  // msoe.dll

// Class names the client's windows carry.
constexpr wchar_t kMainClass[] = L"ThorBrowserWndClass";
constexpr wchar_t kNoteClass[] = L"ATH_Note";
constexpr wchar_t kSizableRebarClass[] = L"SizableRebar";
constexpr wchar_t kMessageViewClass[] = L"Outlook Express Message View";
constexpr wchar_t kMessageListClass[] = L"Outlook Express Message List";
constexpr wchar_t kAtlListViewClass[] = L"ATL:SysListView32";
constexpr wchar_t kMimeEditClass[] = L"##MimeEdit_Server";
constexpr wchar_t kBrowserClass[] = L"Internet Explorer_Server";
constexpr wchar_t kDocHostClass[] = L"ME_DocHost";
constexpr wchar_t kRichDocClass[] = L"RichEdDoc Class";
constexpr wchar_t kEnvelopeClass[] = L"OE_Envelope";

// Registers every class of the client once; false on failure.
bool RegisterClientClasses();

// Fonts and colours used for drawing.
HFONT UiFont();
HFONT UiBoldFont();
HFONT UiLargeFont();

// ---------------------------------------------------------------- rebars

// A "SizableRebar" child of `parent` holding `rebars` "ReBarWindow32"
// controls stacked from the top. It passes WM_COMMAND and WM_NOTIFY on to
// its parent, as the client's containers do.
// Answer to WM_NOTIFYFORMAT: this client's windows take Unicode
// notifications, also when a subclass with an ANSI procedure sits in front.
LRESULT UnicodeNotifications(WPARAM from, LPARAM command);

// The window procedure of a window owned by a C++ object: `attach` makes or
// finds the object on WM_NCCREATE, later messages go to its Handle, and the
// object is deleted with the window.
template <typename Owner, typename Attach>
LRESULT DispatchToOwner(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, Attach attach) {
    if (msg == WM_NOTIFYFORMAT) return UnicodeNotifications(wp, lp);
    if (msg == WM_NCCREATE) SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(attach()));
    auto* self = reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        delete self;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self->Handle(msg, wp, lp);
}

HWND CreateSizableRebar(HWND parent, int rebars);
// The n-th "ReBarWindow32" of a sizable rebar (0-based), or null.
HWND RebarAt(HWND sizableRebar, int index);
// Lays the rebars out again; returns the total height.
int LayoutSizableRebar(HWND sizableRebar, int width);

struct ToolbarButton {
    UINT command;        // 0: separator
    const wchar_t* text;
    int image;           // index into the standard image lists (see StdImage)
    BYTE style;          // extra BTNS_ bits
};

// Image indices after TB_LOADIMAGES of the standard and the view bitmaps.
enum StdImage : int {
    kImgCut = STD_CUT, kImgCopy = STD_COPY, kImgPaste = STD_PASTE, kImgUndo = STD_UNDO, kImgRedo = STD_REDOW,
    kImgDelete = STD_DELETE, kImgNew = STD_FILENEW, kImgOpen = STD_FILEOPEN, kImgSave = STD_FILESAVE,
    kImgProperties = STD_PROPERTIES, kImgHelp = STD_HELP, kImgFind = STD_FIND, kImgReplace = STD_REPLACE,
    kImgPrint = STD_PRINT,
    kImgConnect = 15 + VIEW_NETCONNECT, kImgDisconnect = 15 + VIEW_NETDISCONNECT, kImgNewFolder = 15 + VIEW_NEWFOLDER,
    kImgDetails = 15 + VIEW_DETAILS,
};

// Creates a toolbar in `rebar` as band `bandId`. A posted WM_COMMAND that
// reaches the toolbar itself is handed to its top-level window.
HWND AddToolbarBand(HWND rebar, UINT bandId, const std::vector<ToolbarButton>& buttons, bool withText);

// ---------------------------------------------------------------- menus

// The menu band: a toolbar whose buttons open the pop-ups of `menuBar`.
// Its button commands are kMenuBandFirst + index.
constexpr UINT kMenuBandFirst = 39000;
HWND AddMenuBand(HWND rebar, HMENU menuBar);

// Opens pop-up `index` of `menuBar` for the user, as the menu band does:
// WM_MENUSELECT with the index on the menu bar, then TrackPopupMenuEx, which
// sends WM_ENTERMENULOOP, WM_INITMENU and WM_INITMENUPOPUP for the pop-up.
void TrackMenuBandPopup(HWND owner, HWND menuBand, HMENU menuBar, int index);

// Text of a menu item without '&' and without the accelerator after a tab.
std::wstring PlainMenuText(const std::wstring& text);

// ---------------------------------------------------------------- message views

// The HTML view: an "Internet Explorer_Server" window that draws `content`
// and answers "WM_HTML_GETOBJECT" with its document object.
HWND CreateBrowserView(HWND parent, std::shared_ptr<HtmlContent> content);
std::shared_ptr<HtmlContent> BrowserContent(HWND browser);
UINT HtmlGetObjectMessage();

// A "##MimeEdit_Server" with an "Internet Explorer_Server" inside. With
// `header` the window draws a header line above the body (the preview pane).
HWND CreateMimeEdit(HWND parent, std::shared_ptr<HtmlContent> content, bool header);
// `account`, when not empty, is shown at the right of the From line.
void SetMimeEditHeader(HWND mimeEdit, const std::wstring& from, const std::wstring& to, const std::wstring& subject,
                       const std::wstring& account = {});
std::wstring MimeEditAccount(HWND mimeEdit);
HWND MimeEditBrowser(HWND mimeEdit);

// Plain-text window class of a rich-edit control.
const wchar_t* PlainEditorClass();   // "RichEdit50W"
const wchar_t* EnvelopeEditClass();  // "RichEdit20W"

// Reads a rich-edit control's text, objects expanded to their text.
std::wstring RichEditText(HWND edit);
void SetRichEditText(HWND edit, const std::wstring& text);

}  // namespace msoe
