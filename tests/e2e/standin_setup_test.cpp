// The client's loader.
#include "bstr.h"
#include "e2e_common.h"

namespace plume::test {
namespace {

// The client started from a folder whose plumesrv.dll records its StartServer
// call: a folder per variant, since the other variant's run may be using its
// own copy meanwhile.
class StandinLoader : public testing::Test {
protected:
    void SetUp() override {
        folder = OwnFolder() + (IsWm() ? L"fakelib-wm\\" : L"fakelib-oe\\");
        CreateDirectoryW(folder.c_str(), nullptr);
        for (const wchar_t* f : {L"msimn.exe", L"winmail.exe", L"msoe.dll", L"standin-seed.txt", L"fakelib\\plumesrv.dll"}) {
            const std::wstring from = OwnFolder() + f, name = from.substr(from.find_last_of(L'\\') + 1);
            ASSERT_TRUE(CopyFileW(from.c_str(), (folder + name).c_str(), FALSE)) << WideToUtf8(f);
        }
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

}  // namespace
}  // namespace plume::test
