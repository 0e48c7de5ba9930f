#include "server/class_objects.h"

#include <new>

#include "com_object.h"
#include "host/oe_msg_wnd.h"
#include "manager/plume_obj.h"
#include "server/error_info.h"
#include "log.h"
#include "ui/oe_button.h"
#include "ui/oe_menu.h"
#include "ui/oe_menu_item.h"
#include "ui/oe_toolbar.h"

namespace plume {
namespace {

volatile LONG g_serverLocks = 0;

// One static instance per class; never deleted, so counting is not needed.
template <typename T>
class ClassFactory final : public static_class_factory {
public:
    ClassFactory() : static_class_factory(&g_serverLocks) {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!out) return E_POINTER;
        *out = nullptr;
        T* object = nullptr;
        try {
            object = new T();  // starts with the construction reference
        } catch (...) {
            return ErrorFromCurrentException("ClassFactory", IID_IClassFactory);
        }
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
};

ClassFactory<OEMenuItem> g_menuItemFactory;
ClassFactory<OEMsgWnd> g_msgWndFactory;
ClassFactory<OEMenu> g_menuFactory;
ClassFactory<OEButton> g_buttonFactory;
ClassFactory<OEToolbar> g_toolbarFactory;
ClassFactory<PLUMEObj> g_rootFactory;

struct ClassEntry {
    const CLSID& clsid;
    IClassFactory* factory;
};

// Registration order.
const ClassEntry kClasses[6] = {
    {CLSID_OEMenuItem, &g_menuItemFactory}, {CLSID_OEMsgWnd, &g_msgWndFactory},
    {CLSID_OEMenu, &g_menuFactory},         {CLSID_OEButton, &g_buttonFactory},
    {CLSID_OEToolbar, &g_toolbarFactory},   {CLSID_PLUMEObj, &g_rootFactory},
};

}  // namespace

IClassFactory* FindClassFactory(const CLSID& clsid) {
    for (const ClassEntry& c : kClasses)
        if (IsEqualCLSID(c.clsid, clsid)) return c.factory;
    return nullptr;
}

LONG ServerLockCount() { return g_serverLocks; }

HRESULT ClassObjectRegistration::Register() {
    for (const ClassEntry& c : kClasses) {
        HRESULT hr = CoRegisterClassObject(c.clsid, c.factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                           &cookies_[count_]);
        if (FAILED(hr)) return hr;
        ++count_;
    }
    return S_OK;
}

void ClassObjectRegistration::Revoke() {
    for (int i = 0; i < count_; ++i) CoRevokeClassObject(cookies_[i]);
    count_ = 0;
}

}  // namespace plume
