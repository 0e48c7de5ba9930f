#include "server/isolated_host.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bstr.h"
#include "log.h"
#include "manager/plume_manager.h"
#include "plugin_outcomes.h"
#include "server/module.h"
#include "server/sink_delivery.h"
#include "sync.h"
#include "unique_any.h"

namespace plume {
namespace {

// To the server thread's notice window: host wParam has ended; lParam is
// the start it ended from. A window, not a thread message: the server
// thread's waits that serve calls dispatch (and so would drop) those.
constexpr UINT kHostEnded = WM_APP + 0x3B;
constexpr char kNoticeClass[] = "PLUME Isolated Host Notices";

struct Host {
    size_t index = 0;  // in g_hosts
    std::string entry;
    std::string text;
    bool afterCrash = false;
    unique_handle process;
    DWORD pid = 0;
    unique_wait ended;  // the wait that tells the server thread
    LPARAM start = 0;   // how many times it has been started
    std::vector<DWORD> deaths;
};

critical_section g_lock;  // the hung-host observer runs where delivery found it
std::vector<std::unique_ptr<Host>> g_hosts;
unique_hwnd g_notices;  // the server thread's
bool g_closing = false;

// Quotes one argument for CommandLineToArgvW.
std::wstring Quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
}

std::wstring HostPath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L"\\/") + 1) + L"plumehost.exe";
}

// A thread of the pool: the host's process has ended.
void CALLBACK HostEnded(void* context, BOOLEAN) {
    const auto* host = static_cast<const Host*>(context);
    PostMessageA(g_notices.get(), kHostEnded, host->index, host->start);
}

// Starts the host of `host`; false (logged, and left in its outcome) when it
// cannot be started. Caller holds g_lock.
bool Launch(Host& host) {
    std::wstring command = Quoted(HostPath()) + L" " + std::to_wstring(GetCurrentProcessId()) + L" " +
                           std::to_wstring(host.start + 1) + L" " + Quoted(AnsiToWide(host.entry.c_str())) + L" " +
                           Quoted(AnsiToWide(host.text.c_str()));
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        const DWORD error = GetLastError();
        Log(0, "IsolatedHost: cannot start the host of %s: error %lu.\n", host.entry.c_str(),
            static_cast<unsigned long>(error));
        WritePluginOutcome(host.entry, host.text, "isolated, but its host (plumehost.exe beside the library) did not "
                                                  "start: " + SystemErrorText(error));
        return false;
    }
    CloseHandle(pi.hThread);
    host.process.reset(pi.hProcess);
    host.pid = pi.dwProcessId;
    ++host.start;
    HANDLE wait = nullptr;
    if (RegisterWaitForSingleObject(&wait, pi.hProcess, HostEnded, &host, INFINITE, WT_EXECUTEONLYONCE))
        host.ended.reset(wait);
    Log(2, "IsolatedHost: %s runs in process %lu (start %ld).\n", host.entry.c_str(),
        static_cast<unsigned long>(host.pid), static_cast<long>(host.start));
    return true;
}

// A host that did not answer a sink's call within the bound is ended; its
// end restarts it like a crash.
void EndHungHost(ULONGLONG apartment) {
    const auto pid = static_cast<DWORD>(apartment >> 32);
    cs_lock hold(g_lock);
    for (const auto& host : g_hosts) {
        if (!host->process || host->pid != pid) continue;
        Log(0, "IsolatedHost: the host of %s did not answer within %lu ms; it is ended.\n", host->entry.c_str(),
            static_cast<unsigned long>(kSinkAnswerMs));
        TerminateProcess(host->process.get(), kHungHostExitCode);
    }
}

std::string HowItEnded(DWORD code) {
    char text[96];
    if (code == kHungHostExitCode)
        snprintf(text, sizeof text, "it hung (no answer within %lu ms) and was ended",
                 static_cast<unsigned long>(kSinkAnswerMs));
    else
        snprintf(text, sizeof text, "it ended with code 0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Server thread: host `index` has ended (its start `start`): its objects are
// disconnected, and it is started again unless it died too often or the
// client closes.
void OnHostEnded(WPARAM index, LPARAM start) {
    std::string entry;
    DWORD pid = 0, code = 0;
    {
        cs_lock hold(g_lock);
        if (index >= g_hosts.size()) return;
        Host& host = *g_hosts[index];
        if (start != host.start || !host.process) return;  // an earlier start's notice
        GetExitCodeProcess(host.process.get(), &code);
        host.ended.reset();
        host.process.reset();
        pid = host.pid;
        entry = host.entry;
    }
    Log(0, "IsolatedHost: the host of %s (process %lu) has ended: %s.\n", entry.c_str(), static_cast<unsigned long>(pid),
        HowItEnded(code).c_str());
    // The dead process's references are never released by COM here.
    PLUMEManager* manager = PLUMEManager::Get(false);
    if (manager) {
        const size_t n = manager->DisconnectObjectsOfProcess(pid);
        Log(0, "IsolatedHost: %u object(s) that the host of %s held are disconnected.\n", static_cast<unsigned>(n),
            entry.c_str());
    }
    cs_lock hold(g_lock);
    Host& host = *g_hosts[index];
    if (code == kHostNotLoadedExitCode) {
        // It never ran: the host has said why in its outcome.
        Log(0, "IsolatedHost: the host of %s could not load it; not started again.\n", entry.c_str());
        return;
    }
    if (g_closing || !manager || manager->ShuttingDown()) return;
    const DWORD now = GetTickCount();
    host.deaths.erase(std::remove_if(host.deaths.begin(), host.deaths.end(),
                                     [&](DWORD at) { return now - at > kHostDeathWindowMs; }),
                      host.deaths.end());
    host.deaths.push_back(now);
    if (host.deaths.size() < static_cast<size_t>(kHostDeathLimit)) {
        Launch(host);
        return;
    }
    Log(0, "IsolatedHost: %s died %d times within %lu minutes; it is not started again in this run.\n",
        entry.c_str(), kHostDeathLimit, static_cast<unsigned long>(kHostDeathWindowMs / 60000));
    char text[240];
    snprintf(text, sizeof text,
             "isolated: its host died %d times within %lu minutes (last: %s); not started again until the client "
             "restarts",
             kHostDeathLimit, static_cast<unsigned long>(kHostDeathWindowMs / 60000), HowItEnded(code).c_str());
    std::string outcome = text;
    if (host.afterCrash) {
        // It ended the client before, and now its host too often.
        WritePluginCrash(host.entry, host.text, CrashState::skipped);
        outcome += "; it is skipped at the next start, until its entry changes";
    }
    WritePluginOutcome(host.entry, host.text, outcome);
}

LRESULT CALLBACK NoticeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kHostEnded) return DefWindowProcA(hwnd, message, wParam, lParam);
    OnHostEnded(wParam, lParam);
    return 0;
}


}  // namespace

void QueueIsolatedPlugin(const std::string& entry, const std::string& text, bool afterCrash) {
    cs_lock hold(g_lock);
    auto host = std::make_unique<Host>();
    host->entry = entry;
    host->text = text;
    host->afterCrash = afterCrash;
    host->index = g_hosts.size();
    g_hosts.push_back(std::move(host));
}

void StartIsolatedHosts() {
    cs_lock hold(g_lock);
    g_closing = false;
    if (g_hosts.empty()) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = NoticeProc;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = kNoticeClass;
    RegisterClassExA(&wc);
    g_notices.reset(CreateWindowExA(0, kNoticeClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ModuleInstance(),
                                    nullptr));
    SetHungApartmentObserver(EndHungHost);
    for (const auto& host : g_hosts) Launch(*host);
}

void StopIsolatedHosts() {
    std::vector<HANDLE> running;
    {
        cs_lock hold(g_lock);
        g_closing = true;
        for (const auto& host : g_hosts)
            if (host->process) running.push_back(host->process.get());
    }
    SetHungApartmentObserver(nullptr);
    // Hosts end by themselves once they see "PLUME_SHUTDOWN_EVENT".
    if (!running.empty() &&
        WaitForMultipleObjects(static_cast<DWORD>(std::min<size_t>(running.size(), MAXIMUM_WAIT_OBJECTS)),
                               running.data(), TRUE, kHostEndWaitMs) == WAIT_TIMEOUT)
        Log(0, "IsolatedHost: hosts still running %lu ms after the close; they are ended.\n",
            static_cast<unsigned long>(kHostEndWaitMs));
    cs_lock hold(g_lock);
    for (const auto& host : g_hosts) {
        host->ended.reset();
        if (host->process && WaitForSingleObject(host->process.get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(host->process.get(), 0);
    }
    g_hosts.clear();
    g_notices.reset();
}

std::vector<std::string> IsolatedEntries() {
    cs_lock hold(g_lock);
    std::vector<std::string> entries;
    for (const auto& host : g_hosts) entries.push_back(host->entry);
    return entries;
}

}  // namespace plume
