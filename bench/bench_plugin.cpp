// The benchmarks' in-process plug-in. Listed by path, the library loads it
// and calls InitializePlugin on its server thread; as soon as the library
// says it has started ("PLUME_INIT_EVENT") the plug-in reports to the
// plug-in counter, so a start with many of them listed waits for nothing
// but their loading.
//
// With PLUME_BENCH_PLUGIN_SINKS set in the client's environment (counts
// such as "1,10,100"), it also adds one toolbar with a button "Sinks<n>" per
// count (picture: the bitmap file PLUME_BENCH_PLUGIN_IMAGE names), each with
// n sinks on the server thread ("IsoSinks<n>", on its host's thread, when it
// runs isolated); every sink's call adds one
// to the LONG in the shared memory "PLUME_BENCH_PLUGIN_HEARD". Everything is
// let go at "PLUME_SHUTDOWN_EVENT".
//
// With PLUME_BENCH_PLUGIN_CYCLES set, it runs memory_bench's create-and-remove
// cycles on request (bench_cycles.h), in slices of kSliceMs so that the
// server thread goes on serving the client between them.
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

#include "bench_clock.h"
#include "bench_cycles.h"
#include "bench_sink.h"
#include "bstr.h"
#endif

namespace {

using plume::com_ptr;

constexpr UINT_PTR kTimer = 1;
constexpr UINT kContinueCycles = WM_APP + 1;
HMODULE g_module = nullptr;
HWND g_window = nullptr;

bool IsSet(const char* name) {
    plume::unique_handle event(OpenEventA(SYNCHRONIZE, FALSE, name));
    return event && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0;
}

#ifndef BENCH_REPORT_ONLY
// True when run isolated, in plumehost.exe: its buttons are then "IsoSinks<n>".
bool InHost() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = wcsrchr(path, L'\\');
    return _wcsicmp(name ? name + 1 : path, L"plumehost.exe") == 0;
}

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
            plume::bstr name(((InHost() ? L"IsoSinks" : L"Sinks") + std::to_wstring(n)).c_str()), image(image_);
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

class Cycler {
public:
    Cycler(HWND window, const wchar_t* image) : window_(window), image_(image) {
        CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root_.put_void());
    }
    Cycler(const Cycler&) = delete;
    Cycler& operator=(const Cycler&) = delete;

    // Starts a run when the benchmark asks for one.
    void Poll() {
        if (running_ || !block_.get() || !root_ || !IsSet(plume::bench::kCycleRunEvent)) return;
        running_ = true;
        next_ = failures_ = listened_ = 0;
        busyMs_ = 0;
        started_ = plume::bench::NowMicroseconds();
        Slice();
    }
    // Runs cycles for up to kSliceMs, then lets the server thread's queue run.
    void Slice() {
        if (!running_) return;
        plume::bench::CycleBlock& block = *block_.get();
        const double start = plume::bench::NowMicroseconds();
        while (next_ < block.requested && plume::bench::NowMicroseconds() - start < kSliceMs * 1000.0) Cycle(next_++);
        const double end = plume::bench::NowMicroseconds();
        busyMs_ += (end - start) / 1000.0;
        // The continuation is posted, so timers wait: the shutdown is looked for here.
        if (next_ < block.requested && !IsSet("PLUME_SHUTDOWN_EVENT")) {
            PostMessageW(window_, kContinueCycles, 0, 0);
            return;
        }
        running_ = false;
        block.ran = next_;
        block.failures = failures_;
        block.msgWndsListened = listened_;
        block.milliseconds = (end - started_) / 1000.0;
        block.busyMilliseconds = busyMs_;
        plume::unique_handle done(OpenEventA(EVENT_MODIFY_STATE, FALSE, plume::bench::kCycleDoneEvent));
        if (done) SetEvent(done.get());
    }

private:
    static constexpr double kSliceMs = 15;
    static constexpr long kMainTools = 3;

    HRESULT Check(HRESULT hr) {
        if (FAILED(hr)) ++failures_;
        return hr;
    }
    static bool Every(LONG n, LONG every) { return every > 0 && n % every == 0; }
    // A toolbar (every buttonEvery-th with a button) and a menu item, each
    // listened to, then removed. The toolbar is one for the message windows (its records and
    // objects), every windowedEvery-th one of the main window (with its
    // window, band, image lists and bitmaps). Every windowEvery-th cycle
    // also listens to the object of each open message window.
    void Cycle(LONG n) {
        const plume::bench::CycleBlock& block = *block_.get();
        plume::bstr name(L"Cycle"), text(L"Cycle item"), image(image_);
        com_ptr<IOEToolbar> toolbar;
        com_ptr<IOEButton> button;
        com_ptr<IOEMenu> menu;
        com_ptr<IOEMenuItem> item;
        const HRESULT made = Every(n, block.windowedEvery)
                                 ? root_->CreateToolbar(toolbar.put())
                                 : root_->CreateToolbarInMsgWnd(OE_ALL_MSG_WND, toolbar.put());
        if (SUCCEEDED(Check(made)) && Every(n, block.buttonEvery))
            Check(toolbar->CreateButton(name.get(), image.get(), image.get(), button.put()));
        if (SUCCEEDED(Check(root_->GetMenu(kMainTools, menu.put()))))
            Check(menu->CreateItem(text.get(), reinterpret_cast<OEMenuItem**>(item.put())));
        {
            plume::bench::Listening onToolbar(toolbar.get(), DIID_IOEToolbarEvents),
                onButton(button.get(), DIID_IOEButtonEvents), onItem(item.get(), DIID_IOEMenuItemEvents);
            if (!onToolbar.listening() || (button && !onButton.listening()) || !onItem.listening()) ++failures_;
            if (Every(n, block.windowEvery)) ListenToMessageWindows();
        }
        if (item) Check(item->Destroy());
        if (button) Check(button->Destroy());
        if (toolbar) Check(toolbar->Destroy());
    }
    void ListenToMessageWindows() {
        LONG id = -1;
        for (Check(root_->GetFirstMsgWndID(&id)); id != -1 && id != 0; Check(root_->GetNextMsgWndID(&id))) {
            com_ptr<IOEMsgWnd> window;
            if (FAILED(root_->GetMsgWnd(id, window.put())) || !window) continue;  // closed meanwhile
            plume::bench::Listening onWindow(window.get(), DIID_IOEMsgWndEvents);
            if (onWindow.listening()) ++listened_;
        }
    }

    HWND window_;
    std::wstring image_;
    com_ptr<IPLUMEObj> root_;
    plume::bench::SharedBlock<plume::bench::CycleBlock> block_{plume::bench::kCycleBlockName};
    bool running_ = false;
    LONG next_ = 0, failures_ = 0, listened_ = 0;
    double started_ = 0, busyMs_ = 0;
};

Cycler* g_cycler = nullptr;

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
    if (GetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_CYCLES", counts, 256)) g_cycler = new Cycler(g_window, image);
#endif
}

LRESULT CALLBACK TimerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
#ifndef BENCH_REPORT_ONLY
    if (msg == kContinueCycles) {
        if (g_cycler) g_cycler->Slice();
        return 0;
    }
#endif
    if (msg != WM_TIMER || wp != kTimer) return DefWindowProcW(hwnd, msg, wp, lp);
    if (!g_started && IsSet("PLUME_INIT_EVENT")) {
        g_started = true;
        Start();
        // From now on only the shutdown (and requests for cycles) are watched for.
        SetTimer(hwnd, kTimer, 50, nullptr);
    } else if (g_started && IsSet("PLUME_SHUTDOWN_EVENT")) {
#ifndef BENCH_REPORT_ONLY
        delete g_sinks;
        g_sinks = nullptr;
        delete g_cycler;
        g_cycler = nullptr;
#endif
        KillTimer(hwnd, kTimer);
        DestroyWindow(hwnd);
        g_window = nullptr;
    }
#ifndef BENCH_REPORT_ONLY
    else if (g_cycler) {
        g_cycler->Poll();
    }
#endif
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
