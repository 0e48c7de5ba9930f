// The client's default mail account, as the Outbox copies are stamped with
// it: Outlook Express keeps it in the Internet Account Manager's registry
// keys (per identity where there is one), Windows Mail in an XML file in the
// local store folder. Both lookups fill a caller's record and answer 1 on
// success, 0 on failure; fields are always terminated, texts that do not fit
// are cut at a character boundary, and a field the file lacks is empty.
// Threads: any; the XML reader's libraries are loaded on first use and kept.
#pragma once

#include <windows.h>

namespace plume {

struct OeAccountSettings {
    char accountId[1024];    // "Default Mail Account": the account's key under "Accounts"
    char accountName[1024];  // the account key's "Account Name"
};

struct WmAccountInfo {
    char accountFile[1024];      // "Default Mail Account": the account file's name
    wchar_t accountName[2048];   // <Account_Name>
    wchar_t displayName[2048];   // <SMTP_Display_Name>
    char emailAddress[1024];     // <SMTP_Email_Address>, in the ANSI code page
};

int GetDefaultAccountSettings(OeAccountSettings& settings);
int GetWMAccountInfo(WmAccountInfo& info);

// The account file at `path` into the three text fields of `info` (cleared
// first); 0 when the file cannot be opened or the reader is unavailable.
int ReadAccountFile(const char* path, WmAccountInfo& info);

// HKEY_CURRENT_USER "Identities\<Last User ID>\<suffix>" of the current
// identity, or null when there is none.
HKEY OpenIdentityKey(const char* suffix, REGSAM access);

// `text` cut to fit `capacity` units with its terminator, never splitting a
// surrogate pair (UTF-16) or a multi-byte character (ANSI code page).
void CopyWideField(wchar_t* field, size_t capacity, const wchar_t* text);
void CopyAnsiField(char* field, size_t capacity, const wchar_t* text);

}  // namespace plume
