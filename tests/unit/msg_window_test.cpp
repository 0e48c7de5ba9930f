// Message window records against windows this test builds in the client's
// shape: subclassing, kinds, the once-only removal and its reports, and the
// envelope and plain-text body access.
#include <gtest/gtest.h>
#include <windows.h>
#include <richedit.h>

#include <string>
#include <vector>

#include "host/hooks.h"
#include "host/msg_content.h"
#include "host/msg_wnd_list.h"
#include "com_ptr.h"
#include "manager/callback_window.h"
#include "server/class_objects.h"

#include <plume.h>

namespace {

struct Reports {
    std::vector<std::pair<HWND, int>> lifecycle;
    std::vector<int> shutdowns;
};
Reports* g_reports = nullptr;

class MessageWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadLibraryA("msftedit.dll");
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        for (const char* name : {"ATH_Note", "OE_Envelope", "ME_DocHost", "RichEdDoc Class"}) {
            wc.lpszClassName = name;
            RegisterClassA(&wc);
        }
        g_reports = &reports_;
        plume::HostNotifyCallbacks& cb = plume::Callbacks();
        cb.onMsgWndLifecycle = [](HWND w, int what) { g_reports->lifecycle.push_back({w, what}); };
        cb.onShutdown = [](int endSession) { g_reports->shutdowns.push_back(endSession); };
    }
    void TearDown() override {
        plume::Callbacks() = plume::HostNotifyCallbacks{};
        g_reports = nullptr;
    }

    // An "ATH_Note" with an envelope and a plain-text body editor.
    HWND MakeNote() {
        HWND note = CreateWindowA("ATH_Note", "Note", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 400, nullptr, nullptr,
                                  nullptr, nullptr);
        HWND envelope = CreateWindowA("OE_Envelope", "", WS_CHILD | WS_VISIBLE, 0, 0, 600, 100, note, nullptr,
                                      nullptr, nullptr);
        for (int id : {plume::kEnvelopeTo, plume::kEnvelopeCc, plume::kEnvelopeSubject, plume::kEnvelopeBcc}) {
            DWORD style = WS_CHILD | (id == plume::kEnvelopeBcc ? 0 : WS_VISIBLE);
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
    WNDPROC original = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(note, GWLP_WNDPROC));
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(plume::MsgWndProc), GetWindowLongPtrA(note, GWLP_WNDPROC));
    EXPECT_EQ(record, plume::FindMsgWnd(note, false));
    EXPECT_EQ(record, plume::FindMsgWnd(plume::MsgWndHandle(record->id()), false));
    EXPECT_EQ(nullptr, plume::FindPreviewMsgWnd(false));
    EXPECT_EQ(0, plume::GetWndStyle(record)) << "its toolbar is not found yet";
    EXPECT_EQ(0, plume::GetWndStyle(nullptr));

    // The first child's creation starts the timer; the first tick reports it.
    SendMessageA(note, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0), 0);
    EXPECT_NE(0u, record->timer);
    SendMessageA(note, WM_TIMER, record->timer, 0);
    EXPECT_EQ(1, record->initialized);
    ASSERT_EQ(1u, reports_.lifecycle.size());
    EXPECT_EQ(std::make_pair(note, 1), reports_.lifecycle[0]);

    // Destruction removes the record once, reports the close, then asks for shutdown.
    DestroyWindow(note);
    EXPECT_EQ(nullptr, plume::FindMsgWnd(note, false));
    EXPECT_EQ(0u, plume::MsgWndCount());
    ASSERT_EQ(2u, reports_.lifecycle.size());
    EXPECT_EQ(std::make_pair(note, 2), reports_.lifecycle[1]);
    EXPECT_EQ(std::vector<int>{0}, reports_.shutdowns);
    (void)original;
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

TEST_F(MessageWindowTest, EnvelopeFieldsRoundTripUnicodeText) {
    HWND note = MakeNote();
    plume::OEPluginMsgWnd* record = plume::AddMsgWnd(note, false);
    const std::wstring subject = L"Отчёт за квартал — 四半期報告 " + std::wstring(2000, L'x');
    EXPECT_NE(0, plume::SetEnvelopeField(record, plume::kEnvelopeSubject, subject.c_str()));
    EXPECT_EQ(subject, plume::GetEnvelopeField(record, plume::kEnvelopeSubject).str());
    EXPECT_NE(0, plume::SetEnvelopeField(record, plume::kEnvelopeTo, L"ana@example.org; bo@example.org"));
    HWND envelope = FindWindowExA(note, nullptr, "OE_Envelope", nullptr);
    EXPECT_EQ(L"ana@example.org; bo@example.org", Text(GetDlgItem(envelope, plume::kEnvelopeTo)));
    EXPECT_TRUE(SendMessageA(GetDlgItem(envelope, plume::kEnvelopeTo), EM_GETMODIFY, 0, 0));
    // A null text empties the field.
    plume::SetEnvelopeField(record, plume::kEnvelopeTo, nullptr);
    EXPECT_EQ(L"", Text(GetDlgItem(envelope, plume::kEnvelopeTo)));
    // Windows Mail reads a hidden Bcc line as none.
    plume::SetEnvelopeField(record, plume::kEnvelopeBcc, L"hidden@example.org");
    EXPECT_EQ(nullptr, plume::GetEnvelopeField(record, plume::kEnvelopeBcc).get());
    // A control the window does not have.
    EXPECT_EQ(0, plume::SetEnvelopeField(record, 1002, L"x"));
    EXPECT_EQ(nullptr, plume::GetEnvelopeField(record, 1002).get());
    DestroyWindow(note);
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

}  // namespace

namespace {

// An OEMsgWnd made through its class object is never bound: every call
// succeeds with nothing.
TEST(UnboundMessageWindow, AnswersEveryCallWithNothing) {
    IClassFactory* factory = plume::FindClassFactory(CLSID_OEMsgWnd);
    plume::com_ptr<IOEMsgWnd> w;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IOEMsgWnd, w.put_void()));
    LONG id = 0, length = 7;
    EXPECT_EQ(S_OK, w->GetID(&id));
    EXPECT_EQ(-1, id);
    EXPECT_EQ(S_OK, w->GetBodyLength(&length));
    EXPECT_EQ(0, length);
    tagWNDSTYLE style = OE_OTHER_WND;
    EXPECT_EQ(S_OK, w->GetWndStyle(&style));
    EXPECT_EQ(OE_MSG_INVALID, style);
    BSTR text = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(S_OK, w->GetSubject(&text));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(S_OK, w->GetBody(&text));
    EXPECT_EQ(nullptr, text);
    IDispatch* document = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(S_OK, w->GetIHTMLDocument2(&document));
    EXPECT_EQ(nullptr, document);
    EXPECT_EQ(S_OK, w->SetBody(nullptr));
    EXPECT_EQ(S_OK, w->SetBodyHTML(nullptr));
    EXPECT_EQ(S_OK, w->SetTo(nullptr));
    EXPECT_EQ(S_OK, w->SendMail());
    EXPECT_EQ(S_OK, w->CancelSend());
    EXPECT_EQ(S_OK, w->SendKey(0x141, 0, 0));
    // Out pointers come first.
    EXPECT_EQ(E_POINTER, w->GetTo(nullptr));
    EXPECT_EQ(E_POINTER, w->GetBodyLength(nullptr));
    EXPECT_EQ(E_POINTER, w->GetWndStyle(nullptr));
}

}  // namespace
