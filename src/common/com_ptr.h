// A counted reference to a COM interface.
#pragma once

#include <objbase.h>
#include <utility>

namespace plume {

template <typename T>
class com_ptr {
public:
    com_ptr() = default;
    com_ptr(std::nullptr_t) {}
    // Takes a new reference on `p`.
    explicit com_ptr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    com_ptr(const com_ptr& other) : com_ptr(other.p_) {}
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~com_ptr() { reset(); }
    com_ptr& operator=(com_ptr other) noexcept { std::swap(p_, other.p_); return *this; }

    // Adopts a reference the caller already owns.
    static com_ptr attach(T* p) { com_ptr r; r.p_ = p; return r; }
    T* detach() { return std::exchange(p_, nullptr); }
    void reset() { if (T* p = std::exchange(p_, nullptr)) p->Release(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases the current reference and hands out the slot to fill.
    T** put() { reset(); return &p_; }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    // Gives the caller a new reference through an out pointer.
    HRESULT copy_to(T** out) const {
        if (!out) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    template <typename U>
    com_ptr<U> query(const IID& iid) const {
        com_ptr<U> r;
        if (p_) p_->QueryInterface(iid, r.put_void());
        return r;
    }

private:
    T* p_ = nullptr;
};

}  // namespace plume
