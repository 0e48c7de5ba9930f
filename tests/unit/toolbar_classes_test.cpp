// OEToolbar, OEButton and the root object's toolbar methods, called through
// their interfaces as a client would, against a window of the client's
// shape; clicks go through the real control and the callback window.
#include <olectl.h>
#include <plume.h>

#include <new>
#include <thread>

#include "bstr.h"
#include "manager/identifiers.h"
#include "host/msg_wnd_list.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "object_events.h"
#include "recording_sink.h"
#include "log.h"
#include "toolbar_fixture.h"
#include "ui/oe_button.h"
#include "ui/oe_toolbar.h"

namespace plume {
namespace {

using test::ButtonInfo;
using test::ButtonText;
using test::RecordingSink;

using test::Heard;
using test::Listen;
using test::Pump;
std::vector<Heard>& g_heard = test::HeardEvents();

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
        OEToolbarRegistry::Destroy();
        OEToolbarRegistry::Reopen();  // the next test starts afresh
        Pump();
        EXPECT_EQ(objects_, LiveObjectCount());
        EXPECT_EQ(resources_.toolbars, LiveUiResources().toolbars);
        EXPECT_EQ(resources_.buttons, LiveUiResources().buttons);
        EXPECT_EQ(resources_.imageLists, LiveUiResources().imageLists);
        EXPECT_EQ(resources_.bitmaps, LiveUiResources().bitmaps);
    }

    static com_ptr<IPLUMEObj> NewRoot() { return com_ptr<IPLUMEObj>::attach(MakeObject<PLUMEObj>().detach()); }
    static LONG IdOf(IOEToolbar* t) {
        LONG id = -2;
        t->GetID(&id);
        return id;
    }
    static LONG IdOf(IOEButton* b) {
        LONG id = -2;
        b->GetID(&id);
        return id;
    }
    static HWND HandleOf(IOEToolbar* t) {
        LONG h = 0;
        t->GetHandle(&h);
        return reinterpret_cast<HWND>(static_cast<INT_PTR>(h));
    }
    com_ptr<IOEButton> Button(IOEToolbar* t, const wchar_t* name) {
        com_ptr<IOEButton> b;
        EXPECT_EQ(S_OK, t->CreateButton(bstr(name).get(), red_.get(), nullptr, b.put()));
        return b;
    }

    LONG objects_ = 0;
    UiResourceCounts resources_{};
    bstr red_;
};

TEST_F(ToolbarClassesTest, AMainWindowClickReachesButtonToolbarAndCreatingRootInOrder) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot(), stranger = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
    const LONG toolbarId = IdOf(toolbar.get());
    EXPECT_EQ((std::vector<UINT>{101, static_cast<UINT>(toolbarId)}), test::BandIds(client.rebars[0]))
        << "the band comes at once when the main window is attached";
    com_ptr<IOEButton> button = Button(toolbar.get(), L"Go");
    const LONG buttonId = IdOf(button.get());
    HWND w = HandleOf(toolbar.get());
    EXPECT_EQ("Go", ButtonText(w, buttonId));

    auto s1 = Listen(button, DIID_IOEButtonEvents, "button");
    auto s2 = Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
    auto s3 = Listen(root, DIID_IPLUMEObjEvents, "root");
    auto s4 = Listen(stranger, DIID_IPLUMEObjEvents, "stranger");
    test::ClickButton(w, buttonId);
    EXPECT_TRUE(g_heard.empty()) << "events arrive through the callback window";
    Pump();
    EXPECT_EQ((std::vector<Heard>{{"button", 1, {}},
                                  {"toolbar", 1, {buttonId}},
                                  {"root", 1, {toolbarId, buttonId}}}),
              g_heard);

    // A button destroyed while its click is in flight raises nothing.
    g_heard.clear();
    test::ClickButton(w, buttonId);
    EXPECT_EQ(S_OK, button->Destroy());
    EXPECT_EQ(0, SendMessageA(w, TB_BUTTONCOUNT, 0, 0));
    std::vector<std::string> log;
    SetLogObserver([&](int, const char* text) { log.push_back(text); });
    Pump();
    SetLogObserver(nullptr);
    EXPECT_TRUE(g_heard.empty());
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), std::string("RaiseOnButtonClicked: Cannot find object\n")));
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, RootsEnumerateFindAndRemoveOnlyTheirOwnToolbars) {
    com_ptr<IPLUMEObj> a = NewRoot(), b = NewRoot();
    com_ptr<IOEToolbar> a1, a2, b1, aMsg;
    a->CreateToolbar(a1.put());
    b->CreateToolbar(b1.put());
    a->CreateToolbar(a2.put());
    a->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, aMsg.put());
    EXPECT_EQ((std::vector<LONG>{IdOf(a1.get()) + 1, IdOf(a1.get()) + 2, IdOf(a1.get()) + 3}),
              (std::vector<LONG>{IdOf(b1.get()), IdOf(a2.get()), IdOf(aMsg.get())}))
        << "one counter for every toolbar of the process";
    LONG id = 0;
    EXPECT_EQ(S_OK, a->GetFirstToolbarID(&id));
    EXPECT_EQ(IdOf(a1.get()), id);
    a->GetNextToolbarID(&id);
    EXPECT_EQ(IdOf(a2.get()), id);
    a->GetNextToolbarID(&id);
    EXPECT_EQ(-1, id) << "message-window templates are not enumerated while the main host exists";
    a->GetNextToolbarID(&id);
    EXPECT_EQ(-1, id);

    com_ptr<IOEToolbar> found;
    EXPECT_EQ(S_OK, a->GetToolbar(IdOf(a2.get()), found.put()));
    ASSERT_TRUE(found);
    EXPECT_EQ(IdOf(a2.get()), IdOf(found.get()));
    EXPECT_EQ(S_OK, a->GetToolbar(IdOf(b1.get()), found.put()));
    EXPECT_FALSE(found) << "another root's toolbar";
    EXPECT_EQ(S_OK, a->GetToolbar(12345, found.put()));
    EXPECT_FALSE(found);
    EXPECT_EQ(S_OK, a->GetToolbar(IdOf(aMsg.get()), found.put()));
    EXPECT_TRUE(found) << "templates are found by id";
    EXPECT_EQ(E_POINTER, a->GetToolbar(1, nullptr));
    EXPECT_EQ(E_POINTER, a->CreateToolbar(nullptr));

    EXPECT_EQ(S_OK, a->RemoveAllToolbars());
    EXPECT_EQ(S_OK, a->GetFirstToolbarID(&id));
    EXPECT_EQ(-1, id);
    EXPECT_EQ(S_OK, b->GetFirstToolbarID(&id));
    EXPECT_EQ(IdOf(b1.get()), id);
    EXPECT_EQ(S_OK, a->GetToolbar(IdOf(aMsg.get()), found.put()));
    EXPECT_FALSE(found) << "templates went too";
    LONG color = 0;
    EXPECT_EQ(S_OK, a1->GetMaskColor(&color));
    EXPECT_EQ(static_cast<LONG>(0xFF000000), color) << "the record is gone";
    EXPECT_EQ(S_OK, a1->SetShown(0)) << "calls on a removed toolbar do nothing";

    // Destroy on an object that never had a record takes an id and leaves nothing.
    com_ptr<IOEToolbar> empty = com_ptr<IOEToolbar>::attach(MakeObject<OEToolbar>().detach());
    EXPECT_EQ(-1, IdOf(empty.get()));
    const LONG before = LiveUiResources().toolbars;
    EXPECT_EQ(S_OK, empty->Destroy());
    EXPECT_GT(IdOf(empty.get()), IdOf(aMsg.get()));
    EXPECT_EQ(before, LiveUiResources().toolbars);
    EXPECT_EQ(S_OK, b->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, ButtonsEnumerateAndKeepWhatWasSetBeforeCreate) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    root->CreateToolbar(toolbar.put());
    EXPECT_EQ(S_OK, toolbar->EnableTooltips(1)) << "the window exists already: no effect";
    EXPECT_EQ(0, GetWindowLongA(HandleOf(toolbar.get()), GWL_STYLE) & TBSTYLE_TOOLTIPS);
    LONG id = 0;
    EXPECT_EQ(S_OK, toolbar->GetFirstButtonID(&id));
    EXPECT_EQ(-1, id);
    toolbar->GetNextButtonID(&id);
    EXPECT_EQ(-1, id);

    // Properties set before Create take effect when it adds the button.
    com_ptr<IOEButton> early = com_ptr<IOEButton>::attach(MakeObject<OEButton>().detach());
    com_ptr<IOEButton> none;
    EXPECT_EQ(S_OK, early->CreateSubButton(bstr(L"x").get(), nullptr, nullptr, none.put()));
    EXPECT_FALSE(none) << "a fresh object has no button to hang a sub-button on";
    early->SetTooltip(bstr(L"tip").get());
    early->SetCheckStyle(1);
    early->SetEnabled(0);
    early->SetName(bstr(L"replaced").get());
    const LONG pendingId = IdOf(early.get());
    ASSERT_EQ(S_OK, early->Create(IdOf(toolbar.get()), bstr(L"Early").get(), red_.get(), nullptr));
    EXPECT_EQ(pendingId, IdOf(early.get()));
    HWND w = HandleOf(toolbar.get());
    EXPECT_EQ("Early", ButtonText(w, pendingId));
    EXPECT_EQ(BTNS_CHECK, ButtonInfo(w, pendingId).fsStyle & BTNS_CHECK);
    EXPECT_EQ(0, SendMessageA(w, TB_GETSTATE, pendingId, 0) & TBSTATE_ENABLED);
    EXPECT_EQ("<no tooltips>", test::TooltipText(w, pendingId)) << "tooltips were asked for too late";

    com_ptr<IOEButton> sep;
    ASSERT_EQ(S_OK, toolbar->CreateSeparator(sep.put()));
    LONG flag = 0;
    sep->IsSeparator(&flag);
    EXPECT_EQ(1, flag);
    EXPECT_EQ(pendingId + 1, IdOf(sep.get()));

    com_ptr<IOEButton> parent = Button(toolbar.get(), L"Parent");
    com_ptr<IOEButton> s1, s2, s3;
    ASSERT_EQ(S_OK, parent->CreateSubButton(bstr(L"One").get(), red_.get(), nullptr, s1.put()));
    ASSERT_EQ(S_OK, parent->CreateSubSeparator(s2.put()));
    ASSERT_EQ(S_OK, parent->CreateSubButton(bstr(L"Three").get(), nullptr, nullptr, s3.put()));
    EXPECT_EQ(BTNS_DROPDOWN, ButtonInfo(w, IdOf(parent.get())).fsStyle & BTNS_DROPDOWN);
    std::vector<LONG> subs;
    for (parent->GetFirstSubButtonID(&id); id != -1; parent->GetNextSubButtonID(&id)) subs.push_back(id);
    EXPECT_EQ((std::vector<LONG>{IdOf(s1.get()), IdOf(s2.get()), IdOf(s3.get())}), subs);
    parent->GetNextSubButtonID(&id);
    EXPECT_EQ(-1, id);
    com_ptr<IOEButton> byIndex;
    parent->GetSubButtonByIndex(2, byIndex.put());
    ASSERT_TRUE(byIndex);
    bstr name;
    byIndex->GetName(name.put());
    EXPECT_STREQ(L"Three", name.c_str());

    std::vector<LONG> top;
    for (toolbar->GetFirstButtonID(&id); id != -1; toolbar->GetNextButtonID(&id)) top.push_back(id);
    EXPECT_EQ((std::vector<LONG>{pendingId, IdOf(sep.get()), IdOf(parent.get())}), top);
    com_ptr<IOEButton> got;
    toolbar->GetButton(IdOf(s3.get()), got.put());
    EXPECT_TRUE(got) << "sub-buttons are found by id";
    toolbar->GetButton(99999, got.put());
    EXPECT_FALSE(got);
    toolbar->GetButtonByIndex(1, got.put());
    ASSERT_TRUE(got);
    EXPECT_EQ(IdOf(sep.get()), IdOf(got.get()));
    toolbar->GetButtonByIndex(3, got.put());
    EXPECT_FALSE(got);

    byIndex->SetShown(0);
    byIndex->IsVisible(&flag);
    EXPECT_EQ(0, flag);
    early->SetChecked(1);
    early->IsChecked(&flag);
    EXPECT_EQ(1, flag);
    EXPECT_EQ(TBSTATE_CHECKED, SendMessageA(w, TB_GETSTATE, pendingId, 0) & TBSTATE_CHECKED);
    EXPECT_EQ(E_POINTER, early->IsChecked(nullptr));
    EXPECT_EQ(E_POINTER, toolbar->GetPictureSize(nullptr, &id, &flag));

    EXPECT_EQ(S_OK, s1->Destroy());
    subs.clear();
    for (parent->GetFirstSubButtonID(&id); id != -1; parent->GetNextSubButtonID(&id)) subs.push_back(id);
    EXPECT_EQ((std::vector<LONG>{IdOf(s2.get()), IdOf(s3.get())}), subs);
    EXPECT_EQ(BTNS_DROPDOWN, ButtonInfo(w, IdOf(parent.get())).fsStyle & BTNS_DROPDOWN) << "kept";

    EXPECT_EQ(S_OK, toolbar->Destroy());
    EXPECT_EQ(std::vector<UINT>{101}, test::BandIds(client.rebars[0]));
    EXPECT_EQ(S_OK, early->SetName(bstr(L"after").get())) << "a destroyed button is a no-op";
}

// Tooltips are a property of the control: asked for before Create, the
// control shows each button's tooltip; otherwise it has no tooltips at all.
TEST_F(ToolbarClassesTest, TooltipsAskedForBeforeCreateAppearOnTheControl) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();
    LONG rootId = -1;
    root->GetID(&rootId);
    for (LONG enable : {1, 0}) {
        SCOPED_TRACE(enable);
        com_ptr<IOEToolbar> toolbar = com_ptr<IOEToolbar>::attach(MakeObject<OEToolbar>().detach());
        EXPECT_EQ(S_OK, toolbar->EnableTooltips(enable));
        ASSERT_EQ(S_OK, toolbar->Create(rootId));
        com_ptr<IOEButton> button = Button(toolbar.get(), L"Tipped");
        EXPECT_EQ(S_OK, button->SetTooltip(bstr(L"Says what it does").get()));
        HWND w = HandleOf(toolbar.get());
        ASSERT_TRUE(IsWindow(w));
        EXPECT_EQ(enable ? TBSTYLE_TOOLTIPS : 0, GetWindowLongA(w, GWL_STYLE) & TBSTYLE_TOOLTIPS);
        EXPECT_EQ(enable ? "Says what it does" : "<no tooltips>", test::TooltipText(w, IdOf(button.get())));
    }
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, PicturesAndTheClientsOwnToolbar) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    HIMAGELIST clientList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 4);
    SendMessageA(client.clientToolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(clientList));
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();

    com_ptr<IOEToolbar> own;
    ASSERT_EQ(S_OK, root->GetOEToolbar(own.put()));
    EXPECT_EQ(client.clientToolbar, HandleOf(own.get()));
    LONG cx = 0, cy = 0, res = 1;
    own->GetPictureSize(&cx, &cy, &res);
    EXPECT_EQ(1, res) << "the client's image list decides";
    EXPECT_EQ(16, cx);
    own->SetPictureSize(24, 24, &res);
    EXPECT_EQ(0, res);
    com_ptr<IOEButton> mine = Button(own.get(), L"Mine");
    EXPECT_EQ(3, SendMessageA(client.clientToolbar, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ("Mine", ButtonText(client.clientToolbar, IdOf(mine.get())));

    com_ptr<IOEToolbar> toolbar;
    root->CreateToolbar(toolbar.put());
    com_ptr<IOEButton> pictured = Button(toolbar.get(), L"Pic");
    HWND w = HandleOf(toolbar.get());
    HBITMAP bitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    PICTDESC desc{sizeof desc, PICTYPE_BITMAP};
    desc.bmp.hbitmap = bitmap;
    com_ptr<IPictureDisp> picture;
    ASSERT_EQ(S_OK, OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, picture.put_void()));
    const int before = ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(SendMessageA(w, TB_GETIMAGELIST, 0, 0)));
    EXPECT_EQ(S_OK, pictured->SetPicture(picture.get()));
    EXPECT_EQ(before, ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(SendMessageA(w, TB_GETIMAGELIST, 0, 0))))
        << "replaced in place";
    EXPECT_EQ(0, ButtonInfo(w, IdOf(pictured.get())).iImage);
    // An argument without IPicture changes nothing; no picture shows no image.
    auto notAPicture = com_ptr<RecordingSink>::attach(new RecordingSink(IID_IDispatch));
    EXPECT_EQ(S_OK, pictured->SetPicture(reinterpret_cast<IPictureDisp*>(notAPicture.get())));
    EXPECT_EQ(0, ButtonInfo(w, IdOf(pictured.get())).iImage);
    EXPECT_EQ(S_OK, pictured->SetPicture(nullptr));
    EXPECT_EQ(I_IMAGENONE, ButtonInfo(w, IdOf(pictured.get())).iImage);

    // A button made from a picture at insertion.
    com_ptr<IOEButton> late = com_ptr<IOEButton>::attach(MakeObject<OEButton>().detach());
    late->SetPicture(picture.get());
    ASSERT_EQ(S_OK, late->Create(IdOf(toolbar.get()), bstr(L"Late").get(), nullptr, nullptr));
    EXPECT_EQ(-1, ButtonInfo(w, IdOf(late.get())).iImage) << "Create replaces the picture by its (empty) file";

    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
    EXPECT_EQ(2, SendMessageA(client.clientToolbar, TB_BUTTONCOUNT, 0, 0));
    OEToolbarRegistry::Destroy();
    OEToolbarRegistry::Reopen();  // the next test starts afresh
    ImageList_Destroy(clientList);
}

TEST_F(ToolbarClassesTest, AMessageWindowClickReachesItsWindowObjectToo) {
    test::VariantScope oe(false);
    test::ClientWindow note(1, true, false);
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbarInMsgWnd(OE_MSG_SEND_WND, toolbar.put()));
    const LONG toolbarId = IdOf(toolbar.get());
    com_ptr<IOEButton> button = Button(toolbar.get(), L"InNote");
    const LONG buttonId = IdOf(button.get());
    EXPECT_EQ(0, HandleOf(toolbar.get())) << "templates have no window";

    OEPluginMsgWnd* record = AddMsgWnd(note.main, false);
    ASSERT_TRUE(record);
    InitMsgWnd(record, note.main);
    EXPECT_EQ(2, GetWndStyle(record));
    const LONG msgWndId = record->id();
    {
        com_ptr<IOEMsgWnd> window;
        ASSERT_EQ(S_OK, root->GetMsgWnd(msgWndId, window.put()));
        ASSERT_TRUE(window);
        com_ptr<IOEToolbar> inWindow;
        window->GetToolbar(toolbarId, inWindow.put());
        ASSERT_TRUE(inWindow);
        HWND w = HandleOf(inWindow.get());
        ASSERT_TRUE(IsWindow(w));
        EXPECT_EQ("InNote", ButtonText(w, buttonId));
        com_ptr<IOEToolbar> byIndex;
        window->GetToolbarByIndex(0, byIndex.put());
        EXPECT_EQ(w, HandleOf(byIndex.get()));

        auto s1 = Listen(button, DIID_IOEButtonEvents, "button");
        auto s2 = Listen(toolbar, DIID_IOEToolbarEvents, "toolbar");
        auto s3 = Listen(window, DIID_IOEMsgWndEvents, "window");
        auto s4 = Listen(root, DIID_IPLUMEObjEvents, "root");
        test::ClickButton(w, buttonId);
        Pump();
        EXPECT_EQ((std::vector<Heard>{{"button", 2, {msgWndId}},
                                      {"toolbar", 2, {buttonId, msgWndId}},
                                      {"window", 1, {toolbarId, buttonId}},
                                      {"root", 9, {toolbarId, buttonId, msgWndId}}}),
                  g_heard);
    }
    RemoveMsgWnd(note.main);
    EXPECT_EQ(std::vector<UINT>{101}, test::BandIds(note.rebars[0])) << "the copy died with its window";
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, NoRecordLockIsHeldWhileAClickHandlerRuns) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
    com_ptr<IOEButton> button = Button(toolbar.get(), L"Modal");
    const LONG buttonId = IdOf(button.get());

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
    test::ClickButton(HandleOf(toolbar.get()), buttonId);
    Pump();
    EXPECT_TRUE(otherThreadGotIt);
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

TEST_F(ToolbarClassesTest, ButtonsWhoseCommandIdWouldNotFitAreRefused) {
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
    const LONG saved = SetNextButtonIdForTesting(test::client_numbers::kLastButtonId);
    com_ptr<IOEButton> last = Button(toolbar.get(), L"Last");
    EXPECT_EQ(test::client_numbers::kLastButtonId, IdOf(last.get())) << "the last id a WM_COMMAND can carry";
    com_ptr<IOEButton> refused;
    EXPECT_EQ(DISP_E_OVERFLOW, toolbar->CreateButton(bstr(L"Refused").get(), red_.get(), nullptr, refused.put()));
    EXPECT_FALSE(refused);
    com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, info.put()));
    bstr description;
    info->GetDescription(description.put());
    EXPECT_NE(nullptr, wcsstr(description.get(), L"command identifier")) << "a clear error";
    SetNextButtonIdForTesting(saved);
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

LRESULT CALLBACK RecordingClientProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) reinterpret_cast<std::vector<WPARAM>*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA))->push_back(wParam);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(ToolbarClassesTest, NothingTheLibraryThrowsLeavesTheClientsWindowProcedure) {
    test::VariantScope oe(false);
    test::ClientWindow client(1);
    OEToolbarRegistry::Get(true)->mainHost().Attach(client.main, 1);
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
    const LONG buttonId = IdOf(Button(toolbar.get(), L"Fails").get());
    // A failed allocation deep inside the library, on the client's thread.
    {
        locked_ref<OEPluginButton> record(OEToolbarRegistry::FindButton(buttonId));
        ASSERT_TRUE(record);
        record->clickHandler = [](LONG, LONG, INT64) -> LRESULT { throw std::bad_alloc(); };
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingClientProc;
    wc.lpszClassName = "PlumeThrowTest";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("PlumeThrowTest", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::vector<WPARAM> clientSaw;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&clientSaw));
    ASSERT_TRUE(AddMsgWnd(window, true));
    std::vector<std::string> log;
    SetLogObserver([&](int, const char* text) { log.push_back(text); });
    SendMessageA(window, WM_COMMAND, buttonId, 0);
    SetLogObserver(nullptr);
    EXPECT_EQ(std::vector<WPARAM>{static_cast<WPARAM>(buttonId)}, clientSaw) << "the client still got its message";
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(),
                                   std::string("MsgWndProc: failed on message 0x111; passed on without the library.\n")));

    // A toolbar task message from another program is not run.
    EXPECT_EQ(1, SendMessageA(client.sizable, RegisterWindowMessageA("PLUME_ToolbarTask"), 0, 0x1234));
    DestroyWindow(window);
    EXPECT_EQ(S_OK, root->RemoveAllToolbars());
}

}  // namespace
}  // namespace plume
