#include "store/accounts.h"

#include <objbase.h>
#include <xmllite.h>

#include <cstring>
#include <string>

#include "com_ptr.h"
#include "proc_address.h"
#include "sync.h"
#include "unique_any.h"

namespace plume {
namespace {

constexpr DWORD kValueBuffer = 1024;
const IID kIidXmlReader = {0x7279FC81, 0x709D, 0x4095, {0xB6, 0x3D, 0x69, 0xFE, 0x4B, 0x0D, 0x90, 0x30}};

// A string value into `buffer` (kValueBuffer bytes), always terminated.
bool ReadString(HKEY key, const char* name, char* buffer, DWORD* type = nullptr) {
    DWORD size = kValueBuffer - 1, kind = 0;
    if (RegQueryValueExA(key, name, nullptr, &kind, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return false;
    buffer[size < kValueBuffer ? size : kValueBuffer - 1] = '\0';
    if (type) *type = kind;
    return kind == REG_SZ || kind == REG_EXPAND_SZ;
}

unique_hkey OpenKey(HKEY root, const std::string& path, REGSAM access) {
    unique_hkey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, access, key.put()) != ERROR_SUCCESS) key.release();
    return key;
}

// The reader's two entry points, loaded once and kept for the process; a
// library that fails to load is tried again on the next call.
using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);
using CreateStreamFn = HRESULT(WINAPI*)(LPCSTR, DWORD, IStream**);
struct XmlEntryPoints {
    CreateXmlReaderFn createReader = nullptr;
    CreateStreamFn createStream = nullptr;
};

bool LoadXmlEntryPoints(XmlEntryPoints* out) {
    static critical_section lock;
    static HMODULE xmllite = nullptr, shlwapi = nullptr;
    static XmlEntryPoints loaded;
    cs_lock hold(lock);
    if (!xmllite) {
        xmllite = LoadLibraryA("xmllite.dll");
        loaded.createReader = GetProcAs<CreateXmlReaderFn>(xmllite, "CreateXmlReader");
    }
    if (!shlwapi) {
        shlwapi = LoadLibraryA("shlwapi.dll");
        loaded.createStream = GetProcAs<CreateStreamFn>(shlwapi, "SHCreateStreamOnFileA");
    }
    *out = loaded;
    return xmllite && shlwapi;
}

enum class Field { None, AccountName, DisplayName, Email };

Field FieldOf(const wchar_t* name) {
    if (!wcscmp(name, L"Account_Name")) return Field::AccountName;
    if (!wcscmp(name, L"SMTP_Display_Name")) return Field::DisplayName;
    if (!wcscmp(name, L"SMTP_Email_Address")) return Field::Email;
    return Field::None;
}

// Wine's reader stops the process on an assertion when the file ends inside
// or right after its opening declaration ("<?xm", "<?xml ...?>"), and when
// an 8-bit file holds a zero byte. Such a file is not handed to the reader.
// The look is at the file's first 64 KB, with the zero bytes of UTF-16 and
// byte-order marks left out.
bool HasContentAfterDeclaration(const char* path) {
    unique_handle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        file.release();
        return true;  // the stream reports the failure
    }
    std::string head(64 * 1024, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr)) return true;
    head.resize(read);
    // It asserts too on a zero byte in an 8-bit file (seen right after the
    // declaration); such a file is not well-formed XML.
    const bool utf16 = read >= 2 && ((static_cast<unsigned char>(head[0]) == 0xFF && static_cast<unsigned char>(head[1]) == 0xFE) ||
                                     (static_cast<unsigned char>(head[0]) == 0xFE && static_cast<unsigned char>(head[1]) == 0xFF));
    if (!utf16 && head.find('\0') != std::string::npos) return false;
    std::string text;
    for (char ch : head) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (u != 0 && u != 0xEF && u != 0xBB && u != 0xBF && u != 0xFF && u != 0xFE) text += ch;
    }
    const size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return false;
    const std::string opening = text.substr(start, 5);
    if (std::string("<?xml").compare(0, opening.size(), opening) != 0 && text.compare(start, 2, "<?") != 0)
        return true;
    const size_t end = text.find("?>", start);
    return end != std::string::npos && text.find('<', end + 2) != std::string::npos;
}

}  // namespace

void CopyWideField(wchar_t* field, size_t capacity, const wchar_t* text) {
    size_t n = wcslen(text);
    if (n > capacity - 1) {
        n = capacity - 1;
        if (IS_HIGH_SURROGATE(text[n - 1])) --n;  // its low half did not fit
    }
    memcpy(field, text, n * sizeof(wchar_t));
    field[n] = L'\0';
}

void CopyAnsiField(char* field, size_t capacity, const wchar_t* text) {
    // Character by character (a surrogate pair is one), while the bytes fit.
    size_t used = 0;
    char bytes[16];
    for (const wchar_t* p = text; *p;) {
        const int units = IS_HIGH_SURROGATE(p[0]) && IS_LOW_SURROGATE(p[1]) ? 2 : 1;
        const int n = WideCharToMultiByte(CP_ACP, 0, p, units, bytes, sizeof bytes, nullptr, nullptr);
        if (n <= 0 || used + n > capacity - 1) break;
        memcpy(field + used, bytes, n);
        used += n;
        p += units;
    }
    field[used] = '\0';
}

HKEY OpenIdentityKey(const char* suffix, REGSAM access) {
    char user[kValueBuffer];
    {
        unique_hkey identities = OpenKey(HKEY_CURRENT_USER, "Identities", KEY_QUERY_VALUE);
        if (!identities || !ReadString(identities.get(), "Last User ID", user)) return nullptr;
    }
    return OpenKey(HKEY_CURRENT_USER, std::string("Identities\\") + user + "\\" + suffix, access).release();
}

int GetDefaultAccountSettings(OeAccountSettings& settings) {
    memset(&settings, 0, sizeof settings);
    unique_hkey manager(OpenIdentityKey("Software\\Microsoft\\Internet Account Manager", KEY_READ));
    if (!manager) manager = OpenKey(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Account Manager", KEY_READ);
    if (!manager || !ReadString(manager.get(), "Default Mail Account", settings.accountId)) return 0;
    unique_hkey account = OpenKey(manager.get(), std::string("Accounts\\") + settings.accountId, KEY_ALL_ACCESS);
    if (!account || !ReadString(account.get(), "Account Name", settings.accountName)) return 0;
    return 1;
}

int ReadAccountFile(const char* path, WmAccountInfo& info) {
    info.accountName[0] = info.displayName[0] = L'\0';
    info.emailAddress[0] = '\0';
    XmlEntryPoints xml;
    if (!LoadXmlEntryPoints(&xml) || !xml.createStream || !xml.createReader) return 0;
    com_ptr<IStream> stream;
    if (FAILED(xml.createStream(path, STGM_READ, stream.put())) || !stream) return 0;
    if (!HasContentAfterDeclaration(path)) return 1;
    com_ptr<IXmlReader> reader;
    if (FAILED(xml.createReader(kIidXmlReader, reader.put_void(), nullptr)) || !reader) return 0;
    if (FAILED(reader->SetInput(stream.get()))) return 0;
    // Every node takes at least one byte of the file: a reader that goes on
    // answering past that (Wine's does at the end of a truncated file) is
    // not followed further.
    STATSTG stat{};
    ULONGLONG budget = SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) ? stat.cbSize.QuadPart + 16 : 1u << 20;
    Field current = Field::None;
    XmlNodeType type;
    while (budget-- > 0 && reader->Read(&type) == S_OK) {
        const wchar_t* text = nullptr;
        if (type == XmlNodeType_Element) {
            if (FAILED(reader->GetLocalName(&text, nullptr)) || !text) {
                current = Field::None;
                continue;
            }
            if (Field named = FieldOf(text); named != Field::None) current = named;
        } else if (type == XmlNodeType_Text) {
            if (current == Field::None || FAILED(reader->GetValue(&text, nullptr)) || !text) continue;
            if (current == Field::AccountName) CopyWideField(info.accountName, 2048, text);
            else if (current == Field::DisplayName) CopyWideField(info.displayName, 2048, text);
            else CopyAnsiField(info.emailAddress, sizeof info.emailAddress, text);
        } else if (type == XmlNodeType_EndElement) {
            current = Field::None;
        }
    }
    return 1;
}

int GetWMAccountInfo(WmAccountInfo& info) {
    memset(&info, 0, sizeof info);
    XmlEntryPoints xml;
    if (!LoadXmlEntryPoints(&xml)) return 0;
    {
        unique_hkey iam = OpenKey(HKEY_CURRENT_USER, "Software\\Microsoft\\IAM", KEY_READ);
        if (!iam || !ReadString(iam.get(), "Default Mail Account", info.accountFile)) return 0;
    }
    char root[kValueBuffer];
    DWORD type = 0;
    {
        unique_hkey mail = OpenKey(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows Mail", KEY_READ);
        if (!mail || !ReadString(mail.get(), "Store Root", root, &type)) return 0;
    }
    std::string path = root;
    if (type == REG_EXPAND_SZ) {
        char expanded[2048];
        const DWORD n = ExpandEnvironmentStringsA(root, expanded, sizeof expanded);
        if (n == 0 || n > sizeof expanded) return 0;
        path = expanded;
    }
    if (!path.empty() && path.back() != '\\') path += '\\';
    path += "Local Folders\\";
    path += info.accountFile;
    return ReadAccountFile(path.c_str(), info);
}

}  // namespace plume
