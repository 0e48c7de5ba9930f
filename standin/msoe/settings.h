// The client's registry settings.
#pragma once

#include <string>

namespace msoe {

struct Account {
    std::wstring id;           // key name (OE) or account file name (WM)
    std::wstring name;         // "Account Name"
    std::wstring displayName;  // "SMTP Display Name"
    std::wstring email;        // "SMTP Email Address"
    std::wstring smtpServer;
    std::wstring pop3Server;
};

// Folder of the local store, with a trailing backslash; empty when not set.
std::wstring StoreRoot();
// The identity in use ("Last User ID"); empty without identities.
std::wstring CurrentIdentity();
// Registry key (under HKCU) of the mail settings of this variant.
std::wstring MailSettingsKey();
// "Send Mail Immediately": true unless the value exists and is 0.
bool SendMailImmediately();
// "GlobalUserOffline": true only when the value exists and is 1.
bool WorkingOffline();
void SetWorkingOffline(bool offline);
// The default mail account; false when none is configured.
bool DefaultAccount(Account* account);

}  // namespace msoe
