#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>

#include "manager/plume_manager.h"
#include "test_paths.h"

namespace {

// Registers the library's type library in the test prefix, as installation
// does, so that objects answer IDispatch from it.
class TypeLibRegistration : public ::testing::Environment {
public:
    void SetUp() override {
        // Under the path as given: Wine's REGKIND_REGISTER writes a "\\?\" one,
        // which would leave the prefix changed.
        const std::wstring path = plume::test::LibraryPathW();
        ITypeLib* lib = nullptr;
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib));
        const HRESULT hr = RegisterTypeLib(lib, const_cast<wchar_t*>(path.c_str()), nullptr);
        lib->Release();
        ASSERT_EQ(S_OK, hr) << "registering the type library";
        // The script helper, a COM class the plug-in tests load by ProgID.
        HMODULE helper = LoadLibraryW((plume::test::BinaryDirW() + L"plumescript.dll").c_str());
        ASSERT_NE(nullptr, helper);
        auto reg = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(GetProcAddress(helper, "DllRegisterServer")));
        ASSERT_EQ(S_OK, reg ? reg() : E_FAIL);
        FreeLibrary(helper);
    }
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    CoInitialize(nullptr);
    // The tests' thread stands for the server thread, which alone makes the
    // manager.
    plume::PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    ::testing::AddGlobalTestEnvironment(new TypeLibRegistration);
    int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
