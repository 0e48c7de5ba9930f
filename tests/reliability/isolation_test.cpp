// Plug-ins whose click handler crashes or blocks for ever. Listed isolated,
// a click ends only the plug-in's host: the client runs and answers, other
// listeners keep hearing events, and the plug-in is back (its button works
// again) within seconds, up to the third death, after which it stays down
// and says so. Listed in the client, the first click ends the client, and
// the next start runs the plug-in isolated, where the same click is survived.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "client_numbers.h"
#include "library_fixture.h"
#include "recording_sink.h"
#include "registry_scope.h"
#include "reliability_common.h"
#include "reliability_summary.h"

namespace plume::test {
namespace {

// A client that crashed leaves its class registrations in the session's COM
// service (Wine's rpcss keeps them and answers the next activation with the
// dead process; Windows drops them): the service is stopped, and COM starts
// it again, empty, when next needed. False when it did not stop.
bool RestartComService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    bool stopped = service && ControlService(service, SERVICE_CONTROL_STOP, &status) &&
                   StandinProcess::WaitFor(
                       [&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; },
                       10000);
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return stopped;
}

class FaultyPlugins : public testing::Test {
protected:
    void TearDown() override { Stop(); }

    // Lets go of the client's objects and closes it (ended already or not).
    void Stop() {
        sink_.reset();
        root_.reset();
        CloseClient(client_);
    }

    void Start() {
        client_ = StandinProcess::Start(g_variant, L"/resetstore /nosave", OwnFolder(), 45000, output_.get());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root_.put_void()));
        sink_ = Advise(root_.get(), DIID_IPLUMEObjEvents);
        ASSERT_TRUE(sink_);
    }

    // Command identifiers of the plug-in's "Fault" buttons in the main window.
    std::vector<long> FaultButtons() { return client_->ButtonIds(client_->Call(L"MainWindow").Hwnd(), L"Fault"); }
    // Waits for one "Fault" button other than `previous`; 0 when none comes.
    long NewFaultButton(long previous, DWORD ms) {
        long button = 0;
        StandinProcess::WaitFor(
            [&] {
                const std::vector<long> b = FaultButtons();
                button = b.size() == 1 && b[0] != previous ? b[0] : 0;
                return button != 0;
            },
            ms);
        return button;
    }
    // Clicks a button until the plug-in's handler hears it (it connects to
    // the button just after making it); false when it never does. The
    // client may end inside the call.
    bool ClickHeard(long command) {
        ResetEvent(clicked_.get());
        for (int i = 0; i < 10; ++i) {
            client_->TryCall(L"ClickButton", {client_->Call(L"MainWindow").Long(), command}, nullptr, nullptr);
            if (StandinProcess::WaitFor([&] { return WaitForSingleObject(clicked_.get(), 0) == WAIT_OBJECT_0; }, 1000))
                return true;
            if (WaitForSingleObject(client_->process(), 0) != WAIT_TIMEOUT) return false;
        }
        return false;
    }
    // The client answers, and a listener of its own hears a folder change.
    bool OthersHear() {
        if (!ClientAlive(*client_) || !RootAnswers(root_.get())) return false;
        const size_t before = sink_->calls.size();
        client_->Call(L"SelectFolder", {std::wstring(++folderChanges_ % 2 ? L"Drafts" : L"Inbox")});
        return StandinProcess::WaitFor(
            [&] {
                return std::any_of(sink_->calls.begin() + before, sink_->calls.end(),
                                   [](const SinkCall& c) { return c.dispid == client_numbers::root_event::kFolderSelectionChanged; });
            },
            5000);
    }

    // Declared first, so that they put the registry back last.
    ScopedRegistryKey userIsolated_{HKEY_CURRENT_USER, kIsolatedPluginsKey};
    ScopedRegistryKeyValues plugins_{HKEY_CURRENT_USER, kPluginsKey};
    ScopedRegistryKeyValues isolated_{HKEY_CURRENT_USER, kIsolatedPluginsKey};
    PluginStateScope pluginState_;
    unique_handle clicked_{CreateEventA(nullptr, TRUE, FALSE, "PLUMETest.FaultClicked")};
    unique_handle output_ = ScratchOutput();
    std::unique_ptr<StandinProcess> client_;
    com_ptr<IPLUMEObj> root_;
    com_ptr<RecordingSink> sink_;
    int folderChanges_ = 0;
};

TEST_F(FaultyPlugins, IsolatedTheyEndOnlyTheirHostWhichComesBackUpToTheLimit) {
    const struct {
        const wchar_t* library;
        const char* fault;
    } kinds[] = {{L"crash_click_plugin.dll", "crash"}, {L"hang_click_plugin.dll", "hang"}};
    long worstBackMs = 0;
    auto outcome = [] { return StringOf(HKEY_CURRENT_USER, kOutcomesKey, L"HKCU\\Isolated\\RelFault", 1); };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.fault);
        ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kIsolatedPluginsKey, L"RelFault", InBin(kind.library)));
        Start();
        long button = NewFaultButton(0, 20000);
        ASSERT_NE(0, button) << "the isolated plug-in made no button";
        for (int death = 1; death <= 3; ++death) {
            SCOPED_TRACE("death " + std::to_string(death));
            const ULONGLONG clicked = GetTickCount64();
            ASSERT_TRUE(ClickHeard(button)) << "the click did not reach the plug-in";
            EXPECT_TRUE(OthersHear()) << "the client stopped answering or its events stopped";
            if (death == 3) break;
            button = NewFaultButton(button, 20000);
            ASSERT_NE(0, button) << "the plug-in did not come back; buttons: " << FaultButtons().size()
                                 << "; outcome: " << outcome();
            worstBackMs = std::max(worstBackMs, static_cast<long>(GetTickCount64() - clicked));
            EXPECT_TRUE(OthersHear());
        }
        // The third death within ten minutes: it stays down, and says so.
        EXPECT_TRUE(StandinProcess::WaitFor([&] { return FaultButtons().empty(); }, 10000))
            << "the dead host's button stayed";
        EXPECT_TRUE(StandinProcess::WaitFor(
            [&] { return outcome().find(L"not started again") != std::wstring::npos; }, 10000))
            << "outcome: " << outcome();
        EXPECT_TRUE(FaultButtons().empty()) << "it came back after the third death";
        EXPECT_TRUE(OthersHear());
        Stop();
    }
    auto& summary = reliability::Summary::Get();
    summary.Add(reliability::kCasesTried, 6);  // clicks
    summary.Add(reliability::kFaultsSurvived, 6);
    summary.Add(reliability::kLeaksFound, 0);
    summary.Max("isolated plug-in back after its fault (ms)", worstBackMs);
}

TEST_F(FaultyPlugins, InTheClientACrashEndsItAndTheNextStartRunsThePluginIsolated) {
    const std::wstring library = InBin(L"crash_click_plugin.dll");
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kPluginsKey, L"RelFault", library));
    Start();
    long button = NewFaultButton(0, 20000);
    ASSERT_NE(0, button);
    EXPECT_TRUE(ClickHeard(button));
    EXPECT_TRUE(client_->WaitForExit(30000)) << "the first click did not end the client";
    EXPECT_EQ(library, StringOf(HKEY_CURRENT_USER, kStartMarksKey, L"HKCU\\RelFault")) << "the crash was not laid to the plug-in";
    Stop();
    ASSERT_TRUE(RestartComService());

    // The next start runs it isolated, and says so once; the same click is survived.
    Start();
    button = NewFaultButton(0, 20000);
    ASSERT_NE(0, button);
    EXPECT_EQ(L"isolated", StringOf(HKEY_CURRENT_USER, kCrashesKey, L"HKCU\\RelFault", 1));
    EXPECT_EQ(L"", StringOf(HKEY_CURRENT_USER, kStartMarksKey, L"HKCU\\RelFault"));
    EXPECT_TRUE(ClickHeard(button));
    EXPECT_NE(0, NewFaultButton(button, 20000)) << "the plug-in did not come back in its host";
    EXPECT_TRUE(OthersHear());

    auto& summary = reliability::Summary::Get();
    summary.Add(reliability::kCasesTried, 2);
    summary.Add(reliability::kFaultsSurvived, 1);
    summary.Add(reliability::kLeaksFound, 0);
}

}  // namespace
}  // namespace plume::test
