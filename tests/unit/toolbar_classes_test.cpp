// OEToolbar, OEButton and the root object's toolbar methods, called through
// their interfaces as a client would, against a window of the client's
// shape; clicks go through the real control and the callback window.
#include <olectl.h>
#include <plume.h>

#include <new>
#include <thread>
#include <type_traits>

#include "bstr.h"
#include "client_numbers.h"
#include "host/msg_wnd_list.h"
#include "log_lines.h"
#include "manager/identifiers.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "object_events.h"
#include "toolbar_fixture.h"
#include "ui/oe_button.h"
#include "ui/oe_toolbar.h"

namespace plume {
namespace {

using test::ButtonInfo;
using test::ButtonText;
using test::Enumerate;
using test::Heard;
using test::IdOf;
using test::Listen;
using test::NewRoot;
using test::Pump;
using namespace test::client_numbers;
std::vector<Heard>& g_heard = test::HeardEvents();

HWND HandleOf(const com_ptr<IOEToolbar>& t) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(test::Get(t, &IOEToolbar::GetHandle)));
}
template <typename Interface>
com_ptr<Interface> Fresh() {
    return com_ptr<Interface>::attach(
        MakeObject<std::conditional_t<std::is_same_v<Interface, IOEButton>, OEButton, OEToolbar>>().detach());
}

class ToolbarClassesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::UseOpenManager();
        g_heard.clear();
        objects_ = LiveObjectCount();
        resources_ = LiveUiResources();
        red_ = bstr(AnsiToWide(test::WriteBitmapFile("plume_class_red.bmp", 16, 16, RGB(255, 0, 0)).c_str()));
    }
    void TearDown() override {
        toolbar_.reset();
        root_.reset();
        client_.reset();
        OEToolbarRegistry::Destroy();
        OEToolbarRegistry::Reopen();  // the next test starts afresh
        Pump();
        EXPECT_EQ(objects_, LiveObjectCount());
        EXPECT_EQ(test::Counts(resources_), test::Counts(LiveUiResources()));
    }
    // The client's main window, attached; a root and a toolbar of it.
    void Attached(int rebars = 1) {
        client_ = std::make_unique<test::ClientWindow>(rebars);
        OEToolbarRegistry::Get(true)->mainHost().Attach(client_->main, 1);
        root_ = NewRoot();
        ASSERT_EQ(S_OK, root_->CreateToolbar(toolbar_.put()));
    }
    com_ptr<IOEButton> Button(const com_ptr<IOEToolbar>& t, const wchar_t* name) {
        com_ptr<IOEButton> b;
        EXPECT_EQ(S_OK, t->CreateButton(bstr(name).get(), red_.get(), nullptr, b.put()));
        return b;
    }

    LONG objects_ = 0;
    UiResourceCounts resources_{};
    bstr red_;
    test::VariantScope oe_{false};
    std::unique_ptr<test::ClientWindow> client_;
    com_ptr<IPLUMEObj> root_;
    com_ptr<IOEToolbar> toolbar_;
};

TEST_F(ToolbarClassesTest, AMainWindowClickReachesButtonToolbarAndCreatingRootInOrder) {
    Attached();
    com_ptr<IPLUMEObj> stranger = NewRoot();
    const LONG toolbarId = IdOf(toolbar_);
    EXPECT_EQ((std::vector<UINT>{kClientToolbarBand, static_cast<UINT>(toolbarId)}), test::BandIds(client_->rebars[0]))
        << "the band comes at once when the main window is attached";
    com_ptr<IOEButton> button = Button(toolbar_, L"Go");
    const LONG buttonId = IdOf(button);
    HWND w = HandleOf(toolbar_);
    EXPECT_EQ("Go", ButtonText(w, buttonId));

    auto s1 = Listen(button, DIID_IOEButtonEvents, "button");
    auto s2 = Listen(toolbar_, DIID_IOEToolbarEvents, "toolbar");
    auto s3 = Listen(root_, DIID_IPLUMEObjEvents, "root");
    auto s4 = Listen(stranger, DIID_IPLUMEObjEvents, "stranger");
    test::ClickButton(w, buttonId);
    EXPECT_TRUE(g_heard.empty()) << "events arrive through the callback window";
    Pump();
    EXPECT_EQ((std::vector<Heard>{{"button", click_event::kClick, {}},
                                  {"toolbar", toolbar_event::kButtonClicked, {buttonId}},
                                  {"root", root_event::kButtonClicked, {toolbarId, buttonId}}}),
              g_heard);

    // A button destroyed while its click is in flight raises nothing.
    g_heard.clear();
    test::ClickButton(w, buttonId);
    EXPECT_EQ(S_OK, button->Destroy());
    EXPECT_EQ(0, SendMessageA(w, TB_BUTTONCOUNT, 0, 0));
    test::LogLines log;
    Pump();
    EXPECT_TRUE(g_heard.empty());
    EXPECT_TRUE(log.Has("RaiseOnButtonClicked: Cannot find object\n"));
}

TEST_F(ToolbarClassesTest, RootsEnumerateFindAndRemoveOnlyTheirOwnToolbars) {
    com_ptr<IPLUMEObj> a = NewRoot(), b = NewRoot();
    com_ptr<IOEToolbar> a1, a2, b1, aMsg, found;
    a->CreateToolbar(a1.put());
    b->CreateToolbar(b1.put());
    a->CreateToolbar(a2.put());
    a->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, aMsg.put());
    EXPECT_EQ((std::vector<LONG>{IdOf(a1) + 1, IdOf(a1) + 2, IdOf(a1) + 3}),
              (std::vector<LONG>{IdOf(b1), IdOf(a2), IdOf(aMsg)}))
        << "one counter for every toolbar of the process";
    EXPECT_EQ((std::vector<LONG>{IdOf(a1), IdOf(a2)}),
              Enumerate(a.get(), &IPLUMEObj::GetFirstToolbarID, &IPLUMEObj::GetNextToolbarID))
        << "message-window templates are not enumerated while the main host exists";

    // Found: its own by id, templates too; not another root's, nor unknown ids.
    const std::pair<LONG, bool> lookups[] = {{IdOf(a2), true}, {IdOf(aMsg), true}, {IdOf(b1), false}, {12345, false}};
    for (const auto& [id, expected] : lookups) {
        EXPECT_EQ(S_OK, a->GetToolbar(id, found.put()));
        EXPECT_EQ(expected, static_cast<bool>(found)) << id;
        if (found) {
            EXPECT_EQ(id, IdOf(found));
        }
    }

    EXPECT_EQ(S_OK, a->RemoveAllToolbars());
    EXPECT_TRUE(Enumerate(a.get(), &IPLUMEObj::GetFirstToolbarID, &IPLUMEObj::GetNextToolbarID).empty());
    EXPECT_EQ(std::vector<LONG>{IdOf(b1)}, Enumerate(b.get(), &IPLUMEObj::GetFirstToolbarID, &IPLUMEObj::GetNextToolbarID));
    EXPECT_EQ(S_OK, a->GetToolbar(IdOf(aMsg), found.put()));
    EXPECT_FALSE(found) << "templates went too";
    EXPECT_EQ(static_cast<LONG>(0xFF000000), test::Get(a1, &IOEToolbar::GetMaskColor)) << "the record is gone";
    EXPECT_EQ(S_OK, a1->SetShown(0)) << "calls on a removed toolbar do nothing";

    // Destroy on an object that never had a record takes an id and leaves nothing.
    com_ptr<IOEToolbar> empty = Fresh<IOEToolbar>();
    EXPECT_EQ(-1, IdOf(empty));
    const LONG before = LiveUiResources().toolbars;
    EXPECT_EQ(S_OK, empty->Destroy());
    EXPECT_GT(IdOf(empty), IdOf(aMsg));
    EXPECT_EQ(before, LiveUiResources().toolbars);
    EXPECT_EQ(S_OK, b->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, ButtonsEnumerateAndKeepWhatWasSetBeforeCreate) {
    Attached();
    HWND w = HandleOf(toolbar_);
    EXPECT_TRUE(Enumerate(toolbar_.get(), &IOEToolbar::GetFirstButtonID, &IOEToolbar::GetNextButtonID).empty());

    // Properties set before Create take effect when it adds the button.
    com_ptr<IOEButton> early = Fresh<IOEButton>(), none;
    EXPECT_EQ(S_OK, early->CreateSubButton(bstr(L"x").get(), nullptr, nullptr, none.put()));
    EXPECT_FALSE(none) << "a fresh object has no button to hang a sub-button on";
    early->SetCheckStyle(1);
    early->SetEnabled(0);
    early->SetName(bstr(L"replaced").get());
    const LONG pendingId = IdOf(early);
    ASSERT_EQ(S_OK, early->Create(IdOf(toolbar_), bstr(L"Early").get(), red_.get(), nullptr));
    EXPECT_EQ(pendingId, IdOf(early));
    EXPECT_EQ("Early", ButtonText(w, pendingId));
    EXPECT_EQ(BTNS_CHECK, ButtonInfo(w, pendingId).fsStyle & BTNS_CHECK);
    EXPECT_EQ(0, SendMessageA(w, TB_GETSTATE, pendingId, 0) & TBSTATE_ENABLED);

    com_ptr<IOEButton> sep, parent = Button(toolbar_, L"Parent"), s1, s2, s3, got;
    ASSERT_EQ(S_OK, toolbar_->CreateSeparator(sep.put()));
    EXPECT_EQ(1, test::Get(sep, &IOEButton::IsSeparator));
    ASSERT_EQ(S_OK, parent->CreateSubButton(bstr(L"One").get(), red_.get(), nullptr, s1.put()));
    ASSERT_EQ(S_OK, parent->CreateSubSeparator(s2.put()));
    ASSERT_EQ(S_OK, parent->CreateSubButton(bstr(L"Three").get(), nullptr, nullptr, s3.put()));
    auto subs = [&] { return Enumerate(parent.get(), &IOEButton::GetFirstSubButtonID, &IOEButton::GetNextSubButtonID); };
    EXPECT_EQ((std::vector<LONG>{IdOf(s1), IdOf(s2), IdOf(s3)}), subs());
    parent->GetSubButtonByIndex(2, got.put());
    ASSERT_TRUE(got);
    EXPECT_EQ(IdOf(s3), IdOf(got));

    EXPECT_EQ((std::vector<LONG>{pendingId, IdOf(parent), IdOf(sep)}),
              Enumerate(toolbar_.get(), &IOEToolbar::GetFirstButtonID, &IOEToolbar::GetNextButtonID));
    // Sub-buttons are found by id; by index only the toolbar's own.
    const std::pair<LONG, LONG> byId[] = {{IdOf(s3), IdOf(s3)}, {99999, -1}};
    for (const auto& [id, expected] : byId) {
        toolbar_->GetButton(id, got.put());
        EXPECT_EQ(expected, got ? IdOf(got) : -1);
    }
    const std::pair<LONG, LONG> byIndex[] = {{1, IdOf(parent)}, {3, -1}};
    for (const auto& [index, expected] : byIndex) {
        toolbar_->GetButtonByIndex(index, got.put());
        EXPECT_EQ(expected, got ? IdOf(got) : -1);
    }

    EXPECT_EQ(S_OK, s1->Destroy());
    EXPECT_EQ((std::vector<LONG>{IdOf(s2), IdOf(s3)}), subs());
    EXPECT_EQ(BTNS_DROPDOWN, ButtonInfo(w, IdOf(parent)).fsStyle & BTNS_DROPDOWN) << "kept while sub-buttons remain";

    EXPECT_EQ(S_OK, toolbar_->Destroy());
    EXPECT_EQ(std::vector<UINT>{kClientToolbarBand}, test::BandIds(client_->rebars[0]));
    EXPECT_EQ(S_OK, early->SetName(bstr(L"after").get())) << "a destroyed button is a no-op";
}

TEST_F(ToolbarClassesTest, PicturesAndTheClientsOwnToolbar) {
    test::ClientWindow client(1);
    HIMAGELIST clientList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 4);
    SendMessageA(client.clientToolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(clientList));
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();

    com_ptr<IOEToolbar> own;
    ASSERT_EQ(S_OK, root->GetOEToolbar(own.put()));
    EXPECT_EQ(client.clientToolbar, HandleOf(own));
    LONG cx = 0, cy = 0, res = 1;
    own->GetPictureSize(&cx, &cy, &res);
    EXPECT_EQ(1, res) << "the client's image list decides";
    EXPECT_EQ(16, cx);
    own->SetPictureSize(24, 24, &res);
    EXPECT_EQ(0, res);
    com_ptr<IOEButton> mine = Button(own, L"Mine");
    EXPECT_EQ(3, SendMessageA(client.clientToolbar, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ("Mine", ButtonText(client.clientToolbar, IdOf(mine)));

    com_ptr<IOEToolbar> toolbar;
    root->CreateToolbar(toolbar.put());
    com_ptr<IOEButton> pictured = Button(toolbar, L"Pic");
    HWND w = HandleOf(toolbar);
    PICTDESC desc{sizeof desc, PICTYPE_BITMAP};
    desc.bmp.hbitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    com_ptr<IPictureDisp> picture;
    ASSERT_EQ(S_OK, OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void()));
    auto images = [&] { return ImageList_GetImageCount(test::Images(w)); };
    const int before = images();
    EXPECT_EQ(S_OK, pictured->SetPicture(picture.get()));
    EXPECT_EQ(before, images()) << "replaced in place";
    EXPECT_EQ(0, ButtonInfo(w, IdOf(pictured)).iImage);
    // An argument without IPicture changes nothing.
    auto notAPicture = com_ptr<test::RecordingSink>::attach(new test::RecordingSink(IID_IDispatch));
    EXPECT_EQ(S_OK, pictured->SetPicture(reinterpret_cast<IPictureDisp*>(notAPicture.get())));
    EXPECT_EQ(0, ButtonInfo(w, IdOf(pictured)).iImage);

    com_ptr<IOEButton> late = Fresh<IOEButton>();
    late->SetPicture(picture.get());
    ASSERT_EQ(S_OK, late->Create(IdOf(toolbar), bstr(L"Late").get(), nullptr, nullptr));
    EXPECT_EQ(-1, ButtonInfo(w, IdOf(late)).iImage) << "Create replaces the picture by its (empty) file";

    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
    EXPECT_EQ(2, SendMessageA(client.clientToolbar, TB_BUTTONCOUNT, 0, 0));
    OEToolbarRegistry::Destroy();
    OEToolbarRegistry::Reopen();  // the next test starts afresh
    ImageList_Destroy(clientList);
}

TEST_F(ToolbarClassesTest, AMessageWindowClickReachesItsWindowObjectToo) {
    test::ClientWindow note(1, true, false);
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, toolbar.put()));
    const LONG toolbarId = IdOf(toolbar);
    com_ptr<IOEButton> button = Button(toolbar, L"InNote");
    const LONG buttonId = IdOf(button);
    EXPECT_EQ(nullptr, HandleOf(toolbar)) << "templates have no window";

    OEPluginMsgWnd* record = AddMsgWnd(note.main, false);
    ASSERT_TRUE(record);
    InitMsgWnd(record, note.main);
    EXPECT_EQ(kSendWnd, GetWndStyle(record));
    const LONG msgWndId = record->id();
    {
        com_ptr<IOEMsgWnd> window;
        ASSERT_EQ(S_OK, root->GetMsgWnd(msgWndId, window.put()));
        ASSERT_TRUE(window);
        com_ptr<IOEToolbar> inWindow, byIndex;
        window->GetToolbar(toolbarId, inWindow.put());
        ASSERT_TRUE(inWindow);
        HWND w = HandleOf(inWindow);
        ASSERT_TRUE(IsWindow(w));
        EXPECT_EQ("InNote", ButtonText(w, buttonId));
        window->GetToolbarByIndex(0, byIndex.put());
        EXPECT_EQ(w, HandleOf(byIndex));

        auto s1 = Listen(button, DIID_IOEButtonEvents, "button");
        auto s2 = Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
        auto s3 = Listen(window, DIID_IOEMsgWndEvents, "window");
        auto s4 = Listen(root, DIID_IPLUMEObjEvents, "root");
        test::ClickButton(w, buttonId);
        Pump();
        EXPECT_EQ((std::vector<Heard>{{"button", click_event::kMsgWndClick, {msgWndId}},
                                      {"toolbar", toolbar_event::kButtonMsgWndClicked, {buttonId, msgWndId}},
                                      {"window", msgwnd_event::kButtonClicked, {toolbarId, buttonId}},
                                      {"root", root_event::kMsgWndButtonClicked, {toolbarId, buttonId, msgWndId}}}),
                  g_heard);
    }
    RemoveMsgWnd(note.main);
    EXPECT_EQ(std::vector<UINT>{kClientToolbarBand}, test::BandIds(note.rebars[0])) << "the copy died with its window";
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, NoRecordLockIsHeldWhileAClickHandlerRuns) {
    Attached();
    com_ptr<IOEButton> button = Button(toolbar_, L"Modal");
    const LONG buttonId = IdOf(button);
    // While the handler runs (think of a modal dialog in OnClick), the client
    // UI thread takes the same records for a second click or a drop-down.
    bool otherThreadGotIt = false;
    auto sink = Listen(button, DIID_IOEButtonEvents, "button");
    sink->onCall = [&](const test::SinkCall&) {
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread client([&] {
            LockedButtonRecord record(buttonId);
            otherThreadGotIt = static_cast<bool>(record);
            SetEvent(done);
        });
        const bool inTime = WaitForSingleObject(done, 5000) == WAIT_OBJECT_0;
        EXPECT_TRUE(inTime) << "the click's fan-out still holds the button record";
        // Let the blocked thread finish once the record is given up.
        inTime ? client.join() : client.detach();
        if (inTime) CloseHandle(done);
    };
    test::ClickButton(HandleOf(toolbar_), buttonId);
    Pump();
    EXPECT_TRUE(otherThreadGotIt);
}

TEST_F(ToolbarClassesTest, ButtonsWhoseCommandIdWouldNotFitAreRefused) {
    Attached();
    const LONG saved = SetNextButtonIdForTesting(test::client_numbers::kLastButtonId);
    EXPECT_EQ(test::client_numbers::kLastButtonId, IdOf(Button(toolbar_, L"Last"))) << "the last id a WM_COMMAND can carry";
    com_ptr<IOEButton> refused;
    EXPECT_EQ(DISP_E_OVERFLOW, toolbar_->CreateButton(bstr(L"Refused").get(), red_.get(), nullptr, refused.put()));
    EXPECT_FALSE(refused);
    com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, info.put()));
    bstr description;
    info->GetDescription(description.put());
    EXPECT_NE(nullptr, wcsstr(description.get(), L"command identifier")) << "a clear error";
    SetNextButtonIdForTesting(saved);
}

LRESULT CALLBACK RecordingClientProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) reinterpret_cast<std::vector<WPARAM>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))->push_back(wParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(ToolbarClassesTest, NothingTheLibraryThrowsLeavesTheClientsWindowProcedure) {
    Attached();
    const LONG buttonId = IdOf(Button(toolbar_, L"Fails"));
    // A failed allocation deep inside the library, on the client's thread.
    {
        locked_ref<OEPluginButton> record(OEToolbarRegistry::FindButton(buttonId));
        ASSERT_TRUE(record);
        record->clickHandler = [](LONG, LONG, INT64) -> LRESULT { throw std::bad_alloc(); };
    }
    HWND window = CreateWindowA(test::WindowClass("PlumeThrowTest", RecordingClientProc), "", 0, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
    std::vector<WPARAM> clientSaw;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&clientSaw));
    ASSERT_TRUE(AddMsgWnd(window, true));
    test::LogLines log;
    SendMessageA(window, WM_COMMAND, buttonId, 0);
    EXPECT_EQ(std::vector<WPARAM>{static_cast<WPARAM>(buttonId)}, clientSaw) << "the client still got its message";
    EXPECT_TRUE(log.Has("MsgWndProc: failed on message 0x111; passed on without the library.\n"));

    // A toolbar task message from another program is not run.
    EXPECT_EQ(1, SendMessageA(client_->sizable, RegisterWindowMessageA("PLUME_ToolbarTask"), 0, 0x1234));
    DestroyWindow(window);
}

}  // namespace
}  // namespace plume
