// Message windows of the stand-in client through OEMsgWnd: their kinds, the
// envelope and the body compared with what the client's controls hold, Send
// pressed and cancelled, and windows closing under a client.
#include <gtest/gtest.h>

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

    // Waits until the library reported `note` as a new message window.
    bool Reported(HWND note) {
        return StandinProcess::WaitFor([&] {
            for (const auto& c : CallsOf(sink_, 11))
                if (c.args == std::vector<long>{IdOf(note)}) return true;
            return false;
        });
    }
    com_ptr<IOEMsgWnd> Window(HWND note) {
        com_ptr<IOEMsgWnd> w;
        EXPECT_EQ(S_OK, root_->GetMsgWnd(IdOf(note), w.put()));
        return w;
    }
    HWND Compose() {
        HWND note = Call(L"NewMessage").Hwnd();
        EXPECT_TRUE(Reported(note));
        return note;
    }
    static std::wstring Read(HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*get)(BSTR*), IOEMsgWnd* w) {
        bstr text;
        EXPECT_EQ(S_OK, (w->*get)(text.put()));
        return text.str();
    }

};

TEST_F(MessageWindows, ComposeWindowEnvelopeRoundTrips) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> w = Window(note);
    ASSERT_TRUE(w);
    tagWNDSTYLE style = OE_MSG_INVALID;
    EXPECT_EQ(S_OK, w->GetWndStyle(&style));
    EXPECT_EQ(OE_MSG_SEND_WND, style) << "its toolbar has Send";

    const std::wstring subject = L"Ηλιόλουστη μέρα · 晴れ · " + std::wstring(3000, L'z');
    bstr s(subject), to(L"Anna Berg <anna.berg@northwind.example>"), cc(L"ops@example.org"), empty(L"");
    EXPECT_EQ(S_OK, w->SetSubject(s.get()));
    EXPECT_EQ(S_OK, w->SetTo(to.get()));
    EXPECT_EQ(S_OK, w->SetCc(cc.get()));
    EXPECT_EQ(subject, Call(L"GetField", {IdOf(note), 1004}).Str());
    EXPECT_EQ(to.str(), Call(L"GetField", {IdOf(note), 1001}).Str());
    EXPECT_EQ(subject, Read(&IOEMsgWnd::GetSubject, w.get()));
    EXPECT_EQ(L"ops@example.org", Read(&IOEMsgWnd::GetCc, w.get()));
    // Emptied fields read back empty; a null BSTR empties too.
    EXPECT_EQ(S_OK, w->SetCc(empty.get()));
    EXPECT_EQ(L"", Read(&IOEMsgWnd::GetCc, w.get()));
    EXPECT_EQ(S_OK, w->SetCc(nullptr));
    EXPECT_EQ(L"", Call(L"GetField", {IdOf(note), 1003}).Str());
    // The Bcc line is hidden: Windows Mail reads it as nothing.
    bstr bcc(L"hidden@example.org");
    EXPECT_EQ(S_OK, w->SetBcc(bcc.get()));
    if (IsWm()) {
        EXPECT_EQ(L"", Read(&IOEMsgWnd::GetBcc, w.get()));
        Call(L"ShowBcc", {IdOf(note), 1});
    }
    EXPECT_EQ(L"hidden@example.org", Read(&IOEMsgWnd::GetBcc, w.get()));

    // Recipients the client has resolved read back as their text.
    Call(L"ResolveNames", {IdOf(note)});
    EXPECT_EQ(Call(L"GetField", {IdOf(note), 1001}).Str(), Read(&IOEMsgWnd::GetTo, w.get()));
    w.reset();
    Call(L"CloseNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink_, 12));
}

TEST_F(MessageWindows, BodiesReadAndWrittenAsHtmlAndText) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> w = Window(note);
    ASSERT_TRUE(w);
    const bool html = Call(L"NoteInfo", {IdOf(note)}).Array().at(2).Bool();
    const std::wstring tricky =
        L"<P>Grüße <B>aus</B> Köln</P><!-- a comment --><SCRIPT>var x = 1 < 2;</SCRIPT><P>unclosed <I>tag</P>";
    bstr body(tricky);
    BSTR raw = body.get();
    EXPECT_EQ(S_OK, w->SetBodyHTML(&raw));
    if (html) {
        // Only the body element changes; the library reads back what the view holds.
        std::wstring document = Call(L"BodyHtml", {IdOf(note)}).Str();
        EXPECT_NE(std::wstring::npos, document.find(L"Grüße <B>aus</B> Köln")) << document;
        std::wstring read = Read(&IOEMsgWnd::GetBody, w.get());
        EXPECT_NE(std::wstring::npos, read.find(L"a comment")) << read;
        LONG length = 0;
        EXPECT_EQ(S_OK, w->GetBodyLength(&length));
        EXPECT_EQ(static_cast<LONG>(read.size()), length);

        // Plain replacement rewrites the document around the body.
        bstr plain(L"plain words");
        raw = plain.get();
        EXPECT_EQ(S_OK, w->SetBody(&raw));
        EXPECT_EQ(L"plain words", Read(&IOEMsgWnd::GetBody, w.get()));
        document = Call(L"BodyHtml", {IdOf(note)}).Str();
        EXPECT_NE(std::wstring::npos, document.find(L"plain words</BODY>")) << document;

        // A null text empties it (a null pointer cannot cross processes).
        BSTR nothing = nullptr;
        EXPECT_EQ(S_OK, w->SetBody(&nothing));
        EXPECT_EQ(L"", Read(&IOEMsgWnd::GetBody, w.get()));

        // Several megabytes arrive whole.
        std::wstring big(3 * 1024 * 1024, L'x');
        bstr large(big);
        raw = large.get();
        EXPECT_EQ(S_OK, w->SetBodyHTML(&raw));
        EXPECT_EQ(S_OK, w->GetBodyLength(&length));
        EXPECT_EQ(static_cast<LONG>(big.size()), length);

        com_ptr<IDispatch> document2;
        EXPECT_EQ(S_OK, w->GetIHTMLDocument2(document2.put()));
        EXPECT_TRUE(document2);
    } else {
        LONG length = -1;
        EXPECT_EQ(S_OK, w->GetBodyLength(&length));
        EXPECT_EQ(0, length) << "plain-text bodies are not measured";
    }
    w.reset();
    Call(L"CloseNote", {IdOf(note)});
}

TEST_F(MessageWindows, ReadWindowsAreDetailWindowsWithTheMessage) {
    Call(L"SelectFolder", {InboxId()});
    Call(L"SelectRows", {1});
    HWND note = Call(L"OpenSelected").Hwnd();
    ASSERT_TRUE(Reported(note));
    com_ptr<IOEMsgWnd> w = Window(note);
    ASSERT_TRUE(w);
    tagWNDSTYLE style = OE_MSG_INVALID;
    EXPECT_EQ(S_OK, w->GetWndStyle(&style));
    EXPECT_EQ(OE_MSG_DETAIL_WND, style);
    const long message = Call(L"NoteInfo", {IdOf(note)}).Array().at(1).Long();
    std::vector<Var> info = Call(L"MessageInfo", {message}).Array();
    EXPECT_EQ(info.at(4).Str(), Read(&IOEMsgWnd::GetSubject, w.get()));
    // Send does nothing in a read window.
    EXPECT_EQ(S_OK, w->SendMail());
    w.reset();
    Call(L"Pump", {200});
    EXPECT_EQ(1u, Notes().size());
    Call(L"CloseNote", {IdOf(note)});
}

TEST_F(MessageWindows, APreviewPaneIsItsOwnKind) {
    com_ptr<IOEMsgWnd> preview;
    ASSERT_EQ(S_OK, root_->GetMsgWnd(-1, preview.put()));
    ASSERT_TRUE(preview);
    LONG id = -1;
    preview->GetID(&id);
    EXPECT_NE(-1, id);
    Call(L"SelectFolder", {InboxId()});
    Call(L"SelectRows", {0});
    tagWNDSTYLE style = OE_MSG_INVALID;
    EXPECT_EQ(S_OK, preview->GetWndStyle(&style));
    EXPECT_TRUE(style == OE_CURRENT_MSG_WND || style == OE_EMPTY_MSG_WND) << style;
    // No envelope, no toolbar: envelope reads give nothing, Send does nothing.
    EXPECT_EQ(L"", Read(&IOEMsgWnd::GetSubject, preview.get()));
    EXPECT_EQ(S_OK, preview->SendMail());
    EXPECT_EQ(S_OK, preview->SendKey('A', 0, 0));
}

TEST_F(MessageWindows, SendIsReportedAndCanBeCancelled) {
    HWND note = Compose();
    Call(L"TypeText", {IdOf(note), 1001, L"anna.berg@northwind.example"});
    const size_t outboxBefore = Call(L"Messages", {OutboxId()}).Array().size();
    const size_t sentBefore = Call(L"Messages", {SentItemsId()}).Array().size();

    // The first press is cancelled by a client from inside the event.
    bool cancel = true;
    sink_->onCall = [&](const SinkCall& call) {
        if (call.dispid != 10) return;
        com_ptr<IOEMsgWnd> w;
        root_->GetMsgWnd(call.args.at(0), w.put());
        if (w && cancel) w->CancelSend();
    };
    Call(L"SendNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink_, 10));
    EXPECT_EQ(std::vector<long>{IdOf(note)}, CallsOf(sink_, 10)[0].args);
    Call(L"Pump", {300});
    EXPECT_EQ(1u, Notes().size()) << "a cancelled Send leaves the window open";
    EXPECT_EQ(outboxBefore, Call(L"Messages", {OutboxId()}).Array().size());

    // The second goes through: the message leaves through the Outbox.
    cancel = false;
    Call(L"SendNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink_, 10, 2));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
    Call(L"WaitTransferIdle", {5000});
    EXPECT_EQ(outboxBefore + sentBefore + 1,
              Call(L"Messages", {OutboxId()}).Array().size() + Call(L"Messages", {SentItemsId()}).Array().size());
    // The end of the transfer is announced (OnMessageDownloadFinished) before the client closes.
    EXPECT_TRUE(WaitForEvent(sink_, 7, 1, 10000));
}

TEST_F(MessageWindows, AWindowClosesOnceItsClientsLetGo) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> held = Window(note);
    ASSERT_TRUE(held);
    auto windowSink = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IOEMsgWndEvents));
    com_ptr<IConnectionPoint> cp;
    held.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
        ->FindConnectionPoint(DIID_IOEMsgWndEvents, cp.put());
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, cp->Advise(windowSink.get(), &cookie));
    // The client releases the window's object when it hears the close.
    windowSink->onCall = [&](const SinkCall& call) {
        if (call.dispid == 3 && held) {
            cp->Unadvise(cookie);
            cp.reset();
            held.reset();
        }
    };
    Call(L"CloseNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(windowSink.get(), 3));
    EXPECT_EQ(std::vector<long>{0}, CallsOf(windowSink.get(), 3)[0].args);
    ASSERT_TRUE(WaitForEvent(sink_, 12));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
    // Its id names nothing any more.
    com_ptr<IOEMsgWnd> gone;
    EXPECT_EQ(S_OK, root_->GetMsgWnd(IdOf(note), gone.put()));
    EXPECT_FALSE(gone);
}

TEST_F(MessageWindows, MessagesAnyProgramMayPostDoNotHarmTheClient) {
    HWND note = Compose();
    com_ptr<IOEMsgWnd> window = Window(note);
    ASSERT_EQ(S_OK, window->SetSubject(bstr(L"still here").get()));
    HWND callback = FindWindowW(L"PLUME Callback Window sink", nullptr);
    ASSERT_TRUE(callback);
    HWND sizable = FindWindowExW(main, nullptr, L"SizableRebar", nullptr);
    ASSERT_TRUE(sizable);
    // This test process is "any program": pointers of its own making mean
    // nothing in the client.
    const WPARAM garbage = 0x1234;
    PostMessageW(note, RegisterWindowMessageW(L"WM_SET_BODY"), garbage, 0);
    PostMessageW(note, RegisterWindowMessageW(L"PLUME_WM_DESTROY"), 0, 0);
    PostMessageW(main, RegisterWindowMessageW(L"PLUME_WM_CLOSE"), 0, 0);
    PostMessageW(sizable, RegisterWindowMessageW(L"PLUME_ToolbarTask"), 0, garbage);
    for (const wchar_t* name : {L"PLUME.OnButtonClick", L"PLUME.OnMenuItemClick", L"PLUME.OnDatabaseChange",
                                L"PLUME.UnbindMsgWnd"})
        PostMessageW(callback, RegisterWindowMessageW(name), garbage, garbage);
    PostMessageW(callback, 0xAA4, 0, garbage);  // folder change with a block of nobody's
    Call(L"Pump", {300});

    EXPECT_FALSE(client->WaitForExit(0)) << "the client survived";
    EXPECT_EQ(L"still here", Read(&IOEMsgWnd::GetSubject, window.get())) << "the window's record is intact";
    LONG style = 0;
    EXPECT_EQ(S_OK, window->GetWndStyle(reinterpret_cast<tagWNDSTYLE*>(&style)));
    EXPECT_EQ(2, style) << "a compose window, still subclassed";
    EXPECT_TRUE(CallsOf(sink_, 12).empty()) << "nothing reported the window closed";
    window.reset();
    Call(L"CloseNote", {IdOf(note)});
    EXPECT_TRUE(WaitForEvent(sink_, 12));
}

// The library's Send-press message carries the window's handle: posted by
// another program with a compose window's handle it must not send the mail.
TEST_F(MessageWindows, AnotherProgramCannotPressSend) {
    HWND note = Compose();
    Call(L"TypeText", {IdOf(note), 1001, L"anna.berg@northwind.example"});
    const size_t outboxBefore = Call(L"Messages", {OutboxId()}).Array().size();
    HWND callback = FindWindowW(L"PLUME Callback Window sink", nullptr);
    ASSERT_TRUE(callback);
    const UINT press = RegisterWindowMessageW(L"PLUME.OnMsgWndSendButton");
    for (LPARAM which : {0, 1}) PostMessageW(callback, press, reinterpret_cast<WPARAM>(note), which);
    Call(L"Pump", {500});
    EXPECT_EQ(1u, Notes().size()) << "the window is still open";
    EXPECT_EQ(outboxBefore, Call(L"Messages", {OutboxId()}).Array().size()) << "nothing was sent";
    EXPECT_TRUE(CallsOf(sink_, 10).empty()) << "no press was reported";
    // The user's own press still goes through.
    Call(L"SendNote", {IdOf(note)});
    ASSERT_TRUE(WaitForEvent(sink_, 10));
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
    Call(L"WaitTransferIdle", {5000});
    EXPECT_TRUE(WaitForEvent(sink_, 7, 1, 10000));
}

}  // namespace
}  // namespace plume::test
