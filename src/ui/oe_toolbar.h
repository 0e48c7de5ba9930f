// OEToolbar: the automation handle on one toolbar.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

extern const ClassIdentity kOEToolbarIdentity;

class OEToolbar final : public AutomationObject<IOEToolbar> {
public:
    OEToolbar();
    ~OEToolbar() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;

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
    LONG id_ = -1;
};

}  // namespace plume
