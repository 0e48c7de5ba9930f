// A registry of live automation objects of one class: plain pointers in
// registration order, no references held. Objects add themselves when
// constructed and remove themselves when destroyed. The caller holds the
// manager's registry lock around every use.
#pragma once

#include <windows.h>
#include <algorithm>
#include <vector>

namespace plume {

template <typename T>
class ObjectRegistry {
public:
    void Add(T* object) { items_.push_back(object); }
    // Removes every entry that points to `object`.
    void Remove(T* object) { items_.erase(std::remove(items_.begin(), items_.end(), object), items_.end()); }
    // The first object whose key is `id`, or null.
    T* Find(LONG id) const {
        for (T* item : items_)
            if (item->RegistryKey() == id) return item;
        return nullptr;
    }
    bool empty() const { return items_.empty(); }
    size_t size() const { return items_.size(); }
    const std::vector<T*>& items() const { return items_; }

private:
    std::vector<T*> items_;
};

}  // namespace plume
