// Shared by the reliability groups: one client with the library, started
// once per executable, and the measurements every group takes of it (is it
// alive, what the library holds, the process's private bytes).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <plume.h>

#include <memory>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "e2e_common.h"
#include "registry_scope.h"
#include "standin_process.h"
#include "unique_any.h"

namespace plume::test {

// The seed of a run's generated data: PLUME_RELIABILITY_SEED when set, else
// one of the clock's. Groups print it with every failure.
unsigned Seed();

// The client of this executable, started with the library on first use and
// closed when the executable ends.
class SharedClient : public testing::Environment {
public:
    static StandinProcess& Get() {
        if (!Instance().client_) Instance().Start();
        return *Instance().client_;
    }

    void TearDown() override { Stop(); }

private:
    static SharedClient& Instance() {
        static SharedClient* instance = [] {
            auto* env = new SharedClient;
            testing::AddGlobalTestEnvironment(env);  // gtest owns it
            return env;
        }();
        return *instance;
    }
    void Start() {
        init_.reset(CreateEventA(nullptr, TRUE, FALSE, "PLUME_INIT_EVENT"));
        shutdown_.reset(CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT"));
        client_ = StandinProcess::Start(g_variant, L"/resetstore /nosave");
        if (!client_->Call(L"LibraryStarted").Bool()) throw std::runtime_error("the library did not start");
        StandinProcess::WaitFor([&] { return WaitForSingleObject(init_.get(), 0) == WAIT_OBJECT_0; }, 10000);
    }
    void Stop() {
        if (!client_) return;
        EXPECT_TRUE(client_->Close()) << "the client had to be ended by force";
        client_.reset();
    }

    std::unique_ptr<StandinProcess> client_;
    unique_handle init_, shutdown_;
};

// A root object of the shared client's library.
inline com_ptr<IPLUMEObj> NewRoot() {
    SharedClient::Get();
    com_ptr<IPLUMEObj> root;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void()));
    return root;
}

// What the library holds (the stand-in's "LibraryCounts"), in the order of
// its export: objects, toolbars, buttons, image lists, bitmaps, menus, menu
// items, message windows.
inline std::vector<long> LibraryCounts(StandinProcess& client) { return client.Call(L"LibraryCounts").Longs(); }
inline const char* const kLibraryCountNames[] = {"objects", "toolbars", "buttons",    "image lists",
                                                 "bitmaps", "menus",    "menu items", "message windows"};

inline std::string DescribeCounts(const std::vector<long>& counts) {
    std::string out;
    for (size_t i = 0; i < counts.size(); ++i)
        out += std::string(i ? ", " : "") + (i < 8 ? kLibraryCountNames[i] : "?") + " " + std::to_string(counts[i]);
    return out;
}

// Waits (pumping) until the library's counts are `expected` again; false
// when they stay different.
inline bool CountsReturnTo(StandinProcess& client, const std::vector<long>& expected, DWORD ms = 5000) {
    return StandinProcess::WaitFor([&] { return LibraryCounts(client) == expected; }, ms);
}

// Private bytes (the commit charge) of the client's process. Wine 8
// answers PrivateUsage with 0 for another process; PagefileUsage, which is
// the same number on Windows, it fills.
inline SIZE_T PrivateBytes(StandinProcess& client) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(client.process(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// The client's process still runs and its control channel answers.
inline bool ClientAlive(StandinProcess& client) {
    if (WaitForSingleObject(client.process(), 0) != WAIT_TIMEOUT) return false;
    Var result;
    CallError error;
    return client.TryCall(L"ProcessId", {}, &result, &error);
}

// The library answers: a root's GetID succeeds.
inline bool RootAnswers(IPLUMEObj* root) {
    LONG id = -2;
    return root && root->GetID(&id) == S_OK && id >= 0;
}

// A compose window opened through `root` (its handle in `note`), and its
// object once the library has seen it.
inline com_ptr<IOEMsgWnd> ComposeWindow(StandinProcess& client, IPLUMEObj* root, HWND* note = nullptr) {
    const size_t before = client.Call(L"MessageWindows").Array().size();
    EXPECT_EQ(S_OK, root->ComposeMessage());
    EXPECT_TRUE(StandinProcess::WaitFor([&] { return client.Call(L"MessageWindows").Array().size() > before; }));
    const HWND window = client.Call(L"MessageWindows").Array().back().Hwnd();
    if (note) *note = window;
    com_ptr<IOEMsgWnd> w;
    EXPECT_TRUE(StandinProcess::WaitFor([&] { return SUCCEEDED(root->GetMsgWnd(H(window), w.put())) && w; }));
    return w;
}

// A program of the test's folder, by its full path.
inline std::wstring InBin(const wchar_t* name) { return OwnFolder() + name; }

// A scratch file for a client's output, deleted when closed: Wine's report
// of a crash a test provokes would read as a failure of the test (a NUL
// handle does not reach the output Wine writes it to). Inheritable.
inline unique_handle ScratchOutput() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    wchar_t folder[MAX_PATH], path[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"plm", 0, path);
    return unique_handle(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

// A string value written (with the keys above it); false when it cannot be.
inline bool SetString(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    unique_hkey key;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The n-th string of a string or multi-string value (a plug-in's text, then
// its outcome or crash state); empty when there is none.
inline std::wstring StringOf(HKEY root, const wchar_t* path, const std::wstring& name, size_t n = 0) {
    unique_hkey key;
    wchar_t data[2048] = {};
    DWORD size = sizeof data - 2 * sizeof(wchar_t);
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS)
        return {};
    const wchar_t* at = data;
    for (size_t i = 0; i < n && (*at || i == 0); ++i) at += wcslen(at) + 1;
    return at;
}

// Our keys of the plug-in lists and of what became of their entries.
inline const wchar_t* const kPluginsKey = L"SOFTWARE\\Vexlor\\PLUME\\Plugins";
inline const wchar_t* const kIsolatedPluginsKey = L"SOFTWARE\\Vexlor\\PLUME\\IsolatedPlugins";
inline const wchar_t* const kStartMarksKey = L"Software\\Vexlor\\PLUME\\PluginStartMarks";
inline const wchar_t* const kOutcomesKey = L"Software\\Vexlor\\PLUME\\PluginOutcomes";
inline const wchar_t* const kCrashesKey = L"Software\\Vexlor\\PLUME\\PluginCrashes";

// What the library writes of its plug-ins (start marks, outcomes, crash
// records), put back as it was when the scope goes.
struct PluginStateScope {
    ScopedRegistryKeyValues marks{HKEY_CURRENT_USER, kStartMarksKey};
    ScopedRegistryKeyValues outcomes{HKEY_CURRENT_USER, kOutcomesKey};
    ScopedRegistryKeyValues crashes{HKEY_CURRENT_USER, kCrashesKey};
};

}  // namespace plume::test
