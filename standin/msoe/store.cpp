#include "store.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "bstr.h"
#include "client.h"
#include "unique_any.h"

namespace msoe {
namespace {

struct RoleName {
    FolderRole role;
    const char* name;
};
constexpr RoleName kRoleNames[] = {
    {FolderRole::Root, "root"},         {FolderRole::Inbox, "inbox"},
    {FolderRole::Outbox, "outbox"},     {FolderRole::SentItems, "sent"},
    {FolderRole::DeletedItems, "deleted"}, {FolderRole::Drafts, "drafts"},
    {FolderRole::Holding, "holding"},   {FolderRole::User, "user"},
};

bool RoleFromName(const std::string& name, FolderRole* role) {
    for (const auto& r : kRoleNames)
        if (name == r.name) { *role = r.role; return true; }
    return false;
}

const char* RoleToName(FolderRole role) {
    for (const auto& r : kRoleNames)
        if (r.role == role) return r.name;
    return "user";
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::wstring W(const std::string& utf8) { return plume::Utf8ToWide(utf8.c_str(), static_cast<int>(utf8.size())); }
std::string U(const std::wstring& w) { return plume::WideToUtf8(w.c_str(), static_cast<int>(w.size())); }

bool ParseInt(const std::string& text, int64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long long v = strtoll(text.c_str(), &end, 10);
    if (*end) return false;
    *value = v;
    return true;
}

}  // namespace

void FolderRecord::Set(int64_t folderId, int64_t parent, const std::wstring& folderName, uint8_t kindByte) {
    if (!Client::Get().options.fullTreeRecords) {
        // Only the folder number is promised; every other byte is noise.
        auto* bytes = reinterpret_cast<uint8_t*>(this);
        for (size_t i = 0; i < sizeof *this; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 0x5A);
        id = folderId;
        return;
    }
    *this = FolderRecord{};
    size = sizeof(FolderRecord);
    id = folderId;
    parentId = parent;
    info[101 - offsetof(FolderRecord, info)] = kindByte;
    info[109 - offsetof(FolderRecord, info)] = kindByte;
    SetName(folderName);
}

void FolderRecord::SetName(const std::wstring& folderName) {
    if (!Client::Get().options.fullTreeRecords) return;
    int n = WideCharToMultiByte(CP_ACP, 0, folderName.c_str(), -1, nameText, sizeof nameText - 1, nullptr, nullptr);
    nameText[n > 0 ? n - 1 : 0] = 0;
    name = nameText;
}

Store& Store::Instance() {
    static Store store(CurrentVariant());
    return store;
}

Store::Store(Variant variant) : variant_(variant) {}

int64_t Store::FolderIdForRole(Variant variant, FolderRole role) {
    const bool wm = variant == Variant::WindowsMail;
    switch (role) {
    case FolderRole::Root: return 1;
    case FolderRole::Inbox: return 2;
    case FolderRole::SentItems: return 3;
    case FolderRole::Outbox: return wm ? 4 : 5;
    case FolderRole::DeletedItems: return wm ? 5 : 4;
    case FolderRole::Holding: return wm ? 6 : 7;
    case FolderRole::Drafts: return wm ? 7 : 6;
    case FolderRole::User: return -1;
    }
    return -1;
}

bool Store::Load(const std::wstring& path, std::wstring* error) {
    plume::unique_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        if (error) *error = L"cannot open " + path;
        return false;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    std::string text(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) || read != text.size())) {
        if (error) *error = L"cannot read " + path;
        return false;
    }
    if (!LoadFromText(text, error)) {
        if (error) *error = path + L": " + *error;
        return false;
    }
    return true;
}

bool Store::Save(const std::wstring& path, std::wstring* error) const {
    std::string text = SaveToText();
    std::wstring temp = path + L".new";
    {
        plume::unique_handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) {
            file.release();
            if (error) *error = L"cannot write " + temp;
            return false;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size()) {
            if (error) *error = L"cannot write " + temp;
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        if (error) *error = L"cannot replace " + path;
        return false;
    }
    return true;
}

bool Store::LoadFromText(const std::string& text, std::wstring* error) {
    std::vector<std::unique_ptr<FolderEntry>> folders;
    std::vector<Message> messages;
    std::vector<std::string> messageFolders;  // folder reference of each message, resolved at the end
    int64_t nextFolderId = 100;

    auto fail = [&](int line, const std::string& what) {
        if (error) *error = L"line " + std::to_wstring(line) + L": " + W(what);
        return false;
    };

    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    enum { None, InFolder, InMessage } section = None;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        std::string line = Trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line == "[folder]") {
            section = InFolder;
            folders.push_back(std::make_unique<FolderEntry>());
            folders.back()->folder.id = 0;
            folders.back()->folder.parentId = 0;
            continue;
        }
        if (line == "[message]") {
            section = InMessage;
            messages.emplace_back();
            messageFolders.emplace_back();
            continue;
        }
        if (section == None) return fail(lineNo, "expected [folder] or [message]");
        if (section == InMessage && line == "body:") {
            std::string body, bodyLine;
            bool ended = false;
            while (std::getline(in, bodyLine)) {
                ++lineNo;
                if (!bodyLine.empty() && bodyLine.back() == '\r') bodyLine.pop_back();
                if (bodyLine == ".") { ended = true; break; }
                if (bodyLine.size() >= 2 && bodyLine[0] == '.' && bodyLine[1] == '.') bodyLine.erase(0, 1);
                body += bodyLine;
                body += "\r\n";
            }
            if (!ended) return fail(lineNo, "body without a closing '.' line");
            messages.back().body = W(body);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(lineNo, "expected key = value");
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (section == InFolder) {
            Folder& f = folders.back()->folder;
            int64_t n = 0;
            if (key == "role") {
                if (!RoleFromName(value, &f.role)) return fail(lineNo, "unknown folder role '" + value + "'");
            } else if (key == "name") {
                f.name = W(value);
            } else if (key == "id") {
                if (!ParseInt(value, &n) || n < 1) return fail(lineNo, "bad folder id");
                f.id = n;
            } else if (key == "parent") {
                if (!ParseInt(value, &n) || n < 1) return fail(lineNo, "bad parent id");
                f.parentId = n;
            } else {
                return fail(lineNo, "unknown folder key '" + key + "'");
            }
        } else {
            Message& m = messages.back();
            int64_t n = 0;
            if (key == "id") {
                if (!ParseInt(value, &n) || n < 1) return fail(lineNo, "bad message id");
                m.id = n;
            } else if (key == "folder") messageFolders.back() = value;
            else if (key == "from") m.from = W(value);
            else if (key == "to") m.to = W(value);
            else if (key == "cc") m.cc = W(value);
            else if (key == "bcc") m.bcc = W(value);
            else if (key == "subject") m.subject = W(value);
            else if (key == "date") m.date = W(value);
            else if (key == "read") m.read = value == "yes";
            else if (key == "format") {
                if (value != "html" && value != "text") return fail(lineNo, "format must be html or text");
                m.html = value == "html";
            } else if (key == "priority") {
                if (!ParseInt(value, &n) || n < 1 || n > 5) return fail(lineNo, "bad priority");
                m.priority = static_cast<int>(n);
            } else if (key == "flags") {
                if (!ParseInt(value, &n) || n < 0 || n > 0xFFFFFFFFLL) return fail(lineNo, "bad flags");
                m.flags = static_cast<uint32_t>(n);
            } else if (key.compare(0, 5, "prop ") == 0 && key.size() > 5) m.properties[Trim(key.substr(5))] = value;
            else if (key == "deleted-mark") m.properties[kDeletedMarkProperty] = value;
            else if (key == "account-id") m.accountId = W(value);
            else if (key == "account-name") m.accountName = W(value);
            else if (key == "account-file") m.accountFile = W(value);
            else if (key == "account-display") m.accountDisplayName = W(value);
            else if (key == "account-email") m.accountEmail = W(value);
            else if (key == "sent-with") m.sentWith = W(value);
            else return fail(lineNo, "unknown message key '" + key + "'");
        }
    }

    // Folder numbers: fixed ones from the role, the rest in file order.
    for (auto& e : folders) {
        Folder& f = e->folder;
        if (f.role != FolderRole::User) {
            int64_t fixed = FolderIdForRole(variant_, f.role);
            if (f.id != 0 && f.id != fixed) return fail(0, "folder '" + U(f.name) + "' has the wrong id for its role");
            f.id = fixed;
        }
        if (f.id >= nextFolderId) nextFolderId = f.id + 1;
    }
    for (auto& e : folders)
        if (e->folder.id == 0) e->folder.id = nextFolderId++;
    bool haveRoot = false;
    for (auto& e : folders) {
        Folder& f = e->folder;
        if (f.role == FolderRole::Root) { f.parentId = -1; haveRoot = true; continue; }
        if (f.parentId == 0) f.parentId = 1;
        if (f.name.empty()) return fail(0, "a folder has no name");
    }
    if (!haveRoot) return fail(0, "no root folder");
    for (auto& e : folders) {
        size_t same = std::count_if(folders.begin(), folders.end(), [&](const auto& o) { return o->folder.id == e->folder.id; });
        if (same != 1) return fail(0, "folder id " + std::to_string(e->folder.id) + " is used twice");
        if (e->folder.parentId != -1 && std::none_of(folders.begin(), folders.end(), [&](const auto& o) { return o->folder.id == e->folder.parentId; }))
            return fail(0, "folder '" + U(e->folder.name) + "' has an unknown parent");
    }

    int64_t nextMessageId = 1;
    for (auto& m : messages)
        if (m.id >= nextMessageId) nextMessageId = m.id + 1;
    for (size_t i = 0; i < messages.size(); ++i) {
        Message& m = messages[i];
        if (m.id == 0) m.id = nextMessageId++;
        const std::string& ref = messageFolders[i];
        FolderRole role;
        int64_t id = 0;
        if (RoleFromName(ref, &role) && role != FolderRole::User) id = FolderIdForRole(variant_, role);
        else if (!ParseInt(ref, &id)) return fail(0, "message '" + U(m.subject) + "' has no folder");
        if (std::none_of(folders.begin(), folders.end(), [&](const auto& o) { return o->folder.id == id; }))
            return fail(0, "message '" + U(m.subject) + "' names an unknown folder");
        m.folderId = id;
    }

    for (auto& e : folders) {
        e->record = std::make_unique<FolderRecord>();
        e->record->Set(e->folder.id, e->folder.parentId, e->folder.name, kLocalFolderKindByte);
    }
    {
        plume::cs_lock hold(lock_);
        folders_ = std::move(folders);
        messages_ = std::move(messages);
        nextMessageId_ = nextMessageId;
        nextFolderId_ = nextFolderId;
        for (auto& e : folders_) RefreshRecord(*e);
    }
    return true;
}

std::string Store::SaveToText() const {
    plume::cs_lock hold(lock_);
    std::ostringstream out;
    out << "# Local store of the PLUME stand-in mail client (" << U(ProductName(variant_)) << ")\n\n";
    for (const auto& e : folders_) {
        const Folder& f = e->folder;
        out << "[folder]\nrole = " << RoleToName(f.role) << "\nid = " << f.id << "\n";
        if (f.parentId != -1) out << "parent = " << f.parentId << "\n";
        out << "name = " << U(f.name) << "\n\n";
    }
    for (const auto& m : messages_) {
        out << "[message]\nid = " << m.id << "\nfolder = " << m.folderId << "\n";
        out << "from = " << U(m.from) << "\nto = " << U(m.to) << "\n";
        if (!m.cc.empty()) out << "cc = " << U(m.cc) << "\n";
        if (!m.bcc.empty()) out << "bcc = " << U(m.bcc) << "\n";
        out << "subject = " << U(m.subject) << "\ndate = " << U(m.date) << "\n";
        out << "read = " << (m.read ? "yes" : "no") << "\nformat = " << (m.html ? "html" : "text") << "\n";
        if (m.priority != 3) out << "priority = " << m.priority << "\n";
        if (m.flags) out << "flags = " << m.flags << "\n";
        for (const auto& [name, value] : m.properties) out << "prop " << name << " = " << value << "\n";
        const std::pair<const char*, const std::wstring*> account[] = {
            {"account-id", &m.accountId},         {"account-name", &m.accountName},   {"account-file", &m.accountFile},
            {"account-display", &m.accountDisplayName}, {"account-email", &m.accountEmail}, {"sent-with", &m.sentWith}};
        for (const auto& [key, value] : account)
            if (!value->empty()) out << key << " = " << U(*value) << "\n";
        out << "body:\n";
        std::istringstream body(U(m.body));
        std::string line;
        while (std::getline(body, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] == '.') out << '.';
            out << line << "\n";
        }
        out << ".\n\n";
    }
    return out.str();
}

std::vector<Folder> Store::Folders() const {
    plume::cs_lock hold(lock_);
    std::vector<Folder> result;
    for (const auto& e : folders_) result.push_back(e->folder);
    return result;
}

std::optional<Folder> Store::GetFolder(int64_t id) const {
    plume::cs_lock hold(lock_);
    if (const FolderEntry* e = FindFolder(id)) return e->folder;
    return std::nullopt;
}

std::vector<Message> Store::MessagesIn(int64_t folderId) const {
    plume::cs_lock hold(lock_);
    std::vector<Message> result;
    for (const auto& m : messages_)
        if (m.folderId == folderId) result.push_back(m);
    return result;
}

std::optional<Message> Store::GetMessage(int64_t id) const {
    plume::cs_lock hold(lock_);
    for (const auto& m : messages_)
        if (m.id == id) return m;
    return std::nullopt;
}

size_t Store::UnreadCount(int64_t folderId) const {
    plume::cs_lock hold(lock_);
    return std::count_if(messages_.begin(), messages_.end(), [&](const Message& m) { return m.folderId == folderId && !m.read; });
}

size_t Store::MessageCount(int64_t folderId) const {
    plume::cs_lock hold(lock_);
    return std::count_if(messages_.begin(), messages_.end(), [&](const Message& m) { return m.folderId == folderId; });
}

int64_t Store::LastMessageId(int64_t folderId) const {
    plume::cs_lock hold(lock_);
    int64_t last = -1;
    for (const auto& m : messages_)
        if (m.folderId == folderId && m.id > last) last = m.id;
    return last;
}

const FolderRecord* Store::Record(int64_t folderId) const {
    plume::cs_lock hold(lock_);
    const FolderEntry* e = FindFolder(folderId);
    return e ? e->record.get() : nullptr;
}

int64_t Store::InsertMessage(Message message) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        if (!FindFolder(message.folderId)) return -1;
        message.id = nextMessageId_++;
        change = {StoreChange::MessageInserted, message.folderId, message.id, -1, -1, message.read, message.read};
        messages_.push_back(std::move(message));
        RefreshRecord(change.folderId);
    }
    Notify(change);
    return change.objectId;
}

bool Store::MoveMessage(int64_t messageId, int64_t folderId, const std::function<void(Message&)>& edit) {
    // A move is a delete from the old folder and an insert into the new one,
    // as the store reports it; the message keeps its id.
    StoreChange removed{}, inserted{};
    {
        plume::cs_lock hold(lock_);
        Message* m = FindMessage(messageId);
        if (!m || !FindFolder(folderId)) return false;
        if (m->folderId == folderId) return true;
        removed = {StoreChange::MessageDeleted, m->folderId, messageId, -1, -1, m->read, m->read};
        inserted = {StoreChange::MessageInserted, folderId, messageId, -1, -1, m->read, m->read};
        int64_t old = m->folderId;
        if (edit) edit(*m);
        m->id = messageId;
        m->folderId = folderId;
        inserted.isRead = m->read;
        RefreshRecord(old);
        RefreshRecord(folderId);
    }
    Notify(removed);
    Notify(inserted);
    return true;
}

bool Store::DeleteMessage(int64_t messageId) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        auto it = std::find_if(messages_.begin(), messages_.end(), [&](const Message& m) { return m.id == messageId; });
        if (it == messages_.end()) return false;
        change = {StoreChange::MessageDeleted, it->folderId, messageId, -1, -1, it->read, it->read};
        messages_.erase(it);
        RefreshRecord(change.folderId);
    }
    Notify(change);
    return true;
}

bool Store::SetRead(int64_t messageId, bool read) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        Message* m = FindMessage(messageId);
        if (!m) return false;
        if (m->read == read) return true;
        change = {StoreChange::MessageUpdated, m->folderId, messageId, -1, -1, m->read, read};
        m->read = read;
        RefreshRecord(m->folderId);
    }
    Notify(change);
    return true;
}

bool Store::SetPriority(int64_t messageId, int priority) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        Message* m = FindMessage(messageId);
        if (!m) return false;
        m->priority = priority;
        change = {StoreChange::MessageUpdated, m->folderId, messageId, -1, -1, m->read, m->read};
    }
    Notify(change);
    return true;
}

bool Store::UpdateMessage(int64_t messageId, const std::function<void(Message&)>& edit) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        Message* m = FindMessage(messageId);
        if (!m) return false;
        change = {StoreChange::MessageUpdated, m->folderId, messageId, -1, -1, m->read, m->read};
        edit(*m);
        m->id = messageId;
        m->folderId = change.folderId;
        change.isRead = m->read;
        RefreshRecord(m->folderId);
    }
    Notify(change);
    return true;
}

int64_t Store::CreateFolder(int64_t parentId, const std::wstring& name) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        if (!FindFolder(parentId) || name.empty()) return -1;
        auto e = std::make_unique<FolderEntry>();
        e->folder = Folder{nextFolderId_++, parentId, FolderRole::User, name};
        e->record = std::make_unique<FolderRecord>();
        e->record->Set(e->folder.id, parentId, name, kLocalFolderKindByte);
        change = {StoreChange::FolderInserted, e->folder.id, e->folder.id, parentId, parentId, false, false};
        folders_.push_back(std::move(e));
    }
    Notify(change);
    return change.objectId;
}

bool Store::RenameFolder(int64_t folderId, const std::wstring& name) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        FolderEntry* e = FindFolder(folderId);
        if (!e || name.empty() || e->folder.role == FolderRole::Root) return false;
        change = {StoreChange::FolderUpdated, folderId, folderId, e->folder.parentId, e->folder.parentId, false, false};
        change.oldName = e->folder.name;
        e->folder.name = name;
        e->record->SetName(name);
    }
    Notify(change);
    return true;
}

bool Store::MoveFolder(int64_t folderId, int64_t newParentId) {
    StoreChange change{};
    {
        plume::cs_lock hold(lock_);
        FolderEntry* e = FindFolder(folderId);
        if (!e || e->folder.role != FolderRole::User || !FindFolder(newParentId)) return false;
        // The new parent must not lie below the folder itself.
        for (int64_t p = newParentId; p != -1;) {
            if (p == folderId) return false;
            const FolderEntry* pe = FindFolder(p);
            p = pe ? pe->folder.parentId : -1;
        }
        change = {StoreChange::FolderUpdated, folderId, folderId, e->folder.parentId, newParentId, false, false};
        change.oldName = e->folder.name;
        e->folder.parentId = newParentId;
        e->record->parentId = newParentId;
    }
    Notify(change);
    return true;
}

bool Store::DeleteFolder(int64_t folderId) {
    std::vector<StoreChange> changes;
    {
        plume::cs_lock hold(lock_);
        FolderEntry* e = FindFolder(folderId);
        if (!e || e->folder.role != FolderRole::User) return false;
        for (const auto& other : folders_)
            if (other->folder.parentId == folderId) return false;  // not while it has sub-folders
        for (auto it = messages_.begin(); it != messages_.end();) {
            if (it->folderId == folderId) {
                changes.push_back({StoreChange::MessageDeleted, folderId, it->id, -1, -1, it->read, it->read});
                it = messages_.erase(it);
            } else {
                ++it;
            }
        }
        changes.push_back({StoreChange::FolderDeleted, folderId, folderId, e->folder.parentId, e->folder.parentId, false, false});
        changes.back().oldName = e->folder.name;
        // Tree items may still point at the record until the window hears of
        // the deletion: keep it alive for the life of the store.
        retiredRecords_.push_back(std::move(e->record));
        folders_.erase(std::find_if(folders_.begin(), folders_.end(), [&](const auto& o) { return o.get() == e; }));
    }
    for (const auto& c : changes) Notify(c);
    return true;
}

void Store::AddListener(StoreListener* listener) {
    plume::cs_lock hold(listenersLock_);
    listeners_.push_back(listener);
}

namespace {
thread_local StoreListener* g_beingNotified = nullptr;  // the listener this thread is calling
}  // namespace

// Returns once no other thread is inside the listener's call: its owner may
// be freed right after (the main window goes while a worker thread commits).
void Store::RemoveListener(StoreListener* listener) {
    const auto own = g_beingNotified == listener ? 1 : 0;
    for (bool first = true;; first = false) {
        {
            plume::cs_lock hold(listenersLock_);
            if (first) listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
            if (std::count(inCall_.begin(), inCall_.end(), listener) <= own) return;
        }
        Sleep(1);
    }
}

Store::FolderEntry* Store::FindFolder(int64_t id) {
    for (auto& e : folders_)
        if (e->folder.id == id) return e.get();
    return nullptr;
}

const Store::FolderEntry* Store::FindFolder(int64_t id) const {
    for (const auto& e : folders_)
        if (e->folder.id == id) return e.get();
    return nullptr;
}

Message* Store::FindMessage(int64_t id) {
    for (auto& m : messages_)
        if (m.id == id) return &m;
    return nullptr;
}

void Store::RefreshRecord(FolderEntry& entry) {
    uint32_t total = 0, unread = 0;
    for (const auto& m : messages_) {
        if (m.folderId != entry.folder.id) continue;
        ++total;
        if (!m.read) ++unread;
    }
    entry.record->total = total;
    entry.record->unread = unread;
}

void Store::RefreshRecord(int64_t folderId) {
    if (FolderEntry* e = FindFolder(folderId)) RefreshRecord(*e);
}

void Store::Notify(const StoreChange& change) {
    // /notify:inlock: the listeners hear the change while the store is still
    // locked, as a store that notifies inside its commit does.
    std::optional<plume::cs_lock> inLock;
    if (Client::Get().options.notifyInLock) inLock.emplace(lock_);
    std::vector<StoreListener*> listeners;
    {
        plume::cs_lock hold(listenersLock_);
        listeners = listeners_;
    }
    for (StoreListener* l : listeners) {
        {
            plume::cs_lock hold(listenersLock_);
            if (std::find(listeners_.begin(), listeners_.end(), l) == listeners_.end()) continue;  // removed meanwhile
            inCall_.push_back(l);
        }
        StoreListener* const outer = std::exchange(g_beingNotified, l);
        l->OnStoreChange(change);
        g_beingNotified = outer;
        plume::cs_lock hold(listenersLock_);
        inCall_.erase(std::find(inCall_.begin(), inCall_.end(), l));
    }
}

}  // namespace msoe
