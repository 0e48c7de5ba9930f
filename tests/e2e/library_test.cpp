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
#include "com_ptr.h"
#include "e2e_common.h"
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

// The named events, held as a plug-in holds them.
struct NamedEvents {
    unique_handle init{CreateEventA(nullptr, TRUE, FALSE, "PLUME_INIT_EVENT")};
    unique_handle shutdown{CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT")};
};

bool IsSet(const unique_handle& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

class LibraryTest : public StandinTest {
protected:
    void SetUp() override {
        StartClient(L"/resetstore /nosave");
        ASSERT_TRUE(Call(L"LibraryStarted").Bool());
        // The init event follows the return of StartServer.
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return IsSet(events_.init); }, 10000));
    }
    void TearDown() override {
        sinks_.clear();
        StandinTest::TearDown();
    }

    static com_ptr<IPLUMEObj> CreateRoot() {
        com_ptr<IPLUMEObj> root;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                         root.put_void()));
        return root;
    }

    // A recording sink advised on `source` for `events`.
    RecordingSink* Listen(IUnknown* source, const IID& events) {
        auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(events));
        com_ptr<IConnectionPointContainer> cpc;
        source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
        com_ptr<IConnectionPoint> cp;
        EXPECT_EQ(S_OK, cpc->FindConnectionPoint(events, cp.put()));
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, cp->Advise(sink.get(), &cookie));
        sinks_.push_back(sink);
        return sink.get();
    }

    // The calls of one event, in order (the preview pane's own creation, for
    // one, may arrive at any time after start-up).
    static std::vector<SinkCall> CallsOf(const RecordingSink* sink, DISPID dispid) {
        std::vector<SinkCall> out;
        for (const auto& c : sink->calls)
            if (c.dispid == dispid) out.push_back(c);
        return out;
    }
    static bool WaitForEvent(const RecordingSink* sink, DISPID dispid, size_t count = 1, DWORD ms = 10000) {
        return StandinProcess::WaitFor([&] { return CallsOf(sink, dispid).size() >= count; }, ms);
    }
    static std::vector<DISPID> Dispids(const RecordingSink* sink, std::initializer_list<DISPID> only) {
        std::vector<DISPID> out;
        for (const auto& c : sink->calls)
            for (DISPID d : only)
                if (c.dispid == d) out.push_back(c.dispid);
        return out;
    }

    static long IdOf(HWND window) { return static_cast<long>(reinterpret_cast<INT_PTR>(window)); }

    NamedEvents events_;
    std::vector<com_ptr<RecordingSink>> sinks_;
};

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
    // Nothing is selected before the selection is tracked.
    LONG folder = 0;
    EXPECT_EQ(S_OK, root->GetSelectedFolderID(&folder));
    EXPECT_EQ(-1, folder);
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
        tagWNDSTYLE style = OE_MSG_INVALID;
        EXPECT_EQ(S_OK, preview->GetWndStyle(&style));
        EXPECT_TRUE(style == OE_CURRENT_MSG_WND || style == OE_EMPTY_MSG_WND) << style;
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

// Runs a script with Wine's script host; its output lines, or a failure.
struct ScriptRun {
    DWORD exitCode = 0;
    std::vector<std::string> lines;
    PROCESS_INFORMATION pi{};
};

std::wstring ScriptPath(const wchar_t* name) { return OwnFolder() + L"scripts\\" + name; }

// Starts `cscript //nologo script` with its output going to `outputFile`.
PROCESS_INFORMATION StartScript(const std::wstring& script, const std::wstring& outputFile) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = out;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring command = L"cscript.exe //nologo \"" + script + L"\"";
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    CloseHandle(out);
    return pi;
}

std::vector<std::string> ReadLines(const std::wstring& file) {
    std::ifstream in(WideToUtf8(file.c_str()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
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
    // after a quiet 30 seconds they are disconnected and the client exits.
    const DWORD start = GetTickCount();
    Call(L"Quit");
    EXPECT_TRUE(client->WaitForExit(60000));
    const DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 25000u);
    EXPECT_TRUE(IsSet(events_.shutdown));
    client.reset();
}

}  // namespace
}  // namespace plume::test
