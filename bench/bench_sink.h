// An event sink that only counts what reaches it, a count that other
// processes can see, and the helper that connects sinks to an object's events.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "com_object.h"
#include "com_ptr.h"
#include "unique_any.h"

namespace plume::bench {

// Counts every Invoke in `*counter` (which may be shared memory); null: counts nothing.
class CountingSink final : public plume::ref_counted<IDispatch> {
public:
    CountingSink(volatile LONG* counter, const IID& events) : counter_(counter), events_(events) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        if (counter_) InterlockedIncrement(counter_);
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }
    volatile LONG* counter_;
    IID events_;
};

// A LONG in named shared memory.
class SharedCounter {
public:
    explicit SharedCounter(const std::string& name) {
        mapping_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LONG), name.c_str()));
        if (mapping_) value_ = static_cast<volatile LONG*>(MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, 0));
    }
    ~SharedCounter() {
        if (value_) UnmapViewOfFile(const_cast<LONG*>(value_));
    }
    SharedCounter(const SharedCounter&) = delete;
    SharedCounter& operator=(const SharedCounter&) = delete;
    volatile LONG* get() const { return value_; }
    LONG value() const { return value_ ? *value_ : 0; }
    void Reset() {
        if (value_) InterlockedExchange(value_, 0);
    }

private:
    unique_handle mapping_;
    volatile LONG* value_ = nullptr;
};

// The connection point of `source` for `events`; null when it has none.
inline com_ptr<IConnectionPoint> PointOf(IUnknown* source, const IID& events) {
    com_ptr<IConnectionPoint> point;
    com_ptr<IConnectionPointContainer> container;
    if (source && SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())))
        container->FindConnectionPoint(events, point.put());
    return point;
}

}  // namespace plume::bench
