// The library at work inside the stand-in mail client, reached over COM from
// this process as a plug-in writer's program reaches it: the root object,
// its events on real sinks and message windows.
#include "library_fixture.h"

namespace plume::test {
namespace {

TEST_F(LibraryTest, RootObjectsKnowTheClientAndHearTransfers) {
    com_ptr<IPLUMEObj> root = CreateRoot(), other = CreateRoot();
    ASSERT_TRUE(root && other);
    EXPECT_EQ(kFirstRootId, IdOf(root));
    EXPECT_EQ(kFirstRootId + 1, IdOf(other));
    EXPECT_EQ(H(main), Get(root, &IPLUMEObj::GetOEMainWindow));
    EXPECT_EQ(InboxId(), Get(root, &IPLUMEObj::GetSelectedFolderID)) << "the client starts on its Inbox";

    RecordingSink* sinks[] = {Listen(root.get(), DIID_IPLUMEObjEvents), Listen(other.get(), DIID_IPLUMEObjEvents)};
    Call(L"StartSend");
    for (RecordingSink* sink : sinks) {
        ASSERT_TRUE(WaitForEvent(sink, root_event::kDownloadFinished));
        EXPECT_EQ((std::vector<DISPID>{root_event::kDownloadStarted, root_event::kDownloadFinished}),
                  Dispids(sink, {root_event::kDownloadStarted, root_event::kDownloadFinished}));
        EXPECT_TRUE(CallsOf(sink, root_event::kDownloadStarted)[0].args.empty());
    }
}

TEST_F(RootObjectTest, MessageWindowsAreEnumeratedOpenedAndReportedClosed) {
    ASSERT_EQ(S_OK, root_->ComposeMessage());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    HWND note = Notes()[0];
    ASSERT_TRUE(WaitForCall(sink_, root_event::kNewMsgWnd, {H(note)}));
    // The enumeration holds every message window, the preview pane first.
    const std::vector<LONG> ids = Enumerate(root_, &IPLUMEObj::GetFirstMsgWndID, &IPLUMEObj::GetNextMsgWndID);
    ASSERT_EQ(2u, ids.size());
    EXPECT_EQ(H(note), ids[1]);
    {
        com_ptr<IOEMsgWnd> preview, none;
        ASSERT_EQ(S_OK, root_->GetMsgWnd(-1, preview.put()));
        ASSERT_TRUE(preview);
        EXPECT_EQ(ids[0], IdOf(preview));
        // No message is selected, and the compose window's toolbar was
        // created since: the pane counts as empty from then on.
        EXPECT_TRUE(Call(L"SelectedRows").Array().empty());
        EXPECT_EQ(kEmptyMsgWnd, StyleOf(preview));
        EXPECT_EQ(S_OK, root_->GetMsgWnd(H(main), none.put()));
        EXPECT_FALSE(none) << "the main window is no message window";
    }
    // The user closes it: OnMsgWndClosed with isMainWindow 0, and it leaves the enumeration.
    Call(L"CloseNote", {H(note)});
    ASSERT_TRUE(WaitForCall(sink_, root_event::kMsgWndClosed, {H(note), 0}));
    EXPECT_EQ(std::vector<LONG>{ids[0]}, Enumerate(root_, &IPLUMEObj::GetFirstMsgWndID, &IPLUMEObj::GetNextMsgWndID));

    // OpenCurrentMessage opens the selected message in a read window.
    Call(L"SelectRows", {0});
    const std::wstring subject = Call(L"Rows").Array().at(0).Array().at(3).Str();
    EXPECT_EQ(S_OK, root_->OpenCurrentMessage());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Notes().size() == 1; }));
    HWND read = Notes().at(0);
    ASSERT_TRUE(WaitForCall(sink_, root_event::kNewMsgWnd, {H(read)}));
    EXPECT_EQ(subject, Text(MsgWnd(root_.get(), read), &IOEMsgWnd::GetSubject));
}

}  // namespace
}  // namespace plume::test
