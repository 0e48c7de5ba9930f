// Message windows of the stand-in client through OEMsgWnd: their kinds, the
// envelope and the body compared with what the client's controls hold, Send
// pressed and cancelled, windows closing under a client, and messages any
// program may post.
#include "library_fixture.h"

namespace plume::test {
namespace {

class MessageWindows : public RootObjectTest {
protected:
    void TearDown() override {
        // The body's HTML engine was only ever used on its own thread (the
        // library's server thread reaches it through a proxy).
        if (client) {
            EXPECT_EQ(0, Call(L"WrongThreadCalls").Long());
        }
        RootObjectTest::TearDown();
    }
};

TEST_F(MessageWindows, ComposeWindowEnvelopeAndBodyRoundTrip) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> w = MsgWnd(root_.get(), note);
    ASSERT_TRUE(w);
    EXPECT_EQ(kSendWnd, StyleOf(w)) << "its toolbar has Send";

    // What the user types reads back; what is set replaces it.
    Call(L"TypeText", {H(note), kCc, L"bo@example.org"});
    EXPECT_EQ(L"bo@example.org", Text(w, &IOEMsgWnd::GetCc));
    const std::wstring subject = L"Ηλιόλουστη μέρα · 晴れ · " + std::wstring(3000, L'z');
    EXPECT_EQ(S_OK, w->SetSubject(bstr(subject).get()));
    EXPECT_EQ(S_OK, w->SetTo(bstr(L"Anna Berg <anna.berg@northwind.example>").get()));
    EXPECT_EQ(S_OK, w->SetCc(bstr(L"ops@example.org").get()));
    EXPECT_EQ(subject, Call(L"GetField", {H(note), kSubject}).Str());
    EXPECT_EQ(L"Anna Berg <anna.berg@northwind.example>", Call(L"GetField", {H(note), kTo}).Str());
    EXPECT_EQ(subject, Text(w, &IOEMsgWnd::GetSubject));
    EXPECT_EQ(L"ops@example.org", Text(w, &IOEMsgWnd::GetCc));
    // Recipients the client has resolved (embedded objects on Outlook
    // Express) read back as their text.
    Call(L"ResolveNames", {H(note)});
    EXPECT_EQ(IsWm() ? 0 : 1, Call(L"FieldObjects", {H(note), kTo}).Long());
    EXPECT_EQ(Call(L"GetField", {H(note), kTo}).Str(), Text(w, &IOEMsgWnd::GetTo));

    if (!Call(L"NoteInfo", {H(note)}).Array().at(2).Bool()) {
        EXPECT_EQ(0, Get(w, &IOEMsgWnd::GetBodyLength)) << "plain-text bodies are not measured";
        return;
    }
    auto set = [&](HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*setter)(BSTR*), const std::wstring& text) {
        bstr body(text);
        BSTR raw = body.get();
        EXPECT_EQ(S_OK, (w.get()->*setter)(&raw));
    };
    set(&IOEMsgWnd::SetBodyHTML,
        L"<P>Grüße <B>aus</B> Köln</P><!-- a comment --><SCRIPT>var x = 1 < 2;</SCRIPT><P>unclosed <I>tag</P>");
    // Only the body element changes; the library reads back what the view holds.
    EXPECT_NE(std::wstring::npos, Call(L"BodyHtml", {H(note)}).Str().find(L"Grüße <B>aus</B> Köln"));
    const std::wstring read = Text(w, &IOEMsgWnd::GetBody);
    EXPECT_NE(std::wstring::npos, read.find(L"a comment")) << read;
    EXPECT_EQ(static_cast<LONG>(read.size()), Get(w, &IOEMsgWnd::GetBodyLength));
    // Plain replacement rewrites the document around the body.
    set(&IOEMsgWnd::SetBody, L"plain words");
    EXPECT_EQ(L"plain words", Text(w, &IOEMsgWnd::GetBody));
    EXPECT_NE(std::wstring::npos, Call(L"BodyHtml", {H(note)}).Str().find(L"plain words</BODY>"));
    // A null text empties it (a null pointer cannot cross processes).
    BSTR nothing = nullptr;
    EXPECT_EQ(S_OK, w->SetBody(&nothing));
    EXPECT_EQ(L"", Text(w, &IOEMsgWnd::GetBody));
    // Several megabytes arrive whole.
    set(&IOEMsgWnd::SetBodyHTML, std::wstring(3 * 1024 * 1024, L'x'));
    EXPECT_EQ(3 * 1024 * 1024, Get(w, &IOEMsgWnd::GetBodyLength));
    com_ptr<IDispatch> document;
    EXPECT_EQ(S_OK, w->GetIHTMLDocument2(document.put()));
    EXPECT_TRUE(document);
}

TEST_F(MessageWindows, ReadWindowsAndThePreviewPaneAreKindsOfTheirOwn) {
    com_ptr<IOEMsgWnd> preview;
    ASSERT_EQ(S_OK, root_->GetMsgWnd(-1, preview.put()));
    ASSERT_TRUE(preview);
    EXPECT_NE(-1, IdOf(preview));
    Call(L"SelectFolder", {InboxId()});
    Call(L"SelectRows", {1});
    EXPECT_TRUE(StyleOf(preview) == kCurrentMsgWnd || StyleOf(preview) == kEmptyMsgWnd) << StyleOf(preview);
    // No envelope, no toolbar: envelope reads give nothing, Send does nothing.
    EXPECT_EQ(L"", Text(preview, &IOEMsgWnd::GetSubject));
    EXPECT_EQ(S_OK, preview->SendMail());
    EXPECT_EQ(S_OK, preview->SendKey('A', 0, 0));

    HWND note = Call(L"OpenSelected").Hwnd();
    ASSERT_TRUE(WaitForCall(sink_, root_event::kNewMsgWnd, {H(note)}));
    com_ptr<IOEMsgWnd> w = MsgWnd(root_.get(), note);
    ASSERT_TRUE(w);
    EXPECT_EQ(kDetailWnd, StyleOf(w));
    const long message = Call(L"NoteInfo", {H(note)}).Array().at(1).Long();
    EXPECT_EQ(Call(L"MessageInfo", {message}).Array().at(4).Str(), Text(w, &IOEMsgWnd::GetSubject));
    // Send does nothing in a read window.
    EXPECT_EQ(S_OK, w->SendMail());
    w.reset();
    Call(L"Pump", {200});
    EXPECT_EQ(1u, Notes().size());
}

TEST_F(MessageWindows, AWindowClosesOnceItsClientsLetGo) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> held = MsgWnd(root_.get(), note);
    ASSERT_TRUE(held);
    com_ptr<RecordingSink> windowSink = Advise(held.get(), DIID_IOEMsgWndEvents);
    ASSERT_TRUE(windowSink);
    // The client releases the window's object when it hears the close.
    windowSink->onCall = [&](const SinkCall& call) {
        if (call.dispid != msgwnd_event::kClose || !held) return;
        com_ptr<IConnectionPoint> cp;
        held.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
            ->FindConnectionPoint(DIID_IOEMsgWndEvents, cp.put());
        cp->Unadvise(windowSink->cookie);
        held.reset();
    };
    Call(L"CloseNote", {H(note)});
    ASSERT_TRUE(WaitForCall(windowSink.get(), msgwnd_event::kClose, {0}));
    ASSERT_TRUE(WaitForCall(sink_, root_event::kMsgWndClosed, {H(note), 0}));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
    com_ptr<IOEMsgWnd> gone;
    EXPECT_EQ(S_OK, root_->GetMsgWnd(H(note), gone.put()));
    EXPECT_FALSE(gone) << "its id names nothing any more";
}

// The library's Send-press message carries the window's handle: posted by
// another program (this test process) with a compose window's handle, it
// must not send the mail. (Garbage posts of every message are the
// reliability suite's.)
TEST_F(MessageWindows, AnotherProgramCannotPressSend) {
    HWND note = Compose();
    Call(L"TypeText", {H(note), kTo, L"anna.berg@northwind.example"});
    const size_t outboxBefore = Call(L"Messages", {OutboxId()}).Array().size();
    HWND callback = FindWindowW(L"PLUME Callback Window sink", nullptr);
    ASSERT_TRUE(callback);
    for (LPARAM which : {0, 1})
        PostMessageW(callback, RegisterWindowMessageW(L"PLUME.OnMsgWndSendButton"), reinterpret_cast<WPARAM>(note), which);
    Call(L"Pump", {500});
    EXPECT_EQ(1u, Notes().size()) << "the window is still open";
    EXPECT_EQ(outboxBefore, Call(L"Messages", {OutboxId()}).Array().size()) << "nothing was sent";
    EXPECT_TRUE(CallsOf(sink_, root_event::kSendButtonMsgWndClicked).empty()) << "no press was reported";
    // The user's own press still goes through.
    Call(L"SendNote", {H(note)});
    ASSERT_TRUE(WaitForEvent(sink_, root_event::kSendButtonMsgWndClicked));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
    Call(L"WaitTransferIdle", {5000});
    EXPECT_TRUE(WaitForEvent(sink_, root_event::kDownloadFinished));
}

}  // namespace
}  // namespace plume::test
