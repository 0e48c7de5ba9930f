// Which mail client the library runs in.
#pragma once

namespace plume {

// True when the operating system's major version is 6 (Windows Mail); else
// Outlook Express. Asked once and cached; a failing version query answers
// false without caching.
bool IsWindowsMail();

// True when this process is the mail client: its executable's base name is
// "msimn.exe", "msimn", "winmail.exe" or "winmail" (any case). Cached.
bool IsHostProcess();

}  // namespace plume
