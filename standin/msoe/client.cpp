#include "client.h"

#include <commctrl.h>
#include <ole2.h>

#include "control_channel.h"
#include "main_window.h"
#include "msoe.h"
#include "note_window.h"
#include "send_dialog.h"
#include "settings.h"
#include "commands.h"
#include "ui_common.h"

namespace msoe {
namespace {

// A store with the local folders and nothing in them, when no file can be read.
const char kEmptyStore[] =
    "[folder]\nrole = root\nname = Local Folders\n\n[folder]\nrole = inbox\nname = Inbox\n\n"
    "[folder]\nrole = outbox\nname = Outbox\n\n[folder]\nrole = sent\nname = Sent Items\n\n"
    "[folder]\nrole = deleted\nname = Deleted Items\n\n[folder]\nrole = drafts\nname = Drafts\n\n"
    "[folder]\nrole = holding\nname = Holding\n";

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p = path;
    return p.substr(0, p.find_last_of(L'\\') + 1);
}

std::wstring UrlDecode(const std::wstring& s) {
    std::string bytes;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'%' && i + 2 < s.size()) {
            bytes += static_cast<char>(wcstol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else if (s[i] < 0x80) {
            bytes += static_cast<char>(s[i]);
        }
    }
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

NoteWindow* g_composeOnly = nullptr;

// Switches that set one option each.
struct FlagSwitch {
    const wchar_t* name;
    bool ClientOptions::*option;
    bool value;
};
const FlagSwitch kFlagSwitches[] = {
    {L"/resetstore", &ClientOptions::resetStore, true},
    {L"/nosave", &ClientOptions::noSave, true},
    {L"/storenotice:early", &ClientOptions::earlyStoreNotice, true},
    {L"/sending:endsfirst", &ClientOptions::sendingEndsFirst, true},
    {L"/sending:endslast", &ClientOptions::sendingEndsFirst, false},
    {L"/spooler:noopen", &ClientOptions::spoolerOpensFolders, false},
    {L"/spooler:open", &ClientOptions::spoolerOpensFolders, true},
    {L"/folder:fillfirst", &ClientOptions::fillBeforeRetitle, true},
    {L"/folder:retitlefirst", &ClientOptions::fillBeforeRetitle, false},
    {L"/readmark:atonce", &ClientOptions::readMarkAtOnce, true},
    {L"/readmark:later", &ClientOptions::readMarkAtOnce, false},
    {L"/close:cancelonce", &ClientOptions::cancelClose, true},
    {L"/close:accept", &ClientOptions::cancelClose, false},
    {L"/table:anythread", &ClientOptions::tableAnyThread, true},
    {L"/table:ownthread", &ClientOptions::tableAnyThread, false},
    {L"/table:reused", &ClientOptions::tableReused, true},
    {L"/table:perfolder", &ClientOptions::tableReused, false},
    {L"/popups:rebuild", &ClientOptions::rebuildPopups, true},
    {L"/popups:keep", &ClientOptions::rebuildPopups, false},
    {L"/commits:parallel", &ClientOptions::parallelCommits, true},
    {L"/commits:onethread", &ClientOptions::parallelCommits, false},
    {L"/notify:inlock", &ClientOptions::notifyInLock, true},
    {L"/notify:outside", &ClientOptions::notifyInLock, false},
    {L"/treerecords:full", &ClientOptions::fullTreeRecords, true},
    {L"/treerecords:lean", &ClientOptions::fullTreeRecords, false},
};

}  // namespace

bool ApplySwitch(ClientOptions& o, const std::wstring& a) {
    for (const FlagSwitch& f : kFlagSwitches) {
        if (_wcsicmp(a.c_str(), f.name) == 0) {
            o.*f.option = f.value;
            return true;
        }
    }
    if (_wcsnicmp(a.c_str(), L"/watch:", 7) == 0) {
        for (const wchar_t* p = a.c_str() + 7; *p;) {
            wchar_t* end = nullptr;
            unsigned long n = wcstoul(p, &end, 0);
            if (end == p) break;
            o.watch.push_back(static_cast<UINT>(n));
            p = *end == L',' ? end + 1 : end;
        }
    } else if (_wcsnicmp(a.c_str(), L"/mailurl:", 9) == 0) {
        o.composeOnly = true;
        std::wstring url = a.substr(9);
        if (_wcsnicmp(url.c_str(), L"mailto:", 7) == 0) url = url.substr(7);
        o.mailto = url;
    } else if (_wcsicmp(a.c_str(), L"/mail") == 0) {
        o.composeOnly = true;
    } else {
        return false;
    }
    return true;
}

ClientOptions ParseCommandLine(const wchar_t* commandLine) {
    ClientOptions o;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine && *commandLine ? commandLine : L"x", &argc);
    for (int i = 0; argv && i < argc; ++i) ApplySwitch(o, argv[i]);
    LocalFree(argv);
    return o;
}

Client& Client::Get() {
    static Client client;
    return client;
}

void Client::LoadStore() {
    Store& store = Store::Instance();
    std::wstring root = StoreRoot();
    if (!root.empty()) CreateDirectoryW(root.c_str(), nullptr);
    storePath = (root.empty() ? ExecutableFolder() : root) + L"standin-store.txt";
    std::wstring error;
    if (!options.resetStore && GetFileAttributesW(storePath.c_str()) != INVALID_FILE_ATTRIBUTES &&
        store.Load(storePath, &error))
        return;
    std::wstring seed = ExecutableFolder() + L"standin-seed.txt";
    std::wstring seedError;
    if (store.Load(seed, &seedError)) return;
    loadError = error.empty() ? seedError : error + L"; " + seedError;
    store.LoadFromText(kEmptyStore, nullptr);
}

void Client::SaveStore() {
    if (!options.noSave && !storePath.empty()) Store::Instance().Save(storePath, nullptr);
}

void Client::StartSend() {
    if (sendDialog) SendMessageW(sendDialog->hwnd(), kMsgStartSend, 0, 0);
}

HWND Client::StatusTarget() const { return main ? main->hwnd() : nullptr; }

void Client::WindowGone() {
    if (!main && notes.empty()) PostQuitMessage(0);
}

NoteWindow* Client::FindNote(HWND hwnd) const {
    for (NoteWindow* n : notes)
        if (n->hwnd() == hwnd) return n;
    return nullptr;
}

void Client::ActOnSwitches() {
    if (options.cancelClose && main) PostMessageW(main->hwnd(), WM_CLOSE, 0, 0);
}

}  // namespace msoe

using namespace msoe;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
    return TRUE;
}

__declspec(dllexport) int MsoeStartup(const wchar_t* commandLine, int show, HWND* hostWindow) {
    if (!hostWindow) return 1;
    *hostWindow = nullptr;
    Client& c = Client::Get();
    c.uiThread = GetCurrentThreadId();
    c.options = ParseCommandLine(commandLine);
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_COOL_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                                              ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    if (!RegisterClientClasses()) return 3;
    c.LoadStore();
    // The send dialog exists from the start, before anything else of the client's.
    c.sendDialog = SendDialog::Create();
    if (c.options.composeOnly) {
        NoteInit init;
        std::wstring to = c.options.mailto;
        size_t q = to.find(L'?');
        if (q != std::wstring::npos) {
            std::wstring query = to.substr(q + 1);
            to = to.substr(0, q);
            size_t s = query.find(L"subject=");
            if (s != std::wstring::npos) {
                std::wstring subject = query.substr(s + 8);
                init.subject = UrlDecode(subject.substr(0, subject.find(L'&')));
            }
        }
        init.to = UrlDecode(to);
        g_composeOnly = NoteWindow::CreateFrame(init);
        if (!g_composeOnly) return 4;
        *hostWindow = g_composeOnly->hwnd();
        return 0;
    }
    c.main = MainWindow::Create(show);
    if (!c.main) return 4;
    *hostWindow = c.main->hwnd();
    // The store may be ready before the library is: its notice then waits in
    // the queue, and StartServer's wait is what takes it.
    if (c.options.earlyStoreNotice) PostMessageW(c.main->hwnd(), kMsgStoreReady, 0, 0);
    return 0;
}

__declspec(dllexport) void MsoeSetLibraryStarted(BOOL started) { Client::Get().libraryStarted = started != FALSE; }

__declspec(dllexport) int MsoeRun() {
    Client& c = Client::Get();
    if (!c.options.watch.empty()) WatchFromStart(c.main ? c.main->hwnd() : g_composeOnly ? g_composeOnly->hwnd() : nullptr, c.options.watch);
    if (c.main) c.main->Build();
    else if (g_composeOnly) g_composeOnly->Build();
    c.ActOnSwitches();
    RegisterControlChannel();
    MSG msg;
    int code = 0;
    while (true) {
        BOOL r = GetMessageW(&msg, nullptr, 0, 0);
        if (r == 0) {
            code = static_cast<int>(msg.wParam);
            break;
        }
        if (r == -1) break;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    RevokeControlChannel();
    if (c.sendDialog) DestroyWindow(c.sendDialog->hwnd());
    c.SaveStore();
    OleUninitialize();
    return code;
}

}  // extern "C"
