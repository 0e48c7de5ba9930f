// The client's menu bars, built from tables.
#pragma once

#include <windows.h>

namespace msoe {

enum class MenuSet { Main, Compose, Read };
// A new menu bar (a menu of pop-ups); the caller destroys it.
HMENU CreateMenuBar(MenuSet set, bool windowsMail);

}  // namespace msoe
