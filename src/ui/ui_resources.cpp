#include "ui/ui_resources.h"

namespace plume {
namespace {
volatile LONG g_counts[ui_detail::kCounterCount] = {};
}  // namespace

void ui_detail::Count(Counter which, int delta) { InterlockedExchangeAdd(&g_counts[which], delta); }

UiResourceCounts LiveUiResources() {
    using namespace ui_detail;
    return {g_counts[kToolbars], g_counts[kButtons], g_counts[kImageLists], g_counts[kBitmaps], g_counts[kMenus]};
}

counted_imagelist AdoptImageList(HIMAGELIST list) {
    if (list) ui_detail::Count(ui_detail::kImageLists, +1);
    return counted_imagelist(list);
}

counted_bitmap AdoptBitmap(HBITMAP bitmap) {
    if (bitmap) ui_detail::Count(ui_detail::kBitmaps, +1);
    return counted_bitmap(bitmap);
}

counted_menu AdoptMenu(HMENU menu) {
    if (menu) ui_detail::Count(ui_detail::kMenus, +1);
    return counted_menu(menu);
}

void LockPumping(critical_section& lock) {
    while (!lock.try_lock()) {
        // Serve sends from other threads (PM_NOREMOVE takes no posted
        // message), then wait briefly for the next one.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        if (lock.try_lock()) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_SENDMESSAGE, 0);
    }
}

}  // namespace plume
