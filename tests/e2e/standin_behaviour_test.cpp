// What the stand-in does where the library depends on the client's order of
// things: the messages of a menu choice and of sending, as a real client
// sends them. (The windows, commands, records and store it offers the
// library suites reach through the library.)
#include "e2e_common.h"

namespace plume::test {
namespace {

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

std::vector<Seen> Watched(StandinProcess& c) {
    std::vector<Seen> out;
    for (const Var& v : c.Call(L"WatchedMessages").Array()) {
        std::vector<Var> e = v.Array();
        out.push_back({e[0].Hwnd(), static_cast<UINT>(e[1].Long()), static_cast<WPARAM>(static_cast<ULONG>(e[2].Long())),
                       static_cast<LPARAM>(e[3].Long())});
    }
    return out;
}

bool HasSubject(StandinProcess& c, long folder, const std::wstring& subject) {
    return !c.MessagesWithSubject(folder, subject).empty();
}

using StandinBehaviour = StandinTest;

TEST_F(StandinBehaviour, MenuChoiceSendsTheMessagesOfAMenuBandPopup) {
    std::vector<long> watched = {WM_MENUSELECT, WM_ENTERMENULOOP, WM_INITMENU, WM_INITMENUPOPUP, WM_EXITMENULOOP, WM_COMMAND};
    Call(L"WatchMessages", {H(main), watched});
    EXPECT_EQ(Call(L"ChooseMenuItem", {H(main), L"Message\\New Message"}).Long(), 40465);
    Settle();
    std::vector<Seen> seen = Watched(*client);
    ASSERT_GE(seen.size(), 8u);
    // The band's pop-up index arrives in WM_MENUSELECT before the pop-up opens,
    // and WM_INITMENU names the pop-up that WM_INITMENUPOPUP then initialises.
    EXPECT_EQ(seen[0].msg, static_cast<UINT>(WM_MENUSELECT));
    EXPECT_EQ(LOWORD(seen[0].wp), 4) << "Message is the fifth pop-up";
    EXPECT_TRUE(HIWORD(seen[0].wp) & MF_POPUP);
    EXPECT_EQ(seen[1].msg, static_cast<UINT>(WM_ENTERMENULOOP));
    EXPECT_EQ(seen[2].msg, static_cast<UINT>(WM_INITMENU));
    EXPECT_EQ(seen[3].msg, static_cast<UINT>(WM_INITMENUPOPUP));
    EXPECT_EQ(seen[2].wp, seen[3].wp);
    EXPECT_NE(seen[3].wp, static_cast<WPARAM>(seen[0].lp)) << "the pop-up, not the menu bar";
    EXPECT_EQ(seen[4].msg, static_cast<UINT>(WM_MENUSELECT));
    EXPECT_EQ(LOWORD(seen[4].wp), 40465);
    EXPECT_EQ(seen[5].msg, static_cast<UINT>(WM_MENUSELECT));
    EXPECT_EQ(HIWORD(seen[5].wp), 0xFFFF) << "the menu closes";
    EXPECT_EQ(seen[6].msg, static_cast<UINT>(WM_EXITMENULOOP));
    EXPECT_EQ(seen[7].msg, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(seen[7].wp, 40465u);
    ASSERT_EQ(Notes().size(), 1u);

    // A message window's menu bar and its second send command.
    HWND note = Notes()[0];
    std::vector<Var> noteMenus = Call(L"MenuBar", {H(note)}).Array();
    ASSERT_FALSE(noteMenus.empty());
    EXPECT_EQ(noteMenus[0].Str(), L"File");
    bool sendLater = false;
    for (const Var& item : Call(L"MenuItems", {H(note), L"File"}).Array()) sendLater |= item.Array()[0].Long() == 40225;
    EXPECT_TRUE(sendLater) << "Send Later is command 40225";
}

TEST_F(StandinBehaviour, SendingPutsTheMessageInTheOutboxAndStartsATransfer) {
    Call(L"WatchMessages", {0, std::vector<long>{0x9C3F, 0xAA4, 0x8B6}});
    HWND dialog = Call(L"SendDialog").Hwnd();
    EXPECT_EQ(ClassOf(dialog), L"#32770");
    EXPECT_FALSE(IsWindowVisible(dialog));

    // Send Later: into the Outbox, no transfer.
    HWND later = Call(L"NewMessage").Hwnd();
    Call(L"TypeText", {H(later), 1001, L"Anna Berg <anna.berg@northwind.example>"});
    Call(L"TypeText", {H(later), 1004, L"E2E later"});
    Call(L"TypeText", {H(later), 0, L"Body typed by the test"});
    Call(L"ChooseMenuItem", {H(later), L"File\\Send Later"});
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return !IsWindow(later); }));
    EXPECT_TRUE(HasSubject(*client, OutboxId(), L"E2E later"));
    std::vector<Seen> seen = Watched(*client);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].msg, 0x9C3Fu);
    EXPECT_EQ(seen[0].hwnd, later);

    // Send: 0xAA4 to the send dialog while the window still sends, the
    // transfer's start (0x08B6 0), then 0x9C3F as the window goes; the
    // transfer moves the Outbox to Sent Items until 0x08B6 13/14.
    Call(L"WatchMessages", {0, std::vector<long>{0x9C3F, 0xAA4, 0x8B6}});
    HWND now = Call(L"NewMessage").Hwnd();
    Call(L"TypeText", {H(now), 1001, L"ben.okafor@contoso.example"});
    Call(L"TypeText", {H(now), 1004, L"E2E now"});
    Call(L"SendNote", {H(now)});
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return !IsWindow(now); }));
    ASSERT_TRUE(Call(L"WaitTransferIdle", {5000}).Bool());
    seen = Watched(*client);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].msg, 0xAA4u);
    EXPECT_EQ(seen[0].hwnd, dialog);
    EXPECT_EQ(seen[1].msg, 0x8B6u);
    EXPECT_EQ(seen[1].hwnd, main);
    EXPECT_EQ(seen[1].wp, 0u);
    EXPECT_EQ(seen[2].msg, 0x9C3Fu);
    EXPECT_EQ(seen[2].hwnd, now);
    EXPECT_EQ(seen[3].msg, 0x8B6u);
    EXPECT_EQ(seen[3].wp, IsWm() ? 14u : 13u);
    EXPECT_TRUE(Call(L"Messages", {OutboxId()}).Array().empty());
    EXPECT_TRUE(HasSubject(*client, SentItemsId(), L"E2E now"));
    EXPECT_TRUE(HasSubject(*client, SentItemsId(), L"E2E later"));

    // No recipient: the window stays and says why.
    HWND empty = Call(L"NewMessage").Hwnd();
    Call(L"SendNote", {H(empty)});
    Settle();
    EXPECT_TRUE(IsWindow(empty));
    EXPECT_FALSE(Call(L"NoteInfo", {H(empty)}).Array()[4].Str().empty());
}

}  // namespace
}  // namespace plume::test
