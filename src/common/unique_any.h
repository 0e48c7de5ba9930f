// Owning wrappers for Win32 handles, keyed on the function that closes them.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <utility>

namespace plume {

// One owner of a handle value; `Close` runs when the owner lets go.
template <typename T, auto Close, T Invalid = T{}>
class unique_any {
public:
    unique_any() = default;
    explicit unique_any(T value) : value_(value) {}
    ~unique_any() { reset(); }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != Invalid; }
    // Closes the current value and takes ownership of `value`.
    void reset(T value = Invalid) {
        T old = std::exchange(value_, value);
        if (old != Invalid) Close(old);
    }
    T release() { return std::exchange(value_, Invalid); }
    // For APIs that fill a handle through an out pointer.
    T* put() { reset(); return &value_; }

private:
    T value_ = Invalid;
};

namespace detail {
inline void CloseKey(HKEY key) { RegCloseKey(key); }
inline void CloseKernelHandle(HANDLE h) { CloseHandle(h); }
inline void FreeLibraryHandle(HMODULE m) { FreeLibrary(m); }
inline void DeleteGdiObject(HGDIOBJ o) { DeleteObject(o); }
inline void DestroyMenuHandle(HMENU m) { DestroyMenu(m); }
inline void DestroyImageList(HIMAGELIST l) { ImageList_Destroy(l); }
inline void Unhook(HHOOK h) { UnhookWindowsHookEx(h); }
inline void DestroyWindowHandle(HWND w) { DestroyWindow(w); }
inline void TaskMemFree(void* p) { CoTaskMemFree(p); }
inline void DeleteDc(HDC dc) { DeleteDC(dc); }
// Waits for a callback that is running to return.
inline void UnregisterWaitBlocking(HANDLE wait) { UnregisterWaitEx(wait, INVALID_HANDLE_VALUE); }
}  // namespace detail

using unique_hkey = unique_any<HKEY, detail::CloseKey>;
using unique_handle = unique_any<HANDLE, detail::CloseKernelHandle>;
using unique_hmodule = unique_any<HMODULE, detail::FreeLibraryHandle>;
using unique_hbitmap = unique_any<HBITMAP, detail::DeleteGdiObject>;
using unique_hmenu = unique_any<HMENU, detail::DestroyMenuHandle>;
using unique_himagelist = unique_any<HIMAGELIST, detail::DestroyImageList>;
using unique_hhook = unique_any<HHOOK, detail::Unhook>;
using unique_hwnd = unique_any<HWND, detail::DestroyWindowHandle>;
using unique_cotaskmem = unique_any<void*, detail::TaskMemFree>;
using unique_hdc = unique_any<HDC, detail::DeleteDc>;
// A RegisterWaitForSingleObject registration.
using unique_wait = unique_any<HANDLE, detail::UnregisterWaitBlocking>;

}  // namespace plume
