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

// A `T` in named shared memory, zeroed when it is made.
template <typename T>
class SharedBlock {
public:
    explicit SharedBlock(const std::string& name) {
        mapping_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(T), name.c_str()));
        if (mapping_) value_ = static_cast<T*>(MapViewOfFile(mapping_.get(), FILE_MAP_WRITE, 0, 0, 0));
    }
    ~SharedBlock() {
        if (value_) UnmapViewOfFile(const_cast<void*>(static_cast<const volatile void*>(value_)));
    }
    SharedBlock(const SharedBlock&) = delete;
    SharedBlock& operator=(const SharedBlock&) = delete;
    T* get() const { return value_; }

private:
    unique_handle mapping_;
    T* value_ = nullptr;
};

// A LONG in named shared memory.
class SharedCounter : public SharedBlock<volatile LONG> {
public:
    using SharedBlock::SharedBlock;
    LONG value() const { return get() ? *get() : 0; }
    void Reset() {
        if (get()) InterlockedExchange(get(), 0);
    }
};

// The connection point of `source` for `events`; null when it has none.
inline com_ptr<IConnectionPoint> PointOf(IUnknown* source, const IID& events) {
    com_ptr<IConnectionPoint> point;
    com_ptr<IConnectionPointContainer> container;
    if (source && SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())))
        container->FindConnectionPoint(events, point.put());
    return point;
}

// Listens to an object's events with a counting sink for its own life.
class Listening {
public:
    Listening(IUnknown* source, const IID& events, volatile LONG* counter = nullptr) : point_(PointOf(source, events)) {
        auto sink = com_ptr<CountingSink>::attach(new CountingSink(counter, events));
        if (point_) point_->Advise(sink.get(), &cookie_);
    }
    ~Listening() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
    }
    Listening(const Listening&) = delete;
    Listening& operator=(const Listening&) = delete;
    bool listening() const { return cookie_ != 0; }

private:
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace plume::bench
