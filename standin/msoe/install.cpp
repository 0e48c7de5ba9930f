// The client's installation: its registry settings (install roots, identity,
// mail account, send settings), the classes of msoe.dll, the control
// channel's ProgID, the Windows Mail account file, Wine's per-program
// Windows versions that tell the two variants apart, and the plug-in
// counter's server. Idempotent.
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "msoe.h"
#include "unique_any.h"

namespace {

constexpr wchar_t kIdentity[] = L"{A1B2C3D4-1111-2222-3333-444455556666}";
constexpr wchar_t kAccountFile[] = L"account{7A3C7E51-8E4B-4E0C-9D0A-2B5F0C1D4E21}.oeaccount";
constexpr wchar_t kControlClsid[] = L"{5E1D2C3B-7A4F-4C1E-9B2D-8F6A0C1E3D71}";
constexpr wchar_t kControlProgId[] = L"PLUMEStandin.Client";
constexpr wchar_t kWmRoot[] = L"%USERPROFILE%\\AppData\\Local\\Microsoft\\Windows Mail\\";

std::wstring OeRoot() {
    return std::wstring(L"%USERPROFILE%\\Local Settings\\Application Data\\Identities\\") + kIdentity +
           L"\\Microsoft\\Outlook Express\\";
}
std::wstring IdentityKey() { return std::wstring(L"Identities\\") + kIdentity; }

class Writer {
public:
    bool ok = true;
    void String(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                DWORD type = REG_SZ) {
        Set(root, path, name, type, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void Dword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
        Set(root, path, name, REG_DWORD, &value, sizeof value);
    }

private:
    void Set(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size) {
        plume::unique_hkey key;
        ok = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
                     ERROR_SUCCESS &&
             RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS && ok;
    }
};

void WriteAccount(Writer& w, const std::wstring& manager) {
    w.String(HKEY_CURRENT_USER, manager, L"Default Mail Account", L"00000001");
    const std::wstring account = manager + L"\\Accounts\\00000001";
    w.String(HKEY_CURRENT_USER, account, L"Account Name", L"Vexlor Mail");
    w.Dword(HKEY_CURRENT_USER, account, L"Connection Type", 3);
    w.String(HKEY_CURRENT_USER, account, L"POP3 Server", L"pop.vexlor.example");
    w.String(HKEY_CURRENT_USER, account, L"POP3 User Name", L"jamie.rivera");
    w.String(HKEY_CURRENT_USER, account, L"SMTP Server", L"smtp.vexlor.example");
    w.String(HKEY_CURRENT_USER, account, L"SMTP Display Name", L"Jamie Rivera");
    w.String(HKEY_CURRENT_USER, account, L"SMTP Email Address", L"jamie.rivera@vexlor.example");
}

std::wstring Expand(const std::wstring& text) {
    wchar_t out[2048] = {};
    const DWORD n = ExpandEnvironmentStringsW(text.c_str(), out, 2048);
    return n && n <= 2048 ? out : L"";
}

bool WriteFileText(const std::wstring& path, const char* text) {
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    plume::unique_handle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(strlen(text));
    return file && WriteFile(file.get(), text, size, &written, nullptr) && written == size;
}

// The Windows Mail account file, as the client's account manager writes it.
const char kAccountXml[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<MessageAccount>\n"
    "\t<Account_Name type=\"SZ\">Vexlor Mail</Account_Name>\n"
    "\t<Connection_Type type=\"DWORD\">00000003</Connection_Type>\n"
    "\t<POP3_Server type=\"SZ\">pop.vexlor.example</POP3_Server>\n"
    "\t<POP3_User_Name type=\"SZ\">jamie.rivera</POP3_User_Name>\n"
    "\t<SMTP_Server type=\"SZ\">smtp.vexlor.example</SMTP_Server>\n"
    "\t<SMTP_Display_Name type=\"SZ\">Jamie Rivera</SMTP_Display_Name>\n"
    "\t<SMTP_Email_Address type=\"SZ\">jamie.rivera@vexlor.example</SMTP_Email_Address>\n"
    "</MessageAccount>\n";

// Runs `commandLine` to its end, at most 30 s; true when it ended with 0.
bool RunToEnd(std::wstring commandLine) {
    STARTUPINFOW si{sizeof si};
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi))
        return false;
    plume::unique_handle process(pi.hProcess), thread(pi.hThread);
    DWORD code = 1;
    return WaitForSingleObject(process.get(), 30000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code) &&
           code == 0;
}

}  // namespace

extern "C" __declspec(dllexport) int MsoeInstall(const wchar_t* folderText, BOOL resetStore) {
    std::wstring folder = folderText ? folderText : L"";
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (folder.empty()) return 1;
    Writer w;
    w.String(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Outlook Express", L"InstallRoot", folder);
    w.String(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Outlook Express", L"MediaVer", L"6.0.3790.3959");
    w.String(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows Mail", L"InstallRoot", folder);

    w.String(HKEY_CURRENT_USER, L"Identities", L"Last User ID", kIdentity);
    w.String(HKEY_CURRENT_USER, L"Identities", L"Default User ID", kIdentity);
    w.String(HKEY_CURRENT_USER, L"Identities", L"Last Username", L"Main Identity");
    w.String(HKEY_CURRENT_USER, IdentityKey(), L"Username", L"Main Identity");
    w.String(HKEY_CURRENT_USER, IdentityKey(), L"User ID", kIdentity);
    WriteAccount(w, IdentityKey() + L"\\Software\\Microsoft\\Internet Account Manager");
    WriteAccount(w, L"SOFTWARE\\Microsoft\\Internet Account Manager");

    const std::wstring oe = IdentityKey() + L"\\Software\\Microsoft\\Outlook Express\\5.0";
    w.String(HKEY_CURRENT_USER, oe, L"Store Root", OeRoot(), REG_EXPAND_SZ);
    w.Dword(HKEY_CURRENT_USER, oe + L"\\Mail", L"Send Mail Immediately", 1);
    w.String(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail", L"Store Root", kWmRoot, REG_EXPAND_SZ);
    w.Dword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows Mail\\Mail", L"Send Mail Immediately", 1);
    w.String(HKEY_CURRENT_USER, L"Software\\Microsoft\\IAM", L"Default Mail Account", kAccountFile);
    w.Dword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", L"GlobalUserOffline",
            0);

    w.String(HKEY_CLASSES_ROOT, kControlProgId, nullptr, L"PLUME stand-in mail client control");
    w.String(HKEY_CLASSES_ROOT, std::wstring(kControlProgId) + L"\\CLSID", nullptr, kControlClsid);
    w.String(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kControlClsid, nullptr, L"PLUME stand-in mail client control");
    w.String(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kControlClsid + L"\\ProgID", nullptr, kControlProgId);
    // The message-list, store and store namespace classes, created in-process from msoe.dll.
    for (const auto& [clsid, name] : {std::pair<const wchar_t*, const wchar_t*>{
                                          L"{233A9692-667E-11D1-9DFB-006097D50408}", L"Message List"},
                                      {L"{101A8FB9-F1B9-11D1-9A56-00C04FA309D4}", L"Message Store"},
                                      {L"{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}", L"Store Namespace"}}) {
        const std::wstring key = std::wstring(L"CLSID\\") + clsid;
        w.String(HKEY_CLASSES_ROOT, key, nullptr, name);
        w.String(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", nullptr, folder + L"\\msoe.dll");
        w.String(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel", L"Both");
    }
    // Wine tells programs the Windows version set for their name: 5.2 makes
    // the Outlook Express variant, 6.0 Windows Mail (Windows ignores these).
    w.String(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\msimn.exe", L"Version", L"winxp64");
    w.String(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\winmail.exe", L"Version", L"vista");

    // The stores' folders and the Windows Mail account file.
    const std::wstring wmStore = Expand(kWmRoot), oeStore = Expand(OeRoot());
    if (wmStore.empty() || oeStore.empty()) return 2;
    SHCreateDirectoryExW(nullptr, (wmStore + L"Local Folders").c_str(), nullptr);
    SHCreateDirectoryExW(nullptr, oeStore.c_str(), nullptr);
    if (!WriteFileText(wmStore + L"Local Folders\\" + kAccountFile, kAccountXml)) return 3;
    if (resetStore) {
        DeleteFileW((wmStore + L"standin-store.txt").c_str());
        DeleteFileW((oeStore + L"standin-store.txt").c_str());
    }
    // The plug-in counter registers its class and type library itself.
    const std::wstring counter = folder + L"\\plumeinit.exe";
    if (GetFileAttributesW(counter.c_str()) != INVALID_FILE_ATTRIBUTES && !RunToEnd(L"\"" + counter + L"\" /regserver"))
        return 4;
    return w.ok ? 0 : 5;
}
