// The benchmarks' in-process plug-in. Listed by path, the library loads it
// and calls InitializePlugin on its server thread; as soon as the library
// says it has started ("PLUME_INIT_EVENT") the plug-in reports to the
// plug-in counter, so a start with many of them listed waits for nothing
// but their loading.
//
// With PLUME_BENCH_PLUGIN_SINKS set in the client's environment (counts
// such as "1,10,100"), it also adds one toolbar with a button "Sinks<n>" per
// count (picture: the bitmap file PLUME_BENCH_PLUGIN_IMAGE names), each with
// n sinks on the server thread; every sink's call adds one
// to the LONG in the shared memory "PLUME_BENCH_PLUGIN_HEARD". Everything is
// let go at "PLUME_SHUTDOWN_EVENT".
//
// Built twice: bench_report_plugin.dll (BENCH_REPORT_ONLY) only reports, with
// nothing of the C++ library in it, so a start with 100 of them measures
// the library's loading and not the size of the plug-in.
#include <windows.h>
#include <objbase.h>
#include <plume.h>
#include <plumeinit.h>

#include "com_ptr.h"
#include "unique_any.h"
#ifndef BENCH_REPORT_ONLY
#include <string>
#include <vector>

#include "bench_sink.h"
#include "bstr.h"
#endif

namespace {

using plume::com_ptr;

constexpr UINT_PTR kTimer = 1;
HMODULE g_module = nullptr;
HWND g_window = nullptr;

bool IsSet(const char* name) {
    plume::unique_handle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    return event && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

#ifndef BENCH_REPORT_ONLY
class Sinks {
public:
    Sinks(const std::wstring& counts, const wchar_t* image) : image_(image) {
        if (!heard_.get() ||
            FAILED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root_.put_void())) ||
            FAILED(root_->CreateToolbar(toolbar_.put())) || !toolbar_)
            return;
        for (size_t at = 0; at < counts.size();) {
            const size_t end = counts.find(L',', at);
            const int n = _wtoi(counts.substr(at, end - at).c_str());
            at = end == std::wstring::npos ? counts.size() : end + 1;
            plume::bstr name((L"Sinks" + std::to_wstring(n)).c_str()), image(image_);
            com_ptr<IOEButton> button;
            if (n <= 0 || FAILED(toolbar_->CreateButton(name.get(), image.get(), image.get(), button.put())) || !button)
                continue;
            com_ptr<IConnectionPoint> point = plume::bench::PointOf(button.get(), DIID_IOEButtonEvents);
            for (int i = 0; point && i < n; ++i) {
                auto sink = com_ptr<plume::bench::CountingSink>::attach(
                    new plume::bench::CountingSink(heard_.get(), DIID_IOEButtonEvents));
                DWORD cookie = 0;
                if (SUCCEEDED(point->Advise(sink.get(), &cookie))) advised_.push_back({point, cookie});
            }
            buttons_.push_back(button);
        }
    }
    ~Sinks() {
        for (auto& [point, cookie] : advised_) point->Unadvise(cookie);
        advised_.clear();
        buttons_.clear();
        if (toolbar_) toolbar_->Destroy();
        toolbar_.reset();
        root_.reset();
    }
    Sinks(const Sinks&) = delete;
    Sinks& operator=(const Sinks&) = delete;

private:
    const wchar_t* image_;
    plume::bench::SharedCounter heard_{"PLUME_BENCH_PLUGIN_HEARD"};
    com_ptr<IPLUMEObj> root_;
    com_ptr<IOEToolbar> toolbar_;
    std::vector<com_ptr<IOEButton>> buttons_;
    std::vector<std::pair<com_ptr<IConnectionPoint>, DWORD>> advised_;
};

Sinks* g_sinks = nullptr;
#endif
bool g_started = false;

void Start() {
    com_ptr<IPLUMEInitObject> counter;
    if (SUCCEEDED(CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEInitObject,
                                   counter.put_void())))
        counter->ReportInitialized();
#ifndef BENCH_REPORT_ONLY
    wchar_t counts[256] = L"", image[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_IMAGE", image, MAX_PATH);
    if (GetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_SINKS", counts, 256) && counts[0])
        g_sinks = new Sinks(counts, image);
#endif
}

LRESULT CALLBACK TimerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_TIMER || wp != kTimer) return DefWindowProcW(hwnd, msg, wp, lp);
    if (!g_started && IsSet("PLUME_INIT_EVENT")) {
        g_started = true;
        Start();
        // From now on only the shutdown is watched for.
        SetTimer(hwnd, kTimer, 50, nullptr);
    } else if (g_started && IsSet("PLUME_SHUTDOWN_EVENT")) {
#ifndef BENCH_REPORT_ONLY
        delete g_sinks;
        g_sinks = nullptr;
#endif
        KillTimer(hwnd, kTimer);
        DestroyWindow(hwnd);
        g_window = nullptr;
    }
    return 0;
}

}  // namespace

extern "C" __declspec(dllexport) void InitializePlugin() {
    if (g_window) return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = TimerProc;
    wc.hInstance = g_module;
    wc.lpszClassName = L"PLUMEBenchPlugin";
    RegisterClassW(&wc);
    g_window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
    // The library starts right after loading its plug-ins: look often.
    if (g_window) SetTimer(g_window, kTimer, 1, nullptr);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    // Unloaded by the server thread, which owns the window.
    if (reason == DLL_PROCESS_DETACH && g_window) DestroyWindow(g_window);
    return TRUE;
}
