// An owned automation string and conversions between code pages.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <string>
#include <utility>

namespace plume {

class bstr {
public:
    bstr() = default;
    explicit bstr(const wchar_t* text) : s_(text ? SysAllocString(text) : nullptr) {
        if (text && !s_) throw std::bad_alloc();
    }
    bstr(const wchar_t* text, UINT length) : s_(SysAllocStringLen(text, length)) {
        if (!s_) throw std::bad_alloc();
    }
    explicit bstr(const std::wstring& text) : bstr(text.c_str(), static_cast<UINT>(text.size())) {}
    bstr(const bstr& other) : s_(other.s_ ? SysAllocStringLen(other.s_, SysStringLen(other.s_)) : nullptr) {
        if (other.s_ && !s_) throw std::bad_alloc();
    }
    bstr(bstr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    bstr& operator=(bstr other) noexcept { std::swap(s_, other.s_); return *this; }
    ~bstr() { SysFreeString(s_); }

    static bstr attach(BSTR s) { bstr r; r.s_ = s; return r; }
    BSTR detach() { return std::exchange(s_, nullptr); }
    BSTR get() const { return s_; }
    BSTR* put() { SysFreeString(std::exchange(s_, nullptr)); return &s_; }
    UINT length() const { return SysStringLen(s_); }
    bool empty() const { return length() == 0; }
    // Never null: an absent string reads as empty.
    const wchar_t* c_str() const { return s_ ? s_ : L""; }
    std::wstring str() const { return std::wstring(c_str(), length()); }

private:
    BSTR s_ = nullptr;
};

// UTF-16 to the ANSI code page and back (CP_ACP); throw on failure.
std::string WideToAnsi(const wchar_t* text, int length = -1);
std::wstring AnsiToWide(const char* text, int length = -1);
std::string WideToUtf8(const wchar_t* text, int length = -1);
std::wstring Utf8ToWide(const char* text, int length = -1);
// An automation string in the ANSI code page; null reads as empty.
inline std::string AnsiFromBstr(BSTR text) {
    return text ? WideToAnsi(text, static_cast<int>(SysStringLen(text))) : std::string();
}

}  // namespace plume
