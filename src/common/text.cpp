#include "bstr.h"

#include <stdexcept>
#include <windows.h>

namespace plume {
namespace {

std::string FromWide(UINT codePage, const wchar_t* text, int length) {
    if (!text) return {};
    if (length < 0) length = static_cast<int>(wcslen(text));
    if (length == 0) return {};
    int n = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) throw std::runtime_error("WideCharToMultiByte has failed");
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring ToWide(UINT codePage, const char* text, int length) {
    if (!text) return {};
    if (length < 0) length = static_cast<int>(strlen(text));
    if (length == 0) return {};
    int n = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (n <= 0) throw std::runtime_error("MultiByteToWideChar has failed");
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text, length, out.data(), n);
    return out;
}

}  // namespace

std::string WideToAnsi(const wchar_t* text, int length) { return FromWide(CP_ACP, text, length); }
std::wstring AnsiToWide(const char* text, int length) { return ToWide(CP_ACP, text, length); }
std::string WideToUtf8(const wchar_t* text, int length) { return FromWide(CP_UTF8, text, length); }
std::wstring Utf8ToWide(const char* text, int length) { return ToWide(CP_UTF8, text, length); }

}  // namespace plume
