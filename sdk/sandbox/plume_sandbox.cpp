// plume-sandbox: the stand-in mail client with the library and the plug-ins
// under test, in the current prefix (a new one will do).
//
//   plume-sandbox --variant oe|wm [--plugin NAME=DLL-PATH-OR-PROGID]... [--switch SWITCH]...
//
// Installs what the client needs beside this program (the stand-in client,
// its classes and settings, the plug-in counter, plumesrv.dll and
// plumescript.dll), lists the plug-ins for the current user, starts the
// client from the seed store (/resetstore /nosave plus the switches given),
// prints one line "ready" once the library serves its objects and the
// client's control channel answers, and runs until the client ends (Ctrl+C
// closes its windows). Then the plug-in entries it listed are put back as
// they were. Exit code: the client's; 1 when it could not be made ready,
// 2 on a usage error. Everything else it says goes to stderr.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bstr.h"
#include "msoe.h"
#include "plugin_outcomes.h"
#include "plume_sandbox.h"
#include "proc_address.h"
#include "unique_any.h"

namespace {

constexpr DWORD kReadyTimeoutMs = 90000;

struct Options {
    std::wstring variant;
    std::vector<std::pair<std::wstring, std::wstring>> plugins;
    std::vector<std::wstring> switches;
};

int Usage() {
    fprintf(stderr,
            "usage: plume-sandbox --variant oe|wm [--plugin NAME=DLL-PATH-OR-PROGID]... [--switch SWITCH]...\n");
    return 2;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

bool Parse(int argc, wchar_t** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (i + 1 >= argc) return false;
        const std::wstring value = argv[++i];
        if (a == L"--variant" && (value == L"oe" || value == L"wm")) o.variant = value;
        else if (a == L"--switch") o.switches.push_back(value);
        else if (a == L"--plugin" && value.find(L'=') != std::wstring::npos && value.find(L'=') > 0)
            o.plugins.emplace_back(value.substr(0, value.find(L'=')), value.substr(value.find(L'=') + 1));
        else return false;
    }
    return !o.variant.empty();
}

// One plug-in entry of the user's list, put back as it was when this goes.
class ListedPlugin {
public:
    ListedPlugin(const std::wstring& name, const std::wstring& value) : name_(name) {
        plume::unique_hkey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, plume::AnsiToWide(plume::kPluginsKey).c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            previous_.resize(size);
            had_ = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type_, previous_.data(), &size) == ERROR_SUCCESS;
        }
        listed_ = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        // A plug-in under test starts afresh: a crash mark of an earlier build goes.
        plume::ForgetPluginEntry(plume::PluginEntryName(false, plume::WideToAnsi(name.c_str())));
    }
    ~ListedPlugin() {
        if (!listed_) return;
        {
            plume::unique_hkey key;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, plume::AnsiToWide(plume::kPluginsKey).c_str(), 0, KEY_SET_VALUE,
                              key.put()) != ERROR_SUCCESS)
                return;
            if (had_)
                RegSetValueExW(key.get(), name_.c_str(), 0, type_, previous_.data(), static_cast<DWORD>(previous_.size()));
            else
                RegDeleteValueW(key.get(), name_.c_str());
        }
        // What this run recorded of it goes with it, and the keys it made.
        plume::ForgetPluginEntry(plume::PluginEntryName(false, plume::WideToAnsi(name_.c_str())));
        plume::RemoveEmptyUserKeys(plume::kPluginsKey);
    }
    ListedPlugin(const ListedPlugin&) = delete;
    ListedPlugin& operator=(const ListedPlugin&) = delete;
    bool listed() const { return listed_; }

private:
    std::wstring name_;
    std::vector<BYTE> previous_;
    DWORD type_ = REG_SZ;
    bool had_ = false, listed_ = false;
};

// Calls an export of a library beside this program; its HRESULT or int, or
// a failure when it is missing.
template <typename F, typename... Args>
bool CallExport(const std::wstring& library, const char* name, Args... args) {
    plume::unique_hmodule module(LoadLibraryW(library.c_str()));
    auto f = plume::GetProcAs<F>(module.get(), name);
    if (!f) {
        fprintf(stderr, "plume-sandbox: %ls or its %s cannot be loaded\n", library.c_str(), name);
        return false;
    }
    const auto result = f(args...);
    if (result != 0) fprintf(stderr, "plume-sandbox: %s of %ls failed (%ld)\n", name, library.c_str(), static_cast<long>(result));
    return result == 0;
}

DWORD g_clientPid = 0;

// Ctrl+C or a closing console: the client's windows are closed, as the user
// would, and the sandbox waits for it to end.
BOOL WINAPI OnConsoleEvent(DWORD) {
    EnumWindows(
        [](HWND w, LPARAM) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == g_clientPid && IsWindowVisible(w)) PostMessageW(w, WM_CLOSE, 0, 0);
            return TRUE;
        },
        0);
    return TRUE;
}

// Waits for the client's control channel; whether the library started in it.
bool AwaitReady(HANDLE client, DWORD pid) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kReadyTimeoutMs) {
        if (WaitForSingleObject(client, 0) == WAIT_OBJECT_0) {
            fprintf(stderr, "plume-sandbox: the client ended while starting\n");
            return false;
        }
        if (IDispatch* control = plume_sandbox::ControlOf(pid)) {
            plume_sandbox::Var started;
            const bool ok = plume_sandbox::TryInvoke(control, L"LibraryStarted", {}, &started, nullptr) && started.Bool();
            control->Release();
            if (!ok) fprintf(stderr, "plume-sandbox: the client runs without the library (plumesrv.dll did not start)\n");
            return ok;
        }
        plume_sandbox::PumpFor(50);
    }
    fprintf(stderr, "plume-sandbox: the client did not come up within %lu s\n",
            static_cast<unsigned long>(kReadyTimeoutMs / 1000));
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (!Parse(argc, argv, o)) return Usage();
    const std::wstring folder = OwnFolder();
    for (const auto& [name, value] : o.plugins) {
        if (plume::NamesLibrary(plume::WideToAnsi(value.c_str())) &&
            GetFileAttributesW(value.c_str()) == INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "plume-sandbox: plug-in %ls: %ls does not exist\n", name.c_str(), value.c_str());
            return 2;
        }
    }
    if (FAILED(CoInitialize(nullptr))) return 1;
    // The client first: the library registers its classes with the client's
    // executable as their server.
    if (!CallExport<MsoeInstallFn>(folder + L"msoe.dll", "MsoeInstall", folder.c_str(), FALSE) ||
        !CallExport<HRESULT(STDAPICALLTYPE*)()>(folder + L"plumesrv.dll", "DllRegisterServer") ||
        !CallExport<HRESULT(STDAPICALLTYPE*)()>(folder + L"plumescript.dll", "DllRegisterServer"))
        return 1;

    std::vector<std::unique_ptr<ListedPlugin>> listed;
    for (const auto& [name, value] : o.plugins) {
        wchar_t full[MAX_PATH] = {};
        const bool file = GetFileAttributesW(value.c_str()) != INVALID_FILE_ATTRIBUTES &&
                          GetFullPathNameW(value.c_str(), MAX_PATH, full, nullptr);
        listed.push_back(std::make_unique<ListedPlugin>(name, file ? full : value));
        if (!listed.back()->listed()) {
            fprintf(stderr, "plume-sandbox: cannot list plug-in %ls\n", name.c_str());
            return 1;
        }
    }

    const std::wstring exe = folder + (o.variant == L"wm" ? L"winmail.exe" : L"msimn.exe");
    std::wstring commandLine = L"\"" + exe + L"\" /resetstore /nosave";
    for (const auto& s : o.switches) commandLine += L" " + s;
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        fprintf(stderr, "plume-sandbox: cannot start %ls: %s\n", exe.c_str(),
                plume::SystemErrorText(GetLastError()).c_str());
        return 1;
    }
    plume::unique_handle client(pi.hProcess), thread(pi.hThread);
    g_clientPid = pi.dwProcessId;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (!AwaitReady(client.get(), pi.dwProcessId)) {
        OnConsoleEvent(0);
        if (WaitForSingleObject(client.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(client.get(), 1);
        CoUninitialize();
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    // The client runs as long as the user (or a test) keeps it open.
    WaitForSingleObject(client.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(client.get(), &code);
    CoUninitialize();
    return static_cast<int>(code);
}
