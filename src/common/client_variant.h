// Which mail client the library runs in.
#pragma once

namespace plume {

// True when the operating system's major version is 6 (Windows Mail); else
// Outlook Express. Asked once and cached; a failing version query answers
// false without caching.
bool IsWindowsMail();
// Tests: answer as Windows Mail (1) or Outlook Express (0) from now on, or
// ask the system again (-1).
void SetWindowsMailForTesting(int value);

// True when this process is the mail client: its executable's base name is
// "msimn.exe", "msimn", "winmail.exe" or "winmail" (any case). Cached.
bool IsHostProcess();

}  // namespace plume
