#include "main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <set>

#include "client.h"
#include "commands.h"
#include "menus.h"
#include "message_list.h"
#include "store_component.h"
#include "note_window.h"
#include "send_dialog.h"
#include "settings.h"
#include "ui_common.h"

namespace msoe {
namespace {

// The tree's top item on Outlook Express stands above the folders; its
// record carries folder number 0.
const FolderRecord& TopRecord() {
    static FolderRecord record = [] {
        FolderRecord r{};
        r.Set(0, -1, L"Outlook Express", kLocalFolderKindByte);
        return r;
    }();
    return record;
}

constexpr int kTreeWidth = 200;
constexpr int kPaneCaption = 22;

std::wstring DisplayName(const std::wstring& address) {
    size_t lt = address.find(L'<');
    if (lt == std::wstring::npos || lt == 0) return address;
    std::wstring name = address.substr(0, lt);
    while (!name.empty() && name.back() == L' ') name.pop_back();
    if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') name = name.substr(1, name.size() - 2);
    return name;
}

int RoleOrder(FolderRole role) {
    switch (role) {
    case FolderRole::Inbox: return 0;
    case FolderRole::Outbox: return 1;
    case FolderRole::SentItems: return 2;
    case FolderRole::DeletedItems: return 3;
    case FolderRole::Drafts: return 4;
    case FolderRole::Holding: return 5;
    default: return 6;
    }
}

// Sixteen-pixel folder pictures for the tree: closed folder, open folder, mail root.
HIMAGELIST MakeTreeImages() {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 3, 0);
    HDC screen = GetDC(nullptr);
    for (int kind = 0; kind < 3; ++kind) {
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateCompatibleBitmap(screen, 16, 16);
        HGDIOBJ old = SelectObject(dc, bmp);
        RECT all = {0, 0, 16, 16};
        HBRUSH mask = CreateSolidBrush(RGB(255, 0, 255));
        FillRect(dc, &all, mask);
        DeleteObject(mask);
        HBRUSH body = CreateSolidBrush(kind == 2 ? RGB(70, 120, 200) : RGB(235, 200, 90));
        HPEN edge = CreatePen(PS_SOLID, 1, kind == 2 ? RGB(30, 60, 120) : RGB(150, 110, 30));
        HGDIOBJ ob = SelectObject(dc, body), op = SelectObject(dc, edge);
        if (kind == 2) {
            Rectangle(dc, 1, 3, 15, 13);
            MoveToEx(dc, 1, 3, nullptr);
            LineTo(dc, 8, 9);
            LineTo(dc, 15, 3);
        } else {
            Rectangle(dc, 1, 3, 7, 6);
            Rectangle(dc, 1, 5, 15, 14);
            if (kind == 1) {
                HBRUSH lighter = CreateSolidBrush(RGB(250, 225, 140));
                RECT flap = {3, 8, 15, 14};
                FillRect(dc, &flap, lighter);
                DeleteObject(lighter);
            }
        }
        SelectObject(dc, ob);
        SelectObject(dc, op);
        DeleteObject(body);
        DeleteObject(edge);
        SelectObject(dc, old);
        DeleteDC(dc);
        ImageList_AddMasked(list, bmp, RGB(255, 0, 255));
        DeleteObject(bmp);
    }
    ReleaseDC(nullptr, screen);
    return list;
}

}  // namespace

MainWindow* MainWindow::Create(int show) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = g_instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = kMainClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
        registered = true;
    }
    HWND hwnd = CreateWindowExW(0, kMainClass, ProductName(CurrentVariant()), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                CW_USEDEFAULT, CW_USEDEFAULT, 960, 660, nullptr, nullptr, g_instance, nullptr);
    if (!hwnd) return nullptr;
    ShowWindow(hwnd, show);
    return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

MainWindow::MainWindow(HWND hwnd) : hwnd_(hwnd) {}

MainWindow::~MainWindow() {
    if (list_) list_->Release();
    if (menuBar_) DestroyMenu(menuBar_);
    if (treeImages_) ImageList_Destroy(treeImages_);
}

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DispatchToOwner<MainWindow>(hwnd, msg, wp, lp, [&] { return new MainWindow(hwnd); });
}

void MainWindow::Build() {
    if (built_) return;
    built_ = true;
    const bool wm = IsWindowsMail();
    Store& store = Store::Instance();

    menuBar_ = CreateMenuBar(MenuSet::Main, wm);
    sizable_ = CreateSizableRebar(hwnd_, wm ? 2 : 1);
    HWND first = RebarAt(sizable_, 0);
    menuBand_ = AddMenuBand(first, menuBar_);
    const std::vector<ToolbarButton> buttons = {
        {kCmdNewMail, wm ? L"Create Mail" : L"Create Mail", kImgNew, BTNS_DROPDOWN},
        {kCmdReply, L"Reply", kImgUndo, 0},
        {kCmdReplyAll, L"Reply All", kImgUndo, 0},
        {kCmdForward, L"Forward", kImgRedo, 0},
        {0, nullptr, 0, 0},
        {kCmdPrint, L"Print", kImgPrint, 0},
        {kCmdDelete, L"Delete", kImgDelete, 0},
        {0, nullptr, 0, 0},
        {kCmdSendReceive, L"Send/Recv", kImgConnect, 0},
        {0, nullptr, 0, 0},
        {kCmdAddressBook, L"Addresses", kImgProperties, 0},
        {kCmdFind, L"Find", kImgFind, 0},
    };
    toolbar_ = AddToolbarBand(wm ? RebarAt(sizable_, 1) : first, kBandToolbar, buttons, true);

    tree_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, nullptr,
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT |
                                TVS_SHOWSELALWAYS,
                            0, 0, kTreeWidth, 100, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdFolderTree)),
                            g_instance, nullptr);
    SendMessageW(tree_, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
    treeImages_ = MakeTreeImages();
    SendMessageW(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(treeImages_));

    messageView_ = CreateWindowExW(0, kMessageViewClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 400, 300,
                                   hwnd_, nullptr, g_instance, nullptr);
    messageList_ = CreateWindowExW(0, kMessageListClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 400, 150,
                                   messageView_, nullptr, g_instance, nullptr);
    listView_ = CreateWindowExW(WS_EX_CLIENTEDGE, wm ? WC_LISTVIEWW : kAtlListViewClass, nullptr,
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 400, 150,
                                messageList_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdMessageList)), g_instance, nullptr);
    SendMessageW(listView_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    SendMessageW(listView_, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
    const wchar_t* columns[] = {L"!", L"From", L"Subject", L"Received"};
    const int widths[] = {22, 170, 300, 130};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        col.pszText = const_cast<wchar_t*>(columns[i]);
        col.cx = widths[i];
        col.iSubItem = i;
        SendMessageW(listView_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
    }
    list_ = NewMessageList();
    previewContent_ = std::make_shared<HtmlContent>();
    preview_ = CreateMimeEdit(messageView_, previewContent_, true);

    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdStatusBar)), g_instance, nullptr);
    Layout();

    store.AddListener(this);
    // The store is open: tell the window, as the client does once its store
    // is ready (unless that was done before the library started).
    if (!Client::Get().options.earlyStoreNotice) SendMessageW(hwnd_, kMsgStoreReady, 0, 0);
    // The spooler keeps the Outbox and the holding folder open from the start.
    for (FolderRole role : {FolderRole::Outbox, FolderRole::Holding}) OpenFolderForView(store.FolderIdForRole(role));
    FillTree();
    SelectFolder(store.FolderIdForRole(FolderRole::Inbox));
    UpdateStatus();
}

void MainWindow::Layout() {
    if (!sizable_) return;
    RECT rc;
    GetClientRect(hwnd_, &rc);
    int top = LayoutSizableRebar(sizable_, rc.right);
    MoveWindow(sizable_, 0, 0, rc.right, top, TRUE);
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT sr{};
    GetWindowRect(status_, &sr);
    int statusHeight = IsWindowVisible(status_) ? sr.bottom - sr.top : 0;
    int parts[] = {rc.right - 320, rc.right - 160, -1};
    SendMessageW(status_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
    int height = rc.bottom - top - statusHeight;
    MoveWindow(tree_, 0, top + kPaneCaption, kTreeWidth, height - kPaneCaption, TRUE);
    MoveWindow(messageView_, kTreeWidth + 4, top, rc.right - kTreeWidth - 4, height, TRUE);
    RECT caption = {0, top, kTreeWidth, top + kPaneCaption};
    InvalidateRect(hwnd_, &caption, TRUE);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITMENUPOPUP:
        if (Client::Get().options.rebuildPopups)
            RebuildPopup(MenuSet::Main, menuBar_, reinterpret_cast<HMENU>(wp), IsWindowsMail());
        return 0;
    case kMsgBuildWindows:
        Build();
        return 0;
    case kMsgStoreChanged:
        ApplyStoreChanges();
        return 0;
    case kMsgFolderSelected:
        ShowSelectedFolder();
        return 0;
    case kMsgMarkPreviewRead:
        if (static_cast<int64_t>(wp) == previewMessage_) Store::Instance().SetRead(previewMessage_, true);
        return 0;
    case kMsgTransferStatus:
        if (wp == 0) {
            transferRunning_ = true;
            SendMessageW(status_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"Sending and receiving..."));
        } else if (wp == TransferFinishedCode(IsWindowsMail())) {
            transferRunning_ = false;
            SendMessageW(status_, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"Done"));
        }
        return 0;
    case kMsgStoreReady:
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        if (tree_) {
            RECT tr;
            GetWindowRect(tree_, &tr);
            MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&tr), 2);
            RECT caption = {0, tr.top - kPaneCaption, kTreeWidth, tr.top};
            FillRect(dc, &caption, GetSysColorBrush(COLOR_BTNFACE));
            HGDIOBJ old = SelectObject(dc, UiBoldFont());
            SetBkMode(dc, TRANSPARENT);
            caption.left += 6;
            DrawTextW(dc, L"Folders", -1, &caption, DT_SINGLELINE | DT_VCENTER);
            SelectObject(dc, old);
        }
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp));
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lp));
    case WM_SETFOCUS:
        if (listView_) SetFocus(listView_);
        return 0;
    case WM_CLOSE:
        // The client asks first; a user who says no keeps the window.
        if (Client::Get().options.cancelClose) {
            Client::Get().options.cancelClose = false;
            SetStatusText(L"Close cancelled");
            return 0;
        }
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        Store::Instance().RemoveListener(this);
        Client::Get().main = nullptr;
        Client::Get().SaveStore();
        Client::Get().WindowGone();
        return 0;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void MainWindow::OnCommand(UINT id, UINT, HWND) {
    Store& store = Store::Instance();
    switch (id) {
    case kCmdNewMail: ComposeNew(); return;
    case kCmdOpen: OpenCurrentMessage(); return;
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
    case kCmdForwardAttachment:
        ComposeFrom(id);
        return;
    case kCmdDelete: DeleteSelected(); return;
    case kCmdMarkRead: MarkSelected(true); return;
    case kCmdMarkUnread: MarkSelected(false); return;
    case kCmdMarkAllRead:
        for (int64_t m : rows_) store.SetRead(m, true);
        return;
    case kCmdSelectAll: {
        std::vector<int> all(rows_.size());
        for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
        SelectRows(all);
        return;
    }
    case kCmdNextMessage:
    case kCmdPreviousMessage: {
        int row = FocusedRow() + (id == kCmdNextMessage ? 1 : -1);
        if (row >= 0 && row < static_cast<int>(rows_.size())) SelectRows({row});
        return;
    }
    case kCmdEmptyDeleted:
        for (const Message& m : store.MessagesIn(store.FolderIdForRole(FolderRole::DeletedItems))) store.DeleteMessage(m.id);
        return;
    case kCmdNewFolder: {
        int64_t parent = folder_ > 0 ? folder_ : store.FolderIdForRole(FolderRole::Root);
        std::wstring name = L"New Folder";
        for (int n = 2; ; ++n) {
            auto folders = store.Folders();
            if (std::none_of(folders.begin(), folders.end(), [&](const Folder& f) { return f.parentId == parent && f.name == name; }))
                break;
            name = L"New Folder (" + std::to_wstring(n) + L")";
        }
        store.CreateFolder(parent, name);
        return;
    }
    case kCmdSendReceive:
    case kCmdSendAll:
    case kCmdReceiveAll:
        Client::Get().StartSend();
        return;
    case kCmdWorkOffline:
        SetWorkingOffline(!WorkingOffline());
        UpdateStatus();
        return;
    case kCmdStatusBar:
        ShowWindow(status_, IsWindowVisible(status_) ? SW_HIDE : SW_SHOW);
        CheckMenuItem(menuBar_, kCmdStatusBar, IsWindowVisible(status_) ? MF_CHECKED : MF_UNCHECKED);
        Layout();
        return;
    case kCmdRefresh:
        FillList();
        return;
    case kCmdExit:
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        return;
    case kCmdAbout:
        SetStatusText(std::wstring(ProductName(CurrentVariant())) + L" (PLUME stand-in client)");
        return;
    }
}

LRESULT MainWindow::OnNotify(NMHDR* hdr) {
    if (hdr->hwndFrom == tree_ && hdr->code == TVN_SELCHANGEDW) {
        if (fillingTree_) return 0;
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        auto* record = reinterpret_cast<const FolderRecord*>(nm->itemNew.lParam);
        folder_ = record ? record->id : -1;
        // As the client does, the window changes folders once the tree's
        // notification has returned.
        if (!folderChangePending_) PostMessageW(hwnd_, kMsgFolderSelected, 0, 0);
        folderChangePending_ = true;
        return 0;
    }
    if (hdr->hwndFrom == listView_) {
        switch (hdr->code) {
        case LVN_ITEMCHANGED: {
            auto* nm = reinterpret_cast<NMLISTVIEW*>(hdr);
            if (!fillingList_ && (nm->uChanged & LVIF_STATE) && ((nm->uOldState ^ nm->uNewState) & (LVIS_SELECTED | LVIS_FOCUSED)))
                UpdatePreview();
            return 0;
        }
        case NM_DBLCLK:
        case NM_RETURN:
            OpenCurrentMessage();
            return 0;
        case NM_CUSTOMDRAW: {
            auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
            if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
            if (cd->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
                size_t row = cd->nmcd.dwItemSpec;
                if (row < rows_.size()) {
                    auto m = Store::Instance().GetMessage(rows_[row]);
                    if (m && !m->read) {
                        SelectObject(cd->nmcd.hdc, UiBoldFont());
                        return CDRF_NEWFONT;
                    }
                }
            }
            return CDRF_DODEFAULT;
        }
        }
        return 0;
    }
    if (hdr->hwndFrom == menuBand_ && hdr->code == TBN_DROPDOWN) {
        auto* nm = reinterpret_cast<NMTOOLBARW*>(hdr);
        TrackMenuBandPopup(hwnd_, menuBand_, menuBar_, nm->iItem - static_cast<int>(kMenuBandFirst));
        return TBDDRET_DEFAULT;
    }
    if (hdr->hwndFrom == toolbar_ && hdr->code == TBN_DROPDOWN) {
        // The arrow of Create Mail offers the new message only.
        ComposeNew();
        return TBDDRET_DEFAULT;
    }
    if (hdr->code == RBN_HEIGHTCHANGE) {
        Layout();
        return 0;
    }
    return 0;
}

void MainWindow::FillTree() {
    Store& store = Store::Instance();
    const bool wm = IsWindowsMail();
    fillingTree_ = true;
    SendMessageW(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    treeItems_.clear();
    auto folders = store.Folders();
    auto insert = [&](HTREEITEM parent, const std::wstring& text, const FolderRecord* record, int image) {
        TVINSERTSTRUCTW ins{};
        ins.hParent = parent;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = const_cast<wchar_t*>(text.c_str());
        ins.item.lParam = reinterpret_cast<LPARAM>(record);
        ins.item.iImage = image;
        ins.item.iSelectedImage = image == 0 ? 1 : image;
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    };
    HTREEITEM top = nullptr;
    if (!wm) {
        top = insert(TVI_ROOT, L"Outlook Express", &TopRecord(), 2);
        treeItems_[0] = top;
    }
    // Children in the client's order: special folders first, then by name.
    std::function<void(int64_t, HTREEITEM)> addChildren = [&](int64_t parent, HTREEITEM parentItem) {
        std::vector<Folder> children;
        for (const auto& f : folders)
            if (f.parentId == parent) children.push_back(f);
        std::sort(children.begin(), children.end(), [](const Folder& a, const Folder& b) {
            int ra = RoleOrder(a.role), rb = RoleOrder(b.role);
            return ra != rb ? ra < rb : _wcsicmp(a.name.c_str(), b.name.c_str()) < 0;
        });
        for (const auto& f : children) {
            HTREEITEM item = insert(parentItem, f.name, store.Record(f.id), 0);
            treeItems_[f.id] = item;
            addChildren(f.id, item);
        }
    };
    for (const auto& f : folders) {
        if (f.role != FolderRole::Root) continue;
        HTREEITEM root = insert(top ? top : TVI_ROOT, f.name, store.Record(f.id), 2);
        treeItems_[f.id] = root;
        addChildren(f.id, root);
        SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    }
    if (top) SendMessageW(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
    UpdateTreeCounts();
    auto it = treeItems_.find(folder_);
    if (it != treeItems_.end()) SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(it->second));
    fillingTree_ = false;
    // A selected folder that went away: fall back to the Inbox.
    if (folder_ > 0 && it == treeItems_.end()) SelectFolder(store.FolderIdForRole(FolderRole::Inbox));
}

void MainWindow::UpdateTreeCounts() {
    Store& store = Store::Instance();
    for (const auto& [id, item] : treeItems_) {
        if (id <= 0) continue;
        auto f = store.GetFolder(id);
        if (!f) continue;
        size_t unread = store.UnreadCount(id);
        // The Outbox counts what waits to be sent, the others what is unread.
        if (f->role == FolderRole::Outbox) unread = store.MessageCount(id);
        std::wstring text = f->name;
        if (unread > 0) text += L" (" + std::to_wstring(unread) + L")";
        TVITEMW item_{};
        item_.mask = TVIF_TEXT | TVIF_STATE | TVIF_HANDLE;
        item_.hItem = item;
        item_.pszText = const_cast<wchar_t*>(text.c_str());
        item_.stateMask = TVIS_BOLD;
        item_.state = unread > 0 ? TVIS_BOLD : 0;
        SendMessageW(tree_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item_));
    }
}

bool MainWindow::SelectFolder(int64_t folderId) {
    auto it = treeItems_.find(folderId);
    if (it == treeItems_.end()) return false;
    SendMessageW(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(it->second));
    SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(it->second));
    return true;
}

void MainWindow::ShowSelectedFolder() {
    if (!folderChangePending_) return;
    folderChangePending_ = false;
    // The title first, the new folder's list after it (or switched, the other way).
    if (Client::Get().options.fillBeforeRetitle) {
        FillList();
        Retitle();
    } else {
        Retitle();
        FillList();
    }
    UpdateStatus();
}

void MainWindow::Retitle() {
    std::wstring title = ProductName(CurrentVariant());
    if (folder_ > 0) {
        if (auto f = Store::Instance().GetFolder(folder_)) title = f->name + L" - " + title;
    }
    SetWindowTextW(hwnd_, title.c_str());
}

void MainWindow::FillList() {
    Store& store = Store::Instance();
    std::set<int64_t> selected;
    int64_t focused = -1;
    for (int r : SelectedRows()) selected.insert(rows_[r]);
    if (int f = FocusedRow(); f >= 0 && f < static_cast<int>(rows_.size())) focused = rows_[f];

    fillingList_ = true;
    SendMessageW(listView_, LVM_DELETEALLITEMS, 0, 0);
    rows_.clear();
    // A new list object for a new folder, as the client's view makes one.
    if (folder_ != listFolder_ && !Client::Get().options.tableReused) {
        list_->Release();
        list_ = NewMessageList();
    }
    listFolder_ = folder_;
    // The list object orders the rows; the view shows them in its order.
    FillMessageList(list_, folder_ > 0 ? folder_ : -1);
    // Opening the folder through the store, as the client does for the folder it shows.
    OpenFolderForView(folder_);
    std::vector<Message> messages;
    for (int64_t id : MessageListRows(list_))
        if (auto m = store.GetMessage(id)) messages.push_back(*m);
    auto folder = store.GetFolder(folder_);
    bool outgoing = folder && (folder->role == FolderRole::Outbox || folder->role == FolderRole::SentItems ||
                               folder->role == FolderRole::Drafts);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = const_cast<wchar_t*>(outgoing ? L"To" : L"From");
    SendMessageW(listView_, LVM_SETCOLUMNW, 1, reinterpret_cast<LPARAM>(&col));
    col.pszText = const_cast<wchar_t*>(outgoing ? L"Sent" : L"Received");
    SendMessageW(listView_, LVM_SETCOLUMNW, 3, reinterpret_cast<LPARAM>(&col));
    for (const Message& m : messages) {
        int row = static_cast<int>(rows_.size());
        std::wstring who = DisplayName(outgoing ? m.to.substr(0, m.to.find(L';')) : m.from);
        std::wstring priority = m.priority <= 2 ? L"!" : (m.priority >= 4 ? L"\x2193" : L"");
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(priority.c_str());
        item.lParam = static_cast<LPARAM>(m.id);
        SendMessageW(listView_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        const std::wstring* texts[] = {&who, &m.subject, &m.date};
        for (int c = 0; c < 3; ++c) {
            LVITEMW sub{};
            sub.iSubItem = c + 1;
            sub.pszText = const_cast<wchar_t*>(texts[c]->c_str());
            SendMessageW(listView_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
        }
        rows_.push_back(m.id);
        if (selected.count(m.id) || m.id == focused) {
            LVITEMW st{};
            st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            st.state = (selected.count(m.id) ? LVIS_SELECTED : 0) | (m.id == focused ? LVIS_FOCUSED : 0);
            SendMessageW(listView_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&st));
        }
    }
    fillingList_ = false;
    UpdatePreview();
}

int MainWindow::RowOfMessage(int64_t messageId) const {
    auto it = std::find(rows_.begin(), rows_.end(), messageId);
    return it == rows_.end() ? -1 : static_cast<int>(it - rows_.begin());
}

std::vector<int> MainWindow::SelectedRows() const {
    std::vector<int> rows;
    if (!listView_) return rows;
    for (int r = -1; (r = static_cast<int>(SendMessageW(listView_, LVM_GETNEXTITEM, r, LVNI_SELECTED))) != -1;) rows.push_back(r);
    return rows;
}

int MainWindow::FocusedRow() const {
    return listView_ ? static_cast<int>(SendMessageW(listView_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED)) : -1;
}

void MainWindow::SelectRows(const std::vector<int>& rows) {
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(listView_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMW st{};
        st.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        st.state = i == 0 ? (LVIS_SELECTED | LVIS_FOCUSED) : LVIS_SELECTED;
        SendMessageW(listView_, LVM_SETITEMSTATE, rows[i], reinterpret_cast<LPARAM>(&st));
    }
    if (!rows.empty()) SendMessageW(listView_, LVM_ENSUREVISIBLE, rows[0], FALSE);
}

void MainWindow::UpdatePreview() {
    if (!preview_) return;
    std::vector<int> selected = SelectedRows();
    int64_t id = selected.size() == 1 && selected[0] < static_cast<int>(rows_.size()) ? rows_[selected[0]] : -1;
    if (id == previewMessage_) return;
    previewMessage_ = id;
    auto m = id >= 0 ? Store::Instance().GetMessage(id) : std::nullopt;
    if (!m) {
        previewMessage_ = -1;
        SetMimeEditHeader(preview_, L"", L"", L"");
        previewContent_->SetDocument(L"<HTML><BODY></BODY></HTML>");
        return;
    }
    // The account it was sent with, else the one it is stamped with.
    SetMimeEditHeader(preview_, m->from, m->to, m->subject, m->sentWith.empty() ? m->accountName : m->sentWith);
    previewContent_->SetDocument(m->html ? m->body : L"<HTML><BODY>" + TextToHtml(m->body) + L"</BODY></HTML>");
    // Marked read once the selection has settled, as the client does after
    // showing a message: not inside the list's notification, whose sender
    // may be waiting for this thread.
    if (!m->read) {
        if (Client::Get().options.readMarkAtOnce) Store::Instance().SetRead(id, true);
        else PostMessageW(hwnd_, kMsgMarkPreviewRead, static_cast<WPARAM>(id), 0);
    }
}

void MainWindow::UpdateStatus() {
    if (!status_) return;
    Store& store = Store::Instance();
    std::wstring counts;
    if (folder_ > 0) {
        counts = std::to_wstring(store.MessageCount(folder_)) + L" message(s), " + std::to_wstring(store.UnreadCount(folder_)) +
                 L" unread";
    }
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(counts.c_str()));
    SendMessageW(status_, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(WorkingOffline() ? L"Working Offline" : L"Working Online"));
}

void MainWindow::SetStatusText(const std::wstring& text) {
    if (status_) SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainWindow::OnStoreChange(const StoreChange& change) {
    if (change.kind == StoreChange::FolderInserted || change.kind == StoreChange::FolderDeleted ||
        change.kind == StoreChange::FolderUpdated)
        foldersChanged_ = true;
    if (!changesPending_.exchange(true)) PostMessageW(hwnd_, kMsgStoreChanged, 0, 0);
}

void MainWindow::ApplyStoreChanges() {
    changesPending_ = false;
    if (!built_) return;
    if (foldersChanged_.exchange(false)) FillTree();
    else UpdateTreeCounts();
    // Refill the list when its set of messages changed; otherwise redraw it.
    std::vector<int64_t> now;
    for (const Message& m : Store::Instance().MessagesIn(folder_)) now.push_back(m.id);
    std::vector<int64_t> shown = rows_;
    std::sort(now.begin(), now.end());
    std::sort(shown.begin(), shown.end());
    if (now != shown) FillList();
    else InvalidateRect(listView_, nullptr, TRUE);
    UpdateStatus();
}

NoteWindow* MainWindow::OpenCurrentMessage() {
    std::vector<int> selected = SelectedRows();
    int focused = FocusedRow();
    int row = std::find(selected.begin(), selected.end(), focused) != selected.end() ? focused
              : selected.empty()                                                  ? -1
                                                                                  : selected[0];
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    auto folder = Store::Instance().GetFolder(folder_);
    // Messages waiting in the Outbox or Drafts open for editing.
    if (folder && (folder->role == FolderRole::Drafts || folder->role == FolderRole::Outbox))
        return NoteWindow::OpenDraft(rows_[row]);
    return NoteWindow::OpenRead(rows_[row]);
}

NoteWindow* MainWindow::ComposeNew() { return NoteWindow::Compose(NoteInit{}); }

NoteWindow* MainWindow::ComposeFrom(UINT command) {
    std::vector<int> selected = SelectedRows();
    if (selected.empty()) return nullptr;
    int focused = FocusedRow();
    int row = std::find(selected.begin(), selected.end(), focused) != selected.end() ? focused : selected[0];
    return NoteWindow::Respond(rows_[row], command);
}

void MainWindow::DeleteSelected() {
    Store& store = Store::Instance();
    std::vector<int> selected = SelectedRows();
    if (selected.empty()) return;
    std::vector<int64_t> ids;
    for (int r : selected) ids.push_back(rows_[r]);
    int next = selected.back() + 1 < static_cast<int>(rows_.size()) ? selected.back() + 1 - static_cast<int>(selected.size())
                                                                     : selected.front() - 1;
    auto folder = store.GetFolder(folder_);
    for (int64_t id : ids) {
        if (folder && folder->role == FolderRole::DeletedItems) store.DeleteMessage(id);
        else store.MoveMessage(id, store.FolderIdForRole(FolderRole::DeletedItems));
    }
    ApplyStoreChanges();
    if (next >= 0 && next < static_cast<int>(rows_.size())) SelectRows({next});
}

void MainWindow::MarkSelected(bool read) {
    for (int r : SelectedRows()) Store::Instance().SetRead(rows_[r], read);
}

}  // namespace msoe
