#include "menus.h"

#include <string>
#include <utility>
#include <vector>

#include "commands.h"

namespace msoe {
namespace {

// One entry: depth 0 opens a top-level pop-up, depth 1 is an item of it,
// depth 2 an item of the sub-menu opened by the last depth-1 entry whose
// command is 0. Text null: separator.
struct Entry {
    int depth;
    const wchar_t* text;
    UINT command;
    UINT flags;
};

const Entry kMainMenu[] = {
    {0, L"&File", 0, 0},
    {1, L"&New", 0, 0},
    {2, L"&Mail Message\tCtrl+N", kCmdNewMail, 0},
    {2, L"&Folder...\tCtrl+Shift+E", kCmdNewFolder, 0},
    {1, L"&Open\tCtrl+O", kCmdOpen, 0},
    {1, L"Save &As...", kCmdSaveAs, 0},
    {1, nullptr, 0, 0},
    {1, L"&Import", 0, 0},
    {2, L"&Address Book...", kCmdImport, 0},
    {2, L"&Messages...", kCmdImport, 0},
    {1, L"&Identities...", kCmdIdentities, 0},
    {1, L"P&roperties\tAlt+Enter", kCmdProperties, 0},
    {1, nullptr, 0, 0},
    {1, L"&Work Offline", kCmdWorkOffline, 0},
    {1, L"E&xit", kCmdExit, 0},
    {0, L"&Edit", 0, 0},
    {1, L"&Copy\tCtrl+C", kCmdCopy, 0},
    {1, L"Select &All\tCtrl+A", kCmdSelectAll, 0},
    {1, nullptr, 0, 0},
    {1, L"&Find", 0, 0},
    {2, L"&Message...\tCtrl+Shift+F", kCmdFind, 0},
    {1, nullptr, 0, 0},
    {1, L"Mo&ve to Folder...\tCtrl+Shift+V", kCmdMoveToFolder, 0},
    {1, L"Cop&y to Folder...", kCmdCopyToFolder, 0},
    {1, L"&Delete\tCtrl+D", kCmdDelete, 0},
    {1, L"Empty 'Deleted Items' Folder", kCmdEmptyDeleted, 0},
    {1, nullptr, 0, 0},
    {1, L"Mar&k as Read\tCtrl+Q", kCmdMarkRead, 0},
    {1, L"Mark as U&nread", kCmdMarkUnread, 0},
    {1, L"Mark All R&ead\tCtrl+Shift+A", kCmdMarkAllRead, 0},
    {0, L"&View", 0, 0},
    {1, L"Current &View", 0, 0},
    {2, L"Show &All Messages", kCmdCurrentView, MF_CHECKED},
    {2, L"Hide &Read Messages", kCmdCurrentView, 0},
    {1, L"&Sort By", 0, 0},
    {2, L"&Received", kCmdSortBy, MF_CHECKED},
    {2, L"&From", kCmdSortBy, 0},
    {2, L"&Subject", kCmdSortBy, 0},
    {1, nullptr, 0, 0},
    {1, L"&Layout...", kCmdLayout, 0},
    {1, L"Stat&us Bar", kCmdStatusBar, MF_CHECKED},
    {1, L"&Preview Pane", kCmdPreviewPane, MF_CHECKED},
    {1, nullptr, 0, 0},
    {1, L"Ne&xt Message\tCtrl+>", kCmdNextMessage, 0},
    {1, L"Pre&vious Message\tCtrl+<", kCmdPreviousMessage, 0},
    {1, nullptr, 0, 0},
    {1, L"&Refresh\tF5", kCmdRefresh, 0},
    {0, L"&Tools", 0, 0},
    {1, L"&Send and Receive", 0, 0},
    {2, L"Send and Receive &All\tCtrl+M", kCmdSendReceive, 0},
    {2, L"&Receive All", kCmdReceiveAll, 0},
    {2, L"&Send All", kCmdSendAll, 0},
    {1, nullptr, 0, 0},
    {1, L"Address &Book...\tCtrl+Shift+B", kCmdAddressBook, 0},
    {1, L"Message &Rules", 0, 0},
    {2, L"&Mail...", kCmdMessageRules, 0},
    {1, nullptr, 0, 0},
    {1, L"&Accounts...", kCmdAccounts, 0},
    {1, L"&Options...", kCmdOptions, 0},
    {0, L"&Message", 0, 0},
    {1, L"&New Message\tCtrl+N", kCmdNewMail, 0},
    {1, nullptr, 0, 0},
    {1, L"&Reply to Sender\tCtrl+R", kCmdReply, 0},
    {1, L"Reply to &All\tCtrl+Shift+R", kCmdReplyAll, 0},
    {1, L"&Forward\tCtrl+F", kCmdForward, 0},
    {1, L"Forward As Attac&hment", kCmdForwardAttachment, 0},
    {1, nullptr, 0, 0},
    {1, L"F&lag Message", kCmdFlag, 0},
    {1, L"&Block Sender...", kCmdBlockSender, 0},
    {1, L"Create R&ule From Message...", kCmdCreateRule, 0},
    {0, L"&Help", 0, 0},
    {1, L"&Contents and Index\tF1", kCmdHelpContents, 0},
    {1, nullptr, 0, 0},
    {1, L"&About %s", kCmdAbout, 0},
};

const Entry kComposeMenu[] = {
    {0, L"&File", 0, 0},
    {1, L"&Send Message\tAlt+S", kCmdSend, 0},
    {1, L"Send &Later", kCmdSendLater, 0},
    {1, nullptr, 0, 0},
    {1, L"&Save\tCtrl+S", kCmdSaveDraft, 0},
    {1, L"Save &As...", kCmdSaveAs, 0},
    {1, nullptr, 0, 0},
    {1, L"P&roperties\tAlt+Enter", kCmdProperties, 0},
    {1, nullptr, 0, 0},
    {1, L"&Close", kCmdClose, 0},
    {0, L"&Edit", 0, 0},
    {1, L"&Undo\tCtrl+Z", kCmdUndo, 0},
    {1, nullptr, 0, 0},
    {1, L"Cu&t\tCtrl+X", kCmdCut, 0},
    {1, L"&Copy\tCtrl+C", kCmdCopy, 0},
    {1, L"&Paste\tCtrl+V", kCmdPaste, 0},
    {1, nullptr, 0, 0},
    {1, L"Select &All\tCtrl+A", kCmdSelectAll, 0},
    {1, L"&Find...\tF3", kCmdFind, 0},
    {0, L"&View", 0, 0},
    {1, L"&All Headers", kCmdAllHeaders, 0},
    {1, L"Stat&us Bar", kCmdStatusBar, MF_CHECKED},
    {0, L"&Insert", 0, 0},
    {1, L"File &Attachment...", kCmdAttach, 0},
    {0, L"F&ormat", 0, 0},
    {1, L"Rich Te&xt (HTML)", kCmdRichText, 0},
    {1, L"Plain &Text", kCmdPlainText, 0},
    {0, L"&Tools", 0, 0},
    {1, L"&Spelling...\tF7", kCmdSpelling, 0},
    {1, L"Check &Names\tCtrl+K", kCmdCheckNames, 0},
    {0, L"&Message", 0, 0},
    {1, L"&New Message\tCtrl+N", kCmdNewMail, 0},
    {1, nullptr, 0, 0},
    {1, L"Set &Priority", kCmdPriority, 0},
    {0, L"&Help", 0, 0},
    {1, L"&Contents and Index\tF1", kCmdHelpContents, 0},
    {1, nullptr, 0, 0},
    {1, L"&About %s", kCmdAbout, 0},
};

const Entry kReadMenu[] = {
    {0, L"&File", 0, 0},
    {1, L"Save &As...", kCmdSaveAs, 0},
    {1, nullptr, 0, 0},
    {1, L"&Print...\tCtrl+P", kCmdPrint, 0},
    {1, nullptr, 0, 0},
    {1, L"P&roperties\tAlt+Enter", kCmdProperties, 0},
    {1, nullptr, 0, 0},
    {1, L"&Close", kCmdClose, 0},
    {0, L"&Edit", 0, 0},
    {1, L"&Copy\tCtrl+C", kCmdCopy, 0},
    {1, L"Select &All\tCtrl+A", kCmdSelectAll, 0},
    {1, L"&Find...\tF3", kCmdFind, 0},
    {1, nullptr, 0, 0},
    {1, L"&Delete\tCtrl+D", kCmdDelete, 0},
    {0, L"&View", 0, 0},
    {1, L"Ne&xt Message\tCtrl+>", kCmdNextMessage, 0},
    {1, L"Pre&vious Message\tCtrl+<", kCmdPreviousMessage, 0},
    {1, nullptr, 0, 0},
    {1, L"&All Headers", kCmdAllHeaders, 0},
    {0, L"&Tools", 0, 0},
    {1, L"Address &Book...\tCtrl+Shift+B", kCmdAddressBook, 0},
    {0, L"&Message", 0, 0},
    {1, L"&New Message\tCtrl+N", kCmdNewMail, 0},
    {1, nullptr, 0, 0},
    {1, L"&Reply to Sender\tCtrl+R", kCmdReply, 0},
    {1, L"Reply to &All\tCtrl+Shift+R", kCmdReplyAll, 0},
    {1, L"&Forward\tCtrl+F", kCmdForward, 0},
    {1, nullptr, 0, 0},
    {1, L"F&lag Message", kCmdFlag, 0},
    {0, L"&Help", 0, 0},
    {1, L"&Contents and Index\tF1", kCmdHelpContents, 0},
    {1, nullptr, 0, 0},
    {1, L"&About %s", kCmdAbout, 0},
};

std::wstring EntryText(const Entry& e, bool windowsMail) {
    std::wstring text = e.text ? e.text : L"";
    size_t pct = text.find(L"%s");
    if (pct != std::wstring::npos) text.replace(pct, 2, windowsMail ? L"Windows Mail" : L"Outlook Express");
    return text;
}

// Appends the items of the top-level pop-up entry at `first` (the entries
// up to the next depth-0 one) to `popup`.
template <size_t N>
void AppendPopupItems(const Entry (&entries)[N], size_t first, HMENU popup, bool windowsMail) {
    HMENU sub = nullptr;
    for (size_t i = first + 1; i < N && entries[i].depth != 0; ++i) {
        const Entry& e = entries[i];
        std::wstring text = EntryText(e, windowsMail);
        HMENU into = e.depth == 1 ? popup : sub;
        if (!e.text) {
            AppendMenuW(into, MF_SEPARATOR, 0, nullptr);
        } else if (e.depth == 1 && e.command == 0) {
            sub = CreatePopupMenu();
            AppendMenuW(popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(sub), text.c_str());
        } else {
            AppendMenuW(into, MF_STRING | e.flags, e.command, text.c_str());
        }
    }
}

template <size_t N>
HMENU Build(const Entry (&entries)[N], bool windowsMail) {
    HMENU bar = CreateMenu();
    for (size_t i = 0; i < N; ++i) {
        if (entries[i].depth != 0) continue;
        HMENU popup = CreatePopupMenu();
        AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), EntryText(entries[i], windowsMail).c_str());
        AppendPopupItems(entries, i, popup, windowsMail);
    }
    return bar;
}

// Empties the bar's pop-up `index` and fills it from the table again; the
// check marks of its commands are kept.
template <size_t N>
void Rebuild(const Entry (&entries)[N], HMENU popup, int index, bool windowsMail) {
    std::vector<std::pair<UINT, UINT>> states;
    for (int i = 0; i < GetMenuItemCount(popup); ++i)
        if (!GetSubMenu(popup, i)) states.push_back({GetMenuItemID(popup, i), GetMenuState(popup, i, MF_BYPOSITION)});
    while (GetMenuItemCount(popup) > 0) DeleteMenu(popup, 0, MF_BYPOSITION);
    for (size_t i = 0, top = 0; i < N; ++i) {
        if (entries[i].depth != 0) continue;
        if (static_cast<int>(top++) == index) AppendPopupItems(entries, i, popup, windowsMail);
    }
    for (const auto& [id, state] : states)
        if (state & MF_CHECKED) CheckMenuItem(popup, id, MF_BYCOMMAND | MF_CHECKED);
}

}  // namespace

void RebuildPopup(MenuSet set, HMENU bar, HMENU popup, bool windowsMail) {
    int index = -1;
    for (int i = 0; i < GetMenuItemCount(bar); ++i)
        if (GetSubMenu(bar, i) == popup) index = i;
    if (index < 0) return;  // a sub-menu: left as it is
    switch (set) {
    case MenuSet::Main: Rebuild(kMainMenu, popup, index, windowsMail); break;
    case MenuSet::Compose: Rebuild(kComposeMenu, popup, index, windowsMail); break;
    case MenuSet::Read: Rebuild(kReadMenu, popup, index, windowsMail); break;
    }
}

HMENU CreateMenuBar(MenuSet set, bool windowsMail) {
    switch (set) {
    case MenuSet::Main: return Build(kMainMenu, windowsMail);
    case MenuSet::Compose: return Build(kComposeMenu, windowsMail);
    case MenuSet::Read: return Build(kReadMenu, windowsMail);
    }
    return nullptr;
}

}  // namespace msoe
