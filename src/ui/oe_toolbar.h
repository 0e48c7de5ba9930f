// OEToolbar: the automation handle on one toolbar.
#pragma once

#include <plume.h>

#include "server/automation_object.h"
#include "ui/toolbar_records.h"

namespace plume {

class OEButton;

extern const ClassIdentity kOEToolbarIdentity;

class OEToolbar final : public AutomationObject<IOEToolbar> {
public:
    OEToolbar();
    ~OEToolbar() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;

    // Makes the object stand for an existing toolbar; `hostSerial` names the
    // message window's host it was obtained from (0: the registry).
    void Bind(LONG toolbarId, LONG ownerId, LONG hostSerial);
    // A new record that wraps the client's own toolbar: of the main window
    // (wndStyle 0) or of message windows of `wndStyle`.
    void WrapHostToolbar(LONG wndStyle, LONG plumeId);

    // Event deliveries to this object's sinks.
    void FireOnButtonClicked(LONG buttonId);
    void FireOnButtonMsgWndClicked(LONG buttonId, LONG msgWndId);

    STDMETHODIMP SetShown(LONG show) override;
    STDMETHODIMP CreateButton(BSTR name, BSTR bmpNormal, BSTR bmpMouseOver, IOEButton **unnamed_0) override;
    STDMETHODIMP CreateSeparator(IOEButton **unnamed_0) override;
    STDMETHODIMP GetID(LONG *unnamed_0) override;
    STDMETHODIMP Create(LONG plumeId) override;
    STDMETHODIMP CreateInMsgWnd(enum tagWNDSTYLE wndStyle, LONG plumeId) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP SetLargeButtons(LONG largeBtns) override;
    STDMETHODIMP GetFirstButtonID(LONG *buttonId) override;
    STDMETHODIMP GetNextButtonID(LONG *buttonId) override;
    STDMETHODIMP GetButton(LONG buttonId, IOEButton **newButton) override;
    STDMETHODIMP GetButtonByIndex(LONG index, IOEButton **button) override;
    STDMETHODIMP GetHandle(LONG *tbHandle) override;
    STDMETHODIMP SetMaxTextRows(LONG rows) override;
    STDMETHODIMP EnableTooltips(LONG bEnable) override;
    STDMETHODIMP SetMaskColor(LONG color) override;
    STDMETHODIMP GetMaskColor(LONG *color) override;
    STDMETHODIMP SetPictureSize(LONG cx, LONG cy, LONG *res) override;
    STDMETHODIMP GetPictureSize(LONG *cx, LONG *cy, LONG *res) override;

private:
    // The record, locked; created in the main host when there is none yet.
    locked_ref<OEPluginToolbar> Record();
    // A new button object on this toolbar (its host's, when obtained from one).
    com_ptr<OEButton> NewButton();

    LONG toolbarId_ = -1;
    LONG ownerId_ = -1;
    LONG cursor_ = 0;
    LONG hostSerial_ = 0;
};

}  // namespace plume
