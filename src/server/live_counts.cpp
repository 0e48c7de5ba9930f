#include "server/live_counts.h"

#include "host/msg_wnd_list.h"
#include "server/automation_object.h"
#include "ui/menu_registry.h"
#include "ui/ui_resources.h"

namespace plume {

LONG LiveCounts(LONG* counts, LONG capacity) {
    const UiResourceCounts ui = LiveUiResources();
    const auto menus = OEMenuRegistry::Global(false);
    const LONG all[kLiveCountKinds] = {LiveObjectCount(), ui.toolbars, ui.buttons, ui.imageLists, ui.bitmaps, ui.menus,
                                       menus ? static_cast<LONG>(menus->ItemCount()) : 0,
                                       static_cast<LONG>(MsgWndCount())};
    for (LONG i = 0; counts && i < capacity && i < kLiveCountKinds; ++i) counts[i] = all[i];
    return kLiveCountKinds;
}

}  // namespace plume
