// Clients that hang, stop pumping, die or are killed while the mail client
// delivers events to them: the mail client's thread is held only for a
// bounded time, everyone else hears every event in order, and closing the
// client ends within thirty seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "client_process.h"
#include "library_fixture.h"
#include "reliability_common.h"
#include "reliability_summary.h"

namespace plume::test {
namespace {

using namespace root_event;
// How long one client that does not answer may hold a delivery (2 s), with
// room for a slow machine; and what a delivery to answering clients takes
// at most here.
constexpr DWORD kHungClientHoldLimitMs = 4500;
constexpr DWORD kAnsweringDeliveryLimitMs = 1500;

// A misbehaving client process (rogue_client.exe MODE READY).
class RogueClient : public ClientProcess {
public:
    RogueClient(const char* mode, int serial)
        : ClientProcess(L"rogue_client.exe", Widen(mode), "PLUME_TEST_ROGUE_READY_" + std::to_string(serial)) {}
};

class MisbehavingClients : public LibraryTest {
protected:
    // The well-behaved client: a root created after the rogues, so that it
    // hears each event after them.
    void AttachWellBehavedClient() {
        root_ = CreateRoot();
        ASSERT_TRUE(root_);
        sink_ = Listen(root_.get(), DIID_IPLUMEObjEvents);
    }
    void TearDown() override {
        root_.reset();
        sinks_.clear();
        // Objects of a killed client are only disconnected after the
        // shutdown's grace period: the close takes longer than usual.
        CloseClient(client);
    }

    // Runs `activity` and returns how long it took until the well-behaved
    // client had heard `dispid` `count` times in all; -1 when it never did.
    long TimeUntilHeard(const std::function<void()>& activity, DISPID dispid, size_t count) {
        const ULONGLONG start = GetTickCount64();
        activity();
        if (!WaitForEvent(sink_, dispid, count, 20000)) return -1;
        return static_cast<long>(GetTickCount64() - start);
    }

    // An argument of the last call of `dispid` the well-behaved client heard;
    // -1 when it heard none.
    long LastArgument(DISPID dispid, size_t index) {
        const auto calls = CallsOf(sink_, dispid);
        return calls.empty() || calls.back().args.size() <= index ? -1 : calls.back().args[index];
    }

    // Folder changes, store commits and message-window closes (the three
    // kinds of activity the client's thread waits for), each `rounds` times;
    // returns the time of each until the well-behaved client heard it.
    std::vector<long> WaitedActivities(int rounds) {
        std::vector<long> times;
        for (int i = 0; i < rounds; ++i) {
            // The client starts in the Inbox; each round moves to the other folder.
            const long folder = (sentItemsShown_ = !sentItemsShown_) ? SentItemsId() : InboxId();
            const size_t folderEvents = CallsOf(sink_, kFolderSelectionChanged).size() + 1;
            times.push_back(TimeUntilHeard([&] { Call(L"SelectFolder", {folder}); }, kFolderSelectionChanged,
                                           folderEvents));
            EXPECT_EQ(folder, LastArgument(kFolderSelectionChanged, 0));

            const size_t changes = CallsOf(sink_, kDatabaseChange).size() + 1;
            long inserted = 0;
            times.push_back(TimeUntilHeard(
                [&] { inserted = Call(L"Commit", {L"insert", InboxId(), L"Reliability " + std::to_wstring(i)}).Long(); },
                kDatabaseChange, changes));
            EXPECT_EQ(inserted, LastArgument(kDatabaseChange, 2));

            const size_t opened = CallsOf(sink_, kNewMsgWnd).size() + 1;
            HWND note = Call(L"NewMessage").Hwnd();
            EXPECT_TRUE(WaitForEvent(sink_, kNewMsgWnd, opened));
            const size_t closed = CallsOf(sink_, kMsgWndClosed).size() + 1;
            times.push_back(TimeUntilHeard([&] { Call(L"CloseNote", {H(note)}); }, kMsgWndClosed, closed));
            EXPECT_EQ(H(note), LastArgument(kMsgWndClosed, 0));
        }
        return times;
    }

    com_ptr<IPLUMEObj> root_;
    RecordingSink* sink_ = nullptr;
    bool sentItemsShown_ = false;
};

// Each kind of client that stops answering: the first event it does not
// answer holds the delivery at most the bound, the later ones not at all;
// the others hear every event, in order; the client's thread keeps
// answering; once the rogue is gone, nothing waits for it any more.
TEST_F(MisbehavingClients, AClientThatStopsAnsweringHoldsTheClientOnlyOnceAndBriefly) {
    int serial = 0;
    for (const char* mode : {"nopump", "hang"}) {
        SCOPED_TRACE(mode);
        RogueClient rogue(mode, ++serial);
        ASSERT_TRUE(rogue.WaitReady());
        AttachWellBehavedClient();
        ResponsivenessProbe probe(main);

        const std::vector<long> times = WaitedActivities(3);
        ASSERT_EQ(9u, times.size());
        for (long t : times) ASSERT_GE(t, 0) << "an event never reached the well-behaved client";
        EXPECT_LT(times[0], static_cast<long>(kHungClientHoldLimitMs));
        for (size_t i = 1; i < times.size(); ++i)
            EXPECT_LT(times[i], static_cast<long>(kAnsweringDeliveryLimitMs)) << "activity " << i;
        probe.Stop();
        EXPECT_EQ(0, probe.unanswered());
        EXPECT_LT(probe.worst(), 1000u) << "the client's thread stopped answering";

        auto& summary = reliability::Summary::Get();
        const std::string hung = std::string("hung client (") + mode + "): ";
        summary.Add(reliability::kCasesTried, static_cast<long long>(times.size()));
        summary.Max(hung + "first event held the others (ms)", times[0]);
        summary.Max(hung + "later events held the others, worst (ms)", *std::max_element(times.begin() + 1, times.end()));
        summary.Max("UI thread answer while a client hangs, worst (ms)", probe.worst());
        summary.Add("events delivered to the well-behaved client", static_cast<long long>(sink_->calls.size()));

        // The rogue goes; what waited for it fails at once and nothing
        // waits any more.
        rogue.Kill();
        const std::vector<long> after = WaitedActivities(1);
        for (long t : after) {
            ASSERT_GE(t, 0);
            EXPECT_LT(t, static_cast<long>(kAnsweringDeliveryLimitMs));
        }
        summary.Add(reliability::kFaultsSurvived);
        root_.reset();
        sinks_.clear();
    }
    EXPECT_TRUE(Call(L"LibraryStarted").Bool());
}

// A client that ends inside an event handler and one killed while it holds
// objects with advised sinks: delivery to the others goes on at full speed
// and the library stops calling the dead. Then a message window closes
// while three clients that never answer hear of it first: the delivery
// outlasts the closing window's wait (5 s), and the window's record goes
// meanwhile; the client after them still hears the close.
TEST_F(MisbehavingClients, ClientsThatDieOrOutlastAWindowsCloseDoNotKeepEventsFromTheOthers) {
    RogueClient dying("die", 1);
    RogueClient holder("hold", 2);
    ASSERT_TRUE(dying.WaitReady());
    ASSERT_TRUE(holder.WaitReady());
    AttachWellBehavedClient();
    holder.Kill();

    const std::vector<long> times = WaitedActivities(2);
    for (long t : times) {
        ASSERT_GE(t, 0) << "an event never reached the well-behaved client";
        EXPECT_LT(t, static_cast<long>(kAnsweringDeliveryLimitMs));
    }
    EXPECT_FALSE(dying.alive());
    EXPECT_EQ(3u, dying.ExitCode());

    HWND note = Call(L"NewMessage").Hwnd();
    ASSERT_NE(nullptr, note);
    std::vector<std::unique_ptr<RogueClient>> rogues;
    for (int i = 3; i <= 5; ++i) {
        rogues.push_back(std::make_unique<RogueClient>("nopump", i));
        ASSERT_TRUE(rogues.back()->WaitReady());
    }
    AttachWellBehavedClient();  // a root after theirs
    Call(L"CloseNote", {H(note)});
    EXPECT_TRUE(WaitForEvent(sink_, kMsgWndClosed, 1, 20000)) << "the close never reached the last root";
    EXPECT_EQ(H(note), LastArgument(kMsgWndClosed, 0));
    for (auto& rogue : rogues) rogue->Kill();
    auto& summary = reliability::Summary::Get();
    summary.Add(reliability::kCasesTried, static_cast<long long>(times.size()) + 1);
    summary.Add(reliability::kFaultsSurvived, 5);
    summary.Max("slowest delivery after clients died (ms)", *std::max_element(times.begin(), times.end()));
}

// Closing while clients that never answer and killed ones hold objects: the
// mail client ends by itself, without waiting for them. A client that
// stopped before it was ever sent an event is not given the grace period
// of clients that answer (10 s); one known to hang (an event it did not
// answer) keeps the close within thirty seconds; a polite client releases
// its objects on the shutdown event and ends too.
TEST_F(MisbehavingClients, ClosingDoesNotWaitForHoldersThatAreGoneOrNeverAnswered) {
    const struct {
        const char* name;
        bool knownToHang;
        long boundMs;
    } cases[] = {{"close with only a never-answering and a killed client (ms)", false, 10000},
                 {"close with a hung and a killed client (ms)", true, 30000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!client) LibraryTest::SetUp();  // the next case in a client of its own
        RogueClient hung("nopump", 1);
        RogueClient killed("hold", 2);
        std::unique_ptr<RogueClient> polite;
        if (c.knownToHang) polite = std::make_unique<RogueClient>("polite", 3);
        ASSERT_TRUE(hung.WaitReady());
        ASSERT_TRUE(killed.WaitReady());
        ASSERT_TRUE(!polite || polite->WaitReady());
        if (c.knownToHang) Call(L"SelectFolder", {SentItemsId()});
        killed.Kill();

        const ULONGLONG start = GetTickCount64();
        const bool closedByItself = client->Close(35000);
        const long took = static_cast<long>(GetTickCount64() - start);
        EXPECT_TRUE(closedByItself) << "the client had to be ended by force";
        EXPECT_LT(took, c.boundMs) << "the close waited for holders that are gone or hung";
        EXPECT_TRUE(IsSet(events_.shutdown));
        if (polite) {
            EXPECT_TRUE(StandinProcess::WaitFor([&] { return !polite->alive(); }, 5000));
            EXPECT_EQ(0u, polite->ExitCode());
        }
        client.reset();
        auto& summary = reliability::Summary::Get();
        summary.Add(reliability::kCasesTried);
        summary.Add(reliability::kFaultsSurvived, 2);
        summary.Max(c.name, took);
    }
}

}  // namespace
}  // namespace plume::test
