// PLUMEObj: the root object of the object model; one per client.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

extern const ClassIdentity kPLUMEObjIdentity;

class PLUMEObj final : public AutomationObject<IPLUMEObj> {
public:
    PLUMEObj();
    ~PLUMEObj() override;

    LONG plumeId() const { return plumeId_; }
    LONG RegistryKey() const { return plumeId_; }
    // Forgets the selected-message enumeration (the folder changed).
    void ResetSelectedMessagePos() { selectedMessagePos_ = -1; }

    // Event deliveries to this object's sinks.
    void FireOnToolbarButtonMsgWndClicked(LONG toolbarId, LONG buttonId, LONG msgWndId);
    // Handlers that answer after their bound are reported to `late`.
    void FireOnSendButtonMsgWndClicked(LONG msgWndId, const std::shared_ptr<LateAnswers>& late = nullptr);
    void FireOnNewMsgWnd(LONG msgWndId);
    void FireOnMsgWndClosed(LONG msgWndId, LONG isMainWindow);
    void FireOnToolbarButtonClicked(LONG toolbarId, LONG buttonId);
    void FireOnMenuItemClicked(LONG menuIndex, LONG menuItemId);
    void FireOnMsgWndMenuItemClicked(LONG menuIndex, LONG menuItemId, LONG msgWndId);
    void FireOnFolderSelectionChanged(LONG folderId);
    void FireOnMessageSelectionChanged();
    void FireOnCurrentMessageChanged(LONG msgId);
    void FireOnMessageDownloadStarted();
    void FireOnMessageDownloadFinished();
    void FireOnNewMessageInOutbox(LONG msgId);
    void FireOnDatabaseChange(LONG dt, LONG folderId, LONG objId, LONG newParentId);

    STDMETHODIMP GetID(LONG *Id) override;
    STDMETHODIMP GetMenu(LONG index, IOEMenu **menu) override;
    STDMETHODIMP GetMsgWnd(LONG msgWndId, IOEMsgWnd **msgWnd) override;
    STDMETHODIMP CreateToolbarInMsgWnd(enum tagWNDSTYLE wndStyle, IOEToolbar **newToolbar) override;
    STDMETHODIMP GetOEToolbarInMsgWnd(enum tagWNDSTYLE wndStyle, IOEToolbar **newToolbar) override;
    STDMETHODIMP GetFirstMsgWndID(LONG *msgWndId) override;
    STDMETHODIMP GetNextMsgWndID(LONG *msgWndId) override;
    STDMETHODIMP GetActiveMsgWndID(LONG *msgWndId) override;
    STDMETHODIMP SendKey(LONG keyCode, LONG controlCode, LONG setForeground) override;
    STDMETHODIMP CreateToolbar(IOEToolbar **newToolbar) override;
    STDMETHODIMP GetOEToolbar(IOEToolbar **newToolbar) override;
    STDMETHODIMP GetFirstToolbarID(LONG *toolbarId) override;
    STDMETHODIMP GetNextToolbarID(LONG *toolbarId) override;
    STDMETHODIMP GetToolbar(LONG toolbarId, IOEToolbar **newToolbar) override;
    STDMETHODIMP RemoveAllToolbars() override;
    STDMETHODIMP GetFirstMenuItemID(LONG *unnamed_0) override;
    STDMETHODIMP GetNextMenuItemID(LONG *itemId) override;
    STDMETHODIMP GetMenuItem(LONG itemId, IOEMenuItem **item) override;
    STDMETHODIMP RemoveAllMenuItems() override;
    STDMETHODIMP SendAndReceiveMessages() override;
    STDMETHODIMP SendMessage(LONG folderId, LONG msgId) override;
    STDMETHODIMP GetOEMainWindow(LONG *wndHandle) override;
    STDMETHODIMP GetSelectedFolderID(LONG *selFolderId) override;
    STDMETHODIMP GetFirstSelectedMessageID(LONG *msgId) override;
    STDMETHODIMP GetNextSelectedMessageID(LONG *msgId) override;
    STDMETHODIMP GetCurrentMessageID(LONG *msgId) override;
    STDMETHODIMP SetSelectedMessageID(LONG msgId) override;
    STDMETHODIMP AddSelectedMessageID(LONG msgId) override;
    STDMETHODIMP IsAnyMessageSelected(LONG *unnamed_0) override;
    STDMETHODIMP SetSelectedFolderID(LONG selFolderId) override;
    STDMETHODIMP OpenCurrentMessage() override;
    STDMETHODIMP ComposeMessage() override;
    STDMETHODIMP GetMsgWndMenu(enum tagWNDSTYLE wndStyle, LONG index, IOEMenu **menu) override;
    STDMETHODIMP GetMsgWndMenuItem(enum tagWNDSTYLE wndStyle, LONG itemId, IOEMenuItem **item) override;

    // True when `msgWndId` names a known message window (a bound OEMsgWnd
    // can be made for it).
    static bool CanBind(LONG msgWndId);

private:

    const LONG plumeId_;
    LONG selectedMessagePos_ = -1;
    LONG toolbarPos_ = -1;
    LONG msgWndPos_ = -1;
    LONG menuItemPos_ = 0;
};

// Takes every menu item that the root `ownerId` made out of the client's menus.
void RemoveMenuItemsOf(LONG ownerId);

}  // namespace plume
