// Re-entrant critical sections and scoped holders.
#pragma once

#include <windows.h>

namespace plume {

class critical_section {
public:
    critical_section() { InitializeCriticalSection(&cs_); }
    ~critical_section() { DeleteCriticalSection(&cs_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    void lock() { EnterCriticalSection(&cs_); }
    bool try_lock() { return TryEnterCriticalSection(&cs_) != FALSE; }
    void unlock() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

// Holds a lock for a scope; may be let go early.
template <typename Lockable>
class scoped_lock {
public:
    explicit scoped_lock(Lockable& l) : l_(&l) { l_->lock(); }
    ~scoped_lock() { unlock(); }
    scoped_lock(const scoped_lock&) = delete;
    scoped_lock& operator=(const scoped_lock&) = delete;
    void unlock() { if (l_) { l_->unlock(); l_ = nullptr; } }

private:
    Lockable* l_;
};

using cs_lock = scoped_lock<critical_section>;

}  // namespace plume
