// Shared by the end-to-end suites of the stand-in client.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "standin_process.h"

namespace plume::test {

extern ClientVariant g_variant;
// Stand-in switches every client of the run starts with (--switches=...),
// for the runs that play a client ordering things its other way.
inline std::wstring& ClientSwitches() {
    static std::wstring switches;
    return switches;
}
inline bool IsWm() { return g_variant == ClientVariant::WindowsMail; }

// Folder numbers of the local store.
inline long InboxId() { return 2; }
inline long SentItemsId() { return 3; }
inline long OutboxId() { return IsWm() ? 4 : 5; }
inline long DeletedItemsId() { return IsWm() ? 5 : 4; }
inline long HoldingId() { return IsWm() ? 6 : 7; }

// A window handle as the control channel and the library's ids take it.
inline long H(HWND window) { return static_cast<long>(reinterpret_cast<INT_PTR>(window)); }

inline std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

inline std::wstring TextOf(HWND hwnd) {
    wchar_t text[512] = {};
    GetWindowTextW(hwnd, text, 512);
    return text;
}

// The client's own key of the user's hive (its settings, its store root).
inline std::wstring ClientKey() {
    if (IsWm()) return L"Software\\Microsoft\\Windows Mail";
    wchar_t identity[64] = {};
    DWORD size = sizeof identity;
    RegGetValueW(HKEY_CURRENT_USER, L"Identities", L"Last User ID", RRF_RT_REG_SZ, nullptr, identity, &size);
    return L"Identities\\" + std::wstring(identity) + L"\\Software\\Microsoft\\Outlook Express\\5.0";
}

// The client's saved store file, put back as it was when the scope ends.
class ScopedStoreFile {
public:
    ScopedStoreFile() {
        const std::wstring key = ClientKey();
        wchar_t root[1024] = {}, expanded[2048] = {};
        DWORD size = sizeof root;
        RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"Store Root", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, root, &size);
        ExpandEnvironmentStringsW(root, expanded, 2048);
        path_ = expanded;
        if (!path_.empty() && path_.back() != L'\\') path_ += L'\\';
        path_ += L"standin-store.txt";
        existed_ = CopyFileW(path_.c_str(), (path_ + L".test-backup").c_str(), FALSE) != FALSE;
    }
    ~ScopedStoreFile() {
        if (existed_) MoveFileExW((path_ + L".test-backup").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING);
        else DeleteFileW(path_.c_str());
    }
    ScopedStoreFile(const ScopedStoreFile&) = delete;
    ScopedStoreFile& operator=(const ScopedStoreFile&) = delete;

private:
    std::wstring path_;
    bool existed_ = false;
};

// Closes a test's own client, expecting it to end by itself within `ms`.
inline void CloseClient(std::unique_ptr<StandinProcess>& client, DWORD ms = 30000) {
    if (client) {
        EXPECT_TRUE(client->Close(ms)) << "the client had to be ended by force";
    }
    client.reset();
}

// A client of the variant under test, started fresh for each test.
class StandinTest : public testing::Test {
protected:
    void SetUp() override { StartClient(); }
    void TearDown() override { CloseClient(client, 10000); }
    // The stand-in alone: the library is not loaded (its own suites load it).
    void StartClient(const std::wstring& arguments = L"/resetstore /nosave /nolibrary") {
        client = StandinProcess::Start(g_variant, arguments + L" " + ClientSwitches());
        main = client->Call(L"MainWindow").Hwnd();
    }
    Var Call(const wchar_t* m, const std::vector<Var>& a = {}) { return client->Call(m, a); }
    // The message windows that are open, oldest first.
    std::vector<HWND> Notes() {
        std::vector<HWND> out;
        for (const Var& v : Call(L"MessageWindows").Array()) out.push_back(v.Hwnd());
        return out;
    }
    // Waits until the client has dealt with what was posted to it.
    void Settle() { Call(L"Pump", {50}); }

    std::unique_ptr<StandinProcess> client;
    HWND main = nullptr;
};

}  // namespace plume::test
