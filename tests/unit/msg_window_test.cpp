// Message window records against windows this test builds in the client's
// shape: subclassing, kinds, the once-only removal and its reports, and the
// envelope and plain-text body access.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <thread>
#include <vector>

#include "bstr.h"
#include "client_numbers.h"
#include "host/hooks.h"
#include "host/msg_content.h"
#include "host/msg_wnd_list.h"
#include "host/oe_msg_wnd.h"
#include "manager/callback_window.h"
#include "manager/plume_obj.h"
#include "object_events.h"
#include "pumping_wait.h"
#include "recipient_object.h"
#include "sink_thread.h"
#include "unique_any.h"
#include "variant_scope.h"
#include "window_class.h"

namespace {

using namespace plume::test::client_numbers;
constexpr WPARAM kSend = kSendCommand;

struct Reports {
    std::vector<std::pair<HWND, int>> lifecycle;
    std::vector<int> shutdowns;
};
Reports* g_reports = nullptr;

// The window's own procedure under the library's subclass: what the client
// itself got.
std::vector<std::pair<WPARAM, LPARAM>> g_clientCommands;
LRESULT CALLBACK ClientNoteProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) g_clientCommands.push_back({wParam, lParam});
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class MessageWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadLibraryA("msftedit.dll");
        for (const char* name : {"ATH_Note", "OE_Envelope", "ME_DocHost", "RichEdDoc Class"})
            plume::test::WindowClass(name);
        g_reports = &reports_;
        plume::HostNotifyCallbacks& cb = plume::Callbacks();
        cb.onMsgWndLifecycle = [](HWND w, int what) { g_reports->lifecycle.push_back({w, what}); };
        cb.onShutdown = [](int endSession) { g_reports->shutdowns.push_back(endSession); };
    }
    void TearDown() override {
        plume::Callbacks() = plume::HostNotifyCallbacks{};
        g_reports = nullptr;
    }

    // An "ATH_Note" with an envelope and a plain-text body editor; its own
    // procedure records the commands it gets when `recordCommands`.
    HWND MakeNote(bool recordCommands = false) {
        HWND note = CreateWindowA("ATH_Note", "Note", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 400, nullptr, nullptr,
                                  nullptr, nullptr);
        if (recordCommands) SetWindowLongPtrA(note, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClientNoteProc));
        g_clientCommands.clear();
        HWND envelope = CreateWindowA("OE_Envelope", "", WS_CHILD | WS_VISIBLE, 0, 0, 600, 100, note, nullptr,
                                      nullptr, nullptr);
        for (int id : {kTo, kCc, kSubject, kBcc}) {
            DWORD style = WS_CHILD | (id == kBcc ? 0 : WS_VISIBLE);
            CreateWindowA("RichEdit50W", "", style, 0, 0, 500, 20, envelope,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
        }
        HWND host = CreateWindowA("ME_DocHost", "", WS_CHILD | WS_VISIBLE, 0, 100, 600, 300, note, nullptr,
                                  nullptr, nullptr);
        HWND doc = CreateWindowA("RichEdDoc Class", "", WS_CHILD | WS_VISIBLE, 0, 0, 600, 300, host, nullptr,
                                 nullptr, nullptr);
        editor_ = CreateWindowA("RichEdit50W", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 600, 300, doc,
                                nullptr, nullptr, nullptr);
        return note;
    }
    static std::wstring Text(HWND control) {
        wchar_t buffer[4096] = L"";
        GETTEXTEX get{sizeof buffer, GT_DEFAULT, 1200, nullptr, nullptr};
        SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get), reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }

    Reports reports_;
    HWND editor_ = nullptr;
};

TEST_F(MessageWindowTest, RecordsSubclassAndTearDownOnce) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(plume::MsgWndProc), GetWindowLongPtrA(note, GWLP_WNDPROC));
    EXPECT_EQ(record, plume::FindMsgWnd(note, false));
    EXPECT_EQ(record, plume::FindMsgWnd(plume::MsgWndHandle(record->id()), false));
    EXPECT_EQ(nullptr, plume::FindPreviewMsgWnd(false));
    EXPECT_EQ(0, plume::GetWndStyle(record)) << "its toolbar is not found yet";
    EXPECT_EQ(0, plume::GetWndStyle(nullptr));

    // The first child's creation starts timer 1; its first tick reports the
    // window and ends it. Later children do not start it again: the client's
    // window would get a tick every 100 ms for the rest of its life.
    SendMessageA(note, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0), 0);
    ASSERT_EQ(1u, record->timer) << "timer id 1";
    SendMessageA(note, WM_TIMER, 1, 0);
    EXPECT_EQ(1, record->initialized);
    ASSERT_EQ(1u, reports_.lifecycle.size());
    EXPECT_EQ(std::make_pair(note, 1), reports_.lifecycle[0]);
    SendMessageA(note, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0), 0);
    EXPECT_EQ(0u, record->timer);

    // Destruction removes the record once, reports the close, then asks for shutdown.
    DestroyWindow(note);
    EXPECT_EQ(nullptr, plume::FindMsgWnd(note, false));
    EXPECT_EQ(0u, plume::MsgWndCount());
    ASSERT_EQ(2u, reports_.lifecycle.size());
    EXPECT_EQ(std::make_pair(note, 2), reports_.lifecycle[1]);
    EXPECT_EQ(std::vector<int>{0}, reports_.shutdowns);
}

TEST_F(MessageWindowTest, KindsOfEmbeddedViews) {
    HWND parent = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HWND view = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
    HWND other = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
    plume::OEPluginMsgWnd* preview = plume::AddMsgWnd(view, true);
    plume::OEPluginMsgWnd* embedded = plume::AddMsgWnd(other, true);
    EXPECT_EQ(16, plume::GetWndStyle(preview)) << "OE_OTHER_WND until marked";
    preview->isPreview = 1;
    EXPECT_EQ(4, plume::GetWndStyle(preview));
    preview->isEmpty = 1;
    EXPECT_EQ(8, plume::GetWndStyle(preview));
    EXPECT_EQ(16, plume::GetWndStyle(embedded));
    EXPECT_EQ(preview, plume::FindPreviewMsgWnd(false));
    EXPECT_EQ(preview, plume::FindMsgWnd(plume::MsgWndHandle(-1), false)) << "-1 finds the preview pane";
    EXPECT_EQ(embedded, plume::GetMsgWndByIndex(1, false));
    EXPECT_EQ(nullptr, plume::GetMsgWndByIndex(2, false));
    // Views without a toolbar host are removed before their close is reported.
    DestroyWindow(parent);
    EXPECT_EQ(0u, plume::MsgWndCount());
    EXPECT_EQ(2u, reports_.lifecycle.size());
}

// Outlook Express shows resolved recipients as embedded objects; reading a
// field spells each one out as the text its clipboard data offers.
TEST_F(MessageWindowTest, OutlookExpressReadsRecipientObjectsAsTheirText) {
    plume::test::VariantScope oe(false);
    using plume::test::InsertRecipient;
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    HWND envelope = FindWindowExA(note, nullptr, "OE_Envelope", nullptr);
    HWND to = GetDlgItem(envelope, kTo);
    plume::test::MarkObjectsAsTheClientDoes(to);
    auto type = [&](const wchar_t* text) { SendMessageW(to, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text)); };
    ASSERT_TRUE(InsertRecipient(to, L"Anna Berg <anna.berg@northwind.example>"));
    type(L"; ");
    ASSERT_TRUE(InsertRecipient(to, L"Чэнь Вэй <chen.wei@example.org>"));
    type(L"; typed@example.org; ");
    ASSERT_TRUE(InsertRecipient(to, L"only a picture", false));
    EXPECT_EQ(3, plume::test::g_liveRecipients) << "the control holds three objects";
    EXPECT_EQ(L"Anna Berg <anna.berg@northwind.example>; Чэнь Вэй <chen.wei@example.org>; typed@example.org; ",
              plume::GetEnvelopeField(record, kTo).str())
        << "an object without text is left out";

    EXPECT_EQ(nullptr, plume::GetEnvelopeField(record, kCc).get()) << "an empty line reads as none";
    DestroyWindow(note);
    EXPECT_EQ(0, plume::test::g_liveRecipients) << "the library kept a reference on a recipient";
}

// The window object reaches each envelope line by the client's own number,
// with Unicode text of any length, marked as changed as a user's typing is.
TEST_F(MessageWindowTest, TheWindowObjectUsesTheClientsEnvelopeControls) {
    struct Line {
        int id;
        HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*set)(BSTR);
        HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*get)(BSTR*);
    };
    const Line lines[] = {{kTo, &IOEMsgWnd::SetTo, &IOEMsgWnd::GetTo},
                          {kCc, &IOEMsgWnd::SetCc, &IOEMsgWnd::GetCc},
                          {kSubject, &IOEMsgWnd::SetSubject, &IOEMsgWnd::GetSubject},
                          {kBcc, &IOEMsgWnd::SetBcc, &IOEMsgWnd::GetBcc}};
    for (bool windowsMail : {false, true}) {
        SCOPED_TRACE(windowsMail ? "Windows Mail" : "Outlook Express");
        plume::test::VariantScope variant(windowsMail);
        HWND note = MakeNote();
        plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
        HWND envelope = FindWindowExA(note, nullptr, "OE_Envelope", nullptr);
        {
            plume::com_ptr<plume::OEMsgWnd> w = plume::MakeObject<plume::OEMsgWnd>();
            w->Bind(record->id());
            // A hidden Bcc line: Outlook Express reads it, Windows Mail reads none.
            EXPECT_EQ(S_OK, w->SetBcc(plume::bstr(L"hidden@example.org").get()));
            EXPECT_EQ(windowsMail ? L"" : L"hidden@example.org", plume::test::Text(w.get(), &IOEMsgWnd::GetBcc));
            ShowWindow(GetDlgItem(envelope, kBcc), SW_SHOW);
            for (const Line& line : lines) {
                const std::wstring text = L"Отчёт — 四半期 " + std::to_wstring(line.id) + std::wstring(2000, L'x');
                HWND control = GetDlgItem(envelope, line.id);
                EXPECT_EQ(S_OK, (w.get()->*line.set)(plume::bstr(text).get()));
                EXPECT_EQ(text, Text(control)) << line.id;
                EXPECT_TRUE(SendMessageA(control, EM_GETMODIFY, 0, 0)) << line.id;
                SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"typed"));
                EXPECT_EQ(L"typed", plume::test::Text(w.get(), line.get)) << line.id;
            }
            EXPECT_EQ(S_OK, w->SetTo(nullptr));
            EXPECT_EQ(L"", Text(GetDlgItem(envelope, kTo))) << "a null text empties the line";
        }
        // A control the window does not have.
        EXPECT_EQ(0, plume::SetEnvelopeField(record, 1002, L"x"));
        EXPECT_EQ(nullptr, plume::GetEnvelopeField(record, 1002).get());
        DestroyWindow(note);
    }
}

TEST_F(MessageWindowTest, PlainTextBodyThroughTheWindowsOwnThread) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    const std::wstring text = L"Hello Ωmega\r\nSecond line";
    EXPECT_EQ(1, plume::SetBody(record, text.c_str()));
    EXPECT_EQ(L"Hello Ωmega\rSecond line", Text(editor_));
    EXPECT_EQ(L"Hello Ωmega\r\nSecond line", plume::GetBody(record).str());
    EXPECT_EQ(0, plume::GetBodyLength(record)) << "the plain-text editor is not measured";
    EXPECT_EQ(nullptr, plume::GetDocumentDispatch(record));
    EXPECT_EQ(1, plume::SetBodyHTML(record, nullptr));
    EXPECT_EQ(L"", Text(editor_));
    // A closing record answers nothing and sends nothing.
    record->closing = 1;
    EXPECT_EQ(0, plume::SetBody(record, L"lost"));
    EXPECT_EQ(nullptr, plume::GetBody(record).get());
    record->closing = 0;
    DestroyWindow(note);
}

// Registered messages that another program may post with any parameters.
TEST_F(MessageWindowTest, OthersPostsOfTheLibrarysMessagesChangeNothing) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    const plume::RegisteredMessages& m = plume::Messages();
    SendMessageW(editor_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"kept"));
    EXPECT_EQ(1, SendMessageA(note, m.setBody, 0x1234, 0)) << "not taken for a text";
    EXPECT_EQ(L"kept", Text(editor_));
    SendMessageA(note, m.destroyMsgWnd, 0, 0);
    EXPECT_EQ(record, plume::FindMsgWnd(note, false)) << "a live window keeps its record";
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(plume::MsgWndProc), GetWindowLongPtrA(note, GWLP_WNDPROC));
    EXPECT_TRUE(reports_.shutdowns.empty());
    DestroyWindow(note);
    EXPECT_EQ(nullptr, plume::FindMsgWnd(note, false)) << "its own destruction still removes it";
}

TEST_F(MessageWindowTest, ASendPressIsNeverLost) {
    plume::PLUMEManager* manager = plume::PLUMEManager::Get(true);
    HWND note = MakeNote(true);
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);

    // Nobody could hear the press (no server yet): the client sends as usual.
    plume::Callbacks().onMsgWndSendButton = [](HWND, int) { return 0; };
    SendMessageA(note, WM_COMMAND, kSend, 0);
    EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{kSend, 0}}), g_clientCommands);
    EXPECT_EQ(0, record->sendPending) << "later presses are not swallowed";

    // Reported: the client does not see it until the confirmation passes it
    // on, which it does even when shutdown has closed the event gate and the
    // window's toolbar was never found.
    g_clientCommands.clear();
    plume::Callbacks().onMsgWndSendButton = [](HWND, int) { return 1; };
    SendMessageA(note, WM_COMMAND, kSend, 0);
    EXPECT_TRUE(g_clientCommands.empty());
    EXPECT_EQ(1, record->sendPending);
    manager->SetShuttingDown();
    manager->RaiseOnSendButtonMsgWndClicked(note, 0);
    EXPECT_EQ(0, record->sendPending);
    EXPECT_EQ(40411, manager->sendButtonCommand) << "the next store change skips its replay";
    plume::test::Pump();
    EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{kSend, static_cast<LPARAM>(-1)}}), g_clientCommands);

    DestroyWindow(note);
    plume::test::FreshManager();  // the next test's, with its event gate open
}

// Serves this thread (the server thread here) until no Send press is held.
bool ServeWhileHeld(plume::PLUMEManager* manager, DWORD ms) {
    plume::pumping_wait serve;
    for (const DWORD start = GetTickCount(); manager->HeldSendPressCount() > 0;) {
        if (GetTickCount() - start > ms) return false;
        serve.wait(50);
    }
    return true;
}

// Handlers of another apartment that answer after the bound on their call:
// one that asks its user for longer still cancels; one that never answers
// (nor to a probe) has its press dropped after the silence bound, leaving
// the window ready for another press.
TEST_F(MessageWindowTest, APressWaitsForHandlersThatAnswerLate) {
    constexpr DWORD kAsksItsUserMs = 2 * plume::kSinkAnswerMs;
    struct Case {
        const char* name;
        bool answers;  // false: blocks without pumping until the test lets it go
        DWORD silenceMs;
    };
    struct SilenceScope {
        DWORD previous;
        ~SilenceScope() { plume::SetSendPressSilenceForTesting(previous); }
    };
    static int reports;
    for (const Case& c : {Case{"asks its user, then cancels", true, plume::kSendPressSilenceMs},
                          Case{"never answers", false, 3000}}) {
        SCOPED_TRACE(c.name);
        plume::PLUMEManager* manager = plume::PLUMEManager::Get(true);
        SilenceScope silence{plume::SetSendPressSilenceForTesting(c.silenceMs)};
        HWND note = MakeNote(true);
        plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
        reports = 0;
        plume::Callbacks().onMsgWndSendButton = [](HWND, int) {
            ++reports;
            return 1;
        };

        plume::unique_handle letGo(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        HRESULT cancelled = E_PENDING;
        int presses = 0;
        auto root = plume::MakeObject<plume::PLUMEObj>();
        {
            // A client in an apartment of its own (a thread of this process,
            // reached through proxies as another process would be).
            plume::test::SinkThread client(DIID_IPLUMEObjEvents, static_cast<IPLUMEObj*>(root.get()), IID_IPLUMEObj);
            client.sink()->onCall = [&](const plume::test::SinkCall& call) {
                if (call.dispid != root_event::kSendButtonMsgWndClicked || ++presses > 1) return;  // only the first press is delayed
                if (!c.answers) {
                    WaitForSingleObject(letGo.get(), 60000);
                    return;
                }
                plume::pumping_wait().wait(kAsksItsUserMs);
                plume::com_ptr<IOEMsgWnd> window;
                client.peer<IPLUMEObj>()->GetMsgWnd(call.args.at(0), window.put());
                cancelled = window ? window->CancelSend() : E_FAIL;
            };
            struct LetGoOnExit {
                HANDLE event;
                ~LetGoOnExit() { SetEvent(event); }
            } letGoOnExit{letGo.get()};
            ASSERT_NE(0u, client.AdviseOn(static_cast<IPLUMEObj*>(root.get())));

            SendMessageA(note, WM_COMMAND, kSend, 0);
            ASSERT_EQ(1, record->sendPending);
            manager->RaiseOnSendButtonMsgWndClicked(note, 0);
            EXPECT_EQ(1u, manager->HeldSendPressCount()) << "the handler did not answer within its bound";
            plume::test::Pump();
            EXPECT_TRUE(g_clientCommands.empty());
            // A second press while the first is held is swallowed.
            SendMessageA(note, WM_COMMAND, kSend, 0);
            EXPECT_EQ(1, reports);
            EXPECT_TRUE(ServeWhileHeld(manager, 20000));
            plume::test::Pump();
            EXPECT_TRUE(g_clientCommands.empty()) << "a press its handler may cancel went on";
            if (c.answers) {
                EXPECT_EQ(S_OK, cancelled);
                EXPECT_EQ(0, record->sendPending);
            } else {
                // Dropped: the window takes a press again, and once the
                // handler answers that one goes on once.
                EXPECT_EQ(0, record->sendPending);
                SetEvent(letGo.get());
                SendMessageA(note, WM_COMMAND, kSend, 0);
                EXPECT_EQ(2, reports);
                plume::pumping_wait().wait(500);
                manager->RaiseOnSendButtonMsgWndClicked(note, 0);
                EXPECT_TRUE(ServeWhileHeld(manager, 20000));
                plume::test::Pump();
                EXPECT_EQ((std::vector<std::pair<WPARAM, LPARAM>>{{kSend, static_cast<LPARAM>(-1)}}),
                          g_clientCommands);
            }
        }
        root.reset();
        DestroyWindow(note);
        plume::test::FreshManager();
    }
}

TEST_F(MessageWindowTest, EveryObjectOfAWindowHearsItCloseAndCanBeLetGo) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    plume::com_ptr<plume::OEMsgWnd> first = plume::MakeObject<plume::OEMsgWnd>(),
                                    second = plume::MakeObject<plume::OEMsgWnd>();
    std::vector<plume::com_ptr<plume::test::RecordingSink>> sinks;
    for (auto* w : {first.get(), second.get()}) {
        w->Bind(record->id());
        sinks.push_back(plume::test::Advise(static_cast<IOEMsgWnd*>(w), DIID_IOEMsgWndEvents));
        ASSERT_TRUE(sinks.back());
    }
    plume::PLUMEManager::Get(true)->RaiseOnMsgWndClosed(record->id(), 0);
    for (auto& sink : sinks)
        EXPECT_EQ(std::vector<DISPID>{msgwnd_event::kClose}, sink->Dispids()) << "each object hears OnClose";
    // A window being removed can take itself back from the objects.
    plume::PLUMEManager::Get(true)->UnbindMsgWnds(record);
    EXPECT_EQ(-1, plume::test::IdOf(first));
    EXPECT_FALSE(second->bound());
    DestroyWindow(note);
    EXPECT_EQ(0u, plume::MsgWndCount());
}

TEST_F(MessageWindowTest, RemovalWaitsForHoldersWithoutSpinningAndThenUnbindsThem) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    // Another thread holds the record, as a client's object on the server
    // thread does, and lets go only when asked to unbind.
    static HANDLE release;
    release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const plume::unique_handle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread holder([&] {
        plume::LockMsgWnd(record);
        SetEvent(held.get());
        WaitForSingleObject(release, 30000);
        plume::UnlockMsgWnd(record);
    });
    WaitForSingleObject(held.get(), 5000);
    static int unbinds;
    unbinds = 0;
    plume::SetMsgWndUnbinder([](plume::OEPluginMsgWnd*) {
        ++unbinds;
        SetEvent(release);
    });
    plume::SetMsgWndUnbindGrace(300);
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel0, &user0);
    const DWORD started = GetTickCount();
    DestroyWindow(note);
    const DWORD waited = GetTickCount() - started;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel1, &user1);
    holder.join();
    auto ms = [](const FILETIME& a, const FILETIME& b) {
        auto v = [](const FILETIME& f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
        return static_cast<double>(v(b) - v(a)) / 10000.0;
    };
    EXPECT_EQ(1, unbinds);
    EXPECT_EQ(0u, plume::MsgWndCount());
    EXPECT_GE(waited, 250u) << "it waited for the holder";
    EXPECT_LT(ms(user0, user1) + ms(kernel0, kernel1), waited * 0.5) << "the wait spun the processor";
    plume::SetMsgWndUnbinder(nullptr);
    plume::SetMsgWndUnbindGrace(plume::kMsgWndUnbindGraceMs);
    CloseHandle(release);
}

TEST(RebuildDocument, KeepsEverythingAroundTheBody) {
    EXPECT_EQ(L"<HTML><BODY>new</BODY></HTML>", plume::RebuildDocument(L"<p>no body tag</p>", L"new"));
    EXPECT_EQ(L"<HTML><BODY>new</BODY></HTML>", plume::RebuildDocument(L"<HTML><BODY", L"new"));
    EXPECT_EQ(L"<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY bgColor=#ffffff class=x>new</BODY>\r\n</HTML>",
              plume::RebuildDocument(
                  L"<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY bgColor=#ffffff class=x></BODY>\r\n</HTML>", L"new"));
    // No closing tag: one is supplied.
    EXPECT_EQ(L"<HTML><BODY>new</BODY></HTML>", plume::RebuildDocument(L"<HTML><BODY>", L"new"));
    // The search is case-sensitive, as the document object writes upper case.
    EXPECT_EQ(L"<HTML><BODY>x</BODY></HTML>", plume::RebuildDocument(L"<html><body></body></html>", L"x"));
}

// An OEMsgWnd made through its class object is never bound: every call
// succeeds with nothing.
TEST(UnboundMessageWindow, AnswersEveryCallWithNothing) {
    plume::com_ptr<IOEMsgWnd> w;
    ASSERT_EQ(S_OK, plume::FindClassFactory(CLSID_OEMsgWnd)->CreateInstance(nullptr, IID_IOEMsgWnd, w.put_void()));
    EXPECT_EQ(-1, plume::test::IdOf(w));
    EXPECT_EQ(0, plume::test::Get(w, &IOEMsgWnd::GetBodyLength));
    tagWNDSTYLE style = OE_OTHER_WND;
    EXPECT_EQ(S_OK, w->GetWndStyle(&style));
    EXPECT_EQ(OE_MSG_INVALID, style);
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, w->GetSubject(&text));
    EXPECT_EQ(nullptr, text);
    IDispatch* document = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(S_OK, w->GetIHTMLDocument2(&document));
    EXPECT_EQ(nullptr, document);
    for (HRESULT hr : {w->SetBody(nullptr), w->SetBodyHTML(nullptr), w->SetTo(nullptr), w->SendMail(), w->CancelSend(),
                       w->SendKey(0x141, 0, 0)})
        EXPECT_EQ(S_OK, hr);
}

}  // namespace
