// What the library adds to the client's start and close: StartServer (load,
// plug-ins, server thread) with 0, 10 and 100 plug-in libraries listed (and
// 10 run isolated, each in its host process, against the same in the client), and
// main-window close to process exit, against the stand-in started and closed
// without the library. The plug-in (bench_report_plugin.dll, one copy per entry)
// reports to the plug-in counter as soon as the library has started, and
// the counter awaits every copy, so StartServer waits for all of them.
// Start times are taken inside the client by its launcher; close times from
// outside.
#include <windows.h>
#include <objbase.h>
#include <plumeinit.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_plugin_listing.h"
#include "bench_report.h"
#include "com_ptr.h"
#include "registry_scope.h"
#include "client_process.h"
#include "standin_process.h"

using plume::bench::Median;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kRounds = 3;
using plume::bench::kCounterKey;
using plume::bench::kPluginsKey;

// `count` copies of the bench plug-in, listed for the user and awaited by the
// plug-in counter; all gone at the end, with the starts' outcomes.
class ListedPlugins {
public:
    explicit ListedPlugins(int count, bool isolated = false)
        : outcomes_(HKEY_CURRENT_USER, plume::bench::kOutcomesKey), awaited_(HKEY_CURRENT_USER, kCounterKey, L"AwaitedPlugins") {
        awaited_.SetDword(static_cast<DWORD>(count));
        if (!count) return;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"plume_bench_plugins\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        key_ = std::make_unique<plume::test::ScopedRegistryKey>(
            HKEY_CURRENT_USER, isolated ? plume::bench::kIsolatedPluginsKey : kPluginsKey);
        for (int i = 0; i < count; ++i) {
            const std::wstring name = L"BenchPlugin" + std::to_wstring(i);
            const std::wstring file = folder_ + name + L".dll";
            CopyFileW((plume::test::OwnFolder() + L"bench_report_plugin.dll").c_str(), file.c_str(), FALSE);
            RegSetValueExW(key_->get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                           static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
            names_.push_back(name);
            files_.push_back(file);
        }
    }
    ~ListedPlugins() {
        if (key_ && !key_->created())
            for (const auto& name : names_) RegDeleteValueW(key_->get(), name.c_str());
        key_.reset();
        for (const auto& file : files_) DeleteFileW(file.c_str());
        if (!folder_.empty()) RemoveDirectoryW(folder_.c_str());
    }
    ListedPlugins(const ListedPlugins&) = delete;
    ListedPlugins& operator=(const ListedPlugins&) = delete;

private:
    plume::test::ScopedRegistryKeyValues outcomes_;
    plume::test::ScopedRegistryValue awaited_;
    std::wstring folder_;
    std::unique_ptr<plume::test::ScopedRegistryKey> key_;
    std::vector<std::wstring> names_, files_;
};

struct Cycle {
    double clientStart = 0, libraryStart = 0, close = 0;
};

// One start and close of the client.
Cycle Run(bool library) {
    Cycle c;
    auto client = StandinProcess::Start(ClientVariant::OutlookExpress,
                                        library ? L"/resetstore /nosave" : L"/resetstore /nosave /nolibrary");
    std::wstring times;
    StandinProcess::WaitFor([&] { return !(times = client->Call(L"StartTimes").Str()).empty(); }, 30000);
    swscanf(times.c_str(), L"%lf %lf", &c.clientStart, &c.libraryStart);
    const double start = NowMicroseconds();
    client->Close(30000);
    c.close = (NowMicroseconds() - start) / 1000;
    return c;
}

// One close of the client while the only holders of objects are a client
// that never answers (it stopped before any event) and a killed one.
double CloseWithGoneHolders() {
    auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
    StandinProcess::WaitFor([&] { return !client->Call(L"StartTimes").Str().empty(); }, 30000);
    plume::test::ClientProcess hung(L"rogue_client.exe", L"nopump", "PLUME_BENCH_ROGUE_READY_1");
    plume::test::ClientProcess killed(L"rogue_client.exe", L"hold", "PLUME_BENCH_ROGUE_READY_2");
    hung.WaitReady();
    killed.WaitReady();
    killed.Kill();
    const double start = NowMicroseconds();
    client->Close(30000);
    return (NowMicroseconds() - start) / 1000;
}

// Every case, in order.
void Measure(plume::bench::Report& report) {
    double noPlugin = 0;
    for (int plugins : {0, 10, 100}) {
        auto listed = std::make_unique<ListedPlugins>(plugins);
        std::vector<double> clientStart, libraryStart, close, bareClose;
        for (int r = 0; r < (plugins >= 100 ? 2 : kRounds); ++r) {
            const Cycle bare = Run(false), with = Run(true);
            clientStart.push_back(bare.clientStart);
            libraryStart.push_back(with.libraryStart);
            bareClose.push_back(bare.close);
            close.push_back(with.close);
        }
        const std::string n = std::to_string(plugins) + " plug-in(s)";
        if (!plugins) noPlugin = Median(libraryStart);
        report.Row("StartServer, " + n + " (baseline: the client's own start)", Median(libraryStart),
                   Median(clientStart), "ms");
        report.Row("close to exit, " + n + " (baseline: without the library)", Median(close), Median(bareClose),
                   "ms");
        if (plugins == 10) {
            // The same plug-ins isolated: each host is a process start before its report.
            listed.reset();
            std::vector<double> isolated;
            for (int r = 0; r < kRounds; ++r) {
                ListedPlugins hosted(plugins, true);
                isolated.push_back(Run(true).libraryStart);
            }
            report.Row("StartServer, 10 plug-ins isolated (baseline: the same in the client)", Median(isolated),
                       Median(libraryStart), "ms");
            report.Row("each plug-in's share of StartServer: isolated (baseline: in the client)",
                       (Median(isolated) - noPlugin) / plugins, (Median(libraryStart) - noPlugin) / plugins, "ms");
        }
    }
    {
        std::vector<double> close, bareClose;
        for (int r = 0; r < kRounds; ++r) {
            bareClose.push_back(Run(true).close);
            close.push_back(CloseWithGoneHolders());
        }
        report.Row("close to exit, a never-answering and a killed client holding objects (baseline: no client)",
                   Median(close), Median(bareClose), "ms");
    }
    {
        // Where the start goes: with the plug-in counter's server already
        // running, StartServer does not wait for it to be started.
        plume::com_ptr<IUnknown> counter;
        CoCreateInstance(CLSID_PLUMEInitObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, counter.put_void());
        ListedPlugins listed(0);
        std::vector<double> libraryStart, clientStart;
        for (int r = 0; r < kRounds && counter; ++r) {
            clientStart.push_back(Run(false).clientStart);
            libraryStart.push_back(Run(true).libraryStart);
        }
        if (counter)
            report.Row("StartServer, 0 plug-ins, the counter's server already running (baseline: the client's own start)",
                       Median(libraryStart), Median(clientStart), "ms");
    }
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    int rc = 0;
    {
        plume::bench::Report report("startstop_bench: the client's start and close (Outlook Express variant)", argc,
                                    argv);
        // A client that does not come up ends the run, with the listed plug-ins
        // and the counter's setting put back.
        try {
            Measure(report);
        } catch (const std::exception& e) {
            report.Note(e.what());
            rc = 1;
        }
    }
    CoUninitialize();
    return rc;
}
