// The library at work inside the stand-in mail client, reached over COM from
// this process as a plug-in writer's program reaches it: the root object,
// its events on real sinks, message windows, scripts, and the shutdown.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bstr.h"
#include "client_numbers.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "library_fixture.h"
#include "proc_address.h"
#include "recording_sink.h"
#include "unique_any.h"

namespace plume::test {
namespace {

// Registers the library and the script helper as their installer does.
class Registration : public testing::Environment {
public:
    void SetUp() override {
        for (const wchar_t* name : {L"plumesrv.dll", L"plumescript.dll"}) {
            unique_hmodule dll(LoadLibraryW((OwnFolder() + name).c_str()));
            ASSERT_TRUE(dll) << "missing library";
            auto reg = GetProcAs<HRESULT(WINAPI*)()>(dll.get(), "DllRegisterServer");
            ASSERT_TRUE(reg);
            ASSERT_EQ(S_OK, reg());
        }
    }
};
const auto* const g_registration = testing::AddGlobalTestEnvironment(new Registration);

TEST_F(LibraryTest, RootObjectsKnowTheClientsMainWindow) {
    com_ptr<IPLUMEObj> root = CreateRoot();
    ASSERT_TRUE(root);
    LONG id = 0, window = 0;
    ASSERT_EQ(S_OK, root->GetID(&id));
    EXPECT_EQ(1, id);
    ASSERT_EQ(S_OK, root->GetOEMainWindow(&window));
    EXPECT_EQ(IdOf(main), window);
    com_ptr<IPLUMEObj> second = CreateRoot();
    ASSERT_EQ(S_OK, second->GetID(&id));
    EXPECT_EQ(2, id);
    // The client starts on its Inbox, folder 2 in both clients.
    LONG folder = 0;
    EXPECT_EQ(S_OK, root->GetSelectedFolderID(&folder));
    EXPECT_EQ(2, folder);
}

TEST_F(LibraryTest, TransfersRaiseDownloadStartedAndFinished) {
    com_ptr<IPLUMEObj> root = CreateRoot();
    RecordingSink* sink = Listen(root.get(), DIID_IPLUMEObjEvents);
    com_ptr<IPLUMEObj> other = CreateRoot();
    RecordingSink* otherSink = Listen(other.get(), DIID_IPLUMEObjEvents);
    Call(L"StartSend");
    ASSERT_TRUE(WaitForEvent(sink, 7));
    EXPECT_EQ((std::vector<DISPID>{6, 7}), Dispids(sink, {6, 7}));
    ASSERT_TRUE(WaitForEvent(otherSink, 7));
    EXPECT_EQ((std::vector<DISPID>{6, 7}), Dispids(otherSink, {6, 7}));
    EXPECT_TRUE(CallsOf(sink, 6)[0].args.empty());
}

TEST_F(LibraryTest, MessageWindowsOpenChangeAndClose) {
    com_ptr<IPLUMEObj> root = CreateRoot();
    RecordingSink* sink = Listen(root.get(), DIID_IPLUMEObjEvents);
    ASSERT_EQ(S_OK, root->ComposeMessage());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    HWND note = Notes()[0];
    ASSERT_TRUE(StandinProcess::WaitFor([&] {
        for (const auto& c : CallsOf(sink, 11))
            if (c.args == std::vector<long>{IdOf(note)}) return true;
        return false;
    }));

    // The enumeration holds every message window, the preview pane first.
    std::vector<LONG> ids;
    LONG id = 0;
    EXPECT_EQ(S_OK, root->GetFirstMsgWndID(&id));
    for (; id != -1; root->GetNextMsgWndID(&id)) ids.push_back(id);
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(IdOf(note), ids[1]);
    {
        com_ptr<IOEMsgWnd> preview;
        ASSERT_EQ(S_OK, root->GetMsgWnd(-1, preview.put()));
        ASSERT_TRUE(preview);
        LONG previewId = 0;
        preview->GetID(&previewId);
        EXPECT_EQ(ids[0], previewId);
        // No message is selected, and the compose window's toolbar was
        // created since: the pane counts as empty from then on.
        EXPECT_TRUE(Call(L"SelectedRows").Array().empty());
        tagWNDSTYLE style = OE_MSG_INVALID;
        EXPECT_EQ(S_OK, preview->GetWndStyle(&style));
        EXPECT_EQ(client_numbers::kEmptyMsgWnd, style);
    }
    {
        com_ptr<IOEMsgWnd> msgWnd;
        ASSERT_EQ(S_OK, root->GetMsgWnd(IdOf(note), msgWnd.put()));
        ASSERT_TRUE(msgWnd);
        bstr subject(L"Привет, мир — 你好");
        EXPECT_EQ(S_OK, msgWnd->SetSubject(subject.get()));
        bstr to(L"ana@example.org");
        EXPECT_EQ(S_OK, msgWnd->SetTo(to.get()));
        EXPECT_EQ(subject.str(), Call(L"GetField", {IdOf(note), 1004}).Str());
        EXPECT_EQ(L"ana@example.org", Call(L"GetField", {IdOf(note), 1001}).Str());
        bstr read;
        EXPECT_EQ(S_OK, msgWnd->GetSubject(read.put()));
        EXPECT_EQ(subject.str(), read.str());
        // The user types; the library reads what the window holds.
        Call(L"TypeText", {IdOf(note), 1003, L"bo@example.org"});
        bstr cc;
        EXPECT_EQ(S_OK, msgWnd->GetCc(cc.put()));
        EXPECT_EQ(L"bo@example.org", cc.str());
        com_ptr<IOEMsgWnd> none;
        EXPECT_EQ(S_OK, root->GetMsgWnd(IdOf(main), none.put())) << "the main window is no message window";
        EXPECT_FALSE(none);
    }

    // The user closes it: OnMsgWndClosed with isMainWindow 0, and it leaves the enumeration.
    Call(L"CloseNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink, 12));
    EXPECT_EQ((std::vector<long>{IdOf(note), 0}), CallsOf(sink, 12)[0].args);
    EXPECT_EQ(S_OK, root->GetFirstMsgWndID(&id));
    EXPECT_EQ(ids[0], id);
    EXPECT_EQ(S_OK, root->GetNextMsgWndID(&id));
    EXPECT_EQ(-1, id);
}

TEST_F(LibraryTest, OpenCurrentMessageOpensAReadWindow) {
    com_ptr<IPLUMEObj> root = CreateRoot();
    RecordingSink* sink = Listen(root.get(), DIID_IPLUMEObjEvents);
    Call(L"SelectFolder", {InboxId()});
    std::vector<Var> rows = Call(L"Rows").Array();
    ASSERT_FALSE(rows.empty());
    std::vector<Var> firstRow = rows[0].Array();
    Call(L"SelectRows", {0});
    EXPECT_EQ(S_OK, root->OpenCurrentMessage());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    HWND note = Notes().at(0);
    ASSERT_TRUE(WaitForEvent(sink, 11));
    com_ptr<IOEMsgWnd> msgWnd;
    ASSERT_EQ(S_OK, root->GetMsgWnd(IdOf(note), msgWnd.put()));
    bstr subject;
    ASSERT_EQ(S_OK, msgWnd->GetSubject(subject.put()));
    EXPECT_EQ(firstRow.at(3).Str(), subject.str());
    msgWnd.reset();
    Call(L"CloseNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink, 12));
}

TEST_F(LibraryTest, ClosingTheClientEndsTheServer) {
    {
        com_ptr<IPLUMEObj> root = CreateRoot();
        ASSERT_TRUE(root);
    }
    EXPECT_FALSE(IsSet(events_.shutdown));
    EXPECT_TRUE(client->Close());
    EXPECT_EQ(0u, client->exitCode());
    EXPECT_TRUE(IsSet(events_.shutdown));
    EXPECT_FALSE(IsSet(events_.init));
    client.reset();
}

TEST_F(LibraryTest, AScriptClientHearsEventsAndChangesAWindow) {
    const std::wstring output = OwnFolder() + L"root_events.out";
    PROCESS_INFORMATION pi = StartScript(ScriptPath(L"root_events.vbs"), output);
    // The script waits, pumping, for its events; the client serves it meanwhile.
    bool ended = StandinProcess::WaitFor([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; },
                                         60000);
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::vector<std::string> lines = ReadLines(output);
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    ASSERT_TRUE(ended) << all;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("PASS", lines.back()) << all;
    EXPECT_NE(std::string::npos, all.find("subject Greetings from a script"));
}

TEST_F(LibraryTest, AClientThatDiesHoldingObjectsDoesNotKeepTheMailClientAlive) {
    const std::wstring output = OwnFolder() + L"hold_root.out";
    PROCESS_INFORMATION pi = StartScript(ScriptPath(L"hold_root.vbs"), output);
    ASSERT_TRUE(StandinProcess::WaitFor(
        [&] {
            auto lines = ReadLines(output);
            return !lines.empty() && lines[0].rfind("holding", 0) == 0;
        },
        30000));
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // The dead client's references would keep the shutdown waiting for ever;
    // no connected client answers, so they are disconnected at once rather
    // than after the 10 s grace period that clients which answer are given.
    const DWORD start = GetTickCount();
    Call(L"Quit");
    EXPECT_TRUE(client->WaitForExit(60000));
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 9000u) << "the close waited for a client that is gone";
    EXPECT_TRUE(IsSet(events_.shutdown));
    client.reset();
}

}  // namespace
}  // namespace plume::test
