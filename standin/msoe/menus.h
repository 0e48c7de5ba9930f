// The client's menu bars, built from tables.
#pragma once

#include <windows.h>

namespace msoe {

enum class MenuSet { Main, Compose, Read };
// A new menu bar (a menu of pop-ups); the caller destroys it.
HMENU CreateMenuBar(MenuSet set, bool windowsMail);
// The client rebuilding a pop-up of `bar` as it opens (/popups:rebuild):
// every entry is deleted (sub-menus with them) and made again. Sub-menus of
// a pop-up are left alone.
void RebuildPopup(MenuSet set, HMENU bar, HMENU popup, bool windowsMail);

}  // namespace msoe
