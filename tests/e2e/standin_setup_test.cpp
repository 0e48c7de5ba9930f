// The client's loader, and the PLUMEInitObject server.
#include "bstr.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "plumeinit.h"
#include "registry_scope.h"
#include "unique_any.h"

namespace plume::test {
namespace {

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
