#include "server/live_counts.h"

#include "host/msg_wnd_list.h"
#include "manager/plume_manager.h"
#include "ui/menu_registry.h"
#include "ui/toolbar_registry.h"

namespace plume {

LONG LiveCounts(LONG* counts, LONG max) {
    if (!counts || max <= 0) return 0;
    LONG all[kLiveCountKinds] = {};
    if (PLUMEManager* manager = PLUMEManager::Get(false))
        all[0] = static_cast<LONG>(manager->RegisteredObjectCount());
    all[1] = static_cast<LONG>(MsgWndCount());
    if (auto toolbars = OEToolbarRegistry::Get(false))
        all[2] = static_cast<LONG>(toolbars->mainHost().Toolbars().size());
    if (auto menus = OEMenuRegistry::Global(false)) all[3] = static_cast<LONG>(menus->ItemCount());
    const LONG n = max < kLiveCountKinds ? max : kLiveCountKinds;
    for (LONG i = 0; i < n; ++i) counts[i] = all[i];
    return n;
}

}  // namespace plume
