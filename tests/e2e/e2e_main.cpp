// End-to-end suites against the stand-in mail client. One run covers one
// client variant: --variant=oe (msimn.exe) or --variant=wm (winmail.exe).
// The library and the script event helper, where built, register
// themselves first, as installation does, so that their interfaces are
// marshalled between this process and the client.
#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>

#include "e2e_common.h"

namespace plume::test {
ClientVariant g_variant = ClientVariant::OutlookExpress;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--variant=wm") == 0) plume::test::g_variant = plume::test::ClientVariant::WindowsMail;
        else if (strcmp(argv[i], "--variant=oe") == 0) plume::test::g_variant = plume::test::ClientVariant::OutlookExpress;
        else if (strncmp(argv[i], "--switches=", 11) == 0)
            for (const char* c = argv[i] + 11; *c; ++c)  // comma-separated
                plume::test::ClientSwitches() += *c == ',' ? L' ' : static_cast<wchar_t>(*c);
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    for (const wchar_t* name : {L"plumesrv.dll", L"plumescript.dll"}) {
        HMODULE library = LoadLibraryW((plume::test::OwnFolder() + name).c_str());
        if (!library) continue;
        auto registerServer =
            reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(library, "DllRegisterServer")));
        if (!registerServer || FAILED(registerServer())) return 3;
    }
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
