#include "variant.h"

#include <windows.h>

namespace msoe {

Variant CurrentVariant() {
    static const Variant variant = [] {
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        if (!GetVersionExA(&info)) return Variant::OutlookExpress;
        return info.dwMajorVersion == 6 ? Variant::WindowsMail : Variant::OutlookExpress;
    }();
    return variant;
}

const wchar_t* ProductName(Variant variant) {
    return variant == Variant::WindowsMail ? L"Windows Mail" : L"Outlook Express";
}

}  // namespace msoe
