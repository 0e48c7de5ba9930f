// The client's UI thread: the cost of the library's 100 ms tick with 0, 100
// and 500 open message windows, and the time to open a message window at
// those counts, against the stand-in running without the library (both
// clients run side by side; their measurements alternate).
//
// The tick is timed inside the client (control call TimeMessage: WM_TIMER 1
// sent to the main window on its own thread). Opening is the NewMessage
// control call from here (click, window and its children created) plus the
// library's deferred set-up of the window, which its first timer would run:
// WM_TIMER 1 sent to the new window, timed inside the client.
#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "bench_report.h"
#include "standin_process.h"

using plume::bench::Median;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kTicksPerRound = 50;
constexpr int kRounds = 9;
constexpr int kOpenWindows[] = {0, 100, 500};
constexpr int kBareWindows = 100;

struct Client {
    std::unique_ptr<StandinProcess> process;
    long main = 0;
    std::vector<double> openMs, setUpMs;  // of the windows opened since the last report
    std::vector<double> lastOpenMs, lastSetUpMs;

    explicit Client(bool library)
        : process(StandinProcess::Start(ClientVariant::OutlookExpress,
                                        library ? L"/resetstore /nosave" : L"/resetstore /nosave /nolibrary")) {
        main = static_cast<long>(reinterpret_cast<INT_PTR>(process->Call(L"MainWindow").Hwnd()));
        process->Call(L"Pump", {300});  // the library finds its windows
    }
    // Microseconds of one tick, the mean of kTicksPerRound.
    double Tick() {
        return process->Call(L"TimeMessage", {main, WM_TIMER, 1, kTicksPerRound}).Long() / 1000.0;
    }
    void Open() {
        const double start = NowMicroseconds();
        const long note = static_cast<long>(reinterpret_cast<INT_PTR>(process->Call(L"NewMessage").Hwnd()));
        const double call = NowMicroseconds() - start;
        const double setUp = process->Call(L"TimeMessage", {note, WM_TIMER, 1, 1}).Long() / 1000.0;
        openMs.push_back((call + setUp) / 1000);
        setUpMs.push_back(setUp / 1000);
    }
};

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    {
        plume::bench::Report report("ui_thread_bench: the client's UI thread (Outlook Express variant)", argc, argv);
        Client with(true), without(false);
        int open = 0;
        for (int target : kOpenWindows) {
            // Without the library a window costs the same whatever the count
            // (nothing of its own walks the windows): that client stops at
            // kBareWindows, which keeps the benchmark within a minute.
            while (open < target) {
                with.Open();
                if (open < kBareWindows) without.Open();
                ++open;
            }
            // What the new windows set off settles first.
            with.process->Call(L"Pump", {300});
            without.process->Call(L"Pump", {300});
            std::vector<double> tick, bareTick;
            for (int r = 0; r < kRounds; ++r) {
                tick.push_back(with.Tick());
                bareTick.push_back(without.Tick());
            }
            const std::string n = std::to_string(target) + " open message windows";
            const std::string bare = " (baseline: without the library" +
                                     std::string(target > kBareWindows ? ", " + std::to_string(kBareWindows) + " open)" : ")");
            report.Row("100 ms tick, " + n + bare, Median(tick) / 1000, Median(bareTick) / 1000, "ms");
            if (target > 0) {
                if (without.openMs.empty()) without.openMs = without.lastOpenMs, without.setUpMs = without.lastSetUpMs;
                report.Row("opening a message window, " + std::to_string(target - static_cast<int>(with.openMs.size())) +
                               " to " + std::to_string(target) + " open" + bare,
                           Median(with.openMs), Median(without.openMs), "ms");
                report.Row("  of which the window's set-up at its first tick" + bare, Median(with.setUpMs),
                           Median(without.setUpMs), "ms");
                without.lastOpenMs = without.openMs;
                without.lastSetUpMs = without.setUpMs;
                with.openMs.clear();
                without.openMs.clear();
                with.setUpMs.clear();
                without.setUpMs.clear();
            }
        }
        report.Note("the tick's share of the UI thread is its time over its period, 100 ms");
        with.process->Close(30000);
        without.process->Close(30000);
    }
    CoUninitialize();
    return 0;
}
