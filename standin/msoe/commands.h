// Command identifiers, control identifiers and private messages of the client.
#pragma once

#include <windows.h>

namespace msoe {

// Commands (low word of WM_COMMAND's wParam).
enum Command : UINT {
    // File
    kCmdNewMail = 40465,
    kCmdNewFolder = 40466,
    kCmdOpen = 40100,          // open the current message; accelerators send notification 1
    kCmdSaveAs = 40101,
    kCmdPrint = 40102,
    kCmdProperties = 40103,
    kCmdWorkOffline = 40104,
    kCmdExit = 40105,
    kCmdImport = 40106,
    kCmdIdentities = 40107,
    // Edit
    kCmdCopy = 40120,
    kCmdSelectAll = 40121,
    kCmdFind = 40122,
    kCmdDelete = 40123,
    kCmdMoveToFolder = 40124,
    kCmdCopyToFolder = 40125,
    kCmdMarkRead = 40126,
    kCmdMarkUnread = 40127,
    kCmdMarkAllRead = 40128,
    kCmdEmptyDeleted = 40129,
    // View
    kCmdCurrentView = 40140,
    kCmdSortBy = 40141,
    kCmdLayout = 40142,
    kCmdStatusBar = 40143,
    kCmdPreviewPane = 40144,
    kCmdRefresh = 40145,
    kCmdNextMessage = 40146,
    kCmdPreviousMessage = 40147,
    kCmdAllHeaders = 40148,
    // Tools
    kCmdSendReceive = 40160,
    kCmdSendAll = 40161,
    kCmdReceiveAll = 40162,
    kCmdAddressBook = 40163,
    kCmdMessageRules = 40164,
    kCmdAccounts = 40165,
    kCmdOptions = 40166,
    kCmdCheckNames = 40167,
    kCmdSpelling = 40168,
    // Message
    kCmdReply = 40180,
    kCmdReplyAll = 40181,
    kCmdForward = 40182,
    kCmdForwardAttachment = 40183,
    kCmdFlag = 40184,
    kCmdBlockSender = 40185,
    kCmdCreateRule = 40186,
    // Help
    kCmdHelpContents = 40200,
    kCmdAbout = 40201,
    // Message windows
    kCmdSend = 40411,          // Send
    kCmdSendLater = 40225,     // the second send command: File > Send Later
    kCmdClose = 40412,
    kCmdUndo = 40413,
    kCmdCut = 40414,
    kCmdPaste = 40415,
    kCmdAttach = 40416,
    kCmdPriority = 40417,
    kCmdSign = 40418,
    kCmdEncrypt = 40419,
    kCmdSaveDraft = 40420,
    kCmdPlainText = 40421,
    kCmdRichText = 40422,
};

// Client messages to its main window, its message windows and its send dialog.
constexpr UINT kMsgTransferStatus = 0x08B6;   // wParam 0 started, 13 (OE) / 14 (WM) finished
constexpr UINT kMsgStoreReady = 0x13A0;       // wParam 0, lParam 0
constexpr UINT kMsgSendingEnded = 0x9C3F;     // to a message window: its sending state ends
constexpr UINT kMsgStartSend = 0xAA4;         // to the send dialog: start a send
inline WPARAM TransferFinishedCode(bool windowsMail) { return windowsMail ? 14 : 13; }

// Private messages inside the client (above the numbers the contract uses).
constexpr UINT kMsgBuildWindows = WM_APP + 1;  // main window: create the child windows
constexpr UINT kMsgStoreChanged = WM_APP + 2;  // main window: a store change was committed
constexpr UINT kMsgTransferStep = WM_APP + 3;  // send dialog: next step of a transfer
constexpr UINT kMsgFolderSelected = WM_APP + 4;  // main window: show the folder the tree selected
constexpr UINT kMsgMarkPreviewRead = WM_APP + 5;  // main window: mark the previewed message (wParam) read

// Band ids in the rebars and control ids.
constexpr UINT kBandMenu = 100;
constexpr UINT kBandToolbar = 101;            // the client's own toolbar
constexpr UINT kBandSearch = 102;
constexpr int kIdTo = 1001;
constexpr int kIdFrom = 1002;
constexpr int kIdCc = 1003;
constexpr int kIdSubject = 1004;
constexpr int kIdBcc = 1026;
constexpr int kIdDate = 1027;
constexpr int kIdFolderTree = 1100;
constexpr int kIdMessageList = 1101;
constexpr int kIdStatusBar = 1102;
constexpr int kIdToolbar = 1103;
constexpr int kIdMenuBar = 1104;

}  // namespace msoe
