// OEButton: the automation handle on one toolbar button.
#pragma once

#include <plume.h>

#include "server/automation_object.h"
#include "ui/toolbar_records.h"

namespace plume {

extern const ClassIdentity kOEButtonIdentity;

class OEButton final : public AutomationObject<IOEButton> {
public:
    OEButton();
    ~OEButton() override;

    // Key of the manager's registry.
    LONG RegistryKey() const;
    LONG toolbarId() const { return toolbarId_; }

    // Makes the object stand for an existing button of `toolbarId`;
    // `hostSerial` as for OEToolbar::Bind.
    void Bind(LONG buttonId, LONG toolbarId, LONG hostSerial);
    void SetHost(LONG hostSerial) { hostSerial_ = hostSerial; }

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
    // A button's record locked for a call, its toolbar's lock taken first: a
    // change may reach the toolbar's image lists, which the client's thread
    // frees under the toolbar's lock (closing a window, shutdown).
    struct LockedButton {
        locked_ref<OEPluginToolbar> toolbar;
        locked_ref<OEPluginButton> button;
        explicit operator bool() const { return static_cast<bool>(button); }
        OEPluginButton* operator->() const { return button.get(); }
    };
    // The record, locked: a new pending one when the object has none yet.
    LockedButton Record();
    // Create / CreateSeparator: `setup` fills the new record before it joins.
    template <typename Setup>
    void Join(LONG toolbarId, Setup setup);
    // CreateSubButton / CreateSubSeparator.
    template <typename Setup>
    HRESULT NewSub(const char* method, IOEButton** out, Setup setup);

    LONG buttonId_ = -1;
    LONG subCursor_ = 0;
    LONG toolbarId_ = -1;
    ButtonPtr pending_;  // made by this object, not yet in a toolbar
    LONG hostSerial_ = 0;
};

}  // namespace plume
