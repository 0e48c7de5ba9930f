// Store changes in the running client: whatever commits them (the user on
// the client's UI thread, a worker thread), each reaches OnDatabaseChange of
// every root object once, with the client's codes and ids.
#include "library_fixture.h"

#include <algorithm>

namespace plume::test {
namespace {

constexpr DISPID kOnDatabaseChange = root_event::kDatabaseChange;

using Change = std::vector<long>;  // code, folder, object, new parent

class StoreWatch : public RootObjectTest {
protected:
    std::vector<Change> Changes() {
        std::vector<Change> out;
        for (const auto& c : CallsOf(sink_, kOnDatabaseChange)) out.push_back(c.args);
        return out;
    }
    // Waits for `count` changes, then lets a late duplicate show up.
    std::vector<Change> Await(size_t count, DWORD ms = 10000) {
        EXPECT_TRUE(WaitForEvent(sink_, kOnDatabaseChange, count, ms)) << "only " << Changes().size();
        Call(L"Pump", {200});
        StandinProcess::PumpFor(200);
        return Changes();
    }
    long Commit(bool worker, std::vector<Var> args) {
        return Call(worker ? L"CommitOnWorker" : L"Commit", args).Long();
    }
    long Sinks() { return Call(L"StoreSinks").Long(); }
};

TEST_F(StoreWatch, MessagesChangedByTheUserOrAWorkerArriveOnceEach) {
    const long inbox = InboxId();  // shown at start: registered
    for (bool worker : {false, true}) {
        SCOPED_TRACE(worker ? "worker thread" : "UI thread");
        sink_->calls.clear();
        const long id = Commit(worker, {L"insert", inbox, L"Store watch"});
        ASSERT_GT(id, 0);
        ASSERT_EQ(1, Commit(worker, {L"read", id}));
        ASSERT_EQ(1, Commit(worker, {L"unread", id}));
        ASSERT_EQ(1, Commit(worker, {L"delete", id}));
        // The committing thread was released after each delivery: all four are
        // in before the last commit returned.
        EXPECT_EQ(4u, Changes().size());
        EXPECT_EQ((std::vector<Change>{{kInsertMessage, inbox, id, -1},
                                       {kReadMessage, inbox, id, -1},
                                       {kUnreadMessage, inbox, id, -1},
                                       {kDeleteMessage, inbox, id, -1}}),
                  Await(4));
    }

    // Folders the client has not opened in this run are heard as well.
    const long drafts = IsWm() ? 7 : 6, userFolder = 100;
    for (long folder : {SentItemsId(), drafts, userFolder, DeletedItemsId()}) {
        SCOPED_TRACE(folder);
        sink_->calls.clear();
        const long heard = Commit(true, {L"insert", folder, L"Never opened"});
        EXPECT_EQ((std::vector<Change>{{kInsertMessage, folder, heard, -1}}), Await(1));
    }
}

TEST_F(StoreWatch, FolderChangesCarryTheOldParentAndTheNewOneForMoves) {
    const long inbox = InboxId();
    const long before = Sinks();
    const long id = Commit(false, {L"createfolder", inbox, L"Projects"});
    ASSERT_GT(id, 0);
    ASSERT_EQ(1, Commit(true, {L"renamefolder", id, L"Plans"}));
    ASSERT_EQ(1, Commit(false, {L"renamefolder", id, L"Plans"}));  // no change
    ASSERT_EQ(1, Commit(true, {L"movefolder", id, kLocalRoot}));
    EXPECT_EQ((std::vector<Change>{{kInsertFolder, id, inbox, -1},
                                   {kRenameFolder, id, inbox, -1},
                                   {kMoveFolder, id, inbox, kLocalRoot}}),
              Await(3));

    // Made, the folder registers (the client never showed it); deleted, it
    // unregisters.
    EXPECT_TRUE(StandinProcess::WaitFor([&] { return Sinks() == before + 1; })) << Sinks();
    const long msg = Commit(true, {L"insert", id, L"In the new folder"});
    ASSERT_TRUE(WaitForEvent(sink_, kOnDatabaseChange, 4));
    EXPECT_EQ((Change{kInsertMessage, id, msg, -1}), Changes().back());
    sink_->calls.clear();
    // The folder's messages go with it in one commit; by the time their
    // transactions are read the folder is gone, so only the folder is reported.
    ASSERT_EQ(1, Commit(false, {L"deletefolder", id}));
    EXPECT_EQ((std::vector<Change>{{kDeleteFolder, id, kLocalRoot, -1}}), Await(1));
    EXPECT_EQ(before, Sinks());
}

// At most 31 folders are watched: a new one takes the place of the five
// least recently registered, but never of the Outbox or the holding folder,
// which the library pins at its start (the send cycle depends on them).
TEST_F(StoreWatch, TheOutboxAndTheHoldingFolderStayWatchedWhenFoldersGo) {
    constexpr long kStoreSink = 1, kMaxFolders = 31, kEvicted = 5;
    const long local = static_cast<long>(Call(L"Folders").Array().size()) - 1;  // the root holds no messages
    ASSERT_EQ(kStoreSink + local, Sinks());
    long newest = 0;
    for (long i = local; i <= kMaxFolders; ++i)
        newest = Commit(true, {L"createfolder", kLocalRoot, L"F" + std::to_wstring(i)});
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return Sinks() == kStoreSink + kMaxFolders - kEvicted + 1; })) << Sinks();
    sink_->calls.clear();
    const long inNewest = Commit(true, {L"insert", newest, L"Newest folder"});
    const long outbox = Commit(true, {L"insert", OutboxId(), L"Outbox"});
    const long holding = Commit(true, {L"insert", HoldingId(), L"Holding"});
    EXPECT_EQ((std::vector<Change>{{kInsertMessage, newest, inNewest, -1},
                                   {kInsertMessage, OutboxId(), outbox, -1},
                                   {kInsertMessage, HoldingId(), holding, -1}}),
              Await(3));
}

// A client whose store is ready before the library is: its one notice comes
// while StartServer waits, and the store is watched all the same.
class StoreReadyBeforeTheLibrary : public StoreWatch {
protected:
    std::wstring ClientArguments() const override { return L"/resetstore /nosave /storenotice:early"; }
};

TEST_F(StoreReadyBeforeTheLibrary, ChangesAreHeard) {
    const long id = Commit(true, {L"insert", InboxId(), L"Early notice"});
    EXPECT_EQ((std::vector<Change>{{kInsertMessage, InboxId(), id, -1}}), Await(1));
}

TEST_F(StoreWatch, ABurstOfInsertsFromAWorkerArrivesOnceEachInOrder) {
    constexpr long kCount = 250;
    const long last = Call(L"CommitOnWorker", {L"burst", InboxId(), kCount}).Long();
    ASSERT_GT(last, kCount - 1);
    EXPECT_EQ(static_cast<size_t>(kCount), Changes().size()) << "each committing thread waits for its own change";
    std::vector<Change> changes = Await(kCount, 60000);
    ASSERT_EQ(static_cast<size_t>(kCount), changes.size());
    // Threads committing at once interleave: the ids are in order per thread only.
    if (ClientSwitches().find(L"/commits:parallel") != std::wstring::npos) std::sort(changes.begin(), changes.end());
    for (long i = 0; i < kCount; ++i)
        ASSERT_EQ((Change{kInsertMessage, InboxId(), last - kCount + 1 + i, -1}), changes[i]) << i;
}

}  // namespace
}  // namespace plume::test
