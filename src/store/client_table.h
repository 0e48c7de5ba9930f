// Calls into the client's objects by position in their virtual tables
// (0 to 2 being IUnknown).
#pragma once

#include <objbase.h>

namespace plume {

inline void** Slot(IUnknown* object, int position) { return &(*reinterpret_cast<void***>(object))[position]; }

template <typename Fn>
Fn Entry(IUnknown* object, int position) {
    return reinterpret_cast<Fn>(*Slot(object, position));
}

// The client's message id list: {size or count, count, the ids}.
struct MessageIdList {
    UINT size;
    UINT count;
    void* ids;
};

}  // namespace plume
