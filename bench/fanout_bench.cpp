// One button click fanned out to sinks held by 10 separate client
// processes, against the bare server calling Invoke on the same sinks; and
// sinks of an in-process plug-in (bench_plugin.dll, on the library's server
// thread in the mail client) against the same number of sinks in one
// out-of-process client, and the same plug-in run isolated (in plumehost.exe)
// against it in the client. Clicks of the kinds alternate; each figure is
// the median time from asking for the click to the last sink's call.
//
// The sink-holding processes are copies of this program:
//   fanout_bench.exe --holder BUTTON SINKS HEARD_MAPPING READY_SEMAPHORE QUIT_EVENT
// BUTTON is the button's interface marshalled for that process, in hex.
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_client.h"
#include "bench_plugin_listing.h"
#include "bench_report.h"
#include "bench_sink.h"
#include "bitmap_file.h"
#include "bstr.h"
#include "com_ptr.h"
#include "standin_process.h"
#include "unique_any.h"

using plume::com_ptr;
using plume::bench::CountingSink;
using plume::bench::SharedCounter;
using plume::bench::Median;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kProcesses = 10;
constexpr int kClicks = 15;
constexpr DWORD kHeardWaitMs = 10000;

// `object` marshalled for one unmarshalling in another process, as hex text.
std::string Marshal(IUnknown* object, const IID& iid) {
    com_ptr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) ||
        FAILED(CoMarshalInterface(stream.get(), iid, object, MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL)))
        return {};
    HGLOBAL memory = nullptr;
    GetHGlobalFromStream(stream.get(), &memory);
    ULARGE_INTEGER size = {};
    const LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_CUR, &size);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
    std::string hex;
    for (ULONGLONG i = 0; bytes && i < size.QuadPart; ++i) {
        char two[3];
        snprintf(two, sizeof two, "%02x", bytes[i]);
        hex += two;
    }
    GlobalUnlock(memory);
    return hex;
}

template <typename T>
bool Unmarshal(const char* hex, com_ptr<T>& out) {
    com_ptr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return false;
    for (const char* p = hex; p[0] && p[1]; p += 2) {
        const char two[3] = {p[0], p[1], 0};
        const unsigned char byte = static_cast<unsigned char>(strtoul(two, nullptr, 16));
        stream->Write(&byte, 1, nullptr);
    }
    const LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return SUCCEEDED(CoUnmarshalInterface(stream.get(), IID_IOEButton, out.put_void())) && out;
}

// ------------------------------------------------------------ holder process

int RunHolder(char** argv) {
    const int sinks = atoi(argv[3]);
    CoInitialize(nullptr);
    {
        SharedCounter heard(argv[4]);
        plume::unique_handle ready(OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, argv[5]));
        plume::unique_handle quit(OpenEventA(SYNCHRONIZE, FALSE, argv[6]));
        com_ptr<IOEButton> button;
        com_ptr<IDispatch> bare;
        CoCreateInstance(plume::bench::CLSID_BenchBare, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, bare.put_void());
        auto fail = [](const char* what) {
            fprintf(stderr, "sink holder %lu: %s\n", GetCurrentProcessId(), what);
            return 1;
        };
        if (!heard.get() || !ready || !quit) return fail("no shared counter or events");
        if (!bare) return fail("no baseline server");
        if (!Unmarshal(argv[2], button)) return fail("the button could not be unmarshalled");
        com_ptr<IConnectionPoint> point = plume::bench::PointOf(button.get(), DIID_IOEButtonEvents);
        if (!point) return fail("no connection point");
        std::vector<DWORD> cookies;
        for (int i = 0; i < sinks; ++i) {
            auto sink = com_ptr<CountingSink>::attach(new CountingSink(heard.get(), DIID_IOEButtonEvents));
            DWORD cookie = 0;
            if (FAILED(point->Advise(sink.get(), &cookie))) return 1;
            cookies.push_back(cookie);
            plume::bench::GiveToBare(bare.get(), sink.get());
        }
        ReleaseSemaphore(ready.get(), 1, nullptr);
        HANDLE q = quit.get();
        plume::bench::PumpUntil([q] { return WaitForSingleObject(q, 0) == WAIT_OBJECT_0; }, 600000);
        for (DWORD cookie : cookies) point->Unadvise(cookie);
    }
    CoUninitialize();
    return 0;
}

// ------------------------------------------------------------ the benchmark

// Asks the client to click command `command` of its main window, one cross-process call.
class Clicker {
public:
    explicit Clicker(StandinProcess& client)
        : client_(client),
          main_(static_cast<long>(reinterpret_cast<INT_PTR>(client.Call(L"MainWindow").Hwnd()))),
          id_(plume::bench::IdOf(client.control(), L"ClickButton")) {}
    void Click(long command) {
        VARIANT args[2];
        V_VT(&args[0]) = VT_I4;
        V_I4(&args[0]) = command;
        V_VT(&args[1]) = VT_I4;
        V_I4(&args[1]) = main_;
        plume::bench::InvokeLate(client_.control(), id_, args, 2);
    }
    long main() const { return main_; }

private:
    StandinProcess& client_;
    long main_;
    DISPID id_;
};

// Microseconds from `start()` until `heard()` reaches `expected`; -1 when it does not.
template <typename Start, typename Heard>
double TimeToHeard(Start start, Heard heard, LONG expected) {
    const double t0 = NowMicroseconds();
    start();
    if (!plume::bench::PumpUntil([&] { return heard() >= expected; }, kHeardWaitMs)) return -1;
    return NowMicroseconds() - t0;
}

// The command of the main-window button labelled `text`; 0 when there is none.
long CommandOf(StandinProcess& client, long main, const std::wstring& text) {
    for (long toolbar : client.Call(L"Toolbars", {main}).Longs())
        for (const auto& button : client.Call(L"ToolbarButtons", {toolbar}).Array()) {
            auto fields = button.Array();
            if (fields.size() > 1 && fields[1].Str() == text) return fields[0].Long();
        }
    return 0;
}

void MeasureProcesses(plume::bench::Report& report, StandinProcess& client, IPLUMEObj* root, IDispatch* bare,
                      const plume::bstr& image) {
    com_ptr<IOEToolbar> toolbar;
    com_ptr<IOEButton> button;
    plume::bstr name(L"Processes");
    LONG buttonId = 0;
    if (FAILED(root->CreateToolbar(toolbar.put())) || !toolbar ||
        FAILED(toolbar->CreateButton(name.get(), image.get(), image.get(), button.put())) || !button ||
        FAILED(button->GetID(&buttonId))) {
        report.Note("no button for the fan-out across processes");
        return;
    }
    Clicker clicker(client);
    const std::string tag = std::to_string(GetCurrentProcessId());
    const std::string heardName = "PLUME_BENCH_HEARD_" + tag, readyName = "PLUME_BENCH_HOLDERS_" + tag,
                      quitName = "PLUME_BENCH_HOLDERS_QUIT_" + tag;
    SharedCounter heard(heardName);
    for (int each : {1, 10}) {
        plume::unique_handle ready(CreateSemaphoreA(nullptr, 0, kProcesses, readyName.c_str()));
        plume::unique_handle quit(CreateEventA(nullptr, TRUE, FALSE, quitName.c_str()));
        std::vector<plume::unique_handle> holders;
        const std::wstring exe = plume::test::OwnFolder() + L"fanout_bench.exe";
        const std::string args =
            " " + std::to_string(each) + " " + heardName + " " + readyName + " " + quitName;
        for (int p = 0; p < kProcesses; ++p) {
            const std::string line = " --holder " + Marshal(button.get(), IID_IOEButton) + args;
            std::wstring command = L"\"" + exe + L"\"" + std::wstring(line.begin(), line.end());
            STARTUPINFOW si = {sizeof si};
            PROCESS_INFORMATION pi = {};
            if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
                break;
            CloseHandle(pi.hThread);
            holders.emplace_back(pi.hProcess);
        }
        int up = 0;
        HANDLE r = ready.get();
        plume::bench::PumpUntil([&] {
            while (WaitForSingleObject(r, 0) == WAIT_OBJECT_0) ++up;
            int gone = 0;
            for (auto& h : holders) gone += WaitForSingleObject(h.get(), 0) == WAIT_OBJECT_0;
            return up == kProcesses || up + gone == static_cast<int>(holders.size());
        }, 30000);
        const LONG total = kProcesses * each;
        if (up == kProcesses) {
            std::vector<double> measured, base;
            for (int i = 0; i < kClicks; ++i) {
                heard.Reset();
                const double m = TimeToHeard([&] { clicker.Click(buttonId); }, [&] { return heard.value(); }, total);
                heard.Reset();
                const double b = TimeToHeard([&] { plume::bench::InvokeLate(bare, plume::bench::kBareFire); },
                                             [&] { return heard.value(); }, total);
                if (m < 0 || b < 0) {
                    report.Note("a click was not heard by every sink of the " + std::to_string(kProcesses) +
                                " processes");
                    break;
                }
                measured.push_back(m);
                base.push_back(b);
            }
            if (!measured.empty())
                report.Row("one click to " + std::to_string(total) + " sinks in " + std::to_string(kProcesses) +
                               " client processes",
                           Median(measured) / 1000, Median(base) / 1000, "ms", 1.20);
        } else {
            report.Note(std::to_string(up) + " of " + std::to_string(kProcesses) + " sink-holding processes came up");
        }
        plume::bench::InvokeLate(bare, plume::bench::kBareDropSinks);
        SetEvent(quit.get());
        for (auto& h : holders)
            if (WaitForSingleObject(h.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(h.get(), 1);
    }
    toolbar->Destroy();
}

void MeasurePlugin(plume::bench::Report& report, StandinProcess& client, IPLUMEObj* root,
                   const plume::bstr& image) {
    SharedCounter pluginHeard("PLUME_BENCH_PLUGIN_HEARD");
    Clicker clicker(client);
    com_ptr<IOEToolbar> toolbar;
    if (FAILED(root->CreateToolbar(toolbar.put())) || !toolbar) {
        report.Note("no toolbar for the out-of-process sinks");
        return;
    }
    volatile LONG heard = 0;
    std::vector<std::pair<com_ptr<IConnectionPoint>, DWORD>> advised;
    double firstIn = 0, firstOut = 0, firstIsolated = 0;
    for (int sinks : {1, 10, 100}) {
        long pluginCommand = 0, isolatedCommand = 0;
        StandinProcess::WaitFor([&] {
            return (pluginCommand = CommandOf(client, clicker.main(), L"Sinks" + std::to_wstring(sinks))) != 0 &&
                   (isolatedCommand = CommandOf(client, clicker.main(), L"IsoSinks" + std::to_wstring(sinks))) != 0;
        }, 20000);
        plume::bstr name((L"Out" + std::to_wstring(sinks)).c_str());
        com_ptr<IOEButton> button;
        LONG ownCommand = 0;
        if (!pluginCommand || !isolatedCommand || FAILED(toolbar->CreateButton(name.get(), image.get(), image.get(), button.put())) ||
            !button || FAILED(button->GetID(&ownCommand))) {
            report.Note("the plug-in's button or our own is missing (" + std::to_string(sinks) + " sinks)");
            break;
        }
        com_ptr<IConnectionPoint> point = plume::bench::PointOf(button.get(), DIID_IOEButtonEvents);
        for (int i = 0; point && i < sinks; ++i) {
            auto sink = com_ptr<CountingSink>::attach(new CountingSink(&heard, DIID_IOEButtonEvents));
            DWORD cookie = 0;
            if (SUCCEEDED(point->Advise(sink.get(), &cookie))) advised.push_back({point, cookie});
        }
        std::vector<double> in, out, isolated;
        for (int i = 0; i < kClicks; ++i) {
            pluginHeard.Reset();
            const double a = TimeToHeard([&] { clicker.Click(pluginCommand); }, [&] { return pluginHeard.value(); },
                                         sinks);
            heard = 0;
            const double b = TimeToHeard([&] { clicker.Click(ownCommand); }, [&] { return LONG(heard); }, sinks);
            pluginHeard.Reset();
            const double c = TimeToHeard([&] { clicker.Click(isolatedCommand); },
                                         [&] { return pluginHeard.value(); }, sinks);
            if (a < 0 || b < 0 || c < 0) {
                report.Note("a click was not heard by every sink (" + std::to_string(sinks) + " sinks)");
                break;
            }
            in.push_back(a);
            out.push_back(b);
            isolated.push_back(c);
        }
        if (in.empty()) break;
        const double mi = Median(in), mo = Median(out), mc = Median(isolated);
        report.Row("click to " + std::to_string(sinks) + " plug-in sink(s) in the client (baseline: out of process)",
                   mi / 1000, mo / 1000, "ms");
        report.Row("click to " + std::to_string(sinks) + " plug-in sink(s), isolated (baseline: in the client)",
                   mc / 1000, mi / 1000, "ms");
        if (sinks == 1) {
            firstIn = mi;
            firstOut = mo;
            firstIsolated = mc;
        } else if (sinks == 100) {
            report.Row("each further sink: in the client (baseline: out of process)", (mi - firstIn) / 99 / 1000,
                       (mo - firstOut) / 99 / 1000, "ms");
            report.Row("each further sink: isolated (baseline: in the client)", (mc - firstIsolated) / 99 / 1000,
                       (mi - firstIn) / 99 / 1000, "ms");
        }
        button.reset();
    }
    for (auto& [point, cookie] : advised) point->Unadvise(cookie);
    toolbar->Destroy();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 6 && std::string(argv[1]) == "--holder") return RunHolder(argv);
    CoInitialize(nullptr);
    {
        plume::bench::Report report("fanout_bench: events across processes and in-process plug-ins (Outlook Express variant)",
                                    argc, argv);
        plume::bench::BareServer bare;
        if (!bare.up()) {
            report.Note("the baseline server did not start");
            return 1;
        }
        // The plug-in, listed in the client and isolated and awaited, with one
        // button of 1, 10 and 100 sinks each.
        plume::bench::ListedBenchPlugin listed(L"PLUMEBenchFanOut", true);
        const std::wstring bitmap = plume::test::WriteBitmapFile(L"plume_fanout_bench.bmp", 16, 16, RGB(0, 96, 160));
        plume::bstr image(bitmap.c_str());
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_SINKS", L"1,10,100");
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_IMAGE", bitmap.c_str());
        SharedCounter pluginHeard("PLUME_BENCH_PLUGIN_HEARD");  // exists before the plug-in looks for it
        auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_SINKS", nullptr);
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_IMAGE", nullptr);
        com_ptr<IPLUMEObj> root;
        com_ptr<IDispatch> bareRoot = bare.Create<IDispatch>(IID_IDispatch);
        CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
        if (!root || !bareRoot) {
            report.Note("the root object or the baseline could not be created");
            return 1;
        }
        MeasureProcesses(report, *client, root.get(), bareRoot.get(), image);
        MeasurePlugin(report, *client, root.get(), image);
        root.reset();
        client->Close();
        DeleteFileW(bitmap.c_str());
    }
    CoUninitialize();
    return 0;
}
