// What the library holds right now, for leak hunting from outside (the
// export GetLiveCounts): registered automation objects, message-window
// records, main-window toolbar records and menu-item records.
#pragma once

#include <windows.h>

namespace plume {

constexpr LONG kLiveCountKinds = 4;

// Writes up to `max` counts in the order above; the number written.
LONG LiveCounts(LONG* counts, LONG max);

}  // namespace plume
