// plumehost.exe: the process an isolated plug-in runs in. Started by the
// library in the mail client, one per isolated plug-in:
//
//   plumehost.exe CLIENT-PID START ENTRY TEXT
//
// It loads TEXT as the library loads an in-client plug-in (a library whose
// "InitializePlugin" it calls, or a ProgID it creates) on its own
// single-threaded apartment, and serves that apartment's messages: the
// plug-in waits for "PLUME_INIT_EVENT" and reports to the plug-in counter
// as it would in the client, and reaches the library's objects across the
// process boundary. It ends a second after "PLUME_SHUTDOWN_EVENT" is set,
// when the client ends, or on a fault in the plug-in's code (exit code: the
// exception's), which the library sees and answers by starting it again.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "bstr.h"
#include "com_apartment.h"
#include "com_ptr.h"
#include "fault_site.h"
#include "plugin_outcomes.h"
#include "proc_address.h"
#include "server/isolated_host.h"
#include "unique_any.h"

namespace {

// How long the plug-in is given to let go of its objects once the client closes.
constexpr DWORD kShutdownGraceMs = 1000;

HMODULE g_plugin = nullptr;

// A fault in the plug-in's code ends the host at once, before anything can
// swallow it (a call's stub turns faults into failed calls).
LONG CALLBACK EndOnPluginFault(EXCEPTION_POINTERS* fault) {
    if (!g_plugin || !plume::IsFatalFault(fault->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    for (HMODULE module : plume::FaultModules(fault))
        if (module == g_plugin) TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Anything else that nothing handles ends it too, without a crash dialog.
LONG WINAPI EndOnUnhandled(EXCEPTION_POINTERS* fault) {
    TerminateProcess(GetCurrentProcess(), fault->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Starts the plug-in as the library would; false (with the outcome written)
// when it does not load.
bool StartPlugin(const std::string& entry, const std::string& text, long start, plume::com_ptr<IUnknown>* object) {
    const std::string where = "isolated in plumehost.exe (process " + std::to_string(GetCurrentProcessId()) +
                              (start > 1 ? ", started again: " + std::to_string(start - 1) + " death(s) before" : "") +
                              ")";
    const DWORD began = GetTickCount();
    g_plugin = LoadLibraryA(text.c_str());
    if (g_plugin) {
        if (auto init = plume::GetProcAs<void(WINAPI*)()>(g_plugin, "InitializePlugin")) {
            init();
            plume::WritePluginOutcome(entry, text,
                                      "loaded, " + where + "; InitializePlugin ran in " +
                                          std::to_string(GetTickCount() - began) + " ms");
        } else {
            plume::WritePluginOutcome(entry, text, "loaded, " + where + ", but it exports no InitializePlugin");
        }
        return true;
    }
    const DWORD loadError = GetLastError();
    CLSID clsid;
    if (!plume::NamesLibrary(text) && SUCCEEDED(CLSIDFromProgID(plume::AnsiToWide(text.c_str()).c_str(), &clsid)) &&
        SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object->put_void()))) {
        plume::WritePluginOutcome(entry, text, "created as a COM object, " + where);
        return true;
    }
    plume::WritePluginOutcome(entry, text, "not loaded in its host: " + plume::DescribeLoadFailure(text, loadError));
    return false;
}

bool IsSet(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Serves the apartment until the client closes or ends.
void Serve(HANDLE client, HANDLE shutdown) {
    DWORD closingSince = 0;
    for (;;) {
        const HANDLE handles[] = {client};
        const DWORD r = MsgWaitForMultipleObjects(1, handles, FALSE, 100, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (!closingSince && IsSet(shutdown)) closingSince = GetTickCount();
        if (closingSince && GetTickCount() - closingSince >= kShutdownGraceMs) return;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 5) return 2;
    const DWORD clientPid = wcstoul(argv[1], nullptr, 10);
    const long start = wcstol(argv[2], nullptr, 10);
    const std::string entry = plume::WideToAnsi(argv[3]);
    const std::string text = plume::WideToAnsi(argv[4]);
    LocalFree(argv);

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, EndOnPluginFault);
    SetUnhandledExceptionFilter(EndOnUnhandled);

    plume::unique_handle client(OpenProcess(SYNCHRONIZE, FALSE, clientPid));
    if (!client) return 2;
    plume::unique_handle shutdown(CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT"));
    const plume::com_apartment sta;
    if (!sta.ok()) return 2;
    int code = 0;
    {
        plume::com_ptr<IUnknown> object;
        if (StartPlugin(entry, text, start, &object))
            Serve(client.get(), shutdown.get());
        else
            code = static_cast<int>(plume::kHostNotLoadedExitCode);
    }
    // The plug-in's library is not unloaded: its threads may still run.
    return code;
}
