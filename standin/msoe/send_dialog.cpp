#include "send_dialog.h"

#include "client.h"
#include "commands.h"
#include "settings.h"
#include "store.h"
#include "store_component.h"
#include "ui_common.h"

namespace msoe {
namespace {

constexpr UINT_PTR kStepTimer = 1;
constexpr UINT kStepMs = 30;

// A hidden dialog with no controls.
struct EmptyTemplate {
    DLGTEMPLATE dlg;
    WORD menu, cls, title[9];
};

}  // namespace

SendDialog* SendDialog::Create() {
    static EmptyTemplate tmpl = {
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 0, 0, 200, 80},
        0, 0, {'P', 'r', 'o', 'g', 'r', 'e', 's', 's', 0}};
    auto* dialog = new SendDialog();
    HWND hwnd = CreateDialogIndirectParamW(g_instance, &tmpl.dlg, nullptr, Proc, reinterpret_cast<LPARAM>(dialog));
    if (!hwnd) {
        delete dialog;
        return nullptr;
    }
    return dialog;
}

INT_PTR CALLBACK SendDialog::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<SendDialog*>(lp);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        return FALSE;
    }
    auto* self = reinterpret_cast<SendDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
    case kMsgStartSend:
        self->commandLog_.push_back(lp);
        self->Start(lp);
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_TIMER:
        if (wp == kStepTimer) self->Step();
        return TRUE;
    case WM_CLOSE:
        return TRUE;  // lives as long as the client
    case WM_NCDESTROY:
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        if (Client::Get().sendDialog == self) Client::Get().sendDialog = nullptr;
        delete self;
        return FALSE;
    }
    (void)wp;
    return FALSE;
}

void SendDialog::Start(LPARAM request) {
    lastRequest_ = request;
    if (busy_) {
        ++refused_;
        return;
    }
    busy_ = true;
    workDone_ = false;
    ++started_;
    if (HWND target = Client::Get().StatusTarget()) SendMessageW(target, kMsgTransferStatus, 0, 0);
    SetTimer(hwnd_, kStepTimer, kStepMs, nullptr);
}

// One message per step: Outbox to Sent Items, sent with the account it was
// stamped with or else the default account.
void SendDialog::Step() {
    if (workDone_) return;
    Store& store = Store::Instance();
    if (!WorkingOffline()) {
        // The spooler works on the folders it opens, as the client's does.
        if (Client::Get().options.spoolerOpensFolders)
            for (FolderRole role : {FolderRole::Outbox, FolderRole::SentItems})
                OpenFolderForView(store.FolderIdForRole(role));
        auto waiting = store.MessagesIn(store.FolderIdForRole(FolderRole::Outbox));
        if (!waiting.empty()) {
            Account fallback;
            if (!DefaultAccount(&fallback)) fallback.name.clear();
            store.MoveMessage(waiting.front().id, store.FolderIdForRole(FolderRole::SentItems), [&](Message& m) {
                m.sentWith = m.accountName.empty() ? fallback.name : m.accountName;
            });
            return;
        }
    }
    workDone_ = true;
    KillTimer(hwnd_, kStepTimer);
    if (!hold_) Finish();
}

bool SendDialog::Release() {
    if (!busy_) return false;
    if (!workDone_) {  // finish the work at once
        bool hold = hold_;
        hold_ = true;
        KillTimer(hwnd_, kStepTimer);
        while (!workDone_) Step();
        hold_ = hold;
    }
    Finish();
    return true;
}

void SendDialog::Finish() {
    busy_ = false;
    workDone_ = false;
    ++finished_;
    if (HWND target = Client::Get().StatusTarget()) SendMessageW(target, kMsgTransferStatus, TransferFinishedCode(IsWindowsMail()), 0);
}

}  // namespace msoe
