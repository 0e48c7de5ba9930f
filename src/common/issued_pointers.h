// Pointers this process put into a window message, so that the receiver can
// tell its own records from a number that any other program may post: any
// process on the desktop can post any message to any window.
#pragma once

#include <unordered_set>

#include "sync.h"

namespace plume {

class issued_pointers {
public:
    // Remembers `p` as handed out by this process.
    void issue(const void* p) {
        cs_lock hold(lock_);
        set_.insert(p);
    }
    // True, once, for a pointer that was issued and not yet redeemed or
    // withdrawn; the caller then owns what it points at.
    bool redeem(const void* p) {
        if (!p) return false;
        cs_lock hold(lock_);
        return set_.erase(p) != 0;
    }
    // True while `p` is issued (it stays issued).
    bool contains(const void* p) {
        if (!p) return false;
        cs_lock hold(lock_);
        return set_.count(p) != 0;
    }
    // Forgets `p` (its message was not delivered).
    void withdraw(const void* p) { redeem(p); }

private:
    critical_section lock_;
    std::unordered_set<const void*> set_;
};

}  // namespace plume
