// Toolbars and buttons in the running client, reached over COM from this
// process as a plug-in writer's program would: what the real rebars and
// toolbars hold afterwards, clicks through the real control, and the events
// on real sinks in the order button, toolbar, message window, root.
#include <olectl.h>
#include <plume.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "script_process.h"
#include "bstr.h"
#include "client_numbers.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "toolbar_e2e.h"

namespace plume::test {
namespace {

long H(HWND h) { return static_cast<long>(reinterpret_cast<LONG_PTR>(h)); }

class ToolbarE2E : public LibraryClientTest {
protected:
    void SetUp() override {
        LibraryClientTest::SetUp();
        if (HasFatalFailure()) return;
        rebar_ = GetParent(Call(L"ClientToolbar", {H(main)}).Hwnd());
        // The main window's toolbars attach on the library's 100 ms tick: a
        // probe toolbar gets its window then.
        com_ptr<IOEToolbar> probe;
        ASSERT_EQ(S_OK, root_->CreateToolbar(probe.put()));
        EXPECT_EQ(client_numbers::kFirstToolbarId, Id(probe.get())) << "the client was started afresh";
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Handle(probe.get()) != nullptr; }));
        ASSERT_EQ(S_OK, probe->Destroy());
        red_ = bstr(WriteBitmapFile(L"plume_e2e_red.bmp", 16, 16, RGB(200, 30, 30)).c_str());
        blue_ = bstr(WriteBitmapFile(L"plume_e2e_blue.bmp", 24, 24, RGB(30, 30, 200)).c_str());
    }
    static LONG Id(IOEToolbar* t) {
        LONG id = -2;
        EXPECT_EQ(S_OK, t->GetID(&id));
        return id;
    }
    static LONG Id(IOEButton* b) {
        LONG id = -2;
        EXPECT_EQ(S_OK, b->GetID(&id));
        return id;
    }
    static HWND Handle(IOEToolbar* t) {
        LONG h = 0;
        EXPECT_EQ(S_OK, t->GetHandle(&h));
        return reinterpret_cast<HWND>(static_cast<INT_PTR>(h));
    }
    com_ptr<IOEButton> Button(IOEToolbar* t, const wchar_t* name, BSTR image) {
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
    // The rebar that takes the library's bands: the second one on Windows Mail.
    HWND LibraryRebar() {
        HWND sizable = GetParent(rebar_);
        HWND first = FindWindowExW(sizable, nullptr, L"ReBarWindow32", nullptr);
        return IsWm() ? FindWindowExW(sizable, first, L"ReBarWindow32", nullptr) : first;
    }

    HWND rebar_ = nullptr;
    bstr red_, blue_;
};

TEST_F(ToolbarE2E, ToolbarBandHoldsTheButtonsAndAClickReachesButtonToolbarAndRoot) {
    // Tooltips and the picture size must be asked for before the band exists.
    auto toolbar = NewObject<IOEToolbar>(CLSID_OEToolbar, IID_IOEToolbar);
    ASSERT_TRUE(toolbar);
    LONG rootId = 0, res = 0;
    root_->GetID(&rootId);
    ASSERT_EQ(S_OK, toolbar->EnableTooltips(1));
    ASSERT_EQ(S_OK, toolbar->SetPictureSize(24, 24, &res));
    EXPECT_EQ(1, res);
    ASSERT_EQ(S_OK, toolbar->Create(rootId));
    const LONG toolbarId = Id(toolbar.get());
    HWND w = Handle(toolbar.get());
    ASSERT_TRUE(IsWindow(w));

    com_ptr<IOEButton> blue = Button(toolbar.get(), L"Blue", blue_.get());
    blue->SetTooltip(bstr(L"A blue button").get());
    com_ptr<IOEButton> sep;
    ASSERT_EQ(S_OK, toolbar->CreateSeparator(sep.put()));
    com_ptr<IOEButton> missing = Button(toolbar.get(), L"Missing", bstr(L"C:\\no\\such.bmp").get());
    // The check style set before Create makes a check button of the control.
    auto toggle = NewObject<IOEButton>(CLSID_OEButton, IID_IOEButton);
    ASSERT_TRUE(toggle);
    toggle->SetCheckStyle(1);
    ASSERT_EQ(S_OK, toggle->Create(Id(toolbar.get()), bstr(L"Toggle").get(), blue_.get(), nullptr));
    const LONG blueId = Id(blue.get()), toggleId = Id(toggle.get());
    EXPECT_EQ(client_numbers::kFirstToolbarId + 1, toolbarId) << "the second toolbar, after the probe";
    EXPECT_EQ(client_numbers::kFirstButtonId, blueId) << "the first button of the process";
    EXPECT_EQ(blueId + 1, Id(sep.get()));

    // The band: in the library's rebar, after the client's toolbar.
    HWND rebar = LibraryRebar();
    EXPECT_EQ(rebar, GetParent(w));
    const LRESULT clientIndex = SendMessageW(rebar, RB_IDTOINDEX, 101, 0);
    const LRESULT ourIndex = SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0);
    EXPECT_GE(clientIndex, 0);
    EXPECT_GT(ourIndex, clientIndex);
    EXPECT_EQ(ourIndex + 1, SendMessageW(rebar, RB_GETBANDCOUNT, 0, 0));
    std::vector<Var> listed = Call(L"Toolbars", {H(main)}).Array();
    EXPECT_EQ(w, listed.back().Hwnd());

    // The control.
    EXPECT_EQ(4, SendMessageW(w, TB_BUTTONCOUNT, 0, 0));
    auto buttons = Buttons(w);
    ASSERT_EQ(3u, buttons.size());
    EXPECT_EQ(std::make_tuple(long(blueId), std::wstring(L"Blue"), long(TBSTATE_ENABLED)), buttons[0]);
    EXPECT_EQ(L"Missing", std::get<1>(buttons[1]));
    EXPECT_EQ(0, SendMessageW(w, TB_GETBITMAP, blueId, 0));
    EXPECT_EQ(-1, SendMessageW(w, TB_GETBITMAP, Id(missing.get()), 0)) << "a missing file leaves no image";
    {
        // A picture of this process, not the client's, still makes the image
        // (loaded as a script's LoadPicture does).
        std::wstring redPath(red_.get());
        std::ifstream in(std::string(redPath.begin(), redPath.end()), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        com_ptr<IStream> stream;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, stream.put()));
        stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        com_ptr<IPictureDisp> picture;
        ASSERT_EQ(S_OK, OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPictureDisp,
                                       picture.put_void()));
        EXPECT_EQ(S_OK, missing->SetPicture(picture.get()));
        EXPECT_GE(SendMessageW(w, TB_GETBITMAP, Id(missing.get()), 0), 0) << "the picture did not reach the control";
    }
    EXPECT_TRUE(SendMessageW(w, TB_GETTOOLTIPS, 0, 0));
    EXPECT_TRUE(SendMessageW(w, TB_GETSTYLE, 0, 0) & TBSTYLE_TOOLTIPS);
    EXPECT_GE(HIWORD(SendMessageW(w, TB_GETBUTTONSIZE, 0, 0)), 24) << "24-pixel pictures";
    EXPECT_TRUE(IsWindowVisible(w));

    // Clicks through the real control.
    com_ptr<IPLUMEObj> stranger = NewObject<IPLUMEObj>(CLSID_PLUMEObj, IID_IPLUMEObj);
    EventLog log;
    log.Listen(blue, DIID_IOEButtonEvents, "button");
    log.Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
    log.Listen(root_, DIID_IPLUMEObjEvents, "root");
    log.Listen(stranger, DIID_IPLUMEObjEvents, "stranger");
    Call(L"ClickButton", {H(main), blueId});
    ASSERT_TRUE(log.WaitFor(3));
    StandinProcess::PumpFor(200);
    EXPECT_EQ((std::vector<Heard>{{"button", 1, {}}, {"toolbar", 1, {blueId}}, {"root", 1, {toolbarId, blueId}}}),
              log.heard);

    LONG checked = -1;
    Call(L"ClickButton", {H(main), toggleId});
    toggle->IsChecked(&checked);
    EXPECT_EQ(1, checked);
    EXPECT_TRUE(SendMessageW(w, TB_GETSTATE, toggleId, 0) & TBSTATE_CHECKED);
    Call(L"ClickButton", {H(main), toggleId});
    toggle->IsChecked(&checked);
    EXPECT_EQ(0, checked);
    EXPECT_FALSE(SendMessageW(w, TB_GETSTATE, toggleId, 0) & TBSTATE_CHECKED);

    // State changes reach the control.
    blue->SetEnabled(0);
    EXPECT_FALSE(SendMessageW(w, TB_GETSTATE, blueId, 0) & TBSTATE_ENABLED);
    blue->SetShown(0);
    EXPECT_TRUE(SendMessageW(w, TB_GETSTATE, blueId, 0) & TBSTATE_HIDDEN);
    blue->SetName(bstr(L"Renamed").get());
    EXPECT_EQ(L"Renamed", std::get<1>(Buttons(w)[0]));
    toolbar->SetShown(0);
    EXPECT_FALSE(IsWindowVisible(w));

    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_EQ(-1, SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0));
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(ToolbarE2E, ComposeWindowsGetTheirToolbarAndClicksReachTheWindowObject) {
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root_->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, toolbar.put()));
    const LONG toolbarId = Id(toolbar.get());
    com_ptr<IOEButton> button = Button(toolbar.get(), L"In compose", red_.get());
    const LONG buttonId = Id(button.get());

    HWND note = Call(L"NewMessage").Hwnd();
    auto hasOurs = [&](HWND window) {
        for (const Var& v : Call(L"Toolbars", {H(window)}).Array())
            for (auto& b : Buttons(v.Hwnd()))
                if (std::get<0>(b) == buttonId) return true;
        return false;
    };
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return hasOurs(note); })) << "the first tick attaches the copy";
    const LONG noteId = static_cast<LONG>(H(note));
    {
        com_ptr<IOEMsgWnd> window;
        ASSERT_EQ(S_OK, root_->GetMsgWnd(noteId, window.put()));
        ASSERT_TRUE(window);
        tagWNDSTYLE kind = OE_MSG_INVALID;
        window->GetWndStyle(&kind);
        EXPECT_EQ(OE_MSG_SEND_WND, kind);

        EventLog log;
        log.Listen(button, DIID_IOEButtonEvents, "button");
        log.Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
        log.Listen(window, DIID_IOEMsgWndEvents, "window");
        log.Listen(root_, DIID_IPLUMEObjEvents, "root");
        Call(L"ClickButton", {H(note), buttonId});
        ASSERT_TRUE(log.WaitFor(4));
        EXPECT_EQ((std::vector<Heard>{{"button", 2, {noteId}},
                                      {"toolbar", 2, {buttonId, noteId}},
                                      {"window", 1, {toolbarId, buttonId}},
                                      {"root", 9, {toolbarId, buttonId, noteId}}}),
                  log.heard);
    }
    Call(L"CloseNote", {H(note)});

    // A read window has no Send button: the toolbar stays out of it, while
    // a toolbar for every kind of message window comes in.
    com_ptr<IOEToolbar> anyKind;
    ASSERT_EQ(S_OK, root_->CreateToolbarInMsgWnd(static_cast<tagWNDSTYLE>(OE_MSG_SEND_WND | OE_MSG_DETAIL_WND),
                                                 anyKind.put()));
    com_ptr<IOEButton> everywhere = Button(anyKind.get(), L"Everywhere", red_.get());
    Call(L"SelectFolder", {InboxId()});
    Call(L"SelectRows", {0});
    HWND read = Call(L"OpenSelected").Hwnd();
    auto has = [&](HWND window, LONG id) {
        for (const Var& v : Call(L"Toolbars", {H(window)}).Array())
            for (auto& b : Buttons(v.Hwnd()))
                if (std::get<0>(b) == id) return true;
        return false;
    };
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return has(read, Id(everywhere.get())); }));
    EXPECT_FALSE(has(read, buttonId));
    com_ptr<IOEMsgWnd> readWindow;
    ASSERT_EQ(S_OK, root_->GetMsgWnd(static_cast<LONG>(H(read)), readWindow.put()));
    tagWNDSTYLE kind = OE_MSG_INVALID;
    readWindow->GetWndStyle(&kind);
    EXPECT_EQ(OE_MSG_DETAIL_WND, kind);
    readWindow.reset();
    Call(L"CloseNote", {H(read)});
    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
}

TEST_F(ToolbarE2E, ButtonsJoinTheClientsOwnToolbar) {
    com_ptr<IOEToolbar> own;
    ASSERT_EQ(S_OK, root_->GetOEToolbar(own.put()));
    HWND clientToolbar = Call(L"ClientToolbar", {H(main)}).Hwnd();
    EXPECT_EQ(clientToolbar, Handle(own.get()));
    const size_t before = Buttons(clientToolbar).size();
    com_ptr<IOEButton> mine = Button(own.get(), L"Plug-in", red_.get());
    const LONG id = Id(mine.get());
    auto after = Buttons(clientToolbar);
    ASSERT_EQ(before + 1, after.size());
    EXPECT_EQ(std::make_tuple(long(id), std::wstring(L"Plug-in"), long(TBSTATE_ENABLED)), after.back());

    EventLog log;
    log.Listen(mine, DIID_IOEButtonEvents, "button");
    log.Listen(root_, DIID_IPLUMEObjEvents, "root");
    Call(L"ClickButton", {H(main), id});
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ((std::vector<Heard>{{"button", 1, {}}, {"root", 1, {Id(own.get()), id}}}), log.heard);

    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_EQ(before, Buttons(clientToolbar).size());
}

TEST_F(ToolbarE2E, BadInputGivesClearResultsAndTheClientLivesOn) {
    // A picture size no image list can have: a toolbar without band.
    auto huge = NewObject<IOEToolbar>(CLSID_OEToolbar, IID_IOEToolbar);
    LONG rootId = 0, res = 0;
    root_->GetID(&rootId);
    EXPECT_EQ(S_OK, huge->SetPictureSize(100000, 100000, &res));
    EXPECT_EQ(S_OK, huge->Create(rootId));
    EXPECT_EQ(-1, SendMessageW(LibraryRebar(), RB_IDTOINDEX, Id(huge.get()), 0));

    // Unknown identifiers: nothing found, no error.
    com_ptr<IOEToolbar> none;
    EXPECT_EQ(S_OK, root_->GetToolbar(999999, none.put()));
    EXPECT_FALSE(none);

    // A button destroyed by its own click handler; the rest of the event goes on.
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root_->CreateToolbar(toolbar.put()));
    HWND w = Handle(toolbar.get());
    com_ptr<IOEButton> doomed = Button(toolbar.get(), L"Doomed", red_.get());
    const LONG doomedId = Id(doomed.get());
    EventLog log;
    log.Listen(doomed, DIID_IOEButtonEvents, "button", [&] { doomed->Destroy(); });
    log.Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
    Call(L"ClickButton", {H(main), doomedId});
    ASSERT_TRUE(log.WaitFor(2));
    EXPECT_EQ("toolbar", log.heard[1].who);
    EXPECT_EQ(0, SendMessageW(w, TB_BUTTONCOUNT, 0, 0));
    LONG flag = -1;
    EXPECT_EQ(S_OK, doomed->IsEnabled(&flag));
    EXPECT_EQ(0, flag) << "a destroyed button answers with empty results";

    // Many buttons, then all gone.
    for (int i = 0; i < 150; ++i) Button(toolbar.get(), L"Many", red_.get());
    EXPECT_EQ(150, SendMessageW(w, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(static_cast<long>(client->pid()), Call(L"ProcessId").Long()) << "the client still answers";
}


std::string FirstLine(const std::wstring& file) {
    std::ifstream in(WideToUtf8(file.c_str()));
    std::string line;
    std::getline(in, line);
    return line;
}

TEST_F(ToolbarE2E, AToolbarWhoseClientWasKilledStaysHarmless) {
    const std::wstring output = OwnFolder() + L"hold_toolbar.out";
    PROCESS_INFORMATION pi = StartScript(OwnFolder() + L"scripts\\hold_toolbar.vbs", output);
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return FirstLine(output).rfind("holding", 0) == 0; }, 30000));
    std::istringstream ids(FirstLine(output).substr(8));
    long toolbarId = 0, buttonId = 0;
    ids >> toolbarId >> buttonId;
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    // Its toolbar stays; clicks whose listeners are gone harm nobody.
    HWND rebar = LibraryRebar();
    EXPECT_GE(SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0), 0);
    for (int i = 0; i < 3; ++i) Call(L"ClickButton", {H(main), buttonId});
    StandinProcess::PumpFor(300);
    com_ptr<IOEToolbar> other;
    EXPECT_EQ(S_OK, root_->GetToolbar(toolbarId, other.put()));
    EXPECT_FALSE(other) << "it belongs to the dead client's root";
    EXPECT_EQ(S_OK, root_->RemoveAllToolbars());
    EXPECT_GE(SendMessageW(rebar, RB_IDTOINDEX, toolbarId, 0), 0) << "another root cannot remove it";
    EXPECT_EQ(static_cast<long>(client->pid()), Call(L"ProcessId").Long());

    // Closing the client takes the toolbar away; the dead client's references
    // are let go after the library's quiet period.
    root_.reset();
    Call(L"Quit");
    EXPECT_TRUE(client->WaitForExit(60000));
    client.reset();
}

}  // namespace
}  // namespace plume::test
