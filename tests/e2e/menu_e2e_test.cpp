// Menu items in the running client, reached over COM from this process as a
// plug-in writer's program would: what the client's real pop-ups hold when
// the user opens them (read inside the client), choices made with the
// keyboard in the menu's own loop, and the events on real sinks in the order
// item, menu, message window, root.
#include <algorithm>

#include "library_fixture.h"

namespace plume::test {
namespace {

constexpr long kFileMenu = 0, kEditMenu = 1;  // positions in the client's menu bar

// One entry of a pop-up as the client reads it.
struct Entry {
    long id;
    std::wstring text;
    bool separator, checked, greyed, sub;
};

class MenuE2E : public RootObjectTest {
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
    std::vector<Entry> Open(HWND window, const wchar_t* path) { return Entries(Call(L"MenuItems", {H(window), path})); }
    std::vector<std::wstring> ClosedTexts(HWND window, const wchar_t* path) {
        return Texts(Entries(Call(L"ClosedMenuItems", {H(window), path})));
    }
    static const Entry* Find(const std::vector<Entry>& entries, const std::wstring& text) {
        for (const Entry& e : entries)
            if (e.text == text) return &e;
        return nullptr;
    }
    static com_ptr<IOEMenu> Menu(IPLUMEObj* root, long index) {
        com_ptr<IOEMenu> menu;
        EXPECT_EQ(S_OK, root->GetMenu(index, menu.put()));
        return menu;
    }
    static com_ptr<IOEMenuItem> Item(IOEMenu* menu, const std::wstring& name) {
        ::OEMenuItem* raw = nullptr;
        EXPECT_EQ(S_OK, menu->CreateItem(bstr(name).get(), &raw));
        return com_ptr<IOEMenuItem>::attach(reinterpret_cast<IOEMenuItem*>(raw));
    }
    // Opens `path` and keeps it open for the calls that follow.
    void HoldOpen(HWND window, const wchar_t* path) {
        Call(L"OpenMenu", {H(window), path});
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"MenuState").Array()[0].Bool(); }, 5000))
            << "the menu did not open";
    }
};

TEST_F(MenuE2E, ItemsEnterTheClientsPopupWhenItOpensInPlaceAndState) {
    const std::vector<std::wstring> original = ClosedTexts(main, L"Edit");
    com_ptr<IOEMenu> edit = Menu(root_.get(), kEditMenu), nowhere = Menu(root_.get(), 77);
    com_ptr<IOEMenuItem> end = Item(edit.get(), L"PLUME &End");
    com_ptr<IOEMenuItem> first, beforeSub, separator, alpha, subSeparator, beta, lost;
    ASSERT_EQ(S_OK, edit->CreateItemAt(bstr(L"PLUME First").get(), 0, first.put()));
    ASSERT_EQ(S_OK, edit->CreateItemBefore(bstr(L"PLUME Before Select").get(), bstr(L"Select").get(), 1, beforeSub.put()));
    ASSERT_EQ(S_OK, edit->CreateSeparator(separator.put()));
    com_ptr<IOEMenuItem> parent = Item(edit.get(), L"PLUME Tools");
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Alpha").get(), alpha.put()));
    ASSERT_EQ(S_OK, parent->CreateSeparator(subSeparator.put()));
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Beta\tCtrl+B").get(), beta.put()));
    com_ptr<IOEMenuItem> grey = Item(edit.get(), L"PLUME Grey"), hidden = Item(edit.get(), L"PLUME Hidden"),
                         check = Item(edit.get(), L"PLUME Check");
    EXPECT_EQ(kFirstMenuItemId, IdOf(end)) << "the main window's first block";
    ASSERT_EQ(S_OK, grey->SetEnabled(0));
    ASSERT_EQ(S_OK, hidden->SetVisible(0));
    ASSERT_EQ(S_OK, check->SetCheck(1));
    ASSERT_EQ(S_OK, check->SetChecked(1));
    EXPECT_EQ(original, ClosedTexts(main, L"Edit")) << "nothing enters the menu before it opens";

    std::vector<Entry> entries = Open(main, L"Edit");
    std::vector<std::wstring> expected = original;
    expected.insert(expected.begin(), L"PLUME First");
    expected.insert(std::find(expected.begin(), expected.end(), L"Select &All\tCtrl+A"), L"PLUME Before Select");
    for (const wchar_t* t : {L"PLUME &End", L"-", L"PLUME Tools", L"PLUME Grey", L"PLUME Check"}) expected.push_back(t);
    EXPECT_EQ(expected, Texts(entries));
    EXPECT_TRUE(Find(entries, L"PLUME Grey")->greyed);
    EXPECT_TRUE(Find(entries, L"PLUME Check")->checked);
    EXPECT_FALSE(Find(entries, L"PLUME &End")->checked || Find(entries, L"PLUME &End")->greyed);
    EXPECT_TRUE(Find(entries, L"PLUME Tools")->sub);
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha", L"-", L"Beta\tCtrl+B"}),
              Texts(Open(main, L"Edit\\PLUME Tools")));
    EXPECT_EQ(expected, Texts(Open(main, L"Edit"))) << "opening again adds nothing twice";

    // Refused: a menu the client's bar does not have.
    EXPECT_EQ(DISP_E_BADINDEX, nowhere->CreateItem(bstr(L"PLUME Lost").get(), reinterpret_cast<::OEMenuItem**>(lost.put())));
    EXPECT_FALSE(lost);

    // Nothing is left behind, and the client's own items still work.
    ASSERT_EQ(S_OK, root_->RemoveAllMenuItems());
    Open(main, L"Edit");  // entries of an open menu go at its next opening
    EXPECT_EQ(original, Texts(Open(main, L"Edit")));
    EXPECT_TRUE(Enumerate(root_, &IPLUMEObj::GetFirstMenuItemID, &IPLUMEObj::GetNextMenuItemID).empty());
    EXPECT_EQ(kNewMessageCommand, Call(L"ChooseMenuItem", {H(main), L"Message\\New Message"}).Long());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
}

TEST_F(MenuE2E, ChoicesRaiseEventsOnceInOrderForTheOwningRootAlsoOfItemsChangedWhileOpen) {
    com_ptr<IPLUMEObj> second = CreateRoot();
    com_ptr<IOEMenu> edit = Menu(root_.get(), kEditMenu), theirs = Menu(second.get(), kEditMenu);
    com_ptr<IOEMenuItem> check = Item(edit.get(), L"PLUME Toggle"), parent = Item(edit.get(), L"PLUME More"), leaf;
    ASSERT_EQ(S_OK, parent->CreateSubItem(bstr(L"Deep").get(), leaf.put()));
    com_ptr<IOEMenuItem> other = Item(theirs.get(), L"PLUME Second Root");
    ASSERT_EQ(S_OK, check->SetCheck(1));
    const long checkId = IdOf(check), leafId = IdOf(leaf), otherId = IdOf(other);
    Listen(check.get(), DIID_IOEMenuItemEvents, "item");
    Listen(edit.get(), DIID_IOEMenuEvents, "menu");
    Listen(root_.get(), DIID_IPLUMEObjEvents, "root");
    Listen(second.get(), DIID_IPLUMEObjEvents, "second");
    Listen(leaf.get(), DIID_IOEMenuItemEvents, "leaf");
    Listen(other.get(), DIID_IOEMenuItemEvents, "other");

    for (LONG checked : {1, 0}) {
        EXPECT_EQ(checkId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Toggle"}).Long());
        ASSERT_TRUE(WaitHeard(checked ? 3 : 6));
        EXPECT_EQ(checked, Get(check, &IOEMenuItem::IsChecked));
        EXPECT_EQ(checked != 0, Find(Open(main, L"Edit"), L"PLUME Toggle")->checked);
    }
    EXPECT_EQ(leafId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME More\\Deep"}).Long());
    ASSERT_TRUE(WaitHeard(9));
    EXPECT_EQ(otherId, Call(L"ChooseMenuItem", {H(main), L"Edit\\PLUME Second Root"}).Long());
    ASSERT_TRUE(WaitHeard(11));
    Settle();
    std::vector<Heard> expected;
    for (long id : {checkId, checkId, leafId}) {
        expected.push_back({id == leafId ? "leaf" : "item", click_event::kClick, {}});
        expected.push_back({"menu", menu_event::kItemClicked, {id}});
        expected.push_back({"root", root_event::kMenuItemClicked, {kEditMenu, id}});
    }
    expected.push_back({"other", click_event::kClick, {}});
    expected.push_back({"second", root_event::kMenuItemClicked, {kEditMenu, otherId}});
    EXPECT_EQ(expected, heard_);

    // Renamed and removed while the menu is open; then chosen in the open
    // menu through the keyboard.
    com_ptr<IOEMenuItem> renamed = Item(edit.get(), L"PLUME Old Name"), removed = Item(edit.get(), L"PLUME Going");
    HoldOpen(main, L"Edit");
    ASSERT_NE(nullptr, Find(Entries(Call(L"OpenMenuItems")), L"PLUME Old Name"));
    // The open menu is the client's thread's: changes show at the next opening.
    ASSERT_EQ(S_OK, renamed->SetText(bstr(L"PLUME New & Name").get()));
    ASSERT_EQ(S_OK, removed->Destroy());
    ASSERT_EQ(S_OK, removed->Destroy()) << "twice";
    std::vector<Entry> open = Entries(Call(L"OpenMenuItems"));
    EXPECT_NE(nullptr, Find(open, L"PLUME Old Name"));
    EXPECT_NE(nullptr, Find(open, L"PLUME Going")) << "the open menu is left alone";
    Call(L"CloseMenu");
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"MenuState").Array()[1].Long() == 0; }, 5000));
    std::vector<Entry> reopened = Open(main, L"Edit");
    EXPECT_EQ(nullptr, Find(reopened, L"PLUME Going"));
    EXPECT_NE(nullptr, Find(reopened, L"PLUME New & Name"));

    heard_.clear();
    Listen(renamed.get(), DIID_IOEMenuItemEvents, "renamed");
    HoldOpen(main, L"Edit");
    EXPECT_EQ(IdOf(renamed), Call(L"SelectOpenItem", {L"PLUME New & Name"}).Long());
    ASSERT_TRUE(WaitHeard(3));
    Settle();
    EXPECT_EQ((std::vector<Heard>{{"renamed", click_event::kClick, {}},
                                  {"menu", menu_event::kItemClicked, {IdOf(renamed)}},
                                  {"root", root_event::kMenuItemClicked, {kEditMenu, IdOf(renamed)}}}),
              heard_);
    EXPECT_EQ(0, Call(L"MenuState").Array()[1].Long()) << "the choice closed the menu";
}

TEST_F(MenuE2E, MessageWindowItemsAppearInMessageWindowsOpenedAfterwards) {
    // Items for compose windows: only a window whose kind is known shows them.
    com_ptr<IOEMenu> noteFile, mainFile = Menu(root_.get(), kFileMenu);
    ASSERT_EQ(S_OK, root_->GetMsgWndMenu(OE_MSG_SEND_WND, kFileMenu, noteFile.put()));
    com_ptr<IOEMenuItem> forNotes = Item(noteFile.get(), L"PLUME Stamp Subject");
    com_ptr<IOEMenuItem> forMain = Item(mainFile.get(), L"PLUME Main Only");
    const long id = IdOf(forNotes);
    std::vector<Entry> mainEntries = Open(main, L"File");
    EXPECT_EQ(nullptr, Find(mainEntries, L"PLUME Stamp Subject"));
    EXPECT_NE(nullptr, Find(mainEntries, L"PLUME Main Only"));

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

    // An item of this window only; ids are never shared: the main window's
    // next item follows the window's own.
    com_ptr<IOEMenu> own;
    ASSERT_EQ(S_OK, msgWnd->GetMenu(kFileMenu, own.put()));
    com_ptr<IOEMenuItem> ownItem = Item(own.get(), L"PLUME This Note"), found;
    EXPECT_NE(nullptr, Find(Open(note, L"File"), L"PLUME This Note"));
    ASSERT_EQ(S_OK, msgWnd->GetMenuItem(IdOf(ownItem), found.put()));
    EXPECT_TRUE(found);
    com_ptr<IOEMenuItem> mainNext = Item(mainFile.get(), L"PLUME Main Next");
    EXPECT_EQ(kFirstMenuItemId + 2, IdOf(ownItem));
    EXPECT_EQ(kFirstMenuItemId + 3, IdOf(mainNext));
    Listen(forNotes.get(), DIID_IOEMenuItemEvents, "item");
    Listen(noteFile.get(), DIID_IOEMenuEvents, "menu");
    Listen(msgWnd.get(), DIID_IOEMsgWndEvents, "window");
    Listen(root_.get(), DIID_IPLUMEObjEvents, "root");
    EXPECT_EQ(id, Call(L"ChooseMenuItem", {H(note), L"File\\PLUME Stamp Subject"}).Long());
    ASSERT_TRUE(WaitHeard(4));
    Settle();
    EXPECT_EQ((std::vector<Heard>{{"item", click_event::kMsgWndClick, {w}},
                                  {"menu", menu_event::kMsgWndItemClicked, {id, w}},
                                  {"window", msgwnd_event::kMenuItemClicked, {kFileMenu, id}},
                                  {"root", root_event::kMsgWndMenuItemClicked, {kFileMenu, id, w}}}),
              heard_);
    EXPECT_EQ(1u, Notes().size()) << "the client did not act on the library's command";

    // RemoveAllMenuItems takes the root's items out of the open note too.
    ASSERT_EQ(S_OK, root_->RemoveAllMenuItems());
    std::vector<Entry> cleared = Open(note, L"File");
    EXPECT_EQ(nullptr, Find(cleared, L"PLUME Stamp Subject"));
    EXPECT_EQ(nullptr, Find(cleared, L"PLUME This Note"));
    msgWnd.reset();
    found.reset();
    Call(L"CloseNote", {w});
}

}  // namespace
}  // namespace plume::test
