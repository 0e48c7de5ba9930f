// Memory over time: kCycles cycles of creating and removing a toolbar (with
// a button every kButtonEvery-th) and a menu item, each with a connected sink, run inside the client
// by bench_plugin.dll on the library's server thread (from another process
// every object handed out costs ~15 ms of marshalling here). Every
// kWindowedEvery-th toolbar is one of the main window, with its window and
// band; the others are toolbars for the message windows. Meanwhile the
// benchmark opens a message window every second, closing the one before,
// and every kWindowEvery-th cycle listens to each open window's object.
// Reports what the client's committed memory and working set grew by
// against the same client left alone about as long just before, and the
// library's own counts of what it holds (control call LibraryCounts) before
// and after. A count is trusted only once it was seen to move while
// something was held.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <plume.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bench_cycles.h"
#include "bench_plugin_listing.h"
#include "bench_report.h"
#include "bench_sink.h"
#include "bitmap_file.h"
#include "bstr.h"
#include "com_ptr.h"
#include "standin_process.h"
#include "unique_any.h"

using plume::com_ptr;
using plume::bench::CycleBlock;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr LONG kWarmUp = 500;
constexpr LONG kCycles = 10000;
// Button identifiers are command identifiers: 16 bits, never reused, so a
// client process makes at most 5,435 buttons in its life; every second
// cycle makes one.
constexpr LONG kButtonEvery = 2;
// A toolbar of the main window costs the client ~90 ms here (the rebar's
// relayout: every window move asks Wine's display cache several times), so
// one cycle in kWindowedEvery makes one; the others make one for the
// message windows.
constexpr LONG kWindowedEvery = 50;
constexpr LONG kWindowEvery = 10;
constexpr DWORD kRunLimitMs = 120000;
// A message window of the benchmark is replaced by a new one this often.
constexpr DWORD kWindowEveryMs = 1000;
constexpr long kMainTools = 3;
// The library's counts (export PlumeLiveCounts), in its order.
const char* const kCountNames[] = {"automation objects", "toolbar records", "button records", "image lists",
                                   "bitmaps", "menus", "menu-item records", "message-window records"};

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

std::vector<long> Counts(StandinProcess& client) { return client.Call(L"LibraryCounts").Longs(); }

// The plug-in's cycles, requested and awaited while message windows come
// and go.
class Cycles {
public:
    bool ready() const { return block_.get() && run_ && done_; }

    // Runs `count` cycles; false when the plug-in did not finish them in time.
    bool Run(LONG count, StandinProcess& client) {
        CycleBlock& block = *block_.get();
        block.requested = count;
        block.buttonEvery = kButtonEvery;
        block.windowedEvery = kWindowedEvery;
        block.windowEvery = kWindowEvery;
        block.ran = 0;
        SetEvent(run_.get());
        const DWORD start = GetTickCount();
        DWORD opened = 0;
        long note = 0;
        bool finished;
        while (!(finished = WaitForSingleObject(done_.get(), 0) == WAIT_OBJECT_0) &&
               GetTickCount() - start < kRunLimitMs) {
            if (!note || GetTickCount() - opened >= kWindowEveryMs) {
                if (note) client.Call(L"CloseNote", {note});
                note = static_cast<long>(reinterpret_cast<INT_PTR>(client.Call(L"NewMessage").Hwnd()));
                opened = GetTickCount();
                ++windows_;
            }
            StandinProcess::PumpFor(20);
        }
        if (note) client.Call(L"CloseNote", {note});
        return finished && block.ran == count;
    }
    const CycleBlock& last() const { return *block_.get(); }
    int windows() const { return windows_; }

private:
    plume::bench::SharedBlock<CycleBlock> block_{plume::bench::kCycleBlockName};
    plume::unique_handle run_{CreateEventA(nullptr, FALSE, FALSE, plume::bench::kCycleRunEvent)};
    plume::unique_handle done_{CreateEventA(nullptr, FALSE, FALSE, plume::bench::kCycleDoneEvent)};
    int windows_ = 0;
};

// Which of the library's counts move while a toolbar with a button, a menu
// item and a message window are held (made from here, once). Returns once
// the toolbar has its window: the library has found the client's rebar, and
// the cycles that follow make windows too.
std::vector<bool> CountsThatMove(StandinProcess& client, const plume::bstr& image) {
    com_ptr<IPLUMEObj> root;
    CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
    const std::vector<long> idle = Counts(client);
    std::vector<bool> moves(idle.size());
    if (!root) return moves;
    com_ptr<IOEToolbar> toolbar;
    com_ptr<IOEButton> button;
    com_ptr<IOEMenu> menu;
    com_ptr<IOEMenuItem> item;
    plume::bstr name(L"Held"), text(L"Held item");
    if (SUCCEEDED(root->CreateToolbar(toolbar.put())) && toolbar)
        toolbar->CreateButton(name.get(), image.get(), image.get(), button.put());
    if (SUCCEEDED(root->GetMenu(kMainTools, menu.put())) && menu)
        menu->CreateItem(text.get(), reinterpret_cast<OEMenuItem**>(item.put()));
    StandinProcess::WaitFor([&] {
        long handle = 0;
        return !toolbar || (SUCCEEDED(toolbar->GetHandle(&handle)) && handle);
    });
    const long note = static_cast<long>(reinterpret_cast<INT_PTR>(client.Call(L"NewMessage").Hwnd()));
    const std::vector<long> holding = Counts(client);
    client.Call(L"CloseNote", {note});
    if (item) item->Destroy();
    if (button) button->Destroy();
    if (toolbar) toolbar->Destroy();
    for (size_t i = 0; i < idle.size() && i < holding.size(); ++i) moves[i] = holding[i] != idle[i];
    return moves;
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    int rc = 0;
    {
        plume::bench::Report report(
            "memory_bench: create and remove cycles inside the client (Outlook Express variant)", argc, argv);
        const std::wstring bitmap = plume::test::WriteBitmapFile(L"plume_memory_bench.bmp", 16, 16, RGB(0, 0, 160));
        plume::bstr image(bitmap.c_str());
        Cycles cycles;  // the shared block and events exist before the plug-in looks for them
        plume::bench::ListedBenchPlugin listed(L"PLUMEBenchMemory");
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_CYCLES", L"1");
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_IMAGE", bitmap.c_str());
        auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_CYCLES", nullptr);
        SetEnvironmentVariableW(L"PLUME_BENCH_PLUGIN_IMAGE", nullptr);

        const std::vector<bool> moves = CountsThatMove(*client, image);
        if (!cycles.ready() || !cycles.Run(kWarmUp, *client)) {
            report.Note("the plug-in did not run its cycles");
            rc = 1;
        } else {
            const double warmUpMs = cycles.last().milliseconds;

            // The baseline first: the client left alone about as long as the cycles will take.
            const DWORD idleMs = static_cast<DWORD>(std::clamp(warmUpMs * kCycles / kWarmUp, 5000.0, 25000.0));
            const Memory idleStart = MemoryOf(client->process());
            StandinProcess::PumpFor(idleMs);
            const Memory before = MemoryOf(client->process());
            const std::vector<long> countsBefore = Counts(*client);
            const int windowsBefore = cycles.windows();
            // In two halves: a leak grows both alike, the heap settling in only the first.
            bool ran = cycles.Run(kCycles / 2, *client);
            CycleBlock run = cycles.last();
            client->Call(L"Pump", {500});
            const Memory half = MemoryOf(client->process());
            ran = ran && cycles.Run(kCycles - kCycles / 2, *client);
            const CycleBlock& second = cycles.last();
            run.ran += second.ran;
            run.msgWndsListened += second.msgWndsListened;
            run.failures += second.failures;
            run.milliseconds += second.milliseconds;
            run.busyMilliseconds += second.busyMilliseconds;
            client->Call(L"Pump", {1000});
            const Memory after = MemoryOf(client->process());
            const std::vector<long> countsAfter = Counts(*client);
            if (!ran) {
                report.Note("the cycles did not finish in time");
                rc = 1;
            }

            report.Row("committed MB added by " + std::to_string(run.ran) +
                           " cycles (baseline: the idle client, about as long, before them)",
                       after.committed - before.committed, before.committed - idleStart.committed, "MB");
            report.Row("working set MB added by the cycles (baseline: the idle client, about as long, before them)",
                       after.workingSet - before.workingSet, before.workingSet - idleStart.workingSet, "MB");
            report.Row("committed MB added by the second half of the cycles (baseline: by the first half)",
                       after.committed - half.committed, half.committed - before.committed, "MB");
            report.Row("one cycle inside the client (no baseline)", run.ran ? run.milliseconds / run.ran : 0, 0,
                       "ms");
            for (size_t i = 0; i < countsBefore.size() && i < countsAfter.size() && i < std::size(kCountNames); ++i) {
                if (i >= moves.size() || !moves[i]) continue;  // this cycle does not move it: nothing to trust
                report.Row(std::string(kCountNames[i]) + " held after the cycles (baseline: before)",
                           static_cast<double>(countsAfter[i]), static_cast<double>(countsBefore[i]), "");
            }
            char text[500];
            snprintf(text, sizeof text,
                     "%ld cycles in %.1f s (the server thread busy with them %.1f s), %d message windows opened "
                     "meanwhile, %ld message-window objects listened to, %ld failed calls; idle baseline %.1f s; "
                     "committed %.1f MB before, %.1f after; working set %.1f MB before, %.1f after",
                     static_cast<long>(run.ran), run.milliseconds / 1000, run.busyMilliseconds / 1000,
                     cycles.windows() - windowsBefore, static_cast<long>(run.msgWndsListened),
                     static_cast<long>(run.failures), idleMs / 1000.0, before.committed, after.committed,
                     before.workingSet, after.workingSet);
            report.Note(text);
            std::string moved = "counts seen to move while held:";
            for (size_t i = 0; i < moves.size() && i < std::size(kCountNames); ++i)
                if (moves[i]) moved += std::string(" ") + kCountNames[i] + ";";
            report.Note(moved);
        }
        client->Close();
        DeleteFileW(bitmap.c_str());
    }
    CoUninitialize();
    return rc;
}
