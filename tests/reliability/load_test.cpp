// Twenty client processes, each with a toolbar, a button, a menu item and
// sinks on all of them and on its root, calling the library all the while,
// as the client's buttons are clicked, menu items chosen, folders selected
// and the store changed for a while: every event reaches every sink it is
// meant for exactly once and in order, and the client's thread keeps
// answering.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "client_process.h"
#include "library_fixture.h"
#include "reliability_summary.h"

namespace plume::test {
namespace {

constexpr int kClients = 20;
constexpr DWORD kLoadMs = 25000;

// One line of what a client heard: object, dispid, arguments.
struct Heard {
    std::string object;
    int dispid;
    std::vector<long> args;
};

struct ClientReport {
    std::vector<Heard> heard;
    long calls = -1, failed = -1;
};

ClientReport ReadReport(const std::wstring& path) {
    ClientReport report;
    std::ifstream in(std::string(path.begin(), path.end()));
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Heard h;
        fields >> h.object;
        if (h.object == "calls" || h.object == "failed") {
            fields >> (h.object == "calls" ? report.calls : report.failed);
            continue;
        }
        fields >> h.dispid;
        for (long v; fields >> v;) h.args.push_back(v);
        report.heard.push_back(h);
    }
    return report;
}

using UnderLoad = LibraryTest;

TEST_F(UnderLoad, TwentyClientsHearEveryEventOnceInOrderAndTheClientKeepsAnswering) {
    const std::string stopName = "PLUME_TEST_LOAD_STOP_" + std::to_string(GetCurrentProcessId());
    unique_handle stop(CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<std::wstring> outputs;
    std::vector<std::unique_ptr<ClientProcess>> clients;  // load_client.exe N STOP OUT READY
    for (int i = 0; i < kClients; ++i) {
        outputs.push_back(std::wstring(temp) + L"plume_load_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                          std::to_wstring(i) + L".txt");
        clients.push_back(std::make_unique<ClientProcess>(
            L"load_client.exe", std::to_wstring(i) + L" " + Widen(stopName) + L" \"" + outputs.back() + L"\"",
            "PLUME_TEST_LOAD_READY_" + std::to_string(i)));
    }
    for (auto& c : clients) ASSERT_TRUE(c->WaitReady(60000));
    std::vector<long> buttons;
    for (int i = 0; i < kClients; ++i) {
        buttons.push_back(client->ButtonId(main, L"Load " + std::to_wstring(i)));
        ASSERT_NE(0, buttons.back()) << "client " << i << " has no button";
    }

    // Activity in rounds, for kLoadMs: every button clicked, one menu item
    // chosen, the other folder selected, a message inserted by the client's
    // thread and one by a worker thread of the client.
    ResponsivenessProbe probe(main);
    std::vector<int> clicks(kClients), choices(kClients);
    std::vector<long> folders, inserted;
    bool sentItems = false;
    const ULONGLONG start = GetTickCount64();
    int rounds = 0;
    for (; GetTickCount64() - start < kLoadMs; ++rounds) {
        for (int i = 0; i < kClients; ++i) {
            Call(L"ClickButton", {H(main), buttons[i]});
            ++clicks[i];
        }
        const int chosen = rounds % kClients;
        Call(L"ChooseMenuItem", {H(main), L"Tools\\Load item " + std::to_wstring(chosen)});
        ++choices[chosen];
        const long folder = (sentItems = !sentItems) ? SentItemsId() : InboxId();
        Call(L"SelectFolder", {folder});
        folders.push_back(folder);
        inserted.push_back(Call(L"Commit", {L"insert", InboxId(), L"Load " + std::to_wstring(rounds)}).Long());
        inserted.push_back(
            Call(L"CommitOnWorker", {L"insert", InboxId(), L"Load worker " + std::to_wstring(rounds)}).Long());
    }
    // Everything raised is delivered; then the clients write what they heard.
    Call(L"Pump", {3000});
    probe.Stop();
    SetEvent(stop.get());
    for (int i = 0; i < kClients; ++i) {
        if (clients[i]->WaitForExit(30000)) continue;
        // Where it is stuck: the step it recorded last.
        std::ifstream stage(std::string(outputs[i].begin(), outputs[i].end()) + ".stage");
        std::string step;
        std::getline(stage, step);
        stage.close();
        ADD_FAILURE() << "client " << i << " did not end within 30 s of the stop; last step: " << step;
        clients[i]->Kill();
        DeleteFileW((outputs[i] + L".stage").c_str());
    }

    long expected = 0, delivered = 0;
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE("client " + std::to_string(i));
        const ClientReport report = ReadReport(outputs[i]);
        DeleteFileW(outputs[i].c_str());
        EXPECT_GT(report.calls, 0);
        EXPECT_EQ(0, report.failed);
        std::vector<long> heardFolders, heardInserts;
        std::map<std::string, int> counts;
        for (const Heard& h : report.heard) {
            if (h.object == "root" && h.dispid == root_event::kFolderSelectionChanged)
                heardFolders.push_back(h.args.at(0));
            if (h.object == "root" && h.dispid == root_event::kDatabaseChange && h.args.at(0) == kInsertMessage &&
                h.args.at(1) == InboxId())
                heardInserts.push_back(h.args.at(2));
            if (h.object == "root" && h.dispid == root_event::kButtonClicked && h.args.at(1) == buttons[i])
                ++counts["root click"];
            if (h.object == "root" && h.dispid == root_event::kMenuItemClicked) ++counts["root choice"];
            if (h.object == "toolbar" && h.dispid == toolbar_event::kButtonClicked && h.args.at(0) == buttons[i])
                ++counts["toolbar click"];
            if (h.object == "button" && h.dispid == click_event::kClick) ++counts["button click"];
            if (h.object == "item" && h.dispid == click_event::kClick) ++counts["item choice"];
        }
        // Each once, in the order they happened.
        EXPECT_EQ(folders, heardFolders);
        EXPECT_EQ(inserted, heardInserts);
        EXPECT_EQ(clicks[i], counts["root click"]);
        EXPECT_EQ(clicks[i], counts["toolbar click"]);
        EXPECT_EQ(clicks[i], counts["button click"]);
        EXPECT_EQ(choices[i], counts["root choice"]);
        EXPECT_EQ(choices[i], counts["item choice"]);
        expected += static_cast<long>(folders.size() + inserted.size()) + 3 * clicks[i] + 2 * choices[i];
        delivered += static_cast<long>(heardFolders.size() + heardInserts.size()) + counts["root click"] +
                     counts["toolbar click"] + counts["button click"] + counts["root choice"] + counts["item choice"];
    }
    EXPECT_EQ(0, probe.unanswered());
    // Most answers come at once; the slowest wait for the client's own work
    // (a menu being opened, a folder shown), not for the library.
    EXPECT_LT(probe.Percentile(0.9), 200u) << "the client's thread answered late";
    EXPECT_LT(probe.worst(), 2000u) << "the client's thread stopped answering";
    auto& summary = reliability::Summary::Get();
    summary.Add(reliability::kCasesTried, rounds);
    summary.Add(reliability::kFaultsSurvived, 0);
    summary.Add(reliability::kLeaksFound, 0);
    summary.Add("client processes", kClients);
    summary.Add("events expected", expected);
    summary.Add("events delivered", delivered);
    summary.Max("UI thread answer, median (ms)", probe.Percentile(0.5));
    summary.Max("UI thread answer, 99% (ms)", probe.Percentile(0.99));
    summary.Max("UI thread answer, worst (ms)", probe.worst());
}

}  // namespace
}  // namespace plume::test
