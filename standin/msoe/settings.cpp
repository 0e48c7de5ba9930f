#include "settings.h"

#include <windows.h>

#include <vector>

#include "unique_any.h"
#include "variant.h"

namespace msoe {
namespace {

bool ReadString(HKEY root, const std::wstring& path, const wchar_t* name, std::wstring* value) {
    plume::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return false;
    std::wstring text(buffer.data());
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[2048];
        DWORD n = ExpandEnvironmentStringsW(text.c_str(), expanded, 2048);
        if (n == 0 || n > 2048) return false;
        text = expanded;
    }
    *value = text;
    return true;
}

bool ReadDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD* value) {
    plume::unique_hkey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD type = 0, size = sizeof(DWORD);
    return RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

std::wstring OeKey() {
    std::wstring identity = CurrentIdentity();
    if (identity.empty()) return L"Software\\Microsoft\\Outlook Express\\5.0";
    return L"Identities\\" + identity + L"\\Software\\Microsoft\\Outlook Express\\5.0";
}

// Text of the first element `tag` in a small XML file.
std::wstring XmlElement(const std::wstring& xml, const std::wstring& tag) {
    size_t open = xml.find(L"<" + tag);
    if (open == std::wstring::npos) return {};
    size_t start = xml.find(L'>', open);
    if (start == std::wstring::npos) return {};
    size_t end = xml.find(L"</" + tag + L">", start);
    if (end == std::wstring::npos) return {};
    return xml.substr(start + 1, end - start - 1);
}

std::wstring ReadTextFile(const std::wstring& path) {
    plume::unique_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) { file.release(); return {}; }
    LARGE_INTEGER size{};
    GetFileSizeEx(file.get(), &size);
    std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (bytes.empty() || !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
    if (read >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (read - 2) / 2);
    int skip = (read >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF) ? 3 : 0;
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, static_cast<int>(read) - skip, nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data() + skip, static_cast<int>(read) - skip, text.data(), n);
    return text;
}

}  // namespace

std::wstring CurrentIdentity() {
    std::wstring id;
    ReadString(HKEY_CURRENT_USER, L"Identities", L"Last User ID", &id);
    return id;
}

std::wstring StoreRoot() {
    std::wstring root;
    if (IsWindowsMail()) ReadString(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail", L"Store Root", &root);
    else ReadString(HKEY_CURRENT_USER, OeKey(), L"Store Root", &root);
    if (!root.empty() && root.back() != L'\\') root += L'\\';
    return root;
}

std::wstring MailSettingsKey() {
    return IsWindowsMail() ? L"Software\\Microsoft\\Windows Mail\\Mail" : OeKey() + L"\\Mail";
}

bool SendMailImmediately() {
    DWORD value = 1;
    if (!ReadDword(HKEY_CURRENT_USER, MailSettingsKey(), L"Send Mail Immediately", &value)) return true;
    return value != 0;
}

static const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

bool WorkingOffline() {
    DWORD value = 0;
    return ReadDword(HKEY_CURRENT_USER, kInternetSettings, L"GlobalUserOffline", &value) && value == 1;
}

void SetWorkingOffline(bool offline) {
    plume::unique_hkey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return;
    DWORD value = offline ? 1 : 0;
    RegSetValueExW(key.get(), L"GlobalUserOffline", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool DefaultAccount(Account* account) {
    Account a;
    if (IsWindowsMail()) {
        if (!ReadString(HKEY_CURRENT_USER, L"Software\\Microsoft\\IAM", L"Default Mail Account", &a.id)) return false;
        std::wstring xml = ReadTextFile(StoreRoot() + L"Local Folders\\" + a.id);
        if (xml.empty()) return false;
        a.name = XmlElement(xml, L"Account_Name");
        a.displayName = XmlElement(xml, L"SMTP_Display_Name");
        a.email = XmlElement(xml, L"SMTP_Email_Address");
        a.smtpServer = XmlElement(xml, L"SMTP_Server");
        a.pop3Server = XmlElement(xml, L"POP3_Server");
    } else {
        std::wstring base = L"SOFTWARE\\Microsoft\\Internet Account Manager";
        std::wstring identity = CurrentIdentity();
        if (!identity.empty()) {
            std::wstring perIdentity = L"Identities\\" + identity + L"\\Software\\Microsoft\\Internet Account Manager";
            if (ReadString(HKEY_CURRENT_USER, perIdentity, L"Default Mail Account", &a.id)) base = perIdentity;
        }
        if (a.id.empty() && !ReadString(HKEY_CURRENT_USER, base, L"Default Mail Account", &a.id)) return false;
        std::wstring key = base + L"\\Accounts\\" + a.id;
        if (!ReadString(HKEY_CURRENT_USER, key, L"Account Name", &a.name)) return false;
        ReadString(HKEY_CURRENT_USER, key, L"SMTP Display Name", &a.displayName);
        ReadString(HKEY_CURRENT_USER, key, L"SMTP Email Address", &a.email);
        ReadString(HKEY_CURRENT_USER, key, L"SMTP Server", &a.smtpServer);
        ReadString(HKEY_CURRENT_USER, key, L"POP3 Server", &a.pop3Server);
    }
    *account = a;
    return true;
}

}  // namespace msoe
