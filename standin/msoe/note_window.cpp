#include "note_window.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <vector>

#include "client.h"
#include "commands.h"
#include "main_window.h"
#include "menus.h"
#include "recipients.h"
#include "settings.h"
#include "store.h"
#include "ui_common.h"

namespace msoe {

struct NoteWindow::HeldSend {
    Message message;
    bool later;
};

namespace {
bool g_holdSends = false;
}  // namespace

NoteWindow::NoteWindow(const NoteInit& init) : init_(init) {}
NoteWindow::~NoteWindow() = default;

namespace {

std::wstring Trim(const std::wstring& s) {
    size_t b = s.find_first_not_of(L" \t\r\n;"), e = s.find_last_not_of(L" \t\r\n;");
    return b == std::wstring::npos ? std::wstring() : s.substr(b, e - b + 1);
}

std::wstring Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return text;
}

std::wstring AccountAddress() {
    Account a;
    if (!DefaultAccount(&a)) return L"";
    return a.displayName.empty() ? a.email : a.displayName + L" <" + a.email + L">";
}

std::wstring AddressOf(const std::wstring& recipient) {
    size_t lt = recipient.find(L'<'), gt = recipient.find(L'>');
    if (lt != std::wstring::npos && gt != std::wstring::npos && gt > lt) return recipient.substr(lt + 1, gt - lt - 1);
    return Trim(recipient);
}

// Rows of the envelope: label and field, in order.
struct Row {
    int id;
    const wchar_t* label;
};
const Row kComposeRows[] = {{kIdFrom, L"From:"}, {kIdTo, L"To:"}, {kIdCc, L"Cc:"}, {kIdBcc, L"Bcc:"}, {kIdSubject, L"Subject:"}};
const Row kReadRows[] = {{kIdFrom, L"From:"}, {kIdDate, L"Date:"}, {kIdTo, L"To:"},
                         {kIdCc, L"Cc:"},     {kIdBcc, L"Bcc:"},   {kIdSubject, L"Subject:"}};
constexpr int kRowHeight = 24;
constexpr int kLabelId = 0xFFFF;  // static labels carry no id of their own

// A window's start from a stored message: its envelope and body, resolved.
NoteInit InitFromStored(const Message& m) {
    NoteInit init;
    init.messageId = m.id;
    init.to = m.to;
    init.cc = m.cc;
    init.bcc = m.bcc;
    init.subject = m.subject;
    init.body = m.body;
    init.html = m.html;
    init.resolved = true;
    return init;
}

}  // namespace

NoteWindow* NoteWindow::OpenRead(int64_t messageId) {
    auto m = Store::Instance().GetMessage(messageId);
    if (!m) return nullptr;
    NoteInit init = InitFromStored(*m);
    init.kind = NoteKind::Read;
    if (!m->read) Store::Instance().SetRead(messageId, true);
    return Make(init, true);
}

NoteWindow* NoteWindow::OpenDraft(int64_t messageId) {
    auto m = Store::Instance().GetMessage(messageId);
    if (!m) return nullptr;
    return Make(InitFromStored(*m), true);
}

NoteWindow* NoteWindow::Compose(const NoteInit& init) {
    NoteInit i = init;
    i.kind = NoteKind::Compose;
    return Make(i, true);
}

NoteWindow* NoteWindow::CreateFrame(const NoteInit& init) { return Make(init, false); }

NoteWindow* NoteWindow::Respond(int64_t messageId, unsigned command) {
    auto m = Store::Instance().GetMessage(messageId);
    if (!m) return nullptr;
    NoteInit init;
    init.html = m->html;
    init.resolved = true;
    const bool forward = command == kCmdForward || command == kCmdForwardAttachment;
    std::wstring prefix = forward ? L"Fw: " : L"Re: ";
    init.subject = _wcsnicmp(m->subject.c_str(), prefix.c_str(), 3) == 0 ? m->subject : prefix + m->subject;
    if (!forward) {
        init.to = m->from;
        if (command == kCmdReplyAll) {
            std::wstring own = AddressOf(AccountAddress());
            std::wstring rest;
            for (const std::wstring& list : {m->to, m->cc}) {
                size_t start = 0;
                while (start <= list.size()) {
                    size_t end = list.find(L';', start);
                    std::wstring r = Trim(list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
                    if (!r.empty() && _wcsicmp(AddressOf(r).c_str(), own.c_str()) != 0 &&
                        _wcsicmp(AddressOf(r).c_str(), AddressOf(m->from).c_str()) != 0)
                        rest += (rest.empty() ? L"" : L"; ") + r;
                    if (end == std::wstring::npos) break;
                    start = end + 1;
                }
            }
            init.cc = rest;
        }
    }
    std::wstring header = L"----- Original Message -----";
    if (m->html) {
        HtmlContent original;
        original.SetDocument(m->body);
        init.body = L"<HTML><HEAD></HEAD>\r\n<BODY><DIV>&nbsp;</DIV>\r\n<BLOCKQUOTE style=\"PADDING-LEFT: 5px; MARGIN-LEFT: 5px; "
                    L"BORDER-LEFT: #000000 2px solid\"><DIV>" + header + L"</DIV>\r\n<DIV><B>From:</B> " + TextToHtml(m->from) +
                    L"</DIV>\r\n<DIV><B>To:</B> " + TextToHtml(m->to) + L"</DIV>\r\n<DIV><B>Sent:</B> " + m->date +
                    L"</DIV>\r\n<DIV><B>Subject:</B> " + TextToHtml(m->subject) + L"</DIV>\r\n<DIV>&nbsp;</DIV>" +
                    original.BodyInner() + L"</BLOCKQUOTE></BODY></HTML>";
    } else {
        std::wstring quoted;
        size_t start = 0;
        while (start < m->body.size()) {
            size_t end = m->body.find(L"\r\n", start);
            std::wstring line = m->body.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
            quoted += (forward ? L"" : L"> ") + line + L"\r\n";
            if (end == std::wstring::npos) break;
            start = end + 2;
        }
        init.body = L"\r\n\r\n" + header + L"\r\nFrom: " + m->from + L"\r\nTo: " + m->to + L"\r\nSent: " + m->date +
                    L"\r\nSubject: " + m->subject + L"\r\n\r\n" + quoted;
    }
    return Make(init, true);
}

NoteWindow* NoteWindow::Make(const NoteInit& init, bool build) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = g_instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
        wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        wc.lpszClassName = kNoteClass;
        if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
        registered = true;
    }
    auto* note = new NoteWindow(init);
    // Message windows open cascaded over the main window.
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    if (Client::Get().main) {
        RECT rc{};
        GetWindowRect(Client::Get().main->hwnd(), &rc);
        int step = 28 * static_cast<int>(Client::Get().notes.size() % 6);
        x = rc.left + 90 + step;
        y = rc.top + 70 + step;
    }
    HWND hwnd = CreateWindowExW(0, kNoteClass, init.kind == NoteKind::Read ? L"" : L"New Message",
                                WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x, y, 720, 540, nullptr, nullptr, g_instance, note);
    if (!hwnd) return nullptr;  // the window procedure deleted the object
    Client::Get().notes.push_back(note);
    if (build) note->Build();
    ShowWindow(hwnd, SW_SHOWNORMAL);
    return note;
}

LRESULT CALLBACK NoteWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DispatchToOwner<NoteWindow>(hwnd, msg, wp, lp, [&] {
        auto* note = static_cast<NoteWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        note->hwnd_ = hwnd;
        return note;
    });
}

void NoteWindow::Build() {
    if (built_) return;
    built_ = true;
    const bool wm = IsWindowsMail();
    const bool read = init_.kind == NoteKind::Read;

    menuBar_ = CreateMenuBar(read ? MenuSet::Read : MenuSet::Compose, wm);
    sizable_ = CreateSizableRebar(hwnd_, wm ? 2 : 1);
    HWND first = RebarAt(sizable_, 0);
    menuBand_ = AddMenuBand(first, menuBar_);
    std::vector<ToolbarButton> buttons;
    if (read) {
        buttons = {{kCmdReply, L"Reply", kImgUndo, 0},     {kCmdReplyAll, L"Reply All", kImgUndo, 0},
                   {kCmdForward, L"Forward", kImgRedo, 0}, {0, nullptr, 0, 0},
                   {kCmdPrint, L"Print", kImgPrint, 0},    {kCmdDelete, L"Delete", kImgDelete, 0},
                   {0, nullptr, 0, 0},                     {kCmdPreviousMessage, L"Previous", kImgUndo, 0},
                   {kCmdNextMessage, L"Next", kImgRedo, 0}, {0, nullptr, 0, 0},
                   {kCmdAddressBook, L"Addresses", kImgProperties, 0}};
    } else {
        buttons = {{kCmdSend, L"Send", kImgConnect, 0},        {0, nullptr, 0, 0},
                   {kCmdCut, L"Cut", kImgCut, 0},              {kCmdCopy, L"Copy", kImgCopy, 0},
                   {kCmdPaste, L"Paste", kImgPaste, 0},        {kCmdUndo, L"Undo", kImgUndo, 0},
                   {0, nullptr, 0, 0},                         {kCmdCheckNames, L"Check", kImgReplace, 0},
                   {kCmdSpelling, L"Spelling", kImgFind, 0},   {0, nullptr, 0, 0},
                   {kCmdAttach, L"Attach", kImgOpen, 0},       {kCmdPriority, L"Priority", kImgHelp, BTNS_DROPDOWN},
                   {0, nullptr, 0, 0},                         {kCmdSign, L"Sign", kImgProperties, 0},
                   {kCmdEncrypt, L"Encrypt", kImgSave, 0},     {0, nullptr, 0, 0},
                   {kCmdWorkOffline, L"Offline", kImgDisconnect, 0}};
    }
    toolbar_ = AddToolbarBand(wm ? RebarAt(sizable_, 1) : first, kBandToolbar, buttons, true);

    // The envelope.
    envelope_ = CreateWindowExW(WS_EX_CONTROLPARENT, kEnvelopeClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 600,
                                150, hwnd_, nullptr, g_instance, nullptr);
    auto m = init_.messageId >= 0 ? Store::Instance().GetMessage(init_.messageId) : std::nullopt;
    std::wstring from = read && m ? m->from : AccountAddress();
    auto rows = read ? std::vector<Row>(std::begin(kReadRows), std::end(kReadRows))
                     : std::vector<Row>(std::begin(kComposeRows), std::end(kComposeRows));
    for (const Row& row : rows) {
        HWND label = CreateWindowExW(0, L"STATIC", row.label, WS_CHILD | WS_VISIBLE | SS_RIGHT, 0, 0, 60, 18, envelope_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLabelId)), g_instance, nullptr);
        SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
        DWORD style = WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL;
        bool visible = row.id != kIdBcc || showBcc_;
        if (visible) style |= WS_VISIBLE;
        if (read || row.id == kIdFrom || row.id == kIdDate) style |= ES_READONLY;
        HWND field = CreateWindowExW(WS_EX_CLIENTEDGE, EnvelopeEditClass(), nullptr, style, 0, 0, 300, 20, envelope_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), g_instance, nullptr);
        SendMessageW(field, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
        if (!visible) ShowWindow(label, SW_HIDE);
        std::wstring value;
        bool recipients = false;
        switch (row.id) {
        case kIdFrom: value = from; recipients = read; break;
        case kIdDate: value = m ? m->date : L""; break;
        case kIdTo: value = init_.to; recipients = true; break;
        case kIdCc: value = init_.cc; recipients = true; break;
        case kIdBcc: value = init_.bcc; recipients = true; break;
        case kIdSubject: value = init_.subject; break;
        }
        if (!wm) UseObjectCharacter(field);
        // Known recipients show resolved; on Outlook Express each is an object.
        if (recipients && init_.resolved && !wm) SetResolvedRecipients(field, value);
        else SetRichEditText(field, value);
        SendMessageW(field, EM_SETMODIFY, FALSE, 0);
        if (row.id == kIdSubject) SendMessageW(field, EM_SETEVENTMASK, 0, ENM_CHANGE);
    }

    // The body.
    docHost_ = CreateWindowExW(0, kDocHostClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 600, 300, hwnd_,
                               nullptr, g_instance, nullptr);
    if (init_.html) {
        content_ = std::make_shared<HtmlContent>();
        content_->SetDocument(init_.body.empty() ? L"<HTML><HEAD></HEAD>\r\n<BODY></BODY></HTML>" : init_.body);
        mimeEdit_ = CreateMimeEdit(docHost_, content_, false);
    } else {
        richDoc_ = CreateWindowExW(0, kRichDocClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 600, 300, docHost_,
                                   nullptr, g_instance, nullptr);
        DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
        if (read) style |= ES_READONLY;
        editor_ = CreateWindowExW(0, PlainEditorClass(), nullptr, style, 0, 0, 600, 300, richDoc_, nullptr, g_instance, nullptr);
        SendMessageW(editor_, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont()), FALSE);
        SetRichEditText(editor_, init_.body);
        SendMessageW(editor_, EM_SETMODIFY, FALSE, 0);
    }
    Layout();
    Retitle();
    HWND focus = read ? bodyWindow() : field(kIdTo);
    if (focus && GetActiveWindow() == hwnd_) SetFocus(focus);
}

HWND NoteWindow::bodyWindow() const { return editor_ ? editor_ : (mimeEdit_ ? MimeEditBrowser(mimeEdit_) : nullptr); }

std::wstring NoteWindow::BodyText() const {
    if (editor_) return RichEditText(editor_);
    return content_ ? HtmlToText(content_->BodyInner()) : std::wstring();
}

std::wstring NoteWindow::BodyHtml() const {
    if (content_) return content_->Document();
    return L"<HTML><BODY>" + TextToHtml(BodyText()) + L"</BODY></HTML>";
}

void NoteWindow::Layout() {
    if (!sizable_) return;
    RECT rc;
    GetClientRect(hwnd_, &rc);
    int top = LayoutSizableRebar(sizable_, rc.right);
    MoveWindow(sizable_, 0, 0, rc.right, top, TRUE);
    int y = 6;
    HWND label = nullptr;
    for (HWND child = GetWindow(envelope_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == kLabelId) {
            label = child;
            continue;
        }
        if (!IsWindowVisible(child) && !(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
        if (label) MoveWindow(label, 6, y + 3, 58, 18, TRUE);
        MoveWindow(child, 70, y, rc.right - 80, 21, TRUE);
        y += kRowHeight;
    }
    MoveWindow(envelope_, 0, top, rc.right, y + 4, TRUE);
    MoveWindow(docHost_, 0, top + y + 4, rc.right, rc.bottom - top - y - 4, TRUE);
}

void NoteWindow::Retitle() {
    std::wstring subject = field(kIdSubject) ? RichEditText(field(kIdSubject)) : init_.subject;
    std::wstring title = !subject.empty() ? subject : (init_.kind == NoteKind::Read ? L"(no subject)" : L"New Message");
    SetWindowTextW(hwnd_, title.c_str());
}

void NoteWindow::ShowBcc(bool show) {
    showBcc_ = show;
    HWND bcc = field(kIdBcc);
    if (!bcc) return;
    HWND label = GetWindow(bcc, GW_HWNDPREV);
    ShowWindow(bcc, show ? SW_SHOW : SW_HIDE);
    if (label) ShowWindow(label, show ? SW_SHOW : SW_HIDE);
    CheckMenuItem(menuBar_, kCmdAllHeaders, show ? MF_CHECKED : MF_UNCHECKED);
    Layout();
}

void NoteWindow::ResolveNames() {
    if (IsWindowsMail() || init_.kind == NoteKind::Read) return;
    for (int id : {kIdTo, kIdCc, kIdBcc})
        if (HWND f = field(id)) ResolveRecipients(f);
}

bool NoteWindow::Send(bool later) {
    if (init_.kind != NoteKind::Compose || !built_) {
        lastError_ = L"Only a message being composed can be sent.";
        return false;
    }
    ResolveNames();
    Message m;
    m.to = Trim(RichEditText(field(kIdTo)));
    m.cc = Trim(RichEditText(field(kIdCc)));
    m.bcc = Trim(RichEditText(field(kIdBcc)));
    if (m.to.empty() && m.cc.empty() && m.bcc.empty()) {
        lastError_ = L"The message must have at least one recipient.";
        return false;
    }
    lastError_.clear();
    Store& store = Store::Instance();
    m.from = AccountAddress();
    m.subject = RichEditText(field(kIdSubject));
    m.date = Now();
    m.read = true;
    m.html = init_.html;
    m.body = init_.html ? content_->Document() : RichEditText(editor_);
    m.folderId = store.FolderIdForRole(FolderRole::Outbox);
    if (g_holdSends) {
        held_ = std::make_unique<HeldSend>(HeldSend{m, later});
        return true;
    }
    FinishSend(m, later);
    return true;
}

void NoteWindow::FinishSend(const Message& message, bool later) {
    // As a real window does, the message enters the Outbox and the send
    // starts while the window is still sending; its sending state ends as
    // it goes. Switched, the state ends first.
    const bool endsFirst = Client::Get().options.sendingEndsFirst;
    if (endsFirst) SendMessageW(hwnd_, kMsgSendingEnded, 0, 0);
    Store& store = Store::Instance();
    if (init_.messageId >= 0) store.DeleteMessage(init_.messageId);
    store.InsertMessage(message);
    if (!later && SendMailImmediately() && !WorkingOffline()) Client::Get().StartSend();
    if (!endsFirst) SendMessageW(hwnd_, kMsgSendingEnded, 0, 0);
    DestroyWindow(hwnd_);
}

void NoteWindow::HoldSends(bool hold) {
    g_holdSends = hold;
    if (hold) return;
    std::vector<NoteWindow*> held;
    for (NoteWindow* n : Client::Get().notes)
        if (n->held_) held.push_back(n);
    for (NoteWindow* n : held) {
        std::unique_ptr<HeldSend> send = std::move(n->held_);
        n->FinishSend(send->message, send->later);
    }
}

size_t NoteWindow::HeldSends() {
    size_t n = 0;
    for (NoteWindow* note : Client::Get().notes) n += note->held_ != nullptr;
    return n;
}

void NoteWindow::OnCommand(UINT id) {
    switch (id) {
    case kCmdSend: Send(false); return;
    case kCmdSendLater: Send(true); return;
    case kCmdClose: PostMessageW(hwnd_, WM_CLOSE, 0, 0); return;
    case kCmdCheckNames: ResolveNames(); return;
    case kCmdAllHeaders: ShowBcc(!showBcc_); return;
    case kCmdNewMail: NoteWindow::Compose(NoteInit{}); return;
    case kCmdReply:
    case kCmdReplyAll:
    case kCmdForward:
        if (init_.messageId >= 0) NoteWindow::Respond(init_.messageId, id);
        return;
    case kCmdDelete:
        if (init_.kind == NoteKind::Read && init_.messageId >= 0) {
            Store& store = Store::Instance();
            auto m = store.GetMessage(init_.messageId);
            if (m && m->folderId == store.FolderIdForRole(FolderRole::DeletedItems)) store.DeleteMessage(init_.messageId);
            else store.MoveMessage(init_.messageId, store.FolderIdForRole(FolderRole::DeletedItems));
            PostMessageW(hwnd_, WM_CLOSE, 0, 0);
        }
        return;
    case kCmdSaveDraft:
        if (init_.kind == NoteKind::Compose) {
            Store& store = Store::Instance();
            Message m;
            m.from = AccountAddress();
            m.to = Trim(RichEditText(field(kIdTo)));
            m.cc = Trim(RichEditText(field(kIdCc)));
            m.subject = RichEditText(field(kIdSubject));
            m.date = Now();
            m.read = true;
            m.html = init_.html;
            m.body = init_.html ? content_->Document() : RichEditText(editor_);
            m.folderId = store.FolderIdForRole(FolderRole::Drafts);
            if (init_.messageId >= 0) store.DeleteMessage(init_.messageId);
            init_.messageId = store.InsertMessage(m);
        }
        return;
    case kCmdCut:
    case kCmdCopy:
    case kCmdPaste:
    case kCmdUndo: {
        HWND focus = GetFocus();
        UINT msg = id == kCmdCut ? WM_CUT : id == kCmdCopy ? WM_COPY : id == kCmdPaste ? WM_PASTE : WM_UNDO;
        if (focus && IsChild(hwnd_, focus)) SendMessageW(focus, msg, 0, 0);
        return;
    }
    }
}

LRESULT NoteWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITMENUPOPUP:
        if (Client::Get().options.rebuildPopups && menuBar_)
            RebuildPopup(init_.kind == NoteKind::Read ? MenuSet::Read : MenuSet::Compose, menuBar_,
                         reinterpret_cast<HMENU>(wp), IsWindowsMail());
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wp) == kIdSubject && HIWORD(wp) == EN_CHANGE) {
            Retitle();
            return 0;
        }
        OnCommand(LOWORD(wp));
        return 0;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        if (hdr->hwndFrom == menuBand_ && hdr->code == TBN_DROPDOWN) {
            auto* nm = reinterpret_cast<NMTOOLBARW*>(hdr);
            TrackMenuBandPopup(hwnd_, menuBand_, menuBar_, nm->iItem - static_cast<int>(kMenuBandFirst));
            return TBDDRET_DEFAULT;
        }
        if (hdr->code == RBN_HEIGHTCHANGE) Layout();
        return 0;
    }
    case kMsgSendingEnded:
        return 0;
    case WM_SETFOCUS:
        if (HWND f = init_.kind == NoteKind::Read ? bodyWindow() : field(kIdTo)) SetFocus(f);
        return 0;
    case WM_CLOSE:
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY: {
        auto& notes = Client::Get().notes;
        notes.erase(std::remove(notes.begin(), notes.end(), this), notes.end());
        if (menuBar_) DestroyMenu(menuBar_);
        menuBar_ = nullptr;
        Client::Get().WindowGone();
        return 0;
    }
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace msoe
