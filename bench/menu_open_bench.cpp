// Opening a menu that holds a thousand library items: what the window
// procedure adds to the opening (SyncPopup and ApplyStates) against the
// client building a pop-up of the same size itself (the baseline).
#include <windows.h>

#include <cstdio>
#include <string>

#include "bench_report.h"
#include "ui/menu_registry.h"

namespace {

constexpr int kItems = 1000;
constexpr int kRounds = 5;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <typename F>
double Time(F f) {
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    f();
    QueryPerformanceCounter(&b);
    return Milliseconds(a, b);
}

}  // namespace

int main(int argc, char** argv) {
    plume::bench::Report report("menu_open_bench: opening a menu with 1,000 library items", argc, argv);
    double baseline = 0, firstOpening = 0, laterOpening = 0;
    for (int round = 0; round < kRounds; ++round) {
        HMENU own = CreatePopupMenu();
        baseline += Time([&] {
            for (int i = 0; i < kItems; ++i) AppendMenuA(own, MF_STRING, 1000 + i, ("Client item " + std::to_string(i)).c_str());
        });
        DestroyMenu(own);

        plume::OEMenuRegistry registry(nullptr, 0);
        for (int i = 0; i < kItems; ++i) {
            LONG id = registry.CreateItem(0, 1, "Library item " + std::to_string(i), "", 0, nullptr, -1);
            if (i % 10 == 0) {
                registry.SetCheck(id, 1);
                registry.SetChecked(id, 1);
            }
            if (i % 7 == 0) registry.SetEnabled(id, 0);
        }
        HMENU popup = CreatePopupMenu();
        AppendMenuA(popup, MF_STRING, 100, "&Copy");
        firstOpening += Time([&] {
            registry.SyncPopup(popup, 1);
            registry.ApplyStates();
        });
        laterOpening += Time([&] {
            registry.SyncPopup(popup, 1);
            registry.ApplyStates();
        });
        if (GetMenuItemCount(popup) != kItems + 1) {
            std::printf("menu_open_bench: %d entries instead of %d\n", GetMenuItemCount(popup), kItems + 1);
            return 1;
        }
        registry.Detach();
        DestroyMenu(popup);
    }
    report.Row("first opening: inserts and states (baseline: the client appends as many)", firstOpening / kRounds,
               baseline / kRounds, "ms");
    report.Row("later opening: checks and states", laterOpening / kRounds, baseline / kRounds, "ms");
    return 0;
}
