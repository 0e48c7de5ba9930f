// Numbers fixed by the mail client's contract, written down by the tests
// themselves: a test compares the library's behaviour with these, never
// with the library's own constants, so a wrong constant fails a test.
#pragma once

namespace plume::test::client_numbers {

// Identifiers handed out in a process, and where each kind starts.
constexpr long kFirstRootId = 1;
constexpr long kFirstToolbarId = 30100;
constexpr long kFirstButtonId = 60100;
constexpr long kLastButtonId = 65535;  // WM_COMMAND carries 16 bits

// Envelope controls of a message window ("OE_Envelope" children).
constexpr int kTo = 1001, kCc = 1003, kSubject = 1004, kBcc = 1026;

// The rebar band that holds the client's own toolbar.
constexpr int kClientToolbarBand = 101;

// Commands.
constexpr int kSendCommand = 40411;
constexpr int kSendLaterCommand = 40225;

// wParam of 0x08B6 when a transfer finished.
constexpr int kTransferFinishedOE = 13, kTransferFinishedWM = 14;

// Window kinds (tagWNDSTYLE).
constexpr int kCurrentMsgWnd = 4, kEmptyMsgWnd = 8;

}  // namespace plume::test::client_numbers
