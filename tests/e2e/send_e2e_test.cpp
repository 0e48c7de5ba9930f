// Sending in the running client: a plug-in's SendMessage copies a stored
// message into the Outbox (or parks it while a transfer runs), the copy is
// stamped with the default account and sent once; the client's own send
// commands are held back and replayed as the send cycle requires.
#include <memory>

#include "client_process.h"
#include "library_fixture.h"
#include "registry_scope.h"

namespace plume::test {
namespace {

using namespace root_event;

// The default account the test prefix holds for each client.
const wchar_t* const kAccountId = L"00000001";
const wchar_t* const kAccountName = L"Vexlor Mail";
const wchar_t* const kAccountFile = L"account{7A3C7E51-8E4B-4E0C-9D0A-2B5F0C1D4E21}.oeaccount";
const wchar_t* const kDisplayName = L"Jamie Rivera";
const wchar_t* const kEmail = L"jamie.rivera@vexlor.example";

// Where the send settings live, per client.
const wchar_t* const kIdentityMailKey =
    L"Identities\\{A1B2C3D4-1111-2222-3333-444455556666}\\Software\\Microsoft\\Outlook Express\\5.0\\Mail";
const wchar_t* const kWmMailKey = L"Software\\Microsoft\\Windows Mail\\Mail";
const wchar_t* const kInternetSettings = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

struct StoredMessage {
    long id;
    std::wstring subject;
};

class Sending : public RootObjectTest {
protected:
    // The client closes once the last transfer's end has been announced.
    void TearDown() override {
        if (client && sink_) EndsAnnounced();  // not when the set-up failed
        RootObjectTest::TearDown();
    }
    // No transfer runs, and the end of each has been announced (1.5 s after it).
    bool EndsAnnounced() {
        return Call(L"WaitTransferIdle", {10000}).Bool() && StandinProcess::WaitFor([&] {
            return CallsOf(sink_, kDownloadFinished).size() >= CallsOf(sink_, kDownloadStarted).size();
        }, 10000);
    }
    std::vector<long> IdsWithSubject(long folder, const std::wstring& subject) {
        return client->MessagesWithSubject(folder, subject);
    }
    bool AwaitSubject(long folder, const std::wstring& subject, size_t count = 1, DWORD ms = 15000) {
        return StandinProcess::WaitFor([&] { return IdsWithSubject(folder, subject).size() == count; }, ms);
    }
    // A message of the Inbox with a subject of its own, committed as a user's action.
    StoredMessage InboxMessage(const std::wstring& subject) {
        const long id = Call(L"Commit", {L"insert", InboxId(), subject}).Long();
        EXPECT_GT(id, 0);
        return {id, subject};
    }
    void ExpectDefaultAccount(long msgId) {
        const std::vector<Var> account = Call(L"MessageAccount", {msgId}).Array();
        ASSERT_EQ(5u, account.size());
        if (IsWm()) {
            EXPECT_EQ(kAccountName, account[1].Str());
            EXPECT_EQ(kAccountFile, account[2].Str());
            EXPECT_EQ(kDisplayName, account[3].Str());
            EXPECT_EQ(kEmail, account[4].Str());
        } else {
            EXPECT_EQ(kAccountId, account[0].Str());
            EXPECT_EQ(kAccountName, account[1].Str());
        }
    }
    std::vector<std::vector<long>> Changes() {
        std::vector<std::vector<long>> out;
        for (const auto& c : CallsOf(sink_, kDatabaseChange)) out.push_back(c.args);
        return out;
    }
    size_t CountChanges(long code, long folder, long object) {
        size_t n = 0;
        for (const auto& c : Changes())
            if (c[0] == code && c[1] == folder && c[2] == object) ++n;
        return n;
    }
    // Position of the first call of `dispid` whose first argument is `arg`; -1 when none.
    long PositionOf(DISPID dispid, long arg, size_t argIndex = 0) {
        for (size_t i = 0; i < sink_->calls.size(); ++i) {
            const auto& c = sink_->calls[i];
            if (c.dispid == dispid && c.args.size() > argIndex && c.args[argIndex] == arg) return static_cast<long>(i);
        }
        return -1;
    }
    // A transfer started and held; `root` sends an Inbox message meanwhile,
    // whose copy is parked in the holding folder.
    StoredMessage ParkedDuringATransfer(IPLUMEObj* root, const std::wstring& subject) {
        const StoredMessage source = InboxMessage(subject);
        EXPECT_TRUE(Call(L"HoldTransfers", {1}).Bool());
        EXPECT_TRUE(Call(L"StartSend").Bool());
        EXPECT_TRUE(StandinProcess::WaitFor([&] { return Call(L"TransferState").Array()[0].Bool(); }, 5000));
        EXPECT_EQ(S_OK, root->SendMessage(InboxId(), source.id));
        EXPECT_TRUE(AwaitSubject(HoldingId(), source.subject));
        return source;
    }
    // The user's Send/Receive: the message leaves the Outbox and is in Sent
    // Items once; its id there.
    long SentOnceBySendReceive(const std::wstring& subject) {
        EXPECT_TRUE(Call(L"StartSend").Bool());
        EXPECT_TRUE(AwaitSubject(SentItemsId(), subject));
        EXPECT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
        EXPECT_TRUE(IdsWithSubject(OutboxId(), subject).empty());
        const std::vector<long> sent = IdsWithSubject(SentItemsId(), subject);
        EXPECT_EQ(1u, sent.size());
        return sent.empty() ? -1 : sent[0];
    }
    long TransfersStarted() { return Call(L"TransferState").Array()[1].Long(); }
    std::vector<long> SendCommandParams() {
        std::vector<long> out;
        for (const Var& v : Call(L"SendCommandParams").Array()) out.push_back(v.Long());
        return out;
    }
    HWND ComposeTo(const std::wstring& subject) {
        HWND note = Call(L"NewMessage").Hwnd();
        Call(L"SetField", {H(note), kTo, L"Robin Park <robin.park@example.org>"});
        Call(L"SetField", {H(note), kSubject, subject});
        return note;
    }
};

// A plug-in's SendMessage: the copy goes into the Outbox, or into the holding
// folder while a transfer runs and on into the Outbox when it ends; the
// user's next Send/Receive sends each copy once. (That the copy's
// announcement comes before its change is SendCycleTest.EveryStoreChangeReportsTheOutboxFirst's.)
TEST_F(Sending, SendMessageCopiesIntoTheOutboxOrParksTheCopyDuringATransferAndEachIsSentOnce) {
    const StoredMessage source = InboxMessage(L"Quarterly figures");
    sink_->calls.clear();
    ASSERT_EQ(S_OK, root_->SendMessage(InboxId(), source.id));

    // The copy is in the Outbox, the source stays where it was.
    ASSERT_TRUE(AwaitSubject(OutboxId(), source.subject));
    const long copy = IdsWithSubject(OutboxId(), source.subject)[0];
    EXPECT_NE(source.id, copy);
    EXPECT_EQ(std::vector<long>{source.id}, IdsWithSubject(InboxId(), source.subject));
    ExpectDefaultAccount(copy);
    ASSERT_TRUE(WaitForCall(sink_, kDatabaseChange, {kInsertMessage, OutboxId(), copy, -1}));
    EXPECT_EQ(1u, CountChanges(kInsertMessage, OutboxId(), copy));
    EXPECT_GE(PositionOf(kNewMessageInOutbox, copy), 0) << "plug-ins hear of the new Outbox message";

    // Send/Receive sends it once, with the account it was stamped with.
    EXPECT_EQ(kAccountName, Call(L"SentWith", {SentOnceBySendReceive(source.subject)}).Str());
    EXPECT_TRUE(WaitForEvent(sink_, kDownloadFinished));
    EXPECT_EQ(1u, CallsOf(sink_, kDownloadStarted).size());

    // Ids that are not there, or a folder that is not, change nothing and fail nothing.
    const size_t outbox = Call(L"Messages", {OutboxId()}).Array().size();
    EXPECT_EQ(S_OK, root_->SendMessage(InboxId(), 999999));
    EXPECT_EQ(S_OK, root_->SendMessage(987654, source.id));
    EXPECT_EQ(S_OK, root_->SendMessage(-1, -1));
    Call(L"Pump", {300});
    EXPECT_EQ(outbox, Call(L"Messages", {OutboxId()}).Array().size());
    EXPECT_EQ(1u, IdsWithSubject(InboxId(), source.subject).size());

    // During a transfer the copy is parked; the transfer's end moves it into
    // the Outbox. Finished while still held: let go first, its own step
    // timer could end it before the call.
    const StoredMessage parked = ParkedDuringATransfer(root_.get(), L"Parked while sending");
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(IdsWithSubject(OutboxId(), parked.subject).empty());
    ASSERT_TRUE(Call(L"FinishTransfer").Bool());
    ASSERT_TRUE(Call(L"HoldTransfers", {0}).Bool());
    ASSERT_TRUE(AwaitSubject(OutboxId(), parked.subject));
    EXPECT_TRUE(AwaitSubject(HoldingId(), parked.subject, 0));
    ExpectDefaultAccount(IdsWithSubject(OutboxId(), parked.subject)[0]);
    EXPECT_EQ(1u, IdsWithSubject(InboxId(), parked.subject).size());
    ASSERT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
    SentOnceBySendReceive(parked.subject);
}

// A send the library accepted while a transfer ran reaches the Outbox also
// when the client closes before the transfer ends: the next start sends it.
TEST_F(Sending, ACopyParkedWhenTheClientClosesGoesOutAfterTheNextStart) {
    ScopedStoreFile file;
    // Gone with its last entry; the scope takes it away should the test stop early.
    ScopedRegistryKey parkedList(HKEY_CURRENT_USER, IsWm() ? L"Software\\Vexlor\\PLUME\\ParkedSends\\WindowsMail"
                                                           : L"Software\\Vexlor\\PLUME\\ParkedSends\\OutlookExpress");
    root_.reset();
    sinks_.clear();
    sink_ = nullptr;  // gone with them: the tear-down must not read it
    ASSERT_TRUE(client->Close());
    StartClient(L"/resetstore");  // this one saves its store
    ASSERT_TRUE(Call(L"LibraryStarted").Bool());
    com_ptr<IPLUMEObj> root = CreateRoot();
    ASSERT_TRUE(root);
    const StoredMessage source = ParkedDuringATransfer(root.get(), L"Parked at the close");
    ASSERT_FALSE(HasFailure());
    root.reset();
    // The close takes its usual second, whatever the held transfer and the commit under way.
    ASSERT_TRUE(client->Close());

    StartClient(L"/nosave");
    ASSERT_TRUE(Call(L"LibraryStarted").Bool());
    ASSERT_TRUE(StandinProcess::WaitFor(
        [&] {
            return IdsWithSubject(OutboxId(), source.subject).size() + IdsWithSubject(SentItemsId(), source.subject).size() ==
                   1;
        },
        15000));
    EXPECT_TRUE(IdsWithSubject(HoldingId(), source.subject).empty());
    Call(L"Pump", {1000});
    EXPECT_EQ(1u, IdsWithSubject(OutboxId(), source.subject).size() + IdsWithSubject(SentItemsId(), source.subject).size())
        << "exactly once";
}

TEST_F(Sending, AUsersSendIsReportedOnceAndDeliveredOnce) {
    const std::wstring subject = L"Sent once";
    HWND note = ComposeTo(subject);
    sink_->calls.clear();
    ASSERT_TRUE(Call(L"SendNote", {H(note)}).Bool());
    ASSERT_TRUE(AwaitSubject(SentItemsId(), subject));
    ASSERT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
    ASSERT_TRUE(WaitForEvent(sink_, kDownloadFinished));
    Call(L"Pump", {500});

    EXPECT_EQ(1u, CallsOf(sink_, kSendButtonMsgWndClicked).size());
    const auto sent = IdsWithSubject(SentItemsId(), subject);
    ASSERT_EQ(1u, sent.size());
    EXPECT_TRUE(IdsWithSubject(OutboxId(), subject).empty());
    // One insertion into the Outbox, one deletion from it (the seed's own
    // Outbox messages go out in the same transfer), one insertion into Sent
    // Items: the message keeps its id when it moves.
    long queued = -1;
    for (const auto& c : Changes())
        if (c[0] == kInsertMessage && c[1] == OutboxId()) queued = c[2];
    ASSERT_EQ(sent[0], queued);
    EXPECT_EQ(1u, CountChanges(kInsertMessage, OutboxId(), queued));
    EXPECT_EQ(1u, CountChanges(kDeleteMessage, OutboxId(), queued));
    EXPECT_EQ(1u, CountChanges(kInsertMessage, SentItemsId(), queued));
    // Every store change is announced with its object's id. The message's
    // entry into the Outbox is announced before its change when the window
    // had stopped sending, and once the window is done when it entered while
    // the window still sent (the client's usual order).
    size_t announcements = 0, changes = 0;
    for (const auto& c : CallsOf(sink_, kNewMessageInOutbox)) announcements += c.args[0] == queued;
    for (const auto& c : Changes()) changes += c[2] == queued;
    EXPECT_EQ(changes, announcements);
    const long announced = PositionOf(kNewMessageInOutbox, queued);
    const long inserted = PositionOf(kDatabaseChange, kInsertMessage);
    if (ClientSwitches().find(L"/sending:endsfirst") != std::wstring::npos) EXPECT_LT(announced, inserted);
    else EXPECT_GT(announced, inserted);
    EXPECT_EQ(1u, CallsOf(sink_, kDownloadStarted).size());
}

// A press reaches the client once every handler of it has answered or is
// gone, however long that takes: a handler that asks its user for longer
// than a sink's call is waited for may still cancel; one whose process ends
// cancels nothing. Meanwhile the client and the other clients go on.
TEST_F(Sending, APressWaitsForEveryHandlerThatMayStillCancelIt) {
    constexpr DWORD kAsksItsUserMs = 4000;  // twice the bound on a sink's call
    struct Case {
        const char* name;
        const wchar_t* rogueMode;  // a handler in a process of its own; null: this test's sink
        bool killed;               // the test ends that process
        bool sent;
    };
    const Case cases[] = {
        {"asks its user, then cancels", nullptr, false, false},
        {"asks its user, then its process ends", L"senddie", false, true},
        {"never answers until its process is killed", L"sendhang", true, true},
    };
    int serial = 0;
    bool sentItemsShown = false;  // the client starts in the Inbox
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring subject = L"Handled press " + std::to_wstring(++serial);
        std::unique_ptr<ClientProcess> rogue;
        if (c.rogueMode) {
            rogue = std::make_unique<ClientProcess>(L"rogue_client.exe", c.rogueMode,
                                                    "PLUME_TEST_SEND_ROGUE_" + std::to_string(serial));
            ASSERT_TRUE(rogue->WaitReady());
        }
        HRESULT cancelled = E_PENDING;
        sink_->onCall = [&](const SinkCall& call) {
            if (call.dispid != kSendButtonMsgWndClicked || c.rogueMode) return;
            StandinProcess::PumpFor(kAsksItsUserMs);
            com_ptr<IOEMsgWnd> window;
            root_->GetMsgWnd(call.args.at(0), window.put());
            cancelled = window ? window->CancelSend() : E_FAIL;
        };
        HWND note = ComposeTo(subject);
        const size_t presses = CallsOf(sink_, kSendButtonMsgWndClicked).size();
        ASSERT_TRUE(Call(L"SendNote", {H(note)}).Bool());
        ASSERT_TRUE(WaitForEvent(sink_, kSendButtonMsgWndClicked, presses + 1));
        if (c.rogueMode) {
            // Held past the bound on its call while the handler runs; other
            // events reach this client meanwhile.
            const size_t folderChanges = CallsOf(sink_, kFolderSelectionChanged).size();
            Call(L"SelectFolder", {(sentItemsShown = !sentItemsShown) ? SentItemsId() : InboxId()});
            EXPECT_TRUE(WaitForEvent(sink_, kFolderSelectionChanged, folderChanges + 1, 3000));
            StandinProcess::PumpFor(kAsksItsUserMs);
            EXPECT_EQ(std::vector<HWND>{note}, Notes()) << "the press went on before its handler ended";
            EXPECT_TRUE(IdsWithSubject(OutboxId(), subject).empty());
            if (c.killed) rogue->Kill();
            EXPECT_TRUE(rogue->WaitForExit(15000));
        } else {
            ASSERT_TRUE(StandinProcess::WaitFor([&] { return cancelled != E_PENDING; }, 15000));
            EXPECT_EQ(S_OK, cancelled);
        }
        if (c.sent) {
            EXPECT_TRUE(AwaitSubject(SentItemsId(), subject));
            EXPECT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
        } else {
            Call(L"Pump", {1000});
            EXPECT_EQ(std::vector<HWND>{note}, Notes()) << "a cancelled press leaves the window open";
            EXPECT_TRUE(IdsWithSubject(OutboxId(), subject).empty());
            EXPECT_TRUE(IdsWithSubject(SentItemsId(), subject).empty());
            const size_t closes = CallsOf(sink_, kMsgWndClosed).size();
            Call(L"CloseNote", {H(note)});
            ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().empty(); }));
            EXPECT_TRUE(WaitForEvent(sink_, kMsgWndClosed, closes + 1)) << "answering late cost it its connection";
        }
        sink_->onCall = nullptr;
    }
}

TEST_F(Sending, SendMailImmediatelyAndWorkingOfflineDecideWhetherASendStarts) {
    struct Case {
        DWORD immediately, offline;
        bool sent;
    };
    for (const Case& c : {Case{0, 0, false}, Case{1, 1, false}, Case{1, 0, true}}) {
        SCOPED_TRACE(testing::Message() << "Send Mail Immediately " << c.immediately << ", offline " << c.offline);
        ScopedRegistryValue immediately(HKEY_CURRENT_USER, IsWm() ? kWmMailKey : kIdentityMailKey,
                                        L"Send Mail Immediately");
        ScopedRegistryValue offline(HKEY_CURRENT_USER, kInternetSettings, L"GlobalUserOffline");
        ASSERT_TRUE(immediately.SetDword(c.immediately));
        ASSERT_TRUE(offline.SetDword(c.offline));
        const long started = TransfersStarted();
        const std::wstring subject = L"Immediately " + std::to_wstring(c.immediately) + L" offline " +
                                     std::to_wstring(c.offline);
        ASSERT_TRUE(Call(L"SendNote", {H(ComposeTo(subject))}).Bool());
        ASSERT_TRUE(AwaitSubject(c.sent ? SentItemsId() : OutboxId(), subject));
        ASSERT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
        EXPECT_EQ(c.sent ? started + 1 : started, TransfersStarted());
        if (!c.sent) {
            // It waits for Send/Receive (online); the library let it pass.
            offline.SetDword(0);
            SentOnceBySendReceive(subject);
        }
    }
}

TEST_F(Sending, SendCommandsDuringAMessageWindowsSendAreHeldBackAndReplayedWithTheirOwnParameter) {
    constexpr long kOwnParameter = 0x1234;
    Call(L"ClearSendLog");
    ASSERT_TRUE(Call(L"HoldNoteSends", {1}).Bool());
    HWND note = ComposeTo(L"Held back");
    ASSERT_TRUE(Call(L"SendNote", {H(note)}).Bool());
    // The window is sending: the client's command does not reach its dialog.
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"HeldNoteSends").Long() == 1; }, 5000));
    Call(L"SendCommand", {kOwnParameter});
    Call(L"Pump", {300});
    EXPECT_TRUE(SendCommandParams().empty());

    // The window's send goes on; the held command comes back later, with its parameter.
    ASSERT_TRUE(Call(L"HoldNoteSends", {0}).Bool());
    ASSERT_TRUE(AwaitSubject(SentItemsId(), L"Held back"));
    ASSERT_TRUE(StandinProcess::WaitFor(
        [&] {
            auto p = SendCommandParams();
            return std::find(p.begin(), p.end(), kOwnParameter) != p.end();
        },
        15000));
    ASSERT_TRUE(Call(L"WaitTransferIdle", {10000}).Bool());
    const auto params = SendCommandParams();
    EXPECT_EQ(1, std::count(params.begin(), params.end(), kOwnParameter));
    EXPECT_EQ(1u, IdsWithSubject(SentItemsId(), L"Held back").size());
}

}  // namespace
}  // namespace plume::test
