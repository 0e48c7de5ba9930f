// Menu items against real pop-up menus this test builds: identifier blocks,
// placement when a menu opens, states, sub-menus, removal, the window
// procedures' routing, and the automation classes with their click fan-out.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <plume.h>

#include "bstr.h"
#include "client_numbers.h"
#include "com_error.h"
#include "object_events.h"
#include "host/msg_wnd_list.h"
#include "host/oe_msg_wnd.h"
#include "manager/callback_window.h"
#include "manager/plume_manager.h"
#include "manager/plume_obj.h"
#include "ui/menu_registry.h"
#include "ui/oe_menu_item.h"
#include "ui/toolbar_registry.h"
#include "window_class.h"

namespace plume {
namespace {

using test::Heard;
using test::IdOf;
using test::Listen;
using test::NewRoot;
using test::Pump;
using namespace test::client_numbers;
constexpr LONG kFirstItemId = kFirstMenuItemId, kIdsPerWindow = kMenuItemBlock;

struct Entry {
    std::string text;  // "-" for a separator
    UINT id;
    UINT state;
    HMENU sub;
};

std::vector<Entry> Entries(HMENU menu) {
    std::vector<Entry> out;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[1024] = "";
        MENUITEMINFOA info{sizeof info, MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING};
        info.dwTypeData = text;
        info.cch = sizeof text - 1;
        GetMenuItemInfoA(menu, i, TRUE, &info);
        out.push_back({info.fType & MFT_SEPARATOR ? "-" : text, info.wID, info.fState, info.hSubMenu});
    }
    return out;
}
std::vector<std::string> Texts(HMENU menu) {
    std::vector<std::string> out;
    for (const Entry& e : Entries(menu)) out.push_back(e.text);
    return out;
}
// The entry with that id; one with id 0 and text "<none>" when there is none.
Entry EntryOf(HMENU menu, LONG id) {
    for (const Entry& e : Entries(menu))
        if (e.id == static_cast<UINT>(id)) return e;
    return {"<none>", 0, 0, nullptr};
}

// The client's "Edit" pop-up: four entries of its own.
const std::vector<std::string> kClientEdit = {"&Copy\tCtrl+C", "Select &All", "-", "&Delete"};
HMENU ClientPopup() {
    HMENU popup = CreatePopupMenu();
    UINT id = 100;
    for (const std::string& text : kClientEdit)
        text == "-" ? AppendMenuA(popup, MF_SEPARATOR, 0, nullptr) : AppendMenuA(popup, MF_STRING, id++, text.c_str());
    return popup;
}

using Click = std::tuple<INT64, LONG, LONG>;  // window, menu index, item
std::vector<Click> g_clicks;
LRESULT RecordClick(INT64 window, LONG menuIndex, LONG itemId) {
    g_clicks.push_back({window, menuIndex, itemId});
    return 0;
}

// Where the process's next block of menu ids starts, put back afterwards.
class IdFloor {
public:
    explicit IdFloor(LONG first) : saved_(OEMenuRegistry::SetIdFloorForTesting(first)) {}
    ~IdFloor() { OEMenuRegistry::SetIdFloorForTesting(saved_); }
    IdFloor(const IdFloor&) = delete;
    IdFloor& operator=(const IdFloor&) = delete;

private:
    LONG saved_;
};

HRESULT CreateFails(OEMenuRegistry& registry) {
    try {
        registry.CreateItem(0, 0, "x", "", 0, nullptr, -1);
    } catch (const com_error& e) {
        EXPECT_FALSE(e.description().empty());
        return e.hr();
    }
    return S_OK;
}

class MenuRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_clicks.clear();
        popup_ = ClientPopup();
    }
    void TearDown() override {
        registry_.Detach();
        EXPECT_EQ(kClientEdit, Texts(popup_)) << "detaching leaves the client's menu as it was";
        DestroyMenu(popup_);
    }
    LONG Item(const std::string& name, LONG position = -1, const std::string& before = "", LONG subString = 0,
              LONG menuIndex = 1, LONG kind = 0) {
        return registry_.CreateItem(kind, menuIndex, name, before, subString, RecordClick, position);
    }
    LONG Sub(LONG parent, const std::string& name) { return registry_.CreateSubItem(parent, name, RecordClick); }

    HMENU popup_ = nullptr;
    IdFloor floor_{kFirstItemId};
    OEMenuRegistry registry_{nullptr, 0};
};

TEST(MenuIdentifiers, BlocksOfAThousandNeverHandedOutTwice) {
    IdFloor floor(kFirstItemId);
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    auto property = [&] { return static_cast<LONG>(reinterpret_cast<INT_PTR>(GetPropA(window, kMenuNextIdProperty))); };
    auto item = [](OEMenuRegistry& r, const char* name) { return r.CreateItem(0, 0, name, "", 0, nullptr, -1); };
    OEMenuRegistry first(window, 0);
    EXPECT_EQ(kFirstItemId + kIdsPerWindow, property());
    OEMenuRegistry second(window, 0);
    EXPECT_EQ(kFirstItemId + 2 * kIdsPerWindow, property());
    EXPECT_EQ(kFirstItemId, item(first, "a"));
    EXPECT_EQ(kFirstItemId + kIdsPerWindow, item(second, "c"));

    // A registry without a window (it writes no property), or whose window
    // lost its property, starts past every block taken.
    EXPECT_EQ(kFirstItemId + 2 * kIdsPerWindow, OEMenuRegistry(nullptr, 0).nextId());
    SetPropA(window, kMenuNextIdProperty, nullptr);
    EXPECT_EQ(kFirstItemId + 3 * kIdsPerWindow, OEMenuRegistry(window, 0).nextId());

    // A copy keeps every item and numbers on with its source: an item made in
    // the copy and one made next in the source never share an id.
    first.SetChecked(kFirstItemId, 1);
    first.SetEnabled(kFirstItemId, 0);
    OEMenuRegistry copy(first, kAllMsgWnd);
    EXPECT_EQ(kAllMsgWnd, copy.kind());
    OEPluginMenuItem copied;
    ASSERT_TRUE(copy.FindItem(kFirstItemId, &copied));
    EXPECT_EQ(std::make_tuple(std::string("a"), 1L, 0L, LONG(OEPluginMenuItem::kNotInMenu)),
              std::make_tuple(copied.name, LONG(copied.checked), LONG(copied.enabled), LONG(copied.state)));
    EXPECT_EQ(kFirstItemId + 1, item(copy, "b"));
    EXPECT_EQ(kFirstItemId + 2, item(first, "c"));

    // Past its block a registry goes on in the next free block, not in the
    // block of the window's next registry.
    for (LONG id = kFirstItemId + 3; id < kFirstItemId + kIdsPerWindow; ++id) item(first, "");
    EXPECT_EQ(kFirstItemId + 4 * kIdsPerWindow, item(first, "d"));

    // Ids stop below the buttons' first: a command id is 16 bits, and one
    // above 65535 would be read as another command (105947 as 40411).
    IdFloor last(test::client_numbers::kFirstButtonId - 1);
    OEMenuRegistry end(nullptr, 0);
    EXPECT_EQ(test::client_numbers::kFirstButtonId - 1, item(end, "last"));
    SetPropA(window, kMenuNextIdProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(105947)));
    OEMenuRegistry beyond(window, 0), endCopy(end, kAllMsgWnd);
    for (OEMenuRegistry* full : {&end, &beyond, &endCopy}) EXPECT_EQ(DISP_E_OVERFLOW, CreateFails(*full));
    EXPECT_EQ(0u, beyond.ItemCount()) << "a refused item is not kept";
    RemovePropA(window, kMenuNextIdProperty);
    DestroyWindow(window);
}

TEST_F(MenuRegistryTest, ItemsEnterTheMenuWhenItOpensAtTheirPlacesWithTheirNames) {
    Item("End");
    Item("Second", 1);
    Item("Far", 30);
    Item("BeforeSelect", -1, "Select", 1);
    Item("ExactAsWritten", -1, "&Delete", 0);
    Item("ExactAsShown", -1, "Copy", 0);
    Item("NoSuchText", -1, "Nowhere", 1);
    Item("");
    Item("OtherMenu", -1, "", 0, 2);
    Item("ForMessageWindows", -1, "", 0, 1, kAllMsgWnd);
    const LONG marks = Item("Save && &Send\tCtrl+Q"), longer = Item(std::string(300, 'x'));
    EXPECT_EQ(4, GetMenuItemCount(popup_)) << "nothing before the menu opens";
    EXPECT_EQ(std::string(255, 'x'), registry_.GetText(longer)) << "names are cut at 255 characters";
    EXPECT_EQ(longer, registry_.FindItemByName(std::string(255, 'x')));
    EXPECT_EQ(-1, registry_.FindItemByName("absent"));

    const std::vector<std::string> expected = {
        "ExactAsShown", "&Copy\tCtrl+C", "Second", "BeforeSelect", "Select &All", "-", "ExactAsWritten", "&Delete",
        "Far",          "End",          "NoSuchText", "-", "Save && &Send\tCtrl+Q", std::string(255, 'x')};
    for (int opening = 0; opening < 2; ++opening) {  // the second adds nothing twice
        registry_.SyncPopup(popup_, 1);
        EXPECT_EQ(expected, Texts(popup_));
    }
    registry_.SetText(marks, "");
    registry_.ApplyStates();
    EXPECT_EQ("-", EntryOf(popup_, marks).text) << "an empty name is a separator";

    // A message window's registry takes the message-window items only.
    OEMenuRegistry msgWnd(registry_, kSendWnd);
    HMENU other = ClientPopup();
    msgWnd.SyncPopup(other, 1);
    std::vector<std::string> forWindows = kClientEdit;
    forWindows.push_back("ForMessageWindows");
    EXPECT_EQ(forWindows, Texts(other));
    msgWnd.Detach();
    DestroyMenu(other);
}

TEST_F(MenuRegistryTest, SubItemsStatesTextsVisibilityAndChoices) {
    const LONG parent = Item("Tools"), one = Sub(parent, "One"), separator = Sub(parent, ""), two = Sub(parent, "Two");
    EXPECT_EQ(-1, Sub(12345, "Orphan"));
    registry_.SyncPopup(popup_, 1);
    HMENU sub = EntryOf(popup_, parent).sub;
    ASSERT_NE(nullptr, sub);
    EXPECT_EQ((std::vector<std::string>{"One", "-", "Two"}), Texts(sub));
    EXPECT_EQ(static_cast<UINT>(separator), Entries(sub)[1].id);

    // States, and renaming, reach the menu when a menu of the window is next
    // opened (on the client's thread); the parent keeps its sub-menu.
    registry_.SetEnabled(one, 0);
    registry_.SetCheck(two, 1);
    registry_.SetChecked(two, 1);
    registry_.SetText(parent, "Tools && More");
    registry_.SetText(two, "Zwei");
    EXPECT_EQ(0u, Entries(sub)[0].state | Entries(sub)[2].state) << "not before the next opening";
    EXPECT_EQ("Tools", EntryOf(popup_, parent).text);
    registry_.ApplyStates();
    EXPECT_EQ(MFS_GRAYED, Entries(sub)[0].state);
    EXPECT_EQ(MFS_CHECKED, Entries(sub)[2].state);
    EXPECT_EQ("Tools && More", EntryOf(popup_, parent).text);
    EXPECT_EQ(sub, EntryOf(popup_, parent).sub);
    EXPECT_EQ("Zwei", Entries(sub)[2].text);
    registry_.SetCheck(two, 0);
    registry_.ApplyStates();
    EXPECT_EQ(0u, Entries(sub)[2].state) << "checked shows only with the check style";
    EXPECT_EQ(0, registry_.IsEnabled(one));
    EXPECT_EQ(0, registry_.IsChecked(424242));

    // Hidden at the next opening, back (with its sub-items) at the one after.
    registry_.SetVisible(parent, 0);
    EXPECT_EQ(0, registry_.IsVisible(parent));
    registry_.SyncPopup(popup_, 1);
    EXPECT_EQ(0u, EntryOf(popup_, parent).id);
    EXPECT_FALSE(IsMenu(sub)) << "the sub-menu went with its entry";
    registry_.SetVisible(parent, 1);
    registry_.SyncPopup(popup_, 1);
    registry_.ApplyStates();
    sub = EntryOf(popup_, parent).sub;
    ASSERT_NE(nullptr, sub);
    EXPECT_EQ((std::vector<std::string>{"One", "-", "Zwei"}), Texts(sub));
    EXPECT_EQ(MFS_GRAYED, Entries(sub)[0].state);

    // Choices: a check-style item toggles; one without a handler, or the
    // client's own command, is not handled.
    const LONG silent = registry_.CreateItem(0, 1, "Silent", "", 0, nullptr, -1);
    registry_.SetCheck(two, 1);
    EXPECT_TRUE(registry_.MenuItemCommand(-1, one));
    for (INT64 window : {INT64(0x1234), INT64(-1)}) EXPECT_TRUE(registry_.MenuItemCommand(window, two));
    EXPECT_EQ(1, registry_.IsChecked(two)) << "checked, then toggled twice";
    EXPECT_FALSE(registry_.MenuItemCommand(-1, silent));
    EXPECT_FALSE(registry_.MenuItemCommand(-1, 101));
    EXPECT_EQ((std::vector<Click>{{-1, 1, one}, {0x1234, 1, two}, {-1, 1, two}}), g_clicks);
    registry_.Detach();
    EXPECT_FALSE(IsMenu(sub)) << "no menu of ours is left behind";
}

TEST_F(MenuRegistryTest, DestroyingTakesEntriesOutAsTheMenuAllows) {
    const LONG closed = Item("NeverShown", -1, "", 0, 3), shown = Item("Shown");
    const LONG parent = Item("Parent"), only = Sub(parent, "Only");
    const LONG other = Item("Other"), a = Sub(other, "A"), b = Sub(other, "B");
    registry_.SyncPopup(popup_, 1);

    EXPECT_TRUE(registry_.DestroyItem(closed));
    EXPECT_FALSE(registry_.DestroyItem(closed)) << "twice";
    EXPECT_FALSE(registry_.DestroyItem(-1));
    // An entry in the client's menu goes when the menu next opens.
    EXPECT_TRUE(registry_.DestroyItem(shown));
    EXPECT_EQ(static_cast<UINT>(shown), EntryOf(popup_, shown).id);
    registry_.SyncPopup(popup_, 1);
    EXPECT_EQ(0u, EntryOf(popup_, shown).id);
    EXPECT_FALSE(registry_.FindItem(shown, nullptr));

    // Sub-items too leave their sub-menus only when a menu of the window
    // opens; the last takes the sub-menu along.
    HMENU onlySub = EntryOf(popup_, parent).sub, otherSub = EntryOf(popup_, other).sub;
    EXPECT_TRUE(registry_.DestroyItem(only));
    EXPECT_TRUE(registry_.DestroyItem(a));
    EXPECT_FALSE(registry_.DestroyItem(a)) << "twice";
    EXPECT_EQ(onlySub, EntryOf(popup_, parent).sub);
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), Texts(otherSub));
    registry_.ApplyStates();
    EXPECT_EQ(nullptr, EntryOf(popup_, parent).sub);
    EXPECT_FALSE(IsMenu(onlySub));
    EXPECT_EQ((std::vector<std::string>{"B"}), Texts(otherSub));

    // A parent takes its sub-items with it.
    EXPECT_TRUE(registry_.DestroyItem(other));
    EXPECT_FALSE(registry_.FindItem(b, nullptr));
    registry_.SyncPopup(popup_, 1);
    EXPECT_EQ(0u, EntryOf(popup_, other).id);
    EXPECT_FALSE(IsMenu(otherSub));
    EXPECT_EQ(1u, registry_.ItemCount()) << "only the parent without sub-items is left";
}

// True when another thread gets the manager's registry lock and the menu
// registry (waiting at most 5 s for it).
bool LocksFreeForAnotherThread(LONG id) {
    struct Probe {
        std::atomic<bool> free{false};
        unique_handle done{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    };
    auto probe = std::make_shared<Probe>();
    std::thread([probe, id] {
        critical_section& lock = PLUMEManager::Get(false)->registryLock();
        const bool got = lock.try_lock();
        if (got) lock.unlock();
        if (auto registry = OEMenuRegistry::Global(false)) registry->IsEnabled(id);  // waits while it is locked
        probe->free = got;
        SetEvent(probe->done.get());
    }).detach();  // should it wait, it ends once the lock is let go
    return WaitForSingleObject(probe->done.get(), 5000) == WAIT_OBJECT_0 && probe->free;
}

// The window procedures, the classes and the fan-out: a message window of
// this test, its client procedure recording the commands it gets.
std::vector<WORD> g_clientCommands;
LRESULT CALLBACK NoteProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) g_clientCommands.push_back(LOWORD(wParam));
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

class MenuClassesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::UseOpenManager();
        test::HeardEvents().clear();
        g_clientCommands.clear();
        // A registry an earlier test left took its ids above this test's floor,
        // from a process whose many tests may have used them all up.
        OEMenuRegistry::DestroyGlobal();
        objects_ = LiveObjectCount();
        OEMenuRegistry::Global(true);
    }
    void TearDown() override {
        if (note_) {
            DestroyWindow(note_);
            EXPECT_EQ(nullptr, FindMsgWnd(note_, false));
        }
        OEMenuRegistry::DestroyGlobal();
        OEToolbarRegistry::Destroy();
        OEToolbarRegistry::Reopen();  // the next test starts afresh
        Pump();
        EXPECT_EQ(objects_, LiveObjectCount());
    }
    static com_ptr<IOEMenuItem> NewItem(IOEMenu* menu, const wchar_t* name) {
        ::OEMenuItem* raw = nullptr;
        EXPECT_EQ(S_OK, menu->CreateItem(bstr(name).get(), &raw));
        return com_ptr<IOEMenuItem>::attach(reinterpret_cast<IOEMenuItem*>(raw));
    }
    HWND NewNote() {
        note_ = CreateWindowA(test::WindowClass("ATH_Note", NoteProc), "Note", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                              nullptr, nullptr, nullptr, nullptr);
        AddMsgWnd(note_, false);
        return note_;
    }
    // What the client's window sees when the user opens menu `index`.
    static void Open(HWND window, HMENU bar, HMENU popup, int index) {
        SendMessageA(window, WM_MENUSELECT, MAKEWPARAM(index, MF_POPUP | MF_HILITE), reinterpret_cast<LPARAM>(bar));
        SendMessageA(window, WM_INITMENU, reinterpret_cast<WPARAM>(popup), 0);
        SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), MAKELPARAM(0, FALSE));
    }

    IdFloor floor_{kFirstItemId};
    LONG objects_ = 0;
    HWND note_ = nullptr;
};

TEST_F(MenuClassesTest, RootMenusCreateEnumerateAndRemoveTheirItems) {
    com_ptr<IPLUMEObj> root = NewRoot(), other = NewRoot();
    com_ptr<IOEMenu> menu, second, strangerMenu;
    ASSERT_EQ(S_OK, root->GetMenu(1, menu.put()));
    ASSERT_EQ(S_OK, root->GetMenu(1, second.put()));
    ASSERT_EQ(S_OK, other->GetMenu(2, strangerMenu.put()));
    EXPECT_EQ(1, test::Get(menu, &IOEMenu::GetIndex));

    com_ptr<IOEMenuItem> first = NewItem(menu.get(), L"First"), sub, sep, at, before, found;
    ASSERT_EQ(S_OK, first->CreateSubItem(bstr(L"Sub").get(), sub.put()));
    ASSERT_EQ(S_OK, first->CreateSeparator(sep.put()));
    ASSERT_EQ(S_OK, second->CreateItemAt(bstr(L"At").get(), 0, at.put()));
    ASSERT_EQ(S_OK, menu->CreateSeparatorBefore(bstr(L"First").get(), 1, before.put()));
    com_ptr<IOEMenuItem> otherItem = NewItem(strangerMenu.get(), L"NotMine");
    EXPECT_EQ((std::vector<LONG>{IdOf(first), IdOf(sub), IdOf(sep), IdOf(at), IdOf(before)}),
              test::Enumerate(root, &IPLUMEObj::GetFirstMenuItemID, &IPLUMEObj::GetNextMenuItemID));
    EXPECT_EQ(L"", test::Text(sep, &IOEMenuItem::GetText));
    EXPECT_EQ(L"First", test::Text(first, &IOEMenuItem::GetText));

    // Any root reaches any item by id.
    ASSERT_EQ(S_OK, root->GetMenuItem(IdOf(otherItem), found.put()));
    EXPECT_EQ(IdOf(otherItem), found ? IdOf(found) : -1);
    EXPECT_EQ(S_OK, root->GetMenuItem(99, found.put()));
    EXPECT_FALSE(found);

    // A fresh object stands for nothing; creating in an unknown menu leaves it so.
    com_ptr<IOEMenuItem> blank = com_ptr<IOEMenuItem>::attach(MakeObject<OEMenuItem>().detach());
    EXPECT_EQ(S_OK, blank->Create(987654, bstr(L"Lost").get()));
    EXPECT_EQ(-1, IdOf(blank));
    EXPECT_EQ(0, test::Get(blank, &IOEMenuItem::IsEnabled));
    EXPECT_EQ(S_OK, blank->Destroy());

    // Names of more than 255 characters are refused.
    com_ptr<IOEMenuItem> refused;
    EXPECT_EQ(E_INVALIDARG, menu->CreateItemAt(bstr(std::wstring(300, L'x')).get(), 0, refused.put()));
    EXPECT_FALSE(refused);
    EXPECT_EQ(E_INVALIDARG, first->SetText(bstr(std::wstring(256, L'x')).get()));
    EXPECT_EQ(S_OK, first->SetText(bstr(std::wstring(255, L'x')).get()));
    EXPECT_EQ(std::wstring(255, L'x'), test::Text(first, &IOEMenuItem::GetText));

    auto registry = OEMenuRegistry::Global(false);
    EXPECT_EQ(6u, registry->ItemCount());
    EXPECT_EQ(S_OK, root->RemoveAllMenuItems());
    EXPECT_EQ(1u, registry->ItemCount()) << "the other root's item stays";
    EXPECT_TRUE(test::Enumerate(root, &IPLUMEObj::GetFirstMenuItemID, &IPLUMEObj::GetNextMenuItemID).empty());
    EXPECT_EQ(0, test::Get(first, &IOEMenuItem::IsVisible)) << "the item is gone";
    EXPECT_EQ(S_OK, otherItem->Destroy());
    EXPECT_EQ(S_OK, otherItem->Destroy()) << "twice";
    EXPECT_EQ(0u, registry->ItemCount());
}

TEST_F(MenuClassesTest, MainWindowChoiceReachesItemMenuAndOwningRootInOrder) {
    com_ptr<IPLUMEObj> root = NewRoot(), stranger = NewRoot();
    com_ptr<IOEMenu> menu;
    ASSERT_EQ(S_OK, root->GetMenu(3, menu.put()));
    com_ptr<IOEMenuItem> item = NewItem(menu.get(), L"Go");
    const LONG id = IdOf(item);
    auto s1 = Listen(item, DIID_IOEMenuItemEvents, "item");
    auto s2 = Listen(menu, DIID_IOEMenuEvents, "menu");
    auto s3 = Listen(root, DIID_IPLUMEObjEvents, "root");
    auto s4 = Listen(stranger, DIID_IPLUMEObjEvents, "stranger");
    // Unbound message-window objects answer -1; a main-window choice is not theirs.
    com_ptr<IOEMsgWnd> unbound = com_ptr<IOEMsgWnd>::attach(MakeObject<OEMsgWnd>().detach());
    auto s5 = Listen(unbound, DIID_IOEMsgWndEvents, "unbound");
    // No lock of the library is held while sinks run: in each, another
    // thread (the client's, in the client) takes what a choice takes.
    std::vector<std::string> locked;
    for (auto* sink : {&s1, &s2, &s3}) {
        (*sink)->onCall = [&, who = std::string(sink == &s1 ? "item" : sink == &s2 ? "menu" : "root")](
                              const test::SinkCall& c) {
            test::HeardEvents().push_back({who, c.dispid, c.args});
            if (!LocksFreeForAnotherThread(id)) locked.push_back(who);
        };
    }
    RouteMenuCommand(-1, id);
    EXPECT_TRUE(test::HeardEvents().empty()) << "events arrive through the callback window";
    Pump();
    EXPECT_EQ((std::vector<Heard>{{"item", click_event::kClick, {}},
                                  {"menu", menu_event::kItemClicked, {id}},
                                  {"root", root_event::kMenuItemClicked, {3, id}}}),
              test::HeardEvents());
    EXPECT_TRUE(locked.empty()) << "a lock was held while the sinks of " << locked.front() << " ran";

    // Destroyed while its choice is on the way: nobody hears it.
    test::HeardEvents().clear();
    RouteMenuCommand(-1, id);
    EXPECT_EQ(S_OK, item->Destroy());
    Pump();
    EXPECT_TRUE(test::HeardEvents().empty());
}

TEST_F(MenuClassesTest, MessageWindowsGetTheirItemsAndConsumeTheirChoices) {
    com_ptr<IPLUMEObj> root = NewRoot();
    com_ptr<IOEMenu> forAll, forMain;
    ASSERT_EQ(S_OK, root->GetMsgWndMenu(static_cast<tagWNDSTYLE>(kAllMsgWnd), 2, forAll.put()));
    ASSERT_EQ(S_OK, root->GetMenu(2, forMain.put()));
    com_ptr<IOEMenuItem> shared = NewItem(forAll.get(), L"Everywhere");
    com_ptr<IOEMenuItem> mainOnly = NewItem(forMain.get(), L"MainOnly");
    const LONG sharedId = IdOf(shared);

    HWND note = NewNote();
    OEPluginMsgWnd* record = FindMsgWnd(note, false);
    ASSERT_NE(nullptr, record);
    ASSERT_TRUE(record->menu);
    record->menu->SetKind(kSendWnd);
    record->styleCopy = kSendWnd;

    // Made after the window: only for that window.
    com_ptr<IOEMsgWnd> msgWnd;
    ASSERT_EQ(S_OK, root->GetMsgWnd(record->id(), msgWnd.put()));
    com_ptr<IOEMenu> own;
    ASSERT_EQ(S_OK, msgWnd->GetMenu(2, own.put()));
    com_ptr<IOEMenuItem> ownItem = NewItem(own.get(), L"ThisWindow");
    const LONG ownId = IdOf(ownItem);
    com_ptr<IOEMenuItem> next = NewItem(forMain.get(), L"Next");
    EXPECT_EQ(ownId + 1, IdOf(next)) << "the window's copy and the process-wide registry share no id";
    com_ptr<IOEMenuItem> found;
    ASSERT_EQ(S_OK, msgWnd->GetMenuItem(ownId, found.put()));
    EXPECT_EQ(ownId, found ? IdOf(found) : -1);
    EXPECT_EQ(S_OK, msgWnd->GetMenuItem(12, found.put()));
    EXPECT_FALSE(found);
    com_ptr<IOEMenu> detailOnly;
    ASSERT_EQ(S_OK, root->GetMsgWndMenu(static_cast<tagWNDSTYLE>(kDetailWnd), 2, detailOnly.put()));
    com_ptr<IOEMenuItem> late = NewItem(detailOnly.get(), L"Late");

    HMENU bar = CreateMenu(), file = CreatePopupMenu(), edit = CreatePopupMenu(), view = ClientPopup();
    for (HMENU popup : {file, edit, view}) AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Menu");
    Open(note, bar, view, 2);
    std::vector<std::string> expected = kClientEdit;
    expected.insert(expected.end(), {"Everywhere", "ThisWindow"});
    EXPECT_EQ(expected, Texts(view));
    // A sub-menu opening is not a menu of the bar: nothing is added to it.
    Open(note, bar, file, 0);
    SendMessageA(note, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(edit), MAKELPARAM(1, FALSE));
    EXPECT_EQ(0, GetMenuItemCount(edit));

    auto s1 = Listen(shared, DIID_IOEMenuItemEvents, "item");
    auto s2 = Listen(forAll, DIID_IOEMenuEvents, "menu");
    auto s3 = Listen(msgWnd, DIID_IOEMsgWndEvents, "window");
    auto s4 = Listen(root, DIID_IPLUMEObjEvents, "root");
    SendMessageA(note, WM_COMMAND, MAKEWPARAM(sharedId, 0), 0);
    SendMessageA(note, WM_COMMAND, MAKEWPARAM(101, 0), 0);
    EXPECT_EQ(std::vector<WORD>{101}, g_clientCommands) << "the window consumes its items' commands";
    Pump();
    const long w = record->id();
    EXPECT_EQ((std::vector<Heard>{{"item", click_event::kMsgWndClick, {w}},
                                  {"menu", menu_event::kMsgWndItemClicked, {sharedId, w}},
                                  {"window", msgwnd_event::kMenuItemClicked, {2, sharedId}},
                                  {"root", root_event::kMsgWndMenuItemClicked, {2, sharedId, w}}}),
              test::HeardEvents());

    // An item hears choices only where it lives and only from menus: the
    // window's own item not from the main window nor another, none from a control.
    test::HeardEvents().clear();
    auto s5 = Listen(ownItem, DIID_IOEMenuItemEvents, "own");
    for (INT64 elsewhere : {INT64(-1), INT64(w) + 1}) PostMenuItemClick(elsewhere, 2, ownId);
    SendMessageA(note, WM_COMMAND, MAKEWPARAM(sharedId, 0), reinterpret_cast<LPARAM>(note));
    Pump();
    EXPECT_TRUE(test::HeardEvents().empty());
    EXPECT_EQ((std::vector<WORD>{101, static_cast<WORD>(sharedId)}), g_clientCommands);
    SendMessageA(note, WM_COMMAND, MAKEWPARAM(ownId, 0), 0);
    Pump();
    ASSERT_FALSE(test::HeardEvents().empty());
    EXPECT_EQ((Heard{"own", click_event::kMsgWndClick, {w}}), test::HeardEvents().front()) << "heard in its window";

    // RemoveAllMenuItems reaches open windows: their copies and their own items.
    EXPECT_EQ(S_OK, root->RemoveAllMenuItems());
    Open(note, bar, view, 2);
    EXPECT_EQ(kClientEdit, Texts(view));
    EXPECT_EQ(0u, record->menu->ItemCount());

    // The window's registry goes with the window and takes its entries and
    // the records of its own items along.
    com_ptr<IOEMenuItem> lastOwn = NewItem(own.get(), L"GoesWithTheWindow");
    Open(note, bar, view, 2);
    msgWnd.reset();
    DestroyWindow(note);
    note_ = nullptr;
    EXPECT_EQ(kClientEdit, Texts(view));
    EXPECT_TRUE(test::Enumerate(root, &IPLUMEObj::GetFirstMenuItemID, &IPLUMEObj::GetNextMenuItemID).empty());
    EXPECT_EQ(S_OK, lastOwn->SetText(bstr(L"After").get())) << "an object outliving its window";

    // A menu whose items could never show refuses them, saying why.
    com_ptr<IOEMsgWnd> unbound = com_ptr<IOEMsgWnd>::attach(MakeObject<OEMsgWnd>().detach());
    com_ptr<IOEMenu> unboundMenu, noKind, negative;
    ASSERT_EQ(S_OK, unbound->GetMenu(0, unboundMenu.put()));
    ASSERT_EQ(S_OK, root->GetMsgWndMenu(OE_EMPTY_MSG_WND, 0, noKind.put()));  // the preview pane has no menus
    ASSERT_EQ(S_OK, root->GetMenu(-3, negative.put()));
    const struct {
        IOEMenu* menu;
        HRESULT hr;
    } refusals[] = {{own.get(), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE)},
                    {unboundMenu.get(), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE)},
                    {noKind.get(), E_INVALIDARG},
                    {negative.get(), DISP_E_BADINDEX}};
    for (const auto& refusal : refusals) {
        ::OEMenuItem* made = nullptr;
        EXPECT_EQ(refusal.hr, refusal.menu->CreateItem(bstr(L"Never").get(), &made));
        EXPECT_EQ(nullptr, made);
        com_ptr<IErrorInfo> info;
        bstr why;
        if (GetErrorInfo(0, info.put()) == S_OK) info->GetDescription(why.put());
        EXPECT_FALSE(why.str().empty()) << "it says why";
    }
    DestroyMenu(bar);
}

}  // namespace
}  // namespace plume
