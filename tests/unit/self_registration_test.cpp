// DllRegisterServer / DllUnregisterServer of plumesrv.dll against the
// client's installation keys in this prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "proc_address.h"
#include "registry_scope.h"
#include "test_paths.h"
#include "unique_any.h"

namespace {

using Entry = HRESULT(WINAPI*)();

std::string ReadDefault(const std::string& path) {
    plume::unique_hkey key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return "<missing>";
    char value[1024] = "";
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size))
        return "<no value>";
    return value;
}

bool KeyExists(HKEY root, const std::string& path) {
    plume::unique_hkey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Changes the clients' installation roots for the test; the values (and the
// library's registration, which follows them) are put back at the end, also
// when the test fails.
class ClientInstallation {
public:
    ClientInstallation() : wasRegistered_(KeyExists(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj")) {}
    ~ClientInstallation() {
        keys_[0].reset();
        keys_[1].reset();
        // The registration as it was: written again from the restored roots.
        plume::unique_hmodule dll(LoadLibraryW(plume::test::LibraryPathW().c_str()));
        auto entry = plume::GetProcAs<Entry>(dll.get(), wasRegistered_ ? "DllRegisterServer" : "DllUnregisterServer");
        if (entry) entry();
    }
    // A null root: that client is not installed (no key).
    void Set(const char* outlookExpress, const char* windowsMail) {
        Write(0, outlookExpress);
        Write(1, windowsMail);
    }

private:
    static constexpr const char* kKeys[2] = {"SOFTWARE\\Microsoft\\Outlook Express",
                                             "SOFTWARE\\Microsoft\\Windows Mail"};
    static void Write(int which, const char* root) {
        if (!root) {
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKeys[which]);
            return;
        }
        plume::unique_hkey key;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeys[which], 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
        RegSetValueExA(key.get(), "InstallRoot", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(root),
                       static_cast<DWORD>(strlen(root) + 1));
    }
    bool wasRegistered_;
    std::unique_ptr<plume::test::ScopedRegistryKey> keys_[2] = {
        std::make_unique<plume::test::ScopedRegistryKey>(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Outlook Express"),
        std::make_unique<plume::test::ScopedRegistryKey>(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Mail")};
};

const char* kRootClsid = "CLSID\\{12BAF138-264C-464B-9D58-C83B3781DD4C}";
const char* kTypeLibKey = "TypeLib\\{54B89298-879A-4086-B082-854D3EBFDCC3}";

TEST(SelfRegistration, WritesClassesAsLocalServersOfTheClient) {
    plume::unique_hmodule dll(LoadLibraryW(plume::test::LibraryPathW().c_str()));
    ASSERT_TRUE(dll);
    auto reg = plume::GetProcAs<Entry>(dll.get(), "DllRegisterServer");
    auto unreg = plume::GetProcAs<Entry>(dll.get(), "DllUnregisterServer");
    ASSERT_TRUE(reg && unreg);
    ClientInstallation install;

    // Outlook Express only, with an environment variable in its root.
    install.Set("%SystemRoot%\\oe", nullptr);
    char expected[MAX_PATH];
    ExpandEnvironmentStringsA("%SystemRoot%\\oe\\MSIMN.EXE", expected, MAX_PATH);
    ASSERT_EQ(S_OK, reg());
    ASSERT_EQ(S_OK, reg()) << "registering twice";
    EXPECT_EQ(expected, ReadDefault(std::string(kRootClsid) + "\\LocalServer32"));
    EXPECT_EQ("", ReadDefault(std::string(kRootClsid) + "\\Programmable"));
    EXPECT_EQ("{54B89298-879A-4086-B082-854D3EBFDCC3}", ReadDefault(std::string(kRootClsid) + "\\TypeLib"));
    EXPECT_EQ("PLUME.PLUMEObj", ReadDefault(std::string(kRootClsid) + "\\ProgID"));
    EXPECT_EQ("PLUMEObj", ReadDefault(kRootClsid));
    EXPECT_EQ("PLUMEObj", ReadDefault("PLUME.PLUMEObj"));
    EXPECT_EQ("{12BAF138-264C-464B-9D58-C83B3781DD4C}", ReadDefault("PLUME.PLUMEObj\\CLSID"));
    EXPECT_EQ("{12BAF159-264C-464B-9D58-C83B3781DD4C}", ReadDefault("PLUME.OEMenuItem\\CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\2.6"));
    EXPECT_EQ("<missing>", ReadDefault(std::string(kRootClsid) + "\\InprocServer32"));

    // Windows Mail wins when both are installed.
    install.Set("C:\\oe", "C:\\Program Files\\Windows Mail");
    ASSERT_EQ(S_OK, reg());
    EXPECT_EQ("C:\\Program Files\\Windows Mail\\WinMail.EXE",
              ReadDefault(std::string(kRootClsid) + "\\LocalServer32"));

    // Unregistering removes the class keys; with the keys already gone it still
    // succeeds (the type library must be registered: it is unregistered first).
    ASSERT_EQ(S_OK, unreg());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kRootClsid));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "PLUME.PLUMEObj"));
    ASSERT_EQ(S_OK, reg());
    ASSERT_EQ(S_OK, unreg());
    ASSERT_EQ(S_OK, reg());
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (std::string(kRootClsid) + "\\LocalServer32").c_str());
    EXPECT_EQ(S_OK, unreg()) << "keys already gone are ignored";

    // Neither client: the old type-library tree is cleared, nothing registered.
    ASSERT_EQ(S_OK, reg());
    install.Set(nullptr, nullptr);
    EXPECT_EQ(E_FAIL, reg());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\2.6"));
}

}  // namespace
