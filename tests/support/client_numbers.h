// Numbers fixed by the mail client's contract and by the published
// interfaces, written down once by the tests themselves: a test compares the
// library with these, never with the library's own constants, so that a
// wrong constant fails a test.
#pragma once

#include <windows.h>

namespace plume::test::client_numbers {

// Identifiers handed out in a process, and where each kind starts.
constexpr long kFirstRootId = 1;
constexpr long kFirstToolbarId = 30100;
constexpr long kFirstButtonId = 60100;
constexpr long kLastButtonId = 65535;  // WM_COMMAND carries 16 bits
constexpr long kFirstMenuItemId = 50101, kMenuItemBlock = 1000;
constexpr long kFirstMenuId = 0;
constexpr const char* kMenuNextIdProperty = "PLUME_MenuNextId";

// Folders of the local store.
constexpr long kLocalRoot = 1;
constexpr long kOutboxOE = 5, kOutboxWM = 4, kHoldingOE = 7, kHoldingWM = 6;

// Envelope controls of a message window ("OE_Envelope" children).
constexpr int kTo = 1001, kCc = 1003, kSubject = 1004, kBcc = 1026;

// The rebar band that holds the client's own toolbar.
constexpr int kClientToolbarBand = 101;

// Commands.
constexpr int kOpenCommand = 40100, kNewMessageCommand = 40465, kSendCommand = 40411, kSendLaterCommand = 40225;

// Messages of the client: a transfer's start (wParam 0) and end, the
// store being ready, a send command to the send dialog, the end of a
// message window's sending.
constexpr UINT kTransferNotice = 0x08B6;
constexpr int kTransferFinishedOE = 13, kTransferFinishedWM = 14;
constexpr UINT kStoreReady = 0x13A0, kSendDialogCommand = 0xAA4, kSendingEnded = 0x9C3F;

// Fixed numbers the library's callback window takes.
constexpr UINT kFolderNotify = 0xA40, kFolderChangeMessage = 0xAA4, kPluginInitialized = 0x3632;
// The store watcher's cookie for folder transactions, and its window's
// message for a folder the client opened.
constexpr DWORD kStoreCookie = 0x1111111;
constexpr UINT kStoreOpenFolderMessage = 0x1410;

// Window kinds (tagWNDSTYLE).
constexpr long kDetailWnd = 1, kSendWnd = 2, kCurrentMsgWnd = 4, kEmptyMsgWnd = 8, kOtherWnd = 16, kAllMsgWnd = 23;

// Store transactions (tagOE_DATABASE_TRANSACTION).
constexpr long kInsertMessage = 257, kDeleteMessage = 260, kUnreadMessage = 264, kReadMessage = 272;
constexpr long kInsertFolder = 513, kDeleteFolder = 516, kRenameFolder = 544, kMoveFolder = 576;
// Updates that change nothing a client hears: the library drops them.
constexpr long kUpdateMessage = 258, kUpdateFolder = 514;

// DISPIDs of the event interfaces: from 1, in declaration order.
namespace root_event {  // IPLUMEObjEvents
constexpr DISPID kButtonClicked = 1, kMenuItemClicked = 2, kFolderSelectionChanged = 3, kMessageSelectionChanged = 4,
                 kCurrentMessageChanged = 5, kDownloadStarted = 6, kDownloadFinished = 7, kNewMessageInOutbox = 8,
                 kMsgWndButtonClicked = 9, kSendButtonMsgWndClicked = 10, kNewMsgWnd = 11, kMsgWndClosed = 12,
                 kDatabaseChange = 13, kMsgWndMenuItemClicked = 14;
}
namespace msgwnd_event {  // IOEMsgWndEvents
constexpr DISPID kButtonClicked = 1, kMenuItemClicked = 2, kClose = 3;
}
namespace toolbar_event {  // IOEToolbarEvents
constexpr DISPID kButtonClicked = 1, kButtonMsgWndClicked = 2;
}
namespace menu_event {  // IOEMenuEvents
constexpr DISPID kItemClicked = 1, kMsgWndItemClicked = 2;
}
namespace click_event {  // IOEButtonEvents and IOEMenuItemEvents
constexpr DISPID kClick = 1, kMsgWndClick = 2;
}

// The client's message-list class (slot 4 patched; its message table at 20
// or 21) and the table's row lookups.
constexpr int kFillSlot = 4, kTableSlotOE = 20, kTableSlotWM = 21, kRowMessageIdSlot = 25, kRowIndexSlot = 26;
constexpr GUID kMessageListIidWM = {0x51A0B0D3, 0x7AFE, 0x4081, {0xBF, 0x82, 0xF8, 0x7A, 0xE3, 0x63, 0x73, 0xDD}};

// The client's internal store: table positions (IUnknown at 0 to 2) and
// record offsets, per client.
struct StoreContract {
    bool wm;
    const wchar_t* storeIid;
    int storeOpenFolder, storeFolderInfo, storeEnumSubFolders;
    int folderOpenMessage, folderSaveMessage, folderDeleteMessages, folderSeekRowset;  // seek -1: none
    UINT deleteFlagsWithCallback;
    size_t kindByteAt, messageFlagsAt;
    long outbox, holding;
};
constexpr StoreContract kStoreOE = {false, L"{E883FC75-EC08-11D1-9A53-00C04FA309D4}", 52, 56, 61, 50, 51, 55, 18, 1,
                                    101, 32, kOutboxOE, kHoldingOE};
constexpr StoreContract kStoreWM = {true, L"{569BA773-508C-469B-8B21-CBCCBCB7BCD2}", 72, 76, 81, 71, 72, 78, -1, 15,
                                    109, 40, kOutboxWM, kHoldingWM};
constexpr const wchar_t* kStoreClass = L"{101A8FB9-F1B9-11D1-9A56-00C04FA309D4}";
constexpr int kStoreRegister = 26, kStoreUnregister = 30, kFreeRecord = 10, kGetTransaction = 33;
constexpr int kCreateRowset = 17, kQueryRowset = 19, kCloseRowset = 20;
// Windows Mail folders: update-record and find-record.
constexpr int kUpdateRecord = 6, kFindRecord = 8;
// Records: folder number, parent and name pointer; message id; the read bit.
constexpr size_t kFolderIdAt = 16, kParentAt = 24, kNameAt = 32, kMessageIdAt = 24, kMessageFolderAtWM = 32;
constexpr UINT kReadFlag = 0x80;
// The Windows Mail message record: its size and four string pointers
// (display name, e-mail address, account name, account file).
constexpr size_t kWmRecordSize = 424, kWmRecordStrings[4] = {144, 152, 232, 240};
// Save and record flags of copies: parked, in the Outbox, the Outbox
// record's; deletion of a message marked deleted.
constexpr UINT kParkFlags = 0x10089, kOutboxSaveFlags = 0x0C, kOutboxRecordFlags = 0x10009, kMarkedDeleteFlags = 4;

// The published store of Outlook Express and its MIME messages.
constexpr const wchar_t* kNamespaceClass = L"{E70C92A9-4BFD-11D1-8A95-00C04FB951F3}";
constexpr const wchar_t* kNamespaceIid = L"{E70C92AA-4BFD-11D1-8A95-00C04FB951F3}";
constexpr GUID kMimeMessageIid = {0xFD853CD5, 0x7F86, 0x11D0, {0x82, 0x52, 0x00, 0xC0, 0x4F, 0xD8, 0x5A, 0xB4}};
constexpr int kNsInitialize = 3, kNsOpenSpecialFolder = 5, kNsOpenFolder = 6;
constexpr int kSfDeleteMessages = 6, kSfOpenMessage = 10, kSfSaveMessage = 11;
constexpr int kGetBodyProp = 33, kSetBodyProp = 34;
constexpr long kAccountIdProperty = 63;

}  // namespace plume::test::client_numbers
