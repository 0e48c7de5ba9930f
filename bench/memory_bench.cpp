// Memory over time: cycles of creating and removing a toolbar with a button,
// a menu item and (one cycle in ten) a message window, each with a connected
// sink, against the running client, for kCycleSeconds. Reports what the
// client's committed memory and working set grew by against the same client
// left alone as long just before (what it grows by itself), and the
// library's own counts of what it holds (control call LibraryCounts) before
// and after. A count is trusted only once it was seen to move while
// something was held.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <plume.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_sink.h"
#include "bitmap_file.h"
#include "bstr.h"
#include "com_ptr.h"
#include "standin_process.h"

using plume::com_ptr;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kWarmUp = 20;
constexpr int kMaxCycles = 2000;
// The cycles stop at this many seconds; the idle baseline takes as long again.
constexpr double kCycleSeconds = 20;
// Opening a message window costs the client far more than the rest.
constexpr int kWindowEvery = 10;
constexpr long kMainTools = 3;
// The library's counts (export PlumeLiveCounts), in its order.
const char* const kCountNames[] = {"automation objects", "toolbar records", "button records", "image lists",
                                   "bitmaps", "menus", "menu-item records", "message-window records"};

// Advises a sink for the object's life in the cycle; unadvises at the end.
class Listening {
public:
    Listening(IUnknown* source, const IID& events) : point_(plume::bench::PointOf(source, events)) {
        auto sink = com_ptr<plume::bench::CountingSink>::attach(new plume::bench::CountingSink(nullptr, events));
        if (point_) point_->Advise(sink.get(), &cookie_);
    }
    ~Listening() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
    }
    Listening(const Listening&) = delete;
    Listening& operator=(const Listening&) = delete;

private:
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// The client's committed private memory (PagefileUsage: Wine leaves
// PrivateUsage at 0) and its working set, in megabytes.
struct Memory {
    double committed = 0, workingSet = 0;
};
Memory MemoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return {static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0),
            static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0)};
}

double g_toolbarSeconds = 0, g_windowSeconds = 0;

std::vector<long> Counts(StandinProcess& client) { return client.Call(L"LibraryCounts").Longs(); }

// One toolbar with a button and one menu item, each listened to, all held
// until `hold` returns; then removed.
template <typename Hold>
void ToolbarAndItem(IPLUMEObj* root, const plume::bstr& image, Hold hold) {
    com_ptr<IOEToolbar> toolbar;
    com_ptr<IOEButton> button;
    com_ptr<IOEMenu> menu;
    com_ptr<IOEMenuItem> item;
    plume::bstr name(L"Cycle"), text(L"Cycle item");
    if (SUCCEEDED(root->CreateToolbar(toolbar.put())) && toolbar)
        toolbar->CreateButton(name.get(), image.get(), image.get(), button.put());
    if (SUCCEEDED(root->GetMenu(kMainTools, menu.put())) && menu)
        menu->CreateItem(text.get(), reinterpret_cast<OEMenuItem**>(item.put()));
    {
        Listening onButton(button.get(), DIID_IOEButtonEvents), onItem(item.get(), DIID_IOEMenuItemEvents);
        hold();
    }
    if (item) item->Destroy();
    if (button) button->Destroy();
    if (toolbar) toolbar->Destroy();
}

void Cycle(int n, IPLUMEObj* root, StandinProcess& client, const plume::bstr& image) {
    double t0 = NowMicroseconds();
    ToolbarAndItem(root, image, [] {});
    g_toolbarSeconds += (NowMicroseconds() - t0) / 1e6;
    if (n % kWindowEvery) return;
    t0 = NowMicroseconds();
    HWND note = client.Call(L"NewMessage").Hwnd();
    {
        com_ptr<IOEMsgWnd> window;
        root->GetMsgWnd(static_cast<LONG>(reinterpret_cast<INT_PTR>(note)), window.put());
        if (window) Listening listening(window.get(), DIID_IOEMsgWndEvents);
    }
    client.Call(L"CloseNote", {static_cast<long>(reinterpret_cast<INT_PTR>(note))});
    g_windowSeconds += (NowMicroseconds() - t0) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    {
        plume::bench::Report report("memory_bench: create and remove cycles against the client (Outlook Express variant)",
                                    argc, argv);
        auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
        com_ptr<IPLUMEObj> root;
        CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
        if (!root) {
            report.Note("no root object");
            return 1;
        }
        const std::wstring bitmap = plume::test::WriteBitmapFile(L"plume_memory_bench.bmp", 16, 16, RGB(0, 0, 160));
        plume::bstr image(bitmap.c_str());
        for (int i = 0; i < kWarmUp; ++i) Cycle(i, root.get(), *client, image);
        client->Call(L"Pump", {500});

        // Which counts move while a toolbar, a button, an item and a message window are held.
        const std::vector<long> idle = Counts(*client);
        std::vector<long> holding;
        ToolbarAndItem(root.get(), image, [&] {
            const long note = static_cast<long>(reinterpret_cast<INT_PTR>(client->Call(L"NewMessage").Hwnd()));
            holding = Counts(*client);
            client->Call(L"CloseNote", {note});
        });
        client->Call(L"Pump", {300});
        std::vector<bool> moves(idle.size());
        for (size_t i = 0; i < idle.size() && i < holding.size(); ++i) moves[i] = holding[i] != idle[i];
        if (idle.empty()) report.Note("the library gives no counts (no PlumeLiveCounts export)");

        // The baseline first: the client left alone as long as the cycles will take.
        const Memory idleStart = MemoryOf(client->process());
        StandinProcess::PumpFor(static_cast<DWORD>(kCycleSeconds * 1000));
        const Memory before = MemoryOf(client->process());

        g_toolbarSeconds = g_windowSeconds = 0;
        const std::vector<long> countsBefore = Counts(*client);
        const double start = NowMicroseconds();
        int cycles = 0;
        while (cycles < kMaxCycles && (NowMicroseconds() - start) / 1e6 < kCycleSeconds)
            Cycle(cycles++, root.get(), *client, image);
        const double seconds = (NowMicroseconds() - start) / 1e6;
        client->Call(L"Pump", {1000});
        const Memory after = MemoryOf(client->process());
        const std::vector<long> countsAfter = Counts(*client);

        report.Row("committed MB added by the cycles (baseline: the idle client, as long, before them)",
                   after.committed - before.committed, before.committed - idleStart.committed, "MB");
        report.Row("working set MB added by the cycles (baseline: the idle client, as long, before them)",
                   after.workingSet - before.workingSet, before.workingSet - idleStart.workingSet, "MB");
        for (size_t i = 0; i < countsBefore.size() && i < countsAfter.size() && i < std::size(kCountNames); ++i) {
            if (!moves[i]) continue;  // this cycle does not move it: nothing to trust
            report.Row(std::string(kCountNames[i]) + " held after the cycles (baseline: before)",
                       static_cast<double>(countsAfter[i]), static_cast<double>(countsBefore[i]), "");
        }
        char text[400];
        snprintf(text, sizeof text,
                 "%d cycles (%d message windows) in %.1f s (%.1f s toolbars and items, %.1f s windows); committed "
                 "%.1f MB before, %.1f after; working set %.1f MB before, %.1f after",
                 cycles, (cycles + kWindowEvery - 1) / kWindowEvery, seconds, g_toolbarSeconds, g_windowSeconds,
                 before.committed, after.committed, before.workingSet, after.workingSet);
        report.Note(text);
        std::string moved = "counts seen to move while held (idle -> holding):";
        for (size_t i = 0; i < idle.size() && i < holding.size() && i < 4; ++i)
            moved += std::string(" ") + kCountNames[i] + " " + std::to_string(idle[i]) + "->" +
                     std::to_string(holding[i]) + ";";
        report.Note(moved);
        root.reset();
        client->Close();
        DeleteFileW(bitmap.c_str());
    }
    CoUninitialize();
    return 0;
}
