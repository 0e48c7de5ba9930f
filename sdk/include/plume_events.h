// Named DISPIDs of every PLUME event, reading an event's arguments in the
// order the reference lists them, and typed helpers where the type library's
// signatures would force a cast (header only, C++).
//
//   STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, ...) {
//       if (id == plume_events::root::OnDatabaseChange) {
//           long code = plume_events::Arg(params, 0), folder = plume_events::Arg(params, 1);
//           ...
//
// IDispatch::Invoke hands the arguments last first (rgvarg[0] is the last
// one); Arg takes the reference's order and does the counting.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <plume.h>

namespace plume_events {

// IPLUMEObjEvents: every root object (PLUMEObj).
namespace root {
constexpr DISPID OnToolbarButtonClicked = 1;        // (toolbarId, buttonId), its own toolbars
constexpr DISPID OnMenuItemClicked = 2;             // (menuIndex, menuItemId), its own items
constexpr DISPID OnFolderSelectionChanged = 3;      // (folderId)
constexpr DISPID OnMessageSelectionChanged = 4;     // ()
constexpr DISPID OnCurrentMessageChanged = 5;       // (msgId)
constexpr DISPID OnMessageDownloadStarted = 6;      // ()
constexpr DISPID OnMessageDownloadFinished = 7;     // ()
constexpr DISPID OnNewMessageInOutbox = 8;          // (msgId): before every store change, see the guide
constexpr DISPID OnToolbarButtonMsgWndClicked = 9;  // (toolbarId, buttonId, msgWndId)
constexpr DISPID OnSendButtonMsgWndClicked = 10;    // (msgWndId), before the client sends
constexpr DISPID OnNewMsgWnd = 11;                  // (msgWndId)
constexpr DISPID OnMsgWndClosed = 12;               // (msgWndId, isMainWindow)
constexpr DISPID OnDatabaseChange = 13;             // (code, folderId, objId, newParentId)
constexpr DISPID OnMsgWndMenuItemClicked = 14;      // (menuIndex, menuItemId, msgWndId)
}  // namespace root

// IOEMsgWndEvents: an OEMsgWnd.
namespace msg_wnd {
constexpr DISPID OnToolbarButtonClicked = 1;  // (toolbarId, buttonId)
constexpr DISPID OnMenuItemClicked = 2;       // (menuIndex, menuItemId)
constexpr DISPID OnClose = 3;                 // (isMainWindow)
}  // namespace msg_wnd

// IOEToolbarEvents: an OEToolbar.
namespace toolbar {
constexpr DISPID OnButtonClicked = 1;        // (buttonId)
constexpr DISPID OnButtonMsgWndClicked = 2;  // (buttonId, msgWndId)
}  // namespace toolbar

// IOEButtonEvents: an OEButton.
namespace button {
constexpr DISPID OnClick = 1;        // ()
constexpr DISPID OnMsgWndClick = 2;  // (msgWndId)
}  // namespace button

// IOEMenuEvents: an OEMenu.
namespace menu {
constexpr DISPID OnItemClicked = 1;        // (itemId)
constexpr DISPID OnMsgWndItemClicked = 2;  // (itemId, msgWndId)
}  // namespace menu

// IOEMenuItemEvents: an OEMenuItem.
namespace menu_item {
constexpr DISPID OnClick = 1;        // ()
constexpr DISPID OnMsgWndClick = 2;  // (msgWndId)
}  // namespace menu_item

// The event's argument `index` in the reference's order (0: the first), as
// a number; `fallback` when the event has no such argument or it is no number.
inline long Arg(const DISPPARAMS* params, UINT index, long fallback = 0) {
    if (!params || index >= params->cArgs) return fallback;
    VARIANT number;
    VariantInit(&number);
    VARIANT& given = params->rgvarg[params->cArgs - 1 - index];
    if (FAILED(VariantChangeType(&number, &given, 0, VT_I4))) return fallback;
    return V_I4(&number);
}

}  // namespace plume_events

namespace plume_sdk {

// IOEMenu::CreateItem takes the coclass pointer type (OEMenuItem**) where
// every other creation takes the interface: this one takes the interface.
inline HRESULT CreateItem(IOEMenu* menu, BSTR name, IOEMenuItem** item) {
    if (!menu) return E_POINTER;
    return menu->CreateItem(name, reinterpret_cast<OEMenuItem**>(item));
}

}  // namespace plume_sdk

// Window kinds combine as bits (OE_MSG_SEND_WND | OE_MSG_DETAIL_WND) and stay
// a tagWNDSTYLE, as CreateToolbarInMsgWnd and GetMsgWndMenu take them.
constexpr tagWNDSTYLE operator|(tagWNDSTYLE a, tagWNDSTYLE b) {
    return static_cast<tagWNDSTYLE>(static_cast<int>(a) | static_cast<int>(b));
}
