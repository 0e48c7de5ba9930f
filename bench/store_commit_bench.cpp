// How long a client thread that commits a store change is held back by the
// store watcher: a burst of inserts from a worker thread of the stand-in
// client, timed with the library absent (baseline), with the library and no
// connected client, and with one connected client whose sink hears every
// change. Prints the time per commit, the ratios and the event rate.
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <string>

#include "bench_report.h"
#include "com_ptr.h"
#include "recording_sink.h"
#include "standin_process.h"

using plume::com_ptr;
using plume::test::ClientVariant;
using plume::test::RecordingSink;
using plume::test::StandinProcess;

namespace {

constexpr long kCommits = 300;
constexpr long kInbox = 2;
constexpr DISPID kOnDatabaseChange = 13;

double Now() { return plume::bench::NowMicroseconds() / 1000.0; }  // ms

// Milliseconds per commit of a burst in a client started with `arguments`;
// `listen` connects one root object with a sink first.
double Run(const wchar_t* arguments, bool listen, size_t* heard) {
    auto client = StandinProcess::Start(ClientVariant::OutlookExpress, arguments);
    com_ptr<IPLUMEObj> root;
    auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IPLUMEObjEvents));
    DWORD cookie = 0;
    com_ptr<IConnectionPoint> cp;
    if (listen) {
        CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
        if (root) {
            root.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
                ->FindConnectionPoint(DIID_IPLUMEObjEvents, cp.put());
            if (cp) cp->Advise(sink.get(), &cookie);
        }
    }
    client->Call(L"CommitOnWorker", {L"burst", kInbox, 10});  // warm-up
    sink->calls.clear();
    const double start = Now();
    client->Call(L"CommitOnWorker", {L"burst", kInbox, kCommits});
    const double elapsed = Now() - start;
    size_t n = 0;
    for (const auto& c : sink->calls)
        if (c.dispid == kOnDatabaseChange) ++n;
    if (heard) *heard = n;
    if (cp) cp->Unadvise(cookie);
    cp.reset();
    root.reset();
    client->Close();
    return elapsed / kCommits;
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    plume::bench::Report report("store_commit_bench: a worker thread committing 300 inserts", argc, argv);
    const double absent = Run(L"/resetstore /nosave /nolibrary", false, nullptr);
    const double alone = Run(L"/resetstore /nosave", false, nullptr);
    size_t heard = 0;
    const double listened = Run(L"/resetstore /nosave", true, &heard);
    report.Row("per commit, library loaded, no client (baseline: library absent)", alone, absent, "ms");
    report.Row("per commit, one client hearing each change", listened, absent, "ms");
    report.Note(std::to_string(heard) + " events heard, " + std::to_string(static_cast<int>(1000.0 / listened)) +
                " events/s");
    CoUninitialize();
    return heard == static_cast<size_t>(kCommits) ? 0 : 1;
}
