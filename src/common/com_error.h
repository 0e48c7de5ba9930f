// The error raised inside the library for a failed HRESULT, and the helpers
// that raise it.
#pragma once

#include <windows.h>
#include <string>

namespace plume {

class com_error {
public:
    explicit com_error(HRESULT hr, std::wstring description = {})
        : hr_(hr), description_(std::move(description)) {}
    HRESULT hr() const { return hr_; }
    const std::wstring& description() const { return description_; }

private:
    HRESULT hr_;
    std::wstring description_;
};

[[noreturn]] inline void throw_com_error(HRESULT hr, std::wstring description = {}) {
    throw com_error(hr, std::move(description));
}

inline void throw_if_failed(HRESULT hr) {
    if (FAILED(hr)) throw_com_error(hr);
}

}  // namespace plume

#define PLUME_RETURN_IF_FAILED(expr)          \
    do {                                      \
        HRESULT plume_hr_ = (expr);           \
        if (FAILED(plume_hr_)) return plume_hr_; \
    } while (0)
