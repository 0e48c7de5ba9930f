// The toolbar host and buttons against real rebar and toolbar controls in a
// window of the client's shape: bands, styles, images, tooltips, states,
// clicks, drop-down and chevron menus, the client's own toolbar, message
// window copies, threads and leaks.
#include <atomic>
#include <thread>

#include "object_events.h"
#include "toolbar_fixture.h"
#include "ui/toolbar_records.h"
#include "ui/toolbar_registry.h"

namespace plume {
namespace {

using test::BandIds;
using test::BandInfo;
using test::ButtonInfo;
using test::ButtonText;
using test::ClientWindow;

struct Click {
    LONG toolbarId;
    LONG buttonId;
    INT64 window;
};
std::vector<Click> g_clicks;
LRESULT RecordClick(LONG toolbarId, LONG buttonId, INT64 window) {
    g_clicks.push_back({toolbarId, buttonId, window});
    return 0;
}

class ToolbarHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_clicks.clear();
        test::ClientCommands().clear();
        baseline_ = LiveUiResources();
        client_ = std::make_unique<ClientWindow>(1);
        red_ = test::WriteBitmapFile("plume_red.bmp", 16, 16, RGB(255, 0, 0));
        green_ = test::WriteBitmapFile("plume_green.bmp", 16, 16, RGB(0, 255, 0));
    }
    void TearDown() override {
        client_.reset();
        OEToolbarRegistry::Destroy();
        OEToolbarRegistry::Reopen();  // the next test starts afresh
        EXPECT_EQ(test::Counts(baseline_), test::Counts(LiveUiResources()));
    }

    OEToolbarHost& MainHost() { return OEToolbarRegistry::Get(true)->mainHost(); }

    static ButtonPtr AddNamed(OEPluginToolbar& tb, const std::string& name, const std::string& image) {
        auto b = std::make_shared<OEPluginButton>();
        cs_lock hold(tb.lock);
        cs_lock holdButton(b->lock);
        b->SetName(name);
        b->SetImageNormal(image);
        b->SetImageMouseOver("");
        b->clickHandler = RecordClick;
        AddButton(tb, b);
        return b;
    }
    static ButtonPtr AddSeparator(OEPluginToolbar& tb) {
        auto b = std::make_shared<OEPluginButton>();
        cs_lock hold(tb.lock);
        b->separator = true;
        AddButton(tb, b);
        return b;
    }
    static ButtonPtr AddSub(const ButtonPtr& parent, const std::string& name) {
        auto b = std::make_shared<OEPluginButton>();
        cs_lock hold(parent->lock);
        b->SetName(name);
        b->SetImageNormal("");
        b->clickHandler = RecordClick;
        AddSubButton(parent, b);
        return b;
    }
    static LRESULT State(const OEPluginToolbar& tb, const ButtonPtr& b) {
        return tb.Send(TB_GETSTATE, b->commandId, 0);
    }
    template <typename Record>
    static void Destroy(const std::shared_ptr<Record>& record) {
        cs_lock hold(record->lock);
        record->Destroy();
    }

    UiResourceCounts baseline_{};
    std::string red_, green_;
    test::VariantScope oe_{false};
    std::unique_ptr<ClientWindow> client_;  // the main window, one rebar
};

TEST_F(ToolbarHostTest, MainWindowBandComesAndGoesWithAttachAndDetach) {
    ToolbarPtr tb = MainHost().NewToolbar();
    EXPECT_EQ(baseline_.toolbars + 1, LiveUiResources().toolbars) << "the record counter must move";
    ButtonPtr alpha = AddNamed(*tb, "Alpha", red_);
    ButtonPtr sep = AddSeparator(*tb);
    ButtonPtr beta = AddNamed(*tb, "Beta", "C:\\no\\such\\file.bmp");
    EXPECT_EQ(nullptr, tb->window) << "no window before the host is attached";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(1, MainHost().Attach(client_->main, 1));
        EXPECT_TRUE(MainHost().attached());
        EXPECT_EQ(client_->clientToolbar, MainHost().hostToolbar());
        EXPECT_EQ(0, MainHost().kind());
        EXPECT_EQ((std::vector<UINT>{101, static_cast<UINT>(tb->id)}), BandIds(client_->rebars[0]));

        HWND w = tb->window;
        ASSERT_TRUE(IsWindow(w));
        EXPECT_EQ(client_->rebars[0], GetParent(w));
        const REBARBANDINFOA band = BandInfo(client_->rebars[0], tb->id);
        EXPECT_EQ(w, band.hwndChild);
        EXPECT_EQ(static_cast<UINT>(RBBS_BREAK | RBBS_CHILDEDGE | RBBS_USECHEVRON),
                  band.fStyle & (RBBS_BREAK | RBBS_CHILDEDGE | RBBS_USECHEVRON | RBBS_HIDDEN));
        const LONG style = GetWindowLongA(w, GWL_STYLE);
        EXPECT_EQ(0x5000884C, style & 0x5000994C) << std::hex << style;
        EXPECT_EQ(static_cast<LRESULT>(TBSTYLE_EX_DRAWDDARROWS | TBSTYLE_EX_HIDECLIPPEDBUTTONS),
                  SendMessageA(w, TB_GETEXTENDEDSTYLE, 0, 0));

        ASSERT_EQ(3, SendMessageA(w, TB_BUTTONCOUNT, 0, 0));
        EXPECT_EQ("Alpha", ButtonText(w, alpha->commandId));
        EXPECT_EQ("Beta", ButtonText(w, beta->commandId));
        EXPECT_EQ(0, ButtonInfo(w, alpha->commandId).iImage);
        EXPECT_EQ(-1, ButtonInfo(w, beta->commandId).iImage) << "a missing file leaves the button without image";
        EXPECT_EQ(BTNS_SEP, ButtonInfo(w, sep->commandId).fsStyle & BTNS_SEP);
        EXPECT_EQ(BTNS_AUTOSIZE, ButtonInfo(w, alpha->commandId).fsStyle);
        EXPECT_EQ(std::make_pair(16, 16), test::ImageSize(w));
        EXPECT_EQ(1, ImageList_GetImageCount(test::Images(w)));
        EXPECT_EQ(1, ImageList_GetImageCount(reinterpret_cast<HIMAGELIST>(SendMessageA(w, TB_GETHOTIMAGELIST, 0, 0))));
        EXPECT_EQ(baseline_.imageLists + 2, LiveUiResources().imageLists);

        MainHost().Detach();
        EXPECT_FALSE(MainHost().attached());
        EXPECT_FALSE(IsWindow(w));
        EXPECT_EQ(nullptr, tb->window);
        EXPECT_EQ(std::vector<UINT>{101}, BandIds(client_->rebars[0]));
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(test::ContainerProc), GetWindowLongPtrA(client_->sizable, GWLP_WNDPROC));
        EXPECT_EQ(baseline_.imageLists, LiveUiResources().imageLists);
        EXPECT_EQ(3u, tb->Buttons().size()) << "buttons stay with the record";
    }
}

TEST_F(ToolbarHostTest, WindowsMailPutsTheBandIntoTheSecondRebar) {
    test::VariantScope wm(true);
    {
        ClientWindow client(2);
        ToolbarPtr tb = MainHost().NewToolbar();
        ButtonPtr text = AddNamed(*tb, "Text", red_);
        ButtonPtr bare = AddNamed(*tb, "", red_);
        MainHost().Attach(client.main, 1);
        EXPECT_EQ(std::vector<UINT>{}, BandIds(client.rebars[0]));
        EXPECT_EQ((std::vector<UINT>{101, static_cast<UINT>(tb->id)}), BandIds(client.rebars[1]));
        EXPECT_EQ(BTNS_AUTOSIZE | BTNS_SHOWTEXT, ButtonInfo(tb->window, text->commandId).fsStyle);
        EXPECT_EQ(BTNS_AUTOSIZE, ButtonInfo(tb->window, bare->commandId).fsStyle);
        EXPECT_EQ(-1, test::ButtonStringIndex(tb->window, bare->commandId)) << "an empty name adds no string";
        EXPECT_EQ(0, test::ButtonStringIndex(tb->window, text->commandId));
        MainHost().Detach();
    }
    // Only one rebar: on Windows Mail there is no place for the band.
    OEToolbarHost host;
    ToolbarPtr tb = host.NewToolbar();
    host.Attach(client_->main, 1);
    EXPECT_FALSE(host.attached());
    EXPECT_EQ(nullptr, tb->window);
    EXPECT_EQ(std::vector<UINT>{101}, BandIds(client_->rebars[0]));
}

TEST_F(ToolbarHostTest, PictureSizeAndMaskColourDecideTheImageLists) {
    LONG cx = 0, cy = 0;

    ToolbarPtr sized = MainHost().NewToolbar();
    EXPECT_EQ(0, sized->GetPictureSize(&cx, &cy));
    EXPECT_EQ(std::make_pair(16L, 16L), std::make_pair(LONG(cx), LONG(cy)));
    sized->pictureWidth = sized->pictureHeight = -1;
    EXPECT_EQ(1, sized->SetPictureSize(24, 20));
    std::string big = test::WriteBitmapFile("plume_big.bmp", 24, 20, RGB(0, 0, 255));
    AddNamed(*sized, "Sized", big);

    // Green pixels are transparent for this toolbar, red ones for the default.
    ToolbarPtr masked = MainHost().NewToolbar();
    masked->maskColor = RGB(0, 255, 0);
    ButtonPtr greenButton = AddNamed(*masked, "G", green_);
    ToolbarPtr plain = MainHost().NewToolbar();
    ButtonPtr redButton = AddNamed(*plain, "R", red_);
    ButtonPtr greenOnPlain = AddNamed(*plain, "G", green_);

    ToolbarPtr zero = MainHost().NewToolbar();
    EXPECT_EQ(1, zero->SetPictureSize(0, 0));
    ToolbarPtr huge = MainHost().NewToolbar();
    EXPECT_EQ(1, huge->SetPictureSize(100000, 100000));
    AddNamed(*huge, "H", red_);

    ToolbarPtr wrap = MainHost().NewToolbar();
    wrap->wrapsHostToolbar = true;
    EXPECT_EQ(0, wrap->SetPictureSize(24, 24));
    EXPECT_EQ(0, wrap->GetPictureSize(&cx, &cy));
    EXPECT_EQ(std::make_pair(-1L, -1L), std::make_pair(LONG(cx), LONG(cy)));

    MainHost().Attach(client_->main, 1);
    EXPECT_EQ(std::make_pair(24, 20), test::ImageSize(sized->window));
    EXPECT_EQ(std::make_pair(16, 16), test::ImageSize(zero->window));
    EXPECT_EQ(0, sized->SetPictureSize(32, 32)) << "the image list exists";
    EXPECT_EQ(1, sized->GetPictureSize(&cx, &cy));
    EXPECT_EQ(24, cx);

    // Draw each image on white: a transparent image leaves the white.
    auto drawn = [](const ToolbarPtr& tb, const ButtonPtr& b) {
        HDC screen = GetDC(nullptr);
        const unique_hbitmap bmp(CreateCompatibleBitmap(screen, 16, 16));
        const unique_hdc dc(CreateCompatibleDC(screen));  // goes first, with the bitmap still selected
        ReleaseDC(nullptr, screen);
        SelectObject(dc.get(), bmp.get());
        RECT r{0, 0, 16, 16};
        FillRect(dc.get(), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ImageList_Draw(test::Images(tb->window), ButtonInfo(tb->window, b->commandId).iImage, dc.get(), 0, 0,
                       ILD_TRANSPARENT);
        return GetPixel(dc.get(), 8, 8);
    };
    EXPECT_EQ(RGB(255, 255, 255), drawn(masked, greenButton));
    EXPECT_EQ(RGB(255, 255, 255), drawn(plain, redButton)) << "255 is the default mask colour";
    EXPECT_EQ(RGB(0, 255, 0), drawn(plain, greenOnPlain));

    // A picture size no image list can have: the control stays without band.
    EXPECT_TRUE(IsWindow(huge->window));
    EXPECT_EQ(-1, SendMessageA(client_->rebars[0], RB_IDTOINDEX, huge->id, 0));
    HWND hugeWindow = huge->window;
    Destroy(huge);
    EXPECT_FALSE(IsWindow(hugeWindow));
}

// Each setter changes the real control at once; tooltips are the control's,
// and asked for after the window exists, too late.
TEST_F(ToolbarHostTest, ToolbarAndButtonSettersReachTheControls) {
    ToolbarPtr tb = MainHost().NewToolbar(), none = MainHost().NewToolbar();
    tb->Show(false);
    tb->SetMaxTextRows(0);
    tb->EnableTooltips(true);
    ButtonPtr b = AddNamed(*tb, "Name", red_), parent = AddNamed(*tb, "Parent", red_), c = AddNamed(*none, "N", red_);
    MainHost().Attach(client_->main, 1);
    HWND w = tb->window, rb = client_->rebars[0];
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(static_cast<UINT>(RBBS_HIDDEN), BandInfo(rb, tb->id).fStyle & RBBS_HIDDEN);
    EXPECT_EQ(0, SendMessageA(w, TB_GETTEXTROWS, 0, 0));
    tb->Show(true);
    EXPECT_EQ(0u, BandInfo(rb, tb->id).fStyle & RBBS_HIDDEN);
    EXPECT_TRUE(IsWindowVisible(w));
    tb->SetLargeButtons(false);
    EXPECT_EQ(TBSTYLE_LIST, SendMessageA(w, TB_GETSTYLE, 0, 0) & TBSTYLE_LIST);
    tb->SetLargeButtons(true);
    EXPECT_EQ(0, SendMessageA(w, TB_GETSTYLE, 0, 0) & TBSTYLE_LIST);
    tb->SetMaxTextRows(2);
    EXPECT_EQ(2, SendMessageA(w, TB_GETTEXTROWS, 0, 0));
    none->EnableTooltips(true);
    EXPECT_FALSE(none->tooltips) << "too late: the window exists";
    EXPECT_EQ("<no tooltips>", test::TooltipText(none->window, c->commandId));

    cs_lock hold(b->lock);
    b->SetTooltip(std::string(2000, 'x'));
    // Wine reads back at most 80 characters; the long text arrives intact as far as that.
    const std::string longTip = test::TooltipText(w, b->commandId);
    EXPECT_TRUE(longTip.size() >= 80u && longTip == std::string(longTip.size(), 'x')) << longTip;

    EXPECT_EQ(TBSTATE_ENABLED, State(*tb, b));
    b->SetEnabled(false);
    EXPECT_EQ(0, State(*tb, b) & TBSTATE_ENABLED);
    b->SetEnabled(true);
    b->SetShown(false);
    EXPECT_EQ(TBSTATE_HIDDEN, State(*tb, b) & TBSTATE_HIDDEN);
    b->SetShown(true);
    b->SetChecked(true);
    EXPECT_EQ(0, State(*tb, b) & TBSTATE_CHECKED) << "checked shows only with the check style";
    b->SetCheckStyle(true);
    b->SetChecked(true);
    EXPECT_EQ(TBSTATE_CHECKED, State(*tb, b) & TBSTATE_CHECKED);

    b->SetName("Renamed");
    EXPECT_EQ("Renamed", ButtonText(w, b->commandId));
    b->SetName(std::string(400, 'n'));
    EXPECT_EQ(std::string(255, 'n'), ButtonText(w, b->commandId));

    b->SetImageNormal(green_);
    EXPECT_EQ(0, ButtonInfo(w, b->commandId).iImage) << "the image is replaced in place";
    b->SetPicture(nullptr);
    EXPECT_EQ(I_IMAGENONE, ButtonInfo(w, b->commandId).iImage);

    EXPECT_EQ(0, ButtonInfo(w, parent->commandId).fsStyle & BTNS_DROPDOWN);
    AddSub(parent, "Sub");
    EXPECT_EQ(BTNS_DROPDOWN, ButtonInfo(w, parent->commandId).fsStyle & BTNS_DROPDOWN);
}

TEST_F(ToolbarHostTest, ClicksTakeTheRoadOfOneClick) {
    ToolbarPtr tb = MainHost().NewToolbar();
    ButtonPtr plain = AddNamed(*tb, "Plain", red_);
    ButtonPtr check = AddNamed(*tb, "Check", red_);
    check->checkStyle = true;
    ButtonPtr popup = AddNamed(*tb, "Popup", red_);
    popup->popupStyle = true;
    ButtonPtr shown = AddSub(popup, "Shown");
    ButtonPtr hiddenSub = AddSub(popup, "Hidden");
    hiddenSub->hidden = true;
    ButtonPtr lonelyPopup = AddNamed(*tb, "Lonely", red_);
    lonelyPopup->popupStyle = true;
    MainHost().Attach(client_->main, 1);
    HWND w = tb->window;

    test::ClickButton(w, plain->commandId);
    ASSERT_EQ(1u, g_clicks.size());
    EXPECT_EQ(tb->id, g_clicks[0].toolbarId);
    EXPECT_EQ(plain->commandId, g_clicks[0].buttonId);
    EXPECT_EQ(-1, g_clicks[0].window);
    EXPECT_EQ(std::vector<int>{plain->commandId}, test::ClientCommands()) << "the command still reaches the client";

    test::ClickButton(w, check->commandId);
    EXPECT_TRUE(check->checked);
    test::ClickButton(w, check->commandId);
    EXPECT_FALSE(check->checked);
    EXPECT_EQ(3u, g_clicks.size());

    {
        test::MenuWatcher watcher;
        test::ClickButton(w, popup->commandId);
        ASSERT_EQ(1u, test::MenusSeen().size()) << "a popup-style button opens its menu";
        ASSERT_EQ(1u, test::MenusSeen()[0].size()) << "hidden sub-buttons stay out";
        EXPECT_EQ(static_cast<UINT>(shown->commandId), test::MenusSeen()[0][0].id);
        EXPECT_EQ("Shown", test::MenusSeen()[0][0].text);
        EXPECT_EQ(3u, g_clicks.size()) << "and raises no click";

        test::ClickButton(w, popup->commandId, true);
        EXPECT_EQ(2u, test::MenusSeen().size()) << "the arrow opens it too";
    }
    test::ClickButton(w, lonelyPopup->commandId);
    EXPECT_EQ(4u, g_clicks.size()) << "without sub-buttons a popup-style button clicks";

    // A chosen menu item comes back as WM_COMMAND through the rebar.
    SendMessageA(client_->rebars[0], WM_COMMAND, shown->commandId, 0);
    ASSERT_EQ(5u, g_clicks.size());
    EXPECT_EQ(tb->id, g_clicks[4].toolbarId);
    EXPECT_EQ(shown->commandId, g_clicks[4].buttonId);

    // Another window: its handle goes with the click, the check state stays.
    HWND other = CreateWindowA("STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    RouteCommand(DefWindowProcA, other, WM_COMMAND, check->commandId, 0);
    ASSERT_EQ(6u, g_clicks.size());
    EXPECT_EQ(reinterpret_cast<INT64>(other), g_clicks[5].window);
    EXPECT_FALSE(check->checked);
    DestroyWindow(other);

    // A button removed while its click is in flight is found no more.
    const LONG id = plain->commandId;
    Destroy(plain);
    EXPECT_FALSE(LockedButtonRecord(id));
    RouteCommand(DefWindowProcA, client_->main, WM_COMMAND, id, 0);
    EXPECT_EQ(6u, g_clicks.size());
    EXPECT_EQ(3, SendMessageA(w, TB_BUTTONCOUNT, 0, 0));
}

TEST_F(ToolbarHostTest, WrappingTheClientsToolbarAddsButtonsAndGuardsThem) {
    HIMAGELIST clientList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 0, 4);
    SendMessageA(client_->clientToolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(clientList));
    ToolbarPtr tb = MainHost().NewToolbar();
    tb->wrapsHostToolbar = true;
    ButtonPtr mine = AddNamed(*tb, "Mine", red_);
    MainHost().Attach(client_->main, 1);
    HWND w = client_->clientToolbar;

    EXPECT_EQ(w, tb->window);
    EXPECT_EQ(std::vector<UINT>{101}, BandIds(client_->rebars[0])) << "no band of its own";
    EXPECT_EQ(3, SendMessageA(w, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ("Mine", ButtonText(w, mine->commandId));
    EXPECT_EQ(1, ImageList_GetImageCount(clientList));

    SendMessageA(w, TB_ENABLEBUTTON, mine->commandId, FALSE);
    EXPECT_EQ(TBSTATE_ENABLED, SendMessageA(w, TB_GETSTATE, mine->commandId, 0) & TBSTATE_ENABLED);
    SendMessageA(w, TB_ENABLEBUTTON, 40100, FALSE);
    EXPECT_EQ(0, SendMessageA(w, TB_GETSTATE, 40100, 0) & TBSTATE_ENABLED) << "the client's own buttons obey";
    HIMAGELIST other = ImageList_Create(16, 16, ILC_COLOR32, 0, 1);
    EXPECT_EQ(1, SendMessageA(w, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(other)));
    EXPECT_EQ(reinterpret_cast<LRESULT>(clientList), SendMessageA(w, TB_GETIMAGELIST, 0, 0));

    // The client rebuilds its toolbar's buttons; the next attach puts ours back.
    SendMessageA(w, TB_DELETEBUTTON, SendMessageA(w, TB_COMMANDTOINDEX, mine->commandId, 0), 0);
    MainHost().Attach(client_->main, 1);
    EXPECT_EQ("Mine", ButtonText(w, mine->commandId));

    Destroy(tb);
    EXPECT_EQ(2, SendMessageA(w, TB_BUTTONCOUNT, 0, 0)) << "destroying the record takes its buttons away";
    MainHost().Detach();
    EXPECT_NE(reinterpret_cast<LONG_PTR>(OEToolbarHost::ClientToolbarProc), GetWindowLongPtrA(w, GWLP_WNDPROC));
    EXPECT_EQ(0, SendMessageA(w, TB_SETIMAGELIST, 0, 0) == 1);
    ImageList_Destroy(clientList);
    ImageList_Destroy(other);
}

TEST_F(ToolbarHostTest, MessageWindowsGetCopiesOfTheTemplatesTheirKindAsks) {
    OEToolbarHost& templates = OEToolbarRegistry::Get(true)->msgWndTemplates();
    ToolbarPtr sendOnly = templates.NewToolbar();
    sendOnly->wndStyleMask = 2;  // OE_MSG_SEND_WND
    sendOnly->ownerId = 7;
    ButtonPtr toggle = AddNamed(*sendOnly, "Toggle", red_);
    toggle->checkStyle = true;
    ToolbarPtr anyWindow = templates.NewToolbar();
    anyWindow->wndStyleMask = 1 | 2;
    AddNamed(*anyWindow, "Any", red_);

    ClientWindow compose(1, true, false);
    ClientWindow read(1, false, false);
    auto composeHost = OEToolbarHost::NewMsgWndHost();
    auto readHost = OEToolbarHost::NewMsgWndHost();
    ASSERT_EQ(2u, composeHost->Toolbars().size());
    composeHost->Attach(compose.main, 0);
    readHost->Attach(read.main, 0);
    EXPECT_EQ(2, composeHost->kind());
    EXPECT_EQ(1, readHost->kind());
    EXPECT_EQ((std::vector<UINT>{101, static_cast<UINT>(sendOnly->id), static_cast<UINT>(anyWindow->id)}),
              BandIds(compose.rebars[0]));
    EXPECT_EQ((std::vector<UINT>{101, static_cast<UINT>(anyWindow->id)}), BandIds(read.rebars[0]));
    EXPECT_EQ(1, readHost->FindToolbar(anyWindow->id)->wndStyleMask) << "a matching copy takes the window's kind";
    EXPECT_EQ(nullptr, sendOnly->window) << "templates never get windows";

    ToolbarPtr copy = composeHost->FindToolbar(sendOnly->id);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, sendOnly);
    EXPECT_EQ(7, copy->ownerId);
    ButtonPtr copied = composeHost->FindButton(toggle->commandId);
    ASSERT_TRUE(copied);
    EXPECT_NE(copied, toggle);
    EXPECT_EQ("Toggle", ButtonText(copy->window, toggle->commandId));

    // A click in the message window: its copy toggles, the template posts.
    composeHost->OfferMsgWndCommand(compose.main, toggle->commandId);
    RouteCommand(DefWindowProcA, compose.main, WM_COMMAND, toggle->commandId, 0);
    EXPECT_TRUE(copied->checked);
    EXPECT_FALSE(toggle->checked);
    ASSERT_EQ(1u, g_clicks.size());
    EXPECT_EQ(sendOnly->id, g_clicks[0].toolbarId);
    EXPECT_EQ(reinterpret_cast<INT64>(compose.main), g_clicks[0].window);

    HWND copyWindow = copy->window;
    composeHost.reset();
    readHost.reset();
    EXPECT_FALSE(IsWindow(copyWindow));
    EXPECT_EQ(std::vector<UINT>{101}, BandIds(compose.rebars[0]));
}

TEST_F(ToolbarHostTest, ChevronMenuListsTheClippedButtons) {
    ToolbarPtr tb = MainHost().NewToolbar();
    std::vector<ButtonPtr> buttons;
    for (int i = 0; i < 12; ++i) buttons.push_back(AddNamed(*tb, "Button " + std::to_string(i), red_));
    buttons[11]->hidden = true;
    MainHost().Attach(client_->main, 1);
    MoveWindow(client_->sizable, 0, 0, 160, 120, TRUE);
    MoveWindow(client_->rebars[0], 0, 0, 160, 60, TRUE);
    RECT band{};
    SendMessageA(client_->rebars[0], RB_GETRECT, SendMessageA(client_->rebars[0], RB_IDTOINDEX, tb->id, 0),
                 reinterpret_cast<LPARAM>(&band));
    ASSERT_LT(band.right - band.left, 200) << "the band must be narrow for this test";

    test::MenuWatcher watcher;
    NMREBARCHEVRON chevron{};
    chevron.hdr.hwndFrom = client_->rebars[0];
    chevron.hdr.code = RBN_CHEVRONPUSHED;
    chevron.uBand = static_cast<UINT>(SendMessageA(client_->rebars[0], RB_IDTOINDEX, tb->id, 0));
    chevron.wID = tb->id;
    EXPECT_EQ(0, SendMessageA(client_->sizable, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&chevron)));
    ASSERT_EQ(1u, test::MenusSeen().size());
    const auto& items = test::MenusSeen()[0];
    ASSERT_FALSE(items.empty());
    EXPECT_LT(items.size(), 11u) << "buttons that fit stay out";
    EXPECT_EQ(static_cast<UINT>(buttons[10]->commandId), items.back().id) << "the hidden last button stays out";
    EXPECT_EQ("Button 10", items.back().text);
    EXPECT_NE(nullptr, items.back().checkedBitmap) << "menu items carry the button's image";
}

TEST_F(ToolbarHostTest, ManyButtonsComeAndGoWithoutLeaks) {
    ToolbarPtr tb = MainHost().NewToolbar();
    MainHost().Attach(client_->main, 1);
    constexpr int kButtons = 150;  // the image list grows many times
    for (int i = 0; i < kButtons; ++i) AddNamed(*tb, "B", red_);
    EXPECT_EQ(kButtons, SendMessageA(tb->window, TB_BUTTONCOUNT, 0, 0));
    EXPECT_EQ(kButtons, ImageList_GetImageCount(test::Images(tb->window)));
    EXPECT_EQ(baseline_.buttons + kButtons, LiveUiResources().buttons);
    OEToolbarRegistry::RemoveToolbarsOf(-1);
    EXPECT_EQ(std::vector<UINT>{101}, BandIds(client_->rebars[0]));
    EXPECT_EQ(baseline_.buttons, LiveUiResources().buttons);
    EXPECT_EQ(baseline_.imageLists, LiveUiResources().imageLists);
}

TEST_F(ToolbarHostTest, ControlsBelongToTheClientThreadWhoeverAsks) {
    MainHost().Attach(client_->main, 1);
    ToolbarPtr tb;
    std::atomic<bool> done{false};
    auto pumpUntil = [&] { test::PumpUntil([&] { return done.load(); }, 30000); };
    std::thread server([&] {
        tb = MainHost().NewToolbar();
        {
            cs_lock hold(tb->lock);
            tb->EnsureWindow(3, false);
        }
        AddNamed(*tb, "From the server", red_);
        done = true;
    });
    pumpUntil();
    server.join();
    ASSERT_TRUE(IsWindow(tb->window));
    EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(tb->window, nullptr));
    EXPECT_EQ(3, tb->ownerId);
    EXPECT_EQ("From the server", ButtonText(tb->window, tb->Buttons()[0]->commandId));

    HWND w = tb->window;
    done = false;
    std::thread destroyer([&] {
        Destroy(tb);
        done = true;
    });
    pumpUntil();
    destroyer.join();
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(std::vector<UINT>{101}, BandIds(client_->rebars[0]));
}

// The server thread changes buttons while the client thread attaches,
// clicks and detaches: neither may wait for the other for ever.
TEST_F(ToolbarHostTest, ServerChangesWhileTheClientThreadAttachesAndClicks) {
    ToolbarPtr tb = MainHost().NewToolbar();
    ButtonPtr fixed = AddNamed(*tb, "Fixed", red_);
    std::atomic<bool> done{false}, clientRunning{false};
    std::thread server([&] {
        while (!clientRunning) Sleep(1);
        for (int i = 0; i < 60; ++i) {
            ButtonPtr b = AddNamed(*tb, "Temp", red_);
            {
                cs_lock hold(b->lock);
                b->SetName("Renamed");
                b->SetShown(i % 2 == 0);
            }
            ButtonPtr sub = AddSub(fixed, "Sub");
            Destroy(b);
            Destroy(sub);
        }
        done = true;
    });
    // The server starts once the client thread works: the rounds overlap.
    size_t rounds = 0;
    do {
        MainHost().Attach(client_->main, 1);
        ASSERT_TRUE(IsWindow(tb->window));
        test::ClickButton(tb->window, fixed->commandId);
        test::Pump();
        MainHost().Detach();
        ++rounds;
        clientRunning = true;
    } while (!done);
    server.join();
    EXPECT_EQ(rounds, g_clicks.size()) << "every click reached the button once";
    for (const Click& c : g_clicks) EXPECT_EQ(fixed->commandId, c.buttonId);
    EXPECT_EQ(1u, tb->Buttons().size());
    EXPECT_FALSE(fixed->HasSubButtons());
    MainHost().Attach(client_->main, 1);
    EXPECT_EQ(1, SendMessageA(tb->window, TB_BUTTONCOUNT, 0, 0));
}

}  // namespace
}  // namespace plume
