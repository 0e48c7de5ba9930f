// The client's store class as the unit tests fake it: objects that are a
// class table, a reference count and the folder and message they stand for;
// the class object the library creates the store through, registered for
// in-process creation while it lives; and the client touching its store.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "client_numbers.h"
#include "fake_table_object.h"

namespace plume::test {

struct StoreObj {
    AnyFn* vtbl;
    LONG refs;
    LONG folder;  // 0: the store
    LONG msg;
};

inline IUnknown* NewStoreObj(AnyFn* table, LONG folder = 0, LONG msg = 0) {
    return reinterpret_cast<IUnknown*>(new StoreObj{table, 1, folder, msg});
}

// Registered while it lives: new store objects of `table`, or `failure`.
class FakeStoreClass final : public IClassFactory {
public:
    explicit FakeStoreClass(AnyFn* table, HRESULT failure = S_OK) : table_(table), failure_(failure) {
        CLSID clsid{};
        CLSIDFromString(client_numbers::kStoreClass, &clsid);
        registered_ = CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
    }
    ~FakeStoreClass() { CoRevokeClassObject(cookie_); }
    FakeStoreClass(const FakeStoreClass&) = delete;
    FakeStoreClass& operator=(const FakeStoreClass&) = delete;
    HRESULT registered() const { return registered_; }

    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** out) override {
        *out = FAILED(failure_) ? nullptr : NewStoreObj(table_);
        return FAILED(failure_) ? failure_ : S_OK;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    AnyFn* table_;
    HRESULT failure_;
    HRESULT registered_ = E_FAIL;
    DWORD cookie_ = 0;
};

// A store object the client touches (AddRef through its class table), as
// the client does with its store; caller releases.
inline IUnknown* ClientTouchesStore(AnyFn* table) {
    IUnknown* store = NewStoreObj(table);
    reinterpret_cast<ULONG(STDMETHODCALLTYPE*)(IUnknown*)>(table[1])(store);
    return store;
}

}  // namespace plume::test
