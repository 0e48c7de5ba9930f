// OEMsgWnd: the automation handle on one message window.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

struct OEPluginMsgWnd;

extern const ClassIdentity kOEMsgWndIdentity;

class OEMsgWnd final : public AutomationObject<IOEMsgWnd> {
public:
    OEMsgWnd();
    ~OEMsgWnd() override;

    // Key of the manager's registry: the bound window's id, -1 unbound.
    LONG RegistryKey() const;

    // Binds the object to a message window (-1: the first preview pane) and
    // holds the window's record until released. Unbound when none matches.
    void Bind(LONG msgWndId);
    bool bound() const { return record_ != nullptr; }
    const OEPluginMsgWnd* BoundRecord() const { return record_; }
    // Lets go of the record (its window is being removed); every method then
    // answers as for a window that is gone.
    void Unbind();
    void SetCreatorId(LONG plumeId) { creatorId_ = plumeId; }

    // Event deliveries to this object's sinks.
    void FireOnToolbarButtonClicked(LONG toolbarId, LONG buttonId);
    void FireOnMenuItemClicked(LONG menuIndex, LONG menuItemId);
    void FireOnClose(LONG isMainWindow);

    STDMETHODIMP GetTo(BSTR *address) override;
    STDMETHODIMP SetTo(BSTR address) override;
    STDMETHODIMP GetCc(BSTR *address) override;
    STDMETHODIMP SetCc(BSTR address) override;
    STDMETHODIMP CancelSend() override;
    STDMETHODIMP GetSubject(BSTR *subject) override;
    STDMETHODIMP SetSubject(BSTR subject) override;
    STDMETHODIMP GetBody(BSTR *body) override;
    STDMETHODIMP GetBodyLength(LONG *length) override;
    STDMETHODIMP SetBody(BSTR *body) override;
    STDMETHODIMP SetBodyHTML(BSTR *body) override;
    STDMETHODIMP GetWndStyle(enum tagWNDSTYLE *wndStyle) override;
    STDMETHODIMP SendMail() override;
    STDMETHODIMP SendKey(LONG keyCode, LONG controlCode, LONG setForeground) override;
    STDMETHODIMP GetID(LONG *Id) override;
    STDMETHODIMP GetToolbarByIndex(LONG toolbarIndex, IOEToolbar **newToolbar) override;
    STDMETHODIMP GetToolbar(LONG toolbarId, IOEToolbar **newToolbar) override;
    STDMETHODIMP GetMenu(LONG menuIdx, IOEMenu **newMenu) override;
    STDMETHODIMP GetMenuItem(LONG itemId, IOEMenuItem **item) override;
    STDMETHODIMP GetIHTMLDocument2(IDispatch **html) override;
    STDMETHODIMP GetBcc(BSTR *address) override;
    STDMETHODIMP SetBcc(BSTR address) override;

private:
    OEPluginMsgWnd* record_ = nullptr;  // its lock is held while set
    LONG creatorId_ = -1;
};

}  // namespace plume
