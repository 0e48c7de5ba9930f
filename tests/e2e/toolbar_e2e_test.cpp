// Toolbars and buttons in the running client, reached over COM from this
// process as a plug-in writer's program would: what the real rebars and
// toolbars hold afterwards, clicks through the real control, and the events
// on real sinks in the order button, toolbar, message window, root.
#include <olectl.h>

#include <fstream>
#include <iterator>
#include <tuple>

#include "library_fixture.h"

namespace plume::test {
namespace {

class ToolbarE2E : public RootObjectTest {
protected:
    void SetUp() override {
        RootObjectTest::SetUp();
        if (HasFatalFailure()) return;
        // The main window's toolbars attach on the library's 100 ms tick: a
        // probe toolbar gets its window then.
        com_ptr<IOEToolbar> probe;
        ASSERT_EQ(S_OK, root_->CreateToolbar(probe.put()));
        EXPECT_EQ(kFirstToolbarId, IdOf(probe)) << "the client was started afresh";
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Handle(probe) != nullptr; }));
        ASSERT_EQ(S_OK, probe->Destroy());
        red_ = bstr(WriteBitmapFile(L"plume_e2e_red.bmp", 16, 16, RGB(200, 30, 30)).c_str());
        blue_ = bstr(WriteBitmapFile(L"plume_e2e_blue.bmp", 24, 24, RGB(30, 30, 200)).c_str());
    }
    static HWND Handle(const com_ptr<IOEToolbar>& t) {
        return reinterpret_cast<HWND>(static_cast<INT_PTR>(Get(t, &IOEToolbar::GetHandle)));
    }
    com_ptr<IOEButton> Button(const com_ptr<IOEToolbar>& t, const wchar_t* name, BSTR image) {
        com_ptr<IOEButton> b;
        EXPECT_EQ(S_OK, t->CreateButton(bstr(name).get(), image, nullptr, b.put()));
        return b;
    }
    // (id, text, state) of every button but separators, from the client.
    std::vector<std::tuple<long, std::wstring, long>> Buttons(HWND toolbar) {
        std::vector<std::tuple<long, std::wstring, long>> out;
        for (const Var& v : Call(L"ToolbarButtons", {H(toolbar)}).Array()) {
            std::vector<Var> e = v.Array();
            out.emplace_back(e[0].Long(), e[1].Str(), e[2].Long());
        }
        return out;
    }
    // Whether a toolbar of `window` has a button with that id.
    bool Has(HWND window, LONG id) {
        for (const Var& v : Call(L"Toolbars", {H(window)}).Array())
            for (auto& b : Buttons(v.Hwnd()))
                if (std::get<0>(b) == id) return true;
        return false;
    }
    // The rebar that takes the library's bands: the second one on Windows Mail.
    HWND LibraryRebar() {
        HWND sizable = FindWindowExW(main, nullptr, L"SizableRebar", nullptr);
        HWND first = FindWindowExW(sizable, nullptr, L"ReBarWindow32", nullptr);
        return IsWm() ? FindWindowExW(sizable, first, L"ReBarWindow32", nullptr) : first;
    }

    bstr red_, blue_;
};

TEST_F(ToolbarE2E, ToolbarBandHoldsTheButtonsAndAClickReachesButtonToolbarAndRoot) {
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root_->CreateToolbar(toolbar.put()));
    const LONG toolbarId = IdOf(toolbar);
    HWND w = Handle(toolbar);
    ASSERT_TRUE(IsWindow(w));

    com_ptr<IOEButton> blue = Button(toolbar, L"Blue", blue_.get());
    com_ptr<IOEButton> missing = Button(toolbar, L"Missing", bstr(L"C:\\no\\such.bmp").get());
    const LONG blueId = IdOf(blue);
    EXPECT_EQ(kFirstToolbarId + 1, toolbarId) << "the second toolbar, after the probe";
    EXPECT_EQ(kFirstButtonId, blueId) << "the first button of the process";

    // The band: in the library's rebar, after the client's toolbar, last.
    HWND rebar = LibraryRebar();
    EXPECT_EQ(rebar, GetParent(w));
    const LRESULT ourIndex = SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0);
    EXPECT_GT(ourIndex, SendMessageW(rebar, RB_IDTOINDEX, kClientToolbarBand, 0));
    EXPECT_EQ(ourIndex + 1, SendMessageW(rebar, RB_GETBANDCOUNT, 0, 0));
    EXPECT_EQ(w, Call(L"Toolbars", {H(main)}).Array().back().Hwnd());

    // The control.
    auto buttons = Buttons(w);
    ASSERT_EQ(2u, buttons.size());
    EXPECT_EQ(std::make_tuple(long(blueId), std::wstring(L"Blue"), long(TBSTATE_ENABLED)), buttons[0]);
    EXPECT_EQ(0, SendMessageW(w, TB_GETBITMAP, blueId, 0));
    EXPECT_EQ(-1, SendMessageW(w, TB_GETBITMAP, IdOf(missing), 0)) << "a missing file leaves no image";
    {
        // A picture of this process, not the client's, still makes the image
        // (loaded as a script's LoadPicture does).
        std::wstring redPath(red_.get());
        std::ifstream in(std::string(redPath.begin(), redPath.end()), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        com_ptr<IStream> stream;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
        stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
        com_ptr<IPictureDisp> picture;
        ASSERT_EQ(S_OK, OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPictureDisp,
                                       picture.put_void()));
        EXPECT_EQ(S_OK, missing->SetPicture(picture.get()));
        EXPECT_GE(SendMessageW(w, TB_GETBITMAP, IdOf(missing), 0), 0) << "the picture did not reach the control";
    }
    EXPECT_TRUE(IsWindowVisible(w));

    // Clicks through the real control.
    com_ptr<IPLUMEObj> stranger = CreateRoot();
    Listen(blue.get(), DIID_IOEButtonEvents, "button");
    Listen(toolbar.get(), DIID_IOEToolbarEvents, "toolbar");
    Listen(root_.get(), DIID_IPLUMEObjEvents, "root");
    Listen(stranger.get(), DIID_IPLUMEObjEvents, "stranger");
    Call(L"ClickButton", {H(main), blueId});
    ASSERT_TRUE(WaitHeard(3));
    StandinProcess::PumpFor(200);
    EXPECT_EQ((std::vector<Heard>{{"button", click_event::kClick, {}},
                                  {"toolbar", toolbar_event::kButtonClicked, {blueId}},
                                  {"root", root_event::kButtonClicked, {toolbarId, blueId}}}),
              heard_);

    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_EQ(-1, SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0));
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(ToolbarE2E, MessageWindowsGetTheToolbarsOfTheirKindAndClicksReachTheWindowObject) {
    com_ptr<IOEToolbar> toolbar, anyKind;
    ASSERT_EQ(S_OK, root_->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, toolbar.put()));
    const LONG toolbarId = IdOf(toolbar);
    com_ptr<IOEButton> button = Button(toolbar, L"In compose", red_.get());
    const LONG buttonId = IdOf(button);
    ASSERT_EQ(S_OK, root_->CreateToolbarInMsgWnd(static_cast<tagWNDSTYLE>(OE_MSG_SEND_WND | OE_MSG_DETAIL_WND),
                                                 anyKind.put()));
    const LONG everywhereId = IdOf(Button(anyKind, L"Everywhere", red_.get()));

    HWND note = Call(L"NewMessage").Hwnd();
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Has(note, buttonId); })) << "the first tick attaches the copy";
    const LONG noteId = H(note);
    {
        com_ptr<IOEMsgWnd> window = MsgWnd(root_.get(), note);
        ASSERT_TRUE(window);
        EXPECT_EQ(kSendWnd, StyleOf(window));
        Listen(button.get(), DIID_IOEButtonEvents, "button");
        Listen(toolbar.get(), DIID_IOEToolbarEvents, "toolbar");
        Listen(window.get(), DIID_IOEMsgWndEvents, "window");
        Listen(root_.get(), DIID_IPLUMEObjEvents, "root");
        Call(L"ClickButton", {H(note), buttonId});
        ASSERT_TRUE(WaitHeard(4));
        EXPECT_EQ((std::vector<Heard>{{"button", click_event::kMsgWndClick, {noteId}},
                                      {"toolbar", toolbar_event::kButtonMsgWndClicked, {buttonId, noteId}},
                                      {"window", msgwnd_event::kButtonClicked, {toolbarId, buttonId}},
                                      {"root", root_event::kMsgWndButtonClicked, {toolbarId, buttonId, noteId}}}),
                  heard_);
    }
    Call(L"CloseNote", {noteId});

    // A read window has no Send button: the compose toolbar stays out of it,
    // the toolbar for every kind comes in.
    Call(L"SelectFolder", {InboxId()});
    Call(L"SelectRows", {0});
    HWND read = Call(L"OpenSelected").Hwnd();
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Has(read, everywhereId); }));
    EXPECT_FALSE(Has(read, buttonId));
    EXPECT_EQ(kDetailWnd, StyleOf(MsgWnd(root_.get(), read)));
    Call(L"CloseNote", {H(read)});
    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
}

// Buttons join the client's own toolbar. A button destroyed by its own click
// handler, in another process than the client: the rest of the event goes
// on, and the client lives on.
TEST_F(ToolbarE2E, ButtonsJoinTheClientsOwnToolbarAndOneMayDestroyItselfInItsClick) {
    com_ptr<IOEToolbar> own;
    ASSERT_EQ(S_OK, root_->GetOEToolbar(own.put()));
    HWND clientToolbar = Call(L"ClientToolbar", {H(main)}).Hwnd();
    EXPECT_EQ(clientToolbar, Handle(own));
    const size_t before = Buttons(clientToolbar).size();
    com_ptr<IOEButton> mine = Button(own, L"Plug-in", red_.get());
    const LONG id = IdOf(mine);
    auto after = Buttons(clientToolbar);
    ASSERT_EQ(before + 1, after.size());
    EXPECT_EQ(std::make_tuple(long(id), std::wstring(L"Plug-in"), long(TBSTATE_ENABLED)), after.back());
    Listen(mine.get(), DIID_IOEButtonEvents, "button");
    Listen(root_.get(), DIID_IPLUMEObjEvents, "root");
    Call(L"ClickButton", {H(main), id});
    ASSERT_TRUE(WaitHeard(2));
    EXPECT_EQ((std::vector<Heard>{{"button", click_event::kClick, {}},
                                  {"root", root_event::kButtonClicked, {IdOf(own), id}}}),
              heard_);
    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_EQ(before, Buttons(clientToolbar).size());

    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root_->CreateToolbar(toolbar.put()));
    HWND w = Handle(toolbar);
    com_ptr<IOEButton> doomed = Button(toolbar, L"Doomed", red_.get());
    heard_.clear();
    Listen(doomed.get(), DIID_IOEButtonEvents, "button")->onCall = [&](const SinkCall& c) {
        heard_.push_back({"button", c.dispid, c.args});
        doomed->Destroy();
    };
    Listen(toolbar.get(), DIID_IOEToolbarEvents, "toolbar");
    Call(L"ClickButton", {H(main), IdOf(doomed)});
    ASSERT_TRUE(WaitHeard(2));
    EXPECT_EQ("toolbar", heard_[1].who);
    EXPECT_EQ(0, SendMessageW(w, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ(0, Get(doomed, &IOEButton::IsEnabled)) << "a destroyed button answers with empty results";

    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(static_cast<long>(client->pid()), Call(L"ProcessId").Long()) << "the client still answers";
}

}  // namespace
}  // namespace plume::test
