// OEButton: the automation handle on one toolbar button.
#pragma once

#include <plume.h>

#include "server/automation_object.h"

namespace plume {

extern const ClassIdentity kOEButtonIdentity;

class OEButton final : public AutomationObject<IOEButton> {
public:
    OEButton();
    ~OEButton() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;

    // Event deliveries to this object's sinks.
    void FireOnClick();
    void FireOnMsgWndClick(LONG msgWndId);

    STDMETHODIMP Create(LONG toolbarId, BSTR name, BSTR bmpNormal, BSTR bmpMouseOver) override;
    STDMETHODIMP CreateSeparator(LONG toolbarId) override;
    STDMETHODIMP Destroy() override;
    STDMETHODIMP CreateSubButton(BSTR name, BSTR bmpNormal, BSTR bmpMouseOver, IOEButton **newButton) override;
    STDMETHODIMP GetID(LONG *Id) override;
    STDMETHODIMP SetEnabled(LONG enabled) override;
    STDMETHODIMP SetShown(LONG show) override;
    STDMETHODIMP SetName(BSTR name) override;
    STDMETHODIMP SetImageNormal(BSTR bmpNormal) override;
    STDMETHODIMP SetImageMouseOver(BSTR bmp) override;
    STDMETHODIMP GetFirstSubButtonID(LONG *buttonId) override;
    STDMETHODIMP GetNextSubButtonID(LONG *buttonId) override;
    STDMETHODIMP GetSubButtonByIndex(LONG index, IOEButton **button) override;
    STDMETHODIMP IsSeparator(LONG *isSep) override;
    STDMETHODIMP SetPopupStyle(LONG popup) override;
    STDMETHODIMP SetCheckStyle(LONG check) override;
    STDMETHODIMP SetChecked(LONG checked) override;
    STDMETHODIMP IsChecked(LONG *state) override;
    STDMETHODIMP SetTooltip(BSTR tooltip) override;
    STDMETHODIMP IsVisible(LONG *visible) override;
    STDMETHODIMP IsEnabled(LONG *visible) override;
    STDMETHODIMP GetName(BSTR *name) override;
    STDMETHODIMP CreateSubSeparator(IOEButton **newButton) override;
    STDMETHODIMP SetPicture(IPictureDisp *normal) override;
    STDMETHODIMP SetPictureMouseOver(IPictureDisp *over) override;

private:
    LONG id_ = -1;
};

}  // namespace plume
