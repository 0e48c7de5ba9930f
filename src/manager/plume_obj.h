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

private:
    const LONG plumeId_;
};

}  // namespace plume
