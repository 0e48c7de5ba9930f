// Replaces a window's procedure and remembers the one it replaced.
#pragma once

#include <windows.h>

namespace plume {

class window_subclass {
public:
    window_subclass() = default;
    window_subclass(const window_subclass&) = delete;
    window_subclass& operator=(const window_subclass&) = delete;
    // Puts the previous procedure back if ours is still installed.
    ~window_subclass() { restore(); }

    // Installs `proc` on `hwnd`; false when the window is gone.
    bool install(HWND hwnd, WNDPROC proc) {
        restore();
        WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
        if (!previous) return false;
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
        hwnd_ = hwnd;
        previous_ = previous;
        proc_ = proc;
        return true;
    }
    // Restores the previous procedure unless another subclass sits on top of ours.
    void restore() {
        if (hwnd_ && IsWindow(hwnd_) &&
            reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd_, GWLP_WNDPROC)) == proc_)
            SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        forget();
    }
    // Leaves the window subclassed but drops the record of it.
    void forget() { hwnd_ = nullptr; previous_ = nullptr; proc_ = nullptr; }

    HWND window() const { return hwnd_; }
    WNDPROC previous() const { return previous_; }
    LRESULT call_previous(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) const {
        return CallWindowProcA(previous_, hwnd, msg, wp, lp);
    }

private:
    HWND hwnd_ = nullptr;
    WNDPROC previous_ = nullptr;
    WNDPROC proc_ = nullptr;
};

}  // namespace plume
