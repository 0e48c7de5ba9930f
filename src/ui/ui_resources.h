// Resources of the toolbar subsystem that must never leak: live-record
// counters, counted owners of image lists, bitmaps and menus, and the
// record lock that keeps the calling thread's sent messages flowing.
//
// Wine answers GetGuiResources with 0, so leaks are measured with these
// counters: every record, image list, bitmap and menu this subsystem makes
// is counted when made and uncounted when freed.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "sync.h"
#include "unique_any.h"

namespace plume {

struct UiResourceCounts {
    LONG toolbars;    // OEPluginToolbar records
    LONG buttons;     // OEPluginButton records
    LONG imageLists;  // image lists made for toolbars
    LONG bitmaps;     // bitmaps made for images and menu items
    LONG menus;       // drop-down and chevron menus
};
UiResourceCounts LiveUiResources();

namespace ui_detail {
enum Counter { kToolbars, kButtons, kImageLists, kBitmaps, kMenus, kCounterCount };
void Count(Counter which, int delta);
inline void DestroyCountedImageList(HIMAGELIST list) {
    ImageList_Destroy(list);
    Count(kImageLists, -1);
}
inline void DeleteCountedBitmap(HBITMAP bitmap) {
    DeleteObject(bitmap);
    Count(kBitmaps, -1);
}
inline void DestroyCountedMenu(HMENU menu) {
    DestroyMenu(menu);
    Count(kMenus, -1);
}
}  // namespace ui_detail

using counted_imagelist = unique_any<HIMAGELIST, ui_detail::DestroyCountedImageList>;
using counted_bitmap = unique_any<HBITMAP, ui_detail::DeleteCountedBitmap>;
using counted_menu = unique_any<HMENU, ui_detail::DestroyCountedMenu>;

// Takes ownership of a freshly made handle (null stays empty).
counted_imagelist AdoptImageList(HIMAGELIST list);
counted_bitmap AdoptBitmap(HBITMAP bitmap);
counted_menu AdoptMenu(HMENU menu);

// Counts a record for as long as it lives; a member of each record type.
template <ui_detail::Counter Which>
class live_record {
public:
    live_record() { ui_detail::Count(Which, +1); }
    live_record(const live_record&) : live_record() {}
    live_record& operator=(const live_record&) { return *this; }
    ~live_record() { ui_detail::Count(Which, -1); }
};

// Enters `lock`, serving messages sent from other threads while it waits.
// Record locks are held by the server thread while it sends to the client's
// controls; a client-thread waiter that did not serve those sends would wait
// for ever.
void LockPumping(critical_section& lock);

// Holds a lock entered with LockPumping for a scope.
class pumping_lock {
public:
    explicit pumping_lock(critical_section& lock) : lock_(lock) { LockPumping(lock_); }
    ~pumping_lock() { lock_.unlock(); }
    pumping_lock(const pumping_lock&) = delete;
    pumping_lock& operator=(const pumping_lock&) = delete;

private:
    critical_section& lock_;
};

// A record held under its own lock; the lock is left when the holder goes.
// Empty when the lookup found nothing or the record was destroyed meanwhile.
template <typename Record>
class locked_ref {
public:
    locked_ref() = default;
    // Locks `record` and keeps it unless it was destroyed before the lock
    // was obtained.
    explicit locked_ref(std::shared_ptr<Record> record) {
        if (!record) return;
        LockPumping(record->lock);
        if (record->destroyed) {
            record->lock.unlock();
            return;
        }
        p_ = std::move(record);
    }
    locked_ref(locked_ref&& other) noexcept : p_(std::move(other.p_)) {}
    locked_ref& operator=(locked_ref&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::move(other.p_);
        }
        return *this;
    }
    ~locked_ref() { reset(); }
    void reset() {
        if (p_) {
            p_->lock.unlock();
            p_.reset();
        }
    }

    Record* get() const { return p_.get(); }
    Record* operator->() const { return p_.get(); }
    Record& operator*() const { return *p_; }
    const std::shared_ptr<Record>& shared() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    std::shared_ptr<Record> p_;
};

}  // namespace plume
