// The client's executable: a thin launcher. It loads the engine (msoe.dll),
// lets it create the host window, loads the automation library
// (plumesrv.dll) from its own folder and calls its StartServer with that
// window, then runs the client. Without the library, or without its
// StartServer export, the client runs alone. With /install it installs the
// client instead (msoe.dll's MsoeInstall) and ends.
#include <windows.h>

#include <string>

#include "msoe.h"
#include "proc_address.h"
#include "unique_any.h"

namespace {

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

bool HasSwitch(const wchar_t* commandLine, const wchar_t* name) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    bool found = false;
    for (int i = 1; argv && i < argc; ++i) found = found || _wcsicmp(argv[i], name) == 0;
    LocalFree(argv);
    return found;
}

using StartServerFn = void(WINAPI*)(HWND);

double Milliseconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    const std::wstring folder = OwnFolder();
    const wchar_t* commandLine = GetCommandLineW();
    // The engine stays loaded for the life of the process.
    HMODULE engine = LoadLibraryW((folder + L"msoe.dll").c_str());
    if (!engine) return 100;
    auto startup = plume::GetProcAs<MsoeStartupFn>(engine, "MsoeStartup");
    auto setStarted = plume::GetProcAs<MsoeSetLibraryStartedFn>(engine, "MsoeSetLibraryStarted");
    auto run = plume::GetProcAs<MsoeRunFn>(engine, "MsoeRun");
    auto install = plume::GetProcAs<MsoeInstallFn>(engine, "MsoeInstall");
    if (!startup || !setStarted || !run || !install) return 101;
    // `/install [/resetstore]`: the client's installer, not the client.
    if (HasSwitch(commandLine, L"/install")) return install(folder.c_str(), HasSwitch(commandLine, L"/resetstore"));

    HWND host = nullptr;
    const double begin = Milliseconds();
    if (int rc = startup(commandLine, show, &host)) return 110 + rc;
    const double clientUp = Milliseconds();

    if (!HasSwitch(commandLine, L"/nolibrary")) {
        plume::unique_hmodule library(LoadLibraryW((folder + L"plumesrv.dll").c_str()));
        if (library) {
            if (auto start = plume::GetProcAs<StartServerFn>(library.get(), "StartServer")) {
                start(host);
                setStarted(TRUE);
                library.release();  // the server runs inside the client until it ends
            }
        }
    }
    // For the start-up benchmark: the client's own start and the library's
    // load with StartServer, in milliseconds.
    const std::wstring times = std::to_wstring(clientUp - begin) + L" " + std::to_wstring(Milliseconds() - clientUp);
    SetEnvironmentVariableW(L"PLUME_STANDIN_START_TIMES", times.c_str());
    return run();
}
