// The selection part of the 100 ms tick on a list of 10,000 messages with
// 1,000 selected, against the bare list-view walk that finds the same rows.
// Both run on this thread, which owns the list as the client UI thread does.
//
//   tools/wine-run.sh build/bin/selection_tick_bench.exe [rounds]
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_report.h"
#include "fake_message_list.h"
#include "client_variant.h"
#include "host/hooks.h"
#include "host/list_selection.h"
#include "host/vex_message_list.h"
#include "manager/plume_manager.h"
#include "manager/selection.h"

namespace {

constexpr int kRows = 10000;
constexpr int kSelected = 1000;
constexpr int kPollsPerRound = 20;

double Now() { return plume::bench::NowMicroseconds(); }

// The baseline: what any poll of the list has to do to find the rows.
int BareWalk(HWND list) {
    const int n = static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
    std::vector<int> rows;
    rows.reserve(n);
    for (int r = -1; static_cast<int>(rows.size()) < n &&
                     (r = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, r, LVNI_SELECTED))) != -1;)
        rows.push_back(r);
    return static_cast<int>(rows.size()) +
           static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 && argv[1][0] != '-' ? std::max(5, atoi(argv[1])) : 60;
    plume::bench::Report report("selection_tick_bench: the selection part of the 100 ms tick", argc, argv);
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    plume::SetWindowsMailForTesting(1);

    // The client's main window, tree and message list.
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    for (const char* name : {"ThorBrowserWndClass", "Outlook Express Message View", "Outlook Express Message List"}) {
        wc.lpszClassName = name;
        RegisterClassA(&wc);
    }
    HWND main = CreateWindowA("ThorBrowserWndClass", "client", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr, nullptr,
                              nullptr, nullptr);
    CreateWindowA(WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 600, main, nullptr, nullptr, nullptr);
    HWND view = CreateWindowA("Outlook Express Message View", "", WS_CHILD | WS_VISIBLE, 200, 0, 600, 600, main,
                              nullptr, nullptr, nullptr);
    HWND holder = CreateWindowA("Outlook Express Message List", "", WS_CHILD | WS_VISIBLE, 0, 0, 600, 600, view,
                                nullptr, nullptr, nullptr);
    HWND list = CreateWindowA(WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 600,
                              600, holder, nullptr, nullptr, nullptr);
    plume::test::BuildFakeListTables();
    plume::test::FakeList table{plume::test::g_fakeListVtbl};
    for (int i = 0; i < kRows; ++i) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<char*>("message");
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        table.rows.push_back(1000 + i);
    }
    for (int i = 0; i < kSelected; ++i) {
        LVITEMA st{};
        st.stateMask = st.state = LVIS_SELECTED | (i == 0 ? LVIS_FOCUSED : 0);
        SendMessageA(list, LVM_SETITEMSTATE, i * (kRows / kSelected), reinterpret_cast<LPARAM>(&st));
    }

    // The library, bound to the list's table, with a local folder shown.
    plume::PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    plume::PLUMEManager* manager = plume::PLUMEManager::Get(true);
    auto binder = std::make_shared<plume::VexMessageListOE>();
    binder->SetMessageList(reinterpret_cast<IUnknown*>(&table));
    {
        plume::cs_lock hold(manager->storeLock());
        manager->messageList = binder;
        manager->selectedFolderId = 2;
    }
    plume::AttachPlugin(main, nullptr);
    plume::Callbacks().onSelectionChanged = [](int count, int* rows, int focused, int flag) {
        plume::SetSelectedMessages(count, rows, focused, flag);
    };
    SendMessageA(main, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Inbox"));  // the tree is found
    SendMessageA(main, WM_TIMER, 1, 0);                                     // the list is found, first report
    Pump();
    if (plume::ListView() != list || plume::GetFirstSelectedId() != 1000) {
        fprintf(stderr, "the library did not find the list or its rows\n");
        return 1;
    }

    std::vector<double> walk, tick;
    int sink = 0;
    for (int round = 0; round < rounds; ++round) {
        double t0 = Now();
        for (int i = 0; i < kPollsPerRound; ++i) sink += BareWalk(list);
        double t1 = Now();
        for (int i = 0; i < kPollsPerRound; ++i) plume::PollSelection();
        double t2 = Now();
        walk.push_back((t1 - t0) / kPollsPerRound);
        tick.push_back((t2 - t1) / kPollsPerRound);
        Pump();
    }
    const double w = plume::bench::Median(walk), t = plume::bench::Median(tick);
    report.Row("PollSelection, " + std::to_string(kRows) + " rows, " + std::to_string(kSelected) +
                   " selected (baseline: the bare list-view walk)",
               t / 1000, w / 1000, "ms", 1.5);
    report.Note(std::to_string(rounds) + " rounds of " + std::to_string(kPollsPerRound) + " polls (sink " +
                std::to_string(sink & 1) + ")");

    plume::Callbacks() = plume::HostNotifyCallbacks{};
    plume::DetachHooks();
    DestroyWindow(main);
    {
        plume::cs_lock hold(manager->storeLock());
        manager->messageList.reset();
    }
    return 0;
}
