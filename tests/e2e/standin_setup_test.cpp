// The client's settings in the registry, its loader, and the PLUMEInitObject
// server.
#include <shlwapi.h>

#include <fstream>
#include <sstream>

#include "bstr.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "plumeinit.h"
#include "registry_scope.h"
#include "unique_any.h"

namespace plume::test {
namespace {

std::wstring ReadString(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* typeOut = nullptr) {
    unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"<no key>";
    wchar_t value[2048] = {};
    DWORD size = sizeof(value), type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) return L"<no value>";
    if (typeOut) *typeOut = type;
    return value;
}

DWORD ReadDword(HKEY root, const std::wstring& path, const wchar_t* name) {
    unique_hkey key;
    DWORD value = 0xDEADBEEF, size = sizeof(value);
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS)
        RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return value;
}

std::wstring Expand(const std::wstring& s) {
    wchar_t out[2048] = {};
    ExpandEnvironmentStringsW(s.c_str(), out, 2048);
    return out;
}

TEST(StandinSettings, RegistryHoldsWhatTheLibraryReads) {
    // "InstallRoot" names the folder of the executables, for both clients.
    for (const wchar_t* key : {L"SOFTWARE\\Microsoft\\Outlook Express", L"SOFTWARE\\Microsoft\\Windows Mail"}) {
        std::wstring root = Expand(ReadString(HKEY_LOCAL_MACHINE, key, L"InstallRoot"));
        EXPECT_TRUE(PathFileExistsW((root + L"\\msimn.exe").c_str())) << "InstallRoot of " << std::string(key, key + wcslen(key));
        EXPECT_TRUE(PathFileExistsW((root + L"\\winmail.exe").c_str()));
    }
    // The identity, and the account under it and under the plain key.
    std::wstring identity = ReadString(HKEY_CURRENT_USER, L"Identities", L"Last User ID");
    ASSERT_EQ(identity.size(), 38u) << "a GUID in braces";
    for (const std::wstring& iam : {L"Identities\\" + identity + L"\\Software\\Microsoft\\Internet Account Manager",
                                    std::wstring(L"SOFTWARE\\Microsoft\\Internet Account Manager")}) {
        std::wstring account = ReadString(HKEY_CURRENT_USER, iam, L"Default Mail Account");
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, iam + L"\\Accounts\\" + account, L"Account Name"), L"Vexlor Mail");
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, iam + L"\\Accounts\\" + account, L"SMTP Email Address"), L"jamie.rivera@vexlor.example");
    }
    // The Windows Mail account file under "Store Root".
    DWORD type = 0;
    std::wstring storeRoot = ReadString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail", L"Store Root", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    std::wstring file = ReadString(HKEY_CURRENT_USER, L"Software\\Microsoft\\IAM", L"Default Mail Account");
    std::wstring path = Expand(storeRoot) + L"Local Folders\\" + file;
    unique_handle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(h.get(), INVALID_HANDLE_VALUE) << "account file " << WideToUtf8(path.c_str());
    char buffer[4096] = {};
    DWORD read = 0;
    ReadFile(h.get(), buffer, sizeof(buffer) - 1, &read, nullptr);
    std::string xml(buffer, read);
    EXPECT_NE(xml.find("<Account_Name type=\"SZ\">Vexlor Mail</Account_Name>"), std::string::npos);
    EXPECT_NE(xml.find("<SMTP_Display_Name type=\"SZ\">Jamie Rivera</SMTP_Display_Name>"), std::string::npos);
    EXPECT_NE(xml.find("<SMTP_Email_Address type=\"SZ\">jamie.rivera@vexlor.example</SMTP_Email_Address>"), std::string::npos);
    // The two send settings.
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, L"Identities\\" + identity + L"\\Software\\Microsoft\\Outlook Express\\5.0\\Mail",
                        L"Send Mail Immediately"), 1u);
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail\\Mail", L"Send Mail Immediately"), 1u);
    EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", L"GlobalUserOffline"), 0u);
}

// The client started from a folder whose plumesrv.dll records its StartServer call.
class StandinLoader : public testing::Test {
protected:
    void SetUp() override {
        folder = OwnFolder() + L"fakelib\\";
        for (const wchar_t* f : {L"msimn.exe", L"winmail.exe", L"msoe.dll", L"standin-seed.txt"})
            ASSERT_TRUE(CopyFileW((OwnFolder() + f).c_str(), (folder + f).c_str(), FALSE)) << WideToUtf8(f);
    }
    std::wstring folder;
};

TEST_F(StandinLoader, StartServerGetsTheHostWindowBeforeItsChildrenExist) {
    auto client = StandinProcess::Start(g_variant, L"/resetstore /nosave", folder);
    HWND main = client->Call(L"MainWindow").Hwnd();
    EXPECT_TRUE(client->Call(L"LibraryStarted").Bool());
    EXPECT_EQ(GetPropW(main, L"PLUMETest.StartServer"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GetPropW(main, L"PLUMETest.Children"), reinterpret_cast<HANDLE>(1)) << "no child window yet";
    EXPECT_TRUE(client->Close());

    // Started to compose only: the compose window is the host.
    auto compose = StandinProcess::Start(g_variant, L"/resetstore /nosave /mailurl:mailto:anna.berg@northwind.example?subject=Hello%20Anna", folder);
    EXPECT_EQ(compose->Call(L"MainWindow").Long(), 0);
    std::vector<Var> notes = compose->Call(L"MessageWindows").Array();
    ASSERT_EQ(notes.size(), 1u);
    HWND note = notes[0].Hwnd();
    EXPECT_EQ(ClassOf(note), L"ATH_Note");
    EXPECT_EQ(GetPropW(note, L"PLUMETest.StartServer"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(GetPropW(note, L"PLUMETest.Children"), reinterpret_cast<HANDLE>(1));
    EXPECT_EQ(compose->Call(L"GetField", {notes[0], 1001}).Str(), L"anna.berg@northwind.example");
    EXPECT_EQ(TextOf(note), L"Hello Anna");
    // Closing the only window ends the client.
    PostMessageW(note, WM_CLOSE, 0, 0);
    EXPECT_TRUE(compose->WaitForExit(5000));

    // Without the library the client runs alone.
    auto alone = StandinProcess::Start(g_variant, L"/resetstore /nosave /nolibrary", folder);
    EXPECT_FALSE(alone->Call(L"LibraryStarted").Bool());
    EXPECT_EQ(GetPropW(alone->Call(L"MainWindow").Hwnd(), L"PLUMETest.StartServer"), nullptr);
}

// The counting object, called by position as the library calls it.
TEST(PlumeInitObject, CountsReportsAndNotifiesTheCallbackWindow) {
    // Put back when the test ends, however it ends: a count left behind
    // keeps every later client waiting for plug-ins.
    plume::test::ScopedRegistryValue awaitedCount(HKEY_CURRENT_USER, L"Software\\Vexlor\\PLUME\\InitObject",
                                                  L"AwaitedPlugins");
    ASSERT_TRUE(awaitedCount.SetDword(2));
    // The window the reports go to.
    static int reports = 0;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == 0x3632) ++reports;
        return DefWindowProcW(h, m, w, l);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PLUME Callback Window sink";
    RegisterClassExW(&wc);
    unique_hwnd sink(CreateWindowExW(0, wc.lpszClassName, L"PLUME", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr));
    ASSERT_TRUE(sink);

    com_ptr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_ALL, IID_IPLUMEInitObject, object.put_void()), S_OK);
    using Count = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG*);
    using Plain = HRESULT(STDMETHODCALLTYPE*)(IUnknown*);
    void** vtbl = *reinterpret_cast<void***>(object.get());
    auto awaited = reinterpret_cast<Count>(vtbl[7]);
    auto reported = reinterpret_cast<Count>(vtbl[8]);
    auto start = reinterpret_cast<Plain>(vtbl[9]);
    LONG n = -1;
    ASSERT_EQ(start(object.get()), S_OK);
    ASSERT_EQ(awaited(object.get(), &n), S_OK);
    EXPECT_EQ(n, 2);
    ASSERT_EQ(reported(object.get(), &n), S_OK);
    EXPECT_EQ(n, 0);

    // A plug-in reports through its own reference.
    com_ptr<IPLUMEInitObject> plugin;
    ASSERT_EQ(CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEInitObject, plugin.put_void()), S_OK);
    ASSERT_EQ(plugin->ReportInitialized(), S_OK);
    EXPECT_TRUE(StandinProcess::WaitFor([] { return reports == 1; }));
    ASSERT_EQ(reported(object.get(), &n), S_OK);
    EXPECT_EQ(n, 1) << "one count shared by every client";
    EXPECT_EQ(plugin->SetAwaitedCount(-1), E_INVALIDARG);

    // Handed to another apartment, as the library hands it to its server thread.
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IPLUMEInitObject, object.get(), &stream), S_OK);
    struct Result {
        IStream* stream;
        HRESULT start, awaited, reported;
        LONG count;
    } result{stream, E_FAIL, E_FAIL, E_FAIL, -1};
    unique_handle thread(CreateThread(nullptr, 0, [](void* p) -> DWORD {
        auto* r = static_cast<Result*>(p);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IUnknown* o = nullptr;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(r->stream, IID_IPLUMEInitObject, reinterpret_cast<void**>(&o)))) {
            void** v = *reinterpret_cast<void***>(o);
            r->start = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IUnknown*)>(v[9])(o);
            r->awaited = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG*)>(v[7])(o, &r->count);
            LONG reported = -1;
            r->reported = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IUnknown*, LONG*)>(v[8])(o, &reported);
            o->Release();
        }
        CoUninitialize();
        return 0;
    }, &result, 0, nullptr));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return WaitForSingleObject(thread.get(), 0) == WAIT_OBJECT_0; }, 10000));
    EXPECT_EQ(result.start, S_OK);
    EXPECT_EQ(result.awaited, S_OK);
    EXPECT_EQ(result.count, 2);
    EXPECT_EQ(result.reported, S_OK);
}

}  // namespace
}  // namespace plume::test
