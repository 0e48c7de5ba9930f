// Folder and message selection in the running client: what a user selects
// in the real tree and list reaches the methods and events, and selections
// set over COM move the real controls.
#include "library_fixture.h"

namespace plume::test {
namespace {

constexpr DISPID kOnFolderSelectionChanged = root_event::kFolderSelectionChanged,
                 kOnMessageSelectionChanged = root_event::kMessageSelectionChanged,
                 kOnCurrentMessageChanged = root_event::kCurrentMessageChanged;

class Selection : public RootObjectTest {
protected:
    // Message ids of the list's rows, in row order.
    std::vector<long> RowIds() {
        std::vector<long> ids;
        for (const Var& row : Call(L"Rows").Array()) ids.push_back(row.Array()[0].Long());
        return ids;
    }
    LONG Get(HRESULT (STDMETHODCALLTYPE IPLUMEObj::*method)(LONG*)) { return test::Get(root_, method); }
    std::vector<long> Enumerated() {
        std::vector<LONG> ids =
            Enumerate(root_, &IPLUMEObj::GetFirstSelectedMessageID, &IPLUMEObj::GetNextSelectedMessageID);
        return {ids.begin(), ids.end()};
    }
    std::vector<long> Args(DISPID dispid) {
        std::vector<long> out;
        for (const auto& c : CallsOf(sink_, dispid)) out.push_back(c.args.empty() ? 0 : c.args[0]);
        return out;
    }
    // Several ticks of the client, and the events they post.
    void Ticks() {
        Call(L"Pump", {350});
        StandinProcess::PumpFor(200);
    }
    bool WaitFolder(long id, size_t count = 1) {
        return StandinProcess::WaitFor([&] {
            auto args = Args(kOnFolderSelectionChanged);
            return std::count(args.begin(), args.end(), id) >= static_cast<long>(count);
        }, 10000);
    }

};

TEST_F(Selection, WhatTheUserSelectsIsWhatTheListPreviewAndTreeShowAndComMovesThemAlsoPastADeletedFolder) {
    const std::vector<long> ids = RowIds();
    ASSERT_GE(ids.size(), 5u);
    // The start-up's own events first (the folder shown at start, and its
    // selection, which a client that fills the list first reports later).
    Ticks();
    sink_->calls.clear();
    // Three rows chosen out of order give one event, the current message
    // first; ids come in list order.
    Call(L"SelectRows", {std::vector<long>{4, 1, 3}});
    ASSERT_TRUE(WaitForEvent(sink_, kOnMessageSelectionChanged));
    Ticks();
    EXPECT_EQ((std::vector<DISPID>{kOnCurrentMessageChanged, kOnMessageSelectionChanged}),
              Dispids(sink_, {kOnCurrentMessageChanged, kOnMessageSelectionChanged}));
    EXPECT_EQ((std::vector<long>{ids[1], ids[3], ids[4]}), Enumerated());
    EXPECT_EQ((std::vector<long>{ids[4]}), Args(kOnCurrentMessageChanged)) << "the focused row";

    // Set over COM: the real list and the preview follow.
    EXPECT_EQ(S_OK, root_->SetSelectedMessageID(ids[3]));
    EXPECT_EQ((std::vector<long>{3}), Call(L"SelectedRows").Longs());
    EXPECT_EQ(3, Call(L"FocusedRow").Long());
    EXPECT_EQ(ids[3], Call(L"PreviewMessage").Long());
    EXPECT_EQ(ids[3], Get(&IPLUMEObj::GetCurrentMessageID));
    EXPECT_EQ(S_OK, root_->AddSelectedMessageID(ids[0]));
    EXPECT_EQ((std::vector<long>{0, 3}), Call(L"SelectedRows").Longs());
    Ticks();
    EXPECT_EQ((std::vector<long>{ids[0], ids[3]}), Enumerated());
    EXPECT_EQ(0, Call(L"WrongThreadCalls").Long()) << "the list's objects are used on their own thread";

    // An empty selection empties the preview too.
    EXPECT_EQ(S_OK, root_->SetSelectedMessageID(-1));
    EXPECT_TRUE(Call(L"SelectedRows").Longs().empty());
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"PreviewMessage").Long() == -1; }));

    // Folders follow COM, the tree and a retitle.
    EXPECT_EQ(S_OK, root_->SetSelectedFolderID(OutboxId()));
    ASSERT_TRUE(WaitFolder(OutboxId()));
    EXPECT_EQ(OutboxId(), Call(L"SelectedFolder").Long());
    EXPECT_NE(std::wstring::npos, TextOf(main).find(L"Outbox"));
    // The new folder's rows answer at once.
    Call(L"SelectRows", {std::vector<long>{0}});
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Get(&IPLUMEObj::GetCurrentMessageID) == RowIds()[0]; }));
    // Retitling without a change raises the event again.
    Call(L"Retitle");
    ASSERT_TRUE(WaitFolder(OutboxId(), 2));

    // An empty folder the user makes and deletes while it is shown: the
    // client falls back to its Inbox.
    long folder = Call(L"CommitOnWorker", {L"createfolder", InboxId(), L"Projects"}).Long();
    ASSERT_GT(folder, 0);
    Call(L"SelectFolder", {folder});
    ASSERT_TRUE(WaitFolder(folder));
    Ticks();
    EXPECT_TRUE(RowIds().empty());
    EXPECT_EQ(-1, Get(&IPLUMEObj::GetFirstSelectedMessageID));
    EXPECT_EQ(-1, Get(&IPLUMEObj::GetCurrentMessageID));
    Call(L"CommitOnWorker", {L"deletefolder", folder});
    ASSERT_TRUE(WaitFolder(InboxId()));
    EXPECT_EQ(InboxId(), Get(&IPLUMEObj::GetSelectedFolderID));
    Call(L"SelectRows", {std::vector<long>{1}});
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Get(&IPLUMEObj::GetCurrentMessageID) == RowIds()[1]; }));
    // The client's one list object and its table: the object the library made
    // to reach the class, and every rebinding, left nothing behind.
    EXPECT_EQ(2, Call(L"ListObjects").Long());
}

// The message-list class unregistered (Outlook Express creates it through
// the registry); the registration is put back whatever happens.
class SelectionWithoutListClass : public Selection {
protected:
    static constexpr const wchar_t* kKey = L"CLSID\\{233A9692-667E-11D1-9DFB-006097D50408}";
    void SetUp() override {
        if (IsWm()) GTEST_SKIP() << "Windows Mail reaches the class through msoe.dll, not the registry";
        wchar_t value[1024] = L"";
        DWORD size = sizeof value;
        std::wstring server = std::wstring(kKey) + L"\\InprocServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                                              value, &size));
        saved_ = value;
        ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_CLASSES_ROOT, kKey));
        removed_ = true;
        Selection::SetUp();
    }
    void TearDown() override {
        if (!IsWm()) Selection::TearDown();
        if (removed_) {
            std::wstring server = std::wstring(kKey) + L"\\InprocServer32";
            EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr, REG_SZ, L"Message List",
                                                     sizeof L"Message List"));
            EXPECT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_CLASSES_ROOT, server.c_str(), nullptr, REG_SZ, saved_.c_str(),
                                      static_cast<DWORD>((saved_.size() + 1) * sizeof(wchar_t))));
            EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", REG_SZ,
                                                     L"Both", sizeof L"Both"));
        }
    }
    std::wstring saved_;
    bool removed_ = false;
};

TEST_F(SelectionWithoutListClass, TheClientKeepsWorkingAndNoMessageIsReported) {
    Call(L"SelectRows", {std::vector<long>{1}});
    Ticks();
    EXPECT_GE(CallsOf(sink_, kOnMessageSelectionChanged).size(), 2u);
    EXPECT_EQ(-1, Get(&IPLUMEObj::GetFirstSelectedMessageID));
    EXPECT_EQ(-1, Get(&IPLUMEObj::GetCurrentMessageID));
    EXPECT_EQ(S_OK, root_->SetSelectedFolderID(SentItemsId()));
    ASSERT_TRUE(WaitFolder(SentItemsId()));
    EXPECT_EQ(SentItemsId(), Call(L"SelectedFolder").Long());
}

}  // namespace
}  // namespace plume::test
