// Reference counting and QueryInterface for small COM objects, and the
// shared part of class factories that live as long as their module.
#pragma once

#include <objbase.h>

namespace plume {

// A heap object implementing `Interfaces`; it starts with one reference
// (the creator's) and deletes itself when the last one goes. The derived
// class answers which interface an IID stands for.
template <typename... Interfaces>
class ref_counted : public Interfaces... {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = Cast(iid);
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return n;
    }
    LONG refs() const { return refs_; }

protected:
    ref_counted() = default;
    virtual ~ref_counted() = default;
    // The interface pointer for `iid` (IUnknown included), or null.
    virtual void* Cast(REFIID iid) = 0;

private:
    LONG refs_ = 1;
};

// A class factory object of static lifetime: it is not counted, and
// LockServer only moves `locks`. Derived classes implement CreateInstance.
class static_class_factory : public IClassFactory {
public:
    explicit static_class_factory(volatile LONG* locks) : locks_(locks) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP LockServer(BOOL lock) override {
        lock ? InterlockedIncrement(locks_) : InterlockedDecrement(locks_);
        return S_OK;
    }

private:
    volatile LONG* locks_;
};

}  // namespace plume
