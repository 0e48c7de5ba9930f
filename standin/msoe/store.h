// The client's local message store: folders and messages in memory, loaded
// from and saved to a text file. Every change is committed under the store's
// lock and then told to the listeners on the committing thread (by default
// after the lock is let go; /notify:inlock: before), so store
// components that wrap this model can report transactions where they happen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sync.h"
#include "variant.h"

namespace msoe {

enum class FolderRole { Root, Inbox, Outbox, SentItems, DeletedItems, Drafts, Holding, User };

// The kind byte of a local folder in a folder record.
constexpr uint8_t kLocalFolderKindByte = 3;

// The body property that marks a message for deletion.
constexpr char kDeletedMarkProperty[] = "X_PLUME_DELETED";

// What a folder tree item's lParam points at. The client promises the folder
// number at byte offset 16 only: by default every other byte is noise. With
// /treerecords:full it is laid out as the store's folder records are: the
// parent's number at 24, the 8-bit name at 32 and the kind byte at 101
// (Outlook Express) or 109 (Windows Mail).
struct FolderRecord {
    uint32_t size;         // sizeof(FolderRecord)
    uint32_t flags;
    uint32_t unread;       // unread messages when the record was last refreshed
    uint32_t total;
    int64_t id;            // offset 16: the folder number
    int64_t parentId;      // offset 24: -1 for the root
    const char* name;      // offset 32: points into nameText
    uint8_t info[88];      // offsets 40 to 127; kind bytes at 101 and 109
    char nameText[128];

    void Set(int64_t folderId, int64_t parent, const std::wstring& folderName, uint8_t kindByte);
    void SetName(const std::wstring& folderName);
};
static_assert(offsetof(FolderRecord, id) == 16, "folder number must sit at offset 16");
static_assert(offsetof(FolderRecord, parentId) == 24, "parent number must sit at offset 24");
static_assert(offsetof(FolderRecord, name) == 32, "name must sit at offset 32");
static_assert(offsetof(FolderRecord, info) + 69 == 109, "kind bytes must sit in info");

struct Folder {
    int64_t id = 0;
    int64_t parentId = -1;
    FolderRole role = FolderRole::User;
    std::wstring name;
};

struct Message {
    int64_t id = 0;
    int64_t folderId = 0;
    std::wstring from;      // "Display Name <address>"
    std::wstring to;        // recipients separated by "; "
    std::wstring cc;
    std::wstring bcc;
    std::wstring subject;
    std::wstring date;      // "YYYY-MM-DD HH:MM"
    bool read = false;
    bool html = false;
    int priority = 3;       // 1 high, 3 normal, 5 low
    std::wstring body;      // HTML source for html messages, else text
    uint32_t flags = 0;     // store flags given when it was saved (the read bit lives in `read`)
    // Body properties of the root part by name, 8-bit values ("X_PLUME_DELETED", ...).
    std::map<std::string, std::string> properties;
    // The account it was stamped with; empty where not stamped.
    std::wstring accountId;           // Outlook Express: body property 63
    std::wstring accountName;         // "att:athena-account-name" / the record's account name
    std::wstring accountFile;         // Windows Mail: the account file
    std::wstring accountDisplayName;  // Windows Mail: the sender's display name
    std::wstring accountEmail;        // Windows Mail: the sender's address
    // The account a transfer sent it with (the stamped one, else the default).
    std::wstring sentWith;
};

// One committed change.
struct StoreChange {
    enum Kind { MessageInserted, MessageDeleted, MessageUpdated, FolderInserted, FolderDeleted, FolderUpdated };
    Kind kind;
    int64_t folderId;   // folder of the message, or the folder itself
    int64_t objectId;   // message id, or folder id
    int64_t oldParent;  // folders: parent before the change
    int64_t newParent;  // folders: parent after the change
    bool wasRead;       // messages: read flag before an update
    bool isRead;        // messages: read flag after the change
    std::wstring oldName = {};  // folders: name before the change
};

class StoreListener {
public:
    // Called after the change is committed, on the thread that committed it;
    // outside the store's lock unless /notify:inlock.
    virtual void OnStoreChange(const StoreChange& change) = 0;

protected:
    ~StoreListener() = default;
};

class Store {
public:
    // The one store of the process.
    static Store& Instance();

    explicit Store(Variant variant);
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Variant variant() const { return variant_; }
    // Fixed folder numbers of the local store for this variant.
    static int64_t FolderIdForRole(Variant variant, FolderRole role);
    int64_t FolderIdForRole(FolderRole role) const { return FolderIdForRole(variant_, role); }

    // Replaces the contents with those of a store or seed file. False with
    // `error` set when the file is missing or malformed; the store is then unchanged.
    bool Load(const std::wstring& path, std::wstring* error);
    bool Save(const std::wstring& path, std::wstring* error) const;
    // Parses text in the file format (UTF-8).
    bool LoadFromText(const std::string& text, std::wstring* error);
    std::string SaveToText() const;

    // Queries return copies taken under the lock.
    std::vector<Folder> Folders() const;
    std::optional<Folder> GetFolder(int64_t id) const;
    std::vector<Message> MessagesIn(int64_t folderId) const;
    std::optional<Message> GetMessage(int64_t id) const;
    size_t UnreadCount(int64_t folderId) const;
    size_t MessageCount(int64_t folderId) const;
    // Highest message id in the folder; -1 when it is empty.
    int64_t LastMessageId(int64_t folderId) const;
    // The record a folder tree item points at; stable while the folder exists.
    const FolderRecord* Record(int64_t folderId) const;

    // Changes. Each returns false (or -1) for an unknown folder or message.
    int64_t InsertMessage(Message message);             // new id
    // `edit`, when given, changes the message as it moves (under the lock).
    bool MoveMessage(int64_t messageId, int64_t folderId, const std::function<void(Message&)>& edit = {});
    bool DeleteMessage(int64_t messageId);
    bool SetRead(int64_t messageId, bool read);
    // An update that leaves the read flag as it is.
    bool SetPriority(int64_t messageId, int priority);
    // Any other update of one message, committed as one transaction; `edit`
    // runs under the store's lock and must not call back into the store.
    bool UpdateMessage(int64_t messageId, const std::function<void(Message&)>& edit);
    int64_t CreateFolder(int64_t parentId, const std::wstring& name);
    bool RenameFolder(int64_t folderId, const std::wstring& name);
    bool MoveFolder(int64_t folderId, int64_t newParentId);
    bool DeleteFolder(int64_t folderId);  // user folders only, with their messages

    void AddListener(StoreListener* listener);
    void RemoveListener(StoreListener* listener);

private:
    struct FolderEntry {
        Folder folder;
        std::unique_ptr<FolderRecord> record;
    };
    FolderEntry* FindFolder(int64_t id);
    const FolderEntry* FindFolder(int64_t id) const;
    Message* FindMessage(int64_t id);
    void RefreshRecord(FolderEntry& entry);
    void RefreshRecord(int64_t folderId);
    void Notify(const StoreChange& change);

    Variant variant_;
    mutable plume::critical_section lock_;
    std::vector<std::unique_ptr<FolderEntry>> folders_;
    std::vector<Message> messages_;   // in insertion order
    std::vector<std::unique_ptr<FolderRecord>> retiredRecords_;
    int64_t nextMessageId_ = 1;
    int64_t nextFolderId_ = 100;
    plume::critical_section listenersLock_;
    std::vector<StoreListener*> listeners_;
    std::vector<StoreListener*> inCall_;  // listeners being called now, once per call
};

}  // namespace msoe
