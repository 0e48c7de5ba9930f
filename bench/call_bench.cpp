// The price of a call into the library from another process, and of one
// event fanned out to many sinks, against a bare local server in the same
// prefix whose methods do nothing and whose interfaces are marshalled
// through the same type library (bench_bare_server.exe). Rounds of the
// library and of the baseline alternate; each figure is the median of the
// rounds' mean per call.
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_client.h"
#include "bench_report.h"
#include "bench_sink.h"
#include "bitmap_file.h"
#include "bstr.h"
#include "com_ptr.h"
#include "standin_process.h"

using plume::com_ptr;
using plume::bench::BareServer;
using plume::bench::CountingSink;
using plume::bench::IdOf;
using plume::bench::InvokeLate;
using plume::bench::PumpUntil;
using plume::bench::Median;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kRounds = 11;
constexpr int kCallsPerRound = 60;
constexpr int kClicks = 15;
constexpr int kLatencyClicks = 1000;

// Microseconds per call of `call`, median over rounds that alternate with `baseline`.
std::pair<double, double> Alternate(const std::function<void()>& call, const std::function<void()>& baseline,
                                    int perRound = kCallsPerRound) {
    std::vector<double> measured, base;
    for (int r = 0; r < kRounds; ++r) {
        for (auto [fn, out] : {std::pair{&call, &measured}, std::pair{&baseline, &base}}) {
            const double start = NowMicroseconds();
            for (int i = 0; i < perRound; ++i) (*fn)();
            out->push_back((NowMicroseconds() - start) / perRound);
        }
    }
    return {Median(measured), Median(base)};
}

void MeasureCalls(plume::bench::Report& report, StandinProcess& client, BareServer& bare) {
    com_ptr<IPLUMEObj> root, bareRoot = bare.Create<IPLUMEObj>(IID_IPLUMEObj);
    CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
    if (!root || !bareRoot) {
        report.Note("the root object or the baseline could not be created");
        return;
    }
    LONG id = 0;
    // The client settles after its start (first ticks, selection, store);
    // both proxies make their first calls before anything is timed.
    StandinProcess::PumpFor(1000);
    for (int i = 0; i < kCallsPerRound; ++i) {
        root->GetID(&id);
        bareRoot->GetID(&id);
    }
    auto [vt, vtBase] = Alternate([&] { root->GetID(&id); }, [&] { bareRoot->GetID(&id); });
    report.Row("GetID, vtable", vt / 1000, vtBase / 1000, "ms", 1.10);
    const DISPID getId = IdOf(root.get(), L"GetID");
    auto [late, lateBase] = Alternate([&] { InvokeLate(root.get(), getId); }, [&] { InvokeLate(bareRoot.get(), 1); });
    report.Row("GetID, late-bound (baseline: an Invoke that does nothing)", late / 1000, lateBase / 1000, "ms", 1.10);

    // A message window: reading and changing its subject reaches the client's window.
    HWND note = client.Call(L"NewMessage").Hwnd();
    com_ptr<IOEMsgWnd> msgWnd, bareMsgWnd = bare.Create<IOEMsgWnd>(IID_IOEMsgWnd);
    root->GetMsgWnd(static_cast<LONG>(reinterpret_cast<INT_PTR>(note)), msgWnd.put());
    if (!msgWnd || !bareMsgWnd) {
        report.Note("no message window object");
        return;
    }
    auto [get, getBase] = Alternate(
        [&] { plume::bstr s; msgWnd->GetSubject(s.put()); }, [&] { plume::bstr s; bareMsgWnd->GetSubject(s.put()); });
    report.Row("GetSubject of a message window", get / 1000, getBase / 1000, "ms");
    plume::bstr subject(L"Benchmark subject");
    auto [set, setBase] = Alternate([&] { msgWnd->SetSubject(subject.get()); },
                                    [&] { bareMsgWnd->SetSubject(subject.get()); });
    report.Row("SetSubject of a message window", set / 1000, setBase / 1000, "ms");
    client.Call(L"CloseNote", {static_cast<long>(reinterpret_cast<INT_PTR>(note))});
}

void MeasureFanOut(plume::bench::Report& report, StandinProcess& client, BareServer& bare) {
    com_ptr<IPLUMEObj> root;
    CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
    com_ptr<IDispatch> bareRoot = bare.Create<IDispatch>(IID_IDispatch);
    com_ptr<IOEToolbar> toolbar;
    if (!root || !bareRoot || FAILED(root->CreateToolbar(toolbar.put())) || !toolbar) {
        report.Note("no toolbar for the fan-out");
        return;
    }
    const std::wstring bitmap = plume::test::WriteBitmapFile(L"plume_bench.bmp", 16, 16, RGB(0, 128, 0));
    plume::bstr name(L"Bench"), image(bitmap.c_str());
    com_ptr<IOEButton> button;
    LONG command = 0;
    if (FAILED(toolbar->CreateButton(name.get(), image.get(), image.get(), button.put())) || !button ||
        FAILED(button->GetID(&command))) {
        report.Note("no button for the fan-out");
        return;
    }
    const long main = static_cast<long>(reinterpret_cast<INT_PTR>(client.Call(L"MainWindow").Hwnd()));
    com_ptr<IConnectionPoint> cp;
    button.query<IConnectionPointContainer>(IID_IConnectionPointContainer)->FindConnectionPoint(DIID_IOEButtonEvents,
                                                                                                   cp.put());
    volatile LONG heard = 0;
    std::vector<DWORD> cookies;
    for (int sinks : {1, 10, 100}) {
        while (static_cast<int>(cookies.size()) < sinks) {
            auto sink = com_ptr<CountingSink>::attach(new CountingSink(&heard, DIID_IOEButtonEvents));
            DWORD cookie = 0;
            cp->Advise(sink.get(), &cookie);
            cookies.push_back(cookie);
            plume::bench::GiveToBare(bareRoot.get(), sink.get());
        }
        // The click is asked for with one cross-process call, as the baseline's fire is.
        const DISPID click = IdOf(client.control(), L"ClickButton");
        std::vector<double> measured, base;
        const int clicks = sinks == 1 ? kLatencyClicks : kClicks;
        for (int i = 0; i < clicks; ++i) {
            heard = 0;
            VARIANT args[2];
            V_VT(&args[0]) = VT_I4;
            V_I4(&args[0]) = command;  // arguments go in reverse order
            V_VT(&args[1]) = VT_I4;
            V_I4(&args[1]) = main;
            DISPPARAMS params = {args, nullptr, 2, 0};
            double start = NowMicroseconds();
            client.control()->Invoke(click, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
            bool ok = PumpUntil([&] { return heard >= sinks; });
            measured.push_back(NowMicroseconds() - start);
            heard = 0;
            start = NowMicroseconds();
            InvokeLate(bareRoot.get(), plume::bench::kBareFire);
            ok = PumpUntil([&] { return heard >= sinks; }) && ok;
            base.push_back(NowMicroseconds() - start);
            if (!ok) {
                report.Note("a click was not heard by every sink");
                break;
            }
        }
        if (sinks == 1) {
            report.Row("click to event, 99th percentile of " + std::to_string(clicks) + " clicks",
                       plume::bench::Percentile(measured, 99) / 1000, plume::bench::Percentile(base, 99) / 1000, "ms");
        }
        report.Row("one click to " + std::to_string(sinks) + " sink(s) in one client process", Median(measured) / 1000,
                   Median(base) / 1000, "ms", 1.20);
    }
    for (DWORD cookie : cookies) cp->Unadvise(cookie);
    InvokeLate(bareRoot.get(), plume::bench::kBareDropSinks);
    toolbar->Destroy();
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    {
        plume::bench::Report report("call_bench: calls and events across processes (Outlook Express variant)", argc,
                                    argv);
        BareServer bare;
        if (!bare.up()) {
            report.Note("the baseline server did not start");
            return 1;
        }
        auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
        MeasureCalls(report, *client, bare);
        MeasureFanOut(report, *client, bare);
        client->Close();
    }
    CoUninitialize();
    return 0;
}
