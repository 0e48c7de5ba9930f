// Menu items in the running client, reached over COM from this process as a
// plug-in writer's program would: what the client's real pop-ups hold when
// the user opens them (read inside the client), choices made with the
// keyboard in the menu's own loop, and the events on real sinks in the order
// item, menu, message window, root.
#include <plume.h>

#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "toolbar_e2e.h"

namespace plume::test {
namespace {

long H(HWND h) { return static_cast<long>(reinterpret_cast<LONG_PTR>(h)); }

// What the client's contract fixes.
constexpr long kFirstItemId = 50101;
constexpr long kEditMenu = 1, kFileMenu = 0;  // positions in the menu bar
constexpr long kNewMessageCommand = 40465;
constexpr DISPID kItemOnClick = 1, kItemOnMsgWndClick = 2;
constexpr DISPID kMenuOnItemClicked = 1, kMenuOnMsgWndItemClicked = 2;
constexpr DISPID kWindowOnMenuItemClicked = 2;
constexpr DISPID kRootOnMenuItemClicked = 2, kRootOnMsgWndMenuItemClicked = 14;

// One entry of a pop-up as the client reads it.
struct Entry {
    long id;
    std::wstring text;
    bool separator, checked, greyed, sub;
};

class MenuE2E : public LibraryClientTest {
protected:
    static std::vector<Entry> Entries(const Var& items) {
        std::vector<Entry> out;
        for (const Var& v : items.Array()) {
            std::vector<Var> e = v.Array();
            out.push_back({e[0].Long(), e[1].Str(), e[5].Bool(), e[6].Bool(), e[7].Bool(), e[3].Bool()});
        }
        return out;
    }
    static std::vector<std::wstring> Texts(const std::vector<Entry>& entries) {
        std::vector<std::wstring> out;
        for (const Entry& e : entries) out.push_back(e.separator ? L"-" : e.text);
        return out;
    }
    // Opens the pop-up as a user does and reads it while it is open.
    std::vector<Entry> Open(HWND window, const wchar_t* path) {
        return Entries(Call(L"MenuItems", {H(window), path}));
    }
    std::vector<std::wstring> OpenTexts(HWND window, const wchar_t* path) { return Texts(Open(window, path)); }
    std::vector<std::wstring> ClosedTexts(HWND window, const wchar_t* path) {
        return Texts(Entries(Call(L"ClosedMenuItems", {H(window), path})));
    }
    static const Entry* Find(const std::vector<Entry>& entries, const std::wstring& text) {
        for (const Entry& e : entries)
            if (e.text == text) return &e;
        return nullptr;
    }
    com_ptr<IOEMenu> Menu(IPLUMEObj* root, long index) {
        com_ptr<IOEMenu> menu;
        EXPECT_EQ(S_OK, root->GetMenu(index, menu.put()));
        return menu;
    }
    static com_ptr<IOEMenuItem> Item(IOEMenu* menu, const wchar_t* name) {
        ::OEMenuItem* raw = nullptr;
        EXPECT_EQ(S_OK, menu->CreateItem(bstr(name).get(), &raw));
        return com_ptr<IOEMenuItem>::attach(reinterpret_cast<IOEMenuItem*>(raw));
    }
    static long Id(IOEMenuItem* item) {
        LONG id = -2;
        EXPECT_EQ(S_OK, item->GetID(&id));
        return id;
    }
    // Opens `path` and keeps it open for the calls that follow.
    void HoldOpen(HWND window, const wchar_t* path) {
        Call(L"OpenMenu", {H(window), path});
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"MenuState").Array()[0].Bool(); }, 5000))
            << "the menu did not open";
    }
    void CloseHeld() {
        Call(L"CloseMenu");
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"MenuState").Array()[1].Long() == 0; }, 5000));
    }
};

TEST_F(MenuE2E, ItemsEnterTheClientsPopupWhenItOpensInPlaceAndState) {
    const std::vector<std::wstring> original = ClosedTexts(main, L"Edit");
    com_ptr<IOEMenu> edit = Menu(root_.get(), kEditMenu);
    com_ptr<IOEMenuItem> end = Item(edit.get(), L"PLUME &End");
    com_ptr<IOEMenuItem> first, beforeSub, beforeExact, beforeNothing, separator, parent, alpha, subSeparator,
        beta, grey, hidden, check;
    ASSERT_EQ(S_OK, edit->CreateItemAt(bstr(L"PLUME First").get(), 0, first.put()));
    ASSERT_EQ(S_OK, edit->CreateItemBefore(bstr(L"PLUME Before Select").get(), bstr(L"Select").get(), 1, beforeSub.put()));
    ASSERT_EQ(S_OK, edit->CreateItemBefore(bstr(L"PLUME Before Delete").get(), bstr(L"Delete").get(), 0,
                                           beforeExact.put()));
    ASSERT_EQ(S_OK, edit->CreateItemBefore(bstr(L"PLUME Nowhere").get(), bstr(L"Nowhere").get(), 1,
                                           beforeNothing.put()));
    ASSERT_EQ(S_OK, edit->CreateSeparator(separator.put()));
    parent = Item(edit.get(), L"PLUME Tools");
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Alpha").get(), alpha.put()));
    ASSERT_EQ(S_OK, parent->CreateSeparator(subSeparator.put()));
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Beta\tCtrl+B").get(), beta.put()));
    grey = Item(edit.get(), L"PLUME Grey");
    hidden = Item(edit.get(), L"PLUME Hidden");
    check = Item(edit.get(), L"PLUME Check");
    EXPECT_EQ(kFirstItemId, Id(end.get())) << "the main window's first block";
    ASSERT_EQ(S_OK, grey->SetEnabled(0));
    ASSERT_EQ(S_OK, hidden->SetVisible(0));
    ASSERT_EQ(S_OK, check->SetCheck(1));
    ASSERT_EQ(S_OK, check->SetChecked(1));
    EXPECT_EQ(original, ClosedTexts(main, L"Edit")) << "nothing enters the menu before it opens";

    std::vector<Entry> entries = Open(main, L"Edit");
    std::vector<std::wstring> expected = original;
    expected.insert(expected.begin(), L"PLUME First");
    auto at = [&](const std::wstring& text) { return std::find(expected.begin(), expected.end(), text) - expected.begin(); };
    expected.insert(expected.begin() + at(L"Select &All\tCtrl+A"), L"PLUME Before Select");
    expected.insert(expected.begin() + at(L"&Delete\tCtrl+D"), L"PLUME Before Delete");
    for (const wchar_t* t : {L"PLUME &End", L"PLUME Nowhere", L"-", L"PLUME Tools", L"PLUME Grey", L"PLUME Check"})
        expected.push_back(t);
    EXPECT_EQ(expected, Texts(entries));
    ASSERT_NE(nullptr, Find(entries, L"PLUME Grey"));
    EXPECT_TRUE(Find(entries, L"PLUME Grey")->greyed);
    EXPECT_TRUE(Find(entries, L"PLUME Check")->checked);
    EXPECT_FALSE(Find(entries, L"PLUME &End")->checked || Find(entries, L"PLUME &End")->greyed);
    EXPECT_TRUE(Find(entries, L"PLUME Tools")->sub);
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"-", L"Beta\tCtrl+B"}), OpenTexts(main, L"Edit\\PLUME Tools"));
    EXPECT_EQ(expected, OpenTexts(main, L"Edit")) << "opening again adds nothing twice";

    // Shown again at the next opening; greyed items are not chosen.
    ASSERT_EQ(S_OK, hidden->SetVisible(1));
    EXPECT_NE(nullptr, Find(Open(main, L"Edit"), L"PLUME Hidden"));
    CallError error{};
    EXPECT_FALSE(client->TryCall(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Grey"}, nullptr, &error));
    EXPECT_NE(std::wstring::npos, error.description.find(L"disabled"));

    // Nothing is left behind.
    ASSERT_EQ(S_OK, root_->RemoveAllMenuItems());
    Open(main, L"Edit");  // entries of an open menu go at its next opening
    EXPECT_EQ(original, OpenTexts(main, L"Edit"));
    LONG next = 0;
    EXPECT_EQ(S_OK, root_->GetFirstMenuItemID(&next));
    EXPECT_EQ(-1, next);
}

TEST_F(MenuE2E, ChoicesRaiseEventsOnceInOrderForTheOwningRoot) {
    com_ptr<IPLUMEObj> second = NewObject<IPLUMEObj>(CLSID_PLUMEObj, IID_IPLUMEObj);
    com_ptr<IOEMenu> edit = Menu(root_.get(), kEditMenu), theirs = Menu(second.get(), kEditMenu);
    com_ptr<IOEMenuItem> check = Item(edit.get(), L"PLUME Toggle");
    com_ptr<IOEMenuItem> parent = Item(edit.get(), L"PLUME More"), leaf;
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Deep").get(), leaf.put()));
    com_ptr<IOEMenuItem> other = Item(theirs.get(), L"PLUME Second Root");
    ASSERT_EQ(S_OK, check->SetCheck(1));
    const long checkId = Id(check.get()), leafId = Id(leaf.get()), otherId = Id(other.get());

    EventLog log;
    log.Listen(check, DIID_IOEMenuItemEvents, "item");
    log.Listen(edit, DIID_IOEMenuEvents, "menu");
    log.Listen(root_, DIID_IPLUMEObjEvents, "root");
    log.Listen(second, DIID_IPLUMEObjEvents, "second");
    log.Listen(leaf, DIID_IOEMenuItemEvents, "leaf");
    log.Listen(other, DIID_IOEMenuItemEvents, "other");
    // Unbound message-window objects hear no main-window choice.
    com_ptr<IOEMsgWnd> unbound = NewObject<IOEMsgWnd>(CLSID_OEMsgWnd, IID_IOEMsgWnd);
    log.Listen(unbound, DIID_IOEMsgWndEvents, "unbound");

    EXPECT_EQ(checkId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Toggle"}).Long());
    ASSERT_TRUE(log.WaitFor(3));
    LONG checked = -1;
    EXPECT_EQ(S_OK, check->IsChecked(&checked));
    EXPECT_EQ(1, checked);
    EXPECT_TRUE(Find(Open(main, L"Edit"), L"PLUME Toggle")->checked);
    Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Toggle"});
    ASSERT_TRUE(log.WaitFor(6));
    EXPECT_EQ(S_OK, check->IsChecked(&checked));
    EXPECT_EQ(0, checked);
    EXPECT_FALSE(Find(Open(main, L"Edit"), L"PLUME Toggle")->checked);

    EXPECT_EQ(leafId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME More\\Deep"}).Long());
    ASSERT_TRUE(log.WaitFor(9));
    EXPECT_EQ(otherId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Second Root"}).Long());
    ASSERT_TRUE(log.WaitFor(11));
    Settle();
    const std::vector<Heard> once = {{"item", kItemOnClick, {}},
                                     {"menu", kMenuOnItemClicked, {checkId}},
                                     {"root", kRootOnMenuItemClicked, {kEditMenu, checkId}}};
    std::vector<Heard> expected = once;
    expected.insert(expected.end(), once.begin(), once.end());
    expected.push_back({"leaf", kItemOnClick, {}});
    expected.push_back({"menu", kMenuOnItemClicked, {leafId}});
    expected.push_back({"root", kRootOnMenuItemClicked, {kEditMenu, leafId}});
    expected.push_back({"other", kItemOnClick, {}});
    expected.push_back({"second", kRootOnMenuItemClicked, {kEditMenu, otherId}});
    EXPECT_EQ(expected, log.heard);
}

TEST_F(MenuE2E, RenamingAndRemovingWhileTheMenuIsOpen) {
    com_ptr<IOEMenu> edit = Menu(root_.get(), kEditMenu);
    com_ptr<IOEMenuItem> renamed = Item(edit.get(), L"PLUME Old Name");
    com_ptr<IOEMenuItem> removed = Item(edit.get(), L"PLUME Going");
    HoldOpen(main, L"Edit");
    std::vector<Entry> open = Entries(Call(L"OpenMenuItems"));
    ASSERT_NE(nullptr, Find(open, L"PLUME Old Name"));
    // The open menu is the client's thread's: changes show at the next opening.
    ASSERT_EQ(S_OK, renamed->SetText(bstr(L"PLUME New & Name").get()));
    EXPECT_NE(nullptr, Find(Entries(Call(L"OpenMenuItems")), L"PLUME Old Name"));
    ASSERT_EQ(S_OK, removed->Destroy());
    ASSERT_EQ(S_OK, removed->Destroy()) << "twice";
    EXPECT_NE(nullptr, Find(Entries(Call(L"OpenMenuItems")), L"PLUME Going"))
        << "the open menu is left alone";
    CloseHeld();
    std::vector<Entry> reopened = Open(main, L"Edit");
    EXPECT_EQ(nullptr, Find(reopened, L"PLUME Going"));
    EXPECT_NE(nullptr, Find(reopened, L"PLUME New & Name"));

    // A choice made in an open menu through the keyboard.
    EventLog log;
    log.Listen(renamed, DIID_IOEMenuItemEvents, "item");
    HoldOpen(main, L"Edit");
    EXPECT_EQ(Id(renamed.get()), Call(L"SelectOpenItem", {L"PLUME New & Name"}).Long());
    ASSERT_TRUE(log.WaitFor(1));
    EXPECT_EQ((std::vector<Heard>{{"item", kItemOnClick, {}}}), log.heard);
    EXPECT_EQ(0, Call(L"MenuState").Array()[1].Long()) << "the choice closed the menu";
}

TEST_F(MenuE2E, MessageWindowItemsAppearInMessageWindowsOpenedAfterwards) {
    // Items for compose windows: only a window whose kind is known shows them.
    com_ptr<IOEMenu> noteFile, mainFile = Menu(root_.get(), kFileMenu);
    ASSERT_EQ(S_OK, root_->GetMsgWndMenu(OE_MSG_SEND_WND, kFileMenu, noteFile.put()));
    com_ptr<IOEMenuItem> forNotes = Item(noteFile.get(), L"PLUME Stamp Subject");
    com_ptr<IOEMenuItem> forMain = Item(mainFile.get(), L"PLUME Main Only");
    const long id = Id(forNotes.get());
    std::vector<std::wstring> mainFileTexts = OpenTexts(main, L"File");
    EXPECT_EQ(mainFileTexts.end(), std::find(mainFileTexts.begin(), mainFileTexts.end(), L"PLUME Stamp Subject"));
    EXPECT_NE(mainFileTexts.end(), std::find(mainFileTexts.begin(), mainFileTexts.end(), L"PLUME Main Only"));

    // Opened at once, before the library's first tick has seen the window,
    // the window's menu holds the items already.
    HWND note = Call(L"NewMessage").Hwnd();
    ASSERT_TRUE(note);
    const long w = H(note);
    std::vector<Entry> noteFileEntries = Open(note, L"File");
    EXPECT_NE(nullptr, Find(noteFileEntries, L"PLUME Stamp Subject"));
    EXPECT_EQ(nullptr, Find(noteFileEntries, L"PLUME Main Only"));
    com_ptr<IOEMsgWnd> msgWnd;
    ASSERT_TRUE(StandinProcess::WaitFor([&] {
        msgWnd.reset();
        return SUCCEEDED(root_->GetMsgWnd(w, msgWnd.put())) && msgWnd;
    }));

    // An item of this window only.
    com_ptr<IOEMenu> own;
    ASSERT_EQ(S_OK, msgWnd->GetMenu(kFileMenu, own.put()));
    com_ptr<IOEMenuItem> ownItem = Item(own.get(), L"PLUME This Note");
    EXPECT_NE(nullptr, Find(Open(note, L"File"), L"PLUME This Note"));
    com_ptr<IOEMenuItem> found;
    ASSERT_EQ(S_OK, msgWnd->GetMenuItem(Id(ownItem.get()), found.put()));
    EXPECT_TRUE(found);
    // Ids are never shared: the main window's next item follows the window's own.
    com_ptr<IOEMenuItem> mainNext = Item(mainFile.get(), L"PLUME Main Next");
    EXPECT_EQ(kFirstItemId + 2, Id(ownItem.get()));
    EXPECT_EQ(kFirstItemId + 3, Id(mainNext.get()));
    // Menus the note's bar does not have take no items.
    com_ptr<IOEMenu> noSuchMenu;
    com_ptr<IOEMenuItem> never;
    ASSERT_EQ(S_OK, root_->GetMsgWndMenu(OE_MSG_SEND_WND, 99, noSuchMenu.put()));
    EXPECT_EQ(DISP_E_BADINDEX,
              noSuchMenu->CreateItem(bstr(L"PLUME Never").get(), reinterpret_cast<::OEMenuItem**>(never.put())));

    EventLog log;
    log.Listen(forNotes, DIID_IOEMenuItemEvents, "item");
    log.Listen(noteFile, DIID_IOEMenuEvents, "menu");
    log.Listen(msgWnd, DIID_IOEMsgWndEvents, "window");
    log.Listen(root_, DIID_IPLUMEObjEvents, "root");
    Call(L"WatchMessages", {H(main), std::vector<long>{WM_COMMAND}});
    EXPECT_EQ(id, Call(L"ChooseMenuItem", {H(note), L"File\\PLUME Stamp Subject"}).Long());
    ASSERT_TRUE(log.WaitFor(4));
    Settle();
    EXPECT_EQ((std::vector<Heard>{{"item", kItemOnMsgWndClick, {w}},
                                  {"menu", kMenuOnMsgWndItemClicked, {id, w}},
                                  {"window", kWindowOnMenuItemClicked, {kFileMenu, id}},
                                  {"root", kRootOnMsgWndMenuItemClicked, {kFileMenu, id, w}}}),
              log.heard);
    EXPECT_EQ(1u, Notes().size()) << "the client did not act on the library's command";

    // Each choice reaches its own item, also after the other is destroyed.
    log.heard.clear();
    EventLog items;
    items.Listen(ownItem, DIID_IOEMenuItemEvents, "own");
    items.Listen(mainNext, DIID_IOEMenuItemEvents, "next");
    EXPECT_EQ(Id(ownItem.get()), Call(L"ChooseMenuItem", {H(note), L"File\\PLUME This Note"}).Long());
    EXPECT_EQ(Id(mainNext.get()), Call(L"ChooseMenuItem", {H(main), L"File\\PLUME Main Next"}).Long());
    ASSERT_TRUE(items.WaitFor(2));
    ASSERT_EQ(S_OK, ownItem->Destroy());
    Call(L"ChooseMenuItem", {H(main), L"File\\PLUME Main Next"});
    ASSERT_TRUE(items.WaitFor(3));
    Settle();
    EXPECT_EQ((std::vector<Heard>{{"own", kItemOnMsgWndClick, {w}}, {"next", kItemOnClick, {}}, {"next", kItemOnClick, {}}}),
              items.heard);

    // RemoveAllMenuItems takes the root's items out of the open note too.
    ASSERT_EQ(S_OK, root_->RemoveAllMenuItems());
    std::vector<Entry> cleared = Open(note, L"File");
    EXPECT_EQ(nullptr, Find(cleared, L"PLUME Stamp Subject"));
    EXPECT_EQ(nullptr, Find(cleared, L"PLUME This Note"));
    msgWnd.reset();
    found.reset();
    Call(L"CloseNote", {w});
}

TEST_F(MenuE2E, BadInputLeavesTheClientWorking) {
    com_ptr<IOEMenu> nowhere = Menu(root_.get(), 77), edit = Menu(root_.get(), kEditMenu);
    com_ptr<IOEMenuItem> tooLong, empty, separator, underSeparator, blank, lost;
    Open(main, L"Edit");  // the bar's size is known once a menu of it opened
    EXPECT_EQ(DISP_E_BADINDEX, nowhere->CreateItem(bstr(L"PLUME Lost").get(), reinterpret_cast<::OEMenuItem**>(lost.put())))
        << "the main window's menu bar has no menu 77";
    EXPECT_FALSE(lost);
    EXPECT_EQ(E_INVALIDARG, edit->CreateItemAt(bstr(std::wstring(300, L'x')).get(), 0, tooLong.put()));
    EXPECT_EQ(E_INVALIDARG, edit->CreateItemAt(bstr(std::wstring(3000, L'x')).get(), 0, tooLong.put()));
    ASSERT_EQ(S_OK, edit->CreateItemAt(bstr(L"").get(), 0, empty.put()));
    ASSERT_EQ(S_OK, edit->CreateSeparator(separator.put()));
    ASSERT_EQ(S_OK, separator->CreateSubItem(bstr(L"Under a separator").get(), underSeparator.put()));
    com_ptr<IOEMenuItem> tabbed = Item(edit.get(), L"PLUME A&&B\tTab");
    com_ptr<IOEMenuItem> longest = Item(edit.get(), std::wstring(255, L'L').c_str());
    std::vector<Entry> entries = Open(main, L"Edit");
    EXPECT_TRUE(entries.front().separator) << "an empty name is a separator";
    EXPECT_NE(nullptr, Find(entries, L"PLUME A&&B\tTab"));
    EXPECT_NE(nullptr, Find(entries, std::wstring(255, L'L')));

    com_ptr<IOEMenuItem> unknown;
    EXPECT_EQ(S_OK, root_->GetMenuItem(12345, unknown.put()));
    EXPECT_FALSE(unknown);
    blank = NewObject<IOEMenuItem>(CLSID_OEMenuItem, IID_IOEMenuItem);
    EXPECT_EQ(S_OK, blank->Create(999999, bstr(L"No such menu").get()));
    EXPECT_EQ(-1, Id(blank.get()));
    EXPECT_EQ(S_OK, blank->Destroy());
    ASSERT_EQ(S_OK, root_->RemoveAllMenuItems());
    EXPECT_EQ(kNewMessageCommand, Call(L"ChooseMenuItem", {H(main), L"Message\\New Message"}).Long())
        << "the client's own items still work";
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    Call(L"CloseNote", {H(Notes()[0])});
}

}  // namespace
}  // namespace plume::test
