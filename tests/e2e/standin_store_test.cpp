// The client's store objects called as the library calls them: by table
// position on the raw interface pointers (through the control channel's
// RawCall, on the client's UI thread), with argument buffers that live in
// the client's memory. Positions, offsets, ids and flags are the client's
// contract and stated here on their own.
#include <cstring>

#include "client_numbers.h"
#include "e2e_common.h"

namespace plume::test {
namespace {

using namespace client_numbers;
constexpr int kRelease = 2, kQueryInterface = 0;
constexpr uint64_t kRootBody = ~0ull;
constexpr uint16_t kVtLpstr = 30;
constexpr size_t kIdAt = kMessageIdAt, kFolderAt = kMessageFolderAtWM, kFlagsAt = 40;
constexpr size_t kDisplayNameAt = kWmRecordStrings[0], kEmailAt = kWmRecordStrings[1], kAccountNameAt = kWmRecordStrings[2],
                 kAccountFileAt = kWmRecordStrings[3];

const StoreContract& Slots() { return IsWm() ? kStoreWM : kStoreOE; }

// ---------------------------------------------------------- client memory

// Memory in the client process for arguments and results; freed at the end.
class RemoteMemory {
public:
    explicit RemoteMemory(HANDLE process) : process_(process) {
        base_ = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (!base_) throw std::runtime_error("VirtualAllocEx failed");
    }
    ~RemoteMemory() { VirtualFreeEx(process_, base_, 0, MEM_RELEASE); }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    uint64_t Put(const void* data, size_t size) {
        size_t at = (used_ + 15) & ~size_t{15};
        if (at + size > kSize) throw std::runtime_error("out of client memory");
        used_ = at + size;
        uint64_t address = reinterpret_cast<uint64_t>(base_ + at);
        Write(address, data, size);
        return address;
    }
    uint64_t Zeroed(size_t size) {
        std::vector<BYTE> zero(size);
        return Put(zero.data(), size);
    }
    uint64_t String(const std::string& s) { return Put(s.c_str(), s.size() + 1); }
    uint64_t String(const std::wstring& s) { return Put(s.c_str(), (s.size() + 1) * sizeof(wchar_t)); }
    void Write(uint64_t address, const void* data, size_t size) {
        SIZE_T done = 0;
        if (!WriteProcessMemory(process_, reinterpret_cast<void*>(address), data, size, &done) || done != size)
            throw std::runtime_error("WriteProcessMemory failed");
    }
    template <typename T>
    T Read(uint64_t address) {
        T value{};
        SIZE_T done = 0;
        if (!ReadProcessMemory(process_, reinterpret_cast<void*>(address), &value, sizeof value, &done) || done != sizeof value)
            throw std::runtime_error("ReadProcessMemory failed");
        return value;
    }
    template <typename T>
    void Set(uint64_t address, T value) { Write(address, &value, sizeof value); }
    template <typename Char>
    std::basic_string<Char> Text(uint64_t address) {
        std::basic_string<Char> s;
        for (Char c; (c = Read<Char>(address)) != 0; address += sizeof(Char)) s += c;
        return s;
    }

private:
    static constexpr size_t kSize = 64 * 1024;
    HANDLE process_;
    BYTE* base_ = nullptr;
    size_t used_ = 0;
};

Var Hex(uint64_t v) {
    wchar_t text[24];
    swprintf(text, 24, L"0x%llx", static_cast<unsigned long long>(v));
    return Var(text);
}

class StandinStore : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        memory = std::make_unique<RemoteMemory>(client->process());
        objectsAtStart = Call(L"StoreObjects").Long();
    }
    void TearDown() override {
        for (auto it = owned.rbegin(); it != owned.rend(); ++it) Raw(*it, kRelease);
        if (client) {
            EXPECT_EQ(Call(L"StoreObjects").Long(), objectsAtStart) << "every object the test got was released";
        }
        memory.reset();
        StandinTest::TearDown();
    }

    // A call by table position; the result is the call's HRESULT.
    HRESULT Raw(uint64_t object, int slot, std::vector<uint64_t> args = {}) {
        std::vector<Var> a = {Hex(object), slot};
        for (uint64_t v : args) a.push_back(Hex(v));
        return static_cast<HRESULT>(Call(L"RawCall", a).Long());
    }
    uint64_t Own(uint64_t object) {
        if (object) owned.push_back(object);
        return object;
    }
    // A fresh out-pointer slot; its content after a call.
    uint64_t OutSlot() { return memory->Zeroed(8); }
    uint64_t Pointer(uint64_t slot) { return memory->Read<uint64_t>(slot); }

    uint64_t CreateStore() {
        return Own(std::wcstoull(Call(L"RawCreate", {kStoreClass, Slots().storeIid}).Str().c_str(), nullptr, 0));
    }
    uint64_t OpenFolder(uint64_t store, long folderId) {
        uint64_t out = OutSlot();
        EXPECT_EQ(Raw(store, Slots().storeOpenFolder, {static_cast<uint64_t>(folderId), 0, 0, out}), S_OK) << "folder " << folderId;
        return Own(Pointer(out));
    }
    uint64_t OpenMessage(uint64_t folder, long id) {
        uint64_t out = OutSlot();
        EXPECT_EQ(Raw(folder, Slots().folderOpenMessage, {static_cast<uint64_t>(id), 0, out, 0}), S_OK) << "message " << id;
        return Own(Pointer(out));
    }
    // The root body property as text; nullopt-like "<failed>" when the call fails.
    std::string GetProp(uint64_t message, uint64_t nameOrId, HRESULT* hr = nullptr) {
        uint64_t pv = memory->Zeroed(24);
        HRESULT r = Raw(message, kGetBodyProp, {kRootBody, nameOrId, 0, pv});
        if (hr) *hr = r;
        if (r != S_OK) {
            EXPECT_EQ(memory->Read<uint16_t>(pv), VT_EMPTY) << "a failed get leaves the value empty";
            return "<failed>";
        }
        EXPECT_EQ(memory->Read<uint16_t>(pv), kVtLpstr);
        uint64_t text = memory->Read<uint64_t>(pv + 8);
        std::string value = memory->Text<char>(text);
        Call(L"RawFree", {Hex(text)});
        return value;
    }
    HRESULT SetProp(uint64_t message, uint64_t nameOrId, const std::string& value) {
        BYTE pv[24] = {};
        memcpy(pv, &kVtLpstr, sizeof kVtLpstr);
        uint64_t text = memory->String(value);
        memcpy(pv + 8, &text, sizeof text);
        return Raw(message, kSetBodyProp, {kRootBody, nameOrId, 0, memory->Put(pv, sizeof pv)});
    }
    uint64_t Name(const std::string& name) { return memory->String(name); }
    long FirstMessageIn(long folder) { return Call(L"Messages", {folder}).Array().at(0).Array()[0].Long(); }
    long FolderOf(long message) { return Call(L"MessageInfo", {message}).Array()[0].Long(); }
    bool Exists(long message) {
        for (long folder : {InboxId(), OutboxId(), SentItemsId(), DeletedItemsId(), HoldingId()})
            for (const Var& v : Call(L"Messages", {folder}).Array())
                if (v.Array()[0].Long() == message) return true;
        return false;
    }
    std::vector<std::wstring> Account(long message) {
        std::vector<std::wstring> out;
        for (const Var& v : Call(L"MessageAccount", {message}).Array()) out.push_back(v.Str());
        return out;
    }

    std::unique_ptr<RemoteMemory> memory;
    std::vector<uint64_t> owned;
    long objectsAtStart = 0;
};

TEST_F(StandinStore, InternalFoldersOpenAndSaveMimeMessagesWithTheirProperties) {
    uint64_t store = CreateStore();
    uint64_t inbox = OpenFolder(store, InboxId());
    uint64_t outbox = OpenFolder(store, OutboxId());
    long source = FirstMessageIn(InboxId());
    uint64_t message = OpenMessage(inbox, source);

    // The object answers IMimeMessage.
    uint64_t again = OutSlot();
    ASSERT_EQ(Raw(message, kQueryInterface, {memory->Put(&kMimeMessageIid, sizeof kMimeMessageIid), again}), S_OK);
    Own(Pointer(again));

    // A seed message has no account; the id (63, passed in place of a name) and names both work.
    HRESULT hr = S_OK;
    GetProp(message, kAccountIdProperty, &hr);
    EXPECT_TRUE(FAILED(hr)) << "a missing property is a failure, got " << std::hex << hr;
    EXPECT_EQ(SetProp(message, kAccountIdProperty, "00000002"), S_OK);
    EXPECT_EQ(SetProp(message, Name("att:athena-account-name"), "Second Account"), S_OK);
    EXPECT_EQ(SetProp(message, Name("X-Anything"), "kept"), S_OK);
    EXPECT_EQ(GetProp(message, kAccountIdProperty), "00000002");
    EXPECT_EQ(GetProp(message, Name("att:athena-account-name")), "Second Account");
    // Another body than the root is refused.
    EXPECT_NE(Raw(message, kGetBodyProp, {1, kAccountIdProperty, 0, memory->Zeroed(24)}), S_OK);
    // The stored message is not changed by its open copy.
    EXPECT_EQ(Account(source), (std::vector<std::wstring>{L"", L"", L"", L"", L""}));

    // Saved into the Outbox: a new message with the properties and the flags.
    uint64_t newId = memory->Zeroed(8);
    ASSERT_EQ(Raw(outbox, Slots().folderSaveMessage, {newId, 0, kOutboxSaveFlags, 0, message, 0}), S_OK);
    long copy = memory->Read<long>(newId);
    EXPECT_NE(copy, source);
    EXPECT_EQ(FolderOf(copy), OutboxId());
    EXPECT_EQ(FolderOf(source), InboxId()) << "the source stays";
    EXPECT_EQ(Account(copy), (std::vector<std::wstring>{L"00000002", L"Second Account", L"", L"", L""}));
    EXPECT_EQ(Call(L"GetBodyProp", {copy, L"63"}).Str(), L"00000002");
    EXPECT_EQ(Call(L"GetBodyProp", {copy, L"X-Anything"}).Str(), L"kept");
    EXPECT_FALSE(Call(L"MessageInfo", {copy}).Array()[6].Bool()) << "flags 0x0C do not mark it read";
    EXPECT_EQ(Call(L"MessageInfo", {copy}).Array()[4].Str(), Call(L"MessageInfo", {source}).Array()[4].Str());

    // A message of another folder does not open here.
    EXPECT_NE(Raw(outbox, Slots().folderOpenMessage, {static_cast<uint64_t>(source), 0, OutSlot(), 0}), S_OK);

    // Delete-messages with the list {size or count, count, ids}: 64-bit ids on Windows Mail.
    uint64_t ids = IsWm() ? memory->Put(std::vector<uint64_t>{static_cast<uint64_t>(copy), 0}.data(), 16)
                          : memory->Put(std::vector<uint32_t>{static_cast<uint32_t>(copy)}.data(), 4);
    struct { uint32_t size, count; uint64_t ids; } list = {IsWm() ? 1u : 16u, 1, ids};
    EXPECT_EQ(Raw(outbox, Slots().folderDeleteMessages, {0, memory->Put(&list, sizeof list), 0, 0}), S_OK);
    EXPECT_FALSE(Exists(copy));
    EXPECT_TRUE(Exists(source));
}

TEST_F(StandinStore, WindowsMailRecordCarriesTheAccountStringsIntoTheMessage) {
    if (!IsWm()) GTEST_SKIP() << "records with account strings are Windows Mail's";
    uint64_t store = CreateStore();
    uint64_t inbox = OpenFolder(store, InboxId());
    uint64_t outbox = OpenFolder(store, OutboxId());
    uint64_t newId = memory->Zeroed(8);
    ASSERT_EQ(Raw(outbox, Slots().folderSaveMessage, {newId, 0, 0, 0, OpenMessage(inbox, FirstMessageIn(InboxId())), 0}), S_OK);
    long copy = memory->Read<long>(newId);

    // Find-record: the key at 24, the store's strings at 144, 152, 232 and 240.
    uint64_t record = memory->Zeroed(kWmRecordSize);
    memory->Set<uint32_t>(record + kIdAt, static_cast<uint32_t>(copy));
    ASSERT_EQ(Raw(outbox, kFindRecord, {0, ~0ull, record, 0}), S_OK);
    EXPECT_EQ(memory->Read<uint32_t>(record + kIdAt), static_cast<uint32_t>(copy));
    EXPECT_EQ(memory->Read<uint32_t>(record + kFolderAt), static_cast<uint32_t>(OutboxId()));
    EXPECT_EQ(memory->Read<uint32_t>(record + kFlagsAt) & kReadFlag, 0u);
    const size_t stringsAt[] = {kDisplayNameAt, kEmailAt, kAccountNameAt, kAccountFileAt};
    uint64_t storeStrings[4];
    for (int i = 0; i < 4; ++i) {
        storeStrings[i] = memory->Read<uint64_t>(record + stringsAt[i]);
        EXPECT_NE(storeStrings[i], 0u) << "string at " << stringsAt[i];
    }
    EXPECT_EQ(memory->Text<wchar_t>(storeStrings[0]), L"");

    // Our strings in, update-record, the store's back, free-record.
    uint64_t ours[4] = {memory->String(std::wstring(L"Jamie Rivera")), memory->String(std::string("jamie.rivera@vexlor.example")),
                        memory->String(std::wstring(L"Vexlor Mail")), memory->String(std::string("account{7A3C}.oeaccount"))};
    for (int i = 0; i < 4; ++i) memory->Set<uint64_t>(record + stringsAt[i], ours[i]);
    memory->Set<uint32_t>(record + kFlagsAt, 0x10009 | kReadFlag);
    ASSERT_EQ(Raw(outbox, kUpdateRecord, {record}), S_OK);
    for (int i = 0; i < 4; ++i) memory->Set<uint64_t>(record + stringsAt[i], storeStrings[i]);
    ASSERT_EQ(Raw(outbox, kFreeRecord, {record}), S_OK);
    for (size_t at : stringsAt) EXPECT_EQ(memory->Read<uint64_t>(record + at), 0u) << "freed string at " << at;

    EXPECT_EQ(Account(copy), (std::vector<std::wstring>{L"", L"Vexlor Mail", L"account{7A3C}.oeaccount", L"Jamie Rivera",
                                                        L"jamie.rivera@vexlor.example"}));
    EXPECT_TRUE(Call(L"MessageInfo", {copy}).Array()[6].Bool()) << "the read bit of the updated flags";

    // The record found again holds the copied strings.
    uint64_t again = memory->Zeroed(kWmRecordSize);
    memory->Set<uint32_t>(again + kIdAt, static_cast<uint32_t>(copy));
    ASSERT_EQ(Raw(outbox, kFindRecord, {0, ~0ull, again, 0}), S_OK);
    EXPECT_EQ(memory->Text<wchar_t>(memory->Read<uint64_t>(again + kAccountNameAt)), L"Vexlor Mail");
    EXPECT_EQ(memory->Text<char>(memory->Read<uint64_t>(again + kEmailAt)), "jamie.rivera@vexlor.example");
    EXPECT_EQ(memory->Read<uint32_t>(again + kFlagsAt) & 0x10009u, 0x10009u);
    EXPECT_EQ(Raw(outbox, kFreeRecord, {again}), S_OK);

    // An id the folder does not hold: a failure and nothing allocated.
    uint64_t missing = memory->Zeroed(kWmRecordSize);
    memory->Set<uint32_t>(missing + kIdAt, 999999);
    EXPECT_NE(Raw(outbox, kFindRecord, {0, ~0ull, missing, 0}), S_OK);
    for (size_t at : stringsAt) EXPECT_EQ(memory->Read<uint64_t>(missing + at), 0u);
}

}  // namespace
}  // namespace plume::test
